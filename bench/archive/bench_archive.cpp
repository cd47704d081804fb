// The usage archive's figures, in one run:
//  - import of a 3,000,000-record month into a new SQLite archive, against the
//    sqlite3 shell's .import of the same records into a plain table;
//  - re-import of the same file, and of the file grown by a day;
//  - a year's report by locator and month, and a month's import, at three
//    archive sizes up to more than 50 M records (the records beyond the
//    imported files are written straight into the archive's tables, as an
//    import would write them, to save hours of generating files);
//  - archive size per million records, SQLite and, when the run has a
//    PostgreSQL server (PGHOST set: run it under pg_virtualenv), PostgreSQL,
//    with the import of the same month against psql's \copy of the same
//    records into a plain table.
//   Usage: bench_archive [--no-sizes] [folder for the files (default: a temporary one)]
// --no-sizes leaves out the three archive sizes (the part that takes minutes).
// Needs about 3 GB of disk and some minutes. Linux.
#include "core/archive/Archive.h"
#include "core/archive/ArchiveSchema.h"
#include "core/datafile/DataFileFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>

#include <sys/resource.h>

namespace {

constexpr qint64 kMonthRecords = 3000000;

QByteArray header(const QByteArray &serial)
{
    return "#DA" + QByteArray("BOB").leftJustified(32, '_') + QByteArray(16, '0')
        + QByteArray("LOC2000").leftJustified(8, '_') + serial.rightJustified(8, '_');
}

// Continuous logging from 01/01/2026 00:00:00, one record a second, modes and
// fields varied as use varies them. `recordsOnly` gets the same records with
// nothing else (the reference's input).
bool generate(const QString &path, const QString &recordsOnly, qint64 records, const QByteArray &serial)
{
    QFile f(path), r(recordsOnly);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (!recordsOnly.isEmpty() && !r.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray out = DataFileFormat::DefaultCommentBlock() + header(serial) + "\r\n";
    QByteArray plain;
    static const char modes[] = {'A', 'T', 'T', 'R', 'P', 'A', 'T'};
    static const char *freqs[] = {"0", "33KHz", "8KHz", "500Hz"};
    static const char *depths[] = {"1.25", "0", "LO", "12.40"};
    const QDate first(2026, 1, 1);
    char line[96];
    for (qint64 i = 0; i < records; ++i) {
        const QDate d = first.addDays(i / 86400);
        const qint64 clock = i % 86400;
        const char mode = modes[(i / 97) % 7];
        const int n = std::snprintf(line, sizeof line, "%02d/%02d/%02d,%02lld:%02lld:%02lld,%c,%s,%c,%s,%lld\r\n",
                                    d.day(), d.month(), d.year() % 100, clock / 3600, (clock / 60) % 60, clock % 60,
                                    mode, mode == 'T' ? freqs[1 + (i / 1013) % 3] : freqs[0], "SDC0"[(i / 331) % 4],
                                    depths[(i / 53) % 4], i % 31);
        out.append(line, n);
        if (!recordsOnly.isEmpty())
            plain.append(line, n);
        if (out.size() > (4 << 20)) {
            if (f.write(out) != out.size() || (!recordsOnly.isEmpty() && r.write(plain) != plain.size()))
                return false;
            out.clear();
            plain.clear();
        }
    }
    out += '\x1a';
    return f.write(out) == out.size() && (recordsOnly.isEmpty() || r.write(plain) == plain.size());
}

double seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

// User and system time of this process (or of its waited-for children): on
// a machine shared with other work the wall time alone says little.
double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double mb(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

double g_lastCpu = 0;  // CPU seconds of the last timed import

Archive::ImportResult timedImport(Archive::Store &store, const QString &path, double *secs)
{
    QElapsedTimer t;
    const double cpu = cpuSeconds();
    t.start();
    const Archive::ImportResult r = store.importFile(path);
    *secs = seconds(t);
    g_lastCpu = cpuSeconds() - cpu;
    if (r.status == Archive::ImportResult::Failed)
        std::fprintf(stderr, "import failed: %s\n", qPrintable(r.error));
    return r;
}

// A year's report by locator and month, as a script asks for it; best of 5.
double reportTime(const QString &database)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(LOCATOR_CLI_PATH),
                {QStringLiteral("archive"), QStringLiteral("report"), QStringLiteral("--database"), database,
                 QStringLiteral("--from"), QStringLiteral("01/01/2026"), QStringLiteral("--to"),
                 QStringLiteral("31/12/2026"), QStringLiteral("--by"), QStringLiteral("locator"),
                 QStringLiteral("--by"), QStringLiteral("month")});
        p.waitForFinished(-1);
        const double s = seconds(t);
        if (p.exitCode() != 0) {
            std::fprintf(stderr, "report failed: %s\n", p.readAllStandardError().constData());
            return -1;
        }
        best = std::min(best, s);
    }
    return best;
}

