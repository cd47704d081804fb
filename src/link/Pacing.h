#pragma once

#include <QByteArray>
#include <QStringList>

class SerialPort;

// Commands go out one character at a time with a pause after each, because
// the locator's receiver cannot take them at line speed. The short pause is
// configurable (0 allowed) so tests run fast; the other pauses keep their ratios.
namespace Pacing {

inline constexpr int kDefaultShortPauseMs = 10;

int shortPauseMs();
void setShortPauseMs(int ms);
inline int outputPauseMs() { return 4 * shortPauseMs(); }      // main window's long pause
inline int toolsLongPauseMs() { return 40 * shortPauseMs(); }  // service window's long pause

// Reads LOCATOR_PACE_MS, then "--pace-ms N" / "--pace-ms=N" from the arguments.
void configure(const QStringList &arguments);

// A blocking pause: events are not delivered while it runs.
void pause(int ms);

// Writes each character, lets pending events run, then pauses. Every
// character is tried; false when any of them could not be written.
bool sendPaced(SerialPort &port, const QByteArray &text, int pauseMs);

} // namespace Pacing
