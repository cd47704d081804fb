#pragma once

#include "core/link/TransferSession.h"
#include "gui/main/MainWindowParts.h"

#include <QObject>
#include <QTimer>

#include <functional>

// The link at work as the main window shows it: the transfer session (in
// the link core) runs the working port's events, the transfers, Stop with
// its abort retry and the watchdog; this shows their effects on the form
// and names the data files.
class TransferController : public QObject, private TransferSession::View
{
    Q_OBJECT
public:
    explicit TransferController(const MainWindowParts &parts);

    ReceiveHandler &receiver() { return m_session.receiver(); }
    QTimer &abortTimer() { return m_session.abortTimer(); }
    QTimer &watchdog() { return m_session.watchdog(); }

    // A piece, a line change or an error on the working port.
    void onComm()
    {
        if (!m_portLent)
            m_session.onComm();
    }
    void transferAll();
    void transferByDate();
    void stop();
    void abortRetryTick() { m_session.abortRetryTick(); }
    void watchdogExpired() { m_session.watchdogExpired(); }

    // A data file, troubleshooting log or chart image name from the identity boxes.
    QString logFileName(const QString &kind) const;

    // The link is closing: a running transfer ends and keeps what arrived.
    // True when one was running; *keptFile is its file (or empty).
    bool endForClosingLink(QString *keptFile);
    // Ends a transfer (or one still waiting for its reply) without asking
    // whether one runs.
    QString abandonTransfer() { return m_session.abandonTransfer(); }
    // A transfer ended without its end marker: what arrived is kept and is
    // the current file, and the window goes back to a state the user can
    // work from.
    void endOfCutShortTransfer(const QString &keptFile);
    // Transfer text and progress held back for the next picture are dropped.
    void dropProgress();
    // A transfer is asked for or arriving, or its command is going out.
    bool isBusy() const;
    // `hook` runs once, at the next piece the locator sends (empty: nothing does).
    void callOnFirstData(std::function<void()> hook) { m_firstData = std::move(hook); }

    // The sync core has the working port: the session hears none of its
    // events, and its watchdog and abort retry rest (a retry tick would
    // abort the core's transfer). Given back, it starts afresh.
    void lendPort(bool lent);
    bool portLent() const { return m_portLent; }
    // A transfer of the sync core, shown as the window's own: the same bar,
    // the same controls out of reach, Stop offered as by "Transfer All".
    void showSyncStart();
    void showSyncProgress(qint64 barValue) { showProgress(nullptr, &barValue); }
    // Its file (a path in the data folder; empty: none kept) becomes the
    // current data file; a link still open is watched again.
    void showSyncEnd(const QString &keptFile, bool complete);

private:
    // TransferSession::View
    void onPowerDown(const QString &keptFile) override;
    void onLinkAlive(bool transferActive) override;
    void onTransferStart() override;
    void onLiveLine(const QByteArray &piece, bool fileReady) override;
    void onProgress(qint64 value) override { showProgress(nullptr, &value); }
    void onTransferEnd(bool aborted) override;
    void onTransferText(const QByteArray &shown) override;
    void onDataFileError(const QString &path, const QString &reason) override;
    QString newDataFileName() override;
    void onCommsError(int event) override;
    void onLinkLost(const QString &keptFile, TransferSession::LinkLoss why) override;
    void onStopping() override;
    void onStopFoundAcknowledged() override;

    void restartWatchdog() { m_session.restartWatchdog(); }

    bool commandMayStart(bool offerStop);
    void start(const QString &kind, const QByteArray &command, int pauseMs);
    void showProgress(const QString *monitor, const qint64 *progress);
    void applyProgress();
    void retireStop();
    void setControlsIdle();
    void reopenTabs();

    const MainWindowParts &m_parts;
    TransferSession m_session;
    // Transfer text and progress reach the screen at most every so often.
    QTimer m_progressRefresh;
    QString m_pendingMonitor;
    qint64 m_pendingProgress = -1;
    bool m_monitorPending = false;
    std::function<void()> m_firstData;
    bool m_portLent = false;
};
