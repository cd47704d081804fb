// The working port at work, below any window: the event switch (DTR), Stop
// and its abort retry, the link watchdog, and what a lost link leaves for
// the next transfer. The locator is played by hand on a pseudo-terminal.
#include "PtyPair.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/PacedWriter.h"
#include "core/link/SerialPort.h"
#include "core/link/TransferSession.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QByteArray kBlock = "// block\r\n";

// Notes what a front end would show that matters here.
class RecordingView : public TransferSession::View
{
public:
    QStringList calls;
    QString keptFile;

    void onPowerDown(const QString &) override { calls << QStringLiteral("powerDown"); }
    void onLinkAlive(bool) override { }
    void onTransferStart() override { }
    void onLiveLine(const QByteArray &, bool) override { }
    void onProgress(qint64) override { }
    void onTransferEnd(bool aborted) override { calls << QStringLiteral("end:%1").arg(aborted); }
    void onTransferText(const QByteArray &) override { }
    void onDataFileError(const QString &, const QString &) override { calls << QStringLiteral("fileError"); }
    QString newDataFileName() override { return QStringLiteral("auto.csv"); }
    void onCommsError(int event) override { calls << QStringLiteral("comms:%1").arg(event); }
    void onLinkLost(const QString &kept, TransferSession::LinkLoss why) override
    {
        keptFile = kept;
        calls << QStringLiteral("lost:%1").arg(why == TransferSession::LinkLoss::Silence ? "silence" : "gone");
    }
    void onStopFoundAcknowledged() override { calls << QStringLiteral("acknowledged"); }
};

}  // namespace

class TestTransferSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dtrStaysLowUntilTheLastTransferCommand();
    void startIsRefusedWhileACommandGoesOutOrNoFile();
    void abortRetriesUntilAcknowledgedAndOnlyWhileATransferIsOpen();
    void lostLinkKeepsTheFileAndTheNextTransferStartsClean();

private:
    QString path(const QString &name) const { return m_data.filePath(name); }

    TestEnvironment m_env;
    QTemporaryDir m_data;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<PacedWriter> m_writer;
    std::unique_ptr<TransferState> m_state;
    std::unique_ptr<DataFileHandle> m_file;
    std::unique_ptr<RecordingView> m_view;
    std::unique_ptr<TransferSession> m_session;
};

void TestTransferSession::init()
{
    m_pty = std::make_unique<PtyPair>(m_env.portsDir(), 7);
    QVERIFY(m_pty->ok());
    m_port = std::make_unique<SerialPort>();
    m_port->setRThreshold(1);
    m_port->setCommPort(7);
    QCOMPARE(m_port->open(), int(SerialPort::NoError));
    m_writer = std::make_unique<PacedWriter>();
    m_state = std::make_unique<TransferState>();
    m_file = std::make_unique<DataFileHandle>();
    m_view = std::make_unique<RecordingView>();
    m_session = std::make_unique<TransferSession>(*m_port, *m_state, *m_file, *m_writer, *m_view);
    connect(m_port.get(), &SerialPort::OnComm, m_session.get(), &TransferSession::onComm);
    m_session->receiver().setDataFolder(m_data.path());
    m_session->receiver().setCommentBlock(kBlock);
}

void TestTransferSession::cleanup()
{
    m_session.reset();
    m_file.reset();
    m_writer.reset();
    m_port.reset();
    m_pty.reset();
}

