#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the headless run need,
# when they are missing. Safe to run again.
set -euo pipefail
# setup-deps.sh --fuzz   also installs clang and its libFuzzer (scripts/fuzz.sh).
# dpkg-dev (dpkg-shlibdeps, dpkg-buildflags), help2man, perl and gzip: the
# package and its manual pages; lintian and appstream (appstreamcli): its checks.
pkgs=(cmake g++ make ninja-build qt6-base-dev qt6-serialport-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
      libgl-dev xvfb xauth dpkg-dev help2man perl gzip lintian appstream clang-format
      # The usage archive: Qt SQL's SQLite and PostgreSQL drivers, the SQLite C
      # API for its import, libpq for its PostgreSQL import (COPY), and a
      # PostgreSQL server the tests start themselves.
      libqt6sql6-sqlite libqt6sql6-psql libsqlite3-dev sqlite3 libpq-dev pkg-config postgresql postgresql-common
      # The Fleet window keeps the archive's password in the desktop's keyring.
      qtkeychain-qt6-dev)
if [ "${1:-}" = "--fuzz" ]; then
  pkgs+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
