// locator-cli's link subcommands end to end against the simulated locator on
// a pseudo-terminal: the transfer's data file must be exactly what the
// window's transfer writes (the comment block, then every byte the locator
// sent), and the settings must reach the locator as the window sends them.
#include "LinkFixture.h"
#include "PtyPair.h"
#include "TestEnvironment.h"
#include "core/datafile/DataFileFormat.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>

#include <sys/resource.h>

namespace {

constexpr int kCom = 5;

using LinkFixture::paced;
using LinkFixture::Trigger;

}  // namespace

class TestCliLink : public QObject, private LinkFixture::SimulatedLocators
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void identifyReportsTheLocator();
    void identifyFailures();
    void scanListsEveryLocatorAndRemembersOnRequest();
    void transferAllWritesTheWindowsFile_data();
    void transferAllWritesTheWindowsFile();
    void transferByDateAsksForTheRange();
    void interruptStopsWithTheAbortExchange();
    void powerDownAndVanishKeepWhatArrived();
    void silenceEndsTheTransfer();
    void fullDiskStopsTheLocator();
    void setClockSendsTheWindowsCommands();
    void setUserStoresTheName();
    void settingsOnASilentPortSendNothing();
};

void TestCliLink::identifyReportsTheLocator()
{
    sim::LocatorSimulator *s = startSim(kCom);
    const CliResult r = RunCli(paced({"identify", "--port", "5"}));
    QCOMPARE(r.status, 0);
    QVERIFY(r.err.isEmpty());
    QCOMPARE(r.out, QByteArray("Port: 5\nModel: LOC2000\nSerial number: 001234\nUser: BOB\nFirmware version: 1.23\n"));
    // The identify exchange and nothing else: no live output, no settings.
    QCOMPARE(commandsOf(*s), (QStringList{"MM", "#X"}));
}

void TestCliLink::identifyFailures()
{
    const CliResult none = RunCli(paced({"identify", "--port", "7"}));
    QCOMPARE(none.status, int(Cli::Failure));
    QCOMPARE(none.errLines(),
             (QList<QByteArray>{"locator-cli identify: port 7 does not exist (no COM7 in " + m_env->portsDir().toUtf8()
                                + ", no " + m_env->devicesDir().toUtf8() + "/rfcomm6)"}));
    QVERIFY(none.out.isEmpty());

    sim::LocatorSimulator *s = startSim(kCom);
    s->setSilent(true);
    const CliResult silent = RunCli(paced({"identify", "--port", "5"}));
    QCOMPARE(silent.status, int(Cli::Failure));
    QCOMPARE(silent.errLines().size(), 1);
    QVERIFY(silent.err.contains("no answer on port 5"));
    QVERIFY(silent.out.isEmpty());
}

void TestCliLink::scanListsEveryLocatorAndRemembersOnRequest()
{
    startSim(3);
    sim::SimConfig second;
    second.serial = "777";
    second.user = "AL\x1b[2JICE";  // an escape sequence must not reach the terminal
    startSim(9, second);

    const CliResult listed = RunCli(paced({"scan"}));
    QCOMPARE(listed.status, 0);
    QCOMPARE(listed.out,
             QByteArray("COM3: LOC2000, serial number 001234, user BOB, firmware 1.23\n"
                        "COM9: LOC2000, serial number 777, user AL?[2JICE, firmware 1.23\n"));
    QVERIFY(!QFile::exists(m_env->portListPath()));  // nothing changes without --remember

    const CliResult remembered = RunCli(paced({"scan", "--remember"}));
    QCOMPARE(remembered.status, 0);
    QVERIFY(remembered.out.endsWith("001234 added to the port list on COM3\n777 added to the port list on COM9\n"));
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n001234,3\r\n777,9\r\n"));

    // The first locator turns up on another port: its entry changes in place.
    m_sims.front()->stop();
    QVERIFY(m_sims.front()->start(link(4).toStdString()));
    const CliResult moved = RunCli(paced({"scan", "--remember"}));
    QCOMPARE(moved.status, 0);
    QVERIFY(moved.out.endsWith("001234 now on COM4 in the port list\n777 already in the port list on COM9\n"));
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n001234,4\r\n777,9\r\n"));

    for (auto &s : m_sims)
        s->setSilent(true);
    const CliResult nothing = RunCli(paced({"scan", "--remember"}));
    QCOMPARE(nothing.status, int(Cli::Failure));
    QCOMPARE(nothing.errLines(), (QList<QByteArray>{"locator-cli scan: no locator answered on ports 1 to 16"}));
}

