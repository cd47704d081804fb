#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"
#include "core/link/Pacing.h"
#include "core/link/PortList.h"
#include "core/link/Protocol.h"
#include "core/link/ReceiveHandler.h"
#include "core/link/WorkingPort.h"
#include "gui/analysis/frmPieByMonthMode2.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/Lamp.h"
#include "gui/common/WindowHelpers.h"
#include "gui/main/Artwork.h"
#include "gui/main/frmAbout.h"
#include "gui/main/frmMainLook.h"
#include "gui/tools/frmTools.h"
#include "gui/viewer/frmViewData.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QStyle>

using namespace frmMainLook;

namespace {
// Drawing the monitor and the progress bar for every piece costs more than
// receiving it; ten pictures a second show the same thing.
constexpr int kProgressRefreshMs = 100;

constexpr int kLogoSize = 56;

// Windows virtual-key codes of the keys the hidden shortcuts count.
int virtualKeyCode(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    default:
        if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
            return qtKey;  // same codes as the letters' virtual keys
        return 0;
    }
}
}  // namespace

frmMain::frmMain(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::frmMain)
    , m_session(MSComm1, m_state, ProcessDataFile(), m_writer, *this)
    , m_scan(MSComm2, m_writer)
    , tmrAbort(m_session.abortTimer())
    , tmrCommsWatchdog(m_session.watchdog())
{
    ui->setupUi(this);
    EnterPressesFocusedButton(this);
    SelectSectionOnClick(ui->dtpStart);
    SelectSectionOnClick(ui->dtpEnd);
    ui->Picture1->setPixmap(Artwork::logo(kLogoSize, devicePixelRatioF()));
    setWindowIcon(Artwork::windowIcon());
    // The monitor shows whole pieces; its size must not follow their length.
    ui->lblMonitor->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The end-date message takes two lines at the window's least width; a
    // wrapped label is not counted in the window's minimum by its layout.
    ui->lblEndError->setMinimumHeight(2 * ui->lblEndError->fontMetrics().lineSpacing());
    // A 32-character name in capitals is shown whole.
    ui->txtUser->setMinimumWidth(ui->txtUser->fontMetrics().horizontalAdvance(QString(32, QLatin1Char('X')))
                                 + 2 * ui->txtUser->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8);

    m_progressRefresh.setSingleShot(true);
    m_progressRefresh.setInterval(kProgressRefreshMs);
    connect(&m_progressRefresh, &QTimer::timeout, this, &frmMain::applyTransferProgress);
    // The session owns the two timers and runs their ticks itself.
    connect(&MSComm1, &SerialPort::OnComm, this, &frmMain::MSComm1_OnComm);
    connect(ui->cmdDownloadAll, &QPushButton::clicked, this, &frmMain::cmdDownloadAll_Click);
    connect(ui->cmdDownloadByDate, &QPushButton::clicked, this, &frmMain::cmdDownloadByDate_Click);
    connect(ui->cmdStop, &QPushButton::clicked, this, &frmMain::cmdStop_Click);
    connect(ui->chkAdvanced, &QCheckBox::clicked, this, &frmMain::chkAdvanced_Click);
    connect(ui->dtpEnd, &QDateEdit::dateChanged, this, &frmMain::dtpEnd_Change);
    connect(ui->cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(ui->cmdSetDate, &QPushButton::clicked, this, &frmMain::cmdSetDate_Click);
    connect(ui->cmdSetTime, &QPushButton::clicked, this, &frmMain::cmdSetTime_Click);
    connect(ui->cmdSetUser, &QPushButton::clicked, this, &frmMain::cmdSetUser_Click);
    connect(ui->txtUser, &QLineEdit::textChanged, this, &frmMain::txtUser_Change);
    connect(ui->cmdOpenExistingFile, &QAbstractButton::clicked, this, &frmMain::cmdOpenExistingFile_Click);
    connect(ui->cmdOpenFile, &QAbstractButton::clicked, this, &frmMain::cmdOpenFile_Click);
    connect(this, &frmMain::aboutWindowRequested, this, &frmMain::showAbout);
    connect(this, &frmMain::toolsWindowRequested, this, &frmMain::showTools);
    connect(ui->cmdAnalyse, &QPushButton::clicked, this, &frmMain::cmdAnalyse_Click);
    connect(this, &frmMain::dataViewerRequested, this, &frmMain::showDataViewer);
    setupConnecting();

    Form_Load();
}

frmMain::~frmMain()
{
    qApp->removeEventFilter(this);
    shutDownLink();
    delete ui;
}

bool frmMain::linkBusy() const
{
    return m_scan.isRunning() || m_writer.isBusy();
}

// Nothing more goes out on any port: what is queued is dropped and both
// ports are closed.
void frmMain::shutDownLink()
{
    m_scan.cancel();
    m_writer.cancel();
    if (MSComm1.isOpen())
        MSComm1.close();
    if (MSComm2.isOpen())
        MSComm2.close();
}

// However the working port closes, the link it carried is gone: nothing
// may watch it any more. A watchdog left running would declare the link
// lost long after, and its SetConnectedState(false) would close the probe
// port in the middle of a later scan's exchange.
void frmMain::closeWorkingPort()
{
    m_writer.cancel(MSComm1);
    tmrCommsWatchdog.stop();
    if (MSComm1.isOpen())
        MSComm1.close();
}

// The link shown as down: no identity, no live text, a dark red lamp, and
// the tabs that talk to the locator out of reach.
void frmMain::showLinkClosed()
{
    ui->txtModel->clear();
    ui->txtSerialNo->clear();
    ui->txtUser->clear();
    ui->lblUserChars->setText(UserCharsCaption(ui->txtUser->text().size()));
    dropTransferProgress();
    ui->lblMonitor->clear();
    setStatus(QString());
    tmrCommsWatchdog.stop();
    ui->shpMode->setFillColor(kDarkRed);
    ui->tabstrip->setTabEnabled(kTabTransfer, false);
    ui->tabstrip->setTabEnabled(kTabSetup, false);
}

// Analyse and Open Current read the current data file; with its name gone
// they have nothing to read.
void frmMain::forgetCurrentDataFile()
{
    m_state.CurrentDataFile.clear();
    ui->cmdAnalyse->setEnabled(false);
    ui->cmdOpenFile->setEnabled(false);
    ui->lblOpenFile->setEnabled(false);
}

bool frmMain::haveCurrentDataFile()
{
    if (!m_state.CurrentDataFile.isEmpty())
        return true;
    Interaction::current().message(this,
                                   QStringLiteral("There is no current data file. Please transfer data from "
                                                  "the locator or open an existing log file first."));
    return false;
}

// The service tools window takes the locator's port over: the main window's
// link ends here, as any closed link does, and a transfer in progress keeps
// what has arrived. The controls keep their state; the tabs that need the
// link are out of reach until it is made again.
void frmMain::handLinkToTools()
{
    const bool wasOpen = MSComm1.isOpen();
    if (wasOpen && (m_state.TransferActive || ProcessDataFile().isWriting()))
        endOfCutShortTransfer(m_session.abandonTransfer());
    closeWorkingPort();
    // The tools window names its log from the identity boxes, so they are
    // emptied only once it is open.
    emit toolsWindowRequested();
    if (wasOpen)
        showLinkClosed();
}

void frmMain::setTextColor(QLabel *label, const QColor &color)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

void frmMain::setStatus(const QString &text, const QColor &color)
{
    setTextColor(ui->lblStatus, color);
    ui->lblStatus->setText(text);
}

// Red belongs to searching and port errors only; every other text is dark
// grey, whatever the text before it was.
void frmMain::setStatus(const QString &text)
{
    setStatus(text, kDarkGrey);
}

void frmMain::showStatusNow(const QString &text, const QColor &color)
{
    setStatus(text, color);
    ui->lblStatus->repaint();
}

QString frmMain::UserCharsCaption(int length)
{
    const int left = 32 - length;
    return QStringLiteral("-") + (left >= 0 ? QStringLiteral(" ") : QString()) + QString::number(left)
        + QStringLiteral(" -");
}

void frmMain::Form_Load()
{
    m_state.Version = QStringLiteral(LOCATOR_VERSION_TEXT);
    setWindowTitle(QStringLiteral("Korvex Locator PC Toolkit (V") + m_state.Version + ')');

    adjustSize();
    CenterWindow(this);
    qApp->installEventFilter(this);  // the hidden shortcuts work whatever control has the focus

    m_state.DocumentsFolder = GetDocumentsFolder();
    m_state.AppDataFolder = GetAppDataFolder();

    ui->cmdOpenFile->setEnabled(false);
    ui->lblOpenFile->setEnabled(false);
    ui->cmdAnalyse->setEnabled(false);
    ui->cmdStop->setEnabled(false);

    m_state.TransferFileReady = false;
    m_state.AbortAcknowledged = false;

    m_state.DataFolder = m_state.DocumentsFolder + QStringLiteral("/korvex/data/");
    m_state.ImagesFolder = m_state.DocumentsFolder + QStringLiteral("/korvex/images/");
    m_state.PortListPath = m_state.AppDataFolder + QStringLiteral("/korvex/ports.ini");
    m_session.receiver().setDataFolder(m_state.DataFolder);

    m_state.LocatorFound = false;
    m_state.TransferActive = false;
    m_state.TransferCharCount = 0;

    ui->ProgressBar1->setMaximum(int(ReceiveHandler::kProgressMax));
    ui->tabstrip->setCurrentIndex(kTabConnect);

    const QDate today = Interaction::current().now().date();
    for (QDateEdit *picker : {ui->dtpStart, ui->dtpEnd}) {
        picker->setDisplayFormat(QStringLiteral("dd/MM/yy"));
        picker->setDate(today);
    }

    ui->tabstrip->setTabEnabled(kTabTransfer, false);
    ui->tabstrip->setTabEnabled(kTabSetup, false);

    ui->cmdDownloadAll->setEnabled(false);
    ui->cmdDownloadAll->setVisible(false);
    ui->cmdStop->setEnabled(false);
    ui->cmdStop->setVisible(false);
    ui->cmdManagePorts->setEnabled(false);
    ui->cmdManagePorts->setVisible(false);
    ui->Line1->setVisible(false);
    ui->Line3->setVisible(false);
    ui->Label1->setVisible(false);

    setTextColor(ui->lblStatus, kDarkGrey);
    setTextColor(ui->lblEndError, kRed);
    setTextColor(ui->lblFirmwareVersion, kGrey);
    ui->shpMode->setFillColor(kRed);

    m_state.ColumnsLine = QString::fromLatin1(DataFileFormat::ColumnsLine);
    m_state.ColumnLegends = DataFileFormat::ColumnLegends();
    m_state.DataFileCommentBlock = DataFileFormat::BuildCommentBlock(m_state.ColumnsLine, m_state.ColumnLegends);
    m_session.receiver().setCommentBlock(m_state.DataFileCommentBlock);

    ui->cboLocators->clear();
    for (const PortEntry &e : PortList::LoadPortList(m_state.PortListPath))
        ui->cboLocators->addItem(e.serialNo, PortList::PortNumber(e.port));
    ui->cboLocators->setCurrentIndex(-1);
    ui->cboLocators->setEditText(QStringLiteral("Choose..."));

    SetConnectedState(false);
}

void frmMain::SetConnectedState(bool state)
{
    m_state.Connected = state;
    // A transfer cannot outlive its port (Scan, a chooser pick, Disconnect
    // or opening a file close it): what arrived stays on disk, closed.
    bool cutShort = false;
    QString kept;
    if (!state && MSComm1.isOpen() && (m_state.TransferActive || ProcessDataFile().isWriting())) {
        cutShort = true;
        kept = m_session.abandonTransfer();
    }
    if (!state && (MSComm1.isOpen() || MSComm2.isOpen())) {
        closeWorkingPort();
        if (MSComm2.isOpen())
            MSComm2.close();
        showLinkClosed();
    }
    for (QWidget *w : {static_cast<QWidget *>(ui->cmdDownloadAll), static_cast<QWidget *>(ui->cmdDownloadByDate),
                       static_cast<QWidget *>(ui->cmdSetDate), static_cast<QWidget *>(ui->cmdSetTime),
                       static_cast<QWidget *>(ui->cmdSetUser), static_cast<QWidget *>(ui->cmdDisconnect),
                       static_cast<QWidget *>(ui->txtUser)})
        w->setEnabled(state);
    forgetCurrentDataFile();
    if (cutShort)
        endOfCutShortTransfer(kept);
}

void frmMain::refreshIdentity()
{
    m_state.Identity.model = ui->txtModel->text().trimmed();
    m_state.Identity.serialNo = ui->txtSerialNo->text().trimmed();
    m_state.Identity.user = ui->txtUser->text().trimmed();
}

QString frmMain::MakeLogFileName(const QString &kind)
{
    refreshIdentity();
    DataFileFormat::NameParts parts;
    parts.rangeStart = m_state.RangeStart;
    parts.rangeEnd = m_state.RangeEnd;
    return DataFileFormat::MakeLogFileName(kind, m_state.Identity, Interaction::current().now(), parts);
}

void frmMain::OpenWorkingPort(int port)
{
    m_session.receiver().forgetPieces();
    WorkingPort::Open(MSComm1, port);
}

void frmMain::output_string1(const QByteArray &text, PacedWriter::Done sent)
{
    m_writer.send(MSComm1, text, Pacing::outputPauseMs(), std::move(sent));
}

void frmMain::output_string2(const QByteArray &text, PacedWriter::Done sent)
{
    m_writer.send(MSComm2, text, Pacing::outputPauseMs(), std::move(sent));
}

void frmMain::output_string3(const QByteArray &text, PacedWriter::Done sent)
{
    m_writer.send(MSComm1, text, Pacing::shortPauseMs(), std::move(sent));
}

// ---- Window controls -------------------------------------------------------

void frmMain::chkAdvanced_Click()
{
    const bool on = ui->chkAdvanced->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(ui->cmdManagePorts), static_cast<QWidget *>(ui->cmdDownloadAll),
                       static_cast<QWidget *>(ui->cmdStop)}) {
        w->setEnabled(on);
        w->setVisible(on);
    }
    ui->Line1->setVisible(on);
    ui->Line3->setVisible(on);
    ui->Label1->setVisible(on);
}

