// The main window driven offscreen: start-up, connected state, the Advanced
// switch, hidden shortcuts, the date check, and the receive handling as a
// locator on a bare pseudo-terminal would exercise it.
#include "gui/main/LaunchOptions.h"
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "gui/analysis/frmPieByMonthMode2.h"
#include "gui/common/Folders.h"
#include "gui/common/Lamp.h"
#include "gui/common/MonitorLabel.h"

#include <QFile>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWindow>

using namespace MainWindowHarness;

namespace {
QColor statusColor(frmMain &w)
{
    return textColor(w.form()->lblStatus);
}
}  // namespace

class TestFrmMain : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(QDateTime(QDate(2026, 12, 6), QTime(19, 55, 1))); }
    void cleanup() { tearDown(); }

    void startUpState();
    void startUpToleratesBadPortList();
    void connectedStateSwitchesControls();
    void notConnectedWithOpenPortClearsLink();
    void advancedShowsHiddenCommands();
    void ctrlAOpensAboutEachTime();
    void shiftCtrlTOpensToolsAndClosesPort();
    void heldCtrlPassesTheSum();
    void keyboardHabits();
    void endDateNeverBeforeStart();
    void exitClosesPortAndDataFile();

    void liveLineLightsLinkAndShowsText();
    void transferByDateWritesFileAndEndsCleanly();
    void transferAllStopAndAbort();
    void powerDownMidTransferKeepsFile();
    void watchdogDeclaresLinkLostAndKeepsFile();
    void vanishedDeviceIsALostLink();
    void commsErrorEventShowsNumber();
    void dataFileThatCannotBeCreatedIsReported();
    void unrequestedTransferGetsItsOwnFile();

private:
    std::unique_ptr<PtyPair> connectPty(frmMain &w, int com = 4)
    {
        return MainWindowHarness::connectPty(w, m_env->portsDir(), com);
    }
};

void TestFrmMain::startUpState()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,3\r\nA99,12\r\n"));
    // Captions are shown exactly: a display name would be appended to each.
    LaunchOptions::nameApplication();
    QCOMPARE(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    frmMain w;
    auto *ui = w.form();
    QCOMPARE(w.windowTitle(), QStringLiteral("Korvex Locator PC Toolkit (V2.7.016)"));
    QCOMPARE(w.state().Version, QStringLiteral("2.7.016"));
    // The logo is drawn from the resources' SVG (a static library's resources are easily lost when linking).
    const QImage logo = ui->Picture1->pixmap().toImage();
    QVERIFY(!logo.isNull());
    QCOMPARE(logo.pixelColor(logo.width() / 2, logo.height() / 2).alpha(), 255);

    QCOMPARE(ui->cboLocators->count(), 2);
    QCOMPARE(ui->cboLocators->itemText(0), QStringLiteral("001234"));
    QCOMPARE(ui->cboLocators->itemData(0).toInt(), 3);
    QCOMPARE(ui->cboLocators->itemText(1), QStringLiteral("A99"));
    QCOMPARE(ui->cboLocators->itemData(1).toInt(), 12);
    QCOMPARE(ui->cboLocators->currentText(), QStringLiteral("Choose..."));

    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!w.MSComm2().isOpen());
    QCOMPARE(ui->shpMode->fillColor(), kRed);
    QCOMPARE(ui->tabstrip->currentIndex(), 0);
    QVERIFY(ui->tabstrip->isTabEnabled(0));
    QVERIFY(!ui->tabstrip->isTabEnabled(1));
    QVERIFY(ui->tabstrip->isTabEnabled(2));
    QVERIFY(!ui->tabstrip->isTabEnabled(3));

    QCOMPARE(ui->lblStatus->text(), QStringLiteral("Ready..."));
    QCOMPARE(statusColor(w), kDarkGrey);
    QCOMPARE(ui->lblMonitor->text(), QStringLiteral("Ready to connect..."));
    QCOMPARE(ui->lblUserChars->text(), QStringLiteral("-32 left-"));
    QCOMPARE(ui->ProgressBar1->maximum(), 165000);
    QCOMPARE(ui->dtpStart->date(), QDate(2026, 12, 6));
    QCOMPARE(ui->dtpEnd->date(), QDate(2026, 12, 6));
    QCOMPARE(ui->dtpStart->displayFormat(), QStringLiteral("dd/MM/yy"));

    for (QWidget *hidden : {static_cast<QWidget *>(ui->cmdDownloadAll), static_cast<QWidget *>(ui->cmdStop),
                            static_cast<QWidget *>(ui->cmdManagePorts)}) {
        QVERIFY2(!hidden->isEnabled() && hidden->isHidden(), qPrintable(hidden->objectName()));
    }
    QVERIFY(ui->Line1->isHidden() && ui->Line3->isHidden() && ui->Label1->isHidden());
    QVERIFY(!ui->chkSyncOnConnect->isChecked());
    for (QWidget *off : {static_cast<QWidget *>(ui->cmdDownloadByDate), static_cast<QWidget *>(ui->cmdSync),
                         static_cast<QWidget *>(ui->cmdSetDate), static_cast<QWidget *>(ui->cmdSetTime),
                         static_cast<QWidget *>(ui->cmdSetUser), static_cast<QWidget *>(ui->txtUser),
                         static_cast<QWidget *>(ui->cmdDisconnect), static_cast<QWidget *>(ui->cmdAnalyse),
                         static_cast<QWidget *>(ui->cmdOpenFile), static_cast<QWidget *>(ui->lblOpenFile)}) {
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    }
    QVERIFY(ui->cmdOpenExistingFile->isEnabled());
    QVERIFY(ui->cmdrescan->isEnabled());
    QVERIFY(ui->cmdExit->isEnabled());

    QCOMPARE(w.state().DataFolder, m_env->documentsDir() + "/korvex/data/");
    QCOMPARE(w.state().ImagesFolder, m_env->documentsDir() + "/korvex/images/");
    QCOMPARE(w.state().PortListPath, m_env->portListPath());
    QCOMPARE(w.state().DataFileCommentBlock, DataFileFormat::DefaultCommentBlock());
    QVERIFY(!w.tmrAbort().isActive());
    QVERIFY(!w.tmrCommsWatchdog().isActive());
    QCOMPARE(w.tmrAbort().interval(), 3000);
    QCOMPARE(w.tmrCommsWatchdog().interval(), 60000);
}

