// Scan and known-port connection against simulated locators on real
// pseudo-terminals: what the user is asked and shown, which ports are
// probed, what the port list holds afterwards, and the failure paths.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "core/link/Pacing.h"
#include "core/link/PortList.h"
#include "gui/common/Lamp.h"

#include <QTest>

using namespace MainWindowHarness;

namespace {
const QString kUse5 = QStringLiteral("Locator type LOC2000, Serial Number 001234. Use this connection?");
const QString kUse9 = QStringLiteral("Locator type LOC3000, Serial Number 005678. Use this connection?");
const QString kKnownUse5 = QStringLiteral("Locator type LOC2000, serial number 001234. Use this connection?");
const QString kSure = QStringLiteral("Are you sure you want to scan?");
const QString kAgain = QStringLiteral("No locator found. Search again?");
const QString kNoComms = QStringLiteral(
    "No communications received from locator. Ensure it is powered on or try 'Scan' to find the locator.");
constexpr int kWaitMs = 15000;  // generous: sanitizer builds on a busy machine
}  // namespace

class TestConnect : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { Pacing::SetShortPauseMs(kProbePaceMs); }
    void init() { setUp(); }
    void cleanup()
    {
        m_window.reset();
        m_sim5.reset();
        m_sim9.reset();
        tearDown();
    }

    void scanAcceptsFirstLocator();
    void scanNoGoesOnToNextPort();
    void searchAgainLoopsWithoutRecursion();
    void scanRecordsPortInList_data();
    void scanRecordsPortInList();
    void scanKeepsLongAndMalformedList();
    void workingPortFailureLeavesNotConnected();
    void knownPortConnects();
    void knownPortNoClosesProbe();
    void knownPortInvalid();
    void knownPortSwitchedOff();
    void knownPortWorkingPortFailure();

private:
    void startBoth()
    {
        m_sim5 = startLocator(m_env->portsDir(), 5, quickLocator("001234"));
        m_sim9 = startLocator(m_env->portsDir(), 9, quickLocator("005678", "ACME LTD.", "LOC3000", "2.05"));
        QVERIFY(m_sim5 && m_sim9);
    }
    frmMain &window()
    {
        if (!m_window) {
            m_window = std::make_unique<frmMain>();
            m_window->show();  // the status line is painted between the steps of a test
            if (!QTest::qWaitForWindowExposed(m_window.get()))
                qWarning("the main window was not exposed: status texts between steps go unseen");
        }
        return *m_window;
    }
    // A scan or test runs from the event loop; this waits until it and the
    // commands it sent are done.
    void waitForLink() { QTRY_VERIFY_WITH_TIMEOUT(!window().linkBusy(), kWaitMs); }
    Ui::frmMain &ui() { return *window().form(); }
    void pick(const QString &serialNo)
    {
        const int i = ui().cboLocators->findText(serialNo);
        QVERIFY(i >= 0);
        ui().cboLocators->setCurrentIndex(i);
        emit ui().cboLocators->activated(i);
    }
    // Not connected, with nothing of the tested locator left in the window.
    void verifyNotConnected()
    {
        QVERIFY(!window().state().Connected);
        QVERIFY(!window().MSComm1().isOpen());
        QVERIFY(!window().MSComm2().isOpen());
        QVERIFY(!ui().cmdDisconnect->isEnabled());
        QVERIFY(!ui().cmdDownloadByDate->isEnabled());
        QVERIFY(ui().txtModel->text().isEmpty());
        QVERIFY(ui().txtSerialNo->text().isEmpty());
        QCOMPARE(ui().shpMode->fillColor(), kDarkRed);
    }

    std::unique_ptr<sim::LocatorSimulator> m_sim5;
    std::unique_ptr<sim::LocatorSimulator> m_sim9;
    std::unique_ptr<frmMain> m_window;
};

