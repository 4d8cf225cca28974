#!/usr/bin/env bash
# Soak under faults: the program (its whole scene offscreen, tests/soak/soakprogram.cpp) on a
# CPS(Time) tab reading SSPD 1-8, and `cu-tavik-cli monitor --mode cps --keep-going` reading
# SSPD 9-16, both at a 10 ms time constant, against one simulator with 16 SSPD and 2
# temperature modules, while this script walks the simulator through its faults over its
# control port (one phase each, in this order):
#   none, latency (50 ms), mute, drops (p = 0.2), wrong lengths (every 7th), garbage (4 bytes
#   before every 5th), closed after 500 packets, restart (the unit away for 2 s).
# A phase lasts MINUTES*60/8 s: the fault for its first 60 %, then the recovery. Start-up and
# shut-down come on top.
#   scripts/netns-run -- scripts/soak.sh [MINUTES]       (default 10; CI runs 1)
# Programs come from TAVIK_BUILD (default build/); with SOAK_KEEP set the logs and readings
# stay in the work directory it names. It opens sockets, so it refuses to run outside a
# network namespace of its own.
#
# How readings are counted, for each of the two processes:
#  - A reading is what the worker thread concludes for one channel in one step: a record with
#    its status. Each step reads all eight channels in a fixed order (the program 1..8, the
#    CLI 9..16), also when a read fails or the connection drops in the middle of a step; a
#    new step, or a new start after a reconnection, begins at the first channel.
#  - Program: each record is judged once the screen side has applied it: "recorded" when its
#    channel's series on the tab gained the point, "marked" when the channel's row in the
#    device list shows the fault status, "lost" when neither (one line per reading).
#    CLI: each printed CSV line is a reading, "ok" recorded, "fault" marked.
#  - attempted = readings seen + readings missing from the channel order (a channel skipped
#    within a step: the worker read it, or should have, and nothing came out);
#    fault = marked readings; lost = missing + "lost" readings. The target is lost = 0.
#  - A reading belongs to the phase in whose time span it arrived.
#  - back: the time from the fault being cleared to the process's next recorded reading
#    (counted into later phases if need be); "no" when none came before the end.
#    For the restart, "cleared" is the moment the unit listens again (2 s after it left).
#  - gap: the longest time between two recorded readings of the process within the phase.
#  - queue (program only): the most readings that were emitted by the worker thread but not
#    yet taken by the screen side, sampled once a second within the phase.
#  - reconnects: the connections made again within the phase (program: after the scene went
#    back to its connection form; CLI: "connected again" on its standard error).
# Memory: resident set (VmRSS) of the simulator, the program and the CLI after start-up (the
# first readings), after phase 4 and at the end.
# Exit status 1 when a process died or did not end within 15 s of SIGTERM/SIGINT, a link
# never came back, a reading was lost, or a resident set grew from start to end by more than
# its bound: program 48 MiB, CLI 16 MiB, simulator 8 MiB. Why these: the only state that
# grows with time by design is the time series, capped at 10000 points per channel (8
# series of 16-byte points: 1.3 MB, which the program's chart holds once more for drawing,
# plus the scene's caches warming up on the first redraws); the simulator keeps nothing per
# reading. A leak of 200 bytes per reading costs about 30 MiB over 10 minutes (about 250
# readings a second per client), so each bound catches leaks of that size and larger in the
# 10-minute run, while allocator slack and the filled series stay well inside it.
set -euo pipefail
minutes=${1:-10}
case "$minutes" in
  '' | *[!0-9]* | 0) echo "usage: soak.sh [MINUTES]   (a whole number, at least 1)" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${TAVIK_BUILD:-$root/build}" && pwd)
sim=$build/sim/cu-tavik-sim
cli=$build/tools/cli/cu-tavik-cli
program=$build/tests/soak/tavik_soakprogram
for p in "$sim" "$cli" "$program"; do
  [ -x "$p" ] || { echo "soak: $p is not built" >&2; exit 1; }
done
if [ "$(awk -F: 'NR > 2 { gsub(/ /, "", $1); print $1 }' /proc/net/dev)" != lo ]; then
  echo "soak opens sockets: run it through scripts/netns-run -- $0" >&2
  exit 1
fi