void TestFrmMain::startUpToleratesBadPortList()
{
    {
        frmMain w;  // no file, no folder
        QCOMPARE(w.form()->cboLocators->count(), 0);
    }
    QVERIFY(writeFile(m_env->portListPath(), "first,1\r\nno comma here\r\n\r\n777,5"));
    frmMain w;
    QCOMPARE(w.form()->cboLocators->count(), 1);
    QCOMPARE(w.form()->cboLocators->itemText(0), QStringLiteral("777"));
    QCOMPARE(w.form()->cboLocators->itemData(0).toInt(), 5);
}

void TestFrmMain::connectedStateSwitchesControls()
{
    frmMain w;
    auto *ui = w.form();
    ui->txtModel->setText("LOC2000");
    w.state().CurrentDataFile = "x.csv";
    w.SetConnectedState(true);
    QVERIFY(w.state().Connected);
    for (QWidget *on : {static_cast<QWidget *>(ui->cmdDownloadAll), static_cast<QWidget *>(ui->cmdDownloadByDate),
                        static_cast<QWidget *>(ui->cmdSync), static_cast<QWidget *>(ui->cmdSetDate),
                        static_cast<QWidget *>(ui->cmdSetTime), static_cast<QWidget *>(ui->cmdSetUser),
                        static_cast<QWidget *>(ui->cmdDisconnect), static_cast<QWidget *>(ui->txtUser)})
        QVERIFY2(ownEnabled(on), qPrintable(on->objectName()));
    // Tabs and lamp wait for the locator's first data.
    QVERIFY(!ui->tabstrip->isTabEnabled(1));
    QCOMPARE(ui->shpMode->fillColor(), kRed);
    QVERIFY(w.state().CurrentDataFile.isEmpty());

    // With no port open, false only switches the controls.
    ui->lblStatus->setText("keep me");
    w.SetConnectedState(false);
    QVERIFY(!w.state().Connected);
    QVERIFY(!ownEnabled(ui->cmdDownloadByDate));
    QVERIFY(!ownEnabled(ui->cmdSync));
    QVERIFY(!ownEnabled(ui->txtUser));
    QCOMPARE(ui->txtModel->text(), QStringLiteral("LOC2000"));
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("keep me"));
    QCOMPARE(ui->shpMode->fillColor(), kRed);
}

