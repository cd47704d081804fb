#pragma once

#include "ArchiveFiles.h"
#include "core/archive/Archive.h"
#include "core/archive/ArchiveSchema.h"
#include "core/archive/ArchiveUsage.h"
#include "core/datafile/DataFileHandle.h"

#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <vector>

// The test program as one of several programs using an archive at once:
// "<test> --open-archive ADDRESS [FILE]" says "ready", opens the archive for
// adding once a line arrives on its input, imports FILE if given and writes
// "STATUS ADDED DUPLICATES CONFLICTS", and exits 0, or 1 with the reason.
// -1 when not asked to.
inline int RunArchiveOpener(int argc, char *argv[])
{
    if ((argc != 3 && argc != 4) || qstrcmp(argv[1], "--open-archive") != 0)
        return -1;
    // The drivers are loaded before, so that the openings overlap.
    QSqlDatabase::drivers();
    std::puts("ready");
    std::fflush(stdout);
    std::getchar();
    Archive::Location where;
    Archive::Store store;
    QString error;
    if (!Archive::ParseLocation(QString::fromLocal8Bit(argv[2]), &where, &error) || !store.open(where, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (argc == 4) {
        const Archive::ImportResult r = store.importFile(QString::fromLocal8Bit(argv[3]));
        std::printf("%d %lld %lld %lld\n", int(r.status), qlonglong(r.counts.added), qlonglong(r.counts.duplicates),
                    qlonglong(r.counts.conflicts));
        if (r.status == Archive::ImportResult::Failed) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            return 1;
        }
    }
    return 0;
}

// What the archive promises, whichever server holds it. Each backend says
// how to reach a fresh archive and how to make the server refuse one record.
class ArchiveScenarios : public QObject
{
    Q_OBJECT

protected:
    virtual QString freshAddress() = 0;  // as --database takes it; no archive there yet
    virtual void injectFailureAt(qint64 t) = 0;  // inserting this second fails
    virtual void clearInjectedFailure() = 0;

    Archive::Store store;
    QTemporaryDir files;
    const QDateTime start{QDate(2026, 3, 2), QTime(8, 0, 0)};

    QString file(const QString &name, const QList<QByteArray> &lines, const QByteArray &serial = "1234")
    {
        return ArchiveFiles::Write(files.filePath(name), ArchiveFiles::DataFile(lines, ArchiveFiles::Header(serial)));
    }
    qint64 totalSeconds()
    {
        QList<Archive::UsageDay> days;
        QString error;
        if (!store.usage({}, {}, &days, &error))
            return -1;
        return Archive::GroupUsage(days, {}).value(0).total;
    }
    Archive::Location freshArchive()
    {
        Archive::Location where;
        QString error;
        if (!Archive::ParseLocation(freshAddress(), &where, &error))
            qFatal("%s", qPrintable(error));
        return where;
    }
    Archive::ImportResult import(const QString &path)
    {
        const Archive::ImportResult r = store.importFile(path);
        if (r.status == Archive::ImportResult::Failed)
            qWarning() << r.error;
        return r;
    }

    // Runs the test program once per argument list (--open-archive ...),
    // all let go together once all are started; their output lines.
    QStringList runTogether(const QList<QStringList> &arguments)
    {
        std::vector<std::unique_ptr<QProcess>> programs;
        for (const QStringList &args : arguments) {
            programs.push_back(std::make_unique<QProcess>());
            programs.back()->start(QCoreApplication::applicationFilePath(),
                                   QStringList{QStringLiteral("--open-archive")} + args);
        }
        for (auto &p : programs) {
            if (!p->waitForReadyRead(60000) || p->readLine() != "ready\n") {
                QTest::qFail(qPrintable(p->errorString()), __FILE__, __LINE__);
                return {};
            }
        }
        for (auto &p : programs) {
            p->write("\n");
            p->waitForBytesWritten(10000);
        }
        QStringList out;
        for (auto &p : programs) {
            if (!p->waitForFinished(120000) || p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0) {
                QTest::qFail(p->readAllStandardError().constData(), __FILE__, __LINE__);
                return {};
            }
            out << QString::fromLatin1(p->readAllStandardOutput()).trimmed();
        }
        return out;
    }

private slots:
    void init()
    {
        QString error;
        QVERIFY2(store.open(freshArchive(), &error), qPrintable(error));
    }
    // Whatever a scenario did, the daily totals are what the records say.
    void cleanup()
    {
        if (store.isOpen()) {
            QString mismatch, error;
            const bool agree = store.checkTotals(&mismatch, &error);
            store.close();
            QVERIFY2(agree, qPrintable(mismatch + error));
        }
    }

    // A logged second is stored once however many files hold it, and a file
    // seen before costs nothing.
    void eachSecondOnce()
    {
        QList<QByteArray> first = ArchiveFiles::Seconds(start, 60);
        first.insert(10, "FF");
        first.insert(20, "");
        first.insert(30, "31/02/26,08:00:00,A,0,0,0,1");  // no such day
        first.insert(40, "02/03/26,24:00:00,A,0,0,0,1");  // no such time
        const QString a = file("a.csv", first);
        Archive::ImportResult r = import(a);
        QCOMPARE(r.status, Archive::ImportResult::Imported);
        QCOMPARE(r.identity.serialNo, QStringLiteral("1234"));
        QCOMPARE(r.counts.added, 60);
        QCOMPARE(r.counts.skipped, 4);  // FF, empty, two undatable; the end marker is the file's end, no line
        QCOMPARE(totalSeconds(), 60);

        r = import(a);
        QCOMPARE(r.status, Archive::ImportResult::AlreadyImported);
        QCOMPARE(r.counts.added, 60);  // as first counted
        QCOMPARE(store.recordCount(), 60);

        // A later transfer of the same locator: the old seconds again, then new ones.
        const QString b = file("b.csv", ArchiveFiles::Seconds(start, 100));
        r = import(b);
        QCOMPARE(r.status, Archive::ImportResult::Imported);
        QCOMPARE(r.counts.added, 40);
        QCOMPARE(r.counts.duplicates, 60);
        QCOMPARE(r.counts.conflicts, 0);
        QCOMPARE(totalSeconds(), 100);

        // The same seconds with other content: the first stays and counts;
        // the others are kept, with the file they came from.
        QList<QByteArray> other = ArchiveFiles::Seconds(start, 10);
        for (QByteArray &line : other)
            line[18] = 'X';
        r = import(file("c.csv", other));
        QCOMPARE(r.counts.conflicts, 10);
        QCOMPARE(r.counts.added, 0);
        QCOMPARE(totalSeconds(), 100);
        // Met again in another file: kept once.
        r = import(file("c-again.csv", other + ArchiveFiles::Seconds(start.addDays(2), 1)));
        QCOMPARE(r.counts.conflicts, 10);
        QCOMPARE(r.counts.added, 1);
        QList<Archive::Conflict> kept;
        QString why;
        QVERIFY2(store.conflicts(&kept, &why), qPrintable(why));
        QCOMPARE(kept.size(), 10);
        QCOMPARE(kept[0].serial, QStringLiteral("1234"));
        QCOMPARE(kept[0].second, start);
        QCOMPARE(kept[0].archived, QStringLiteral("A,33KHz,D,1.25,17"));
        QCOMPARE(kept[0].conflicting, QStringLiteral("X,33KHz,D,1.25,17"));
        QCOMPARE(kept[0].file, QStringLiteral("c.csv"));
        // A clock set back an hour within one file (the autumn change): the
        // hour's second records are conflicts too, the first ones count.
        const QDateTime autumn(QDate(2026, 10, 25), QTime(2, 0, 0));
        QList<QByteArray> twiceAnHour = ArchiveFiles::Seconds(autumn, 6);
        for (QByteArray line : ArchiveFiles::Seconds(autumn.addSecs(2), 4)) {
            line[18] = 'X';
            twiceAnHour << line;
        }
        r = import(file("autumn.csv", twiceAnHour));
        QCOMPARE(r.counts.added, 6);
        QCOMPARE(r.counts.conflicts, 4);
        QCOMPARE(store.conflictSeconds(autumn.date(), autumn.date(), &why), 4);
        QCOMPARE(store.conflictSeconds({}, {}, &why), 14);
        QCOMPARE(store.conflictSeconds(start.date().addDays(1), autumn.date().addDays(-1), &why), 0);
        QCOMPARE(totalSeconds(), 107);

        // A clock set back within a file: repeated seconds are duplicates,
        // also when their fields hold quotes, backslashes and Latin-1 text.
        QList<QByteArray> twice = ArchiveFiles::Seconds(start.addDays(1), 20);
        twice[0] = twice[0].left(20) + "33\xb5Hz,\"D\\,1\"25,{17}";
        twice += twice;
        r = import(file("d.csv", twice));
        QCOMPARE(r.counts.added, 20);
        QCOMPARE(r.counts.duplicates, 20);

        // Another locator's same seconds are its own.
        r = import(file("e.csv", ArchiveFiles::Seconds(start, 5), "777"));
        QCOMPARE(r.counts.added, 5);

        QCOMPARE(store.lastArchivedSecond(QStringLiteral("1234")), std::optional(autumn.addSecs(5)));
        QCOMPARE(store.lastArchivedSecond(QStringLiteral("555")), std::nullopt);

        QList<Archive::UsageDay> days;
        QString error;
        QVERIFY(store.usage(start.date(), start.date(), &days, &error));
        const QList<Archive::UsageGroup> byLocator = Archive::GroupUsage(days, {Archive::GroupBy::Locator});
        QCOMPARE(byLocator.size(), 2);
        QCOMPARE(byLocator[0].serial, QStringLiteral("1234"));
        QCOMPARE(byLocator[0].seconds, (std::array<qint64, 4>{25, 25, 25, 25}));
        QCOMPARE(byLocator[1].total, 5);
    }

    // A transfer whose link was lost ends part-way through a line. Read as
    // a record, the cut line would keep wrong content (or another second)
    // for good; it is no record, and the complete transfer brings it whole.
    void lineCutOffIsNoRecord()
    {
        const QList<QByteArray> whole = ArchiveFiles::Seconds(start, 10);
        auto cutAt = [&](const QString &name, int keep) {
            QByteArray bytes = ArchiveFiles::DataFile(whole.mid(0, 9), ArchiveFiles::Header("1234"));
            bytes.chop(1);  // no end marker
            return ArchiveFiles::Write(files.filePath(name), bytes + whole[9].left(keep));
        };
        Archive::ImportResult r = import(cutAt("depth.csv", 30));  // "...,D,1.2"
        QCOMPARE(r.counts.added, 9);
        QCOMPARE(r.counts.skipped, 1);
        r = import(cutAt("seconds.csv", 16));  // "08:00:0", as if 08:00:00
        QCOMPARE(r.counts.added, 0);
        QCOMPARE(r.counts.duplicates, 9);
        QCOMPARE(r.counts.conflicts, 0);
        r = import(file("whole.csv", whole));
        QCOMPARE(r.counts.added, 1);
        QCOMPARE(r.counts.conflicts, 0);
        QCOMPARE(r.counts.skipped, 0);
        QCOMPARE(store.lastArchivedSecond(QStringLiteral("1234")), std::optional(start.addSecs(9)));

        // A complete transfer's end marker, line ends after it or right
        // after the last record, is neither a skipped line nor part of that
        // record's last field.
        QByteArray ended = ArchiveFiles::DataFile(whole, ArchiveFiles::Header("1234"));  // ...17 CR LF 0x1A
        r = import(ArchiveFiles::Write(files.filePath("marker-line-ended.csv"), ended + "\r\n"));
        QCOMPARE(r.counts.duplicates, 10);
        QCOMPARE(r.counts.skipped, 0);
        ended.chop(3);
        r = import(ArchiveFiles::Write(files.filePath("marker-on-record.csv"), ended + "\x1a\r\n"));
        QCOMPARE(r.counts.duplicates, 10);
        QCOMPARE(r.counts.conflicts, 0);
        QCOMPARE(r.counts.skipped, 0);
    }

    // One transaction per file: a failure after thousands of records were
    // written leaves the archive as it was, and the file can be imported later.
    void failurePartWayLeavesArchiveAsBefore()
    {
        QVERIFY(import(file("a.csv", ArchiveFiles::Seconds(start, 10))).status == Archive::ImportResult::Imported);
        const int n = 70000;  // more than one batch reaches the server before the failure
        const QString big = file("big.csv", ArchiveFiles::Seconds(start, n));
        injectFailureAt(Archive::SecondKey(start.date(), 8 * 3600 + n - 100));
        const Archive::ImportResult r = store.importFile(big);
        QCOMPARE(r.status, Archive::ImportResult::Failed);
        QVERIFY(!r.error.isEmpty());
        QCOMPARE(store.recordCount(), 10);
        QCOMPARE(totalSeconds(), 10);
        clearInjectedFailure();
        const Archive::ImportResult again = import(big);
        QCOMPARE(again.status, Archive::ImportResult::Imported);
        QCOMPARE(again.counts.added, n - 10);
        QCOMPARE(totalSeconds(), n);
    }

    // What a file may hold besides one whole transfer.
    void severalTransfersAndFilesBeingWritten()
    {
        // Transfers of two locators written one after the other into one
        // file, each with its comment block and header line, the first
        // ending with its end marker: each files under its own locator.
        const QByteArray first
            = ArchiveFiles::DataFile(ArchiveFiles::Seconds(start, 30), ArchiveFiles::Header("1234", "ANN"));
        const QByteArray second
            = ArchiveFiles::DataFile(ArchiveFiles::Seconds(start.addSecs(10), 40), ArchiveFiles::Header("777"));
        Archive::ImportResult r
            = import(ArchiveFiles::Write(files.filePath(QStringLiteral("two.csv")), first + second + first));
        QCOMPARE(r.status, Archive::ImportResult::Imported);
        QCOMPARE(r.transfers.size(), 3);
        QCOMPARE(r.transfers[1].serialNo, QStringLiteral("777"));
        QCOMPARE(r.identity.serialNo, QStringLiteral("1234"));
        QCOMPARE(r.counts.added, 70);
        QCOMPARE(r.counts.duplicates, 30);
        QCOMPARE(r.counts.skipped, 0);
        QCOMPARE(store.lastArchivedSecond(QStringLiteral("1234")), std::optional(start.addSecs(29)));
        QCOMPARE(store.lastArchivedSecond(QStringLiteral("777")), std::optional(start.addSecs(49)));
        QList<Archive::UsageDay> days;
        QString error;
        QVERIFY(store.usage({}, {}, &days, &error));
        QCOMPARE(days.size(), 2);
        QCOMPARE(days[0].user, QStringLiteral("ANN"));
        QCOMPARE(days[0].records, 30);
        QCOMPARE(days[1].user, QStringLiteral("BOB"));
        QCOMPARE(days[1].records, 40);

        // A file a transfer is still writing (it holds the file locked) is
        // refused, and imported once the transfer has ended.
        DataFileHandle transfer;
        const QString path = files.filePath(QStringLiteral("writing.csv"));
        QVERIFY(transfer.openForWrite(path));
        QVERIFY(transfer.write(
            ArchiveFiles::DataFile(ArchiveFiles::Seconds(start.addDays(1), 5), ArchiveFiles::Header("1234"))
                .chopped(1)));
        r = store.importFile(path);
        QCOMPARE(r.status, Archive::ImportResult::Failed);
        QVERIFY2(r.error.contains(QStringLiteral("still being written")), qPrintable(r.error));
        QCOMPARE(store.recordCount(), 70);
        QVERIFY(transfer.write("\x1a"));
        transfer.close();
        QCOMPARE(import(path).counts.added, 5);
    }

    // Several programs opening a new archive at once (a fleet's PCs syncing
    // at the start of a shift) all go on, and the tables are made once.
    void concurrentFirstOpen()
    {
        store.close();
        const QString address = freshAddress();
        QCOMPARE(runTogether(QList<QStringList>(6, {address})).size(), 6);
        QString error;
        Archive::Location where;
        QVERIFY(Archive::ParseLocation(address, &where, &error));
        QVERIFY2(store.open(where, &error, Archive::Store::ExistingOnly), qPrintable(error));
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*), MAX(version) FROM archive_schema")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(q.value(1).toInt(), Archive::SchemaVersion);
    }

    // Imports from several PCs at once wait for each other: the same file
    // is imported once and "already imported" for the others, never a
    // failure, and overlapping files count each second once between them.
    void concurrentImports()
    {
        // The archive made first: its first opening at once has its own test.
        store.close();
        const QString address = freshAddress();
        Archive::Location where;
        QString error;
        QVERIFY(Archive::ParseLocation(address, &where, &error));
        QVERIFY2(store.open(where, &error), qPrintable(error));
        const QString same = file("same.csv", ArchiveFiles::Seconds(start, 3000));
        const QString a = file("a.csv", ArchiveFiles::Seconds(start, 2000));
        const QString b = file("b.csv", ArchiveFiles::Seconds(start.addSecs(1000), 2500));
        const QStringList results = runTogether(
            {{address, same}, {address, same}, {address, a}, {address, same}, {address, b}, {address, same}});
        QCOMPARE(results.size(), 6);
        int imported = 0, already = 0;
        qint64 added = 0, duplicates = 0;
        for (int i = 0; i < results.size(); ++i) {
            const QStringList r = results[i].split(QLatin1Char(' '));
            QCOMPARE(r.size(), 4);
            QCOMPARE(r[3].toLongLong(), 0);  // no conflicts
            const bool sameFile = i != 2 && i != 4;
            if (r[0].toInt() == Archive::ImportResult::AlreadyImported) {
                QVERIFY(sameFile);
                ++already;
                continue;
            }
            QCOMPARE(r[0].toInt(), int(Archive::ImportResult::Imported));
            imported += sameFile;
            added += r[1].toLongLong();
            duplicates += r[2].toLongLong();
        }
        QCOMPARE(imported, 1);
        QCOMPARE(already, 3);
        QCOMPARE(added, 3500);  // the distinct seconds
        QCOMPARE(added + duplicates, 3000 + 2000 + 2500);
        QCOMPARE(store.recordCount(), 3500);
        QCOMPARE(totalSeconds(), 3500);

        // A file known already is answered at once, also while another
        // import holds the write lock (for as long as a big file takes).
        Archive::Store writer;
        QVERIFY2(writer.open(where, &error), qPrintable(error));
        QSqlQuery hold(writer.database());
        if (where.kind == Archive::Location::Sqlite)
            QVERIFY(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));
        else
            QVERIFY(hold.exec(QStringLiteral("BEGIN"))
                    && hold.exec(QStringLiteral("LOCK TABLE imported_files IN EXCLUSIVE MODE")));
        QCOMPARE(import(same).status, Archive::ImportResult::AlreadyImported);
        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
    }

    // Reading (a report) works where writing is not allowed and never
    // writes: no upgrade, and the connection itself refuses changes.
    void readingNeverWrites()
    {
        QCOMPARE(import(file("a.csv", ArchiveFiles::Seconds(start, 30))).status, Archive::ImportResult::Imported);
        Archive::Store reader;
        QString error;
        QVERIFY2(reader.open(store.location(), &error, Archive::Store::ExistingOnly), qPrintable(error));
        QList<Archive::UsageDay> days;
        QVERIFY2(reader.usage({}, {}, &days, &error), qPrintable(error));
        QCOMPARE(days.size(), 1);
        QSqlQuery write(reader.database());
        QVERIFY(!write.exec(QStringLiteral("CREATE TABLE notes (text TEXT)")));
        write.finish();
        reader.close();

        // An archive of an older layout is not upgraded by a report.
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("UPDATE archive_schema SET version = 0")));
        QVERIFY(!reader.open(store.location(), &error, Archive::Store::ExistingOnly));
        QVERIFY2(error.contains(QStringLiteral("older program")) && error.contains(QStringLiteral("import")),
                 qPrintable(error));
        QVERIFY(q.exec(QStringLiteral("SELECT version FROM archive_schema")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);

        // Opened for adding, an archive of the first layout gains the
        // conflicts table and keeps its records.
        QVERIFY(q.exec(QStringLiteral("UPDATE archive_schema SET version = 1")));
        QVERIFY(q.exec(QStringLiteral("DROP TABLE conflicts")));
        const Archive::Location where = store.location();
        store.close();
        QVERIFY2(store.open(where, &error), qPrintable(error));
        QList<Archive::Conflict> none;
        QVERIFY2(store.conflicts(&none, &error), qPrintable(error));
        QCOMPARE(store.recordCount(), 30);
    }

    // A database written by a newer program is refused and not changed.
    void newerSchemaRefused()
    {
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("UPDATE archive_schema SET version = %1").arg(Archive::SchemaVersion + 1)));
        const Archive::Location where = store.location();
        store.close();
        QString error;
        QVERIFY(!store.open(where, &error));
        QVERIFY2(error.contains(QStringLiteral("newer program")), qPrintable(error));
    }
};
