#include "core/usage/UsageCounting.h"

#include "core/datafile/DataFileHandle.h"
#include "core/usage/DataFileLines.h"
#include "core/usage/UsageRecordRules.h"

namespace Usage {

using namespace detail;

namespace {

template<class Ch>
double readNumber(const Ch *p, qsizetype n)
{
    qsizetype i = 0;
    while (i < n && (p[i] == Ch(' ') || p[i] == Ch('\t')))
        ++i;
    bool negative = false;
    if (i < n && (p[i] == Ch('+') || p[i] == Ch('-'))) {
        negative = p[i] == Ch('-');
        ++i;
    }
    auto digit = [&](qsizetype k) { return p[k] >= Ch('0') && p[k] <= Ch('9'); };
    double value = 0;
    while (i < n && digit(i))
        value = value * 10 + int(p[i++] - Ch('0'));
    if (i < n && p[i] == Ch('.')) {
        ++i;
        double scale = 0.1;
        while (i < n && digit(i)) {
            value += int(p[i++] - Ch('0')) * scale;
            scale /= 10;
        }
    }
    return negative ? -value : value;
}

PeriodReading readPeriod(DataFileHandle &slot, const QString &path, bool byDay, int day, int month, int year)
{
    PeriodReading out;
    static_cast<ReadOutcome &>(out) = OpenForReading(slot, path);
    if (!out.ok())
        return out;
    CloseSlot closer{slot};

    PeriodBuilder period;
    bool inHead = true;
    const bool readOk = ForEachLinePrefix(slot.file(), [&](QByteArrayView line) {
        if (inHead) {
            // The line after the "//" block is the header line, never a record.
            inHead = StartsWith(line, "//");
            return true;
        }
        if (IsSkippedLine(line))
            return true;
        if (DateField(line, 4) != month || DateField(line, 7) != year)
            return true;
        const double dayNumber = DateField(line, 1);
        if (byDay && dayNumber != day)
            return true;
        period.add(line, dayNumber);
        return true;
    });

    SetReadingEnd(out, readOk, inHead, slot);
    if (out.ok())
        period.finishInto(out.records);
    return out;
}

}  // namespace

double ReadNumber(QByteArrayView text)
{
    return readNumber(text.data(), text.size());
}

double ReadNumber(QStringView text)
{
    return readNumber(text.utf16(), text.size());
}

double FieldNumber(QByteArrayView line, int first, int last)
{
    return ReadNumber(Mid(line, first, last));
}

QList<int> PeriodRecords::days() const
{
    QList<int> out;
    for (int d = 1; d <= 31; ++d) {
        if (hasDay(d))
            out << d;
    }
    return out;
}

ModeCounts CountModes(const PeriodRecords &set)
{
    ModeCounts out;
    out.counts = set.modeRecords;
    for (qint64 c : out.counts)
        out.total += c;
    return out;
}

Duration SplitSeconds(qint64 seconds)
{
    Duration d;
    qint64 minutes = 0;
    if (seconds >= 60) {
        minutes = seconds / 60;
        d.seconds = int(seconds - 60 * minutes);
    } else {
        d.seconds = int(seconds);
    }
    if (minutes >= 60) {
        d.hours = minutes / 60;
        minutes -= 60 * d.hours;
    }
    d.minutes = int(minutes);
    return d;
}

PeriodReading ReadMonthRecords(DataFileHandle &slot, const QString &path, int month, int year)
{
    return readPeriod(slot, path, false, 0, month, year);
}

PeriodReading ReadDayRecords(DataFileHandle &slot, const QString &path, int day, int month, int year)
{
    return readPeriod(slot, path, true, day, month, year);
}

FirstRecordMonth ReadFirstRecordMonth(DataFileHandle &slot, const QString &path)
{
    FirstRecordMonth out;
    static_cast<ReadOutcome &>(out) = OpenForReading(slot, path);
    if (!out.ok())
        return out;
    CloseSlot closer{slot};

    struct Candidate
    {
        bool usable = false;
        QByteArray monthText, yearText;
        int month = 0, year = 0;
    };
    auto candidate = [](QByteArrayView line) {
        Candidate c;
        if (IsSkippedLine(line))
            return c;
        c.monthText = Mid(line, 4, 5).toByteArray();
        c.yearText = Mid(line, 7, 8).toByteArray();
        const double m = ReadNumber(c.monthText);
        const double y = ReadNumber(c.yearText);
        c.usable = IsWhole(m, 1, 12) && IsWhole(y, 0, 99);
        c.month = int(m);
        c.year = int(y);
        return c;
    };

    bool inHead = true;
    int afterHeader = 0;
    Candidate chosen;
    Candidate fallback;  // the first usable line, for when the second one is not
    const bool readOk = ForEachLinePrefix(slot.file(), [&](QByteArrayView line) {
        if (inHead) {
            inHead = StartsWith(line, "//");
            return true;
        }
        ++afterHeader;
        Candidate c = candidate(line);
        if (afterHeader == 2 && c.usable) {
            chosen = std::move(c);
            return false;
        }
        if (c.usable && !fallback.usable)
            fallback = std::move(c);
        return afterHeader < 2 || !fallback.usable;
    });

    SetReadingEnd(out, readOk, inHead, slot);
    if (!out.ok())
        return out;
    if (!chosen.usable)
        chosen = std::move(fallback);
    if (chosen.usable) {
        out.found = true;
        out.monthText = chosen.monthText;
        out.yearText = chosen.yearText;
        out.month = chosen.month;
        out.year = chosen.year;
    }
    return out;
}

}  // namespace Usage
