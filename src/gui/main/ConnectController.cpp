#include "gui/main/ConnectController.h"
#include "ui_frmMain.h"

#include "core/datafile/DataFileHandle.h"
#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/PortNaming.h"
#include "core/link/PortSettings.h"
#include "core/link/SerialPort.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"
#include "gui/link/frmPortManage.h"
#include "gui/main/TransferController.h"

#include <QDir>

#include <limits>

using namespace frmMainLook;

namespace {
// The chooser lists the port list in file order with the port number as item
// data. The text shown in its edit field stays as the user last saw it.
// Rebuilding picks nothing: a shown text that names an entry is made that
// entry again, since the combo box would otherwise "pick" it by itself the
// moment its list is opened, starting a test the user never asked for.
void fillChooser(QComboBox *cbo, const QList<PortEntry> &entries)
{
    const QString shown = cbo->currentText();
    const QSignalBlocker quiet(cbo);
    cbo->clear();
    for (const PortEntry &e : entries)
        cbo->addItem(e.serialNo, PortList::PortNumber(e.port));
    cbo->setCurrentIndex(cbo->findText(shown, Qt::MatchExactly));
    cbo->setEditText(shown);
}

// A port the user may not open is otherwise indistinguishable from an
// empty one; name the device and the way to be allowed to open it.
QString refusedPortText(int port)
{
    return QStringLiteral("Port %1 could not be opened. ").arg(port)
        + PortNaming::RefusalAdvice(PortNaming::DevicePathFor(port));
}

QString useConnectionQuestion(const Protocol::ProbeResult &probe, const QString &serialCaption)
{
    return QStringLiteral("Locator type ") + probe.identity.model + serialCaption + probe.identity.serialNo
        + QStringLiteral(". Use this connection?");
}
}  // namespace

ConnectController::ConnectController(const MainWindowParts &parts, TransferController &transfer)
    : m_parts(parts)
    , m_transfer(transfer)
    , m_scan(parts.probe, parts.writer)
{ }

void ConnectController::loadChooser()
{
    QComboBox *cbo = m_parts.ui.cboLocators;
    // Typing into the chooser must not invent entries that have no port.
    cbo->setInsertPolicy(QComboBox::NoInsert);
    cbo->clear();
    for (const PortEntry &e : PortList::LoadPortList(m_parts.state.PortListPath))
        cbo->addItem(e.serialNo, PortList::PortNumber(e.port));
    cbo->setCurrentIndex(-1);
    cbo->setEditText(QStringLiteral("Choose..."));
}

// ---- The ports -----------------------------------------------------------------

void ConnectController::openWorkingPort(int port)
{
    m_transfer.receiver().forgetPieces();
    OpenLinkPort(m_parts.working, port);
}

bool ConnectController::anyPortOpen() const
{
    return m_parts.working.isOpen() || m_parts.probe.isOpen();
}

// A watchdog left running would declare the link lost long after, and its
// SetConnectedState(false) would close the probe port in the middle of a
// later scan's exchange.
void ConnectController::closeWorkingPort()
{
    m_parts.writer.cancel(m_parts.working);
    m_transfer.watchdog().stop();
    if (m_parts.working.isOpen())
        m_parts.working.close();
}

void ConnectController::closePorts()
{
    closeWorkingPort();
    if (m_parts.probe.isOpen())
        m_parts.probe.close();
}

void ConnectController::shutDown()
{
    m_scan.cancel();
    m_parts.writer.cancel();
    if (m_parts.working.isOpen())
        m_parts.working.close();
    if (m_parts.probe.isOpen())
        m_parts.probe.close();
}

// The connected state must never stand over a closed working port: if it
// cannot be opened, say so and fall back to not connected.
bool ConnectController::openWorkingPortOrReport(int port)
{
    SerialPort &working = m_parts.working;
    closeWorkingPort();
    openWorkingPort(port);
    if (working.isOpen())
        return true;
    const QString reason
        = working.accessRefused() ? PortNaming::RefusalAdvice(working.devicePath()) : working.lastErrorText();
    m_parts.setConnectedState(false);
    // No port was open, so the step above left the accepted identity showing.
    m_parts.showIdentity({});
    m_parts.setLamp(kDarkRed);
    m_parts.showStatusNow(QStringLiteral("Port %1 could not be opened.").arg(port), kRed);
    QString text = QStringLiteral("The locator's port (%1) could not be opened.").arg(port);
    if (!reason.isEmpty())
        text += QStringLiteral("\n") + reason;
    text += QStringLiteral("\nPlease click 'Scan' to find the locator");
    Interaction::current().message(&m_parts.window, text);
    return false;
}

