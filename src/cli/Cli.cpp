#include "cli/Cli.h"

#include "cli/CliSupport.h"
#include "core/LocatorVersion.h"

#include <QFile>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace Cli {

namespace {

Command g_chart = nullptr;

int runChart(Context &ctx, const QStringList &arguments)
{
    if (!g_chart)
        return ctx.fail(QStringLiteral("charts are drawn by the locator-cli-chart module, which is missing"));
    return g_chart(ctx, arguments);
}

struct Subcommand
{
    const char *name;
    const char *summary;
    int (*run)(Context &, const QStringList &);
    bool gui = false;
};

const Subcommand kSubcommands[] = {
    {"ports", "show the ports folder and where each COM entry points", RunPorts},
    {"identify", "ask the locator on a port who it is", RunIdentify},
    {"scan", "probe ports 1 to 16 and list every locator that answers", RunScan},
    {"transfer", "transfer a locator's records into a new data file", RunTransfer},
    {"set-clock", "set the locator's date and time from this computer", RunSetClock},
    {"set-user", "store a user name in the locator", RunSetUser},
    {"report", "usage per mode from data files", RunReport},
    {"chart", "the usage pie of a month or a day as a JPEG image", runChart, true},
    {"view", "the records of a data file as CSV, sorted as the viewer sorts", RunView},
    {"archive", "the usage archive: import data files once, report usage of a fleet", RunArchive},
    {"sync", "transfer a locator's new records into the usage archive", RunSync},
};

const Subcommand *find(const QString &name)
{
    for (const Subcommand &s : kSubcommands) {
        if (name == QLatin1String(s.name))
            return &s;
    }
    return nullptr;
}

QString overview()
{
    QString text = QStringLiteral("Usage: locator-cli COMMAND [OPTIONS]\n"
                                  "\n"
                                  "The Locator PC Toolkit without its windows.\n"
                                  "\n"
                                  "Commands:\n");
    for (const Subcommand &s : kSubcommands)
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(s.name), -12).arg(QString::fromLatin1(s.summary));
    text += QStringLiteral("\n"
                           "'locator-cli COMMAND --help' describes a command; 'locator-cli --version'\n"
                           "prints the version.\n"
                           "\n"
                           "Port n is the entry COMn of the ports folder ($LOCATOR_PORTS_DIR, or\n"
                           "~/.config/korvex/ports). Without one, COM1-COM8 are /dev/rfcomm0-7\n"
                           "(Bluetooth), COM9-COM12 /dev/ttyUSB0-3 and COM13-COM16 /dev/ttyACM0-3 (USB).\n"
                           "A device you may not open is named with the fix: membership of the group\n"
                           "that owns it, usually dialout.\n"
                           "\n"
                           "Exit status: 0 success, 1 failure (one line on standard error says what\n"
                           "failed), 2 wrong usage.\n");
    return text;
}

}  // namespace

int Run(const QStringList &arguments, Io &io)
{
    Interrupts::instance().reset();
    if (arguments.isEmpty()) {
        Context ctx(QString(), io);
        return ctx.usage(QStringLiteral("no command given"));
    }
    const QString &first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        Context ctx(QString(), io);
        ctx.print(overview());
        return Success;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Context ctx(QString(), io);
        ctx.print(QStringLiteral("%1 %2\n").arg(QLatin1String(ProgramName), QLatin1String(LOCATOR_VERSION_TEXT)));
        return Success;
    }
    const Subcommand *sub = find(first);
    if (!sub) {
        Context ctx(QString(), io);
        return ctx.usage(QStringLiteral("unknown command '%1'").arg(first));
    }
    Context ctx(first, io);
    const int status = sub->run(ctx, arguments.mid(1));
    ctx.endProgress();
    return status;
}

void SetChartCommand(Command run)
{
    g_chart = run;
}

void RequestInterrupt()
{
    Interrupts::instance().request();
}

bool StopsOnInterrupt(const QStringList &arguments)
{
    const QString command = arguments.value(0);
    return command == QLatin1String("transfer") || command == QLatin1String("scan") || command == QLatin1String("sync");
}

bool NeedsGuiApplication(const QStringList &arguments)
{
    const Subcommand *sub = arguments.isEmpty() ? nullptr : find(arguments.first());
    return sub && sub->gui;
}

int RunWithStandardStreams(const QStringList &arguments)
{
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    Io io;
    io.out = &out;
    io.err = &err;
#ifdef Q_OS_UNIX
    io.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
#endif
    const int status = Run(arguments, io);
    out.flush();
    return status;
}

static void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg || qEnvironmentVariableIsSet("LOCATOR_CLI_QT_MESSAGES"))
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void QuietQtMessages()
{
    qInstallMessageHandler(quietMessages);
}

}  // namespace Cli
