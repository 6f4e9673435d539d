// RGB565 pixel arrays: a plain buffer that owns or borrows its pixels, and one whose
// pixels live in a GDI DIB section so that GDI can draw into them.
#pragma once

#include <cstdint>

#include "platform/gdi/dib_section.h"

namespace display {

// Rows run top-down, pitch bytes apart; pixel (x, y) is the 16-bit value at
// pixels + pitch * y + 2 * x.
class PixelBuffer {
 public:
    PixelBuffer() = default;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    // Frees the pixels when the buffer owns them.
    virtual ~PixelBuffer();

    uint16_t* row(int32_t y) const { return reinterpret_cast<uint16_t*>(pixels + pitch * uint32_t(y)); }
    uint16_t* at(int32_t x, int32_t y) const { return row(y) + x; }

    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
    uint8_t* pixels = nullptr;
    uint8_t owns_pixels = 0;
};

// Pixels in a DIB section, selected into a memory device context of its own.
class DibBuffer : public PixelBuffer {
 public:
    // Deletes the memory context, then the bitmap (which owns the pixels).
    ~DibBuffer() override;

    HBITMAP bitmap = nullptr;
    HDC memory_dc = nullptr;
};

// Rows padded to a multiple of 4 bytes, as DIB sections lay them out.
inline uint32_t pixel_pitch(uint32_t width) { return (2 * width + 3) & ~3u; }

// A buffer with its own pixels (contents undefined). Null when the object or the pixels
// cannot be allocated, or when the size does not fit the address space.
PixelBuffer* pixel_buffer_create(uint32_t width, uint32_t height);
// A buffer over pixels someone else owns; null when out of memory.
PixelBuffer* pixel_buffer_wrap(void* pixels, uint32_t width, uint32_t height, uint32_t pitch);
// Sets the fields in place.
void pixel_buffer_init(PixelBuffer* buffer, uint32_t width, uint32_t height, uint32_t pitch, void* pixels,
                       bool owns);
// A top-down RGB565 DIB section of that size in its own memory context (pixels zeroed);
// null, with nothing left behind, when GDI cannot make any part of it.
DibBuffer* dib_buffer_create(uint32_t width, uint32_t height);

}  // namespace display
