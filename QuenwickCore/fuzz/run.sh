#!/usr/bin/env bash
# Builds the snapshot and stored-JSON fuzzers with clang and runs one of them.
#   QuenwickCore/fuzz/run.sh snapshot|json [SECONDS (default 300)] [BUILD_DIR]
# Seeds are made on the spot (a few snapshots and files of each kind); the corpus and any crash
# files stay in the build folder, never in the repository.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
which=${1:?snapshot or json}
seconds=${2:-300}
build=${3:-$repo/build-core-fuzz}

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DBRIMVALE_FUZZ=ON -DBRIMVALE_TESTS=OFF -DBRIMVALE_BENCH=OFF -DBRIMVALE_APP=OFF \
  "-DBRIMVALE_SKIP_DIRS=RingKit;Shoreline;HelperKit;BrimvaleHelper;Brimvale;cli;bench" \
  >/dev/null
cmake --build "$build" --target "${which}_fuzz" -j "${BRIMVALE_JOBS:-2}"

corpus=$build/$which-corpus
mkdir -p "$corpus" "$build/$which-crashes"
if [ "$which" = json ]; then
  printf '%s' '{"entries":[{"trashed":"/t/a","original":"/o/a","bytes":5,"date":1.5}],"freedBytes":9}' >"$corpus/seed-ledger"
  printf '%s' '{"entries":[{"trashed":"/t/\uFFFD","trashedBytes":"L3Qv/w==","original":"/o","bytes":1,"date":-3.25}],"freedBytes":0}' >"$corpus/seed-ledger-bytes"
  printf '%s' '{"date":1796817600.5,"volumeTotal":500000000000,"volumeUsed":7000000000,"purgeable":0,"folders":{"/home/ann":3500000000,"/home/ann/x":100}}' >"$corpus/seed-summary"
  printf '%s' '[[[{"a":[1,2,{"b":null}]}]]]' >"$corpus/seed-nested"
else
  # Snapshots of small real trees, written by the command line of a release build if present.
  cli=$repo/build/release/cli/brimvale-cli
  if [ -x "$cli" ]; then
    tmp=$(mktemp -d)
    mkdir -p "$tmp/t/a/b" "$tmp/t/c"
    printf x >"$tmp/t/a/b/f"; printf yy >"$tmp/t/c/g"; ln -s a "$tmp/t/l"
    "$cli" scan "$tmp/t" --save "$corpus/seed-small.snap" --quiet >/dev/null 2>&1 || true
    "$cli" scan "$repo/Lzfse" --save "$corpus/seed-lzfse.snap" --quiet >/dev/null 2>&1 || true
    rm -rf "$tmp"
  fi
fi

cd "$build/$which-crashes"
exec "$build/QuenwickCore/fuzz/${which}_fuzz" "$corpus" -max_len=262144 -max_total_time="$seconds" \
  -print_final_stats=1 -timeout=20 -rss_limit_mb=2048
