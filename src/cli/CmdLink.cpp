// The subcommands that talk to a locator and wait for no transfer: identify,
// scan, set-clock and set-user, and what they share with transfer.
#include "cli/LinkSupport.h"

#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/PortList.h"
#include "core/link/PortNaming.h"
#include "core/link/PortScan.h"
#include "core/link/Probe.h"
#include "core/link/SerialPort.h"
#include "core/link/WorkingPort.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>

#include <limits>

namespace Cli {

// ---- Shared --------------------------------------------------------------------

QCommandLineOption PortOption()
{
    return QCommandLineOption(QStringLiteral("port"), QString(), QStringLiteral("N"));
}

QCommandLineOption PaceOption()
{
    return QCommandLineOption(QStringLiteral("pace-ms"), QString(), QStringLiteral("MS"));
}

static int applyPace(Context &ctx, const QCommandLineParser &parser)
{
    const QCommandLineOption pace = PaceOption();
    if (!parser.isSet(pace))
        return -1;
    int ms = 0;
    if (!ParseNonNegative(parser.value(pace), &ms) || ms > 10000)
        return ctx.usage(
            QStringLiteral("--pace-ms takes a whole number of milliseconds, not '%1'").arg(parser.value(pace)));
    Pacing::setShortPauseMs(ms);
    return -1;
}

int ReadLinkOptions(Context &ctx, const QCommandLineParser &parser, int *port)
{
    const QCommandLineOption portOption = PortOption();
    if (!parser.isSet(portOption))
        return ctx.usage(QStringLiteral("--port N is required"));
    if (!ParsePort(parser.value(portOption), port))
        return ctx.usage(
            QStringLiteral("--port takes a port number from 1 to 256, not '%1'").arg(parser.value(portOption)));
    return applyPace(ctx, parser);
}

// A command line program has no window to keep alive: it waits for its
// paced commands in its own event loop, which ends when they are done.
bool SendPaced(SerialPort &port, const QByteArray &text, int pauseMs)
{
    PacedWriter writer;
    QEventLoop loop;
    bool sent = false;
    writer.send(port, text, pauseMs, [&](bool ok) {
        sent = ok;
        loop.quit();
    });
    loop.exec();
    return sent;
}

QString PortName(int port)
{
    return QStringLiteral("port %1").arg(port);
}

// A command that takes --port and --pace-ms and nothing else.
static int ParsePortOnly(Context &ctx, const QStringList &arguments, const char *help, int *port)
{
    QCommandLineParser parser;
    parser.addOptions({PortOption(), PaceOption()});
    if (const int status = Parse(ctx, parser, arguments, QString::fromLatin1(help)); status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return ctx.usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    return ReadLinkOptions(ctx, parser, port);
}

static QString noSuchPort(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("%1 does not exist (no COM%2 on this computer)").arg(PortName(port)).arg(port);
#else
    const QFileInfo entry(QDir(PortNaming::portsFolder()).filePath(QStringLiteral("COM%1").arg(port)));
    if (entry.isSymLink()) {
        return QStringLiteral("%1 does not exist (COM%2 in %3 points to %4, which is not there)")
            .arg(PortName(port))
            .arg(port)
            .arg(Native(PortNaming::portsFolder()), Native(entry.symLinkTarget()));
    }
    if (PortNaming::tableDeviceName(port).isEmpty()) {
        return QStringLiteral("%1 does not exist (no COM%2 in %3)")
            .arg(PortName(port))
            .arg(port)
            .arg(Native(PortNaming::portsFolder()));
    }
    return QStringLiteral("%1 does not exist (no COM%2 in %3, no %4)")
        .arg(PortName(port))
        .arg(port)
        .arg(Native(PortNaming::portsFolder()), Native(PortNaming::deviceShownFor(port)));
#endif
}

// Why an existing port could not be opened. A device this user may not open
// is named with the fix, since retrying will not help.
static QString cannotOpen(int port, const SerialPort &serial)
{
    if (serial.accessRefused()) {
        QString advice = PortNaming::refusalAdvice(serial.devicePath());
        advice[0] = advice[0].toLower();
        return QStringLiteral("%1 could not be opened: %2").arg(PortName(port), advice);
    }
    return QStringLiteral("%1 could not be opened: %2").arg(PortName(port), serial.lastErrorText());
}

static QString noIdentifyReply(int port, const QByteArray &reply)
{
    if (reply.isEmpty())
        return QStringLiteral("no answer on %1: no locator is switched on there").arg(PortName(port));
    return QStringLiteral("%1 answered, but with no identify reply (\"#X\")").arg(PortName(port));
}

bool StartIdentify(SerialPort &probePort, PacedWriter &writer, int port, bool extraPause, IdentifyDone done,
                   QString *failure)
{
    const int opened = Probe::OpenProbePort(probePort, port);
    if (opened != SerialPort::NoError) {
        *failure = opened == SerialPort::InvalidPortNumber ? noSuchPort(port) : cannotOpen(port, probePort);
        return false;
    }
    QPointer<SerialPort> guard(&probePort);
    Probe::Exchange(writer, probePort, extraPause, [guard, port, done = std::move(done)](const QByteArray &reply) {
        if (guard)
            guard->close();
        const Protocol::ProbeResult probe = Protocol::ReadProbeReply(reply);
        done(probe, probe.found ? QString() : noIdentifyReply(port, reply));
    });
    return true;
}

int IdentifyLocator(Context &ctx, int port, bool extraPause, Protocol::ProbeResult *probe)
{
    SerialPort probePort;
    PacedWriter writer;
    QEventLoop loop;
    QString failure;
    if (!StartIdentify(
            probePort, writer, port, extraPause,
            [&](const Protocol::ProbeResult &answer, const QString &why) {
                *probe = answer;
                failure = why;
                loop.quit();
            },
            &failure))
        return ctx.fail(failure);
    loop.exec();
    return probe->found ? -1 : ctx.fail(failure);
}

int OpenWorkingPort(Context &ctx, SerialPort &working, int port)
{
    const int opened = WorkingPort::Open(working, port);
    if (opened == SerialPort::InvalidPortNumber)
        return ctx.fail(noSuchPort(port));
    if (opened != SerialPort::NoError)
        return ctx.fail(cannotOpen(port, working));
    return -1;
}

int SendShortPaced(Context &ctx, SerialPort &working, int port, const QByteArray &command)
{
    // A command that did not reach the port must not be reported as sent.
    if (!SendPaced(working, command, Pacing::shortPauseMs()) || !working.isOpen())
        return ctx.fail(
            QStringLiteral("%1 failed while sending %2").arg(PortName(port), QString::fromLatin1(command.left(3))));
    return -1;
}

QString FirmwareText(const Protocol::ProbeResult &probe)
{
    if (!probe.bluetoothVersion.isEmpty())
        return Printable(probe.bluetoothVersion);
    if (!probe.firmwareText.isEmpty())
        return Printable(probe.firmwareText);
    return QStringLiteral("(not reported)");
}

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
    int port = 0;
    if (const int status = ParsePortOnly(ctx, arguments, kIdentifyHelp, &port); status >= 0)
        return status;

    Protocol::ProbeResult probe;
    if (const int status = IdentifyLocator(ctx, port, true, &probe); status >= 0)
        return status;
    const LocatorIdentity id = Printable(probe.identity);
    ctx.print(QStringLiteral("Port: %1\nModel: %2\nSerial number: %3\nUser: %4\nFirmware version: %5\n")
                  .arg(port)
                  .arg(id.model, id.serialNo, id.user, FirmwareText(probe)));
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

static int remember(Context &ctx, int port, const QString &serialNo)
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
        return ctx.fail(QStringLiteral("the port list %1 could not be written").arg(Native(path)));
    }
    return -1;
}

