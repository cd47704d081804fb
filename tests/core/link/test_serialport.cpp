#include "PtyPair.h"
#include "TestEnvironment.h"
#include "core/link/PacedWriter.h"
#include "core/link/SerialPort.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 5000;  // generous for sanitizer builds
const QByteArray kWithNuls("$1,\0"
                           "2\r\n\0",
                           8);

// Counts socket notifier activations: the moment Qt has seen new bytes.
class NotifierWatch : public QObject
{
public:
    NotifierWatch() { QCoreApplication::instance()->installEventFilter(this); }
    ~NotifierWatch() override { QCoreApplication::instance()->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::SockAct)
            ++count;
        return false;
    }
};

// Lets the event loop run until Qt has noticed new bytes, then until
// everything that noticing posted has been delivered.
bool runUntilNoticed(NotifierWatch &watch, int before)
{
    QDeadlineTimer deadline(kWaitMs);
    while (watch.count == before && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return watch.count > before;
}

}  // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(); }
    void init();
    void cleanup();

    void openMissingPort_data();
    void openMissingPort();
    void secondOpenerIsRefused();
    void settings_data();
    void settings();
    void outputReachesDevice();
    void writeThatCannotCompleteFailsWithoutBlocking();
    void pacedCommandsQueueWholeAndStopWhenCancelled();
    void inputWithoutEventLoop_data();
    void inputWithoutEventLoop();
    void receiveEvents();
    void lineChangesAndErrorCounters();
    void eventsAreNotReentered();
    void polledPortHasNoReceiveEvents();
    void eofEvent_data();
    void eofEvent();
    void deviceVanishes();
    void dtrOnPtyIsHarmless();

private:
    QString entry(int n) const { return QDir(m_env->portsDir()).filePath(QStringLiteral("COM%1").arg(n)); }
    bool openCom7(SerialPort &port);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<PtyPair> m_pty;
};

void TestSerialPort::init()
{
    m_pty = std::make_unique<PtyPair>(m_env->portsDir(), 7);
    QVERIFY(m_pty->ok());
    QVERIFY(QFileInfo::exists(entry(7)));
}

void TestSerialPort::cleanup()
{
    const QDir ports(m_env->portsDir());
    for (const QString &name : ports.entryList(QDir::System | QDir::Files))
        QFile::remove(ports.filePath(name));
    m_pty.reset();
}

bool TestSerialPort::openCom7(SerialPort &port)
{
    port.setCommPort(7);
    return port.setSettings(QStringLiteral("115200,n,8,1")) && port.open() == SerialPort::NoError && port.isOpen();
}

void TestSerialPort::openMissingPort_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("linkTarget");  // empty: no entry at all

    QTest::newRow("no entry") << 8 << QString();
    QTest::newRow("entry to missing device") << 9 << "/dev/pts/no-such-device";
    QTest::newRow("port 0") << 0 << QString();
}

void TestSerialPort::openMissingPort()
{
    QFETCH(int, number);
    QFETCH(QString, linkTarget);

    if (!linkTarget.isEmpty())
        QVERIFY(QFile::link(linkTarget, entry(number)));
    SerialPort port;
    port.setCommPort(number);
    QCOMPARE(port.open(), int(SerialPort::InvalidPortNumber));
    QCOMPARE(port.lastError(), int(SerialPort::InvalidPortNumber));
    QVERIFY(!port.isOpen());
}

void TestSerialPort::secondOpenerIsRefused()
{
    SerialPort first;
    QVERIFY(openCom7(first));
    SerialPort second;
    second.setCommPort(7);
    const int rc = second.open();
    QVERIFY2(rc != SerialPort::NoError && rc != SerialPort::InvalidPortNumber, qPrintable(QString::number(rc)));
    QVERIFY(!second.isOpen());
    // The refusal does not disturb the first opener.
    QVERIFY(first.isOpen());
    QVERIFY(first.output("ok"));
    QCOMPARE(m_pty->receive(2), QByteArray("ok"));
}

