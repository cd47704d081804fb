// Usage accounting against crafted data files: which lines are records of a
// period, what is counted, how durations are written, and how readings fail.
#include "AnalysisFiles.h"
#include "core/datafile/DataFileHandle.h"
#include "core/usage/UsageCounting.h"
#include "core/usage/UsageTexts.h"

#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

using namespace Usage;
using AnalysisFiles::DataFile;
using AnalysisFiles::Record;
using AnalysisFiles::Records;

class TestUsage : public QObject
{
    Q_OBJECT

private slots:
    void readNumber_data();
    void readNumber();
    void durations_data();
    void durations();

    void period_data();
    void period();
    void periodAboveOldCapacityCountedInFull();
    void rereadingSmallerMonth();
    void lineEnds_data();
    void lineEnds();

    void failures_data();
    void failures();
    void transferWritingThroughSlotIsLeftAlone();

    void firstRecordMonth_data();
    void firstRecordMonth();

    void dayImageNameKeepsLeadingZeros();

private:
    QString write(const QByteArray &bytes);
    QTemporaryDir m_tmp;
    DataFileHandle m_slot;
    int m_files = 0;
};

QString TestUsage::write(const QByteArray &bytes)
{
    const QString path = m_tmp.filePath(QStringLiteral("f%1.csv").arg(++m_files));
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestUsage::readNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("blank then digit") << QByteArray(" 5") << 5.0;
    QTest::newRow("leading zero") << QByteArray("05") << 5.0;
    QTest::newRow("digit then slash") << QByteArray("5/") << 5.0;
    QTest::newRow("two digits") << QByteArray("12") << 12.0;
    QTest::newRow("two blanks") << QByteArray("  ") << 0.0;
    QTest::newRow("nothing") << QByteArray() << 0.0;
    QTest::newRow("letters") << QByteArray("FF") << 0.0;
    QTest::newRow("sign") << QByteArray("-3") << -3.0;
    QTest::newRow("fraction is no whole month") << QByteArray(".5") << 0.5;
}

void TestUsage::readNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(double, value);
    QCOMPARE(ReadNumber(text), value);
    QCOMPARE(ReadNumber(QString::fromLatin1(text)), value);
}

void TestUsage::durations_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("pie");
    QTest::addColumn<QString>("formatted");
    QTest::newRow("59") << qint64(59) << "0 Hrs 0 Mins 59 Secs"
                        << "0 Hrs,0 Mins,59 Secs,";
    QTest::newRow("60") << qint64(60) << "0 Hrs 1 Mins 0 Secs"
                        << "0 Hrs,1 Mins,0 Secs,";
    QTest::newRow("3599") << qint64(3599) << "0 Hrs 59 Mins 59 Secs"
                          << "0 Hrs,59 Mins,59 Secs,";
    QTest::newRow("3600") << qint64(3600) << "1 Hrs 0 Mins 0 Secs"
                          << "1 Hrs,0 Mins,0 Secs,";
    QTest::newRow("3725") << qint64(3725) << "1 Hrs 2 Mins 5 Secs"
                          << "1 Hrs,2 Mins,5 Secs,";
    QTest::newRow("hours never become days") << qint64(90061) << "25 Hrs 1 Mins 1 Secs"
                                             << "25 Hrs,1 Mins,1 Secs,";
    QTest::newRow("0") << qint64(0) << "0 Hrs 0 Mins 0 Secs"
                       << "0 Hrs,0 Mins,0 Secs,";
}

void TestUsage::durations()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, pie);
    QFETCH(QString, formatted);
    QCOMPARE(PieDurationText(seconds), pie);
    QCOMPARE(FormatDuration(seconds), formatted);
    // The viewer cuts at the commas: three parts and an empty fourth.
    QCOMPARE(formatted.split(',').size(), 4);
    QVERIFY(formatted.split(',').last().isEmpty());
}

