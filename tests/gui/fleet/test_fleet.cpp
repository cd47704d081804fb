// The Fleet window against real SQLite archives, headless.
#include "gui/fleet/frmFleet.h"

#include "ArchiveFiles.h"
#include "CliRunner.h"
#include "ScriptedInteraction.h"
#include "core/archive/Archive.h"
#include "gui/fleet/ArchiveSettingsDialog.h"
#include "gui/fleet/FleetSettings.h"
#include "gui/fleet/ImportDialog.h"
#include "gui/fleet/PasswordStore.h"

#include <QChart>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPieSeries>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>

namespace {

constexpr int kWaitMs = 60000;

// The keyring, answered from memory, later (as the real one answers).
class MemoryPasswordStore : public PasswordStore
{
public:
    MemoryPasswordStore() { install(this); }
    ~MemoryPasswordStore() override { install(nullptr); }

    std::map<QString, QString> kept;
    QString failure;  // set: every call fails with it
    int reads = 0;

    void read(const QString &key, QObject *context, Done done) override
    {
        ++reads;
        Answer a;
        a.ok = failure.isEmpty();
        a.error = failure;
        if (a.ok && kept.count(key)) {
            a.found = true;
            a.password = kept[key];
        }
        QTimer::singleShot(0, context, [done, a] { done(a); });
    }
    void write(const QString &key, const QString &password, QObject *context, Done done) override
    {
        Answer a;
        a.ok = failure.isEmpty();
        a.error = failure;
        if (a.ok)
            kept[key] = password;
        QTimer::singleShot(0, context, [done, a] { done(a); });
    }
};

// A data file of `count` seconds from `start` for a locator and user.
QString writeFile(const QString &path, const QByteArray &serial, const QByteArray &user, const QDateTime &start,
                  int count)
{
    QByteArray bytes = DataFileFormat::DefaultCommentBlock() + ArchiveFiles::Header(serial, user) + "\r\n";
    bytes.reserve(bytes.size() + qsizetype(count) * 40);
    for (int i = 0; i < count; ++i)
        bytes += ArchiveFiles::Record(start.addSecs(i), "ATRPX"[(i / 7) % 5]) + "\r\n";
    return ArchiveFiles::Write(path, bytes + '\x1a');
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestFleet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void importCancelKeepsFinishedFiles();
    void usageAsCliReportsIt();
    void locatorsMarkedOverdue();
    void passwordOnlyInKeyring();

private:
    QTemporaryDir m_dir;
    QString m_db;  // three locators' usage over three months
    ScriptedInteraction m_ui;
    MemoryPasswordStore m_keyring;
};

void TestFleet::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
    qunsetenv("LOCATOR_ARCHIVE");
    m_db = m_dir.filePath(QStringLiteral("fleet.sqlite"));
    const QStringList files
        = {writeFile(m_dir.filePath(QStringLiteral("f/a.csv")), "1001", "BOB", QDateTime({2026, 1, 30}, {23, 0}), 9000),
           writeFile(m_dir.filePath(QStringLiteral("f/b.csv")), "1001", "ANN", QDateTime({2026, 3, 2}, {8, 0}), 5000),
           writeFile(m_dir.filePath(QStringLiteral("f/c.csv")), "2002", "BOB", QDateTime({2026, 2, 14}, {9, 0}), 7000),
           writeFile(m_dir.filePath(QStringLiteral("f/d.csv")), "3003", "CAROL, JR", QDateTime({2026, 2, 1}, {7, 0}),
                     3000)};
    const CliResult r = RunCli(QStringList{"archive", "import", "--database", m_db} + files);
    QVERIFY2(r.status == 0, r.err.constData());
}

