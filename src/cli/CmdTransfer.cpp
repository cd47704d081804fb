// locator-cli transfer: the window's Transfer All and Transfer by Date, from a
// script. The data file is named, headed and written by the same core as the
// window's, so the two give the same file for the same locator log.
#include "cli/CommandLine.h"
#include "cli/LinkSupport.h"

#include "core/link/SerialPort.h"
#include "core/sync/TransferJob.h"

#include <QEventLoop>
#include <QFileInfo>

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

}  // namespace

using Sync::TransferJob;

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
    TransferJob transfer(working, link->port, identity);
    QEventLoop loop;
    QObject::connect(&transfer, &TransferJob::finished, &loop, &QEventLoop::quit);
    const LocatorIdentity shown = Printable(identity);
    QObject::connect(&transfer, &TransferJob::progress, &loop, [&](qint64 received) {
        ctx.progress(QStringLiteral("Receiving from %1 %2: %3 bytes").arg(shown.model, shown.serialNo).arg(received));
    });
    QObject::connect(&transfer, &TransferJob::stopping, &loop,
                     [&] { ctx.progress(QStringLiteral("Stopping the download, please wait."), true); });
    QObject::connect(&transfer, &TransferJob::warning, &loop, [&](const QString &text) { ctx.warn(text); });
    QObject::connect(&Interrupts::instance(), &Interrupts::requested, &loop, [&] { transfer.stop(); });
    TransferJob::Request request;
    request.folder = *folder;
    request.range = *range;
    request.from = from;
    request.to = to;
    request.idleSeconds = link->idleSeconds;
    QString error;
    if (!transfer.start(request, &error))
        return ctx.fail(error);
    loop.exec();
    ctx.endProgress();
    const QString kept = transfer.keptFile();
    if (!kept.isEmpty())
        ctx.print(Native(QFileInfo(kept).absoluteFilePath()) + QLatin1Char('\n'));
    const QString failure = transfer.failure();
    return failure.isEmpty() ? Success : ctx.fail(failure);
}

}  // namespace Cli
