// The service tools window offscreen: password and port prompts, the live
// monitor and troubleshooting log as a locator on a bare pseudo-terminal
// would feed them, and the window's own safety rules (one command at a
// time, closing in the middle of a send, a vanishing port).
#include "gui/tools/frmTools.h"
#include "ui_frmTools.h"

#include "PtyPair.h"
#include "ToolsFixture.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/Pacing.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/tools/TroubleshootLog.h"

#include <QFile>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace {
constexpr int kCom = 5;
const QString kLogName = QStringLiteral("Troubleshoot__(05-03-2026--09-05-03).csv");

QColor statusColor(frmTools &w)
{
    return w.form()->lblStatus->palette().color(QPalette::WindowText);
}

// The buttons that send something; all follow the port and the send in progress.
QList<QPushButton *> commandButtons(frmTools &w)
{
    auto *f = w.form();
    return {f->cmdReadDateTime,   f->cmdReadStoredParameters,
            f->cmdClearMem,       f->cmdResetMemPointer,
            f->cmdSetSerialModel, f->cmdSetDate,
            f->cmdSetTime,        f->cmdSetUser,
            f->cmdSend,           f->cmdStop};
}

bool allEnabled(frmTools &w, bool enabled)
{
    for (QPushButton *b : commandButtons(w)) {
        if (b->isEnabled() != enabled)
            return false;
    }
    return true;
}
}  // namespace

class TestFrmTools : public QObject, private ToolsFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { Pacing::SetShortPauseMs(0); }
    void init() { setUpTools(); }
    void cleanup()
    {
        Pacing::SetShortPauseMs(0);
        tearDownTools();
        m_pty.reset();
    }

    void refusedPasswordEndsProgramAndClosesFiles_data();
    void refusedPasswordEndsProgramAndClosesFiles();
    void acceptedPasswordOpensPortAndLog_data();
    void acceptedPasswordOpensPortAndLog();
    void unusablePortKeepsWindowAndAllowsRetry_data();
    void unusablePortKeepsWindowAndAllowsRetry();
    void sevenPiecesNewestFirstAllLoggedAndOpenable();
    void repliesFillTheirFields_data();
    void repliesFillTheirFields();
    void onlyArrivalsTakeText();
    void errorEventsShowCommsError();
    void userCharsCaption();
    void secondCommandWaitsForTheFirst();
    void stopCutsShortACommandGoingOut();
    void closingMidSendIsSafeAndKeepsLog();
    void vanishingPortDisablesCommands();

private:
    // A window through the password and port prompts, the locator on COM5.
    frmTools *loadWindow(const QStringList &inputs, bool withPty = true)
    {
        if (withPty && !m_pty) {
            m_pty = std::make_unique<PtyPair>(m_env->portsDir(), kCom);
            if (!m_pty->ok())
                return nullptr;
        }
        ToolsFixture::loadWindow(inputs);
        return m_window;
    }
    frmTools *openWindow()
    {
        frmTools *w = loadWindow({QStringLiteral("lampwick"), QString::number(kCom)});
        if (w && m_pty->receive(2) != "MM")
            return nullptr;
        return w;
    }
    QString logPath() const { return m_env->documentsDir() + QStringLiteral("/korvex/") + kLogName; }

    std::unique_ptr<PtyPair> m_pty;
};

void TestFrmTools::refusedPasswordEndsProgramAndClosesFiles_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::newRow("capital first letter") << QStringList{QStringLiteral("Lampwick")};
    QTest::newRow("trailing blank") << QStringList{QStringLiteral("lampwick ")};
    QTest::newRow("empty answer") << QStringList{QString()};
    QTest::newRow("cancelled") << QStringList{};
}

void TestFrmTools::refusedPasswordEndsProgramAndClosesFiles()
{
    QFETCH(QStringList, inputs);
    // A transfer's data file and an earlier window's log are open when the program ends.
    const QString dataPath = m_env->dataDir() + QStringLiteral("/transfer.csv");
    QVERIFY(ProcessDataFile().openForWrite(dataPath));
    QVERIFY(ProcessDataFile().write("#DA partial"));
    const QString oldLog = m_env->documentsDir() + QStringLiteral("/korvex/old.csv");
    QVERIFY(ProcessTroubleshootLog().create(oldLog));
    QVERIFY(ProcessTroubleshootLog().appendLine("earlier"));

    QPointer<frmTools> w = loadWindow(inputs, false);
    QCOMPARE(m_ui->endProgramCalls, 1);
    QCOMPARE(m_ui->prompts, QStringList{QStringLiteral("Enter your passwword")});
    QVERIFY(w && !w->isVisible());
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(!ProcessTroubleshootLog().isOpen());
    QCOMPARE(readFile(dataPath), QByteArray("#DA partial"));
    QCOMPARE(readFile(oldLog), QByteArray("earlier\r\n"));
    QTRY_VERIFY(w.isNull());
}

