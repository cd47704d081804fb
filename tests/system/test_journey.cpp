// One user's session end to end against a simulated locator: start, Scan,
// accept COM5, watch the live line, Transfer by Date, Disconnect.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "ScriptedInteraction.h"
#include "TestEnvironment.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/Pacing.h"
#include "gui/common/Folders.h"
#include "gui/common/Lamp.h"

#include <QTest>

using namespace MainWindowHarness;

class TestJourney : public QObject
{
    Q_OBJECT
private slots:
    void scanTransferByDateDisconnect();
};

void TestJourney::scanTransferByDateDisconnect()
{
    Pacing::SetShortPauseMs(kProbePaceMs);
    TestEnvironment env;
    ScriptedInteraction ui;
    ui.clock.set(QDateTime(QDate(2026, 12, 6), QTime(19, 55, 1)));

    // A locator that sends at line rate, as the real one does, with a log ending today.
    sim::SimConfig cfg;
    cfg.endDate = {2026, 12, 6};
    cfg.seed = 7;
    cfg.liveIntervalMs = 60000;  // one live line after "#FV", none mixed into the transfer
    auto locator = startLocator(env.portsDir(), 5, cfg);
    QVERIFY(locator);
    const std::string expectedRecords = locator->logTextBetween("01/12/26", "06/12/26");
    QVERIFY(!expectedRecords.empty());

    frmMain w;
    w.show();
    Ui::frmMain &f = *w.form();

    answers(ui.answers, {true, true});
    f.cmdrescan->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.linkBusy(), 15000);  // the scan runs from the event loop
    QCOMPARE(ui.questions.last(), QStringLiteral("Locator type LOC2000, Serial Number 001234. Use this connection?"));
    QCOMPARE(f.lblStatus->text(), QStringLiteral("Using port number 5"));
    QVERIFY(QTest::qWaitFor([&] { return locator->waitForCommand("#FV", 0); }, 15000));
    QTRY_VERIFY_WITH_TIMEOUT(f.lblMonitor->text().startsWith(QStringLiteral("Live: $T,33KHz,")), 15000);
    QCOMPARE(f.shpMode->fillColor(), kGreen);
    QVERIFY(f.tabstrip->isTabEnabled(1));

    f.tabstrip->setCurrentIndex(1);
    f.dtpStart->setDate(QDate(2026, 12, 1));
    f.dtpEnd->setDate(QDate(2026, 12, 6));
    f.cmdDownloadByDate->click();
    QVERIFY(QTest::qWaitFor([&] { return locator->waitForCommand("#DD", 0); }, 15000));
    QCOMPARE(locator->commands().back(), std::string("#DD01/12/26,06/12/26"));
    QTRY_COMPARE_WITH_TIMEOUT(f.lblStatus->text(), QStringLiteral("File download complete"), 60000);
    QVERIFY(locator->waitForTransferEnd(1000));

    const QString name
        = QStringLiteral("Locator Usage for BOB LOC2000 001234__ (01-12-26 to 06-12-26)__(06-12-2026--19-55-01).csv");
    QCOMPARE(w.state().CurrentDataFile, name);
    const std::string sent = locator->lastTransfer();
    QVERIFY(sent.starts_with("#DD"));
    QVERIFY(sent.find(expectedRecords) != std::string::npos);
    QVERIFY(sent.ends_with("\x1a"));
    const QByteArray file = readFile(QDir(env.dataDir()).filePath(name));
    QVERIFY(w.state().DataFileCommentBlock.startsWith("// "));
    QCOMPARE(file, w.state().DataFileCommentBlock + QByteArray::fromStdString(sent));
    QVERIFY(f.cmdAnalyse->isEnabled());

    f.tabstrip->setCurrentIndex(0);
    ui.answers.enqueue(false);
    f.cmdDisconnect->click();
    QVERIFY(w.state().Connected && w.MSComm1().isOpen());  // No leaves the link as it was
    ui.answers.enqueue(true);
    f.cmdDisconnect->click();
    QCOMPARE(ui.questions.last(), QStringLiteral("Are you sure you want to disconnect?"));
    QVERIFY(!w.state().Connected);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!f.cmdAnalyse->isEnabled());
    QVERIFY(w.state().BluetoothFirmwareVersion.isEmpty());
    QVERIFY(w.state().CurrentDataFile.isEmpty());
    QCOMPARE(f.shpMode->fillColor(), kDarkRed);
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(QTest::qWaitFor([&] { return locator->waitForPortOpenCount(0, 0); }, 15000));
}

QTEST_MAIN(TestJourney)
#include "test_journey.moc"
