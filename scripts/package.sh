#!/usr/bin/env bash
# Builds the Debian package of Kivo in build-deb/ (optimised, with Debian's hardening flags) and
# prints its path. Install it with: sudo apt install ./build-deb/kivo_VERSION_ARCH.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir="$here/build-deb"
"$here/scripts/deps.sh"
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$here"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVO_BENCHMARKS=OFF "${launcher[@]}" \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
fi
# Only what the package holds: the tests are built and run by ./test.
cmake --build "$dir" -j"$(nproc)" --target kivo_package_files >&2
rm -f "$dir"/kivo_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/kivo_*.deb
