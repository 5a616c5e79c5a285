#!/usr/bin/env bash
# Every command answers --help and --version on standard output with status 0, without a display
# (kivo opens no window for them); other arguments keep their meaning.
# Usage: help_version.sh KIVO RASTLE PSX PSXDISC
set -uo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for program in "$@"; do
  name=$(basename "$program")
  out=$(timeout 20 "$program" --version 2>"$work/err") || fail "$name --version ended with $?: $(cat "$work/err")"
  [[ "$out" == "$name (Kivo Workbench) "* ]] || fail "$name --version says: $out"
  out=$(timeout 20 "$program" --help 2>"$work/err") || fail "$name --help ended with $?: $(cat "$work/err")"
  grep -qi "usage" <<<"$out" || fail "$name --help says: $out"
  [[ -s "$work/err" ]] && fail "$name --help wrote to standard error: $(cat "$work/err")"
done
kivo=$1 rastle=$2 psx=$3
# kivo: an unknown option is refused before any window (once Qt has taken its own options, so
# with a platform); rastle and psx take "--help" among other arguments as the path or title it is.
QT_QPA_PLATFORM=offscreen timeout 20 "$kivo" --frobnicate >/dev/null 2>"$work/err"
[[ $? -eq 2 ]] && grep -q "unknown option '--frobnicate'" "$work/err" || fail "kivo --frobnicate: $(cat "$work/err")"
out=$("$rastle" -o out.iso --help 2>&1)
[[ $? -ne 0 ]] && grep -q "Couldn't open '--help' for reading" <<<"$out" || fail "rastle -o out.iso --help: $out"
[[ -e out.iso ]] && fail "rastle left out.iso"
"$psx" --help ID 9 missing.iso >/dev/null 2>&1 && fail "psx took a title --help as a request for help"
echo "help and version: passed"
