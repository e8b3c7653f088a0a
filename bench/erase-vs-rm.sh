#!/usr/bin/env bash
# Erasing the benchmark tree with `brimvale-cli erase --yes --json` against `rm -rf`, side by side
# on two fresh copies of the same tree, and the ratios the eraser aims at:
#   stagedMs  / rm  (the item has left its place)         goal <= 0.01
#   elapsedMs / rm  (background deletion included)        goal <= 1.0
#
#   bench/erase-vs-rm.sh [ROUNDS]
# BRIMVALE_CLI picks the binary (default build/release/cli/brimvale-cli); the tree comes from
# bench/make-bench-tree.sh (BRIMVALE_BENCH_DIR, BRIMVALE_BENCH_FILES). The copies and the eraser's
# staging folder live beside the cached tree, on its file system.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${BRIMVALE_CLI:-$here/../build/release/cli/brimvale-cli}
rounds=${1:-1}
[ -x "$cli" ] || { echo "build brimvale-cli first (or set BRIMVALE_CLI)" >&2; exit 2; }

source_tree=$("$here/make-bench-tree.sh" home)
base="$(dirname "$source_tree")/erase-vs-rm"
mkdir -p "$base/home"
# A home of its own, so the real Trash, caches and ledger are never touched.
export HOME="$base/home"
export XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

results=()
for round in $(seq 1 "$rounds"); do
  rm -rf "$base/for-rm" "$base/for-erase"
  echo "round $round: copying the tree twice..." >&2
  cp -a "$source_tree" "$base/for-rm"
  cp -a "$source_tree" "$base/for-erase"
  sync
  du -s "$base/for-rm" "$base/for-erase" >/dev/null   # warm both copies alike

  run_rm() {
    local t0; t0=$(now_ms)
    rm -rf "$base/for-rm"
    rm_ms=$(( $(now_ms) - t0 ))
  }
  run_erase() {
    local t0; t0=$(now_ms)
    erase_json=$("$cli" erase --yes --json "$base/for-erase")
    erase_wall=$(( $(now_ms) - t0 ))
  }
  # Alternate who goes first: the second deletion runs on a disk the first has just worked.
  # Each deletion's dirty metadata is written back (untimed) before the next one starts.
  if (( round % 2 )); then run_rm; sync; run_erase; else run_erase; sync; run_rm; fi
  [ ! -e "$base/for-erase" ] || { echo "erase left the tree in place" >&2; exit 1; }
  line=$(python3 - "$rm_ms" "$erase_wall" "$erase_json" <<'PY'
import json, sys
rm_ms, wall = int(sys.argv[1]), int(sys.argv[2])
doc = json.loads(sys.argv[3])
staged = doc["results"][0]["stagedMs"]
elapsed = doc["elapsedMs"]
print(f"rm -rf {rm_ms} ms | erase stagedMs {staged} ms, elapsedMs {elapsed} ms, process {wall} ms"
      f" | stagedMs/rm {staged / rm_ms:.5f}, elapsedMs/rm {elapsed / rm_ms:.3f}")
PY
)
  echo "round $round: $line"
  results+=("$line")
done
rm -rf "$base/for-rm" "$base/for-erase"
