#!/usr/bin/env bash
# Catch-up from the change journal against a full scan, side by side in one run, on a private
# copy of the benchmark tree (this script changes files, so never the shared tree itself):
#   1. `watch` records the copy; a snapshot is saved; each round changes 100 files in 100
#      folders, then times `refresh --json` (one encoding thread, then parallel blocks) and a
#      warm full `scan`; medians and ratios follow.
#   2. The recorder's own CPU time while 100,000 files are created, as a ratio of the time the
#      creation took.
#   3. The recorder's memory per watched folder (inotify): its resident size over the tree minus
#      its size over an empty folder, per watched folder; and the kernel's watch objects.
#   bench/refresh-compare.sh [TREE] [CLI]        MODE=inotify|fanotify|auto  RUNS=5
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_tree=${1:-$("$here/make-bench-tree.sh")}
cli=$(realpath "${2:-$here/../build/release/cli/brimvale-cli}")
runs=${RUNS:-5}
mode=${MODE:-auto}
work=${REFRESH_WORK:-/tmp/brimvale-refresh-bench}
tree=$work/tree
mkdir -p "$work"
if [ ! -f "$tree/.tree-manifest.json" ]; then
  rm -rf "$tree.partial"
  cp -a --sparse=always "$source_tree" "$tree.partial"
  mv "$tree.partial" "$tree"
fi
run=$work/run-$mode
rm -rf "$run"
mkdir -p "$run/home" "$run/data" "$run/cache" "$run/config"
export HOME=$run/home XDG_DATA_HOME=$run/data XDG_CACHE_HOME=$run/cache XDG_CONFIG_HOME=$run/config

source "$here/watch-support.sh"
trap 'stop_watch; rm -rf "$tree/.recorder-cost"' EXIT
start_watch() { start_watch_in "$1" "$mode"; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
watch_objects() { awk '$1 == "inotify_inode_mark" {print $2, $4}' /proc/slabinfo 2>/dev/null || true; }

# --- 3. memory per watched folder (inotify only: fanotify needs no per-folder watch)
if [ "$mode" != fanotify ]; then
  mkdir -p "$run/empty"
  start_watch "$run/empty"; sleep 1; base=$(rss_kib "$watcher"); stop_watch
  before_objects=$(watch_objects)
fi

start_watch "$tree"
sed 's/^/recorder: /' "$run/watch.out"
folders=$(grep -o '[0-9]* folders' "$run/watch.out" | cut -d' ' -f1 || true)
if [ -n "${base:-}" ] && [ -n "$folders" ]; then
  sleep 1
  rss=$(rss_kib "$watcher")
  after_objects=$(watch_objects)
  python3 - "$base" "$rss" "$folders" "${before_objects:-}" "${after_objects:-}" <<'PY'
import sys
base, rss, folders = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
print(f"memory: {folders} folders watched, recorder RSS {rss/1024:.1f} MiB over an empty folder's "
      f"{base/1024:.1f} MiB = {(rss-base)*1024/folders:.0f} bytes per watched folder")
b, a = sys.argv[4].split(), sys.argv[5].split()
if b and a:
    objects, size = int(a[0]) - int(b[0]), int(a[1])
    print(f"kernel: {objects} more inotify marks of {size} bytes = {objects*size/folders:.0f} bytes "
          f"per folder (plus the inodes and dentries they pin)")
PY
fi

snap=$run/snapshot.qws
"$cli" scan "$tree" --quiet > /dev/null  # warm the cache
"$cli" scan "$tree" --save "$snap" --quiet > /dev/null

# 100 folders that hold files, picked once; each round appends to one file in each.
mapfile -t targets < <("$here/pick-changed-files.py" "$tree")
change_files() { for f in "${targets[@]}"; do head -c 8192 /dev/urandom >> "$f"; done; }

results=$run/results.txt
: > "$results"
for round in $(seq 1 "$runs"); do
  for threads in 1 2; do
    change_files
    start=$(date +%s.%N)
    json=$("$cli" refresh "$snap" --json --threads "$threads")
    end=$(date +%s.%N)
    echo "refresh$threads $(python3 -c 'import json,sys; j=json.loads(sys.argv[1]); print(j["path"], j["directories"], j["loadMs"], j["elapsedMs"], j["saveMs"])' "$json") $(python3 -c "print(($end - $start) * 1000)")" >> "$results"
  done
  start=$(date +%s.%N)
  json=$("$cli" scan "$tree" --json --quiet)
  end=$(date +%s.%N)
  echo "scan - - - $(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["elapsedMs"])' "$json") - $(python3 -c "print(($end - $start) * 1000)")" >> "$results"
done

python3 - "$results" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
def col(kind, i):
    return [float(r[i]) for r in rows if r[0] == kind and r[i] != "-"]
scan_ms, scan_wall = statistics.median(col("scan", 4)), statistics.median(col("scan", 6))
paths = {r[1] for r in rows if r[0].startswith("refresh")}
print(f"refresh paths taken: {sorted(paths)}; folders per catch-up: "
      f"{sorted({int(r[2]) for r in rows if r[0].startswith('refresh')})}")
print(f"full scan: median {scan_ms:.0f} ms scanning, {scan_wall:.0f} ms whole process")
for t, target in (("1", 0.5), ("2", 0.3)):
    load, catch, save, wall = (statistics.median(col("refresh" + t, i)) for i in (3, 4, 5, 6))
    print(f"refresh, {t} encoding thread(s): load {load:.0f} ms, catch-up {catch:.0f} ms, "
          f"save {save:.0f} ms, whole process {wall:.0f} ms")
    print(f"  catch-up / scan = {catch / scan_ms:.4f} (target <= 0.02); whole refresh / scan "
          f"process = {wall / scan_wall:.3f} (target <= {target})")
PY

# --- 2. the recorder's CPU time while 100,000 files are created
cost=$tree/.recorder-cost
mkdir -p "$cost"
sleep 1
ticks_before=$(cpu_ticks "$watcher")
created=$(python3 - "$cost" <<'PY'
import os, sys, time
base = sys.argv[1]
for d in range(100):
    os.mkdir(os.path.join(base, f"d{d}"))
start = time.monotonic()
for i in range(100000):
    fd = os.open(os.path.join(base, f"d{i % 100}", f"f{i}"), os.O_CREAT | os.O_WRONLY, 0o644)
    os.close(fd)
print(time.monotonic() - start)
PY
)
# Until the recorder has read everything (its time stops growing).
last=-1; now=$(cpu_ticks "$watcher")
while [ "$now" != "$last" ]; do last=$now; sleep 0.5; now=$(cpu_ticks "$watcher"); done
hz=$(getconf CLK_TCK)
python3 -c "
cpu = ($now - $ticks_before) / $hz
print(f'recorder CPU while creating 100,000 files: {cpu:.2f} s over {$created:.2f} s of creation = {cpu / $created:.3f} (target <= 0.1)')"
stop_watch
rm -rf "$cost"
