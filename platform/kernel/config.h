// Settings of the simulated device, read from the environment (see README).
// Each call reads the environment again, so tests may change a setting between cases.
#pragma once

#include <string>

namespace platform {

// The host folder that holds the device's file system ("\" paths) and its registry:
// ZRK_ROOT, else $XDG_DATA_HOME/zrk/device, else ~/.local/share/zrk/device. Created on demand.
std::string device_root();

// The value of an environment setting, or fallback when it is unset or empty.
std::string setting(const char* name, const char* fallback = "");

}  // namespace platform
