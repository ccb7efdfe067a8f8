#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
source "$root/scripts/buildenv.sh"
# Optimised, without debug information: half the build time of RelWithDebInfo on two
# cores (see doc/benchmarks.md); a debugging build is a cmake call of its own.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
