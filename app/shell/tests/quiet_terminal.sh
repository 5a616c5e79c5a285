#!/usr/bin/env bash
# The real program on an X screen (run under xvfb-run) as a normal user, whose web engine runs
# sandboxed: its sandboxed processes' "Fontconfig error" lines stay off the terminal, and what
# else reaches standard error still does. As root the check runs as the user nobody.
set -uo pipefail
kivo=${1:?usage: quiet_terminal.sh PATH/TO/kivo}
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
as=()
if [[ $(id -u) -eq 0 ]]; then
  command -v runuser >/dev/null || { echo "runuser is missing"; exit 77; }
  as=(runuser -u nobody --)
  chown nobody "$work"
  # xvfb-run's authority file is root's.
  if [[ -n "${XAUTHORITY:-}" ]]; then
    cp "$XAUTHORITY" "$work/Xauthority" && chown nobody "$work/Xauthority"
    export XAUTHORITY="$work/Xauthority"
  fi
fi
# Long enough for the Home page's two web views to start their processes.
"${as[@]}" env -u QTWEBENGINE_DISABLE_SANDBOX HOME="$work" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
  XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work" timeout 20 "$kivo" >/dev/null 2>"$work/err"
grep -n "Fontconfig" "$work/err" && fail "Fontconfig's complaints reached the terminal"
# The filter passes everything else on.
echo "== the filter passes other lines"
"${as[@]}" env HOME="$work" XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen timeout 20 "$kivo" --no-such-option \
  2>"$work/err2" >/dev/null
grep -q "unknown option '--no-such-option'" "$work/err2" || fail "other lines are lost: $(cat "$work/err2")"
echo "quiet terminal: passed"
