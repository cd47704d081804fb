// locator-cli sync against the simulated locator and a real SQLite archive:
// only what the archive lacks is asked for, the file is the one a transfer
// writes, and a link lost part-way leaves file and archive in agreement.
#include "ArchiveFiles.h"
#include "LinkFixture.h"
#include "core/archive/Archive.h"
#include "core/clock/Clock.h"
#include "core/datafile/DataFileFormat.h"
#include "core/link/PortList.h"

#include <QDate>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

namespace {

using LinkFixture::paced;

constexpr int kCom = 5;

QString shortDate(const QDate &d)
{
    return d.toString(QStringLiteral("dd/MM/yy"));
}

// One line of a sync's output: the file and the import's counts.
struct SyncLine
{
    QString path;
    qint64 added = -1, duplicates = -1, skipped = -1, conflicts = -1;
};

SyncLine readSyncLine(const QByteArray &line)
{
    static const QRegularExpression form(QStringLiteral(
        "^(.*): (\\d+) new, (\\d+) duplicate, (\\d+) skipped, (\\d+) conflicts( \\(already imported\\))?$"));
    const QRegularExpressionMatch m = form.match(QString::fromUtf8(line.trimmed()));
    if (!m.hasMatch())
        return {};
    return {m.captured(1), m.captured(2).toLongLong(), m.captured(3).toLongLong(), m.captured(4).toLongLong(),
            m.captured(5).toLongLong()};
}

}  // namespace

class TestCliSync : public QObject, private LinkFixture::SimulatedLocators
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void emptyArchiveTakesEverything();
    void archiveUpToYesterdayAsksFromYesterday();
    void lostLinkKeepsWhatArrivedAndTheNextSyncCompletes_data();
    void lostLinkKeepsWhatArrivedAndTheNextSyncCompletes();
    void watchSyncsEachAppearance();
    void rangeFollowsTheLocatorsClock_data();
    void rangeFollowsTheLocatorsClock();
    void watchRetriesAFailedSyncWhileTheLocatorStays_data();
    void watchRetriesAFailedSyncWhileTheLocatorStays();
    void watchServesEveryKnownPort();

private:
    QString database() const { return m_env->root() + QStringLiteral("/archive.sqlite"); }
    CliResult sync(QStringList more = {})
    {
        return RunCli(paced(
            QStringList{"sync", "--port", QString::number(kCom), "--out", outDir(), "--database", database()} + more));
    }
    // Records archived before the sync, as an earlier import left them.
    void archiveBefore(const QList<QByteArray> &records)
    {
        const QString earlier = ArchiveFiles::Write(m_env->root() + "/earlier.csv",
                                                    ArchiveFiles::DataFile(records, ArchiveFiles::Header("001234")));
        QCOMPARE(RunCli({"archive", "import", earlier, "--database", database()}).status, 0);
    }
    static int count(const QStringList &list, const QString &item)
    {
        return int(std::count(list.begin(), list.end(), item));
    }
    // The event lines of sync --watch, past their date and time.
    static QStringList events(const QByteArray &out)
    {
        QStringList lines;
        for (const QByteArray &line : out.trimmed().split('\n'))
            lines << QString::fromUtf8(line).section(' ', 2);
        return lines;
    }
    qint64 archivedRecords() const { return ArchiveFiles::ArchivedRecords(database()); }
    // The commands of the last sync: after its identify exchange and the clock's question.
    static QString transferCommand(const sim::LocatorSimulator &s)
    {
        const QStringList all = commandsOf(s);
        return all.size() >= 4 && all[all.size() - 4] == "MM" && all[all.size() - 3] == "#X"
                && all[all.size() - 2] == "#AE"
            ? all.last()
            : QString();
    }
};

void TestCliSync::emptyArchiveTakesEverything()
{
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 400;
    sim::LocatorSimulator *s = startSim(kCom, cfg);

    const CliResult r = sync();
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    QCOMPARE(commandsOf(*s), (QStringList{"MM", "#X", "#AE", "#DA"}));
    const SyncLine line = readSyncLine(r.out);
    QCOMPARE(line.added, qint64(s->recordCount()));
    QCOMPARE(line.duplicates + line.conflicts, 0);
    // The file a transfer writes: the comment block, then every byte sent.
    QCOMPARE(readFile(line.path), DataFileFormat::DefaultCommentBlock() + bytes(s->lastTransfer()));
    QCOMPARE(archivedRecords(), qint64(s->recordCount()));
}

