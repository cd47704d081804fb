#pragma once

#include "cli/CliSupport.h"
#include "core/link/Protocol.h"

#include <functional>

class PacedWriter;
class QCommandLineOption;
class SerialPort;

// What the subcommands that talk to a locator share.
namespace Cli {

// --port N and --pace-ms N.
QCommandLineOption PortOption();
QCommandLineOption PaceOption();
// Reads --port (required) and applies --pace-ms. Returns -1 to go on, or the exit status.
int ReadLinkOptions(Context &ctx, const QCommandLineParser &parser, int *port);

// The identify exchange on the probe port, once, as the windows test a port:
// the probe settings, "MM" and "#X" paced, one read. With extraPause the
// locator gets one more long pause to answer, as a known port's test gives it.
// Returns -1 with *probe filled when a locator answered, otherwise the exit status.
int IdentifyLocator(Context &ctx, int port, bool extraPause, Protocol::ProbeResult *probe);

// The same exchange for a caller that waits for other things meanwhile: it
// runs from the caller's event loop and `done` gets the probe, with the line
// that says why no locator answered (empty when one did); the probe port is
// closed by then. False, with *failure saying why, when the port could not be
// opened (`done` then never runs). Cancel `writer` to drop the exchange.
using IdentifyDone = std::function<void(const Protocol::ProbeResult &probe, const QString &failure)>;
bool StartIdentify(SerialPort &probePort, PacedWriter &writer, int port, bool extraPause, IdentifyDone done,
                   QString *failure);

// Opens the working port; returns -1, or the exit status after saying why not.
int OpenWorkingPort(Context &ctx, SerialPort &working, int port);

// Sends `text` paced and returns once its last pause is over; false when a
// character could not be written or the port closed.
bool SendPaced(SerialPort &port, const QByteArray &text, int pauseMs);

// Paced on the working port with the short pause, as the settings and
// by-date commands go. Returns -1, or the exit status when the port failed.
int SendShortPaced(Context &ctx, SerialPort &working, int port, const QByteArray &command);

// The firmware version a probe reply carries, or a text saying there is none.
QString FirmwareText(const Protocol::ProbeResult &probe);
QString PortName(int port);  // "port 5"

}  // namespace Cli
