#pragma once

#include <QList>
#include <QString>

#include <utility>

// Where the archive lives: an SQLite file (the default, one per user) or a
// PostgreSQL database shared by a fleet's PCs.
namespace Archive {

struct Location
{
    enum Kind { Sqlite, Postgres } kind = Sqlite;
    QString path;  // SQLite: the database file
    // PostgreSQL, as libpq's connection keywords. What is left empty is left
    // to libpq: PGHOST and the other environment variables, a service file,
    // the password from ~/.pgpass (PGPASSFILE) or PGPASSWORD.
    QString host;  // a name, an address, a Unix-socket folder, or a comma list of them
    QString port;  // a number, or a comma list matching the hosts
    QString user;
    QString password;
    QString database;
    QList<std::pair<QString, QString>> options;  // every other keyword (sslmode, service, …), in the order given

    // For messages: never shows a password. A PostgreSQL archive is shown as
    // a postgresql:// address that reaches the same database.
    QString display() const;
};

// <AppData>/korvex/archive.sqlite; empty when the folder is unknown.
QString DefaultSqlitePath();

// What the text names, in this order:
//  - "postgresql://…" or "postgres://…": a PostgreSQL URI as libpq reads it
//    (percent-encoding, host lists, query parameters as connection keywords);
//  - any other "scheme:/…", or a postgres-like scheme written otherwise
//    ("PostgreSQL://", "postgresql:/x"): refused, as a typo would otherwise
//    quietly make an SQLite file of that name;
//  - "keyword=value …" in libpq's syntax (values quoted with '…', backslash
//    escapes) when it parses as such and one of its keywords is libpq's
//    ("host=db dbname=fleet", "service=fleet"): PostgreSQL;
//  - anything else: the path of an SQLite file.
// Unknown keywords in a PostgreSQL string are refused. False with *error
// set (never quoting a password) for a text that cannot be used.
bool ParseLocation(const QString &text, Location *location, QString *error);

// The archive a command works on: `option` when given, else LOCATOR_ARCHIVE,
// else the default file.
bool ChooseLocation(const QString &option, Location *location, QString *error);

// The libpq keywords beyond host, database, user and password for a
// connection to `location`, as Qt's PostgreSQL driver takes them
// (QSqlDatabase::setConnectOptions): the port and the given options, plus
// a connect timeout and TCP keepalives unless the location sets them.
QString PostgresConnectOptions(const Location &location);

// Creates an SQLite archive's file, empty, readable by the user only, with
// the folders it needs (also the user's only). An existing file is left as
// it is. False with *error when the file or a folder cannot be made.
bool CreateSqliteFile(const QString &path, QString *error);

}  // namespace Archive
