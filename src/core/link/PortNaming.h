#pragma once

#include <QString>

// Maps a COM port number to a device. On Windows port n is COMn. Elsewhere
// it is whatever the entry COMn in the ports folder points to; without such
// an entry, ports 1 to 16 stand for the system's serial devices by a fixed
// table, so that a paired or plugged-in locator is found with no link made
// by hand, and a number once remembered in the port list still leads to the
// same kind of device after replugging or a reboot:
//
//   COM1  - COM8    rfcomm0 - rfcomm7   (Bluetooth serial links)
//   COM9  - COM12   ttyUSB0 - ttyUSB3   (USB serial adapters)
//   COM13 - COM16   ttyACM0 - ttyACM3   (USB modem-class devices)
namespace PortNaming {

// $LOCATOR_PORTS_DIR when set, otherwise <AppData>/korvex/ports.
QString PortsFolder();
// Overrides the folder for this process (the demonstration locator uses a private one).
void SetPortsFolder(const QString &folder);

// Where the table's devices live: $LOCATOR_DEVICE_DIR when set, otherwise /dev.
// Tests point it at a temporary folder of pseudo-terminals.
QString DeviceFolder();
// Overrides the device folder for this process.
void SetDeviceFolder(const QString &folder);

// The device name the table gives port n ("rfcomm0"), or empty outside the table.
QString TableDeviceName(int portNumber);

// The device to open for port n, or an empty text if the port does not exist.
QString DevicePathFor(int portNumber);

// Where port n leads for a person reading it: the device an explicit COMn
// entry points to, or the table's device, whether present or not. Empty
// when the number leads nowhere.
QString DeviceShownFor(int portNumber);

// True when `path` exists but this user may not open it for reading and writing.
bool AccessRefused(const QString &path);

// One sentence saying that `path` may not be opened and how to be allowed:
// membership of the group that owns the device (usually dialout).
QString RefusalAdvice(const QString &path);

}  // namespace PortNaming
