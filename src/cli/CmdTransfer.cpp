// locator-cli transfer: the window's Transfer All and Transfer by Date, from a
// script. The data file is named, headed and written by the same core as the
// window's, so the two give the same file for the same locator log.
#include "LinkSupport.h"

#include "DataFileFormat.h"
#include "DataFileHandle.h"
#include "Pacing.h"
#include "ReceiveHandler.h"
#include "SerialPort.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace Cli {

namespace {

const char kHelp[] =
    "Usage: locator-cli transfer --port N (--all | --from DD/MM/YY --to DD/MM/YY)\n"
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

constexpr int kDefaultIdleSeconds = 60;
constexpr int kAbortRetryMs = 3000;

enum class Outcome { Running, Complete, Aborted, PoweredDown, PortLost, Silent, GaveUp, FileError };

// The receive logic's view of a transfer run from a terminal: a progress line
// for a person, nothing for a script.
class TransferRun : public ReceiveView
{
public:
    TransferRun(Context &ctx, SerialPort &working, int port, const LocatorIdentity &identity)
        : m_ctx(ctx)
        , m_working(working)
        , m_port(port)
        , m_identity(identity)
        , m_receive(m_state, m_file, *this)
    {
        m_receive.setCommentBlock(DataFileFormat::DefaultCommentBlock());
        m_idle.setSingleShot(true);
        QObject::connect(&m_idle, &QTimer::timeout, [this] { finish(Outcome::Silent); });
        m_abortRetry.setInterval(kAbortRetryMs);
        QObject::connect(&m_abortRetry, &QTimer::timeout, [this] { abortRetry(); });
        m_connections = {
            QObject::connect(&m_working, &SerialPort::OnComm, [this] { onComm(); }),
            QObject::connect(&m_working, &SerialPort::deviceLost, [this] { finish(Outcome::PortLost); }),
            QObject::connect(&Interrupts::instance(), &Interrupts::requested, [this] { onInterrupt(); }),
        };
    }
    ~TransferRun() override
    {
        // These capture this object and their senders outlive it.
        for (const QMetaObject::Connection &c : m_connections)
            QObject::disconnect(c);
    }

    int run(const QString &folder, const QString &kind, const QDate &from, const QDate &to, int idleSeconds);

private:
    // ReceiveView
    void onPowerDown(const QString &) override { finish(Outcome::PoweredDown); }
    void onLinkAlive(bool) override {}
    void onTransferStart() override { m_started = true; }
    void onLiveLine(const QByteArray &, bool) override {}
    void onProgress(qint64) override {}
    void onTransferEnd(bool aborted) override
    {
        m_abortRetry.stop();
        finish(aborted ? Outcome::Aborted : Outcome::Complete);
    }
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
        // Otherwise the locator goes on sending into a port nobody reads.
        if (m_working.isOpen())
            Pacing::sendPaced(m_working, Protocol::Abort, Pacing::shortPauseMs());
    }
    QString newDataFileName() override { return fileName(QStringLiteral("DA")); }
    void restartWatchdog() override
    {
        if (m_outcome == Outcome::Running)
            m_idle.start();
    }

    QString fileName(const QString &kind) const;
    void onComm();
    void onInterrupt();
    void stop();
    void abortRetry();
    void finish(Outcome outcome)
    {
        if (m_outcome == Outcome::Running)
            m_outcome = outcome;
        m_idle.stop();
    }
    int report(const QString &path, int idleSeconds);

