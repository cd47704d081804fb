#pragma once

#include "core/archive/Archive.h"

#include <QList>
#include <QString>

// Archived usage summed into the groups a report asks for.
namespace Archive {

enum class GroupBy { Locator, User, Month, Day };

// GroupBy from its option text ("locator", "user", "month", "day").
bool ParseGroupBy(const QString &text, GroupBy *by);
QString GroupByName(GroupBy by);

struct UsageGroup
{
    // Only the fields grouped by are set.
    QString serial;
    QString model;  // the locator's model as its latest file named it
    QString user;
    QDate month;  // the first of the month
    QDate day;
    std::array<qint64, 4> seconds{};  // mode table order
    qint64 total = 0;  // the four modes' seconds
    qint64 records = 0;  // records of any mode letter

    void add(const UsageDay &d);
    // "2026-03" for a month, "2026-03-05" for a day, the serial, the user.
    QString keyText(GroupBy by) const;
};

// One group per distinct combination of the fields in `by`, ordered by them
// in turn (`by` empty: one group of everything, present even when empty).
QList<UsageGroup> GroupUsage(const QList<UsageDay> &days, const QList<GroupBy> &by);

}  // namespace Archive
