// Connecting to a locator: known-port test, port scan, disconnect, and the
// port editor the "Manage" button opens.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "core/datafile/DataFileHandle.h"
#include "core/link/PortList.h"
#include "core/link/PortNaming.h"
#include "core/link/Protocol.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/Lamp.h"
#include "gui/common/WindowHelpers.h"
#include "gui/link/frmPortManage.h"
#include "gui/main/frmMainLook.h"

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
        + PortNaming::refusalAdvice(PortNaming::devicePathFor(port));
}

}  // namespace

void frmMain::setupConnecting()
{
    // Typing into the chooser must not invent entries that have no port.
    ui->cboLocators->setInsertPolicy(QComboBox::NoInsert);
    connect(ui->cboLocators, &QComboBox::activated, this, [this](int) { cboLocators_Click(); });
    connect(ui->cmdrescan, &QPushButton::clicked, this, &frmMain::cmdrescan_Click);
    connect(ui->cmdDisconnect, &QPushButton::clicked, this, &frmMain::cmdDisconnect_Click);
    connect(ui->cmdManagePorts, &QPushButton::clicked, this, &frmMain::cmdManagePorts_Click);
}

// ---- What a probe reply tells ---------------------------------------------------

void frmMain::showAcceptedIdentity(const LocatorIdentity &identity)
{
    ui->txtModel->setText(identity.model);
    ui->txtSerialNo->setText(identity.serialNo);
    {
        // The locator's own name, shown whole: the refused characters are a rule for typing.
        const QSignalBlocker quiet(ui->txtUser);
        ui->txtUser->setText(identity.user);
    }
    ui->lblUserChars->setText(UserCharsCaption(int(ui->txtUser->text().size())));
}

// Every reply read, with or without a locator in it, may carry the
// Bluetooth firmware version.
void frmMain::evaluateProbeReply(const QByteArray &reply)
{
    if (reply.mid(26, 3) == "Ver")
        m_state.BluetoothFirmwareVersion = Protocol::ReadProbeReply(reply).bluetoothVersion;
}

// The connected state must never stand over a closed working port: if it
// cannot be opened, say so and fall back to not connected.
bool frmMain::openWorkingPortOrReport(int port)
{
    closeWorkingPort();
    OpenWorkingPort(port);
    if (MSComm1.isOpen())
        return true;
    const QString reason
        = MSComm1.accessRefused() ? PortNaming::refusalAdvice(MSComm1.devicePath()) : MSComm1.lastErrorText();
    SetConnectedState(false);
    // No port was open, so the step above left the accepted identity showing.
    ui->txtModel->clear();
    ui->txtSerialNo->clear();
    ui->txtUser->clear();
    ui->lblUserChars->setText(UserCharsCaption(0));
    ui->shpMode->setFillColor(kDarkRed);
    showStatusNow(QStringLiteral("Port %1 could not be opened.").arg(port), kRed);
    QString text = QStringLiteral("The locator's port (%1) could not be opened.").arg(port);
    if (!reason.isEmpty())
        text += QStringLiteral("\n") + reason;
    text += QStringLiteral("\nPlease click 'Scan' to find the locator");
    Interaction::current().message(this, text);
    return false;
}

// ---- Scan ----------------------------------------------------------------------

// Starts a scan; it goes on from the event loop and ends in onScanFinished.
void frmMain::SearchAndConnect()
{
    m_state.LocatorFound = false;
    ScanPorts();
}

