// Transfers and syncs end to end: the main window's working port on a real
// pseudo-terminal, the simulated locator on the other side, a real SQLite
// archive. The data file must be the comment block followed by exactly the
// bytes the locator sent, and a sync's archive must hold the file's records.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "ArchiveFiles.h"
#include "MainWindowHarness.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/Protocol.h"
#include "gui/common/Folders.h"

#include <QFile>
#include <QTest>

using namespace MainWindowHarness;

namespace {
constexpr int kCom = 5;
constexpr int kLong = 60000;

int countOf(const sim::LocatorSimulator &s, const std::string &command)
{
    const std::vector<std::string> all = s.commands();
    return int(std::count(all.begin(), all.end(), command));
}

}  // namespace

class TestTransferSim : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        setUp();
        qputenv("LOCATOR_ARCHIVE", archivePath().toLocal8Bit());
    }
    void cleanup()
    {
        qunsetenv("LOCATOR_ARCHIVE");
        m_sim.reset();
        tearDown();
    }

    void transferAll_data();
    void transferAll();
    void transferByDateSendsOnlyTheRange();
    void stopGivesAbortedPartialFile();
    void powerDownKeepsEveryByteReceived();
    void vanishingPortKeepsWhatArrived();

    void syncBringsOnlyNewRecords();
    void syncCutShortKeepsWhatArrived_data();
    void syncCutShortKeepsWhatArrived();
    void syncOnConnectFiresOnceOnFirstData();

private:
    std::unique_ptr<frmMain> connectedWindow(sim::SimConfig cfg)
    {
        m_sim = startLocator(m_env->portsDir(), kCom, cfg);
        auto w = std::make_unique<frmMain>();
        if (!m_sim || !connectSim(*w, *m_sim, kCom))
            return nullptr;
        showIdentity(*w);
        return w;
    }

    static QString statusOf(frmMain &w) { return w.form()->lblStatus->text(); }
    static QString currentPath(frmMain &w) { return w.state().DataFolder + w.state().CurrentDataFile; }
    QString archivePath() const { return m_env->root() + QStringLiteral("/archive.sqlite"); }
    // Sync pressed; true once its result is on the status line.
    static bool synced(frmMain &w)
    {
        w.cmdSync_Click();
        return w.syncActive() && QTest::qWaitFor([&] { return !w.syncActive(); }, kLong);
    }

    std::unique_ptr<sim::LocatorSimulator> m_sim;
};

void TestTransferSim::transferAll_data()
{
    QTest::addColumn<bool>("throttled");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("maxChunk");
    QTest::addColumn<uint>("seed");
    QTest::newRow("line rate") << true << 120 << 64 << 1u;
    QTest::newRow("unthrottled, small random chunks") << false << 3000 << 7 << 2u;
    QTest::newRow("unthrottled, large random chunks") << false << 6000 << 4096 << 3u;
}

void TestTransferSim::transferAll()
{
    QFETCH(bool, throttled);
    QFETCH(int, records);
    QFETCH(int, maxChunk);
    QFETCH(uint, seed);
    sim::SimConfig cfg;
    cfg.throttled = throttled;
    cfg.targetRecords = records;
    cfg.maxChunk = maxChunk;
    cfg.seed = seed;
    auto w = connectedWindow(cfg);
    QVERIFY(w);

    w->cmdDownloadAll_Click();
    QVERIFY(QTest::qWaitFor([&] { return m_sim->waitForCommand("#DA", 0); }, 5000));
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*w), QStringLiteral("File download complete"), kLong);
    QVERIFY(!ProcessDataFile().isOpen());
    const QByteArray sent = bytes(m_sim->lastTransfer());
    QVERIFY(sent.endsWith('\x1a'));
    QVERIFY(sent.contains(bytes(m_sim->logText())));
    QVERIFY(w->state().CurrentDataFile.startsWith("Locator Usage for BOB LOC2000 001234__ ("));
    QCOMPARE(readFile(currentPath(*w)), DataFileFormat::DefaultCommentBlock() + sent);
}

void TestTransferSim::transferByDateSendsOnlyTheRange()
{
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 3000;
    cfg.endDate = sim::Date{2026, 12, 6};
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    w->form()->dtpStart->setDate(QDate(2026, 10, 1));
    w->form()->dtpEnd->setDate(QDate(2026, 10, 31));
    w->cmdDownloadByDate_Click();
    QVERIFY(QTest::qWaitFor([&] { return m_sim->waitForCommand("#DD01/10/26,31/10/26", 0); }, 5000));
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*w), QStringLiteral("File download complete"), kLong);
    QVERIFY(w->state().CurrentDataFile.contains("__ (01-10-26 to 31-10-26)__("));
    const QByteArray sent = bytes(m_sim->lastTransfer());
    const QByteArray range = bytes(m_sim->logTextBetween("01/10/26", "31/10/26"));
    QVERIFY(!range.isEmpty());
    QVERIFY(sent.startsWith("#DD"));
    QVERIFY(sent.contains(range));
    QVERIFY(!sent.contains("/09/26,"));
    QCOMPARE(readFile(currentPath(*w)), DataFileFormat::DefaultCommentBlock() + sent);
}

