// locator-cli sync: a locator's new records into the usage archive, through
// the sync core (the locator's clock read, the range chosen, the transfer as
// `transfer` writes it, the import). This file only identifies the locator,
// opens its port and prints; with --watch it does so for every port watched,
// each time a locator turns up, retrying a failed sync while it stays.
#include "cli/CommandLine.h"
#include "cli/LinkSupport.h"

#include "core/clock/Clock.h"
#include "core/link/PacedWriter.h"
#include "core/link/PortList.h"
#include "core/link/SerialPort.h"
#include "core/sync/SyncJob.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace Cli {

namespace {

const char kHelp[] = "Usage: locator-cli sync --port N [--database DB] [--out DIR] [--idle-timeout S] [--pace-ms MS]\n"
                     "       locator-cli sync --watch (--port N... | --known) [--poll-seconds S]\n"
                     "                        [--retry-seconds S] [--database DB] [--out DIR] ...\n"
                     "\n"
                     "Identifies the locator on port N and reads its clock (\"#AE\"). The usage\n"
                     "archive gives the last second it holds of that locator (records dated more\n"
                     "than a day after this computer's clock do not count, and are reported);\n"
                     "the locator's records from that day to today (a locator never archived:\n"
                     "all of them) are transferred into a new data file, named and written as\n"
                     "'locator-cli transfer' writes it. The file is then imported, and its path\n"
                     "is printed with the records new to the archive, those it held already\n"
                     "(duplicate), the lines that are no record (skipped) and the conflicts.\n"
                     "\n"
                     "A locator whose clock is before its last archived second has had its clock\n"
                     "reset: all its records are fetched (what the archive holds counts as\n"
                     "duplicate), so none dated by the wrong clock is missed, with a warning to\n"
                     "set its clock (locator-cli set-clock). A clock more than 5 minutes from this\n"
                     "computer's is a warning; a locator that does not tell its clock is synced\n"
                     "from the last archived day, with a warning.\n"
                     "\n"
                     "A transfer that does not end complete (port lost, silence, power-down,\n"
                     "Ctrl+C) keeps what arrived: that file is imported too, so the file and the\n"
                     "archive agree, and the next sync fetches the rest.\n"
                     "\n"
                     "With --watch it polls each port watched with the identify exchange, syncs\n"
                     "a locator whenever it appears (switched on, back in range, plugged in) and\n"
                     "prints one line per event until Ctrl+C. A failed sync is tried again while\n"
                     "the locator stays, after a pause that doubles from --retry-seconds up to\n"
                     "5 minutes. The archive is opened afresh for each sync, so a database\n"
                     "server that restarts is simply used again.\n"
                     "\n"
                     "Options:\n"
                     "  --port N          the COM port number (1 to 256); with --watch, once per port\n"
                     "  --known           with --watch, every port of the port list (as 'scan\n"
                     "                    --remember' records it)\n"
                     "  --watch           sync each time a locator appears on a port watched\n"
                     "  --poll-seconds S  with --watch, the time between two identify exchanges\n"
                     "                    (default 5; 0 asks again at once)\n"
                     "  --retry-seconds S with --watch, the first pause before a failed sync is\n"
                     "                    tried again (default 5, 1 to 300)\n" LOCATOR_DATABASE_HELP
                     "  --out DIR         the folder for the data files (default: the data\n"
                     "                    folder, <Documents>/korvex/data)\n"
                     "  --idle-timeout S  give up a transfer when the locator is silent this long\n"
                     "                    (default 60 seconds, as the window's watchdog)\n"
                     "  --pace-ms MS      the pause after each command character (default 10)\n"
                     "\n"
                     "Exit status 1 when the sync did not end complete (the part that arrived is\n"
                     "imported first) or the archive could not be used. With --watch, after\n"
                     "Ctrl+C: 1 when the last sync of a locator still present failed, else 0.\n";

constexpr int kDefaultPollSeconds = 5;
constexpr int kDefaultRetrySeconds = 5;
constexpr qint64 kLongestRetryMs = 5 * 60 * 1000;

struct SyncOptions
{
    QList<int> ports;
    Sync::Options core;
    bool watch = false;
    int pollMs = kDefaultPollSeconds * 1000;
    int retryMs = kDefaultRetrySeconds * 1000;
};

QString who(const LocatorIdentity &identity)
{
    const LocatorIdentity id = Printable(identity);
    return id.model + QLatin1Char(' ') + id.serialNo;
}

QString stamp()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
}