void TestConnect::scanAcceptsFirstLocator()
{
    startBoth();
    frmMain &w = window();
    StatusRecorder status(ui().lblStatus);
    int nestedAttempts = 0;
    bool probeDtrTouched = true;
    m_ui->onQuestion = [&](const QString &q) -> std::optional<bool> {
        if (q == kUse5) {
            probeDtrTouched = w.MSComm2().dtrControlled();
            // Clicks that arrive while the question is open must not start a second scan.
            ++nestedAttempts;
            w.cmdrescan_Click();
            w.cboLocators_Click();
        }
        return std::nullopt;
    };
    answers(m_ui->answers, {true, true});
    ui().cmdrescan->click();
    waitForLink();

    QCOMPARE(m_ui->questions, (QStringList{kSure, kUse5}));
    QCOMPARE(nestedAttempts, 1);
    QVERIFY(!probeDtrTouched);  // the probe port leaves DTR as the device has it
    QVERIFY(w.MSComm1().dtrEnabled());
    QStringList expected{QStringLiteral("Looking for communications port. Please wait...")};
    for (int port = 1; port <= 4; ++port)
        expected << QStringLiteral("Checking com port %1...").arg(port)
                 << QStringLiteral("Port %1not valid.").arg(port);
    expected << QStringLiteral("Checking com port 5...") << QStringLiteral("Port found...")
             << QStringLiteral("Using port number 5");
    QCOMPARE(status.texts().mid(status.texts().indexOf(expected.first())), expected);
    QCOMPARE(status.colorOf(QStringLiteral("Port 3not valid.")), kRed);
    QCOMPARE(status.colorOf(QStringLiteral("Checking com port 5...")), kRed);
    QCOMPARE(ui().lblStatus->text(), QStringLiteral("Using port number 5"));
    QCOMPARE(textColor(ui().lblStatus), kDarkGrey);

    QCOMPARE(w.state().CurrentPort, qint16(5));
    QVERIFY(!w.state().LocatorFound);
    QVERIFY(w.state().Connected);
    QVERIFY(w.MSComm1().isOpen());
    QCOMPARE(w.MSComm1().commPort(), 5);
    QVERIFY(!w.MSComm2().isOpen());
    QCOMPARE(ui().txtModel->text(), QStringLiteral("LOC2000"));
    QCOMPARE(ui().txtSerialNo->text(), QStringLiteral("001234"));
    QCOMPARE(ui().txtUser->text(), QStringLiteral("BOB"));
    QCOMPARE(ui().lblUserChars->text(), QStringLiteral("- 29 -"));
    QCOMPARE(ui().lblFirmwareVersion->text(), QStringLiteral("Firmware: Ver 1.23"));
    QCOMPARE(w.state().BluetoothFirmwareVersion, QStringLiteral("1.23"));

    // The probe sent the preamble and identify; the working port then asked for live output.
    QVERIFY(QTest::qWaitFor([&] { return m_sim5->waitForCommand("#FV", 0); }, kWaitMs));
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X", "#FV"}));
    QVERIFY(m_sim9->commands().empty());  // ports after the accepted one are not tested
    QTRY_VERIFY_WITH_TIMEOUT(ui().lblMonitor->text().startsWith(QStringLiteral("Live: $")), kWaitMs);
    QCOMPARE(ui().shpMode->fillColor(), kGreen);

    // A missing list (and folder) gets its empty first line, then the entry.
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n001234,5\r\n"));
    QCOMPARE(ui().cboLocators->count(), 1);
    QCOMPARE(ui().cboLocators->itemText(0), QStringLiteral("001234"));
    QCOMPARE(ui().cboLocators->itemData(0).toInt(), 5);
}

void TestConnect::scanNoGoesOnToNextPort()
{
    startBoth();
    frmMain &w = window();
    answers(m_ui->answers, {true, false, true});
    ui().cmdrescan->click();
    waitForLink();

    QCOMPARE(m_ui->questions, (QStringList{kSure, kUse5, kUse9}));
    QCOMPARE(w.MSComm1().commPort(), 9);
    QVERIFY(w.MSComm1().isOpen());
    // A name ending in a character refused when typed is still shown whole.
    QCOMPARE(ui().txtUser->text(), QStringLiteral("ACME LTD."));
    QCOMPARE(ui().lblUserChars->text(), QStringLiteral("- 23 -"));
    QCOMPARE(ui().lblFirmwareVersion->text(), QStringLiteral("Firmware: Ver 2.05"));
    QVERIFY(QTest::qWaitFor([&] { return m_sim9->waitForCommand("#FV", 0); }, kWaitMs));
    // The declined locator's port was closed again and got nothing more.
    QVERIFY(QTest::qWaitFor([&] { return m_sim5->waitForPortOpenCount(0, 0); }, kWaitMs));
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X"}));
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n005678,9\r\n"));
}

