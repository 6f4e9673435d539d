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
  # ... and, where i386 programs run through an emulator, an i386 Lua to run through it too.
  liblua5.4-dev:i386
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

install_missing_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "install-deps: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # Some mirrors lack an i386 index (often the security suite): one failed index must not stop us.
  $SUDO apt-get update -q || echo "install-deps: apt-get update reported errors; continuing" >&2
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Whether this host runs a 32-bit x86 program: some x86_64 kernels cannot (a hypervisor without
# 32-bit mode, a kernel built without IA-32 emulation), and every program of the build is one.
i386_runs() {
  local dir status=1
  dir="$(mktemp -d)"
  printf 'int main(void) { return 0; }\n' > "$dir/probe.c"
  if gcc -m32 "$dir/probe.c" -o "$dir/probe" 2>/dev/null && "$dir/probe" 2>/dev/null; then status=0; fi
  rm -rf "$dir"
  return $status
}

# The i386 ELF header (class, data, version, executable type, machine 3) as binfmt_misc matches it.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
BINFMT=/proc/sys/fs/binfmt_misc

# Where i386 cannot run natively, hands i386 programs to qemu-user through binfmt_misc. Where it
# runs natively nothing is registered: the kernel consults binfmt handlers before its own loader.
run_i386_through_emulator() {
  i386_runs && return 0
  echo "install-deps: this host cannot run 32-bit x86 programs natively;" \
       "registering qemu-user for them (programs then run through the emulator, slower)" >&2
  install_missing_packages qemu-user-static
  if [ ! -e "$BINFMT/register" ]; then
    echo "install-deps: mounting binfmt_misc" >&2
    $SUDO mount -t binfmt_misc binfmt_misc "$BINFMT" || true
  fi
  if [ -e "$BINFMT/qemu-i386" ]; then
    echo "install-deps: enabling the registered qemu-i386 handler" >&2
    echo 1 | $SUDO tee "$BINFMT/qemu-i386" >/dev/null || true
  else
    echo "install-deps: registering /usr/bin/qemu-i386-static for i386 ELF programs" >&2
    # F: the emulator is opened now, so it serves programs in any mount namespace too.
    echo ":qemu-i386:M::${I386_MAGIC}:${I386_MASK}:/usr/bin/qemu-i386-static:F" |
      $SUDO tee "$BINFMT/register" >/dev/null || true
  fi
  if ! i386_runs; then
    echo "install-deps: 32-bit x86 programs still cannot run on this host, natively or through" \
         "qemu-user; ZRK cannot be built and run here" >&2
    exit 1
  fi
  echo "install-deps: 32-bit x86 programs now run through qemu-user" >&2
}

install_missing_packages "${PACKAGES[@]}"
run_i386_through_emulator
