#include "gui/main/TransferController.h"
#include "ui_frmMain.h"

#include "core/clock/Clock.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/link/SerialPort.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

using namespace frmMainLook;

namespace {
// Drawing the monitor and the progress bar for every piece costs more than
// receiving it; ten pictures a second show the same thing.
constexpr int kProgressRefreshMs = 100;

// The monitor line has room for a few lines of text. A transfer piece can be
// 30000 characters, and laying all of them out for every piece costs more
// than receiving them; what the box can show is the start of the piece.
constexpr qsizetype kMonitorChars = 240;

QString monitorText(const QByteArray &piece)
{
    return QString::fromLatin1(piece.left(kMonitorChars));
}

// A transfer was asked for or is being received.
bool transferUnderWay(const AppState &state)
{
    return state.TransferActive || ProcessDataFile().isWriting();
}
}  // namespace

TransferController::TransferController(const MainWindowParts &parts)
    : m_parts(parts)
    , m_session(parts.working, parts.state, ProcessDataFile(), parts.writer, *this)
{
    m_progressRefresh.setSingleShot(true);
    m_progressRefresh.setInterval(kProgressRefreshMs);
    connect(&m_progressRefresh, &QTimer::timeout, this, &TransferController::applyProgress);
}

QString TransferController::logFileName(const QString &kind) const
{
    m_parts.refreshIdentity();
    DataFileFormat::NameParts parts;
    parts.rangeStart = m_parts.state.RangeStart;
    parts.rangeEnd = m_parts.state.RangeEnd;
    return DataFileFormat::MakeLogFileName(kind, m_parts.state.Identity, Clock::now(), parts);
}

QString TransferController::newDataFileName()
{
    return logFileName(QStringLiteral("DA")) + QStringLiteral(".csv");
}

// ---- Transfer commands -------------------------------------------------------

// A second transfer command while the first is still going out is refused:
// its characters would mix with the first's on the wire, and it would take
// the file away.
bool TransferController::commandMayStart(bool offerStop)
{
    if (m_session.isSendingTransferCommand())
        return false;
    m_parts.ui.ProgressBar1->setValue(0);
    m_parts.state.TransferCharCount = 0;
    m_parts.offerOpenCurrent(false);
    m_parts.ui.cmdStop->setEnabled(offerStop);
    return true;
}

// Names and creates the data file and sends the command.
void TransferController::start(const QString &kind, const QByteArray &command, int pauseMs)
{
    const QString name = logFileName(kind) + QStringLiteral(".csv");
    QString error;
    if (m_session.startTransfer(name, command, pauseMs, &error)) {
        m_parts.setStatus(QStringLiteral("Downloading data from the locator, please wait."));
        return;
    }
    if (error.isEmpty())
        return;
    const QString path = m_session.receiver().fullPath(name);
    // Nothing was started, and the name now current names no file.
    retireStop();
    m_parts.forgetCurrentDataFile();
    m_parts.setStatus(QStringLiteral("The data file could not be created."));
    Interaction::current().message(
        &m_parts.window,
        QStringLiteral("The data file could not be created:\n%1\n%2").arg(QDir::toNativeSeparators(path), error));
}

void TransferController::transferAll()
{
    if (commandMayStart(true))
        start(QStringLiteral("DA"), Protocol::TransferAll, Pacing::OutputPauseMs());
}

void TransferController::transferByDate()
{
    if (!commandMayStart(false))  // a by-date transfer offers no Stop
        return;
    AppState &state = m_parts.state;
    state.RangeStart = DataFileFormat::RangeDateText(m_parts.ui.dtpStart->date());
    state.RangeEnd = DataFileFormat::RangeDateText(m_parts.ui.dtpEnd->date());
    start(QStringLiteral("DD"), Protocol::TransferByDateCommand(state.RangeStart, state.RangeEnd),
          Pacing::ShortPauseMs());
}

bool TransferController::isBusy() const
{
    return m_session.isSendingTransferCommand() || transferUnderWay(m_parts.state);
}

void TransferController::stop()
{
    // With no transfer requested or running there is nothing to abort, and
    // "Stopping the download" would stand on the status line for good.
    if (!transferUnderWay(m_parts.state)) {
        m_parts.setStatus(QStringLiteral("There is no download to stop."));
        return;
    }
    m_session.stop();
}

