#pragma once

#include "core/archive/ArchiveUsage.h"

#include <QDate>
#include <QList>
#include <QString>

// A usage report's texts, the same from `locator-cli archive report` and the
// Fleet window's export: the period's title, the CSV table and the HTML page.
namespace Archive {

// "Usage from 01/03/2026 to 31/03/2026", "All archived usage", …; an invalid
// date leaves that side open.
QString PeriodText(const QDate &from, const QDate &to);

// The mode table's name of mode position `mode`.
QString ModeNameText(int mode);

// The CSV table: the `by` columns (locator adds model), then mode, seconds,
// duration; one row per group and mode plus Total, then the same rows for
// `whole` with empty group columns.
QString UsageCsv(const QList<GroupBy> &by, const QList<UsageGroup> &groups, const UsageGroup &whole);

// Text that a user or a data file supplied (a name, a file name) as a CSV
// field: quoted when it holds a comma, a quote or a line end, and with a "'"
// first when it begins with "=", "+", "-" or "@", so a spreadsheet shows it
// rather than running it as a formula.
QString CsvText(QString text);

// One self-contained page (no scripts, no external files): the groups as a
// table, a pie per locator and bars per month stacked by mode, in the modes'
// colours. `period` describes the days reported; `days` is every archived day
// of that period; `note`, when given, is shown under the period.
QString UsageHtmlPage(const QString &period, const QList<GroupBy> &by, const QList<UsageGroup> &groups,
                      const QList<UsageDay> &days, const QString &note = {});

}  // namespace Archive
