#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/ReceiveHandler.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Records what the handler asks of its window, in order.
class RecordingView : public ReceiveView
{
public:
    QStringList calls;
    QByteArrayList shown;
    QByteArrayList live;
    QList<bool> liveReady;
    QList<qint64> progress;
    QStringList errors;
    QString nextName = QStringLiteral("auto.txt");

    void onPowerDown(const QString &keptFile) override { calls << "powerDown:" + keptFile; }
    void onLinkAlive(bool transferActive) override { calls << QStringLiteral("alive:%1").arg(transferActive); }
    void onTransferStart() override { calls << "start"; }
    void onLiveLine(const QByteArray &piece, bool fileReady) override
    {
        calls << "live";
        live << piece;
        liveReady << fileReady;
    }
    void onProgress(qint64 value) override
    {
        calls << "progress:" + QString::number(value);
        progress << value;
    }
    void onTransferEnd(bool aborted) override { calls << QStringLiteral("end:%1").arg(aborted); }
    void onTransferText(const QByteArray &text) override
    {
        calls << "text";
        shown << text;
    }
    void onDataFileError(const QString &path, const QString &reason) override
    {
        calls << "error";
        errors << path + ": " + reason;
    }
    QString newDataFileName() override
    {
        calls << "newName";
        return nextName;
    }
    void restartWatchdog() override { calls << "watchdog"; }

    void clear()
    {
        calls.clear();
        shown.clear();
        live.clear();
        liveReady.clear();
        progress.clear();
        errors.clear();
    }
};

struct Rig
{
    QTemporaryDir dir;
    TransferState state;
    DataFileHandle file;
    RecordingView view;
    ReceiveHandler handler{state, file, view};

    Rig()
    {
        handler.setDataFolder(dir.path());
        handler.setCommentBlock(DataFileFormat::DefaultCommentBlock());
    }
    void feed(const QByteArrayList &pieces)
    {
        for (const QByteArray &p : pieces)
            handler.handlePiece(p);
    }
    QByteArray contents(const QString &name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
    }
    bool exists(const QString &name) const { return QFile::exists(dir.filePath(name)); }
    bool request(const QString &name)
    {
        handler.prepareTransfer();
        QString error;
        return handler.openDataFile(name, &error) && error.isEmpty();
    }
};

const QByteArray kBlock = DataFileFormat::DefaultCommentBlock();
const QByteArray kStart = "#DA\r\n";

// What a locator sends for a transfer: the echoed command, its header line,
// the records and the end marker, with line noise either side.
QByteArray transferStream(const QByteArray &command, QRandomGenerator &rng)
{
    static const char *const freqs[] = {"33KHz", "8KHz", "500Hz", "0"};
    static const char *const depths[] = {"1.25", "0.40", "LO", "0", "12.03"};
    QByteArray s = "\r\nOK\r\n" + command + "\r\n";
    s += "LOC2000 1234 BOB\r\n";
    const int records = 200 + int(rng.bounded(200));
    for (int i = 0; i < records; ++i) {
        s += QStringLiteral("%1/12/26,19:%2:%3,%4,%5,%6,%7,%8\r\n")
                 .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                 .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                 .arg(i % 60, 2, 10, QLatin1Char('0'))
                 .arg(QLatin1Char("ATRP"[rng.bounded(4)]))
                 .arg(QLatin1String(freqs[rng.bounded(4)]))
                 .arg(QLatin1Char("SDC0"[rng.bounded(4)]))
                 .arg(QLatin1String(depths[rng.bounded(5)]))
                 .arg(rng.bounded(31))
                 .toLatin1();
    }
    s += '\x1a';
    s += "\r\nREADY\r\n";
    return s;
}

}  // namespace

class TestReceive : public QObject
{
    Q_OBJECT

private slots:
    void init() { r = std::make_unique<Rig>(); }
    void cleanup() { r.reset(); }

