// The Setup tab's commands on the wire, the user name box, opening a data
// file and reading its header line, the exclusive-open test, the About window.
#include "gui/main/frmAbout.h"
#include "gui/main/frmMain.h"
#include "ui_frmAbout.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "core/datafile/DataFileHandle.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <sys/file.h>
#include <sys/wait.h>

namespace {
const QByteArray kBlock = "//     Date(DD/MM/YY)\r\n// Date,Time,Mode\r\n";

QByteArray headerLine(const QByteArray &user32, const QByteArray &model8, const QByteArray &serial8)
{
    return "#DA" + user32 + QByteArray(16, 'x') + model8 + serial8;
}

const QString kHeaderMessage = QStringLiteral(
    "There is a problem with the header line in the locator's data file. Please correct and try again or "
    "contact Korvex support at https://locator-toolkit.example.org/support");
}  // namespace

class TestSettingsFiles : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup()
    {
        QLocale::setDefault(QLocale::c());
        tearDown();
    }

    void setDateAndTimeWireBytes();
    void setUserPadsToThirtyTwo_data();
    void setUserPadsToThirtyTwo();
    void userBoxRefusesCharactersAsTyped();

    void headerIdentityPositions_data();
    void headerIdentityPositions();
    void openExistingFileReadsHeader();
    void openExistingFileWithBadHeader_data();
    void openExistingFileWithBadHeader();
    void cancelledDialogKeepsConnection();
    void fileFromAnotherFolderIsReadThere();
    void fileLockedHonoursAnotherProcess();

    void aboutShowsVersionsAndSupport();
    void fileDialogsShowWholeNamesAndKeepTheirSize();

private:
    std::unique_ptr<PtyPair> connectPty(frmMain &w, int com = 6)
    {
        return MainWindowHarness::connectPty(w, m_env->portsDir(), com);
    }
};

void TestSettingsFiles::setDateAndTimeWireBytes()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    m_ui->clock.set(QDateTime(QDate(2026, 3, 5), QTime(9, 5, 3)));
    // A regional time separator other than ":" never reaches the wire.
    QLocale::setDefault(QLocale(QLocale::Finnish, QLocale::Finland));

    w.cmdSetDate_Click();
    QCOMPARE(pty->receive(11), QByteArray("#DS05/03/26"));
    QTRY_COMPARE(w.form()->lblStatus->text(), QStringLiteral("Date set"));
    w.cmdSetTime_Click();
    QCOMPARE(pty->receive(11), QByteArray("#TS09:05:03"));
    QTRY_COMPARE(w.form()->lblStatus->text(), QStringLiteral("Time set"));
    m_ui->clock.set(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)));
    w.cmdSetTime_Click();
    QCOMPARE(pty->receive(11), QByteArray("#TS23:59:59"));
    QCOMPARE(pty->receive(1, 50), QByteArray());  // nothing after the command
}

void TestSettingsFiles::setUserPadsToThirtyTwo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("empty") << QString() << QByteArray("#FT") + QByteArray(32, ' ');
    QTest::newRow("BOB") << QStringLiteral("BOB") << QByteArray("#FTBOB") + QByteArray(29, ' ');
    QTest::newRow("32 characters") << QString(32, QLatin1Char('N')) << QByteArray("#FT") + QByteArray(32, 'N');
}

void TestSettingsFiles::setUserPadsToThirtyTwo()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, wire);
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.form()->txtUser->setText(name);
    w.cmdSetUser_Click();
    QCOMPARE(pty->receive(int(wire.size())), wire);
    QCOMPARE(w.state().Identity.user, QString::fromLatin1(wire.mid(3)));
    QTRY_COMPARE(w.form()->lblStatus->text(), QStringLiteral("User Set"));
}

