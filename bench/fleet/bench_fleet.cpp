// The Fleet window stays responsive while the archive works:
//  1. the import of a 3,000,000-record data file through the import dialog:
//     its time and rate, beside `locator-cli archive import` of the same
//     file into a new archive, and the window thread's longest stretch
//     without returning to its event loop;
//  2. a year's usage of a fleet (50 locators, 3 users each, every day, written
//     straight into the usage table as imports would) reported by locator,
//     user, month and day, and the locator list read: each one's time and
//     the longest stretch.
// A user's click waits at most the longest stretch; the aim is 50 ms.
// Usage: bench_fleet [folder for the files (default: a temporary one)]
#include "LoopWatch.h"
#include "gui/fleet/ImportDialog.h"
#include "gui/fleet/frmFleet.h"

#include "core/archive/Archive.h"
#include "core/datafile/DataFileFormat.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr qint64 kRecords = 3000000;
constexpr int kLocators = 50;
constexpr int kUsers = 3;

double seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

// Continuous logging from 01/01/2026 00:00:00, one record a second.
bool generate(const QString &path, qint64 records)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray out = DataFileFormat::DefaultCommentBlock() + "#DA" + QByteArray("BOB").leftJustified(32, '_')
        + QByteArray(16, '0') + QByteArray("LOC2000").leftJustified(8, '_') + QByteArray("777").rightJustified(8, '_')
        + "\r\n";
    static const char modes[] = {'A', 'T', 'T', 'R', 'P', 'A', 'T'};
    const QDate first(2026, 1, 1);
    char line[96];
    for (qint64 i = 0; i < records; ++i) {
        const QDate d = first.addDays(i / 86400);
        const qint64 clock = i % 86400;
        const int n = std::snprintf(line, sizeof line, "%02d/%02d/%02d,%02lld:%02lld:%02lld,%c,33KHz,D,1.25,%lld\r\n",
                                    d.day(), d.month(), d.year() % 100, clock / 3600, (clock / 60) % 60, clock % 60,
                                    modes[(i / 97) % 7], i % 31);
        out.append(line, n);
        if (out.size() > (4 << 20)) {
            if (f.write(out) != out.size())
                return false;
            out.clear();
        }
    }
    out += '\x1a';
    return f.write(out) == out.size();
}

