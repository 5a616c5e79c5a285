#!/usr/bin/env bash
# Checks a Kivo package on this machine (as root): lintian finds no errors, apt installs it with
# its dependencies, the installed commands convert a test image, kivo maps its window under Xvfb
# and works from the user's own folder, and a purge leaves nothing of the package behind.
set -euo pipefail
deb=$(realpath "${1:?usage: check_installed.sh PACKAGE.deb}")
here=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
installed=
cleanup() {
  [[ -z "$installed" ]] || apt-get -o DPkg::Lock::Timeout=120 purge -y -qq kivo >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$work/lintian.txt"
echo "lintian: $(grep -c '^E:' "$work/lintian.txt" || true) errors, $(grep -c '^W:' "$work/lintian.txt" || true) warnings"

# The web engine is only recommended: Kivo installs and runs without it.
depends=$(dpkg-deb -f "$deb" Depends)
grep -q webengine <<<"$depends" && fail "the web engine is a hard dependency: $depends"
grep -q libqt6webenginewidgets6 <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "the web engine is not recommended"
grep -q gstreamer1.0-plugins-good <<<"$depends" || fail "the song's GStreamer plug-ins are missing: $depends"
grep -q libqt6multimedia6 <<<"$depends" || fail "the song module's Qt Multimedia is missing: $depends"

echo "== install"
export DEBIAN_FRONTEND=noninteractive
# A run that was killed may have left its install behind.
if dpkg-query -W -f='${Status}' kivo 2>/dev/null | grep -q installed; then
  echo "removing the kivo package an earlier run left"
  apt-get -o DPkg::Lock::Timeout=120 purge -y -qq kivo >/dev/null
fi
installed=1
apt-get -o DPkg::Lock::Timeout=120 install -y -qq "$deb" >/dev/null
dpkg-query -L kivo >"$work/files"
for command in kivo rastle ciso dax psx psxdisc pgf kivo-usb kivo-net; do
  [[ "$(command -v "$command")" == /usr/bin/$command ]] || fail "$command is not on PATH"
  [[ -f /usr/share/man/man1/$command.1.gz ]] || fail "no manual page for $command"
done
[[ -d /usr/lib/kivo/bin && -f /usr/lib/kivo/etc/snd.mp3 && -d /usr/lib/kivo/gfx ]] || fail "program folder"
[[ -f /usr/lib/udev/rules.d/60-kivo-psp.rules ]] || fail "no udev rule for the PSP"
kivo-usb --version | grep -q "Kivo Workbench" || fail "kivo-usb does not run"
kivo-net --version | grep -q "Kivo Workbench" || fail "kivo-net does not run"

echo "== the installed tools convert a test image"
cd "$work"
# A 600-sector ISO whose volume descriptor (sector 16) records its size.
head -c $((600 * 2048)) /dev/urandom >game.iso
printf '\001CD001\001' | dd of=game.iso bs=1 seek=$((16 * 2048)) conv=notrunc status=none
printf '\130\002\000\000\000\000\002\130' | dd of=game.iso bs=1 seek=$((16 * 2048 + 80)) conv=notrunc status=none
ciso 9 game.iso game.cso >/dev/null
ciso 0 game.cso back.iso >/dev/null
cmp game.iso back.iso || fail "ciso's round trip changed the image"
dax -l9 game.iso game.dax >/dev/null && dax -d game.dax back2.iso >/dev/null
cmp game.iso back2.iso || fail "dax's round trip changed the image"
ciso -f chd 9 game.iso game.chd >/dev/null && ciso 0 game.chd back3.iso >/dev/null
cmp game.iso back3.iso || fail "ciso's round trip through CHD changed the image"
psx "Test Game" SLUS00001 9 game.iso >/dev/null
rastle EBOOT.PBP | tee rastle.txt
grep -q "^Extracting iso ($((600 * 2352)) bytes) from 'EBOOT.PBP' to 'EBOOT.iso'" rastle.txt || fail "rastle's message"
[[ $(stat -c %s EBOOT.iso) -eq $((600 * 2352)) ]] || fail "rastle wrote $(stat -c %s EBOOT.iso) bytes"
psxdisc verify EBOOT.PBP >/dev/null || fail "psxdisc finds the EBOOT damaged"
psxdisc extract -o disc EBOOT.PBP >/dev/null && cmp disc.bin EBOOT.iso || fail "psxdisc's image differs from rastle's"
pgf -r 20-7E /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ltn0.pgf >/dev/null || fail "pgf could not convert a font"
pgf --info ltn0.pgf | grep -q "^Characters: 95$" || fail "pgf's font does not read back"
[[ -x /usr/lib/kivo/bin/doit && -f /usr/lib/kivo/bin/doit.cmd && -f /usr/share/man/man1/kivo-doit.1.gz ]] ||
  fail "the top-menu builder"

echo "== Open With actions"
command -v desktop-file-validate >/dev/null && desktop-file-validate /usr/share/applications/kivo-*.desktop
# The EBOOT action as a file manager starts it: the image lands beside the file, and an existing
# one is never overwritten.
mkdir opened && cp EBOOT.PBP opened/
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/kivo-workbench-eboot.desktop)
eval "${exec_line/\%F/opened/EBOOT.PBP}"
cmp EBOOT.iso opened/EBOOT.iso || fail "the EBOOT action's image differs"
echo "kept" >opened/EBOOT.iso
eval "${exec_line/\%F/opened/EBOOT.PBP}" 2>/dev/null && fail "the EBOOT action replaced an image"
[[ $(cat opened/EBOOT.iso) == kept ]] || fail "the EBOOT action overwrote an image"
if command -v update-mime-database >/dev/null; then
  grep -q ':application/x-dax-image:\*\.dax$' /usr/share/mime/globs2 || fail "no MIME type for .dax"
  grep -q ':application/x-pbp:\*\.pbp$' /usr/share/mime/globs2 || fail "no MIME type for .pbp"
  grep -q ':application/x-mame-chd:\*\.chd$' /usr/share/mime/globs2 || fail "no MIME type for .chd"
