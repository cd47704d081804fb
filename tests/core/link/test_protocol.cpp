#include "core/link/Pacing.h"
#include "core/link/Protocol.h"

#include <QtTest>

using namespace Protocol;

namespace {

// An identify reply as the locator pads it: "#X", user to 32 with "_",
// 16 characters we do not read, model and serial 8 each.
QByteArray identifyReply(const QByteArray &user, const QByteArray &model, const QByteArray &serial)
{
    QByteArray r = "#X" + user.leftJustified(32, '_');
    r += "0123456789abcdef";
    r += model.leftJustified(8, '_') + serial.leftJustified(8, '_');
    return r;
}

}  // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void pieceClassification_data();
    void pieceClassification();
    void probeReply_data();
    void probeReply();
    void dateTimeReply_data();
    void dateTimeReply();
    void pacingConfigure_data();
    void pacingConfigure();
    void pacingRatios();

    void cleanup() { qputenv("LOCATOR_PACE_MS", "0"); }
};

void TestProtocol::commands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("date") << SetDateCommand(QDate(2026, 3, 5)) << QByteArray("#DS05/03/26");
    QTest::newRow("date end of year") << SetDateCommand(QDate(1999, 12, 31)) << QByteArray("#DS31/12/99");
    QTest::newRow("time") << SetTimeCommand(QTime(9, 5, 3)) << QByteArray("#TS09:05:03");
    QTest::newRow("time midnight") << SetTimeCommand(QTime(0, 0, 0)) << QByteArray("#TS00:00:00");
    QTest::newRow("time last second") << SetTimeCommand(QTime(23, 59, 59)) << QByteArray("#TS23:59:59");

    QTest::newRow("user short") << SetUserCommand("BOB") << "#FTBOB" + QByteArray(29, ' ');
    QTest::newRow("user empty") << SetUserCommand("") << "#FT" + QByteArray(32, ' ');
    QTest::newRow("user 32") << SetUserCommand(QString(32, 'N')) << "#FT" + QByteArray(32, 'N');
    QTest::newRow("user longer sent whole") << SetUserCommand(QString(40, 'L')) << "#FT" + QByteArray(40, 'L');
    QTest::newRow("user inner blanks kept") << SetUserCommand(" A B ") << "#FT A B " + QByteArray(27, ' ');

    QTest::newRow("serial model") << SetSerialModelCommand("1234", "LOC2000") << QByteArray("#SSLOC2000 1234    ");
    QTest::newRow("serial model empty") << SetSerialModelCommand("", "") << "#SS" + QByteArray(16, ' ');
    QTest::newRow("serial model exact") << SetSerialModelCommand("ABCDEFGH", "12345678")
                                        << QByteArray("#SS12345678ABCDEFGH");
    QTest::newRow("serial model longer") << SetSerialModelCommand("1234567890", "LOCATOR2000X")
                                         << QByteArray("#SSLOCATOR2000X1234567890");

    QTest::newRow("by date") << TransferByDateCommand("01-12-26", "06-12-26") << QByteArray("#DD01/12/26,06/12/26");
}

void TestProtocol::commands()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);
    QCOMPARE(command, expected);
}

void TestProtocol::pieceClassification_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<bool>("start");
    QTest::addColumn<bool>("live");
    QTest::addColumn<bool>("end");

    QTest::newRow("#DA alone") << QByteArray("#DA") << true << false << false;
    QTest::newRow("#DD mid-piece") << QByteArray("xx\r\n#DD01/12/26") << true << false << false;
    QTest::newRow("#DA at end") << QByteArray("echo#DA") << true << false << false;
    QTest::newRow("lower case") << QByteArray("#dd #da") << false << false << false;
    QTest::newRow("split half") << QByteArray("#D") << false << false << false;
    QTest::newRow("other command") << QByteArray("#DS05/03/26") << false << false << false;
    QTest::newRow("live") << QByteArray("$12,3,4\r\n") << false << true << false;
    QTest::newRow("dollar later") << QByteArray(" $12") << false << false << false;
    QTest::newRow("empty") << QByteArray() << false << false << false;
    QTest::newRow("end marker") << QByteArray("data\x1a\r\n") << false << false << true;
    QTest::newRow("marker after NUL") << QByteArray("\0#DA", 4) << true << false << false;
}

