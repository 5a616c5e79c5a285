#!/usr/bin/env bash
# Runs a command on an X screen that has a window manager (openbox), as a desktop has: run under
# xvfb-run. Without openbox the test is skipped (exit 77).
set -uo pipefail
command -v openbox >/dev/null || { echo "openbox is not installed (scripts/deps.sh installs it)"; exit 77; }
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null' EXIT
# Wait until it manages the screen.
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
"$@"