// Locators B001.. each with 12 months of 8 working days of 8 hours in 2026,
// written into the archive's tables as an import writes them.
bool addFleet(sqlite3 *db, int firstLocator, int locators, qint64 *records)
{
    auto exec = [&](const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; };
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    sqlite3_stmt *loc = nullptr, *user = nullptr, *rec = nullptr, *agg = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO locators (serial, model) VALUES (?, 'LOC2000') RETURNING id", -1, &loc,
                       nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO users (name) VALUES (?) RETURNING id", -1, &user, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO records (locator, t, user_id, mode, frequency, measurement, depth, signal)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &rec, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO usage_days (locator, user_id, day, mode, seconds) VALUES (?, ?, ?, ?, ?)", -1,
                       &agg, nullptr);
    static const char *modes[] = {"A", "T", "R", "P"};
    bool ok = true;
    for (int l = firstLocator; l < firstLocator + locators && ok; ++l) {
        const QByteArray serial = "B" + QByteArray::number(l).rightJustified(3, '0');
        const QByteArray name = "USER" + QByteArray::number(l);
        auto idOf = [&](sqlite3_stmt *s, const QByteArray &text) {
            sqlite3_reset(s);
            sqlite3_bind_text(s, 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            const qint64 id = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
            sqlite3_reset(s);
            return id;
        };
        const qint64 locId = idOf(loc, serial), userId = idOf(user, name);
        ok = locId >= 0 && userId >= 0;
        for (int month = 1; month <= 12 && ok; ++month) {
            for (int k = 0; k < 8 && ok; ++k) {
                const QDate day(2026, month, 2 + 3 * k);
                const qint64 base = Archive::SecondKey(day, 8 * 3600);
                std::array<qint64, 4> perMode{};
                for (qint64 s = 0; s < 8 * 3600; ++s) {
                    const int mode = int((s / 600 + l) % 4);
                    ++perMode[std::size_t(mode)];
                    sqlite3_bind_int64(rec, 1, locId);
                    sqlite3_bind_int64(rec, 2, base + s);
                    sqlite3_bind_int64(rec, 3, userId);
                    sqlite3_bind_text(rec, 4, modes[mode], 1, SQLITE_STATIC);
                    sqlite3_bind_text(rec, 5, mode == 1 ? "33KHz" : "0", -1, SQLITE_STATIC);
                    sqlite3_bind_text(rec, 6, "D", 1, SQLITE_STATIC);
                    sqlite3_bind_text(rec, 7, "1.25", 4, SQLITE_STATIC);
                    sqlite3_bind_text(rec, 8, "17", 2, SQLITE_STATIC);
                    ok = sqlite3_step(rec) == SQLITE_DONE;
                    sqlite3_reset(rec);
                    if (!ok)
                        break;
                }
                *records += 8 * 3600;
                for (int m = 0; m < 4 && ok; ++m) {
                    sqlite3_bind_int64(agg, 1, locId);
                    sqlite3_bind_int64(agg, 2, userId);
                    sqlite3_bind_int(agg, 3, Archive::DayKey(day));
                    sqlite3_bind_int(agg, 4, m);
                    sqlite3_bind_int64(agg, 5, perMode[std::size_t(m)]);
                    ok = sqlite3_step(agg) == SQLITE_DONE;
                    sqlite3_reset(agg);
                }
            }
        }
    }
    if (!ok)
        std::fprintf(stderr, "adding records failed: %s\n", sqlite3_errmsg(db));
    for (sqlite3_stmt *s : {loc, user, rec, agg})
        sqlite3_finalize(s);
    return exec(ok ? "COMMIT" : "ROLLBACK") && ok;
}

bool growArchive(const QString &path, int firstLocator, int locators, qint64 *records)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -262144", nullptr, nullptr, nullptr);
    const bool ok = addFleet(db, firstLocator, locators, records);
    sqlite3_close(db);
    return ok;
}

