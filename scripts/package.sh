#!/usr/bin/env bash
# Builds the Debian package: build-package/locator-toolkit_<version>_<arch>.deb
# (a Release build of the programs only, laid out under /usr; no tests or
# benchmarks). Install it with: sudo apt install ./build-package/locator-toolkit_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-deps.sh"
dir="$root/build-package"
start=$(date +%s)
# Debian's hardening flags, as its own packages are built with: stack
# protector, fortified C library calls, relocations read-only and bound at start.
cd "$root"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
ldflags=$(dpkg-buildflags --get LDFLAGS)
"$root/scripts/build.sh" package \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags"
rm -f "$dir"/locator-toolkit_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/locator-toolkit_*.deb)
echo "Package: $deb ($(du -k "$deb" | cut -f1) KiB, built in $(( $(date +%s) - start )) s)"