// What a sync found, on the error stream; the fix for a clock is the
// command that sets it.
void warnNotes(Context &ctx, const Sync::Result &result)
{
    for (const Sync::Note &note : result.notes) {
        QString text = QStringLiteral("%1 on %2: %3").arg(who(result.identity), PortName(result.port), note.text);
        if (note.setClockFixes)
            text += QStringLiteral("; set its clock: locator-cli set-clock --port %1").arg(result.port);
        ctx.warn(text);
    }
}

// "<lead><file>: N new, N duplicate, N skipped, N conflicts", as archive import prints it.
void printImport(Context &ctx, const Sync::Result &result, const QString &lead)
{
    if (!result.imported)
        return;
    const Archive::ImportCounts &c = result.counts;
    ctx.endProgress();
    ctx.print(lead
              + QStringLiteral("%1: %2 new, %3 duplicate, %4 skipped, %5 conflicts%6\n")
                    .arg(Native(result.file))
                    .arg(c.added)
                    .arg(c.duplicates)
                    .arg(c.skipped)
                    .arg(c.conflicts)
                    .arg(result.alreadyImported ? QStringLiteral(" (already imported)") : QString()));
}

// Shows a running sync on the progress line and stops it on Ctrl+C.
void showProgress(Context &ctx, Sync::SyncJob &job, const LocatorIdentity &identity, QObject *context)
{
    QObject::connect(&job, &Sync::SyncJob::message, context, [&ctx](const QString &text) { ctx.progress(text, true); });
    QObject::connect(&job, &Sync::SyncJob::progress, context, [&ctx, identity](qint64 received) {
        const LocatorIdentity id = Printable(identity);
        ctx.progress(QStringLiteral("Receiving from %1 %2: %3 bytes").arg(id.model, id.serialNo).arg(received));
    });
}

LocatorIdentity trimmed(const Protocol::ProbeResult &probe)
{
    // The name carries the identity as the window's boxes hold it, trimmed.
    return {probe.identity.model.trimmed(), probe.identity.serialNo.trimmed(), probe.identity.user.trimmed()};
}

int syncOnce(Context &ctx, const SyncOptions &options)
{
    const int port = options.ports.first();
    const std::optional<Protocol::ProbeResult> probe = IdentifyLocator(ctx, port, true);
    if (!probe)
        return ctx.status();
    if (Interrupts::instance().count() > 0)
        return ctx.fail(QStringLiteral("interrupted before the transfer started"));
    SerialPort working;
    if (!OpenWorkingPort(ctx, working, port))
        return ctx.status();
    const LocatorIdentity identity = trimmed(*probe);
    Sync::SyncJob job;
    QEventLoop loop;
    Sync::Result result;
    showProgress(ctx, job, identity, &loop);
    QObject::connect(&Interrupts::instance(), &Interrupts::requested, &loop, [&job] { job.stop(); });
    QObject::connect(&job, &Sync::SyncJob::finished, &loop, [&](const Sync::Result &r) {
        result = r;
        loop.quit();
    });
    if (!job.start(working, port, identity, options.core))
        return ctx.fail(QStringLiteral("a sync is running already"));
    loop.exec();
    ctx.endProgress();
    warnNotes(ctx, result);
    printImport(ctx, result, {});
    return result.ok ? Success : ctx.fail(result.failure);
}

// --watch: every port polled on its own timer, the syncs of several ports
// side by side, all from one event loop.
class Watcher
{
public:
    Watcher(Context &ctx, const SyncOptions &options)
        : m_ctx(ctx)
        , m_options(options)
    {
        for (int port : options.ports) {
            auto w = std::make_unique<Watched>();
            w->port = port;
            w->poll.setSingleShot(true);
            Watched *raw = w.get();
            QObject::connect(&w->poll, &QTimer::timeout, &m_loop, [this, raw] { poll(*raw); });
            m_watched.push_back(std::move(w));
        }
        QObject::connect(&Interrupts::instance(), &Interrupts::requested, &m_loop, [this] { onInterrupt(); });
    }
    ~Watcher()
    {
        for (const auto &w : m_watched)
            w->probeWriter.cancel();
    }