fi

echo "== opening a CSO as a normal user: Kivo opens it, nothing is converted"
# As a file manager would: gio, xdg-open (xdg-utils) and, where installed, KDE's kioclient5 each
# look up the default application.
user=kivo-check-$$
useradd -m "$user"
trap 'userdel -r "$user" >/dev/null 2>&1 || true; cleanup' EXIT
home=$(getent passwd "$user" | cut -d: -f6)
install -o "$user" -d "$home/images"
install -o "$user" game.cso "$home/images/game.cso"
runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home" \
  xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    for type in application/x-compressed-iso application/x-dax-image application/x-mame-chd application/x-pbp \
        application/x-cd-image; do
      apps=$(gio mime $type)
      echo "$apps" | head -1 | grep -q ": kivo-image.desktop\$" || { echo "gio: $type: $apps"; exit 1; }
      echo "$apps" | grep -q -e kivo-isoconv -e kivo-workbench-eboot || { echo "no conversion offered for $type"; exit 1; }
      [ "$(xdg-mime query default $type)" = kivo-image.desktop ] || { echo "xdg-mime: $type"; exit 1; }
    done
    KIVO_REPORT_FIRST_PAINT=1 timeout 60 gio open "$HOME/images/game.cso" || exit 1
    KIVO_REPORT_FIRST_PAINT=1 timeout 60 xdg-open "$HOME/images/game.cso" >/dev/null 2>&1
    # KDE ranks by its own rules: where its launcher is installed, it must open Kivo too.
    if command -v kioclient5 >/dev/null; then
      first=$(ktraderclient5 --mimetype application/x-compressed-iso 2>/dev/null | grep -m1 "^DesktopEntryPath")
      echo "$first" | grep -q "/kivo-image.desktop" || { echo "KDE: $first"; exit 1; }
      KIVO_REPORT_FIRST_PAINT=1 timeout 60 kioclient5 exec "$HOME/images/game.cso" 2>/dev/null |
        grep -q "^first-paint " || { echo "kioclient5 did not open Kivo"; exit 1; }
    fi
    sleep 5
  ' || fail "opening a CSO as $user"
[[ "$(ls "$home/images")" == game.cso ]] || fail "opening game.cso left: $(ls "$home/images")"

echo "== kivo under Xvfb, working from the user's folder"
find /usr/lib/kivo | sort >before
export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_DATA_HOME
cd /
xvfb-run -a -s "-screen 0 1280x1024x24" "$here/app/shell/tests/smoke_window.sh" /usr/bin/kivo
cd "$work"
[[ -L "$HOME/.local/share/kivo/bin/rastle" && -L "$HOME/.local/share/kivo/etc/snd.mp3" ]] ||
  fail "no per-user program folder in $HOME/.local/share/kivo"
find /usr/lib/kivo | sort >after
cmp -s before after || fail "kivo wrote into /usr/lib/kivo: $(comm -13 before after)"

echo "== purge"
apt-get -o DPkg::Lock::Timeout=120 purge -y -qq kivo >/dev/null
installed=
dpkg-query -W kivo >/dev/null 2>&1 && fail "kivo is still known to dpkg"
left=()
while read -r path; do
  [[ -e "$path" || -L "$path" ]] || continue
  [[ -d "$path" && ! -L "$path" ]] && [[ "$path" != /usr/lib/kivo* && "$path" != /usr/share/doc/kivo* ]] && continue
  left+=("$path")
done <files
[[ ${#left[@]} -eq 0 ]] || fail "left behind: ${left[*]}"
echo "package check passed: $(basename "$deb")"
