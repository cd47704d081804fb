// The archive's scenarios on a real PostgreSQL server (run through
// run_with_postgresql.sh, which starts a throwaway one).
#include "ArchiveScenarios.h"

#include <cstdio>

class TestArchivePostgres : public ArchiveScenarios
{
    Q_OBJECT

    // The server's own variables, as a user would give them; the password
    // comes from PGPASSWORD, as it would from ~/.pgpass.
    static QString address(const QString &parameters = {})
    {
        return QStringLiteral("postgresql://%1@%2:%3/%4%5")
            .arg(qEnvironmentVariable("PGUSER"), qEnvironmentVariable("PGHOST"), qEnvironmentVariable("PGPORT", "5432"),
                 qEnvironmentVariable("PGDATABASE"), parameters);
    }
    static Archive::Location located(const QString &text)
    {
        Archive::Location where;
        QString error;
        if (!Archive::ParseLocation(text, &where, &error))
            qFatal("%s", qPrintable(error));
        return where;
    }

    QString freshAddress() override
    {
        // Every scenario starts on an empty database, whatever the last one left.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("cleaner"));
            db.setHostName(qEnvironmentVariable("PGHOST"));
            db.setPort(qEnvironmentVariable("PGPORT", "5432").toInt());
            db.setDatabaseName(qEnvironmentVariable("PGDATABASE"));
            db.setUserName(qEnvironmentVariable("PGUSER"));
            if (!db.open())
                qFatal("%s", qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            for (const char *table :
                 {"conflicts", "records", "usage_days", "imported_files", "locators", "users", "archive_schema"})
                q.exec(QStringLiteral("DROP TABLE IF EXISTS %1 CASCADE").arg(QLatin1String(table)));
            q.exec(QStringLiteral("DROP FUNCTION IF EXISTS injected_failure() CASCADE"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("cleaner"));
        // libpq's other form, with the password written out.
        return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 password='%5'")
            .arg(qEnvironmentVariable("PGHOST"), qEnvironmentVariable("PGPORT", "5432"),
                 qEnvironmentVariable("PGDATABASE"), qEnvironmentVariable("PGUSER"),
                 qEnvironmentVariable("PGPASSWORD")
                     .replace(QLatin1Char('\\'), QLatin1String("\\\\"))
                     .replace(QLatin1Char('\''), QLatin1String("\\'")));
    }

    void injectFailureAt(qint64 t) override
    {
        QSqlQuery q(store.database());
        QVERIFY2(q.exec(QStringLiteral("CREATE FUNCTION injected_failure() RETURNS trigger AS $$ BEGIN"
                                       " IF NEW.t = %1 THEN RAISE EXCEPTION 'injected failure'; END IF;"
                                       " RETURN NEW; END $$ LANGUAGE plpgsql")
                            .arg(t)),
                 qPrintable(q.lastError().text()));
        QVERIFY2(q.exec(QStringLiteral("CREATE TRIGGER injected BEFORE INSERT ON records"
                                       " FOR EACH ROW EXECUTE FUNCTION injected_failure()")),
                 qPrintable(q.lastError().text()));
    }

    void clearInjectedFailure() override
    {
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("DROP FUNCTION injected_failure() CASCADE")));
    }

    static QString setting(Archive::Store &on, const char *name)
    {
        QSqlQuery q(on.database());
        if (!q.exec(QStringLiteral("SELECT current_setting('%1')").arg(QLatin1String(name))) || !q.next())
            return q.lastError().text();
        return q.value(0).toString();
    }

private slots:
    // What the address sets reaches the server (quotes and backslashes
    // too); what it leaves open gets values that keep a hung client from
    // stalling the others.
    void connectionSettingsReachTheServer()
    {
        Archive::Store own;
        QString error;
        QVERIFY2(
            own.open(located(address(QStringLiteral("?application_name=fleet%20pc%207%27s%5C&keepalives_idle=30"))),
                     &error),
            qPrintable(error));
        QCOMPARE(setting(own, "application_name"), QStringLiteral("fleet pc 7's\\"));
        QCOMPARE(setting(own, "lock_timeout"), QStringLiteral("10min"));
        QCOMPARE(setting(own, "idle_in_transaction_session_timeout"), QStringLiteral("5min"));
        own.close();

        // A timeout the user sets is kept.
        QVERIFY2(own.open(located(address(QStringLiteral("?options=-c%20lock_timeout%3D2s"))), &error),
                 qPrintable(error));
        QCOMPARE(setting(own, "lock_timeout"), QStringLiteral("2s"));
    }

    // After a server restart a connection opened before fails (a failure,
    // never a file taken as imported), and the archive opened again works:
    // the sync opens it anew for every sync, so a watching sync goes on.
    void serverRestart()
    {
        const QString version = qEnvironmentVariable("PGVERSION");
        if (version.isEmpty())
            QSKIP("the server's version is not known (several installed): it cannot be restarted");
        const Archive::Location where = store.location();
        QCOMPARE(import(file("a.csv", ArchiveFiles::Seconds(start, 10))).status, Archive::ImportResult::Imported);
        QCOMPARE(QProcess::execute(QStringLiteral("pg_ctlcluster"),
                                   {version, QStringLiteral("regress"), QStringLiteral("restart")}),
                 0);
        const QString b = file("b.csv", ArchiveFiles::Seconds(start, 20));
        const Archive::ImportResult lost = store.importFile(b);
        QCOMPARE(lost.status, Archive::ImportResult::Failed);
        QVERIFY(!lost.error.isEmpty());
        store.close();
        QString error;
        QVERIFY2(store.open(where, &error), qPrintable(error));
        const Archive::ImportResult r = import(b);
        QCOMPARE(r.status, Archive::ImportResult::Imported);
        QCOMPARE(r.counts.added, 10);
        QCOMPARE(totalSeconds(), 20);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (const int opener = RunArchiveOpener(argc, argv); opener >= 0)
        return opener;
    if (!qEnvironmentVariableIsSet("PGHOST")) {
        std::puts("no PostgreSQL server given (PGHOST unset): run through run_with_postgresql.sh; skipped");
        return 77;
    }
    TestArchivePostgres test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_archive_pg.moc"