void TestFrmMain::notConnectedWithOpenPortClearsLink()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    auto *ui = w.form();
    ui->txtModel->setText("LOC2000");
    ui->txtSerialNo->setText("001234");
    ui->txtUser->setText("BOB");
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    pty->send("$live");
    QTRY_COMPARE(ui->shpMode->fillColor(), kGreen);
    QVERIFY(w.tmrCommsWatchdog().isActive());
    const QRect tabs = ui->tabstrip->geometry();
    const QRect monitor = ui->lblMonitor->geometry();

    w.SetConnectedState(false);
    // The emptied status line keeps its height: nothing above it moves.
    QApplication::processEvents();
    QCOMPARE(ui->tabstrip->geometry(), tabs);
    QCOMPARE(ui->lblMonitor->geometry(), monitor);
    // A long one stays on one line, shortened, and shows whole as its tooltip.
    const QString longStatus = "File '" + QString(300, QLatin1Char('x')) + ".csv' successfully opened";
    ui->lblStatus->setText(longStatus);
    QApplication::processEvents();
    QCOMPARE(ui->tabstrip->geometry(), tabs);
    QCOMPARE(ui->lblStatus->text(), longStatus);
    QVERIFY(ui->lblStatus->shownText().endsWith(QChar(0x2026)));
    const QPoint inside(5, ui->lblStatus->height() / 2);
    QHelpEvent tip(QEvent::ToolTip, inside, ui->lblStatus->mapToGlobal(inside));
    QApplication::sendEvent(ui->lblStatus, &tip);
    QCOMPARE(QToolTip::text(), longStatus);
    ui->lblStatus->clear();
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(ui->txtModel->text().isEmpty() && ui->txtSerialNo->text().isEmpty() && ui->txtUser->text().isEmpty());
    QCOMPARE(ui->lblUserChars->text(), QStringLiteral("- 32 -"));
    QVERIFY(ui->lblMonitor->text().isEmpty());
    QVERIFY(ui->lblStatus->text().isEmpty());
    QVERIFY(!w.tmrCommsWatchdog().isActive());
    QCOMPARE(ui->shpMode->fillColor(), kDarkRed);
    QVERIFY(!ui->tabstrip->isTabEnabled(1));
    QVERIFY(!ui->tabstrip->isTabEnabled(3));
}

void TestFrmMain::advancedShowsHiddenCommands()
{
    frmMain w;
    auto *ui = w.form();
    ui->tabstrip->setTabEnabled(3, true);  // as once the locator's data arrives
    ui->chkAdvanced->click();
    QVERIFY(ui->chkAdvanced->isChecked());
    // Not connected, yet Transfer All and Stop are offered.
    for (QWidget *b : {static_cast<QWidget *>(ui->cmdManagePorts), static_cast<QWidget *>(ui->cmdDownloadAll),
                       static_cast<QWidget *>(ui->cmdStop)})
        QVERIFY2(ownEnabled(b) && !b->isHidden(), qPrintable(b->objectName()));
    QVERIFY(!ui->Line1->isHidden() && !ui->Line3->isHidden() && !ui->Label1->isHidden());
    ui->chkAdvanced->click();
    for (QWidget *b : {static_cast<QWidget *>(ui->cmdManagePorts), static_cast<QWidget *>(ui->cmdDownloadAll),
                       static_cast<QWidget *>(ui->cmdStop)})
        QVERIFY2(!ownEnabled(b) && b->isHidden(), qPrintable(b->objectName()));
    QVERIFY(ui->Label1->isHidden());

    // The caption sits beside its tick box; a 32-character name fits its box.
    w.show();
    ui->tabstrip->setCurrentIndex(3);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(ui->lblAdvanced->x() - ui->chkAdvanced->geometry().right() < 16);
    const QString name = QStringLiteral("KORVEX CABLE SERVICES NORTH EAST");
    QCOMPARE(name.size(), 32);
    QVERIFY(ui->txtUser->fontMetrics().horizontalAdvance(name) < ui->txtUser->contentsRect().width() - 4);

    // Shrunk from outside, with no window manager to refuse it, the window
    // asks for its least size back; at that size nothing overlaps, the
    // wrapped end-date message included.
    ui->tabstrip->setTabEnabled(1, true);
    ui->tabstrip->setCurrentIndex(1);
    ui->lblEndError->setText(QStringLiteral("End date can not be before start date. End date set to start date."));
    w.windowHandle()->resize(250, 250);
    QTRY_COMPARE(w.size(), w.minimumSize());
    QVERIFY(w.minimumSize().width() > 250 && w.minimumSize().height() > 250);
    QVERIFY(ui->tabstrip->geometry().bottom() < ui->lblLiveMonitor->geometry().top());
    QVERIFY(ui->lblEndError->heightForWidth(ui->lblEndError->width()) <= ui->lblEndError->height());
    QVERIFY(ui->lblEndError->geometry().bottom() < ui->cmdDownloadByDate->geometry().top());
}

