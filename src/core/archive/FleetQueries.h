#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

class QSqlDatabase;

// What the archive knows of each locator of a fleet, for the Fleet window's
// list: read from an open archive's connection, on the thread that owns it.
namespace Archive {

struct LocatorSummary
{
    QString serial;
    QString model;  // as the locator's latest file named it
    QString lastUser;  // the user of its last archived second
    QDate firstDay;  // its first and last archived days (invalid: none)
    QDate lastDay;
    qint64 records = 0;
    QDateTime lastSynced;  // UTC, the last import of one of its files; invalid when unknown
};

// Every locator of the archive, by serial number. False with *error.
bool ReadLocatorSummaries(const QSqlDatabase &db, QList<LocatorSummary> *locators, QString *error);

// Whether a locator has gone more than `days` days without a sync at `now`
// (never synced counts as overdue).
bool SyncOverdue(const LocatorSummary &locator, const QDateTime &now, int days);

}  // namespace Archive