void frmMain::dtpEnd_Change()
{
    if (ui->dtpEnd->date() < ui->dtpStart->date()) {
        ui->dtpEnd->setDate(ui->dtpStart->date());
        ui->lblEndError->setText(QStringLiteral("End date can not be before start date. End date set to start date."));
    } else {
        ui->lblEndError->clear();
    }
}

void frmMain::Form_KeyDown(int keyCode)
{
    const bool counted = keyCode == 16 || keyCode == 17 || keyCode == 65 || keyCode == 84;
    if (counted)
        KeySum += keyCode;
    // Only the key that brings the sum to 117 opens the tools: later letters
    // leave the sum there and must not close the port again.
    if (counted && KeySum == 117) {
        handLinkToTools();
    } else if (KeySum == 82) {
        emit aboutWindowRequested();
        KeySum = 0;
    }
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // A key event travels up from the focus widget through its parents and
    // passes the application's filter at each step; count it once, at its first stop.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this
        && watched
            == (QApplication::focusWidget() ? static_cast<QObject *>(QApplication::focusWidget())
                                            : static_cast<QObject *>(this))) {
        const int code = virtualKeyCode(static_cast<QKeyEvent *>(event)->key());
        if (code)
            Form_KeyDown(code);
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::cmdExit_Click()
{
    // At once: a scan or a command going out stops here, not a byte more is
    // written, and every file is flushed and closed.
    shutDownLink();
    frmTools::CloseOpenFiles();
    Interaction::current().endProgram(0);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Closing by the frame must not leave a data file half-written either.
    shutDownLink();
    ProcessDataFile().close();
    QWidget::closeEvent(event);
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // A window manager keeps the window at least at its layout's minimum;
    // without one (a bare X server) nothing does, and the controls would
    // overlap. Ask for the minimum back, once: a size that is forced on the
    // window again is left as it is.
    const QSize least = minimumSize();
    if (width() >= least.width() && height() >= least.height()) {
        m_askedForMinimumSize = false;
        return;
    }
    if (m_askedForMinimumSize)
        return;
    m_askedForMinimumSize = true;
    QTimer::singleShot(0, this, [this] { resize(size().expandedTo(minimumSize())); });
}

// ---- Setup tab -------------------------------------------------------------

// A settings command that finds another still going out waits its turn; its
// "done" text follows its own last character.
void frmMain::cmdSetDate_Click()
{
    setStatus(QStringLiteral("Setting Date"));
    output_string3(Protocol::SetDateCommand(Interaction::current().now().date()),
                   [this](bool) { setStatus(QStringLiteral("Date set")); });
}

void frmMain::cmdSetTime_Click()
{
    const QTime time = Interaction::current().now().time();
    setStatus(QStringLiteral("Setting time"));
    output_string3(Protocol::SetTimeCommand(time), [this](bool) { setStatus(QStringLiteral("Time set")); });
}

void frmMain::cmdSetUser_Click()
{
    m_state.Identity.user = Protocol::PadRight(ui->txtUser->text(), 32);
    setStatus(QStringLiteral("Setting User"));
    output_string3(Protocol::SetUserCommand(m_state.Identity.user),
                   [this](bool) { setStatus(QStringLiteral("User Set")); });
}

void frmMain::txtUser_Change()
{
    static const QString refused = QStringLiteral("*/\\?:.");
    QLineEdit *box = ui->txtUser;
    const int k = box->cursorPosition();
    const QString text = box->text();
    // Only the character just typed (the one before the caret) is examined.
    if (k > 0 && k <= text.size() && refused.contains(text[k - 1])) {
        {
            const QSignalBlocker quiet(box);
            box->setText(text.left(k - 1) + text.mid(k));
        }
        box->setCursorPosition(k - 1);
    }
    ui->lblUserChars->setText(UserCharsCaption(int(box->text().size())));
}

// ---- Opening data files ----------------------------------------------------

void frmMain::cmdOpenExistingFile_Click()
{
    setStatus(QStringLiteral("Choose a file..."));
    const QString chosen = Interaction::current().openFileName(this, QString(), m_state.DataFolder,
                                                               QStringLiteral("Locator Data Files (*.csv)"));
    if (chosen.isEmpty()) {
        setStatus(QString());
        return;
    }
    SetConnectedState(false);
    // A transfer still waiting for its data has lost its port: keep its file as it is.
    m_session.abandonTransfer();
    ui->ProgressBar1->setValue(0);

    const QFileInfo info(chosen);
    m_state.CurrentDataFile = info.fileName();
    // A file outside the data folder is read where the user found it.
    const bool inDataFolder = QDir(info.absolutePath()) == QDir(m_state.DataFolder);
    m_state.CurrentDataFileOutside = inDataFolder ? QString() : info.absoluteFilePath();

    ui->cmdAnalyse->setEnabled(true);
    ui->cmdOpenFile->setEnabled(true);
    ui->lblOpenFile->setEnabled(true);
    setStatus(QStringLiteral("File '") + m_state.CurrentDataFile + QStringLiteral("' successfully opened"));

    ReadLogFileHeader();
    ui->txtModel->setText(m_state.Identity.model);
    ui->txtSerialNo->setText(m_state.Identity.serialNo);
    {
        // The box shows the file's user; this is no typing to police.
        const QSignalBlocker quiet(ui->txtUser);
        ui->txtUser->setText(m_state.Identity.user);
    }
    ui->lblUserChars->setText(UserCharsCaption(int(ui->txtUser->text().size())));

    if (FileLocked(ProcessDataFile(), m_state.currentDataFilePath()))
        ProcessDataFile().close();
    emit dataViewerRequested();
}

void frmMain::cmdOpenFile_Click()
{
    if (!haveCurrentDataFile())
        return;
    if (FileLocked(ProcessDataFile(), m_state.currentDataFilePath()))
        ProcessDataFile().close();
    emit dataViewerRequested();
}

void frmMain::ReadLogFileHeader()
{
    DataFileHandle &handle = ProcessDataFile();
    const QString path = m_state.currentDataFilePath();
    if (FileLocked(handle, path))
        handle.close();
    QByteArray line;
    if (!DataFileHeader::ReadHeaderLine(handle, path, &line)) {
        Interaction::current().message(
            this,
            QStringLiteral("There is a problem with the header line in the locator's data file. "
                           "Please correct and try again or contact Korvex support at ")
                + QString::fromLatin1(SupportAddress));
        return;
    }
    m_state.Identity = DataFileHeader::IdentityFromHeaderLine(line);
}

// ---- Other windows ---------------------------------------------------------

void frmMain::showAbout()
{
    if (!m_about) {
        m_about = new frmAbout(m_state, this);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

QWidget *frmMain::aboutWindow() const
{
    return m_about;
}

void frmMain::showTools()
{
    if (m_tools) {
        m_tools->show();
        m_tools->raise();
        m_tools->activateWindow();
        return;
    }
    m_tools = new frmTools(m_state, this);
    m_tools->setIdentityRefresh([this] { refreshIdentity(); });
    m_tools->Form_Load();
}

QWidget *frmMain::toolsWindow() const
{
    return m_tools;
}

void frmMain::cmdAnalyse_Click()
{
    if (!haveCurrentDataFile())
        return;
    if (m_analyse) {
        m_analyse->show();
        m_analyse->raise();
        m_analyse->activateWindow();
        return;
    }
    AnalysisHooks hooks;
    hooks.refreshIdentity = [this] { refreshIdentity(); };
    hooks.setStatus = [this](const QString &text) { setStatus(text); };
    m_analyse = new frmPieByMonthMode2(m_state, hooks, this);
    m_analyse->show();
}

QWidget *frmMain::analyseWindow() const
{
    return m_analyse;
}

void frmMain::showDataViewer()
{
    // An open viewer keeps the records it loaded; it is only brought forward.
    if (m_viewer) {
        m_viewer->show();
        m_viewer->raise();
        m_viewer->activateWindow();
        return;
    }
    m_viewer = new frmViewData(m_state, this);
    m_viewer->show();
}

QWidget *frmMain::dataViewer() const
{
    return m_viewer;
}