// Stop pressed again while earlier commands still wait: DTR goes high only
// when the last of them is done, not when the first is, nor at the end of an
// event handled in between.
void TestTransferSession::dtrStaysLowUntilTheLastTransferCommand()
{
    SerialPort &port = *m_port;
    PacedWriter &writer = *m_writer;
    TransferSession &session = *m_session;

    QString error;
    QVERIFY(session.startTransfer("t.csv", "#DA", 1, &error));
    QVERIFY(!port.dtrEnabled());
    QSignalSpy events(&port, &SerialPort::OnComm);
    QList<bool> dtr;  // as each marked point in the queue is reached
    auto mark = [&](bool) { dtr << port.dtrEnabled(); };
    writer.wait(0, mark);
    session.stop();
    writer.wait(0, [&](bool) {
        dtr << port.dtrEnabled();
        port.raiseEvent(SerialPort::EvCTS);
    });
    writer.wait(50, [&](bool) {
        QCOMPARE(events.size(), 1);  // the event was handled in between
        dtr << port.dtrEnabled();
    });
    session.stop();
    writer.wait(0, mark);
    QCOMPARE(m_pty->receive(5), QByteArray("#DAAA"));
    QTRY_COMPARE(dtr.size(), 4);
    QCOMPARE(dtr, (QList<bool>{false, false, false, true}));
    QVERIFY(port.dtrEnabled());

    // Commands dropped with a lost link hold nothing: the next event ends with DTR high.
    session.stop();
    QVERIFY(!port.dtrEnabled());
    session.abandonTransfer();
    port.raiseEvent(SerialPort::EvCTS);
    QTRY_VERIFY(port.dtrEnabled());
}

