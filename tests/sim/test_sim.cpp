// The simulated locator, driven over its pty the way the program drives the
// real unit: raw POSIX port, commands typed one character per write().
#include "LocatorSimulator.h"
#include "SimCommandParser.h"
#include "SimLog.h"
#include "SlavePort.h"

#include <QDate>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <memory>

using sim::LocatorSimulator;
using sim::SimConfig;

Q_DECLARE_METATYPE(std::string)

namespace {

constexpr int kT = SlavePort::kTimeoutMs;
const sim::Date kEnd{2026, 12, 6};

SimConfig smallConfig(int records = 200)
{
    SimConfig c;
    c.endDate = kEnd;
    c.targetRecords = records;
    c.throttled = false;
    c.liveIntervalMs = 20;
    return c;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t eol; (eol = text.find("\r\n", at)) != std::string::npos; at = eol + 2)
        lines.push_back(text.substr(at, eol - at));
    return lines;
}

size_t countOf(const std::string &s, std::string_view what)
{
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

std::string header(const std::string &prefix, const std::string &user = "BOB")
{
    std::string u = user;
    u.resize(32, '_');
    return prefix + u + "FW1.23_HWB2_____" + "LOC2000_" + "__001234" + "\r\n";
}

bool isSymlink(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_symlink(path, ec);
}

// A simulator on a fresh ports folder, with the program's port open on it.
struct Rig
{
    explicit Rig(SimConfig cfg, int com = 5)
        : sim(std::move(cfg))
    {
        link = dir.path().toStdString() + "/ports/COM" + std::to_string(com);
        started = sim.start(link, &error);
        if (started)
            port = std::make_unique<SlavePort>(link);
    }
    bool ok() const { return started && port->isOpen(); }

    // Proves nothing else was sent: a marker queued after the command would
    // come after any reply to it.
    bool onlyMarkerFollows()
    {
        port->take();
        sim.sendText("<sync>");
        const bool ok = port->readUntilContains("<sync>") && port->received() == "<sync>";
        port->take();
        return ok;
    }

    QTemporaryDir dir;
    LocatorSimulator sim;
    std::string link, error;
    bool started = false;
    std::unique_ptr<SlavePort> port;
};

}  // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void parser_data();
    void parser();
    void calendar();
    void logContents_data();
    void logContents();
    void replies();
    void settingsAndClock();
    void clockFollowsPcUntilSet();
    void transferAll();
    void transferByDate_data();
    void transferByDate();
    void abort_data();
    void abort();
    void onlyAbortInterruptsTransfer();
    void liveLines();
    void powerDown_data();
    void powerDown();
    void silentAndWake();
    void vanishAndReturn();
    void pacing();
    void chunkingKeepsBytes();
    void twoInstancesAndRestarts();
    void closedPortDropsOutput();
};

void TestSim::parser_data()
{
    QTest::addColumn<std::string>("input");
    QTest::addColumn<QStringList>("expected");  // '^' marks a command extending the one before

    const std::string user32 = "A#B MM" + std::string(26, ' ');
    QTest::newRow("preamble") << std::string("MM") << QStringList{"MM"};
    QTest::newRow("lone M") << std::string("MxMMM") << QStringList{"MM"};
    QTest::newRow("A inside #DA is no abort") << std::string("#DA") << QStringList{"#DA"};
    QTest::newRow("bare A") << std::string("zAz") << QStringList{"A"};
    QTest::newRow("#A then E") << std::string("#AE") << QStringList{"#A", "^#AE"};
    QTest::newRow("#A then other") << std::string("#A#X") << QStringList{"#A", "#X"};
    QTest::newRow("date range") << std::string("#DD01/12/26,06/12/26") << QStringList{"#DD01/12/26,06/12/26"};
    QTest::newRow("broken range resyncs") << std::string("#DD01/1#X") << QStringList{"#X"};
    QTest::newRow("abort breaks a range") << std::string("#DD01A") << QStringList{"A"};
    QTest::newRow("unknown name resyncs") << std::string("#Q#FVx#DQMM") << QStringList{"#FV", "MM"};
    QTest::newRow("user takes any byte") << "#FT" + user32 << QStringList{QString::fromStdString("#FT" + user32)};
    QTest::newRow("model and serial") << std::string("#SSLOC2000   001234") << QStringList{"#SSLOC2000   001234"};
    QTest::newRow("settings") << std::string("#DS24/02/26#TS13:45:10#FW0000#CA")
                              << QStringList{"#DS24/02/26", "#TS13:45:10", "#FW0000", "#CA"};
    QTest::newRow("noise") << std::string("\r\n\0zz#X", 7) << QStringList{"#X"};
}

