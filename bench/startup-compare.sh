#!/usr/bin/env bash
# The app's start-up, whole process, side by side in one run, on a private copy of the benchmark
# tree (this script changes files): `brimvale --quit-when-ready --target TREE` without a window
#   1. from scratch (no snapshot): the reference;
#   2. with a current snapshot and the change journal running: goal at most 0.3x of (1);
#   3. after 100 changed folders (a catch-up from the journal): goal at most 0.35x of (1), and the
#      catch-up itself (its readyMs beyond a plain snapshot's) at most 0.05x of (1)'s readyMs;
# then the GUI thread's worst lateness (bench/lateness-probe) during a full scan, a catch-up, the
# suggestions analysis and a 1,000-item permanent delete: goal at most 50 ms.
#   bench/startup-compare.sh [TREE] [BUILD]      RUNS=5  STARTUP_WORK=/tmp/brimvale-startup-bench
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_tree=$(realpath "${1:-$("$here/make-bench-tree.sh")}")
build=$(realpath "${2:-$here/../build/release}")
app=$build/Brimvale/brimvale
cli=$build/cli/brimvale-cli
probe=$build/bench/lateness-probe
runs=${RUNS:-5}
work=${STARTUP_WORK:-/tmp/brimvale-startup-bench}
command -v hyperfine > /dev/null || { echo "hyperfine is missing (bench/install-bench-tools.sh)" >&2; exit 2; }
for program in "$app" "$cli" "$probe"; do
  [ -x "$program" ] || { echo "missing $program (build it first)" >&2; exit 2; }
done

# A private copy, named after its source so that a tree of another size gets its own.
tree=$work/$(basename "$source_tree")
mkdir -p "$work"
if [ ! -f "$tree/.tree-manifest.json" ]; then
  rm -rf "$tree" "$tree.partial"
  cp -a --sparse=always "$source_tree" "$tree.partial"
  mv "$tree.partial" "$tree"
fi
run=$work/run
rm -rf "$run"
mkdir -p "$run/home" "$run/data" "$run/cache" "$run/config" "$run/runtime"
chmod 700 "$run/runtime"
export HOME=$run/home XDG_DATA_HOME=$run/data XDG_CACHE_HOME=$run/cache XDG_CONFIG_HOME=$run/config
export XDG_RUNTIME_DIR=$run/runtime QT_QPA_PLATFORM=offscreen
# No session bus: the app must not hand over to a Brimvale already running.
unset DBUS_SESSION_BUS_ADDRESS

source "$here/watch-support.sh"
trap stop_watch EXIT
start_watch_in "$tree"

# Every launch appends its JSON line here, with the phase it belongs to.
log=$run/launches.txt
: > "$log"
launch="$run/launch.sh"
cat > "$launch" <<SH
#!/bin/sh
line=\$("$app" --quit-when-ready --target "$tree") || exit 1
echo "\$1 \$line" >> "$log"
SH
chmod +x "$launch"

# 100 folders that hold files; each prepare appends to one file in each.
"$here/pick-changed-files.py" "$tree" > "$run/targets.txt"
change="$run/change.sh"
cat > "$change" <<SH
#!/bin/sh
while IFS= read -r f; do head -c 4096 /dev/urandom >> "\$f"; done < "$run/targets.txt"
sleep 1  # the recorder writes its journal out
SH
chmod +x "$change"
snapshots=$XDG_DATA_HOME/Brimvale/Snapshots

"$cli" scan "$tree" --quiet > /dev/null  # warm the cache
hyperfine --runs "$runs" --warmup 1 --export-json "$run/scratch.json" \
  --prepare "rm -f '$snapshots'/*.qws" -n scratch "$launch scratch"
"$launch" prime > /dev/null  # a snapshot the journal covers
hyperfine --runs "$runs" --warmup 1 --export-json "$run/snapshot.json" -n snapshot "$launch snapshot"
hyperfine --runs "$runs" --export-json "$run/changed.json" --prepare "$change" \
  -n changed "$launch changed"

python3 - "$run" "$log" <<'PY'
import json, statistics, sys
run, log = sys.argv[1], sys.argv[2]
wall = {n: statistics.median(json.load(open(f"{run}/{n}.json"))["results"][0]["times"]) * 1000
        for n in ("scratch", "snapshot", "changed")}
ready, paths = {}, {}
for line in open(log):
    phase, text = line.split(" ", 1)
    j = json.loads(text)
    ready.setdefault(phase, []).append(j["readyMs"])
    paths.setdefault(phase, set()).add(j["path"])
med = {p: statistics.median(v) for p, v in ready.items()}
print(f"paths taken: " + ", ".join(f"{p} {sorted(v)}" for p, v in paths.items()))
for n, want in (("snapshot", "snapshot"), ("changed", "incremental"), ("scratch", "fullScan")):
    if paths.get(n) != {want}:
        print(f"  WARNING: {n} launches took {sorted(paths.get(n, []))}, expected {want}")
print(f"from scratch:        {wall['scratch']:.0f} ms wall, readyMs {med['scratch']:.0f}")
print(f"current snapshot:    {wall['snapshot']:.0f} ms wall = {wall['snapshot'] / wall['scratch']:.3f}x "
      f"(target <= 0.3)")
print(f"100 changed folders: {wall['changed']:.0f} ms wall = {wall['changed'] / wall['scratch']:.3f}x "
      f"(target <= 0.35)")
catch_up = max(0.0, med["changed"] - med["snapshot"])
print(f"catch-up itself:     {catch_up:.0f} ms = {catch_up / med['scratch']:.3f}x of a scan's readyMs "
      f"(target <= 0.05)")
PY
stop_watch

# The GUI thread's lateness, on the same copy (its delete removes up to 1,000 files of it, so the
# copy is made again next time).
mkdir -p "$run/probe"
HOME=$run/probe XDG_DATA_HOME=$run/probe/data XDG_CACHE_HOME=$run/probe/cache \
  XDG_CONFIG_HOME=$run/probe/config "$probe" "$tree" | tee "$run/lateness.txt"
python3 - "$run/lateness.txt" <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1]) if line.startswith("{")]
worst = max(r["worstLatenessMs"] for r in rows)
print(f"worst GUI-thread lateness: {worst:.1f} ms (target <= 50) over "
      + ", ".join(r["phase"] for r in rows))
PY
rm -f "$tree/.tree-manifest.json"  # the probe changed the copy
