#pragma once

#include "core/usage/ModeTable.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>

class DataFileHandle;

// Usage per mode: every record of a data file is one second of use in the
// mode it names, so a period's usage is a count of its records.
namespace Usage {

// The number a text starts with: leading blanks skipped, reading stops at the
// first character that cannot continue a number, no number at all is 0.
// " 5", "05" and "5/" all read as 5.
double ReadNumber(QByteArrayView text);
double ReadNumber(QStringView text);
// The number in characters first..last (counted from 1) of a line; characters
// past the end of the line are simply absent.
double FieldNumber(QByteArrayView line, int first, int last);

// What a reading keeps of a period: counts, the days that have records and the
// first and last date texts; never the records themselves, so a period of any
// length costs the same memory.
struct PeriodRecords
{
    qint64 n = 0;  // records of the period, whatever their mode letter
    std::array<qint64, ModeTable::Count> modeRecords{};  // in mode table order
    QByteArray firstDate;  // "DD/MM/YY" as the first record writes it; meaningful when n > 0
    QByteArray lastDate;  // likewise for the last record
    quint32 dayMask = 0;  // bit d set: a record names day d (1 to 31)

    bool hasDay(int day) const { return day >= 1 && day <= 31 && (dayMask >> day) & 1u; }
    QList<int> days() const;
};

struct ModeCounts
{
    std::array<qint64, ModeTable::Count> counts{};  // seconds per mode, mode table order
    qint64 total = 0;
};

ModeCounts CountModes(const PeriodRecords &set);

struct Duration
{
    qint64 hours = 0;  // never split into days: 25 hours stay 25 hours
    int minutes = 0;
    int seconds = 0;
};

Duration SplitSeconds(qint64 seconds);

enum class ReadStatus {
    Ok,
    SlotWriting,  // a transfer is writing through the data file slot
    CannotOpen,
    PastEnd,  // the file ends before its header line (empty, or only "//" lines)
    ReadFailed,  // the file opened but reading it failed part way
};

struct ReadOutcome
{
    ReadStatus status = ReadStatus::Ok;
    QString detail;  // the system's reason, where there is one
    bool ok() const { return status == ReadStatus::Ok; }
};

struct PeriodReading : ReadOutcome
{
    PeriodRecords records;
};

// The readers open the file through the process's one data file slot (after
// the exclusive-open test) and always leave the slot closed. month is 1 to 12,
// year the two-digit year, day the day number.
PeriodReading ReadMonthRecords(DataFileHandle &slot, const QString &path, int month, int year);
PeriodReading ReadDayRecords(DataFileHandle &slot, const QString &path, int day, int month, int year);

struct FirstRecordMonth : ReadOutcome
{
    bool found = false;  // false: the file has no record to open on
    QByteArray monthText;  // two characters as they stand in the file
    QByteArray yearText;
    int month = 0;  // 1 to 12 when found
    int year = 0;  // two-digit year when found
};

// The month the Analyse Data window opens on: that of the second line after
// the header line, or, when that line is no usable record, of the first line
// after the header that is.
FirstRecordMonth ReadFirstRecordMonth(DataFileHandle &slot, const QString &path);

}  // namespace Usage