void TestConnect::searchAgainLoopsWithoutRecursion()
{
    startBoth();
    frmMain &w = window();
    // Decline both locators three times over, answering "Search again?" with Yes twice.
    QList<quintptr> frames;
    m_ui->onQuestion = [&](const QString &q) -> std::optional<bool> {
        if (q == kAgain)
            frames << quintptr(__builtin_frame_address(0));
        return std::nullopt;
    };
    answers(m_ui->answers, {true, false, false, true, false, false, true, false, false, false});
    ui().cmdrescan->click();
    waitForLink();

    QCOMPARE(m_ui->questions, (QStringList{kSure, kUse5, kUse9, kAgain, kUse5, kUse9, kAgain, kUse5, kUse9, kAgain}));
    QCOMPARE(frames.size(), 3);
    // Each repetition asks from the same depth: the scan repeats in a loop, not by recursion.
    QCOMPARE(frames[1], frames[0]);
    QCOMPARE(frames[2], frames[0]);
    QVERIFY(!w.state().Connected);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!w.MSComm2().isOpen());
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X", "MM", "#X", "MM", "#X"}));
    QVERIFY(!QFile::exists(m_env->portListPath()));  // nothing accepted, nothing recorded
}

void TestConnect::scanRecordsPortInList_data()
{
    QTest::addColumn<QByteArray>("before");  // null: no file
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("missing") << QByteArray() << QByteArray("\r\n001234,5\r\n");
    QTest::newRow("empty file") << QByteArray("") << QByteArray("\r\n001234,5\r\n");
    QTest::newRow("one empty line") << QByteArray("\r\n") << QByteArray("\r\n001234,5\r\n");
    QTest::newRow("entry on line 1 is not read") << QByteArray("001234,5") << QByteArray("001234,5\r\n001234,5\r\n");
    QTest::newRow("new serial appended, others untouched")
        << QByteArray("header\r\n111111,2\n222222,3") << QByteArray("header\r\n111111,2\n222222,3\r\n001234,5\r\n");
    QTest::newRow("same port: file untouched")
        << QByteArray("x\r\n111111,1\r\n001234,5") << QByteArray("x\r\n111111,1\r\n001234,5");
    QTest::newRow("moved: rewritten in place") << QByteArray("x\r\n111111,2\r\n001234,9\r\n222222,3\r\n")
                                               << QByteArray("\r\n111111,2\r\n001234,5\r\n222222,3\r\n");
    QTest::newRow("port text with a second comma counts as moved")
        << QByteArray("\r\n001234,5,x\r\n") << QByteArray("\r\n001234,5\r\n");
}

void TestConnect::scanRecordsPortInList()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    m_sim5 = startLocator(m_env->portsDir(), 5, quickLocator("001234"));
    QVERIFY(m_sim5);
    if (!before.isNull())
        QVERIFY(writeFile(m_env->portListPath(), before));
    frmMain &w = window();
    answers(m_ui->answers, {true, true});
    ui().cmdrescan->click();
    waitForLink();
    QVERIFY(w.MSComm1().isOpen());

    QCOMPARE(readFile(m_env->portListPath()), after);
    // The chooser shows what a fresh start would load from the file.
    const QList<PortEntry> entries = PortList::LoadPortList(m_env->portListPath());
    QCOMPARE(ui().cboLocators->count(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(ui().cboLocators->itemText(i), entries[i].serialNo);
        QCOMPARE(ui().cboLocators->itemData(i).toInt(), PortList::PortNumber(entries[i].port));
    }
}

