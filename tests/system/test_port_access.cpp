// Ports without hand-made links, and ports the user may not open: the port
// table over a temporary device folder of pseudo-terminals, and a device
// file this user is refused, as the window and locator-cli report it.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "CliRunner.h"
#include "MainWindowHarness.h"
#include "core/link/Pacing.h"
#include "core/link/PortNaming.h"
#include "gui/common/Lamp.h"
#include "gui/link/frmPortManage.h"
#include "ui_frmPortManage.h"

#include <QTest>

#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace MainWindowHarness;

namespace {

const QString kSure = QStringLiteral("Are you sure you want to scan?");
const QString kAgain = QStringLiteral("No locator found. Search again?");

// The text the user is given for a refused device: its group and the fix.
QString expectedAdvice(const QString &device)
{
    struct stat st
    { };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return QStringLiteral("(no such device %1)").arg(device);
    const struct group *g = ::getgrgid(st.st_gid);
    const QString name = g ? QString::fromLocal8Bit(g->gr_name) : QString();
    return QStringLiteral("You may not open %1: it belongs to the group %2. Add yourself to that group "
                          "(sudo usermod -aG %2 $USER), then log out and back in.")
        .arg(device, name);
}

}  // namespace

class TestPortAccess : public QObject, private WindowFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { setUp(); }
    void cleanup()
    {
        m_window.reset();
        m_sim.reset();
        tearDown();
    }

    void tableNumbersStayFixed();
    void scanFindsBluetoothDeviceWithoutLink();
    void explicitEntryWinsOverTable();
    void refusedPortInScanNamesDeviceAndFix();
    void refusedKnownPortNamesDeviceAndFix();
    void refusedPortInEveryCliLinkCommand();

private:
    frmMain &window()
    {
        if (!m_window)
            m_window = std::make_unique<frmMain>();
        return *m_window;
    }
    Ui::frmMain &ui() { return *window().form(); }
    // A scan or test runs from the event loop; this waits until it is done.
    void waitForLink() { QTRY_VERIFY_WITH_TIMEOUT(!window().linkBusy(), 15000); }
    // A simulated locator appearing as a system device (as "rfcomm bind" makes one).
    bool startDevice(const QString &name)
    {
        m_sim = std::make_unique<sim::LocatorSimulator>(quickLocator("001234"));
        std::string error;
        return m_sim->start(QDir(m_env->devicesDir()).filePath(name).toStdString(), &error);
    }
    // A device file in the device folder that this user may not open.
    QString refusedDevice(const QString &name)
    {
        const QString path = QDir(m_env->devicesDir()).filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.close();
        QFile::setPermissions(path, QFileDevice::Permissions());
        return path;
    }

    void giveRootBack();

    static constexpr uid_t kNobody = 65534;  // and gid 65534, nogroup
    bool m_droppedRoot = false;
    bool m_canBeRefused = false;
    std::unique_ptr<sim::LocatorSimulator> m_sim;
    std::unique_ptr<frmMain> m_window;
};

void TestPortAccess::initTestCase()
{
    Pacing::SetShortPauseMs(kProbePaceMs);
    // Root opens any file, so a refused device cannot be staged. CI runs as
    // root: the tests run with root's effective ids set aside (as nobody) so
    // that the kernel refuses for real, and get them back at the end, when
    // the sanitizers' exit checks may need to read the build tree.
    if (::geteuid() == 0) {
        m_droppedRoot = ::setgroups(0, nullptr) == 0 && ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
        if (!m_droppedRoot)
            giveRootBack();
    }
    m_canBeRefused = ::geteuid() != 0;
}

void TestPortAccess::cleanupTestCase()
{
    if (m_droppedRoot)
        giveRootBack();
}

void TestPortAccess::giveRootBack()
{
    [[maybe_unused]] const int uid = ::seteuid(0);
    [[maybe_unused]] const int gid = ::setegid(0);
    ::prctl(PR_SET_DUMPABLE, 1);  // changing ids cleared it; LeakSanitizer traces the process
}