void TestUsage::period_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<int>("day");  // 0: the month
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("year");
    QTest::addColumn<qint64>("n");
    QTest::addColumn<QList<qint64>>("counts");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("last");
    QTest::addColumn<QList<int>>("days");

    const QByteArray header = AnalysisFiles::kHeader;
    QTest::newRow("record of its day, month and year")
        << header << QByteArrayList{"03/04/10,14:05:09,T,"} << 3 << 4 << 10 << qint64(1) << QList<qint64>{0, 1, 0, 0}
        << QByteArray("03/04/10") << QByteArray("03/04/10") << QList<int>{3};
    QTest::newRow("header line is never a record")
        << Record("03/04/10", 'A') << QByteArrayList{Record("04/04/10", 'R')} << 0 << 4 << 10 << qint64(1)
        << QList<qint64>{0, 0, 1, 0} << QByteArray("04/04/10") << QByteArray("04/04/10") << QList<int>{4};
    QTest::newRow("FF and empty lines are not records")
        << header
        << QByteArrayList{"", Record("FF/04/10", 'A'), "FF 04 10", "FFFFFFFFFFFFFFFF", Record("01/04/10", 'P')} << 0
        << 4 << 10 << qint64(1) << QList<qint64>{0, 0, 0, 1} << QByteArray("01/04/10") << QByteArray("01/04/10")
        << QList<int>{1};
    QTest::newRow("other months and years pass")
        << header
        << QByteArrayList{Record("01/05/10", 'A'), Record("02/04/10", 'R'), Record("01/04/11", 'A'),
                          Record("28/04/10", 'A')}
        << 0 << 4 << 10 << qint64(2) << QList<qint64>{1, 0, 1, 0} << QByteArray("02/04/10") << QByteArray("28/04/10")
        << QList<int>{2, 28};
    QTest::newRow("unknown letters are data without time")
        << header << QByteArrayList{Record("01/04/10", 't'), Record("01/04/10", 'X'), "01/04/10"} << 0 << 4 << 10
        << qint64(3) << QList<qint64>{0, 0, 0, 0} << QByteArray("01/04/10") << QByteArray("01/04/10") << QList<int>{1};
    const QByteArrayList loose{Record("05/04/10", 'A'), Record(" 5/04/10", 'T'), Record("5/ 4/ 10", 'R'),
                               Record("15/04/10", 'P'), Record("  /04/10", 'A'), Record("32/04/10", 'A')};
    QTest::newRow("day filter reads fields as numbers")
        << header << loose << 5 << 4 << 10 << qint64(3) << QList<qint64>{1, 1, 1, 0} << QByteArray("05/04/10")
        << QByteArray("5/ 4/ 10") << QList<int>{5};
    QTest::newRow("days that name no date are not marked")
        << header << loose << 0 << 4 << 10 << qint64(6) << QList<qint64>{3, 1, 1, 1} << QByteArray("05/04/10")
        << QByteArray("32/04/10") << QList<int>{5, 15};
    QTest::newRow("no record of the period")
        << header << QByteArrayList{Record("01/05/10", 'A')} << 0 << 4 << 10 << qint64(0) << QList<qint64>{0, 0, 0, 0}
        << QByteArray() << QByteArray() << QList<int>{};
}

void TestUsage::period()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArrayList, lines);
    QFETCH(int, day);
    QFETCH(int, month);
    QFETCH(int, year);
    QFETCH(qint64, n);
    QFETCH(QList<qint64>, counts);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, last);
    QFETCH(QList<int>, days);

    const QString path = write(DataFile(lines, header));
    const PeriodReading r
        = day ? ReadDayRecords(m_slot, path, day, month, year) : ReadMonthRecords(m_slot, path, month, year);
    QVERIFY(r.ok());
    QVERIFY(!m_slot.isOpen());
    QCOMPARE(r.records.n, n);
    const ModeCounts c = CountModes(r.records);
    QCOMPARE(QList<qint64>(c.counts.begin(), c.counts.end()), counts);
    QCOMPARE(c.total, std::accumulate(counts.begin(), counts.end(), qint64(0)));
    if (n > 0) {
        QCOMPARE(r.records.firstDate, first);
        QCOMPARE(r.records.lastDate, last);
    }
    QCOMPARE(r.records.days(), days);
}

