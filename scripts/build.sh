#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
# Compiler cache: paths relative to the tree, so a fresh clone hits what another built.
export CCACHE_BASEDIR=$root
# With debug information the cache hashes the working folder unless told not to: a
# clone in another folder would then miss every object another clone built.
export CCACHE_NOHASHDIR=1
# The tests' precompiled headers: the cache may take them (their time stamps and the
# definitions they were made with are checked by the compiler).
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Optimised, without debug information: half the build time of RelWithDebInfo on two
# cores (see doc/benchmarks.md); a debugging build is a cmake call of its own.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