void TestFrmTools::acceptedPasswordOpensPortAndLog_data()
{
    QTest::addColumn<QString>("portText");
    QTest::newRow("number") << QStringLiteral("5");
    QTest::newRow("blanks around") << QStringLiteral(" 5 ");
    QTest::newRow("rounded to nearest") << QStringLiteral("4.6");
}

void TestFrmTools::acceptedPasswordOpensPortAndLog()
{
    QFETCH(QString, portText);
    m_state->TransferCharCount = 1234;
    frmTools *w = loadWindow({QStringLiteral("lampwick"), portText});
    QVERIFY(w);
    QCOMPARE(m_ui->endProgramCalls, 0);
    QCOMPARE(m_ui->prompts,
             (QStringList{QStringLiteral("Enter your passwword"), QStringLiteral("Enter the port to use")}));
    QVERIFY(w->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Locator Setup Tools - Internal use only"));
    QCOMPARE(w->palette().color(QPalette::Window), QColor(64, 64, 64));
    QCOMPARE(w->form()->txtPort->text(), portText);
    QVERIFY(w->MSComm1.isOpen());
    QVERIFY(w->MSComm1.dtrEnabled());
    QCOMPARE(m_pty->receive(2), QByteArray("MM"));
    QVERIFY(allEnabled(*w, true));
    QVERIFY(!w->form()->cmdResetMem->isEnabled());
    QCOMPARE(w->form()->lblUserChars->text(), QStringLiteral("-32 left-"));

    QCOMPARE(m_state->TransferCharCount, 0);
    QCOMPARE(m_state->DocumentsFolder, m_env->documentsDir());
    QCOMPARE(m_state->CurrentDataFile, kLogName);
    QCOMPARE(m_state->currentDataFilePath(), logPath());
    QVERIFY(ProcessTroubleshootLog().isOpen());
    QCOMPARE(ProcessTroubleshootLog().path(), logPath());
    QVERIFY(QFile::exists(logPath()));
}

void TestFrmTools::unusablePortKeepsWindowAndAllowsRetry_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("status");
    const QString pw = QStringLiteral("lampwick");
    const QString hint = QStringLiteral(" Type the port number and press Open.");
    QTest::newRow("cancelled") << QStringList{pw} << QStringLiteral("No port was entered.") + hint;
    QTest::newRow("not a number") << QStringList{pw, QStringLiteral("COM x")}
                                  << QStringLiteral("\"COM x\" is not a port number from 1 to 256.") + hint;
    QTest::newRow("zero") << QStringList{pw, QStringLiteral("0")}
                          << QStringLiteral("\"0\" is not a port number from 1 to 256.") + hint;
    QTest::newRow("no such port") << QStringList{pw, QStringLiteral("9")}
                                  << QStringLiteral("Port 9 does not exist.") + hint;
}

void TestFrmTools::unusablePortKeepsWindowAndAllowsRetry()
{
    QFETCH(QStringList, inputs);
    QFETCH(QString, status);
    frmTools *w = loadWindow(inputs);
    QVERIFY(w);
    QCOMPARE(m_ui->endProgramCalls, 0);
    QVERIFY(w->isVisible());
    QVERIFY(!w->MSComm1.isOpen());
    QCOMPARE(w->form()->lblStatus->text(), status);
    QCOMPARE(statusColor(*w), QColor(255, 0, 0));
    QVERIFY(allEnabled(*w, false));
    QVERIFY(ProcessTroubleshootLog().isOpen());  // the log does not depend on the port

    w->form()->txtPort->setText(QString::number(kCom));
    w->form()->cmdOpenPort->click();
    QVERIFY(w->MSComm1.isOpen());
    QCOMPARE(m_pty->receive(2), QByteArray("MM"));
    QCOMPARE(w->form()->lblStatus->text(), QStringLiteral("Port 5 open"));
    QCOMPARE(statusColor(*w), QColor(64, 64, 64));
    QVERIFY(allEnabled(*w, true));
}

