#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds, starting
# from its seed corpus (build-fuzz/fuzz-seeds/<target>: the built-in seed and the committed ones).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-30}
dir="$here/build-fuzz"
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIVO_FUZZ=ON -DKIVO_BENCHMARKS=OFF
fi
cmake --build "$dir" -j"$(nproc)" --target fuzzers
mapfile -t fuzzers < <(find "$dir" -maxdepth 4 -type f -name 'fuzz_*' ! -name '*_seed' -perm -u+x | sort)
for f in "${fuzzers[@]}"; do
  name=$(basename "$f")
  seeds="$dir/fuzz-seeds/$name"
  if [[ -z "$(ls -A "$seeds" 2>/dev/null)" ]]; then
    echo "-- $name has no seeds in $seeds" >&2
    exit 1
  fi
  echo "-- $name for ${secs}s from $(ls "$seeds" | wc -l) seed(s)"
  mkdir -p "$dir/corpus/$name"
  # New inputs go into the first folder; the seeds are only read.
  log="$dir/corpus/$name.log"
  # A finding's report is printed whole; a clean run only says how far it got.
  if ! "$f" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
      -artifact_prefix="$dir/corpus/$name-" "$dir/corpus/$name" "$seeds" >"$log" 2>&1; then
    grep -v '^#[0-9]' "$log" | tail -n 80 >&2
    echo "-- $name found a fault; its input is in $dir/corpus/$name-*" >&2
    exit 1
  fi
  tail -n 1 "$log"
done