    void powerDown_data();
    void powerDown();
    void startMarker_data();
    void startMarker();
    void piecesDuringTransferGoToFileUnchanged();
    void liveLines_data();
    void liveLines();
    void progressWraps_data();
    void progressWraps();
    void transferEnd_data();
    void transferEnd();
    void textBeforeStartMarkerIsDropped_data();
    void textBeforeStartMarkerIsDropped();
    void bothMarkersInOnePiece_data();
    void bothMarkersInOnePiece();
    void emptyPiece();
    void openDataFileClosesEarlierFile();
    void prepareAndAbandon();
    void dataFileCannotBeCreated();
    void randomSplits_data();
    void randomSplits();
    void markersSplitOverPieces_data();
    void markersSplitOverPieces();

private:
    std::unique_ptr<Rig> r;
};

void TestReceive::powerDown_data()
{
    QTest::addColumn<QString>("requested");  // empty: no file asked for
    QTest::addColumn<QByteArrayList>("before");
    QTest::addColumn<QByteArray>("notice");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QByteArray>("fileBytes");  // null: no file expected

    const QByteArrayList transfer{kStart, "rec1\r\n"};
    const QByteArray sofar = kBlock + kStart + "rec1\r\n";
    QTest::newRow("idle") << QString() << QByteArrayList{"$1,2\r\n"} << QByteArray("#PD") << QString() << QByteArray();
    QTest::newRow("file asked for, no data yet")
        << "req.txt" << QByteArrayList{"noise"} << QByteArray("noise#PD\r\n") << "req.txt" << QByteArray("");
    QTest::newRow("mid transfer, notice alone") << "req.txt" << transfer << QByteArray("#PD\r\n") << "req.txt" << sofar;
    // Transfer text that shares the notice's piece was received: it is kept, the notice is not.
    QTest::newRow("mid transfer, text before notice")
        << "req.txt" << transfer << QByteArray("rec2\r\n#PD\r\nafter") << "req.txt" << sofar + "rec2\r\n";
    QTest::newRow("unasked transfer") << QString() << transfer << QByteArray("rec2\r\n#PD") << "auto.txt"
                                      << sofar + "rec2\r\n";
    QTest::newRow("after transfer end") << "req.txt" << QByteArrayList{kStart + "rec1\r\n\x1a"} << QByteArray("rec2#PD")
                                        << QString() << sofar + "\x1a";
}

void TestReceive::powerDown()
{
    QFETCH(QString, requested);
    QFETCH(QByteArrayList, before);
    QFETCH(QByteArray, notice);
    QFETCH(QString, kept);
    QFETCH(QByteArray, fileBytes);

    if (!requested.isEmpty())
        QVERIFY(r->request(requested));
    r->feed(before);
    r->view.clear();

    r->handler.handlePiece(notice);
    QCOMPARE(r->view.calls, QStringList{"powerDown:" + kept});
    QVERIFY(!r->state.TransferActive);
    QVERIFY(r->state.TransferFileReady);
    QVERIFY(!r->file.isOpen());

    const QString name = requested.isEmpty() ? QStringLiteral("auto.txt") : requested;
    if (fileBytes.isNull()) {
        QVERIFY(QDir(r->dir.path()).isEmpty());
        return;
    }
    QCOMPARE(r->contents(name), fileBytes);

    // Nothing more reaches the closed file.
    r->handler.handlePiece("late\r\n\x1a");
    QCOMPARE(r->contents(name), fileBytes);
}

void TestReceive::startMarker_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<bool>("requested");

    for (bool requested : {false, true}) {
        const char *how = requested ? "asked for" : "unasked";
        QTest::addRow("#DA %s", how) << QByteArray("#DA") << requested;
        QTest::addRow("#DA with header %s", how) << QByteArray("#DA\r\nLOC2000 1234 BOB\r\n") << requested;
        QTest::addRow("#DD after noise %s", how) << QByteArray("OK\r\n#DD01/12/26,06/12/26\r\n") << requested;
    }
}

