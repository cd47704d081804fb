#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "core/clock/Clock.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/link/ReceiveHandler.h"
#include "gui/analysis/frmPieByMonthMode2.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/Lamp.h"
#include "gui/common/WindowHelpers.h"
#include "gui/fleet/frmFleet.h"
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

template<typename... Widgets>
void enableAll(bool on, Widgets *...widgets)
{
    (widgets->setEnabled(on), ...);
}

template<typename... Widgets>
void showAll(bool on, Widgets *...widgets)
{
    (widgets->setVisible(on), ...);
}
}  // namespace

frmMain::frmMain(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::frmMain>())
    , m_parts{*this, *m_ui, m_state, m_working, m_probe, m_writer, [this](bool state) { SetConnectedState(state); }}
    , m_transfer(m_parts)
    , m_connect(m_parts, m_transfer)
    , m_sync(m_parts, m_transfer)
{
    m_ui->setupUi(this);
    setUpControls();
    connectHandlers();
    Form_Load();
}

frmMain::~frmMain()
{
    qApp->removeEventFilter(this);
    m_connect.shutDown();
}

void frmMain::setUpControls()
{
    Ui::frmMain &ui = *m_ui;
    EnterPressesFocusedButton(this);
    SelectSectionOnClick(ui.dtpStart);
    SelectSectionOnClick(ui.dtpEnd);
    ui.Picture1->setPixmap(Artwork::Logo(kLogoSize, devicePixelRatioF()));
    setWindowIcon(Artwork::WindowIcon());
    // The monitor shows whole pieces; its size must not follow their length.
    ui.lblMonitor->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The end-date message takes two lines at the window's least width; a
    // wrapped label is not counted in the window's minimum by its layout.
    ui.lblEndError->setMinimumHeight(2 * ui.lblEndError->fontMetrics().lineSpacing());
    // A 32-character name in capitals is shown whole.
    ui.txtUser->setMinimumWidth(ui.txtUser->fontMetrics().horizontalAdvance(QString(32, QLatin1Char('X')))
                                + 2 * ui.txtUser->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8);
}

