// The panel's pixels onto the composed screen.
#include "platform/gdi/panel_screen.h"

#include <algorithm>
#include <cstring>

#include "platform/device/display_hardware.h"
#include "platform/gdi/gdi_state.h"
#include "platform/gdi/screen.h"
#include "platform/user/window_state.h"

namespace platform {

void show_display_panel() {
  PanelView view{};
  if (!display_panel(&view)) return;
  std::lock_guard hold(gdi::gdi_lock());
  screen_frame();  // the windows first, so that the panel's picture lies over them
  gdi::Target screen = gdi::screen_target();
  int width = std::min(screen.width, int(view.width)), height = std::min(screen.height, int(view.height));
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(screen.bits + ptrdiff_t(y) * screen.stride);
    const uint8_t* from = view.origin + ptrdiff_t(y) * view.y_stride;
    // A panel stored row by row (the common case) is copied a row at a time.
    if (view.x_stride == 2) {
      std::memcpy(row, from, size_t(width) * 2);
      continue;
    }
    for (int x = 0; x < width; ++x, from += view.x_stride) std::memcpy(&row[x], from, 2);
  }
  user::screen_pixels_changed();
}

}  // namespace platform
