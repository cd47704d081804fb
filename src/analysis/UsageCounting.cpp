#include "UsageCounting.h"

#include "DataFileHandle.h"
#include "DataFileLines.h"

#include <cmath>
#include <cstring>

namespace Usage {

namespace {

template <class Ch>
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

bool isWhole(double v, int low, int high)
{
    return v >= low && v <= high && v == std::floor(v);
}

// Every reader leaves the slot closed, whatever happened, so no later
// reader or transfer finds it taken.
struct CloseSlot
{
    DataFileHandle &slot;
    ~CloseSlot() { slot.close(); }
};

ReadOutcome openForReading(DataFileHandle &slot, const QString &path)
{
    // The exclusive-open test closes the slot, which would cut short a
    // transfer writing through it; such a file is not read until it is done.
    if (slot.isWriting())
        return {ReadStatus::SlotWriting, slot.path()};
    if (FileLocked(slot, path))
        slot.close();
    if (!slot.openForRead(path))
        return {ReadStatus::CannotOpen, slot.errorString()};
    return {};
}

// Characters first..last of a line, counted from 1; those past its end are absent.
QByteArrayView mid(QByteArrayView line, int first, int last)
{
    const qsizetype from = first - 1;
    if (from >= line.size() || last < first)
        return {};
    return line.sliced(from, std::min<qsizetype>(last, line.size()) - from);
}

// FieldNumber for the two-character date fields, with the common case of two
// digits taken directly: a reading visits every record of the file.
double DateField(QByteArrayView line, int first)
{
    const qsizetype i = first - 1;
    if (i + 1 < line.size()) {
        const unsigned tens = unsigned(line[i] - '0');
        const unsigned units = unsigned(line[i + 1] - '0');
        if (tens < 10 && units < 10)
            return tens * 10 + units;
    }
    return FieldNumber(line, first, first + 1);
}

bool startsWith(QByteArrayView line, const char (&two)[3])
{
    return line.size() >= 2 && line[0] == two[0] && line[1] == two[1];
}

PeriodReading readPeriod(DataFileHandle &slot, const QString &path, bool byDay, int day, int month,
                         int year)
{
    PeriodReading out;
    static_cast<ReadOutcome &>(out) = openForReading(slot, path);
    if (!out.ok())
        return out;
    CloseSlot closer{slot};

    PeriodRecords &set = out.records;
    bool inHead = true;
    char last[8];
    qsizetype lastLen = 0;
    const bool readOk = ForEachLinePrefix(slot.file(), [&](QByteArrayView line) {
        if (inHead) {
            // The line after the "//" block is the header line, never a record.
            inHead = startsWith(line, "//");
            return true;
        }
        if (line.isEmpty() || startsWith(line, "FF"))
            return true;
        if (DateField(line, 4) != month || DateField(line, 7) != year)
            return true;
        const double dayNumber = DateField(line, 1);
        if (byDay && dayNumber != day)
            return true;

        const QByteArrayView date = line.first(std::min<qsizetype>(8, line.size()));
        if (set.n == 0)
            set.firstDate = date.toByteArray();
        std::memcpy(last, date.data(), std::size_t(date.size()));
        lastLen = date.size();
        ++set.n;
        if (line.size() >= 19) {
            const int mode = ModeTable::IndexOf(line[18]);
            if (mode >= 0)
                ++set.modeRecords[std::size_t(mode)];
        }
        if (isWhole(dayNumber, 1, 31))
            set.dayMask |= 1u << int(dayNumber);
        return true;
    });

    if (!readOk) {
        out.status = ReadStatus::ReadFailed;
        out.detail = slot.file().errorString();
    } else if (inHead) {
        out.status = ReadStatus::PastEnd;
    }
    if (!out.ok()) {
        set = {};
        return out;
    }
    if (set.n > 0)
        set.lastDate = QByteArray(last, lastLen);
    return out;
}

} // namespace

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
    return ReadNumber(mid(line, first, last));
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
    static_cast<ReadOutcome &>(out) = openForReading(slot, path);
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
        if (line.isEmpty() || startsWith(line, "FF"))
            return c;
        c.monthText = mid(line, 4, 5).toByteArray();
        c.yearText = mid(line, 7, 8).toByteArray();
        const double m = ReadNumber(c.monthText);
        const double y = ReadNumber(c.yearText);
        c.usable = isWhole(m, 1, 12) && isWhole(y, 0, 99);
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
            inHead = startsWith(line, "//");
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

    if (!readOk) {
        out.status = ReadStatus::ReadFailed;
        out.detail = slot.file().errorString();
        return out;
    }
    if (inHead) {
        out.status = ReadStatus::PastEnd;
        return out;
    }
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

} // namespace Usage
