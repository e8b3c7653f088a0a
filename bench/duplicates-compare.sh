#!/usr/bin/env bash
# Duplicate finding, whole process, warm cache: `brimvale-cli suggest` against jdupes, rdfind,
# fdupes and rmlint, each restricted to files of at least 50 MiB, on a generated home-shaped tree
# of about 5 GB (bench/make-duplicates-tree.py). Runs are interleaved round by round, so a load
# that comes and goes on a shared machine hits every tool alike; medians are reported, and every
# tool's duplicate sets are checked against the sets the generator made.
#   bench/duplicates-compare.sh [TREE] [CLI]
# RUNS (default 5) sets the rounds; KEEP_TREE=1 keeps the tree (it is deleted otherwise).
# The other tools come from bench/install-bench-tools.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
base=${BRIMVALE_BENCH_DIR:-/tmp/brimvale-bench}
tree=${1:-$base/duplicates}
cli=${2:-$here/../build/release/cli/brimvale-cli}
runs=${RUNS:-5}

for tool in jdupes rdfind fdupes rmlint; do
  command -v $tool >/dev/null || { echo "missing $tool: run bench/install-bench-tools.sh" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "missing $cli" >&2; exit 2; }
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

out=$(mktemp -d)
cleanup() {
  rm -rf "$out"
  [ "${KEEP_TREE:-0}" = 1 ] || rm -rf "$tree" "$tree.partial"
}
trap cleanup EXIT

if [ ! -f "$tree/.complete" ]; then
  mkdir -p "$(dirname "$tree")"
  avail=$(df --output=avail -B1 "$(dirname "$tree")" | tail -1)
  if [ "$avail" -lt $((7 * 1024 * 1024 * 1024)) ]; then
    echo "need 7 GB free beside $tree, have $((avail / 1024 / 1024)) MiB" >&2; exit 2
  fi
  rm -rf "$tree.partial"
  python3 "$here/make-duplicates-tree.py" "$tree.partial"
  sync
  touch "$tree.partial/.complete"
  mv "$tree.partial" "$tree"
fi
python3 "$here/make-duplicates-tree.py" --expected > "$out/expected.json"
echo "tree: $tree, $(du -sh --apparent-size "$tree" | cut -f1) of data" >&2

python3 - "$tree" "$cli" "$runs" "$out" <<'PY'
import json, os, resource, statistics, subprocess, sys, time

tree, cli, runs, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
minimum = 52428800
home_env = dict(os.environ, HOME=tree)
for key in ("XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"):
    home_env.pop(key, None)
tools = {
    "brimvale": ([cli, "suggest", tree, "--json", "--quiet"], home_env),
    "jdupes": (["jdupes", "-r", "-q", "-X", f"size+=:{minimum}", tree], None),
    "rdfind": (["rdfind", "-minsize", str(minimum), "-dryrun", "true",
                "-outputname", f"{out}/rdfind.txt", tree], None),
    "fdupes": (["fdupes", "-r", "-q", "-G", str(minimum), tree], None),
    "rmlint": (["rmlint", "-T", "df", "-s", f"{minimum}-1PB", "-o", f"json:{out}/rmlint.json",
                tree], None),
}

def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

cpu = {name: [] for name in tools}

def run(name):
    argv, env = tools[name]
    start, start_cpu = time.perf_counter(), children_cpu()
    done = subprocess.run(argv, env=env, cwd=out, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    cpu[name].append(children_cpu() - start_cpu)
    if done.returncode != 0:
        sys.exit(f"{name} failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
    return elapsed, done.stdout.decode("utf-8", errors="surrogateescape")

def rel(path):
    path = path if os.path.isabs(path) else os.path.join(tree, path)
    return os.path.relpath(path, tree)

def blank_line_sets(text):
    return [[rel(p) for p in block.splitlines() if p] for block in text.split("\n\n") if block.strip()]

def sets_of(name, stdout):
    if name in ("jdupes", "fdupes"):
        return blank_line_sets(stdout)
    if name == "rdfind":
        groups = {}
        for line in open(f"{out}/rdfind.txt", encoding="utf-8", errors="surrogateescape"):
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split(" ", 7)
            groups.setdefault(abs(int(fields[1])), []).append(rel(fields[7]))
        return list(groups.values())
    if name == "rmlint":
        groups = {}
        for item in json.load(open(f"{out}/rmlint.json")):
            if item.get("type") == "duplicate_file":
                groups.setdefault(item["checksum"], []).append(rel(item["path"]))
        return list(groups.values())
    report = json.loads(stdout)
    groups = {}
    for category in report["categories"]:
        if category["id"] != "duplicates":
            continue
        for finding in category["findings"]:
            keeper = finding["reason"][len("Identical to ~/"):-len(", which is kept.")]
            groups.setdefault(keeper, [keeper]).append(rel(finding["path"]))
    return list(groups.values())

# One untimed round warms the page cache and every tool's own start-up.
for name in tools:
    run(name)
cpu = {name: [] for name in tools}
times = {name: [] for name in tools}
hash_ms = []
for _ in range(runs):
    for name in tools:
        elapsed, stdout = run(name)
        times[name].append(elapsed)
        if name == "brimvale":
            report = json.loads(stdout)
            hash_ms.append(report["hashMs"])

expected = sorted(sorted(s) for s in json.load(open(f"{out}/expected.json")))
ok = True
for name in tools:
    _, stdout = run(name)
    found = sorted(sorted(s) for s in sets_of(name, stdout))
    same = found == expected
    ok = ok and same
    print(f"{name:9s} duplicate sets: {len(found)} {'identical to the generated ones' if same else 'DIFFER'}")
    if not same:
        print("  found:", found, "\n  expected:", expected)

# On a shared machine the scheduler splits the processors between sessions, not threads, so
# the processor time each tool spends is shown beside its wall time.
ours = statistics.median(times["brimvale"])
ours_cpu = statistics.median(cpu["brimvale"][:runs])
for name in tools:
    med = statistics.median(times[name])
    med_cpu = statistics.median(cpu[name][:runs])
    print(f"{name:9s} median {med:7.3f} s  (runs: {', '.join(f'{t:.2f}' for t in times[name])})"
          f"  brimvale/{name} = {ours / med:.3f};  processor time {med_cpu:6.2f} s,"
          f" brimvale/{name} = {ours_cpu / med_cpu:.3f}")
fastest = min(statistics.median(times[n]) for n in tools if n != "brimvale")
print(f"brimvale hashing (hashMs) median {statistics.median(hash_ms) / 1000:.3f} s")
print(f"wall time vs the fastest other tool: {ours / fastest:.3f} (target <= 1.0)")
sys.exit(0 if ok else 1)
PY