void TestFrmTools::sevenPiecesNewestFirstAllLoggedAndOpenable()
{
    frmTools *w = openWindow();
    QVERIFY(w);
    const QList<QByteArray> pieces{"$T,33KHz,D,1.25,17\r\n", "first", "#PD",    QByteArray("nul\0gone", 8),
                                   "two\r\nlines",           "six",   "seventh"};
    QByteArray expectedLog;
    for (const QByteArray &p : pieces) {
        QVERIFY(m_pty->send(p));
        const QByteArray shown = QByteArray(p).replace('\0', QByteArray());
        QTRY_COMPARE(w->txtMonitor(0)->text(), QString::fromLatin1(shown));
        expectedLog += shown + "\r\n";
    }
    for (int i = 0; i < 6; ++i)
        QCOMPARE(w->txtMonitor(i)->text(), QString::fromLatin1(QByteArray(pieces[6 - i]).replace('\0', "")));
    QCOMPARE(readFile(logPath()), expectedLog);

    w->form()->cmdOpenFile->click();
    QCOMPARE(m_ui->opened, QList<QUrl>{QUrl::fromLocalFile(logPath())});
    QVERIFY(m_ui->messages.isEmpty());
    // Where no program opens it, the user is told.
    m_ui->openSucceeds = false;
    w->form()->cmdOpenFile->click();
    QCOMPARE(m_ui->messages, QStringList{"The log file could not be opened:\n" + logPath()});
}

void TestFrmTools::repliesFillTheirFields_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QStringList>("identity");  // user, model, serial number
    QTest::addColumn<QStringList>("dateTime");
    const QStringList keptId{"kept user", "kept", "kept"};
    const QStringList keptDt{"kept date", "kept time"};

    const QByteArray john
        = "#X" + QByteArray("JOHN") + QByteArray(28, '_') + "FW1.23_HWB2_____" + "LOC_2000" + "__001234";
    QTest::newRow("identify reply cut short") << QByteArray("#XAL__") << QStringList{"AL", "", ""} << keptDt;
    QTest::newRow("identify not at start") << "ok" + john << keptId << keptDt;
    QTest::newRow("date and time reply") << QByteArray("#AE 05/03/26   09:05:03\r\n") << keptId
                                         << QStringList{"05/03/26", "09:05:03"};
    QTest::newRow("date and time cut short") << QByteArray("#AE 05/0") << keptId << QStringList{"05/0", ""};
    QTest::newRow("lower case is not a reply") << QByteArray("#ae 05/03/26   09:05:03") << keptId << keptDt;
}

void TestFrmTools::repliesFillTheirFields()
{
    QFETCH(QByteArray, piece);
    QFETCH(QStringList, identity);
    QFETCH(QStringList, dateTime);
    frmTools *w = openWindow();
    QVERIFY(w);
    auto *f = w->form();
    f->txtUser->setText("kept user");
    f->txtModel->setText("kept");
    f->txtSerialNo->setText("kept");
    f->txtDate->setText("kept date");
    f->txtTime->setText("kept time");
    QVERIFY(m_pty->send(piece));
    QTRY_COMPARE(w->txtMonitor(0)->text(), QString::fromLatin1(piece));
    QCOMPARE((QStringList{f->txtUser->text(), f->txtModel->text(), f->txtSerialNo->text()}), identity);
    QCOMPARE((QStringList{f->txtDate->text(), f->txtTime->text()}), dateTime);
}

void TestFrmTools::onlyArrivalsTakeText()
{
    // A send event handled while text is waiting must leave that text to
    // its own arrival event, or it is neither shown nor logged.
    frmTools *w = openWindow();
    QVERIFY(w);
    QVERIFY(m_pty->send("waiting"));
    w->MSComm1.raiseEvent(SerialPort::EvSend);
    w->MSComm1.raiseEvent(SerialPort::EvEOF);
    QTRY_COMPARE(w->txtMonitor(0)->text(), QStringLiteral("waiting"));
    QCOMPARE(readFile(logPath()), QByteArray("waiting\r\n"));
}

void TestFrmTools::errorEventsShowCommsError()
{
    frmTools *w = openWindow();
    QVERIFY(w);
    for (int event : {1, 3, 4, 5, 7, 1008, 6, 0})
        w->MSComm1.raiseEvent(event);
    QTRY_COMPARE(m_ui->messages.size(), 3);
    QCOMPARE(m_ui->messages, (QStringList{"Comms error: 1008", "Comms error: 6", "Comms error: 0"}));
    QVERIFY(w->MSComm1.dtrEnabled());
    QCOMPARE(w->txtMonitor(0)->text(), QString());
    QCOMPARE(readFile(logPath()), QByteArray());
}

void TestFrmTools::userCharsCaption()
{
    frmTools w(*m_state);
    const QList<QPair<int, QString>> cases{{0, "-32 left-"}, {5, "-27 left-"}, {32, "-0 left-"}, {34, "--2 left-"}};
    for (const auto &[length, caption] : cases) {
        w.form()->txtUser->setText(QString(length, QLatin1Char('u')));
        QCOMPARE(w.form()->lblUserChars->text(), caption);
    }
}

