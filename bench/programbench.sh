#!/usr/bin/env bash
# Figures of the program cu-tavik itself, measured from outside (/proc, the X server): the
# program on a virtual display (Xvfb, Qt Quick's software renderer) against the unit
# simulator with 32 SSPD modules, on the home view for 30 s:
#  (1) start to main window: from starting the program until its window "SNSPD Zenthe Lab"
#      is mapped; the splash's timers take 5 s by design (1 s delay, 4 s wait) and its
#      collapse 1 s more, so what comes on top of the 5 s is shown too;
#  (2) process CPU time over wall time on the home view (every module read once a second);
#  (3) resident memory after 10 s and after 30 s on the home view.
# It opens sockets, so it runs inside a network namespace of its own (it refuses anywhere
# else); scripts/bench.sh builds it as build-bench/bench/tavik_programbench and runs it so:
#   scripts/netns-run -- bench/programbench.sh     (programs from TAVIK_BUILD, default build)
# Arguments are ignored. Exit status: 0 when the target is met, 3 when it is missed, 1 when
# something broke.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${TAVIK_BUILD:-}" ]; then
  build=$(cd "$TAVIK_BUILD" && pwd)
elif [ -x "$here/../src/app/cu-tavik" ]; then
  build=$(cd "$here/.." && pwd) # the copy in BUILD/bench
else
  build=$(cd "$here/../build" && pwd)
fi
app=$build/src/app/cu-tavik
sim=$build/sim/cu-tavik-sim
modules=32
home_seconds=30
first_memory_seconds=10
splash_seconds=5   # the splash's timers: 1 s delay, 4 s wait for the connection
collapse_seconds=1 # then the splash shrinks before the main window opens
target=0.05
title="SNSPD Zenthe Lab"

for program in "$app" "$sim"; do
  [ -x "$program" ] || { echo "programbench: $program is not built" >&2; exit 1; }
done
for tool in Xvfb xwininfo; do
  command -v "$tool" >/dev/null || { echo "programbench: $tool is missing" >&2; exit 1; }
done
# /proc/net/dev lists the interfaces of this process's namespace: only loopback in ours.
if [ "$(awk -F: 'NR > 2 { gsub(/ /, "", $1); print $1 }' /proc/net/dev)" != lo ]; then
  echo "programbench opens sockets: run it through scripts/netns-run -- $0" >&2
  exit 1
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

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
holds() { awk "BEGIN { exit !($1) }"; }
wait_for() { # SECONDS COMMAND...: polls every 20 ms
  local deadline
  deadline=$(calc "$(now) + $1")
  shift
  until "$@"; do
    holds "$(now) < $deadline" || return 1
    sleep 0.02
  done
}
cpu_ticks() { # utime + stime of a process, in clock ticks
  # The command name (field 2) may hold spaces; the fields after its ")" are fixed.
  local stat
  stat=$(cat "/proc/$1/stat")
  stat=${stat##*) }
  set -- $stat
  echo $((${12} + ${13}))
}
resident_mib() {
  awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"
}

# 32 SSPD modules of model 0 with the simulator's default physics.
{
  echo '{"unit": {"oldUnit": false, "softwareVersion": "1.4.0"}, "modules": ['
  for address in $(seq "$modules"); do
    [ "$address" -eq 1 ] || echo ','
    printf '{"address": %d, "type": "VX9SDM0", "description": "SSPD channel %d",' \
      "$address" "$address"
    printf ' "firmware": "1.3.2", "hardware": "2", "modification": "1",'
    printf ' "udid": "5456-4B00-0001-0000-0000-%04X"}' "$address"
  done
  echo ']}'
} >"$work/rack.json"

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 10 test -s "$work/display" ||
  { cat "$work/xvfb.log" >&2; echo "programbench: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software
# The program stores nothing when given --unit; its settings stay out of the user's anyway.
export XDG_CONFIG_HOME=$work/config

"$sim" --rack "$work/rack.json" >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q listening "$work/sim.log" ||
  { cat "$work/sim.log" >&2; echo "programbench: the simulator did not start" >&2; exit 1; }

main_window_shown() {
  xwininfo -name "$title" 2>/dev/null | grep -q IsViewable
}
start=$(now)
"$app" --unit 127.0.0.1 >"$work/app.log" 2>&1 &
pid=$!
pids+=($pid)
if ! wait_for 60 main_window_shown; then
  cat "$work/app.log" >&2
  echo "programbench: the main window did not open" >&2
  exit 1
fi
shown=$(now)
echo "cu-tavik against cu-tavik-sim on 127.0.0.1 with $modules SSPD modules, Xvfb" \
  "$(xwininfo -root | awk '/geometry/ { split($2, size, "+"); print size[1] }')," \
  "QT_QUICK_BACKEND=software"

ticks_per_second=$(getconf CLK_TCK)
ticks0=$(cpu_ticks "$pid")
t0=$(now)
sleep "$first_memory_seconds"
memory_first=$(resident_mib "$pid")
sleep $((home_seconds - first_memory_seconds))
ticks1=$(cpu_ticks "$pid")
t1=$(now)
memory_last=$(resident_mib "$pid")
kill -0 "$pid" 2>/dev/null || { cat "$work/app.log" >&2; echo "programbench: the program ended" >&2; exit 1; }

startup=$(calc "$shown - $start")
share=$(calc "($ticks1 - $ticks0) / $ticks_per_second / ($t1 - $t0)")
met=0
holds "$share <= $target" && met=1
verdict=FAIL
[ "$met" = 1 ] && verdict=PASS
printf '(1) start to main window                  %6.2f s   (%.2f s on top of the %d s splash timers;' \
  "$startup" "$(calc "$startup - $splash_seconds")" "$splash_seconds"
printf ' %d s of that is the splash collapsing, by design)\n' "$collapse_seconds"
printf '(2) home view, %d s                       CPU/wall %.4f   target <= %.2f   %s\n' \
  "$home_seconds" "$share" "$target" "$verdict"
printf '(3) resident memory on the home view      %s MiB after %d s, %s MiB after %d s\n' \
  "$memory_first" "$first_memory_seconds" "$memory_last" "$home_seconds"
[ "$met" = 1 ] || exit 3
