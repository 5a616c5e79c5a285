#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing,
# so ./run and ./test are quick on a machine that already has them.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config git dpkg-dev
  zlib1g-dev libdeflate-dev liblz4-dev libzopfli-dev libssl-dev libgtest-dev libgmock-dev libusb-1.0-0-dev
  liblzma-dev libflac-dev libzstd-dev
  libfreetype-dev qt6-base-dev qt6-multimedia-dev qt6-webengine-dev qt6-svg-dev libqt6svg6 libfontconfig-dev libxcb1-dev
  gstreamer1.0-plugins-good gstreamer1.0-plugins-base
  xvfb xauth x11-utils xdg-utils fonts-dejavu-core fonts-dejavu-extra fonts-liberation2 trayer openbox
  # The desktop tests: real X input, a private session bus, and the launchers of file types.
  xdotool dbus-daemon desktop-file-utils shared-mime-info libglib2.0-bin file
  imagemagick sox lame genisoimage
)
# Sanitizer and fuzzing runs use clang's runtime; the package is checked with lintian.
if [[ "${1:-}" == "--ci" ]]; then
  packages+=(clang libclang-rt-14-dev lintian)
fi

# chdman, which the CHD tests check Kivo's files against; without what it recommends (all of MAME).
bare_packages=(mame-tools)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=() bare_missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${bare_packages[@]}"; do installed "$p" || bare_missing+=("$p"); done
[[ ${#missing[@]} -eq 0 && ${#bare_missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]} ${bare_missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=120 update -qq
[[ ${#missing[@]} -eq 0 ]] || "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=120 install -y -qq "${missing[@]}"
[[ ${#bare_missing[@]} -eq 0 ]] ||
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=120 install -y -qq --no-install-recommends "${bare_missing[@]}"