void TestSerialPort::settings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("115200,n,8,1") << "115200,n,8,1" << true;
    QTest::newRow("9600,n,8,1") << "9600,n,8,1" << true;
    QTest::newRow("abc") << "abc" << false;
    QTest::newRow("bad parity") << "115200,x,8,1" << false;
    QTest::newRow("nine data bits") << "115200,n,9,1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("bad stop bits") << "115200,n,8,3" << false;
    QTest::newRow("too few parts") << "115200,n,8" << false;
    QTest::newRow("too many parts") << "115200,n,8,1,1" << false;
    QTest::newRow("no baud") << ",n,8,1" << false;
}

void TestSerialPort::settings()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);

    SerialPort port;
    QVERIFY(port.setSettings("19200,n,8,1"));
    QCOMPARE(port.setSettings(text), accepted);
    QCOMPARE(port.settings(), accepted ? text : QStringLiteral("19200,n,8,1"));

    // The same answer while the port is open, and the port stays usable.
    QVERIFY(openCom7(port));
    QCOMPARE(port.setSettings(text), accepted);
    QVERIFY(port.isOpen());
    QVERIFY(port.output("z"));
    QCOMPARE(m_pty->receive(1), QByteArray("z"));
}

void TestSerialPort::outputReachesDevice()
{
    SerialPort port;
    QVERIFY(openCom7(port));
    QByteArray bytes = "#DA";
    bytes += QByteArray("\0\x1a\xff\r\n", 5);
    QVERIFY(port.output(bytes));
    QCOMPARE(m_pty->receive(bytes.size()), bytes);

    port.close();
    QVERIFY(!port.output("x"));
}

// Nobody reads the other end, so the device soon takes no more. Writing
// never waits for it: a write that makes no progress fails after a while,
// the command it belonged to reports it, and the port is usable again.
void TestSerialPort::writeThatCannotCompleteFailsWithoutBlocking()
{
    SerialPort port;
    QVERIFY(openCom7(port));
    QVERIFY(port.output(QByteArray(1 << 20, 'x')));
    QVERIFY(port.outputPending());  // returned before the device took it
    PacedWriter writer;
    QList<bool> done;
    writer.send(port, "#X", 0, [&](bool ok) { done << ok; });
    QTRY_COMPARE_WITH_TIMEOUT(done, QList<bool>{false}, kWaitMs);
    QCOMPARE(port.writeFailures(), quint64(1));
    QVERIFY(!port.outputPending());

    writer.send(port, "MM", 0, [&](bool ok) { done << ok; });
    QByteArray got;
    QDeadlineTimer deadline(kWaitMs);
    while (!got.endsWith("MM") && !deadline.hasExpired())
        got += m_pty->receive(1, 100);
    QVERIFY(got.endsWith("MM"));
    QTRY_COMPARE(done, (QList<bool>{false, true}));
}

// Commands go out one character per timer step: a second command queued
// while the first is going out follows it whole, a command is done only after
// its last character, and cancelling stops the wire at once.
void TestSerialPort::pacedCommandsQueueWholeAndStopWhenCancelled()
{
    SerialPort port;
    QVERIFY(openCom7(port));
    PacedWriter writer;
    QStringList done;
    writer.send(port, "#DS05/03/26", 1, [&](bool ok) { done << QStringLiteral("date %1").arg(ok); });
    writer.send(port, "#TS09:05:03", 1, [&](bool ok) { done << QStringLiteral("time %1").arg(ok); });
    QVERIFY(writer.isBusy());
    QCOMPARE(m_pty->receive(22), QByteArray("#DS05/03/26#TS09:05:03"));
    QTRY_COMPARE(done, (QStringList{"date 1", "time 1"}));
    QVERIFY(!writer.isBusy());

    done.clear();
    writer.send(port, "#FTBOB", 20, [&](bool) { done << QStringLiteral("user"); });
    QCOMPARE(m_pty->receive(2), QByteArray("#F"));
    writer.cancel();
    QVERIFY(!writer.isBusy());
    QCOMPARE(m_pty->receive(1, 100), QByteArray());
    QVERIFY(done.isEmpty());

    // A port that closes ends its command at once, reported as not sent.
    writer.send(port, "#CA", 20, [&](bool ok) { done << QStringLiteral("clear %1").arg(ok); });
    QCOMPARE(m_pty->receive(1), QByteArray("#"));
    port.close();
    QTRY_COMPARE(done, QStringList{"clear 0"});
}

