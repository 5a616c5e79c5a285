#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-30}
dir="$here/build-fuzz"
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIVO_FUZZ=ON -DKIVO_BENCHMARKS=OFF
fi
cmake --build "$dir" -j"$(nproc)" --target fuzzers
mapfile -t fuzzers < <(find "$dir" -maxdepth 4 -type f -name 'fuzz_*' -perm -u+x | sort)
for f in "${fuzzers[@]}"; do
  echo "-- $(basename "$f") for ${secs}s"
  mkdir -p "$dir/corpus/$(basename "$f")"
  "$f" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 "$dir/corpus/$(basename "$f")" 2>&1 | tail -n 3
done
