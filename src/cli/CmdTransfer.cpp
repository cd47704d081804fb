// locator-cli transfer: the window's Transfer All and Transfer by Date, from a
// script. The data file is named, headed and written by the same core as the
// window's, so the two give the same file for the same locator log.
#include "cli/CommandLine.h"
#include "cli/LinkSupport.h"
#include "cli/TransferJob.h"

#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/SerialPort.h"
#include "core/link/TransferSession.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <utility>

namespace Cli {

namespace {

const char kHelp[] = "Usage: locator-cli transfer --port N (--all | --from DD/MM/YY --to DD/MM/YY)\n"
                     "                            [--out DIR] [--idle-timeout S] [--pace-ms MS]\n"
                     "\n"
                     "Identifies the locator on port N, transfers its records (all of them, or\n"
                     "those of the date range, both ends included) into a new data file named\n"
                     "and written as the window's transfer writes it, and prints the file's path.\n"
                     "On a terminal a progress line shows on standard error.\n"
                     "\n"
                     "Ctrl+C stops the transfer with the abort exchange; what arrived stays in\n"
                     "the file. A second Ctrl+C stops waiting for the locator at once.\n"
                     "\n"
                     "Options:\n"
                     "  --port N          the COM port number (1 to 256)\n"
                     "  --all             every record the locator holds\n"
                     "  --from DD/MM/YY   first day of the range (year 20YY)\n"
                     "  --to DD/MM/YY     last day of the range, not before the first\n"
                     "  --out DIR         the folder for the data file (default: the data\n"
                     "                    folder, <Documents>/korvex/data)\n"
                     "  --idle-timeout S  give up when the locator is silent this long\n"
                     "                    (default 60 seconds, as the window's watchdog)\n"
                     "  --pace-ms MS      the pause after each command character (default 10)\n"
                     "\n"
                     "Exit status 1 when the transfer did not end complete (stopped, powered\n"
                     "down, port lost, silence, file not writable); the path of a partial file\n"
                     "is still printed.\n";

enum class Outcome { Running, Complete, Aborted, PoweredDown, PortLost, Silent, GaveUp, FileError };

}  // namespace

// The transfer session as a terminal shows it: a progress line for a
// person, nothing for a script. The session does the work, as it does for
// the window.
class TransferRun : public TransferSession::View
{
public:
    TransferRun(Context &ctx, SerialPort &working, int port, const LocatorIdentity &identity)
        : m_ctx(ctx)
        , m_working(working)
        , m_port(port)
        , m_identity(identity)
        , m_session(working, m_state, m_file, m_writer, *this)
    {
        m_session.receiver().setCommentBlock(DataFileFormat::DefaultCommentBlock());
        m_connections = {
            QObject::connect(&m_working, &SerialPort::OnComm, [this] { m_session.onComm(); }),
            QObject::connect(&Interrupts::instance(), &Interrupts::requested, [this] { onInterrupt(); }),
            // The loop ends once the outcome is known and the last command
            // (an abort after a failed write, say) has gone out.
            QObject::connect(&m_writer, &PacedWriter::idle, [this] { quitWhenDone(); }),
        };
    }
    ~TransferRun() override
    {
        // These capture this object and their senders outlive it.
        for (const QMetaObject::Connection &c : m_connections)
            QObject::disconnect(c);
    }

    // True once under way (`finished` follows from the event loop).
    bool start(const QString &folder, const QString &kind, const QDate &from, const QDate &to, int idleSeconds,
               std::function<void()> finished);
    int report(bool printPath);
    const QString &path() const { return m_path; }

private:
    // TransferSession::View
    void onPowerDown(const QString &) override { finish(Outcome::PoweredDown); }
    void onLinkAlive(bool) override { }
    void onTransferStart() override { }
    void onLiveLine(const QByteArray &, bool) override { }
    void onProgress(qint64) override { }
    void onTransferEnd(bool aborted) override { finish(aborted ? Outcome::Aborted : Outcome::Complete); }
    void onTransferText(const QByteArray &shown) override
    {
        m_received += shown.size();
        const LocatorIdentity id = Printable(m_identity);
        m_ctx.progress(QStringLiteral("Receiving from %1 %2: %3 bytes").arg(id.model, id.serialNo).arg(m_received));
    }
    void onDataFileError(const QString &path, const QString &reason) override
    {
        m_fileError = QStringLiteral("cannot write the data file %1: %2").arg(Native(path), reason);
        finish(Outcome::FileError);
    }
    QString newDataFileName() override { return fileName(QStringLiteral("DA")); }
    void onCommsError(int event) override
    {
        m_ctx.warn(QStringLiteral("comms error %1 on %2").arg(event).arg(PortName(m_port)));
    }
    void onLinkLost(const QString &, TransferSession::LinkLoss why) override
    {
        finish(why == TransferSession::LinkLoss::Silence ? Outcome::Silent : Outcome::PortLost);
    }
    void onStopping() override { m_ctx.progress(QStringLiteral("Stopping the download, please wait."), true); }

