#include "TestFiles.h"
#include "core/link/PortList.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace PortList;

namespace {

// "serial=port" texts, so a mismatch prints readably.
QStringList show(const QList<PortEntry> &entries)
{
    QStringList out;
    for (const PortEntry &e : entries)
        out << e.serialNo + '=' + e.port;
    return out;
}

}  // namespace

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void scanStopsAtMaxEntries();
    void save_data();
    void save();
    void saveReplacesAndCreatesFolder();
    void append_data();
    void append();
    void portNumber_data();
    void portNumber();

private:
    QString freshPath() { return m_tmp.filePath(QStringLiteral("f%1/ports.ini").arg(++m_n)); }
    QTemporaryDir m_tmp;
    int m_n = 0;
};

void TestPortList::reading_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file at all
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QStringList>("scanned");

    QTest::newRow("missing file") << QByteArray() << QStringList() << QStringList();
    QTest::newRow("empty file") << QByteArray("") << QStringList() << QStringList();
    QTest::newRow("only first line") << QByteArray("001234,3") << QStringList() << QStringList();
    QTest::newRow("entry on line 1 is lost")
        << QByteArray("001234,3\r\n005678,4\r\n") << QStringList{"005678=4"} << QStringList{"005678=4"};
    QTest::newRow("CR LF") << QByteArray("\r\n001234,3\r\n005678,12\r\n") << QStringList{"001234=3", "005678=12"}
                           << QStringList{"001234=3", "005678=12"};
    QTest::newRow("LF") << QByteArray("\n001234,3\n005678,12\n") << QStringList{"001234=3", "005678=12"}
                        << QStringList{"001234=3", "005678=12"};
    QTest::newRow("mixed breaks") << QByteArray("\r\n001234,3\n005678,12\r\n") << QStringList{"001234=3", "005678=12"}
                                  << QStringList{"001234=3", "005678=12"};
    QTest::newRow("last line unbroken") << QByteArray("\r\n001234,3\r\n005678,4") << QStringList{"001234=3", "005678=4"}
                                        << QStringList{"001234=3", "005678=4"};
    QTest::newRow("blank and comma-less lines") << QByteArray("\r\n\r\nnot an entry\r\n001234,3\r\n\r\n\n")
                                                << QStringList{"001234=3"} << QStringList{"001234=3"};
    QTest::newRow("second comma") << QByteArray("\r\n001234,3,old\r\n") << QStringList{"001234=3"}
                                  << QStringList{"001234=3,old"};
    QTest::newRow("empty fields") << QByteArray("\r\n,\r\n001234,\r\n") << QStringList{"=", "001234="}
                                  << QStringList{"=", "001234="};
}

void TestPortList::reading()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, loaded);
    QFETCH(QStringList, scanned);

    const QString path = freshPath();
    if (!content.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(writeFile(path, content));
    }
    QCOMPARE(show(LoadPortList(path)), loaded);
    QCOMPARE(show(ReadForScan(path)), scanned);
    if (content.isNull())
        QVERIFY(!QFile::exists(path));
}

void TestPortList::scanStopsAtMaxEntries()
{
    const QString path = freshPath();
    QList<PortEntry> entries;
    for (int i = 0; i < 150; ++i)
        entries.append({QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')), QString::number(i % 20 + 1)});
    QVERIFY(SavePortList(path, entries));

    const QList<PortEntry> scanned = ReadForScan(path);
    QCOMPARE(scanned.size(), 100);
    QCOMPARE(scanned, entries.mid(0, 100));
    QCOMPARE(ReadForScan(path, 2), entries.mid(0, 2));
    QCOMPARE(LoadPortList(path), entries);  // the editor sees them all
}

void TestPortList::save_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty list") << QStringList() << QByteArray("\r\n");
    QTest::newRow("one") << QStringList{"001234=3"} << QByteArray("\r\n001234,3\r\n");
    QTest::newRow("two") << QStringList{"001234=3", "005678=12"} << QByteArray("\r\n001234,3\r\n005678,12\r\n");
}

void TestPortList::save()
{
    QFETCH(QStringList, entries);
    QFETCH(QByteArray, bytes);

    QList<PortEntry> list;
    for (const QString &e : entries)
        list.append({e.section('=', 0, 0), e.section('=', 1)});

    const QString path = freshPath();
    QVERIFY(SavePortList(path, list));
    QCOMPARE(readFile(path), bytes);
    QCOMPARE(LoadPortList(path), list);
}

void TestPortList::saveReplacesAndCreatesFolder()
{
    const QString path = m_tmp.filePath("new/deeper/ports.ini");
    QVERIFY(SavePortList(path, {{"001234", "3"}, {"005678", "4"}, {"009999", "5"}}));
    QVERIFY(SavePortList(path, {{"111111", "7"}}));
    QCOMPARE(readFile(path), QByteArray("\r\n111111,7\r\n"));
}

void TestPortList::append_data()
{
    QTest::addColumn<QByteArray>("before");  // null: no file at all
    QTest::addColumn<QByteArray>("after");

    const QByteArray entry = "001234,3\r\n";
    QTest::newRow("missing file") << QByteArray() << "\r\n" + entry;
    QTest::newRow("empty file") << QByteArray("") << "\r\n" + entry;
    QTest::newRow("after CR LF") << QByteArray("\r\n005678,4\r\n") << "\r\n005678,4\r\n" + entry;
    QTest::newRow("after LF") << QByteArray("\n005678,4\n") << "\n005678,4\n" + entry;
    QTest::newRow("last line unbroken") << QByteArray("\r\n005678,4") << "\r\n005678,4\r\n" + entry;
    QTest::newRow("only an unbroken first line") << QByteArray("x") << "x\r\n" + entry;
    QTest::newRow("only the empty first line") << QByteArray("\r\n") << "\r\n" + entry;
    QTest::newRow("last line ended by a lone CR") << QByteArray("\r\n005678,4\r") << "\r\n005678,4\r\n" + entry;
}

void TestPortList::append()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    const QString path = freshPath();
    if (!before.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(writeFile(path, before));
    }
    const QList<PortEntry> earlier = LoadPortList(path);
    QVERIFY(AppendPortEntry(path, {"001234", "3"}));
    QCOMPARE(readFile(path), after);
    QCOMPARE(LoadPortList(path), earlier + QList<PortEntry>({{"001234", "3"}}));
    QVERIFY(LoadPortList(path).contains(PortEntry{"001234", "3"}));
    QCOMPARE(ReadForScan(path).last(), (PortEntry{"001234", "3"}));
}

void TestPortList::portNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");

    QTest::newRow("3") << "3" << 3;
    QTest::newRow("12") << "12" << 12;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "COM3" << 0;
    QTest::newRow("trailing text") << "3a" << 0;
    QTest::newRow("fraction") << "3.5" << 0;
    QTest::newRow("two fields") << "3,old" << 0;
}

void TestPortList::portNumber()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(PortNumber(text), number);
}

QTEST_GUILESS_MAIN(TestPortList)
#include "test_portlist.moc"
