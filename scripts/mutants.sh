#!/usr/bin/env bash
# Mutation check: applies each deliberate fault of scripts/mutants.list to a scratch copy of
# the sources, builds, runs the tests the fault can reach and restores the file; prints a
# table of which faults the tests kill and which survive. A tool for people, not part of
# `make check` or CI.
#
#   scripts/mutants.sh [-j N] [--only ID[,ID...]] [--scratch DIR] [--out FILE]
#                      [--timeout S] [--all] [--skip-baseline] [--list] [--check]
#                      [--faults FILE]
#
#   -j N          build and test jobs (default 2)
#   --only IDS    only these faults (comma-separated ids)
#   --scratch DIR where the copy and its build live (default /tmp/tavik-mutants); kept
#                 between runs, so a second run only rebuilds what changed
#   --out FILE    also write the table to FILE
#   --timeout S   per-test time-out in seconds, at least 3 times the test's time on the
#                 unchanged build (default 60); a test that runs out counts as failed
#   --all         run every test a fault reaches and name all that fail; by default a
#                 fault's tests stop at the first failure, which the table names
#   --skip-baseline  take the unchanged build's test times and failures from the last run
#                 in this scratch directory instead of running every test first
#   --list        show the faults and exit
#   --check       check that every fault's text occurs exactly once, and exit
#   --faults FILE another list of faults (default scripts/mutants.list)
#
# Which tests run: those whose executable, or a program it starts (cu-tavik-cli,
# cu-tavik-sim: their paths are compiled into the test), differs from the unchanged build
# after the fault's build; for a fault in a file that is not compiled (QML, JS) also the
# tests that read the source tree at run time (Qt Quick Test files, qmllint).
# When one or two tests fail, each runs once more by itself: a failure that does not
# come again is reported as such and does not kill. Build logs and the output of failing
# tests stay under DIR/logs.
set -euo pipefail

# All in one function, so that bash has read the whole script before it runs (editing it
# meanwhile changes nothing).
main() {

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)

jobs=2
only=""
scratch=/tmp/tavik-mutants
out=""
timeout=60
quick=1
skip_baseline=0
mode=run
faults="$here/mutants.list"

usage() { sed -n '7,23p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs=$2; shift 2 ;;
    -j*) jobs=${1#-j}; shift ;;
    --only) only=$2; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --all) quick=0; shift ;;
    --skip-baseline) skip_baseline=1; shift ;;
    --list) mode=list; shift ;;
    --check) mode=check; shift ;;
    --faults) faults=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "mutants.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
faults=$(cd "$(dirname "$faults")" && pwd)/$(basename "$faults")

# The exact-text work, the copy, the test inventory and the test runs.
read -r -d '' helper_py <<'PY' || true
import hashlib, json, os, shutil, signal, subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor

def entries(path):
    items, cur, seen = [], {}, set()
    def close(lineno):
        if not cur:
            return
        missing = [k for k in ("id", "file", "from", "to") if k not in cur]
        if missing:
            sys.exit(f"{path}:{lineno}: entry {cur.get('id', '?')} lacks {', '.join(missing)}")
        if cur["id"] in seen:
            sys.exit(f"{path}:{lineno}: id {cur['id']} given twice")
        if not cur["from"]:
            sys.exit(f"{path}:{lineno}: entry {cur['id']} has an empty from")
        seen.add(cur["id"])
        cur.setdefault("why", "")
        items.append(dict(cur))
        cur.clear()
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("#"):
                continue
            if not line.strip():
                close(n)
                continue
            key, sep, value = line.partition(":")
            if not sep or key.strip() not in ("id", "file", "from", "to", "why"):
                sys.exit(f"{path}:{n}: expected 'key: value' with key id, file, from, to or why")
            cur[key.strip()] = value.strip()
        close(n)
    return items

def match(entry, src):
    path = os.path.join(src, entry["file"])
    if not os.path.isfile(path):
        return "missing file", None
    with open(path, encoding="utf-8") as f:
        text = f.read()
    count = text.count(entry["from"])
    if count == 0:
        return "no match", None
    if count > 1:
        return f"ambiguous ({count} matches)", None
    return "ok", text

def file_hash(path, cache):
    st = os.stat(path)
    key = [st.st_mtime_ns, st.st_size]
    hit = cache.get(path)
    if hit and hit[:2] == key:
        return hit[2]
    h = hashlib.sha1()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    cache[path] = key + [h.hexdigest()]
    return cache[path][2]