int RunScan(Context &ctx, const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption rememberOption(QStringLiteral("remember"));
    parser.addOptions({rememberOption, PaceOption()});
    if (const int status = Parse(ctx, parser, arguments, QString::fromLatin1(kScanHelp)); status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return ctx.usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (const int status = applyPace(ctx, parser); status >= 0)
        return status;

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
            ctx.warn(cannotOpen(port, probePort));
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
    if (parser.isSet(rememberOption)) {
        for (const auto &[port, probe] : found) {
            if (const int status = remember(ctx, port, probe.identity.serialNo); status >= 0)
                return status;
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
    Protocol::ProbeResult probe;
    if (const int status = IdentifyLocator(ctx, port, true, &probe); status >= 0)
        return status;
    SerialPort working;
    if (const int status = OpenWorkingPort(ctx, working, port); status >= 0)
        return status;
    return send(working, probe.identity);
}

static QString who(const LocatorIdentity &identity, int port)
{
    const LocatorIdentity id = Printable(identity);
    return QStringLiteral("%1 %2 (COM%3)").arg(id.model, id.serialNo).arg(port);
}

int RunSetClock(Context &ctx, const QStringList &arguments)
{
    int port = 0;
    if (const int status = ParsePortOnly(ctx, arguments, kSetClockHelp, &port); status >= 0)
        return status;

    return withWorkingPort(ctx, port, [&](SerialPort &working, const LocatorIdentity &id) {
        QDate date = QDate::currentDate();
        if (const int status = SendShortPaced(ctx, working, port, Protocol::SetDateCommand(date)); status >= 0)
            return status;
        // The time is read when it goes out; should midnight have passed
        // while the date went, the new date goes too.
        QDateTime now = QDateTime::currentDateTime();
        if (now.date() != date) {
            date = now.date();
            if (const int status = SendShortPaced(ctx, working, port, Protocol::SetDateCommand(date)); status >= 0)
                return status;
            now = QDateTime::currentDateTime();
        }
        if (const int status = SendShortPaced(ctx, working, port, Protocol::SetTimeCommand(now.time())); status >= 0)
            return status;
        ctx.print(QStringLiteral("Date and time set on %1: %2 %3\n")
                      .arg(who(id, port), date.toString(QStringLiteral("dd/MM/yy")),
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
    QCommandLineParser parser;
    parser.addOptions({PortOption(), PaceOption()});
    if (const int status = Parse(ctx, parser, arguments, QString::fromLatin1(kSetUserHelp)); status >= 0)
        return status;
    const QStringList names = parser.positionalArguments();
    if (names.size() != 1)
        return ctx.usage(names.isEmpty() ? QStringLiteral("no user name given")
                                         : QStringLiteral("one user name; quote a name with blanks"));
    const QString name = names.first();
    if (const QString problem = userNameProblem(name); !problem.isEmpty())
        return ctx.usage(problem);
    int port = 0;
    if (const int status = ReadLinkOptions(ctx, parser, &port); status >= 0)
        return status;

    return withWorkingPort(ctx, port, [&](SerialPort &working, const LocatorIdentity &id) {
        if (const int status = SendShortPaced(ctx, working, port, Protocol::SetUserCommand(name)); status >= 0)
            return status;
        ctx.print(QStringLiteral("User name set on %1: %2\n").arg(who(id, port), name));
        return int(Success);
    });
}

}  // namespace Cli