void TestCliSync::archiveUpToYesterdayAsksFromYesterday()
{
    const QDate today = Clock::today();
    const QDate yesterday = today.addDays(-1);
    // Today's records are on the locator; the archive holds yesterday's
    // (before the locator's first session of a day, so no second is shared).
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 200;
    cfg.months = 0;
    cfg.endDate = sim::Date{today.year(), today.month(), today.day()};
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    const QString earlier
        = ArchiveFiles::Write(m_env->root() + "/earlier.csv",
                              ArchiveFiles::DataFile(ArchiveFiles::Seconds(QDateTime(yesterday, QTime(5, 0)), 30),
                                                     ArchiveFiles::Header("001234")));
    QCOMPARE(RunCli({"archive", "import", earlier, "--database", database()}).status, 0);

    const CliResult r = sync();
    QCOMPARE(r.status, 0);
    QCOMPARE(transferCommand(*s), "#DD" + shortDate(yesterday) + "," + shortDate(today));
    const SyncLine first = readSyncLine(r.out);
    QCOMPARE(first.added, qint64(s->recordCount()));
    QCOMPARE(archivedRecords(), 30 + s->recordCount());

    // Again: today is asked for once more, and nothing of it is new (the
    // file has the bytes of the first one, so the archive knows it at once).
    const CliResult again = sync();
    QCOMPARE(again.status, 0);
    QCOMPARE(transferCommand(*s), "#DD" + shortDate(today) + "," + shortDate(today));
    const SyncLine second = readSyncLine(again.out);
    QCOMPARE(second.added, 0);
    QCOMPARE(second.duplicates, qint64(s->recordCount()));
    QCOMPARE(archivedRecords(), 30 + s->recordCount());
}

void TestCliSync::lostLinkKeepsWhatArrivedAndTheNextSyncCompletes_data()
{
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<QByteArray>("says");
    QTest::newRow("power-down") << false << QByteArray("the locator on port 5 powered down during the transfer");
    // The device goes part-way through a line: the cut line is no record.
    QTest::newRow("unplugged") << true << QByteArray("port 5 was lost during the transfer");
}

void TestCliSync::lostLinkKeepsWhatArrivedAndTheNextSyncCompletes()
{
    QFETCH(bool, unplug);
    QFETCH(QByteArray, says);
    sim::SimConfig cfg;
    cfg.targetRecords = 600;  // at line rate, time enough to stop part-way
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    // Once the file holds some of it (what the simulator has sent may not
    // have arrived yet on a busy machine).
    auto fileGrown = [this] {
        const QFileInfoList files = QDir(outDir()).entryInfoList(QDir::Files);
        return !files.isEmpty() && files.first().size() > DataFileFormat::DefaultCommentBlock().size() + 1500;
    };
    CliResult r;
    {
        LinkFixture::Trigger lose(fileGrown, [s, unplug] { unplug ? s->vanish() : s->powerDown(); });
        r = sync();
    }
    QCOMPARE(r.status, int(Cli::Failure));
    const SyncLine partial = readSyncLine(r.out);
    QVERIFY2(!partial.path.isEmpty(), r.out.constData());
    QCOMPARE(r.errLines(),
             (QList<QByteArray>{"locator-cli sync: " + says + "; what arrived is in " + partial.path.toUtf8()}));
    // The file keeps what arrived, and the archive holds exactly its records.
    const QByteArray file = readFile(partial.path);
    QVERIFY((DataFileFormat::DefaultCommentBlock() + bytes(s->lastTransfer())).startsWith(file));
    const qint64 arrived = ArchiveFiles::RecordLines(file);
    QVERIFY(arrived > 10 && arrived < s->recordCount());
    QCOMPARE(partial.added, arrived);
    QCOMPARE(archivedRecords(), arrived);

    // Back again: the rest comes, from the day the partial file ended on.
    if (unplug)
        QVERIFY(s->start(link(kCom).toStdString()));
    s->setSilent(false);
    s->setThrottled(false);
    const CliResult rest = sync();
    QCOMPARE(rest.status, 0);
    QVERIFY(transferCommand(*s).startsWith("#DD"));
    const SyncLine completed = readSyncLine(rest.out);
    QVERIFY(completed.duplicates > 0);  // that day's records, archived already
    QCOMPARE(completed.conflicts, 0);
    QCOMPARE(archivedRecords(), qint64(s->recordCount()));
}