void TestReceive::startMarker()
{
    QFETCH(QByteArray, piece);
    QFETCH(bool, requested);

    if (requested)
        QVERIFY(r->request("req.txt"));
    const QString name = requested ? QStringLiteral("req.txt") : QStringLiteral("auto.txt");

    r->handler.handlePiece(piece);
    const QStringList &calls = r->view.calls;
    QVERIFY(!calls.isEmpty());
    QCOMPARE(calls.first(), QStringLiteral("alive:0"));
    QCOMPARE(calls.contains("newName"), !requested);
    QCOMPARE(calls.count("start"), 1);
    if (!requested)
        QVERIFY(calls.indexOf("newName") < calls.indexOf("start"));
    QVERIFY(calls.contains("watchdog"));
    QVERIFY(calls.contains("text"));
    QVERIFY(!calls.contains("error"));
    QVERIFY(!calls.contains("end:0"));

    QVERIFY(r->state.TransferActive);
    QVERIFY(r->file.isWriting());
    QCOMPARE(r->contents(name), kBlock + piece);
    const qint64 count = kBlock.size() + piece.size();
    QCOMPARE(r->state.TransferCharCount, count);
    QCOMPARE(r->view.progress, QList<qint64>{count});
    QCOMPARE(r->exists("auto.txt"), !requested);
}

void TestReceive::piecesDuringTransferGoToFileUnchanged()
{
    QVERIFY(r->request("req.txt"));
    r->handler.handlePiece(kStart);
    qint64 count = r->state.TransferCharCount;

    // Bare CR, bare LF, NUL and high bytes: a data file is whatever the locator sent.
    // So is a start marker inside the transfer (a user named "#DD", a header
    // cut after its echo): it starts nothing and brings no second comment block.
    const QByteArrayList pieces = {
        "rec1\r\n", "rec2\n", "\rrec3", QByteArray("a\0b", 3), "\xff\xfe\x80", "x", "#DD_____________BOB\r\n", "#DA"};
    QByteArray expected = kBlock + kStart;
    for (const QByteArray &p : pieces) {
        r->view.clear();
        r->handler.handlePiece(p);
        count += p.size();
        expected += p;
        QCOMPARE(r->view.calls, (QStringList{"alive:1", "progress:" + QString::number(count), "text", "watchdog"}));
        QCOMPARE(r->view.shown, QByteArrayList{p});
        QCOMPARE(r->state.TransferCharCount, count);
    }
    QCOMPARE(r->contents("req.txt"), expected);
    QVERIFY(r->state.TransferActive);
}

void TestReceive::liveLines_data()
{
    QTest::addColumn<int>("stage");  // 0 idle, 1 file asked for, 2 in transfer
    QTest::addColumn<bool>("fileReady");

    QTest::newRow("idle") << 0 << false;
    QTest::newRow("idle, earlier file ready") << 0 << true;
    QTest::newRow("file asked for") << 1 << false;
    QTest::newRow("in transfer") << 2 << false;
    QTest::newRow("in transfer, earlier file ready") << 2 << true;
}

void TestReceive::liveLines()
{
    QFETCH(int, stage);
    QFETCH(bool, fileReady);

    r->state.TransferFileReady = fileReady;
    if (stage >= 1)
        QVERIFY(r->request("req.txt"));
    if (stage == 2)
        r->handler.handlePiece(kStart);
    r->view.clear();

    const QByteArray line = "$06/12/26,19:55:01,T,33KHz,D,1.25,17\r\n";
    r->handler.handlePiece(line);
    QCOMPARE(r->view.live, QByteArrayList{line});
    QCOMPARE(r->view.liveReady, QList<bool>{fileReady});
    QCOMPARE(r->view.calls.first(), QStringLiteral("alive:%1").arg(stage == 2));
    QVERIFY(r->view.calls.indexOf("watchdog") > r->view.calls.indexOf("live"));
    QCOMPARE(r->view.calls.contains("text"), stage == 2);
    QCOMPARE(r->state.TransferActive, stage == 2);

    if (stage == 0)
        QVERIFY(QDir(r->dir.path()).isEmpty());
    if (stage == 1)
        QCOMPARE(r->contents("req.txt"), QByteArray());
    if (stage == 2)
        QCOMPARE(r->contents("req.txt"), kBlock + kStart + line);
}