def paths_in(binary, prefix):
    # Paths compiled in as C strings or as UTF-16 (QStringLiteral).
    with open(binary, "rb") as f:
        data = f.read()
    found = set()
    for encoding, width in (("utf-8", 1), ("utf-16-le", 2)):
        needle, p = prefix.encode(encoding), 0
        ends = ("\0".encode(encoding), '"'.encode(encoding))
        while (p := data.find(needle, p)) >= 0:
            end = p
            while end < len(data) and data[end:end + width] not in ends:
                end += width
            found.add(data[p:end].decode(encoding, "replace"))
            p = end
    return found

def load(state):
    with open(state) as f:
        return json.load(f)

def save(state, s):
    tmp = state + ".tmp"
    with open(tmp, "w") as f:
        json.dump(s, f)
    os.replace(tmp, state)

def cmd_entries(a):
    for e in entries(a[0]):
        print("\t".join((e["id"], e["file"], e["why"])))

def cmd_check(a):
    bad = 0
    for e in entries(a[0]):
        status, _ = match(e, a[1])
        if status != "ok":
            bad += 1
            print(f"{e['id']}: {status} in {e['file']}")
    sys.exit(1 if bad else 0)

def cmd_apply(a):
    e = next((e for e in entries(a[0]) if e["id"] == a[1]), None)
    if e is None:
        print("unknown id")
        sys.exit(1)
    status, text = match(e, a[2])
    if status != "ok":
        print(status)
        sys.exit(1)
    start = text.index(e["from"])
    if "\n" in e["from"] or "\n" in e["to"]:
        print("not within one line")
        sys.exit(1)
    with open(os.path.join(a[2], e["file"]), "w", encoding="utf-8") as f:
        f.write(text[:start] + e["to"] + text[start + len(e["from"]):])
    print("ok")

