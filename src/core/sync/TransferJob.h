#pragma once

#include "core/datafile/LocatorIdentity.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <memory>

class SerialPort;

namespace Sync {

class TransferRun;

// One transfer from an identified locator, on its open working port, into a
// new data file named and written as the window's transfer writes it (the
// comment block, then every byte the locator sends). It runs from the
// caller's event loop and prints nothing: a front end shows its signals.
class TransferJob : public QObject
{
    Q_OBJECT
public:
    enum class Range { All, ByDate };
    enum class Outcome {
        Running,
        Complete,  // the end marker arrived
        Aborted,  // the locator acknowledged an abort (asked for by stop(), or its own)
        PoweredDown,
        PortLost,
        Silent,  // the watchdog ran out
        GaveUp,  // stop() twice: not waiting for the locator any more
        FileError,  // the data file could not be written
    };

    struct Request
    {
        QString folder;  // where the data file goes
        Range range = Range::All;
        QDate from, to;  // ByDate: both days included
        int idleSeconds = 60;  // the silence that ends the transfer
    };

    // `port` only names the port in texts.
    TransferJob(SerialPort &working, int port, const LocatorIdentity &identity, QObject *parent = nullptr);
    ~TransferJob() override;

    // True once the transfer command is on its way; finished() then follows
    // once, from the event loop, however the transfer ends. False, with
    // *error saying why, when the data file cannot be created.
    [[nodiscard]] bool start(const Request &request, QString *error);
    // First call: the window's Stop (the abort exchange). Again: gives up
    // waiting for the locator at once.
    void stop();
    bool stopRequested() const;

    // After finished(): the file is closed; an empty one is removed.
    Outcome outcome() const;
    QString dataFile() const;  // the file's path, kept or not
    QString keptFile() const;  // the file, or empty when nothing arrived and it was removed
    // Why the transfer did not end complete, one line naming the port and
    // what was kept; empty when it did.
    QString failure() const;

signals:
    // Bytes of transfer text received so far, and the value the window's
    // progress bar shows (0 to ReceiveHandler::kProgressMax).
    void progress(qint64 received, qint64 barValue);
    void stopping();  // Stop was asked for: "Stopping the download, please wait."
    void warning(const QString &text);  // a comms error event of the port
    void finished();

private:
    friend class TransferRun;
    std::unique_ptr<TransferRun> m_run;
};

}  // namespace Sync