// Delivers a key press the way the keyboard does: to the focus widget.
static void press(QWidget *focus, Qt::Key key, bool autoRepeat = false)
{
    focus->setFocus();
    QKeyEvent ev(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : focus->window(), &ev);
}

static void showAndActivate(QWidget &w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

void TestFrmMain::ctrlAOpensAboutEachTime()
{
    frmMain w;
    showAndActivate(w);
    QSignalSpy about(&w, &frmMain::aboutWindowRequested);
    QWidget *focus = w.form()->cmdrescan;  // any control: the window sees keys first
    press(focus, Qt::Key_Control);
    press(focus, Qt::Key_A);
    QCOMPARE(about.count(), 1);
    QCOMPARE(w.KeySum(), 0);
    // A text box ignores Ctrl: the press travels on to the window, still counted once.
    press(w.form()->txtModel, Qt::Key_Control);
    press(w.form()->txtModel, Qt::Key_A);
    QCOMPARE(about.count(), 2);
    // Other keys do not count.
    press(focus, Qt::Key_B);
    QCOMPARE(w.KeySum(), 0);
    // A minimised About comes back out of the task bar, the same window.
    QWidget *shown = w.aboutWindow();
    QVERIFY(shown && shown->isVisible());
    shown->showMinimized();
    press(focus, Qt::Key_Control);
    press(focus, Qt::Key_A);
    QCOMPARE(w.aboutWindow(), shown);
    QVERIFY(shown->isVisible() && !shown->isMinimized());
}

void TestFrmMain::shiftCtrlTOpensToolsAndClosesPort()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    showAndActivate(w);
    QSignalSpy tools(&w, &frmMain::toolsWindowRequested);
    QSignalSpy about(&w, &frmMain::aboutWindowRequested);
    m_ui->inputs << QStringLiteral("lampwick") << QStringLiteral("4");
    w.form()->txtSerialNo->setText(QStringLiteral(" 004321 "));
    pty->send("$live");
    QTRY_COMPARE(w.form()->shpMode->fillColor(), kGreen);
    QVERIFY(w.tmrCommsWatchdog().isActive());
    press(&w, Qt::Key_T);
    press(&w, Qt::Key_Shift);
    press(&w, Qt::Key_Control);
    QCOMPARE(tools.count(), 1);
    QVERIFY(!w.MSComm1().isOpen());
    // The main window's link is down: nothing is left to watch it (its
    // expiry would close the probe port under a later scan) and it shows so.
    QVERIFY(!w.tmrCommsWatchdog().isActive());
    QCOMPARE(w.form()->shpMode->fillColor(), kDarkRed);
    QVERIFY(w.form()->txtModel->text().isEmpty() && w.form()->txtSerialNo->text().isEmpty());
    QVERIFY(!w.form()->tabstrip->isTabEnabled(1) && !w.form()->tabstrip->isTabEnabled(3));
    // The service window took the port over with its own settings.
    QVERIFY(w.toolsWindow() && w.toolsWindow()->isVisible());
    QCOMPARE(pty->receive(2), QByteArray("MM"));
    QCOMPARE(m_ui->endProgramCalls, 0);
    // Naming its log took the identity boxes, trimmed, as naming any file does.
    QCOMPARE(w.state().Identity.serialNo, QStringLiteral("004321"));
    // The controls keep their connected state.
    QVERIFY(ownEnabled(w.form()->cmdDownloadByDate));
    // Back in the main window, later letters do not fire the shortcut again.
    showAndActivate(w);
    press(w.form()->tabstrip, Qt::Key_X);
    press(w.form()->tabstrip, Qt::Key_B);
    QCOMPARE(tools.count(), 1);
    QCOMPARE(w.KeySum(), 117);
    // The sum has passed Ctrl+A's for the rest of the run.
    press(&w, Qt::Key_Control);
    press(&w, Qt::Key_A);
    QCOMPARE(about.count(), 0);
}