    Context &m_ctx;
    SerialPort &m_working;
    int m_port;
    LocatorIdentity m_identity;
    TransferState m_state;
    DataFileHandle m_file;
    ReceiveHandler m_receive;
    QTimer m_idle;        // the link watchdog
    QTimer m_abortRetry;  // repeats the abort request until the locator answers it
    Outcome m_outcome = Outcome::Running;
    bool m_started = false;
    bool m_sendingCommand = false;
    bool m_stopPending = false;
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

void TransferRun::onComm()
{
    m_working.setDTREnable(false);
    const int event = m_working.CommEvent();
    switch (event) {
    case SerialPort::EvReceive:
        m_receive.handlePiece(m_working.input());
        break;
    case SerialPort::EvSend:
    case SerialPort::EvCTS:
    case SerialPort::EvDSR:
    case SerialPort::EvCD:
        restartWatchdog();
        break;
    case SerialPort::EvEOF:
        break;
    default:
        m_ctx.warn(QStringLiteral("comms error %1 on %2").arg(event).arg(PortName(m_port)));
        restartWatchdog();
        break;
    }
    m_working.setDTREnable(true);
}

void TransferRun::onInterrupt()
{
    if (m_outcome != Outcome::Running)
        return;
    if (m_stopRequested) {
        finish(Outcome::GaveUp);
        return;
    }
    m_stopRequested = true;
    // An "A" slipped into the transfer command would change the command;
    // the stop waits until the command is out.
    if (m_sendingCommand) {
        m_stopPending = true;
        return;
    }
    stop();
}

// The window's Stop: ask once more unless the locator has answered already.
void TransferRun::stop()
{
    m_working.setDTREnable(false);
    m_ctx.progress(QStringLiteral("Stopping the download, please wait."), true);
    if (!m_state.AbortAcknowledged) {
        m_abortRetry.start();
        Pacing::sendPaced(m_working, Protocol::Abort, Pacing::shortPauseMs());
    } else {
        m_abortRetry.stop();
    }
    m_working.setDTREnable(true);
}

void TransferRun::abortRetry()
{
    const bool transferOpen = m_state.TransferActive || m_file.isWriting();
    if (m_state.AbortAcknowledged || !transferOpen || m_outcome != Outcome::Running) {
        m_abortRetry.stop();
        return;
    }
    stop();
}

int TransferRun::run(const QString &folder, const QString &kind, const QDate &from, const QDate &to,
                     int idleSeconds)
{
    m_receive.setDataFolder(folder);
    m_working.setDTREnable(false);
    m_receive.prepareTransfer();
    QByteArray command = Protocol::TransferAll;
    if (kind == QLatin1String("DD")) {
        m_state.RangeStart = DataFileFormat::RangeDateText(from);
        m_state.RangeEnd = DataFileFormat::RangeDateText(to);
        command = Protocol::TransferByDateCommand(m_state.RangeStart, m_state.RangeEnd);
    }
    const QString name = fileName(kind);
    const QString path = m_receive.fullPath(name);
    QString error;
    if (!m_receive.openDataFile(name, &error))
        return m_ctx.fail(QStringLiteral("cannot create the data file %1: %2").arg(Native(path), error));

    // As the window sends them: "#DA" with the long pause, the range with the short one.
    m_idle.setInterval(idleSeconds * 1000);
    m_idle.start();
    m_sendingCommand = true;
    const int pause = kind == QLatin1String("DD") ? Pacing::shortPauseMs() : Pacing::outputPauseMs();
    const bool sent = Pacing::sendPaced(m_working, command, pause);
    m_sendingCommand = false;
    m_working.setDTREnable(true);
    if (!sent || !m_working.isOpen())
        finish(Outcome::PortLost);
    if (m_stopPending)
        stop();

    while (m_outcome == Outcome::Running)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_abortRetry.stop();
    return report(path, idleSeconds);
}

int TransferRun::report(const QString &path, int idleSeconds)
{
    // Whatever ended the transfer, what arrived is kept and the file closed.
    m_receive.abandonTransfer();
    m_ctx.endProgress();
    const QString shown = Native(QFileInfo(path).absoluteFilePath());
    const bool kept = QFileInfo(path).size() > 0;
    if (!kept && m_outcome != Outcome::Complete) {
        // Not a byte arrived: an empty file would only pass for a transfer.
        QFile::remove(path);
    } else {
        m_ctx.print(shown + QLatin1Char('\n'));
    }
    const QString keptText = kept ? QStringLiteral("; what arrived is in ") + shown
                                  : QStringLiteral("; no data arrived, no file kept");
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
        return m_ctx.fail(QStringLiteral("the locator on %1 was silent for %2 seconds")
                              .arg(PortName(m_port))
                              .arg(idleSeconds)
                          + keptText);
    case Outcome::GaveUp:
        return m_ctx.fail(QStringLiteral("stopped without waiting for the locator") + keptText);
    case Outcome::FileError:
        return m_ctx.fail(m_fileError + keptText);
    }
    return Failure;
}

} // namespace

