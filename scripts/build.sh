#!/usr/bin/env bash
# Configures (once) and builds the tree into the folder given as $1; extra arguments go to cmake.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}; shift || true
[[ "$dir" = /* ]] || dir="$here/$dir"
# A developer's ccache, when present, is shared by every checkout of the tree (paths relative to it).
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$here"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@"
fi
cmake --build "$dir" -j"$(nproc)"
