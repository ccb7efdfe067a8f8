#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/, replays the kept regression
# inputs (fuzz/regressions/<target>/) and the seeds, each through the check that a
# target's reused core runs it as a new one would (VELTO_FUZZ_RESET_CHECK, see
# fuzz/corebench.h; the corpus goes through it after the run), and runs each target
# for FUZZ_SECONDS seconds (default 20) from the seeds that make_seeds writes, FUZZ_JOBS
# targets side by side (one a processor by default). Prints the executions per target
# and per second; exits non-zero on any crash, sanitizer report, leak or hang.
#   bash scripts/fuzz.sh --minutes 10          the long run: every target for 10 minutes
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh      the same in seconds
# The targets and their largest inputs are listed in fuzz/targets.txt.
# VELTO_FUZZ_DIR chooses another build folder.
# A failing input is kept in build-fuzz/fuzz/artifacts/<target>/: copy it into
# fuzz/regressions/<target>/ so that every later run replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELTO_FUZZ_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) seconds=$(( ${2:?--minutes needs a number} * 60 )); shift 2 ;;
    *) echo "fuzz: unknown option $1 (--minutes N)" >&2; exit 2 ;;
  esac
done
targets=()
declare -A maxlen=()
while read -r name len _; do
  case $name in fuzz_*) targets+=("$name"); maxlen[$name]=$len ;; esac
done <"$root/fuzz/targets.txt"

"$root/scripts/deps.sh"
export QT_QPA_PLATFORM=offscreen
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
# Most of an input's time went to the sanitizer's allocator, not to the parsing: with
# the default 256 MB quarantine every allocation lands on fresh pages (a page fault and
# a fill each), and every allocation records its stack. A 16 MB quarantine still holds
# far more than one input frees; the timed runs record no allocation stack (reports
# keep the stack of the bad access), and a failing input is run once more with the
# sanitizer's defaults so that its report shows where the memory came from too.
fast_asan="quarantine_size_mb=16:malloc_context_size=0:max_malloc_fill_size=0"
export ASAN_OPTIONS=$fast_asan

echo "fuzz: building in $build"
source "$root/scripts/buildenv.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" "${launcher[@]}" \
  -DVELTO_FUZZ=ON -DVELTO_BENCH=OFF -DVELTO_SANITIZE=OFF -DVELTO_TSAN=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" make_seeds >"$build/fuzz-build.log" 2>&1 ||
  { tail -n 50 "$build/fuzz-build.log"; echo "fuzz: build failed (log: $build/fuzz-build.log)"; exit 1; }

work=$build/fuzz
rm -rf "$work/seeds"
"$work/make_seeds" "$work/seeds"

# One target: the replay, the timed run and the corpus check; prints its lines and
# fails when the target does.
run_target() {
  local t=$1 bin log status start elapsed runs inputs seeds a regressions
  bin=$work/$t
  log=$work/$t.log
  mkdir -p "$work/corpus/$t" "$work/artifacts/$t"

  shopt -s nullglob
  regressions=("$root/fuzz/regressions/$t"/*)
  shopt -u nullglob
  # The regression inputs and the seeds, each run on the target's reused core twice and
  # on one built for it alone: the three runs must leave the same behind.
  if ! ASAN_OPTIONS= VELTO_FUZZ_RESET_CHECK=1 "$bin" -timeout=10 -rss_limit_mb=2048 \
      "${regressions[@]}" "$work/seeds/$t"/* >"$work/$t.replay.log" 2>&1; then
    grep -E '\*\*\* velto fuzz|ERROR|SUMMARY|runtime error|Running:' "$work/$t.replay.log" | tail -n 20 || true
    echo "fuzz: $t: a seed or regression input fails (log: $work/$t.replay.log)"
    return 1
  fi
  echo "fuzz: $t: ${#regressions[@]} regression inputs and the seeds pass, the reset check included"

  start=$(date +%s)
  status=0
  "$bin" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -max_len="${maxlen[$t]}" -artifact_prefix="$work/artifacts/$t/" \
    "$work/corpus/$t" "$work/seeds/$t" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  inputs=$(find "$work/corpus/$t" -type f | wc -l)
  seeds=$(find "$work/seeds/$t" -type f | wc -l)
  echo "fuzz: $t: ${runs:-?} executions in ${elapsed} s ($(( ${runs:-0} / (elapsed > 0 ? elapsed : 1) )) a second)," \
    "corpus $inputs inputs (+ $seeds seeds)"
  if [ "$status" -eq 0 ]; then
    # What the run kept, through the same check of the reused core.
    if ! ASAN_OPTIONS=$fast_asan VELTO_FUZZ_RESET_CHECK=1 "$bin" -runs=0 -timeout=10 -rss_limit_mb=2048 \
        -max_len="${maxlen[$t]}" "$work/corpus/$t" >"$work/$t.corpus.log" 2>&1; then
      grep -E '\*\*\* velto fuzz|ERROR|SUMMARY' "$work/$t.corpus.log" | head -n 5 || true
      echo "fuzz: $t: an input of the corpus runs otherwise on a reused core (log: $work/$t.corpus.log)"
      status=1
    fi
  fi
  if [ "$status" -ne 0 ]; then
    grep -E '\*\*\* velto fuzz|ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -n 20 || true
    # The report again with the allocation stacks that the timed run leaves out.
    for a in "$work/artifacts/$t"/*; do
      case $a in *.report) continue ;; esac
      [ -f "$a" ] || continue
      ASAN_OPTIONS= "$bin" "$a" >"$a.report" 2>&1 || true
      echo "fuzz: full report of $(basename "$a"): $a.report"
    done
    echo "fuzz: $t failed with status $status (log: $log); the input is in $work/artifacts/$t/"
    return 1
  fi
}

# The targets run side by side, one a processor: each still runs for its full time.
parallel=${FUZZ_JOBS:-$(nproc)}
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  rm -f "$work/$t.status"
  (
    status=0
    run_target "$t" >"$work/$t.summary" 2>&1 || status=$?
    echo "$status" >"$work/$t.status"
  ) &
done
wait
failed=()
for t in "${targets[@]}"; do
  cat "$work/$t.summary"
  [ "$(cat "$work/$t.status" 2>/dev/null)" = 0 ] || failed+=("$t")
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran clean for $seconds s each"
