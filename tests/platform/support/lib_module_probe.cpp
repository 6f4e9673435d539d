// A library the module tests load by name: plain C entry points, one of them calling
// into the platform to show that the library shares the program's platform state.
#include "platform/kernel/types.h"

extern "C" int module_probe_add(int a, int b) { return a + b; }

extern "C" void module_probe_set_last_error(DWORD error) { SetLastError(error); }