void TestCliLink::transferAllWritesTheWindowsFile_data()
{
    QTest::addColumn<bool>("throttled");
    QTest::addColumn<int>("maxChunk");
    QTest::addColumn<bool>("defaultFolder");
    QTest::newRow("line rate, small pieces") << true << 64 << false;
    QTest::newRow("unthrottled, large pieces, data folder") << false << 4096 << true;
}

void TestCliLink::transferAllWritesTheWindowsFile()
{
    QFETCH(bool, throttled);
    QFETCH(int, maxChunk);
    QFETCH(bool, defaultFolder);
    sim::SimConfig cfg;
    cfg.throttled = throttled;
    cfg.maxChunk = maxChunk;
    cfg.targetRecords = throttled ? 150 : 3000;
    sim::LocatorSimulator *s = startSim(kCom, cfg);

    QStringList arguments = paced({"transfer", "--port", "5", "--all"});
    if (!defaultFolder)
        arguments << "--out" << outDir();
    const QDateTime before = QDateTime::currentDateTime();
    const CliResult r = RunCli(arguments);
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(r.status, 0);
    QVERIFY(r.err.isEmpty());  // not a terminal: no progress line

    const QString folder = defaultFolder ? m_env->dataDir() : outDir();
    const QStringList files = QDir(folder).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QCOMPARE(QString::fromUtf8(r.out), QDir(folder).absoluteFilePath(files.first()) + '\n');
    // Named as the window names it, from the identity the locator reported.
    bool named = false;
    for (QDateTime t = before.addMSecs(-before.time().msec()); t <= after; t = t.addSecs(1))
        named
            = named || files.first() == DataFileFormat::MakeLogFileName("DA", {"LOC2000", "001234", "BOB"}, t) + ".csv";
    QVERIFY2(named, qPrintable(files.first()));

    const QByteArray sent = bytes(s->lastTransfer());
    QVERIFY(sent.startsWith("#DA") && sent.endsWith('\x1a'));
    QVERIFY(sent.contains(bytes(s->logText())));
    QCOMPARE(readFile(QDir(folder).filePath(files.first())), DataFileFormat::DefaultCommentBlock() + sent);
    QCOMPARE(commandsOf(*s), (QStringList{"MM", "#X", "#DA"}));
}

void TestCliLink::transferByDateAsksForTheRange()
{
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 3000;
    cfg.endDate = sim::Date{2026, 12, 6};
    sim::LocatorSimulator *s = startSim(kCom, cfg);

    const CliResult r
        = RunCli(paced({"transfer", "--port", "5", "--from", "01/10/26", "--to", "31/10/26", "--out", outDir()}));
    QCOMPARE(r.status, 0);
    QCOMPARE(commandsOf(*s), (QStringList{"MM", "#X", "#DD01/10/26,31/10/26"}));
    const QString path = QString::fromUtf8(r.out.trimmed());
    QVERIFY(QFileInfo(path).fileName().startsWith("Locator Usage for BOB LOC2000 001234__ (01-10-26 to 31-10-26)__("));
    const QByteArray sent = bytes(s->lastTransfer());
    const QByteArray range = bytes(s->logTextBetween("01/10/26", "31/10/26"));
    QVERIFY(!range.isEmpty());
    QVERIFY(sent.startsWith("#DD") && sent.contains(range) && !sent.contains("/09/26,"));
    QCOMPARE(readFile(path), DataFileFormat::DefaultCommentBlock() + sent);
}

