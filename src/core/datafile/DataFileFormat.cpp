#include "core/datafile/DataFileFormat.h"

namespace DataFileFormat {

QStringList ColumnLegends()
{
    return {
        QStringLiteral("Date(DD/MM/YY)"),
        QStringLiteral("Time(HH:MM:SS)"),
        QStringLiteral("Mode(A=DarAdar T=Transmitter R=Radio P=Power)"),
        QStringLiteral("Frequency(33KHz 8KHz 500Hz 0 = not in T mode)"),
        QStringLiteral(
            "Measurement(S=Sonde mode D=Depth Mode C=Current Measurement Mode 0=no measurement mode selected)"),
        QStringLiteral("Depth(Depth in x.xx metres 0 = no depth LO if sig strength too low)"),
        QStringLiteral("Signal Strength(0 to 30)"),
    };
}

QByteArray BuildCommentBlock(const QString &columnsLine, const QStringList &legends)
{
    QByteArray block;
    for (const QString &legend : legends)
        block += "//     " + legend.toLatin1() + "\r\n";
    block += "// " + columnsLine.toLatin1() + "\r\n";
    return block;
}

QByteArray DefaultCommentBlock()
{
    return BuildCommentBlock(QString::fromLatin1(ColumnsLine), ColumnLegends());
}

QString SafeNamePart(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || QStringView(u"/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    }
    return out;
}

static QString stampText(const QDateTime &stamp)
{
    return stamp.toString(QStringLiteral("dd-MM-yyyy--HH-mm-ss"));
}

QString MakeLogFileName(const QString &kind, const LocatorIdentity &identity, const QDateTime &stamp,
                        const NameParts &parts)
{
    const QString u = SafeNamePart(identity.user);
    const QString m = SafeNamePart(identity.model);
    const QString s = SafeNamePart(identity.serialNo);
    const QString who = QStringLiteral("Locator Usage for ") + u + ' ' + m + ' ' + s;
    const QString st = stampText(stamp);

    if (kind == QLatin1String("DA"))
        return who + QStringLiteral("__ (") + st + ')';
    if (kind == QLatin1String("DD"))
        return who + QStringLiteral("__ (") + SafeNamePart(parts.rangeStart) + QStringLiteral(" to ")
            + SafeNamePart(parts.rangeEnd) + QStringLiteral(")__(") + st + ')';
    if (kind == QLatin1String("TShoot"))
        return QStringLiteral("Troubleshoot__(") + st + ')';
    if (kind == QLatin1String("DAY"))
        return who + QStringLiteral(" on ") + QString::number(parts.day) + '-' + QString::number(parts.month) + '-'
            + QString::number(parts.year) + QStringLiteral("____(") + st + ')';
    return QStringLiteral("__");
}

QString RangeDateText(const QDate &date)
{
    return date.toString(QStringLiteral("dd-MM-yy"));
}

}  // namespace DataFileFormat
