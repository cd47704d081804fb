// The link at work as the window shows it: the transfer session (in the
// link core) runs the working port, the transfers, Stop and the watchdog;
// these are its effects on the window and the buttons that drive it.
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/main/frmMainLook.h"

#include <QDir>

using namespace frmMainLook;

namespace {
// The monitor line has room for a few lines of text. A transfer piece can be
// 30000 characters, and laying all of them out for every piece costs more
// than receiving them; what the box can show is the start of the piece.
constexpr qsizetype kMonitorChars = 240;

QString monitorText(const QByteArray &piece)
{
    return QString::fromLatin1(piece.left(kMonitorChars));
}
}  // namespace

// ---- Receiving -------------------------------------------------------------

void frmMain::MSComm1_OnComm()
{
    m_session.onComm();
}

void frmMain::onCommsError(int event)
{
    Interaction::current().message(this, QStringLiteral("Comms error: ") + QString::number(event));
}

void frmMain::restartWatchdog()
{
    m_session.restartWatchdog();
}

void frmMain::onPowerDown(const QString &keptFile)
{
    ui->cmdAnalyse->setEnabled(true);
    ui->cmdOpenFile->setEnabled(true);
    ui->lblOpenFile->setEnabled(true);
    restartWatchdog();
    SetConnectedState(false);
    ui->cmdAnalyse->setEnabled(false);
    endOfCutShortTransfer(keptFile);
    setStatus(QStringLiteral("The Locator has powered down. Any downloads may not have completed."), kRed);
}

void frmMain::onLinkAlive(bool transferActive)
{
    // Runs for every received piece; the tab bar redraws on every call, so
    // only changes are passed on.
    ui->shpMode->setFillColor(kGreen);
    if (!ui->tabstrip->isTabEnabled(kTabTransfer))
        ui->tabstrip->setTabEnabled(kTabTransfer, true);
    if (!transferActive && !ui->tabstrip->isTabEnabled(kTabSetup))
        ui->tabstrip->setTabEnabled(kTabSetup, true);
}

void frmMain::onTransferStart()
{
    // A button that disables itself hands focus to the next control, an
    // identity box, where one stray key would rename the next file: send it
    // where nothing can be typed.
    const QWidget *focus = focusWidget();
    if (focus == ui->cmdDownloadByDate || focus == ui->cmdDownloadAll || focus == ui->cmdOpenFile) {
        if (ui->cmdStop->isEnabled() && ui->cmdStop->isVisibleTo(this))
            ui->cmdStop->setFocus();
        else
            ui->tabstrip->setFocus();
    }
    ui->tabstrip->setTabEnabled(kTabConnect, false);
    ui->tabstrip->setTabEnabled(kTabAnalyse, false);
    ui->tabstrip->setTabEnabled(kTabSetup, false);
    ui->cmdOpenFile->setEnabled(false);
    ui->lblOpenFile->setEnabled(false);
    ui->cmdDownloadAll->setEnabled(false);
    ui->cmdDownloadByDate->setEnabled(false);
}

void frmMain::onLiveLine(const QByteArray &piece, bool fileReady)
{
    if (fileReady && !m_state.CurrentDataFile.isEmpty()) {
        ui->cmdOpenFile->setEnabled(true);
        ui->lblOpenFile->setEnabled(true);
    }
    applyTransferProgress();  // anything held back comes before the live line
    ui->lblMonitor->setText(monitorText(QByteArrayLiteral("Live: ") + piece));
}

void frmMain::onProgress(qint64 value)
{
    showTransferProgress(nullptr, &value);
}

void frmMain::showTransferProgress(const QString *monitor, const qint64 *progress)
{
    if (monitor) {
        m_pendingMonitor = *monitor;
        m_monitorPending = true;
    }
    if (progress)
        m_pendingProgress = *progress;
    if (!m_progressRefresh.isActive()) {
        applyTransferProgress();  // the first change shows at once
        m_progressRefresh.start();
    }
}

void frmMain::applyTransferProgress()
{
    if (m_monitorPending)
        ui->lblMonitor->setText(m_pendingMonitor);
    if (m_pendingProgress >= 0)
        ui->ProgressBar1->setValue(int(m_pendingProgress));
    m_monitorPending = false;
    m_pendingProgress = -1;
}

void frmMain::dropTransferProgress()
{
    m_progressRefresh.stop();
    m_monitorPending = false;
    m_pendingProgress = -1;
}

// Stop means nothing once no transfer runs. The focus it may hold goes
// where a later Enter presses nothing and a stray key types nothing (a
// disabled button would hand it on to the next control, a text box).
void frmMain::retireStop()
{
    if (focusWidget() == ui->cmdStop)
        ui->tabstrip->setFocus();
    ui->cmdStop->setEnabled(false);
}

void frmMain::setTransferControlsIdle()
{
    retireStop();
    ui->cmdAnalyse->setEnabled(true);
    ui->cmdOpenFile->setEnabled(true);
    ui->lblOpenFile->setEnabled(true);
    ui->tabstrip->setTabEnabled(kTabConnect, true);
    ui->tabstrip->setTabEnabled(kTabAnalyse, true);
    ui->tabstrip->setTabEnabled(kTabSetup, true);
    ui->cmdDownloadByDate->setEnabled(true);
    ui->cmdDownloadAll->setEnabled(true);
}

