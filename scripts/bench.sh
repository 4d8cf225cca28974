#!/usr/bin/env bash
# Builds the benchmarks optimised and runs each of them inside a network namespace of its
# own (scripts/netns-run), since they open sockets:
#   scripts/bench.sh [ARGS...]   ARGS go to every benchmark (tavik_linkbench takes ITERATIONS,
#                                tavik_simbench READS, tavik_enginebench PASSES,
#                                tavik_chartbench STEPS;
#                                tavik_programbench, a script, takes none)
# The build goes to build-bench, or to $BUILD. Exit status: 0 when every benchmark met its
# targets, otherwise that of the last one that did not.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIK_FUZZ=OFF \
         -DTAVIK_BENCH=ON &&
       cmake --build "$build" --target tavik_benchmarks; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "bench.sh: build failed" >&2
  exit 1
fi

status=0
found=0
for bench in "$build"/bench/tavik_*bench; do
  [ -x "$bench" ] || continue
  found=1
  echo "== $(basename "$bench")"
  "$root/scripts/netns-run" -- "$bench" "$@" || status=$?
done
[ "$found" -eq 1 ] || { echo "bench.sh: no benchmark in $build/bench" >&2; exit 1; }
exit "$status"
