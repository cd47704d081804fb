// locator-cli's offline subcommands end to end, on crafted data files: the
// numbers must be the windows' own accounting and the viewer's own order.
#include "CliRunner.h"
#include "TestEnvironment.h"
#include "cli/CliChart.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/usage/UsageByMonth.h"
#include "core/usage/UsageCounting.h"
#include "core/usage/UsageTexts.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

const QByteArray kHeader = "#DABOB_____________________________FW1.23_HWB2_____LOC2000___001234";

QByteArray record(const QByteArray &date, char mode, const QByteArray &rest = "33KHz,D,1.25,17")
{
    return date + ",10:00:00," + mode + ',' + rest;
}

// The comment block a transfer writes, the header line, the lines joined by
// `lineEnd`, and the end marker.
QByteArray dataFile(const QList<QByteArray> &lines, const QByteArray &lineEnd = "\r\n")
{
    QByteArray out = DataFileFormat::DefaultCommentBlock() + kHeader + "\r\n";
    for (const QByteArray &line : lines)
        out += line + lineEnd;
    return out + '\x1a';
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Pixels within a small distance of a colour (JPEG blurs the edges).
int pixelsNear(const QImage &image, const QColor &colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green()) + qAbs(c.blue() - colour.blue()) < 24)
                ++n;
        }
    }
    return n;
}

QColor modeColour(int i)
{
    const ModeTable::Rgb c = ModeTable::Modes[std::size_t(i)].colour;
    return QColor(c.r, c.g, c.b);
}

}  // namespace

class TestCliOffline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Cli::EnableChart(); }
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void wrongUsage_data();
    void wrongUsage();
    void helpForEveryCommand();
    void allMonthsReadingMatchesEachMonthReading();
    void reportUsesTheWindowsAccounting();
    void reportSumsSeveralFiles();
    void reportOfADayAndOfAnEmptyMonth();
    void reportFailuresNameTheFile();
    void chartDrawsTheWindowsPie();
    void chartWithoutDataWritesNothing();
    void viewListsAndSortsAsTheViewer();
    void viewFailures();
    void portsShowsWhereEachPortLeads();

private:
    QString path(const QString &name) const { return m_env->root() + '/' + name; }

    std::unique_ptr<TestEnvironment> m_env;
};

