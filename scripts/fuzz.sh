#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz, or $BUILD) and runs each for RUNS
# inputs, growing a corpus per target in build-fuzz/corpus/NAME:
#   scripts/fuzz.sh [RUNS]   (default 200000)
# Prints per target the runs done and the result; a crash leaves its input in
# build-fuzz/artifacts and makes the exit status non-zero. The targets open no sockets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-fuzz}
runs=${1:-200000}
case "$runs" in
  '' | *[!0-9]*) echo "usage: fuzz.sh [RUNS]" >&2; exit 2 ;;
esac
targets=(fuzz_tcpstream fuzz_busdecoder fuzz_filedata fuzz_simstream fuzz_calibrationfile
         fuzz_modulelist fuzz_presetfile fuzz_cataloguepage fuzz_updatereports fuzz_rawvalue)

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIK_FUZZ=ON \
         -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang &&
       cmake --build "$build" --target tavik_fuzzers; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "fuzz.sh: build failed" >&2
  exit 1
fi

failed=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  status=0
  # Inputs that once broke a target (tests/fuzz/regressions/NAME) are run first, every time.
  regressions=()
  [ -d "$root/tests/fuzz/regressions/$target" ] && regressions=("$root/tests/fuzz/regressions/$target")
  "$build/tests/fuzz/$target" -runs="$runs" -timeout=10 -artifact_prefix="$artifacts/" "$corpus" \
    "${regressions[@]}" >"$log" 2>&1 || status=$?
  done_runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$log" | tail -1)
  if [ "$status" -eq 0 ] && [ -n "$done_runs" ]; then
    printf '%-16s %s, no crash\n' "$target" "$done_runs"
  else
    failed=1
    printf '%-16s FAILED (exit status %d)\n' "$target" "$status"
    tail -n 40 "$log"
    ls "$artifacts" 2>/dev/null | sed 's/^/  artifact: /'
  fi
done
exit "$failed"