void TestSettingsFiles::userBoxRefusesCharactersAsTyped()
{
    frmMain w;
    w.SetConnectedState(true);
    w.form()->tabstrip->setTabEnabled(3, true);
    w.form()->tabstrip->setCurrentIndex(3);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLineEdit *box = w.form()->txtUser;
    QLabel *counter = w.form()->lblUserChars;
    QCOMPARE(counter->text(), QStringLiteral("-32 left-"));

    QTest::keyClicks(box, "BOB");
    QCOMPARE(counter->text(), QStringLiteral("- 29 -"));
    for (const char *c : {".", "*", "/", "\\", "?", ":"}) {
        QTest::keyClicks(box, c);
        QCOMPARE(box->text(), QStringLiteral("BOB"));
        QCOMPARE(box->cursorPosition(), 3);
        QCOMPARE(counter->text(), QStringLiteral("- 29 -"));
    }
    // Typed in the middle: removed there, caret stays where it was.
    box->setCursorPosition(1);
    QTest::keyClicks(box, ".");
    QCOMPARE(box->text(), QStringLiteral("BOB"));
    QCOMPARE(box->cursorPosition(), 1);
    // Only the character before the caret is examined: a pasted "a.b" keeps its dot.
    box->setCursorPosition(3);
    box->insert(QStringLiteral("a.b"));
    QCOMPARE(box->text(), QStringLiteral("BOBa.b"));
    box->insert(QStringLiteral("c?"));
    QCOMPARE(box->text(), QStringLiteral("BOBa.bc"));
    QCOMPARE(counter->text(), QStringLiteral("- 25 -"));

    box->setText(QString(32, QLatin1Char('x')));
    QCOMPARE(counter->text(), QStringLiteral("- 0 -"));
    QTest::keyClicks(box, "y");  // the box holds 32 at most
    QCOMPARE(box->text().size(), 32);
}

void TestSettingsFiles::headerIdentityPositions_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QByteArray>("eol");  // empty: CR LF
    QTest::newRow("example") << headerLine("JOHN" + QByteArray(28, '_'), "LOC_2000", "__001234") << "JOHN"
                             << "LOC2000"
                             << "001234" << QByteArray();
    QTest::newRow("blanks") << headerLine("BOB SMITH" + QByteArray(23, ' '), "LOC2000 ", "  1234  ") << "BOB SMITH"
                            << "LOC2000"
                            << "1234  " << QByteArray();
    QTest::newRow("ends inside model") << QByteArray("#DA") + QByteArray(32, 'U') + QByteArray(16, 'x') + "LOC"
                                       << QString(32, QLatin1Char('U')) << "LOC"
                                       << "" << QByteArray();
    QTest::newRow("echo only") << QByteArray("#DA") << ""
                               << ""
                               << "" << QByteArray();
    QTest::newRow("empty line") << QByteArray() << ""
                                << ""
                                << "" << QByteArray();
    // Lines end at CR, LF or CR LF, as every other reader takes them: the
    // next record never lends the header its model or serial number.
    const QByteArray shortLine = QByteArray("#DA") + QByteArray(32, 'U') + QByteArray(16, 'x') + "LOC";
    QTest::newRow("lone CR") << shortLine << QString(32, QLatin1Char('U')) << "LOC"
                             << "" << QByteArray("\r");
    QTest::newRow("LF only") << shortLine << QString(32, QLatin1Char('U')) << "LOC"
                             << "" << QByteArray("\n");
}

void TestSettingsFiles::headerIdentityPositions()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, user);
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(QByteArray, eol);
    if (eol.isEmpty())
        eol = "\r\n";
    QByteArray block = kBlock;
    block.replace("\r\n", eol);
    QVERIFY(writeFile(m_env->dataDir() + "/h.csv", block + line + eol + "01/12/26,10:00:00,T,0,0,0,1" + eol));
    frmMain w;
    m_ui->openFiles.enqueue(m_env->dataDir() + "/h.csv");
    w.cmdOpenExistingFile_Click();
    QCOMPARE(m_ui->messages, QStringList());
    QCOMPARE(w.state().Identity.user, user);
    QCOMPARE(w.state().Identity.model, model);
    QCOMPARE(w.state().Identity.serialNo, serial);
}