// More than 100 entries, lines without a comma and blank lines: the scan
// compares the first 100, appends what it does not find there, and a rewrite
// keeps every entry of the file, only the moved one changed.
void TestConnect::scanKeepsLongAndMalformedList()
{
    startBoth();
    QByteArray before = "first line\r\n";
    QList<PortEntry> entries;
    for (int i = 1; i <= 120; ++i) {
        PortEntry e{QStringLiteral("S%1").arg(i, 5, 10, QLatin1Char('0')), QString::number(i % 16 + 1)};
        if (i == 50)
            e = {QStringLiteral("001234"), QStringLiteral("9")};
        if (i == 110)
            e = {QStringLiteral("005678"), QStringLiteral("2")};  // beyond what the scan compares
        entries << e;
        before += e.serialNo.toLatin1() + ',' + e.port.toLatin1() + "\r\n";
        if (i == 10)
            before += "no comma here\r\n";
        if (i == 20)
            before += "\r\n";
    }
    QVERIFY(writeFile(m_env->portListPath(), before));
    frmMain &w = window();
    QCOMPARE(ui().cboLocators->count(), 120);

    // 005678 lies beyond the first 100 entries: it is appended, the rest stays byte for byte.
    answers(m_ui->answers, {true, false, true});
    ui().cmdrescan->click();
    waitForLink();
    QCOMPARE(w.MSComm1().commPort(), 9);
    QCOMPARE(readFile(m_env->portListPath()), before + "005678,9\r\n");
    entries << PortEntry{QStringLiteral("005678"), QStringLiteral("9")};
    QCOMPARE(ui().cboLocators->count(), 121);

    // 001234 is entry 50 with port 9 and now answers on 5.
    answers(m_ui->answers, {true, true});
    ui().cmdrescan->click();
    waitForLink();
    QCOMPARE(w.MSComm1().commPort(), 5);
    entries[49].port = QStringLiteral("5");
    QByteArray expected = "\r\n";
    for (const PortEntry &e : entries)
        expected += e.serialNo.toLatin1() + ',' + e.port.toLatin1() + "\r\n";
    QCOMPARE(readFile(m_env->portListPath()), expected);
    QCOMPARE(ui().cboLocators->count(), 121);
    QCOMPARE(ui().cboLocators->itemText(49), QStringLiteral("001234"));
    QCOMPARE(ui().cboLocators->itemData(49).toInt(), 5);
    QCOMPARE(ui().cboLocators->itemText(120), QStringLiteral("005678"));
}

void TestConnect::workingPortFailureLeavesNotConnected()
{
    m_sim5 = startLocator(m_env->portsDir(), 5, quickLocator("001234"));
    QVERIFY(m_sim5);
    frmMain &w = window();
    // The locator's port disappears between the answer and the opening of the working port.
    const QString link = QDir(m_env->portsDir()).filePath(QStringLiteral("COM5"));
    m_ui->onQuestion = [&](const QString &q) -> std::optional<bool> {
        if (q == kUse5)
            QFile::remove(link);
        return std::nullopt;
    };
    answers(m_ui->answers, {true, true});
    ui().cmdrescan->click();
    waitForLink();

    QCOMPARE(m_ui->questions, (QStringList{kSure, kUse5}));  // no "Search again?" either
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].contains(QStringLiteral("(5) could not be opened")));
    verifyNotConnected();
    QCOMPARE(ui().lblStatus->text(), QStringLiteral("Port 5 could not be opened."));
    QCOMPARE(textColor(ui().lblStatus), kRed);
    QVERIFY(!w.state().LocatorFound);
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X"}));  // no "#FV" into the void
}

void TestConnect::knownPortConnects()
{
    startBoth();
    const QByteArray list = "\r\n005678,9\r\n001234,5\r\n";
    QVERIFY(writeFile(m_env->portListPath(), list));
    frmMain &w = window();
    StatusRecorder status(ui().lblStatus);
    QColor lampAtQuestion;
    QColor statusAtQuestion;
    m_ui->onQuestion = [&](const QString &) -> std::optional<bool> {
        lampAtQuestion = ui().shpMode->fillColor();
        statusAtQuestion = textColor(ui().lblStatus);
        return true;
    };
    pick(QStringLiteral("001234"));
    waitForLink();

    QCOMPARE(m_ui->questions, QStringList{kKnownUse5});
    QCOMPARE(lampAtQuestion, kYellow);
    QCOMPARE(statusAtQuestion, kDarkGrey);
    QVERIFY(status.texts().contains(QStringLiteral("Checking communications port. Please wait...")));
    QCOMPARE(status.colorOf(QStringLiteral("Trying to connect. Please wait... (Port 5)")), kRed);
    QCOMPARE(ui().lblStatus->text(), QStringLiteral("Using port number 5"));
    QVERIFY(w.state().Connected);
    QCOMPARE(w.MSComm1().commPort(), 5);
    QVERIFY(!w.MSComm2().isOpen());
    QCOMPARE(w.state().CurrentPort, qint16(0));  // only a scan sets it
    QCOMPARE(ui().txtSerialNo->text(), QStringLiteral("001234"));
    QCOMPARE(ui().lblUserChars->text(), QStringLiteral("- 29 -"));
    QCOMPARE(w.state().BluetoothFirmwareVersion, QStringLiteral("1.23"));
    QVERIFY(ui().lblFirmwareVersion->text().isEmpty());  // the known-port test leaves it alone
    QVERIFY(QTest::qWaitFor([&] { return m_sim5->waitForCommand("#FV", 0); }, kWaitMs));
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X", "#FV"}));
    QVERIFY(m_sim9->commands().empty());
    QCOMPARE(readFile(m_env->portListPath()), list);

    // Picking another locator closes this connection first.
    m_ui->onQuestion = nullptr;
    m_ui->answers.enqueue(true);
    pick(QStringLiteral("005678"));
    waitForLink();
    QCOMPARE(w.MSComm1().commPort(), 9);
    QCOMPARE(ui().txtUser->text(), QStringLiteral("ACME LTD."));
    QVERIFY(QTest::qWaitFor([&] { return m_sim5->waitForPortOpenCount(0, 0); }, kWaitMs));
    QVERIFY(QTest::qWaitFor([&] { return m_sim9->waitForCommand("#FV", 0); }, kWaitMs));
}

