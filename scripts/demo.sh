#!/usr/bin/env bash
# `make demo`: the program cu-tavik on the unit simulator with its demo rack and the sample
# firmware catalogue. Both run in a network namespace of their own with only loopback, so
# nothing the program sends (its connection form looks for units by broadcast when no unit
# answers) can leave the machine; a window still reaches the display through its socket file.
#  - With a local display (WAYLAND_DISPLAY, or DISPLAY=:N) the program's window opens there;
#    closing the program stops the simulator.
#  - Without one, or with a display reached over the network (DISPLAY=host:N, which the
#    namespace cannot reach), both run on a virtual display (Xvfb) for a few seconds and
#    the home view is saved to BUILD_DIR/demo/home.png.
# The command-line tour of the simulator is scripts/cli-tour.sh.
#   scripts/demo.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
sim=$build/sim/cu-tavik-sim
app=$build/src/app/cu-tavik
for program in "$sim" "$app"; do
  [ -x "$program" ] || { echo "demo.sh: $program is not built (run make build)" >&2; exit 1; }
done

mode=${TAVIK_DEMO_INSIDE:-}
if [ -z "$mode" ]; then
  if [ -n "${WAYLAND_DISPLAY:-}" ] || [[ "${DISPLAY:-}" =~ ^(unix)?:[0-9] ]]; then
    mode=display
  else
    mode=headless
    [ -z "${DISPLAY:-}" ] ||
      echo "demo.sh: DISPLAY=$DISPLAY is reached over the network, which the demo's" \
           "namespace cannot; saving a screenshot instead" >&2
  fi
  TAVIK_DEMO_INSIDE=$mode exec "$root/scripts/netns-run" -- "$0" "$build"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Polls CONDITION (a command) every 0.1 s for at most SECONDS.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

if [ "$mode" = headless ]; then
  # A free display number, chosen by Xvfb itself.
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" \
    2>"$work/xvfb.log" &
  pids+=($!)
  wait_for 10 test -s "$work/display" ||
    { cat "$work/xvfb.log" >&2; echo "demo.sh: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(cat "$work/display")
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software
fi

# The built-in demo rack (sim/demo-rack.json describes the same) and the sample catalogue.
"$sim" --firmware-dir "$root/sim/firmware-catalogue" --http-port 8080 >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for 5 grep -qs 'firmware catalogue' "$work/sim.log" ||
  { cat "$work/sim.log" >&2; echo "demo.sh: the simulator did not start" >&2; exit 1; }
grep '^cu-tavik-sim:' "$work/sim.log"

if [ "$mode" = display ]; then
  echo "Starting $app --unit 127.0.0.1; close its window to end the demo."
  "$app" --unit 127.0.0.1
  exit
fi

"$app" --unit 127.0.0.1 >"$work/app.log" 2>&1 &
pids+=($!)
main_window_shown() {
  xwininfo -name "SNSPD Zenthe Lab" 2>/dev/null | grep -q IsViewable
}
main_window_id() {
  xwininfo -name "SNSPD Zenthe Lab" | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p'
}
if ! wait_for 30 main_window_shown; then
  cat "$work/app.log" >&2
  echo "demo.sh: the main window did not open" >&2
  exit 1
fi
# The home view fills with the first readings (one pass a second) while the window fades in.
sleep 3
mkdir -p "$build/demo"
import -window "$(main_window_id)" "$build/demo/home.png"
echo "The home view: $build/demo/home.png"
