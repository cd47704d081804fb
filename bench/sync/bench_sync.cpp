// The window thread while the main window syncs a big memory: the simulated
// locator (unthrottled) on a pseudo-terminal, a fresh SQLite archive, and a
// probe that measures the longest stretch the window thread's event loop
// did not turn (a 1 ms timer, timed with QElapsedTimer). For comparison, the
// same file is then imported into another fresh archive on this thread, as
// an import on the window thread would hold the window.
//
//   bench_sync [records]      (default 300000)
//
// Exit status 0 when the sync ended complete with every record archived.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "LocatorSimulator.h"
#include "core/archive/Archive.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kCom = 5;

// The longest gap between two turns of the event loop, overall and while
// the archive imports.
struct StallProbe
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 longestImporting = 0;

    void tick(bool importing)
    {
        const qint64 now = clock.elapsed();
        const qint64 gap = now - last;
        last = now;
        longest = std::max(longest, gap);
        if (importing)
            longestImporting = std::max(longestImporting, gap);
    }
};

qint64 importHere(const QString &archive, const QString &file, qint64 *records)
{
    Archive::Store store;
    Archive::Location location;
    location.path = archive;
    QString error;
    if (!store.open(location, &error))
        return -1;
    QElapsedTimer t;
    t.start();
    const Archive::ImportResult r = store.importFile(file);
    *records = r.counts.added;
    return t.elapsed();
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QDir().mkpath(home.path() + "/Documents");
    const QString portsDir = home.path() + "/ports";
    qputenv("LOCATOR_PORTS_DIR", portsDir.toLocal8Bit());
    qputenv("LOCATOR_DEVICE_DIR", (home.path() + "/dev").toLocal8Bit());
    qputenv("LOCATOR_ARCHIVE", (home.path() + "/archive.sqlite").toLocal8Bit());
    QApplication app(argc, argv);
    const int records = app.arguments().value(1, QStringLiteral("300000")).toInt();

    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = records;
    cfg.maxChunk = 4096;
    sim::LocatorSimulator locator(cfg);
    std::string error;
    if (!locator.start((portsDir + QStringLiteral("/COM%1").arg(kCom)).toStdString(), &error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    frmMain w;
    w.OpenWorkingPort(kCom);
    if (!w.MSComm1().isOpen()) {
        std::fprintf(stderr, "the working port did not open\n");
        return 1;
    }
    w.SetConnectedState(true);
    w.form()->txtModel->setText(QStringLiteral("LOC2000"));
    w.form()->txtSerialNo->setText(QStringLiteral("001234"));
    w.form()->txtUser->setText(QStringLiteral("BOB"));

    const QString importing = QStringLiteral("Importing into the archive");
    StallProbe probe;
    QElapsedTimer total;
    qint64 importFrom = -1;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const bool nowImporting = w.form()->lblStatus->text() == importing;
        probe.tick(nowImporting);
        if (nowImporting && importFrom < 0)
            importFrom = total.elapsed();
        if (!w.syncActive())
            loop.quit();
    });
    total.start();
    probe.clock.start();
    tick.start();
    w.cmdSync_Click();
    loop.exec();
    const qint64 end = total.elapsed();

    const QString status = w.form()->lblStatus->text();
    const QString file = w.state().currentDataFilePath();
    std::printf("records on the locator   %d (%.1f MB transferred)\n", locator.recordCount(),
                double(QFileInfo(file).size()) / 1e6);
    std::printf("status                   %s\n", qPrintable(status));
    std::printf("sync                     %.2f s (transfer %.2f s, import %.2f s)\n", end / 1000.0, importFrom / 1000.0,
                (end - importFrom) / 1000.0);
    std::printf("longest window-thread stall: %lld ms overall, %lld ms while importing\n",
                static_cast<long long>(probe.longest), static_cast<long long>(probe.longestImporting));
    qint64 added = 0;
    const qint64 here = importHere(home.path() + "/compare.sqlite", file, &added);
    std::printf("the same import on the window thread: %lld ms (%lld records)\n", static_cast<long long>(here),
                static_cast<long long>(added));
    return status.startsWith(QStringLiteral("Synced: ")) && importFrom >= 0 ? 0 : 1;
}
