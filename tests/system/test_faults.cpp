// Faults injected through real seams while the main window works a link:
// a port that vanishes, a data file on a device that fails, the serial
// layer's error events, hostile bytes from the locator, the user's commands
// in the middle of a transfer and a locator that powers down during a scan.
// Whatever happens, every byte received before the fault is on disk, a
// failure is never reported as success and the window stays usable.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/usage/UsageCounting.h"
#include "gui/common/Folders.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

using namespace MainWindowHarness;

namespace {
constexpr int kPtyCom = 4;
constexpr int kSimCom = 5;
constexpr int kLong = 30000;

const QString kComplete = QStringLiteral("File download complete");
const QString kLinkLost = QStringLiteral("Link lost with Locator. Please re-link before proceeding");
const QString kWriteFailed = QStringLiteral("The data file could not be written.");
const QString kPoweredDown = QStringLiteral("The Locator has powered down. Any downloads may not have completed.");

QByteArray block()
{
    return DataFileFormat::DefaultCommentBlock();
}

// Records as the locator writes them.
QByteArray records(int count, int from = 0)
{
    QByteArray out;
    for (int i = from; i < from + count; ++i)
        out += QStringLiteral("%1/12/26,10:%2:%3,%4,33KHz,D,1.25,17\r\n")
                   .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                   .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                   .arg(QLatin1Char("ATRP"[i % 4]))
                   .toLatin1();
    return out;
}

// Scans, port tests and commands run from the event loop: wait until they are done.
void waitForLink(const frmMain &w)
{
    QTRY_VERIFY_WITH_TIMEOUT(!w.linkBusy(), kLong);
}

// The peak resident memory of this process so far, in MB.
qint64 peakMemoryMB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024;
    }
    return -1;
}

// Restores the process's file size limit when the test leaves, however it leaves.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_ok = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { lift(); }
    void lift()
    {
        if (m_ok)
            ::setrlimit(RLIMIT_FSIZE, &m_old);
        if (m_oldHandler != SIG_ERR)
            std::signal(SIGXFSZ, m_oldHandler);
        m_ok = false;
        m_oldHandler = SIG_ERR;
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_ERR;
    bool m_ok = false;
};
}  // namespace

class TestFaults : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        setUp(QDateTime(QDate(2026, 12, 6), QTime(19, 55, 1)));
        Pacing::SetShortPauseMs(0);
    }
    void cleanup()
    {
        m_sim.reset();
        tearDown();
    }

    void hostileFilesDoNotExhaustMemory();
    void portVanishesMidTransferThenReconnect();
    void dataFileOnFullDevice();
    void dataFileWriteFailsPartWay();
    void writeFailsWithPowerDownNotice();
    void serialErrorEventsDuringTransfer();
    void binaryNoiseAndNulBytes();
    void megabyteLineWithoutLineEnds();
    void markersSplitAcrossPieces();
    void userCommandsMidTransfer_data();
    void userCommandsMidTransfer();
    void portClosedBeforeTransferStarts_data();
    void portClosedBeforeTransferStarts();
    void powerDownDuringScan();
    void linkLostDuringReceiveEndsWatchdog();
    void linkLostMidCommandLeavesNoCommandPending();
    void secondCommandNeverMixesOnTheWire();
    void exitStopsScanAndSendAtOnce();

