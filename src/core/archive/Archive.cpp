#include "core/archive/Archive.h"

#include "core/archive/ArchiveSchema.h"
#include "core/archive/ImportRun.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

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
