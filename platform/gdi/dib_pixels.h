// The pixels behind a DIB section or behind the bitmap selected into a memory context,
// for code of this layer that draws into them (the imaging component, bitmap loaders).
#pragma once

#include <cstdint>

#include "platform/gdi/dib_section.h"

namespace platform {

struct DibPixels {
  uint8_t* bits;
  LONG width;
  LONG height;      // rows, always positive
  bool top_down;    // row 0 is the top row
  WORD bit_count;   // 16 (RGB565), 24 or 32
  uint32_t pitch;   // bytes per row
};

// False for an unknown bitmap or context, or a context without a DIB selected.
bool bitmap_pixels(HGDIOBJ bitmap, DibPixels* out);
bool dc_pixels(HDC dc, DibPixels* out);

}  // namespace platform
