#include "gui/tools/frmTools.h"
#include "ui_frmTools.h"

#include "core/clock/Clock.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/Pacing.h"
#include "core/link/PortNaming.h"
#include "core/link/PortSettings.h"
#include "core/link/Protocol.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"
#include "gui/tools/TroubleshootLog.h"

#include <QCloseEvent>
#include <QDir>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

const QColor kGround(64, 64, 64);
const QColor kStatusText(64, 64, 64);
const QColor kStatusError(255, 0, 0);
constexpr int kMaxComPort = 256;  // the COM numbers Windows hands out
constexpr int kUserNameLength = 32;

QString portHint()
{
    return QStringLiteral("Type the port number and press Open.");
}

}  // namespace

frmTools::frmTools(AppState &state, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmTools)
    , m_state(state)
{
    ui->setupUi(this);
    EnterPressesFocusedButton(this);
    m_monitor[0] = ui->txtMonitor0;
    m_monitor[1] = ui->txtMonitor1;
    m_monitor[2] = ui->txtMonitor2;
    m_monitor[3] = ui->txtMonitor3;
    m_monitor[4] = ui->txtMonitor4;
    m_monitor[5] = ui->txtMonitor5;

    QPalette pal = palette();
    pal.setColor(QPalette::Window, kGround);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    QPalette statusPal = ui->lblStatus->palette();
    statusPal.setColor(QPalette::Window, Qt::white);
    statusPal.setColor(QPalette::WindowText, kStatusText);
    ui->lblStatus->setPalette(statusPal);

    connect(&MSComm1, &SerialPort::OnComm, this, &frmTools::MSComm1_OnComm);
    connect(&MSComm1, &SerialPort::deviceLost, this, &frmTools::onPortLost);
    connect(ui->txtUser, &QLineEdit::textChanged, this, &frmTools::txtUser_Change);
    connect(ui->txtPort, &QLineEdit::returnPressed, this, &frmTools::cmdOpenPort_Click);
    connect(ui->cmdOpenPort, &QPushButton::clicked, this, &frmTools::cmdOpenPort_Click);
    connect(ui->cmdOpenFile, &QPushButton::clicked, this, &frmTools::cmdOpenFile_Click);
    connect(ui->cmdReadDateTime, &QPushButton::clicked, this, &frmTools::cmdReadDateTime_Click);
    connect(ui->cmdReadStoredParameters, &QPushButton::clicked, this, &frmTools::cmdReadStoredParameters_Click);
    connect(ui->cmdClearMem, &QPushButton::clicked, this, &frmTools::cmdClearMem_Click);
    connect(ui->cmdResetMemPointer, &QPushButton::clicked, this, &frmTools::cmdResetMemPointer_Click);
    connect(ui->cmdSetSerialModel, &QPushButton::clicked, this, &frmTools::cmdSetSerialModel_Click);
    connect(ui->cmdSetDate, &QPushButton::clicked, this, &frmTools::cmdSetDate_Click);
    connect(ui->cmdSetTime, &QPushButton::clicked, this, &frmTools::cmdSetTime_Click);
    connect(ui->cmdSetUser, &QPushButton::clicked, this, &frmTools::cmdSetUser_Click);
    connect(ui->cmdSend, &QPushButton::clicked, this, &frmTools::cmdSend_Click);
    connect(ui->cmdStop, &QPushButton::clicked, this, &frmTools::cmdStop_Click);
    // cmdResetMem stays without an action; the form shows it disabled.

    setPortControls();
    ApplyLayoutMinimumSize(this);
}

frmTools::~frmTools()
{
    // The owner's state may already be gone here (it dies before its child
    // windows); only our own members are touched.
    MSComm1.close();
    delete ui;
}

QLineEdit *frmTools::txtMonitor(int index) const
{
    return index >= 0 && index < 6 ? m_monitor[index] : nullptr;
}

// ---- Start-up and the port -------------------------------------------------

bool frmTools::Form_Load()
{
    Interaction &ask = Interaction::current();
    m_state.DocumentsFolder = GetDocumentsFolder();

    const QString password
        = ask.input(parentWidget(), QStringLiteral("Enter your passwword"), QStringLiteral("Password"));
    if (password != QLatin1String("lampwick")) {
        // Ending at once must not leave a data file or the log half-written.
        closeOpenFiles();
        ask.endProgram(0);
        deleteLater();
        return false;
    }

    CenterWindow(this);
    show();
    ui->txtPort->setText(ask.input(this, QStringLiteral("Enter the port to use"), QStringLiteral("Port")));
    m_state.TransferCharCount = 0;
    OpenToolsPort();
    startLog();
    return true;
}

