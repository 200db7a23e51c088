#!/usr/bin/env bash
# Installs what building and testing Leafbright needs, and only what is missing.
# Safe to run again and again: when everything is there it does nothing.
set -euo pipefail

BUILD_PKGS=(
  cmake ninja-build g++ pkg-config ccache libgtest-dev libgmock-dev
  libicu-dev libplist-dev libplist++-dev zlib1g-dev libssl-dev
  libcairo2-dev libpixman-1-dev libpango1.0-dev libfreetype-dev librsvg2-dev
  fonts-dejavu-core fonts-noto-cjk
  libturbojpeg0-dev libspng-dev libpng-dev libgif-dev libtiff-dev libwebp-dev libavif-dev
  liblitehtml-dev libsdl2-dev libasound2-dev libminizip-dev
  libmupdf-dev libmujs-dev libgumbo-dev libjbig2dec0-dev libopenjp2-7-dev libharfbuzz-dev
  libsecret-1-dev
)
TEST_PKGS=(
  xvfb xauth imagemagick webp libavif-bin libvips-tools zip unzip nginx p7zip-full
  img2pdf ghostscript mupdf-tools
  dbus-daemon gnome-keyring
)

missing=()
for p in "${BUILD_PKGS[@]}" "${TEST_PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