private:
    std::unique_ptr<PtyPair> connectPty(frmMain &w)
    {
        auto pty = MainWindowHarness::connectPty(w, m_env->portsDir(), kPtyCom);
        showIdentity(w);
        return pty;
    }

    // Starts "Transfer All" and brings the transfer to the point where `sent`
    // has been received and written; returns the data file's path.
    QString startTransfer(frmMain &w, PtyPair &pty, const QByteArray &sent)
    {
        w.cmdDownloadAll_Click();
        if (pty.receive(3) != "#DA")
            return {};
        const QString path = w.state().DataFolder + w.state().CurrentDataFile;
        pty.send(sent);
        if (!QTest::qWaitFor([&] { return QFileInfo(path).size() == block().size() + sent.size(); }, kLong))
            return {};
        return path;
    }

    // A locator that answers nothing by itself: the test sends what it wants,
    // of any size, from the simulator's own thread.
    bool connectSim(frmMain &w, int com)
    {
        sim::SimConfig cfg;
        cfg.throttled = false;
        cfg.maxChunk = 4096;
        m_sim = startLocator(m_env->portsDir(), com, cfg);
        return m_sim && MainWindowHarness::connectSim(w, *m_sim, com);
    }

    // Transfer All runs to its end: the file is the comment block and every
    // byte the locator sent.
    void transferAllKeepsEveryByte(frmMain &w)
    {
        QVERIFY(QTest::qWaitFor([&] { return m_sim->waitForCommand("#FV", 0); }, 5000));
        w.cmdDownloadAll_Click();
        QTRY_COMPARE_WITH_TIMEOUT(status(w), kComplete, kLong);
        QCOMPARE(readFile(w.state().DataFolder + w.state().CurrentDataFile), block() + bytes(m_sim->lastTransfer()));
    }

    // Sends the bytes and then a power-down notice: once the window shows the
    // notice, everything before it has been handled.
    bool sendThenPowerDown(frmMain &w, const QByteArray &bytes)
    {
        m_sim->sendText((bytes + "#PD").toStdString());
        return QTest::qWaitFor([&] { return status(w) == kPoweredDown; }, kLong);
    }

    static QString status(frmMain &w) { return w.form()->lblStatus->text(); }

    std::unique_ptr<sim::LocatorSimulator> m_sim;
};

// Files of hundreds of megabytes without a line break (sparse, so they cost
// no disk): the readers that stream keep their memory whatever the file holds.
// Runs first, while the process's peak is low.
void TestFaults::hostileFilesDoNotExhaustMemory()
{
    constexpr qint64 kHuge = 384LL << 20;
    const QByteArray header
        = "#DA" + QByteArray("EVE").leftJustified(32, '_') + QByteArray(16, '_') + "LOC2000_" + "____4321";
    const QString noBreaks = m_env->root() + "/no-breaks.csv";
    const QString longComment = m_env->root() + "/long-comment.csv";
    {
        QFile f(noBreaks);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(header) == header.size());
        QVERIFY(f.resize(kHuge));
        QFile g(longComment);
        QVERIFY(g.open(QIODevice::WriteOnly));
        QVERIFY(g.write("//") == 2);
        QVERIFY(g.seek(kHuge));
        const QByteArray tail = "\r\n" + header + "\r\n01/12/26,10:00:00,T,33KHz,D,1.25,17\r\n";
        QVERIFY(g.write(tail) == tail.size());
    }
    const qint64 before = peakMemoryMB();
    QVERIFY(before > 0);

    DataFileHandle slot;
    QByteArray line;
    // One endless line: its start is the header line, kept to a bounded length.
    QVERIFY(DataFileHeader::ReadHeaderLine(slot, noBreaks, &line));
    QCOMPARE(line.size(), DataFileHeader::MaxHeaderLineLength);
    QVERIFY(line.startsWith(header));
    QCOMPARE(DataFileHeader::IdentityFromHeaderLine(line).user, QStringLiteral("EVE"));
    // A comment line of hundreds of megabytes is passed over.
    QVERIFY(DataFileHeader::ReadHeaderLine(slot, longComment, &line));
    QCOMPARE(line, header);
    QCOMPARE(Usage::ReadMonthRecords(slot, longComment, 12, 26).records.n, 1);
    const Usage::PeriodReading none = Usage::ReadMonthRecords(slot, noBreaks, 12, 26);
    QVERIFY(none.ok());
    QCOMPARE(none.records.n, 0);
    QVERIFY(!Usage::ReadFirstRecordMonth(slot, noBreaks).found);
    QVERIFY(!slot.isOpen());

#if !defined(__SANITIZE_ADDRESS__)
    // (Under AddressSanitizer freed memory waits in a quarantine of 256 MB,
    // so the peak there says nothing about what the readers hold.)
    QVERIFY2(peakMemoryMB() - before < 64,
             qPrintable(QStringLiteral("peak grew from %1 MB to %2 MB").arg(before).arg(peakMemoryMB())));
#endif
}

