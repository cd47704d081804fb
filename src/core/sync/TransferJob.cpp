#include "core/sync/TransferJob.h"

#include "core/clock/Clock.h"
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/link/SerialPort.h"
#include "core/link/TransferSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace Sync {

using Outcome = TransferJob::Outcome;

// The transfer session with a view that only records how the transfer ends;
// the session does the work, as it does for the window.
class TransferRun : public TransferSession::View
{
public:
    TransferRun(TransferJob &job, SerialPort &working, int port, const LocatorIdentity &identity)
        : m_job(job)
        , m_working(working)
        , m_port(port)
        , m_identity(identity)
        , m_session(working, m_state, m_file, m_writer, *this)
    {
        m_session.receiver().setCommentBlock(DataFileFormat::DefaultCommentBlock());
        QObject::connect(&m_working, &SerialPort::OnComm, &m_writer, [this] { m_session.onComm(); });
        // Done once the outcome is known and the last command (an abort
        // after a failed write, say) has gone out.
        QObject::connect(&m_writer, &PacedWriter::idle, &m_writer, [this] { endWhenDone(); });
    }
    ~TransferRun() override
    {
        // Nothing more goes out for a job that is gone; the file is closed.
        m_writer.cancel();
        m_session.abortTimer().stop();
        m_session.watchdog().stop();
        if (m_started && !m_ended)
            m_session.abandonTransfer();
    }

    bool start(const TransferJob::Request &request, QString *error);
    void stop();
    bool stopRequested() const { return m_stopRequested; }
    Outcome outcome() const { return m_outcome; }
    const QString &path() const { return m_path; }
    QString failure() const;

private:
    // TransferSession::View
    void onPowerDown(const QString &) override { finish(Outcome::PoweredDown); }
    void onLinkAlive(bool) override { }
    void onTransferStart() override { }
    void onLiveLine(const QByteArray &, bool) override { }
    void onProgress(qint64 value) override { m_bar = value; }
    void onTransferEnd(bool aborted) override { finish(aborted ? Outcome::Aborted : Outcome::Complete); }
    void onTransferText(const QByteArray &shown) override
    {
        m_received += shown.size();
        emit m_job.progress(m_received, m_bar);
    }
    void onDataFileError(const QString &path, const QString &reason) override
    {
        m_fileError = QStringLiteral("cannot write the data file %1: %2").arg(QDir::toNativeSeparators(path), reason);
        finish(Outcome::FileError);
    }
    QString newDataFileName() override { return fileName(QStringLiteral("DA")); }
    void onCommsError(int event) override
    {
        emit m_job.warning(QStringLiteral("comms error %1 on %2").arg(event).arg(portName()));
    }
    void onLinkLost(const QString &, TransferSession::LinkLoss why) override
    {
        finish(why == TransferSession::LinkLoss::Silence ? Outcome::Silent : Outcome::PortLost);
    }
    void onStopping() override { emit m_job.stopping(); }

    QString portName() const { return QStringLiteral("port %1").arg(m_port); }
    QString fileName(const QString &kind) const;
    void finish(Outcome outcome)
    {
        if (m_outcome == Outcome::Running)
            m_outcome = outcome;
        m_session.watchdog().stop();
        endWhenDone();
    }
    void endWhenDone()
    {
        if (!m_started || m_ended || m_endQueued || m_outcome == Outcome::Running
            || (m_writer.isBusy() && m_outcome != Outcome::GaveUp))
            return;
        m_endQueued = true;
        // From the event loop: the caller may delete the job in its slot.
        QTimer::singleShot(0, &m_writer, [this] { end(); });
    }
    void end();

    TransferJob &m_job;
    SerialPort &m_working;
    int m_port;
    LocatorIdentity m_identity;
    TransferState m_state;
    DataFileHandle m_file;
    PacedWriter m_writer;
    TransferSession m_session;
    QString m_path;
    int m_idleSeconds = TransferSession::kWatchdogMs / 1000;
    Outcome m_outcome = Outcome::Running;
    bool m_started = false;
    bool m_endQueued = false;
    bool m_ended = false;
    bool m_stopRequested = false;
    qint64 m_received = 0;
    qint64 m_bar = 0;
    QString m_fileError;
};

QString TransferRun::fileName(const QString &kind) const
{
    DataFileFormat::NameParts parts;
    parts.rangeStart = m_state.RangeStart;
    parts.rangeEnd = m_state.RangeEnd;
    return DataFileFormat::MakeLogFileName(kind, m_identity, Clock::now(), parts) + QStringLiteral(".csv");
}