// Every reply read, with or without a locator in it, may carry the
// Bluetooth firmware version.
void ConnectController::evaluateProbeReply(const QByteArray &reply)
{
    if (reply.mid(26, 3) == "Ver")
        m_parts.state.BluetoothFirmwareVersion = Protocol::ReadProbeReply(reply).bluetoothVersion;
}

// ---- Scan ----------------------------------------------------------------------

// Ends in onScanFinished.
void ConnectController::searchAndConnect()
{
    m_parts.state.LocatorFound = false;
    scanPorts();
}

void ConnectController::onScanFinished()
{
    AppState &state = m_parts.state;
    if (state.LocatorFound) {
        const bool opened = openWorkingPortOrReport(state.CurrentPort);
        state.LocatorFound = false;
        if (opened)
            m_parts.writer.send(m_parts.working, Protocol::StartLive, Pacing::OutputPauseMs());
        return;
    }
    // "Search again?" starts a fresh scan; however often the user says Yes,
    // nothing piles up.
    QString question = QStringLiteral("No locator found. Search again?");
    if (!m_refusedPorts.isEmpty()) {
        QStringList notes;
        for (int port : std::as_const(m_refusedPorts))
            notes << refusedPortText(port);
        question = notes.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + question;
    }
    if (Interaction::current().question(&m_parts.window, question)) {
        searchAndConnect();
        return;
    }
    m_parts.setConnectedState(false);
}

void ConnectController::scanPorts()
{
    m_parts.state.CurrentPort = 0;
    m_refusedPorts.clear();
    m_parts.showStatusNow(QStringLiteral("Looking for communications port. Please wait..."), kRed);

    // Every entry is kept for a possible rewrite; the first 100 are compared.
    m_scanPortList = PortList::ReadForScan(m_parts.state.PortListPath, std::numeric_limits<int>::max());
    m_scanListCount = qMin<qsizetype>(m_scanPortList.size(), PortScan::kPortListTable);

    PortScan::Hooks hooks;
    hooks.checking
        = [this](int port) { m_parts.showStatusNow(QStringLiteral("Checking com port %1...").arg(port), kRed); };
    hooks.notOpened = [this](int port, int error, const QString &) {
        if (error == SerialPort::InvalidPortNumber)
            m_parts.showStatusNow(QStringLiteral("Port %1not valid.").arg(port), kRed);
        else if (m_parts.probe.accessRefused())
            m_refusedPorts.append(port);  // told with "No locator found" if nothing else answers
        return true;  // the port's test goes on and finds no reply
    };
    hooks.replied = [this](int, const QByteArray &reply) { evaluateProbeReply(reply); };
    hooks.accept = [this](int port, const QByteArray &, const Protocol::ProbeResult &probe) {
        return acceptScannedPort(port, probe);
    };
    hooks.finished = [this](int) { onScanFinished(); };
    m_scan.start(hooks);
}

bool ConnectController::acceptScannedPort(int port, const Protocol::ProbeResult &probe)
{
    if (!probe.firmwareText.isEmpty())
        m_parts.ui.lblFirmwareVersion->setText(QStringLiteral("Firmware: ") + probe.firmwareText);
    if (!Interaction::current().question(&m_parts.window,
                                         useConnectionQuestion(probe, QStringLiteral(", Serial Number "))))
        return false;
    m_parts.showIdentity(probe.identity);
    m_parts.state.LocatorFound = true;
    m_parts.showStatusNow(QStringLiteral("Port found..."), kDarkGrey);
    m_parts.state.CurrentPort = qint16(port);
    m_parts.showStatusNow(QStringLiteral("Using port number ") + QString::number(m_parts.state.CurrentPort), kDarkGrey);
    recordLocator(probe.identity.serialNo, port);
    m_parts.setConnectedState(true);
    return true;
}

void ConnectController::recordLocator(const QString &serialNo, int port)
{
    const QString &path = m_parts.state.PortListPath;
    switch (PortList::RecordLocator(path, m_scanPortList, m_scanListCount, serialNo, port)) {
    case PortList::Update::Appended:
        m_parts.ui.cboLocators->addItem(serialNo, port);
        break;
    case PortList::Update::Rewritten:
        fillChooser(m_parts.ui.cboLocators, PortList::LoadPortList(path));
        break;
    case PortList::Update::Failed:
        Interaction::current().message(&m_parts.window,
                                       QStringLiteral("The locator's port could not be recorded in the ports list:\n%1")
                                           .arg(QDir::toNativeSeparators(path)));
        break;
    case PortList::Update::Unchanged:
    case PortList::Update::NotRecorded:
        break;
    }
}

// ---- Known port ----------------------------------------------------------------

