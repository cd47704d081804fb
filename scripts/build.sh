#!/usr/bin/env bash
# build.sh [PRESET] [extra cmake args...]   (presets: dev, asan, fuzz, package; default dev)
# Configures with the preset from CMakePresets.json and builds every target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-dev}
shift || true
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cd "$root"
cmake --preset "$preset" "${launcher[@]}" "$@" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
