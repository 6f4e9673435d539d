# Sourced by build.sh (the build runs test programs to list their tests) and by run.sh and
# test.sh, after install-deps.sh has set up the emulator where one is needed.
if [ "${ZRK_SANITIZE:-OFF}" = "ON" ] && grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
  # LeakSanitizer stops the program's threads through ptrace, which qemu-user does not give:
  # where i386 programs run through it, the leak check at exit would hang.
  export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  # qemu-user hands out guest addresses downwards from 1 GB and then wraps to the top of a
  # 4 GB space, but AddressSanitizer only covers up to 3 GB on a 32-bit system. Ending the
  # guest's space at 3 GB keeps every mapping inside what the sanitizer covers; without it a
  # program using more than about 600 MB fails a sanitizer check instead of running.
  export QEMU_RESERVED_VA="${QEMU_RESERVED_VA:-0xc0000000}"
fi
