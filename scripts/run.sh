#!/usr/bin/env bash
# Installs what is missing, builds optimised, and starts the app when a display is available;
# without one (a server, an SSH session) it scans the home folder with brimvale-cli instead.
# Arguments go to the app (e.g. --demo), or name the folder to scan without a display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
jobs=${BRIMVALE_JOBS:-2}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build --preset release -j "$jobs" --target brimvale brimvale-cli
  exec build/release/Brimvale/brimvale "$@"
fi
cmake --build --preset release -j "$jobs" --target brimvale-cli
exec build/release/cli/brimvale-cli scan "${1:-$HOME}"
