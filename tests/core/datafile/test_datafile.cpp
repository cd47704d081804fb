#include "TestFiles.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace DataFileFormat;

namespace {

// Another program holding the file the way cooperating writers do.
class ForeignLock
{
public:
    explicit ForeignLock(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR))
    {
        m_locked = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    }
    ~ForeignLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ForeignLock(const ForeignLock &) = delete;
    ForeignLock &operator=(const ForeignLock &) = delete;
    bool locked() const { return m_locked; }

private:
    int m_fd;
    bool m_locked = false;
};

const QDateTime kStamp(QDate(2026, 12, 6), QTime(19, 55, 1));
const QString kStampText = QStringLiteral("06-12-2026--19-55-01");

}  // namespace

class TestDataFile : public QObject
{
    Q_OBJECT

private slots:
    void defaultCommentBlock();
    void logFileName_data();
    void logFileName();
    void unsafeCharactersStayInFolder_data();
    void unsafeCharactersStayInFolder();
    void rangeDateText();

    void openForWriteCreatesFoldersAndReplaces();
    void writeIsByteExact();
    void onlyOneFileOpenAtATime();
    void fileLocked_data();
    void fileLocked();
    void fileLockedLeavesNoLockBehind();

private:
    QTemporaryDir m_tmp;
};

void TestDataFile::defaultCommentBlock()
{
    const QList<QByteArray> legends = {
        "Date(DD/MM/YY)",
        "Time(HH:MM:SS)",
        "Mode(A=DarAdar T=Transmitter R=Radio P=Power)",
        "Frequency(33KHz 8KHz 500Hz 0 = not in T mode)",
        "Measurement(S=Sonde mode D=Depth Mode C=Current Measurement Mode 0=no measurement mode selected)",
        "Depth(Depth in x.xx metres 0 = no depth LO if sig strength too low)",
        "Signal Strength(0 to 30)",
    };
    QByteArray expected;
    for (const QByteArray &legend : legends)
        expected += "// " + QByteArray(4, ' ') + legend + "\r\n";
    expected += "// Date,Time,Mode,Frequency,Measurement,Depth,Signal Strength\r\n";

    const QByteArray block = DefaultCommentBlock();
    QCOMPARE(block, expected);
    // Every line CR LF ended, none bare.
    QCOMPARE(block.count("\r\n"), 8);
    QCOMPARE(block.count('\n'), 8);
    QCOMPARE(block.count('\r'), 8);
}

void TestDataFile::logFileName_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("rangeStart");
    QTest::addColumn<QString>("rangeEnd");
    QTest::addColumn<int>("day");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("year");
    QTest::addColumn<QString>("expected");

    const QString who = QStringLiteral("Locator Usage for BOB LOC2000 1234");
    QTest::newRow("DA") << "DA"
                        << "BOB"
                        << ""
                        << "" << 0 << 0 << 0 << who + "__ (" + kStampText + ")";
    QTest::newRow("DD") << "DD"
                        << "BOB"
                        << "01-12-26"
                        << "06-12-26" << 0 << 0 << 0 << who + "__ (01-12-26 to 06-12-26)__(" + kStampText + ")";
    QTest::newRow("TShoot") << "TShoot"
                            << "BOB"
                            << ""
                            << "" << 0 << 0 << 0 << "Troubleshoot__(" + kStampText + ")";
    QTest::newRow("DAY") << "DAY"
                         << "BOB"
                         << ""
                         << "" << 6 << 12 << 2026 << who + " on 6-12-2026____(" + kStampText + ")";
    QTest::newRow("DAY values as given") << "DAY"
                                         << "BOB"
                                         << ""
                                         << "" << 31 << 1 << 26 << who + " on 31-1-26____(" + kStampText + ")";
    QTest::newRow("empty user") << "DA"
                                << ""
                                << ""
                                << "" << 0 << 0 << 0 << "Locator Usage for  LOC2000 1234__ (" + kStampText + ")";
    QTest::newRow("unknown kind") << "XX"
                                  << "BOB"
                                  << ""
                                  << "" << 0 << 0 << 0 << "__";
    QTest::newRow("kind is case-sensitive") << "da"
                                            << "BOB"
                                            << ""
                                            << "" << 0 << 0 << 0 << "__";
    QTest::newRow("empty kind") << ""
                                << "BOB"
                                << ""
                                << "" << 0 << 0 << 0 << "__";
}

