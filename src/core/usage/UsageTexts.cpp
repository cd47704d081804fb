#include "core/usage/UsageTexts.h"

#include "core/datafile/DataFileFormat.h"

#include <QDir>

namespace Usage {

QString MonthName(int month)
{
    if (month < 1 || month > 12)
        return {};
    const std::string_view name = MonthNames[std::size_t(month)];
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QString TwoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString YearText(int twoDigitYear)
{
    return QStringLiteral("20") + TwoDigits(twoDigitYear);
}

QString PieDurationText(qint64 seconds)
{
    const Duration d = SplitSeconds(seconds);
    return QStringLiteral("%1 Hrs %2 Mins %3 Secs").arg(d.hours).arg(d.minutes).arg(d.seconds);
}

QString FormatDuration(qint64 seconds)
{
    const Duration d = SplitSeconds(seconds);
    return QStringLiteral("%1 Hrs,%2 Mins,%3 Secs,").arg(d.hours).arg(d.minutes).arg(d.seconds);
}

QString NoDataForMonthText(int month, int twoDigitYear)
{
    return QStringLiteral("No data for ") + MonthName(month) + ' ' + YearText(twoDigitYear);
}

QString NoDataForDayText()
{
    return QStringLiteral("No data for chosen day");
}

QString CorruptFileText()
{
    return QStringLiteral("The data file appears to be corrupt");
}

QString ReadFailureText(const ReadOutcome &outcome, const QString &path)
{
    const QString name = QDir::toNativeSeparators(path);
    switch (outcome.status) {
    case ReadStatus::Ok:
        return {};
    case ReadStatus::PastEnd:
        return CorruptFileText();
    case ReadStatus::SlotWriting:
        return QStringLiteral("A transfer is still writing the data file. Please try again when it has finished.");
    case ReadStatus::CannotOpen:
        return QStringLiteral("The data file cannot be opened:\n%1\n%2").arg(name, outcome.detail);
    case ReadStatus::ReadFailed:
        return QStringLiteral("The data file could not be read to its end:\n%1\n%2").arg(name, outcome.detail);
    }
    return {};
}

static QString whoLine(const LocatorIdentity &identity)
{
    return QStringLiteral("Locator ") + identity.model + QStringLiteral(", Serial no. ") + identity.serialNo
        + QStringLiteral(". User: ") + identity.user;
}

QString MonthCaption(const LocatorIdentity &identity, const PeriodRecords &month, int monthNumber, int twoDigitYear)
{
    const QString period = month.firstDate == month.lastDate
        ? MonthName(monthNumber) + ' ' + YearText(twoDigitYear)
        : QString::fromLatin1(month.firstDate) + QStringLiteral(" to ") + QString::fromLatin1(month.lastDate);
    return whoLine(identity) + QStringLiteral("\r\nUsage by Mode for ") + period;
}

QString DayCaption(const LocatorIdentity &identity, const PeriodRecords &day)
{
    return whoLine(identity) + QStringLiteral("\r\nUsage by Mode for ") + QString::fromLatin1(day.firstDate);
}

QString MonthImageName(const LocatorIdentity &identity, const QDateTime &stamp)
{
    return DataFileFormat::MakeLogFileName(QStringLiteral("DA"), identity, stamp) + QStringLiteral(".jpg");
}

QString DayImageName(const LocatorIdentity &identity, const QDateTime &stamp, const QString &dayText, int month,
                     const QString &yearText)
{
    DataFileFormat::NameParts parts;
    parts.day = int(ReadNumber(dayText));
    parts.month = month;
    parts.year = int(ReadNumber(yearText));
    QString name = DataFileFormat::MakeLogFileName(QStringLiteral("DAY"), identity, stamp, parts);
    // The naming writes the day's numbers bare (7-3-5); the image carries the
    // texts the day window holds (07-3-05), so names sort and read as dates.
    const QString bare = QStringLiteral(" on %1-%2-%3____(").arg(parts.day).arg(parts.month).arg(parts.year);
    const QString held = QStringLiteral(" on ") + DataFileFormat::SafeNamePart(dayText) + '-' + QString::number(month)
        + '-' + DataFileFormat::SafeNamePart(yearText) + QStringLiteral("____(");
    const qsizetype at = name.lastIndexOf(bare);
    if (at >= 0)
        name.replace(at, bare.size(), held);
    return name + QStringLiteral(".jpg");
}

}  // namespace Usage
