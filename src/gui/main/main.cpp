#include "core/link/Pacing.h"
#include "gui/fleet/frmFleet.h"
#include "gui/main/Artwork.h"
#include "gui/main/LaunchOptions.h"
#include "gui/main/frmMain.h"
#ifdef LOCATOR_HAVE_DEMO
#include "gui/main/DemoLocator.h"
#endif

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

QStringList rawArguments(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

// --help and --version print and end before any window system is touched,
// so that they work with no display (and build the manual page).
bool answeredWithoutWindows(int argc, char *argv[], int *status)
{
    const QStringList arguments = rawArguments(argc, argv);
    const LaunchOptions early = LaunchOptions::parse(arguments);
    // With no window system to be had, a wrong option is told as such rather
    // than as a failure to open the display. (Where there is one, Qt's own
    // options are taken out first, and the options are read again below.)
    const bool noWindowSystem = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !arguments.contains(QStringLiteral("-platform"))
        && !arguments.contains(QStringLiteral("--platform"));
    if (!early.help && !early.version && !(noWindowSystem && !early.error.isEmpty()))
        return false;
    if (!early.help && !early.version) {
        std::fprintf(stderr, "locator-toolkit: %s\n(locator-toolkit --help lists the options)\n",
                     qPrintable(early.error));
        *status = 2;
        return true;
    }
    QCoreApplication app(argc, argv);
    LaunchOptions::nameApplication();
    const QString text = early.help ? LaunchOptions::helpText() : LaunchOptions::versionText();
    std::fputs(qPrintable(text), stdout);
    *status = 0;
    return true;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (int status = 0; answeredWithoutWindows(argc, argv, &status))
        return status;

    QApplication app(argc, argv);
    LaunchOptions::nameApplication();
    QApplication::setWindowIcon(Artwork::WindowIcon());
    // The installed menu entry's name: Wayland shells match the window to it
    // (its icon and name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.locator_toolkit"));
    // QApplication has taken its own options (-platform, ...) out by now.
    const LaunchOptions options = LaunchOptions::parse(QApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "locator-toolkit: %s\n(locator-toolkit --help lists the options)\n",
                     qPrintable(options.error));
        return 2;
    }
    Pacing::Configure({});  // LOCATOR_PACE_MS
    if (options.paceMs >= 0)
        Pacing::SetShortPauseMs(options.paceMs);

#ifdef LOCATOR_HAVE_DEMO
    DemoLocator demo;  // outlives the window, which closes its ports first
    QString error;
    if (options.demo && !demo.start(&error)) {
        std::fprintf(stderr, "locator-toolkit: %s\n", qPrintable(error));
        return 1;
    }
#else
    if (options.demo) {
        std::fprintf(stderr, "locator-toolkit: this build has no demonstration locator\n");
        return 1;
    }
#endif

    if (options.fleet) {
        frmFleet fleet(options.database);
        fleet.show();
        options.schedule(&fleet);
        return app.exec();
    }
    frmMain window;
    window.show();
    options.schedule(&window);
    return app.exec();
}
