#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite headless, then builds,
# installs, runs and removes the Debian package (scripts/package-check.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen

"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
cd "$root/build"
ctest --output-on-failure -j2 --timeout 600
bash "$root/scripts/package-check.sh" "$root/build"
bash "$root/scripts/sanitize.sh"
bash "$root/scripts/fuzz.sh"
