// The link at work: every event of the working port, the receive logic's
// effects on the window, transfers, Stop and the link watchdog.
#include "frmMain.h"
#include "ui_frmMain.h"

#include "DataFileFormat.h"
#include "DataFileHandle.h"
#include "Folders.h"
#include "Interaction.h"
#include "Pacing.h"
#include "Protocol.h"
#include "frmMainLook.h"

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

constexpr int kWatchdogAfterTransferMs = 25000;
} // namespace

// ---- Receiving -------------------------------------------------------------

void frmMain::MSComm1_OnComm()
{
    MSComm1.setDTREnable(false);
    const int event = MSComm1.CommEvent();
    switch (event) {
    case SerialPort::EvReceive:
        m_receive.handlePiece(MSComm1.input());
        break;
    case SerialPort::EvSend:
    case SerialPort::EvCTS:
    case SerialPort::EvDSR:
    case SerialPort::EvCD:
        // Waiting input is left for the receive event that follows: reading
        // it here would throw transfer text away.
        restartWatchdog();
        break;
    case SerialPort::EvEOF:
        break;
    default:
        Interaction::current().message(this, QStringLiteral("Comms error: ") + QString::number(event));
        restartWatchdog();
        break;
    }
    MSComm1.setDTREnable(true);
}

void frmMain::restartWatchdog()
{
    tmrCommsWatchdog.stop();
    tmrCommsWatchdog.start();
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
    DoEvents();
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
    if (fileReady) {
        ui->cmdOpenFile->setEnabled(true);
        ui->lblOpenFile->setEnabled(true);
    }
    applyTransferProgress();  // anything held back comes before the live line
    ui->lblMonitor->setText(monitorText(QByteArrayLiteral("Live: ") + piece));
    DoEvents();
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

void frmMain::setTransferControlsIdle()
{
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
    tmrAbort.stop();
    applyTransferProgress();
    if (aborted) {
        setStatus(QStringLiteral("File download aborted. Incomplete data written to file"));
        DoEvents();
    } else {
        setStatus(QStringLiteral("File download complete"));
        DoEvents();
    }
    setTransferControlsIdle();
    ui->ProgressBar1->setValue(ui->ProgressBar1->maximum());
    tmrCommsWatchdog.setInterval(kWatchdogAfterTransferMs);
    restartWatchdog();
}

void frmMain::onTransferText(const QByteArray &shown)
{
    const QString text = monitorText(shown);
    showTransferProgress(&text, nullptr);
    DoEvents();
}

void frmMain::onDataFileError(const QString &path, const QString &reason)
{
    tmrAbort.stop();
    // The locator is still sending a transfer nobody can keep: ask it once
    // to stop, before the message holds the window.
    if (MSComm1.isOpen())
        output_string3(Protocol::Abort);
    // The transfer cannot go on without its file; leave the window usable.
    ui->tabstrip->setTabEnabled(kTabConnect, true);
    ui->tabstrip->setTabEnabled(kTabAnalyse, true);
    ui->cmdDownloadByDate->setEnabled(m_state.Connected);
    ui->cmdDownloadAll->setEnabled(m_state.Connected);
    setStatus(QStringLiteral("The data file could not be written."), kRed);
    Interaction::current().message(this, QStringLiteral("The data file could not be written:\n%1\n%2")
                                             .arg(QDir::toNativeSeparators(path), reason));
}

QString frmMain::newDataFileName()
{
    return MakeLogFileName(QStringLiteral("DA")) + QStringLiteral(".csv");
}

// A transfer ended without its end marker: what arrived is kept and is the
// current file, and the window goes back to a state the user can work from.
void frmMain::endOfCutShortTransfer(const QString &keptFile)
{
    tmrAbort.stop();
    ui->tabstrip->setTabEnabled(kTabConnect, true);
    ui->tabstrip->setTabEnabled(kTabAnalyse, true);
    if (!keptFile.isEmpty()) {
        m_state.CurrentDataFile = keptFile;
        ui->cmdOpenFile->setEnabled(true);
        ui->lblOpenFile->setEnabled(true);
    }
}

void frmMain::linkLost()
{
    // A device that vanished is a lost link; no need to wait for the watchdog.
    tmrCommsWatchdog_Timer();
}

// ---- Transfers -------------------------------------------------------------

bool frmMain::startTransferFile(const QString &kind)
{
    tmrAbort.stop();  // a retry left from an earlier Stop must not abort this transfer
    m_receive.prepareTransfer();
    ui->ProgressBar1->setValue(0);
    const QString name = MakeLogFileName(kind) + QStringLiteral(".csv");
    QString error;
    if (m_receive.openDataFile(name, &error))
        return true;
    const QString path = m_receive.fullPath(name);
    setStatus(QStringLiteral("The data file could not be created."), kRed);
    Interaction::current().message(this, QStringLiteral("The data file could not be created:\n%1\n%2")
                                             .arg(QDir::toNativeSeparators(path), error));
    return false;
}

void frmMain::cmdDownloadAll_Click()
{
    MSComm1.setDTREnable(false);
    ui->ProgressBar1->setValue(0);
    m_state.TransferCharCount = 0;
    ui->cmdOpenFile->setEnabled(false);
    ui->lblOpenFile->setEnabled(false);
    ui->cmdStop->setEnabled(true);
    if (startTransferFile(QStringLiteral("DA"))) {
        setStatus(QStringLiteral("Downloading data from the locator, please wait."));
        DoEvents();
        output_string1(Protocol::TransferAll);
    }
    MSComm1.setDTREnable(true);
}

void frmMain::cmdDownloadByDate_Click()
{
    MSComm1.setDTREnable(false);
    ui->ProgressBar1->setValue(0);
    m_state.TransferCharCount = 0;
    ui->cmdOpenFile->setEnabled(false);
    ui->lblOpenFile->setEnabled(false);
    ui->cmdStop->setEnabled(false);
    m_state.RangeStart = DataFileFormat::RangeDateText(ui->dtpStart->date());
    m_state.RangeEnd = DataFileFormat::RangeDateText(ui->dtpEnd->date());
    if (startTransferFile(QStringLiteral("DD"))) {
        setStatus(QStringLiteral("Downloading data from the locator, please wait."));
        DoEvents();
        output_string3(Protocol::TransferByDateCommand(m_state.RangeStart, m_state.RangeEnd));
    }
    MSComm1.setDTREnable(true);
}

void frmMain::cmdStop_Click()
{
    MSComm1.setDTREnable(false);
    setStatus(QStringLiteral("Stopping the download, please wait."));
    DoEvents();
    if (!m_state.AbortAcknowledged) {
        tmrAbort.stop();
        tmrAbort.start();
        output_string3(Protocol::Abort);
    } else {
        tmrAbort.stop();
        setStatus(QStringLiteral("Download aborted successfully..."));
        DoEvents();
    }
    MSComm1.setDTREnable(true);
}

void frmMain::tmrAbort_Timer()
{
    // Retry only while there is a transfer to stop; otherwise "A" would be
    // re-sent forever.
    const bool transferOpen = m_state.TransferActive || ProcessDataFile().isWriting();
    if (m_state.AbortAcknowledged || !transferOpen) {
        tmrAbort.stop();
        return;
    }
    cmdStop_Click();
}

void frmMain::tmrCommsWatchdog_Timer()
{
    const QString kept = m_receive.abandonTransfer();
    SetConnectedState(false);
    endOfCutShortTransfer(kept);
    setStatus(QStringLiteral("Link lost with Locator. Please re-link before proceeding"));
    DoEvents();
}
