// The x11 display (placeholder until the desktop window is built).
#include "platform/backend/display/display_backend.h"

namespace platform::display {

std::unique_ptr<DisplayBackend> open_x11_display(int, int, int, std::string& error) {
  error = "the x11 display is not available";
  return nullptr;
}

}  // namespace platform::display