void TestDataFile::logFileName()
{
    QFETCH(QString, kind);
    QFETCH(QString, user);
    QFETCH(QString, rangeStart);
    QFETCH(QString, rangeEnd);
    QFETCH(int, day);
    QFETCH(int, month);
    QFETCH(int, year);
    QFETCH(QString, expected);

    const LocatorIdentity id{QStringLiteral("LOC2000"), QStringLiteral("1234"), user};
    NameParts parts;
    parts.rangeStart = rangeStart;
    parts.rangeEnd = rangeEnd;
    parts.day = day;
    parts.month = month;
    parts.year = year;
    QCOMPARE(MakeLogFileName(kind, id, kStamp, parts), expected);
}

void TestDataFile::unsafeCharactersStayInFolder_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("expectedWho");

    QTest::newRow("parent folder") << "../x"
                                   << "LOC2000"
                                   << "1234"
                                   << ".._x LOC2000 1234";
    QTest::newRow("backslash") << "..\\x"
                               << "LOC2000"
                               << "1234"
                               << ".._x LOC2000 1234";
    QTest::newRow("absolute") << "/etc/passwd"
                              << "LOC2000"
                              << "1234"
                              << "_etc_passwd LOC2000 1234";
    QTest::newRow("reserved") << "a:b*c?d\"e<f>g|h"
                              << "LOC2000"
                              << "1234"
                              << "a_b_c_d_e_f_g_h LOC2000 1234";
    QTest::newRow("control chars") << QString("A\tB\nC") + QChar(0) + "D" + QChar(0x1f) << "LOC2000"
                                   << "1234"
                                   << "A_B_C_D_ LOC2000 1234";
    QTest::newRow("model and serial") << "BOB"
                                      << "LOC/20"
                                      << "12\\34"
                                      << "BOB LOC_20 12_34";
    QTest::newRow("ordinary kept") << "Bob O'Neil-Smith (2)"
                                   << "LOC 2000"
                                   << "00.12"
                                   << "Bob O'Neil-Smith (2) LOC 2000 00.12";
}

void TestDataFile::unsafeCharactersStayInFolder()
{
    QFETCH(QString, user);
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(QString, expectedWho);

    const LocatorIdentity id{model, serial, user};
    const QString stamp = "(" + kStampText + ")";
    const QString da = MakeLogFileName(QStringLiteral("DA"), id, kStamp);
    QCOMPARE(da, "Locator Usage for " + expectedWho + "__ " + stamp);

    NameParts parts;
    parts.rangeStart = QStringLiteral("01-12-26");
    parts.rangeEnd = QStringLiteral("06-12-26");
    parts.day = 1;
    parts.month = 2;
    parts.year = 2026;
    for (const char *kind : {"DD", "DAY"}) {
        const QString name = MakeLogFileName(QString::fromLatin1(kind), id, kStamp, parts);
        QVERIFY2(name.startsWith("Locator Usage for " + expectedWho), qPrintable(name));
        for (QChar c : name) {
            QVERIFY2(c.unicode() >= 0x20 && !QStringView(u"/\\:*?\"<>|").contains(c), qPrintable(name));
        }
    }
}

void TestDataFile::rangeDateText()
{
    QCOMPARE(RangeDateText(QDate(2026, 12, 1)), QStringLiteral("01-12-26"));
    QCOMPARE(RangeDateText(QDate(2009, 3, 5)), QStringLiteral("05-03-09"));
}

