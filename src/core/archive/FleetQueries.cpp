#include "core/archive/FleetQueries.h"

#include "core/archive/Archive.h"

#include <QSqlError>
#include <QSqlQuery>

namespace Archive {

bool ReadLocatorSummaries(const QSqlDatabase &db, QList<LocatorSummary> *locators, QString *error)
{
    locators->clear();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Each figure by the table's key: the usage totals per locator, the last
    // record by (locator, t); the file list is one row per imported file.
    const bool ok
        = q.exec(QStringLiteral("SELECT l.serial, l.model,"
                                " (SELECT MIN(d.day) FROM usage_days d WHERE d.locator = l.id),"
                                " (SELECT MAX(d.day) FROM usage_days d WHERE d.locator = l.id),"
                                " (SELECT SUM(d.seconds) FROM usage_days d WHERE d.locator = l.id),"
                                " (SELECT u.name FROM records r JOIN users u ON u.id = r.user_id WHERE r.locator = l.id"
                                "  ORDER BY r.t DESC LIMIT 1),"
                                " (SELECT MAX(f.imported_at) FROM imported_files f WHERE f.serial = l.serial)"
                                " FROM locators l ORDER BY l.serial"));
    if (!ok) {
        *error = q.lastError().text();
        return false;
    }
    while (q.next()) {
        LocatorSummary s;
        s.serial = q.value(0).toString();
        s.model = q.value(1).toString();
        if (!q.value(2).isNull())
            s.firstDay = FromDayKey(q.value(2).toInt());
        if (!q.value(3).isNull())
            s.lastDay = FromDayKey(q.value(3).toInt());
        s.records = q.value(4).toLongLong();
        s.lastUser = q.value(5).toString();
        // Written as UTC with its "Z", so read back as UTC.
        s.lastSynced = QDateTime::fromString(q.value(6).toString(), Qt::ISODate);
        locators->append(s);
    }
    return true;
}

bool SyncOverdue(const LocatorSummary &locator, const QDateTime &now, int days)
{
    return !locator.lastSynced.isValid() || locator.lastSynced.secsTo(now) > qint64(days) * 86400;
}

}  // namespace Archive
