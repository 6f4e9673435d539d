// The shell's memory request: asks the shell to close other applications until the given
// number of bytes is free (AYGSHELL ordinal 10 on the device).
#pragma once

#include "platform/kernel/types.h"

// TRUE when the shell freed memory. The simulated device runs no other applications to
// close, so there is never anything to free.
BOOL SHCloseApps(DWORD bytes_needed);