// Each file is one transaction: Cancel rolls back the file under way, keeps
// the ones before it and starts none after it; importing again finishes.
void TestFleet::importCancelKeepsFinishedFiles()
{
    const QString db = m_dir.filePath(QStringLiteral("import.sqlite"));
    const QDateTime start({2026, 4, 1}, {0, 0});
    const QStringList files
        = {writeFile(m_dir.filePath(QStringLiteral("i/1.csv")), "501", "BOB", start, 1000),
           writeFile(m_dir.filePath(QStringLiteral("i/2.csv")), "502", "BOB", start, 1500),
           // Long enough to be under way when Cancel comes.
           writeFile(m_dir.filePath(QStringLiteral("i/3.csv")), "501", "BOB", start.addDays(2), 800000),
           writeFile(m_dir.filePath(QStringLiteral("i/4.csv")), "503", "ANN", start, 200)};
    frmFleet w(db);
    w.show();
    // A folder stands for its .csv files, in name order; each is listed once.
    w.openImport({files.at(0), m_dir.filePath(QStringLiteral("i"))});
    ImportDialog *dialog = w.importDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->files(), files);

    QSignalSpy ended(dialog, &ImportDialog::importEnded);
    QTest::mouseClick(dialog->importButton(), Qt::LeftButton);
    QVERIFY(dialog->isImporting());
    QVERIFY(!dialog->importButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->outcomes().at(2).state == ImportDialog::FileOutcome::Importing, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->progressBar()->value() > 0, kWaitMs);
    QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    QVERIFY(ended.wait(kWaitMs));
    QVERIFY(!dialog->isImporting());
    using O = ImportDialog::FileOutcome;
    QCOMPARE(dialog->outcomes().at(0).state, O::Imported);
    QCOMPARE(dialog->outcomes().at(1).state, O::Imported);
    QCOMPARE(dialog->outcomes().at(2).state, O::Cancelled);
    QCOMPARE(dialog->outcomes().at(3).state, O::Waiting);
    QCOMPARE(dialog->outcomes().at(1).counts.added, 1500);
    QCOMPARE(dialog->summaryTable()->item(2, 1)->text(), QStringLiteral("Cancelled, nothing of it kept"));
    QCOMPARE(dialog->summaryTable()->item(3, 1)->text(), QStringLiteral("Not imported"));
    QCOMPARE(dialog->summaryTable()->item(1, 2)->text(), QStringLiteral("1500"));
    {
        Archive::Store store;
        QString error;
        Archive::Location location;
        location.path = db;
        QVERIFY2(store.open(location, &error, Archive::Store::ExistingOnly), qPrintable(error));
        QCOMPARE(store.recordCount(), 2500);
    }
    // The window shows what the archive holds now.
    QTRY_COMPARE_WITH_TIMEOUT(w.locatorModel().rowCount(), 2, kWaitMs);

    // Again, to the end: the finished files are known, the rest added.
    QTest::mouseClick(dialog->importButton(), Qt::LeftButton);
    QVERIFY(ended.wait(kWaitMs));
    QCOMPARE(dialog->outcomes().at(0).state, O::AlreadyImported);
    QCOMPARE(dialog->outcomes().at(0).counts.duplicates, 1000);
    QCOMPARE(dialog->outcomes().at(2).state, O::Imported);
    QCOMPARE(dialog->outcomes().at(2).counts.added, 800000);
    QCOMPARE(dialog->outcomes().at(3).state, O::Imported);
    QCOMPARE(dialog->progressBar()->value(), dialog->progressBar()->maximum());
    QCOMPARE(dialog->summaryText(),
             QStringLiteral("4 of 4 files imported: 800200 new, 2500 duplicate, 0 skipped, 0 conflicts"));
    QTRY_COMPARE_WITH_TIMEOUT(w.locatorModel().rowCount(), 3, kWaitMs);
}

