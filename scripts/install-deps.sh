#!/usr/bin/env bash
# Installs from Debian's packages everything that building, testing and benchmarking need.
# Safe to run again: it does nothing when every package is present, and runs
# `apt-get update` at most once when something is missing. With the argument `package` it also
# installs what building the Debian package needs (scripts/package.sh).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3 file time
  clang-14 libclang-rt-14-dev clang-format-14
  libgtest-dev libgmock-dev libbenchmark-dev libexpat1-dev
  libcli11-dev libutf8proc-dev nlohmann-json3-dev liburing-dev libssl-dev
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-charts-dev qt6-shadertools-dev qt6-shader-baker qt6-svg-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtquick-shapes
  qml6-module-qtqml-workerscript qml6-module-qtcharts qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel
  qml6-module-qttest qt6-wayland
  xvfb xauth dbus dbus-x11 python3-dbus python3-gi haskell-status-notifier-item-utils libxcb1-dev util-linux btrfs-progs librsvg2-bin libglib2.0-bin gvfs
  hyperfine gdu ncdu
)
if [ "${1:-}" = "package" ]; then
  packages+=(dpkg-dev fakeroot lintian help2man desktop-file-utils appstream librsvg2-bin gzip ccache)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
