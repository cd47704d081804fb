#pragma once

#include "core/archive/ArchiveSchema.h"

#include <QString>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QSqlDatabase;

// The archive's records table as the import uses it, a batch at a time,
// inside the transaction the import holds: new seconds added, seconds it
// holds with other content kept as conflicts. The import's hot path.
namespace Archive {

// Records of one locator waiting to be written, in ascending time. A
// record's content is its five stored fields (mode, frequency, measurement,
// depth, signal strength) joined by FieldSeparator, so that two records are
// the same when their contents are equal.
inline constexpr char FieldSeparator = '\x1f';
inline constexpr int ContentFields = 5;

struct RecordBatch
{
    std::vector<qint64> t;
    std::vector<std::size_t> start;  // content i is text[start[i], start[i + 1]), the last up to text's end
    std::string text;

    std::size_t size() const { return t.size(); }
    std::string_view content(std::size_t i) const
    {
        const std::size_t end = i + 1 < start.size() ? start[i + 1] : text.size();
        return std::string_view(text).substr(start[i], end - start[i]);
    }
    void clear()
    {
        t.clear();
        start.clear();
        text.clear();
    }
};

// The five fields of a content, split again.
std::array<std::string_view, ContentFields> SplitContent(std::string_view content);

// A content's usage mode: its mode field is one mode letter, or the record
// is of no mode (OtherMode).
int UsageModeOf(std::string_view content);
// The same rule in SQL, over a column holding the mode field.
QString UsageModeSql(const QString &column);

// Seconds added per locator, user, day and usage mode (the mode table's
// four, then OtherMode).
class UsageTotals
{
public:
    struct Key
    {
        qint64 locator;
        qint64 user;
        int day;
        auto operator<=>(const Key &) const = default;
    };
    using Seconds = std::array<qint64, UsageModes>;

    void setOwner(qint64 locator, qint64 user)
    {
        m_locator = locator;
        m_user = user;
        m_last = nullptr;
    }
    void add(int day, int mode, qint64 seconds = 1)
    {
        if (day != m_lastDay || !m_last) {
            m_last = &m_perDay[Key{m_locator, m_user, day}];
            m_lastDay = day;
        }
        (*m_last)[std::size_t(mode)] += seconds;
    }
    const std::map<Key, Seconds> &perDay() const { return m_perDay; }

private:
    std::map<Key, Seconds> m_perDay;
    Seconds *m_last = nullptr;
    qint64 m_locator = -1;
    qint64 m_user = -1;
    int m_lastDay = 0;
};

struct BatchCounts
{
    qint64 added = 0;
    qint64 duplicates = 0;
    qint64 conflicts = 0;
};

class RecordTable
{
public:
    virtual ~RecordTable() = default;

    // How much one batch may hold: records, and seconds from its first to
    // its last.
    virtual std::size_t maxRecords() const = 0;
    virtual qint64 maxSpan() const = 0;

    // Writes a batch of the locator's records: seconds the archive lacks are
    // added (their usage goes to *usage, whose owner is set), seconds it
    // holds with the same content are duplicates, and those it holds with
    // other content are conflicts: the archived record stays, the other is
    // kept in the conflicts table with the file it came from, once per
    // content.
    virtual bool write(qint64 locator, qint64 user, const RecordBatch &batch, BatchCounts *counts, UsageTotals *usage)
        = 0;
    QString error() const { return m_error; }

protected:
    QString m_error;
};

// `file` is the imported_files key of the file being imported.
//
// SQLite through its own C API on the connection Qt opened (Qt SQL's escape
// hatch): a bound statement per record costs a fraction of a QSqlQuery's.
// Null when the connection is not an SQLite one.
std::unique_ptr<RecordTable> MakeSqliteRecordTable(QSqlDatabase &db, const QString &file);
// PostgreSQL through libpq on the connection Qt opened: each batch is copied
// (COPY) into the records, or, where the archive holds some of its seconds,
// into a temporary table merged into the records by the server in one
// statement. Null when the connection is not a PostgreSQL one.
std::unique_ptr<RecordTable> MakeCopyRecordTable(QSqlDatabase &db, const QString &file);
// Any Qt SQL driver: statements of many rows each, so a server far away costs
// one round trip per few hundred records.
std::unique_ptr<RecordTable> MakeSqlRecordTable(QSqlDatabase &db, const QString &file);

}  // namespace Archive
