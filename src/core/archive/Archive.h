#pragma once

#include "core/archive/ArchiveLocation.h"
#include "core/datafile/LocatorIdentity.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <memory>
#include <optional>

// The fleet usage archive: every record of every imported data file, keyed by
// the locator's serial number and the record's date and time, so a logged
// second is stored once however many files hold it. Alongside, seconds per
// locator, user, day and mode, kept up to date by each import, for reports.
namespace Archive {

// What an import did with one file's lines.
struct ImportCounts
{
    qint64 added = 0;  // records new to the archive
    qint64 duplicates = 0;  // records it already held, unchanged
    qint64 skipped = 0;  // lines after the header that are no record (empty, "FF", no valid date and time)
    qint64 conflicts = 0;  // records whose second it held with other content: the first one stays

    ImportCounts &operator+=(const ImportCounts &o)
    {
        added += o.added;
        duplicates += o.duplicates;
        skipped += o.skipped;
        conflicts += o.conflicts;
        return *this;
    }
};

// Lets another thread follow an import and stop it part-way.
struct ImportControl
{
    std::atomic<bool> cancel{false};  // set: the file in progress is rolled back
    std::atomic<qint64> bytesRead{0};  // of the file's record lines, roughly: for a progress bar
};

struct ImportResult
{
    enum Status {
        Imported,
        AlreadyImported,  // the same bytes were imported before: nothing read, nothing added
        Failed,  // the archive is as it was before this file
    } status
        = Failed;
    ImportCounts counts;  // for AlreadyImported: what the first import of the file counted
    LocatorIdentity identity;  // of the file's (first) transfer
    // Every transfer the file holds, in order: several for transfers written
    // one after the other into one file, each filed under its own locator.
    // For AlreadyImported only the first.
    QList<LocatorIdentity> transfers;
    QString error;
    bool cancelled = false;  // Failed because ImportControl::cancel was set
};

// Seconds of one locator, user and day, per mode.
struct UsageDay
{
    QString serial;
    QString model;
    QString user;
    QDate day;
    std::array<qint64, 4> seconds{};  // mode table order
    qint64 records = 0;  // every record of the day, of a mode or not
};

// A second archived with one record and met again with another one (a
// clock set back, the autumn hour): the archived record is the one counted.
struct Conflict
{
    QString serial;
    QDateTime second;  // the locator's clock
    QString archived;  // mode, frequency, measurement, depth, signal strength, joined by ","
    QString conflicting;  // the same fields of the other record
    QString file;  // the name of the file it came (first) from
};

// Seconds of the locator's clock from 01/01/2000 00:00:00, the archive's time key.
qint64 SecondKey(const QDate &day, int secondOfDay);
QDateTime FromSecondKey(qint64 key);  // no time zone: the locator's own clock
int DayKey(const QDate &day);
QDate FromDayKey(int key);

class Store
{
public:
    Store();
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    enum OpenMode {
        CreateIfMissing,  // for adding to it: made where there was none, its tables brought up to date
        // For reading (reports): an existing archive of this program's
        // version only, never made, upgraded or written (SQLite: opened
        // read-only; PostgreSQL: a read-only session), so a role or user
        // that may only read the archive can report.
        ExistingOnly,
    };

    // Opens the archive. For adding, creates it (SQLite: the file and any
    // folder it needs, readable by the user only) or brings its tables up to
    // date, once however many programs open a new archive at once. A database
    // of a newer program is refused and left untouched. False with *error
    // saying why.
    bool open(const Location &location, QString *error, OpenMode mode = CreateIfMissing);
    void close();
    bool isOpen() const;
    const Location &location() const { return m_location; }

    // Adds a data file's records, in one transaction: a failure part-way
    // leaves the archive as it was. A file whose bytes were imported before
    // is recognised by a hash and not read again. `control` (when given)
    // counts the bytes read and cancels: the file's rows are rolled back.
    ImportResult importFile(const QString &path, ImportControl *control = nullptr);

    // The last second archived for a locator, for fetching only what is new.
    // Empty when none of its records is archived (or on failure: *error set).
    std::optional<QDateTime> lastArchivedSecond(const QString &serial, QString *error = nullptr);

    // Usage of the days from..to (both included; an invalid date leaves that
    // side open), one entry per locator, user and day.
    bool usage(const QDate &from, const QDate &to, QList<UsageDay> *days, QString *error);

    // Every conflicting record kept, by locator and second.
    bool conflicts(QList<Conflict> *out, QString *error);
    // The seconds of the days from..to (as usage() takes them) that have a
    // conflicting record, each locator's second once; -1 on failure.
    qint64 conflictSeconds(const QDate &from, const QDate &to, QString *error);

    // True when the daily totals are what the records say, per locator,
    // user, day and mode. False with *mismatch naming the first difference,
    // or with *error when the archive cannot be read.
    bool checkTotals(QString *mismatch, QString *error);

    // Records held in all (for figures and tests).
    qint64 recordCount(QString *error = nullptr);

    QSqlDatabase database() const { return m_db; }

private:
    Location m_location;
    QString m_connection;
    QSqlDatabase m_db;
};

// The data files that paths name for an import, in order and each once: a
// file as it is, a folder as its .csv files (by name).
QStringList DataFilesIn(const QStringList &paths);

}  // namespace Archive