void TestSim::parser()
{
    QFETCH(std::string, input);
    QFETCH(QStringList, expected);
    auto render = [](const std::vector<sim::ParsedCommand> &cmds) {
        QStringList l;
        for (const auto &c : cmds)
            l << (c.extendsPrevious ? "^" : "") + QString::fromStdString(c.text);
        return l;
    };
    // Byte by byte, as typed, and all at once: same commands.
    sim::CommandParser bytewise, whole;
    std::vector<sim::ParsedCommand> a, b;
    for (char c : input)
        bytewise.feed(std::string_view(&c, 1), &a);
    whole.feed(input, &b);
    QCOMPARE(render(a), expected);
    QCOMPARE(render(b), expected);
}

void TestSim::calendar()
{
    for (int64_t day : {int64_t(-1), int64_t(0), int64_t(10956), int64_t(20454), int64_t(47482)})
        QCOMPARE(sim::daysFromCivil(sim::civilFromDays(day)), day);
    QCOMPARE(sim::daysFromCivil({2024, 3, 1}) - sim::daysFromCivil({2024, 2, 28}), int64_t(2));

    sim::Date d;
    QVERIFY(sim::parseDdMmYy("29/02/24", &d));
    QVERIFY((d == sim::Date{2024, 2, 29}));
    for (const char *bad : {"29/02/25", "31/04/26", "1/12/26", "01-12-26"})
        QVERIFY2(!sim::parseDdMmYy(bad, &d), bad);
    QCOMPARE(sim::parseHhMmSs("23:59:59"), 86399);
    QCOMPARE(sim::parseHhMmSs("24:00:00"), -1);
    QCOMPARE(sim::parseHhMmSs("12:60:00"), -1);
}

void TestSim::logContents_data()
{
    QTest::addColumn<int>("records");
    QTest::newRow("tiny") << 8;
    QTest::newRow("small") << 150;
    QTest::newRow("default size") << 3500;
}

void TestSim::logContents()
{
    QFETCH(int, records);
    sim::LogParams p;
    p.seed = 7;
    p.endDate = kEnd;
    p.targetRecords = records;
    const auto log = sim::generateLog(p);
    auto text = [](const std::vector<sim::LogLine> &l) {
        std::string t;
        for (const auto &x : l)
            t += x.text;
        return t;
    };
    QCOMPARE(text(sim::generateLog(p)), text(log));
    p.seed = 8;
    QVERIFY(text(sim::generateLog(p)) != text(log));

    static const QRegularExpression re(
        R"(^(\d\d/\d\d/\d\d),(\d\d):(\d\d):(\d\d),([A-Z]),(33KHz|8KHz|500Hz|0),([SDC0]),(\d\.\d\d|0|LO),(\d+)$)");
    const QDate first = QDate(2026, 8, 6), last = QDate(2026, 12, 6);
    int dated = 0, ff = 0, unknown = 0;
    QSet<QChar> modes;
    QDateTime previous;
    for (const auto &line : log) {
        QVERIFY(line.text.ends_with("\r\n"));
        const QString l = QString::fromStdString(line.text).chopped(2);
        if (l.startsWith("FF")) {
            ++ff;
            QCOMPARE(line.day, int64_t(-1));
            continue;
        }
        const auto m = re.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        ++dated;
        const QDate date = QDate::fromString(m.captured(1), "dd/MM/yy").addYears(100);
        QVERIFY2(date >= first && date <= last, qPrintable(l));
        const QDateTime when(date, QTime(m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt()));
        QVERIFY2(!previous.isValid() || when > previous, qPrintable(l));  // one record per second, in order
        previous = when;
        const QChar mode = m.captured(5).at(0);
        if (QString("ATRP").contains(mode))
            modes << mode;
        else
            ++unknown;
        QCOMPARE(mode == 'T', m.captured(6) != "0");
        QVERIFY(m.captured(9).toInt() <= 30);
        const bool hasDepth = m.captured(8) != "0";
        QCOMPARE(hasDepth, m.captured(7) == "D" || m.captured(7) == "C");
    }
    QCOMPARE(dated, records);
    QCOMPARE(unknown, 1);
    QCOMPARE(modes.size(), 4);
    QCOMPARE(ff, 3);
}

