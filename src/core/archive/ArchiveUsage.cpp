#include "core/archive/ArchiveUsage.h"

#include <map>

namespace Archive {

bool ParseGroupBy(const QString &text, GroupBy *by)
{
    for (GroupBy g : {GroupBy::Locator, GroupBy::User, GroupBy::Month, GroupBy::Day}) {
        if (text == GroupByName(g)) {
            *by = g;
            return true;
        }
    }
    return false;
}

QString GroupByName(GroupBy by)
{
    switch (by) {
    case GroupBy::Locator:
        return QStringLiteral("locator");
    case GroupBy::User:
        return QStringLiteral("user");
    case GroupBy::Month:
        return QStringLiteral("month");
    case GroupBy::Day:
        return QStringLiteral("day");
    }
    return {};
}

void UsageGroup::add(const UsageDay &d)
{
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        seconds[i] += d.seconds[i];
        total += d.seconds[i];
    }
    records += d.records;
}

QString UsageGroup::keyText(GroupBy by) const
{
    switch (by) {
    case GroupBy::Locator:
        return serial;
    case GroupBy::User:
        return user;
    case GroupBy::Month:
        return month.toString(QStringLiteral("yyyy-MM"));
    case GroupBy::Day:
        return day.toString(QStringLiteral("yyyy-MM-dd"));
    }
    return {};
}

QList<UsageGroup> GroupUsage(const QList<UsageDay> &days, const QList<GroupBy> &by)
{
    std::map<QStringList, UsageGroup> groups;
    for (const UsageDay &d : days) {
        UsageGroup proto;
        for (GroupBy b : by) {
            switch (b) {
            case GroupBy::Locator:
                proto.serial = d.serial;
                proto.model = d.model;
                break;
            case GroupBy::User:
                proto.user = d.user;
                break;
            case GroupBy::Month:
                proto.month = QDate(d.day.year(), d.day.month(), 1);
                break;
            case GroupBy::Day:
                proto.day = d.day;
                break;
            }
        }
        QStringList key;
        for (GroupBy b : by)
            key << proto.keyText(b);
        auto it = groups.try_emplace(key, proto).first;
        it->second.add(d);
    }
    QList<UsageGroup> out;
    for (auto &[key, group] : groups)
        out.append(group);
    if (by.isEmpty() && out.isEmpty())
        out.append(UsageGroup());
    return out;
}

}  // namespace Archive
