#include "core/archive/ImportRun.h"

#include "core/clock/Clock.h"
#include "core/datafile/DataFileHeader.h"
#include "core/usage/DataFileLines.h"
#include "core/usage/RecordLines.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QStringList>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/file.h>
#endif

namespace Archive {

namespace {

constexpr char kEndMarker = '\x1a';
// Where a record line holds its mode letter (character 19), and which of its
// comma-separated fields follow the mode (frequency, measurement, depth,
// signal strength).
constexpr qsizetype kModeAt = 18;
constexpr int kFirstTailField = 3;
constexpr int kLineFields = 7;
// Records and header lines are read this far; their fields end long before.
constexpr qsizetype kLineKept = 256;

QString fingerprintOf(QByteArrayView bytes)
{
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.addData(bytes);
    return QString::fromLatin1(hash.result().toHex()) + QLatin1Char('-') + QString::number(bytes.size());
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == kEndMarker;
}

// The last line when the file ends part-way through it: neither a line end
// nor the end marker follows it. Only as long a line as a record could be is
// looked for.
QByteArray cutLineOf(QByteArrayView bytes)
{
    if (bytes.isEmpty() || isLineEnd(bytes.back()))
        return {};
    const QByteArrayView tail = bytes.last(std::min<qsizetype>(bytes.size(), kLineKept));
    qsizetype start = tail.size();
    while (start > 0 && !isLineEnd(tail[start - 1]))
        --start;
    if (start == 0 && tail.size() < bytes.size())
        return {};  // longer than any record
    return tail.sliced(start).toByteArray();
}

// Runs onLine over every line of the bytes (see ForEachLinePrefix).
template<class OnLine>
void forEachLine(QByteArrayView bytes, OnLine &&onLine)
{
    QByteArray raw = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    ForEachLinePrefix(buffer, onLine, kLineKept);
}

// A record's field as the archive keeps it: text that every server takes.
// Control characters (none belongs in a record) become "?", and other bytes
// are read as Latin-1, as the header's fields are.
void appendField(std::string &to, QByteArrayView field)
{
    for (char c : field) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            to += '?';
        } else if (u < 0x80) {
            to += c;
        } else {
            to += char(0xc0 | (u >> 6));
            to += char(0x80 | (u & 0x3f));
        }
    }
}

// The fields after the mode, split at ",".
std::array<QByteArrayView, ContentFields - 1> tailFields(QByteArrayView line)
{
    std::array<QByteArrayView, ContentFields - 1> out{};
    qsizetype pos = 0;
    for (int field = 0; field < kLineFields; ++field) {
        const qsizetype comma = line.indexOf(',', pos);
        const qsizetype end = comma < 0 ? line.size() : comma;
        if (field >= kFirstTailField)
            out[std::size_t(field - kFirstTailField)] = line.sliced(pos, end - pos);
        if (comma < 0)
            break;
        pos = comma + 1;
    }
    return out;
}

// The record of a line at second t, its content as RecordBatch keeps it.
void addRecord(RecordBatch &batch, qint64 t, QByteArrayView line)
{
    batch.t.push_back(t);
    batch.start.push_back(batch.text.size());
    if (line.size() > kModeAt)
        appendField(batch.text, line.sliced(kModeAt, 1));
    for (QByteArrayView field : tailFields(line)) {
        batch.text += FieldSeparator;
        appendField(batch.text, field);
    }
}

bool isComment(QByteArrayView line)
{
    return line.size() >= 2 && line[0] == '/' && line[1] == '/';
}

}  // namespace

bool DayOfLastDate::sameDate(QByteArrayView line) const
{
    return m_day >= 0 && line.size() >= DateText && std::memcmp(line.data(), m_text, DateText) == 0;
}

void DayOfLastDate::remember(QByteArrayView line, int day)
{
    // A shorter record has a shorter date text: nothing repeats it.
    if (line.size() < DateText)
        return;
    std::memcpy(m_text, line.data(), DateText);
    m_day = day;
}

