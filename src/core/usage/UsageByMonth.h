#pragma once

#include "core/usage/UsageCounting.h"

#include <QList>

// Usage per calendar month of a whole data file, in one pass: for fleets and
// scripts that want every month at once rather than one month per reading.
namespace Usage {

struct MonthUsage
{
    int month = 0;  // 1 to 12
    int year = 0;  // two-digit year
    PeriodRecords records;  // exactly what ReadMonthRecords gives for this month
};

struct AllMonthsReading : ReadOutcome
{
    QList<MonthUsage> months;  // months that have records, earliest first
    // Lines in the record part that are no record of any calendar month
    // (month or year not a whole number in range), so no month reading counts
    // them. The line holding the transfer's end marker is not one of them.
    qint64 undated = 0;
};

// Opens the file through the data file slot as the period readers do and
// always leaves the slot closed.
AllMonthsReading ReadAllMonths(DataFileHandle &slot, const QString &path);

}  // namespace Usage