void TestTransferSim::stopGivesAbortedPartialFile()
{
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;  // ~10 s at line rate: plenty of time to stop
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    w->form()->chkAdvanced->setChecked(true);
    w->chkAdvanced_Click();
    w->cmdDownloadAll_Click();
    QTRY_VERIFY_WITH_TIMEOUT(w->state().TransferCharCount > 2000, kLong);
    w->cmdStop_Click();
    QVERIFY(QTest::qWaitFor([&] { return m_sim->waitForCommand("A", 0); }, 5000));
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*w), QStringLiteral("File download aborted. Incomplete data written to file"),
                              kLong);
    QVERIFY(!w->tmrAbort().isActive());
    const QByteArray sent = bytes(m_sim->lastTransfer());
    QVERIFY(sent.endsWith("ABORT\x1a"));
    QVERIFY(sent.size() < bytes(m_sim->logText()).size());
    QCOMPARE(readFile(currentPath(*w)), DataFileFormat::DefaultCommentBlock() + sent);
}

void TestTransferSim::powerDownKeepsEveryByteReceived()
{
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    w->cmdDownloadAll_Click();
    const QString name = w->state().CurrentDataFile;
    QTRY_VERIFY_WITH_TIMEOUT(w->state().TransferCharCount > 1500, kLong);
    m_sim->powerDown();
    QTRY_COMPARE_WITH_TIMEOUT(
        statusOf(*w), QStringLiteral("The Locator has powered down. Any downloads may not have completed."), kLong);
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(w->state().CurrentDataFile, name);
    const QByteArray sent = bytes(m_sim->lastTransfer());
    QVERIFY(!sent.endsWith('\x1a'));
    QCOMPARE(readFile(currentPath(*w)), DataFileFormat::DefaultCommentBlock() + sent);
}

void TestTransferSim::vanishingPortKeepsWhatArrived()
{
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    w->cmdDownloadAll_Click();
    const QString name = w->state().CurrentDataFile;
    QTRY_VERIFY_WITH_TIMEOUT(w->state().TransferCharCount > 1500, kLong);
    m_sim->vanish();
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*w), QStringLiteral("Link lost with Locator. Please re-link before proceeding"),
                              kLong);
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(!w->MSComm1().isOpen());
    QCOMPARE(w->state().CurrentDataFile, name);
    // What was in flight when the device went may be gone with it; what
    // arrived is on disk, in order.
    const QByteArray expected = DataFileFormat::DefaultCommentBlock() + bytes(m_sim->lastTransfer());
    const QByteArray file = readFile(currentPath(*w));
    QVERIFY(file.size() > DataFileFormat::DefaultCommentBlock().size() + 1000);
    QVERIFY(expected.startsWith(file));
}

void TestTransferSim::syncBringsOnlyNewRecords()
{
    const QDate yesterday = QDate::currentDate().addDays(-1);
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 1500;
    cfg.months = 1;
    cfg.endDate = sim::Date{yesterday.year(), yesterday.month(), yesterday.day()};
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    auto *ui = w->form();
    QCOMPARE(m_sim->recordCount(), 1500);
    QVERIFY(ownEnabled(ui->cmdSync));

    // Never archived: everything, into the file a transfer writes, which is then the current one.
    QVERIFY(synced(*w));
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("Synced: 1,500 new records."));
    QCOMPARE(m_sim->commands(), (std::vector<std::string>{"#AE", "#DA"}));
    QVERIFY(w->state().CurrentDataFile.startsWith("Locator Usage for BOB LOC2000 001234__ ("));
    QCOMPARE(readFile(currentPath(*w)), DataFileFormat::DefaultCommentBlock() + bytes(m_sim->lastTransfer()));
    QCOMPARE(ArchiveFiles::ArchivedRecords(archivePath()), 1500);
    QCOMPARE(ui->ProgressBar1->value(), ui->ProgressBar1->maximum());
    QVERIFY(ownEnabled(ui->cmdAnalyse) && ownEnabled(ui->cmdOpenFile));
    QVERIFY(ownEnabled(ui->cmdSync) && ownEnabled(ui->cmdDownloadByDate) && !ui->cmdStop->isEnabled());
    QVERIFY(ui->tabstrip->isTabEnabled(0) && ui->tabstrip->isTabEnabled(2) && ui->tabstrip->isTabEnabled(3));
    QVERIFY(w->tmrCommsWatchdog().isActive());
    QVERIFY(!ProcessDataFile().isOpen());

    // Used since: from the last archived day to today, and only the new seconds are added.
    m_sim->logUse(30);
    QVERIFY(synced(*w));
    QVERIFY2(ui->lblStatus->text().startsWith(QStringLiteral("Synced: 30 new records, ")),
             qPrintable(ui->lblStatus->text()));
    const QString today = QDate::currentDate().toString(QStringLiteral("dd/MM/yy"));
    QVERIFY(QString::fromStdString(m_sim->commands().back()).startsWith("#DD"));
    QVERIFY(QString::fromStdString(m_sim->commands().back()).endsWith("," + today));
    QVERIFY(w->state().CurrentDataFile.contains(" to " + QString(today).replace('/', '-') + ")__("));
    QCOMPARE(readFile(currentPath(*w)), DataFileFormat::DefaultCommentBlock() + bytes(m_sim->lastTransfer()));
    QCOMPARE(ArchiveFiles::ArchivedRecords(archivePath()), 1530);
}

