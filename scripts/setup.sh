#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, run and test.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libglib2.0-dev libgtk-3-dev libx11-dev libssl-dev libcanberra-dev
  gettext
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev llvm
  xvfb xauth dbus dbus-x11 x11-utils x11-apps imagemagick xclip xdotool
  python3 openssl publicsuffix python3-gi libglib2.0-bin
  inspircd microsocks tinyproxy dante-server atheme-services
  libsecret-1-dev gnome-keyring libsecret-tools python3-cryptography
  irssi weechat-headless weechat-plugins tmux socat
  librsvg2-bin adwaita-icon-theme
  libenchant-2-2 hunspell-en-us hunspell-en-gb
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
echo "Installing: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
