#pragma once

#include <QString>

// Maps a COM port number to a device. On Windows port n is COMn. Elsewhere
// it is whatever the entry COMn in the ports folder points to.
namespace PortNaming {

// $LOCATOR_PORTS_DIR when set, otherwise <AppData>/korvex/ports.
QString portsFolder();
// Overrides the folder for this process (the demonstration locator uses a private one).
void setPortsFolder(const QString &folder);

// The device to open for port n, or an empty text if the port does not exist.
QString devicePathFor(int portNumber);

} // namespace PortNaming
