#include "core/datafile/DataFileHandle.h"
#include "core/viewer/RowSort.h"
#include "core/viewer/SortKeys.h"
#include "core/viewer/ViewerColumns.h"
#include "core/viewer/ViewerRecords.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <numeric>

using namespace Viewer;

namespace {

const QByteArray CommentBlock = "//     Date(DD/MM/YY)\r\n//     Time(HH:MM:SS)\r\n// Date,Time,Mode\r\n";

QByteArray headerLine()
{
    // User in 4-35, model in 52-59, serial number in 60-67.
    QByteArray line = "#DA" + QByteArray("JOHN SMITH").leftJustified(32, '_');
    line += QByteArray(16, '-');
    line += "LOC_2000" + QByteArray("__001234");
    return line;
}

LoadResult load(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return LoadRecords(buffer);
}

// A store whose column `column` holds the given cells, one row each.
RecordStore storeWithColumn(int column, const QStringList &cells)
{
    RecordStore store;
    for (const QString &cell : cells) {
        QByteArray line;
        if (column == DateColumn) {
            const qsizetype gap = cell.indexOf(QLatin1String("   "));
            // A cell without the three blanks stands for a line of one field.
            line = gap < 0 ? cell.toLatin1()
                           : cell.left(gap).toLatin1() + ',' + cell.mid(gap + 3).toLatin1() + ",A,0,0,0,0";
        } else {
            QByteArrayList fields = {"01/01/10", "00:00:00", "A", "0", "0", "0", "0"};
            fields[column + 1] = cell.toLatin1();
            line = fields.join(',');
        }
        store.addLine(line);
    }
    return store;
}

QStringList sortedCells(int column, const QStringList &cells, bool descending)
{
    const RecordStore store = storeWithColumn(column, cells);
    RowOrder order(std::size_t(store.rowCount()));
    std::iota(order.begin(), order.end(), quint32(0));
    SortRows(store, column, TypeOfColumn(column), descending, order);
    QStringList out;
    for (const quint32 record : order)
        out << store.cellText(record, column);
    return out;
}

// What the list does with key texts: a stable sort comparing them character by character.
QStringList sortedByKeyText(const QStringList &cells, QString (*keyText)(QStringView), bool descending)
{
    QList<QPair<QString, QString>> keyed;
    for (const QString &cell : cells)
        keyed.append({keyText(cell), cell});
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto &a, const auto &b) { return descending ? a.first > b.first : a.first < b.first; });
    QStringList out;
    for (const auto &k : keyed)
        out << k.second;
    return out;
}

}  // namespace

class TestViewerCore : public QObject
{
    Q_OBJECT
private slots:
    void complementDigits_data();
    void complementDigits();
    void dateKeyText_data();
    void dateKeyText();
    void numberKeyText_data();
    void numberKeyText();
    void sortOrder_data();
    void sortOrder();
    void numberOrderMatchesKeyTexts();
    void dateOrderMatchesKeyTexts();
    void textOrderIgnoresCaseAndKeepsTies();
    void radixSortIsStable_data();
    void radixSortIsStable();
    void headerImages_data();
    void headerImages();
    void columns();
    void loadRowsColoursAndTotals();
    void loadIdentity_data();
    void loadIdentity();
    void loadWithoutRecords_data();
    void loadWithoutRecords();
    void slotUseWhileLoading();
};

void TestViewerCore::complementDigits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("digits") << "0123456789"
                            << "9876543210";
    QTest::newRow("minus becomes blank") << "-12.50"
                                         << " 87.49";
    QTest::newRow("others stay") << "&x.Y"
                                 << "&x.Y";
    QTest::newRow("empty") << ""
                           << "";
}

void TestViewerCore::complementDigits()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ComplementDigits(text), expected);
}

