// The subcommands that talk to a locator and wait for no transfer: identify,
// scan, set-clock and set-user.
#include "cli/CommandLine.h"
#include "cli/LinkSupport.h"

#include "core/clock/Clock.h"
#include "core/link/PacedWriter.h"
#include "core/link/PortList.h"
#include "core/link/PortScan.h"
#include "core/link/SerialPort.h"

#include <QDateTime>
#include <QEventLoop>

#include <limits>

namespace Cli {

namespace {

// A command that takes --port and --pace-ms and nothing else.
std::optional<int> portOnly(Context &ctx, const QStringList &arguments, const char *help)
{
    CommandLine line(ctx, help, {Options::Port, Options::Pace});
    if (!line.parse(arguments, CommandLine::Arguments::None))
        return std::nullopt;
    const std::optional<LinkOptions> link = line.linkOptions();
    if (!link)
        return std::nullopt;
    return link->port;
}

}  // namespace

static QString locatorLine(int port, const Protocol::ProbeResult &probe)
{
    const LocatorIdentity id = Printable(probe.identity);
    return QStringLiteral("COM%1: %2, serial number %3, user %4, firmware %5\n")
        .arg(port)
        .arg(id.model, id.serialNo, id.user, FirmwareText(probe));
}

// ---- identify ------------------------------------------------------------------

static const char kIdentifyHelp[] = "Usage: locator-cli identify --port N [--pace-ms MS]\n"
                                    "\n"
                                    "Runs the identify exchange once on port N and prints the locator's model,\n"
                                    "serial number, user name and firmware version.\n"
                                    "\n"
                                    "Options:\n"
                                    "  --port N       the COM port number (1 to 256)\n"
                                    "  --pace-ms MS   the pause after each command character (default 10, or\n"
                                    "                 $LOCATOR_PACE_MS); the locator must answer within five pauses\n";

int RunIdentify(Context &ctx, const QStringList &arguments)
{
    const std::optional<int> port = portOnly(ctx, arguments, kIdentifyHelp);
    if (!port)
        return ctx.status();

    const std::optional<Protocol::ProbeResult> probe = IdentifyLocator(ctx, *port, true);
    if (!probe)
        return ctx.status();
    const LocatorIdentity id = Printable(probe->identity);
    ctx.print(QStringLiteral("Port: %1\nModel: %2\nSerial number: %3\nUser: %4\nFirmware version: %5\n")
                  .arg(*port)
                  .arg(id.model, id.serialNo, id.user, FirmwareText(*probe)));
    return Success;
}

// ---- scan ----------------------------------------------------------------------

static const char kScanHelp[] = "Usage: locator-cli scan [--remember] [--pace-ms MS]\n"
                                "\n"
                                "Probes ports 1 to 16 with the identify exchange, as the window's Scan\n"
                                "does, and lists every locator that answers. Nothing is asked and nothing\n"
                                "is changed unless --remember is given.\n"
                                "\n"
                                "Options:\n"
                                "  --remember     record each locator found in the port list by the scan's\n"
                                "                 rules: a new serial number is added, a known one that\n"
                                "                 answered on another port gets that port, others stay\n"
                                "  --pace-ms MS   the pause after each command character (default 10)\n"
                                "\n"
                                "Exit status 1 when no locator answers.\n";

// Records a locator found in the port list; false after saying the list could not be written.
static bool remember(Context &ctx, int port, const QString &serialNo)
{
    const QString path = PortListPath();
    // Read afresh for each locator: an earlier one of this scan may have changed the file.
    const QList<PortEntry> all = PortList::ReadForScan(path, std::numeric_limits<int>::max());
    switch (PortList::RecordLocator(path, all, PortScan::kPortListTable, serialNo, port)) {
    case PortList::Update::Appended:
        ctx.print(QStringLiteral("%1 added to the port list on COM%2\n").arg(Printable(serialNo)).arg(port));
        break;
    case PortList::Update::Rewritten:
        ctx.print(QStringLiteral("%1 now on COM%2 in the port list\n").arg(Printable(serialNo)).arg(port));
        break;
    case PortList::Update::Unchanged:
        ctx.print(QStringLiteral("%1 already in the port list on COM%2\n").arg(Printable(serialNo)).arg(port));
        break;
    case PortList::Update::NotRecorded:
        ctx.warn(QStringLiteral("the serial number '%1' on COM%2 cannot stand in the port list; not recorded")
                     .arg(Printable(serialNo))
                     .arg(port));
        break;
    case PortList::Update::Failed:
        ctx.fail(QStringLiteral("the port list %1 could not be written").arg(Native(path)));
        return false;
    }
    return true;
}

int RunScan(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kScanHelp, {{"remember"}, Options::Pace});
    if (!line.parse(arguments, CommandLine::Arguments::None) || !line.linkOptions())
        return ctx.status();

