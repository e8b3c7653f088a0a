#!/usr/bin/env bash
# Saves pictures of the app's views, made from a generated tree, into OUTDIR: ring-light.png,
# ring-dark.png, main-light.png, main-dark.png and review.png (1280 x 800), history.png,
# popover.png (and their -dark twins), tray-25.png and tray-90.png, suggestions.png,
# settings.png and tour.png (1280 x 800). With --demo the ring's, the main window's and Space
# Watch's show the fictional computer of demo mode (the same file names); `--demo --docs OUTDIR`
# also refreshes the small copies in docs/ that the README shows. Builds what is missing and runs
# under Xvfb with Mesa's OpenGL.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
demo=()
if [ "${1:-}" = "--demo" ]; then
  demo=(--demo)
  shift
  # --docs: also the small copies that docs/ keeps for the README.
  if [ "${1:-}" = "--docs" ]; then
    demo+=(--docs "$repo/docs")
    shift
  fi
fi
if [ $# -ne 1 ]; then
  echo "usage: scripts/screenshots.sh [--demo [--docs]] OUTDIR" >&2
  exit 2
fi
out=$(realpath -m "$1")
cd "$repo"

if ! command -v xvfb-run >/dev/null || ! command -v xauth >/dev/null; then
  bash scripts/install-deps.sh
fi

build=build/release
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset release >/dev/null
fi
cmake --build "$build" -j "${BRIMVALE_JOBS:-2}" --target brimvale-screenshots

mkdir -p "$out"
QSG_RHI_BACKEND=opengl xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/Brimvale/brimvale-screenshots" "${demo[@]}" "$out"
