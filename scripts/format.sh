#!/usr/bin/env bash
# format.sh           formats every tracked C++ file with the project's .clang-format
# format.sh --check   changes nothing; lists the files that differ and fails if any does
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || { echo "format.sh: clang-format is missing (scripts/setup-deps.sh installs it)" >&2; exit 2; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.h.in')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "not formatted: $f"
      bad=1
    fi
  done
  [ "$bad" -eq 0 ] || echo "format.sh: run scripts/format.sh to format these files" >&2
  exit "$bad"
fi
clang-format --style=file -i "${files[@]}"