void TestFrmMain::keyboardHabits()
{
    frmMain w;
    auto *ui = w.form();
    w.SetConnectedState(true);
    showAndActivate(w);
    ui->tabstrip->setTabEnabled(1, true);

    // Enter presses the focused button.
    ui->cmdDisconnect->setFocus();
    QTest::keyClick(ui->cmdDisconnect, Qt::Key_Return);
    QCOMPARE(m_ui->questions, QStringList{QStringLiteral("Are you sure you want to disconnect?")});

    // A click into a date picker's day, then digits, types the day.
    ui->tabstrip->setCurrentIndex(1);
    ui->dtpStart->setDate(QDate(2026, 12, 6));
    QLineEdit *field = ui->dtpStart->findChild<QLineEdit *>();
    QVERIFY(field);
    QTest::mouseClick(field, Qt::LeftButton, {},
                      QPoint(field->fontMetrics().horizontalAdvance(u'0') / 2 + 3, field->height() / 2));
    QTest::keyClicks(field, "15");
    QCOMPARE(ui->dtpStart->date(), QDate(2026, 12, 15));
}

void TestFrmMain::heldCtrlPassesTheSum()
{
    frmMain w;
    showAndActivate(w);
    QSignalSpy about(&w, &frmMain::aboutWindowRequested);
    press(&w, Qt::Key_Control);
    press(&w, Qt::Key_Control, true);
    press(&w, Qt::Key_A);
    QCOMPARE(about.count(), 0);
    QCOMPARE(w.KeySum(), 17 + 17 + 65);
}

void TestFrmMain::endDateNeverBeforeStart()
{
    frmMain w;
    auto *ui = w.form();
    ui->dtpStart->setDate(QDate(2026, 12, 1));
    ui->dtpEnd->setDate(QDate(2026, 11, 30));
    QCOMPARE(ui->dtpEnd->date(), QDate(2026, 12, 1));
    QCOMPARE(ui->lblEndError->text(),
             QStringLiteral("End date can not be before start date. End date set to start date."));
    ui->dtpEnd->setDate(QDate(2026, 12, 1));
    ui->dtpEnd->setDate(QDate(2026, 12, 3));
    QVERIFY(ui->lblEndError->text().isEmpty());
    // Changing the start date runs no check.
    ui->dtpStart->setDate(QDate(2026, 12, 5));
    QCOMPARE(ui->dtpEnd->date(), QDate(2026, 12, 3));
}

void TestFrmMain::exitClosesPortAndDataFile()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.cmdDownloadAll_Click();
    QVERIFY(ProcessDataFile().isWriting());
    QTest::mouseClick(w.form()->cmdExit, Qt::LeftButton);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(m_ui->endProgramCalls, 1);
    QVERIFY(m_ui->questions.isEmpty());
}

void TestFrmMain::liveLineLightsLinkAndShowsText()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    auto *ui = w.form();
    // Text that is neither live nor transfer only lights the link.
    pty->send("hello");
    QTRY_COMPARE(ui->shpMode->fillColor(), kGreen);
    QVERIFY(ui->tabstrip->isTabEnabled(1));
    QVERIFY(ui->tabstrip->isTabEnabled(3));
    QVERIFY(!w.tmrCommsWatchdog().isActive());

    pty->send("$T,33KHz,D,1.25,17\r\n");
    QTRY_COMPARE(ui->lblMonitor->text(), QStringLiteral("Live: $T,33KHz,D,1.25,17\r\n"));
    QVERIFY(w.tmrCommsWatchdog().isActive());

    // The monitor draws whole lines only, as many as its box holds, and no
    // control character (the end character would be an empty box); its
    // text stays what arrived.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *monitor = qobject_cast<MonitorLabel *>(ui->lblMonitor);
    QVERIFY(monitor);
    monitor->setText(QStringLiteral("01/12/26,10:00:00\r\n02/12/26,10:00:01\r\n03/12/26,10:00:02\r\n"
                                    "04/12/26,10:00:03\r\n05/12/26"));
    QCOMPARE(monitor->shownLines(), (QStringList{"01/12/26,10:00:00", "02/12/26,10:00:01", "03/12/26,10:00:02"}));
    monitor->setText(QStringLiteral("ABORT\x1a"));
    QCOMPARE(monitor->shownLines(), QStringList{"ABORT"});
    QCOMPARE(monitor->text(), QStringLiteral("ABORT\x1a"));
    monitor->setText(QStringLiteral("\x1a"));
    QVERIFY(monitor->shownLines().isEmpty());
}

