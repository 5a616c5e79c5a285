#!/usr/bin/env bash
# Configures (once) and builds the tree into the folder given as $1; extra arguments go to cmake.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}; shift || true
[[ "$dir" = /* ]] || dir="$here/$dir"
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$dir" -j"$(nproc)"
