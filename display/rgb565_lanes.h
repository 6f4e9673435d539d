// The RGB565 mixes of rgb565.h eight pixels at a time, in SSE2 (on every target of the
// build), each exact to its pixel-at-a-time formula within the range it names.
#pragma once

#include <cstdint>

#include <emmintrin.h>

#include "display/wide_rows.h"

namespace display {

inline __m128i load8(const uint16_t* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }
inline void store8(uint16_t* to, __m128i value) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), value); }

// Both mixes come to this, field by field: each field moves from the destination's
// value toward the new one by a weight, and the fields never carry into each other.
// Red and blue move by red_factor / 64 / 32 and blue_factor / 32 (floored), green by
// a product taken high: (difference of the 0x07E0 fields << green_shift) * green_factor >> 16.
template <int green_shift>
inline __m128i mix8(__m128i v, __m128i d, __m128i red_factor, __m128i blue_factor, __m128i green_factor) {
    const __m128i red_mask = _mm_set1_epi16(int16_t(0xF800)), green_mask = _mm_set1_epi16(0x07E0);
    const __m128i blue_mask = _mm_set1_epi16(0x001F);
    __m128i red = _mm_mullo_epi16(_mm_sub_epi16(_mm_srli_epi16(v, 11), _mm_srli_epi16(d, 11)), red_factor);
    red = _mm_and_si128(_mm_add_epi16(_mm_and_si128(d, red_mask), red), red_mask);
    __m128i d_blue = _mm_and_si128(d, blue_mask);
    __m128i blue = _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(_mm_and_si128(v, blue_mask), d_blue), blue_factor), 5);
    blue = _mm_add_epi16(d_blue, blue);
    __m128i d_green = _mm_and_si128(d, green_mask);
    __m128i green = _mm_mulhi_epi16(
        _mm_slli_epi16(_mm_sub_epi16(_mm_and_si128(v, green_mask), d_green), green_shift), green_factor);
    green = _mm_and_si128(_mm_add_epi16(d_green, green), green_mask);
    return _mm_or_si128(_mm_or_si128(red, blue), green);
}

// The factors of level_mix for a level 0-255, one per 16-bit lane.
struct LevelFactors {
    __m128i red;    // (level >> 3) * 64
    __m128i blue;   // level >> 3
    __m128i green;  // (level >> 2) * 512: floor(difference * 2 * green >> 16) is half the product
    explicit LevelFactors(int32_t level)
        : red(_mm_set1_epi16(int16_t((level >> 3) * 64))),
          blue(_mm_set1_epi16(int16_t(level >> 3))),
          green(_mm_set1_epi16(int16_t((level >> 2) * 512))) {}
};

// level_mix of eight pixels. Up to level 255 blue's part never borrows from red, so the
// shared product of level_mix splits into the fields.
inline __m128i level_mix8(__m128i v, __m128i d, const LevelFactors& f) {
    return mix8<1>(v, d, f.red, f.blue, f.green);
}

// Levels whose products fit the 16-bit lanes of level_mix8.
inline bool level_fits_lanes(int32_t level) { return level >= 0 && level <= 255; }

// alpha_mix of eight pixels with weights 0-31 (0 gives d back). The spread form keeps
// every field within its own bits, so it too splits into the fields.
inline __m128i alpha_mix8(__m128i s, __m128i d, __m128i weights) {
    return mix8<4>(s, d, _mm_slli_epi16(weights, 6), weights, _mm_slli_epi16(weights, 7));
}

// The pixels of eight values: the colour in each lane where choose is set, else other.
inline __m128i select8(__m128i choose, __m128i colour, __m128i other) {
    return _mm_or_si128(_mm_and_si128(choose, colour), _mm_andnot_si128(choose, other));
}

// The factors of a tint in lanes, made once per blit.
struct TintLanes {
    __m128i red_keep, keep, red_add, green_add, blue_add;
    explicit TintLanes(const TintFactors& f)
        : red_keep(_mm_set1_epi16(int16_t(f.red_keep))),
          keep(_mm_set1_epi16(int16_t(f.keep))),
          red_add(_mm_set1_epi16(int16_t(f.red_add))),
          green_add(_mm_set1_epi16(int16_t(f.green_add))),
          blue_add(_mm_set1_epi16(int16_t(f.blue_add))) {}
};

// alpha_mix(colour, pixel, w) of eight pixels by a tint's factors. No sum leaves its
// lane: red's is at most 31 * 32 << 6, green's 63 * 32, blue's 31 * 32.
inline __m128i tint8(__m128i p, const TintLanes& t) {
    __m128i red = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(p, 11), t.red_keep), t.red_add);
    red = _mm_and_si128(red, _mm_set1_epi16(int16_t(0xF800)));
    __m128i green = _mm_and_si128(_mm_srli_epi16(p, 5), _mm_set1_epi16(63));
    green = _mm_and_si128(_mm_add_epi16(_mm_mullo_epi16(green, t.keep), t.green_add), _mm_set1_epi16(0x07E0));
    __m128i blue = _mm_and_si128(p, _mm_set1_epi16(31));
    blue = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(blue, t.keep), t.blue_add), 5);
    return _mm_or_si128(_mm_or_si128(red, green), blue);
}

// The grey of eight pixels: a third of red, green's upper five bits and blue, in all three.
inline __m128i greyscale8(__m128i p) {
    const __m128i five_bits = _mm_set1_epi16(31);
    __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_srli_epi16(p, 11), _mm_and_si128(_mm_srli_epi16(p, 6), five_bits)),
                                _mm_and_si128(p, five_bits));
    // sum / 3 for sums up to 93.
    __m128i a = _mm_srli_epi16(_mm_mullo_epi16(sum, _mm_set1_epi16(171)), 9);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(a, 11), _mm_slli_epi16(a, 6)), a);
}

}  // namespace display
