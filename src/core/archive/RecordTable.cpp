#include "core/archive/RecordTable.h"

#include "core/usage/ModeTable.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdlib>
#include <limits>

namespace Archive {

namespace {

const char kExisting[] = "SELECT t, mode, frequency, measurement, depth, signal FROM records"
                         " WHERE locator = ? AND t BETWEEN ? AND ? ORDER BY t";
const char kInsertHead[]
    = "INSERT INTO records (locator, t, user_id, mode, frequency, measurement, depth, signal) VALUES ";
// A conflicting record already kept (from this file or another) is kept once.
const char kKeepConflict[] = "INSERT INTO conflicts (locator, t, mode, frequency, measurement, depth, signal, file)"
                             " VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING";

// What the archive holds of one second, for comparing.
struct StoredRecord
{
    qint64 t = 0;
    std::string content;
};

// Finds what is new, duplicate and in conflict on this side of the
// connection: the archive's records of the batch's seconds are read, and
// only the new ones and the conflicting ones are written.
class ClientSideTable : public RecordTable
{
public:
    explicit ClientSideTable(const QString &file)
        : m_file(file.toUtf8())
    { }

    // A batch covers at most a day of the locator's clock, so looking up
    // what the archive already holds for it reads at most a day's records.
    std::size_t maxRecords() const override { return 16384; }
    qint64 maxSpan() const override { return SecondsPerDay; }

    bool write(qint64 locator, qint64 user, const RecordBatch &batch, BatchCounts *counts, UsageTotals *usage) override
    {
        if (batch.size() == 0)
            return true;
        if (!existing(locator, batch.t.front(), batch.t.back(), &m_existing))
            return false;
        m_fresh.clear();
        m_clashes.clear();
        std::size_t j = 0;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const qint64 t = batch.t[i];
            while (j < m_existing.size() && m_existing[j].t < t)
                ++j;
            const std::string_view content = batch.content(i);
            if (j < m_existing.size() && m_existing[j].t == t) {
                if (m_existing[j].content == content)
                    ++counts->duplicates;
                else
                    m_clashes.push_back(i);
                continue;
            }
            m_fresh.push_back(i);
            usage->add(int(t / SecondsPerDay), UsageModeOf(content));
        }
        if (!insert(locator, user, batch, m_fresh) || !keepConflicts(locator, batch, m_clashes))
            return false;
        counts->added += qint64(m_fresh.size());
        counts->conflicts += qint64(m_clashes.size());
        return true;
    }

protected:
    // The locator's records with from <= t <= to, ascending.
    virtual bool existing(qint64 locator, qint64 from, qint64 to, std::vector<StoredRecord> *out) = 0;
    // Adds the batch's records at the given positions.
    virtual bool insert(qint64 locator, qint64 user, const RecordBatch &batch, const std::vector<std::size_t> &which)
        = 0;
    virtual bool keepConflicts(qint64 locator, const RecordBatch &batch, const std::vector<std::size_t> &which) = 0;

    const QByteArray m_file;

private:
    std::vector<StoredRecord> m_existing;
    std::vector<std::size_t> m_fresh;
    std::vector<std::size_t> m_clashes;
};

class SqliteRecordTable : public ClientSideTable
{
public:
    SqliteRecordTable(sqlite3 *db, const QString &file)
        : ClientSideTable(file)
        , m_db(db)
    { }
    ~SqliteRecordTable() override
    {
        sqlite3_finalize(m_existing);
        sqlite3_finalize(m_insert);
        sqlite3_finalize(m_conflict);
    }

    bool prepare()
    {
        const std::string insert = std::string(kInsertHead) + "(?, ?, ?, ?, ?, ?, ?, ?)";
        if (sqlite3_prepare_v3(m_db, kExisting, -1, SQLITE_PREPARE_PERSISTENT, &m_existing, nullptr) != SQLITE_OK
            || sqlite3_prepare_v3(m_db, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &m_insert, nullptr) != SQLITE_OK
            || sqlite3_prepare_v3(m_db, kKeepConflict, -1, 0, &m_conflict, nullptr) != SQLITE_OK)
            return fail();
        return true;
    }

protected:
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
            bindContent(m_insert, 4, batch.content(i));
            if (!step(m_insert))
                return false;
        }
        return true;
    }

    bool keepConflicts(qint64 locator, const RecordBatch &batch, const std::vector<std::size_t> &which) override
    {
        for (std::size_t i : which) {
            sqlite3_bind_int64(m_conflict, 1, locator);
            sqlite3_bind_int64(m_conflict, 2, batch.t[i]);
            bindContent(m_conflict, 3, batch.content(i));
            sqlite3_bind_text(m_conflict, 8, m_file.constData(), int(m_file.size()), SQLITE_STATIC);
            if (!step(m_conflict))
                return false;
        }
        return true;
    }

