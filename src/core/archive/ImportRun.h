#pragma once

#include "core/archive/Archive.h"
#include "core/archive/ArchiveSchema.h"
#include "core/archive/RecordTable.h"
#include "core/datafile/DataFileHandle.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSqlQuery>
#include <QString>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The import of one data file into an open archive, step by step, in one
// transaction: a failure at any step leaves the archive as it was.
namespace Archive {

// How a data file ends, read from its last bytes.
struct FileEnd
{
    // The last line when neither a line end nor the end marker follows it: a
    // transfer cut off by a lost link.
    QByteArray cutLine;
    // The last line when it ends with the end marker (line ends may follow),
    // marker included: a complete transfer's end, which is no line of its own.
    QByteArray markerLine;
};

// A day's records follow one another: a line that begins with the same date
// text as the last one is on the same day, without reading and checking its
// date again.
class DayOfLastDate
{
public:
    static constexpr qsizetype DateText = 8;  // "dd/MM/yy"

    bool sameDate(QByteArrayView line) const;
    int day() const { return m_day; }
    void remember(QByteArrayView line, int day);

private:
    char m_text[DateText] = {};
    int m_day = -1;
};

// Seconds this file adds per day and usage mode (the mode table's four, then
// OtherMode).
class UsageTotals
{
public:
    void add(int day, int mode)
    {
        if (day != m_lastDay || !m_last) {
            m_last = &m_perDay[day];
            m_lastDay = day;
        }
        ++(*m_last)[std::size_t(mode)];
    }
    const std::map<int, std::array<qint64, UsageModes>> &perDay() const { return m_perDay; }

private:
    std::map<int, std::array<qint64, UsageModes>> m_perDay;
    std::array<qint64, UsageModes> *m_last = nullptr;
    int m_lastDay = 0;
};

class ImportRun
{
public:
    ImportRun(QSqlDatabase &db, Location::Kind kind, const QString &path, ImportControl *control = nullptr);
    ~ImportRun();  // rolls back what was not committed
    ImportRun(const ImportRun &) = delete;
    ImportRun &operator=(const ImportRun &) = delete;

    ImportResult run();

private:
    bool fingerprint();
    bool begin();
    bool alreadyImported(bool *before);
    bool identify();
    bool read();
    bool takeLine(QByteArrayView line);
    bool flush();
    void sortOutBatch();
    void dropCutRecord();
    bool writeUsageTotals();
    bool recordFile();
    bool commit();

    bool upsertId(const QString &table, const QString &keyColumn, const QString &key, const QString &extraColumn,
                  const QString &extraValue, qint64 *id);
    bool fail(const QString &why);
    bool failed() const { return !m_result.error.isEmpty(); }

    QSqlDatabase &m_db;
    const Location::Kind m_kind;
    const QString m_path;
    const QString m_name;  // as the user writes it
    ImportControl *const m_control;
    ImportResult m_result;
    ImportCounts m_counts;

    // What the file's bytes say before any line is read.
    QString m_fingerprint;
    qint64 m_size = 0;
    FileEnd m_end;

    // The locator's row stays locked from its upsert to the commit, so PCs
    // importing the same locator's files into one server take turns and
    // never both count a second as new.
    qint64 m_locator = -1;
    qint64 m_user = -1;

    DataFileHandle m_slot;
    DayOfLastDate m_lastDate;
    RecordBatch m_batch;
    std::vector<StoredRecord> m_existing;
    std::vector<std::size_t> m_fresh;
    std::string m_lastRecordLine;  // only while a cut line is to be recognised
    UsageTotals m_usage;

    // Let go after the rollback in the destructor, never inside a
    // transaction the server has aborted.
    std::unique_ptr<RecordTable> m_records;
    QSqlQuery m_query;
    bool m_begun = false;
    bool m_committed = false;
};

}  // namespace Archive
