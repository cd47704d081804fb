// The archive on SQLite files, and `locator-cli archive` end to end.
#include "ArchiveScenarios.h"

#include "../cli/CliRunner.h"
#include "TestEnvironment.h"
#include "core/archive/ArchiveLocation.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

class TestArchiveSqlite : public ArchiveScenarios
{
    Q_OBJECT

    int m_next = 0;

    Archive::Location freshArchive() override
    {
        Archive::Location where;
        where.path = files.filePath(QStringLiteral("archive-%1.sqlite").arg(++m_next));
        return where;
    }
    void injectFailureAt(qint64 t) override
    {
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER injected BEFORE INSERT ON records WHEN NEW.t = %1"
                                      " BEGIN SELECT RAISE(ABORT, 'injected failure'); END")
                           .arg(t)));
    }
    void clearInjectedFailure() override
    {
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("DROP TRIGGER injected")));
    }

    static QByteArray hashOf(const QString &path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }

private slots:
    // Refused files stay byte for byte as they were.
    void refusedFilesUntouched()
    {
        const QString path = store.location().path;
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("UPDATE archive_schema SET version = 99")));
        store.close();
        const QByteArray before = hashOf(path);
        QString error;
        QVERIFY(!store.open(store.location(), &error));
        QCOMPARE(hashOf(path), before);

        // Another program's database is not taken over.
        const QString foreign = files.filePath(QStringLiteral("other.sqlite"));
        {
            Archive::Location where;
            where.path = foreign;
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
            db.setDatabaseName(foreign);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("CREATE TABLE notes (text TEXT)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
        const QByteArray foreignBefore = hashOf(foreign);
        Archive::Location where;
        where.path = foreign;
        QVERIFY(!store.open(where, &error));
        QVERIFY2(error.contains(QStringLiteral("not a usage archive")), qPrintable(error));
        QCOMPARE(hashOf(foreign), foreignBefore);
    }
};

// The command: per-file lines, the summary, failures, and the report formats.
class TestArchiveCli : public QObject
{
    Q_OBJECT

    TestEnvironment env;
    QTemporaryDir dir;
    const QDateTime start{QDate(2026, 3, 31), QTime(23, 59, 0)};

    QString write(const QString &name, const QList<QByteArray> &lines, const QByteArray &serial, const QByteArray &user)
    {
        return ArchiveFiles::Write(dir.filePath(name),
                                   ArchiveFiles::DataFile(lines, ArchiveFiles::Header(serial, user)));
    }

private slots:
    void initTestCase()
    {
        // Two locators, two users; 120 seconds that run over into April.
        write(QStringLiteral("in/a.csv"), ArchiveFiles::Seconds(start, 120), "1234", "BOB");
        write(QStringLiteral("in/b.csv"), ArchiveFiles::Seconds(start.addSecs(60), 120), "1234", "BOB");
        write(QStringLiteral("in/c.csv"), ArchiveFiles::Seconds(start, 8), "999", "ANN");
        ArchiveFiles::Write(dir.filePath(QStringLiteral("in/d.csv")), DataFileFormat::DefaultCommentBlock());
    }