void TestPortAccess::tableNumbersStayFixed()
{
    // The port list remembers these numbers: they must never move.
    const QList<std::pair<int, QString>> table = {
        {0, QString()},  {1, "rfcomm0"},  {8, "rfcomm7"},  {9, "ttyUSB0"},
        {12, "ttyUSB3"}, {13, "ttyACM0"}, {16, "ttyACM3"}, {17, QString()},
    };
    for (const auto &[port, device] : table)
        QCOMPARE(PortNaming::TableDeviceName(port), device);

    // locator-cli ports shows where each number leads, present or not.
    QVERIFY(startDevice("ttyUSB1"));
    const CliResult r = RunCli({"ports"});
    QCOMPARE(r.status, 0);
    const QString out = QString::fromUtf8(r.out);
    QVERIFY2(out.contains(QStringLiteral("Device folder: %1\n").arg(m_env->devicesDir())), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("\nCOM10 -> %1/ttyUSB1\n").arg(m_env->devicesDir())), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("\nCOM1 -> %1/rfcomm0 (not present)\n").arg(m_env->devicesDir())),
             qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("\nCOM16 -> %1/ttyACM3 (not present)\n").arg(m_env->devicesDir())),
             qPrintable(out));

    // So does the port editor, and it follows a corrected port.
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,10\r\n"));
    frmPortManage editor(m_env->portListPath());
    editor.show();
    QTreeWidgetItem *row = editor.form()->lvPorts->topLevelItem(0);
    QVERIFY(row);
    QCOMPARE(editor.form()->lvPorts->headerItem()->text(2), QStringLiteral("Device"));
    QCOMPARE(row->text(2), QDir(m_env->devicesDir()).filePath("ttyUSB1"));
    row->setText(0, QStringLiteral("2"));
    QCOMPARE(row->text(2), QDir(m_env->devicesDir()).filePath("rfcomm1"));
    QVERIFY(editor.PortListChanged);
}

void TestPortAccess::scanFindsBluetoothDeviceWithoutLink()
{
    // A locator bound as rfcomm0, and an empty ports folder.
    QVERIFY(startDevice("rfcomm0"));
    QVERIFY(QDir(m_env->portsDir()).isEmpty());

    frmMain &w = window();
    answers(m_ui->answers, {true, true});
    ui().cmdrescan->click();
    waitForLink();
    QCOMPARE(m_ui->questions,
             (QStringList{kSure, QStringLiteral("Locator type LOC2000, Serial Number 001234. Use this connection?")}));
    QVERIFY(w.MSComm1().isOpen());
    QCOMPARE(w.MSComm1().commPort(), 1);
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n001234,1\r\n"));
}

void TestPortAccess::explicitEntryWinsOverTable()
{
    m_sim = startLocator(m_env->portsDir(), 2, quickLocator("001234"));
    QVERIFY(m_sim);
    const QString table2 = QDir(m_env->devicesDir()).filePath("rfcomm1");
    const QString table3 = QDir(m_env->devicesDir()).filePath("rfcomm2");
    QVERIFY(QFile::link(QFileInfo(QDir(m_env->portsDir()).filePath("COM2")).symLinkTarget(), table2));
    QVERIFY(QFile::link(QFileInfo(QDir(m_env->portsDir()).filePath("COM2")).symLinkTarget(), table3));
    QVERIFY(QFile::link(QDir(m_env->root()).filePath("unplugged"), QDir(m_env->portsDir()).filePath("COM3")));

    QCOMPARE(PortNaming::DevicePathFor(2), QDir(m_env->portsDir()).filePath("COM2"));
    // A link whose device is gone is the user's word too: no port, even though the table's device is there.
    QCOMPARE(PortNaming::DevicePathFor(3), QString());
    QCOMPARE(PortNaming::DeviceShownFor(3), QDir(m_env->root()).filePath("unplugged"));
    const CliResult r = RunCli({"identify", "--port", "3"});
    QCOMPARE(r.errLines(),
             (QList<QByteArray>{"locator-cli identify: port 3 does not exist (COM3 in " + m_env->portsDir().toUtf8()
                                + " points to " + QDir(m_env->root()).filePath("unplugged").toUtf8()
                                + ", which is not there)"}));
}

