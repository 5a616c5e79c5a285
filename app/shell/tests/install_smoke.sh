#!/usr/bin/env bash
# Installs the build under a temporary prefix and starts Kivo through its launcher there (run
# under xvfb-run): the installed program folder must be complete enough to open the window.
set -euo pipefail
build=${1:?usage: install_smoke.sh BUILD_DIR}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
desktop="$prefix/share/applications/kivo-workbench.desktop"
# Exec lines name their paths unquoted where they can: xdg-open (xdg-utils 1.1.3) keeps quotes.
grep -qx "Exec=$prefix/lib/kivo/kivo %f" "$desktop" || { echo "FAIL: $(cat "$desktop")"; exit 1; }
for size in 16 32 48 256; do
  [[ -f "$prefix/share/icons/hicolor/${size}x$size/apps/kivo-workbench.png" ]] || { echo "FAIL: no icon"; exit 1; }
done
[[ -d "$prefix/lib/kivo/bin" && -f "$prefix/lib/kivo/etc/snd.mp3" ]] || { echo "FAIL: program folder"; exit 1; }
for command in rastle ciso dax psx psxdisc; do
  [[ -x "$prefix/bin/$command" && -f "$prefix/share/man/man1/$command.1.gz" ]] || { echo "FAIL: $command"; exit 1; }
done
grep -qx "Exec=/bin/sh $prefix/lib/kivo/win/contconv/copy/PSP/ISO_Compress/isoconv.sh $prefix/lib/kivo/bin iso %F" \
  "$prefix/share/applications/kivo-workbench-eboot.desktop" || { echo "FAIL: EBOOT action"; exit 1; }
# Started from elsewhere through the link, it paints its window (and quits, for this check),
# working from the user's copy of the installed program folder.
cd /
export XDG_DATA_HOME="$prefix/data"
KIVO_REPORT_FIRST_PAINT=1 timeout 60 "$prefix/bin/kivo" | grep -q '^first-paint ' || { echo "FAIL: no window"; exit 1; }
[[ -L "$XDG_DATA_HOME/kivo/bin/rastle" ]] || { echo "FAIL: no per-user program folder"; exit 1; }

# File types, as the desktop's launchers see them: opening an image starts Kivo, never one of the
# conversions, which stay among the applications offered for it.
fail() { echo "FAIL: $*" >&2; exit 1; }
update-mime-database "$prefix/share/mime" >/dev/null 2>&1
update-desktop-database "$prefix/share/applications"
export XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_CONFIG_HOME="$prefix/config"
for type in application/x-cd-image application/x-iso9660-image application/x-compressed-iso application/x-dax-image \
            application/x-pbp; do
  [[ "$(xdg-mime query default "$type")" == kivo-image.desktop ]] || fail "xdg-mime: $type opens with $(xdg-mime query default "$type")"
  apps=$(gio mime "$type")
  grep -q ': kivo-image.desktop$' <<<"${apps%%$'\n'*}" || fail "gio: ${apps%%$'\n'*}"
  grep -q -e kivo-isoconv -e kivo-workbench-eboot <<<"$apps" || fail "no conversion offered for $type"
done
work=$(mktemp -d -p "$prefix")
cd "$work"
head -c $((600 * 2048)) /dev/zero >game.iso
printf '\001CD001\001' | dd of=game.iso bs=1 seek=$((16 * 2048)) conv=notrunc status=none
"$prefix/bin/ciso" 9 game.iso game.cso >/dev/null
rm game.iso
# xdg-open runs Kivo in the foreground; gio hands it on. Either way Kivo paints (and quits, for
# this check) and no file is converted.
KIVO_REPORT_FIRST_PAINT=1 timeout 60 xdg-open "$work/game.cso" >out.txt 2>err.txt || true
grep -q '^first-paint ' out.txt || grep -q "no method available" err.txt ||
  fail "xdg-open: $(cat out.txt err.txt)"
KIVO_REPORT_FIRST_PAINT=1 timeout 60 gio open "$work/game.cso" >out.txt 2>err.txt || fail "gio open: $(cat err.txt)"
for _ in $(seq 100); do pgrep -f "$prefix/lib/kivo/kivo --open" >/dev/null || break; sleep 0.2; done
[[ "$(ls)" == $'err.txt\ngame.cso\nout.txt' ]] || fail "opening game.cso left: $(ls)"
cd /
echo "install smoke test passed"