    // The windows' scan, asking nobody: every locator that answers is listed.
    QList<std::pair<int, Protocol::ProbeResult>> found;
    int refused = 0;
    SerialPort probePort;
    PacedWriter writer;
    PortScan scan(probePort, writer);
    QEventLoop loop;
    int interruptedAt = 0;
    PortScan::Hooks hooks;
    hooks.checking = [&](int port) { ctx.progress(QStringLiteral("Checking com port %1...").arg(port), true); };
    hooks.notOpened = [&](int port, int error, const QString &) {
        // The scan goes on, as the window's does; the person reading should know why.
        if (error != SerialPort::InvalidPortNumber) {
            ctx.warn(CannotOpenText(port, probePort));
            if (probePort.accessRefused())
                ++refused;
        }
        return true;
    };
    hooks.accept = [&](int port, const QByteArray &, const Protocol::ProbeResult &probe) {
        ctx.endProgress();
        ctx.print(locatorLine(port, probe));
        found.append({port, probe});
        return false;
    };
    hooks.finished = [&](int) { loop.quit(); };
    const QMetaObject::Connection onInterrupt
        = QObject::connect(&Interrupts::instance(), &Interrupts::requested, &loop, [&] {
              interruptedAt = scan.currentPort();
              scan.cancel();
              loop.quit();
          });
    if (Interrupts::instance().count() > 0)
        return ctx.fail(QStringLiteral("interrupted at %1").arg(PortName(PortScan::kFirstPort)));
    scan.start(hooks);
    loop.exec();
    QObject::disconnect(onInterrupt);
    if (interruptedAt > 0) {
        ctx.endProgress();
        return ctx.fail(QStringLiteral("interrupted at %1").arg(PortName(interruptedAt)));
    }
    ctx.endProgress();
    if (found.isEmpty() && refused > 0)
        return ctx.fail(QStringLiteral("no locator answered on ports %1 to %2, and %3 of them could not be "
                                       "opened for want of permission (see above)")
                            .arg(PortScan::kFirstPort)
                            .arg(PortScan::kLastPort)
                            .arg(refused));
    if (found.isEmpty())
        return ctx.fail(
            QStringLiteral("no locator answered on ports %1 to %2").arg(PortScan::kFirstPort).arg(PortScan::kLastPort));
    if (line.isSet("remember")) {
        for (const auto &[port, probe] : found) {
            if (!remember(ctx, port, probe.identity.serialNo))
                return ctx.status();
        }
    }
    return Success;
}

// ---- set-clock and set-user ----------------------------------------------------

static const char kSetClockHelp[] = "Usage: locator-cli set-clock --port N [--pace-ms MS]\n"
                                    "\n"
                                    "Sets the locator's date and then its time from this computer's clock,\n"
                                    "with the window's commands (#DSdd/mm/yy, #TShh:mm:ss). The locator is\n"
                                    "identified first, so a port without a locator is reported, not written to.\n";

