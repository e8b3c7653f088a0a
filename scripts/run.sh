#!/usr/bin/env bash
# Installs what is missing, builds optimised, and scans the home folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${BRIMVALE_JOBS:-2}" --target brimvale-cli
exec build/release/cli/brimvale-cli scan "${1:-$HOME}"