void TestFaults::portVanishesMidTransferThenReconnect()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.form()->chkAdvanced->setChecked(true);
    w.chkAdvanced_Click();
    const QByteArray sent = "#DA head\r\n" + records(40);
    const QString path = startTransfer(w, *pty, sent);
    QVERIFY(!path.isEmpty());
    const QString name = w.state().CurrentDataFile;
    w.cmdStop_Click();  // an abort retry is running when the device goes
    QVERIFY(w.tmrAbort().isActive());

    pty->closeAll();
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kLinkLost, kLong);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(!w.state().TransferActive);
    QVERIFY(!w.tmrAbort().isActive());
    QVERIFY(!w.tmrCommsWatchdog().isActive());  // nothing left to watch
    QCOMPARE(readFile(path), block() + sent);
    QCOMPARE(w.state().CurrentDataFile, name);
    QVERIFY(ownEnabled(w.form()->cmdOpenFile));
    QVERIFY(w.form()->tabstrip->isTabEnabled(0));
    QVERIFY(m_ui->messages.isEmpty());

    // Plugged back in: the known port connects again and a transfer runs to its end.
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.liveIntervalMs = 60000;
    cfg.targetRecords = 2000;
    cfg.maxChunk = 512;
    m_sim = startLocator(m_env->portsDir(), kPtyCom, cfg);
    QVERIFY(m_sim);
    Pacing::SetShortPauseMs(20);  // the probe reads once: give the locator time to answer
    m_ui->answers.enqueue(true);
    w.ConnectToKnownPort(kPtyCom);
    waitForLink(w);
    Pacing::SetShortPauseMs(0);
    QVERIFY(w.MSComm1().isOpen());
    transferAllKeepsEveryByte(w);
}

void TestFaults::dataFileOnFullDevice()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    // The name the transfer will use (the clock is fixed) points at a device
    // that takes no byte.
    const QString name = w.MakeLogFileName(QStringLiteral("DA")) + QStringLiteral(".csv");
    QVERIFY(QDir().mkpath(w.state().DataFolder));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), w.state().DataFolder + name));

    w.cmdDownloadAll_Click();
    QCOMPARE(pty->receive(3), QByteArray("#DA"));
    pty->send("#DA head\r\n" + records(10));
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kWriteFailed, kLong);
    QCOMPARE(pty->receive(1), QByteArray("A"));  // the locator is asked to stop sending
    QSignalSpy pieces(&w.MSComm1(), &SerialPort::OnComm);
    pty->send(records(10, 10) + "\x1a");
    QTRY_VERIFY(!pieces.isEmpty());
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].startsWith("The data file could not be written:"));
    QVERIFY(m_ui->messages[0].contains(name));
    QCOMPARE(status(w), kWriteFailed);
    QVERIFY(!w.state().TransferActive);
    QVERIFY(!ProcessDataFile().isOpen());

    // The device is replaced by a real file: the next transfer works.
    QVERIFY(QFile::remove(w.state().DataFolder + name));
    QVERIFY(ownEnabled(w.form()->cmdDownloadAll));
    const QByteArray sent = "#DA head\r\n" + records(5) + "\x1a";
    w.cmdDownloadAll_Click();
    QCOMPARE(pty->receive(3), QByteArray("#DA"));
    pty->send(sent);
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kComplete, kLong);
    QCOMPARE(readFile(w.state().DataFolder + w.state().CurrentDataFile), block() + sent);
    QCOMPARE(m_ui->messages.size(), 1);
}

void TestFaults::dataFileWriteFailsPartWay()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    const QByteArray first = "#DA head\r\n" + records(10);
    const QString path = startTransfer(w, *pty, first);
    QVERIFY(!path.isEmpty());

    // The disk fills up: the file may grow by 100 bytes more, then writes fail.
    const qint64 limit = block().size() + first.size() + 100;
    FileSizeLimit full{rlim_t(limit)};
    QVERIFY(full.ok());
    const QByteArray rest = records(20, 10);
    pty->send(rest);
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kWriteFailed, kLong);
    full.lift();
    QCOMPARE(pty->receive(1), QByteArray("A"));
    QSignalSpy pieces(&w.MSComm1(), &SerialPort::OnComm);
    pty->send(records(5, 30) + "\x1a");
    QTRY_VERIFY(!pieces.isEmpty());

    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].contains(QFileInfo(path).fileName()));
    QCOMPARE(status(w), kWriteFailed);
    QVERIFY(!w.state().TransferActive);
    QVERIFY(!ProcessDataFile().isOpen());
    // Everything up to the failure is on disk, and nothing after it.
    QCOMPARE(readFile(path), (block() + first + rest).left(limit));
    QVERIFY(w.form()->tabstrip->isTabEnabled(0));
}