void TestSim::replies()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    QVERIFY(std::filesystem::read_symlink(rig.link).string() == rig.sim.devicePath());

    // Each character in its own read on the sim's side.
    const uint64_t before = rig.sim.bytesReceived();
    const std::string preamble = "MM";
    for (size_t i = 0; i < preamble.size(); ++i) {
        QVERIFY(rig.port->type(preamble.substr(i, 1)));
        QVERIFY(rig.sim.waitForBytesReceived(before + i + 1, kT));
    }
    QVERIFY(rig.port->readUntilContains("\r\n"));
    const std::string mm = rig.port->take();
    QCOMPARE(mm.size(), size_t(36));
    QCOMPARE(mm.substr(26, 3), std::string("Ver"));
    QCOMPARE(mm.substr(30, 4), std::string("1.23"));

    QVERIFY(rig.port->type("\r\nzz#X"));
    QVERIFY(rig.port->readUntilContains("\r\n"));
    const std::string x = rig.port->take();
    QCOMPARE(x.size(), size_t(68));
    QCOMPARE(x.substr(0, 2), std::string("#X"));
    QCOMPARE(x.substr(2, 32), "BOB" + std::string(29, '_'));
    QCOMPARE(x.substr(50, 8), std::string("LOC2000_"));
    QCOMPARE(x.substr(58, 8), std::string("__001234"));

    QCOMPARE(rig.sim.commands(), (std::vector<std::string>{"MM", "#X"}));
}

void TestSim::settingsAndClock()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    const std::string name = "ALICE SMITH";
    QVERIFY(rig.port->type("#FT" + name + std::string(32 - name.size(), ' ')));
    QVERIFY(rig.port->type("#SSLOC3000   009876"));
    QVERIFY(rig.port->type("#FW0000"));
    QElapsedTimer sinceSet;
    QVERIFY(rig.port->type("#DS24/02/26#TS13:45:10"));
    QVERIFY(rig.sim.waitForCommand("#TS", kT));
    sinceSet.start();
    QCOMPARE(rig.sim.user(), name);
    QCOMPARE(rig.sim.model(), std::string("LOC3000"));
    QCOMPARE(rig.sim.serial(), std::string("009876"));
    QVERIFY(rig.sim.pointerReset());
    QCOMPARE(rig.sim.date(), std::string("24/02/26"));
    QCOMPARE(rig.sim.time(), std::string("13:45:10"));

    QVERIFY(rig.port->type("#AE"));
    QVERIFY(rig.port->readUntilContains("\r\n"));
    const std::string ae = rig.port->take();
    QCOMPARE(ae.size(), size_t(25));
    QCOMPARE(ae.substr(0, 4), std::string("#AE "));
    QCOMPARE(ae.substr(4, 8), std::string("24/02/26"));
    QCOMPARE(ae.substr(12, 3), std::string("   "));
    const int secs = sim::parseHhMmSs(ae.substr(15, 8));
    const int set = 13 * 3600 + 45 * 60 + 10;
    QVERIFY2(secs >= set && secs <= set + 1 + int(sinceSet.elapsed() / 1000), ae.c_str());
    QCOMPARE(rig.sim.commands().back(), std::string("#AE"));

    QVERIFY(rig.port->type("#X"));
    QVERIFY(rig.port->readUntilContains("\r\n"));
    const std::string x = rig.port->take();
    QCOMPARE(x.substr(2, 32), std::string("ALICE SMITH") + std::string(21, '_'));
    QCOMPARE(x.substr(50, 16), std::string("LOC3000___009876"));

    // Clearing empties the memory; a transfer then has nothing between header and end.
    QVERIFY(rig.port->type("#CA#DA"));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    QCOMPARE(rig.port->take(), header("#DA", name).replace(51, 16, "LOC3000___009876") + "\x1a");
    QVERIFY(rig.sim.memoryCleared());
    QCOMPARE(rig.sim.recordCount(), 0);
}

