#include "core/datafile/DataFileHeader.h"

#include "core/datafile/DataFileHandle.h"

#include <algorithm>

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

// One line, ended by CR, LF or CR LF (as the other readers take them) or the
// end of the file, of which at most `keep` bytes are kept; the rest of a
// longer line is read and dropped, so a file without line breaks costs no
// more memory than a short line. The line end is not kept.
static bool readBoundedLine(QFile &f, QByteArray *line, qsizetype keep)
{
    line->clear();
    char buf[4096];
    bool any = false;
    for (;;) {
        const qint64 at = f.pos();
        const qint64 n = f.read(buf, qint64(sizeof buf));
        if (n <= 0)
            return any;
        any = true;
        const char *stop = std::find_if(buf, buf + n, [](char c) { return c == '\r' || c == '\n'; });
        const qsizetype len = stop - buf;
        if (line->size() < keep)
            line->append(buf, qMin(len, keep - line->size()));
        if (len == n)
            continue;
        qint64 next = at + len + 1;
        char after = 0;
        if (*stop == '\r' && (len + 1 < n ? buf[len + 1] == '\n' : f.peek(&after, 1) == 1 && after == '\n'))
            ++next;
        f.seek(next);
        return true;
    }
}

bool ReadHeaderLine(DataFileHandle &handle, const QString &path, QByteArray *line)
{
    if (!handle.openForRead(path))
        return false;
    QFile &f = handle.file();
    bool found = false;
    QByteArray l;
    while (readBoundedLine(f, &l, MaxHeaderLineLength)) {
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

}  // namespace DataFileHeader
