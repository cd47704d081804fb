#include "PortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace PortList {

static QList<QByteArray> entryLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty())
        lines.removeFirst();
    QList<QByteArray> out;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains(','))
            out.append(line);
    }
    return out;
}

QList<PortEntry> LoadPortList(const QString &path)
{
    QList<PortEntry> entries;
    for (const QByteArray &line : entryLines(path)) {
        const QList<QByteArray> parts = line.split(',');
        entries.append({QString::fromLatin1(parts[0]), QString::fromLatin1(parts[1])});
    }
    return entries;
}

QList<PortEntry> ReadForScan(const QString &path, int maxEntries)
{
    QList<PortEntry> entries;
    for (const QByteArray &line : entryLines(path)) {
        if (entries.size() >= maxEntries)
            break;
        const qsizetype comma = line.indexOf(',');
        entries.append({QString::fromLatin1(line.left(comma)), QString::fromLatin1(line.mid(comma + 1))});
    }
    return entries;
}

static QByteArray entryLine(const PortEntry &e)
{
    return e.serialNo.toLatin1() + ',' + e.port.toLatin1() + "\r\n";
}

bool SavePortList(const QString &path, const QList<PortEntry> &entries)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = "\r\n";
    for (const PortEntry &e : entries)
        text += entryLine(e);
    f.write(text);
    return f.commit();
}

bool AppendPortEntry(const QString &path, const PortEntry &entry)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray text;
    const qint64 size = f.size();
    if (size == 0) {
        text = "\r\n";
    } else {
        // The last line may lack its break; the new entry must start a line of its own.
        f.seek(size - 1);
        char last = 0;
        f.getChar(&last);
        if (last != '\n')
            text = "\r\n";
    }
    f.seek(size);
    text += entryLine(entry);
    return f.write(text) == text.size() && f.flush();
}

int PortNumber(const QString &portText)
{
    bool ok = false;
    const int n = portText.trimmed().toInt(&ok);
    return ok ? n : 0;
}

} // namespace PortList