void TestSettingsFiles::openExistingFileReadsHeader()
{
    QVERIFY(writeFile(m_env->dataDir() + "/x.csv",
                      kBlock + headerLine("JOHNSMITHJR" + QByteArray(21, '_'), "LOC_2000", "__001234") + "\r\n"));
    frmMain w;
    QSignalSpy viewer(&w, &frmMain::dataViewerRequested);
    auto *ui = w.form();
    m_ui->openFiles.enqueue(m_env->dataDir() + "/x.csv");
    w.cmdOpenExistingFile_Click();
    QCOMPARE(m_ui->lastFilter, QStringLiteral("Locator Data Files (*.csv)"));
    QCOMPARE(w.state().CurrentDataFile, QStringLiteral("x.csv"));
    QCOMPARE(ui->lblStatus->text(), QStringLiteral("File 'x.csv' successfully opened"));
    QCOMPARE(ui->txtModel->text(), QStringLiteral("LOC2000"));
    QCOMPARE(ui->txtSerialNo->text(), QStringLiteral("001234"));
    QCOMPARE(ui->txtUser->text(), QStringLiteral("JOHNSMITHJR"));
    QCOMPARE(ui->lblUserChars->text(), QStringLiteral("- 21 -"));
    QVERIFY(!ui->cmdAnalyse->testAttribute(Qt::WA_ForceDisabled));
    QVERIFY(!ui->cmdOpenFile->testAttribute(Qt::WA_ForceDisabled));
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(viewer.count(), 1);
    QWidget *shown = w.dataViewer();
    QVERIFY(shown && shown->isVisible());

    // An open viewer is brought forward, not loaded again.
    w.cmdOpenFile_Click();
    QCOMPARE(viewer.count(), 2);
    QCOMPARE(w.dataViewer(), shown);
    QVERIFY(!ProcessDataFile().isOpen());
}

void TestSettingsFiles::openExistingFileWithBadHeader_data()
{
    QTest::addColumn<bool>("create");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("only comment lines") << true << kBlock;
    QTest::newRow("empty file") << true << QByteArray();
    QTest::newRow("missing file") << false << QByteArray();
}

void TestSettingsFiles::openExistingFileWithBadHeader()
{
    QFETCH(bool, create);
    QFETCH(QByteArray, content);
    const QString path = m_env->dataDir() + "/bad.csv";
    if (create)
        QVERIFY(writeFile(path, content));
    frmMain w;
    w.state().Identity = {QStringLiteral("OLDMODEL"), QStringLiteral("OLD1"), QStringLiteral("OLDUSER")};
    m_ui->openFiles.enqueue(path);
    w.cmdOpenExistingFile_Click();
    // The header message first; the viewer still opens (and says so itself
    // when there is no file to show).
    QVERIFY(!m_ui->messages.isEmpty());
    QCOMPARE(m_ui->messages.first(), kHeaderMessage);
    QCOMPARE(m_ui->messages.size(), create ? 1 : 2);
    // The success status stays; the earlier identity reappears; nothing stays open.
    QCOMPARE(w.form()->lblStatus->text(), QStringLiteral("File 'bad.csv' successfully opened"));
    QCOMPARE(w.form()->txtModel->text(), QStringLiteral("OLDMODEL"));
    QCOMPARE(w.form()->txtUser->text(), QStringLiteral("OLDUSER"));
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(QFileInfo::exists(path), create);  // the lock test never creates a file
}

void TestSettingsFiles::cancelledDialogKeepsConnection()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.form()->txtModel->setText("LOC2000");
    w.state().CurrentDataFile = "keep.csv";
    w.cmdOpenExistingFile_Click();  // no file scripted: cancelled
    QVERIFY(w.MSComm1().isOpen());
    QVERIFY(w.state().Connected);
    QCOMPARE(w.form()->lblStatus->text(), QString());
    QCOMPARE(w.form()->txtModel->text(), QStringLiteral("LOC2000"));
    QCOMPARE(w.state().CurrentDataFile, QStringLiteral("keep.csv"));
}

