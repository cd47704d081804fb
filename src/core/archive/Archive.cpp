#include "core/archive/Archive.h"

#include "core/archive/ArchiveSchema.h"
#include "core/archive/RecordStore.h"
#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"
#include "core/usage/RecordLines.h"
#include "core/usage/UsageTexts.h"

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace Archive {

namespace {

const QDate kEpoch(2000, 1, 1);
constexpr qint64 kDay = 86400;
// A batch covers at most a day of the locator's clock, so looking up what
// the archive already holds for it reads at most a day's records.
constexpr std::size_t kBatchRecords = 16384;

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("locator-archive-%1").arg(counter.fetchAndAddRelaxed(1));
}

// A record's fields as the archive keeps them: text that every server takes.
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

// Fields 4 to 7 of a record line (frequency, measurement, depth, signal
// strength), split at ",".
std::array<QByteArrayView, 4> tailFields(QByteArrayView line)
{
    std::array<QByteArrayView, 4> out{};
    qsizetype pos = 0;
    for (int field = 0; field < 7; ++field) {
        const qsizetype comma = line.indexOf(',', pos);
        const qsizetype end = comma < 0 ? line.size() : comma;
        if (field >= 3)
            out[std::size_t(field - 3)] = line.sliced(pos, end - pos);
        if (comma < 0)
            break;
        pos = comma + 1;
    }
    return out;
}

QString fingerprintOf(QFile &file, qint64 *size, QString *error)
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

constexpr char kEndMarker = '\x1a';

// How a data file ends, from its last bytes. Only as long a line as a record
// could be is looked for.
struct FileEnd
{
    // The last line when no line end and no end marker follows it: a
    // transfer cut off by a lost link.
    QByteArray cutLine;
    // The last line when it ends with the end marker (line ends may follow),
    // marker included: a complete transfer's end, which is no line of its own.
    QByteArray markerLine;
};

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

}  // namespace

qint64 SecondKey(const QDate &day, int secondOfDay)
{
    return qint64(DayKey(day)) * kDay + secondOfDay;
}

QDateTime FromSecondKey(qint64 key)
{
    const qint64 day = key >= 0 ? key / kDay : (key - kDay + 1) / kDay;
    return QDateTime(FromDayKey(int(day)), QTime(0, 0).addSecs(int(key - day * kDay)), Qt::LocalTime);
}

int DayKey(const QDate &day)
{
    return int(kEpoch.daysTo(day));
}

QDate FromDayKey(int key)
{
    return kEpoch.addDays(key);
}

Store::Store() = default;

Store::~Store()
{
    close();
}

bool Store::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

