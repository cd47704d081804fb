#include "core/sync/SyncPlan.h"

#include "core/archive/Archive.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace Sync {

namespace {

constexpr qint64 kDay = 86400;

// Both clocks as the archive counts seconds: the wall time read as written,
// so a daylight-saving change cannot shift a comparison.
qint64 keyOf(const QDateTime &t)
{
    return Archive::SecondKey(t.date(), t.time().msecsSinceStartOfDay() / 1000);
}

QString shown(const QDateTime &t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

QString unit(qint64 n, const char *one, const char *many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

}  // namespace

QString DurationText(qint64 seconds)
{
    seconds = std::abs(seconds);
    const qint64 days = seconds / kDay;
    const qint64 hours = seconds % kDay / 3600;
    const qint64 minutes = seconds % 3600 / 60;
    const qint64 secs = seconds % 60;
    if (days > 0)
        return unit(days, "day", "days") + (hours > 0 ? QStringLiteral(" %1 h").arg(hours) : QString());
    if (hours > 0)
        return QStringLiteral("%1 h").arg(hours) + (minutes > 0 ? QStringLiteral(" %1 min").arg(minutes) : QString());
    if (minutes > 0)
        return QStringLiteral("%1 min").arg(minutes) + (secs > 0 ? QStringLiteral(" %1 s").arg(secs) : QString());
    return QStringLiteral("%1 s").arg(secs);
}

bool ReadArchiveMark(Archive::Store &store, const QString &serial, const QDateTime &pcNow, ArchiveMark *mark,
                     QString *error)
{
    *mark = {};
    const qint64 limit = keyOf(pcNow) + kDay;
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT MAX(CASE WHEN t <= ? THEN t END), SUM(CASE WHEN t > ? THEN 1 ELSE 0 END),"
                             " MAX(t) FROM records WHERE locator = (SELECT id FROM locators WHERE serial = ?)"));
    q.addBindValue(limit);
    q.addBindValue(limit);
    q.addBindValue(serial);
    if (!q.exec() || !q.next()) {
        *error = q.lastError().text();
        return false;
    }
    if (!q.value(0).isNull())
        mark->last = Archive::FromSecondKey(q.value(0).toLongLong());
    mark->futureRecords = q.value(1).isNull() ? 0 : q.value(1).toLongLong();
    if (mark->futureRecords > 0)
        mark->latestFuture = Archive::FromSecondKey(q.value(2).toLongLong());
    return true;
}

Plan ChoosePlan(const ArchiveMark &mark, const std::optional<QDateTime> &locatorClock, const QDateTime &pcNow)
{
    Plan plan;
    if (mark.futureRecords > 0) {
        plan.notes << Note{Note::Kind::FutureRecords,
                           QStringLiteral("%1 archived records of this locator are dated more than a day after this "
                                          "computer's clock (the latest %2); they do not count as its last archived "
                                          "second")
                               .arg(mark.futureRecords)
                               .arg(shown(*mark.latestFuture)),
                           false};
    }
    qint64 ahead = 0;  // the locator's clock less this computer's
    if (!locatorClock) {
        plan.notes << Note{Note::Kind::NoClockReply,
                           QStringLiteral("the locator did not tell its date and time (\"#AE\"): its clock is not "
                                          "checked, the range runs from the last archived day to today"),
                           false};
    } else {
        ahead = keyOf(*locatorClock) - keyOf(pcNow);
    }
    const bool off = locatorClock && std::abs(ahead) > kClockToleranceSeconds;
    const QString difference
        = QStringLiteral("%1 %2 this computer's")
              .arg(DurationText(ahead), ahead > 0 ? QStringLiteral("ahead of") : QStringLiteral("behind"));
    if (!mark.last) {
        plan.range = TransferJob::Range::All;
    } else if (locatorClock && keyOf(*locatorClock) < keyOf(*mark.last)) {
        plan.range = TransferJob::Range::All;
        plan.notes << Note{
            Note::Kind::ClockBehindArchive,
            QStringLiteral("the locator's clock (%1%2) is before its last archived record (%3), so "
                           "it went back: everything it holds is fetched, the archived part "
                           "counting as duplicate")
                .arg(shown(*locatorClock), off ? QStringLiteral(", ") + difference : QString(), shown(*mark.last)),
            true};
        return plan;
    } else {
        plan.range = TransferJob::Range::ByDate;
        plan.from = mark.last->date();
        plan.to = std::max(plan.from, pcNow.date());
        // A clock ahead dates today's records on its own today.
        if (locatorClock)
            plan.to = std::max(plan.to, locatorClock->date());
    }
    if (off)
        plan.notes << Note{Note::Kind::ClockOff, QStringLiteral("the locator's clock is %1").arg(difference), true};
    return plan;
}

}  // namespace Sync