    int run()
    {
        for (const auto &w : m_watched) {
            event(QStringLiteral("waiting for a locator on %1").arg(PortName(w->port)));
            w->poll.start(0);
        }
        m_loop.exec();
        if (m_fatal)
            return Failure;
        // Ended by Ctrl+C: a locator still there whose last sync failed is
        // not in the archive as far as it could be.
        const bool failed = std::any_of(m_watched.begin(), m_watched.end(),
                                        [](const auto &w) { return w->present && w->lastFailed; });
        return failed ? Failure : Success;
    }

private:
    struct Watched
    {
        int port = 0;
        QTimer poll;
        SerialPort probePort;
        PacedWriter probeWriter;
        bool probing = false;
        bool present = false;  // a locator answered the last identify exchange
        LocatorIdentity identity;
        std::unique_ptr<SerialPort> working;
        std::unique_ptr<Sync::SyncJob> job;
        std::unique_ptr<Sync::SyncJob> spent;
        bool lastFailed = false;
        int failures = 0;  // in a row, while present
        QDeadlineTimer retryAt;
    };

    void event(const QString &text)
    {
        m_ctx.endProgress();
        m_ctx.print(stamp() + text + QLatin1Char('\n'));
    }
    void poll(Watched &w);
    void onProbe(Watched &w, const Protocol::ProbeResult &probe, const QString &failure, bool refused);
    void startSync(Watched &w);
    void onSynced(Watched &w, const Sync::Result &result);
    void onInterrupt();
    void endWhenIdle()
    {
        const bool busy
            = std::any_of(m_watched.begin(), m_watched.end(), [](const auto &w) { return w->job || w->probing; });
        if (!busy)
            m_loop.quit();
    }

    Context &m_ctx;
    const SyncOptions m_options;
    QEventLoop m_loop;
    std::vector<std::unique_ptr<Watched>> m_watched;
    bool m_stopping = false;
    bool m_fatal = false;
};

void Watcher::poll(Watched &w)
{
    if (m_stopping)
        return;
    QString failure;
    w.probing = true;
    // The extra pause, as a known port's test gives the locator.
    if (!StartIdentify(
            w.probePort, w.probeWriter, w.port, true,
            [this, &w](const Protocol::ProbeResult &probe, const QString &why) { onProbe(w, probe, why, false); },
            &failure))
        onProbe(w, {}, failure, w.probePort.accessRefused());
}

void Watcher::onProbe(Watched &w, const Protocol::ProbeResult &probe, const QString &failure, bool refused)
{
    w.probing = false;
    if (m_stopping)
        return endWhenIdle();
    if (refused) {
        // Retrying will not help a port this user may not open.
        m_fatal = true;
        m_ctx.fail(failure);
        m_stopping = true;
        for (const auto &other : m_watched) {
            other->poll.stop();
            if (other->job)
                other->job->stop();
        }
        return endWhenIdle();
    }
    const LocatorIdentity identity = trimmed(probe);
    if (w.present && (!probe.found || identity.serialNo != w.identity.serialNo)) {
        w.present = false;
        w.lastFailed = false;
        w.failures = 0;
        event(QStringLiteral("%1 left %2").arg(who(w.identity), PortName(w.port)));
    }
    if (!probe.found)
        return w.poll.start(m_options.pollMs);
    if (!w.present) {
        w.present = true;
        w.identity = identity;
        event(QStringLiteral("%1 (user %2) appeared on %3")
                  .arg(who(identity), Printable(identity.user), PortName(w.port)));
        return startSync(w);
    }
    if (w.lastFailed && w.retryAt.hasExpired()) {
        event(QStringLiteral("trying %1 on %2 again").arg(who(w.identity), PortName(w.port)));
        return startSync(w);
    }
    w.poll.start(m_options.pollMs);
}

void Watcher::startSync(Watched &w)
{
    w.working = std::make_unique<SerialPort>();
    if (!OpenWorkingPort(m_ctx, *w.working, w.port)) {
        w.working.reset();
        Sync::Result failed;
        failed.identity = w.identity;
        failed.port = w.port;
        return onSynced(w, failed);
    }
    w.job = std::make_unique<Sync::SyncJob>();
    showProgress(m_ctx, *w.job, w.identity, &m_loop);
    QObject::connect(w.job.get(), &Sync::SyncJob::finished, &m_loop,
                     [this, &w](const Sync::Result &result) { onSynced(w, result); });
    if (!w.job->start(*w.working, w.port, w.identity, m_options.core))
        w.job.reset();
}

