#!/usr/bin/env bash
# Builds the Debian package dist/velto_<version>_<arch>.deb from the build folder
# (build/, or the folder given as $1), configured to install under /usr, and checks it
# with lintian, desktop-file-validate and appstreamcli. Exits non-zero when a tool is
# missing (it names the Debian package to install), when the build fails, or when a
# check reports an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
dist=$root/dist

missing=0
need() { # program, Debian package that brings it
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "package: $1 is missing: install the Debian package $2" \
         "(sudo apt-get install $2, or bash scripts/deps.sh)" >&2
    missing=1
  fi
}
need cmake cmake
need cpack cmake
need dpkg dpkg
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need file file
need lintian lintian
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
[ "$missing" -eq 0 ] || exit 1

source "$root/scripts/buildenv.sh"
# The programs look for their data under the prefix they are built for; the package
# installs there.
cmake -S "$root" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build/package-build.log" 2>&1 ||
  { tail -n 40 "$build/package-build.log"; echo "package: build failed (log: $build/package-build.log)" >&2; exit 1; }

staging=$build/cpack
rm -rf "$staging"
(cd "$build" && cpack -G DEB -B "$staging") >"$build/cpack.log" 2>&1 ||
  { tail -n 40 "$build/cpack.log"; echo "package: cpack failed (log: $build/cpack.log)" >&2; exit 1; }
shopt -s nullglob
debs=("$staging"/velto_*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || { echo "package: cpack made ${#debs[@]} packages, not one (log: $build/cpack.log)" >&2; exit 1; }
mkdir -p "$dist"
rm -f "$dist"/velto_*.deb
deb=$dist/$(basename "${debs[0]}")
cp "${debs[0]}" "$deb"

# The checks look at the files as the package holds them.
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
status=0
echo "package: desktop-file-validate"
desktop-file-validate "$contents"/usr/share/applications/*.desktop || status=1
echo "package: appstreamcli validate --no-net"
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml || status=1
echo "package: lintian"
# Errors fail the build; warnings are shown.
lintian --fail-on error "$deb" || status=1
[ "$status" -eq 0 ] || { echo "package: $deb fails its checks" >&2; exit 1; }
echo "package: $deb"