// The disk is full exactly when the piece carrying the power-down notice
// arrives: the failure is reported and so is the locator that went away.
void TestFaults::writeFailsWithPowerDownNotice()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    const QByteArray first = "#DA head\r\n" + records(10);
    const QString path = startTransfer(w, *pty, first);
    QVERIFY(!path.isEmpty());
    FileSizeLimit full{rlim_t(block().size() + first.size())};
    QVERIFY(full.ok());
    pty->send("01/12/26,10:00:11,T,33KHz,D,1.25,17\r\n#PD");
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kPoweredDown, kLong);
    full.lift();
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].startsWith("The data file could not be written:"));
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!w.state().TransferActive);
    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(readFile(path), block() + first);
}

void TestFaults::serialErrorEventsDuringTransfer()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    const QByteArray head = "#DA head\r\n" + records(5);
    const QString path = startTransfer(w, *pty, head);
    QVERIFY(!path.isEmpty());

    const QList<int> errors{SerialPort::EventBreak,  SerialPort::EventCTSTO,    SerialPort::EventDSRTO,
                            SerialPort::EventFrame,  SerialPort::EventOverrun,  SerialPort::EventCDTO,
                            SerialPort::EventRxOver, SerialPort::EventRxParity, SerialPort::EventTxFull,
                            SerialPort::EventDCB,    SerialPort::EvRing};
    QByteArray sent = head;
    QStringList expected;
    for (int i = 0; i < errors.size(); ++i) {
        // Line events and the end-of-file event say nothing; errors one message each.
        w.MSComm1().raiseEvent(SerialPort::EvCTS);
        w.MSComm1().raiseEvent(errors[i]);
        w.MSComm1().raiseEvent(SerialPort::EvEOF);
        expected << QStringLiteral("Comms error: %1").arg(errors[i]);
        const QByteArray piece = records(3, 5 + 3 * i);
        pty->send(piece);
        sent += piece;
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(path).size(), block().size() + sent.size(), kLong);
        QTRY_COMPARE(m_ui->messages.size(), i + 1);
    }
    pty->send("\x1a");
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kComplete, kLong);
    QCOMPARE(m_ui->messages, expected);
    QCOMPARE(readFile(path), block() + sent + "\x1a");
}

void TestFaults::binaryNoiseAndNulBytes()
{
    frmMain w;
    QVERIFY(connectSim(w, kSimCom));
    QRandomGenerator rng(8);
    // Line noise with no marker in it: every byte but '#', '$' and 0x1A.
    QByteArray noise(64 * 1024, Qt::Uninitialized);
    for (char &c : noise) {
        do
            c = char(rng.bounded(256));
        while (c == '#' || c == '$' || c == '\x1a');
    }
    QVERIFY(noise.contains('\0'));
    QVERIFY(sendThenPowerDown(w, noise));
    QVERIFY(!w.state().TransferActive);
    QVERIFY(QDir(m_env->dataDir()).entryList(QDir::Files).isEmpty());
    QVERIFY(m_ui->messages.isEmpty());

    // The same noise in a transfer reaches the file, less the NUL bytes the port discards.
    QVERIFY(connectSim(w, kSimCom + 1));
    const QByteArray sent = "#DA head\r\n" + noise + records(3) + "\x1a";
    QByteArray withoutNul = sent;
    withoutNul.replace('\0', QByteArray());
    m_sim->sendText(sent.toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kComplete, kLong);
    QCOMPARE(readFile(w.state().DataFolder + w.state().CurrentDataFile), block() + withoutNul);
    QVERIFY(m_ui->messages.isEmpty());
}

void TestFaults::megabyteLineWithoutLineEnds()
{
    frmMain w;
    QVERIFY(connectSim(w, kSimCom));
    const QByteArray line(1 << 20, 'x');

    // Idle: a live line a megabyte long is shown piece by piece, never whole.
    QVERIFY(sendThenPowerDown(w, "$" + line));
    QVERIFY(QDir(m_env->dataDir()).entryList(QDir::Files).isEmpty());

    QVERIFY(connectSim(w, kSimCom + 1));
    const QByteArray sent = "#DA head\r\n" + line + line + "\r\n" + records(2) + "\x1a";
    m_sim->sendText(sent.toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kComplete, kLong);
    QCOMPARE(readFile(w.state().DataFolder + w.state().CurrentDataFile), block() + sent);
    QVERIFY(w.form()->lblMonitor->text().size() <= SerialPort::kDefaultInBuffer + block().size());
    QVERIFY(m_ui->messages.isEmpty());
}