    QString fileName(const QString &kind) const;
    void onInterrupt();
    void finish(Outcome outcome)
    {
        if (m_outcome == Outcome::Running)
            m_outcome = outcome;
        m_session.watchdog().stop();
        quitWhenDone();
    }
    void quitWhenDone()
    {
        if (m_outcome == Outcome::Running || (m_writer.isBusy() && m_outcome != Outcome::GaveUp) || !m_finished)
            return;
        // From the event loop: the caller may end this run in its callback.
        QTimer::singleShot(0, &m_writer, std::exchange(m_finished, {}));
    }

    Context &m_ctx;
    SerialPort &m_working;
    int m_port;
    LocatorIdentity m_identity;
    TransferState m_state;
    DataFileHandle m_file;
    PacedWriter m_writer;
    TransferSession m_session;
    std::function<void()> m_finished;
    QString m_path;
    int m_idleSeconds = TransferSession::kWatchdogMs / 1000;
    Outcome m_outcome = Outcome::Running;
    bool m_stopRequested = false;
    qint64 m_received = 0;
    QString m_fileError;
    QList<QMetaObject::Connection> m_connections;
};

QString TransferRun::fileName(const QString &kind) const
{
    DataFileFormat::NameParts parts;
    parts.rangeStart = m_state.RangeStart;
    parts.rangeEnd = m_state.RangeEnd;
    return DataFileFormat::MakeLogFileName(kind, m_identity, QDateTime::currentDateTime(), parts)
        + QStringLiteral(".csv");
}

void TransferRun::onInterrupt()
{
    if (m_outcome != Outcome::Running)
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

bool TransferRun::start(const QString &folder, const QString &kind, const QDate &from, const QDate &to, int idleSeconds,
                        std::function<void()> finished)
{
    m_idleSeconds = idleSeconds;
    m_session.receiver().setDataFolder(folder);
    QByteArray command = Protocol::TransferAll;
    int pause = Pacing::outputPauseMs();
    if (kind == QLatin1String("DD")) {
        m_state.RangeStart = DataFileFormat::RangeDateText(from);
        m_state.RangeEnd = DataFileFormat::RangeDateText(to);
        command = Protocol::TransferByDateCommand(m_state.RangeStart, m_state.RangeEnd);
        pause = Pacing::shortPauseMs();  // as the window sends the range
    }
    const QString name = fileName(kind);
    m_path = m_session.receiver().fullPath(name);
    QString error;
    // The watchdog runs from the start: a locator that never answers is silence too.
    m_session.watchdog().setInterval(idleSeconds * 1000);
    if (!m_session.startTransfer(name, command, pause, &error, [this](bool sent) {
            if (!sent || !m_working.isOpen())
                finish(Outcome::PortLost);
        })) {
        m_ctx.fail(QStringLiteral("cannot create the data file %1: %2").arg(Native(m_path), error));
        return false;
    }
    m_session.restartWatchdog();
    m_finished = std::move(finished);
    quitWhenDone();
    return true;
}

int TransferRun::report(bool printPath)
{
    const QString &path = m_path;
    const int idleSeconds = m_idleSeconds;
    // Whatever ended the transfer, what arrived is kept and the file closed.
    m_session.abortTimer().stop();
    m_session.abandonTransfer();
    m_ctx.endProgress();
    const QString shown = Native(QFileInfo(path).absoluteFilePath());
    const bool kept = QFileInfo(path).size() > 0;
    if (!kept && m_outcome != Outcome::Complete) {
        // Not a byte arrived: an empty file would only pass for a transfer.
        QFile::remove(path);
    } else if (printPath) {
        m_ctx.print(shown + QLatin1Char('\n'));
    }
    const QString keptText
        = kept ? QStringLiteral("; what arrived is in ") + shown : QStringLiteral("; no data arrived, no file kept");
    switch (m_outcome) {
    case Outcome::Running:
    case Outcome::Complete:
        return Success;
    case Outcome::Aborted:
        return m_ctx.fail((m_stopRequested ? QStringLiteral("stopped on request")
                                           : QStringLiteral("the locator aborted the transfer"))
                          + QStringLiteral("; incomplete data written to ") + shown);
    case Outcome::PoweredDown:
        return m_ctx.fail(QStringLiteral("the locator on %1 powered down during the transfer").arg(PortName(m_port))
                          + keptText);
    case Outcome::PortLost:
        return m_ctx.fail(QStringLiteral("%1 was lost during the transfer").arg(PortName(m_port)) + keptText);
    case Outcome::Silent:
        return m_ctx.fail(
            QStringLiteral("the locator on %1 was silent for %2 seconds").arg(PortName(m_port)).arg(idleSeconds)
            + keptText);
    case Outcome::GaveUp:
        return m_ctx.fail(QStringLiteral("stopped without waiting for the locator") + keptText);
    case Outcome::FileError:
        return m_ctx.fail(m_fileError + keptText);
    }
    return Failure;
}

TransferJob::TransferJob(Context &ctx, SerialPort &working, int port, const LocatorIdentity &identity)
    : m_run(std::make_unique<TransferRun>(ctx, working, port, identity))
{ }

TransferJob::~TransferJob() = default;

bool TransferJob::start(const QString &folder, Range range, const QDate &from, const QDate &to, int idleSeconds,
                        std::function<void()> finished)
{
    return m_run->start(folder, range == Range::ByDate ? QStringLiteral("DD") : QStringLiteral("DA"), from, to,
                        idleSeconds, std::move(finished));
}

int TransferJob::report(bool printPath)
{
    return m_run->report(printPath);
}

QString TransferJob::keptFile() const
{
    return QFileInfo::exists(m_run->path()) ? m_run->path() : QString();
}

// --all, or --from and --to: the range, or nullopt after saying what is wrong.
static std::optional<TransferJob::Range> readRange(CommandLine &line, QDate *from, QDate *to)
{
    Context &ctx = line.context();
    const bool byDate = line.isSet("from") || line.isSet("to");
    if (line.isSet("all") == byDate) {
        ctx.usage(QStringLiteral("give either --all or --from and --to"));
        return std::nullopt;
    }
    if (!byDate)
        return TransferJob::Range::All;
    if (!line.isSet("from") || !line.isSet("to")) {
        ctx.usage(QStringLiteral("a range needs both --from and --to"));
        return std::nullopt;
    }
    if (!line.readDate("from", CommandLine::DateForm::Short, from)
        || !line.readDate("to", CommandLine::DateForm::Short, to))
        return std::nullopt;
    if (*to < *from) {
        ctx.usage(
            QStringLiteral("the range ends (%1) before it starts (%2)").arg(line.value("to"), line.value("from")));
        return std::nullopt;
    }
    return TransferJob::Range::ByDate;
}

int RunTransfer(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp,
                     {Options::Port,
                      Options::Pace,
                      Options::IdleTimeout,
                      Options::OutFolder,
                      {"all"},
                      {"from", "DD/MM/YY"},
                      {"to", "DD/MM/YY"}});
    if (!line.parse(arguments, CommandLine::Arguments::None))
        return ctx.status();
    QDate from;
    QDate to;
    const std::optional<TransferJob::Range> range = readRange(line, &from, &to);
    if (!range)
        return ctx.status();
    const std::optional<LinkOptions> link = line.linkOptions();
    if (!link)
        return ctx.status();
    const std::optional<QString> folder = line.dataFolder(QStringLiteral("the data file"));
    if (!folder)
        return ctx.status();

    const std::optional<Protocol::ProbeResult> probe = IdentifyLocator(ctx, link->port, true);
    if (!probe)
        return ctx.status();
    if (Interrupts::instance().count() > 0)
        return ctx.fail(QStringLiteral("interrupted before the transfer started"));
    SerialPort working;
    if (!OpenWorkingPort(ctx, working, link->port))
        return ctx.status();

    // The name carries the identity as the window's boxes hold it, trimmed.
    LocatorIdentity identity{probe->identity.model.trimmed(), probe->identity.serialNo.trimmed(),
                             probe->identity.user.trimmed()};
    TransferJob transfer(ctx, working, link->port, identity);
    QEventLoop loop;
    if (!transfer.start(*folder, *range, from, to, link->idleSeconds, [&loop] { loop.quit(); }))
        return ctx.status();
    loop.exec();
    return transfer.report();
}

}  // namespace Cli