// Every grouping shows the groups and totals `locator-cli archive report`
// prints for the same days, and the exports are its CSV and HTML.
void TestFleet::usageAsCliReportsIt()
{
    frmFleet w(m_db);
    w.show();
    const QDate from(2026, 1, 31), to(2026, 3, 1);  // cuts into the first and the second locator's files
    QSignalSpy shown(&w, &frmFleet::usageShown);
    QSignalSpy exported(&w, &frmFleet::exported);
    for (const char *by : {"locator", "user", "month", "day"}) {
        Archive::GroupBy g;
        QVERIFY(Archive::ParseGroupBy(QString::fromLatin1(by), &g));
        w.showUsage(from, to, g);
        QTRY_VERIFY_WITH_TIMEOUT(!w.busy() && !shown.isEmpty(), kWaitMs);
        shown.clear();
        const CliResult cli = RunCli({"archive", "report", "--database", m_db, "--by", by, "--from", "31/01/2026",
                                      "--to", "01/03/2026", "--format", "csv"});
        QCOMPARE(cli.status, 0);

        // The CLI's "Total" rows, group by group, then the whole period.
        QStringList totals;
        for (const QByteArray &line : cli.out.split('\n')) {
            if (line.contains(",Total,"))
                totals << QString::fromUtf8(line.mid(line.lastIndexOf(',') + 1));
        }
        const int groups = w.usageModel().rowCount();
        QCOMPARE(groups, totals.size() - 1);
        const int totalColumn = w.usageModel().columnCount() - 1;
        for (int row = 0; row < groups; ++row)
            QCOMPARE(w.usageModel().index(row, totalColumn).data().toString(), totals.at(row));
        QVERIFY(w.totalLabel()->text().endsWith(totals.last() + QStringLiteral(" in all")));

        const QString csv = m_dir.filePath(QStringLiteral("out-%1.csv").arg(by));
        m_ui.saveFiles.enqueue(csv);
        w.exportCsv();
        QVERIFY(exported.wait(kWaitMs));
        QCOMPARE(readAll(csv), cli.out);
    }
    QCOMPARE(w.usageModel().rowCount(), 3);  // by day: the days from..to with usage

    const QString html = m_dir.filePath(QStringLiteral("out.html"));
    m_ui.saveFiles.enqueue(html);
    w.exportHtml();
    QVERIFY(exported.wait(kWaitMs));
    QCOMPARE(readAll(html),
             RunCli({"archive", "report", "--database", m_db, "--by", "day", "--from", "31/01/2026", "--to",
                     "01/03/2026", "--format", "html"})
                 .out);

    // The pie follows the chosen rows.
    w.showUsage(from, to, Archive::GroupBy::Locator);
    QVERIFY(shown.wait(kWaitMs));
    QCOMPARE(w.usageModel().rowCount(), 3);
    w.usageView()->selectRow(1);
    auto *pie = qobject_cast<QPieSeries *>(w.pieChart()->series().value(0));
    QVERIFY(pie);
    const auto *proxy = static_cast<QSortFilterProxyModel *>(w.usageView()->model());
    const Archive::UsageGroup &chosen = w.usageModel().groups().at(proxy->mapToSource(proxy->index(1, 0)).row());
    QCOMPARE(qint64(pie->sum()), chosen.total);
    QCOMPARE(w.barChart()->series().size(), 1);

    exported.clear();
    for (const char *name : {"chart.png", "chart.jpg"}) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        m_ui.saveFiles.enqueue(path);
        w.saveChart();
        QVERIFY2(!exported.isEmpty(), qPrintable(w.statusLabel()->text()));
        QCOMPARE(exported.takeLast().at(0).toString(), path);
        const QImage image(path);
        QVERIFY(!image.isNull());
        QVERIFY(image.width() > 200);
    }
}