void TestCliLink::interruptStopsWithTheAbortExchange()
{
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;  // some 10 s at line rate: time enough to stop
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    // Ctrl+C, as the program's signal handler reports it.
    Trigger ctrlC([s] { return s->lastTransfer().size() > 2000; }, [] { Cli::RequestInterrupt(); });
    const CliResult r = RunCli(paced({"transfer", "--port", "5", "--all", "--out", outDir()}), true);

    QCOMPARE(r.status, int(Cli::Failure));
    const QString path = QString::fromUtf8(r.out.trimmed());
    QVERIFY(QFile::exists(path));
    QVERIFY(r.err.contains("Receiving from LOC2000 001234: "));  // the terminal's progress line
    QVERIFY(
        r.err.endsWith("locator-cli transfer: stopped on request; incomplete data written to " + path.toUtf8() + '\n'));
    QVERIFY(commandsOf(*s).contains("A"));
    const QByteArray sent = bytes(s->lastTransfer());
    QVERIFY(sent.endsWith("ABORT\x1a"));
    QVERIFY(sent.size() < bytes(s->logText()).size());
    QCOMPARE(readFile(path), DataFileFormat::DefaultCommentBlock() + sent);
}

void TestCliLink::powerDownAndVanishKeepWhatArrived()
{
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    {
        Trigger powerDown([s] { return s->lastTransfer().size() > 1500; }, [s] { s->powerDown(); });
        const CliResult r = RunCli(paced({"transfer", "--port", "5", "--all", "--out", outDir()}));
        QCOMPARE(r.status, int(Cli::Failure));
        const QString path = QString::fromUtf8(r.out.trimmed());
        QCOMPARE(r.errLines(),
                 (QList<QByteArray>{"locator-cli transfer: the locator on port 5 powered down during the "
                                    "transfer; what arrived is in "
                                    + path.toUtf8()}));
        const QByteArray sent = bytes(s->lastTransfer());
        QVERIFY(!sent.endsWith('\x1a'));
        QCOMPARE(readFile(path), DataFileFormat::DefaultCommentBlock() + sent);
    }

    QDir(outDir()).removeRecursively();
    sim::LocatorSimulator *other = startSim(6, cfg);
    Trigger unplug([other] { return other->lastTransfer().size() > 1500; }, [other] { other->vanish(); });
    const CliResult r = RunCli(paced({"transfer", "--port", "6", "--all", "--out", outDir()}));
    QCOMPARE(r.status, int(Cli::Failure));
    const QString path = QString::fromUtf8(r.out.trimmed());
    QVERIFY(r.err.contains("port 6 was lost during the transfer; what arrived is in " + path.toUtf8()));
    // What was in flight when the device went may be gone with it; what arrived is on disk, in order.
    const QByteArray file = readFile(path);
    QVERIFY(file.size() > DataFileFormat::DefaultCommentBlock().size() + 1000);
    QVERIFY((DataFileFormat::DefaultCommentBlock() + bytes(other->lastTransfer())).startsWith(file));
}

// The disk fills up part-way: what fitted is kept, the failure is reported
// and the locator is asked to stop rather than left sending.
void TestCliLink::fullDiskStopsTheLocator()
{
    sim::SimConfig cfg;
    cfg.targetRecords = 3500;
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    const QByteArray block = DataFileFormat::DefaultCommentBlock();
    const qint64 limit = block.size() + 1000;
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    rlimit lowered = old;
    lowered.rlim_cur = rlim_t(limit);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const CliResult r = RunCli(paced({"transfer", "--port", "5", "--all", "--out", outDir()}));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(r.status, int(Cli::Failure));
    const QString path = QString::fromUtf8(r.out.trimmed());
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY(r.err.startsWith("locator-cli transfer: cannot write the data file " + path.toUtf8()));
    QVERIFY(r.err.contains("what arrived is in " + path.toUtf8()));
    QTRY_VERIFY(commandsOf(*s).contains("A"));
    QCOMPARE(readFile(path), (block + bytes(s->lastTransfer())).left(limit));
}