void TestSim::clockFollowsPcUntilSet()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(rig.port->type("#AE"));
    QVERIFY(rig.port->readUntilContains("\r\n"));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const std::string ae = rig.port->take();
    QDateTime reported
        = QDateTime::fromString(QString::fromStdString(ae.substr(4, 8) + ae.substr(15, 8)), "dd/MM/yyHH:mm:ss");
    reported = reported.addYears(100);
    QVERIFY2(reported >= before && reported <= after, ae.c_str());
}

void TestSim::transferAll()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    QVERIFY(rig.port->type("#DA"));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    const std::string got = rig.port->take();
    QVERIFY(rig.sim.waitForTransferEnd(kT));
    QCOMPARE(got, header("#DA") + rig.sim.logText() + "\x1a");
    QCOMPARE(rig.sim.lastTransfer(), got);
    QCOMPARE(countOf(got, "FFFFFFFFFFFFFFFF\r\n"), size_t(3));
    QCOMPARE(rig.sim.transferCount(), 1);
    QVERIFY(!rig.sim.transferRunning());
}

void TestSim::transferByDate_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("expectRecords");

    // The first day that has records, to test inclusive bounds.
    sim::LogParams p;
    p.endDate = kEnd;
    p.targetRecords = 200;
    const QString firstDay = QString::fromStdString(sim::generateLog(p).front().text.substr(0, 8));

    QTest::newRow("whole log") << "01/08/26"
                               << "31/12/26" << true;
    QTest::newRow("one day, inclusive") << firstDay << firstDay << true;
    QTest::newRow("day first, not month first") << "10/09/26"
                                                << "09/11/26" << true;
    QTest::newRow("across a year end") << "01/12/25"
                                       << "06/12/26" << true;
    QTest::newRow("reversed") << "06/12/26"
                              << "01/08/26" << false;
    QTest::newRow("before the log") << "01/01/20"
                                    << "31/12/20" << false;
    QTest::newRow("not a date") << "31/02/26"
                                << "06/12/26" << false;
}

void TestSim::transferByDate()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, expectRecords);
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());

    // What should come, worked out here with QDate rather than the sim's calendar.
    const QDate a = QDate::fromString(from, "dd/MM/yy").addYears(100);
    const QDate b = QDate::fromString(to, "dd/MM/yy").addYears(100);
    std::string expected;
    for (const auto &line : splitLines(rig.sim.logText())) {
        const QDate d = QDate::fromString(QString::fromStdString(line.substr(0, 8)), "dd/MM/yy").addYears(100);
        if (d.isValid() && a.isValid() && b.isValid() && d >= a && d <= b)
            expected += line + "\r\n";
    }
    QCOMPARE(!expected.empty(), expectRecords);

    const std::string cmd = "#DD" + from.toStdString() + "," + to.toStdString();
    QVERIFY(rig.port->type(cmd));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    QCOMPARE(rig.port->take(), header("#DD") + expected + "\x1a");
    QCOMPARE(rig.sim.logTextBetween(from.toStdString(), to.toStdString()), expected);
    QCOMPARE(rig.sim.commands().back(), cmd);
}

void TestSim::abort_data()
{
    QTest::addColumn<std::string>("abortCommand");
    QTest::newRow("bare A") << std::string("A");
    QTest::newRow("service #A") << std::string("#A");
}

void TestSim::abort()
{
    QFETCH(std::string, abortCommand);
    SimConfig cfg = smallConfig(3500);
    cfg.throttled = true;
    cfg.bytesPerSecond = 20000;  // ~5 s if it ran to the end
    Rig rig(cfg);
    QVERIFY2(rig.ok(), rig.error.c_str());
    const std::string full = header("#DA") + rig.sim.logText() + "\x1a";

    QVERIFY(rig.port->type("#DA"));
    QVERIFY(rig.port->readUntil([](const std::string &r) { return countOf(r, "\r\n") >= 4; }));
    QVERIFY(rig.sim.transferRunning());
    QVERIFY(rig.port->type(abortCommand));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    QVERIFY(rig.sim.waitForTransferEnd(kT));
    const std::string got = rig.port->take();

    QVERIFY(got.ends_with("ABORT\x1a"));
    const std::string sent = got.substr(0, got.size() - 6);
    QVERIFY(sent.ends_with("\r\n"));  // whole records only
    QVERIFY(sent.size() < full.size() / 2);
    QCOMPARE(full.substr(0, sent.size()), sent);
    QCOMPARE(countOf(got, "\x1a"), size_t(1));
    QCOMPARE(rig.sim.lastTransfer(), got);
    QCOMPARE(rig.sim.commands().back(), abortCommand);
}

