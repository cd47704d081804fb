// The service tools window end to end: its own port on a pseudo-terminal,
// the simulated locator on the other side. Each button must put exactly its
// command on the wire, with its two status texts around the send, and the
// locator's answers must land in the right boxes.
#include "gui/tools/frmTools.h"
#include "ui_frmTools.h"

#include "SimLocators.h"
#include "ToolsFixture.h"
#include "core/link/Pacing.h"
#include "gui/common/AppState.h"

#include <QFile>
#include <QPointer>
#include <QTest>

namespace {
constexpr int kCom = 7;
constexpr int kWait = 5000;
const std::string kSentinel = "#FWFFFF";  // marks the end of what a test sent
}  // namespace

class TestToolsSim : public QObject, private ToolsFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { Pacing::SetShortPauseMs(0); }
    void init() { setUpTools(); }
    void cleanup()
    {
        tearDownTools();
        m_sim.reset();
    }

    void preambleThenStoredParameters();
    void dateAndTimeRoundTrip();
    void buttonsSendExactlyTheirCommand_data();
    void buttonsSendExactlyTheirCommand();
    void clearMemoryNoSendsNothing();

private:
    frmTools *openWindow()
    {
        sim::SimConfig cfg;
        cfg.user = "JOHN";
        cfg.model = "LOC_2000";
        cfg.serial = "001234";
        cfg.throttled = false;
        cfg.minChunk = cfg.maxChunk = 4096;  // each answer in one piece
        cfg.targetRecords = 50;
        m_sim = startLocator(m_env->portsDir(), kCom, cfg);
        if (!m_sim || !loadWindow({QStringLiteral("lampwick"), QString::number(kCom)}) || !m_window->MSComm1.isOpen()
            || !QTest::qWaitFor([&] { return m_sim->waitForCommand("MM", 0); }, kWait))
            return nullptr;
        return m_window;
    }

    // Sends the sentinel and waits for it: everything sent before has been read.
    bool settle()
    {
        const size_t from = m_sim->commands().size();
        return m_window->SendCommand(QByteArray::fromStdString(kSentinel))
            && QTest::qWaitFor([&] { return m_sim->waitForCommand(kSentinel, 0, from); }, kWait)
            && QTest::qWaitFor([&] { return !m_window->isSending(); }, kWait);
    }

    QString status() const { return m_window->form()->lblStatus->text(); }

    std::unique_ptr<sim::LocatorSimulator> m_sim;
};

void TestToolsSim::preambleThenStoredParameters()
{
    frmTools *w = openWindow();
    QVERIFY(w);
    QCOMPARE(m_sim->commands(), std::vector<std::string>{"MM"});
    QCOMPARE(m_sim->bytesReceived(), uint64_t(2));
    QTRY_VERIFY(w->txtMonitor(0)->text().contains(QStringLiteral("Ver 1.23")));
    const QByteArray answer = w->txtMonitor(0)->text().toLatin1();
    QCOMPARE(readFile(m_state->currentDataFilePath()), answer + "\r\n");

    // "#X" + JOHN and 28 "_", 16 more, LOC_2000, __001234
    w->form()->cmdReadStoredParameters->click();
    QTRY_COMPARE(w->form()->txtUser->text(), QStringLiteral("JOHN"));
    QCOMPARE(w->form()->txtModel->text(), QStringLiteral("LOC2000"));
    QCOMPARE(w->form()->txtSerialNo->text(), QStringLiteral("001234"));
    QCOMPARE(w->form()->lblUserChars->text(), QStringLiteral("-28 left-"));
    QCOMPARE(w->txtMonitor(1)->text().toLatin1(), answer);
}

void TestToolsSim::dateAndTimeRoundTrip()
{
    frmTools *w = openWindow();
    QVERIFY(w);
    // One command at a time: each button waits until the one before is out.
    for (QPushButton *b : {w->form()->cmdSetDate, w->form()->cmdSetTime, w->form()->cmdReadDateTime}) {
        QTRY_VERIFY(b->isEnabled());
        b->click();
    }
    QVERIFY(QTest::qWaitFor([&] { return m_sim->waitForCommand("#AE", 0); }, kWait));
    QCOMPARE(m_sim->date(), std::string("05/03/26"));
    QCOMPARE(m_sim->time(), std::string("09:05:03"));
    QTRY_COMPARE(w->form()->txtDate->text(), QStringLiteral("05/03/26"));
    QVERIFY2(w->form()->txtTime->text().startsWith(QStringLiteral("09:05:0")), qPrintable(w->form()->txtTime->text()));
}

