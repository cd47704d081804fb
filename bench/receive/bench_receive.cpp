// Receive path through a real pseudo-terminal into the data file.
//   1. Throughput: the simulated locator sends unthrottled; the transfer must
//      arrive complete and byte-exact. Reports MB/s.
//   2. Load at the locator's real line rate (115200 baud): CPU time of the
//      window thread (serial events, receive handling, file writes, drawing)
//      as a share of one core over the transfer.
// Usage: bench_receive [records-for-throughput] [records-at-line-rate]
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "LocatorSimulator.h"
#include "core/datafile/DataFileFormat.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Result
{
    bool exact = false;
    qint64 bytes = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

Result runTransfer(const QString &portsDir, sim::SimConfig cfg)
{
    Result r;
    sim::LocatorSimulator locator(cfg);
    std::string error;
    if (!locator.start((portsDir + "/COM5").toStdString(), &error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return r;
    }
    frmMain w;
    if (qEnvironmentVariableIsEmpty("BENCH_HIDDEN"))
        w.show();
    w.OpenWorkingPort(5);
    w.SetConnectedState(true);
    locator.waitForPortOpenCount(1, 5000);

    QElapsedTimer clock;
    const double cpu0 = threadCpuSeconds();
    clock.start();
    w.cmdDownloadAll_Click();
    // Sleep in the event loop between events, as the program itself does;
    // the tick only bounds how late the end is noticed.
    QTimer tick;
    tick.start(100);
    while (w.form()->lblStatus->text() != QLatin1String("File download complete")) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (clock.elapsed() > 600000)
            return r;
    }
    r.wallSeconds = double(clock.nsecsElapsed()) / 1e9;
    r.cpuSeconds = threadCpuSeconds() - cpu0;

    QFile f(w.state().DataFolder + w.state().CurrentDataFile);
    f.open(QIODevice::ReadOnly);
    const std::string sent = locator.lastTransfer();
    const QByteArray expected = DataFileFormat::DefaultCommentBlock() + QByteArray(sent.data(), qsizetype(sent.size()));
    const QByteArray got = f.readAll();
    r.exact = got == expected;
    r.bytes = qint64(sent.size());
    return r;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    const QString portsDir = home.path() + "/ports";
    qputenv("LOCATOR_PORTS_DIR", portsDir.toLocal8Bit());
    qputenv("LOCATOR_PACE_MS", "0");
    QApplication app(argc, argv);

    const int fastRecords = argc > 1 ? std::atoi(argv[1]) : 250000;
    const int lineRecords = argc > 2 ? std::atoi(argv[2]) : 1500;
    int failures = 0;

    sim::SimConfig fast;
    fast.throttled = false;
    fast.targetRecords = fastRecords;
    fast.minChunk = 1;
    fast.maxChunk = 8192;
    fast.liveIntervalMs = 1000000;
    const Result a = runTransfer(portsDir, fast);
    std::printf("throughput: %lld bytes in %.3f s = %.2f MB/s, window thread CPU %.3f s, file %s\n",
                static_cast<long long>(a.bytes), a.wallSeconds, a.bytes / a.wallSeconds / 1e6, a.cpuSeconds,
                a.exact ? "byte-exact" : "DIFFERENT");
    if (!a.exact || a.bytes / a.wallSeconds < 1e6)
        ++failures;

    // At line rate, once as a UART trickles bytes (writes of 1-64 bytes) and
    // once as a Bluetooth serial link delivers them (127-byte RFCOMM frames).
    struct Arrival
    {
        const char *name;
        int minChunk;
        int maxChunk;
    };
    for (const Arrival &a : {Arrival{"1-64 byte pieces", 1, 64}, Arrival{"127-byte frames", 127, 127}}) {
        sim::SimConfig line;
        line.throttled = true;
        line.targetRecords = lineRecords;
        line.minChunk = a.minChunk;
        line.maxChunk = a.maxChunk;
        line.liveIntervalMs = 1000000;
        const Result b = runTransfer(portsDir, line);
        const double share = 100.0 * b.cpuSeconds / b.wallSeconds;
        std::printf("line rate, %s: %lld bytes in %.3f s (%.0f B/s), window thread CPU %.3f s = %.2f%% of one core, "
                    "file %s\n",
                    a.name, static_cast<long long>(b.bytes), b.wallSeconds, b.bytes / b.wallSeconds, b.cpuSeconds,
                    share, b.exact ? "byte-exact" : "DIFFERENT");
        if (!b.exact || share >= 2.0)
            ++failures;
    }

    std::printf("%s\n", failures ? "TARGETS MISSED" : "targets met (>= 1 MB/s, < 2% CPU at line rate, no byte lost)");
    return failures ? 1 : 0;
}