void TestTransferSim::syncCutShortKeepsWhatArrived_data()
{
    QTest::addColumn<bool>("unplug");
    QTest::newRow("Stop") << false;
    QTest::newRow("unplugged") << true;
}

void TestTransferSim::syncCutShortKeepsWhatArrived()
{
    QFETCH(bool, unplug);
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;  // ~10 s at line rate
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    auto *ui = w->form();
    ui->chkAdvanced->setChecked(true);
    w->chkAdvanced_Click();
    w->cmdSync_Click();
    QTRY_VERIFY_WITH_TIMEOUT(ui->ProgressBar1->value() > 2000, kLong);
    // As during a transfer: the commands that would talk over it are out of reach.
    QVERIFY(!ownEnabled(ui->cmdSync) && !ownEnabled(ui->cmdDownloadByDate) && ownEnabled(ui->cmdStop));
    QVERIFY(!ui->tabstrip->isTabEnabled(0) && !ui->tabstrip->isTabEnabled(3));
    QVERIFY(!w->tmrCommsWatchdog().isActive());
    if (unplug) {
        m_sim->vanish();
    } else {
        w->cmdStop_Click();
        QVERIFY(QTest::qWaitFor([&] { return m_sim->waitForCommand("A", 0); }, 5000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w->syncActive(), kLong);

    const QString status = ui->lblStatus->text();
    QVERIFY2(status.startsWith("Partly synced: "), qPrintable(status));
    QVERIFY2(status.contains(unplug ? "Port 5 was lost during the transfer; what arrived is in "
                                    : "Stopped on request; incomplete data written to "),
             qPrintable(status));
    // What arrived is the current file, and the archive holds exactly its records.
    const QByteArray file = readFile(currentPath(*w));
    const QByteArray sent = DataFileFormat::DefaultCommentBlock() + bytes(m_sim->lastTransfer());
    QVERIFY(unplug ? sent.startsWith(file) : file == sent && sent.endsWith("ABORT\x1a"));
    const qint64 arrived = ArchiveFiles::RecordLines(file);
    QVERIFY(arrived > 10 && arrived < m_sim->recordCount());
    QCOMPARE(ArchiveFiles::ArchivedRecords(archivePath()), arrived);
    QVERIFY(ownEnabled(ui->cmdOpenFile));
    // A lost link leaves the window not connected; a stopped sync leaves it at work.
    QCOMPARE(w->MSComm1().isOpen(), !unplug);
    QCOMPARE(w->state().Connected, !unplug);
    QCOMPARE(ownEnabled(ui->cmdSync), !unplug);
    QCOMPARE(w->tmrCommsWatchdog().isActive(), !unplug);
}

void TestTransferSim::syncOnConnectFiresOnceOnFirstData()
{
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 300;
    cfg.liveIntervalMs = 60000;  // one live line after "#FV"; the test sends the others
    cfg.clockOffsetSeconds = -3600;
    auto w = connectedWindow(cfg);
    QVERIFY(w);
    auto *ui = w->form();
    ui->chkSyncOnConnect->setChecked(true);
    w->chkSyncOnConnect_Click();
    w->output_string1(Protocol::StartLive);  // as a connect does; the locator's first data follows
    QTRY_VERIFY_WITH_TIMEOUT(ui->lblStatus->text().startsWith("Synced: "), kLong);
    // The core's clock warning, with the window's way to set the clock.
    QCOMPARE(ui->lblStatus->text(),
             QStringLiteral("Synced: 300 new records. The locator's clock is 1 h behind this "
                            "computer's; set its clock with \"Set Date\" and \"Set Time\" on "
                            "the Setup tab."));
    QCOMPARE(ArchiveFiles::ArchivedRecords(archivePath()), 300);
    // Later data starts no other sync.
    for (const char *line : {"$T,33KHz,0,0,11\r\n", "$T,33KHz,0,0,12\r\n"}) {
        m_sim->sendText(line);
        QTRY_COMPARE_WITH_TIMEOUT(ui->lblMonitor->text(), "Live: " + QString::fromLatin1(line), kLong);
    }
    QVERIFY(!w->syncActive());
    QCOMPARE(countOf(*m_sim, "#AE"), 1);
    QCOMPARE(countOf(*m_sim, "#DA"), 1);

    // Remembered beside the port list for the next start.
    QVERIFY(QFileInfo::exists(m_env->configDir() + "/korvex/toolkit.ini"));
    frmMain next;
    QVERIFY(next.form()->chkSyncOnConnect->isChecked());
}

QTEST_MAIN(TestTransferSim)
#include "test_transfer_sim.moc"
