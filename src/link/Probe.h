#pragma once

#include <QByteArray>

class SerialPort;

// Testing one port for a locator: the probe port is polled, not event
// driven, and the reply is read once, right after the paced commands.
namespace Probe {

// Configures the port with the probe settings and opens it on `number`.
// Returns 0 or the serial layer's open error (8002: no such port).
int OpenProbePort(SerialPort &port, int number);

// Writes "MM" and "#X" paced (one long pause after each character), then,
// with extraPause, one more long pause; reads what has arrived once. A port
// that is not open costs no pause and yields nothing.
QByteArray Exchange(SerialPort &port, bool extraPause);

} // namespace Probe
