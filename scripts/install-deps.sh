#!/usr/bin/env bash
# Installs every system package that building, running and testing ZRK needs.
# The one place that installs packages: idempotent, quiet when all is present.
set -euo pipefail

# 32-bit build: libraries are i386; tools run natively.
PACKAGES=(
  gcc-multilib g++-multilib cmake ninja-build
  libgtest-dev:i386 libgmock-dev:i386
  libvorbisidec-dev:i386 libogg-dev:i386
  libffi-dev:i386
  libunicorn-dev:i386
  libxcb1-dev:i386 libxcb-shm0-dev:i386
  # The x11 display tests run under a virtual X server they start themselves.
  xvfb
  libasound2-dev:i386
  libstb-dev fonts-dejavu-core
  binutils-arm-linux-gnueabihf
  python3 python3-crcmod
  # Game and display tests: collision masks against a numpy brute force; an independent
  # image decoder and array turns to check frames against.
  python3-numpy python3-pil
  # Game drawing tests: flood fill against scipy's labelling; the 8x16 VGA font fixture
  # is made from a console font of console-setup.
  python3-scipy console-setup-linux
  # Game path tests: reachability of a path goal confirmed on networkx's grid graph.
  python3-networkx
  libtext-soundex-perl
  # Sound tests: independent decoders (sox, oggdec, libxmp) and real modules and Ogg
  # files shipped by Debian packages.
  sox vorbis-tools libxmp-dev:i386 tecnoballz-data sound-theme-freedesktop
  # The benchmark that compares the machine with Lua (bench/versus_lua).
  lua5.4 bc
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# Some mirrors lack an i386 index (often the security suite): one failed index must not stop us.
$SUDO apt-get update -q || echo "install-deps: apt-get update reported errors; continuing" >&2
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
