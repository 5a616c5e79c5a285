#!/usr/bin/env bash
# Start-up probe: Kivo's first window against a bare Qt Widgets window, seen from outside on a
# private X screen, warm and cold; then memory with the Home page's web views loaded.
#   scripts/bench.sh [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" build >&2
cmake --build "$here/build" --target kivo_startbench kivo_barewindow >&2
bench="$here/build/app/shell/bench"
memory=()
if cmake --build "$here/build" --target kivo_barewebviews >/dev/null 2>&1; then
  memory=(--memory "$bench/kivo_barewebviews")
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$bench/kivo_startbench" --runs "${1:-11}" "${memory[@]}" \
  "$here/build/kivo/kivo" "$bench/kivo_barewindow"
