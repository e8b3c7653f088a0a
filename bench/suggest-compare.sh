#!/usr/bin/env bash
# The suggestions analysis against the scan it follows, on the 1,000,000-file benchmark tree with
# HOME pointed at it (the tree has a home folder's shape): `brimvale-cli suggest --json` reports
# scanMs (a warm full scan), analysisMs (every rule, without the duplicate finder's reading) and
# hashMs (that reading). Both come from the same run, so load on a shared machine hits them alike;
# medians of RUNS runs (default 5) after one warm-up. The tree is only read.
#   bench/suggest-compare.sh [TREE] [CLI]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:-$("$here/make-bench-tree.sh")}
cli=${2:-$here/../build/release/cli/brimvale-cli}
runs=${RUNS:-5}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

run() {
  env -u XDG_CACHE_HOME -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$tree" \
    "$cli" suggest --json --quiet
}
run >/dev/null
for i in $(seq "$runs"); do
  run > "$out/run-$i.json"
done

python3 - "$out" "$runs" <<'PY'
import json, statistics, sys
out, runs = sys.argv[1], int(sys.argv[2])
reports = [json.load(open(f"{out}/run-{i}.json")) for i in range(1, runs + 1)]
def median(key):
    return statistics.median(r[key] for r in reports)
for key in ("scanMs", "analysisMs", "hashMs"):
    print(f"{key:10s} median {median(key):7.0f} ms  (runs: {', '.join(str(r[key]) for r in reports)})")
ratios = [r["analysisMs"] / r["scanMs"] for r in reports]
print(f"analysisMs / scanMs: median {statistics.median(ratios):.4f} (target <= 0.25)")
for c in reports[-1]["categories"]:
    print(f"  {c['id']:11s} {len(c['findings']):4d} findings, {c['total']:>14,d} bytes, "
          f"{c['safeTotal']:>14,d} safe")
PY
