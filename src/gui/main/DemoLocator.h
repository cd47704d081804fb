#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace sim {
class LocatorSimulator;
}

// The demonstration locator of "--demo": a simulated unit on a pseudo-terminal
// that appears as COM5 in a private ports folder, so Scan, transfers, the
// live monitor and the settings commands can be tried without hardware (the
// system's serial devices are left out of the port table meanwhile). The
// port list is kept in the same private folder, so the user's own list never
// learns of a locator that exists only for this run.
class DemoLocator
{
public:
    static constexpr int kPort = 5;

    DemoLocator();
    ~DemoLocator();
    DemoLocator(const DemoLocator &) = delete;
    DemoLocator &operator=(const DemoLocator &) = delete;

    // Must run before the main window is built: it redirects where the port list is found.
    bool start(QString *error);
    void stop();
    bool running() const;
    QString portsFolder() const;
    // Where the private folder is made: the runtime folder when there is one.
    static QString baseFolder();

private:
    // Made by start() only, in the user's runtime folder (cleared at logout,
    // so a killed run leaves nothing lasting behind).
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<sim::LocatorSimulator> m_sim;
};
