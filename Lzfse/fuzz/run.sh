#!/usr/bin/env bash
# Builds the LZFSE fuzzer with clang and runs it, seeded with the shared vectors.
#   Lzfse/fuzz/run.sh [SECONDS (default 300)] [BUILD_DIR (default build-lzfse-fuzz)]
# The corpus and any crash files stay in the build folder, never in the repository.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
seconds=${1:-300}
build=${2:-$repo/build-lzfse-fuzz}
vectors=${LZFSE_VECTORS:-$repo/../shared/lzfse/vectors}

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DBRIMVALE_FUZZ=ON -DBRIMVALE_TESTS=OFF -DBRIMVALE_BENCH=OFF -DBRIMVALE_APP=OFF \
  "-DBRIMVALE_SKIP_DIRS=QuenwickCore;RingKit;Shoreline;HelperKit;BrimvaleHelper;Brimvale;cli;bench" \
  >/dev/null
cmake --build "$build" --target lzfse_fuzz -j "${BRIMVALE_JOBS:-2}"

# Seeds: every vector stream and input, the big ones cut to their first 64 KiB.
corpus=$build/lzfse-corpus
mkdir -p "$corpus" "$build/lzfse-crashes"
for f in "$vectors"/ref/* "$vectors"/handmade/* "$vectors"/invalid/*; do
  case "$f" in *.lzfse|*.bin) ;; *) continue ;; esac
  head -c 65536 "$f" >"$corpus/seed-$(basename "$(dirname "$f")")-$(basename "$f")"
done

cd "$build/lzfse-crashes"
exec "$build/Lzfse/fuzz/lzfse_fuzz" "$corpus" -max_len=65536 -max_total_time="$seconds" \
  -print_final_stats=1 -timeout=20 -rss_limit_mb=2048
