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
for size in 16 32 48 256; do
  [[ -f "$prefix/share/icons/hicolor/${size}x$size/apps/kivo-workbench.png" ]] || { echo "FAIL: no icon"; exit 1; }
done
[[ -d "$prefix/lib/kivo/bin" && -f "$prefix/lib/kivo/etc/snd.mp3" ]] || { echo "FAIL: program folder"; exit 1; }
for command in rastle ciso dax psx psxdisc; do
  [[ -x "$prefix/bin/$command" && -f "$prefix/share/man/man1/$command.1.gz" ]] || { echo "FAIL: $command"; exit 1; }
done
grep -qx "Exec=/bin/sh \"$prefix/lib/kivo/win/contconv/copy/PSP/ISO_Compress/isoconv.sh\" \"$prefix/lib/kivo/bin\" iso %F" \
  "$prefix/share/applications/kivo-workbench-eboot.desktop" || { echo "FAIL: EBOOT action"; exit 1; }
# Started from elsewhere through the link, it paints its window (and quits, for this check),
# working from the user's copy of the installed program folder.
cd /
export XDG_DATA_HOME="$prefix/data"
KIVO_REPORT_FIRST_PAINT=1 timeout 60 "$prefix/bin/kivo" | grep -q '^first-paint ' || { echo "FAIL: no window"; exit 1; }
[[ -L "$XDG_DATA_HOME/kivo/bin/rastle" ]] || { echo "FAIL: no per-user program folder"; exit 1; }
echo "install smoke test passed"