void TestCliSync::watchSyncsEachAppearance()
{
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 200;
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    auto heardAfter = [s](const QString &command, const QString &then) {
        const QStringList all = commandsOf(*s);
        const qsizetype at = all.lastIndexOf(command);
        return at >= 0 && all.indexOf(then, at + 1) > at;
    };
    qsizetype silentFrom = -1;
    // Synced once (the next identify exchange has gone out): switched off;
    // found gone: switched on; synced again: Ctrl+C.
    LinkFixture::Script script({
        {[&] { return heardAfter("#DA", "#X"); },
         [&] {
             s->setSilent(true);
             silentFrom = commandsOf(*s).size();
         }},
        {[&] { return commandsOf(*s).indexOf("#X", silentFrom) >= 0; }, [&] { s->setSilent(false); }},
        {[&] {
             const QStringList all = commandsOf(*s);
             return !all.filter(QRegularExpression("^#DD")).isEmpty()
                 && all.indexOf("#X", all.indexOf(QRegularExpression("^#DD")) + 1) > 0;
         },
         [] { Cli::RequestInterrupt(); }},
    });
    const CliResult r = sync({"--watch", "--poll-seconds", "0"});
    QCOMPARE(script.done(), std::size_t(3));
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.isEmpty(), r.err.constData());

    QStringList events;
    for (const QByteArray &line : r.out.trimmed().split('\n'))
        events << QString::fromUtf8(line).section(' ', 2);  // past the date and time
    QCOMPARE(events.size(), 6);
    QCOMPARE(events[0], "waiting for a locator on port 5");
    QCOMPARE(events[1], "LOC2000 001234 (user BOB) appeared on port 5");
    QVERIFY2(events[2].startsWith("synced LOC2000 001234, "), qPrintable(events[2]));
    QCOMPARE(events[3], "LOC2000 001234 left port 5");
    QCOMPARE(events[4], events[1]);
    QVERIFY2(events[5].startsWith("synced LOC2000 001234, "), qPrintable(events[5]));
    const SyncLine first = readSyncLine(events[2].section(", ", 1).toUtf8());
    const SyncLine second = readSyncLine(events[5].section(", ", 1).toUtf8());
    QCOMPARE(first.added, qint64(s->recordCount()));
    QCOMPARE(second.added, 0);
    QVERIFY(second.duplicates > 0);
    QCOMPARE(archivedRecords(), qint64(s->recordCount()));
    QCOMPARE(commandsOf(*s).filter(QRegularExpression("^#D[AD]")).size(), 2);
}

void TestCliSync::rangeFollowsTheLocatorsClock_data()
{
    QTest::addColumn<int>("clockOffsetDays");
    QTest::addColumn<bool>("answersClock");
    QTest::addColumn<int>("recordsDaysAgo");  // the day the locator's records carry
    QTest::addColumn<bool>("futureRecord");  // the archive holds one dated a month ahead
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<int>("warningLines");
    const QDate today = Clock::today();
    const QString yesterday = shortDate(today.addDays(-1));
    // Reset clock: its new records lie before the last archived second, and
    // a range from that second would never ask for them.
    QTest::newRow("clock behind the archive")
        << -40 << true << 40 << false << "#DA"
        << QStringList{"is before its last archived record",
                       "counting as duplicate; set its clock: locator-cli set-clock --port 5"}
        << 1;
    // A record dated by a clock running ahead must not become the mark, or
    // every later range starts after today.
    QTest::newRow("clock ahead, future record archived")
        << 3 << true << 0 << true << "#DD" + yesterday + "," + shortDate(today.addDays(3))
        << QStringList{"1 archived records of this locator are dated more than a day after this computer's clock",
                       "ahead of this computer's; set its clock: locator-cli set-clock --port 5"}
        << 2;
    QTest::newRow("no clock reply") << 0 << false << 0 << false << "#DD" + yesterday + "," + shortDate(today)
                                    << QStringList{"did not tell its date and time"} << 1;
}

void TestCliSync::rangeFollowsTheLocatorsClock()
{
    QFETCH(int, clockOffsetDays);
    QFETCH(bool, answersClock);
    QFETCH(int, recordsDaysAgo);
    QFETCH(bool, futureRecord);
    QFETCH(QString, command);
    QFETCH(QStringList, warnings);
    QFETCH(int, warningLines);
    const QDate today = Clock::today();
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 100;
    cfg.months = 0;
    const QDate end = today.addDays(-recordsDaysAgo);
    cfg.endDate = sim::Date{end.year(), end.month(), end.day()};
    cfg.clockOffsetSeconds = qint64(clockOffsetDays) * 86400;
    cfg.answersClock = answersClock;
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    QList<QByteArray> earlier = ArchiveFiles::Seconds(QDateTime(today.addDays(-1), QTime(5, 0)), 30);
    if (futureRecord)
        earlier << ArchiveFiles::Record(QDateTime(today.addDays(30), QTime(12, 0)), 'T');
    archiveBefore(earlier);
    const qint64 before = archivedRecords();

    const CliResult r = sync();
    QCOMPARE(r.status, 0);
    QCOMPARE(transferCommand(*s), command);
    for (const QString &warning : warnings)
        QVERIFY2(r.err.contains(warning.toUtf8()), r.err.constData());
    QCOMPARE(r.errLines().size(), warningLines);
    const SyncLine line = readSyncLine(r.out);
    QCOMPARE(line.added, qint64(s->recordCount()));
    QCOMPARE(archivedRecords(), before + s->recordCount());
}

