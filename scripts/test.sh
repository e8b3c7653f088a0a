#!/usr/bin/env bash
# Installs what is missing, checks formatting, then builds and runs every test suite twice:
# once optimised (Release) and once under AddressSanitizer and UndefinedBehaviorSanitizer. Under
# CI (CI=true) it also builds, installs, checks and purges the Debian package; a developer's run
# never installs or removes packages beyond the build's own dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${BRIMVALE_JOBS:-2}
formatter=$(command -v clang-format-14 || command -v clang-format)
git ls-files -z -- '*.h' '*.cpp' | xargs -0 -r "$formatter" --dry-run -Werror
echo "Formatting: ok"

for preset in ${BRIMVALE_PRESETS:-release asan}; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

if [ "${CI:-}" = "true" ]; then
  echo "== package =="
  bash scripts/package-check.sh
fi
