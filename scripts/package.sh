#!/usr/bin/env bash
# Builds the Debian package build/package/brimvale_<version>_<arch>.deb: an optimised build of
# its own without tests, benchmarks or the app's updater (Debian users update through apt),
# packed by CPack and checked with lintian, desktop-file-validate and appstreamcli.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh package

out=build/package
build=$out/build
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Debian's hardening: fortified libc calls, read-only relocations bound at start.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="-D_FORTIFY_SOURCE=2" -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro -Wl,-z,now" \
  -DBRIMVALE_PACKAGE=ON -DBRIMVALE_UPDATER=OFF -DBRIMVALE_TESTS=OFF -DBRIMVALE_BENCH=OFF -DBRIMVALE_SKIP_DIRS=bench \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${BRIMVALE_JOBS:-2}"

desktop-file-validate dist/applications/app.brimvale.Brimvale.desktop
appstreamcli validate --no-net --explain "$build/dist-generated/app.brimvale.Brimvale.metainfo.xml"

(cd "$build" && cpack -G DEB -B "$PWD/../cpack" >/dev/null)
version=$(sed -n 's/^project(Brimvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$out/brimvale_${version}_$(dpkg --print-architecture).deb
mv -f "$out/cpack/$(basename "$deb")" "$deb"
rm -rf "$out/cpack"

# Errors fail the build; warnings are shown.
lintian --fail-on error "$deb" || {
  echo "lintian found errors in $deb" >&2
  exit 1
}
echo "$deb"
