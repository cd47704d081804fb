#include "core/link/TransferSession.h"

#include "core/datafile/DataFileHandle.h"
#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/link/SerialPort.h"

TransferSession::TransferSession(SerialPort &port, TransferState &state, DataFileHandle &file, PacedWriter &writer,
                                 View &view, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_state(state)
    , m_file(file)
    , m_writer(writer)
    , m_view(view)
    , m_receive(state, file, *this)
{
    m_abortTimer.setInterval(kAbortRetryMs);
    m_watchdog.setInterval(kWatchdogMs);
    connect(&m_abortTimer, &QTimer::timeout, this, &TransferSession::abortRetryTick);
    connect(&m_watchdog, &QTimer::timeout, this, &TransferSession::watchdogExpired);
    connect(&m_port, &SerialPort::deviceLost, this, &TransferSession::onDeviceLost);
}

void TransferSession::onComm()
{
    m_port.setDTREnable(false);
    const int event = m_port.CommEvent();
    switch (event) {
    case SerialPort::EvReceive:
        m_receive.handlePiece(m_port.input());
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
        m_view.onCommsError(event);
        restartWatchdog();
        break;
    }
    releaseDtr();
}

void TransferSession::holdDtr(quint64 command)
{
    m_dtrHolds.push_back(command);
}

// Derived from the writer like isSendingTransferCommand(): a command that was
// cancelled holds nothing.
void TransferSession::releaseDtr()
{
    std::erase_if(m_dtrHolds, [this](quint64 command) { return !m_writer.isPending(command); });
    if (m_dtrHolds.empty())
        m_port.setDTREnable(true);
}

void TransferSession::restartWatchdog()
{
    // A link that is gone has nothing to watch: a watchdog restarted over a
    // closed port would only report the same loss again and again.
    if (!m_port.isOpen()) {
        m_watchdog.stop();
        return;
    }
    m_watchdog.stop();
    m_watchdog.start();
}

bool TransferSession::startTransfer(const QString &name, const QByteArray &command, int pauseMs, QString *error,
                                    std::function<void(bool ok)> sent)
{
    if (error)
        error->clear();
    if (isSendingTransferCommand())
        return false;
    m_port.setDTREnable(false);
    m_abortTimer.stop();  // a retry left from an earlier Stop must not abort this transfer
    m_receive.prepareTransfer();
    if (!m_receive.openDataFile(name, error)) {
        releaseDtr();
        return false;
    }
    m_command = m_writer.send(m_port, command, pauseMs, [this, sent](bool ok) {
        releaseDtr();
        if (sent)
            sent(ok);
    });
    holdDtr(m_command);
    return true;
}

// Derived from the writer, so that whoever cancels the port's commands (a
// lost link, the port closed for the service window) leaves none pending.
bool TransferSession::isSendingTransferCommand() const
{
    return m_writer.isPending(m_command);
}

void TransferSession::stop()
{
    m_port.setDTREnable(false);
    m_view.onStopping();
    if (!m_state.AbortAcknowledged) {
        m_abortTimer.stop();
        m_abortTimer.start();
        holdDtr(m_writer.send(m_port, Protocol::Abort, Pacing::ShortPauseMs(), [this](bool) { releaseDtr(); }));
        return;
    }
    m_abortTimer.stop();
    m_view.onStopFoundAcknowledged();
    releaseDtr();
}

void TransferSession::abortRetryTick()
{
    // Retry only while there is a transfer to stop; otherwise "A" would be
    // re-sent forever.
    const bool transferOpen = m_state.TransferActive || m_file.isWriting();
    if (m_state.AbortAcknowledged || !transferOpen) {
        m_abortTimer.stop();
        return;
    }
    stop();
}

void TransferSession::watchdogExpired()
{
    linkLost(LinkLoss::Silence);
}

void TransferSession::onDeviceLost()
{
    // A device that vanished is a lost link; no need to wait for the watchdog.
    linkLost(LinkLoss::DeviceGone);
}

void TransferSession::linkLost(LinkLoss why)
{
    m_watchdog.stop();
    const QString kept = abandonTransfer();
    m_view.onLinkLost(kept, why);
}

QString TransferSession::abandonTransfer()
{
    m_abortTimer.stop();
    m_writer.cancel(m_port);
    return m_receive.abandonTransfer();
}

void TransferSession::onPowerDown(const QString &keptFile)
{
    m_abortTimer.stop();
    m_view.onPowerDown(keptFile);
}

void TransferSession::onTransferEnd(bool aborted)
{
    m_abortTimer.stop();
    m_watchdog.setInterval(kWatchdogAfterTransferMs);
    m_view.onTransferEnd(aborted);
}

void TransferSession::onDataFileError(const QString &path, const QString &reason)
{
    m_abortTimer.stop();
    // The locator is still sending a transfer nobody can keep: ask it once
    // to stop, before the front end tells the user.
    if (m_port.isOpen())
        m_writer.send(m_port, Protocol::Abort, Pacing::ShortPauseMs());
    m_view.onDataFileError(path, reason);
}
