#pragma once

#include "core/archive/ArchiveLocation.h"

#include <QString>

// What the Fleet window remembers: the archive (its address, never a
// password) and the days after which a locator counts as overdue for a sync.
namespace FleetSettings {

inline constexpr int DefaultOverdueDays = 14;

// Empty: the default archive (LOCATOR_ARCHIVE, else the SQLite file).
QString archiveText();
void setArchiveText(const QString &text);
int overdueDays();
void setOverdueDays(int days);

// The archive the window opens: `option` (--database) when given, else the
// one chosen in the settings, else LOCATOR_ARCHIVE or the default file.
bool ChooseArchive(const QString &option, Archive::Location *location, QString *error);

// An archive's error with what the user can do about it.
QString WithFix(const QString &error, const Archive::Location &location);

}  // namespace FleetSettings