void TestProtocol::pieceClassification()
{
    QFETCH(QByteArray, piece);
    QFETCH(bool, start);
    QFETCH(bool, live);
    QFETCH(bool, end);
    QCOMPARE(HasTransferStart(piece), start);
    QCOMPARE(IsLiveLine(piece), live);
    QCOMPARE(HasEndMarker(piece), end);
}

void TestProtocol::probeReply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("bluetooth");
    QTest::addColumn<QString>("firmware");

    const QByteArray full = identifyReply("BOB", "LOC_2000", "____1234");
    QTest::newRow("identify") << full << true << "BOB"
                              << "LOC2000"
                              << "1234"
                              << ""
                              << "";
    QTest::newRow("text before #X") << "MM\r\nOK\r\n" + full << true << "BOB"
                                    << "LOC2000"
                                    << "1234"
                                    << ""
                                    << "";
    QTest::newRow("every _ removed") << identifyReply("BOB_SMITH", "_L_O_C_", "1_2") << true << "BOBSMITH"
                                     << "LOC"
                                     << "12"
                                     << ""
                                     << "";
    QTest::newRow("full width fields") << identifyReply(QByteArray(32, 'U'), "ABCDEFGH", "87654321") << true
                                       << QString(32, 'U') << "ABCDEFGH"
                                       << "87654321"
                                       << ""
                                       << "";
    QTest::newRow("cut in model") << full.left(2 + 32 + 16 + 3) << true << "BOB"
                                  << "LOC"
                                  << ""
                                  << ""
                                  << "";
    QTest::newRow("cut after user") << full.left(10) << true << "BOB"
                                    << ""
                                    << ""
                                    << ""
                                    << "";
    QTest::newRow("bare #X") << QByteArray("#X") << true << ""
                             << ""
                             << ""
                             << ""
                             << "";
    QTest::newRow("no #X") << QByteArray("MM\r\nOK") << false << ""
                           << ""
                           << ""
                           << ""
                           << "";
    QTest::newRow("empty") << QByteArray() << false << ""
                           << ""
                           << ""
                           << ""
                           << "";
    QTest::newRow("lower-case #x") << QByteArray("#xBOB") << false << ""
                                   << ""
                                   << ""
                                   << ""
                                   << "";

    // "Ver" at characters 27-29 of the whole text: the Bluetooth module answered.
    const QByteArray bt = QByteArray(26, '.') + "Ver 2.13 rest";
    QTest::newRow("bluetooth version") << bt << false << ""
                                       << ""
                                       << ""
                                       << "2.13"
                                       << "Ver 2.13";
    QTest::newRow("bluetooth then identify") << bt + full << true << "BOB"
                                             << "LOC2000"
                                             << "1234"
                                             << "2.13"
                                             << "Ver 2.13";
    QTest::newRow("bluetooth cut short") << QByteArray(26, '.') + "Ver 2" << false << ""
                                         << ""
                                         << ""
                                         << "2"
                                         << "Ver 2";
    QTest::newRow("bluetooth nothing after") << QByteArray(26, '.') + "Ver" << false << ""
                                             << ""
                                             << ""
                                             << ""
                                             << "Ver";
    QTest::newRow("Ver one place later") << QByteArray(27, '.') + "Ver 2.13" << false << ""
                                         << ""
                                         << ""
                                         << ""
                                         << "Ver 2.13";
    QTest::newRow("Ver one place earlier") << QByteArray(25, '.') + "Ver 2.13" << false << ""
                                           << ""
                                           << ""
                                           << ""
                                           << "Ver 2.13";
    // Positions count in the whole text, not from "#X".
    QTest::newRow("Ver positions not shifted by #X")
        << "MM" + identifyReply("BOB", "LOC2000", "1234").left(24) + "Ver 9.99" << true << "BOBVer 9.99"
        << ""
        << ""
        << "9.99"
        << "Ver 9.99";
    QTest::newRow("firmware from first Ver") << QByteArray("OK Ver1.02.3xyz Ver9") << false << ""
                                             << ""
                                             << ""
                                             << ""
                                             << "Ver1.02.";
    QTest::newRow("firmware at end") << QByteArray("OK Ver1.") << false << ""
                                     << ""
                                     << ""
                                     << ""
                                     << "Ver1.";
}