void TestSettingsFiles::fileFromAnotherFolderIsReadThere()
{
    // Same bare name in the data folder, different content: the chosen one counts.
    QVERIFY(
        writeFile(m_env->dataDir() + "/same.csv", kBlock + headerLine(QByteArray(32, '_'), "WRONG___", "WRONG___")));
    const QString elsewhere = m_env->root() + "/usb stick/same.csv";
    QVERIFY(writeFile(elsewhere, kBlock + headerLine("ANN" + QByteArray(29, '_'), "LOC3000_", "____4321")));
    frmMain w;
    m_ui->openFiles.enqueue(elsewhere);
    w.cmdOpenExistingFile_Click();
    QCOMPARE(w.state().CurrentDataFile, QStringLiteral("same.csv"));
    QCOMPARE(w.state().currentDataFilePath(), elsewhere);
    QCOMPARE(w.state().Identity.model, QStringLiteral("LOC3000"));
    QCOMPARE(w.state().Identity.user, QStringLiteral("ANN"));
    QCOMPARE(w.state().Identity.serialNo, QStringLiteral("4321"));

    // Choosing a file in the data folder goes back to the bare-name rule.
    m_ui->openFiles.enqueue(m_env->dataDir() + "/same.csv");
    w.cmdOpenExistingFile_Click();
    QCOMPARE(w.state().currentDataFilePath(), w.state().DataFolder + "same.csv");
    QCOMPARE(w.state().Identity.model, QStringLiteral("WRONG"));
}

void TestSettingsFiles::fileLockedHonoursAnotherProcess()
{
    const QString path = m_env->dataDir() + "/held.csv";
    QVERIFY(writeFile(path, "data"));
    DataFileHandle handle;
    QVERIFY(!FileLocked(handle, path));
    QVERIFY(!handle.isOpen());

    // Another process holds the file with an exclusive lock (flock), the
    // convention on Linux for "held open exclusively".
    int ready[2];
    int release[2];
    QVERIFY(::pipe(ready) == 0 && ::pipe(release) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(release[1]);  // so the parent's close is seen as end of file
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
        char c = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
    QCOMPARE(c, 'y');
    QVERIFY(FileLocked(handle, path));
    QVERIFY(!handle.isOpen());
    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0]})
        ::close(fd);
    QVERIFY(!FileLocked(handle, path));
}

void TestSettingsFiles::aboutShowsVersionsAndSupport()
{
    frmMain w;
    QVERIFY(!w.aboutWindow());
    emit w.aboutWindowRequested();
    auto *about = qobject_cast<frmAbout *>(w.aboutWindow());
    QVERIFY(about);
    QCOMPARE(about->windowTitle(), QStringLiteral("About Korvex Locator Bluetooth Toolkit"));
    QCOMPARE(about->form()->lblVersion->text(), QStringLiteral("2.7.016"));
    QCOMPARE(about->form()->lblBTFVersion->text(), QStringLiteral("Please connect to a locator and reopen this box"));

    // Identified while open: the open window keeps its text until reopened.
    w.state().BluetoothFirmwareVersion = QStringLiteral("1.23");
    emit w.aboutWindowRequested();
    QCOMPARE(w.aboutWindow(), about);
    QCOMPARE(about->form()->lblBTFVersion->text(), QStringLiteral("Please connect to a locator and reopen this box"));
    about->close();
    QTRY_VERIFY(!w.aboutWindow());
    emit w.aboutWindowRequested();
    about = qobject_cast<frmAbout *>(w.aboutWindow());
    QCOMPARE(about->form()->lblBTFVersion->text(), QStringLiteral("Bluetooth firmware version: 1.23"));

    QTest::mouseClick(about->form()->Command1, Qt::LeftButton);
    QCOMPARE(m_ui->opened, QList<QUrl>{QUrl("https://locator-toolkit.example.org/support")});

    // After a disconnect the version is forgotten.
    about->close();
    QTRY_VERIFY(!w.aboutWindow());
    m_ui->answers.enqueue(true);
    w.cmdDisconnect_Click();
    emit w.aboutWindowRequested();
    about = qobject_cast<frmAbout *>(w.aboutWindow());
    QCOMPARE(about->form()->lblBTFVersion->text(), QStringLiteral("Please connect to a locator and reopen this box"));

    // Escape closes it, and so does its Close button.
    QApplication::setActiveWindow(about);
    QVERIFY(QTest::qWaitForWindowActive(about));
    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(!w.aboutWindow());
    emit w.aboutWindowRequested();
    about = qobject_cast<frmAbout *>(w.aboutWindow());
    QTest::mouseClick(about->form()->cmdClose, Qt::LeftButton);
    QTRY_VERIFY(!w.aboutWindow());
}

