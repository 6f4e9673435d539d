# Sourced by build.sh (the build runs test programs to list their tests) and by run.sh and
# test.sh, after install-deps.sh has set up the emulator where one is needed.
# LeakSanitizer stops the program's threads through ptrace, which qemu-user does not give:
# where i386 programs run through it, the leak check at exit would hang.
if [ "${ZRK_SANITIZE:-OFF}" = "ON" ] && grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
  export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
fi