// Two transfer commands must never mix on the wire; a file that cannot be
// made sends nothing and leaves the locator's switch as it was.
void TestTransferSession::startIsRefusedWhileACommandGoesOutOrNoFile()
{
    QString error = QStringLiteral("stale");
    QList<bool> sent;
    QVERIFY(m_session->startTransfer("first.csv", "#DA", 20, &error, [&](bool ok) { sent << ok; }));
    QVERIFY(error.isEmpty());
    QVERIFY(m_session->isSendingTransferCommand());
    QVERIFY(!m_session->startTransfer("second.csv", "#DD01/12/26,06/12/26", 0, &error));
    QVERIFY(error.isEmpty());  // refused, not failed
    QCOMPARE(m_pty->receive(3), QByteArray("#DA"));
    QTRY_COMPARE(sent, QList<bool>{true});
    QVERIFY(m_port->dtrEnabled());
    QVERIFY(!QFileInfo::exists(path("second.csv")));

    QVERIFY(writeFile(path("taken"), "a file, not a folder"));
    m_session->receiver().setDataFolder(path("taken"));
    QVERIFY(!m_session->startTransfer("third.csv", "#DA", 0, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(m_port->dtrEnabled());
    QVERIFY(!m_session->isSendingTransferCommand());
    QCOMPARE(m_pty->receive(1, 100), QByteArray());
}

// "A" is sent again every retry until the locator answers "ABORT"; once it
// has, Stop sends nothing; a retry left over never aborts the next transfer,
// and with no transfer open the retry ends instead of sending "A" forever.
void TestTransferSession::abortRetriesUntilAcknowledgedAndOnlyWhileATransferIsOpen()
{
    QString error;
    QVERIFY(m_session->startTransfer("t.csv", "#DA", 0, &error));
    QCOMPARE(m_pty->receive(3), QByteArray("#DA"));
    QVERIFY(m_pty->send("#DA head\r\nrec1\r\n"));
    QTRY_VERIFY(m_state->TransferActive);

    m_session->stop();
    QCOMPARE(m_pty->receive(1), QByteArray("A"));
    QVERIFY(m_session->abortTimer().isActive());
    QCOMPARE(m_session->abortTimer().interval(), TransferSession::kAbortRetryMs);
    m_session->abortRetryTick();  // no answer yet
    QCOMPARE(m_pty->receive(1), QByteArray("A"));
    QVERIFY(m_pty->send("ABORT\x1a"));
    QTRY_COMPARE(m_view->calls, QStringList{"end:1"});
    QVERIFY(m_state->AbortAcknowledged);
    QVERIFY(!m_session->abortTimer().isActive());
    m_session->abortRetryTick();
    m_session->stop();
    QCOMPARE(m_view->calls.last(), QStringLiteral("acknowledged"));
    QCOMPARE(m_pty->receive(1, 100), QByteArray());
    QCOMPARE(readFile(path("t.csv")), kBlock + "#DA head\r\nrec1\r\nABORT\x1a");

    // The next transfer starts with a fresh abort state and no retry running.
    QVERIFY(m_session->startTransfer("u.csv", "#DA", 0, &error));
    QVERIFY(!m_state->AbortAcknowledged);
    m_session->stop();
    QVERIFY(m_session->abortTimer().isActive());
    QCOMPARE(m_pty->receive(4), QByteArray("#DAA"));
    QTRY_VERIFY(!m_session->isSendingTransferCommand());
    QVERIFY(m_session->startTransfer("v.csv", "#DA", 0, &error));
    QVERIFY(!m_session->abortTimer().isActive());
    QCOMPARE(m_pty->receive(3), QByteArray("#DA"));

    // Nothing open to stop: one "A" for the press, none from the retry.
    m_session->abandonTransfer();
    m_session->stop();
    QCOMPARE(m_pty->receive(1), QByteArray("A"));
    m_session->abortRetryTick();
    QVERIFY(!m_session->abortTimer().isActive());
    QCOMPARE(m_pty->receive(1, 100), QByteArray());
}

// Silence mid-transfer: the watchdog ends the transfer, keeps every byte that
// arrived and drops the commands still queued; the next transfer gets a file
// and counters of its own.
void TestTransferSession::lostLinkKeepsTheFileAndTheNextTransferStartsClean()
{
    QString error;
    QVERIFY(m_session->startTransfer("first.csv", "#DA", 0, &error));
    QCOMPARE(m_pty->receive(3), QByteArray("#DA"));
    const QByteArray arrived = "#DA head\r\nrec1\r\nrec2\r\n";
    QVERIFY(m_pty->send(arrived));
    QTRY_COMPARE(QFileInfo(path("first.csv")).size(), kBlock.size() + arrived.size());
    QVERIFY(m_session->watchdog().isActive());
    QCOMPARE(m_session->watchdog().interval(), TransferSession::kWatchdogMs);
    m_session->stop();  // Stop pressed, no answer: a retry is running and "A" is going out
    m_session->watchdog().setInterval(50);  // the silence, shortened

    QTRY_COMPARE(m_view->calls, QStringList{"lost:silence"});
    QCOMPARE(m_view->keptFile, QStringLiteral("first.csv"));
    QCOMPARE(readFile(path("first.csv")), kBlock + arrived);
    QVERIFY(!m_file->isWriting());
    QVERIFY(!m_state->TransferActive);
    QVERIFY(!m_session->watchdog().isActive());
    QVERIFY(!m_session->abortTimer().isActive());
    QVERIFY(!m_writer->isBusy());
    m_pty->receive(1, 100);  // whatever of "A" went out before the loss

    m_view->calls.clear();
    QVERIFY(m_session->startTransfer("second.csv", "#DA", 0, &error));
    QCOMPARE(m_pty->receive(3), QByteArray("#DA"));
    QCOMPARE(m_state->TransferCharCount, 0);
    const QByteArray whole = "#DA head\r\nrec9\r\n\x1a";
    QVERIFY(m_pty->send(whole));
    QTRY_COMPARE(m_view->calls, QStringList{"end:0"});
    QCOMPARE(readFile(path("second.csv")), kBlock + whole);
    QCOMPARE(readFile(path("first.csv")), kBlock + arrived);
    QCOMPARE(m_session->watchdog().interval(), TransferSession::kWatchdogAfterTransferMs);
    QCOMPARE(m_pty->receive(1, 100), QByteArray());  // no abort left over from the first
}

QTEST_GUILESS_MAIN(TestTransferSession)
#include "test_transfer_session.moc"