void TestViewerCore::dateKeyText_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("key");
    QTest::newRow("record") << "03/04/10   14:05:09"
                            << "20100403140509";
    QTest::newRow("last second of a century") << "31/12/99   23:59:59"
                                              << "20991231235959";
    QTest::newRow("leap day") << "29/02/12   00:00:00"
                              << "20120229000000";
    QTest::newRow("one-digit day and hour") << "3/4/10 9:05:09"
                                            << "20100403090509";
    QTest::newRow("no leap day") << "29/02/11   00:00:00"
                                 << "";
    QTest::newRow("day 32") << "32/01/10   00:00:00"
                            << "";
    QTest::newRow("month 13") << "01/13/10   00:00:00"
                              << "";
    QTest::newRow("hour 24") << "03/04/10   24:00:00"
                             << "";
    QTest::newRow("date without time") << "03/04/10"
                                       << "";
    QTest::newRow("four-digit year") << "03/04/2010   14:05:09"
                                     << "";
    QTest::newRow("text") << "ABORT"
                          << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestViewerCore::dateKeyText()
{
    QFETCH(QString, cell);
    QFETCH(QString, key);
    QCOMPARE(DateKeyText(cell), key);
}

void TestViewerCore::numberKeyText_data()
{
    const QString zeros30(30, QLatin1Char('0'));
    const QString nines30(30, QLatin1Char('9'));
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("key");
    QTest::newRow("2") << "2" << QString(29, '0') + "2." + zeros30;
    QTest::newRow("1.25") << "1.25" << QString(29, '0') + "1.25" + QString(28, '0');
    QTest::newRow("0") << "0" << zeros30 + "." + zeros30;
    QTest::newRow("minus zero") << "-0" << zeros30 + "." + zeros30;
    QTest::newRow("-10") << "-10"
                         << "&" + QString(28, '9') + "89." + nines30;
    QTest::newRow("-0.5") << "-0.5"
                          << "&" + nines30 + ".4" + QString(29, '9');
    QTest::newRow("blanks and plus") << " +7 " << QString(29, '0') + "7." + zeros30;
    QTest::newRow("exponent") << "1.5e2" << QString(27, '0') + "150." + zeros30;
    QTest::newRow("rounded at 30 digits") << "0." + QString(29, '0') + "15" << zeros30 + "." + QString(29, '0') + "2";
    QTest::newRow("LO") << "LO"
                        << "";
    QTest::newRow("33KHz") << "33KHz"
                           << "";
    QTest::newRow("letter") << "S"
                            << "";
    QTest::newRow("lone point") << "."
                                << "";
    QTest::newRow("bare exponent") << "1e"
                                   << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestViewerCore::numberKeyText()
{
    QFETCH(QString, cell);
    QFETCH(QString, key);
    QCOMPARE(NumberKeyText(cell), key);
}

void TestViewerCore::sortOrder_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("signal ascending: 2 before 10")
        << SignalColumn << false << QStringList{"10", "2", "30", "0"} << QStringList{"0", "2", "10", "30"};
    QTest::newRow("negatives from the most negative up")
        << 4 << false << QStringList{"3", "-5", "0", "-10"} << QStringList{"-10", "-5", "0", "3"};
    QTest::newRow("negatives descending")
        << 4 << true << QStringList{"3", "-5", "0", "-10"} << QStringList{"3", "0", "-5", "-10"};
    QTest::newRow("fractions around zero")
        << 4 << false << QStringList{"0.1", "-0.05", "0.05", "-0.1"} << QStringList{"-0.1", "-0.05", "0.05", "0.1"};
    QTest::newRow("non-numbers first ascending, in their order")
        << 4 << false << QStringList{"LO", "1.25", "S", "0.5"} << QStringList{"LO", "S", "0.5", "1.25"};
    QTest::newRow("non-numbers last descending, in their order")
        << 4 << true << QStringList{"LO", "1.25", "S", "0.5"} << QStringList{"1.25", "0.5", "LO", "S"};
    QTest::newRow("frequency texts are not numbers")
        << 2 << false << QStringList{"8KHz", "0", "33KHz", "500Hz"} << QStringList{"8KHz", "33KHz", "500Hz", "0"};
    QTest::newRow("equal keys keep their order")
        << SignalColumn << false << QStringList{"5.0", "05", "4", "5"} << QStringList{"4", "5.0", "05", "5"};
    QTest::newRow("equal keys keep their order descending")
        << SignalColumn << true << QStringList{"5.0", "05", "4", "5"} << QStringList{"5.0", "05", "5", "4"};
    QTest::newRow("sizes past 30 digits by size") << 4 << false << QStringList{"1e31", "5", "-1e31", "-5", "9e29"}
                                                  << QStringList{"-1e31", "-5", "5", "9e29", "1e31"};
    QTest::newRow("dates chronologically, no date first")
        << DateColumn << false
        << QStringList{"01/02/11   00:00:00", "31/12/10   23:59:59", "ABORT", "01/02/11   00:00:01",
                       "02/01/11   00:00:00"}
        << QStringList{"ABORT", "31/12/10   23:59:59", "02/01/11   00:00:00", "01/02/11   00:00:00",
                       "01/02/11   00:00:01"};
    QTest::newRow("dates descending, no date last")
        << DateColumn << true << QStringList{"02/01/11   00:00:00", "ABORT", "01/02/11   00:00:00"}
        << QStringList{"01/02/11   00:00:00", "02/01/11   00:00:00", "ABORT"};
    QTest::newRow("mode letters") << ModeColumn << false << QStringList{"T", "A", "P", "", "R"}
                                  << QStringList{"", "A", "P", "R", "T"};
}