void frmMain::onTransferEnd(bool aborted)
{
    applyTransferProgress();
    if (aborted)
        setStatus(QStringLiteral("File download aborted. Incomplete data written to file"));
    else
        setStatus(QStringLiteral("File download complete"));
    setTransferControlsIdle();
    ui->ProgressBar1->setValue(ui->ProgressBar1->maximum());
    restartWatchdog();  // the session has shortened its interval
}

void frmMain::onTransferText(const QByteArray &shown)
{
    const QString text = monitorText(shown);
    showTransferProgress(&text, nullptr);
}

void frmMain::onDataFileError(const QString &path, const QString &reason)
{
    // The session has asked the locator to stop sending.
    // The transfer cannot go on without its file; leave the window usable.
    ui->tabstrip->setTabEnabled(kTabConnect, true);
    ui->tabstrip->setTabEnabled(kTabAnalyse, true);
    ui->cmdDownloadByDate->setEnabled(m_state.Connected);
    ui->cmdDownloadAll->setEnabled(m_state.Connected);
    retireStop();
    setStatus(QStringLiteral("The data file could not be written."));
    Interaction::current().message(
        this,
        QStringLiteral("The data file could not be written:\n%1\n%2").arg(QDir::toNativeSeparators(path), reason));
}

QString frmMain::newDataFileName()
{
    return MakeLogFileName(QStringLiteral("DA")) + QStringLiteral(".csv");
}

// A transfer ended without its end marker: what arrived is kept and is the
// current file, and the window goes back to a state the user can work from.
void frmMain::endOfCutShortTransfer(const QString &keptFile)
{
    retireStop();
    ui->tabstrip->setTabEnabled(kTabConnect, true);
    ui->tabstrip->setTabEnabled(kTabAnalyse, true);
    if (!keptFile.isEmpty()) {
        m_state.CurrentDataFile = keptFile;
        ui->cmdOpenFile->setEnabled(true);
        ui->lblOpenFile->setEnabled(true);
    }
}

void frmMain::onLinkLost(const QString &keptFile, TransferSession::LinkLoss)
{
    SetConnectedState(false);
    endOfCutShortTransfer(keptFile);
    setStatus(QStringLiteral("Link lost with Locator. Please re-link before proceeding"));
}

void frmMain::onStopping()
{
    setStatus(QStringLiteral("Stopping the download, please wait."));
}

void frmMain::onStopFoundAcknowledged()
{
    setStatus(QStringLiteral("Download aborted successfully..."));
}

// ---- Transfers -------------------------------------------------------------

// Names and creates the data file and sends the command. A second transfer
// command while the first is still going out is refused: its characters
// would mix with the first's on the wire, and it would take the file away.
bool frmMain::transferCommandMayStart(bool offerStop)
{
    if (m_session.isSendingTransferCommand())
        return false;
    ui->ProgressBar1->setValue(0);
    m_state.TransferCharCount = 0;
    ui->cmdOpenFile->setEnabled(false);
    ui->lblOpenFile->setEnabled(false);
    ui->cmdStop->setEnabled(offerStop);
    return true;
}

void frmMain::startTransfer(const QString &kind, const QByteArray &command, int pauseMs)
{
    const QString name = MakeLogFileName(kind) + QStringLiteral(".csv");
    QString error;
    if (m_session.startTransfer(name, command, pauseMs, &error)) {
        setStatus(QStringLiteral("Downloading data from the locator, please wait."));
        return;
    }
    if (error.isEmpty())
        return;
    const QString path = m_session.receiver().fullPath(name);
    // Nothing was started, and the name now current names no file.
    retireStop();
    forgetCurrentDataFile();
    setStatus(QStringLiteral("The data file could not be created."));
    Interaction::current().message(
        this, QStringLiteral("The data file could not be created:\n%1\n%2").arg(QDir::toNativeSeparators(path), error));
}

void frmMain::cmdDownloadAll_Click()
{
    if (!transferCommandMayStart(true))
        return;
    startTransfer(QStringLiteral("DA"), Protocol::TransferAll, Pacing::outputPauseMs());
}

void frmMain::cmdDownloadByDate_Click()
{
    if (!transferCommandMayStart(false))  // a by-date transfer offers no Stop
        return;
    m_state.RangeStart = DataFileFormat::RangeDateText(ui->dtpStart->date());
    m_state.RangeEnd = DataFileFormat::RangeDateText(ui->dtpEnd->date());
    startTransfer(QStringLiteral("DD"), Protocol::TransferByDateCommand(m_state.RangeStart, m_state.RangeEnd),
                  Pacing::shortPauseMs());
}

void frmMain::cmdStop_Click()
{
    // With no transfer requested or running there is nothing to abort, and
    // "Stopping the download" would stand on the status line for good.
    if (!m_state.TransferActive && !ProcessDataFile().isWriting()) {
        setStatus(QStringLiteral("There is no download to stop."));
        return;
    }
    m_session.stop();
}

void frmMain::tmrAbort_Timer()
{
    m_session.abortRetryTick();
}

void frmMain::tmrCommsWatchdog_Timer()
{
    m_session.watchdogExpired();
}