void frmMain::connectHandlers()
{
    Ui::frmMain &ui = *m_ui;
    // The session owns the two timers and runs their ticks itself.
    connect(&m_working, &SerialPort::OnComm, this, &frmMain::MSComm1_OnComm);
    connect(ui.cboLocators, &QComboBox::activated, this, [this](int) { cboLocators_Click(); });
    connect(ui.cmdrescan, &QPushButton::clicked, this, &frmMain::cmdrescan_Click);
    connect(ui.cmdDisconnect, &QPushButton::clicked, this, &frmMain::cmdDisconnect_Click);
    connect(ui.cmdManagePorts, &QPushButton::clicked, this, &frmMain::cmdManagePorts_Click);
    connect(ui.cmdDownloadAll, &QPushButton::clicked, this, &frmMain::cmdDownloadAll_Click);
    connect(ui.cmdDownloadByDate, &QPushButton::clicked, this, &frmMain::cmdDownloadByDate_Click);
    connect(ui.cmdStop, &QPushButton::clicked, this, &frmMain::cmdStop_Click);
    connect(ui.cmdSync, &QPushButton::clicked, this, &frmMain::cmdSync_Click);
    connect(ui.chkSyncOnConnect, &QCheckBox::clicked, this, &frmMain::chkSyncOnConnect_Click);
    connect(ui.chkAdvanced, &QCheckBox::clicked, this, &frmMain::chkAdvanced_Click);
    connect(ui.dtpEnd, &QDateEdit::dateChanged, this, &frmMain::dtpEnd_Change);
    connect(ui.cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(ui.cmdSetDate, &QPushButton::clicked, this, &frmMain::cmdSetDate_Click);
    connect(ui.cmdSetTime, &QPushButton::clicked, this, &frmMain::cmdSetTime_Click);
    connect(ui.cmdSetUser, &QPushButton::clicked, this, &frmMain::cmdSetUser_Click);
    connect(ui.txtUser, &QLineEdit::textChanged, this, &frmMain::txtUser_Change);
    connect(ui.cmdOpenExistingFile, &QAbstractButton::clicked, this, &frmMain::cmdOpenExistingFile_Click);
    connect(ui.cmdOpenFile, &QAbstractButton::clicked, this, &frmMain::cmdOpenFile_Click);
    connect(ui.cmdAnalyse, &QPushButton::clicked, this, &frmMain::cmdAnalyse_Click);
    connect(ui.cmdFleet, &QPushButton::clicked, this, &frmMain::cmdFleet_Click);
    connect(this, &frmMain::aboutWindowRequested, this, &frmMain::showAbout);
    connect(this, &frmMain::toolsWindowRequested, this, &frmMain::showTools);
    connect(this, &frmMain::dataViewerRequested, this, &frmMain::showDataViewer);
}

// ---- Start-up --------------------------------------------------------------

void frmMain::Form_Load()
{
    m_state.Version = QStringLiteral(LOCATOR_VERSION_TEXT);
    setWindowTitle(QStringLiteral("Korvex Locator PC Toolkit (V") + m_state.Version + ')');

    adjustSize();
    CenterWindow(this);
    qApp->installEventFilter(this);  // the hidden shortcuts work whatever control has the focus

    m_state.DocumentsFolder = GetDocumentsFolder();
    m_state.AppDataFolder = GetAppDataFolder();
    m_sync.loadSyncOnConnect();
    enableAll(false, m_ui->cmdOpenFile, m_ui->lblOpenFile, m_ui->cmdAnalyse, m_ui->cmdStop);
    loadStartState();

    m_ui->ProgressBar1->setMaximum(int(ReceiveHandler::kProgressMax));
    m_ui->tabstrip->setCurrentIndex(kTabConnect);
    const QDate today = Clock::today();
    for (QDateEdit *picker : {m_ui->dtpStart, m_ui->dtpEnd}) {
        picker->setDisplayFormat(QStringLiteral("dd/MM/yy"));
        picker->setDate(today);
    }
    m_ui->tabstrip->setTabEnabled(kTabTransfer, false);
    m_ui->tabstrip->setTabEnabled(kTabSetup, false);
    hideAdvancedControls();

    MainWindowParts::setTextColor(m_ui->lblStatus, kDarkGrey);
    MainWindowParts::setTextColor(m_ui->lblEndError, kRed);
    MainWindowParts::setTextColor(m_ui->lblFirmwareVersion, kGrey);
    m_parts.setLamp(kRed);

    m_connect.loadChooser();
    SetConnectedState(false);
}

// The folders, the flags and the data file's comment block as a run starts.
void frmMain::loadStartState()
{
    m_state.TransferFileReady = false;
    m_state.AbortAcknowledged = false;
    m_state.DataFolder = m_state.DocumentsFolder + QStringLiteral("/korvex/data/");
    m_state.ImagesFolder = m_state.DocumentsFolder + QStringLiteral("/korvex/images/");
    m_state.PortListPath = m_state.AppDataFolder + QStringLiteral("/korvex/ports.ini");
    m_transfer.receiver().setDataFolder(m_state.DataFolder);
    m_state.LocatorFound = false;
    m_state.TransferActive = false;
    m_state.TransferCharCount = 0;

    m_state.ColumnsLine = QString::fromLatin1(DataFileFormat::ColumnsLine);
    m_state.ColumnLegends = DataFileFormat::ColumnLegends();
    m_state.DataFileCommentBlock = DataFileFormat::BuildCommentBlock(m_state.ColumnsLine, m_state.ColumnLegends);
    m_transfer.receiver().setCommentBlock(m_state.DataFileCommentBlock);
}

void frmMain::hideAdvancedControls()
{
    enableAll(false, m_ui->cmdDownloadAll, m_ui->cmdStop, m_ui->cmdManagePorts);
    showAll(false, m_ui->cmdDownloadAll, m_ui->cmdStop, m_ui->cmdManagePorts, m_ui->Line1, m_ui->Line3, m_ui->Label1);
}

// ---- Connected and not connected -------------------------------------------

// A transfer cannot outlive its port (Scan, a chooser pick, Disconnect or
// opening a file close it): what arrived stays on disk, closed.
void frmMain::SetConnectedState(bool state)
{
    m_state.Connected = state;
    if (!state)
        m_sync.endForClosingLink();
    QString keptFile;
    const bool cutShort = !state && m_transfer.endForClosingLink(&keptFile);
    if (!state && m_connect.anyPortOpen()) {
        m_connect.closePorts();
        showLinkClosed();
    }
    setConnectionControlsEnabled(state);
    m_parts.forgetCurrentDataFile();
    if (cutShort)
        m_transfer.endOfCutShortTransfer(keptFile);
    m_sync.armOnConnect(state);
}

// The link shown as down: no identity, no live text, a dark red lamp, and
// the tabs that talk to the locator out of reach.
void frmMain::showLinkClosed()
{
    m_parts.showIdentity({});
    m_transfer.dropProgress();
    m_ui->lblMonitor->clear();
    m_parts.setStatus(QString());
    m_transfer.watchdog().stop();
    m_parts.setLamp(kDarkRed);
    m_ui->tabstrip->setTabEnabled(kTabTransfer, false);
    m_ui->tabstrip->setTabEnabled(kTabSetup, false);
}

void frmMain::setConnectionControlsEnabled(bool on)
{
    m_parts.offerTransferByDate(on);
    enableAll(on, m_ui->cmdDownloadAll, m_ui->cmdSetDate, m_ui->cmdSetTime, m_ui->cmdSetUser, m_ui->cmdDisconnect,
              m_ui->txtUser);
}

// The service tools window takes the locator's port over: the main window's
// link ends here, as any closed link does, and a transfer in progress keeps
// what has arrived. The controls keep their state; the tabs that need the
// link are out of reach until it is made again.
void frmMain::handLinkToTools()
{
    const bool wasOpen = m_working.isOpen();
    QString keptFile;
    if (m_transfer.endForClosingLink(&keptFile))
        m_transfer.endOfCutShortTransfer(keptFile);
    m_sync.endForClosingLink();  // what arrived is imported once the sync has let go
    m_connect.closeWorkingPort();
    // The tools window names its log from the identity boxes, so they are
    // emptied only once it is open.
    emit toolsWindowRequested();
    if (wasOpen)
        showLinkClosed();
}

void frmMain::output_string1(const QByteArray &text, PacedWriter::Done sent)
{
    m_writer.send(m_working, text, Pacing::OutputPauseMs(), std::move(sent));
}

void frmMain::output_string2(const QByteArray &text, PacedWriter::Done sent)
{
    m_writer.send(m_probe, text, Pacing::OutputPauseMs(), std::move(sent));
}

void frmMain::output_string3(const QByteArray &text, PacedWriter::Done sent)
{
    m_writer.send(m_working, text, Pacing::ShortPauseMs(), std::move(sent));
}

// ---- Window controls -------------------------------------------------------

void frmMain::chkAdvanced_Click()
{
    const bool on = m_ui->chkAdvanced->isChecked();
    enableAll(on, m_ui->cmdManagePorts, m_ui->cmdDownloadAll, m_ui->cmdStop);
    showAll(on, m_ui->cmdManagePorts, m_ui->cmdDownloadAll, m_ui->cmdStop, m_ui->Line1, m_ui->Line3, m_ui->Label1);
}

void frmMain::cmdStop_Click()
{
    if (m_sync.isActive())
        m_sync.stop();
    else
        m_transfer.stop();
}

void frmMain::chkSyncOnConnect_Click()
{
    m_sync.rememberSyncOnConnect(m_ui->chkSyncOnConnect->isChecked());
}

void frmMain::dtpEnd_Change()
{
    if (m_ui->dtpEnd->date() < m_ui->dtpStart->date()) {
        m_ui->dtpEnd->setDate(m_ui->dtpStart->date());
        m_ui->lblEndError->setText(
            QStringLiteral("End date can not be before start date. End date set to start date."));
    } else {
        m_ui->lblEndError->clear();
    }
}

void frmMain::Form_KeyDown(int keyCode)
{
    const bool counted = keyCode == 16 || keyCode == 17 || keyCode == 65 || keyCode == 84;
    if (counted)
        m_keySum += keyCode;
    // Only the key that brings the sum to 117 opens the tools: later letters
    // leave the sum there and must not close the port again.
    if (counted && m_keySum == 117) {
        handLinkToTools();
    } else if (m_keySum == 82) {
        emit aboutWindowRequested();
        m_keySum = 0;
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
    m_connect.shutDown();
    frmTools::closeOpenFiles();
    Interaction::current().endProgram(0);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Closing by the frame must not leave a data file half-written either.
    m_connect.shutDown();
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
    m_parts.setStatus(QStringLiteral("Setting Date"));
    output_string3(Protocol::SetDateCommand(Clock::today()),
                   [this](bool) { m_parts.setStatus(QStringLiteral("Date set")); });
}

void frmMain::cmdSetTime_Click()
{
    const QTime time = Clock::now().time();
    m_parts.setStatus(QStringLiteral("Setting time"));
    output_string3(Protocol::SetTimeCommand(time), [this](bool) { m_parts.setStatus(QStringLiteral("Time set")); });
}

void frmMain::cmdSetUser_Click()
{
    m_state.Identity.user = Protocol::PadRight(m_ui->txtUser->text(), 32);
    m_parts.setStatus(QStringLiteral("Setting User"));
    output_string3(Protocol::SetUserCommand(m_state.Identity.user),
                   [this](bool) { m_parts.setStatus(QStringLiteral("User Set")); });
}

void frmMain::txtUser_Change()
{
    static const QString refused = QStringLiteral("*/\\?:.");
    QLineEdit *box = m_ui->txtUser;
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
    m_ui->lblUserChars->setText(MainWindowParts::userCharsCaption(int(box->text().size())));
}

// ---- Opening data files ----------------------------------------------------

void frmMain::cmdOpenExistingFile_Click()
{
    m_parts.setStatus(QStringLiteral("Choose a file..."));
    const QString chosen = Interaction::current().openFileName(this, QString(), m_state.DataFolder,
                                                               QStringLiteral("Locator Data Files (*.csv)"));
    if (chosen.isEmpty()) {
        m_parts.setStatus(QString());
        return;
    }
    SetConnectedState(false);
    // A transfer still waiting for its data has lost its port: keep its file as it is.
    m_transfer.abandonTransfer();
    m_ui->ProgressBar1->setValue(0);
    showOpenedFile(chosen);
    if (FileLocked(ProcessDataFile(), m_state.currentDataFilePath()))
        ProcessDataFile().close();
    emit dataViewerRequested();
}

// The chosen file becomes the current data file, its identity shown.
void frmMain::showOpenedFile(const QString &chosen)
{
    const QFileInfo info(chosen);
    m_state.CurrentDataFile = info.fileName();
    // A file outside the data folder is read where the user found it.
    const bool inDataFolder = QDir(info.absolutePath()) == QDir(m_state.DataFolder);
    m_state.CurrentDataFileOutside = inDataFolder ? QString() : info.absoluteFilePath();

    m_ui->cmdAnalyse->setEnabled(true);
    m_parts.offerOpenCurrent(true);
    m_parts.setStatus(QStringLiteral("File '") + m_state.CurrentDataFile + QStringLiteral("' successfully opened"));
    ReadLogFileHeader();
    m_parts.showIdentity(m_state.Identity);
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

bool frmMain::haveCurrentDataFile()
{
    if (!m_state.CurrentDataFile.isEmpty())
        return true;
    Interaction::current().message(this,
                                   QStringLiteral("There is no current data file. Please transfer data from "
                                                  "the locator or open an existing log file first."));
    return false;
}

// ---- Other windows ---------------------------------------------------------

void frmMain::showAbout()
{
    if (!m_about) {
        m_about = new frmAbout(m_state, this);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    BringForward(m_about);
}

QWidget *frmMain::aboutWindow() const
{
    return m_about;
}

void frmMain::showTools()
{
    if (m_tools) {
        BringForward(m_tools);
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
        BringForward(m_analyse);
        return;
    }
    AnalysisHooks hooks;
    hooks.refreshIdentity = [this] { refreshIdentity(); };
    hooks.setStatus = [this](const QString &text) { m_parts.setStatus(text); };
    m_analyse = new frmPieByMonthMode2(m_state, hooks, this);
    m_analyse->show();
}

void frmMain::cmdFleet_Click()
{
    frmFleet::showFor(this);
}

void frmMain::showDataViewer()
{
    // An open viewer keeps the records it loaded; it is only brought forward.
    if (m_viewer) {
        BringForward(m_viewer);
        return;
    }
    m_viewer = new frmViewData(m_state, this);
    m_viewer->show();
}

QWidget *frmMain::dataViewer() const
{
    return m_viewer;
}