void TestReceive::progressWraps_data()
{
    QTest::addColumn<qint64>("before");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<qint64>("after");

    QTest::newRow("grows") << qint64(100) << 10 << qint64(110);
    QTest::newRow("reaches the top") << qint64(164990) << 10 << qint64(165000);
    QTest::newRow("one past the top") << qint64(164990) << 11 << qint64(0);
    QTest::newRow("from the top") << qint64(165000) << 1 << qint64(0);
    QTest::newRow("large piece") << qint64(0) << 165001 << qint64(0);
}

void TestReceive::progressWraps()
{
    QFETCH(qint64, before);
    QFETCH(int, pieceSize);
    QFETCH(qint64, after);

    r->handler.handlePiece(kStart);
    r->state.TransferCharCount = before;
    r->view.clear();
    r->handler.handlePiece(QByteArray(pieceSize, 'x'));
    QCOMPARE(r->state.TransferCharCount, after);
    QCOMPARE(r->view.progress, QList<qint64>{after});
    QCOMPARE(r->contents("auto.txt").size(), kBlock.size() + kStart.size() + pieceSize);
}

void TestReceive::transferEnd_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("abortedArg");
    QTest::addColumn<bool>("acknowledged");

    QTest::newRow("end alone") << QByteArrayList{"rec\r\n", "\x1a"} << true << false << false;
    QTest::newRow("end with trailing text") << QByteArrayList{"rec\r\n\x1a\r\nOK"} << true << false << false;
    QTest::newRow("abort and end together") << QByteArrayList{"rec\r\nABORT\r\n\x1a"} << true << true << true;
    QTest::newRow("abort, then end") << QByteArrayList{"ABORT\r\n", "\x1a"} << true << true << true;
    QTest::newRow("abort, no end yet") << QByteArrayList{"rec\r\n", "ABORT\r\n"} << false << false << true;
    QTest::newRow("lower-case abort") << QByteArrayList{"abort\x1a"} << true << false << false;
}

void TestReceive::transferEnd()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(bool, ends);
    QFETCH(bool, abortedArg);
    QFETCH(bool, acknowledged);

    QVERIFY(r->request("req.txt"));
    r->handler.handlePiece(kStart);
    r->view.clear();
    r->feed(pieces);

    const QByteArray expected = kBlock + kStart + pieces.join();
    QCOMPARE(r->contents("req.txt"), expected);
    QCOMPARE(r->state.AbortAcknowledged, acknowledged);
    QCOMPARE(r->state.TransferActive, !ends);
    QCOMPARE(r->state.TransferFileReady, ends);
    QCOMPARE(r->file.isOpen(), !ends);
    QCOMPARE(r->view.shown, pieces);
    QCOMPARE(r->state.TransferCharCount, qint64(expected.size()));

    const QStringList &calls = r->view.calls;
    if (ends) {
        const QString end = QStringLiteral("end:%1").arg(abortedArg);
        QCOMPARE(calls.count(end), 1);
        QCOMPARE(calls.count("end:0") + calls.count("end:1"), 1);
        // The file is complete before anyone is told, then the text is shown.
        QCOMPARE(calls.mid(calls.size() - 3), (QStringList{end, "text", "watchdog"}));

        r->view.clear();
        r->handler.handlePiece("after the end\r\n");
        QCOMPARE(r->contents("req.txt"), expected);
        QVERIFY(!r->view.calls.contains("text"));
        QCOMPARE(r->view.calls, QStringList{"alive:0"});
    } else {
        QVERIFY(!calls.contains("end:0") && !calls.contains("end:1"));
    }
}