void Watcher::onSynced(Watched &w, const Sync::Result &result)
{
    // Its own signal is still being delivered: it goes with the next sync
    // or with the watcher.
    w.spent = std::move(w.job);
    w.working.reset();
    m_ctx.endProgress();
    warnNotes(m_ctx, result);
    printImport(m_ctx, result,
                stamp() + (result.ok ? QStringLiteral("synced ") : QStringLiteral("partly synced ")) + who(w.identity)
                    + QStringLiteral(", "));
    if (result.ok) {
        w.lastFailed = false;
        w.failures = 0;
    } else {
        if (!result.failure.isEmpty())
            m_ctx.warn(result.failure);
        w.lastFailed = true;
        ++w.failures;
        const qint64 pause
            = std::min<qint64>(qint64(m_options.retryMs) << std::min(w.failures - 1, 20), kLongestRetryMs);
        w.retryAt = QDeadlineTimer(pause);
        if (!m_stopping)
            event(QStringLiteral("sync of %1 on %2 failed; trying again in %3 while it stays")
                      .arg(who(w.identity), PortName(w.port), Sync::DurationText(pause / 1000)));
    }
    if (m_stopping)
        return endWhenIdle();
    w.poll.start(m_options.pollMs);
}

void Watcher::onInterrupt()
{
    m_stopping = true;
    for (const auto &w : m_watched) {
        w->poll.stop();
        // A sync stops with the abort exchange and imports what arrived; a
        // second Ctrl+C gives up waiting for the locator.
        if (w->job) {
            w->job->stop();
            continue;
        }
        w->probeWriter.cancel();
        w->probePort.close();
        w->probing = false;
    }
    endWhenIdle();
}

// The ports of the port list, as `scan --remember` records them.
std::optional<QList<int>> knownPorts(Context &ctx)
{
    QList<int> ports;
    for (const PortEntry &entry : PortList::LoadPortList(PortListPath())) {
        const int port = PortList::PortNumber(entry.port);
        if (port >= 1 && port <= 256 && !ports.contains(port))
            ports << port;
    }
    if (ports.isEmpty()) {
        ctx.fail(QStringLiteral("the port list %1 names no port (locator-cli scan --remember records them)")
                     .arg(Native(PortListPath())));
        return std::nullopt;
    }
    return ports;
}

}  // namespace

int RunSync(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp,
                     {Options::Port,
                      Options::Pace,
                      Options::IdleTimeout,
                      Options::OutFolder,
                      Options::Database,
                      {"watch"},
                      {"known"},
                      {"poll-seconds", "S"},
                      {"retry-seconds", "S"}});
    if (!line.parse(arguments, CommandLine::Arguments::None))
        return ctx.status();

    SyncOptions options;
    options.watch = line.isSet("watch");
    for (const char *watchOnly : {"poll-seconds", "retry-seconds", "known"}) {
        if (line.isSet(watchOnly) && !options.watch)
            return ctx.usage(QStringLiteral("--%1 goes with --watch").arg(QLatin1String(watchOnly)));
    }
    int pollSeconds = kDefaultPollSeconds;
    int retrySeconds = kDefaultRetrySeconds;
    if (!line.readSeconds("poll-seconds", 0, 3600, &pollSeconds)
        || !line.readSeconds("retry-seconds", 1, 300, &retrySeconds))
        return ctx.status();
    options.pollMs = pollSeconds * 1000;
    options.retryMs = retrySeconds * 1000;
    const bool known = line.isSet("known");
    const std::optional<LinkOptions> link
        = line.linkOptions(options.watch ? CommandLine::PortCount::Several : CommandLine::PortCount::One);
    if (!link)
        return ctx.status();
    options.ports = options.watch ? link->ports : QList<int>{link->port};
    if (options.watch && options.ports.isEmpty() && !known)
        return ctx.usage(QStringLiteral("--port N is required (with --watch, once per port, or --known)"));
    options.core.idleSeconds = link->idleSeconds;
    const std::optional<QString> folder = line.dataFolder(QStringLiteral("the data files"));
    if (!folder)
        return ctx.status();
    options.core.folder = *folder;
    if (known) {
        const std::optional<QList<int>> listed = knownPorts(ctx);
        if (!listed)
            return ctx.status();
        for (int port : *listed) {
            if (!options.ports.contains(port))
                options.ports << port;
        }
    }

    // The archive first: a sync it cannot take is not started. Each sync
    // opens it again for itself.
    QString error;
    if (!Archive::ChooseLocation(line.value(Options::Database.name), &options.core.archive, &error))
        return ctx.fail(error);
    {
        Archive::Store store;
        if (!store.open(options.core.archive, &error, Archive::Store::CreateIfMissing))
            return ctx.fail(error);
    }
    if (Interrupts::instance().count() > 0)
        return ctx.fail(QStringLiteral("interrupted before the transfer started"));
    if (!options.watch)
        return syncOnce(ctx, options);
    Watcher watcher(ctx, options);
    return watcher.run();
}

}  // namespace Cli
