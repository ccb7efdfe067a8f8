#!/usr/bin/env bash
# The package stage of the test command: builds the Debian package from the build
# folder (build/, or $1), installs it, runs the installed programs and removes the
# package again. Runs as root, or through sudo.
#   - velto-cli --version names the package's version;
#   - velto-cli image of the start-up screen's map file prints the image that the
#     installed simulator starts with;
#   - the installed velto starts offscreen and shows the installed picture;
#   - the plotting library comes with the package and the window finds it;
#   - the manual pages are found, and removing the package leaves no program behind.
# The install, the runs and the removal happen in a throwaway root: a mount namespace
# of its own in which /usr, /etc and /var are overlays on a temporary file system, so
# that a velto the user has installed (the README's install section) stays as it is and
# nothing the check does reaches the machine. Where the system allows no such
# namespace (no unshare or overlay file system), the check installs on the machine
# itself, and refuses to when a velto is installed there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

fail() { echo "package-check: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' velto 2>/dev/null | grep -q "install ok installed"; }
# What dpkg knows of an installed velto and the checksums of its files.
fingerprint() {
  dpkg-query -W -f='${Package} ${Version} ${Status}\n' velto
  dpkg-query -L velto | sort | while read -r f; do [ -f "$f" ] && [ ! -L "$f" ] && md5sum "$f"; done
  true
}

if [ "${1:-}" = --in-throwaway-root ]; then
  # Inside the mount namespace (as root): /usr, /etc and /var become overlays whose
  # changes go to a temporary file system that ends with the namespace.
  build=$2 deb=$3 work=$4
  mount -t tmpfs -o mode=0755 velto-check "$work" 2>/dev/null || exit 3
  for d in usr etc var; do
    mkdir -p "$work/$d.changes" "$work/$d.overlay"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/$d.changes,workdir=$work/$d.overlay" "/$d" 2>/dev/null ||
      exit 3
  done
  mkdir "$work/run"
  work=$work/run
  if installed; then
    echo "package-check: removing the installed velto $(dpkg-query -W -f='${Version}' velto) in the throwaway root"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velto >"$work/purge.log" 2>&1 ||
      { cat "$work/purge.log"; fail "apt-get purge velto failed in the throwaway root"; }
  fi
  sudo=()
else
  build=${1:-$root/build}
  "$root/scripts/deps.sh"
  bash "$root/scripts/package.sh" "$build"
  shopt -s nullglob
  debs=("$root"/dist/velto_*.deb)
  shopt -u nullglob
  [ ${#debs[@]} -eq 1 ] || fail "expected one package in dist/, found ${#debs[@]}"
  deb=${debs[0]}

  before=
  installed && before=$(fingerprint)
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  status=0
  if command -v unshare >/dev/null && "${sudo[@]}" unshare --mount --propagation private true 2>/dev/null; then
    "${sudo[@]}" unshare --mount --propagation private bash "$0" --in-throwaway-root "$build" "$deb" "$scratch" ||
      status=$?
  else
    status=3
  fi
  if [ "$status" -ne 3 ]; then
    if [ -n "$before" ]; then
      [ "$(fingerprint)" = "$before" ] || fail "the velto installed on this machine changed during the check"
      echo "package-check: the velto installed on this machine ($(dpkg-query -W -f='${Version}' velto)) is as it was"
    elif installed; then
      fail "the check left a velto installed on this machine"
    fi
    exit "$status"
  fi
  # No throwaway root: the check installs on the machine itself.
  echo "package-check: no mount namespace with overlays here; installing on this machine"
  installed && fail "a package velto is installed already and this system allows no throwaway root" \
    "(unshare, overlay file system); remove it first (apt-get remove velto)"
  work=$scratch
fi
version=$(dpkg-deb -f "$deb" Version)

sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  if [ -z "${scratch:-}" ]; then return; fi
  # Installed on the machine itself: removed again.
  if installed; then
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq velto >/dev/null || true
  fi
  rm -rf "$scratch"
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
plotlib=$(ldd /usr/bin/velto | awk '/libQCustomPlotQt6/ { print $3 }') || true
[ -n "$plotlib" ] && [ -f "$plotlib" ] || fail "/usr/bin/velto does not find libQCustomPlotQt6"
echo "  /usr/bin/velto uses $plotlib"
grep -q '^SPDX-License-Identifier: GPL-3.0-or-later$' /usr/share/doc/velto/copyright ||
  fail "/usr/share/doc/velto/copyright does not name GPL-3.0-or-later"
for page in velto velto-cli velto-ecu-sim; do
  man -w "$page" >/dev/null 2>&1 || fail "man finds no page for $page"
done

# The programs run from a folder of their own, far from the build tree, with settings
# of their own (the user's stay as they are).
cd "$work"
export XDG_RUNTIME_DIR=$work/xdg XDG_CONFIG_HOME=$work/config
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