void TestDataFile::openForWriteCreatesFoldersAndReplaces()
{
    const QString path = m_tmp.filePath("deep/er/folder/data.txt");
    {
        DataFileHandle h;
        QVERIFY2(h.openForWrite(path), qPrintable(h.errorString()));
        QVERIFY(h.isWriting());
        QCOMPARE(h.path(), path);
        QVERIFY(h.write("a much longer first content"));
    }
    DataFileHandle h;
    QVERIFY(h.openForWrite(path));
    QVERIFY(h.write("short"));
    // Visible to readers without closing: nothing waits in our buffer.
    QCOMPARE(readFile(path), QByteArray("short"));
    h.close();
    QVERIFY(!h.isOpen());
    QCOMPARE(readFile(path), QByteArray("short"));
}

void TestDataFile::writeIsByteExact()
{
    QByteArray bytes = "line1\r\nline2\nline3\r";
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    bytes += QByteArray(70000, 'x');  // larger than any one buffer

    const QString path = m_tmp.filePath("binary.txt");
    DataFileHandle h;
    QVERIFY(h.openForWrite(path));
    QVERIFY(h.write(bytes.left(5)));
    QVERIFY(h.write(QByteArray()));
    QVERIFY(h.write(bytes.mid(5)));
    h.close();
    QCOMPARE(readFile(path), bytes);

    QVERIFY(!h.write("after close"));
    QVERIFY(!h.errorString().isEmpty());
}

void TestDataFile::onlyOneFileOpenAtATime()
{
    const QString first = m_tmp.filePath("one.txt");
    const QString second = m_tmp.filePath("two.txt");
    QVERIFY(writeFile(second, "keep me"));

    DataFileHandle h;
    QVERIFY(h.openForWrite(first));
    QVERIFY(!h.openForWrite(second));
    QVERIFY(!h.errorString().isEmpty());
    QVERIFY(!h.openForRead(second));
    QVERIFY(!h.openExclusive(second));
    // The busy slot still points at the first file, and the second is untouched.
    QCOMPARE(h.path(), first);
    QVERIFY(h.write("1"));
    QCOMPARE(readFile(second), QByteArray("keep me"));
    QCOMPARE(readFile(first), QByteArray("1"));

    h.close();
    QVERIFY(h.openForRead(second));
    QCOMPARE(h.file().readAll(), QByteArray("keep me"));
}

enum class LockCase { Unlocked, HandleBusy, ForeignLocked, Missing };
Q_DECLARE_METATYPE(LockCase)

void TestDataFile::fileLocked_data()
{
    QTest::addColumn<LockCase>("lockCase");
    QTest::addColumn<bool>("expected");
    QTest::newRow("unlocked") << LockCase::Unlocked << false;
    QTest::newRow("handle busy") << LockCase::HandleBusy << true;
    QTest::newRow("locked by another") << LockCase::ForeignLocked << true;
    QTest::newRow("missing") << LockCase::Missing << true;
}

void TestDataFile::fileLocked()
{
    QFETCH(LockCase, lockCase);
    QFETCH(bool, expected);

    const QString path = m_tmp.filePath(QStringLiteral("lock-%1.txt").arg(QTest::currentDataTag()));
    if (lockCase != LockCase::Missing)
        QVERIFY(writeFile(path, "content"));

    DataFileHandle h;
    std::unique_ptr<ForeignLock> foreign;
    if (lockCase == LockCase::HandleBusy)
        QVERIFY(h.openForWrite(m_tmp.filePath("busy.txt")));
    if (lockCase == LockCase::ForeignLocked) {
        foreign = std::make_unique<ForeignLock>(path);
        QVERIFY(foreign->locked());
    }

    QCOMPARE(FileLocked(h, path), expected);
    QVERIFY(!h.isOpen());
    if (lockCase == LockCase::Missing)
        QVERIFY(!QFile::exists(path));
    else
        QCOMPARE(readFile(path), QByteArray("content"));
}

void TestDataFile::fileLockedLeavesNoLockBehind()
{
    const QString path = m_tmp.filePath("released.txt");
    QVERIFY(writeFile(path, "x"));
    DataFileHandle h;
    QVERIFY(!FileLocked(h, path));
    // The check must not keep the file for itself.
    ForeignLock other(path);
    QVERIFY(other.locked());
    QVERIFY(FileLocked(h, path));
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "test_datafile.moc"