void TestConnect::knownPortNoClosesProbe()
{
    m_sim5 = startLocator(m_env->portsDir(), 5, quickLocator("001234"));
    QVERIFY(m_sim5);
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,5\r\n"));
    frmMain &w = window();
    m_ui->answers.enqueue(false);
    pick(QStringLiteral("001234"));
    waitForLink();

    QCOMPARE(m_ui->questions, QStringList{kKnownUse5});
    QVERIFY(!w.MSComm2().isOpen());
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!w.state().Connected);
    QVERIFY(QTest::qWaitFor([&] { return m_sim5->waitForPortOpenCount(0, 0); }, kWaitMs));
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X"}));
}

void TestConnect::knownPortInvalid()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,9\r\n"));
    frmMain &w = window();
    pick(QStringLiteral("001234"));
    waitForLink();

    QVERIFY(m_ui->questions.isEmpty());
    QCOMPARE(m_ui->messages,
             QStringList{QStringLiteral("Connection information invalid (9) Please click 'Scan' to find the locator")});
    QCOMPARE(ui().lblStatus->text(), QStringLiteral("Port 9 not valid."));
    QCOMPARE(textColor(ui().lblStatus), kRed);
    QCOMPARE(ui().shpMode->fillColor(), kDarkRed);
    QVERIFY(!w.state().Connected);
    QVERIFY(!w.MSComm2().isOpen());
}

void TestConnect::knownPortSwitchedOff()
{
    m_sim5 = startLocator(m_env->portsDir(), 5, quickLocator("001234"));
    QVERIFY(m_sim5);
    m_sim5->setSilent(true);
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,5\r\n"));
    frmMain &w = window();
    pick(QStringLiteral("001234"));
    waitForLink();

    QVERIFY(m_ui->questions.isEmpty());
    QVERIFY(m_ui->messages.isEmpty());
    QCOMPARE(ui().lblStatus->text(), kNoComms);
    QCOMPARE(textColor(ui().lblStatus), kDarkGrey);
    QCOMPARE(ui().shpMode->fillColor(), kDarkRed);
    QVERIFY(!w.state().Connected);
    QVERIFY(!w.MSComm2().isOpen());
    QVERIFY(QTest::qWaitFor([&] { return m_sim5->waitForPortOpenCount(0, 0); }, kWaitMs));
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X"}));  // it heard, it did not answer
}

void TestConnect::knownPortWorkingPortFailure()
{
    m_sim5 = startLocator(m_env->portsDir(), 5, quickLocator("001234"));
    QVERIFY(m_sim5);
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,5\r\n"));
    window();
    const QString link = QDir(m_env->portsDir()).filePath(QStringLiteral("COM5"));
    m_ui->onQuestion = [&](const QString &) -> std::optional<bool> {
        QFile::remove(link);
        return true;
    };
    pick(QStringLiteral("001234"));
    waitForLink();

    QCOMPARE(m_ui->messages.size(), 1);
    verifyNotConnected();
    QCOMPARE(commandsOf(*m_sim5), (QStringList{"MM", "#X"}));
}

QTEST_MAIN(TestConnect)
#include "test_connect.moc"