void TestSim::onlyAbortInterruptsTransfer()
{
    SimConfig cfg = smallConfig(400);
    cfg.throttled = true;
    cfg.bytesPerSecond = 4000;  // ~3 s: long enough to type into
    Rig rig(cfg);
    QVERIFY2(rig.ok(), rig.error.c_str());

    // A bare A with nothing running is ignored.
    QVERIFY(rig.port->type("A"));
    QVERIFY(rig.sim.waitForCommand("A", kT));
    QVERIFY(rig.onlyMarkerFollows());

    QVERIFY(rig.port->type("#DA"));
    QVERIFY(rig.port->readUntilContains("\r\n"));
    QVERIFY(rig.port->type("MM#X#FV"));
    QVERIFY(rig.sim.waitForCommand("#FV", kT));
    QVERIFY(rig.sim.transferRunning());
    QVERIFY(rig.port->type("#A"));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    QVERIFY(rig.sim.waitForTransferEnd(kT));
    const std::string got = rig.port->take();
    QCOMPARE(got, rig.sim.lastTransfer());
    QVERIFY(got.ends_with("\r\nABORT\x1a"));
    QVERIFY(got.find("Ver") == std::string::npos);
    QCOMPARE(countOf(got, "#"), size_t(1));  // only the header's
    QVERIFY(!rig.sim.liveOutput());
    QCOMPARE(rig.sim.commands(), (std::vector<std::string>{"A", "#DA", "MM", "#X", "#FV", "#A"}));
}

void TestSim::liveLines()
{
    SimConfig cfg = smallConfig(200);
    cfg.throttled = true;
    cfg.bytesPerSecond = 20000;  // the transfer spans many live intervals
    Rig rig(cfg);
    QVERIFY2(rig.ok(), rig.error.c_str());

    QVERIFY(rig.port->type("#FV"));
    QVERIFY(rig.port->readUntil([](const std::string &r) { return countOf(r, "\r\n") >= 3; }));
    QVERIFY(rig.sim.liveOutput());
    static const QRegularExpression re(R"(^\$[ATRP],(33KHz|8KHz|500Hz|0),[SD],(\d\.\d\d|0|LO),\d{1,2}$)");
    // Keep a line still arriving for the next look.
    std::string firstLines = rig.port->take();
    const size_t complete = firstLines.rfind("\r\n") + 2;
    rig.port->received() = firstLines.substr(complete);
    firstLines.resize(complete);
    for (const auto &line : splitLines(firstLines)) {
        QVERIFY2(re.match(QString::fromStdString(line)).hasMatch(), line.c_str());
        QVERIFY(line.starts_with("$T,33KHz,"));
    }

    // Live output pauses for a transfer and comes back after it.
    rig.sim.setLiveMode('R', "0");
    QVERIFY(rig.port->type("#DA"));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    QVERIFY(rig.sim.waitForTransferEnd(kT));
    QVERIFY(rig.port->readUntil([](const std::string &r) {
        const size_t end = r.find('\x1a');
        return end != std::string::npos && countOf(r.substr(end), "\r\n") >= 2;
    }));
    const std::string got = rig.port->take();
    const std::string transfer = rig.sim.lastTransfer();
    const size_t at = got.find("#DA");
    QVERIFY(at != std::string::npos);
    QCOMPARE(got.substr(at, transfer.size()), transfer);
    for (const auto &line : splitLines(got.substr(0, at)))
        QVERIFY(re.match(QString::fromStdString(line)).hasMatch());
    const auto after = splitLines(got.substr(at + transfer.size()));
    QVERIFY(after.size() >= 2);
    for (const auto &line : after) {
        QVERIFY2(re.match(QString::fromStdString(line)).hasMatch(), line.c_str());
        QVERIFY(line.starts_with("$R,0,S,0,"));
    }
}

