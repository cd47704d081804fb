#pragma once

#include "core/archive/ArchiveUsage.h"

#include <QString>

namespace Cli {

// One self-contained page (no scripts, no external files): the groups as a
// table, a pie per locator and bars per month stacked by mode, in the modes'
// colours. `period` describes the days reported; `days` is every archived day
// of that period; `note`, when given, is shown under the period.
QString ArchiveHtmlPage(const QString &period, const QList<Archive::GroupBy> &by,
                        const QList<Archive::UsageGroup> &groups, const QList<Archive::UsageDay> &days,
                        const QString &note = {});

}  // namespace Cli