private:
    static void bindContent(sqlite3_stmt *s, int first, std::string_view content)
    {
        const auto fields = SplitContent(content);
        for (int f = 0; f < ContentFields; ++f)
            sqlite3_bind_text(s, first + f, fields[std::size_t(f)].data(), int(fields[std::size_t(f)].size()),
                              SQLITE_STATIC);
    }
    bool step(sqlite3_stmt *s)
    {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        return rc == SQLITE_DONE || fail();
    }
    bool fail()
    {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }

    sqlite3 *m_db;
    sqlite3_stmt *m_existing = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_conflict = nullptr;
};

class SqlRecordTable : public ClientSideTable
{
public:
    SqlRecordTable(QSqlDatabase &db, const QString &file)
        : ClientSideTable(file)
        , m_existing(db)
        , m_insert(db)
        , m_conflict(db)
    {
        m_existing.setForwardOnly(true);
    }

protected:
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
                for (std::string_view f : SplitContent(batch.content(i)))
                    q.bindValue(p++, QString::fromUtf8(f.data(), qsizetype(f.size())));
            }
            if (!q.exec())
                return fail(q);
        }
        return true;
    }

    bool keepConflicts(qint64 locator, const RecordBatch &batch, const std::vector<std::size_t> &which) override
    {
        if (which.empty())
            return true;
        if (!m_conflictPrepared && !m_conflict.prepare(QString::fromLatin1(kKeepConflict)))
            return fail(m_conflict);
        m_conflictPrepared = true;
        for (std::size_t i : which) {
            int p = 0;
            m_conflict.bindValue(p++, locator);
            m_conflict.bindValue(p++, batch.t[i]);
            for (std::string_view f : SplitContent(batch.content(i)))
                m_conflict.bindValue(p++, QString::fromUtf8(f.data(), qsizetype(f.size())));
            m_conflict.bindValue(p++, QString::fromUtf8(m_file));
            if (!m_conflict.exec())
                return fail(m_conflict);
        }
        return true;
    }

private:
    bool fail(const QSqlQuery &q)
    {
        m_error = q.lastError().text();
        return false;
    }

    QSqlQuery m_existing;
    bool m_prepared = false;
    // Kept prepared for the next batch of the same size.
    QSqlQuery m_insert;
    std::size_t m_insertRows = 0;
    QSqlQuery m_conflict;
    bool m_conflictPrepared = false;
};

// PostgreSQL, through COPY (the server's fastest way in). A batch of seconds
// the archive holds none of is copied into the records; any other batch is
// copied into a temporary table, and the server finds what is new, duplicate
// or in conflict: one statement adds the new seconds, keeps the conflicting
// records and answers with the counts and the added seconds per day and mode.
class CopyRecordTable : public RecordTable
{
public:
    CopyRecordTable(PGconn *conn, const QString &file)
        : m_conn(conn)
        , m_file(file.toUtf8())
    { }

    // Large batches: what limits a batch is only this program's memory.
    std::size_t maxRecords() const override { return 65536; }
    qint64 maxSpan() const override { return std::numeric_limits<qint64>::max(); }