void TestFaults::markersSplitAcrossPieces()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    QSignalSpy events(&w.MSComm1(), &SerialPort::OnComm);
    // One received piece each: the next is sent once the last was handled.
    auto piece = [&](const QByteArray &bytes) {
        const qsizetype before = events.size();
        pty->send(bytes);
        return QTest::qWaitFor([&] { return events.size() > before; }, kLong);
    };
    w.cmdDownloadAll_Click();
    QCOMPARE(pty->receive(3), QByteArray("#DA"));
    const QString path = w.state().DataFolder + w.state().CurrentDataFile;

    // A start marker cut in two starts the transfer at its first character:
    // the file holds the whole header line.
    QVERIFY(piece("OK\r\n#D"));
    QVERIFY(piece("A head\r\nrec1\r\n"));
    QVERIFY(w.state().TransferActive);
    // An abort reply cut in two acknowledges the abort.
    QVERIFY(piece("rec2 AB"));
    QVERIFY(piece("ORT\x1a"));
    QTRY_COMPARE(status(w), QStringLiteral("File download aborted. Incomplete data written to file"));
    QVERIFY(w.state().AbortAcknowledged);
    QCOMPARE(readFile(path), block() + "#DA head\r\nrec1\r\nrec2 ABORT\x1a");
    // A power-down notice cut in two is a power-down.
    QVERIFY(piece("$1,2 #P"));
    QVERIFY(piece("D\r\n"));
    QTRY_VERIFY(!w.MSComm1().isOpen());
    QCOMPARE(status(w), QStringLiteral("The Locator has powered down. Any downloads may not have completed."));
}

void TestFaults::userCommandsMidTransfer_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("programEnds");
    QTest::newRow("Exit") << "exit" << true;
    QTest::newRow("window closed") << "close" << true;
    QTest::newRow("service tools shortcut, then the watchdog") << "tools" << false;
    QTest::newRow("Disconnect") << "disconnect" << false;
    QTest::newRow("open a file") << "open" << false;
    QTest::newRow("Scan") << "scan" << false;
}

// Whatever the user does in the middle of a transfer, the bytes received so
// far stay on disk, the file is released and nothing later is added to it.
void TestFaults::userCommandsMidTransfer()
{
    QFETCH(QString, command);
    QFETCH(bool, programEnds);
    frmMain w;
    w.show();
    auto pty = connectPty(w);
    QVERIFY(pty);
    const QByteArray sent = "#DA head\r\n" + records(30);
    const QString path = startTransfer(w, *pty, sent);
    QVERIFY(!path.isEmpty());

    if (command == "exit") {
        w.cmdExit_Click();
        QCOMPARE(m_ui->endProgramCalls, 1);
    } else if (command == "close") {
        w.close();
    } else if (command == "tools") {
        for (const int key : {16, 17, 84})  // Shift, Ctrl, T
            w.Form_KeyDown(key);
        QVERIFY(w.toolsWindow());
        QVERIFY(!w.MSComm1().isOpen());
        w.tmrCommsWatchdog_Timer();  // silence on the closed link
    } else if (command == "disconnect") {
        m_ui->answers.enqueue(true);
        w.cmdDisconnect_Click();
    } else if (command == "open") {
        const QString other = m_env->documentsDir() + "/other.csv";
        QFile f(other);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(block() + "#DA" + QByteArray("ANN").leftJustified(32, '_') + QByteArray(16, '_')
                + "LOC2000_00005678\r\n");
        f.close();
        m_ui->openFiles.enqueue(other);
        w.cmdOpenExistingFile_Click();
        QCOMPARE(w.state().currentDataFilePath(), QFileInfo(other).absoluteFilePath());
    } else if (command == "scan") {
        // The Connect tab (Scan, the locator chooser) is shut while a transfer runs.
        QVERIFY(!w.form()->tabstrip->isTabEnabled(0));
        QVERIFY(!w.form()->cmdrescan->isEnabled());
        return;
    }

    QVERIFY(!ProcessDataFile().isOpen());
    QCOMPARE(readFile(path), block() + sent);
    if (!programEnds)
        QVERIFY(!w.state().TransferActive);
    if (!programEnds) {
        // A cut-short transfer leaves the window usable.
        QVERIFY(w.form()->tabstrip->isTabEnabled(0));
        QVERIFY(w.form()->tabstrip->isTabEnabled(2));
    }
    // Bytes that come later (on a port still or again open) never join that file.
    QSignalSpy events(&w.MSComm1(), &SerialPort::OnComm);
    pty->send(records(3, 30) + "\x1a");
    if (w.MSComm1().isOpen())
        QTRY_VERIFY(!events.isEmpty());
    QCOMPARE(readFile(path), block() + sent);
    QVERIFY(status(w) != kComplete);
}

