#include "core/archive/RecordTable.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace Archive {

namespace {

const char kExisting[] = "SELECT t, mode, frequency, measurement, depth, signal FROM records"
                         " WHERE locator = ? AND t BETWEEN ? AND ? ORDER BY t";
const char kInsertHead[]
    = "INSERT INTO records (locator, t, user_id, mode, frequency, measurement, depth, signal) VALUES ";

// The five fields of a content, split again for binding.
std::array<std::string_view, ContentFields> splitContent(std::string_view content)
{
    std::array<std::string_view, ContentFields> f{};
    for (int i = 0; i < ContentFields; ++i) {
        const std::size_t cut = content.find(FieldSeparator);
        f[std::size_t(i)] = content.substr(0, cut);
        content = cut == std::string_view::npos ? std::string_view() : content.substr(cut + 1);
    }
    return f;
}

class SqliteRecordTable : public RecordTable
{
public:
    explicit SqliteRecordTable(sqlite3 *db)
        : m_db(db)
    { }
    ~SqliteRecordTable() override
    {
        sqlite3_finalize(m_existing);
        sqlite3_finalize(m_insert);
    }

    bool prepare()
    {
        const std::string insert = std::string(kInsertHead) + "(?, ?, ?, ?, ?, ?, ?, ?)";
        if (sqlite3_prepare_v3(m_db, kExisting, -1, SQLITE_PREPARE_PERSISTENT, &m_existing, nullptr) != SQLITE_OK
            || sqlite3_prepare_v3(m_db, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &m_insert, nullptr) != SQLITE_OK)
            return fail();
        return true;
    }

    bool existing(qint64 locator, qint64 from, qint64 to, std::vector<StoredRecord> *out) override
    {
        out->clear();
        sqlite3_reset(m_existing);
        sqlite3_bind_int64(m_existing, 1, locator);
        sqlite3_bind_int64(m_existing, 2, from);
        sqlite3_bind_int64(m_existing, 3, to);
        int rc;
        while ((rc = sqlite3_step(m_existing)) == SQLITE_ROW) {
            StoredRecord r;
            r.t = sqlite3_column_int64(m_existing, 0);
            for (int c = 1; c <= ContentFields; ++c) {
                if (c > 1)
                    r.content += FieldSeparator;
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_existing, c));
                if (text)
                    r.content.append(text, std::size_t(sqlite3_column_bytes(m_existing, c)));
            }
            out->push_back(std::move(r));
        }
        sqlite3_reset(m_existing);
        return rc == SQLITE_DONE || fail();
    }

    bool insert(qint64 locator, qint64 user, const RecordBatch &batch, const std::vector<std::size_t> &which) override
    {
        for (std::size_t i : which) {
            sqlite3_bind_int64(m_insert, 1, locator);
            sqlite3_bind_int64(m_insert, 2, batch.t[i]);
            sqlite3_bind_int64(m_insert, 3, user);
            const auto fields = splitContent(batch.content(i));
            for (int f = 0; f < ContentFields; ++f)
                sqlite3_bind_text(m_insert, 4 + f, fields[std::size_t(f)].data(), int(fields[std::size_t(f)].size()),
                                  SQLITE_STATIC);
            const int rc = sqlite3_step(m_insert);
            sqlite3_reset(m_insert);
            if (rc != SQLITE_DONE)
                return fail();
        }
        return true;
    }

private:
    bool fail()
    {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }

    sqlite3 *m_db;
    sqlite3_stmt *m_existing = nullptr;
    sqlite3_stmt *m_insert = nullptr;
};

class SqlRecordTable : public RecordTable
{
public:
    explicit SqlRecordTable(QSqlDatabase &db)
        : m_db(db)
        , m_existing(db)
        , m_insert(db)
        , m_arrays(db)
    {
        m_existing.setForwardOnly(true);
    }

    bool existing(qint64 locator, qint64 from, qint64 to, std::vector<StoredRecord> *out) override
    {
        out->clear();
        if (!m_prepared) {
            if (!m_existing.prepare(QString::fromLatin1(kExisting)))
                return fail(m_existing);
            m_prepared = true;
        }
        m_existing.bindValue(0, locator);
        m_existing.bindValue(1, from);
        m_existing.bindValue(2, to);
        if (!m_existing.exec())
            return fail(m_existing);
        while (m_existing.next()) {
            StoredRecord r;
            r.t = m_existing.value(0).toLongLong();
            for (int c = 1; c <= ContentFields; ++c) {
                if (c > 1)
                    r.content += FieldSeparator;
                r.content += m_existing.value(c).toString().toStdString();
            }
            out->push_back(std::move(r));
        }
        m_existing.finish();
        return true;
    }

