// Choosing the display backend from ZRK_DISPLAY.
#include <cstdlib>

#include "platform/backend/display/display_backend.h"
#include "platform/kernel/config.h"

namespace platform::display {

std::unique_ptr<DisplayBackend> open_configured_display(int width, int height, std::string& error) {
  std::string choice = setting("ZRK_DISPLAY");
  if (choice.empty()) {
    if (setting("DISPLAY").empty()) return open_headless_display();
    std::string ignored;
    auto desktop = open_x11_display(width, height, 1, ignored);
    return desktop ? std::move(desktop) : open_headless_display();
  }
  if (choice == "headless") return open_headless_display();
  if (choice == "x11" || choice.rfind("x11:", 0) == 0) {
    int scale = 1;
    if (choice.size() > 4) {
      char* end = nullptr;
      long value = std::strtol(choice.c_str() + 4, &end, 10);
      if (*end || value < 1 || value > 8) {
        error = "ZRK_DISPLAY: the scale of \"" + choice + "\" must be a whole number from 1 to 8";
        return nullptr;
      }
      scale = int(value);
    }
    return open_x11_display(width, height, scale, error);
  }
  error = "ZRK_DISPLAY: unknown display \"" + choice + "\" (use headless, x11 or x11:SCALE)";
  return nullptr;
}

}  // namespace platform::display
