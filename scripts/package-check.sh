#!/usr/bin/env bash
# The package stage of the test command: builds the Debian package from the build
# folder (build/, or $1), installs it on this machine, runs the installed programs and
# removes the package again. Runs as root, or through sudo.
#   - velto-cli --version names the package's version;
#   - velto-cli image of the start-up screen's map file prints the image that the
#     installed simulator starts with;
#   - the installed velto starts offscreen and shows the installed picture;
#   - the plotting library comes with the package and the window finds it;
#   - the manual pages are found, and removing the package leaves no program behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

fail() { echo "package-check: $*" >&2; exit 1; }

"$root/scripts/deps.sh"
if dpkg-query -W -f='${Status}' velto 2>/dev/null | grep -q "install ok installed"; then
  fail "a package velto is installed already; remove it first (apt-get remove velto)"
fi
bash "$root/scripts/package.sh" "$build"
shopt -s nullglob
debs=("$root"/dist/velto_*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fail "expected one package in dist/, found ${#debs[@]}"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)

work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  if dpkg-query -W -f='${Status}' velto 2>/dev/null | grep -q "install ok installed"; then
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq velto >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "package-check: installing $deb"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$deb" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install $deb failed"; }

for f in /usr/bin/velto /usr/bin/velto-cli /usr/bin/velto-ecu-sim /usr/share/velto/velto.jpg; do
  [ -f "$f" ] || fail "$f is not installed"
done
echo "package-check: the plotting library and the licence"
dpkg-deb -f "$deb" Depends | grep -q 'libqcustomplot2\.1-qt6' || fail "the package does not depend on libqcustomplot2.1-qt6"
dpkg-query -W -f='${Status}' libqcustomplot2.1-qt6 2>/dev/null | grep -q "install ok installed" ||
  fail "libqcustomplot2.1-qt6 is not installed with the package"
plotlib=$(ldd /usr/bin/velto | awk '/libQCustomPlotQt6/ { print $3 }')
[ -n "$plotlib" ] && [ -f "$plotlib" ] || fail "/usr/bin/velto does not find libQCustomPlotQt6"
echo "  /usr/bin/velto uses $plotlib"
grep -q '^SPDX-License-Identifier: GPL-3.0-or-later$' /usr/share/doc/velto/copyright ||
  fail "/usr/share/doc/velto/copyright does not name GPL-3.0-or-later"
for page in velto velto-cli velto-ecu-sim; do
  man -w "$page" >/dev/null 2>&1 || fail "man finds no page for $page"
done

# The programs run from a folder of their own, far from the build tree.
cd "$work"
export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 0700 "$XDG_RUNTIME_DIR"

echo "package-check: velto-cli --version"
out=$(/usr/bin/velto-cli --version) || fail "velto-cli --version failed"
echo "  $out"
[[ "$out" == *"$version"* ]] || fail "velto-cli --version does not name version $version"

echo "package-check: velto-ecu-sim and velto-cli image"
/usr/bin/velto-ecu-sim --log "$work/sim.log" --dump-on-exit "$work/sim.img" >"$work/sim.out" &
sim=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
device=$(head -n 1 "$work/sim.out")
[ -c "$device" ] || fail "the simulator printed no device (got '$device')"
echo "  simulator on $device"
kill -TERM "$sim"
wait "$sim" || fail "the simulator ended with status $?"
sim=
[ "$(stat -c %s "$work/sim.img")" -eq 256 ] || fail "the simulator wrote no 256-byte image"
# The simulator starts with the image that the start-up screen uploads.
od -An -v -tx1 -w8 "$work/sim.img" | tr 'a-f' 'A-F' |
  awk '{ line = sprintf("%02d:", NR); for (i = 1; i <= NF; ++i) line = line " " $i; print line }' >"$work/expected"
/usr/bin/velto-cli image "$root/packaging/tests/startup.txt" >"$work/image" ||
  fail "velto-cli image ended with status $?"
diff -u "$work/expected" "$work/image" || fail "velto-cli image differs from the simulator's start-up image"
echo "  32 lines, equal to the simulator's start-up image"

echo "package-check: velto offscreen"
QT_QPA_PLATFORM=offscreen VELTO_GRAB="$work/window.png" timeout 60 /usr/bin/velto ||
  fail "velto ended with status $?"
"$build/app/velto-findpicture" "$work/window.png" /usr/share/velto/velto.jpg | sed 's/^/  /' ||
  fail "the installed window does not show /usr/share/velto/velto.jpg"

echo "package-check: removing the package"
cd "$root"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq velto >"$work/remove.log" 2>&1 ||
  { cat "$work/remove.log"; fail "apt-get purge velto failed"; }
for f in /usr/bin/velto /usr/bin/velto-cli /usr/bin/velto-ecu-sim /usr/share/velto; do
  [ ! -e "$f" ] || fail "$f is left after the package was removed"
done
echo "package-check: $(basename "$deb") built, installed, ran and was removed"
