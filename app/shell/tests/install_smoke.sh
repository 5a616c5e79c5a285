#!/usr/bin/env bash
# Installs the build under a temporary prefix and starts Kivo through its launcher there (run
# under xvfb-run): the installed program folder must be complete enough to open the window.
set -euo pipefail
build=${1:?usage: install_smoke.sh BUILD_DIR}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
desktop="$prefix/share/applications/kivo-workbench.desktop"
grep -qx "Exec=\"$prefix/lib/kivo/kivo\" %f" "$desktop" || { echo "FAIL: $(cat "$desktop")"; exit 1; }
[[ -f "$prefix/share/icons/hicolor/32x32/apps/kivo-workbench.png" ]] || { echo "FAIL: no icon"; exit 1; }
[[ -d "$prefix/lib/kivo/bin" && -f "$prefix/lib/kivo/etc/snd.mp3" ]] || { echo "FAIL: program folder"; exit 1; }
# Started from elsewhere through the link, it paints its window (and quits, for this check).
cd /
KIVO_REPORT_FIRST_PAINT=1 timeout 60 "$prefix/bin/kivo" | grep -q '^first-paint ' || { echo "FAIL: no window"; exit 1; }
echo "install smoke test passed"