FileBytes::Outcome FileBytes::open(const QString &path, QString *why)
{
    if (QFileInfo(path).isDir() || !m_slot.openForRead(path)) {
        *why = m_slot.errorString().isEmpty() ? QStringLiteral("it is a folder") : m_slot.errorString();
        return Unreadable;
    }
    QFile &file = m_slot.file();
#ifdef Q_OS_UNIX
    // A transfer holds its file locked until the end marker (DataFileHandle):
    // half a transfer imported would be taken for the whole. Held shared
    // while the import reads, so no writer that locks starts meanwhile.
    if (::flock(file.handle(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        m_slot.close();
        return Locked;
    }
#endif
    const qint64 size = file.size();
    if (size > 0) {
        if (const uchar *mapped = file.map(0, size)) {
            m_bytes = QByteArrayView(reinterpret_cast<const char *>(mapped), size);
            return Read;
        }
    }
    // Not mappable (empty, or a file system without mapping): read whole.
    m_copy = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *why = file.errorString();
        return Unreadable;
    }
    m_bytes = m_copy;
    return Read;
}

ImportRun::ImportRun(QSqlDatabase &db, Location::Kind kind, const QString &path, ImportControl *control)
    : m_db(db)
    , m_kind(kind)
    , m_path(path)
    , m_name(QDir::toNativeSeparators(path))
    , m_control(control)
    , m_query(db)
{ }

ImportRun::~ImportRun()
{
    // Whatever went wrong, the file's rows go with the transaction.
    if (m_begun && !m_committed)
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
}

ImportResult ImportRun::run()
{
    // A file known already is answered from a read, without waiting for the
    // write lock that another import may hold for minutes; under the lock it
    // is asked again, as the same bytes may have been imported meanwhile
    // (from another PC).
    bool before = false;
    if (!load() || !alreadyImported(&before) || before || !begin() || !alreadyImported(&before) || before)
        return m_result;
    if (read() && writeUsageTotals() && recordFile() && commit()) {
        m_result.status = ImportResult::Imported;
        m_result.counts = m_counts;
    }
    return m_result;
}

bool ImportRun::fail(const QString &why)
{
    m_result.status = ImportResult::Failed;
    m_result.error = why;
    return false;
}

bool ImportRun::load()
{
    QString why;
    switch (m_file.open(m_path, &why)) {
    case FileBytes::Read:
        break;
    case FileBytes::Locked:
        return fail(QStringLiteral("%1 is still being written by a transfer (the file is locked): import it once the "
                                   "transfer has ended")
                        .arg(m_name));
    case FileBytes::Unreadable:
        return fail(QStringLiteral("cannot read %1: %2").arg(m_name, why));
    }
    m_fingerprint = fingerprintOf(m_file.bytes());
    m_cutLine = cutLineOf(m_file.bytes());
    return true;
}

bool ImportRun::begin()
{
    // SQLite: take the write lock now, not at the first insert, so two
    // imports at once wait for each other instead of one failing part-way.
    QSqlQuery q(m_db);
    if (!q.exec(m_kind == Location::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return fail(QStringLiteral("the archive cannot be written: %1").arg(q.lastError().text()));
    m_begun = true;
    // PostgreSQL: imports of the same bytes take turns, so that the later
    // finds the earlier's row instead of failing on it. Two keys: a lock
    // space of its own, apart from the schema's.
    if (m_kind == Location::Postgres) {
        q.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(1, hashtext(?))"));
        q.addBindValue(m_fingerprint);
        if (!q.exec())
            return fail(QStringLiteral("the archive cannot be written: %1").arg(q.lastError().text()));
    }
    return true;
}

// The same bytes imported before: the result is what that import counted.
bool ImportRun::alreadyImported(bool *before)
{
    m_query.prepare(
        QStringLiteral("SELECT added, duplicates, skipped, conflicts FROM imported_files WHERE fingerprint = ?"));
    m_query.addBindValue(m_fingerprint);
    if (!m_query.exec())
        return fail(m_query.lastError().text());
    *before = m_query.next();
    if (!*before) {
        m_query.finish();  // no read may stay open into the write transaction
        return true;
    }
    m_result.status = ImportResult::AlreadyImported;
    m_result.counts.added = m_query.value(0).toLongLong();
    m_result.counts.duplicates = m_query.value(1).toLongLong();
    m_result.counts.skipped = m_query.value(2).toLongLong();
    m_result.counts.conflicts = m_query.value(3).toLongLong();
    m_query.finish();
    forEachLine(m_file.bytes(), [this](QByteArrayView line) {
        if (isComment(line))
            return true;
        m_result.identity = DataFileHeader::IdentityFromHeaderLine(line.toByteArray());
        m_result.transfers << m_result.identity;
        return false;
    });
    return true;
}

bool ImportRun::read()
{
    if (m_kind == Location::Sqlite)
        m_records = MakeSqliteRecordTable(m_db, m_fingerprint);
    else
        m_records = MakeCopyRecordTable(m_db, m_fingerprint);
    if (!m_records)
        m_records = MakeSqlRecordTable(m_db, m_fingerprint);
    forEachLine(m_file.bytes(), [this](QByteArrayView line) { return takeLine(line); });
    if (failed())
        return false;
    if (!m_inTransfer)
        return fail(QStringLiteral("cannot read %1: it has no header line").arg(m_name));
    // "//" lines at the end that began no transfer are no records.
    m_counts.skipped += m_commentLines;
    dropCutRecord();
    return flush();
}

// One line; false stops the reading (a failure). The end marker ends a
// transfer wherever it stands: what follows it on the same line is the start
// of the next (a file of transfers one after the other), or nothing.
bool ImportRun::takeLine(QByteArrayView line)
{
    if (m_control) {
        // Cancelled: the failure rolls the file back like any other.
        if (m_control->cancel.load(std::memory_order_relaxed)) {
            m_result.cancelled = true;
            return fail(QStringLiteral("the import of %1 was cancelled").arg(m_name));
        }
        m_control->bytesRead.fetch_add(line.size() + 2, std::memory_order_relaxed);
    }
    for (;;) {
        const qsizetype marker = line.indexOf(kEndMarker);
        if (marker < 0)
            return takePart(line);
        if (marker > 0 && !takePart(line.first(marker)))
            return false;
        line = line.sliced(marker + 1);
        if (line.isEmpty())
            return true;
    }
}

bool ImportRun::takePart(QByteArrayView line)
{
    // A comment block: a transfer's header line follows it.
    if (isComment(line)) {
        m_inHead = true;
        ++m_commentLines;
        return true;
    }
    if (m_inHead) {
        // The first transfer's header is the first line after the comment
        // block, whatever it holds; a later one is a line after a comment
        // block that is no record.
        if (!m_inTransfer)
            return startTransfer(line);
        if (Usage::detail::IsSkippedLine(line)) {
            ++m_counts.skipped;
            return true;
        }
        Usage::RecordStamp stamp;
        if (!Usage::ReadRecordStamp(line, &stamp) || !QDate(2000 + stamp.year, stamp.month, stamp.day).isValid())
            return startTransfer(line);
        // A stray comment line between records.
        m_inHead = false;
        m_counts.skipped += m_commentLines;
        m_commentLines = 0;
    }
    if (Usage::detail::IsSkippedLine(line)) {
        ++m_counts.skipped;
        return true;
    }
    Usage::RecordStamp s;
    if (!Usage::ReadRecordStamp(line, &s)) {
        ++m_counts.skipped;
        return true;
    }
    int day = m_lastDate.day();
    if (!m_lastDate.sameDate(line)) {
        const QDate date(2000 + s.year, s.month, s.day);
        if (!date.isValid()) {
            ++m_counts.skipped;
            return true;
        }
        day = DayKey(date);
        m_lastDate.remember(line, day);
    }
    const qint64 t = qint64(day) * SecondsPerDay + s.hour * 3600 + s.minute * 60 + s.second;
    // A batch holds ascending seconds, as many and as far apart as the
    // records table takes at once.
    if (m_batch.size() > 0
        && (t <= m_batch.t.back() || t - m_batch.t.front() > m_records->maxSpan()
            || m_batch.size() >= m_records->maxRecords())
        && !flush())
        return false;
    if (!m_cutLine.isEmpty())
        m_lastRecordLine.assign(line.data(), std::size_t(line.size()));
    addRecord(m_batch, t, line);
    return true;
}

// The header line names the locator before any of its records is written.
bool ImportRun::startTransfer(QByteArrayView header)
{
    if (!flush())
        return false;
    const LocatorIdentity id = DataFileHeader::IdentityFromHeaderLine(header.toByteArray());
    if (id.serialNo.isEmpty()) {
        return fail(
            m_inTransfer
                ? QStringLiteral("%1 holds a transfer whose header line names no serial number, so its records "
                                 "belong to no locator")
                      .arg(m_name)
                : QStringLiteral("%1 names no serial number in its header line, so its records belong to no locator")
                      .arg(m_name));
    }
    if (!upsertId(QStringLiteral("locators"), QStringLiteral("serial"), id.serialNo, QStringLiteral("model"), id.model,
                  &m_locator)
        || !upsertId(QStringLiteral("users"), QStringLiteral("name"), id.user, QString(), QString(), &m_user))
        return false;
    if (!m_inTransfer)
        m_result.identity = id;
    m_result.transfers << id;
    m_usage.setOwner(m_locator, m_user);
    m_inTransfer = true;
    m_inHead = false;
    m_commentLines = 0;
    return true;
}

bool ImportRun::upsertId(const QString &table, const QString &keyColumn, const QString &key, const QString &extraColumn,
                         const QString &extraValue, qint64 *id)
{
    QSqlQuery q(m_db);
    const QString insert = extraColumn.isEmpty()
        ? QStringLiteral("INSERT INTO %1 (%2) VALUES (?) ON CONFLICT (%2) DO NOTHING").arg(table, keyColumn)
        : QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, ?) ON CONFLICT (%2) DO UPDATE SET %3 = excluded.%3")
              .arg(table, keyColumn, extraColumn);
    q.prepare(insert);
    q.addBindValue(key);
    if (!extraColumn.isEmpty())
        q.addBindValue(extraValue);
    if (!q.exec())
        return fail(q.lastError().text());
    q.prepare(QStringLiteral("SELECT id FROM %1 WHERE %2 = ?").arg(table, keyColumn));
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return fail(q.lastError().text());
    *id = q.value(0).toLongLong();
    return true;
}

// Writes the batch: its new records, and those in conflict.
bool ImportRun::flush()
{
    if (m_batch.size() == 0)
        return true;
    BatchCounts counts;
    if (!m_records->write(m_locator, m_user, m_batch, &counts, &m_usage))
        return fail(m_records->error());
    m_counts.added += counts.added;
    m_counts.duplicates += counts.duplicates;
    m_counts.conflicts += counts.conflicts;
    m_batch.clear();
    return true;
}

// A line the file ends part-way through holds a record cut short: read as
// one it would keep wrong content, or another second, for good. The last
// record taken is still in the batch: nothing flushes after it.
void ImportRun::dropCutRecord()
{
    if (m_batch.size() == 0 || m_cutLine.isEmpty() || QByteArrayView(m_lastRecordLine) != QByteArrayView(m_cutLine))
        return;
    m_batch.text.resize(m_batch.start.back());
    m_batch.start.pop_back();
    m_batch.t.pop_back();
    ++m_counts.skipped;
}

bool ImportRun::writeUsageTotals()
{
    m_query.prepare(QStringLiteral("INSERT INTO usage_days (locator, user_id, day, mode, seconds)"
                                   " VALUES (?, ?, ?, ?, ?) ON CONFLICT (locator, user_id, day, mode)"
                                   " DO UPDATE SET seconds = usage_days.seconds + excluded.seconds"));
    for (const auto &[key, seconds] : m_usage.perDay()) {
        for (int mode = 0; mode < UsageModes; ++mode) {
            if (seconds[std::size_t(mode)] == 0)
                continue;
            m_query.bindValue(0, key.locator);
            m_query.bindValue(1, key.user);
            m_query.bindValue(2, key.day);
            m_query.bindValue(3, mode);
            m_query.bindValue(4, seconds[std::size_t(mode)]);
            if (!m_query.exec())
                return fail(m_query.lastError().text());
        }
    }
    return true;
}

// The file's fingerprint and counts, for knowing it again.
bool ImportRun::recordFile()
{
    QStringList serials;
    for (const LocatorIdentity &id : std::as_const(m_result.transfers)) {
        if (!serials.contains(id.serialNo))
            serials << id.serialNo;
    }
    m_query.prepare(QStringLiteral("INSERT INTO imported_files (fingerprint, size, name, serial, imported_at, added,"
                                   " duplicates, skipped, conflicts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    m_query.addBindValue(m_fingerprint);
    m_query.addBindValue(qint64(m_file.bytes().size()));
    m_query.addBindValue(QFileInfo(m_path).fileName());
    m_query.addBindValue(serials.join(QLatin1Char(',')));
    m_query.addBindValue(Clock::nowUtc().toString(Qt::ISODate));
    m_query.addBindValue(m_counts.added);
    m_query.addBindValue(m_counts.duplicates);
    m_query.addBindValue(m_counts.skipped);
    m_query.addBindValue(m_counts.conflicts);
    if (!m_query.exec())
        return fail(m_query.lastError().text());
    return true;
}

bool ImportRun::commit()
{
    // No statement of the import may stay open over the commit.
    m_query.finish();
    m_records.reset();
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("COMMIT")))
        return fail(QStringLiteral("the archive cannot be written: %1").arg(q.lastError().text()));
    m_committed = true;
    return true;
}

}  // namespace Archive
