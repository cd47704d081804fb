// The archive's scenarios on a real PostgreSQL server (run through
// run_with_postgresql.sh, which starts a throwaway one).
#include "ArchiveScenarios.h"

#include <cstdio>

class TestArchivePostgres : public ArchiveScenarios
{
    Q_OBJECT

    Archive::Location freshArchive() override
    {
        Archive::Location where;
        QString error;
        const QString url = QStringLiteral("postgresql://%1:%2@%3:%4/%5")
                                .arg(qEnvironmentVariable("PGUSER"), qEnvironmentVariable("PGPASSWORD"),
                                     qEnvironmentVariable("PGHOST"), qEnvironmentVariable("PGPORT", "5432"),
                                     qEnvironmentVariable("PGDATABASE"));
        if (!Archive::ParseLocation(url, &where, &error))
            qFatal("%s", qPrintable(error));
        // Every scenario starts on an empty database.
        Archive::Store cleaner;
        if (cleaner.open(where, &error)) {
            QSqlQuery q(cleaner.database());
            for (const char *table : {"records", "usage_days", "imported_files", "locators", "users", "archive_schema"})
                q.exec(QStringLiteral("DROP TABLE IF EXISTS %1 CASCADE").arg(QLatin1String(table)));
            q.exec(QStringLiteral("DROP FUNCTION IF EXISTS injected_failure() CASCADE"));
        }
        return where;
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
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("PGHOST")) {
        std::puts("no PostgreSQL server given (PGHOST unset): run through run_with_postgresql.sh; skipped");
        return 77;
    }
    TestArchivePostgres test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_archive_pg.moc"
