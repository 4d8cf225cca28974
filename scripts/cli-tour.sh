#!/usr/bin/env bash
# A tour of the simulator from the shell: starts the unit simulator with the demo rack in a
# network namespace of its own, shows the unit's module list and every module's identity
# with cu-tavik-cli, lets the engine watch the modules and sweep one detector, lists the
# sample firmware catalogue the simulator serves and updates one module from it, then stops
# the simulator.
#   scripts/cli-tour.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
sim=$build/sim/cu-tavik-sim
cli=$build/tools/cli/cu-tavik-cli
for program in "$sim" "$cli"; do
  [ -x "$program" ] || { echo "demo.sh: $program is not built (run make build)" >&2; exit 1; }
done

if [ "${TAVIK_DEMO_INSIDE:-0}" != 1 ]; then
  # Everything below runs in the namespace, where the unit port is only on loopback.
  TAVIK_DEMO_INSIDE=1 exec "$root/scripts/netns-run" -- "$0" "$build"
fi

log=$(mktemp)
# The built-in demo rack (sim/demo-rack.json describes the same) and the sample catalogue.
"$sim" --firmware-dir "$root/sim/firmware-catalogue" --http-port 8080 >"$log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log"' EXIT

# The simulator prints one line once it listens, then one for the catalogue.
for _ in $(seq 50); do
  grep -q 'firmware catalogue' "$log" && break
  kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; echo "demo.sh: the simulator ended" >&2; exit 1; }
  sleep 0.1
done
grep -q 'listening on' "$log" || { cat "$log" >&2; echo "demo.sh: the simulator does not listen" >&2; exit 1; }
grep '^cu-tavik-sim:' "$log"

echo
echo "== Module list (SYST:DEVJ?)"
list=$("$cli" --unit 127.0.0.1 query 'SYST:DEVJ?')
if command -v python3 >/dev/null; then
  printf '%s\n' "$list" | python3 -m json.tool
else
  printf '%s\n' "$list"
fi

addresses=$(printf '%s\n' "$list" | grep -o '"address":[0-9]*' | cut -d: -f2)
for address in $addresses; do
  echo
  echo "== Module $address (cu-tavik-cli identity $address)"
  "$cli" --unit 127.0.0.1 identity "$address"
done

echo
echo "== The engine's home view for 3 s (cu-tavik-cli monitor --duration 3)"
"$cli" --unit 127.0.0.1 monitor --duration 3

sweep=$(mktemp)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log" "$sweep"' EXIT
echo
echo "== Counts against bias current on module 1, 18 to 24 uA"
"$cli" --unit 127.0.0.1 set 1 operate 1
"$cli" --unit 127.0.0.1 sweep current --channel 1 --from 1.8e-5 --to 2.4e-5 --step 1e-6 \
  --time-constant 0.2 --out "$sweep"
cat "$sweep"

echo
echo "== Firmware for module 1 (VX9SD, modification 1, hardware 2) in the sample catalogue"
"$cli" firmware list --base-url http://127.0.0.1:8080/vx9Rack/Bin/Firmware/ \
  --family VX9SD --modification 1 --hardware 2

echo
echo "== Firmware update of module 1 to 1.3.3 (cu-tavik-cli firmware update 1 --version 1.3.3)"
"$cli" --unit 127.0.0.1 firmware update 1 --version 1.3.3 \
  --base-url http://127.0.0.1:8080/vx9Rack/Bin/Firmware/
"$cli" --unit 127.0.0.1 identity 1 | grep '"firmware"'

echo
echo "Try it yourself: $sim --help, and $cli --help."