void TestFrmMain::transferByDateWritesFileAndEndsCleanly()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    auto *ui = w.form();
    ui->txtModel->setText("LOC2000 ");
    ui->txtSerialNo->setText("1234");
    ui->txtUser->setText(" BOB ");
    ui->dtpStart->setDate(QDate(2026, 12, 1));
    ui->dtpEnd->setDate(QDate(2026, 12, 6));
    showAndActivate(w);
    ui->tabstrip->setTabEnabled(1, true);
    ui->tabstrip->setCurrentIndex(1);
    ui->cmdDownloadByDate->setFocus();

    w.cmdDownloadByDate_Click();
    QCOMPARE(pty->receive(20), QByteArray("#DD01/12/26,06/12/26"));
    const QString name = "Locator Usage for BOB LOC2000 1234__ (01-12-26 to 06-12-26)__(06-12-2026--19-55-01).csv";
    QCOMPARE(w.state().CurrentDataFile, name);
    QCOMPARE(w.state().Identity.user, QStringLiteral("BOB"));
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("Downloading data from the locator, please wait."));
    QVERIFY(!ownEnabled(ui->cmdStop));

    // Before the start marker nothing is written.
    pty->send("stray");
    QTRY_COMPARE(ui->shpMode->fillColor(), kGreen);
    const QByteArray head
        = "#DD" + QByteArray("BOB").leftJustified(32, '_') + QByteArray(16, '_') + "LOC2000_" + "____1234" + "\r\n";
    const QByteArray records = "01/12/26,10:00:00,T,33KHz,D,1.25,17\r\n02/12/26,10:00:01,A,0,0,0,9\r\n";
    pty->send(head);
    QTRY_VERIFY(w.state().TransferActive);
    QVERIFY(!ui->tabstrip->isTabEnabled(0));
    QVERIFY(!ui->tabstrip->isTabEnabled(2));
    QVERIFY(!ui->tabstrip->isTabEnabled(3));
    QVERIFY(!ownEnabled(ui->cmdDownloadByDate) && !ownEnabled(ui->cmdSync));
    // The button that disabled itself left focus where nothing can be typed.
    QVERIFY(QApplication::focusWidget());
    QVERIFY2(!qobject_cast<QLineEdit *>(QApplication::focusWidget()),
             qPrintable(QApplication::focusWidget()->objectName()));
    pty->send(records);
    pty->send("\x1a");
    QTRY_VERIFY(!w.state().TransferActive);
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("File download complete"));
    QCOMPARE(ui->ProgressBar1->value(), 165000);
    QCOMPARE(w.tmrCommsWatchdog().interval(), 25000);
    QVERIFY(w.tmrCommsWatchdog().isActive());
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(ownEnabled(ui->cmdAnalyse) && ownEnabled(ui->cmdOpenFile));
    QVERIFY(ui->tabstrip->isTabEnabled(0) && ui->tabstrip->isTabEnabled(2) && ui->tabstrip->isTabEnabled(3));
    QVERIFY(ownEnabled(ui->cmdDownloadByDate) && ownEnabled(ui->cmdSync));
    QCOMPARE(readFile(m_env->dataDir() + "/" + name), DataFileFormat::DefaultCommentBlock() + head + records + "\x1a");
    QVERIFY(w.state().TransferFileReady);

    // Connecting again (as Scan or a chooser pick does) forgets the current
    // file: what reads it is withdrawn, and live lines do not bring it back.
    w.SetConnectedState(true);
    QVERIFY(w.state().CurrentDataFile.isEmpty());
    QVERIFY(!ownEnabled(ui->cmdAnalyse) && !ownEnabled(ui->cmdOpenFile));
    pty->send("$live\r\n");
    QTRY_COMPARE(ui->lblMonitor->text(), QStringLiteral("Live: $live\r\n"));
    QVERIFY(!ownEnabled(ui->cmdOpenFile));
    // Asked for all the same, Analyse says so once and opens nothing.
    m_ui->messages.clear();
    w.cmdAnalyse_Click();
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].startsWith(QStringLiteral("There is no current data file.")));
    QVERIFY(!w.findChild<frmPieByMonthMode2 *>());
}