    bool insert(qint64 locator, qint64 user, const RecordBatch &batch, const std::vector<std::size_t> &which) override
    {
        if (which.empty())
            return true;
        if (m_db.driverName() == QLatin1String("QPSQL"))
            return insertArrays(locator, user, batch, which);
        // A few hundred rows a statement: one round trip each, well within
        // the servers' limit on bound values.
        constexpr std::size_t kRows = 500;
        for (std::size_t from = 0; from < which.size(); from += kRows) {
            const std::size_t n = std::min(kRows, which.size() - from);
            QSqlQuery &q = m_insert;
            if (n != m_insertRows) {
                QString sql = QString::fromLatin1(kInsertHead);
                for (std::size_t k = 0; k < n; ++k)
                    sql += k ? QStringLiteral(", (?, ?, ?, ?, ?, ?, ?, ?)")
                             : QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?)");
                // Another PC importing the same locator at once: its rows win.
                sql += QStringLiteral(" ON CONFLICT (locator, t) DO NOTHING");
                m_insertRows = 0;
                if (!q.prepare(sql))
                    return fail(q);
                m_insertRows = n;
            }
            int p = 0;
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t i = which[from + k];
                q.bindValue(p++, locator);
                q.bindValue(p++, batch.t[i]);
                q.bindValue(p++, user);
                for (std::string_view f : splitContent(batch.content(i)))
                    q.bindValue(p++, QString::fromUtf8(f.data(), qsizetype(f.size())));
            }
            if (!q.exec())
                return fail(q);
        }
        return true;
    }

private:
    // PostgreSQL: the whole batch as six array values of one statement, which
    // the server parses once, instead of thousands of bound values.
    bool insertArrays(qint64 locator, qint64 user, const RecordBatch &batch, const std::vector<std::size_t> &which)
    {
        if (!m_arraysPrepared) {
            if (!m_arrays.prepare(QStringLiteral(
                    "INSERT INTO records (locator, t, user_id, mode, frequency, measurement, depth, signal)"
                    " SELECT ?, x.t, ?, x.a, x.b, x.c, x.d, x.e FROM unnest(CAST(? AS BIGINT[]), CAST(? AS TEXT[]),"
                    " CAST(? AS TEXT[]), CAST(? AS TEXT[]), CAST(? AS TEXT[]), CAST(? AS TEXT[]))"
                    " AS x(t, a, b, c, d, e) ON CONFLICT (locator, t) DO NOTHING")))
                return fail(m_arrays);
            m_arraysPrepared = true;
        }
        std::string times(1, '{');
        std::array<std::string, ContentFields> fields;
        for (std::string &f : fields)
            f.push_back('{');
        bool first = true;
        for (std::size_t i : which) {
            if (!first) {
                times += ',';
                for (std::string &f : fields)
                    f += ',';
            }
            first = false;
            times += std::to_string(batch.t[i]);
            const auto parts = splitContent(batch.content(i));
            for (int k = 0; k < ContentFields; ++k) {
                std::string &f = fields[std::size_t(k)];
                f += '"';
                for (char c : parts[std::size_t(k)]) {
                    if (c == '"' || c == '\\')
                        f += '\\';
                    f += c;
                }
                f += '"';
            }
        }
        times += '}';
        m_arrays.bindValue(0, locator);
        m_arrays.bindValue(1, user);
        m_arrays.bindValue(2, QString::fromStdString(times));
        for (int k = 0; k < ContentFields; ++k) {
            fields[std::size_t(k)] += '}';
            m_arrays.bindValue(3 + k, QString::fromStdString(fields[std::size_t(k)]));
        }
        if (!m_arrays.exec())
            return fail(m_arrays);
        return true;
    }

    bool fail(const QSqlQuery &q)
    {
        m_error = q.lastError().text();
        return false;
    }

    QSqlDatabase &m_db;
    QSqlQuery m_existing;
    bool m_prepared = false;
    // Kept prepared for the next batch of the same size.
    QSqlQuery m_insert;
    std::size_t m_insertRows = 0;
    QSqlQuery m_arrays;
    bool m_arraysPrepared = false;
};

}  // namespace

std::unique_ptr<RecordTable> MakeSqliteRecordTable(QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    sqlite3 *raw = *static_cast<sqlite3 *const *>(handle.constData());
    if (!raw)
        return nullptr;
    auto table = std::make_unique<SqliteRecordTable>(raw);
    if (!table->prepare())
        return nullptr;
    return table;
}

std::unique_ptr<RecordTable> MakeSqlRecordTable(QSqlDatabase &db)
{
    return std::make_unique<SqlRecordTable>(db);
}

}  // namespace Archive