// A year of a fleet's usage straight into the usage table.
bool addYear(const QString &path)
{
    Archive::Store store;
    QString error;
    Archive::Location location;
    location.path = path;
    if (!store.open(location, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    QSqlDatabase db = store.database();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN")))
        return false;
    for (int u = 0; u < kUsers; ++u)
        q.exec(QStringLiteral("INSERT INTO users (name) VALUES ('USER%1') ON CONFLICT (name) DO NOTHING").arg(u));
    QSqlQuery ins(db);
    ins.prepare(QStringLiteral("INSERT INTO usage_days (locator, user_id, day, mode, seconds) VALUES ("
                               "(SELECT id FROM locators WHERE serial = ?), (SELECT id FROM users WHERE name = ?),"
                               " ?, ?, ?)"));
    for (int l = 0; l < kLocators; ++l) {
        const QString serial = QStringLiteral("F%1").arg(l, 4, 10, QLatin1Char('0'));
        q.exec(QStringLiteral("INSERT INTO locators (serial, model) VALUES ('%1', 'LOC2000')").arg(serial));
        for (int u = 0; u < kUsers; ++u) {
            for (int day = 0; day < 365; ++day) {
                for (int mode = 0; mode < 4; ++mode) {
                    ins.bindValue(0, serial);
                    ins.bindValue(1, QStringLiteral("USER%1").arg(u));
                    ins.bindValue(2, Archive::DayKey(QDate(2026, 1, 1).addDays(day)));
                    ins.bindValue(3, mode);
                    ins.bindValue(4, 600 + (l * 7 + u * 13 + day + mode * 31) % 900);
                    if (!ins.exec()) {
                        std::fprintf(stderr, "%s\n", qPrintable(ins.lastError().text()));
                        return false;
                    }
                }
            }
        }
    }
    return q.exec(QStringLiteral("COMMIT"));
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QDir().mkpath(folder);
    const QString file = QDir(folder).filePath(QStringLiteral("month.csv"));
    const QString windowDb = QDir(folder).filePath(QStringLiteral("window.sqlite"));
    const QString cliDb = QDir(folder).filePath(QStringLiteral("cli.sqlite"));
    QFile::remove(windowDb);
    QFile::remove(cliDb);
    std::printf("generating %lld records...\n", kRecords);
    std::fflush(stdout);
    if (!generate(file, kRecords))
        return 1;

    // 1. The import through the window.
    frmFleet w(windowDb);
    w.show();
    if (!waitUntil([&] { return !w.busy(); }, 60000))
        return 1;
    w.openImport({file});
    ImportDialog *dialog = w.importDialog();
    bool ended = false;
    QObject::connect(dialog, &ImportDialog::importEnded, [&] { ended = true; });
    LoopWatch watch;
    QElapsedTimer t;
    t.start();
    dialog->startImport();
    if (!waitUntil([&] { return ended; }, 3600 * 1000))
        return 1;
    const double windowS = seconds(t);
    const double importBusy = watch.longestMs();
    if (dialog->outcomes().value(0).state != ImportDialog::FileOutcome::Imported) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(dialog->outcomes().value(0).error));
        return 1;
    }
    std::printf("%-44s %6.2f s, %9.0f records/s, longest busy %6.1f ms\n", "import, Fleet window:", windowS,
                double(kRecords) / windowS, importBusy);

    QProcess cli;
    t.start();
    cli.start(QStringLiteral(LOCATOR_CLI_PATH),
              {QStringLiteral("archive"), QStringLiteral("import"), QStringLiteral("--database"), cliDb, file});
    cli.waitForFinished(-1);
    const double cliS = seconds(t);
    if (cli.exitCode() != 0) {
        std::fprintf(stderr, "locator-cli failed: %s\n", cli.readAllStandardError().constData());
        return 1;
    }
    std::printf("%-44s %6.2f s, %9.0f records/s\n", "import, locator-cli archive import:", cliS,
                double(kRecords) / cliS);

    // 2. A year's reports.
    if (!waitUntil([&] { return !w.busy(); }, 60000) || !addYear(windowDb))
        return 1;
    double reportBusy = 0;
    for (Archive::GroupBy by :
         {Archive::GroupBy::Locator, Archive::GroupBy::User, Archive::GroupBy::Month, Archive::GroupBy::Day}) {
        watch.reset();
        t.start();
        w.showUsage(QDate(2026, 1, 1), QDate(2026, 12, 31), by);
        if (!waitUntil([&] { return !w.busy(); }, 600000))
            return 1;
        const double s = seconds(t);
        const double busy = watch.longestMs();
        reportBusy = std::max(reportBusy, busy);
        std::printf("year's report by %-27s %6.2f s, %4d rows (%lld days), longest busy %6.1f ms\n",
                    qPrintable(Archive::GroupByName(by) + QLatin1Char(':')), s, w.usageModel().rowCount(),
                    qint64(w.usageDays().size()), busy);
    }
    watch.reset();
    t.start();
    w.refresh();
    if (!waitUntil([&] { return !w.busy(); }, 600000))
        return 1;
    const double refreshBusy = watch.longestMs();
    std::printf("%-44s %6.2f s, %4d locators, longest busy %6.1f ms\n", "locators and report refreshed:", seconds(t),
                w.locatorModel().rowCount(), refreshBusy);
    std::printf("longest window-thread stretch: import %.1f ms, reports %.1f ms (aim: 50 ms)\n", importBusy,
                std::max(reportBusy, refreshBusy));
    return 0;
}
