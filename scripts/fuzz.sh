#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# them. The committed seeds in fuzz/corpus/<target> are copied to a working
# corpus under the build folder, so a run never changes the repository; an
# input that breaks a target is left in build-fuzz/artifacts/<target>/.
#
#   scripts/fuzz.sh                   list the targets
#   scripts/fuzz.sh TARGET [SECONDS]  run one target (default 60 s)
#   scripts/fuzz.sh all [SECONDS]     run every target in turn, SECONDS each
#   extra libFuzzer options: FUZZ_ARGS="-max_len=65536"
# Fails (after running the rest) when any target breaks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
"$root/scripts/setup-deps.sh" --fuzz

(cd "$root" && cmake --preset fuzz -B "$dir" >/dev/null)
targets=()
for seeds in "$root"/fuzz/corpus/*/; do
  t=$(basename "$seeds")
  grep -q "locator_fuzz_target($t " "$root/fuzz/targets.cmake" && targets+=("$t")
done

if [ $# -eq 0 ]; then
  printf '%s\n' "${targets[@]}"
  exit 0
fi
what=$1
seconds=${2:-60}
run=()
if [ "$what" = all ]; then run=("${targets[@]}"); else run=("$what"); fi

cmake --build "$dir" -j"$(nproc)" --target "${run[@]}"
broken=()
for t in "${run[@]}"; do
  work="$dir/corpus/$t"
  artifacts="$dir/artifacts/$t"
  mkdir -p "$work" "$artifacts"
  cp -n "$root/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  echo "== $t for ${seconds}s"
  # Leak checking stays on: the targets free what they allocate. A smaller
  # quarantine reuses freed memory sooner: fresh pages cost more than the
  # readers themselves and cut the rate tenfold.
  if ! ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16 "$dir/fuzz/$t" "$work" "${dict[@]}" \
    -max_total_time="$seconds" -artifact_prefix="$artifacts/" -print_final_stats=1 ${FUZZ_ARGS:-}; then
    broken+=("$t")
  fi
done
if [ ${#broken[@]} -gt 0 ]; then
  echo "fuzz.sh: broken: ${broken[*]} (inputs in $dir/artifacts/<target>/)" >&2
  exit 1
fi
