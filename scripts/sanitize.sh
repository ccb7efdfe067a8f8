#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer (g++)
# in build-asan/, then the serial component's tests with ThreadSanitizer in build-tsan/.
# Any sanitizer report fails the test that shows it, and so this script.
#   bash scripts/sanitize.sh                       both builds, every test of every tier
#   bash scripts/sanitize.sh asan [ctest options]  only the ASan + UBSan build, for example
#                                                  the tests of some tiers: -L '^(unit|gui)$'
#   bash scripts/sanitize.sh tsan                  only the TSan build
# VELTO_ASAN_DIR and VELTO_TSAN_DIR choose other build folders.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=2
which=${1:-all}
[ $# -gt 0 ] && shift
case $which in
  all | asan | tsan) ;;
  *) echo "sanitize: unknown build $which (asan, tsan)" >&2; exit 2 ;;
esac
[ $# -eq 0 ] || [ "$which" = asan ] || { echo "sanitize: ctest options go with asan only" >&2; exit 2; }

"$root/scripts/deps.sh"
export QT_QPA_PLATFORM=offscreen
export CC=gcc CXX=g++
source "$root/scripts/buildenv.sh"

# Leaks are reported at the exit of every test; the suppression file names only the
# system libraries whose one-time allocations live until the end (fontconfig, Qt's
# platform plugins), never our own code.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:print_summary=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:report_error_type=1"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
# The port tests start helper programs (another user, a lock holder) from a process
# whose event thread runs; the child only execs, which is safe.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0"

configure() { # build folder, options...
  local build=$1
  shift
  # Line tables only (-g1): the reports' stacks name functions, files and lines, at a
  # fraction of the build time of full debug information.
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DVELTO_BENCH=OFF -DVELTO_FUZZ=OFF "${launcher[@]}" "$@" >/dev/null
}

build_quietly() { # build folder, log name, cmake --build arguments...
  local build=$1 log=$1/$2
  shift 2
  if ! cmake --build "$build" -j"$jobs" "$@" >"$log" 2>&1; then
    tail -n 50 "$log"
    echo "sanitize: build failed in $build (log: $log)"
    exit 1
  fi
}

# --- AddressSanitizer + UndefinedBehaviorSanitizer: every test (or those chosen) ----
if [ "$which" != tsan ]; then
  asan=${VELTO_ASAN_DIR:-$root/build-asan}
  echo "sanitize: ASan + UBSan build in $asan"
  start=$(date +%s)
  configure "$asan" -DVELTO_SANITIZE=ON -DVELTO_TSAN=OFF
  build_quietly "$asan" build.log
  echo "sanitize: built in $(( $(date +%s) - start )) s"
  (cd "$asan" && ctest --output-on-failure -j"$jobs" --timeout 600 "$@")
  echo "sanitize: ASan + UBSan tests ${*:+($*) }passed in $(( $(date +%s) - start )) s"
fi
[ "$which" = asan ] && exit 0

# --- ThreadSanitizer: the serial component's tests -------------------------------
# The names are those that serial/CMakeLists.txt registers.
mapfile -t serial_tests < <(sed -n 's/^[[:space:]]*velto_add_test([[:space:]]*\([A-Za-z0-9_]*\).*/\1/p' \
  "$root/serial/CMakeLists.txt")
if [ ${#serial_tests[@]} -eq 0 ]; then
  echo "sanitize: no tests found in serial/CMakeLists.txt"
  exit 1
fi
tsan=${VELTO_TSAN_DIR:-$root/build-tsan}
echo "sanitize: TSan build of ${serial_tests[*]} in $tsan"
start=$(date +%s)
configure "$tsan" -DVELTO_TSAN=ON -DVELTO_SANITIZE=OFF
build_quietly "$tsan" build.log --target "${serial_tests[@]}"
regex="^($(IFS='|'; echo "${serial_tests[*]}"))\$"
(cd "$tsan" && ctest --output-on-failure -j"$jobs" --timeout 600 -R "$regex")
echo "sanitize: TSan serial tests passed in $(( $(date +%s) - start )) s"
