#pragma once

#include "core/archive/Archive.h"
#include "core/archive/ArchiveLocation.h"
#include "core/datafile/LocatorIdentity.h"
#include "core/sync/SyncPlan.h"
#include "core/sync/TransferJob.h"

#include <QByteArray>
#include <QDateTime>
#include <QFutureWatcher>
#include <QList>
#include <QMetaObject>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class PacedWriter;
class SerialPort;

namespace Sync {

struct Options
{
    Archive::Location archive;  // opened for this sync and closed after it
    QString folder;  // where the data file goes
    int idleSeconds = 60;  // the silence that ends the transfer
    int clockReplyMs = 2000;  // how long the locator gets to answer "#AE"
};

// How one sync ended.
struct Result
{
    // The transfer ended complete and its file was imported.
    bool ok = false;
    // Why not, one line; empty when ok.
    QString failure;
    bool stopped = false;  // stop() was asked for
    LocatorIdentity identity;
    int port = 0;

    std::optional<QDateTime> locatorClock;  // as it answered "#AE"; none: no answer
    ArchiveMark mark;  // the archive before the sync
    Plan plan;  // the range asked for (and the notes that chose it)
    bool transferStarted = false;
    TransferJob::Outcome transfer = TransferJob::Outcome::Running;

    QString file;  // the data file kept; empty: none
    bool imported = false;
    bool alreadyImported = false;  // the same bytes were imported before: all duplicates
    Archive::ImportCounts counts;
    QList<Note> notes;  // the plan's notes, then the transfer's
};

// One sync of an identified locator on its open working port: it reads the
// locator's clock ("#AE"), asks the archive for the locator's last archived
// second, chooses the range, transfers into a new data file through the
// transfer session and imports that file, also when the transfer ended
// part-way, so file and archive agree. It runs from the caller's event loop,
// prints nothing and reports through its signals; the caller owns the port
// and must not read it while the sync runs. The import runs on a worker
// thread with its own connection: a big file never holds up the caller's
// events (a window, the other ports of a watch).
class SyncJob : public QObject
{
    Q_OBJECT
public:
    explicit SyncJob(QObject *parent = nullptr);
    ~SyncJob() override;

    // False when a sync is running already. Otherwise finished() follows
    // once, from the event loop, however the sync ends.
    bool start(SerialPort &working, int port, const LocatorIdentity &identity, const Options &options);
    // First call: the transfer stops with the abort exchange and what arrived
    // is imported (before the transfer: the sync ends at once). Again: gives
    // up waiting for the locator.
    void stop();
    bool isRunning() const { return m_running; }

signals:
    // Status line texts: "Reading the locator's clock", "Downloading data
    // from the locator, please wait.", "Stopping the download, please wait.",
    // "Importing into the archive".
    void message(const QString &text);
    // During the transfer: bytes received, and the window's progress bar value.
    void progress(qint64 received, qint64 barValue);
    void finished(const Sync::Result &result);

private:
    void onClockInput();
    void clockRead(bool timedOut);
    void startTransfer();
    void onTransferFinished();
    void onImported();
    void end(const QString &failure = {});

    bool m_running = false;
    SerialPort *m_working = nullptr;
    Options m_options;
    Result m_result;
    std::unique_ptr<PacedWriter> m_writer;
    QTimer m_clockTimer;
    QByteArray m_clockReply;
    QMetaObject::Connection m_clockInput;
    std::unique_ptr<Archive::Store> m_store;
    std::unique_ptr<TransferJob> m_transfer;
    QString m_transferFailure;
    QFutureWatcher<Archive::ImportResult> m_import;
};

// The locator's clock from an "#AE" reply found in `text`; none while the
// reply is incomplete or not a real date and time.
std::optional<QDateTime> ReadLocatorClock(const QByteArray &text);

}  // namespace Sync

// For queued connections (a window may take finished() from another object's thread of events).
Q_DECLARE_METATYPE(Sync::Result)
