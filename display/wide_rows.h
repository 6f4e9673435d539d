// Rows of the blend, alpha-map and tint kernels sixteen pixels at a time with AVX2, on
// processors that have it. Each writes the leading multiple of sixteen pixels of a row
// exactly as the eight-pixel kernels of rgb565_lanes.h would, and returns how many it
// wrote: 0 without AVX2, so the caller's own loops finish the row.
#pragma once

#include <cstdint>

namespace display {

// level_mix at a level 0-255; with keyed, source pixels equal to key are left alone.
int32_t blend_row_wide(uint16_t* to, const uint16_t* from, int32_t count, int32_t level, bool keyed, uint16_t key);

// alpha_mix weighted (a * level) >> 8 by the alpha value a of each pixel of weights,
// level 0-256 (256: the alpha value itself).
int32_t alpha_row_wide(uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t count, uint32_t level);

// A pixel filter without running state, as plain settings (tints as alpha_mix weights 0-31).
struct TintSettings {
    bool enabled;
    bool tint1, tint2, greyscale;
    uint16_t tint1_colour, tint2_colour;
    uint16_t tint1_weight, tint2_weight;
    uint16_t colour_key;
};

// The filter's pixels over the row; pixels equal to its colour key, or to key with
// keyed, keep the destination.
int32_t tint_row_wide(uint16_t* to, const uint16_t* from, int32_t count, const TintSettings& settings, bool keyed,
                      uint16_t key);

}  // namespace display