def cmd_sync(a):
    repo, src = a
    listed = subprocess.run(["git", "-C", repo, "ls-files", "-z", "-co", "--exclude-standard"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    wanted = {p for p in listed if p and os.path.isfile(os.path.join(repo, p))}
    copied = 0
    for p in sorted(wanted):
        s, d = os.path.join(repo, p), os.path.join(src, p)
        if os.path.isfile(d) and os.path.getsize(d) == os.path.getsize(s):
            with open(s, "rb") as x, open(d, "rb") as y:
                if x.read() == y.read():
                    continue
        os.makedirs(os.path.dirname(d), exist_ok=True)
        # A new modification time: the copy's build may be newer than the file's own time.
        shutil.copy(s, d)
        copied += 1
    removed = 0
    for root, dirs, files in os.walk(src):
        rel = os.path.relpath(root, src)
        if rel == ".":
            dirs[:] = [d for d in dirs if d != "build"]
        for name in files:
            p = os.path.normpath(os.path.join(rel, name))
            if p not in wanted:
                os.remove(os.path.join(root, name))
                removed += 1
    print(f"{copied} files copied, {removed} removed", file=sys.stderr)

def cmd_inventory(a):
    build, src, state = a
    shown = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                           capture_output=True, text=True).stdout
    build_prefix = os.path.join(build, "")
    src_prefix = os.path.join(src, "")
    tests = {}
    for t in json.loads(shown)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        command = t["command"]
        files = [c for c in command if c.startswith(build_prefix) and os.path.isfile(c)
                 and os.access(c, os.X_OK)]
        # Arguments naming sources (not a launcher such as scripts/netns-run).
        reads_sources = any(c.startswith(src_prefix) and not c.startswith(build_prefix)
                            and not (os.path.isfile(c) and os.access(c, os.X_OK))
                            for c in command)
        for exe in list(files):
            for p in paths_in(exe, build_prefix):
                if os.path.isfile(p) and os.access(p, os.X_OK) and p not in files:
                    files.append(p)
            # Source files compiled in (__FILE__) are no reading at run time.
            if any(not p.startswith(build_prefix) and not p.endswith((".cpp", ".h"))
                   for p in paths_in(exe, src_prefix)):
                reads_sources = True
        tests[t["name"]] = {"command": command, "env": props.get("ENVIRONMENT", []),
                            "cwd": props.get("WORKING_DIRECTORY", build),
                            "files": files, "reads_sources": reads_sources, "seconds": None}
    # Times and failures of the last run on the unchanged build stay for --skip-baseline.
    old = load(state) if os.path.isfile(state) else {"tests": {}}
    for name, t in tests.items():
        t["seconds"] = old["tests"].get(name, {}).get("seconds")
    cache = old.get("cache", {})
    baseline = {p: file_hash(p, cache) for t in tests.values() for p in t["files"]}
    save(state, {"tests": tests, "baseline": baseline, "cache": cache,
                 "base_failed": old.get("base_failed"), "base_seconds": old.get("base_seconds")})
    print(f"{len(tests)} tests", file=sys.stderr)

def cmd_select(a):
    state, fault_file = a
    s = load(state)
    changed = {p for p, h in s["baseline"].items()
               if os.path.isfile(p) and file_hash(p, s["cache"]) != h}
    compiled = fault_file.endswith((".c", ".cpp", ".h", ".hpp"))
    for name, t in s["tests"].items():
        if changed.intersection(t["files"]) or (not compiled and t["reads_sources"]):
            print(name)
    save(state, s)

running = set()
cancelled = set()

def run_one(t, limit, log):
    env = dict(os.environ)
    for item in t["env"]:
        k, _, v = item.partition("=")
        env[k] = v
    start = time.monotonic()
    with open(log, "wb") as out:
        p = subprocess.Popen(t["command"], cwd=t["cwd"], env=env, stdin=subprocess.DEVNULL,
                             stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        running.add(p.pid)
        try:
            code = p.wait(timeout=limit)
            result = "ok" if code == 0 else "failed"
            if p.pid in cancelled:
                result = "skipped"
        except subprocess.TimeoutExpired:
            result = "timeout"
        finally:
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            p.wait()
            running.discard(p.pid)
    if result in ("ok", "skipped"):
        os.remove(log)
    return result, time.monotonic() - start

def cancel_running():
    for pid in list(running):
        cancelled.add(pid)
        try:
            os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

def run_batch(s, names, jobs, limit, quick, record, logs):
    """Runs names, jobs at a time; with quick, the first failure cancels the rest.
    Returns {name: (result, seconds)} of the tests that ran to their end."""
    stop = [False]
    def task(name):
        if stop[0]:
            return name, "skipped", 0.0
        t = s["tests"][name]
        own = max(limit, 120) if record else max(limit, 3 * (t["seconds"] or 0))
        result, took = run_one(t, own, os.path.join(logs, name + ".log"))
        if result in ("failed", "timeout") and quick and not stop[0]:
            stop[0] = True
            cancel_running()
        return name, result, took
    pool = ThreadPoolExecutor(max_workers=jobs)
    try:
        outcomes = list(pool.map(task, names))
    except KeyboardInterrupt:
        stop[0] = True
        cancel_running()
        pool.shutdown(wait=True)
        sys.exit(130)
    pool.shutdown()
    return {n: (r, took) for n, r, took in outcomes if r != "skipped"}

def cmd_run(a):
    state, jobs, limit, quick, record, logs = (a[0], int(a[1]), float(a[2]), a[3] == "1",
                                               a[4] == "1", a[5])
    s = load(state)
    os.makedirs(logs, exist_ok=True)
    pending = [n for n in a[6:] if n in s["tests"]]
    # Stopping at the first failure: the shortest first, so that it comes soon. Otherwise
    # the longest first, so that the jobs end together.
    sign = 1 if quick else -1
    pending.sort(key=lambda n: sign * (s["tests"][n]["seconds"] or 1e9))
    failed, flaky = [], []
    while pending:
        done = run_batch(s, pending, jobs, limit, quick, record, logs)
        for name, (result, took) in done.items():
            if result == "ok" and record:
                s["tests"][name]["seconds"] = took
        # A lone failure counts once it comes again with the test alone on the machine; one
        # that does not is load or chance, not the fault. Several failures speak for
        # themselves.
        failures = [n for n, (r, _) in done.items() if r != "ok"]
        for name in failures:
            result = done[name][0]
            again = "failed"
            if len(failures) <= 2:
                again, _ = run_one(s["tests"][name], max(limit, 120) if record else
                                   max(limit, 3 * (s["tests"][name]["seconds"] or 0)),
                                   os.path.join(logs, name + ".again.log"))
            if again == "ok":
                flaky.append(name)
            elif result == "timeout":
                failed.append(name + " (time-out)")
            else:
                failed.append(name)
        if failed or not quick:
            break
        pending = [n for n in pending if n not in done]
    if record:
        s["base_failed"] = sorted(f.split()[0] for f in failed)
        save(state, s)
    print(" ".join(sorted(failed)))
    print(" ".join(sorted(flaky)))

def on_term(*_):
    raise KeyboardInterrupt

# Stopped from outside (the script's own trap): end the tests that run, as on Ctrl-C.
signal.signal(signal.SIGTERM, on_term)
commands = {"entries": cmd_entries, "check": cmd_check, "apply": cmd_apply, "sync": cmd_sync,
            "inventory": cmd_inventory, "select": cmd_select, "run": cmd_run}
commands[sys.argv[1]](sys.argv[2:])
PY

helper() { python3 -c "$helper_py" "$@"; }

# Test runs go in the background, so that an interrupt reaches the trap at once and the
# trap can end them (with their tests) before it restores the faulty file.
runner=""
run_tests() {
  python3 -c "$helper_py" run "$@" >"$scratch/run.out" &
  runner=$!
  wait "$runner" || true
  runner=""
  { read -r failed; read -r flaky; } <"$scratch/run.out"
}

if [ "$mode" = list ]; then
  helper entries "$faults" | awk -F'\t' '{ printf "%-22s %-48s %s\n", $1, $2, $3 }'
  exit 0
fi
if [ "$mode" = check ]; then
  helper check "$faults" "$repo" && echo "every fault matches exactly once"
  exit
fi

command -v ninja >/dev/null || { echo "mutants.sh: ninja is needed" >&2; exit 1; }
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
src="$scratch/src"
build="$src/build"
logs="$scratch/logs"
state="$scratch/state.json"
mkdir -p "$src" "$logs"

# Paths relative to the copy, so the compiler cache is shared with ordinary builds; resource
# files without their modification times, so that a restored QML file builds to the same bytes.
export CCACHE_BASEDIR="$src"
export QT_RCC_SOURCE_DATE_OVERRIDE=1 SOURCE_DATE_EPOCH=1
# With the same time stamp on every build of a resource, QML's disk cache would keep
# serving a fault's compiled JS; the tests also keep their caches out of the home folder.
export QML_DISABLE_DISK_CACHE=1 XDG_CACHE_HOME="$scratch/cache"

say() { echo "mutants: $*" >&2; }
started=$(date +%s)

backup="$scratch/original"
current=""
restore() {
  if [ -n "$current" ]; then
    # A new modification time, so that the next build compiles the original again.
    cp "$backup" "$src/$current"
    touch "$src/$current"
    current=""
  fi
}
interrupted() {
  if [ -n "$runner" ]; then
    kill -TERM "$runner" 2>/dev/null || true
    wait "$runner" || true
  fi
  restore
  say "interrupted"
  exit 130
}
trap restore EXIT
trap interrupted INT TERM

say "copying the sources to $src"
helper sync "$repo" "$src"

# Compiled as every build here is (the cache's objects fit); linked without debug
# information by lld, since each fault relinks dozens of test programs.
say "configuring"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
  -DTAVIK_BENCH=OFF "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -Wl,--strip-debug" \
  >"$logs/configure.log" 2>&1 || { say "configure failed, see $logs/configure.log"; exit 1; }
say "building the unchanged sources"
cmake --build "$build" -j "$jobs" >"$logs/build-unchanged.log" 2>&1 ||
  { say "the unchanged sources do not build, see $logs/build-unchanged.log"; exit 1; }
helper inventory "$build" "$src" "$state"

mapfile -t all_tests < <(python3 -c 'import json,sys; print("\n".join(json.load(open(sys.argv[1]))["tests"]))' "$state")
known=$(python3 -c 'import json,sys; s=json.load(open(sys.argv[1])); print("" if s["base_failed"] is None else s["base_seconds"])' "$state")
if [ "$skip_baseline" -eq 1 ] && [ -n "$known" ]; then
  say "taking the unchanged build's test results from the last run"
  base_seconds=$known
  read -r -a base_failed <<<"$(python3 -c 'import json,sys; print(" ".join(json.load(open(sys.argv[1]))["base_failed"]))' "$state")"
else
  say "running all ${#all_tests[@]} tests on the unchanged build"
  base_started=$(date +%s)
  rm -rf "${logs:?}/unchanged"
  run_tests "$state" "$jobs" "$timeout" 0 1 "$logs/unchanged" "${all_tests[@]}"
  read -r -a base_failed <<<"$failed"
  [ -z "$flaky" ] || say "failed once, then passed: $flaky"
  base_seconds=$(( $(date +%s) - base_started ))
  python3 -c 'import json,sys; s=json.load(open(sys.argv[1])); s["base_seconds"]=int(sys.argv[2]); json.dump(s,open(sys.argv[1],"w"))' "$state" "$base_seconds"
fi
if [ "${#base_failed[@]}" -gt 0 ]; then
  say "failing without any fault (left out below): ${base_failed[*]}"
fi

# Faults to run, in list order.
mapfile -t fault_lines < <(helper entries "$faults")
if [ -n "$only" ]; then
  IFS=, read -r -a wanted <<<"$only"
  selected=()
  for w in "${wanted[@]}"; do
    found=0
    for line in "${fault_lines[@]}"; do
      [ "${line%%$'\t'*}" = "$w" ] && { selected+=("$line"); found=1; }
    done
    [ "$found" -eq 1 ] || { say "no fault with id $w"; exit 2; }
  done
  fault_lines=("${selected[@]}")
fi


rows=()
killed=0 survived=0 broken=0
n=0
for line in "${fault_lines[@]}"; do
  IFS=$'\t' read -r id file why <<<"$line"
  n=$((n + 1))
  t0=$(date +%s)
  built=0
  rm -rf "${logs:?}/$id"
  cp -p "$src/$file" "$backup"
  applied=$(helper apply "$faults" "$id" "$src" || true)
  if [ "$applied" != ok ]; then
    result="broken: $applied"; failed="-"; broken=$((broken + 1))
  else
    current=$file
    b0=$(date +%s)
    built_ok=1
    cmake --build "$build" -j "$jobs" >"$logs/build-$id.log" 2>&1 || built_ok=0
    built=$(( $(date +%s) - b0 ))
    if [ "$built_ok" -eq 0 ]; then
      result="broken: does not build"; failed="-"; broken=$((broken + 1))
    else
      mapfile -t tests < <(helper select "$state" "$file")
      # Tests that already fail unchanged prove nothing.
      run=()
      for t in "${tests[@]}"; do
        case " ${base_failed[*]} " in *" $t "*) ;; *) run+=("$t") ;; esac
      done
      if [ "${#run[@]}" -eq 0 ]; then
        result="survived"; failed="(no test reaches it)"; survived=$((survived + 1))
      else
        run_tests "$state" "$jobs" "$timeout" "$quick" 0 "$logs/$id" "${run[@]}"
        if [ -n "$failed" ]; then
          result="killed"; killed=$((killed + 1))
        else
          result="survived"; failed="(${#run[@]} tests ran)"; survived=$((survived + 1))
        fi
        [ -z "$flaky" ] || failed="$failed; failed once, then passed: $flaky"
      fi
    fi
    restore
  fi
  seconds=$(( $(date +%s) - t0 ))
  say "$n/${#fault_lines[@]} $id: $result $failed (${seconds} s, build ${built} s)"
  rows+=("| $id | \`$file\` | $why | $result | $failed | $seconds |")
done

total=$(( $(date +%s) - started ))
{
  echo "# Mutation check"
  echo
  echo "Sources: $(git -C "$repo" rev-parse --short HEAD)$(git -C "$repo" diff --quiet HEAD -- . 2>/dev/null || echo ' with local changes'), $(date -u '+%Y-%m-%d %H:%M UTC'), -j $jobs, $(nproc) cores."
  if [ "$quick" -eq 1 ]; then
    echo "A fault's tests stop at the first failure (shortest tests first); \"failed tests\" names that one."
  else
    echo "Every test a fault reaches ran; \"failed tests\" names all that failed."
  fi
  echo
  echo "| fault | file | change | result | failed tests | s |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "Killed $killed, survived $survived, broken $broken of ${#fault_lines[@]}."
  echo "Unchanged build: ${#all_tests[@]} tests in ${base_seconds} s${base_failed[*]:+, failing already: ${base_failed[*]}}."
  echo "Wall time: $((total / 60)) min $((total % 60)) s."
} | if [ -n "$out" ]; then tee "$out"; else cat; fi
}

main "$@"
