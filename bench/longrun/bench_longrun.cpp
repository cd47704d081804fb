// Long runs of the main window against the simulated locator, which runs as
// a separate process so that the memory figures are the program's own.
//
//   bench_longrun transfer [MB] [max-chunk]
//       An unthrottled "Transfer All" of about MB megabytes (default 200) in
//       random pieces of 1..max-chunk bytes (default 4096). Checks the file
//       byte for byte and reports the resident memory (current and peak)
//       when 10 MB and when all of it have been written.
//   bench_longrun live [seconds] [interval-ms]
//       The live monitor at one line per interval (default 10 ms) for the
//       given time (default 1800 s); reports memory once a minute and the
//       lines shown. Memory must stay flat.
//
// Exit status 0 only if the run finished, the file was exact (transfer) and
// memory stayed within bounds.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "LocatorSimulator.h"
#include "core/datafile/DataFileFormat.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kCom = 5;
constexpr qint64 kMB = 1000 * 1000;

// VmRSS and VmHWM of this process, in kB.
struct Memory
{
    qint64 rssKb = 0;
    qint64 peakKb = 0;
};

Memory memoryNow()
{
    Memory m;
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            m.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        else if (line.startsWith("VmHWM:"))
            m.peakKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return m;
}

// The simulated locator as its own program; started with an argument list.
class LocatorProcess
{
public:
    bool start(const QString &portsDir, const QStringList &options)
    {
        m_process.setProgram(QStringLiteral(LOCATOR_SIM_PROGRAM));
        m_process.setArguments(QStringList{"--ports-dir", portsDir, "--com", QString::number(kCom)} + options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        // It prints the link's path once the port exists.
        return m_process.waitForStarted(10000) && m_process.waitForReadyRead(60000);
    }
    ~LocatorProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

void connectWindow(frmMain &w)
{
    w.show();
    w.OpenWorkingPort(kCom);
    w.SetConnectedState(true);
    w.form()->txtModel->setText(QStringLiteral("LOC2000"));
    w.form()->txtSerialNo->setText(QStringLiteral("001234"));
    w.form()->txtUser->setText(QStringLiteral("BOB"));
}

// What the simulator's transfer header is for its default identity.
QByteArray expectedHeader(const sim::SimConfig &cfg)
{
    const QByteArray user = QByteArray::fromStdString(cfg.user).leftJustified(32, '_', true);
    const QByteArray fill = ("FW" + QByteArray::fromStdString(cfg.firmware) + "_HWB2").leftJustified(16, '_', true);
    const QByteArray model = QByteArray::fromStdString(cfg.model).leftJustified(8, '_', true);
    const QByteArray serial = QByteArray::fromStdString(cfg.serial).rightJustified(8, '_', true);
    return "#DA" + user + fill + model + serial + "\r\n";
}

int runTransfer(const QString &portsDir, double megabytes, int maxChunk)
{
    sim::SimConfig cfg;  // identity and seed as the simulator's defaults
    cfg.months = 120;  // room for millions of one-second records
    cfg.targetRecords = int(megabytes * double(kMB) / 31.3);  // about 31 bytes a record
    LocatorProcess locator;
    if (!locator.start(portsDir,
                       {"--unthrottled", "--records", QString::number(cfg.targetRecords), "--months",
                        QString::number(cfg.months), "--end", "06/12/26", "--chunk-min", "1", "--chunk-max",
                        QString::number(maxChunk), "--live-interval", "3600000"})) {
        std::fprintf(stderr, "the simulated locator did not start\n");
        return 1;
    }
    cfg.endDate = sim::Date{2026, 12, 6};

    frmMain w;
    connectWindow(w);
    const Memory before = memoryNow();
    QElapsedTimer clock;
    clock.start();
    w.cmdDownloadAll_Click();
    const QString path = w.state().DataFolder + w.state().CurrentDataFile;
    Memory at10;
    bool seen10 = false;
    qint64 maxRssKb = 0;
    while (w.form()->lblStatus->text() != QLatin1String("File download complete")) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        const qint64 size = QFileInfo(path).size();
        const Memory now = memoryNow();
        maxRssKb = qMax(maxRssKb, now.rssKb);
        if (!seen10 && size >= 10 * kMB) {
            at10 = now;
            seen10 = true;
        }
        if (clock.elapsed() > 3600 * 1000) {
            std::fprintf(stderr, "no end after an hour\n");
            return 1;
        }
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const Memory atEnd = memoryNow();
    const qint64 fileSize = QFileInfo(path).size();

    // Byte for byte, in blocks, against the records the simulator holds.
    sim::LocatorSimulator reference(cfg);
    const std::string records = reference.logText();
    const QByteArray head = DataFileFormat::DefaultCommentBlock() + expectedHeader(cfg);
    QFile f(path);
    bool exact = f.open(QIODevice::ReadOnly) && fileSize == head.size() + qint64(records.size()) + 1
        && f.read(head.size()) == head;
    for (size_t at = 0; exact && at < records.size(); at += size_t(4 * kMB)) {
        const QByteArray got = f.read(qint64(std::min<size_t>(4 * kMB, records.size() - at)));
        exact = got.size() > 0 && std::memcmp(got.constData(), records.data() + at, size_t(got.size())) == 0;
    }
    exact = exact && f.read(2) == "\x1a";

    std::printf("transfer: %.1f MB in %.1f s (%.1f MB/s), pieces 1..%d bytes, file %s\n", double(fileSize) / kMB,
                seconds, double(fileSize) / kMB / seconds, maxChunk, exact ? "byte-exact" : "DIFFERENT");
    std::printf("memory before:   rss %lld kB\n", static_cast<long long>(before.rssKb));
    std::printf("memory at 10 MB: rss %lld kB, peak %lld kB\n", static_cast<long long>(at10.rssKb),
                static_cast<long long>(at10.peakKb));
    std::printf("memory at end:   rss %lld kB, peak %lld kB (largest rss seen %lld kB)\n",
                static_cast<long long>(atEnd.rssKb), static_cast<long long>(atEnd.peakKb),
                static_cast<long long>(maxRssKb));
    // Flat: the whole transfer may not add more than a few MB to the peak seen at 10 MB.
    const bool flat = seen10 && atEnd.peakKb - at10.peakKb < 16 * 1024;
    std::printf("memory %s\n", flat ? "flat" : "GROWS");
    return exact && flat ? 0 : 1;
}

int runLive(const QString &portsDir, int seconds, int intervalMs)
{
    LocatorProcess locator;
    if (!locator.start(portsDir, {"--live-interval", QString::number(intervalMs)})) {
        std::fprintf(stderr, "the simulated locator did not start\n");
        return 1;
    }
    frmMain w;
    connectWindow(w);
    qint64 shown = 0;
    QObject::connect(&w.MSComm1(), &SerialPort::OnComm, [&] { ++shown; });
    w.output_string1("#FV");

    QElapsedTimer clock;
    clock.start();
    qint64 nextReport = 0;
    Memory first;
    qint64 maxRssKb = 0;
    while (clock.elapsed() < qint64(seconds) * 1000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (clock.elapsed() >= nextReport) {
            const Memory m = memoryNow();
            if (nextReport == 0)
                first = m;
            maxRssKb = qMax(maxRssKb, m.rssKb);
            std::printf("%6.0f s  events %9lld  rss %7lld kB  peak %7lld kB  monitor \"%s\"\n",
                        double(clock.elapsed()) / 1000, static_cast<long long>(shown), static_cast<long long>(m.rssKb),
                        static_cast<long long>(m.peakKb), qPrintable(w.form()->lblMonitor->text().trimmed()));
            std::fflush(stdout);
            nextReport += 60000;
        }
        if (!w.MSComm1().isOpen()) {
            std::fprintf(stderr, "the link was lost\n");
            return 1;
        }
    }
    const Memory last = memoryNow();
    std::printf("live: %d s at one line per %d ms, %lld receive events; rss %lld -> %lld kB (max %lld kB)\n", seconds,
                intervalMs, static_cast<long long>(shown), static_cast<long long>(first.rssKb),
                static_cast<long long>(last.rssKb), static_cast<long long>(maxRssKb));
    const bool flat = last.rssKb - first.rssKb < 16 * 1024;
    std::printf("memory %s\n", flat ? "flat" : "GROWS");
    return flat && shown > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("LOCATOR_PACE_MS"))
        qputenv("LOCATOR_PACE_MS", "0");
    // A home of its own: the data files go to a scratch folder.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QDir().mkpath(home.path() + "/Documents");
    const QString portsDir = home.path() + "/ports";
    qputenv("LOCATOR_PORTS_DIR", portsDir.toLocal8Bit());
    QApplication app(argc, argv);

    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("transfer"))
        return runTransfer(portsDir, args.value(2, "200").toDouble(), args.value(3, "4096").toInt());
    if (mode == QLatin1String("live"))
        return runLive(portsDir, args.value(2, "1800").toInt(), args.value(3, "10").toInt());
    std::fprintf(stderr, "usage: bench_longrun transfer [MB] [max-chunk] | live [seconds] [interval-ms]\n");
    return 2;
}