void TestCliOffline::wrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");

    QTest::newRow("no command") << QStringList{} << "no command given";
    QTest::newRow("unknown command") << QStringList{"fetch"} << "unknown command 'fetch'";
    QTest::newRow("unknown option") << QStringList{"ports", "--verbose"} << "verbose";
    QTest::newRow("report without file") << QStringList{"report"} << "no data file given";
    QTest::newRow("month 13") << QStringList{"report", "f.csv", "--month", "13/2026"} << "--month takes MM/YYYY";
    QTest::newRow("month last century") << QStringList{"report", "f.csv", "--month", "03/1999"} << "--month takes";
    QTest::newRow("month and day") << QStringList{"report", "f.csv", "--month", "03/2026", "--day", "01/03/2026"}
                                   << "not both";
    QTest::newRow("31 February") << QStringList{"report", "f.csv", "--day", "31/02/2026"} << "--day takes";
    QTest::newRow("format") << QStringList{"report", "f.csv", "--format", "xml"} << "--format takes text, csv or json";
    QTest::newRow("chart without out") << QStringList{"chart", "f.csv", "--month", "03/2026"} << "--out PATH";
    QTest::newRow("chart without period") << QStringList{"chart", "f.csv", "--out", "x.jpg"} << "--month or --day";
    QTest::newRow("chart two files") << QStringList{"chart", "a", "b", "--month", "03/2026", "--out", "x.jpg"}
                                     << "one data file";
    QTest::newRow("chart size") << QStringList{"chart", "f", "--month", "03/2026", "--out", "x", "--size", "9x9"}
                                << "--size";
    QTest::newRow("desc without sort") << QStringList{"view", "f.csv", "--desc"} << "--desc needs --sort";
    QTest::newRow("no such column") << QStringList{"view", "f.csv", "--sort", "Speed"} << "no column 'Speed'";
    QTest::newRow("column 7") << QStringList{"view", "f.csv", "--sort", "7"} << "no column '7'";
    QTest::newRow("transfer without port") << QStringList{"transfer", "--all"} << "--port N is required";
    QTest::newRow("port 0") << QStringList{"identify", "--port", "0"} << "--port takes a port number";
    QTest::newRow("port text") << QStringList{"identify", "--port", "COM5"} << "--port takes a port number";
    QTest::newRow("all and range") << QStringList{"transfer", "--port", "5", "--all", "--from", "01/12/26"}
                                   << "either --all or --from";
    QTest::newRow("from without to") << QStringList{"transfer", "--port", "5", "--from", "01/12/26"}
                                     << "both --from and --to";
    QTest::newRow("range backwards") << QStringList{"transfer", "--port", "5", "--from", "06/12/26", "--to", "01/12/26"}
                                     << "ends (01/12/26) before it starts (06/12/26)";
    QTest::newRow("four-digit year") << QStringList{"transfer",   "--port", "5",       "--from",
                                                    "01/12/2026", "--to",   "06/12/26"}
                                     << "--from takes a date DD/MM/YY";
    QTest::newRow("idle 0") << QStringList{"transfer", "--port", "5", "--all", "--idle-timeout", "0"}
                            << "--idle-timeout";
    QTest::newRow("pace") << QStringList{"identify", "--port", "5", "--pace-ms", "-1"} << "--pace-ms";
    QTest::newRow("user with slash") << QStringList{"set-user", "--port", "5", "A/B"} << "may not contain /";
    QTest::newRow("user too long") << QStringList{"set-user", "--port", "5", QString(33, 'x')} << "33 characters";
    QTest::newRow("user with line break") << QStringList{"set-user", "--port", "5", "A\nB"} << "printable";
    QTest::newRow("user missing") << QStringList{"set-user", "--port", "5"} << "no user name given";
    QTest::newRow("scan argument") << QStringList{"scan", "5"} << "unexpected argument '5'";
    QTest::newRow("sync without port") << QStringList{"sync", "--watch"} << "--port N is required";
    QTest::newRow("poll without watch") << QStringList{"sync", "--port", "5", "--poll-seconds", "1"}
                                        << "--poll-seconds goes with --watch";
    // The shared readers say the same for every command that takes the option.
    QTest::newRow("sync idle 0") << QStringList{"sync", "--port", "5", "--idle-timeout", "0"}
                                 << "--idle-timeout takes whole seconds from 1 to 86400, not '0'";
    QTest::newRow("poll 3601") << QStringList{"sync", "--port", "5", "--watch", "--poll-seconds", "3601"}
                               << "--poll-seconds takes whole seconds from 0 to 3600, not '3601'";
    QTest::newRow("identify argument") << QStringList{"identify", "--port", "5", "x"} << "unexpected argument 'x'";
    QTest::newRow("view two files") << QStringList{"view", "a", "b"} << "one data file at a time";
    QTest::newRow("archive format") << QStringList{"archive", "report", "--format", "xml"}
                                    << "--format takes text, csv, json or html, not 'xml'";
    QTest::newRow("archive database without value")
        << QStringList{"archive", "import", "a.csv", "--database"} << "--database needs a value";
}

void TestCliOffline::wrongUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    const CliResult r = RunCli(arguments);
    QCOMPARE(r.status, int(Cli::UsageError));
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY2(r.err.contains(says.toUtf8()), r.err.constData());
    QVERIFY(r.err.startsWith("locator-cli"));
    QVERIFY(r.err.contains("--help"));
}