bool frmTools::parsePortNumber(const QString &text, int *number)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return false;
    const double rounded = std::round(value);
    if (rounded < 1 || rounded > kMaxComPort)
        return false;
    if (number)
        *number = int(rounded);
    return true;
}

bool frmTools::OpenToolsPort()
{
    closePort();
    setPortControls();

    const QString typed = ui->txtPort->text();
    int port = 0;
    if (typed.trimmed().isEmpty()) {
        setStatus(QStringLiteral("No port was entered. ") + portHint(), true);
        return false;
    }
    if (!parsePortNumber(typed, &port)) {
        setStatus(QStringLiteral("\"%1\" is not a port number from 1 to %2. ").arg(typed, QString::number(kMaxComPort))
                      + portHint(),
                  true);
        return false;
    }

    PortSettings settings;
    settings.stopAtEndOfFile = true;
    settings.writeOnOpen = Protocol::Preamble;
    const int rc = OpenLinkPort(MSComm1, port, settings);
    if (rc != SerialPort::NoError) {
        if (rc == SerialPort::InvalidPortNumber)
            setStatus(QStringLiteral("Port %1 does not exist. ").arg(port) + portHint(), true);
        else if (MSComm1.accessRefused())
            setStatus(QStringLiteral("Port %1 could not be opened. ").arg(port)
                          + PortNaming::RefusalAdvice(MSComm1.devicePath()),
                      true);
        else
            setStatus(QStringLiteral("Port %1 could not be opened: %2. ").arg(port).arg(MSComm1.lastErrorText())
                          + portHint(),
                      true);
        return false;
    }
    m_openPort = port;
    setStatus(QStringLiteral("Port %1 open").arg(port));
    setPortControls();
    return true;
}

void frmTools::cmdOpenPort_Click()
{
    if (m_writer.isBusy())
        return;  // the command going out keeps its port
    OpenToolsPort();
}

// Whatever was still going out on the port goes no further.
void frmTools::closePort()
{
    m_writer.cancel();
    MSComm1.close();
    m_openPort = 0;
}

void frmTools::onPortLost()
{
    const int port = m_openPort;
    closePort();
    if (port == 0)
        return;  // a dead device keeps reporting; once is enough
    setStatus(QStringLiteral("Port %1 was lost. ").arg(port) + portHint(), true);
    setPortControls();
}

void frmTools::setPortControls()
{
    const bool open = MSComm1.isOpen();
    const bool canSend = open && !m_writer.isBusy();
    const std::initializer_list<QWidget *> commands{ui->cmdReadDateTime,   ui->cmdReadStoredParameters,
                                                    ui->cmdClearMem,       ui->cmdResetMemPointer,
                                                    ui->cmdSetSerialModel, ui->cmdSetDate,
                                                    ui->cmdSetTime,        ui->cmdSetUser,
                                                    ui->cmdSend,           ui->cmdStop,
                                                    ui->cmdOpenPort};
    auto enabledNow = [&](QWidget *w) {
        if (w == ui->cmdOpenPort)
            return !m_writer.isBusy();
        // Stop is the way out of a command going out; only its own send holds it.
        if (w == ui->cmdStop)
            return open && !m_writer.isPending(m_stopCommand);
        return canSend;
    };
    // A disabled button hands focus on to the next control, a text box such
    // as the serial number; while nothing can be pressed the window itself
    // holds it, and the button gets it back afterwards.
    QWidget *focus = focusWidget();
    const bool focusOnCommand = std::find(commands.begin(), commands.end(), focus) != commands.end();
    if (focusOnCommand && !enabledNow(focus)) {
        m_focusBeforeDisabling = focus;
        setFocus();
    }
    for (QWidget *w : commands)
        w->setEnabled(enabledNow(w));
    if (m_focusBeforeDisabling && m_focusBeforeDisabling->isEnabled()) {
        if (focusWidget() == this || !focusWidget())
            m_focusBeforeDisabling->setFocus();
        m_focusBeforeDisabling = nullptr;
    }
}