QString withSerial(const QString &source, const QString &target, const QByteArray &serial)
{
    QFile in(source), out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QByteArray bytes = in.readAll();
    const QByteArray old = header("MONTH");
    bytes.replace(bytes.indexOf(old), old.size(), header(serial));
    out.write(bytes);
    return target;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures as they come
    QTemporaryDir tmp;
    QStringList args = app.arguments().mid(1);
    const bool sizes = !args.removeAll(QStringLiteral("--no-sizes"));
    const QDir dir(args.isEmpty() ? tmp.path() : args.first());
    const QString month = dir.filePath(QStringLiteral("month.csv"));
    const QString plain = dir.filePath(QStringLiteral("records.csv"));
    const QString grown = dir.filePath(QStringLiteral("grown.csv"));
    const QString db = dir.filePath(QStringLiteral("archive.sqlite"));
    const QString ref = dir.filePath(QStringLiteral("reference.sqlite"));
    for (const QString &f : {db, ref})
        QFile::remove(f);

    {
        QFile load(QStringLiteral("/proc/loadavg"));
        if (load.open(QIODevice::ReadOnly))
            std::printf("Load average at start: %s", load.readAll().constData());
    }
    std::printf("Generating a %lld-record month ...\n", kMonthRecords);
    if (!generate(month, plain, kMonthRecords, "MONTH") || !generate(grown, {}, kMonthRecords + 86400, "MONTH")) {
        std::fprintf(stderr, "cannot write the files in %s\n", qPrintable(dir.path()));
        return 1;
    }
    std::printf("  data file %.1f MB\n", mb(QFileInfo(month).size()));

    // The reference: the sqlite3 shell's .import into a plain table.
    double sqliteReference = 0;
    {
        QProcess p;
        QElapsedTimer t;
        const double cpu = cpuSeconds(RUSAGE_CHILDREN);
        t.start();
        p.start(QStringLiteral("sqlite3"), {ref});
        p.write(QStringLiteral("CREATE TABLE r (date TEXT, time TEXT, mode TEXT, frequency TEXT, measurement TEXT,"
                               " depth TEXT, signal TEXT);\n.mode csv\n.import '%1' r\n")
                    .arg(plain)
                    .toUtf8());
        p.closeWriteChannel();
        p.waitForFinished(-1);
        const double s = seconds(t);
        if (p.exitCode() != 0) {
            std::fprintf(stderr, "sqlite3 .import failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }
        sqliteReference = s;
        const double used = cpuSeconds(RUSAGE_CHILDREN) - cpu;
        std::printf("Reference, sqlite3 shell .import into a plain table: %.2f s, %.0f records/s"
                    " (CPU %.2f s: %.0f records per CPU second), %.1f MB\n",
                    s, double(kMonthRecords) / s, used, double(kMonthRecords) / used, mb(QFileInfo(ref).size()));
    }

    Archive::Store store;
    Archive::Location where;
    where.path = db;
    QString error;
    if (!store.open(where, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    double s = 0;
    Archive::ImportResult r = timedImport(store, month, &s);
    std::printf("Import into a new SQLite archive: %.2f s, %.0f records/s (CPU %.2f s: %.0f records per CPU"
                " second; %lld new); %.2fx the sqlite3 shell's .import\n",
                s, double(r.counts.added) / s, g_lastCpu, double(r.counts.added) / g_lastCpu, r.counts.added,
                s / sqliteReference);
    store.close();
    std::printf("  SQLite archive size: %.1f MB, %.1f MB per million records\n", mb(QFileInfo(db).size()),
                mb(QFileInfo(db).size()) / (double(kMonthRecords) / 1e6));
    store.open(where, &error);
    r = timedImport(store, month, &s);
    std::printf("Re-import of the same file: %.3f s (%s)\n", s,
                r.status == Archive::ImportResult::AlreadyImported ? "recognised" : "NOT recognised");
    r = timedImport(store, grown, &s);
    std::printf("Import of the file grown by a day: %.2f s (%lld new, %lld duplicate)\n", s, r.counts.added,
                r.counts.duplicates);
    qint64 records = store.recordCount();
    store.close();

    // Three sizes: the month, then a fleet of 6 and of 20 more locators.
    int serialNo = 0;
    auto measure = [&](const char *what) {
        const double report = reportTime(db);
        const QString file
            = withSerial(month, dir.filePath(QStringLiteral("next.csv")), "N" + QByteArray::number(++serialNo));
        store.open(where, &error);
        double importSecs = 0;
        const Archive::ImportResult ir = timedImport(store, file, &importSecs);
        records += ir.counts.added;
        store.close();
        QFile::remove(file);
        std::printf("%-28s report %.3f s; a further month's import %.2f s (%.0f records/s, CPU %.2f s);"
                    " now %lld records, %.1f MB per million\n",
                    what, report, importSecs, double(ir.counts.added) / importSecs, g_lastCpu, records,
                    mb(QFileInfo(db).size()) / (double(records) / 1e6));
    };
    if (sizes) {
        std::printf("Archive sizes (report: year 2026 by locator and month, best of 5 runs of locator-cli):\n");
        measure("  size 1 (one month):");
        QElapsedTimer grow;
        grow.start();
        if (!growArchive(db, 1, 6, &records))
            return 1;
        std::printf("  (+6 locators written in %.0f s)\n", seconds(grow));
        measure("  size 2 (+6 locators):");
        grow.start();
        if (!growArchive(db, 7, 14, &records))
            return 1;
        std::printf("  (+14 locators written in %.0f s)\n", seconds(grow));
        measure("  size 3 (+14 locators):");
    }

    if (qEnvironmentVariableIsSet("PGHOST")) {
        const QString url = QStringLiteral("postgresql://%1:%2@%3:%4/%5")
                                .arg(qEnvironmentVariable("PGUSER"), qEnvironmentVariable("PGPASSWORD"),
                                     qEnvironmentVariable("PGHOST"), qEnvironmentVariable("PGPORT", "5432"),
                                     qEnvironmentVariable("PGDATABASE"));
        Archive::Location pg;
        if (!Archive::ParseLocation(url, &pg, &error) || !store.open(pg, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        auto dbSize = [&] {
            QSqlQuery q(store.database());
            q.exec(QStringLiteral("SELECT pg_database_size(current_database())"));
            return q.next() ? q.value(0).toLongLong() : 0;
        };
        // The reference: psql's \copy of the same records (as CSV) into a
        // plain table, best of 3.
        double pgReference = 1e9;
        for (int i = 0; i < 3; ++i) {
            auto psql = [](const QString &command) {
                QProcess p;
                p.start(QStringLiteral("psql"),
                        {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                         QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), command});
                p.waitForFinished(-1);
                if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
                    std::fprintf(stderr, "psql failed: %s\n", p.readAllStandardError().constData());
                    return false;
                }
                return true;
            };
            if (!psql(QStringLiteral("DROP TABLE IF EXISTS reference_records; CREATE TABLE reference_records"
                                     " (date TEXT, time TEXT, mode TEXT, frequency TEXT, measurement TEXT,"
                                     " depth TEXT, signal TEXT)")))
                return 1;
            QElapsedTimer t;
            t.start();
            if (!psql(QStringLiteral("\\copy reference_records FROM '%1' WITH (FORMAT csv)").arg(plain)))
                return 1;
            pgReference = std::min(pgReference, seconds(t));
        }
        std::printf("Reference, psql \\copy into a plain table: %.2f s, %.0f records/s\n", pgReference,
                    double(kMonthRecords) / pgReference);
        QSqlQuery(store.database()).exec(QStringLiteral("DROP TABLE reference_records"));
        QSqlQuery(store.database()).exec(QStringLiteral("CHECKPOINT"));

        const qint64 before = dbSize();
        r = timedImport(store, month, &s);
        std::printf("PostgreSQL import: %.2f s, %.0f records/s (CPU of this program %.2f s; %lld new);"
                    " %.2fx psql's \\copy\n",
                    s, double(r.counts.added) / s, g_lastCpu, r.counts.added, s / pgReference);
        QSqlQuery(store.database()).exec(QStringLiteral("VACUUM ANALYZE"));
        std::printf("  PostgreSQL archive size: %.1f MB per million records\n",
                    mb(dbSize() - before) / (double(r.counts.added) / 1e6));
        r = timedImport(store, month, &s);
        std::printf("  re-import: %.3f s\n", s);
        // Mostly seconds the archive holds: the server sorts them out.
        r = timedImport(store, grown, &s);
        std::printf("  import of the file grown by a day: %.2f s (%lld new, %lld duplicate)\n", s, r.counts.added,
                    r.counts.duplicates);
        store.close();
    } else {
        std::printf("PostgreSQL: no server (run under pg_virtualenv for its figures)\n");
    }
    return 0;
}