void TestCliOffline::helpForEveryCommand()
{
    const CliResult overview = RunCli({"--help"});
    QCOMPARE(overview.status, 0);
    const QStringList commands
        = {"ports", "identify", "scan", "transfer", "set-clock", "set-user", "report", "chart", "view", "sync"};
    for (const QString &command : commands) {
        QVERIFY2(overview.out.contains("  " + command.toUtf8() + ' '), qPrintable(command));
        // Help wins over anything else on the line, even arguments that are wrong.
        const CliResult r = RunCli({command, "--bogus", "--help"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.startsWith("Usage: locator-cli " + command.toUtf8()), r.out.constData());
        QVERIFY(r.err.isEmpty());
    }
}

// The one-pass reading of every month must count exactly what each month's
// own reading counts, whatever the line ends and odd lines of the file.
void TestCliOffline::allMonthsReadingMatchesEachMonthReading()
{
    QList<QByteArray> lines = {
        record("01/03/26", 'A'),
        record("01/03/26", 'A'),
        record("01/03/26", 'T'),
        "FFFFFFFFFFFFFFFF",
        "",
        record("02/03/26", 't'),  // lower case: a record, of no mode
        record("02/03/26", 'X'),
        record(" 5/03/26", 'R'),  // day " 5" reads as 5
        record("05/03/26", 'R'),
        "05/03/2",  // too short for the repeat shortcut, month 3 of year 2
        record("05/03/26", 'P'),  // the same date as two lines up
        record("31/12/25", 'P'),
        record("01/01/26", 'A'),
        record("07/3/26,", 'T'),  // month "3/" reads 3, year "6," reads 6
        "hello",  // no calendar month
        record("01/13/26", 'A'),  // month 13
        "ABORT\x1a",
    };
    for (const QByteArray &lineEnd : {QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r")}) {
        const QString file = path(QStringLiteral("months.csv"));
        QVERIFY(writeFile(file, dataFile(lines, lineEnd)));
        DataFileHandle slot;
        const Usage::AllMonthsReading all = Usage::ReadAllMonths(slot, file);
        QVERIFY(all.ok());
        QVERIFY(!slot.isOpen());
        QCOMPARE(all.undated, 2);  // "hello" and month 13
        QList<std::pair<int, int>> seen;
        for (const Usage::MonthUsage &m : all.months) {
            seen.append({m.year, m.month});
            const Usage::PeriodReading one = Usage::ReadMonthRecords(slot, file, m.month, m.year);
            QVERIFY(one.ok());
            QCOMPARE(m.records.n, one.records.n);
            QCOMPARE(m.records.modeRecords, one.records.modeRecords);
            QCOMPARE(m.records.firstDate, one.records.firstDate);
            QCOMPARE(m.records.lastDate, one.records.lastDate);
            QCOMPARE(m.records.dayMask, one.records.dayMask);
        }
        // Earliest first, and nothing more: months 12/2025, 3/2002, 3/2006, 1/2026, 3/2026.
        const QList<std::pair<int, int>> expected = {{2, 3}, {6, 3}, {25, 12}, {26, 1}, {26, 3}};
        QCOMPARE(seen, expected);
        const Usage::MonthUsage &march = all.months.last();
        QCOMPARE(march.records.n, 8);
        QCOMPARE(march.records.modeRecords, (std::array<qint64, 4>{2, 1, 2, 1}));
        QCOMPARE(march.records.firstDate, QByteArray("01/03/26"));
        QCOMPARE(march.records.lastDate, QByteArray("05/03/26"));
    }
}

void TestCliOffline::reportUsesTheWindowsAccounting()
{
    // 3,725 seconds of Transmitter in March: 1 Hrs 2 Mins 5 Secs, as the pie windows write it.
    QList<QByteArray> lines = QList<QByteArray>(3725, record("14/03/26", 'T'));
    lines += QList<QByteArray>(59, record("15/03/26", 'A'));
    lines += QList<QByteArray>(60, record("02/04/26", 'R'));
    const QString file = path(QStringLiteral("usage.csv"));
    QVERIFY(writeFile(file, dataFile(lines)));

    const CliResult text = RunCli({"report", file});
    QCOMPARE(text.status, 0);
    QVERIFY(text.err.isEmpty());
    const QString shown = QString::fromUtf8(text.out);
    QVERIFY(shown.contains(QStringLiteral("Locator LOC2000, Serial no. 001234. User: BOB")));
    QVERIFY(shown.contains(QStringLiteral("March 2026\n  DarAdar      0 Hrs 0 Mins 59 Secs\n"
                                          "  Transmitter  1 Hrs 2 Mins 5 Secs\n")));
    QVERIFY(shown.contains(QStringLiteral("  Total        1 Hrs 3 Mins 4 Secs\n")));
    QVERIFY(shown.contains(QStringLiteral("April 2026\n")));
    QVERIFY(shown.contains(QStringLiteral("All months\n")));

    // Every row of the CSV is the core accounting of its month.
    const CliResult csv = RunCli({"report", file, "--format", "csv"});
    QCOMPARE(csv.status, 0);
    QList<QByteArray> rows = csv.out.split('\n');
    QCOMPARE(rows.takeFirst(), QByteArray("file,model,serial,user,period,mode,seconds,duration"));
    rows.removeAll(QByteArray());
    QCOMPARE(rows.size(), 15);  // March, April and the whole file, five rows each
    DataFileHandle slot;
    auto countsOf
        = [&](int month) { return Usage::CountModes(Usage::ReadMonthRecords(slot, file, month, 26).records); };
    auto pick = [](const Usage::ModeCounts &c, const QByteArray &mode) -> qint64 {
        if (mode == "Total")
            return c.total;
        for (int m = 0; m < ModeTable::Count; ++m) {
            if (mode == QByteArray(ModeTable::Modes[std::size_t(m)].name.data()))
                return c.counts[std::size_t(m)];
        }
        return -1;
    };
    for (const QByteArray &row : rows) {
        const QList<QByteArray> f = row.split(',');
        QCOMPARE(f.size(), 8);
        QCOMPARE(f[0], file.toUtf8());
        QCOMPARE(f[1] + ',' + f[2] + ',' + f[3], QByteArray("LOC2000,001234,BOB"));
        const qint64 expected = f[4] == "all" ? pick(countsOf(3), f[5]) + pick(countsOf(4), f[5])
                                              : pick(countsOf(f[4].mid(5).toInt()), f[5]);
        QVERIFY(f[4] == "all" || f[4].startsWith("2026-0"));
        QCOMPARE(f[6].toLongLong(), expected);
        QCOMPARE(QString::fromUtf8(f[7]), Usage::PieDurationText(expected));
    }

    const CliResult json = RunCli({"report", file, "--format", "json", "--month", "03/2026"});
    QCOMPARE(json.status, 0);
    const QJsonObject root = QJsonDocument::fromJson(json.out).object();
    const QJsonObject march = root["files"][0]["periods"][0].toObject();
    QCOMPARE(march["period"].toString(), QStringLiteral("2026-03"));
    QCOMPARE(march["records"].toInteger(), 3784);
    QCOMPARE(march["modes"]["Transmitter"]["seconds"].toInteger(), 3725);
    QCOMPARE(march["total"]["duration"].toString(), QStringLiteral("1 Hrs 3 Mins 4 Secs"));
    QCOMPARE(root["files"][0]["identity"]["serial"].toString(), QStringLiteral("001234"));
    QVERIFY(!root.contains("sum"));
}

void TestCliOffline::reportSumsSeveralFiles()
{
    const QString a = path(QStringLiteral("a.csv"));
    const QString b = path(QStringLiteral("b, second.csv"));  // a comma to quote
    QVERIFY(writeFile(
        a, dataFile(QList<QByteArray>(100, record("01/03/26", 'A')) + QList<QByteArray>{record("01/04/26", 'P')})));
    QVERIFY(writeFile(
        b, dataFile(QList<QByteArray>(50, record("09/03/26", 'A')) + QList<QByteArray>{record("01/02/26", 'R')})));

    const CliResult csv = RunCli({"report", a, b, "--format", "csv"});
    QCOMPARE(csv.status, 0);
    QVERIFY(csv.out.contains("\"" + b.toUtf8() + "\",LOC2000"));
    QVERIFY(csv.out.contains(",,,,2026-02,Radio,1,"));
    QVERIFY(csv.out.contains(",,,,2026-03,DarAdar,150,0 Hrs 2 Mins 30 Secs\n"));
    QVERIFY(csv.out.contains(",,,,2026-04,Power,1,"));
    QVERIFY(csv.out.contains(",,,,all,Total,152,"));
    // The summed months come in calendar order.
    QVERIFY(csv.out.indexOf(",,,,2026-02") < csv.out.indexOf(",,,,2026-03"));

    // A user name that a spreadsheet would run as a formula is shown as text.
    const QString hostile = path(QStringLiteral("hostile.csv"));
    QByteArray header = kHeader;
    header.replace(3, 12, "=1+2@cmd|'/C");
    QVERIFY(writeFile(hostile, DataFileFormat::DefaultCommentBlock() + header + "\r\n" + record("01/03/26", 'A')));
    const CliResult quoted = RunCli({"report", hostile, "--format", "csv"});
    QVERIFY2(quoted.out.contains(",LOC2000,001234,'=1+2@cmd|'/C,2026-03,"), quoted.out);

    const CliResult text = RunCli({"report", a, b, "--month", "03/2026"});
    QCOMPARE(text.status, 0);
    QVERIFY(text.out.contains("All 2 files\nMarch 2026\n  DarAdar      0 Hrs 2 Mins 30 Secs\n"));

    const QJsonObject root = QJsonDocument::fromJson(RunCli({"report", a, b, "--format", "json"}).out).object();
    QCOMPARE(root["files"].toArray().size(), 2);
    QCOMPARE(root["sum"]["periods"].toArray().last()["total"]["seconds"].toInteger(), 152);
}

void TestCliOffline::reportOfADayAndOfAnEmptyMonth()
{
    const QString file = path(QStringLiteral("days.csv"));
    QVERIFY(writeFile(file, dataFile({record("05/03/26", 'A'), record("05/03/26", 'R'), record("06/03/26", 'R')})));

    const CliResult day = RunCli({"report", file, "--day", "05/03/2026", "--format", "csv"});
    QCOMPARE(day.status, 0);
    QVERIFY(day.out.contains(",2026-03-05,DarAdar,1,"));
    QVERIFY(day.out.contains(",2026-03-05,Radio,1,"));
    QVERIFY(day.out.contains(",2026-03-05,Total,2,"));

    const CliResult empty = RunCli({"report", file, "--month", "04/2026"});
    QCOMPARE(empty.status, 0);
    QVERIFY(empty.out.contains("April 2026\n  No data for April 2026\n"));
    const CliResult emptyDay = RunCli({"report", file, "--day", "07/03/2026"});
    QVERIFY(emptyDay.out.contains("07/03/2026\n  No data for chosen day\n"));
}

void TestCliOffline::reportFailuresNameTheFile()
{
    const QString good = path(QStringLiteral("good.csv"));
    const QString missing = path(QStringLiteral("missing.csv"));
    const QString onlyComments = path(QStringLiteral("comments.csv"));
    QVERIFY(writeFile(good, dataFile({record("05/03/26", 'A')})));
    QVERIFY(writeFile(onlyComments, DataFileFormat::DefaultCommentBlock()));

    // Nothing is reported when any file fails: a sum without it would look whole.
    const CliResult r = RunCli({"report", good, missing, onlyComments});
    QCOMPARE(r.status, int(Cli::Failure));
    QVERIFY(r.out.isEmpty());
    const QList<QByteArray> lines = r.errLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].contains("cannot be opened: " + missing.toUtf8()));
    QVERIFY(lines[1].contains(onlyComments.toUtf8() + ": the data file appears to be corrupt"));
}