void TestSim::powerDown_data()
{
    QTest::addColumn<bool>("live");
    QTest::addColumn<bool>("transfer");
    QTest::newRow("idle") << false << false;
    QTest::newRow("live output") << true << false;
    QTest::newRow("during a transfer") << true << true;
}

void TestSim::powerDown()
{
    QFETCH(bool, live);
    QFETCH(bool, transfer);
    SimConfig cfg = smallConfig(400);
    cfg.throttled = true;
    cfg.bytesPerSecond = 4000;
    Rig rig(cfg);
    QVERIFY2(rig.ok(), rig.error.c_str());
    if (live) {
        QVERIFY(rig.port->type("#FV"));
        QVERIFY(rig.port->readUntilContains("\r\n"));
    }
    if (transfer) {
        QVERIFY(rig.port->type("#DA"));
        QVERIFY(rig.port->readUntilContains("#DA"));
    }
    rig.sim.powerDown();
    QVERIFY(rig.port->readUntilContains("#PD"));
    QVERIFY(rig.sim.waitForTransferEnd(kT));
    const std::string got = rig.port->take();
    QVERIFY(got.ends_with("\r\n#PD") || got == "#PD");
    QVERIFY(got.find('\x1a') == std::string::npos);
    if (transfer) {
        const std::string cut = rig.sim.lastTransfer();
        QVERIFY(cut.starts_with(header("#DA")));
        QCOMPARE(got.substr(got.find("#DA"), cut.size() + 3), cut + "#PD");
    }

    // Then nothing answers, and nothing more arrives.
    QVERIFY(rig.sim.silent());
    QVERIFY(!rig.sim.liveOutput());
    const size_t n = rig.sim.commands().size();
    QVERIFY(rig.port->type("MM#X#DA"));
    QVERIFY(rig.sim.waitForCommand("#DA", kT, n));
    QVERIFY(rig.onlyMarkerFollows());
}

void TestSim::silentAndWake()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setSilent(true);
    QVERIFY(rig.port->type("MM#FV"));
    QVERIFY(rig.sim.waitForCommand("#FV", kT));
    QVERIFY(rig.onlyMarkerFollows());
    QVERIFY(!rig.sim.liveOutput());

    rig.sim.setSilent(false);
    QVERIFY(rig.port->type("MM"));
    QVERIFY(rig.port->readUntilContains("Ver 1.23\r\n"));
}

void TestSim::vanishAndReturn()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    const std::string log = rig.sim.logText();
    QVERIFY(rig.port->type("#FTCAROL" + std::string(27, ' ')));
    QVERIFY(rig.sim.waitForCommand("#FT", kT));

    rig.sim.vanish();
    QVERIFY(!isSymlink(rig.link));
    QVERIFY(rig.sim.devicePath().empty());
    QVERIFY(!rig.port->readUntilContains("anything"));
    QVERIFY(rig.port->hungUp());

    // Plugged back in: new device node, same memory and settings.
    std::string error;
    QVERIFY2(rig.sim.start(rig.link, &error), error.c_str());
    QVERIFY(isSymlink(rig.link));
    SlavePort again(rig.link);
    QVERIFY(again.isOpen());
    QVERIFY(again.type("#DA"));
    QVERIFY(again.readUntilContains("\x1a"));
    QCOMPARE(again.take(), header("#DA", "CAROL") + log + "\x1a");
}