void TestReceive::textBeforeStartMarkerIsDropped_data()
{
    QTest::addColumn<bool>("requested");
    QTest::newRow("file asked for") << true;
    QTest::newRow("nothing asked for") << false;
}

void TestReceive::textBeforeStartMarkerIsDropped()
{
    QFETCH(bool, requested);
    if (requested)
        QVERIFY(r->request("req.txt"));

    // Noise is not a transfer, however near a marker it comes over two pieces.
    r->feed({"OK\r\n", "#D", "\r\nLOC2000 1234 BOB\r\n", "rec\r\n#", "DX01", "#P", "\x1a", "D"});
    QVERIFY(!r->state.TransferActive);
    QVERIFY(!r->view.calls.contains("start"));
    QVERIFY(!r->view.calls.contains("text"));
    QVERIFY(!r->view.calls.contains("newName"));
    QVERIFY(r->view.progress.isEmpty());
    if (requested) {
        QCOMPARE(r->contents("req.txt"), QByteArray());
        QVERIFY(r->file.isWriting());
    } else {
        QVERIFY(QDir(r->dir.path()).isEmpty());
    }

    // The first whole marker starts the file.
    r->feed({"#DA\r\n", "rec\r\n"});
    QVERIFY(r->state.TransferActive);
    QCOMPARE(r->contents(requested ? "req.txt" : "auto.txt"), kBlock + "#DA\r\nrec\r\n");
}

void TestReceive::bothMarkersInOnePiece_data()
{
    QTest::addColumn<bool>("requested");
    QTest::newRow("file asked for") << true;
    QTest::newRow("nothing asked for") << false;
}

void TestReceive::bothMarkersInOnePiece()
{
    QFETCH(bool, requested);
    if (requested)
        QVERIFY(r->request("req.txt"));

    const QByteArray piece = "#DD01/12/26,06/12/26\r\nLOC2000 1234 BOB\r\n01/12/26,10:00:00,T,8KHz,D,0.40,9\r\n\x1a";
    r->handler.handlePiece(piece);
    QCOMPARE(r->contents(requested ? "req.txt" : "auto.txt"), kBlock + piece);
    QVERIFY(!r->file.isOpen());
    QVERIFY(!r->state.TransferActive);
    QVERIFY(r->state.TransferFileReady);
    QCOMPARE(r->view.calls.count("start"), 1);
    QCOMPARE(r->view.calls.count("end:0"), 1);
    QVERIFY(r->view.calls.indexOf("start") < r->view.calls.indexOf("end:0"));
    QCOMPARE(r->view.calls.last(), QStringLiteral("watchdog"));
}

void TestReceive::emptyPiece()
{
    // Outside a transfer an empty piece only shows the link is alive.
    r->handler.handlePiece(QByteArray());
    QCOMPARE(r->view.calls, QStringList{"alive:0"});

    r->handler.handlePiece(kStart);
    const qint64 count = r->state.TransferCharCount;
    r->view.clear();
    r->handler.handlePiece(QByteArray());
    QCOMPARE(r->view.shown, QByteArrayList{QByteArray()});
    QVERIFY(r->view.calls.contains("watchdog"));
    QVERIFY(r->view.calls.indexOf("text") < r->view.calls.lastIndexOf("watchdog"));
    QCOMPARE(r->state.TransferCharCount, count);
    QVERIFY(r->state.TransferActive);
    QCOMPARE(r->contents("auto.txt"), kBlock + kStart);
}

