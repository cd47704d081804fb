// The port scan below any window: ports tested in order, a port that cannot
// be opened reported (not silently passed over), the accept answer ending the
// scan, and hooks that end or restart it. Simulated locators on
// pseudo-terminals answer the probe.
#include "SimLocators.h"
#include "TestEnvironment.h"
#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/PortScan.h"
#include "core/link/SerialPort.h"

#include <QtTest>

#include <functional>

namespace {
constexpr int kWaitMs = 15000;  // generous: sanitizer builds on a busy machine
}  // namespace

class TestPortScan : public QObject
{
    Q_OBJECT

private slots:
    // The probe reads once, right after the pause that follows "#X": 20 ms
    // short pauses give the locator 80 ms to answer.
    void initTestCase() { Pacing::SetShortPauseMs(20); }

    void portsInOrderUntilOneIsAccepted();
    void hooksEndTheScan();
    void scanRestartedFromItsOwnHooks();
};

// COM2 has no device, COM3 is held by another program, COM4 is switched
// off, COM5's locator is declined and COM6's taken: the scan never reaches
// COM7's.
void TestPortScan::portsInOrderUntilOneIsAccepted()
{
    TestEnvironment env;
    SerialPort other;
    auto held = startLocator(env.portsDir(), 3, quickLocator("000003"));
    auto off = startLocator(env.portsDir(), 4, quickLocator("000004"));
    auto declined = startLocator(env.portsDir(), 5, quickLocator("001234"));
    auto taken = startLocator(env.portsDir(), 6, quickLocator("005678", "ANN", "LOC3000"));
    auto beyond = startLocator(env.portsDir(), 7, quickLocator("009999"));
    QVERIFY(held && off && declined && taken && beyond);
    off->setSilent(true);
    other.setCommPort(3);
    QCOMPARE(other.open(), int(SerialPort::NoError));

    SerialPort probe;
    PacedWriter writer;
    PortScan scan(probe, writer);
    QStringList seen;
    int accepted = -1;
    PortScan::Hooks hooks;
    hooks.checking = [&](int port) { seen << QStringLiteral("check %1").arg(port); };
    hooks.notOpened = [&](int port, int error, const QString &reason) {
        seen << QStringLiteral("not opened %1 %2").arg(port).arg(error == 8002 ? "missing" : "refused");
        if (reason.isEmpty())
            seen << QStringLiteral("without a reason");
        return true;
    };
    hooks.replied = [&](int port, const QByteArray &reply) {
        seen << QStringLiteral("reply %1 %2").arg(port).arg(reply.isEmpty() ? "none" : "some");
    };
    hooks.accept = [&](int port, const QByteArray &, const Protocol::ProbeResult &probe) {
        seen << QStringLiteral("accept %1 %2 %3").arg(port).arg(probe.identity.serialNo, probe.identity.model);
        return port == 6;
    };
    hooks.finished = [&](int port) { accepted = port; };
    scan.start(hooks, 2, 8);
    QTRY_COMPARE_WITH_TIMEOUT(accepted, 6, kWaitMs);

    const QStringList expected{"check 2",
                               "not opened 2 missing",
                               "reply 2 none",
                               "check 3",
                               "not opened 3 refused",
                               "reply 3 none",
                               "check 4",
                               "reply 4 none",
                               "check 5",
                               "reply 5 some",
                               "accept 5 001234 LOC2000",
                               "check 6",
                               "reply 6 some",
                               "accept 6 005678 LOC3000"};
    QCOMPARE(seen, expected);
    QVERIFY(!scan.isRunning());
    QVERIFY(!probe.isOpen());
    QCOMPARE(commandsOf(*held), QStringList{});
    QCOMPARE(commandsOf(*declined), (QStringList{"MM", "#X"}));
    QCOMPARE(commandsOf(*taken), (QStringList{"MM", "#X"}));
    QCOMPARE(commandsOf(*beyond), QStringList{});
}

// A port that may not go on ends the scan there; so does a cancel from the
// accept question. Neither reports a finished scan nor leaves the probe open.
void TestPortScan::hooksEndTheScan()
{
    TestEnvironment env;
    auto locator = startLocator(env.portsDir(), 5, quickLocator("001234"));
    QVERIFY(locator);
    SerialPort probe;
    PacedWriter writer;
    PortScan scan(probe, writer);
    QStringList seen;
    PortScan::Hooks hooks;
    hooks.checking = [&](int port) { seen << QStringLiteral("check %1").arg(port); };
    hooks.notOpened = [&](int port, int, const QString &) {
        seen << QStringLiteral("not opened %1").arg(port);
        return false;
    };
    hooks.finished = [&](int port) { seen << QStringLiteral("finished %1").arg(port); };
    scan.start(hooks, 4, 6);
    QTRY_VERIFY(!scan.isRunning());
    QCOMPARE(seen, (QStringList{"check 4", "not opened 4"}));

    seen.clear();
    hooks.notOpened = {};
    hooks.accept = [&](int port, const QByteArray &, const Protocol::ProbeResult &) {
        seen << QStringLiteral("accept %1").arg(port);
        scan.cancel();
        return true;
    };
    scan.start(hooks, 5, 6);
    QTRY_VERIFY_WITH_TIMEOUT(!scan.isRunning(), kWaitMs);
    QCOMPARE(seen, (QStringList{"check 5", "accept 5"}));
    QVERIFY(!probe.isOpen());
    QVERIFY(!writer.isBusy());
    QCOMPARE(commandsOf(*locator), (QStringList{"MM", "#X"}));
}

// "Search again?" restarts the scan from inside its `finished` hook, and a
// hook may restart it before its port is tested: the hook that is running
// (and what it holds) lives on until it returns, and the old run takes no
// further step.
void TestPortScan::scanRestartedFromItsOwnHooks()
{
    TestEnvironment env;  // no port 8: each test is over at once
    SerialPort probe;
    PacedWriter writer;
    PortScan scan(probe, writer);
    QStringList seen;
    std::function<PortScan::Hooks(int)> round = [&](int n) {
        const QString name = QStringLiteral("round %1").arg(n);
        PortScan::Hooks hooks;
        hooks.checking = [&, name, n](int port) {
            seen << name + " checks " + QString::number(port);
            if (n == 1)
                scan.start(round(2), 8, 8);
            seen << name + " checked";
        };
        hooks.finished = [&, name, n](int port) {
            seen << name + " finished " + QString::number(port);
            if (n == 2)
                scan.start(round(3), 8, 8);
            seen << name + " over";
        };
        return hooks;
    };
    scan.start(round(1), 8, 8);
    const QStringList expected{"round 1 checks 8",   "round 1 checked", "round 2 checks 8", "round 2 checked",
                               "round 2 finished 0", "round 2 over",    "round 3 checks 8", "round 3 checked",
                               "round 3 finished 0", "round 3 over"};
    QTRY_COMPARE(seen, expected);
    QVERIFY(!scan.isRunning());
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(seen, expected);
}

QTEST_GUILESS_MAIN(TestPortScan)
#include "test_port_scan.moc"