void TestProtocol::probeReply()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, found);
    QFETCH(QString, user);
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(QString, bluetooth);
    QFETCH(QString, firmware);

    const ProbeResult r = ReadProbeReply(text);
    QCOMPARE(r.found, found);
    QCOMPARE(r.identity.user, user);
    QCOMPARE(r.identity.model, model);
    QCOMPARE(r.identity.serialNo, serial);
    QCOMPARE(r.bluetoothVersion, bluetooth);
    QCOMPARE(r.firmwareText, firmware);
}

void TestProtocol::dateTimeReply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");

    QTest::newRow("full") << QByteArray("#AE 05/03/26 - 09:05:03\r\n") << true << "05/03/26"
                          << "09:05:03";
    QTest::newRow("no trailer") << QByteArray("#AE:05/03/26...09:05:03") << true << "05/03/26"
                                << "09:05:03";
    QTest::newRow("cut in time") << QByteArray("#AE 05/03/26 - 09:0") << true << "05/03/26"
                                 << "09:0";
    QTest::newRow("cut in date") << QByteArray("#AE 05/0") << true << "05/0"
                                 << "";
    QTest::newRow("marker only") << QByteArray("#AE") << true << ""
                                 << "";
    QTest::newRow("not at start") << QByteArray(" #AE 05/03/26 - 09:05:03") << false << ""
                                  << "";
    QTest::newRow("other reply") << QByteArray("ABORT") << false << ""
                                 << "";
}

void TestProtocol::dateTimeReply()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(QString, date);
    QFETCH(QString, time);

    const DateTimeReply r = ReadDateTimeReply(text);
    QCOMPARE(r.valid, valid);
    if (valid) {
        QCOMPARE(r.date, date);
        QCOMPARE(r.time, time);
    }
}

void TestProtocol::pacingConfigure_data()
{
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("expected");

    const int before = 13;  // what the pause was before configure()
    QTest::newRow("nothing given") << QByteArray() << QStringList{"prog"} << before;
    QTest::newRow("env") << QByteArray("25") << QStringList{"prog"} << 25;
    QTest::newRow("env zero") << QByteArray("0") << QStringList{"prog"} << 0;
    QTest::newRow("env negative") << QByteArray("-4") << QStringList{"prog"} << before;
    QTest::newRow("env not a number") << QByteArray("fast") << QStringList{"prog"} << before;
    QTest::newRow("separate arg") << QByteArray() << QStringList{"prog", "--pace-ms", "7"} << 7;
    QTest::newRow("joined arg") << QByteArray() << QStringList{"prog", "--pace-ms=3"} << 3;
    QTest::newRow("arg beats env") << QByteArray("25") << QStringList{"prog", "--pace-ms", "7"} << 7;
    QTest::newRow("bad arg keeps env") << QByteArray("25") << QStringList{"prog", "--pace-ms=x"} << 25;
    QTest::newRow("negative arg") << QByteArray() << QStringList{"prog", "--pace-ms", "-1"} << before;
    QTest::newRow("negative joined arg") << QByteArray() << QStringList{"prog", "--pace-ms=-1"} << before;
    QTest::newRow("arg without value") << QByteArray() << QStringList{"prog", "--pace-ms"} << before;
    QTest::newRow("last arg wins") << QByteArray() << QStringList{"prog", "--pace-ms=3", "--pace-ms", "9"} << 9;
}

void TestProtocol::pacingConfigure()
{
    QFETCH(QByteArray, env);
    QFETCH(QStringList, args);
    QFETCH(int, expected);

    Pacing::SetShortPauseMs(13);
    if (env.isNull())
        qunsetenv("LOCATOR_PACE_MS");
    else
        qputenv("LOCATOR_PACE_MS", env);
    Pacing::Configure(args);
    QCOMPARE(Pacing::ShortPauseMs(), expected);
}

void TestProtocol::pacingRatios()
{
    Pacing::SetShortPauseMs(5);
    QCOMPARE(Pacing::OutputPauseMs(), 20);
    QCOMPARE(Pacing::ToolsLongPauseMs(), 200);
    Pacing::SetShortPauseMs(0);
    QCOMPARE(Pacing::OutputPauseMs(), 0);
    QCOMPARE(Pacing::ToolsLongPauseMs(), 0);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
