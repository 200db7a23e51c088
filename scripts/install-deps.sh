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
  liblitehtml-dev libsdl2-dev libx11-dev libasound2-dev libminizip-dev
  libmupdf-dev libmujs-dev libgumbo-dev libjbig2dec0-dev libopenjp2-7-dev libharfbuzz-dev
  libcurl4-openssl-dev libxml2-dev nlohmann-json3-dev
  libsecret-1-dev
  # the window benchmarks: XTest key presses, XDamage; the busy pointer test: XFIXES cursor images
  libxtst-dev libxdamage-dev libxfixes-dev
  # the desktop's cursor theme (the busy pointer)
  libxcursor-dev
  # the on-device HTTP media server
  libmicrohttpd-dev
  # bzip2 and LZMA entries of zip books
  libbz2-dev liblzma-dev
  # 7-Zip's 7z.so, loaded by the 7z reader at run time
  p7zip-full
)
TEST_PKGS=(
  xvfb xauth xdotool openbox wmctrl x11-xserver-utils x11-utils imagemagick webp libavif-bin libvips-tools zip unzip nginx
  img2pdf ghostscript mupdf-tools
  # sound made at test time for the page turns by sound
  sox
  apache2 curl
  # caddy: a file browser whose index pages link entries as "./Name/"
  caddy
  dbus-daemon gnome-keyring
  # a desktop's portal (it brings xdg-desktop-portal): every run, CI's too, is on a machine where the
  # portal is installed, as most desktops are, and the tests' own buses must keep it away
  xdg-desktop-portal-gtk
  # NetBIOS, SMB and SSDP peers (nmbd and minidlna answer in network namespaces)
  samba minidlna iproute2
  # smbclient beside the SMB download benchmark
  smbclient
  # the desktop readers beside the window benchmarks
  zathura zathura-cb mcomix
  # FTP and WebDAV peers, and lftp beside the FTP listing benchmark
  vsftpd python3-pyftpdlib libnginx-mod-http-dav-ext lftp
)
# UnRAR's library, the rar packer (test archives) and unrar (the benchmark's
# peer) are in Debian's non-free area, which the system's sources may not list.
NONFREE_PKGS=(libunrar-dev libunrar-headers rar unrar)
# The fuzzing build (./fuzz.sh, which passes --fuzz): clang with libFuzzer and
# the sanitizers' run-time libraries. CI does not build with clang.
FUZZ_PKGS=()
[ "${1:-}" = --fuzz ] && FUZZ_PKGS=(clang-14 libclang-rt-14-dev)

missing=()
for p in "${BUILD_PKGS[@]}" "${TEST_PKGS[@]}" "${NONFREE_PKGS[@]}" "${FUZZ_PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive

# A second sources file made from the system's own: the same mirrors, suites
# and keys, with the non-free component only.
add_nonfree_sources() {
  local src=/etc/apt/sources.list.d/debian.sources
  local out=/etc/apt/sources.list.d/leafbright-non-free
  if [ -f "$src" ]; then
    grep -Eq '^Components:.* non-free( |$)' "$src" && return 0
    [ -f "$out.sources" ] && return 0
    sed -E 's/^Components:.*/Components: non-free/' "$src" | $SUDO tee "$out.sources" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -Eq '^deb .* non-free( |$)' /etc/apt/sources.list && return 0
    [ -f "$out.list" ] && return 0
    grep -E '^deb ' /etc/apt/sources.list |
      awk '{ o = $1; i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) { o = o " " $i; i++ } o = o " " $i; i++ }
             print o, $i, $(i + 1), "non-free" }' | $SUDO tee "$out.list" >/dev/null
  fi
}
for p in "${NONFREE_PKGS[@]}"; do
  if [[ " ${missing[*]} " == *" $p "* ]]; then add_nonfree_sources; break; fi
done
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
