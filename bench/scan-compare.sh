#!/usr/bin/env bash
# Whole-process comparison of `brimvale-cli scan` with du, gdu and ncdu on the benchmark tree,
# warm cache, side by side in one run; then peak memory per node and a check that our byte
# total agrees with du's (du counts folders' own blocks, the tree does not: those are taken out).
#   bench/scan-compare.sh [TREE] [CLI]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:-$("$here/make-bench-tree.sh")}
cli=${2:-$here/../build/release/cli/brimvale-cli}
runs=${RUNS:-5}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

du -sx -B1 "$tree" >/dev/null
hyperfine -N -w 2 -r "$runs" --export-json "$out/times.json" \
  -n du "du -sx -B1 $tree" \
  -n gdu "gdu -n -p --no-cross $tree" \
  -n ncdu "ncdu -0 -x -o /dev/null $tree" \
  -n brimvale "$cli scan $tree --quiet" >&2

python3 - "$out/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
ours = r["brimvale"]["median"]
fastest = min(r[k]["median"] for k in ("du", "gdu", "ncdu"))
for k in ("du", "gdu", "ncdu", "brimvale"):
    print(f"{k:9s} median {r[k]['median']:.3f} s   brimvale/{k} = {ours / r[k]['median']:.3f}")
print(f"wall time vs the fastest other tool: {ours / fastest:.3f} (target <= 0.5)")
PY

nodes=$("$cli" scan "$tree" --json --quiet | python3 -c 'import json,sys; print(json.load(sys.stdin)["nodes"])')
for tool in brimvale gdu; do
  if [ $tool = brimvale ]; then cmd=("$cli" scan "$tree" --quiet); else cmd=(gdu -n -p --no-cross "$tree"); fi
  kib=$( { /usr/bin/time -v "${cmd[@]}" >/dev/null; } 2>&1 | awk '/Maximum resident/ {print $6}')
  python3 -c "print(f'$tool peak RSS: {$kib/1024:.1f} MiB = {$kib*1024/$nodes:.1f} bytes per node ($nodes nodes)')"
done

ours=$("$cli" scan "$tree" --json --quiet | python3 -c 'import json,sys; print(json.load(sys.stdin)["bytes"])')
du_total=$(du -sx -B1 "$tree" | cut -f1)
dirs=$(find "$tree" -xdev -type d -printf '%b\n' | awk '{s+=$1} END {print s*512}')
if [ "$ours" -eq $((du_total - dirs)) ]; then
  echo "bytes agree with du: $ours"
else
  echo "bytes DIFFER: ours $ours, du minus folders $((du_total - dirs))"; exit 1
fi
