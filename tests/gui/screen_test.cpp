// Screen DPI is read once; a canvas holder owns what it holds.
#include <gtest/gtest.h>

#include "display/canvas.h"
#include "display/surface.h"
#include "gui/screen.h"
#include "platform/platform.h"

namespace {

TEST(ScreenDpi, ReadOnceAndKept) {
  screen_dpi_x = screen_dpi_y = 0;
  cache_screen_dpi();
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(screen_dpi_x, GetDeviceCaps(screen, LOGPIXELSX));
  EXPECT_EQ(screen_dpi_y, GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  EXPECT_GT(screen_dpi_x, 0);
  screen_dpi_x = 7;
  screen_dpi_y = 9;
  cache_screen_dpi();
  EXPECT_EQ(screen_dpi_x, 7) << "later calls keep the first values";
  EXPECT_EQ(screen_dpi_y, 9);
}

// Under the sanitizers a canvas destroyed twice or never shows as a fault or a leak.
TEST(CanvasHolder, HoldsReplacesAndFrees) {
  display::Surface surface{nullptr, -1, nullptr, nullptr};
  display::Canvas* first = display::canvas_create_for_surface(nullptr, &surface);
  display::Canvas* second = display::canvas_create_for_surface(nullptr, &surface);
  ASSERT_TRUE(first && second);
  CanvasHolder holder;
  set_owned_canvas(&holder, first);
  set_owned_canvas(&holder, first);  // the same again: kept, not destroyed
  EXPECT_EQ(holder.canvas, first);
  set_owned_canvas(&holder, second);
  EXPECT_EQ(holder.canvas, second);
  set_owned_canvas(&holder, nullptr);
  EXPECT_EQ(holder.canvas, nullptr) << "null destroys the held canvas";
  free_owned_canvas(&holder);
  set_owned_canvas(&holder, display::canvas_create_for_surface(nullptr, &surface));
  free_owned_canvas(&holder);
  EXPECT_EQ(holder.canvas, nullptr);
}

}  // namespace