void TestSim::pacing()
{
    SimConfig cfg = smallConfig(600);
    cfg.throttled = true;
    cfg.bytesPerSecond = 40000;
    Rig rig(cfg);
    QVERIFY2(rig.ok(), rig.error.c_str());
    const double bytes = double(header("#DA").size() + rig.sim.logText().size() + 1);
    const double nominalMs = bytes * 1000.0 / cfg.bytesPerSecond;

    QElapsedTimer t;
    t.start();
    QVERIFY(rig.port->type("#DA"));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    const double throttledMs = double(t.elapsed());
    const std::string paced = rig.port->take();
    // The first chunk may go before its time; everything else keeps to the rate.
    const double earliest = (bytes - cfg.maxChunk) * 1000.0 / cfg.bytesPerSecond;
    QVERIFY2(throttledMs >= 0.9 * earliest, qPrintable(QString::number(throttledMs)));
    QVERIFY2(throttledMs < 5 * nominalMs + 3000, qPrintable(QString::number(throttledMs)));
    QVERIFY(rig.sim.waitForTransferEnd(kT));

    rig.sim.setThrottled(false);
    t.restart();
    QVERIFY(rig.port->type("#DA"));
    QVERIFY(rig.port->readUntilContains("\x1a"));
    QVERIFY2(double(t.elapsed()) < nominalMs / 2, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(rig.port->take(), paced);
}

void TestSim::chunkingKeepsBytes()
{
    struct Chunking
    {
        int min, max;
        uint32_t seed;
    };
    std::string first;
    for (const Chunking c : {Chunking{1, 1, 0}, Chunking{1, 4096, 0}, Chunking{3, 17, 5}, Chunking{3, 17, 6}}) {
        SimConfig cfg = smallConfig(300);
        cfg.minChunk = c.min;
        cfg.maxChunk = c.max;
        cfg.chunkSeed = c.seed;
        Rig rig(cfg);
        QVERIFY2(rig.ok(), rig.error.c_str());
        QVERIFY(rig.port->type("MM#DA"));
        QVERIFY(rig.port->readUntilContains("\x1a"));
        const std::string got = rig.port->take();
        if (first.empty())
            first = got;
        QCOMPARE(got, first);
    }
    QVERIFY(first.find("Ver 1.23\r\n#DA") != std::string::npos);
}

void TestSim::twoInstancesAndRestarts()
{
    QTemporaryDir dir;
    const std::string ports = dir.path().toStdString() + "/ports";
    SimConfig a = smallConfig(), b = smallConfig();
    a.serial = "5";
    b.serial = "9";
    LocatorSimulator com5(a), com9(b);
    QVERIFY(com5.start(ports + "/COM5"));
    QVERIFY(com9.start(ports + "/COM9"));
    QVERIFY(com5.devicePath() != com9.devicePath());

    auto serialOn = [](const std::string &link) {
        SlavePort port(link);
        if (!port.type("#X") || !port.readUntilContains("\r\n"))
            return std::string("no reply");
        return port.received().substr(58, 8);
    };
    QCOMPARE(serialOn(ports + "/COM5"), std::string("_______5"));
    QCOMPARE(serialOn(ports + "/COM9"), std::string("_______9"));

    for (int i = 0; i < 5; ++i) {
        com5.stop();
        QVERIFY(!isSymlink(ports + "/COM5"));
        QVERIFY(!com5.running());
        QVERIFY(com5.start(ports + "/COM5"));
        QCOMPARE(serialOn(ports + "/COM5"), std::string("_______5"));
    }
    std::string error;
    QVERIFY(!com5.start(ports + "/COM6", &error));
    QVERIFY(!error.empty());
    QCOMPARE(serialOn(ports + "/COM9"), std::string("_______9"));
    // Stale links from a crash are replaced, foreign files are not.
    com9.stop();
    std::filesystem::create_symlink("/dev/null", ports + "/COM9");
    QVERIFY(com9.start(ports + "/COM9"));
    QCOMPARE(serialOn(ports + "/COM9"), std::string("_______9"));
    com9.stop();
    QFile plain(QString::fromStdString(ports + "/COM9"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(!com9.start(ports + "/COM9", &error));
    QVERIFY(QFile::exists(plain.fileName()));
}

void TestSim::closedPortDropsOutput()
{
    Rig rig(smallConfig());
    QVERIFY2(rig.ok(), rig.error.c_str());
    QVERIFY(rig.sim.waitForPortOpenCount(1, kT));
    rig.port->close();
    QVERIFY(rig.sim.waitForPortOpenCount(0, kT));
    rig.sim.sendText("stale");
    QVERIFY(rig.sim.waitForIdle(kT));

    SlavePort again(rig.link);
    QVERIFY(rig.sim.waitForPortOpenCount(1, kT));
    rig.sim.sendText("fresh");
    QVERIFY(again.readUntilContains("fresh"));
    QCOMPARE(again.received(), std::string("fresh"));
}

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
