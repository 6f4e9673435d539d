// Environment settings of the simulated device.
#include "platform/kernel/config.h"

#include <cstdlib>
#include <filesystem>

namespace platform {

std::string setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return (value && *value) ? std::string(value) : std::string(fallback);
}

std::string device_root() {
  std::string root = setting("ZRK_ROOT");
  if (root.empty()) {
    std::string data = setting("XDG_DATA_HOME");
    if (data.empty()) data = setting("HOME", "/tmp") + "/.local/share";
    root = data + "/zrk/device";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::error_code ignored;
  std::filesystem::create_directories(root, ignored);
  return root;
}

}  // namespace platform