void TestFrmMain::transferAllStopAndAbort()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    auto *ui = w.form();
    ui->chkAdvanced->setChecked(true);
    w.chkAdvanced_Click();
    showAndActivate(w);
    ui->tabstrip->setTabEnabled(1, true);
    ui->tabstrip->setCurrentIndex(1);
    ui->cmdDownloadAll->setFocus();
    w.cmdDownloadAll_Click();
    QVERIFY(ownEnabled(ui->cmdStop));
    QCOMPARE(pty->receive(3), QByteArray("#DA"));
    pty->send("#DA header\r\n01/12/26,10:00:00,T,33KHz,D,1.25,17\r\n");
    QTRY_VERIFY(w.state().TransferActive);
    QCOMPARE(QApplication::focusWidget(), ui->cmdStop);  // where Stop is offered, it takes focus

    w.cmdStop_Click();
    QCOMPARE(pty->receive(1), QByteArray("A"));
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("Stopping the download, please wait."));
    QVERIFY(w.tmrAbort().isActive());
    // No answer yet: the retry sends "A" again.
    w.tmrAbort_Timer();
    QCOMPARE(pty->receive(1), QByteArray("A"));

    pty->send("ABORT\x1a");
    QTRY_VERIFY(!w.state().TransferActive);
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("File download aborted. Incomplete data written to file"));
    QVERIFY(w.state().AbortAcknowledged);
    QVERIFY(!w.tmrAbort().isActive());
    const QByteArray file = readFile(w.state().DataFolder + w.state().CurrentDataFile);
    QVERIFY(file.startsWith(DataFileFormat::DefaultCommentBlock() + "#DA header"));
    QVERIFY(file.endsWith("ABORT\x1a"));
    // With nothing left to stop, Stop is withdrawn and its focus goes where
    // a later Enter presses nothing.
    QVERIFY(!ownEnabled(ui->cmdStop));
    QVERIFY(QApplication::focusWidget() && QApplication::focusWidget() != ui->cmdStop);
    QVERIFY(!qobject_cast<QLineEdit *>(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(pty->receive(1, 50), QByteArray());
    // Pressed all the same (Advanced offers it), it sends nothing and says so.
    w.cmdStop_Click();
    QCOMPARE(pty->receive(1, 50), QByteArray());
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("There is no download to stop."));
    QVERIFY(!w.tmrAbort().isActive());

    // A later transfer starts with a fresh abort state, so Stop really sends "A".
    w.cmdDownloadAll_Click();
    QCOMPARE(pty->receive(3), QByteArray("#DA"));
    QVERIFY(!w.state().AbortAcknowledged);
    w.cmdStop_Click();
    QCOMPARE(pty->receive(1), QByteArray("A"));
    // Once acknowledged, Stop reports success without sending.
    w.state().AbortAcknowledged = true;
    w.cmdStop_Click();
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("Download aborted successfully..."));
    QVERIFY(!w.tmrAbort().isActive());
    QCOMPARE(pty->receive(1, 50), QByteArray());
}

