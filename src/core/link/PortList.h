#pragma once

#include <QList>
#include <QString>

// One remembered locator: its serial number and the COM port it was last found on.
struct PortEntry
{
    QString serialNo;
    QString port;  // decimal text, e.g. "3"

    bool operator==(const PortEntry &) const = default;
};

// "ports.ini": line 1 is ignored (writers leave it empty), then one
// "serial,port" line per entry. A missing file is an empty list; a line
// without a comma is not an entry.
namespace PortList {

// Start-up and editor reading: the port is the text between the first and a second comma.
QList<PortEntry> LoadPortList(const QString &path);
// The scan's reading: the port is the whole rest of the line; at most maxEntries.
QList<PortEntry> ReadForScan(const QString &path, int maxEntries = 100);
// Replaces the file with an empty line and one line per entry. Creates the folder.
bool SavePortList(const QString &path, const QList<PortEntry> &entries);
// Adds one line at the end without touching the others. An empty or missing
// file first gets its empty first line so the entry is not skipped on reading.
bool AppendPortEntry(const QString &path, const PortEntry &entry);

// Port text as a whole number; 0 when it is not one.
int PortNumber(const QString &portText);

// A serial number that can stand in the file: not empty, no comma or line break.
bool IsValidSerialNo(const QString &serialNo);

enum class Update { Unchanged, Appended, Rewritten, NotRecorded, Failed };

// Records that serialNo answered on port, as a scan does. `all` is every
// entry the file held when the scan started; the first `tableSize` of them
// are compared. Unknown: the entry is appended. Known on another port: the
// file is rewritten with that port changed (entries past the table kept).
// Known on this port: nothing is written.
Update RecordLocator(const QString &path, const QList<PortEntry> &all, qsizetype tableSize, const QString &serialNo,
                     int port);

}  // namespace PortList
