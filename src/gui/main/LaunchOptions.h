#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The program's command line (read with QCommandLineParser):
//   --demo                 talk to a simulated locator instead of hardware
//   --pace-ms MS           the short pause between command characters
//   --fleet [--database DB] open the Fleet window (on that archive) instead of the main window
//   --screenshot PATH      save a picture of the window opened once it has settled
//   --exit-after SECONDS   end the program after that time (for unattended runs)
//   --help, --version      answered without opening a window
struct LaunchOptions
{
    bool demo = false;
    bool fleet = false;
    QString database;  // with --fleet: the archive, as locator-cli's --database takes it
    int paceMs = -1;  // negative: LOCATOR_PACE_MS or the default
    QString screenshotPath;
    double exitAfterSeconds = -1;  // negative: run until the user exits
    bool help = false;
    bool version = false;
    QString error;  // set when the arguments could not be read

    // arguments: as the program got them, its own name first.
    static LaunchOptions parse(const QStringList &arguments);
    // The program's name and version for settings and messages. No display name is set:
    // the window system would append it to every caption.
    static void nameApplication();
    // The text --help prints. Needs a QCoreApplication (for the program's name).
    static QString helpText();
    // What --version prints.
    static QString versionText();

    // Arms the screenshot and exit timers for the window shown.
    void schedule(QWidget *mainWindow) const;

    static constexpr int kSettleMs = 1500;  // layout, first paints and demo start-up
};