void TestCliOffline::chartDrawsTheWindowsPie()
{
    const QString file = path(QStringLiteral("pie.csv"));
    QList<QByteArray> lines = QList<QByteArray>(300, record("14/03/26", 'T'));
    lines += QList<QByteArray>(200, record("15/03/26", 'P'));
    lines += QList<QByteArray>(100, record("15/04/26", 'A'));
    QVERIFY(writeFile(file, dataFile(lines)));

    const QString out = path(QStringLiteral("march"));  // no extension: written as given, still a JPEG
    const CliResult r = RunCli({"chart", file, "--month", "03/2026", "--out", out});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, out.toUtf8() + '\n');
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.read(3) == QByteArray("\xff\xd8\xff"));
    const QImage image(out, "JPG");
    QCOMPARE(image.size(), QSize(640, 480));
    // The month's two modes are drawn in their colours, the others not at all.
    QVERIFY(pixelsNear(image, modeColour(1)) > 5000);  // Transmitter
    QVERIFY(pixelsNear(image, modeColour(3)) > 3000);  // Power
    QVERIFY(pixelsNear(image, modeColour(0)) < 50);  // DarAdar: April only
    QVERIFY(pixelsNear(image, modeColour(2)) < 50);  // Radio: none
    QVERIFY(pixelsNear(image, QColor(255, 239, 213)) > 50000);  // the windows' chart ground

    const QString day = path(QStringLiteral("day.jpg"));
    const CliResult d = RunCli({"chart", file, "--day", "15/04/2026", "--out", day, "--size", "800x600"});
    QCOMPARE(d.status, 0);
    const QImage dayImage(day);
    QCOMPARE(dayImage.size(), QSize(800, 600));
    QVERIFY(pixelsNear(dayImage, modeColour(0)) > 5000);
    QVERIFY(pixelsNear(dayImage, modeColour(1)) < 50);
}

