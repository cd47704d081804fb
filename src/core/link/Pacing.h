#pragma once

#include <QByteArray>
#include <QStringList>

// Commands go out one character at a time with a pause after each, because
// the locator's receiver cannot take them at line speed. The short pause is
// configurable (0 allowed) so tests run fast; the other pauses keep their ratios.
// PacedWriter does the sending.
namespace Pacing {

inline constexpr int kDefaultShortPauseMs = 10;

int ShortPauseMs();
void SetShortPauseMs(int ms);
inline int OutputPauseMs()
{
    return 4 * ShortPauseMs();
}  // main window's long pause
inline int ToolsLongPauseMs()
{
    return 40 * ShortPauseMs();
}  // service window's long pause

// Reads LOCATOR_PACE_MS, then "--pace-ms N" / "--pace-ms=N" from the arguments.
void Configure(const QStringList &arguments);

}  // namespace Pacing
