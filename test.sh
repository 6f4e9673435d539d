#!/usr/bin/env bash
# Installs what is missing, builds incrementally and runs every test (unit and script tests).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/scripts/build.sh"
build="$here/build"
# LeakSanitizer stops the program's threads through ptrace, which qemu-user does not give:
# where i386 programs run through it, the leak check at exit would hang.
if [ "${ZRK_SANITIZE:-OFF}" = "ON" ] && grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
  export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
fi
[ "${ZRK_SANITIZE:-OFF}" = "ON" ] && build="$here/build-sanitize"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