void frmTools::closeEvent(QCloseEvent *event)
{
    closePort();
    QWidget::closeEvent(event);
    deleteLater();
}

// ---- The troubleshooting log -----------------------------------------------

void frmTools::startLog()
{
    if (m_refreshIdentity)
        m_refreshIdentity();
    const QString name = DataFileFormat::MakeLogFileName(QStringLiteral("TShoot"), m_state.Identity, Clock::now())
        + QStringLiteral(".csv");
    const QString path = m_state.DocumentsFolder + QStringLiteral("/korvex/") + name;
    TroubleshootLog &log = ProcessTroubleshootLog();
    m_logErrorShown = false;
    const bool created = !m_state.DocumentsFolder.isEmpty() && log.create(path);
    if (!created) {
        const QString reason
            = m_state.DocumentsFolder.isEmpty() ? QStringLiteral("the documents folder is unknown") : log.errorString();
        Interaction::current().message(this,
                                       QStringLiteral("The troubleshooting log %1 could not be created: %2")
                                           .arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    // The log lives beside the data folder, not in it: readers are told where.
    m_state.CurrentDataFile = name;
    m_state.CurrentDataFileOutside = path;
}

void frmTools::logPiece(const QByteArray &piece)
{
    TroubleshootLog &log = ProcessTroubleshootLog();
    if (!log.isOpen() || log.appendLine(piece) || m_logErrorShown)
        return;
    m_logErrorShown = true;  // once, not for every piece that follows
    setStatus(QStringLiteral("The troubleshooting log could not be written: ") + log.errorString(), true);
}

void frmTools::cmdOpenFile_Click()
{
    TroubleshootLog &log = ProcessTroubleshootLog();
    if (!log.isOpen()) {
        Interaction::current().message(this, QStringLiteral("No troubleshooting log is open."));
        return;
    }
    log.flush();
    // Told in a message, as a folder that cannot be shown is elsewhere.
    if (!Interaction::current().openExternally(QUrl::fromLocalFile(log.path())))
        Interaction::current().message(
            this, QStringLiteral("The log file could not be opened:\n%1").arg(QDir::toNativeSeparators(log.path())));
}

void frmTools::closeOpenFiles()
{
    ProcessDataFile().close();
    ProcessTroubleshootLog().close();
}

// ---- Receiving ---------------------------------------------------------------

void frmTools::MSComm1_OnComm()
{
    MSComm1.setDTREnable(false);
    const int event = MSComm1.CommEvent();
    if (event == SerialPort::EvReceive) {
        // Read only for arrivals: a send or line event must not swallow text
        // that its own receive event is about to show and log.
        const QByteArray piece = MSComm1.input();
        for (int i = 5; i > 0; --i)
            m_monitor[i]->setText(m_monitor[i - 1]->text());
        logPiece(piece);
        m_monitor[0]->setText(QString::fromLatin1(piece));

        if (piece.startsWith(Protocol::Identify)) {
            const LocatorIdentity id = Protocol::ReadIdentifyFields(piece);
            ui->txtUser->setText(id.user);
            ui->txtModel->setText(id.model);
            ui->txtSerialNo->setText(id.serialNo);
        }
        const Protocol::DateTimeReply reply = Protocol::ReadDateTimeReply(piece);
        if (reply.valid) {
            ui->txtDate->setText(reply.date);
            ui->txtTime->setText(reply.time);
        }
    } else if (event == SerialPort::EvRing || event < SerialPort::EvSend || event > SerialPort::EvEOF) {
        Interaction::current().message(this, QStringLiteral("Comms error: ") + QString::number(event));
    }
    MSComm1.setDTREnable(true);
}

void frmTools::txtUser_Change()
{
    ui->lblUserChars->setText(userCharsCaption(ui->txtUser->text().size()));
}

QString frmTools::userCharsCaption(qsizetype length)
{
    return QStringLiteral("-") + QString::number(kUserNameLength - length) + QStringLiteral(" left-");
}

// ---- Sending -----------------------------------------------------------------

// One command at a time: the buttons stay disabled while one goes out, so
// the characters of two commands never mix on the wire. Stop alone stays
// usable; it drops what is left of the command before it goes.
quint64 frmTools::sendPaced(const QByteArray &text, int pauseMs, std::function<void(bool)> sent)
{
    if (!readyToSend())
        return 0;
    const quint64 command = m_writer.send(MSComm1, text, pauseMs, [this, sent](bool ok) {
        if (sent)
            sent(ok);
        setPortControls();
    });
    setPortControls();
    return command;
}

bool frmTools::SendQuery(const QByteArray &text, std::function<void(bool)> sent)
{
    return sendPaced(text, Pacing::ToolsLongPauseMs(), std::move(sent)) != 0;
}

bool frmTools::SendCommand(const QByteArray &text, std::function<void(bool)> sent)
{
    return sendPaced(text, Pacing::ShortPauseMs(), std::move(sent)) != 0;
}

quint64 frmTools::runButton(const QString &first, const QByteArray &command, bool query, const QString &second)
{
    setStatus(first);
    auto done = [this, second](bool ok) {
        if (ok)
            setStatus(second);
        else
            setStatus(QStringLiteral("The port closed before the command was sent. ") + portHint(), true);
    };
    const quint64 sent = sendPaced(command, query ? Pacing::ToolsLongPauseMs() : Pacing::ShortPauseMs(), done);
    if (sent == 0)
        done(false);
    return sent;
}

// A command needs an open port and the end of the one before it.
bool frmTools::readyToSend() const
{
    return MSComm1.isOpen() && !m_writer.isBusy();
}

void frmTools::cmdReadDateTime_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Getting Date and Time"), Protocol::ReadDateTime, true,
                  QStringLiteral("Parameters received"));
}

