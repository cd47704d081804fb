#pragma once

#include <QByteArray>

#include <functional>

class PacedWriter;
class SerialPort;

// Testing one port for a locator: the probe port is polled, not event
// driven, and the reply is read once, right after the paced commands.
namespace Probe {

// Closes the port if an earlier test left it open, then opens it on
// `number` with the probe settings.
// Returns 0 or the serial layer's open error (8002: no such port).
int OpenProbePort(SerialPort &port, int number);

// Writes "MM" and "#X" paced (one long pause after each character), then,
// with extraPause, one more long pause, and reads what has arrived once;
// `done` gets the text. A port that is not open costs no pause and yields
// nothing. The exchange runs from the event loop; `done` is never called
// from inside this function.
void Exchange(PacedWriter &writer, SerialPort &port, bool extraPause,
              std::function<void(const QByteArray &reply)> done);

}  // namespace Probe