    bool write(qint64 locator, qint64 user, const RecordBatch &batch, BatchCounts *counts, UsageTotals *usage) override
    {
        if (batch.size() == 0)
            return true;
        // Seconds the archive holds none of (new records, the common case)
        // are copied straight in; the locator's row, locked by this import,
        // keeps any other import of the locator from adding some meanwhile.
        bool held = false;
        if (!holdsAny(locator, batch.t.front(), batch.t.back(), &held))
            return false;
        if (!held) {
            const std::string lead = std::to_string(locator) + '\t';
            const std::string afterT = '\t' + std::to_string(user) + '\t';
            if (!copy("COPY records (locator, t, user_id, mode, frequency, measurement, depth, signal) FROM STDIN",
                      batch, lead, afterT))
                return false;
            for (std::size_t i = 0; i < batch.size(); ++i)
                usage->add(int(batch.t[i] / SecondsPerDay), UsageModeOf(batch.content(i)));
            counts->added += qint64(batch.size());
            return true;
        }
        // Dropped with the transaction, whether it commits or not.
        if (!m_staged
            && !command("CREATE TEMPORARY TABLE archive_staging (t BIGINT NOT NULL, mode TEXT NOT NULL,"
                        " frequency TEXT NOT NULL, measurement TEXT NOT NULL, depth TEXT NOT NULL,"
                        " signal TEXT NOT NULL) ON COMMIT DROP"))
            return false;
        if (m_staged && !command("TRUNCATE archive_staging"))
            return false;
        m_staged = true;
        if (!copy("COPY archive_staging FROM STDIN", batch, {}, "\t"))
            return false;
        return merge(locator, user, batch, counts, usage);
    }

private:
    bool command(const char *sql)
    {
        PGresult *r = PQexec(m_conn, sql);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok)
            fail(r);
        PQclear(r);
        return ok;
    }

    bool holdsAny(qint64 locator, qint64 from, qint64 to, bool *held)
    {
        const QByteArray values[] = {QByteArray::number(locator), QByteArray::number(from), QByteArray::number(to)};
        const char *params[] = {values[0].constData(), values[1].constData(), values[2].constData()};
        PGresult *r = PQexecParams(
            m_conn, "SELECT 1 FROM records WHERE locator = $1::bigint AND t BETWEEN $2::bigint AND $3::bigint LIMIT 1",
            3, nullptr, params, nullptr, nullptr, 0);
        const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
        if (ok)
            *held = PQntuples(r) > 0;
        else
            fail(r);
        PQclear(r);
        return ok;
    }

    // Each row: lead, the second, afterT, the content's fields.
    bool copy(const char *sql, const RecordBatch &batch, const std::string &lead, const std::string &afterT)
    {
        PGresult *r = PQexec(m_conn, sql);
        const bool started = PQresultStatus(r) == PGRES_COPY_IN;
        if (!started)
            fail(r);
        PQclear(r);
        if (!started)
            return false;
        // Text format: fields split by tabs, rows by line ends. A record's
        // fields hold no control characters, so only "\" needs escaping.
        m_rows.clear();
        bool sent = true;
        for (std::size_t i = 0; i < batch.size() && sent; ++i) {
            m_rows += lead;
            m_rows += std::to_string(batch.t[i]);
            m_rows += afterT;
            for (char c : batch.content(i)) {
                if (c == FieldSeparator)
                    m_rows += '\t';
                else if (c == '\\')
                    m_rows += "\\\\";
                else
                    m_rows += c;
            }
            m_rows += '\n';
            if (m_rows.size() >= (1u << 20) || i + 1 == batch.size()) {
                sent = PQputCopyData(m_conn, m_rows.data(), int(m_rows.size())) == 1;
                m_rows.clear();
            }
        }
        if (PQputCopyEnd(m_conn, sent ? nullptr : "the import stopped") != 1)
            sent = false;
        bool ok = sent;
        while (PGresult *end = PQgetResult(m_conn)) {
            if (PQresultStatus(end) != PGRES_COMMAND_OK) {
                fail(end);
                ok = false;
            }
            PQclear(end);
        }
        if (!sent && m_error.isEmpty())
            m_error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        return ok;
    }

    bool merge(qint64 locator, qint64 user, const RecordBatch &batch, BatchCounts *counts, UsageTotals *usage)
    {
        // The staged seconds that the archive holds with other content are
        // found before the new ones are added (one snapshot for the whole
        // statement); the range lets the server read the records' key only
        // over the batch's seconds. Seconds it holds are left out before the
        // insert: a conflict found by the insert costs far more.
        if (m_merge.isEmpty()) {
            m_merge = QStringLiteral(
                          "WITH clash AS (SELECT s.* FROM archive_staging s JOIN records r"
                          " ON r.locator = $1::bigint AND r.t = s.t AND r.t BETWEEN $4::bigint AND $5::bigint"
                          " WHERE (r.mode, r.frequency, r.measurement, r.depth, r.signal)"
                          " <> (s.mode, s.frequency, s.measurement, s.depth, s.signal)),"
                          " kept AS (INSERT INTO conflicts (locator, t, mode, frequency, measurement, depth, signal,"
                          " file) SELECT $1::bigint, t, mode, frequency, measurement, depth, signal, $3 FROM clash"
                          " ON CONFLICT DO NOTHING),"
                          " added AS (INSERT INTO records (locator, t, user_id, mode, frequency, measurement, depth,"
                          " signal) SELECT $1::bigint, s.t, $2::bigint, s.mode, s.frequency, s.measurement, s.depth,"
                          " s.signal FROM archive_staging s WHERE NOT EXISTS (SELECT FROM records r"
                          " WHERE r.locator = $1::bigint AND r.t = s.t AND r.t BETWEEN $4::bigint AND $5::bigint)"
                          " ON CONFLICT (locator, t) DO NOTHING RETURNING t, mode)"
                          " SELECT -1, -1, COUNT(*) FROM clash UNION ALL"
                          " SELECT t / %1, %2, COUNT(*) FROM added GROUP BY 1, 2")
                          .arg(SecondsPerDay)
                          .arg(UsageModeSql(QStringLiteral("mode")))
                          .toUtf8();
        }
        const QByteArray values[] = {QByteArray::number(locator), QByteArray::number(user), m_file,
                                     QByteArray::number(batch.t.front()), QByteArray::number(batch.t.back())};
        const char *params[5];
        for (int i = 0; i < 5; ++i)
            params[i] = values[i].constData();
        PGresult *r = PQexecParams(m_conn, m_merge.constData(), 5, nullptr, params, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            fail(r);
            PQclear(r);
            return false;
        }
        qint64 added = 0;
        qint64 clashes = 0;
        for (int row = 0; row < PQntuples(r); ++row) {
            const qint64 day = std::strtoll(PQgetvalue(r, row, 0), nullptr, 10);
            const int mode = int(std::strtol(PQgetvalue(r, row, 1), nullptr, 10));
            const qint64 n = std::strtoll(PQgetvalue(r, row, 2), nullptr, 10);
            if (day < 0) {
                clashes = n;
            } else if (mode >= 0 && mode < UsageModes) {
                usage->add(int(day), mode, n);
                added += n;
            }
        }
        PQclear(r);
        counts->added += added;
        counts->conflicts += clashes;
        counts->duplicates += qint64(batch.size()) - added - clashes;
        return true;
    }

    void fail(const PGresult *r)
    {
        const char *why = r ? PQresultErrorMessage(r) : nullptr;
        m_error = QString::fromUtf8(why && *why ? why : PQerrorMessage(m_conn)).trimmed();
    }

    PGconn *m_conn;
    const QByteArray m_file;
    QByteArray m_merge;
    std::string m_rows;
    bool m_staged = false;
};

