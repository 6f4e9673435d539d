// Per-pixel RGB565 mixes shared by the blitters: the level mix of blended drawing and
// the alpha-weighted mix of alpha-map blits. Red bits 15-11, green 10-5, blue 4-0.
#pragma once

#include <cstdint>

namespace display {

// New value v over destination d at a blend level 0-255. Red and blue share one product,
// so a borrow out of blue may reach red; the result keeps that.
inline uint16_t level_mix(uint32_t v, uint32_t d, int32_t level) {
    int32_t v_rb = int32_t(v & 0xF81F), v_g = int32_t(v & 0x07E0);
    int32_t d_rb = int32_t(d & 0xF81F), d_g = int32_t(d & 0x07E0);
    int32_t rb = d_rb + (((v_rb - d_rb) * (level >> 3)) >> 5);
    int32_t g = d_g + (((v_g - d_g) * (level >> 2)) >> 6);
    return uint16_t((rb & 0xF81F) | (g & 0x07E0));
}

// Red and blue in place, green moved up to bits 21-26, so one multiply mixes all three.
inline uint32_t spread565(uint32_t p) { return (p & 0x07E0F81F) | ((p & 0x07E0) << 16); }

// Source s over destination d at weight 1-31 (out of 32): d + weight/32 of the difference.
inline uint16_t alpha_mix(uint32_t s, uint32_t d, uint32_t weight) {
    uint32_t ds = spread565(d);
    uint32_t r = ds + (((spread565(s) - ds) * weight) >> 5);
    return uint16_t((r & 0xF81F) | ((r & 0x07E0F81F) >> 16));
}

// The five upper bits of an alpha-map pixel's green field.
inline uint32_t alpha_of(uint32_t alpha_pixel) { return (alpha_pixel >> 6) & 31; }

}  // namespace display