void frmMain::onScanFinished()
{
    if (m_state.LocatorFound) {
        const bool opened = openWorkingPortOrReport(m_state.CurrentPort);
        m_state.LocatorFound = false;
        if (opened)
            output_string1(Protocol::StartLive);
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
    if (Interaction::current().question(this, question)) {
        SearchAndConnect();
        return;
    }
    SetConnectedState(false);
}

void frmMain::ScanPorts()
{
    m_state.CurrentPort = 0;
    m_refusedPorts.clear();
    showStatusNow(QStringLiteral("Looking for communications port. Please wait..."), kRed);

    // Every entry is kept for a possible rewrite; the first 100 are compared.
    m_scanPortList = PortList::ReadForScan(m_state.PortListPath, std::numeric_limits<int>::max());
    m_scanListCount = qMin<qsizetype>(m_scanPortList.size(), PortScan::kPortListTable);

    PortScan::Hooks hooks;
    hooks.checking = [this](int port) { showStatusNow(QStringLiteral("Checking com port %1...").arg(port), kRed); };
    hooks.notOpened = [this](int port, int error, const QString &) {
        if (error == SerialPort::InvalidPortNumber)
            showStatusNow(QStringLiteral("Port %1not valid.").arg(port), kRed);
        else if (MSComm2.accessRefused())
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

bool frmMain::acceptScannedPort(int port, const Protocol::ProbeResult &probe)
{
    if (!probe.firmwareText.isEmpty())
        ui->lblFirmwareVersion->setText(QStringLiteral("Firmware: ") + probe.firmwareText);
    const QString question = QStringLiteral("Locator type ") + probe.identity.model + QStringLiteral(", Serial Number ")
        + probe.identity.serialNo + QStringLiteral(". Use this connection?");
    if (!Interaction::current().question(this, question))
        return false;
    showAcceptedIdentity(probe.identity);
    m_state.LocatorFound = true;
    showStatusNow(QStringLiteral("Port found..."), kDarkGrey);
    m_state.CurrentPort = qint16(port);
    showStatusNow(QStringLiteral("Using port number ") + QString::number(m_state.CurrentPort), kDarkGrey);

    switch (
        PortList::RecordLocator(m_state.PortListPath, m_scanPortList, m_scanListCount, probe.identity.serialNo, port)) {
    case PortList::Update::Appended:
        ui->cboLocators->addItem(probe.identity.serialNo, port);
        break;
    case PortList::Update::Rewritten:
        fillChooser(ui->cboLocators, PortList::LoadPortList(m_state.PortListPath));
        break;
    case PortList::Update::Failed:
        Interaction::current().message(this,
                                       QStringLiteral("The locator's port could not be recorded in the ports list:\n%1")
                                           .arg(QDir::toNativeSeparators(m_state.PortListPath)));
        break;
    case PortList::Update::Unchanged:
    case PortList::Update::NotRecorded:
        break;
    }
    SetConnectedState(true);
    return true;
}

// ---- Known port ----------------------------------------------------------------

// Tests one port with the scan's machinery: one port, one more pause for the
// locator to answer, and the known-port texts.
void frmMain::ConnectToKnownPort(int port)
{
    m_state.CurrentPort = 0;
    showStatusNow(QStringLiteral("Checking communications port. Please wait..."), kRed);
    showStatusNow(QStringLiteral("Trying to connect. Please wait... (Port %1)").arg(port), kRed);
    m_knownPortAnswered = false;

    PortScan::Hooks hooks;
    hooks.notOpened = [this](int port, int error, const QString &) {
        if (MSComm2.accessRefused()) {
            // Not "no communications": the locator may well be there.
            showStatusNow(QStringLiteral("Port %1 could not be opened.").arg(port), kRed);
            Interaction::current().message(this, refusedPortText(port));
            ui->shpMode->setFillColor(kDarkRed);
            return false;
        }
        if (error != SerialPort::InvalidPortNumber)
            return true;  // an unopened port yields no reply
        showStatusNow(QStringLiteral("Port %1 not valid.").arg(port), kRed);
        Interaction::current().message(
            this,
            QStringLiteral("Connection information invalid (%1) Please click 'Scan' to find the locator").arg(port));
        ui->shpMode->setFillColor(kDarkRed);
        return false;
    };
    hooks.replied = [this](int, const QByteArray &reply) {
        setTextColor(ui->lblStatus, kDarkGrey);
        evaluateProbeReply(reply);
    };
    hooks.accept = [this](int port, const QByteArray &, const Protocol::ProbeResult &probe) {
        m_knownPortAnswered = true;
        return acceptKnownPort(port, probe);
    };
    hooks.finished = [this, port](int) { onKnownPortTested(port); };
    m_scan.start(hooks, port, port, true);
}

bool frmMain::acceptKnownPort(int port, const Protocol::ProbeResult &probe)
{
    const QString question = QStringLiteral("Locator type ") + probe.identity.model + QStringLiteral(", serial number ")
        + probe.identity.serialNo + QStringLiteral(". Use this connection?");
    if (!Interaction::current().question(this, question))
        return false;  // the probe port is closed: nothing uses it until the next test
    showAcceptedIdentity(probe.identity);
    showStatusNow(QStringLiteral("Port found..."), kDarkGrey);
    showStatusNow(QStringLiteral("Using port number %1").arg(port), kDarkGrey);
    if (MSComm2.isOpen())
        MSComm2.close();
    if (!openWorkingPortOrReport(port))
        return true;
    SetConnectedState(true);
    output_string1(Protocol::StartLive);
    return true;
}

void frmMain::onKnownPortTested(int)
{
    if (m_knownPortAnswered)
        return;  // accepted or declined: the test has said all it has to say
    SetConnectedState(false);
    showStatusNow(QStringLiteral("No communications received from locator. Ensure it is powered on or try 'Scan' to "
                                 "find the locator."),
                  kDarkGrey);
    ui->shpMode->setFillColor(kDarkRed);
}

// ---- Handlers ------------------------------------------------------------------

void frmMain::cboLocators_Click()
{
    // One test at a time: a second one would fight over the same two ports.
    if (m_scan.isRunning())
        return;
    const int index = ui->cboLocators->currentIndex();
    if (index < 0)
        return;
    ui->shpMode->setFillColor(kYellow);
    SetConnectedState(false);
    ui->shpMode->setFillColor(kYellow);  // closing a port above darkens it; the test is still under way
    ConnectToKnownPort(ui->cboLocators->itemData(index).toInt());
}

void frmMain::cmdrescan_Click()
{
    if (m_scan.isRunning())
        return;
    if (!Interaction::current().question(this, QStringLiteral("Are you sure you want to scan?")))
        return;
    SetConnectedState(false);
    SearchAndConnect();
}

void frmMain::cmdDisconnect_Click()
{
    if (!Interaction::current().question(this, QStringLiteral("Are you sure you want to disconnect?")))
        return;
    SetConnectedState(false);
    ui->cmdAnalyse->setEnabled(false);
    m_state.BluetoothFirmwareVersion.clear();
    m_session.abandonTransfer();
    ProcessDataFile().close();
}

void frmMain::cmdManagePorts_Click()
{
    if (!m_portEditor) {
        m_portEditor = new frmPortManage(m_state.PortListPath, this);
        connect(m_portEditor, &frmPortManage::portListSaved, this,
                [this](const QList<PortEntry> &entries) { fillChooser(ui->cboLocators, entries); });
        m_portEditor->adjustSize();
        CenterWindow(m_portEditor);
    }
    // Showing a closed editor reloads it from the file; an open one is only brought forward.
    if (m_portEditor->isVisible()) {
        m_portEditor->raise();
        m_portEditor->activateWindow();
        return;
    }
    m_portEditor->show();
}
