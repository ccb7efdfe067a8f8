#!/usr/bin/env bash
# Installs what is missing, builds, starts the ECU simulator on a pseudo-terminal,
# driving its repeating cycle (idle, gears, cruise, overrun, full throttle) on a
# warming engine, and opens the main window with the simulator's port first in
# the port list.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "velto: no display available: run this from a desktop session (DISPLAY is not set)" >&2
  exit 2
fi

"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"

simdir=$(mktemp -d)
"$root/build/sim/velto-ecu-sim" --drive --control "$simdir/control" --log "$simdir/sim.log" >"$simdir/out" &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -rf "$simdir"' EXIT
for _ in $(seq 100); do [ -s "$simdir/out" ] && break; sleep 0.05; done
port=$(head -n 1 "$simdir/out")
echo "ECU simulator on $port driving a cycle (control: echo 'drive off' > $simdir/control; log: $simdir/sim.log)"
VELTO_SERIAL_PORTS="$port" "$root/build/app/velto"
