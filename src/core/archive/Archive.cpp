#include "core/archive/Archive.h"

#include "core/archive/ArchiveSchema.h"
#include "core/archive/ImportRun.h"
#include "core/archive/RecordTable.h"
#include "core/usage/ModeTable.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <limits>

namespace Archive {

namespace {

const QDate kEpoch(2000, 1, 1);

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("locator-archive-%1").arg(counter.fetchAndAddRelaxed(1));
}

void setUpPostgres(QSqlDatabase &db, const Location &location)
{
    // Empty parts are left out, so libpq fills them in: from the
    // environment, a service file, ~/.pgpass.
    db.setHostName(location.host);
    db.setUserName(location.user);
    db.setPassword(location.password);
    db.setDatabaseName(location.database);
    db.setConnectOptions(PostgresConnectOptions(location));
}

// False, with *error, for a path that is no archive to open.
bool setUpSqlite(QSqlDatabase &db, const Location &location, Store::OpenMode mode, QString *error)
{
    const bool readOnly = mode == Store::ExistingOnly;
    const QFileInfo info(location.path);
    if (info.isDir()) {
        *error = QStringLiteral("%1 is a folder, not an archive file").arg(location.display());
        return false;
    }
    if (readOnly && !info.exists()) {
        *error = QStringLiteral("there is no archive at %1 (import data files first)").arg(location.display());
        return false;
    }
    QString why;
    if (!readOnly && !CreateSqliteFile(location.path, &why)) {
        *error = QStringLiteral("cannot open the archive %1: %2").arg(location.display(), why);
        return false;
    }
    db.setDatabaseName(location.path);
    // Another program writing (an import of a big file, say) is waited
    // for, not failed.
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=600000");
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    return true;
}

// The session set up and the tables checked (reading) or brought up to date
// (writing), after the checks that refuse the database.
bool prepareArchive(QSqlDatabase &db, bool postgres, Store::OpenMode mode, QString *why)
{
    const bool readOnly = mode == Store::ExistingOnly;
    if (!PrepareSession(db, postgres, readOnly, why))
        return false;
    return readOnly ? CheckSchemaCurrent(db, why) : MigrateSchema(db, postgres, why);
}

}  // namespace

qint64 SecondKey(const QDate &day, int secondOfDay)
{
    return qint64(DayKey(day)) * SecondsPerDay + secondOfDay;
}

QDateTime FromSecondKey(qint64 key)
{
    const qint64 day = key >= 0 ? key / SecondsPerDay : (key - SecondsPerDay + 1) / SecondsPerDay;
    return QDateTime(FromDayKey(int(day)), QTime(0, 0).addSecs(int(key - day * SecondsPerDay)), Qt::LocalTime);
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
        setUpPostgres(m_db, location);
    } else if (!setUpSqlite(m_db, location, mode, error)) {
        close();
        return false;
    }
    QString why;
    if (!m_db.open())
        why = m_db.lastError().text();
    else if (prepareArchive(m_db, postgres, mode, &why))
        return true;
    *error = QStringLiteral("cannot open the archive %1: %2").arg(location.display(), why);
    close();
    return false;
}

ImportResult Store::importFile(const QString &path, ImportControl *control)
{
    if (!isOpen()) {
        ImportResult result;
        result.error = QStringLiteral("the archive is not open");
        return result;
    }
    return ImportRun(m_db, m_location.kind, path, control).run();
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

namespace {

QString recordText(const QSqlQuery &q, int first)
{
    QStringList fields;
    for (int i = first; i < first + ContentFields; ++i)
        fields << q.value(i).toString();
    return fields.join(QLatin1Char(','));
}

}  // namespace

bool Store::conflicts(QList<Conflict> *out, QString *error)
{
    out->clear();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT l.serial, c.t, r.mode, r.frequency, r.measurement, r.depth, r.signal, c.mode, c.frequency,"
            " c.measurement, c.depth, c.signal, f.name FROM conflicts c JOIN locators l ON l.id = c.locator"
            " LEFT JOIN records r ON r.locator = c.locator AND r.t = c.t"
            " LEFT JOIN imported_files f ON f.fingerprint = c.file"
            " ORDER BY l.serial, c.t, c.mode, c.frequency, c.measurement, c.depth, c.signal"))) {
        *error = q.lastError().text();
        return false;
    }
    while (q.next()) {
        Conflict c;
        c.serial = q.value(0).toString();
        c.second = FromSecondKey(q.value(1).toLongLong());
        c.archived = recordText(q, 2);
        c.conflicting = recordText(q, 2 + ContentFields);
        c.file = q.value(2 + 2 * ContentFields).toString();
        out->append(c);
    }
    return true;
}