void TestViewerCore::sortOrder()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, expected);
    QCOMPARE(sortedCells(column, cells, descending), expected);
}

void TestViewerCore::numberOrderMatchesKeyTexts()
{
    // Below 10^30 the typed keys must give exactly the order of the key
    // texts, including cells a 64-bit key cannot tell apart on its own.
    QStringList cells = {"0",
                         "-0",
                         "0.0",
                         "7",
                         "007",
                         "-7",
                         "1.25",
                         "-1.25",
                         "LO",
                         "S",
                         "",
                         "33KHz",
                         "0.123456789",
                         "0.1234567891",
                         "0.1234567899",
                         "0.12345678912345",
                         "-0.1234567891",
                         "-0.1234567899",
                         "-0.0000000001",
                         "-0.00000000001",
                         "0.00000000001",
                         "999999999",
                         "1000000000",
                         "1234567890123",
                         "-1234567890123",
                         "-1000000000",
                         "1e-40",
                         "-1e-40",
                         "1.5e3",
                         "-2.5E-3",
                         "0." + QString(30, '9') + "5",
                         "0." + QString(29, '0') + "149",
                         "0." + QString(29, '0') + "15",
                         QString(30, '9'),
                         "-" + QString(30, '9'),
                         "123456789.123456789123"};
    QRandomGenerator rng(6);
    for (int i = 0; i < 400; ++i) {
        const int kind = rng.bounded(4);
        const double v = (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-12, 14));
        if (kind == 0)
            cells << QString::number(v, 'f', rng.bounded(0, 16));
        else if (kind == 1)
            cells << QString::number(v, 'e', rng.bounded(0, 12));
        else if (kind == 2)
            cells << QString::number(rng.bounded(-40, 40));
        else
            cells << cells[rng.bounded(int(cells.size()))];  // repeats make ties
    }
    for (const bool descending : {false, true}) {
        QCOMPARE(sortedCells(4, cells, descending), sortedByKeyText(cells, &NumberKeyText, descending));
        QCOMPARE(sortedCells(SignalColumn, cells, descending), sortedByKeyText(cells, &NumberKeyText, descending));
    }
}