void TestFaults::portClosedBeforeTransferStarts_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("Scan") << "scan";
    QTest::newRow("chooser pick") << "pick";
}

// The Connect tab stays open until the locator begins to send: leaving the
// port before then must not leave the requested file open.
void TestFaults::portClosedBeforeTransferStarts()
{
    QFETCH(QString, command);
    frmMain w;
    w.show();
    auto pty = connectPty(w);
    QVERIFY(pty);
    w.cmdDownloadAll_Click();
    QCOMPARE(pty->receive(3), QByteArray("#DA"));
    const QString path = w.state().DataFolder + w.state().CurrentDataFile;
    QVERIFY(ProcessDataFile().isWriting());
    QVERIFY(w.form()->tabstrip->isTabEnabled(0));

    if (command == "scan") {
        m_ui->answers << true << false;  // scan: yes; nothing found, search again: no
        w.cmdrescan_Click();
    } else {
        w.form()->cboLocators->addItem(QStringLiteral("COM9"), 9);  // no such port
        w.form()->cboLocators->setCurrentIndex(w.form()->cboLocators->count() - 1);
        w.cboLocators_Click();
    }
    waitForLink(w);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(!w.state().TransferActive);
    QVERIFY(w.form()->tabstrip->isTabEnabled(2));

    // Reopened, the port's later text is live text, never part of that file.
    w.OpenWorkingPort(kPtyCom);
    QVERIFY(w.MSComm1().isOpen());
    QSignalSpy events(&w.MSComm1(), &SerialPort::OnComm);
    pty->send(records(3) + "\x1a");
    QTRY_VERIFY(!events.isEmpty());
    QCOMPARE(readFile(path), QByteArray());
    QVERIFY(!ProcessDataFile().isOpen());
    QVERIFY(status(w) != kComplete);
}

void TestFaults::powerDownDuringScan()
{
    Pacing::SetShortPauseMs(20);  // the probe reads once: give the locator time to answer
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.liveIntervalMs = 60000;
    m_sim = startLocator(m_env->portsDir(), kSimCom, cfg);
    QVERIFY(m_sim);
    frmMain w;
    w.show();

    // The locator powers down while the scan is on the ports before its own.
    QTimer watch;
    bool poweredDown = false;
    connect(&watch, &QTimer::timeout, this, [&] {
        // The port before the locator's has no device: its test shows "not valid".
        if (!poweredDown && status(w) == QStringLiteral("Port %1not valid.").arg(kSimCom - 1)) {
            m_sim->powerDown();
            poweredDown = true;
        }
    });
    watch.start(0);
    m_ui->answers << true << false;  // scan: yes; nothing found, search again: no
    w.cmdrescan_Click();
    waitForLink(w);
    watch.stop();
    QVERIFY(poweredDown);
    QCOMPARE(m_ui->questions.last(), QStringLiteral("No locator found. Search again?"));
    QVERIFY(!w.state().Connected);
    QVERIFY(!w.MSComm1().isOpen() && !w.MSComm2().isOpen());
    QVERIFY(!ownEnabled(w.form()->cmdDownloadAll));

    // Switched on again, the next scan finds it and the link works.
    m_sim->setSilent(false);
    m_ui->answers << true << true;  // scan: yes; use this connection: yes
    w.cmdrescan_Click();
    waitForLink(w);
    QVERIFY(w.state().Connected);
    QVERIFY(w.MSComm1().isOpen());
    transferAllKeepsEveryByte(w);
}

