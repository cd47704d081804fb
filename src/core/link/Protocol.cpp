#include "core/link/Protocol.h"

namespace Protocol {

static QByteArray latin1(const QString &s)
{
    return s.toLatin1();
}

QString PadRight(const QString &text, int width)
{
    return text.size() >= width ? text : text + QString(width - text.size(), QLatin1Char(' '));
}

QByteArray SetDateCommand(const QDate &date)
{
    return "#DS" + latin1(date.toString(QStringLiteral("dd/MM/yy")));
}

QByteArray SetTimeCommand(const QTime &time)
{
    // Built from the parts so the PC's regional separator never reaches the wire.
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return "#TS" + latin1(two(time.hour()) + ':' + two(time.minute()) + ':' + two(time.second()));
}

QByteArray SetUserCommand(const QString &user)
{
    return "#FT" + latin1(PadRight(user, 32));
}

QByteArray SetSerialModelCommand(const QString &serialNo, const QString &model)
{
    return "#SS" + latin1(PadRight(model, 8)) + latin1(PadRight(serialNo, 8));
}

QByteArray TransferByDateCommand(const QString &rangeStart, const QString &rangeEnd)
{
    QString s = rangeStart;
    QString e = rangeEnd;
    return "#DD" + latin1(s.replace(QLatin1Char('-'), QLatin1Char('/'))) + ','
        + latin1(e.replace(QLatin1Char('-'), QLatin1Char('/')));
}

bool HasTransferStart(const QByteArray &piece)
{
    return piece.contains(TransferAll) || piece.contains(TransferByDate);
}

bool HasEndMarker(const QByteArray &piece)
{
    return piece.contains(EndMarker);
}

bool IsLiveLine(const QByteArray &piece)
{
    return piece.startsWith('$');
}

// Characters [from, from+len) counted from 1; fewer if the text ends sooner.
static QString field(const QByteArray &text, int from, int len)
{
    if (from - 1 >= text.size())
        return {};
    return QString::fromLatin1(text.mid(from - 1, len));
}

static QString withoutPadding(QString s)
{
    return s.remove(QLatin1Char('_'));
}

LocatorIdentity ReadIdentifyFields(const QByteArray &reply)
{
    LocatorIdentity id;
    id.user = withoutPadding(field(reply, 3, 32));
    id.model = withoutPadding(field(reply, 51, 8));
    id.serialNo = withoutPadding(field(reply, 59, 8));
    return id;
}

ProbeResult ReadProbeReply(const QByteArray &text)
{
    ProbeResult r;
    if (text.mid(26, 3) == "Ver")
        r.bluetoothVersion = field(text, 31, 4);
    const qsizetype ver = text.indexOf("Ver");
    if (ver >= 0)
        r.firmwareText = QString::fromLatin1(text.mid(ver, 8));
    const qsizetype x = text.indexOf(Identify);
    if (x < 0)
        return r;
    r.found = true;
    r.identity = ReadIdentifyFields(text.mid(x));
    return r;
}

DateTimeReply ReadDateTimeReply(const QByteArray &text)
{
    DateTimeReply r;
    if (!text.startsWith(ReadDateTime))
        return r;
    r.valid = true;
    r.date = field(text, 5, 8);
    r.time = field(text, 16, 8);
    return r;
}

}  // namespace Protocol
