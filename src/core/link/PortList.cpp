#include "core/link/PortList.h"

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
        // A last line ended by a lone CR needs only its LF: another CR would
        // stay on that entry's port when read back.
        if (last == '\r')
            text = "\n";
        else if (last != '\n')
            text = "\r\n";
    }
    f.seek(size);
    text += entryLine(entry);
    return f.write(text) == text.size() && f.flush();
}

bool IsValidSerialNo(const QString &serialNo)
{
    return !serialNo.trimmed().isEmpty() && !serialNo.contains(QLatin1Char(','))
        && !serialNo.contains(QLatin1Char('\r')) && !serialNo.contains(QLatin1Char('\n'));
}

Update RecordLocator(const QString &path, const QList<PortEntry> &all, qsizetype tableSize, const QString &serialNo,
                     int port)
{
    const QString portText = QString::number(port);
    tableSize = qMin(tableSize, all.size());
    bool inList = false;
    bool portChanged = false;
    qsizetype matchIndex = -1;
    for (qsizetype i = 0; i < tableSize; ++i) {
        if (all[i].serialNo == serialNo) {
            inList = true;
            matchIndex = i;
            if (all[i].port != portText)
                portChanged = true;
        }
    }
    if (!inList) {
        // A serial number with a comma or line break would be read back as
        // something else; an empty one names nothing to pick.
        if (!IsValidSerialNo(serialNo))
            return Update::NotRecorded;
        return AppendPortEntry(path, {serialNo, portText}) ? Update::Appended : Update::Failed;
    }
    if (!portChanged)
        return Update::Unchanged;
    QList<PortEntry> updated = all;
    updated[matchIndex].port = portText;
    return SavePortList(path, updated) ? Update::Rewritten : Update::Failed;
}

int PortNumber(const QString &portText)
{
    bool ok = false;
    const int n = portText.trimmed().toInt(&ok);
    return ok ? n : 0;
}

}  // namespace PortList
