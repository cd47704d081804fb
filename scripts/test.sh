#!/usr/bin/env bash
# Builds and runs the whole test suite headless.
# test.sh --sanitize   runs it in a separate AddressSanitizer + UBSan build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-deps.sh"
preset=dev
if [ "${1:-}" = "--sanitize" ]; then
  preset=asan
fi
"$root/scripts/build.sh" "$preset"
cd "$root"
ctest --preset "$preset"
