// locator-cli: thin start-up. The subcommands live in locator_cli; a chart
// is drawn by the locator-cli-chart module, loaded only then.
#include "cli/Cli.h"
#include "core/link/Pacing.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_interruptPipe[2] = {-1, -1};

void onSignal(int)
{
    // Only what is safe in a signal handler: the event loop picks it up.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
}

// Ctrl+C (and a polite kill) reach the running subcommand as an interrupt
// request, so that a transfer can finish its abort exchange.
void catchInterrupts(QObject *owner)
{
    if (::pipe(g_interruptPipe) != 0)
        return;
    for (int fd : g_interruptPipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(g_interruptPipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte;
        if (::read(g_interruptPipe[0], &byte, 1) == 1)
            Cli::RequestInterrupt();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}
}  // namespace
#endif

int main(int argc, char *argv[])
{
    Cli::QuietQtMessages();
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    const QStringList arguments = app->arguments().mid(1);

    if (Cli::NeedsGuiApplication(arguments)) {
        using Entry = int (*)(int, char **);
        Entry entry = nullptr;
        QStringList why;
        const QDir programDir(QCoreApplication::applicationDirPath());
        // Beside the program in the build tree; where the install layout puts it otherwise.
        for (const QString &dir :
             {programDir.path(), programDir.filePath(QStringLiteral(LOCATOR_CHART_MODULE_FROM_BIN))}) {
            QLibrary module(QDir(dir).filePath(QStringLiteral("locator-cli-chart")));
            entry = reinterpret_cast<Entry>(module.resolve("locator_cli_chart_main"));
            if (entry)
                break;
            why << module.errorString();
        }
        if (!entry) {
            std::fprintf(stderr, "locator-cli chart: the chart module cannot be loaded: %s\n",
                         qPrintable(why.join(QStringLiteral("; "))));
            return 1;
        }
        app.reset();  // the module runs a QApplication of its own
        return entry(argc, argv);
    }

    Pacing::Configure({});  // LOCATOR_PACE_MS; --pace-ms is an option of the link commands
#ifdef Q_OS_UNIX
    // Only these stop cleanly on request; Ctrl+C ends any other at once.
    if (Cli::StopsOnInterrupt(arguments))
        catchInterrupts(app.get());
#endif
    return Cli::RunWithStandardStreams(arguments);
}
