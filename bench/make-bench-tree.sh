#!/usr/bin/env bash
# Builds the 1,000,000-file benchmark tree once and prints its path; later calls reuse it.
#   bench/make-bench-tree.sh [home|flat|deep]
# The cache lives in $BRIMVALE_BENCH_DIR (default /tmp/brimvale-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
generator="$here/../../shared/bench/make-tree.py"
[ -f "$generator" ] || { echo "missing $generator (../shared beside the repository)" >&2; exit 2; }
profile=${1:-home}
files=${BRIMVALE_BENCH_FILES:-1000000}
base=${BRIMVALE_BENCH_DIR:-/tmp/brimvale-bench}
tree="$base/tree-$profile-$files"
if [ ! -f "$tree/.tree-manifest.json" ]; then
  mkdir -p "$base"
  rm -rf "$tree.partial"
  python3 "$generator" "$tree.partial" --files "$files" --seed 7 --profile "$profile" -q >&2
  mv "$tree.partial" "$tree"
fi
echo "$tree"
