#include "core/archive/ImportRun.h"

#include "core/datafile/DataFileHeader.h"
#include "core/usage/ModeTable.h"
#include "core/usage/RecordLines.h"
#include "core/usage/UsageTexts.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

#include <algorithm>
#include <cstring>

namespace Archive {

namespace {

constexpr char kEndMarker = '\x1a';
// A batch covers at most a day of the locator's clock, so looking up what
// the archive already holds for it reads at most a day's records.
constexpr std::size_t kBatchRecords = 16384;
// Where a record line holds its mode letter (character 19), and which of its
// comma-separated fields follow the mode (frequency, measurement, depth,
// signal strength).
constexpr qsizetype kModeAt = 18;
constexpr int kFirstTailField = 3;
constexpr int kLineFields = 7;

QString readFingerprint(QFile &file, qint64 *size, QString *error)
{
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0) {
            *error = file.errorString();
            return {};
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(block.constData(), n));
        total += n;
    }
    *size = total;
    return QString::fromLatin1(hash.result().toHex()) + QLatin1Char('-') + QString::number(total);
}

// Only as long a last line as a record could be is looked for.
FileEnd readFileEnd(QFile &file, qint64 size)
{
    constexpr qint64 kLongest = 256;
    FileEnd end;
    if (size == 0 || !file.seek(std::max<qint64>(0, size - kLongest)))
        return end;
    QByteArray tail = file.read(kLongest);
    const bool lineEnded = tail.endsWith('\r') || tail.endsWith('\n');
    while (tail.endsWith('\r') || tail.endsWith('\n'))
        tail.chop(1);
    const qsizetype lineEnd = std::max(tail.lastIndexOf('\r'), tail.lastIndexOf('\n'));
    if (tail.isEmpty() || lineEnd < 0)
        return end;
    if (tail.endsWith(kEndMarker))
        end.markerLine = tail.mid(lineEnd + 1);
    else if (!lineEnded)
        end.cutLine = tail.mid(lineEnd + 1);
    return end;
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

// A content's usage mode: its mode field is one mode letter, or the record
// is of no mode.
int usageMode(std::string_view content)
{
    const bool oneLetter = content.size() == 1 || (content.size() > 1 && content[1] == FieldSeparator);
    const int mode = oneLetter ? ModeTable::IndexOf(content[0]) : -1;
    return mode < 0 ? OtherMode : mode;
}

// A batch holds ascending seconds of at most a day, and a bounded number.
bool batchTakes(const RecordBatch &batch, qint64 t)
{
    return batch.size() == 0
        || (t > batch.t.back() && t - batch.t.front() <= SecondsPerDay && batch.size() < kBatchRecords);
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
    bool before = false;
    if (!fingerprint() || !begin() || !alreadyImported(&before) || before)
        return m_result;
    if (identify() && read() && writeUsageTotals() && recordFile() && commit()) {
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

bool ImportRun::fingerprint()
{
    QFile file(m_path);
    if (QFileInfo(m_path).isDir() || !file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(m_name, file.errorString()));
    QString why;
    m_fingerprint = readFingerprint(file, &m_size, &why);
    if (m_fingerprint.isEmpty())
        return fail(QStringLiteral("cannot read %1: %2").arg(m_name, why));
    m_end = readFileEnd(file, m_size);
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
    if (!*before)
        return true;
    m_result.status = ImportResult::AlreadyImported;
    m_result.counts.added = m_query.value(0).toLongLong();
    m_result.counts.duplicates = m_query.value(1).toLongLong();
    m_result.counts.skipped = m_query.value(2).toLongLong();
    m_result.counts.conflicts = m_query.value(3).toLongLong();
    m_query.finish();
    QByteArray header;
    if (DataFileHeader::ReadHeaderLine(m_slot, m_path, &header))
        m_result.identity = DataFileHeader::IdentityFromHeaderLine(header);
    return true;
}

// The header line names the locator before any record is written.
bool ImportRun::identify()
{
    QByteArray header;
    if (!DataFileHeader::ReadHeaderLine(m_slot, m_path, &header))
        return fail(QStringLiteral("cannot read %1: it cannot be opened or has no header line").arg(m_name));
    const LocatorIdentity &id = m_result.identity = DataFileHeader::IdentityFromHeaderLine(header);
    if (id.serialNo.isEmpty())
        return fail(QStringLiteral("%1 names no serial number in its header line, so its records belong to no locator")
                        .arg(m_name));
    return upsertId(QStringLiteral("locators"), QStringLiteral("serial"), id.serialNo, QStringLiteral("model"),
                    id.model, &m_locator)
        && upsertId(QStringLiteral("users"), QStringLiteral("name"), id.user, QString(), QString(), &m_user);
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

bool ImportRun::read()
{
    if (m_kind == Location::Sqlite)
        m_records = MakeSqliteRecordTable(m_db);
    if (!m_records)
        m_records = MakeSqlRecordTable(m_db);
    const Usage::RecordLinesReading reading
        = Usage::ReadRecordLines(m_slot, m_path, [this](QByteArrayView line) { return takeLine(line); });
    if (failed())
        return false;
    if (!reading.ok())
        return fail(Usage::ReadFailureText(reading, m_path).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    dropCutRecord();
    if (!flush())
        return false;
    m_counts.skipped += reading.skipped;
    return true;
}

// One candidate record line; false stops the reading (a failure).
bool ImportRun::takeLine(QByteArrayView line)
{
    if (m_control) {
        if (m_control->cancel.load(std::memory_order_relaxed)) {
            m_result.cancelled = true;
            return fail(QStringLiteral("the import of %1 was cancelled").arg(m_name));
        }
        m_control->bytesRead.fetch_add(line.size() + 2, std::memory_order_relaxed);
    }
    if (!line.isEmpty() && line.back() == kEndMarker && line == QByteArrayView(m_end.markerLine)) {
        line.chop(1);
        if (line.isEmpty())
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
    if (!batchTakes(m_batch, t) && !flush())
        return false;
    if (!m_end.cutLine.isEmpty())
        m_lastRecordLine.assign(line.data(), std::size_t(line.size()));
    addRecord(m_batch, t, line);
    return true;
}

// Writes the batch's records that are new to the archive.
bool ImportRun::flush()
{
    if (m_batch.size() == 0)
        return true;
    if (!m_records->existing(m_locator, m_batch.t.front(), m_batch.t.back(), &m_existing))
        return fail(m_records->error());
    sortOutBatch();
    if (!m_records->insert(m_locator, m_user, m_batch, m_fresh))
        return fail(m_records->error());
    m_counts.added += qint64(m_fresh.size());
    m_batch.clear();
    return true;
}

// Which of the batch's seconds the archive holds (the same record, or
// another one), and which are fresh; the fresh ones' usage is counted.
void ImportRun::sortOutBatch()
{
    m_fresh.clear();
    std::size_t j = 0;
    for (std::size_t i = 0; i < m_batch.size(); ++i) {
        const qint64 t = m_batch.t[i];
        while (j < m_existing.size() && m_existing[j].t < t)
            ++j;
        const std::string_view content = m_batch.content(i);
        if (j < m_existing.size() && m_existing[j].t == t) {
            if (m_existing[j].content == content)
                ++m_counts.duplicates;
            else
                ++m_counts.conflicts;
            continue;
        }
        m_fresh.push_back(i);
        m_usage.add(int(t / SecondsPerDay), usageMode(content));
    }
}

// A line the file ends part-way through holds a record cut short: read as
// one it would keep wrong content, or another second, for good. The last
// record taken is still in the batch: nothing flushes after it.
void ImportRun::dropCutRecord()
{
    if (m_batch.size() == 0 || m_end.cutLine.isEmpty()
        || QByteArrayView(m_lastRecordLine) != QByteArrayView(m_end.cutLine))
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
    for (const auto &[day, seconds] : m_usage.perDay()) {
        for (int mode = 0; mode < UsageModes; ++mode) {
            if (seconds[std::size_t(mode)] == 0)
                continue;
            m_query.bindValue(0, m_locator);
            m_query.bindValue(1, m_user);
            m_query.bindValue(2, day);
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
    m_query.prepare(QStringLiteral("INSERT INTO imported_files (fingerprint, size, name, serial, imported_at, added,"
                                   " duplicates, skipped, conflicts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    m_query.addBindValue(m_fingerprint);
    m_query.addBindValue(m_size);
    m_query.addBindValue(QFileInfo(m_path).fileName());
    m_query.addBindValue(m_result.identity.serialNo);
    m_query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
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
