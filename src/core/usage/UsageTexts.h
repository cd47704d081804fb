#pragma once

#include "core/datafile/LocatorIdentity.h"
#include "core/usage/UsageCounting.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <string_view>

// What the pie windows write: durations, captions, the no-data and failure
// texts, and the names proposed for chart images.
namespace Usage {

// Indexed 1 to 12 by month number.
inline constexpr std::array<std::string_view, 13> MonthNames
    = {"",     "January", "February",  "March",   "April",    "May",     "June",
       "July", "August",  "September", "October", "November", "December"};

QString MonthName(int month);  // empty outside 1 to 12

// A two-digit year as the user reads it: 5 gives "2005", never "205".
QString YearText(int twoDigitYear);
QString TwoDigits(int value);

// "1 Hrs 2 Mins 5 Secs", the pie windows' total.
QString PieDurationText(qint64 seconds);
// "1 Hrs,2 Mins,5 Secs,", which the record viewer cuts at the commas.
QString FormatDuration(qint64 seconds);

QString NoDataForMonthText(int month, int twoDigitYear);
QString NoDataForDayText();
QString CorruptFileText();
// A clear sentence for any failed reading; path names the file.
QString ReadFailureText(const ReadOutcome &outcome, const QString &path);

// Two caption lines joined by CR LF: who the locator is, then the period.
// A month whose first and last records share one date is named by month and
// year, otherwise by its first and last date texts.
QString MonthCaption(const LocatorIdentity &identity, const PeriodRecords &month, int monthNumber, int twoDigitYear);
QString DayCaption(const LocatorIdentity &identity, const PeriodRecords &day);

// Default chart image names, extension included.
QString MonthImageName(const LocatorIdentity &identity, const QDateTime &stamp);
// dayText and yearText as the day window holds them ("07", "11").
QString DayImageName(const LocatorIdentity &identity, const QDateTime &stamp, const QString &dayText, int month,
                     const QString &yearText);

}  // namespace Usage