void TestViewerCore::dateOrderMatchesKeyTexts()
{
    QStringList cells = {"ABORT", "", "29/02/11   00:00:00", "3/4/10   9:05:09"};
    QRandomGenerator rng(7);
    for (int i = 0; i < 300; ++i) {
        cells << QStringLiteral("%1/%2/%3   %4:%5:%6")
                     .arg(rng.bounded(1, 32), 2, 10, QLatin1Char('0'))
                     .arg(rng.bounded(1, 13), 2, 10, QLatin1Char('0'))
                     .arg(rng.bounded(0, 100), 2, 10, QLatin1Char('0'))
                     .arg(rng.bounded(0, 24), 2, 10, QLatin1Char('0'))
                     .arg(rng.bounded(0, 60), 2, 10, QLatin1Char('0'))
                     .arg(rng.bounded(0, 60), 2, 10, QLatin1Char('0'));
    }
    for (const bool descending : {false, true})
        QCOMPARE(sortedCells(DateColumn, cells, descending), sortedByKeyText(cells, &DateKeyText, descending));
}

void TestViewerCore::textOrderIgnoresCaseAndKeepsTies()
{
    // Long texts sharing their first characters go past what the key holds.
    const QStringList cells
        = {"t", "A", "T", "a", "ABCDEFGHIJ2", "abcdefghij1", "ABCDEFGHIJ", "abcdefg", "ABCDEFGH1", "abcdefghij2"};
    const QStringList ascending
        = {"A", "a", "abcdefg", "ABCDEFGH1", "ABCDEFGHIJ", "abcdefghij1", "ABCDEFGHIJ2", "abcdefghij2", "t", "T"};
    QCOMPARE(sortedCells(ModeColumn, cells, false), ascending);
    const QStringList descending
        = {"t", "T", "ABCDEFGHIJ2", "abcdefghij2", "abcdefghij1", "ABCDEFGHIJ", "ABCDEFGH1", "abcdefg", "A", "a"};
    QCOMPARE(sortedCells(ModeColumn, cells, true), descending);
}

void TestViewerCore::radixSortIsStable_data()
{
    // Few distinct values per byte, so ties are common.
    QTest::addColumn<quint64>("byteMask");  // which bytes may differ
    QTest::newRow("every byte") << ~quint64(0);
    QTest::newRow("top byte only") << (quint64(0xff) << 56);
    QTest::newRow("a middle window") << quint64(0x0000ffffff000000);
    QTest::newRow("all equal") << quint64(0);
}

void TestViewerCore::radixSortIsStable()
{
    QFETCH(quint64, byteMask);
    QRandomGenerator rng(8);
    BigVector<quint64> keys(5000);
    for (quint64 &k : keys) {
        k = 0x5a5a5a5a5a5a5a5a;
        for (int b = 0; b < 8; ++b)
            k ^= quint64(rng.bounded(3) * 0x61) << (8 * b);
        k &= byteMask;
    }
    RowOrder values(keys.size());
    std::iota(values.begin(), values.end(), quint32(0));
    std::vector<quint32> expected(values.begin(), values.end());
    std::stable_sort(expected.begin(), expected.end(), [&](quint32 a, quint32 b) { return keys[a] < keys[b]; });
    BigVector<quint64> sortedKeys = keys, spareKeys;
    RowOrder spareValues;
    RadixSortByKey(sortedKeys, values, spareKeys, spareValues);
    QVERIFY(std::equal(values.begin(), values.end(), expected.begin(), expected.end()));
    QVERIFY(std::is_sorted(sortedKeys.begin(), sortedKeys.end()));
}

