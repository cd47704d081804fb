#pragma once

#include "core/sync/TransferJob.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace Archive {
class Store;
}

namespace Sync {

// Something a sync found worth telling, beside its result.
struct Note
{
    enum class Kind {
        NoClockReply,  // the locator did not answer "#AE" (or not readably): synced without the check
        ClockOff,  // its clock is far from this computer's
        ClockBehindArchive,  // its clock is before its last archived second: everything is fetched
        FutureRecords,  // the archive holds records dated more than a day ahead of this computer
        CommsError,  // an error event of the port during the transfer
    };
    Kind kind;
    QString text;  // one line, without the fix
    bool setClockFixes = false;  // setting the locator's clock is the fix (the front end names how)
};

// Where the archive stands for one locator. Records dated more than a day
// after this computer's clock come from a clock that ran ahead; they never
// count as the last archived second, or one of them would stop every later
// sync from asking for the days before it.
struct ArchiveMark
{
    std::optional<QDateTime> last;  // the last archived second not later than the limit
    qint64 futureRecords = 0;  // archived records after the limit
    std::optional<QDateTime> latestFuture;
};

// The mark of `serial` with the limit `pcNow` + 1 day. False with *error
// saying why when the archive cannot be read.
bool ReadArchiveMark(Archive::Store &store, const QString &serial, const QDateTime &pcNow, ArchiveMark *mark,
                     QString *error);

// What a sync asks the locator for.
struct Plan
{
    TransferJob::Range range = TransferJob::Range::All;
    QDate from, to;
    QList<Note> notes;
};

// The range from the archive's mark, the locator's clock (none: it did not
// answer) and this computer's. A clock before the mark went back (a battery
// reset, say): records it dated since may lie before the mark, so everything
// is fetched and the archive counts what it holds as duplicates. Otherwise
// from the mark's day to the later of both clocks' today.
Plan ChoosePlan(const ArchiveMark &mark, const std::optional<QDateTime> &locatorClock, const QDateTime &pcNow);

// "3 days 2 h", "5 h 10 min", "7 min 5 s", "40 s".
QString DurationText(qint64 seconds);

inline constexpr qint64 kClockToleranceSeconds = 5 * 60;

}  // namespace Sync
