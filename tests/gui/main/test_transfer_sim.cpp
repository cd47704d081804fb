// Transfers end to end: the main window's working port on a real
// pseudo-terminal, the simulated locator on the other side. The data file
// must be the comment block followed by exactly the bytes the locator sent.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "gui/common/Folders.h"

#include <QFile>
#include <QTest>

using namespace MainWindowHarness;

namespace {
constexpr int kCom = 5;
constexpr int kLong = 60000;

}  // namespace

class TestTransferSim : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup()
    {
        m_sim.reset();
        tearDown();
    }

    void transferAll_data();
    void transferAll();
    void transferByDateSendsOnlyTheRange();
    void stopGivesAbortedPartialFile();
    void powerDownKeepsEveryByteReceived();
    void vanishingPortKeepsWhatArrived();

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

QTEST_MAIN(TestTransferSim)
#include "test_transfer_sim.moc"