void TestViewerCore::headerImages_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<bool>("lastDescending");
    QTest::addColumn<QStringList>("images");
    QTest::newRow("as loaded") << QList<int>{} << false << QStringList{"asc", "", "", "", "", ""};
    QTest::newRow("first click on Date") << QList<int>{0} << true << QStringList{"desc", "", "", "", "", ""};
    QTest::newRow("second click on Date") << QList<int>{0, 0} << false << QStringList{"asc", "", "", "", "", ""};
    QTest::newRow("first click on Signal Strength") << QList<int>{5} << false << QStringList{"", "", "", "", "", "asc"};
    QTest::newRow("Signal Strength twice") << QList<int>{5, 5} << true << QStringList{"", "", "", "", "", "desc"};
    QTest::newRow("back to Date after another column")
        << QList<int>{5, 0} << false << QStringList{"asc", "", "", "", "", ""};
    QTest::newRow("Mode three times") << QList<int>{1, 1, 1} << false << QStringList{"", "asc", "", "", "", ""};
}

void TestViewerCore::headerImages()
{
    QFETCH(QList<int>, clicks);
    QFETCH(bool, lastDescending);
    QFETCH(QStringList, images);
    SortHeaders headers;
    bool descending = false;
    for (const int c : clicks)
        descending = headers.click(c);
    QCOMPARE(descending, lastDescending);
    QStringList shown;
    for (int c = 0; c < ColumnCount; ++c)
        shown << headers.image(c);
    QCOMPARE(shown, images);
}

void TestViewerCore::columns()
{
    QCOMPARE(TwipsToPixels(1700, 96), 113);
    QCOMPARE(TypeOfTag(u"date"), ColumnType::Date);
    QCOMPARE(TypeOfTag(u"Number"), ColumnType::Number);
    QCOMPARE(TypeOfTag(u"STRING"), ColumnType::Text);
}

void TestViewerCore::loadRowsColoursAndTotals()
{
    const QByteArray body = "03/04/10,14:05:09,X,0,0,0,5\r\n"  // before any mode: black, counted nowhere
                            "03/04/10,14:05:10,A,0,0,0,5\r\n"
                            "03/04/10,14:05:11,T,33KHz,D,1.25,12\r\n"
                            "\r\n"  // empty: no row
                            "03/04/10,14:05:12,t,0,0,0,5\r\n"  // lower case is no mode: keeps T
                            "03/04/10,14:05:13, R,0,0,0,5\r\n"  // blank before the letter: keeps T
                            "03/04/10,14:05:14,R,0,0,LO,0,extra,fields\n"
                            "ABORT\r"
                            "03/04/10,14:05:15\r\n"
                            "03/04/10,14:05:16,P,0,0,0,30\r\n"
                            "\x1a"
                            "03/04/10,14:05:17,A,0,0,0,5\r\n";  // past the end marker
    const LoadResult loaded = load(CommentBlock + headerLine() + "\r\n" + body);
    QVERIFY(loaded.ok());
    QVERIFY(loaded.headerFound);
    const RecordStore &r = loaded.records;
    QCOMPARE(r.rowCount(), 9);

    const QList<QStringList> cells = {
        {"03/04/10   14:05:09", "X", "0", "0", "0", "5"},
        {"03/04/10   14:05:10", "A", "0", "0", "0", "5"},
        {"03/04/10   14:05:11", "T", "33KHz", "D", "1.25", "12"},
        {"03/04/10   14:05:12", "t", "0", "0", "0", "5"},
        {"03/04/10   14:05:13", " R", "0", "0", "0", "5"},
        {"03/04/10   14:05:14", "R", "0", "0", "LO", "0"},
        {"ABORT", "", "", "", "", ""},
        {"03/04/10   14:05:15", "", "", "", "", ""},
        {"03/04/10   14:05:16", "P", "0", "0", "0", "30"},
    };
    for (int row = 0; row < r.rowCount(); ++row) {
        QStringList shown;
        for (int c = 0; c < ColumnCount; ++c)
            shown << r.cellText(row, c);
        QCOMPARE(shown, cells[row]);
    }
    const int A = 0, T = 1, R = 2, P = 3, none = RecordStore::NoMode;
    const QList<int> colours = {none, A, T, T, T, R, R, R, P};
    for (int row = 0; row < r.rowCount(); ++row)
        QCOMPARE(r.colourMode(row), colours[row]);
    QCOMPARE(r.modeRecords(), (std::array<qint64, 4>{1, 1, 1, 1}));
    QCOMPARE(r.totalRecords(), 4);
}