static const char kSetUserHelp[] = "Usage: locator-cli set-user --port N [--pace-ms MS] [--] NAME\n"
                                   "\n"
                                   "Stores NAME as the locator's user name (#FT, blank-padded to 32). The name\n"
                                   "takes at most 32 characters and none of * / \\ ? : . (the window refuses\n"
                                   "them too, so that names stay usable in file names). An empty NAME clears it.\n";

// Identifies the locator, opens the working port and runs `send` on it.
template<class Send>
static int withWorkingPort(Context &ctx, int port, Send &&send)
{
    const std::optional<Protocol::ProbeResult> probe = IdentifyLocator(ctx, port, true);
    if (!probe)
        return ctx.status();
    SerialPort working;
    if (!OpenWorkingPort(ctx, working, port))
        return ctx.status();
    return send(working, probe->identity);
}

static QString who(const LocatorIdentity &identity, int port)
{
    const LocatorIdentity id = Printable(identity);
    return QStringLiteral("%1 %2 (COM%3)").arg(id.model, id.serialNo).arg(port);
}

int RunSetClock(Context &ctx, const QStringList &arguments)
{
    const std::optional<int> port = portOnly(ctx, arguments, kSetClockHelp);
    if (!port)
        return ctx.status();

    return withWorkingPort(ctx, *port, [&](SerialPort &working, const LocatorIdentity &id) {
        QDate date = Clock::today();
        if (!SendShortPaced(ctx, working, *port, Protocol::SetDateCommand(date)))
            return ctx.status();
        // The time is read when it goes out; should midnight have passed
        // while the date went, the new date goes too.
        QDateTime now = Clock::now();
        if (now.date() != date) {
            date = now.date();
            if (!SendShortPaced(ctx, working, *port, Protocol::SetDateCommand(date)))
                return ctx.status();
            now = Clock::now();
        }
        if (!SendShortPaced(ctx, working, *port, Protocol::SetTimeCommand(now.time())))
            return ctx.status();
        ctx.print(QStringLiteral("Date and time set on %1: %2 %3\n")
                      .arg(who(id, *port), date.toString(QStringLiteral("dd/MM/yy")),
                           now.time().toString(QStringLiteral("HH:mm:ss"))));
        return int(Success);
    });
}

// Why a user name cannot be sent, or empty when it can.
static QString userNameProblem(const QString &name)
{
    if (name.size() > 32)
        return QStringLiteral("the user name has %1 characters; at most 32 fit").arg(name.size());
    static const QString refused = QStringLiteral("*/\\?:.");
    for (const QChar c : name) {
        if (refused.contains(c))
            return QStringLiteral("the user name may not contain %1 (none of * / \\ ? : .)").arg(c);
        // One byte a character on the wire, and nothing that would break the reply's layout.
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() > 0xff)
            return QStringLiteral("the user name may hold printable Latin-1 characters only");
    }
    return {};
}

int RunSetUser(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kSetUserHelp, {Options::Port, Options::Pace});
    if (!line.parse(arguments, CommandLine::Arguments::Any))
        return ctx.status();
    const QStringList names = line.arguments();
    if (names.size() != 1)
        return ctx.usage(names.isEmpty() ? QStringLiteral("no user name given")
                                         : QStringLiteral("one user name; quote a name with blanks"));
    const QString name = names.first();
    if (const QString problem = userNameProblem(name); !problem.isEmpty())
        return ctx.usage(problem);
    const std::optional<LinkOptions> link = line.linkOptions();
    if (!link)
        return ctx.status();
    const int port = link->port;

    return withWorkingPort(ctx, port, [&](SerialPort &working, const LocatorIdentity &id) {
        if (!SendShortPaced(ctx, working, port, Protocol::SetUserCommand(name)))
            return ctx.status();
        ctx.print(QStringLiteral("User name set on %1: %2\n").arg(who(id, port), name));
        return int(Success);
    });
}

}  // namespace Cli