void TestSerialPort::inputWithoutEventLoop_data()
{
    QTest::addColumn<bool>("nullDiscard");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("NUL kept") << false << kWithNuls;
    QTest::newRow("NUL dropped") << true << QByteArray("$1,2\r\n");
}

void TestSerialPort::inputWithoutEventLoop()
{
    QFETCH(bool, nullDiscard);
    QFETCH(QByteArray, expected);

    SerialPort port;
    port.setNullDiscard(nullDiscard);
    port.setRThreshold(0);  // polled, as the probe port is
    QVERIFY(openCom7(port));
    QVERIFY(m_pty->send(kWithNuls));

    // A polled port is read once, right after a pause: bytes the OS holds
    // but the event loop has not fetched yet must still be found.
    QByteArray got;
    QDeadlineTimer deadline(kWaitMs);
    while (got.size() < expected.size() && !deadline.hasExpired())
        got += port.input();
    QCOMPARE(got, expected);
}

void TestSerialPort::receiveEvents()
{
    SerialPort port;
    port.setRThreshold(1);
    QVERIFY(openCom7(port));
    QList<int> events;
    QByteArray received;
    connect(&port, &SerialPort::OnComm, this, [&] {
        events << port.CommEvent();
        if (port.CommEvent() == SerialPort::EvReceive)
            received += port.input();
    });

    QVERIFY(m_pty->send("first piece"));
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("first piece"), kWaitMs);
    QVERIFY(m_pty->send(QByteArray(2000, 'x')));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), qsizetype(11 + 2000), kWaitMs);
    QVERIFY(!events.isEmpty());
    QVERIFY(std::all_of(events.cbegin(), events.cend(), [](int e) { return e == SerialPort::EvReceive; }));
}

void TestSerialPort::lineChangesAndErrorCounters()
{
    SerialPort::LineStatus status;
    status.linesKnown = status.countsKnown = true;
    status.lines = SerialPort::LineCTS;
    status.framing = 7;  // errors before opening are not this link's
    int polls = 0;
    SerialPort port;
    port.setLineStatusSource([&] {
        ++polls;
        return status;
    });
    port.setRThreshold(1);
    QVERIFY(openCom7(port));
    QList<int> events;
    connect(&port, &SerialPort::OnComm, this, [&] { events << port.CommEvent(); });

    // Every line flips, the ring arrives, every counter moves (some by more than one).
    status.lines = SerialPort::LineDSR | SerialPort::LineCD | SerialPort::LineRing;
    status.breaks = 1;
    status.framing = 10;
    status.overrun = 1;
    status.rxOverflow = 2;
    status.parity = 1;
    const QList<int> expected{
        SerialPort::EvCTS, SerialPort::EvDSR, SerialPort::EvCD, SerialPort::EvRing, 1001, 1004, 1006, 1008, 1009};
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), expected.size(), kWaitMs);
    std::sort(events.begin(), events.end());
    QCOMPARE(events, expected);

    // The ring ending is no event; counts the device cannot give raise none.
    events.clear();
    status.lines &= ~SerialPort::LineRing;
    status.countsKnown = false;
    status.parity = 5;
    int from = polls;
    QTRY_VERIFY_WITH_TIMEOUT(polls >= from + 2, kWaitMs);
    QCOMPARE(events, QList<int>{});

    // Closed, the port polls no more.
    port.close();
    from = polls;
    status.lines = 0;
    QTest::qWait(4 * SerialPort::kLinePollMs);
    QCOMPARE(polls, from);
    QCOMPARE(events, QList<int>{});
}

