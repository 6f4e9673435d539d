// The shell's memory request of the simulated device.
#include "platform/shell/close_apps.h"

BOOL SHCloseApps(DWORD /*bytes_needed*/) { return FALSE; }
