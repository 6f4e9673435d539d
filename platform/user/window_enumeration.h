// Enumerating the top-level windows of the device.
#pragma once

#include "platform/kernel/types.h"

struct HWND__;
using HWND = HWND__*;
using LPARAM = LONG_PTR;
using WNDENUMPROC = BOOL (*)(HWND window, LPARAM parameter);

// Calls callback with each top-level window, topmost first, until it returns FALSE.
// TRUE when every window was visited; FALSE for a null callback or a stop.
BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter);

namespace platform {
// The window layer reports its top-level windows here; until it is installed the device
// has none. Calls visit with each window until it returns false.
using TopLevelWindowWalker = void (*)(bool (*visit)(HWND window, void* state), void* state);
extern TopLevelWindowWalker top_level_window_walker;
}  // namespace platform