qint64 Store::conflictSeconds(const QDate &from, const QDate &to, QString *error)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral(
        "SELECT COUNT(*) FROM (SELECT DISTINCT locator, t FROM conflicts WHERE t BETWEEN ? AND ?) AS seconds"));
    q.addBindValue(from.isValid() ? SecondKey(from, 0) : std::numeric_limits<qint64>::min());
    q.addBindValue(to.isValid() ? SecondKey(to, int(SecondsPerDay) - 1) : std::numeric_limits<qint64>::max());
    if (!q.exec() || !q.next()) {
        *error = q.lastError().text();
        return -1;
    }
    return q.value(0).toLongLong();
}

bool Store::checkTotals(QString *mismatch, QString *error)
{
    mismatch->clear();
    // Both sides summed per key: a key on one side only sums to 0 on the other.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT locator, user_id, day, mode, SUM(held), SUM(counted) FROM ("
                               "SELECT locator, user_id, day, mode, seconds AS held, 0 AS counted FROM usage_days"
                               " UNION ALL SELECT locator, user_id, t / %1, %2, 0, 1 FROM records) AS keys"
                               " GROUP BY locator, user_id, day, mode HAVING SUM(held) <> SUM(counted)"
                               " ORDER BY locator, user_id, day, mode LIMIT 1")
                    .arg(SecondsPerDay)
                    .arg(UsageModeSql(QStringLiteral("mode"))))) {
        *error = q.lastError().text();
        return false;
    }
    if (!q.next()) {
        if (q.lastError().isValid()) {
            *error = q.lastError().text();
            return false;
        }
        return true;
    }
    const qint64 locator = q.value(0).toLongLong();
    const qint64 user = q.value(1).toLongLong();
    const QDate day = FromDayKey(q.value(2).toInt());
    const int mode = q.value(3).toInt();
    const qint64 held = q.value(4).toLongLong();
    const qint64 counted = q.value(5).toLongLong();
    q.finish();
    QString serial, name;
    if (q.exec(QStringLiteral("SELECT serial FROM locators WHERE id = %1").arg(locator)) && q.next())
        serial = q.value(0).toString();
    q.finish();
    if (q.exec(QStringLiteral("SELECT name FROM users WHERE id = %1").arg(user)) && q.next())
        name = q.value(0).toString();
    q.finish();
    const QString modeName = mode >= 0 && mode < ModeTable::Count
        ? QString::fromLatin1(ModeTable::Modes[std::size_t(mode)].name.data(),
                              qsizetype(ModeTable::Modes[std::size_t(mode)].name.size()))
        : QStringLiteral("no mode");
    *mismatch = QStringLiteral("the daily totals of serial no. %1, user %2, %3, %4 hold %5 seconds, but the records "
                               "make %6")
                    .arg(serial, name, day.toString(QStringLiteral("dd/MM/yyyy")), modeName, QString::number(held),
                         QString::number(counted));
    return false;
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

QStringList DataFilesIn(const QStringList &paths)
{
    QStringList files;
    for (const QString &path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        const QDir dir(path);
        const QStringList names = dir.entryList({QStringLiteral("*.csv"), QStringLiteral("*.CSV")},
                                                QDir::Files | QDir::Readable, QDir::Name);
        for (const QString &name : names)
            files << dir.filePath(name);
    }
    files.removeDuplicates();
    return files;
}

}  // namespace Archive