void TestCliOffline::chartWithoutDataWritesNothing()
{
    const QString file = path(QStringLiteral("pie.csv"));
    QVERIFY(writeFile(file, dataFile({record("14/03/26", 'T')})));
    const QString out = path(QStringLiteral("none.jpg"));

    const CliResult r = RunCli({"chart", file, "--month", "05/2026", "--out", out});
    QCOMPARE(r.status, int(Cli::Failure));
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY(r.err.contains("No data for May 2026 in " + file.toUtf8()));
    QVERIFY(!QFile::exists(out));

    const CliResult day = RunCli({"chart", file, "--day", "13/03/2026", "--out", out});
    QCOMPARE(day.status, int(Cli::Failure));
    QVERIFY(day.err.contains("No data for chosen day (13/03/2026)"));
    QVERIFY(!QFile::exists(out));

    const QString nowhere = path(QStringLiteral("no/such/folder/x.jpg"));
    const CliResult unwritable = RunCli({"chart", file, "--month", "03/2026", "--out", nowhere});
    QCOMPARE(unwritable.status, int(Cli::Failure));
    QVERIFY(unwritable.err.contains("cannot write the image " + nowhere.toUtf8()));
    QVERIFY(
        RunCli({"chart", path("missing.csv"), "--month", "03/2026", "--out", out}).err.contains("cannot be opened"));
}

