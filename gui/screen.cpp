// Screen DPI and canvas holders.
#include "gui/screen.h"

#include "display/canvas.h"
#include "platform/platform.h"

int32_t screen_dpi_x = 0;
int32_t screen_dpi_y = 0;

void cache_screen_dpi() {
  if (screen_dpi_x != 0) return;
  HDC screen = GetDC(nullptr);
  screen_dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
  screen_dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
}

void set_owned_canvas(CanvasHolder* holder, display::Canvas* canvas) {
  if (holder->canvas == canvas) return;
  // Deleting runs canvas_destroy, then frees the record.
  delete holder->canvas;
  holder->canvas = canvas;
}

void free_owned_canvas(CanvasHolder* holder) { set_owned_canvas(holder, nullptr); }
