#pragma once

#include "core/link/ReceiveHandler.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class DataFileHandle;
class PacedWriter;
class SerialPort;

// The working port at work, for every front end: its event switch (DTR
// lowered and raised around each event and each transfer command), the
// receive handler, transfers, Stop with its abort retry, and the link
// watchdog. What a front end shows goes through View; the session itself
// never waits: commands go out through the paced writer.
class TransferSession : public QObject, private ReceiveView
{
    Q_OBJECT
public:
    static constexpr int kAbortRetryMs = 3000;
    static constexpr int kWatchdogMs = 60000;
    static constexpr int kWatchdogAfterTransferMs = 25000;

    enum class LinkLoss { Silence, DeviceGone };

    // The receive handler's effects (the session keeps the watchdog itself),
    // and what only a session has to tell.
    class View : public ReceiveEffects
    {
    public:
        // A line or error event of the port (6, 1001...).
        virtual void onCommsError(int event) = 0;
        // The watchdog ran out or the device vanished. Any transfer has been
        // ended and keptFile (if not empty) holds what arrived; the
        // watchdog is stopped.
        virtual void onLinkLost(const QString &keptFile, LinkLoss why) = 0;
        // Stop was asked for: before anything is sent.
        virtual void onStopping() { }
        // Stop found the abort already acknowledged: nothing is sent.
        virtual void onStopFoundAcknowledged() { }
    };

    TransferSession(SerialPort &port, TransferState &state, DataFileHandle &file, PacedWriter &writer, View &view,
                    QObject *parent = nullptr);

    ReceiveHandler &receiver() { return m_receive; }
    QTimer &abortTimer() { return m_abortTimer; }
    QTimer &watchdog() { return m_watchdog; }

    // One event of the working port (connect it to SerialPort::OnComm).
    void onComm();

    // Lowers DTR, opens a new data file `name` and sends `command` paced by
    // `pauseMs`; DTR is raised and `sent` called once the last character's
    // pause is over. False (nothing sent, DTR raised) when the file cannot
    // be created; *error says why. Refused (false, empty error) while an
    // earlier transfer command is still going out.
    bool startTransfer(const QString &name, const QByteArray &command, int pauseMs, QString *error,
                       std::function<void(bool ok)> sent = {});
    bool isSendingTransferCommand() const;

    // "Stop": asks the locator to abort unless it has acknowledged already;
    // the retry timer asks again until it does.
    void stop();
    void abortRetryTick();
    // The watchdog ran out.
    void watchdogExpired();
    void restartWatchdog() override;

    // The link is being closed by the front end: any transfer ends, what
    // arrived is kept (returns the kept file or empty); nothing more of the
    // session goes out on the port.
    QString abandonTransfer();

private:
    // ReceiveView, passed on to the front end.
    void onPowerDown(const QString &keptFile) override;
    void onLinkAlive(bool transferActive) override { m_view.onLinkAlive(transferActive); }
    void onTransferStart() override { m_view.onTransferStart(); }
    void onLiveLine(const QByteArray &piece, bool fileReady) override { m_view.onLiveLine(piece, fileReady); }
    void onProgress(qint64 value) override { m_view.onProgress(value); }
    void onTransferEnd(bool aborted) override;
    void onTransferText(const QByteArray &shown) override { m_view.onTransferText(shown); }
    void onDataFileError(const QString &path, const QString &reason) override;
    QString newDataFileName() override { return m_view.newDataFileName(); }

    void onDeviceLost();
    void linkLost(LinkLoss why);
    // DTR is low while an event is handled and while any transfer or stop
    // command is queued or going out; it goes high when the last is done.
    void holdDtr(quint64 command);
    void releaseDtr();

    SerialPort &m_port;
    TransferState &m_state;
    DataFileHandle &m_file;
    PacedWriter &m_writer;
    View &m_view;
    ReceiveHandler m_receive;
    QTimer m_abortTimer;
    QTimer m_watchdog;
    quint64 m_command = 0;  // the transfer command on the paced writer, if still pending
    std::vector<quint64> m_dtrHolds;  // commands that keep DTR low until they are done
};