void TestCliOffline::viewListsAndSortsAsTheViewer()
{
    const QString file = path(QStringLiteral("view.csv"));
    QVERIFY(writeFile(file,
                      dataFile({
                          "03/04/10,14:05:09,T,33KHz,D,1.25,17",
                          "03/04/10,09:00:00,A,0,S,-0.5,2",
                          "",
                          "01/04/10,23:59:59,R,0,0,LO,10",
                          "02/04/10,00:00:01,P,500Hz,C\"x,-10,10",
                      })));
    const QByteArray heading = "Date,Mode,Frequency,Measurement,Depth,Signal Strength\n";
    const QByteArray rowT = "03/04/10   14:05:09,T,33KHz,D,1.25,17\n";
    const QByteArray rowA = "03/04/10   09:00:00,A,0,S,-0.5,2\n";
    const QByteArray rowR = "01/04/10   23:59:59,R,0,0,LO,10\n";
    const QByteArray rowP = "02/04/10   00:00:01,P,500Hz,\"C\"\"x\",-10,10\n";

    const CliResult asRead = RunCli({"view", file});
    QCOMPARE(asRead.status, 0);
    QCOMPARE(asRead.out, heading + rowT + rowA + rowR + rowP);

    // Numbers by value (2 before 10), equal keys in file order.
    QCOMPARE(RunCli({"view", file, "--sort", "Signal Strength"}).out, heading + rowA + rowR + rowP + rowT);
    QCOMPARE(RunCli({"view", file, "--sort", "signal-strength", "--desc"}).out, heading + rowT + rowR + rowP + rowA);
    // A cell that is no number (LO) comes before every number.
    QCOMPARE(RunCli({"view", file, "--sort", "depth"}).out, heading + rowR + rowP + rowA + rowT);
    // Dates by date and time, not as text.
    QCOMPARE(RunCli({"view", file, "--sort", "1", "--desc"}).out, heading + rowT + rowA + rowP + rowR);
}