void TestReceive::openDataFileClosesEarlierFile()
{
    QVERIFY(r->request("a.txt"));
    r->feed({kStart, "rec1\r\n"});

    QString error;
    QVERIFY(r->handler.openDataFile("b.txt", &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(r->contents("a.txt"), kBlock + kStart + "rec1\r\n");
    QCOMPARE(QFileInfo(r->file.path()).fileName(), QStringLiteral("b.txt"));
    QVERIFY(r->file.isWriting());
    QCOMPARE(r->contents("b.txt"), QByteArray());

    // The earlier file is really let go of, not just forgotten.
    DataFileHandle other;
    QVERIFY(!FileLocked(other, r->dir.filePath("a.txt")));
}

void TestReceive::prepareAndAbandon()
{
    r->state.TransferCharCount = 1234;
    r->state.AbortAcknowledged = true;
    r->handler.prepareTransfer();
    QCOMPARE(r->state.TransferCharCount, qint64(0));
    QVERIFY(!r->state.AbortAcknowledged);

    QCOMPARE(r->handler.abandonTransfer(), QString());
    QVERIFY(!r->state.TransferActive);

    QVERIFY(r->request("req.txt"));
    // A last piece that ends as a power-down notice would begin is kept whole.
    r->feed({kStart, "rec1\r\npartial rec#P"});
    QCOMPARE(r->handler.abandonTransfer(), QStringLiteral("req.txt"));
    QVERIFY(!r->state.TransferActive);
    QVERIFY(!r->file.isOpen());
    QCOMPARE(r->contents("req.txt"), kBlock + kStart + "rec1\r\npartial rec#P");
    QCOMPARE(r->handler.abandonTransfer(), QString());

    // Text arriving after the link was given up is not added.
    r->handler.handlePiece("more\r\n\x1a");
    QCOMPARE(r->contents("req.txt"), kBlock + kStart + "rec1\r\npartial rec#P");
}

void TestReceive::dataFileCannotBeCreated()
{
    // The data folder's place is taken by an ordinary file.
    const QString blocker = r->dir.filePath("blocker");
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    r->handler.setDataFolder(blocker);

    QString error;
    QVERIFY(!r->handler.openDataFile("x.txt", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!r->file.isOpen());

    // A transfer nobody asked for cannot get a file either: reported, not followed.
    r->handler.handlePiece(kStart + "rec\r\n");
    QCOMPARE(r->view.errors.size(), 1);
    QVERIFY(!r->view.calls.contains("start"));
    QVERIFY(!r->state.TransferActive);
    QVERIFY(!r->file.isOpen());
}

void TestReceive::randomSplits_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("requested");

    for (quint32 seed = 1; seed <= 9; ++seed) {
        for (const char *command : {"#DA", "#DD01/12/26,06/12/26"}) {
            for (bool requested : {false, true})
                QTest::addRow("seed %u %.3s %s", seed, command, requested ? "asked" : "unasked")
                    << seed << QByteArray(command) << requested;
        }
    }
}

void TestReceive::randomSplits()
{
    QFETCH(quint32, seed);
    QFETCH(QByteArray, command);
    QFETCH(bool, requested);

    QRandomGenerator rng(seed);
    const QByteArray stream = transferStream(command, rng);
    const qsizetype marker = stream.indexOf(command.left(3));

    // Every third seed cuts into single bytes; the others mix sizes, 1-byte pieces included.
    QByteArrayList pieces;
    for (qsizetype pos = 0; pos < stream.size();) {
        qsizetype len = 1;
        if (seed % 3 != 0 && rng.bounded(4) != 0)
            len = 1 + qsizetype(rng.bounded(300));
        len = qMin(len, stream.size() - pos);
        pieces << stream.mid(pos, len);
        pos += len;
    }

    // A marker within one piece starts the transfer at that piece; one split
    // over pieces starts it at the marker's first character.
    qsizetype from = -1, to = -1, offset = 0;
    for (const QByteArray &p : pieces) {
        if (from < 0 && offset + p.size() >= marker + 3)
            from = offset <= marker ? offset : marker;
        if (from >= 0 && to < 0 && p.contains('\x1a'))
            to = offset + p.size();
        offset += p.size();
    }
    QVERIFY(from >= 0 && to > from);
    const QByteArray expected = kBlock + stream.mid(from, to - from);

    if (requested)
        QVERIFY(r->request("req.txt"));
    r->feed(pieces);

    QCOMPARE(r->contents(requested ? "req.txt" : "auto.txt"), expected);
    QCOMPARE(r->view.calls.count("start"), 1);
    QCOMPARE(r->view.calls.count("end:0"), 1);
    QCOMPARE(r->view.calls.count("newName"), requested ? 0 : 1);
    QVERIFY(!r->view.calls.contains("error"));
    QVERIFY(!r->state.TransferActive);
    QVERIFY(r->state.TransferFileReady);
    QVERIFY(!r->file.isOpen());
    QCOMPARE(r->state.TransferCharCount, qint64(expected.size()));
    QCOMPARE(r->view.progress.last(), qint64(expected.size()));
    QVERIFY(std::is_sorted(r->view.progress.cbegin(), r->view.progress.cend()));
}

void TestReceive::markersSplitOverPieces_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("events");  // start, powerDown:, end:0, end:1 in order
    QTest::addColumn<QByteArray>("fileBytes");

    const QByteArray header = "A\r\nLOC2000 1234 BOB\r\n";
    QTest::newRow("#D|A") << QByteArrayList{"OK\r\n#D", header, "rec\x1a"} << QStringList{"start", "end:0"}
                          << kBlock + "#D" + header + "rec\x1a";
    QTest::newRow("#|D|D") << QByteArrayList{"#", "D", "D01/12/26\r\n", "\x1a"} << QStringList{"start", "end:0"}
                           << kBlock + "#DD01/12/26\r\n\x1a";
    // No part of a notice reaches the file, however it was cut; what only
    // looked like its start is written once the next piece shows otherwise.
    QTest::newRow("#P|D") << QByteArrayList{kStart, "rec#P", "D\r\n"} << QStringList{"start", "powerDown:req.txt"}
                          << kBlock + kStart + "rec";
    QTest::newRow("#|P|D") << QByteArrayList{kStart, "rec#", "P", "D"} << QStringList{"start", "powerDown:req.txt"}
                           << kBlock + kStart + "rec";
    QTest::newRow("##P|D") << QByteArrayList{kStart + "##P", "D"} << QStringList{"start", "powerDown:req.txt"}
                           << kBlock + kStart + "#";
    QTest::newRow("#P|X") << QByteArrayList{kStart, "rec#P", "X#", "\x1a#"} << QStringList{"start", "end:0"}
                          << kBlock + kStart + "rec#PX#\x1a#";
    QTest::newRow("AB|ORT") << QByteArrayList{kStart, "rec AB", "ORT\r\n\x1a"} << QStringList{"start", "end:1"}
                            << kBlock + kStart + "rec ABORT\r\n\x1a";
    // What ended one transfer does not start or end another.
    QTest::newRow("marker in last piece only")
        << QByteArrayList{"#DA\x1a", "x"} << QStringList{"start", "end:0"} << kBlock + "#DA\x1a";
}

void TestReceive::markersSplitOverPieces()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, fileBytes);

    QVERIFY(r->request("req.txt"));
    r->feed(pieces);
    QStringList seen;
    for (const QString &c : std::as_const(r->view.calls))
        if (c == "start" || c.startsWith("powerDown:") || c.startsWith("end:"))
            seen << c;
    QCOMPARE(seen, events);
    QCOMPARE(r->contents("req.txt"), fileBytes);
    QCOMPARE(r->state.AbortAcknowledged, events.contains("end:1"));
}

QTEST_GUILESS_MAIN(TestReceive)
#include "test_receive.moc"
