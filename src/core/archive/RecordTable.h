#pragma once

#include <QString>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QSqlDatabase;

// The archive's records table as the import uses it, a batch at a time:
// what it holds of a locator's seconds, and adding the new ones, inside the
// transaction the import holds. The import's hot path.
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

struct StoredRecord
{
    qint64 t = 0;
    std::string content;
};

class RecordTable
{
public:
    virtual ~RecordTable() = default;
    // The locator's records with from <= t <= to, ascending.
    virtual bool existing(qint64 locator, qint64 from, qint64 to, std::vector<StoredRecord> *out) = 0;
    // Adds the batch's records at the given positions.
    virtual bool insert(qint64 locator, qint64 user, const RecordBatch &batch, const std::vector<std::size_t> &which)
        = 0;
    QString error() const { return m_error; }

protected:
    QString m_error;
};

// SQLite through its own C API on the connection Qt opened (Qt SQL's escape
// hatch): a bound statement per record costs a fraction of a QSqlQuery's.
// Null when the connection is not an SQLite one.
std::unique_ptr<RecordTable> MakeSqliteRecordTable(QSqlDatabase &db);
// Any Qt SQL driver: statements of many rows each, so a server far away costs
// one round trip per few hundred records.
std::unique_ptr<RecordTable> MakeSqlRecordTable(QSqlDatabase &db);

}  // namespace Archive