void TestCliOffline::viewFailures()
{
    const CliResult missing = RunCli({"view", path(QStringLiteral("missing.csv"))});
    QCOMPARE(missing.status, int(Cli::Failure));
    QVERIFY(missing.out.isEmpty());
    QCOMPARE(missing.errLines().size(), 1);
    QVERIFY(missing.err.contains("cannot be opened: " + path(QStringLiteral("missing.csv")).toUtf8()));

    const QString comments = path(QStringLiteral("comments.csv"));
    QVERIFY(writeFile(comments, DataFileFormat::DefaultCommentBlock()));
    const CliResult corrupt = RunCli({"view", comments});
    QCOMPARE(corrupt.status, int(Cli::Failure));
    QVERIFY(corrupt.err.contains("appears to be corrupt"));
}

void TestCliOffline::portsShowsWhereEachPortLeads()
{
    const QString ports = m_env->portsDir();
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("/COM12")));
    QVERIFY(QFile::link(path(QStringLiteral("gone")), ports + QStringLiteral("/COM3")));
    QVERIFY(writeFile(ports + QStringLiteral("/COMX"), "not a port"));
    QVERIFY(QDir().mkpath(QFileInfo(m_env->portListPath()).absolutePath()));
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,5\r\n"));

    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("/COM20")));
    const QString devices = m_env->devicesDir();
    QVERIFY(writeFile(devices + QStringLiteral("/ttyACM1"), ""));

    const CliResult r = RunCli({"ports"});
    QCOMPARE(r.status, 0);
    // 1 to 16 always, by link or by the device table; links beyond in number order.
    QString expected = QStringLiteral("Ports folder: %1\nDevice folder: %2\n").arg(ports, devices);
    const QStringList table = {"rfcomm0", "rfcomm1", "rfcomm2", "rfcomm3", "rfcomm4", "rfcomm5", "rfcomm6", "rfcomm7",
                               "ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3", "ttyACM0", "ttyACM1", "ttyACM2", "ttyACM3"};
    for (int n = 1; n <= 16; ++n) {
        if (n == 3)
            expected += QStringLiteral("COM3 -> %1 (link, missing)\n").arg(path(QStringLiteral("gone")));
        else if (n == 12)
            expected += QStringLiteral("COM12 -> /dev/null (link)\n");
        else if (n == 14)
            expected += QStringLiteral("COM14 -> %1/ttyACM1\n").arg(devices);
        else
            expected += QStringLiteral("COM%1 -> %2/%3 (not present)\n").arg(n).arg(devices, table[n - 1]);
    }
    expected += QStringLiteral("COM20 -> /dev/null (link)\nPort list: %1\n001234 on COM5\n").arg(m_env->portListPath());
    QCOMPARE(QString::fromUtf8(r.out), expected);
}

QTEST_MAIN(TestCliOffline)
#include "test_cli_offline.moc"