void TestViewerCore::loadIdentity_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::newRow("full line") << headerLine() << "JOHN SMITH" + QString(22, '_') << "LOC 2000"
                               << "  001234";
    QTest::newRow("blanks kept") << "#DA" + QByteArray(" BOB").leftJustified(32, ' ') + QByteArray(16, '-') + "LOC2000 "
            + "1234    " << QString(" BOB").leftJustified(32, ' ')
                                 << "LOC2000 "
                                 << "1234    ";
    QTest::newRow("ends inside the model")
        << "#DA" + QByteArray(32, 'U') + QByteArray(16, '-') + "LOC" << QString(32, 'U') << "LOC"
        << "";
    QTest::newRow("ends inside the user") << QByteArray("#DDBOB") << "BOB"
                                          << ""
                                          << "";
    QTest::newRow("empty header line") << QByteArray() << ""
                                       << ""
                                       << "";
}

void TestViewerCore::loadIdentity()
{
    QFETCH(QByteArray, header);
    QFETCH(QString, user);
    QFETCH(QString, model);
    QFETCH(QString, serial);
    const LoadResult loaded = load(CommentBlock + header + "\r\n01/01/10,00:00:00,A,0,0,0,0\r\n");
    QCOMPARE(loaded.identity.user, user);
    QCOMPARE(loaded.identity.model, model);
    QCOMPARE(loaded.identity.serial, serial);
    QCOMPARE(loaded.records.rowCount(), 1);
}

void TestViewerCore::loadWithoutRecords_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("headerFound");
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("only comment lines") << CommentBlock << false;
    QTest::newRow("header, no records") << CommentBlock + headerLine() + "\r\n" << true;
    QTest::newRow("header, end marker") << CommentBlock + headerLine() + "\r\n\x1a" << true;
    QTest::newRow("header, blank lines") << CommentBlock + headerLine() + "\r\n\r\n  \r\n\n" << true;
}

void TestViewerCore::loadWithoutRecords()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, headerFound);
    const LoadResult loaded = load(file);
    QVERIFY(loaded.ok());
    QCOMPARE(loaded.headerFound, headerFound);
    QCOMPARE(loaded.records.rowCount(), 0);
    QCOMPARE(loaded.records.totalRecords(), 0);
}

void TestViewerCore::slotUseWhileLoading()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.csv");
    const QString other = dir.filePath("transfer.csv");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(CommentBlock + headerLine() + "\r\n01/01/10,00:00:00,A,0,0,0,0\r\n");
    }
    DataFileHandle slot;

    // A reader that left the slot open is released, as the exclusive-open test does.
    QVERIFY(slot.openForRead(path));
    LoadResult loaded = LoadRecordsFile(slot, path);
    QVERIFY(loaded.ok());
    QCOMPARE(loaded.records.rowCount(), 1);
    QVERIFY(!slot.isOpen());

    // A transfer writing through the slot keeps its file open and writable.
    QVERIFY(slot.openForWrite(other));
    loaded = LoadRecordsFile(slot, path);
    QCOMPARE(loaded.records.rowCount(), 1);
    QVERIFY(slot.isWriting());
    QVERIFY(slot.write("still writing"));
    slot.close();

    loaded = LoadRecordsFile(slot, dir.filePath("missing.csv"));
    QCOMPARE(loaded.status, LoadResult::Status::CannotOpen);
    QVERIFY(!loaded.detail.isEmpty());
    QVERIFY(!slot.isOpen());
}

QTEST_GUILESS_MAIN(TestViewerCore)
#include "test_viewer_core.moc"
