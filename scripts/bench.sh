#!/usr/bin/env bash
# Start-up benchmark: Kivo's first painted window against a bare Qt Widgets window, under Xvfb.
#   scripts/bench.sh [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" build >&2
cmake --build "$here/build" --target kivo_startbench kivo_barewindow >&2
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/build/app/shell/bench/kivo_startbench" \
  "$here/build/kivo/kivo" "$here/build/app/shell/bench/kivo_barewindow" "${1:-15}"