// ---- Ending a transfer -------------------------------------------------------

bool TransferController::endForClosingLink(QString *keptFile)
{
    if (!m_parts.working.isOpen() || !transferUnderWay(m_parts.state))
        return false;
    *keptFile = m_session.abandonTransfer();
    return true;
}

void TransferController::endOfCutShortTransfer(const QString &keptFile)
{
    retireStop();
    reopenTabs();
    if (!keptFile.isEmpty()) {
        m_parts.state.CurrentDataFile = keptFile;
        m_parts.offerOpenCurrent(true);
    }
}

// Stop means nothing once no transfer runs. The focus it may hold goes
// where a later Enter presses nothing and a stray key types nothing (a
// disabled button would hand it on to the next control, a text box).
void TransferController::retireStop()
{
    if (m_parts.window.focusWidget() == m_parts.ui.cmdStop)
        m_parts.ui.tabstrip->setFocus();
    m_parts.ui.cmdStop->setEnabled(false);
}

void TransferController::reopenTabs()
{
    m_parts.ui.tabstrip->setTabEnabled(kTabConnect, true);
    m_parts.ui.tabstrip->setTabEnabled(kTabAnalyse, true);
}

void TransferController::setControlsIdle()
{
    Ui::frmMain &ui = m_parts.ui;
    retireStop();
    ui.cmdAnalyse->setEnabled(true);
    m_parts.offerOpenCurrent(true);
    reopenTabs();
    ui.tabstrip->setTabEnabled(kTabSetup, true);
    m_parts.offerTransferByDate(true);
    ui.cmdDownloadAll->setEnabled(true);
}

// ---- What the session reports ------------------------------------------------

void TransferController::onCommsError(int event)
{
    Interaction::current().message(&m_parts.window, QStringLiteral("Comms error: ") + QString::number(event));
}

void TransferController::onPowerDown(const QString &keptFile)
{
    m_parts.ui.cmdAnalyse->setEnabled(true);
    m_parts.offerOpenCurrent(true);
    restartWatchdog();
    m_parts.setConnectedState(false);
    m_parts.ui.cmdAnalyse->setEnabled(false);
    endOfCutShortTransfer(keptFile);
    m_parts.setStatus(QStringLiteral("The Locator has powered down. Any downloads may not have completed."), kRed);
}

void TransferController::onLinkAlive(bool transferActive)
{
    // Runs for every received piece; the tab bar redraws on every call, so
    // only changes are passed on.
    QTabWidget *tabs = m_parts.ui.tabstrip;
    if (m_firstData)
        std::exchange(m_firstData, nullptr)();
    m_parts.setLamp(kGreen);
    if (!tabs->isTabEnabled(kTabTransfer))
        tabs->setTabEnabled(kTabTransfer, true);
    if (!transferActive && !tabs->isTabEnabled(kTabSetup))
        tabs->setTabEnabled(kTabSetup, true);
}

void TransferController::onTransferStart()
{
    Ui::frmMain &ui = m_parts.ui;
    // A button that disables itself hands focus to the next control, an
    // identity box, where one stray key would rename the next file: send it
    // where nothing can be typed.
    const QWidget *focus = m_parts.window.focusWidget();
    if (focus == ui.cmdDownloadByDate || focus == ui.cmdDownloadAll || focus == ui.cmdSync || focus == ui.cmdOpenFile) {
        if (ui.cmdStop->isEnabled() && ui.cmdStop->isVisibleTo(&m_parts.window))
            ui.cmdStop->setFocus();
        else
            ui.tabstrip->setFocus();
    }
    for (int tab : {kTabConnect, kTabAnalyse, kTabSetup})
        ui.tabstrip->setTabEnabled(tab, false);
    m_parts.offerOpenCurrent(false);
    ui.cmdDownloadAll->setEnabled(false);
    m_parts.offerTransferByDate(false);
}

void TransferController::lendPort(bool lent)
{
    m_portLent = lent;
    if (lent) {
        m_session.watchdog().stop();
        m_session.abortTimer().stop();
    } else {
        // Nothing heard before the sync belongs with what comes now.
        m_session.receiver().forgetPieces();
    }
}