int RunTransfer(Context &ctx, const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption allOption(QStringLiteral("all"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QString(), QStringLiteral("DD/MM/YY"));
    const QCommandLineOption toOption(QStringLiteral("to"), QString(), QStringLiteral("DD/MM/YY"));
    const QCommandLineOption outOption(QStringLiteral("out"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption idleOption(QStringLiteral("idle-timeout"), QString(), QStringLiteral("S"));
    parser.addOptions({PortOption(), PaceOption(), allOption, fromOption, toOption, outOption, idleOption});
    if (const int status = Parse(ctx, parser, arguments, QString::fromLatin1(kHelp)); status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return ctx.usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    const bool byDate = parser.isSet(fromOption) || parser.isSet(toOption);
    if (parser.isSet(allOption) == byDate)
        return ctx.usage(QStringLiteral("give either --all or --from and --to"));
    QDate from;
    QDate to;
    if (byDate) {
        if (!parser.isSet(fromOption) || !parser.isSet(toOption))
            return ctx.usage(QStringLiteral("a range needs both --from and --to"));
        if (!ParseShortDate(parser.value(fromOption), &from))
            return ctx.usage(QStringLiteral("--from takes a date DD/MM/YY, not '%1'").arg(parser.value(fromOption)));
        if (!ParseShortDate(parser.value(toOption), &to))
            return ctx.usage(QStringLiteral("--to takes a date DD/MM/YY, not '%1'").arg(parser.value(toOption)));
        if (to < from)
            return ctx.usage(QStringLiteral("the range ends (%1) before it starts (%2)")
                                 .arg(parser.value(toOption), parser.value(fromOption)));
    }
    int idleSeconds = kDefaultIdleSeconds;
    if (parser.isSet(idleOption) && (!ParseNonNegative(parser.value(idleOption), &idleSeconds) || idleSeconds < 1
                                     || idleSeconds > 86400))
        return ctx.usage(QStringLiteral("--idle-timeout takes whole seconds from 1 to 86400, not '%1'")
                             .arg(parser.value(idleOption)));
    int port = 0;
    if (const int status = ReadLinkOptions(ctx, parser, &port); status >= 0)
        return status;
    const QString folder = parser.isSet(outOption) ? parser.value(outOption) : DataFolder();
    if (folder.isEmpty())
        return ctx.fail(QStringLiteral("no documents folder is known for the data file; give --out DIR"));

    Protocol::ProbeResult probe;
    if (const int status = IdentifyLocator(ctx, port, true, &probe); status >= 0)
        return status;
    if (Interrupts::instance().count() > 0)
        return ctx.fail(QStringLiteral("interrupted before the transfer started"));
    SerialPort working;
    if (const int status = OpenWorkingPort(ctx, working, port); status >= 0)
        return status;

    // The name carries the identity as the window's boxes hold it, trimmed.
    LocatorIdentity identity{probe.identity.model.trimmed(), probe.identity.serialNo.trimmed(),
                             probe.identity.user.trimmed()};
    TransferRun transfer(ctx, working, port, identity);
    return transfer.run(folder, byDate ? QStringLiteral("DD") : QStringLiteral("DA"), from, to, idleSeconds);
}

} // namespace Cli
