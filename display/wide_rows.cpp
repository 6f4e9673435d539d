// The sixteen-pixel rows: the eight-pixel mixes of rgb565_lanes.h in AVX2 lanes, compiled
// for AVX2 function by function and entered only when the processor has it.
#include "display/wide_rows.h"

#include <immintrin.h>

#define WIDE __attribute__((target("avx2")))

namespace display {

namespace {

bool have_wide_lanes() {
    static const bool available = __builtin_cpu_supports("avx2") != 0;
    return available;
}

WIDE inline __m256i load16(const uint16_t* from) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)); }
WIDE inline void store16(uint16_t* to, __m256i value) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), value); }
WIDE inline __m256i lanes(int32_t value) { return _mm256_set1_epi16(int16_t(value)); }

// mix8 of rgb565_lanes.h, sixteen lanes wide.
template <int green_shift>
WIDE inline __m256i mix16(__m256i v, __m256i d, __m256i red_factor, __m256i blue_factor, __m256i green_factor) {
    const __m256i red_mask = lanes(0xF800), green_mask = lanes(0x07E0), blue_mask = lanes(0x001F);
    __m256i red = _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_srli_epi16(v, 11), _mm256_srli_epi16(d, 11)), red_factor);
    red = _mm256_and_si256(_mm256_add_epi16(_mm256_and_si256(d, red_mask), red), red_mask);
    __m256i d_blue = _mm256_and_si256(d, blue_mask);
    __m256i blue = _mm256_srai_epi16(
        _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_and_si256(v, blue_mask), d_blue), blue_factor), 5);
    blue = _mm256_add_epi16(d_blue, blue);
    __m256i d_green = _mm256_and_si256(d, green_mask);
    __m256i green = _mm256_mulhi_epi16(
        _mm256_slli_epi16(_mm256_sub_epi16(_mm256_and_si256(v, green_mask), d_green), green_shift), green_factor);
    green = _mm256_and_si256(_mm256_add_epi16(d_green, green), green_mask);
    return _mm256_or_si256(_mm256_or_si256(red, blue), green);
}

WIDE inline __m256i alpha_mix16(__m256i s, __m256i d, __m256i weights) {
    return mix16<4>(s, d, _mm256_slli_epi16(weights, 6), weights, _mm256_slli_epi16(weights, 7));
}

// The colour where choose is set, else other.
WIDE inline __m256i select16(__m256i choose, __m256i colour, __m256i other) {
    return _mm256_blendv_epi8(other, colour, choose);
}

template <bool keyed>
WIDE int32_t blend_row(uint16_t* to, const uint16_t* from, int32_t count, int32_t level, uint16_t key) {
    const __m256i red = lanes((level >> 3) * 64), blue = lanes(level >> 3), green = lanes((level >> 2) * 512);
    const __m256i keys = lanes(key);
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m256i source = load16(from + x), target = load16(to + x);
        __m256i mixed = mix16<1>(source, target, red, blue, green);
        if (keyed) mixed = select16(_mm256_cmpeq_epi16(source, keys), target, mixed);
        store16(to + x, mixed);
    }
    return x;
}

// At level 256 the weight is the alpha value itself.
template <bool whole_level>
WIDE int32_t alpha_row(uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t count, uint32_t level) {
    const __m256i five_bits = lanes(0x1F), level_lanes = lanes(int32_t(level));
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m256i weight = _mm256_and_si256(_mm256_srli_epi16(load16(weights + x), 6), five_bits);
        if (!whole_level) weight = _mm256_srli_epi16(_mm256_mullo_epi16(weight, level_lanes), 8);
        store16(to + x, alpha_mix16(load16(from + x), load16(to + x), weight));
    }
    return x;
}

WIDE int32_t tint_row(uint16_t* to, const uint16_t* from, int32_t count, const TintSettings& s, bool keyed,
                      uint16_t key) {
    const __m256i colour_keys = lanes(s.colour_key), keys = lanes(key);
    const __m256i tint1_colour = lanes(s.tint1_colour), tint1_weight = lanes(s.tint1_weight);
    const __m256i tint2_colour = lanes(s.tint2_colour), tint2_weight = lanes(s.tint2_weight);
    const __m256i five_bits = lanes(31), third = lanes(171);
    // Locals: a pixel store could otherwise change the settings as far as the compiler knows.
    const bool enabled = s.enabled, tint1 = s.tint1, tint2 = s.tint2, greyscale = s.greyscale;
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m256i source = load16(from + x), target = load16(to + x);
        __m256i pixels = source, result = source;
        if (enabled) {
            result = target;
            if (tint1) pixels = result = alpha_mix16(tint1_colour, pixels, tint1_weight);
            if (tint2) pixels = result = alpha_mix16(tint2_colour, pixels, tint2_weight);
            if (greyscale) {
                __m256i sum = _mm256_add_epi16(
                    _mm256_add_epi16(_mm256_srli_epi16(pixels, 11),
                                     _mm256_and_si256(_mm256_srli_epi16(pixels, 6), five_bits)),
                    _mm256_and_si256(pixels, five_bits));
                __m256i a = _mm256_srli_epi16(_mm256_mullo_epi16(sum, third), 9);
                result = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(a, 11), _mm256_slli_epi16(a, 6)), a);
            }
        }
        __m256i keep = _mm256_cmpeq_epi16(source, colour_keys);
        if (keyed) keep = _mm256_or_si256(keep, _mm256_cmpeq_epi16(source, keys));
        store16(to + x, select16(keep, target, result));
    }
    return x;
}

}  // namespace

int32_t blend_row_wide(uint16_t* to, const uint16_t* from, int32_t count, int32_t level, bool keyed, uint16_t key) {
    if (!have_wide_lanes()) return 0;
    return keyed ? blend_row<true>(to, from, count, level, key) : blend_row<false>(to, from, count, level, key);
}

int32_t alpha_row_wide(uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t count, uint32_t level) {
    if (!have_wide_lanes()) return 0;
    if (level == 256) return alpha_row<true>(to, from, weights, count, level);
    return alpha_row<false>(to, from, weights, count, level);
}

int32_t tint_row_wide(uint16_t* to, const uint16_t* from, int32_t count, const TintSettings& settings, bool keyed,
                      uint16_t key) {
    return have_wide_lanes() ? tint_row(to, from, count, settings, keyed, key) : 0;
}

}  // namespace display
