#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Command-line switches of the program beyond the pacing ones:
//   --demo                 talk to a simulated locator instead of hardware
//   --screenshot PATH      save a picture of the main window once it has settled
//   --exit-after SECONDS   end the program after that time (for unattended runs)
struct LaunchOptions
{
    bool demo = false;
    QString screenshotPath;
    double exitAfterSeconds = -1;  // negative: run until the user exits
    QString error;                 // set when the arguments could not be read

    static LaunchOptions parse(const QStringList &arguments);
    // The program's name for settings and messages. No display name is set:
    // the window system would append it to every caption.
    static void nameApplication();
    // Arms the screenshot and exit timers for the shown main window.
    void schedule(QWidget *mainWindow) const;

    static constexpr int kSettleMs = 1500;  // layout, first paints and demo start-up
};