template<class Handle>
Handle *driverHandle(QSqlDatabase &db, const char *typeName)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), typeName) != 0)
        return nullptr;
    return *static_cast<Handle *const *>(handle.constData());
}

}  // namespace

std::array<std::string_view, ContentFields> SplitContent(std::string_view content)
{
    std::array<std::string_view, ContentFields> f{};
    for (int i = 0; i < ContentFields; ++i) {
        const std::size_t cut = content.find(FieldSeparator);
        f[std::size_t(i)] = content.substr(0, cut);
        content = cut == std::string_view::npos ? std::string_view() : content.substr(cut + 1);
    }
    return f;
}

int UsageModeOf(std::string_view content)
{
    const bool oneLetter = content.size() == 1 || (content.size() > 1 && content[1] == FieldSeparator);
    const int mode = oneLetter ? ModeTable::IndexOf(content[0]) : -1;
    return mode < 0 ? OtherMode : mode;
}

QString UsageModeSql(const QString &column)
{
    QString sql = QStringLiteral("CASE ") + column;
    for (int i = 0; i < ModeTable::Count; ++i)
        sql += QStringLiteral(" WHEN '%1' THEN %2").arg(QLatin1Char(ModeTable::Modes[std::size_t(i)].letter)).arg(i);
    return sql + QStringLiteral(" ELSE %1 END").arg(OtherMode);
}

std::unique_ptr<RecordTable> MakeSqliteRecordTable(QSqlDatabase &db, const QString &file)
{
    sqlite3 *raw = driverHandle<sqlite3>(db, "sqlite3*");
    if (!raw)
        return nullptr;
    auto table = std::make_unique<SqliteRecordTable>(raw, file);
    if (!table->prepare())
        return nullptr;
    return table;
}

std::unique_ptr<RecordTable> MakeCopyRecordTable(QSqlDatabase &db, const QString &file)
{
    // Qt names the type after libpq's struct.
    PGconn *conn = driverHandle<PGconn>(db, "PGconn*");
    if (!conn)
        conn = driverHandle<PGconn>(db, "pg_conn*");
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        return nullptr;
    return std::make_unique<CopyRecordTable>(conn, file);
}

std::unique_ptr<RecordTable> MakeSqlRecordTable(QSqlDatabase &db, const QString &file)
{
    return std::make_unique<SqlRecordTable>(db, file);
}

}  // namespace Archive