void TestToolsSim::buttonsSendExactlyTheirCommand_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("fields");  // model, serial number, user, text to send
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    const QStringList none{"", "", "", ""};

    QTest::newRow("read date and time") << "cmdReadDateTime" << none << QByteArray("#AE") << "Getting Date and Time"
                                        << "Parameters received";
    QTest::newRow("read stored parameters")
        << "cmdReadStoredParameters" << none << QByteArray("#X") << "Getting Serial No., Model, User"
        << "Parameters received";
    QTest::newRow("clear memory, confirmed")
        << "cmdClearMem" << none << QByteArray("#CA") << "Clearing memory"
        << "When live data appears on the Live Monitor, the clear has been completed.";
    QTest::newRow("reset memory pointer") << "cmdResetMemPointer" << none << QByteArray("#FW0000") << "Resetting memory"
                                          << "Memory Reset";
    QTest::newRow("serial and model padded to 8") << "cmdSetSerialModel" << QStringList{"AB", "12345", "", ""}
                                                  << QByteArray("#SSAB      12345   ") << "Setting Serial No. / Model"
                                                  << "Serial No. / Model set";
    QTest::newRow("serial and model full width") << "cmdSetSerialModel" << QStringList{"LOC20000", "00001234", "", ""}
                                                 << QByteArray("#SSLOC2000000001234") << "Setting Serial No. / Model"
                                                 << "Serial No. / Model set";
    QTest::newRow("set date") << "cmdSetDate" << none << QByteArray("#DS05/03/26") << "Setting Date"
                              << "Date set";
    QTest::newRow("set time") << "cmdSetTime" << none << QByteArray("#TS09:05:03") << "Setting time"
                              << "Time set";
    QTest::newRow("set user padded to 32")
        << "cmdSetUser" << QStringList{"", "", "BOB", ""} << "#FTBOB" + QByteArray(29, ' ') << "Setting User"
        << "User Set";
    QTest::newRow("send raw text") << "cmdSend" << QStringList{"", "", "", "#FW00AB"} << QByteArray("#FW00AB")
                                   << "Sending#FW00AB"
                                   << "Sent!";
    QTest::newRow("stop") << "cmdStop" << none << QByteArray("#A") << "Stopping..."
                          << "Aborted";
}

void TestToolsSim::buttonsSendExactlyTheirCommand()
{
    QFETCH(QString, button);
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, command);
    QFETCH(QString, first);
    QFETCH(QString, second);
    frmTools *w = openWindow();
    QVERIFY(w);
    QVERIFY(settle());
    m_sim->clearCommands();
    const uint64_t before = m_sim->bytesReceived();
    w->form()->txtModel->setText(fields[0]);
    w->form()->txtSerialNo->setText(fields[1]);
    w->form()->txtUser->setText(fields[2]);
    w->form()->txtSend->setText(fields[3]);
    m_ui->answers.enqueue(true);

    // The status line while the characters go out, seen at each send event.
    QStringList during;
    const auto watch = connect(&w->MSComm1, &SerialPort::OnComm, this, [&] {
        if (w->MSComm1.CommEvent() == SerialPort::EvSend)
            during << status();
    });
    auto *b = w->findChild<QPushButton *>(button);
    QVERIFY(b);
    b->click();
    QTRY_COMPARE(status(), second);
    disconnect(watch);
    QCOMPARE(during.size(), command.size());
    QCOMPARE(during.count(first), during.size());

    QVERIFY(settle());
    QCOMPARE(m_sim->commands(), (std::vector<std::string>{command.toStdString(), kSentinel}));
    QCOMPARE(m_sim->bytesReceived() - before, uint64_t(command.size()) + kSentinel.size());
    if (button == QLatin1String("cmdSetUser"))
        QCOMPARE(m_state->Identity.user, QStringLiteral("BOB") + QString(29, QLatin1Char(' ')));
}

void TestToolsSim::clearMemoryNoSendsNothing()
{
    frmTools *w = openWindow();
    QVERIFY(w);
    QVERIFY(settle());
    m_sim->clearCommands();
    const QString before = status();
    m_ui->answers.enqueue(false);
    w->form()->cmdClearMem->click();
    QCOMPARE(m_ui->questions, QStringList{QStringLiteral("Are you sure you want to clear the memory?")});
    QCOMPARE(status(), before);
    QVERIFY(settle());
    QCOMPARE(m_sim->commands(), std::vector<std::string>{kSentinel});
    QVERIFY(!m_sim->memoryCleared());
}

QTEST_MAIN(TestToolsSim)
#include "test_tools_sim.moc"
