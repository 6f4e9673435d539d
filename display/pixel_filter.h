// The pixel filter: the per-pixel colour effects of sprite drawing (two tints, greyscale,
// invert, smoothing, alternate-pixel transparency, a colour key), applied by the filter
// blitter to every pixel it writes. RGB565 throughout.
#pragma once

#include <cstdint>

#include "display/wide_rows.h"

namespace display {

class PixelFilter {
 public:
    // The pixel to store in place of dst when drawing pixel.
    virtual uint16_t filter_pixel(uint16_t pixel, uint16_t dst);

    uint32_t tint1_colour = 0;  // RGB565 in the low 16 bits; 0xFFFFFFFF: off
    uint32_t tint2_colour = 0;  // the same; the renderer's light level tints toward black
    int32_t tint1_level = 0;    // 0-255; weight level >> 3 out of 32
    int32_t tint2_level = 0;
    uint32_t smooth = 0;
    uint32_t invert = 0;
    uint32_t greyscale = 0;
    uint32_t alternate = 0;     // every second pixel written keeps the destination
    int32_t colour_key = 0;     // source pixels of this value are transparent; negative: none
    uint8_t enabled = 0;        // 0: the source pixel passes unchanged
};

// A filter readied for the rows of a blit: run writes filter_pixel(source, destination)
// over every pixel of the rows, row by row in order, as use says (with tint_weighted,
// alpha_mix'ed in by the alpha map of the rows; pixels it hides are not filtered). A
// filter of this very class whose effects keep no running state (no smoothing, alternate
// or invert) goes many pixels at a time, through a kernel made for its combination of
// effects. Its settings are read once, when it is made.
class RowFilter {
 public:
    explicit RowFilter(PixelFilter* filter);
    void run(const BlitRows& rows, TintUse use, uint16_t key) const;

 private:
    PixelFilter* filter_;
    bool lanes_;
    bool draws_;  // false: every pixel keeps its destination (enabled without an effect)
    TintSettings settings_;
};

// Every effect off, the filter disabled and the smoothing state cleared (the game display
// does this when it opens or changes resolution).
void pixel_filter_reset(PixelFilter* filter);
// The running averages of smoothing and the alternate-pixel toggle, shared by all calls.
void pixel_filter_reset_smoothing();
void pixel_filter_reset_alternate();

// A COLORREF (0x00BBGGRR) as RGB565.
uint16_t colorref_to_rgb565(const uint32_t* colour);

}  // namespace display