void TestCliSync::watchRetriesAFailedSyncWhileTheLocatorStays_data()
{
    QTest::addColumn<bool>("archiveBack");
    QTest::newRow("archive back") << true;
    // Ctrl+C while the locator is there and its last sync failed.
    QTest::newRow("archive still gone") << false;
}

void TestCliSync::watchRetriesAFailedSyncWhileTheLocatorStays()
{
    QFETCH(bool, archiveBack);
    sim::SimConfig cfg;
    cfg.throttled = false;
    cfg.targetRecords = 100;
    sim::LocatorSimulator *s = startSim(kCom, cfg);
    // The archive is gone (a folder where its file was) once the watch has
    // started, as a database server that goes down: each sync opens it
    // afresh, so the one after it is back succeeds.
    auto afterSecondFailure = [s] {
        const QStringList all = commandsOf(*s);
        return count(all, "#AE") >= 2 && all.indexOf("#X", all.lastIndexOf("#AE")) > 0;
    };
    LinkFixture::Script script({
        {[s] { return commandsOf(*s).contains("#X"); },
         [this] { QVERIFY(QFile::remove(database()) && QDir().mkpath(database())); }},
        {afterSecondFailure,
         [&] {
             if (!archiveBack)
                 return Cli::RequestInterrupt();
             QVERIFY(QDir(database()).removeRecursively());
         }},
        {[&] {
             const QStringList all = commandsOf(*s);
             return !archiveBack || (all.contains("#DA") && all.indexOf("#X", all.indexOf("#DA")) > 0);
         },
         [&] {
             if (archiveBack)
                 Cli::RequestInterrupt();
         }},
    });
    const CliResult r = sync({"--watch", "--poll-seconds", "0", "--retry-seconds", "1"});
    QCOMPARE(script.done(), std::size_t(archiveBack ? 3 : 2));
    QCOMPARE(r.status, archiveBack ? 0 : int(Cli::Failure));
    QVERIFY2(r.err.contains("is a folder, not an archive file"), r.err.constData());
    const QStringList e = events(r.out);
    QCOMPARE(e.mid(1, 4),
             (QStringList{"LOC2000 001234 (user BOB) appeared on port 5",
                          "sync of LOC2000 001234 on port 5 failed; trying again in 1 s while it stays",
                          "trying LOC2000 001234 on port 5 again",
                          "sync of LOC2000 001234 on port 5 failed; trying again in 2 s while it stays"}));
    if (archiveBack) {
        QCOMPARE(e.size(), 7);
        QCOMPARE(e[5], "trying LOC2000 001234 on port 5 again");
        QCOMPARE(readSyncLine(e[6].section(", ", 1).toUtf8()).added, qint64(s->recordCount()));
        QCOMPARE(archivedRecords(), qint64(s->recordCount()));
    } else {
        QCOMPARE(e.size(), 5);
    }
    // Nothing is transferred while the archive cannot take it.
    QCOMPARE(count(commandsOf(*s), "#DA"), archiveBack ? 1 : 0);
}

void TestCliSync::watchServesEveryKnownPort()
{
    sim::SimConfig first;
    first.throttled = false;
    first.targetRecords = 100;
    sim::SimConfig second = first;
    second.serial = "009999";
    second.user = "ANN";
    second.seed = 2;
    sim::LocatorSimulator *a = startSim(kCom, first);
    sim::LocatorSimulator *b = startSim(7, second);
    // As scan --remember leaves it: both locators, and one entry that is no port.
    QVERIFY(PortList::SavePortList(m_env->portListPath(), {{"001234", "5"}, {"009999", "7"}, {"000001", "x"}}));
    auto synced = [](sim::LocatorSimulator *s) {
        const QStringList all = commandsOf(*s);
        return all.contains("#DA") && all.indexOf("#X", all.indexOf("#DA")) > 0;
    };
    LinkFixture::Trigger stop([&] { return synced(a) && synced(b); }, [] { Cli::RequestInterrupt(); });
    const CliResult r = sync({"--watch", "--known", "--poll-seconds", "0"});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QStringList e = events(r.out);
    QCOMPARE(e.size(), 6);
    QCOMPARE(e.mid(0, 2), (QStringList{"waiting for a locator on port 5", "waiting for a locator on port 7"}));
    QVERIFY(e.contains("LOC2000 001234 (user BOB) appeared on port 5"));
    QVERIFY(e.contains("LOC2000 009999 (user ANN) appeared on port 7"));
    QCOMPARE(e.filter(QRegularExpression("^synced LOC2000 (001234|009999), ")).size(), 2);
    QCOMPARE(archivedRecords(), qint64(a->recordCount() + b->recordCount()));
}

QTEST_MAIN(TestCliSync)
#include "test_cli_sync.moc"
