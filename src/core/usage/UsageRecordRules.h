#pragma once

// Internal to the usage readers: how a reading opens the data file and how a
// record line's fields are taken. Every reader of periods uses these, so that
// a month read on its own and the same month read with all the others count
// exactly the same lines.

#include "core/datafile/DataFileHandle.h"
#include "core/usage/UsageCounting.h"

#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__GNUC__)
#define LOCATOR_ALWAYS_INLINE __attribute__((always_inline))
#else
#define LOCATOR_ALWAYS_INLINE
#endif

namespace Usage::detail {

inline bool IsWhole(double v, int low, int high)
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

inline ReadOutcome OpenForReading(DataFileHandle &slot, const QString &path)
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

// How a pass over the file ended: a read error, or a file that held nothing
// but the "//" block (no header line), is a failed reading.
inline void SetReadingEnd(ReadOutcome &out, bool readOk, bool inHead, DataFileHandle &slot)
{
    if (!readOk) {
        out.status = ReadStatus::ReadFailed;
        out.detail = slot.file().errorString();
    } else if (inHead) {
        out.status = ReadStatus::PastEnd;
    }
}

// Characters first..last of a line, counted from 1; those past its end are absent.
inline QByteArrayView Mid(QByteArrayView line, int first, int last)
{
    const qsizetype from = first - 1;
    if (from >= line.size() || last < first)
        return {};
    return line.sliced(from, std::min<qsizetype>(last, line.size()) - from);
}

// FieldNumber for the two-character date fields, with the common case of two
// digits taken directly: a reading visits every record of the file.
inline double DateField(QByteArrayView line, int first)
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

inline bool StartsWith(QByteArrayView line, const char (&two)[3])
{
    return line.size() >= 2 && line[0] == two[0] && line[1] == two[1];
}

// Lines after the header line that never count: empty ones and "FF" fillers.
inline bool IsSkippedLine(QByteArrayView line)
{
    return line.isEmpty() || StartsWith(line, "FF");
}

// Characters i + 1 and i + 2 of a line (i counted from 0) when both are
// digits: the common form of a date field, read without the general rule
// (which gives the same value for them).
inline int TwoDigitsAt(QByteArrayView line, qsizetype i)
{
    if (i + 1 >= line.size())
        return -1;
    const unsigned tens = unsigned(line[i] - '0');
    const unsigned units = unsigned(line[i + 1] - '0');
    return tens < 10 && units < 10 ? int(tens * 10 + units) : -1;
}

// Mode table index of a mode letter, or -1, by table: every record asks.
inline constexpr std::array<signed char, 256> ModeIndexTable = [] {
    std::array<signed char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[std::size_t(c)] = static_cast<signed char>(ModeTable::IndexOf(char(c)));
    return table;
}();

// Keeps a period's records as they are found, in file order: the count, the
// modes, the days, the first and the last date text. Plain values, so that
// many periods can be kept side by side at the cost of one record each.
struct PeriodBuilder
{
    qint64 n = 0;
    std::array<qint64, ModeTable::Count> modes{};
    quint32 dayMask = 0;
    char first[8] = {};
    char last[8] = {};
    qsizetype firstLen = 0;
    qsizetype lastLen = 0;

    // line is a record of the period; dayNumber its characters 1 to 2 read as a number.
    void add(QByteArrayView line, double dayNumber)
    {
        addRecord(line);
        if (IsWhole(dayNumber, 1, 31))
            dayMask |= 1u << int(dayNumber);
    }
    // The same, for a day field of two digits (0 to 99).
    void add(QByteArrayView line, int day)
    {
        addRecord(line);
        if (day >= 1 && day <= 31)
            dayMask |= 1u << day;
    }

    // A record whose first eight characters, which decide its period and its
    // day and are its date text, are those of the record added just before.
    void addRepeat(QByteArrayView line)
    {
        ++n;
        if (line.size() >= 19) {
            const int mode = ModeIndexTable[static_cast<unsigned char>(line[18])];
            if (mode >= 0)
                ++modes[std::size_t(mode)];
        }
    }

    void finishInto(PeriodRecords &set) const
    {
        set.n = n;
        set.modeRecords = modes;
        set.dayMask = dayMask;
        if (n > 0) {
            set.firstDate = QByteArray(first, firstLen);
            set.lastDate = QByteArray(last, lastLen);
        }
    }

private:
    void addRecord(QByteArrayView line)
    {
        const qsizetype size = line.size();
        if (size >= 8) {
            std::memcpy(last, line.data(), 8);
            lastLen = 8;
        } else {
            std::memcpy(last, line.data(), std::size_t(size));
            lastLen = size;
        }
        if (n == 0) {
            std::memcpy(first, last, 8);
            firstLen = lastLen;
        }
        ++n;
        if (size >= 19) {
            const int mode = ModeIndexTable[static_cast<unsigned char>(line[18])];
            if (mode >= 0)
                ++modes[std::size_t(mode)];
        }
    }
};

}  // namespace Usage::detail
