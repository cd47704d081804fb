#!/usr/bin/env bash
# Builds and starts the program with the demonstration locator attached.
# Pass --real to use your own ports folder instead (no simulator).
# Without a display it runs under a virtual X server for a while and leaves
# a screenshot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-deps.sh"
"$root/scripts/build.sh" dev
app="$root/build/src/gui/main/locator-toolkit"
args=(--demo)
if [ "${1:-}" = "--real" ]; then args=(); shift; fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$app" "${args[@]}" "$@"
fi
shot="$root/build/screenshot.png"
echo "No display: running under a virtual X server for 20 s; screenshot: $shot"
xvfb-run -a "$app" "${args[@]}" --screenshot "$shot" --exit-after 20 "$@"
echo "Screenshot saved to $shot"
