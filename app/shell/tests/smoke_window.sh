#!/usr/bin/env bash
# Starts the real program on an X screen (run under xvfb-run) and checks its window:
# mapped, 813 x 617, centred, and the same X window for its first seconds. Then starts a copy
# whose song is not audio: it must show the error box and never map the main window.
set -euo pipefail
kivo=${1:?usage: smoke_window.sh PATH/TO/kivo}
title="Kivo Workbench v1.5 - by Plovik"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The mapped top-level windows with our title, one "WIDTH HEIGHT X Y" line each.
mapped() {
  local id info
  for id in $(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}'); do
    info=$(xwininfo -id "$id" 2>/dev/null) || continue
    grep -q "Map State: IsViewable" <<<"$info" || continue
    awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2}
         END{print w" "h" "x" "y}' <<<"$info"
  done
}
# The X window ids of our top-level windows that are mapped now.
ids() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}'); do
    if xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"; then echo "$id"; fi
  done
}
wait_mapped() {
  local found
  for _ in $(seq 150); do
    found=$(mapped)
    [[ -n "$found" ]] && { echo "$found"; return 0; }
    sleep 0.1
  done
  return 1
}

"$kivo" & pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
shown=$(wait_mapped) || fail "no window was mapped"
read -r w h x y <<<"$shown"
[[ "$w x $h" == "813 x 617" ]] || fail "the window is $w x $h"
read -r sw sh < <(xwininfo -root | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w" "h}')
[[ $x -eq $(((sw - 813) / 2)) && $y -eq $(((sh - 617) / 2)) ]] || fail "not centred: $x,$y on $sw x $sh"
# The window is made once: the web views attaching after the first paint do not replace it.
seen=$(for _ in $(seq 25); do ids; sleep 0.1; done | sort -u)
[[ $(wc -l <<<"$seen") -eq 1 ]] || fail "the window was made anew: $(echo $seen)"
kill "$pid"; wait "$pid" 2>/dev/null || true

# A program folder whose song is not audio.
dir=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$dir"' EXIT
cp "$kivo" "$dir/kivo"
mkdir -p "$dir/etc"
echo "not a song" > "$dir/etc/snd.mp3"
"$dir/kivo" & pid=$!
shown=$(wait_mapped) || fail "no error box appeared for a song that is not audio"
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "the program ended without waiting for its error box"
if mapped | grep -q '^813 617 '; then fail "the main window was shown although the song was refused"; fi
kill "$pid"; wait "$pid" 2>/dev/null || true
echo "smoke test passed: $shown"