control_port=9880
work=$(mktemp -d)
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME"
declare -A pid=()
cleanup() {
  for name in cli program sim; do
    [ -n "${pid[$name]:-}" ] && kill -9 "${pid[$name]}" 2>/dev/null || true
  done
  [ -n "${SOAK_KEEP:-}" ] && echo "soak: files kept in $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

now_ms() { date +%s%3N; }
alive() { kill -0 "$1" 2>/dev/null; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
wait_for() { # SECONDS COMMAND...
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
control() { # LINE: one line to the simulator's control port, which must answer "ok"
  local answer=""
  exec {fd}<>/dev/tcp/127.0.0.1/$control_port
  printf '%s\n' "$1" >&"$fd"
  read -r -t 5 answer <&"$fd" || true
  exec {fd}>&-
  [ "$answer" = ok ] || { echo "soak: control \"$1\" answered \"$answer\"" >&2; exit 1; }
}

{
  echo '{"unit": {"oldUnit": false, "softwareVersion": "1.4.0"}, "modules": ['
  for address in $(seq 16); do
    printf '{"address": %d, "type": "VX9SDM0", "description": "SSPD %d", "firmware": "1.3.2",' \
      "$address" "$address"
    printf ' "hardware": "2", "modification": "1", "udid": "5456-4B00-0001-0000-0000-%04X"},\n' \
      "$address"
  done
  echo '{"address": 17, "type": "VX9TDM0", "description": "Temperature A", "firmware": "1.1.0",'
  echo ' "hardware": "1", "modification": "1", "udid": "5456-4B00-0002-0000-0000-0011"},'
  echo '{"address": 18, "type": "VX9TDM1", "description": "Temperature B", "firmware": "1.1.0",'
  echo ' "hardware": "1", "modification": "1", "udid": "5456-4B00-0002-0000-0000-0012"}'
  echo ']}'
} >"$work/rack.json"

"$sim" --rack "$work/rack.json" --control-port "$control_port" >"$work/sim.log" 2>&1 &
pid[sim]=$!
wait_for 10 grep -qs listening "$work/sim.log" || { cat "$work/sim.log" >&2; exit 1; }
"$program" >"$work/program.csv" 2>"$work/program.log" &
pid[program]=$!
"$cli" --unit 127.0.0.1 monitor --mode cps --channels 9,10,11,12,13,14,15,16 \
  --time-constant 0.01 --keep-going >"$work/cli.csv" 2>"$work/cli.err" &
pid[cli]=$!
if ! wait_for 60 grep -qs ',recorded$' "$work/program.csv" ||
   ! wait_for 30 grep -qs ',ok,' "$work/cli.csv"; then
  echo "soak: no readings after start-up" >&2
  tail -n 20 "$work/program.log" "$work/cli.err" >&2
  exit 1
fi

declare -A memory=()
sample_memory() { # WHEN
  for name in sim program cli; do memory[$name,$1]=$(rss_kib "${pid[$name]}"); done
}
sample_memory start

phase_ms=$((minutes * 60000 / 8))
fault_ms=$((phase_ms * 6 / 10))
restart_ms=2000
phases=(
  "none|"
  "latency|faults --latency-ms 50"
  "mute|faults --mute"
  "drops|faults --drop-probability 0.2"
  "wrong-length|faults --wrong-length-every 7"
  "garbage|faults --garbage-every 5"
  "close-after|faults --close-after 500"
  "restart|restart $restart_ms"
)
: >"$work/phases"
sleep_ms() { sleep "$(awk "BEGIN { print $1 / 1000 }")"; }
index=0
for phase in "${phases[@]}"; do
  name=${phase%%|*}
  line=${phase#*|}
  start=$(now_ms)
  [ -n "$line" ] && control "$line"
  sleep_ms "$fault_ms"
  cleared=$(now_ms)
  # The unit of a restart is back when its pause is over.
  [ "$name" = restart ] && cleared=$((start + restart_ms)) || control "faults"
  sleep_ms $((phase_ms - fault_ms))
  echo "$name $start $cleared $(now_ms)" >>"$work/phases"
  index=$((index + 1))
  [ "$index" -eq 4 ] && sample_memory middle
  for name in sim program cli; do
    alive "${pid[$name]}" || { echo "soak: the $name process died" >&2; break 2; }
  done
done
sample_memory end

status=0
stop() { # NAME SIGNAL
  local p=${pid[$1]}
  if ! alive "$p"; then
    echo "soak: the $1 process had ended" >&2
    status=1
    return
  fi
  kill -"$2" "$p"
  if ! wait_for 15 eval "! alive $p"; then
    echo "soak: the $1 process did not end within 15 s of SIG$2 (hung)" >&2
    status=1
    return
  fi
  local code=0
  wait "$p" || code=$?
  pid[$1]=""
  [ "$code" -eq 0 ] || { echo "soak: the $1 process ended with status $code" >&2; status=1; }
}
stop cli INT
stop program TERM
stop sim TERM

python3 - "$work" "$minutes" \
  "${memory[sim,start]} ${memory[sim,middle]:-0} ${memory[sim,end]}" \
  "${memory[program,start]} ${memory[program,middle]:-0} ${memory[program,end]}" \
  "${memory[cli,start]} ${memory[cli,middle]:-0} ${memory[cli,end]}" <<'EOF' || status=1
import datetime, sys
work, minutes = sys.argv[1], sys.argv[2]
memory = {name: [int(v) for v in sys.argv[3 + i].split()]
          for i, name in enumerate(["simulator", "program", "CLI"])}
bounds_mib = {"simulator": 8, "program": 48, "CLI": 16}
phases = []
for line in open(f"{work}/phases"):
    name, start, cleared, end = line.split()
    phases.append((name, int(start), int(cleared), int(end)))

def iso_ms(text):
    return int(datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp() * 1000)

queues = []
def program_events():
    readings, connects = [], []
    for line in open(f"{work}/program.csv"):
        if line.startswith("# waiting "):
            queues.append(tuple(int(v) for v in line.split()[2:4]))
        elif line.startswith("# connected "):
            connects.append(int(line.split()[2]))
        elif not line.startswith("#") and line.count(",") == 2:
            t, address, result = line.strip().split(",")
            readings.append((int(t), int(address), result))
    return readings, connects

def cli_events():
    readings, connects = [], []
    for n, line in enumerate(open(f"{work}/cli.csv")):
        fields = line.strip().split(",")
        if n == 0 or len(fields) < 3:
            continue
        readings.append((iso_ms(fields[0]), int(fields[1]),
                         "recorded" if fields[2] == "ok" else "marked"))
    for line in open(f"{work}/cli.err"):
        if "connected again at " in line:
            connects.append(iso_ms(line.rsplit(" ", 1)[1].strip()))
    return readings, connects

def judge(readings, channels):
    """Each reading with its count of readings missing before it in the channel order."""
    judged, expected = [], 0
    for t, address, result in readings:
        position = channels.index(address) if address in channels else None
        if position is None:
            continue
        missing = (position - expected) % len(channels)
        judged.append((t, result, missing))
        expected = (position + 1) % len(channels)
    return judged

failed = False
processes = {"program": (program_events(), list(range(1, 9))),
             "CLI": (cli_events(), list(range(9, 17)))}
print(f"soak: {minutes} minute(s), {len(phases)} phases of {(phases[0][3] - phases[0][1]) / 1000:.1f} s")
print(f"{'phase':<13}{'process':<9}{'attempted':>10}{'fault':>8}{'lost':>6}{'gap s':>8}"
      f"{'queue':>7}{'reconnects':>12}  back")
for name, start, cleared, end in phases:
    for process, ((readings, connects), channels) in processes.items():
        judged = judge(readings, channels)
        inside = [j for j in judged if start <= j[0] < end]
        attempted = sum(1 + j[2] for j in inside)
        fault = sum(1 for j in inside if j[1] == "marked")
        lost = sum(j[2] + (j[1] == "lost") for j in inside)
        reconnects = sum(1 for t in connects if start <= t < end)
        after = [j[0] for j in judged if j[0] >= cleared and j[1] == "recorded"]
        recorded = [start] + [j[0] for j in inside if j[1] == "recorded"] + [end]
        gap = max(b - a for a, b in zip(recorded, recorded[1:])) / 1000
        back = f"yes, {(after[0] - cleared) / 1000:.2f} s" if after else "no"
        failed |= lost > 0 or not after
        queue = (str(max([n for t, n in queues if start <= t < end], default=0))
                 if process == "program" else "-")
        print(f"{name:<13}{process:<9}{attempted:>10}{fault:>8}{lost:>6}{gap:>8.2f}"
              f"{queue:>7}{reconnects:>12}  {back}")
print("resident memory (MiB)   start  middle     end  growth  bound")
for process, (start, middle, end) in memory.items():
    growth = (end - start) / 1024
    over = growth > bounds_mib[process]
    failed |= over
    print(f"{process:<22}{start / 1024:>7.1f}{middle / 1024:>8.1f}{end / 1024:>8.1f}"
          f"{growth:>8.1f}{bounds_mib[process]:>7}{'  EXCEEDED' if over else ''}")
sys.exit(1 if failed else 0)
EOF
[ "$status" -eq 0 ] && echo "soak: passed" || echo "soak: FAILED"
exit "$status"
