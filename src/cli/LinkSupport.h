#pragma once

#include "cli/CliSupport.h"
#include "core/link/Protocol.h"

#include <functional>
#include <optional>

class PacedWriter;
class SerialPort;

// What the subcommands that talk to a locator share: opening its ports,
// the identify exchange and paced sending, with the lines that say why one
// failed. Each follows the exit-status convention of Context.
namespace Cli {

// The identify exchange on the probe port, once, as the windows test a port:
// the probe settings, "MM" and "#X" paced, one read. With extraPause the
// locator gets one more long pause to answer, as a known port's test gives it.
// The probe of the locator that answered; nullopt after saying why none did.
[[nodiscard]] std::optional<Protocol::ProbeResult> IdentifyLocator(Context &ctx, int port, bool extraPause);

// The same exchange for a caller that waits for other things meanwhile: it
// runs from the caller's event loop and `done` gets the probe, with the line
// that says why no locator answered (empty when one did); the probe port is
// closed by then. False, with *failure saying why, when the port could not be
// opened (`done` then never runs). Cancel `writer` to drop the exchange.
using IdentifyDone = std::function<void(const Protocol::ProbeResult &probe, const QString &failure)>;
bool StartIdentify(SerialPort &probePort, PacedWriter &writer, int port, bool extraPause, IdentifyDone done,
                   QString *failure);

// Opens the working port; false after saying why not.
[[nodiscard]] bool OpenWorkingPort(Context &ctx, SerialPort &working, int port);

// Sends `text` paced and returns once its last pause is over; false when a
// character could not be written or the port closed.
bool SendPaced(SerialPort &port, const QByteArray &text, int pauseMs);

// Paced on the working port with the short pause, as the settings and
// by-date commands go; false after saying the port failed.
[[nodiscard]] bool SendShortPaced(Context &ctx, SerialPort &working, int port, const QByteArray &command);

// Why an existing port could not be opened. A device this user may not open
// is named with the fix, since retrying will not help.
QString CannotOpenText(int port, const SerialPort &serial);

// The firmware version a probe reply carries, or a text saying there is none.
QString FirmwareText(const Protocol::ProbeResult &probe);
QString PortName(int port);  // "port 5"

}  // namespace Cli