void TestFrmMain::powerDownMidTransferKeepsFile()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    auto *ui = w.form();
    w.cmdDownloadAll_Click();
    pty->receive(3);
    const QString name = w.state().CurrentDataFile;
    pty->send("#DA head\r\nrec1\r\n");
    QTRY_VERIFY(w.state().TransferActive);
    pty->send("#PD");
    QTRY_COMPARE(ui->lblStatus->text(),
                 QStringLiteral("The Locator has powered down. Any downloads may not have completed."));
    QCOMPARE(statusColor(w), kRed);
    QVERIFY(!w.state().TransferActive);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(readFile(w.state().DataFolder + name), DataFileFormat::DefaultCommentBlock() + "#DA head\r\nrec1\r\n");
    // What arrived is the current file and can be opened; the window is usable again.
    QCOMPARE(w.state().CurrentDataFile, name);
    QVERIFY(ownEnabled(ui->cmdOpenFile));
    QVERIFY(!ownEnabled(ui->cmdAnalyse));
    QVERIFY(ui->tabstrip->isTabEnabled(0) && ui->tabstrip->isTabEnabled(2));
    QCOMPARE(ui->shpMode->fillColor(), kDarkRed);
    // Red is the power-down's own: the next status text is dark grey again.
    w.cmdSetDate_Click();
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("Setting Date"));
    QCOMPARE(statusColor(w), kDarkGrey);
}

void TestFrmMain::watchdogDeclaresLinkLostAndKeepsFile()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.cmdDownloadAll_Click();
    pty->receive(3);
    const QString name = w.state().CurrentDataFile;
    pty->send("#DA head\r\n");
    QTRY_VERIFY(w.state().TransferActive);
    QCOMPARE(w.tmrCommsWatchdog().interval(), 60000);
    QVERIFY(w.tmrCommsWatchdog().isActive());
    w.tmrCommsWatchdog_Timer();  // sixty silent seconds
    QCOMPARE(w.form()->lblStatus->text(), QStringLiteral("Link lost with Locator. Please re-link before proceeding"));
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!w.tmrCommsWatchdog().isActive());
    QVERIFY(!w.state().TransferActive);
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(w.state().CurrentDataFile, name);
    QCOMPARE(readFile(w.state().DataFolder + name), DataFileFormat::DefaultCommentBlock() + "#DA head\r\n");
}

void TestFrmMain::vanishedDeviceIsALostLink()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    pty->send("$live");
    QTRY_COMPARE(w.form()->shpMode->fillColor(), kGreen);
    pty->closeAll();
    QTRY_COMPARE(w.form()->lblStatus->text(),
                 QStringLiteral("Link lost with Locator. Please re-link before proceeding"));
    QVERIFY(!w.MSComm1().isOpen());
    QCOMPARE(w.form()->shpMode->fillColor(), kDarkRed);
}

void TestFrmMain::commsErrorEventShowsNumber()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.MSComm1().raiseEvent(SerialPort::EventFrame);
    w.MSComm1().raiseEvent(SerialPort::EvRing);
    QTRY_COMPARE(m_ui->messages.size(), 2);
    QCOMPARE(m_ui->messages[0], QStringLiteral("Comms error: 1004"));
    QCOMPARE(m_ui->messages[1], QStringLiteral("Comms error: 6"));
    QVERIFY(w.tmrCommsWatchdog().isActive());
}

void TestFrmMain::dataFileThatCannotBeCreatedIsReported()
{
    // The data folder's place is taken by a file: nothing can be created there.
    QVERIFY(writeFile(m_env->documentsDir() + "/korvex/data", "not a folder"));
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.cmdDownloadAll_Click();
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].contains("korvex"));
    QCOMPARE(pty->receive(1, 50), QByteArray());  // the command was not sent
    QVERIFY(w.form()->lblStatus->text() != QStringLiteral("File download complete"));
    QVERIFY(!ProcessDataFile().isOpen());
    // The name that was never created is no current file, and nothing runs to be stopped.
    QVERIFY(w.state().CurrentDataFile.isEmpty());
    QVERIFY(!ownEnabled(w.form()->cmdAnalyse) && !ownEnabled(w.form()->cmdStop));
    w.cmdSetUser_Click();
    QCOMPARE(statusColor(w), kDarkGrey);
}

void TestFrmMain::unrequestedTransferGetsItsOwnFile()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.form()->txtUser->setText("BOB");
    pty->send("#DA hdr\r\n\x1a");
    QTRY_COMPARE(w.form()->lblStatus->text(), QStringLiteral("File download complete"));
    const QString name = w.state().CurrentDataFile;
    QVERIFY(name.startsWith("Locator Usage for BOB"));
    QCOMPARE(readFile(w.state().DataFolder + name), DataFileFormat::DefaultCommentBlock() + "#DA hdr\r\n\x1a");
}

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