void TestUsage::periodAboveOldCapacityCountedInFull()
{
    // 25 hours of one month, well past 64,001 records, around a record of another month.
    QByteArrayList lines = Records("01/03/11", 'A', 50000);
    lines << Record("01/04/11", 'A');
    lines << Records("31/03/11", 'T', 40061);
    const PeriodReading r = ReadMonthRecords(m_slot, write(DataFile(lines)), 3, 11);
    QVERIFY(r.ok());
    QCOMPARE(r.records.n, qint64(90061));
    const ModeCounts c = CountModes(r.records);
    QCOMPARE(c.counts[0], qint64(50000));
    QCOMPARE(c.counts[1], qint64(40061));
    QCOMPARE(PieDurationText(c.total), QStringLiteral("25 Hrs 1 Mins 1 Secs"));
    QCOMPARE(r.records.lastDate, QByteArray("31/03/11"));
    QCOMPARE(r.records.days(), (QList<int>{1, 31}));
}

void TestUsage::rereadingSmallerMonth()
{
    QByteArrayList lines = Records("01/03/11", 'A', 100);
    lines << Records("01/04/11", 'R', 50);
    const QString path = write(DataFile(lines));
    QCOMPARE(ReadMonthRecords(m_slot, path, 3, 11).records.n, qint64(100));
    const PeriodReading april = ReadMonthRecords(m_slot, path, 4, 11);
    QCOMPARE(april.records.n, qint64(50));
    QCOMPARE(CountModes(april.records).total, qint64(50));
    QCOMPARE(CountModes(april.records).counts[0], qint64(0));
}

void TestUsage::lineEnds_data()
{
    QTest::addColumn<QByteArray>("eol");
    QTest::newRow("CR LF") << QByteArray("\r\n");
    QTest::newRow("LF") << QByteArray("\n");
    QTest::newRow("CR") << QByteArray("\r");
}

void TestUsage::lineEnds()
{
    // Files are read in 1 MiB blocks; shifting the records one byte at a time
    // puts every part of a record and of its line end on a block's edge.
    QFETCH(QByteArray, eol);
    const QByteArray record = Record("02/03/11", 'R');
    const int step = int(record.size() + eol.size());
    const int count = (1 << 20) / step + 50;
    QByteArray body;
    for (int i = 0; i < count; ++i)
        body += record + eol;
    const QByteArray head = "//     x" + eol + "// y" + eol + AnalysisFiles::kHeader + eol;
    for (int shift = 0; shift < step; ++shift) {
        const QByteArray filler = "FF" + QByteArray(shift, 'F') + eol;
        const PeriodReading r = ReadMonthRecords(m_slot, write(head + filler + body), 3, 11);
        QVERIFY(r.ok());
        QCOMPARE(r.records.n, qint64(count));
        QCOMPARE(r.records.modeRecords[2], qint64(count));
        QVERIFY(QFile::remove(m_tmp.filePath(QStringLiteral("f%1.csv").arg(m_files))));
    }
}

void TestUsage::failures_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("status");
    QTest::newRow("missing file") << false << QByteArray() << int(ReadStatus::CannotOpen);
    QTest::newRow("empty file") << true << QByteArray() << int(ReadStatus::PastEnd);
    QTest::newRow("only comment lines") << true << DataFileFormat::DefaultCommentBlock() << int(ReadStatus::PastEnd);
}

void TestUsage::failures()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, contents);
    QFETCH(int, status);
    const QString path = exists ? write(contents) : m_tmp.filePath(QStringLiteral("none.csv"));

    const PeriodReading month = ReadMonthRecords(m_slot, path, 3, 11);
    QCOMPARE(int(month.status), status);
    QCOMPARE(month.records.n, qint64(0));
    QVERIFY(!m_slot.isOpen());
    QCOMPARE(int(ReadDayRecords(m_slot, path, 1, 3, 11).status), status);
    QVERIFY(!m_slot.isOpen());
    QCOMPARE(int(ReadFirstRecordMonth(m_slot, path).status), status);
    QVERIFY(!m_slot.isOpen());
    QVERIFY(!ReadFailureText(month, path).isEmpty());
    if (status == int(ReadStatus::PastEnd))
        QCOMPARE(ReadFailureText(month, path), QStringLiteral("The data file appears to be corrupt"));
    // The exclusive-open test neither creates nor changes the file.
    QCOMPARE(QFileInfo::exists(path), exists);
    QVERIFY(!exists || QFileInfo(path).size() == contents.size());
}

