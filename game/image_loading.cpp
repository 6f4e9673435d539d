// Image files and memory blocks as game surfaces, and the scan-line seed fill.
#include <vector>

#include "display/canvas.h"
#include "display/image_files.h"
#include "display/surface.h"
#include "foundation/conversion.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "platform/kernel/memory.h"
#include "platform/media/imaging.h"

display::Surface* load_image_surface(const char* file_name) {
  char16_t* name = to_wide(file_name);
  if (name == nullptr) return nullptr;
  display::Surface* surface = nullptr;
  // BMP files go through the shell's loader, so they need no imaging component.
  if (HBITMAP bitmap = SHLoadDIBitmap(reinterpret_cast<LPCWSTR>(name))) {
    surface = display::surface_from_bitmap(bitmap);
    DeleteObject(bitmap);
  } else {
    surface = display::image_load_file(name);
  }
  crt::free(name);
  return surface;
}

display::Surface* load_image_surface_from_memory(const uint8_t* begin, const uint8_t* end) {
  // A BMP file image is decoded like any other block: the decoder reads BMP too.
  return display::image_decode_memory(begin, end);
}

namespace {

// A run x1..x2 of row y - dy already filled; row y is scanned next.
struct FillSegment {
  int32_t y, x1, x2, dy;
};

}  // namespace

void flood_fill(display::Canvas* canvas, int32_t x, int32_t y, int32_t red, int32_t green, int32_t blue) {
  if (canvas == nullptr || canvas->target == nullptr || canvas->target->buffer == nullptr) return;
  const display::PixelBuffer* buffer = canvas->target->buffer;
  // The game screen, kept inside the target so that every read lands on its pixels.
  int32_t width = game.screen_width < int32_t(buffer->width) ? game.screen_width : int32_t(buffer->width);
  int32_t height = game.screen_height < int32_t(buffer->height) ? game.screen_height : int32_t(buffer->height);
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint16_t colour = uint16_t(((red & 0xF8) << 8 | (green & 0xFC) << 3 | blue >> 3) & 0xFFFF);
  uint16_t old_value = display::canvas_get_pixel(canvas, x, y);
  if (old_value == colour) return;

  // A blend, a filter or the clip can leave a written pixel at its old value; the visited
  // map keeps such a pixel from being taken again, so the fill always ends.
  std::vector<uint8_t> visited(size_t(width) * size_t(height), 0);
  auto open = [&](int32_t px, int32_t py) {
    return !visited[size_t(py) * size_t(width) + size_t(px)] && display::canvas_get_pixel(canvas, px, py) == old_value;
  };
  auto fill = [&](int32_t px, int32_t py) {
    visited[size_t(py) * size_t(width) + size_t(px)] = 1;
    display::canvas_set_pixel(canvas, px, py, colour);
  };
  // Grows as the region needs; a segment is pushed only for a row inside the screen.
  std::vector<FillSegment> stack;
  auto push = [&](int32_t sy, int32_t x1, int32_t x2, int32_t dy) {
    if (sy + dy >= 0 && sy + dy < height) stack.push_back({sy, x1, x2, dy});
  };
  push(y, x, x, 1);
  push(y + 1, x, x, -1);
  while (!stack.empty()) {
    FillSegment segment = stack.back();
    stack.pop_back();
    int32_t line = segment.y + segment.dy;
    int32_t x1 = segment.x1, x2 = segment.x2, dy = segment.dy;
    int32_t px = x1;
    while (px >= 0 && open(px, line)) fill(px--, line);
    int32_t left = x1;
    bool skip = px >= x1;
    if (!skip) {
      left = px + 1;
      if (left < x1) push(line, left, x1 - 1, -dy);
      px = x1 + 1;
    }
    do {
      if (!skip) {
        while (px < width && open(px, line)) fill(px++, line);
        push(line, left, px - 1, dy);
        if (px > x2 + 1) push(line, x2 + 1, px - 1, -dy);
      }
      skip = false;
      for (++px; px <= x2 && !open(px, line); ++px) {
      }
      left = px;
    } while (px <= x2);
  }
}
