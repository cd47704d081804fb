#pragma once

#include "core/archive/ArchiveUsage.h"
#include "core/archive/FleetQueries.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>

// The Fleet window's two tables. Both sort by the value shown (SortRole).
namespace Fleet {

inline constexpr int SortRole = Qt::UserRole + 1;

// One row per locator; those overdue for a sync are marked.
class LocatorModel : public QAbstractTableModel
{
public:
    enum Column { Serial, Model, LastUser, FirstDay, LastDay, Records, LastSynced, Columns };

    using QAbstractTableModel::QAbstractTableModel;
    void setLocators(const QList<Archive::LocatorSummary> &locators);
    // Marks the locators not synced for more than `days` days at `now`.
    void setOverdue(int days, const QDateTime &now);
    bool isOverdue(int row) const;
    const Archive::LocatorSummary &locator(int row) const { return m_rows.at(row); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<Archive::LocatorSummary> m_rows;
    QList<bool> m_overdue;
    int m_days = 14;
    QDateTime m_now;
};

// One row per group of a usage report: the group's columns, then the modes'
// durations and the total, as the pie windows write them.
class UsageModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setGroups(Archive::GroupBy by, const QList<Archive::UsageGroup> &groups);
    Archive::GroupBy groupBy() const { return m_by; }
    const QList<Archive::UsageGroup> &groups() const { return m_groups; }
    int firstModeColumn() const;  // then the four modes, then Total

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    Archive::GroupBy m_by = Archive::GroupBy::Locator;
    QList<Archive::UsageGroup> m_groups;
};

// The label a report shows for a group: "Serial (model)", the user,
// "March 2026", "05/03/2026".
QString GroupLabel(const Archive::UsageGroup &group, Archive::GroupBy by);

}  // namespace Fleet