void frmTools::cmdReadStoredParameters_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Getting Serial No., Model, User"), Protocol::Identify, true,
                  QStringLiteral("Parameters received"));
}

void frmTools::cmdClearMem_Click()
{
    if (!readyToSend())
        return;
    // The window may be closed (and deleted) while the question is open.
    const QPointer<frmTools> self(this);
    const bool yes
        = Interaction::current().question(this, QStringLiteral("Are you sure you want to clear the memory?"));
    if (self && yes && readyToSend())
        runButton(QStringLiteral("Clearing memory"), Protocol::ClearMemory, false,
                  QStringLiteral("When live data appears on the Live Monitor, the clear has been completed."));
}

void frmTools::cmdResetMemPointer_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Resetting memory"), Protocol::ResetMemoryPointer, false,
                  QStringLiteral("Memory Reset"));
}

void frmTools::cmdSetSerialModel_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Setting Serial No. / Model"),
                  Protocol::SetSerialModelCommand(ui->txtSerialNo->text(), ui->txtModel->text()), false,
                  QStringLiteral("Serial No. / Model set"));
}

void frmTools::cmdSetDate_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Setting Date"), Protocol::SetDateCommand(Clock::now().date()), false,
                  QStringLiteral("Date set"));
}

void frmTools::cmdSetTime_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Setting time"), Protocol::SetTimeCommand(Clock::now().time()), false,
                  QStringLiteral("Time set"));
}

void frmTools::cmdSetUser_Click()
{
    if (!readyToSend())
        return;
    const QString user = ui->txtUser->text();
    m_state.Identity.user = Protocol::PadRight(user, kUserNameLength);
    runButton(QStringLiteral("Setting User"), Protocol::SetUserCommand(user), false, QStringLiteral("User Set"));
}

void frmTools::cmdSend_Click()
{
    if (readyToSend())
        runButton(QStringLiteral("Sending") + ui->txtSend->text(), ui->txtSend->text().toLatin1(), false,
                  QStringLiteral("Sent!"));
}

void frmTools::cmdStop_Click()
{
    if (!MSComm1.isOpen() || m_writer.isPending(m_stopCommand))
        return;
    // A query takes many seconds to go out; Stop must not wait for it. What
    // is left of it stays unsent (its status text with it) and the abort
    // goes out at once.
    m_writer.cancel();
    m_stopCommand = runButton(QStringLiteral("Stopping..."), Protocol::ToolsAbort, false, QStringLiteral("Aborted"));
    setPortControls();  // now that the abort is known to be going out
}

void frmTools::setStatus(const QString &text, bool error)
{
    QPalette pal = ui->lblStatus->palette();
    pal.setColor(QPalette::WindowText, error ? kStatusError : kStatusText);
    ui->lblStatus->setPalette(pal);
    ui->lblStatus->setText(text);
}