// The device goes while a piece is still being handled: the loss is dealt
// with once, after the piece, and leaves no watchdog behind to report it
// again over a closed port; the file that was being written stays current.
void TestFaults::linkLostDuringReceiveEndsWatchdog()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    const QByteArray head = "#DA head\r\n" + records(5);
    const QString path = startTransfer(w, *pty, head);
    QVERIFY(!path.isEmpty());
    const QString name = w.state().CurrentDataFile;
    const QByteArray more = records(20, 5);
    pty->send(more);
    pty->closeAll();  // text and hang-up arrive together
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kLinkLost, kLong);
    QVERIFY(!w.MSComm1().isOpen());
    QVERIFY(!w.tmrCommsWatchdog().isActive());
    QCOMPARE(w.state().CurrentDataFile, name);
    QVERIFY(readFile(path).startsWith(block() + head));
    QVERIFY(ownEnabled(w.form()->cmdOpenFile));
    // Silence on the closed link is not reported again.
    w.form()->lblStatus->clear();
    QTest::qWait(50);
    QVERIFY(!w.tmrCommsWatchdog().isActive());
    QVERIFY(status(w).isEmpty());
}

// The device goes while a transfer command is going out: once it is back,
// the next transfer command goes out, not refused as if the lost one were
// still being sent.
void TestFaults::linkLostMidCommandLeavesNoCommandPending()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    Pacing::SetShortPauseMs(20);
    w.cmdDownloadAll_Click();
    QCOMPARE(pty->receive(1), QByteArray("#"));
    pty->closeAll();
    QTRY_COMPARE_WITH_TIMEOUT(status(w), kLinkLost, kLong);

    Pacing::SetShortPauseMs(0);
    auto again = connectPty(w);
    QVERIFY(again);
    w.cmdDownloadAll_Click();
    QCOMPARE(again->receive(3), QByteArray("#DA"));
}

// A second command started while one is going out (a second click, a timer)
// waits its turn or is refused: characters of two commands never interleave.
void TestFaults::secondCommandNeverMixesOnTheWire()
{
    frmMain w;
    auto pty = connectPty(w);
    QVERIFY(pty);
    Pacing::SetShortPauseMs(2);
    w.form()->dtpStart->setDate(QDate(2026, 12, 8));
    w.form()->dtpEnd->setDate(QDate(2026, 12, 8));
    // Both arrive while the first command's characters are going out.
    QTimer::singleShot(0, &w, [&] {
        w.cmdDownloadByDate_Click();
        w.cmdSetDate_Click();
    });
    w.cmdDownloadByDate_Click();
    const QByteArray byDate = "#DD08/12/26,08/12/26";
    const QByteArray setDate = Protocol::SetDateCommand(Clock::today());
    QCOMPARE(pty->receive(int(byDate.size() + setDate.size())), byDate + setDate);
    waitForLink(w);
    QCOMPARE(pty->receive(1, 50), QByteArray());
    QCOMPARE(status(w), QStringLiteral("Date set"));
}

// Exit ends the program at once: a scan stops on the port it is testing and a
// command going out stops at the character it has reached.
void TestFaults::exitStopsScanAndSendAtOnce()
{
    Pacing::SetShortPauseMs(5);
    PtyPair port1(m_env->portsDir(), 1);
    PtyPair port2(m_env->portsDir(), 2);
    QVERIFY(port1.ok() && port2.ok());
    {
        frmMain w;
        m_ui->answers << true;  // scan: yes
        w.cmdrescan_Click();
        QCOMPARE(port1.receive(1), QByteArray("M"));  // the scan is on port 1
        w.cmdExit_Click();
        QCOMPARE(m_ui->endProgramCalls, 1);
        QVERIFY(!w.linkBusy());
        QVERIFY(!w.MSComm2().isOpen());
        QTest::qWait(200);  // long enough for the rest of ports 1 and 2
        QCOMPARE(port1.receive(1, 0), QByteArray());
        QCOMPARE(port2.receive(1, 0), QByteArray());
    }
    {
        frmMain w;
        auto pty = connectPty(w);
        QVERIFY(pty);
        w.form()->txtUser->setText("BOB");
        w.cmdSetUser_Click();
        QCOMPARE(pty->receive(3), QByteArray("#FT"));
        w.cmdExit_Click();
        QCOMPARE(m_ui->endProgramCalls, 2);
        QVERIFY(!w.MSComm1().isOpen() && !w.linkBusy());
        QTest::qWait(100);
        QCOMPARE(pty->receive(1, 0), QByteArray());
    }
}

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
