#include "gui/fleet/FleetModels.h"

#include "core/archive/UsageReport.h"
#include "core/usage/ModeTable.h"
#include "core/usage/UsageTexts.h"

#include <QColor>

namespace Fleet {

namespace {

const QString kDayFormat = QStringLiteral("dd/MM/yyyy");
const QColor kOverdueGround(255, 214, 204);

QColor modeColour(int mode)
{
    const ModeTable::Rgb c = ModeTable::Modes[std::size_t(mode)].colour;
    return QColor(c.r, c.g, c.b);
}

}  // namespace

QString GroupLabel(const Archive::UsageGroup &g, Archive::GroupBy by)
{
    switch (by) {
    case Archive::GroupBy::Locator:
        return g.serial;
    case Archive::GroupBy::User:
        return g.user;
    case Archive::GroupBy::Month:
        return Usage::MonthName(g.month.month()) + QLatin1Char(' ') + QString::number(g.month.year());
    case Archive::GroupBy::Day:
        return g.day.toString(kDayFormat);
    }
    return {};
}

// ---- Locators ---------------------------------------------------------------

void LocatorModel::setLocators(const QList<Archive::LocatorSummary> &locators)
{
    beginResetModel();
    m_rows = locators;
    m_overdue.clear();
    for (const Archive::LocatorSummary &l : m_rows)
        m_overdue << (m_now.isValid() && Archive::SyncOverdue(l, m_now, m_days));
    endResetModel();
}

void LocatorModel::setOverdue(int days, const QDateTime &now)
{
    m_days = days;
    m_now = now;
    for (int i = 0; i < m_rows.size(); ++i)
        m_overdue[i] = Archive::SyncOverdue(m_rows.at(i), now, days);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, Columns - 1));
}

bool LocatorModel::isOverdue(int row) const
{
    return m_overdue.value(row);
}

int LocatorModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LocatorModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant LocatorModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Archive::LocatorSummary &l = m_rows.at(index.row());
    const bool overdue = m_overdue.value(index.row());
    if (role == Qt::BackgroundRole)
        return overdue ? QVariant(kOverdueGround) : QVariant();
    if (role == Qt::ToolTipRole && overdue)
        return QStringLiteral("Not synced for more than %1 days").arg(m_days);
    if (role == Qt::TextAlignmentRole && index.column() == Records)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == SortRole) {
        switch (index.column()) {
        case FirstDay:
            return l.firstDay;
        case LastDay:
            return l.lastDay;
        case Records:
            return l.records;
        case LastSynced:
            return l.lastSynced;
        default:
            break;
        }
        return data(index, Qt::DisplayRole).toString().toLower();
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Serial:
        return l.serial;
    case Model:
        return l.model;
    case LastUser:
        return l.lastUser;
    case FirstDay:
        return l.firstDay.toString(kDayFormat);
    case LastDay:
        return l.lastDay.toString(kDayFormat);
    case Records:
        return QLocale().toString(l.records);
    case LastSynced:
        return l.lastSynced.isValid() ? l.lastSynced.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                                      : QStringLiteral("never");
    default:
        break;
    }
    return {};
}

QVariant LocatorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *titles[Columns]
        = {"Serial No.", "Model", "Last User", "First Day", "Last Day", "Records", "Last Synced"};
    return section >= 0 && section < Columns ? QString::fromLatin1(titles[section]) : QString();
}

// ---- Usage ------------------------------------------------------------------

void UsageModel::setGroups(Archive::GroupBy by, const QList<Archive::UsageGroup> &groups)
{
    beginResetModel();
    m_by = by;
    m_groups = groups;
    endResetModel();
}

int UsageModel::firstModeColumn() const
{
    return m_by == Archive::GroupBy::Locator ? 2 : 1;
}

int UsageModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_groups.size());
}

int UsageModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : firstModeColumn() + ModeTable::Count + 1;
}

QVariant UsageModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_groups.size())
        return {};
    const Archive::UsageGroup &g = m_groups.at(index.row());
    const int mode = index.column() - firstModeColumn();  // 4: the total
    if (role == Qt::TextAlignmentRole && mode >= 0)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == SortRole) {
        if (mode >= 0)
            return mode < ModeTable::Count ? g.seconds[std::size_t(mode)] : g.total;
        if (index.column() == 0 && m_by == Archive::GroupBy::Month)
            return g.month;
        if (index.column() == 0 && m_by == Archive::GroupBy::Day)
            return g.day;
        return data(index, Qt::DisplayRole).toString().toLower();
    }
    if (role != Qt::DisplayRole)
        return {};
    if (index.column() == 0)
        return GroupLabel(g, m_by);
    if (mode < 0)
        return g.model;
    return Usage::PieDurationText(mode < ModeTable::Count ? g.seconds[std::size_t(mode)] : g.total);
}

QVariant UsageModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    const int mode = section - firstModeColumn();
    if (role == Qt::DecorationRole && mode >= 0 && mode < ModeTable::Count)
        return modeColour(mode);
    if (role != Qt::DisplayRole)
        return {};
    if (mode >= ModeTable::Count)
        return QStringLiteral("Total");
    if (mode >= 0)
        return Archive::ModeNameText(mode);
    if (section == 1)
        return QStringLiteral("Model");
    switch (m_by) {
    case Archive::GroupBy::Locator:
        return QStringLiteral("Locator");
    case Archive::GroupBy::User:
        return QStringLiteral("User");
    case Archive::GroupBy::Month:
        return QStringLiteral("Month");
    case Archive::GroupBy::Day:
        return QStringLiteral("Day");
    }
    return {};
}

}  // namespace Fleet