    void importsFolderAndGoesOnAfterAFailure()
    {
        // The default archive is in the per-user application data folder.
        CliResult r = RunCli({QStringLiteral("archive"), QStringLiteral("import"), dir.filePath(QStringLiteral("in"))});
        QCOMPARE(r.status, 1);
        QVERIFY(QFileInfo::exists(Archive::DefaultSqlitePath()));
        QVERIFY(Archive::DefaultSqlitePath().startsWith(env.configDir() + QStringLiteral("/korvex/")));
        const QList<QByteArray> out = r.out.split('\n');
        QVERIFY2(out.value(0).endsWith("a.csv: 120 new, 0 duplicate, 0 skipped, 0 conflicts"), r.out);
        QVERIFY2(out.value(1).endsWith("b.csv: 60 new, 60 duplicate, 0 skipped, 0 conflicts"), r.out);
        QVERIFY2(out.value(2).endsWith("c.csv: 8 new, 0 duplicate, 0 skipped, 0 conflicts"), r.out);
        QCOMPARE(out.value(3), QByteArray("3 of 4 files imported: 188 new, 60 duplicate, 0 skipped, 0 conflicts"));
        QCOMPARE(r.errLines().size(), 2);
        QVERIFY2(r.errLines()[0].contains("d.csv"), r.err);

        // LOCATOR_ARCHIVE chooses another archive; --database beats it.
        const QString other = dir.filePath(QStringLiteral("other.sqlite"));
        qputenv("LOCATOR_ARCHIVE", other.toLocal8Bit());
        r = RunCli({QStringLiteral("archive"), QStringLiteral("import"), dir.filePath(QStringLiteral("in/a.csv"))});
        qunsetenv("LOCATOR_ARCHIVE");
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("120 new"));
        QVERIFY(QFileInfo::exists(other));
        r = RunCli({QStringLiteral("archive"), QStringLiteral("import"), QStringLiteral("--database"), other,
                    dir.filePath(QStringLiteral("in/a.csv"))});
        QVERIFY2(r.out.startsWith(dir.filePath(QStringLiteral("in/a.csv")).toUtf8()
                                  + ": 0 new, 120 duplicate, 0 skipped, 0 conflicts (already imported)"),
                 r.out);
    }

    void reportsGroupsInEveryFormat()
    {
        auto report = [](QStringList args) {
            return RunCli(QStringList{QStringLiteral("archive"), QStringLiteral("report")} + args);
        };
        CliResult r = report(
            {QStringLiteral("--by"), QStringLiteral("locator"), QStringLiteral("--by"), QStringLiteral("month")});
        QCOMPARE(r.status, 0);
        // 180 seconds of 1234 (60 in March, 120 in April), 8 of 999 in March.
        QVERIFY2(r.out.contains("Serial no. 1234 (LOC2000), March 2026\n  DarAdar      0 Hrs 0 Mins 15 Secs\n"), r.out);
        QVERIFY2(r.out.contains("Serial no. 1234 (LOC2000), April 2026\n"), r.out);
        QVERIFY2(r.out.contains("All\n  DarAdar      0 Hrs 0 Mins 47 Secs\n"), r.out);
        QVERIFY2(r.out.contains("  Total        0 Hrs 3 Mins 8 Secs\n"), r.out);

        r = report({QStringLiteral("--from"), QStringLiteral("01/04/2026"), QStringLiteral("--by"),
                    QStringLiteral("user"), QStringLiteral("--format"), QStringLiteral("csv")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.split('\n').value(0), QByteArray("user,mode,seconds,duration"));
        QVERIFY2(r.out.contains("\nBOB,Total,120,0 Hrs 2 Mins 0 Secs\n"), r.out);
        QVERIFY2(!r.out.contains("ANN"), r.out);

        r = report({QStringLiteral("--to"), QStringLiteral("31/03/2026"), QStringLiteral("--by"), QStringLiteral("day"),
                    QStringLiteral("--format"), QStringLiteral("json")});
        const QJsonObject json = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(json.value(QStringLiteral("groups")).toArray().size(), 1);
        QCOMPARE(json.value(QStringLiteral("total"))
                     .toObject()
                     .value(QStringLiteral("total"))
                     .toObject()
                     .value(QStringLiteral("seconds"))
                     .toInt(),
                 68);

        r = report(
            {QStringLiteral("--by"), QStringLiteral("locator"), QStringLiteral("--format"), QStringLiteral("html")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.startsWith("<!DOCTYPE html>"));
        QCOMPARE(r.out.count("<figure>"), 2);  // a pie per locator
        QVERIFY(r.out.contains("fill=\"rgb(246,189,15)\""));  // Transmitter's colour
        QVERIFY(!r.out.contains("src=") && !r.out.contains("<script"));

        QCOMPARE(report({QStringLiteral("--by"), QStringLiteral("week")}).status, 2);
        QCOMPARE(report({QStringLiteral("--from"), QStringLiteral("2026-01-01")}).status, 2);
        // A report makes no archive where there is none.
        const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));
        const CliResult none = report({QStringLiteral("--database"), missing});
        QCOMPARE(none.status, 1);
        QVERIFY2(none.err.contains("no archive"), none.err);
        QVERIFY(!QFileInfo::exists(missing));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        TestArchiveSqlite t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        TestArchiveCli t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "test_archive.moc"
