#include "gui/main/LaunchOptions.h"

#include "core/LocatorVersion.h"
#include "gui/common/Interaction.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("Attach the demonstration locator, a simulated unit on port 5, so that "
                                           "Scan, transfers and the live monitor work with no hardware.")};
    QCommandLineOption pace{QStringLiteral("pace-ms"),
                            QStringLiteral("The short pause after each command character, in milliseconds "
                                           "(default 10, or $LOCATOR_PACE_MS). 0 is allowed."),
                            QStringLiteral("MS")};
    QCommandLineOption fleet{QStringLiteral("fleet"),
                             QStringLiteral("Open the Fleet window (usage of every locator in the usage archive) "
                                            "instead of the main window.")};
    QCommandLineOption database{QStringLiteral("database"),
                                QStringLiteral("With --fleet: the archive, an SQLite file or a PostgreSQL connection "
                                               "string (default: the one chosen in the Fleet window's Settings, "
                                               "else $LOCATOR_ARCHIVE, else the per-user file)."),
                                QStringLiteral("DB")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the window opened to PATH once it has settled."),
                                  QStringLiteral("PATH")};
    QCommandLineOption exitAfter{QStringLiteral("exit-after"),
                                 QStringLiteral("End the program after SECONDS (for unattended runs)."),
                                 QStringLiteral("SECONDS")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Korvex Locator PC Toolkit: connect to a cable locator over its serial link (Bluetooth or USB), "
            "transfer its usage records into data files, set its clock and user, and analyse the files.\n"
            "Port n is the entry COMn of the ports folder ($LOCATOR_PORTS_DIR, or ~/.config/korvex/ports); "
            "without one, COM1-COM8 are /dev/rfcomm0-7, COM9-COM12 /dev/ttyUSB0-3 and COM13-COM16 "
            "/dev/ttyACM0-3."));
        parser.addOptions({demo, fleet, database, pace, screenshot, exitAfter});
    }
};

}  // namespace

void LaunchOptions::nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("locator-toolkit"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LOCATOR_VERSION_TEXT));
}

LaunchOptions LaunchOptions::parse(const QStringList &arguments)
{
    LaunchOptions o;
    Parser p;
    const bool ok = p.parser.parse(arguments);
    // --help and --version are answered even beside an option this
    // program does not know (Qt's own, read later by QApplication).
    o.help = p.parser.isSet(p.help);
    o.version = p.parser.isSet(p.version);
    if (!ok) {
        o.error = p.parser.errorText();
        return o;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        o.error = QStringLiteral("unexpected argument '%1'").arg(p.parser.positionalArguments().first());
        return o;
    }
    o.demo = p.parser.isSet(p.demo);
    o.fleet = p.parser.isSet(p.fleet);
    if (p.parser.isSet(p.database)) {
        o.database = p.parser.value(p.database);
        if (!o.fleet)
            o.error = QStringLiteral("--database goes with --fleet");
        else if (o.database.isEmpty())
            o.error = QStringLiteral("--database needs an archive");
    }
    if (p.parser.isSet(p.pace)) {
        bool valid = false;
        const int ms = p.parser.value(p.pace).toInt(&valid);
        if (!valid || ms < 0)
            o.error = QStringLiteral("--pace-ms needs a whole number of milliseconds");
        else
            o.paceMs = ms;
    }
    if (p.parser.isSet(p.screenshot)) {
        o.screenshotPath = p.parser.value(p.screenshot);
        if (o.screenshotPath.isEmpty())
            o.error = QStringLiteral("--screenshot needs a file name");
    }
    if (p.parser.isSet(p.exitAfter)) {
        bool valid = false;
        const double s = p.parser.value(p.exitAfter).toDouble(&valid);
        if (!valid || s < 0)
            o.error = QStringLiteral("--exit-after needs a number of seconds");
        else
            o.exitAfterSeconds = s;
    }
    return o;
}

QString LaunchOptions::helpText()
{
    Parser p;
    return p.parser.helpText();
}

QString LaunchOptions::versionText()
{
    return QStringLiteral("locator-toolkit ") + QStringLiteral(LOCATOR_VERSION_TEXT) + QLatin1Char('\n');
}

void LaunchOptions::schedule(QWidget *mainWindow) const
{
    // Shared between the two timers: an early exit still leaves its picture.
    auto pending = std::make_shared<QString>(screenshotPath);
    QPointer<QWidget> window(mainWindow);
    auto takeShot = [pending, window] {
        if (pending->isEmpty() || !window)
            return;
        const QString path = *pending;
        pending->clear();
        if (!window->grab().save(path))
            std::fprintf(stderr, "locator-toolkit: could not save the screenshot to %s\n",
                         qPrintable(QDir::toNativeSeparators(path)));
    };
    if (!pending->isEmpty())
        QTimer::singleShot(kSettleMs, mainWindow, takeShot);
    if (exitAfterSeconds >= 0) {
        QTimer::singleShot(int(exitAfterSeconds * 1000), mainWindow, [takeShot] {
            takeShot();
            Interaction::current().endProgram(0);
        });
    }
}