void TestFrmTools::secondCommandWaitsForTheFirst()
{
    // Events run between the characters of a command; a click on another
    // button then must not put its characters in the middle of it.
    frmTools *w = openWindow();
    QVERIFY(w);
    w->form()->txtUser->setText("BOB");
    w->show();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->form()->cmdSetUser->setFocus();
    w->form()->cmdSetUser->click();
    QVERIFY(w->isSending());
    for (QPushButton *b : commandButtons(*w))
        QCOMPARE(b->isEnabled(), b == w->form()->cmdStop);  // Stop is the way out
    // While the buttons are off, no stray key can reach an identity box.
    QWidget *focusDuringSend = QApplication::focusWidget();
    QVERIFY2(!qobject_cast<QLineEdit *>(focusDuringSend), qPrintable(focusDuringSend->objectName()));
    w->form()->txtSend->setText("Z");
    w->cmdSend_Click();  // refused while the first goes out
    QTRY_COMPARE(w->form()->lblStatus->text(), QStringLiteral("User Set"));
    QCOMPARE(QApplication::focusWidget(), w->form()->cmdSetUser);
    QVERIFY(allEnabled(*w, true));
    w->form()->cmdStop->click();
    const QByteArray expected = "#FTBOB" + QByteArray(29, ' ') + "#A";
    QCOMPARE(m_pty->receive(int(expected.size())), expected);
}

void TestFrmTools::stopCutsShortACommandGoingOut()
{
    // A query takes seconds per character; Stop must not wait for it.
    frmTools *w = openWindow();
    QVERIFY(w);
    Pacing::SetShortPauseMs(50);  // 2 s after each character of the query
    w->form()->cmdReadDateTime->click();
    QCOMPARE(m_pty->receive(1), QByteArray("#"));
    QCOMPARE(w->form()->lblStatus->text(), QStringLiteral("Getting Date and Time"));
    QVERIFY(w->form()->cmdStop->isEnabled());
    w->form()->cmdStop->click();
    QCOMPARE(w->form()->lblStatus->text(), QStringLiteral("Stopping..."));
    QVERIFY(allEnabled(*w, false));  // nothing else, not even a second Stop, until the abort is out
    QCOMPARE(m_pty->receive(2), QByteArray("#A"));
    QTRY_COMPARE(w->form()->lblStatus->text(), QStringLiteral("Aborted"));
    QVERIFY(allEnabled(*w, true));

    // The rest of the query never goes: the next thing on the wire is the next command.
    Pacing::SetShortPauseMs(0);
    w->form()->txtSend->setText("Z");
    w->form()->cmdSend->click();
    QCOMPARE(m_pty->receive(1), QByteArray("Z"));
    QTRY_COMPARE(w->form()->lblStatus->text(), QStringLiteral("Sent!"));
}

void TestFrmTools::closingMidSendIsSafeAndKeepsLog()
{
    QPointer<frmTools> w = openWindow();
    QVERIFY(w);
    QVERIFY(m_pty->send("before close"));
    QTRY_COMPARE(w->txtMonitor(0)->text(), QStringLiteral("before close"));
    w->form()->txtUser->setText("BOB");
    w->form()->cmdSetUser->click();
    QVERIFY(w->isSending());
    w->close();
    QVERIFY(!w->MSComm1.isOpen());
    QVERIFY(!w->isSending());  // what was still to go out stays unsent
    QTRY_VERIFY(w.isNull());

    // The log outlives the window; a new window starts a new one.
    QVERIFY(ProcessTroubleshootLog().isOpen());
    QCOMPARE(readFile(logPath()), QByteArray("before close\r\n"));
    m_ui->clock.advance(1);
    frmTools *again = loadWindow({QStringLiteral("lampwick"), QString::number(kCom)});
    QVERIFY(again && again->MSComm1.isOpen());
    QCOMPARE(m_state->CurrentDataFile, QStringLiteral("Troubleshoot__(05-03-2026--09-05-04).csv"));
    QCOMPARE(readFile(logPath()), QByteArray("before close\r\n"));
}

void TestFrmTools::vanishingPortDisablesCommands()
{
    frmTools *w = openWindow();
    QVERIFY(w);
    m_pty->closeAll();
    QTRY_VERIFY(!w->MSComm1.isOpen());
    QCOMPARE(w->form()->lblStatus->text(), QStringLiteral("Port 5 was lost. Type the port number and press Open."));
    QVERIFY(allEnabled(*w, false));
    w->cmdStop_Click();  // nothing to send it on: no change, no false success
    QCOMPARE(w->form()->lblStatus->text(), QStringLiteral("Port 5 was lost. Type the port number and press Open."));
}

QTEST_MAIN(TestFrmTools)
#include "test_frmtools.moc"