void TestFleet::locatorsMarkedOverdue()
{
    frmFleet w(m_db);
    QSignalSpy shown(&w, &frmFleet::locatorsShown);
    QVERIFY(shown.wait(kWaitMs));
    Fleet::LocatorModel &m = w.locatorModel();
    QCOMPARE(m.rowCount(), 3);
    const Archive::LocatorSummary &l = m.locator(0);
    QCOMPARE(l.serial, QStringLiteral("1001"));
    QCOMPARE(l.model, QStringLiteral("LOC2000"));
    QCOMPARE(l.lastUser, QStringLiteral("ANN"));  // the user of its last second
    QCOMPARE(l.firstDay, QDate(2026, 1, 30));
    QCOMPARE(l.lastDay, QDate(2026, 3, 2));
    QCOMPARE(l.records, 14000);
    QVERIFY(l.lastSynced.isValid());
    QCOMPARE(m.index(0, Fleet::LocatorModel::FirstDay).data().toString(), QStringLiteral("30/01/2026"));

    // Not synced for ten days: marked only once the limit is below that.
    m_ui.clock.set(l.lastSynced.toLocalTime().addDays(10));
    QCOMPARE(w.overdueDays()->value(), FleetSettings::DefaultOverdueDays);
    w.overdueDays()->setValue(15);
    QVERIFY(!m.isOverdue(0));
    QVERIFY(!m.index(0, 0).data(Qt::BackgroundRole).isValid());
    w.overdueDays()->setValue(9);
    QVERIFY(m.isOverdue(0));
    QVERIFY(m.index(0, 0).data(Qt::BackgroundRole).isValid());
    QCOMPARE(FleetSettings::overdueDays(), 9);  // remembered
    FleetSettings::setOverdueDays(FleetSettings::DefaultOverdueDays);
    m_ui.clock.set({});
}

// The PostgreSQL archive's password goes to the keyring and nowhere else;
// the window reads it back from there; errors come with what to do.
void TestFleet::passwordOnlyInKeyring()
{
    // The server answers nothing (port 1), so only what the window does with
    // the password shows.
    const QString address = QStringLiteral("host=127.0.0.1 port=1 dbname=fleet user=alice connect_timeout=2");
    {
        frmFleet w(m_db);
        w.openSettings();
        ArchiveSettingsDialog *d = w.settingsDialog();
        QVERIFY(d);
        QVERIFY(d->sqliteChoice()->isChecked());
        d->postgresChoice()->setChecked(true);
        d->connectionEdit()->setText(address);
        d->passwordEdit()->setText(QStringLiteral("s3cret"));
        QTest::mouseClick(d->testButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(d->resultLabel()->text().contains(QLatin1String("Check the server's address")),
                                 kWaitMs);

        m_keyring.failure = QStringLiteral("no secret service");
        QTest::mouseClick(d->okButton(), Qt::LeftButton);
        QTRY_VERIFY(d->resultLabel()->text().contains(QLatin1String("no secret service")));
        QVERIFY(d->resultLabel()->text().contains(QLatin1String("~/.pgpass")));
        QVERIFY(FleetSettings::archiveText().isEmpty());  // nothing saved without the password kept
        m_keyring.failure.clear();
        QTest::mouseClick(d->okButton(), Qt::LeftButton);
        QTRY_VERIFY(!w.settingsDialog());
        QCOMPARE(w.archive().kind, Archive::Location::Postgres);
    }
    QCOMPARE(m_keyring.kept.size(), std::size_t(1));
    QCOMPARE(m_keyring.kept.begin()->second, QStringLiteral("s3cret"));
    QVERIFY(!FleetSettings::archiveText().isEmpty());
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("korvex"),
                       QStringLiteral("locator-toolkit"));
    settings.sync();
    QVERIFY(!readAll(settings.fileName()).contains("s3cret"));

    // A new window takes the archive from the settings and its password
    // from the keyring, then says why the server cannot be reached.
    const int reads = m_keyring.reads;
    {
        frmFleet w;
        QCOMPARE(w.archive().kind, Archive::Location::Postgres);
        QTRY_COMPARE(w.archive().password, QStringLiteral("s3cret"));
        QCOMPARE(m_keyring.reads, reads + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!w.busy(), kWaitMs);
        QVERIFY(w.statusLabel()->text().contains(QLatin1String("Check the server's address")));
    }
    FleetSettings::setArchiveText(QString());
}

QTEST_MAIN(TestFleet)
#include "test_fleet.moc"
