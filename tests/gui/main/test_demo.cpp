// The "--demo" locator: found by Scan on COM5 of its private ports folder,
// and remembered only in its private port list.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "MainWindowHarness.h"
#include "ScriptedInteraction.h"
#include "TestEnvironment.h"
#include "core/link/Pacing.h"
#include "core/link/PortNaming.h"
#include "gui/main/DemoLocator.h"
#include "gui/main/LaunchOptions.h"

#include <QTemporaryDir>
#include <QTest>

using namespace MainWindowHarness;

class TestDemo : public QObject
{
    Q_OBJECT
private slots:
    void options();
    void scanFindsDemoLocator();
};

void TestDemo::options()
{
    const auto parse = [](QStringList a) { return LaunchOptions::parse(QStringList{"locator-toolkit"} + a); };
    LaunchOptions o = parse({});
    QVERIFY(!o.demo && o.screenshotPath.isEmpty() && o.exitAfterSeconds < 0 && o.error.isEmpty());
    o = parse({"--pace-ms", "5", "--demo", "--screenshot", "/tmp/a.png", "--exit-after=2.5"});
    QVERIFY(o.demo);
    QCOMPARE(o.screenshotPath, QStringLiteral("/tmp/a.png"));
    QCOMPARE(o.exitAfterSeconds, 2.5);
    QVERIFY(o.error.isEmpty());
    QVERIFY(!parse({"--exit-after", "soon"}).error.isEmpty());
    QVERIFY(!parse({"--screenshot"}).error.isEmpty());
    QVERIFY(!parse({"--pace-ms", "-1"}).error.isEmpty());
    QCOMPARE(parse({"--pace-ms=0"}).paceMs, 0);
    QVERIFY(!parse({"stray"}).error.isEmpty());
    o = parse({"--fleet", "--database", "host=db dbname=fleet"});
    QVERIFY(o.fleet && o.error.isEmpty());
    QCOMPARE(o.database, QStringLiteral("host=db dbname=fleet"));
    QVERIFY(!parse({"--database", "a.sqlite"}).error.isEmpty());  // only with --fleet
    // Answered before a window system is asked for, beside options Qt reads later.
    QVERIFY(parse({"--version"}).version);
    o = parse({"-platform", "offscreen", "--help"});
    QVERIFY(o.help);
}

void TestDemo::scanFindsDemoLocator()
{
    Pacing::SetShortPauseMs(kProbePaceMs);
    TestEnvironment env;
    ScriptedInteraction ui;
    QVERIFY(PortNaming::DevicePathFor(DemoLocator::kPort).isEmpty());  // no hardware here

    // Its private folder is made by the demo only, in the runtime folder.
    QTemporaryDir runtime;  // owner-only, as a runtime folder must be
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QStringList demoDirs{QStringLiteral("locator-demo-*")};
    const QStringList inTempBefore = QDir(QDir::tempPath()).entryList(demoDirs, QDir::Dirs);
    DemoLocator demo;
    QVERIFY(QDir(runtime.path()).entryList(demoDirs, QDir::Dirs).isEmpty());
    QString error;
    QVERIFY2(demo.start(&error), qPrintable(error));
    QVERIFY(demo.running());
    QCOMPARE(QDir(runtime.path()).entryList(demoDirs, QDir::Dirs).size(), 1);
    QCOMPARE(QDir(QDir::tempPath()).entryList(demoDirs, QDir::Dirs), inTempBefore);
    QVERIFY(!PortNaming::DevicePathFor(DemoLocator::kPort).isEmpty());

    {
        frmMain w;
        answers(ui.answers, {true, true});
        w.form()->cmdrescan->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.linkBusy(), 15000);  // the scan runs from the event loop
        QCOMPARE(ui.questions.last(),
                 QStringLiteral("Locator type LOC2000, Serial Number 001234. Use this connection?"));
        QVERIFY(w.MSComm1().isOpen());
        QCOMPARE(w.MSComm1().commPort(), DemoLocator::kPort);
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lblMonitor->text().startsWith(QStringLiteral("Live: $")), 15000);
        // The demo's unit is remembered in the demo's own list, not the user's.
        QVERIFY(w.state().PortListPath.startsWith(QFileInfo(demo.portsFolder()).path()));
        QVERIFY(QFile::exists(w.state().PortListPath));
        QVERIFY(!QFile::exists(env.portListPath()));
    }
    demo.stop();
    QVERIFY(!demo.running());
    PortNaming::SetPortsFolder({});
    PortNaming::SetDeviceFolder({});
}

QTEST_MAIN(TestDemo)
#include "test_demo.moc"