void TransferRun::stop()
{
    if (!m_started || m_outcome != Outcome::Running)
        return;
    if (m_stopRequested) {
        m_writer.cancel();
        finish(Outcome::GaveUp);
        return;
    }
    m_stopRequested = true;
    // The window's Stop; an "A" asked for while the transfer command is still
    // going out follows its last character, never slips in between.
    m_session.stop();
}

bool TransferRun::start(const TransferJob::Request &request, QString *error)
{
    m_idleSeconds = request.idleSeconds;
    m_session.receiver().setDataFolder(request.folder);
    QByteArray command = Protocol::TransferAll;
    QString kind = QStringLiteral("DA");
    int pause = Pacing::OutputPauseMs();
    if (request.range == TransferJob::Range::ByDate) {
        m_state.RangeStart = DataFileFormat::RangeDateText(request.from);
        m_state.RangeEnd = DataFileFormat::RangeDateText(request.to);
        command = Protocol::TransferByDateCommand(m_state.RangeStart, m_state.RangeEnd);
        kind = QStringLiteral("DD");
        pause = Pacing::ShortPauseMs();  // as the window sends the range
    }
    const QString name = fileName(kind);
    m_path = m_session.receiver().fullPath(name);
    QString why;
    // The watchdog runs from the start: a locator that never answers is silence too.
    m_session.watchdog().setInterval(request.idleSeconds * 1000);
    if (!m_session.startTransfer(name, command, pause, &why, [this](bool sent) {
            if (!sent || !m_working.isOpen())
                finish(Outcome::PortLost);
        })) {
        *error = QStringLiteral("cannot create the data file %1: %2").arg(QDir::toNativeSeparators(m_path), why);
        return false;
    }
    m_session.restartWatchdog();
    m_started = true;
    endWhenDone();
    return true;
}

void TransferRun::end()
{
    // Whatever ended the transfer, what arrived is kept and the file closed.
    m_session.abortTimer().stop();
    m_session.watchdog().stop();
    m_session.abandonTransfer();
    m_ended = true;
    if (QFileInfo(m_path).size() == 0 && m_outcome != Outcome::Complete) {
        // Not a byte arrived: an empty file would only pass for a transfer.
        QFile::remove(m_path);
    }
    emit m_job.finished();
}

QString TransferRun::failure() const
{
    const QString shown = QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath());
    const QString keptText = QFileInfo::exists(m_path) ? QStringLiteral("; what arrived is in ") + shown
                                                       : QStringLiteral("; no data arrived, no file kept");
    switch (m_outcome) {
    case Outcome::Running:
    case Outcome::Complete:
        return {};
    case Outcome::Aborted:
        return (m_stopRequested ? QStringLiteral("stopped on request")
                                : QStringLiteral("the locator aborted the transfer"))
            + QStringLiteral("; incomplete data written to ") + shown;
    case Outcome::PoweredDown:
        return QStringLiteral("the locator on %1 powered down during the transfer").arg(portName()) + keptText;
    case Outcome::PortLost:
        return QStringLiteral("%1 was lost during the transfer").arg(portName()) + keptText;
    case Outcome::Silent:
        return QStringLiteral("the locator on %1 was silent for %2 seconds").arg(portName()).arg(m_idleSeconds)
            + keptText;
    case Outcome::GaveUp:
        return QStringLiteral("stopped without waiting for the locator") + keptText;
    case Outcome::FileError:
        return m_fileError + keptText;
    }
    return {};
}

TransferJob::TransferJob(SerialPort &working, int port, const LocatorIdentity &identity, QObject *parent)
    : QObject(parent)
    , m_run(std::make_unique<TransferRun>(*this, working, port, identity))
{ }

TransferJob::~TransferJob() = default;

bool TransferJob::start(const Request &request, QString *error)
{
    return m_run->start(request, error);
}

void TransferJob::stop()
{
    m_run->stop();
}

bool TransferJob::stopRequested() const
{
    return m_run->stopRequested();
}

TransferJob::Outcome TransferJob::outcome() const
{
    return m_run->outcome();
}

QString TransferJob::dataFile() const
{
    return m_run->path();
}

QString TransferJob::keptFile() const
{
    return QFileInfo::exists(m_run->path()) ? m_run->path() : QString();
}

QString TransferJob::failure() const
{
    return m_run->failure();
}

}  // namespace Sync