void TestPortAccess::refusedPortInScanNamesDeviceAndFix()
{
    if (!m_canBeRefused)
        QSKIP("running as root, and root's ids could not be set aside: no device can be refused");
    const QString device = refusedDevice("rfcomm2");
    QVERIFY(!device.isEmpty());

    frmMain &w = window();
    answers(m_ui->answers, {true, false});
    ui().cmdrescan->click();
    waitForLink();
    QCOMPARE(m_ui->questions.size(), 2);
    QCOMPARE(m_ui->questions.last(),
             QStringLiteral("Port 3 could not be opened. ") + expectedAdvice(device) + QStringLiteral("\n\n") + kAgain);
    QVERIFY(!w.state().Connected);

    // Once the user may open it, the note is gone.
    QVERIFY(QFile::remove(device));
    answers(m_ui->answers, {true, false});
    ui().cmdrescan->click();
    waitForLink();
    QCOMPARE(m_ui->questions.last(), kAgain);
}

void TestPortAccess::refusedKnownPortNamesDeviceAndFix()
{
    if (!m_canBeRefused)
        QSKIP("running as root, and root's ids could not be set aside: no device can be refused");
    const QString device = refusedDevice("ttyUSB0");
    QVERIFY(!device.isEmpty());
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,9\r\n"));

    frmMain &w = window();
    const int i = ui().cboLocators->findText(QStringLiteral("001234"));
    QVERIFY(i >= 0);
    ui().cboLocators->setCurrentIndex(i);
    emit ui().cboLocators->activated(i);
    waitForLink();

    QVERIFY(m_ui->questions.isEmpty());
    QCOMPARE(m_ui->messages, QStringList{QStringLiteral("Port 9 could not be opened. ") + expectedAdvice(device)});
    QCOMPARE(ui().lblStatus->text(), QStringLiteral("Port 9 could not be opened."));
    QCOMPARE(textColor(ui().lblStatus), kRed);
    QCOMPARE(ui().shpMode->fillColor(), kDarkRed);
    QVERIFY(!w.state().Connected);
    QVERIFY(!w.MSComm2().isOpen());
}

void TestPortAccess::refusedPortInEveryCliLinkCommand()
{
    if (!m_canBeRefused)
        QSKIP("running as root, and root's ids could not be set aside: no device can be refused");
    const QString device = refusedDevice("rfcomm4");
    QVERIFY(!device.isEmpty());
    QString advice = expectedAdvice(device);
    advice[0] = advice[0].toLower();
    const QByteArray why = "port 5 could not be opened: " + advice.toUtf8();

    for (const QStringList &command :
         {QStringList{"identify", "--port", "5"}, QStringList{"set-clock", "--port", "5"},
          QStringList{"set-user", "--port", "5", "BOB"}, QStringList{"transfer", "--port", "5", "--all"}}) {
        const CliResult r = RunCli(command);
        QCOMPARE(r.status, int(Cli::Failure));
        QCOMPARE(r.errLines(), QList<QByteArray>{"locator-cli " + command.first().toUtf8() + ": " + why});
    }

    const CliResult scan = RunCli({"scan"});
    QCOMPARE(scan.status, int(Cli::Failure));
    QCOMPARE(scan.errLines(),
             (QList<QByteArray>{"locator-cli scan: " + why,
                                "locator-cli scan: no locator answered on ports 1 to 16, and 1 of "
                                "them could not be opened for want of permission (see above)"}));
}

QTEST_MAIN(TestPortAccess)
#include "test_port_access.moc"