void ConnectController::testKnownPort(int port)
{
    m_parts.state.CurrentPort = 0;
    m_parts.showStatusNow(QStringLiteral("Checking communications port. Please wait..."), kRed);
    m_parts.showStatusNow(QStringLiteral("Trying to connect. Please wait... (Port %1)").arg(port), kRed);
    m_knownPortAnswered = false;

    PortScan::Hooks hooks;
    hooks.notOpened = [this](int port, int error, const QString &) { return knownPortNotOpened(port, error); };
    hooks.replied = [this](int, const QByteArray &reply) {
        MainWindowParts::setTextColor(m_parts.ui.lblStatus, kDarkGrey);
        evaluateProbeReply(reply);
    };
    hooks.accept = [this](int port, const QByteArray &, const Protocol::ProbeResult &probe) {
        m_knownPortAnswered = true;
        return acceptKnownPort(port, probe);
    };
    hooks.finished = [this](int) { onKnownPortTested(); };
    m_scan.start(hooks, port, port, true);
}

bool ConnectController::knownPortNotOpened(int port, int error)
{
    if (m_parts.probe.accessRefused()) {
        // Not "no communications": the locator may well be there.
        m_parts.showStatusNow(QStringLiteral("Port %1 could not be opened.").arg(port), kRed);
        Interaction::current().message(&m_parts.window, refusedPortText(port));
        m_parts.setLamp(kDarkRed);
        return false;
    }
    if (error != SerialPort::InvalidPortNumber)
        return true;  // an unopened port yields no reply
    m_parts.showStatusNow(QStringLiteral("Port %1 not valid.").arg(port), kRed);
    Interaction::current().message(
        &m_parts.window,
        QStringLiteral("Connection information invalid (%1) Please click 'Scan' to find the locator").arg(port));
    m_parts.setLamp(kDarkRed);
    return false;
}

bool ConnectController::acceptKnownPort(int port, const Protocol::ProbeResult &probe)
{
    if (!Interaction::current().question(&m_parts.window,
                                         useConnectionQuestion(probe, QStringLiteral(", serial number "))))
        return false;  // the probe port is closed: nothing uses it until the next test
    m_parts.showIdentity(probe.identity);
    m_parts.showStatusNow(QStringLiteral("Port found..."), kDarkGrey);
    m_parts.showStatusNow(QStringLiteral("Using port number %1").arg(port), kDarkGrey);
    if (m_parts.probe.isOpen())
        m_parts.probe.close();
    if (!openWorkingPortOrReport(port))
        return true;
    m_parts.setConnectedState(true);
    m_parts.writer.send(m_parts.working, Protocol::StartLive, Pacing::OutputPauseMs());
    return true;
}

void ConnectController::onKnownPortTested()
{
    if (m_knownPortAnswered)
        return;  // accepted or declined: the test has said all it has to say
    m_parts.setConnectedState(false);
    m_parts.showStatusNow(QStringLiteral("No communications received from locator. Ensure it is powered on or try "
                                         "'Scan' to find the locator."),
                          kDarkGrey);
    m_parts.setLamp(kDarkRed);
}

// ---- The Connect tab's commands -------------------------------------------------

void ConnectController::pickLocator()
{
    // One test at a time: a second one would fight over the same two ports.
    if (m_scan.isRunning())
        return;
    const int index = m_parts.ui.cboLocators->currentIndex();
    if (index < 0)
        return;
    m_parts.setLamp(kYellow);
    m_parts.setConnectedState(false);
    m_parts.setLamp(kYellow);  // closing a port above darkens it; the test is still under way
    testKnownPort(m_parts.ui.cboLocators->itemData(index).toInt());
}

void ConnectController::rescan()
{
    if (m_scan.isRunning())
        return;
    if (!Interaction::current().question(&m_parts.window, QStringLiteral("Are you sure you want to scan?")))
        return;
    m_parts.setConnectedState(false);
    searchAndConnect();
}

void ConnectController::disconnectLocator()
{
    if (!Interaction::current().question(&m_parts.window, QStringLiteral("Are you sure you want to disconnect?")))
        return;
    m_parts.setConnectedState(false);
    m_parts.ui.cmdAnalyse->setEnabled(false);
    m_parts.state.BluetoothFirmwareVersion.clear();
    m_transfer.abandonTransfer();
    ProcessDataFile().close();
}

void ConnectController::managePorts()
{
    if (!m_portEditor) {
        m_portEditor = new frmPortManage(m_parts.state.PortListPath, &m_parts.window);
        connect(m_portEditor, &frmPortManage::portListSaved, this,
                [this](const QList<PortEntry> &entries) { fillChooser(m_parts.ui.cboLocators, entries); });
        m_portEditor->adjustSize();
        CenterWindow(m_portEditor);
    }
    // Showing a closed editor reloads it from the file; an open one is only
    // brought forward.
    BringForward(m_portEditor);
}
