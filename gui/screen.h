// The screen's logical resolution, read once at start-up, and the holder slots through
// which the game display owns its canvases.
#pragma once

#include <cstdint>

namespace display {
struct Canvas;
}

// 0 until cache_screen_dpi has read them.
extern int32_t screen_dpi_x;
extern int32_t screen_dpi_y;

// Reads LOGPIXELSX and LOGPIXELSY of the screen once; later calls keep the first values.
void cache_screen_dpi();

// A slot owning the canvas it holds (or null).
struct CanvasHolder {
  display::Canvas* canvas = nullptr;
};
// Holds canvas, destroying the one held before (storing the same one again does nothing).
void set_owned_canvas(CanvasHolder* holder, display::Canvas* canvas);
// Destroys the held canvas, if any, and empties the holder.
void free_owned_canvas(CanvasHolder* holder);