void TestUsage::transferWritingThroughSlotIsLeftAlone()
{
    const QString analysed = write(DataFile(Records("01/03/11", 'A', 3)));
    const QString transfer = m_tmp.filePath(QStringLiteral("transfer.csv"));
    QVERIFY(m_slot.openForWrite(transfer));
    const PeriodReading r = ReadMonthRecords(m_slot, analysed, 3, 11);
    QCOMPARE(r.status, ReadStatus::SlotWriting);
    QVERIFY(m_slot.isWriting());
    QVERIFY(m_slot.write("still writing"));
    m_slot.close();

    // A reader that left the slot open for reading does not stop the next one.
    QVERIFY(m_slot.openForRead(analysed));
    QCOMPARE(ReadMonthRecords(m_slot, analysed, 3, 11).records.n, qint64(3));
    QVERIFY(!m_slot.isOpen());
}

void TestUsage::firstRecordMonth_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("monthText");
    QTest::addColumn<QByteArray>("yearText");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("year");

    const QByteArray header = AnalysisFiles::kHeader;
    QTest::newRow("second line after the header")
        << header << QByteArrayList{Record("01/01/11", 'A'), Record("02/03/11", 'A')} << true << QByteArray("03")
        << QByteArray("11") << 3 << 11;
    QTest::newRow("header of record form is not counted")
        << Record("01/09/09", 'A') << QByteArrayList{Record("01/01/11", 'A'), Record("01/02/11", 'A')} << true
        << QByteArray("02") << QByteArray("11") << 2 << 11;
    QTest::newRow("2005") << header << QByteArrayList{Record("01/03/05", 'A'), Record("07/03/05", 'T')} << true
                          << QByteArray("03") << QByteArray("05") << 3 << 5;
    QTest::newRow("empty second line: the first record") << header << QByteArrayList{Record("01/01/11", 'A'), ""}
                                                         << true << QByteArray("01") << QByteArray("11") << 1 << 11;
    QTest::newRow("FF lines: the first record after them")
        << header << QByteArrayList{"FFFFFFFF", "FFFFFFFF", "", Record("09/06/12", 'A'), Record("09/07/12", 'A')}
        << true << QByteArray("06") << QByteArray("12") << 6 << 12;
    QTest::newRow("one record") << header << QByteArrayList{Record("01/02/11", 'A')} << true << QByteArray("02")
                                << QByteArray("11") << 2 << 11;
    QTest::newRow("no record") << header << QByteArrayList{} << false << QByteArray() << QByteArray() << 0 << 0;
}

void TestUsage::firstRecordMonth()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArrayList, lines);
    QFETCH(bool, found);
    QFETCH(QByteArray, monthText);
    QFETCH(QByteArray, yearText);
    QFETCH(int, month);
    QFETCH(int, year);

    const FirstRecordMonth r = ReadFirstRecordMonth(m_slot, write(DataFile(lines, header)));
    QVERIFY(r.ok());
    QVERIFY(!m_slot.isOpen());
    QCOMPARE(r.found, found);
    if (found) {
        QCOMPARE(r.monthText, monthText);
        QCOMPARE(r.yearText, yearText);
        QCOMPARE(r.month, month);
        QCOMPARE(r.year, year);
    }
}

void TestUsage::dayImageNameKeepsLeadingZeros()
{
    const LocatorIdentity id{QStringLiteral("LOC2000"), QStringLiteral("1234"), QStringLiteral("BOB")};
    const QDateTime stamp(QDate(2026, 12, 6), QTime(19, 55, 1));
    QCOMPARE(DayImageName(id, stamp, QStringLiteral("15"), 12, QStringLiteral("05")),
             QStringLiteral("Locator Usage for BOB LOC2000 1234 on 15-12-05____(06-12-2026--19-55-01).jpg"));
}

QTEST_GUILESS_MAIN(TestUsage)
#include "test_usage.moc"