void TransferController::showSyncStart()
{
    m_parts.ui.ProgressBar1->setValue(0);
    m_parts.ui.cmdStop->setEnabled(true);
    onTransferStart();
}

void TransferController::showSyncEnd(const QString &keptFile, bool complete)
{
    Ui::frmMain &ui = m_parts.ui;
    AppState &state = m_parts.state;
    applyProgress();
    retireStop();
    reopenTabs();
    // A link lost on the way has switched the window to not connected already.
    if (m_parts.working.isOpen()) {
        ui.tabstrip->setTabEnabled(kTabSetup, true);
        m_parts.offerTransferByDate(state.Connected);
        ui.cmdDownloadAll->setEnabled(state.Connected);
        restartWatchdog();
    }
    if (!keptFile.isEmpty()) {
        state.CurrentDataFile = QFileInfo(keptFile).fileName();
        state.CurrentDataFileOutside.clear();
        ui.cmdAnalyse->setEnabled(true);
    }
    m_parts.offerOpenCurrent(!state.CurrentDataFile.isEmpty());
    if (complete)
        ui.ProgressBar1->setValue(ui.ProgressBar1->maximum());
}

void TransferController::onLiveLine(const QByteArray &piece, bool fileReady)
{
    if (fileReady && !m_parts.state.CurrentDataFile.isEmpty())
        m_parts.offerOpenCurrent(true);
    applyProgress();  // anything held back comes before the live line
    m_parts.ui.lblMonitor->setText(monitorText(QByteArrayLiteral("Live: ") + piece));
}

void TransferController::onTransferText(const QByteArray &shown)
{
    const QString text = monitorText(shown);
    showProgress(&text, nullptr);
}

void TransferController::showProgress(const QString *monitor, const qint64 *progress)
{
    if (monitor) {
        m_pendingMonitor = *monitor;
        m_monitorPending = true;
    }
    if (progress)
        m_pendingProgress = *progress;
    if (!m_progressRefresh.isActive()) {
        applyProgress();  // the first change shows at once
        m_progressRefresh.start();
    }
}

void TransferController::applyProgress()
{
    if (m_monitorPending)
        m_parts.ui.lblMonitor->setText(m_pendingMonitor);
    if (m_pendingProgress >= 0)
        m_parts.ui.ProgressBar1->setValue(int(m_pendingProgress));
    m_monitorPending = false;
    m_pendingProgress = -1;
}

void TransferController::dropProgress()
{
    m_progressRefresh.stop();
    m_monitorPending = false;
    m_pendingProgress = -1;
}

void TransferController::onTransferEnd(bool aborted)
{
    applyProgress();
    if (aborted)
        m_parts.setStatus(QStringLiteral("File download aborted. Incomplete data written to file"));
    else
        m_parts.setStatus(QStringLiteral("File download complete"));
    setControlsIdle();
    m_parts.ui.ProgressBar1->setValue(m_parts.ui.ProgressBar1->maximum());
    restartWatchdog();  // the session has shortened its interval
}

void TransferController::onDataFileError(const QString &path, const QString &reason)
{
    // The session has asked the locator to stop sending. The transfer
    // cannot go on without its file; leave the window usable.
    reopenTabs();
    m_parts.offerTransferByDate(m_parts.state.Connected);
    m_parts.ui.cmdDownloadAll->setEnabled(m_parts.state.Connected);
    retireStop();
    m_parts.setStatus(QStringLiteral("The data file could not be written."));
    Interaction::current().message(
        &m_parts.window,
        QStringLiteral("The data file could not be written:\n%1\n%2").arg(QDir::toNativeSeparators(path), reason));
}

void TransferController::onLinkLost(const QString &keptFile, TransferSession::LinkLoss)
{
    if (m_portLent)
        return;  // the sync's own session reports it, and the sync ends with it
    m_parts.setConnectedState(false);
    endOfCutShortTransfer(keptFile);
    m_parts.setStatus(QStringLiteral("Link lost with Locator. Please re-link before proceeding"));
}

void TransferController::onStopping()
{
    m_parts.setStatus(QStringLiteral("Stopping the download, please wait."));
}

void TransferController::onStopFoundAcknowledged()
{
    m_parts.setStatus(QStringLiteral("Download aborted successfully..."));
}
