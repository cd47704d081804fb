#pragma once

#include <QString>
#include <QtGlobal>

class QSqlDatabase;

// The archive's tables and their version. A database is brought up to this
// program's version when it is opened for writing; one written by a newer program is
// left exactly as it is.
namespace Archive {

inline constexpr int SchemaVersion = 2;

// Usage is kept per mode table position; records whose mode letter is none
// of the four count here (they are records, but no mode's seconds).
inline constexpr int OtherMode = 4;
inline constexpr int UsageModes = OtherMode + 1;

// A record's second is kept as seconds of the locator's clock from
// 01/01/2000 00:00:00, its day as days from 01/01/2000.
inline constexpr qint64 SecondsPerDay = 86400;

// 0 for a database without the archive's tables. False with *error for a
// database that cannot be read or holds tables of something else. *present
// (when given) tells whether the archive's version table is there.
bool ReadSchemaVersion(QSqlDatabase &db, int *version, QString *error, bool *present = nullptr);

// For reading only: true when the database holds an archive of exactly this
// program's version. An empty, older or newer one is refused with a message
// that says what to do; nothing is written.
bool CheckSchemaCurrent(QSqlDatabase &db, QString *error);

// Creates or upgrades the tables, each step in a transaction of its own
// under a lock (SQLite: an exclusive transaction; PostgreSQL: an advisory
// lock), re-reading the version inside it: programs opening a new archive
// at once make it once and all go on. An SQLite file is switched to WAL.
// A newer database is refused with a message that says so and never written.
bool MigrateSchema(QSqlDatabase &db, bool postgres, QString *error);

// Settings of a freshly opened connection: SQLite's per-connection pragmas;
// PostgreSQL's lock and idle-transaction timeouts (unless already set for
// the role, database or connection) and, for reading only, a read-only session.
bool PrepareSession(QSqlDatabase &db, bool postgres, bool readOnly, QString *error);

}  // namespace Archive
