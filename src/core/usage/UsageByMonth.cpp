#include "core/usage/UsageByMonth.h"

#include "core/usage/DataFileLines.h"
#include "core/usage/UsageRecordRules.h"

#include <cstring>
#include <vector>

namespace Usage {

using namespace detail;

namespace {
constexpr int kYears = 100;  // two-digit years
constexpr int kSlots = kYears * 12;
constexpr char kEndMarker = '\x1a';
}  // namespace

AllMonthsReading ReadAllMonths(DataFileHandle &slot, const QString &path)
{
    AllMonthsReading out;
    static_cast<ReadOutcome &>(out) = OpenForReading(slot, path);
    if (!out.ok())
        return out;
    CloseSlot closer{slot};

    // One slot per month of the century, indexed year * 12 + month - 1, so a
    // record finds its month without a search.
    std::vector<PeriodBuilder> months(kSlots);
    // A day's records follow one another, and everything but the mode is
    // decided by a record's first eight characters: a line that starts as the
    // record before goes where that one went, without reading its date again.
    PeriodBuilder *previous = nullptr;
    quint64 previousStart = 0;

    bool inHead = true;
    // Inlined into the line loop: a call per record would cost as much as the record.
    const bool readOk = ForEachLinePrefix(slot.file(), [&](QByteArrayView line) LOCATOR_ALWAYS_INLINE {
        quint64 start = 0;
        if (line.size() >= 8) {
            std::memcpy(&start, line.data(), 8);
            if (previous && start == previousStart) {
                previous->addRepeat(line);
                return true;
            }
        }
        if (inHead) {
            inHead = StartsWith(line, "//");
            return true;
        }
        if (IsSkippedLine(line))
            return true;
        // Nearly every record writes its date as digits; the general rule
        // reads any other form to the same values.
        int month = TwoDigitsAt(line, 3);
        int year = TwoDigitsAt(line, 6);
        if (month < 0 || year < 0) {
            const double m = DateField(line, 4);
            const double y = DateField(line, 7);
            const bool calendar = IsWhole(m, 1, 12) && IsWhole(y, 0, kYears - 1);
            month = calendar ? int(m) : 0;
            year = calendar ? int(y) : 0;
        }
        if (month < 1 || month > 12) {
            // The transfer's end marker (after "ABORT", say) is no stray line.
            if (!std::memchr(line.data(), kEndMarker, std::size_t(line.size())))
                ++out.undated;
            return true;
        }
        PeriodBuilder &builder = months[std::size_t(year * 12 + month - 1)];
        if (const int day = TwoDigitsAt(line, 0); day >= 0)
            builder.add(line, day);
        else
            builder.add(line, DateField(line, 1));
        // A shorter record has a shorter date text: nothing repeats it.
        previous = line.size() >= 8 ? &builder : nullptr;
        previousStart = start;
        return true;
    });

    SetReadingEnd(out, readOk, inHead, slot);
    if (!out.ok())
        return out;
    for (int i = 0; i < kSlots; ++i) {
        const PeriodBuilder &builder = months[std::size_t(i)];
        if (builder.n == 0)
            continue;
        MonthUsage usage{i % 12 + 1, i / 12, {}};
        builder.finishInto(usage.records);
        out.months.append(std::move(usage));
    }
    return out;
}

}  // namespace Usage