void TestSettingsFiles::fileDialogsShowWholeNamesAndKeepTheirSize()
{
    // The real dialogs: every data file name starts alike, so a name cut
    // short hides the part that tells the files apart.
    const QString name = QStringLiteral(
        "Locator Usage for ACME LTD. KX-200 00012345__ (01-08-26 to 08-12-26)__(08-12-2026--14-03-22).csv");
    QVERIFY(writeFile(m_env->dataDir() + QLatin1Char('/') + name, "x"));
    QtInteraction real;
    struct Seen
    {
        QSize size;
        QString folder;
        QString selected;
        int nameColumn = 0;
        int nameColumnEnd = 0;
        int viewWidth = 0;
        int nameNeeds = 0;
    };
    // Looks at the dialog once it shows, gives it `resizeTo` (if valid) and cancels it.
    auto look = [name](Seen *seen, QSize resizeTo) {
        auto *timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, timer, [=] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            timer->deleteLater();
            seen->size = dialog->size();
            seen->folder = dialog->directory().absolutePath();
            seen->selected = dialog->selectedFiles().value(0);
            if (auto *details = dialog->findChild<QTreeView *>()) {
                seen->nameColumn = details->header()->sectionSize(0);
                seen->nameColumnEnd = details->header()->sectionViewportPosition(0) + seen->nameColumn;
                seen->viewWidth = details->viewport()->width();
                seen->nameNeeds = details->fontMetrics().horizontalAdvance(name) + details->iconSize().width();
            }
            if (resizeTo.isValid())
                dialog->resize(resizeTo);
            dialog->reject();
        });
        timer->start(10);
    };

    Seen first;
    look(&first, QSize(900, 500));
    QCOMPARE(real.openFileName(nullptr, QString(), m_env->dataDir(), QStringLiteral("Locator Data Files (*.csv)")),
             QString());
    QCOMPARE(first.folder, m_env->dataDir());
    QVERIFY(first.nameNeeds > 0);
    QVERIFY2(first.nameColumn >= first.nameNeeds, qPrintable(QString::number(first.nameColumn)));
    QVERIFY2(first.nameColumnEnd <= first.viewWidth, qPrintable(QString::number(first.viewWidth)));

    // The size the user gave it holds for the next dialog, a save dialog too.
    Seen second;
    look(&second, QSize());
    QCOMPARE(real.saveFileName(nullptr, QString(), m_env->dataDir() + QStringLiteral("/x.jpg"),
                               QStringLiteral("jpg (*.jpg)")),
             QString());
    QCOMPARE(second.size, QSize(900, 500));
    QCOMPARE(second.folder, m_env->dataDir());
    QCOMPARE(second.selected, m_env->dataDir() + QStringLiteral("/x.jpg"));
}

QTEST_MAIN(TestSettingsFiles)
#include "test_settings_files.moc"
