#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test headless (all the
# tiers: unit, gui, e2e, slow) and then builds, installs, runs and removes the Debian
# package (scripts/package-check.sh). Prints each stage's time. The sanitizer builds and
# the fuzz smoke run in CI after it (.ci/run).
#   bash scripts/test.sh                  everything
#   bash scripts/test.sh -L unit          only the tests of a tier (ctest's options), no package
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen
source "$root/scripts/stages.sh"

# Four tests at a time on two cores: most of the suite's time is end-to-end tests that
# wait on the simulator's clock and the line's pace, with the processor mostly idle.
run_tests() {
  cd "$root/build"
  ctest --output-on-failure -j4 --timeout 600 "$@"
}

stage deps "$root/scripts/deps.sh"
# Built for the prefix that the package installs to, as scripts/package.sh configures
# it: the package stage then builds nothing again (the window's library names its data
# folder, and a new prefix would compile it once more).
stage build "$root/scripts/build.sh" "$root/build" -DCMAKE_INSTALL_PREFIX=/usr
stage tests run_tests "$@"
if [ $# -eq 0 ]; then
  stage package bash "$root/scripts/package-check.sh" "$root/build"
fi
stages_summary 12