void TestSerialPort::eventsAreNotReentered()
{
    SerialPort port;
    port.setRThreshold(1);
    QVERIFY(openCom7(port));
    NotifierWatch watch;
    int depth = 0;
    int maxDepth = 0;
    int calls = 0;
    bool noticed = true;
    QByteArray received;
    QList<int> events;
    connect(&port, &SerialPort::OnComm, this, [&] {
        ++depth;
        maxDepth = qMax(maxDepth, depth);
        events << port.CommEvent();
        received += port.input();
        if (++calls <= 3) {
            // More arrives while this handler lets events run (as a paced send does).
            const int before = watch.count;
            if (m_pty->send("piece" + QByteArray::number(calls)))
                noticed = runUntilNoticed(watch, before) && noticed;
        }
        --depth;
    });

    QVERIFY(m_pty->send("start,"));
    QTRY_VERIFY_WITH_TIMEOUT(received.endsWith("piece3"), kWaitMs);
    QVERIFY(noticed);
    QCOMPARE(maxDepth, 1);
    QCOMPARE(received, QByteArray("start,piece1piece2piece3"));
    QVERIFY(std::all_of(events.cbegin(), events.cend(), [](int e) { return e == SerialPort::EvReceive; }));
}

void TestSerialPort::polledPortHasNoReceiveEvents()
{
    SerialPort port;
    port.setRThreshold(0);
    QVERIFY(openCom7(port));
    QSignalSpy spy(&port, &SerialPort::OnComm);
    NotifierWatch watch;

    const int before = watch.count;
    QVERIFY(m_pty->send("polled"));
    QVERIFY(runUntilNoticed(watch, before));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(port.input(), QByteArray("polled"));
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
}

void TestSerialPort::eofEvent_data()
{
    QTest::addColumn<bool>("eofEnable");
    QTest::newRow("enabled") << true;
    QTest::newRow("disabled") << false;
}

void TestSerialPort::eofEvent()
{
    QFETCH(bool, eofEnable);

    SerialPort port;
    port.setRThreshold(1);
    port.setEOFEnable(eofEnable);
    QVERIFY(openCom7(port));
    QList<int> events;
    QByteArray received;
    connect(&port, &SerialPort::OnComm, this, [&] {
        events << port.CommEvent();
        if (port.CommEvent() == SerialPort::EvReceive)
            received += port.input();
    });

    const QByteArray upToEnd = "rec\r\n\x1a";
    QVERIFY(m_pty->send(upToEnd + "after"));
    const QByteArray expected = eofEnable ? upToEnd : upToEnd + "after";
    QTRY_COMPARE_WITH_TIMEOUT(received, expected, kWaitMs);
    if (eofEnable) {
        QTRY_VERIFY_WITH_TIMEOUT(events.contains(SerialPort::EvEOF), kWaitMs);
    } else {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        QVERIFY(!events.contains(SerialPort::EvEOF));
    }
    QCOMPARE(events.first(), int(SerialPort::EvReceive));

    // After the end character input is taken in again once the next command goes out.
    NotifierWatch watch;
    const int before = watch.count;
    QVERIFY(m_pty->send("more"));
    QVERIFY(runUntilNoticed(watch, before));
    QTRY_COMPARE_WITH_TIMEOUT(received, eofEnable ? expected : expected + "more", kWaitMs);
    QVERIFY(port.output("#X"));
    QVERIFY(m_pty->send("reply"));
    QTRY_VERIFY_WITH_TIMEOUT(received.endsWith("reply"), kWaitMs);
    QCOMPARE(received, eofEnable ? expected + "reply" : expected + "morereply");
}

void TestSerialPort::deviceVanishes()
{
    SerialPort port;
    port.setRThreshold(1);
    QVERIFY(openCom7(port));
    QSignalSpy lost(&port, &SerialPort::deviceLost);

    m_pty->closeAll();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kWaitMs);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.input(), QByteArray());
    QVERIFY(!port.output("x"));
}

void TestSerialPort::dtrOnPtyIsHarmless()
{
    SerialPort port;
    port.setDTREnable(true);
    QVERIFY(openCom7(port));
    port.setDTREnable(false);
    port.setDTREnable(true);
    QVERIFY(port.dtrEnabled());
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    QVERIFY(port.isOpen());

    QVERIFY(port.output("MM"));
    QCOMPARE(m_pty->receive(2), QByteArray("MM"));
    QVERIFY(m_pty->send("OK"));
    QByteArray got;
    QDeadlineTimer deadline(kWaitMs);
    while (got.size() < 2 && !deadline.hasExpired())
        got += port.input();
    QCOMPARE(got, QByteArray("OK"));
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serialport.moc"
