#!/usr/bin/env bash
# Checks the built Debian package: Debian's own checker (lintian) must find no
# error and no warning in it (its informational notes are shown, not fatal);
# then as a user would meet it: installs it with apt (which must pull in its
# Qt libraries), validates its software-centre metadata, runs the installed
# programs from their installed paths, then purges it and checks that none of
# its files is left. Needs root or sudo; CI runs it after scripts/package.sh.
#   check-package.sh [PATH.deb]   (default: build-package/locator-toolkit_*.deb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-$(ls "$root"/build-package/locator-toolkit_*.deb)}
deb=$(realpath "$deb")
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }
step() { echo "== $*"; }

app_id=org.example.locator_toolkit
for tool in lintian appstreamcli; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup-deps.sh installs it)"
done

step "lintian (fails on errors and warnings)"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian found errors or warnings in the package"

step "install $deb"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb" >"$work/apt-install.log" \
  || { cat "$work/apt-install.log"; fail "apt could not install the package"; }
dpkg -L locator-toolkit >"$work/files"
echo "$(wc -l <"$work/files") paths; installed size $(dpkg-query -W -f='${Installed-Size}' locator-toolkit) KiB"

# A user's shell, not the build tree: a scratch home, no display yet.
export HOME="$work/home"
mkdir -p "$HOME"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM LOCATOR_PORTS_DIR LOCATOR_DEVICE_DIR
cd "$work"

metainfo=/usr/share/metainfo/$app_id.metainfo.xml
for f in /usr/bin/locator-toolkit /usr/bin/locator-cli /usr/share/applications/$app_id.desktop \
         /usr/share/icons/hicolor/scalable/apps/locator-toolkit.svg "$metainfo" \
         /usr/share/man/man1/locator-toolkit.1.gz /usr/share/man/man1/locator-cli.1.gz \
         /usr/share/doc/locator-toolkit/copyright /usr/share/doc/locator-toolkit/changelog.gz \
         /usr/lib/systemd/user/locator-sync.service; do
  grep -qx "$f" "$work/files" || fail "$f is not in the package"
done
grep -q '/locator-cli-chart\.so$' "$work/files" || fail "the chart module is not in the package"
grep -qx 'ExecStart=/usr/bin/locator-cli sync --watch --known' /usr/lib/systemd/user/locator-sync.service \
  || fail "the sync service does not run the installed locator-cli"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no /usr/lib/systemd/user/locator-sync.service || fail "systemd-analyze rejects the sync service"
fi
if grep -Eq 'locator-sim|bench_|/test_|fuzz' "$work/files"; then
  fail "simulator, benchmark or test files are installed: $(grep -E 'locator-sim|bench_|/test_|fuzz' "$work/files")"
fi
[ "$(command -v locator-cli)" = /usr/bin/locator-cli ] || fail "locator-cli is not the installed one"

step "locator-cli --version, locator-toolkit --version and --help (no display)"
locator-cli --version | grep -Eq '^locator-cli [0-9]+\.[0-9]+\.[0-9]{3}$' || fail "locator-cli --version"
locator-toolkit --version | grep -Eq '^locator-toolkit [0-9]+\.[0-9]+\.[0-9]{3}$' || fail "locator-toolkit --version"
locator-toolkit --help | grep -q -- '--demo' || fail "locator-toolkit --help"
zcat /usr/share/man/man1/locator-cli.1.gz >"$work/locator-cli.1"
# Every command the program lists has its section in the page, with every
# option its --help names.
commands=$(locator-cli --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "locator-cli --help lists no commands"
for c in $commands; do
  grep -qxF ".SS ${c//-/\\-}" "$work/locator-cli.1" || fail "the manual page of locator-cli has no section for $c"
  for o in $(locator-cli "$c" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "${o//-/\\-}" "$work/locator-cli.1" || fail "the manual page of locator-cli lacks $c $o"
  done
done

step "software-centre metadata"
appstreamcli validate --no-net "$metainfo" || fail "$metainfo is not valid AppStream metadata"
# The package's own tree: the metadata must find the menu entry it launches.
mkdir "$work/tree"
dpkg-deb -x "$deb" "$work/tree"
appstreamcli validate-tree --no-net "$work/tree" >"$work/validate-tree.log" \
  || { cat "$work/validate-tree.log"; fail "the metadata and the menu entry do not belong together"; }

step "locator-cli chart (the installed module)"
printf '%s\r\n' \
  '// Date,Time,Mode,Frequency,Measurement,Depth,Signal Strength' \
  '#DABOB_____________________________FW1.23_HWB2_____LOC2000___001234' \
  '07/03/26,10:00:00,A,33KHz,D,1.25,17' \
  '07/03/26,10:00:01,T,33KHz,D,1.25,17' \
  '07/03/26,10:00:02,R,33KHz,D,1.25,17' >"$work/usage.csv"
printf '\032' >>"$work/usage.csv"
locator-cli report "$work/usage.csv" --month 03/2026 | grep -q 'Total        0 Hrs 0 Mins 3 Secs' \
  || fail "locator-cli report"
locator-cli chart "$work/usage.csv" --month 03/2026 --out "$work/chart.jpg"
[ "$(head -c 3 "$work/chart.jpg" | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "the chart is not a JPEG image"

step "locator-toolkit --demo under a virtual display"
xvfb-run -a locator-toolkit --demo --exit-after 6 --screenshot "$work/demo.png" \
  || fail "locator-toolkit --demo did not end cleanly"
[ -s "$work/demo.png" ] || fail "the demo run left no screenshot"

step "purge"
cd /
DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq locator-toolkit >/dev/null
left=()
while read -r path; do
  # Shared folders (/usr/bin, ...) stay; anything of ours must not.
  if [ -e "$path" ] && { [ ! -d "$path" ] || [[ "$path" == *locator* ]]; }; then
    left+=("$path")
  fi
done <"$work/files"
((${#left[@]} == 0)) || fail "left after purge: ${left[*]}"
dpkg-query -W locator-toolkit >/dev/null 2>&1 && fail "the package is still known to dpkg"
echo "check-package: all checks passed"
