# Sourced by scripts/test.sh and .ci/run: runs the stages of a run one after the other,
# prints each stage's time as it ends and all of them at the end.
#   stage NAME COMMAND...   runs COMMAND; a failing stage ends the run with its status
#   stages_summary BUDGET   the table of the stages and their total against BUDGET minutes
stage_lines=()
stage_started=$SECONDS

stage() {
  local name=$1 start=$SECONDS status=0
  shift
  echo "==> $name (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  local TIMEFORMAT="==> $name: %0lR wall, %0lU user, %0lS sys (CPU time of its processes)"
  time "$@" || status=$?
  local t=$(( SECONDS - start ))
  local line
  line=$(printf '%-10s %3d min %02d s' "$name" $(( t / 60 )) $(( t % 60 )))
  stage_lines+=("$line")
  if [ "$status" -ne 0 ]; then
    echo "==> $name FAILED with status $status after $(( t / 60 )) min $(( t % 60 )) s"
    stages_summary ""
    exit "$status"
  fi
  echo "==> $name passed in $(( t / 60 )) min $(( t % 60 )) s (load average $(cut -d' ' -f1-3 /proc/loadavg))"
}

stages_summary() {
  local budget=$1 t=$(( SECONDS - stage_started ))
  echo "==> stage times"
  printf '  %s\n' "${stage_lines[@]}"
  printf '  %-10s %3d min %02d s' total $(( t / 60 )) $(( t % 60 ))
  if [ -n "$budget" ]; then
    if [ "$t" -le $(( budget * 60 )) ]; then printf ' (budget %d min)' "$budget"
    else printf ' (OVER the budget of %d min)' "$budget"; fi
  fi
  printf '\n'
}
