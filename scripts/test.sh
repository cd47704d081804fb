#!/usr/bin/env bash
# Builds and runs the whole test suite headless.
# test.sh --sanitize   runs it in a separate AddressSanitizer + UBSan build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-deps.sh"
dir="$root/build"
extra=()
if [ "${1:-}" = "--sanitize" ]; then
  dir="$root/build-asan"
  extra=(-DLOCATOR_SANITIZE=ON -DLOCATOR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
fi
"$root/scripts/build.sh" "$dir" "${extra[@]}"
export QT_QPA_PLATFORM=offscreen
cd "$dir"
ctest --output-on-failure -j2 --timeout 600
