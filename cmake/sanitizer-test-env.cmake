# Read by CTest in the sanitizer build before it lists or runs any test. Where i386 programs
# run through qemu-user, the leak check at a program's exit stops its threads through
# ptrace, which the emulator does not give, and would hang; AddressSanitizer also needs the
# guest's address space kept below 3 GB. The settings of scripts/sanitizer-env.sh, made here
# so that a plain ctest, and the listing of the unit tests it does first, need nothing from
# the caller's environment.
if(EXISTS /proc/sys/fs/binfmt_misc/qemu-i386)
  file(STRINGS /proc/sys/fs/binfmt_misc/qemu-i386 zrk_binfmt_state LIMIT_COUNT 1)
  if(zrk_binfmt_state STREQUAL "enabled")
    if("$ENV{ASAN_OPTIONS}" STREQUAL "")
      set(ENV{ASAN_OPTIONS} "detect_leaks=0")
    elseif(NOT "$ENV{ASAN_OPTIONS}" MATCHES "(^|:)detect_leaks=0")
      set(ENV{ASAN_OPTIONS} "detect_leaks=0:$ENV{ASAN_OPTIONS}")
    endif()
    if("$ENV{QEMU_RESERVED_VA}" STREQUAL "")
      set(ENV{QEMU_RESERVED_VA} "0xc0000000")
    endif()
  endif()
endif()
