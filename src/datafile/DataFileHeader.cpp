#include "DataFileHeader.h"

#include "DataFileHandle.h"

namespace DataFileHeader {

static QString field(const QByteArray &line, int from, int len)
{
    if (from - 1 >= line.size())
        return {};
    return QString::fromLatin1(line.mid(from - 1, len));
}

static QString trimmedRight(QString s)
{
    while (!s.isEmpty() && s.back() == QLatin1Char(' '))
        s.chop(1);
    return s;
}

static QString trimmedLeft(QString s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == QLatin1Char(' '))
        ++i;
    return s.mid(i);
}

LocatorIdentity IdentityFromHeaderLine(const QByteArray &line)
{
    LocatorIdentity id;
    id.serialNo = trimmedLeft(field(line, 60, 8)).remove(QLatin1Char('_'));
    id.model = trimmedRight(field(line, 52, 8)).remove(QLatin1Char('_'));
    id.user = trimmedRight(field(line, 4, 32)).remove(QLatin1Char('_'));
    return id;
}

bool ReadHeaderLine(DataFileHandle &handle, const QString &path, QByteArray *line)
{
    if (!handle.openForRead(path))
        return false;
    QFile &f = handle.file();
    bool found = false;
    while (!f.atEnd()) {
        QByteArray l = f.readLine();
        if (l.startsWith("//"))
            continue;
        while (l.endsWith('\n') || l.endsWith('\r'))
            l.chop(1);
        *line = l;
        found = true;
        break;
    }
    handle.close();
    return found;
}

} // namespace DataFileHeader
