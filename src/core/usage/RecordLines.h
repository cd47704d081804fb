#pragma once

// Every record line of a data file in one streaming pass, for readers that
// keep each record rather than counting a period (the usage archive). The
// lines are taken exactly as the period readers take them: past the "//"
// block, the header line consumed, empty and "FF" lines never records.

#include "core/datafile/DataFileHeader.h"
#include "core/usage/DataFileLines.h"
#include "core/usage/UsageCounting.h"
#include "core/usage/UsageRecordRules.h"

#include <QByteArray>
#include <QByteArrayView>

namespace Usage {

struct RecordLinesReading : ReadOutcome
{
    QByteArray headerLine;  // the first line that does not begin with "//"
    qint64 skipped = 0;  // empty and "FF" lines after the header line
};

// Where a record's second lies on the locator's clock, read with the period
// readers' number rule: day, month and two-digit year from characters 1-2,
// 4-5 and 7-8, hours, minutes and seconds from 10-11, 13-14 and 16-17.
struct RecordStamp
{
    int day = 0, month = 0, year = 0;  // year: two digits
    int hour = 0, minute = 0, second = 0;
};

// False when a field is not a whole number in its range (the date itself is
// checked against the calendar by the caller).
inline bool ReadRecordStamp(QByteArrayView line, RecordStamp *stamp)
{
    using namespace detail;
    auto field = [&](qsizetype i, int high, int *out) {
        int v = TwoDigitsAt(line, i);
        if (v < 0) {
            const double d = DateField(line, int(i) + 1);
            if (!IsWhole(d, 0, high))
                return false;
            v = int(d);
        }
        *out = v;
        return v <= high;
    };
    return field(0, 31, &stamp->day) && field(3, 12, &stamp->month) && field(6, 99, &stamp->year)
        && field(9, 23, &stamp->hour) && field(12, 59, &stamp->minute) && field(15, 59, &stamp->second);
}

// Position of a record's mode letter (character 19) in the mode table, or -1.
inline int RecordModeIndex(QByteArrayView line)
{
    return line.size() >= 19 ? detail::ModeIndexTable[static_cast<unsigned char>(line[18])] : -1;
}

// Opens the file through the data file slot as the period readers do (and
// leaves it closed); onRecord(QByteArrayView line) is called for every
// candidate record line, without its line end and cut to `keep` characters,
// and returns false to stop the reading (which then is no failure).
template<class OnRecord>
RecordLinesReading ReadRecordLines(DataFileHandle &slot, const QString &path, OnRecord &&onRecord, qsizetype keep = 256)
{
    using namespace detail;
    RecordLinesReading out;
    static_cast<ReadOutcome &>(out) = OpenForReading(slot, path);
    if (!out.ok())
        return out;
    CloseSlot closer{slot};
    bool inHead = true;
    const bool readOk = ForEachLinePrefix(
        slot.file(),
        [&](QByteArrayView line) LOCATOR_ALWAYS_INLINE {
            if (inHead) {
                inHead = StartsWith(line, "//");
                if (!inHead)
                    out.headerLine
                        = line.first(std::min(line.size(), DataFileHeader::MaxHeaderLineLength)).toByteArray();
                return true;
            }
            if (IsSkippedLine(line)) {
                ++out.skipped;
                return true;
            }
            return onRecord(line);
        },
        keep);
    SetReadingEnd(out, readOk, inHead, slot);
    return out;
}

}  // namespace Usage
