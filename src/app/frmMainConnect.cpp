// Connecting to a locator: known-port test, port scan, disconnect, and the
// port editor the "Manage" button opens.
#include "frmMain.h"
#include "ui_frmMain.h"

#include "DataFileHandle.h"
#include "Folders.h"
#include "Interaction.h"
#include "Lamp.h"
#include "PortList.h"
#include "Probe.h"
#include "Protocol.h"
#include "WindowHelpers.h"
#include "frmMainLook.h"
#include "frmPortManage.h"

#include <QDir>
#include <QScopedValueRollback>

#include <limits>

using namespace frmMainLook;

namespace {
constexpr int kFirstScanPort = 1;
constexpr int kLastScanPort = 16;
constexpr int kScanTableSize = 100;  // entries the scan compares against

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

} // namespace

void frmMain::setupConnecting()
{
    // Typing into the chooser must not invent entries that have no port.
    ui->cboLocators->setInsertPolicy(QComboBox::NoInsert);
    connect(ui->cboLocators, &QComboBox::activated, this, [this](int) { cboLocators_Click(); });
    connect(ui->cmdrescan, &QPushButton::clicked, this, &frmMain::cmdrescan_Click);
    connect(ui->cmdDisconnect, &QPushButton::clicked, this, &frmMain::cmdDisconnect_Click);
    connect(ui->cmdManagePorts, &QPushButton::clicked, this, &frmMain::cmdManagePorts_Click);
}

// ---- Testing one port on the probe port --------------------------------------

int frmMain::openProbePort(int port)
{
    return Probe::OpenProbePort(MSComm2, port);
}

// Sends the preamble and identify command and reads what has arrived, once.
// A port that is not open costs no pause and yields nothing.
QByteArray frmMain::readProbePort(bool extraPause)
{
    return Probe::Exchange(MSComm2, extraPause);
}

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

static Protocol::ProbeResult evaluateProbe(const QByteArray &reply, AppState &state)
{
    const Protocol::ProbeResult probe = Protocol::ReadProbeReply(reply);
    if (reply.mid(26, 3) == "Ver")
        state.BluetoothFirmwareVersion = probe.bluetoothVersion;
    return probe;
}

// The connected state must never stand over a closed working port: if it
// cannot be opened, say so and fall back to not connected.
bool frmMain::openWorkingPortOrReport(int port)
{
    if (MSComm1.isOpen())
        MSComm1.close();
    OpenWorkingPort(port);
    if (MSComm1.isOpen())
        return true;
    const QString reason = MSComm1.lastErrorText();
    SetConnectedState(false);
    // No port was open, so the step above left the accepted identity showing.
    ui->txtModel->clear();
    ui->txtSerialNo->clear();
    ui->txtUser->clear();
    ui->lblUserChars->setText(UserCharsCaption(0));
    ui->shpMode->setFillColor(kDarkRed);
    setStatus(QStringLiteral("Port %1 could not be opened.").arg(port), kRed);
    DoEvents();
    QString text = QStringLiteral("The locator's port (%1) could not be opened.").arg(port);
    if (!reason.isEmpty())
        text += QStringLiteral("\n") + reason;
    text += QStringLiteral("\nPlease click 'Scan' to find the locator");
    Interaction::current().message(this, text);
    return false;
}

// ---- Scan ----------------------------------------------------------------------

void frmMain::SearchAndConnect()
{
    // "Search again?" repeats the scan in this loop; however often the user
    // says Yes, the stack does not grow.
    for (;;) {
        m_state.LocatorFound = false;
        ScanPorts();
        if (m_state.LocatorFound) {
            const bool opened = openWorkingPortOrReport(m_state.CurrentPort);
            m_state.LocatorFound = false;
            if (opened)
                output_string1(Protocol::StartLive);
            return;
        }
        if (!Interaction::current().question(this, QStringLiteral("No locator found. Search again?"))) {
            SetConnectedState(false);
            return;
        }
    }
}

