#pragma once

#include <QString>
#include <QtGlobal>

class QSqlDatabase;

// The archive's tables and their version. A database is brought up to this
// program's version when it is opened; one written by a newer program is
// left exactly as it is.
namespace Archive {

inline constexpr int SchemaVersion = 1;

// Usage is kept per mode table position; records whose mode letter is none
// of the four count here (they are records, but no mode's seconds).
inline constexpr int OtherMode = 4;
inline constexpr int UsageModes = OtherMode + 1;

// A record's second is kept as seconds of the locator's clock from
// 01/01/2000 00:00:00, its day as days from 01/01/2000.
inline constexpr qint64 SecondsPerDay = 86400;

// 0 for a database without the archive's tables. False with *error for a
// database that cannot be read or holds tables of something else.
bool ReadSchemaVersion(QSqlDatabase &db, int *version, QString *error);

// Creates or upgrades the tables, each step in a transaction of its own.
// A newer database is refused with a message that says so and never written.
bool MigrateSchema(QSqlDatabase &db, bool postgres, QString *error);

}  // namespace Archive