void Store::close()
{
    if (m_connection.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}

bool Store::open(const Location &location, QString *error, OpenMode mode)
{
    close();
    m_location = location;
    const bool postgres = location.kind == Location::Postgres;
    const QString driver = postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                     .arg(driver, postgres ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-sqlite"));
        return false;
    }
    m_connection = nextConnectionName();
    m_db = QSqlDatabase::addDatabase(driver, m_connection);
    if (postgres) {
        m_db.setHostName(location.host);
        m_db.setPort(location.port);
        m_db.setUserName(location.user);
        m_db.setPassword(location.password);
        m_db.setDatabaseName(location.database);
        m_db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
        const QFileInfo info(location.path);
        if (info.isDir()) {
            *error = QStringLiteral("%1 is a folder, not an archive file").arg(location.display());
            close();
            return false;
        }
        if (mode == ExistingOnly && !info.exists()) {
            *error = QStringLiteral("there is no archive at %1 (import data files first)").arg(location.display());
            close();
            return false;
        }
        QDir().mkpath(info.absolutePath());
        m_db.setDatabaseName(location.path);
        // Another program (a second import, say) holding the file briefly is waited for.
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    }
    auto failed = [&](const QString &what) {
        *error = QStringLiteral("cannot open the archive %1: %2").arg(location.display(), what);
        close();
        return false;
    };
    if (!m_db.open())
        return failed(m_db.lastError().text());
    QString why;
    if (mode == ExistingOnly) {
        int version = 0;
        if (!ReadSchemaVersion(m_db, &version, &why))
            return failed(why);
        if (version == 0)
            return failed(QStringLiteral("it holds no usage archive (import data files first)"));
    }
    if (!MigrateSchema(m_db, postgres, &why))
        return failed(why);
    if (!postgres) {
        // Only now: an archive that was refused above is not touched at all.
        for (const char *pragma :
             {"PRAGMA synchronous = NORMAL", "PRAGMA cache_size = -65536", "PRAGMA temp_store = MEMORY"}) {
            if (!exec(QString::fromLatin1(pragma), &why))
                return failed(why);
        }
    }
    return true;
}

bool Store::exec(const QString &sql, QString *error)
{
    QSqlQuery q(m_db);
    if (!q.exec(sql)) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

bool Store::begin(QString *error)
{
    // SQLite: take the write lock now, not at the first insert, so two
    // imports at once wait for each other instead of one failing part-way.
    return exec(m_location.kind == Location::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"),
                error);
}

bool Store::idFor(const QString &table, const QString &keyColumn, const QString &key, const QString &extraColumn,
                  const QString &extraValue, qint64 *id, QString *error)
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
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    q.prepare(QStringLiteral("SELECT id FROM %1 WHERE %2 = ?").arg(table, keyColumn));
    q.addBindValue(key);
    if (!q.exec() || !q.next()) {
        *error = q.lastError().text();
        return false;
    }
    *id = q.value(0).toLongLong();
    return true;
}

ImportResult Store::importFile(const QString &path)
{
    ImportResult result;
    const QString name = QDir::toNativeSeparators(path);
    auto fail = [&](const QString &what) {
        result.status = ImportResult::Failed;
        result.error = what;
        return result;
    };
    if (!isOpen())
        return fail(QStringLiteral("the archive is not open"));

    QString fingerprint;
    qint64 size = 0;
    FileEnd fileEnd;
    {
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
        QString why;
        fingerprint = fingerprintOf(file, &size, &why);
        if (fingerprint.isEmpty())
            return fail(QStringLiteral("cannot read %1: %2").arg(name, why));
        fileEnd = readFileEnd(file, size);
    }

    // Declared before the transaction's guard, so their statements are let go
    // after a rollback, never inside a transaction the server has aborted.
    std::unique_ptr<RecordStore> store;
    QSqlQuery q(m_db);
    QString why;
    if (!begin(&why))
        return fail(QStringLiteral("the archive cannot be written: %1").arg(why));
    bool committed = false;
    // Whatever goes wrong from here, the file's rows go with the transaction.
    struct Rollback
    {
        Store &store;
        bool &committed;
        ~Rollback()
        {
            if (!committed) {
                QString ignored;
                store.exec(QStringLiteral("ROLLBACK"), &ignored);
            }
        }
    } rollback{*this, committed};

    {
        q.prepare(
            QStringLiteral("SELECT added, duplicates, skipped, conflicts FROM imported_files WHERE fingerprint = ?"));
        q.addBindValue(fingerprint);
        if (!q.exec())
            return fail(q.lastError().text());
        if (q.next()) {
            result.status = ImportResult::AlreadyImported;
            result.counts.added = q.value(0).toLongLong();
            result.counts.duplicates = q.value(1).toLongLong();
            result.counts.skipped = q.value(2).toLongLong();
            result.counts.conflicts = q.value(3).toLongLong();
            q.finish();
            DataFileHandle slot;
            QByteArray header;
            if (DataFileHeader::ReadHeaderLine(slot, path, &header))
                result.identity = DataFileHeader::IdentityFromHeaderLine(header);
            return result;
        }
    }

    if (m_location.kind == Location::Sqlite)
        store = MakeSqliteRecordStore(m_db);
    if (!store)
        store = MakeSqlRecordStore(m_db);

    // The locator's row stays locked from its upsert to the commit, so PCs
    // importing the same locator's files into one server take turns and
    // never both count a second as new.
    qint64 locatorId = -1;
    qint64 userId = -1;
    bool identified = false;
    QString failure;
    ImportCounts counts;
    RecordBatch batch;
    std::vector<StoredRecord> existing;
    std::vector<std::size_t> fresh;
    QHash<qint64, qint64> secondsByDayMode;  // day * 8 + mode
    char lastDateText[8] = {};
    int lastDay = -1;
    std::string lastRecordLine;

    auto identify = [&](const QByteArray &headerLine) {
        result.identity = DataFileHeader::IdentityFromHeaderLine(headerLine);
        if (result.identity.serialNo.isEmpty()) {
            failure = QStringLiteral("%1 names no serial number in its header line, so its records belong to no "
                                     "locator")
                          .arg(name);
            return false;
        }
        QString err;
        if (!idFor(QStringLiteral("locators"), QStringLiteral("serial"), result.identity.serialNo,
                   QStringLiteral("model"), result.identity.model, &locatorId, &err)
            || !idFor(QStringLiteral("users"), QStringLiteral("name"), result.identity.user, QString(), QString(),
                      &userId, &err)) {
            failure = err;
            return false;
        }
        identified = true;
        return true;
    };

    auto flush = [&]() {
        if (batch.size() == 0)
            return true;
        if (!store->existing(locatorId, batch.t.front(), batch.t.back(), &existing)) {
            failure = store->error();
            return false;
        }
        fresh.clear();
        std::size_t j = 0;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const qint64 t = batch.t[i];
            while (j < existing.size() && existing[j].t < t)
                ++j;
            if (j < existing.size() && existing[j].t == t) {
                if (existing[j].content == batch.content(i))
                    ++counts.duplicates;
                else
                    ++counts.conflicts;
                continue;
            }
            fresh.push_back(i);
            const std::string_view content = batch.content(i);
            const int mode = content.size() == 1 || (content.size() > 1 && content[1] == FieldSeparator)
                ? ModeTable::IndexOf(content[0])
                : -1;
            secondsByDayMode[(t / kDay) * 8 + (mode < 0 ? OtherMode : mode)] += 1;
        }
        if (!store->insert(locatorId, userId, batch, fresh)) {
            failure = store->error();
            return false;
        }
        counts.added += qint64(fresh.size());
        batch.clear();
        return true;
    };

    // The header line names the locator before any record is written.
    DataFileHandle slot;
    {
        QByteArray header;
        if (!DataFileHeader::ReadHeaderLine(slot, path, &header)) {
            return fail(QStringLiteral("cannot read %1: it cannot be opened or has no header line").arg(name));
        }
        if (!identify(header))
            return fail(failure);
    }

    const Usage::RecordLinesReading read = Usage::ReadRecordLines(slot, path, [&](QByteArrayView line) {
        if (!line.isEmpty() && line.back() == kEndMarker && line == QByteArrayView(fileEnd.markerLine)) {
            line.chop(1);
            if (line.isEmpty())
                return true;
        }
        Usage::RecordStamp s;
        int dayKey;
        if (line.size() >= 8 && lastDay >= 0 && std::memcmp(line.data(), lastDateText, 8) == 0) {
            dayKey = lastDay;
            if (!Usage::ReadRecordStamp(line, &s)) {
                ++counts.skipped;
                return true;
            }
        } else {
            if (!Usage::ReadRecordStamp(line, &s)) {
                ++counts.skipped;
                return true;
            }
            const QDate date(2000 + s.year, s.month, s.day);
            if (!date.isValid()) {
                ++counts.skipped;
                return true;
            }
            dayKey = DayKey(date);
            if (line.size() >= 8) {
                std::memcpy(lastDateText, line.data(), 8);
                lastDay = dayKey;
            }
        }
        const qint64 t = qint64(dayKey) * kDay + s.hour * 3600 + s.minute * 60 + s.second;
        if (batch.size() > 0 && (t <= batch.t.back() || t - batch.t.front() > kDay || batch.size() >= kBatchRecords)) {
            if (!flush())
                return false;
        }
        if (!fileEnd.cutLine.isEmpty())
            lastRecordLine.assign(line.data(), std::size_t(line.size()));
        batch.t.push_back(t);
        batch.start.push_back(batch.text.size());
        if (line.size() >= 19)
            appendField(batch.text, line.sliced(18, 1));
        for (QByteArrayView field : tailFields(line)) {
            batch.text += FieldSeparator;
            appendField(batch.text, field);
        }
        return true;
    });
    if (!failure.isEmpty())
        return fail(failure);
    if (!read.ok())
        return fail(Usage::ReadFailureText(read, path).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    // A line the file ends part-way through holds a record cut short: read
    // as one it would keep wrong content, or another second, for good.
    // The last record taken is still in the batch: nothing flushes after it.
    if (batch.size() > 0 && !fileEnd.cutLine.isEmpty()
        && QByteArrayView(lastRecordLine) == QByteArrayView(fileEnd.cutLine)) {
        batch.text.resize(batch.start.back());
        batch.start.pop_back();
        batch.t.pop_back();
        ++counts.skipped;
    }
    if (!identified || !flush())
        return fail(failure);
    counts.skipped += read.skipped;

    q.prepare(QStringLiteral("INSERT INTO usage_days (locator, user_id, day, mode, seconds) VALUES (?, ?, ?, ?, ?)"
                             " ON CONFLICT (locator, user_id, day, mode)"
                             " DO UPDATE SET seconds = usage_days.seconds + excluded.seconds"));
    for (auto it = secondsByDayMode.cbegin(); it != secondsByDayMode.cend(); ++it) {
        q.bindValue(0, locatorId);
        q.bindValue(1, userId);
        q.bindValue(2, int(it.key() / 8));
        q.bindValue(3, int(it.key() % 8));
        q.bindValue(4, it.value());
        if (!q.exec())
            return fail(q.lastError().text());
    }
    q.prepare(QStringLiteral("INSERT INTO imported_files (fingerprint, size, name, serial, imported_at, added,"
                             " duplicates, skipped, conflicts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(fingerprint);
    q.addBindValue(size);
    q.addBindValue(QFileInfo(path).fileName());
    q.addBindValue(result.identity.serialNo);
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    q.addBindValue(counts.added);
    q.addBindValue(counts.duplicates);
    q.addBindValue(counts.skipped);
    q.addBindValue(counts.conflicts);
    if (!q.exec())
        return fail(q.lastError().text());
    q.finish();
    store.reset();
    if (!exec(QStringLiteral("COMMIT"), &why))
        return fail(QStringLiteral("the archive cannot be written: %1").arg(why));
    committed = true;
    result.status = ImportResult::Imported;
    result.counts = counts;
    return result;
}

std::optional<QDateTime> Store::lastArchivedSecond(const QString &serial, QString *error)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT MAX(t) FROM records WHERE locator = (SELECT id FROM locators WHERE serial = ?)"));
    q.addBindValue(serial);
    if (!q.exec() || !q.next()) {
        if (error)
            *error = q.lastError().text();
        return std::nullopt;
    }
    if (q.value(0).isNull())
        return std::nullopt;
    return FromSecondKey(q.value(0).toLongLong());
}

bool Store::usage(const QDate &from, const QDate &to, QList<UsageDay> *days, QString *error)
{
    days->clear();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT l.serial, l.model, u.name, d.day, d.mode, d.seconds FROM usage_days d"
                             " JOIN locators l ON l.id = d.locator JOIN users u ON u.id = d.user_id"
                             " WHERE d.day BETWEEN ? AND ? ORDER BY l.serial, u.name, d.day"));
    q.addBindValue(from.isValid() ? DayKey(from) : std::numeric_limits<int>::min());
    q.addBindValue(to.isValid() ? DayKey(to) : std::numeric_limits<int>::max());
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    while (q.next()) {
        const QString serial = q.value(0).toString();
        const QString user = q.value(2).toString();
        const int day = q.value(3).toInt();
        const int mode = q.value(4).toInt();
        const qint64 seconds = q.value(5).toLongLong();
        if (days->isEmpty() || days->last().serial != serial || days->last().user != user
            || DayKey(days->last().day) != day) {
            UsageDay d;
            d.serial = serial;
            d.model = q.value(1).toString();
            d.user = user;
            d.day = FromDayKey(day);
            days->append(d);
        }
        UsageDay &d = days->last();
        if (mode >= 0 && mode < 4)
            d.seconds[std::size_t(mode)] += seconds;
        d.records += seconds;
    }
    return true;
}

qint64 Store::recordCount(QString *error)
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM records")) || !q.next()) {
        if (error)
            *error = q.lastError().text();
        return -1;
    }
    return q.value(0).toLongLong();
}

}  // namespace Archive