// A locator that answers who it is and then nothing: the watchdog ends the
// transfer, and a file that never got a byte is not left behind.
void TestCliLink::silenceEndsTheTransfer()
{
    PtyPair pty(m_env->portsDir(), kCom);
    QVERIFY(pty.ok());
    const QByteArray identify = "#X" + QByteArray("BOB").leftJustified(32, '_')
        + QByteArray("FW1.23").leftJustified(16, '_') + "LOC2000_" + "__001234" + "\r\n";
    std::atomic<bool> stop{false};
    std::thread locator([&] {
        QByteArray heard;
        while (!stop) {
            heard += pty.receive(1, 20);
            if (heard.contains("#X")) {
                pty.send(identify);
                heard.clear();
            }
        }
    });
    const CliResult r = RunCli(paced({"transfer", "--port", "5", "--all", "--idle-timeout", "1", "--out", outDir()}));
    stop = true;
    locator.join();

    QCOMPARE(r.status, int(Cli::Failure));
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.errLines(),
             (QList<QByteArray>{"locator-cli transfer: the locator on port 5 was silent for 1 seconds; "
                                "no data arrived, no file kept"}));
    QVERIFY(QDir(outDir()).entryList(QDir::Files).isEmpty());
}

void TestCliLink::setClockSendsTheWindowsCommands()
{
    sim::LocatorSimulator *s = startSim(kCom);
    const QDateTime before = QDateTime::currentDateTime();
    const CliResult r = RunCli(paced({"set-clock", "--port", "5"}));
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith("Date and time set on LOC2000 001234 (COM5): "));
    QVERIFY(s->waitForCommand("#TS", 5000));

    const QStringList sent = commandsOf(*s);
    QCOMPARE(sent.size(), 4);
    QCOMPARE(sent.mid(0, 2), (QStringList{"MM", "#X"}));
    QCOMPARE(sent[2].size(), 11);
    QCOMPARE(sent[3].size(), 11);
    const QDate date = QDate::fromString(QString::fromStdString(s->date()), QStringLiteral("dd/MM/yy")).addYears(100);
    QVERIFY(date == before.date() || date == after.date());
    const QDateTime set(date, QTime::fromString(QString::fromStdString(s->time()), QStringLiteral("HH:mm:ss")));
    QVERIFY(set >= before.addMSecs(-before.time().msec()) && set <= after);
}

void TestCliLink::setUserStoresTheName()
{
    sim::LocatorSimulator *s = startSim(kCom);
    const CliResult r = RunCli(paced({"set-user", "--port", "5", "ALICE SMITH"}));
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QByteArray("User name set on LOC2000 001234 (COM5): ALICE SMITH\n"));
    QVERIFY(s->waitForCommand("#FT", 5000));
    QCOMPARE(commandsOf(*s).last(), QStringLiteral("#FTALICE SMITH") + QString(21, ' '));
    QCOMPARE(s->user(), std::string("ALICE SMITH"));
    QVERIFY(RunCli(paced({"identify", "--port", "5"})).out.contains("User: ALICE SMITH\n"));

    s->clearCommands();
    QCOMPARE(RunCli(paced({"set-user", "--port", "5", ""})).status, 0);
    QVERIFY(s->waitForCommand("#FT", 5000));
    QCOMPARE(commandsOf(*s).last(), QStringLiteral("#FT") + QString(32, ' '));
}

void TestCliLink::settingsOnASilentPortSendNothing()
{
    sim::LocatorSimulator *s = startSim(kCom);
    s->setSilent(true);
    for (const QStringList &arguments :
         {QStringList{"set-clock", "--port", "5"}, QStringList{"set-user", "--port", "5", "BOB"},
          QStringList{"transfer", "--port", "5", "--all", "--out", outDir()}}) {
        const CliResult r = RunCli(paced(arguments));
        QCOMPARE(r.status, int(Cli::Failure));
        QCOMPARE(r.errLines().size(), 1);
        QVERIFY(r.err.contains("no answer on port 5"));
    }
    // The silent locator still hears: only identify exchanges went out.
    for (const QString &c : commandsOf(*s))
        QVERIFY2(c == "MM" || c == "#X", qPrintable(c));
    QVERIFY(!QDir(outDir()).exists() || QDir(outDir()).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(TestCliLink)
#include "test_cli_link.moc"