void frmMain::ScanPorts()
{
    m_state.CurrentPort = 0;
    setStatus(QStringLiteral("Looking for communications port. Please wait..."), kRed);
    DoEvents();

    // Every entry is kept for a possible rewrite; the first 100 are compared.
    const QList<PortEntry> portList = PortList::ReadForScan(m_state.PortListPath, std::numeric_limits<int>::max());
    const qsizetype listCount = qMin<qsizetype>(portList.size(), kScanTableSize);

    for (int port = kFirstScanPort; port <= kLastScanPort && !m_state.LocatorFound; ++port) {
        setStatus(QStringLiteral("Checking com port %1...").arg(port), kRed);
        DoEvents();
        if (openProbePort(port) == SerialPort::InvalidPortNumber) {
            setStatus(QStringLiteral("Port %1not valid.").arg(port), kRed);
            DoEvents();
        }
        const QByteArray reply = readProbePort(false);
        const Protocol::ProbeResult probe = evaluateProbe(reply, m_state);
        if (probe.found) {
            if (!probe.firmwareText.isEmpty())
                ui->lblFirmwareVersion->setText(QStringLiteral("Firmware: ") + probe.firmwareText);
            const QString question = QStringLiteral("Locator type ") + probe.identity.model
                + QStringLiteral(", Serial Number ") + probe.identity.serialNo
                + QStringLiteral(". Use this connection?");
            if (Interaction::current().question(this, question)) {
                showAcceptedIdentity(probe.identity);
                m_state.LocatorFound = true;
                setStatus(QStringLiteral("Port found..."), kDarkGrey);
                DoEvents();
                m_state.CurrentPort = qint16(port);
                setStatus(QStringLiteral("Using port number ") + QString::number(m_state.CurrentPort), kDarkGrey);
                DoEvents();

                switch (PortList::RecordLocator(m_state.PortListPath, portList, listCount, probe.identity.serialNo, port)) {
                case PortList::Update::Appended:
                    ui->cboLocators->addItem(probe.identity.serialNo, port);
                    break;
                case PortList::Update::Rewritten:
                    fillChooser(ui->cboLocators, PortList::LoadPortList(m_state.PortListPath));
                    break;
                case PortList::Update::Failed:
                    Interaction::current().message(
                        this, QStringLiteral("The locator's port could not be recorded in the ports list:\n%1")
                                  .arg(QDir::toNativeSeparators(m_state.PortListPath)));
                    break;
                case PortList::Update::Unchanged:
                case PortList::Update::NotRecorded:
                    break;
                }
                SetConnectedState(true);
            }
        }
        if (MSComm2.isOpen())
            MSComm2.close();
    }
    if (MSComm2.isOpen())
        MSComm2.close();
}

// ---- Known port ----------------------------------------------------------------

void frmMain::ConnectToKnownPort(int port)
{
    m_state.CurrentPort = 0;
    setStatus(QStringLiteral("Checking communications port. Please wait..."), kRed);
    DoEvents();
    setStatus(QStringLiteral("Trying to connect. Please wait... (Port %1)").arg(port), kRed);
    ui->lblStatus->repaint();

    if (openProbePort(port) == SerialPort::InvalidPortNumber) {
        setStatus(QStringLiteral("Port %1 not valid.").arg(port), kRed);
        DoEvents();
        Interaction::current().message(
            this, QStringLiteral("Connection information invalid (%1) Please click 'Scan' to find the locator").arg(port));
        ui->shpMode->setFillColor(kDarkRed);
        return;
    }

    const QByteArray reply = readProbePort(true);
    setTextColor(ui->lblStatus, kDarkGrey);
    const Protocol::ProbeResult probe = evaluateProbe(reply, m_state);

    if (!probe.found) {
        SetConnectedState(false);
        setStatus(QStringLiteral("No communications received from locator. Ensure it is powered on or try 'Scan' to "
                                 "find the locator."),
                  kDarkGrey);
        ui->shpMode->setFillColor(kDarkRed);
        DoEvents();
        return;
    }

    const QString question = QStringLiteral("Locator type ") + probe.identity.model
        + QStringLiteral(", serial number ") + probe.identity.serialNo + QStringLiteral(". Use this connection?");
    if (!Interaction::current().question(this, question)) {
        // Nothing uses the probe port until the next test: do not hold it open.
        if (MSComm2.isOpen())
            MSComm2.close();
        return;
    }
    showAcceptedIdentity(probe.identity);
    setStatus(QStringLiteral("Port found..."), kDarkGrey);
    DoEvents();
    setStatus(QStringLiteral("Using port number %1").arg(port), kDarkGrey);
    DoEvents();
    if (MSComm2.isOpen())
        MSComm2.close();
    if (!openWorkingPortOrReport(port))
        return;
    SetConnectedState(true);
    output_string1(Protocol::StartLive);
}

// ---- Handlers ------------------------------------------------------------------

void frmMain::cboLocators_Click()
{
    // A test or scan lets events run while it waits; a second one started
    // from inside it would fight over the same two ports.
    if (m_connecting)
        return;
    const int index = ui->cboLocators->currentIndex();
    if (index < 0)
        return;
    const QScopedValueRollback busy(m_connecting, true);
    ui->shpMode->setFillColor(kYellow);
    SetConnectedState(false);
    ui->shpMode->setFillColor(kYellow);  // closing a port above darkens it; the test is still under way
    ConnectToKnownPort(ui->cboLocators->itemData(index).toInt());
}

void frmMain::cmdrescan_Click()
{
    if (m_connecting)
        return;
    if (!Interaction::current().question(this, QStringLiteral("Are you sure you want to scan?")))
        return;
    const QScopedValueRollback busy(m_connecting, true);
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
    tmrAbort.stop();
    m_receive.abandonTransfer();
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
