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

// A pixel as its fields, green and blue in place and alone in their lanes; red's lanes
// hold red in bits 11-15 and may hold anything below.
struct Fields16 {
    __m256i red, green, blue;
};

WIDE inline Fields16 fields16(__m256i p) {
    return {p, _mm256_and_si256(p, lanes(0x07E0)), _mm256_and_si256(p, lanes(0x001F))};
}

WIDE inline __m256i pixels16(const Fields16& f) {
    return _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(f.red, lanes(0xF800)), f.green), f.blue);
}

// mix8 of rgb565_lanes.h, sixteen lanes wide.
template <int green_shift>
WIDE inline __m256i mix16(const Fields16& v, __m256i d, __m256i red_factor, __m256i blue_factor,
                          __m256i green_factor) {
    const __m256i red_mask = lanes(0xF800), green_mask = lanes(0x07E0), blue_mask = lanes(0x001F);
    __m256i red =
        _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_srli_epi16(v.red, 11), _mm256_srli_epi16(d, 11)), red_factor);
    red = _mm256_and_si256(_mm256_add_epi16(_mm256_and_si256(d, red_mask), red), red_mask);
    __m256i d_blue = _mm256_and_si256(d, blue_mask);
    __m256i blue = _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(v.blue, d_blue), blue_factor), 5);
    blue = _mm256_add_epi16(d_blue, blue);
    __m256i d_green = _mm256_and_si256(d, green_mask);
    __m256i green =
        _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(v.green, d_green), green_shift), green_factor);
    green = _mm256_and_si256(_mm256_add_epi16(d_green, green), green_mask);
    return _mm256_or_si256(_mm256_or_si256(red, blue), green);
}

// The colour where choose is set, else other.
WIDE inline __m256i select16(__m256i choose, __m256i colour, __m256i other) {
    return _mm256_blendv_epi8(other, colour, choose);
}

// The fields of alpha_mix one at a time, as mix16<4> mixes them, each new field given in
// the low bits (green in place), each result in place. The weights 0-31 come shifted
// left by 6, where an alpha pixel holds them.
WIDE inline __m256i mix_red16(__m256i red, __m256i d, __m256i weights6) {
    const __m256i red_mask = lanes(0xF800);
    __m256i moved = _mm256_mullo_epi16(_mm256_sub_epi16(red, _mm256_srli_epi16(d, 11)), weights6);
    return _mm256_and_si256(_mm256_add_epi16(_mm256_and_si256(d, red_mask), moved), red_mask);
}

// floor(difference * weight / 32) is the high half of (difference << 5) * (weight << 6).
WIDE inline __m256i mix_blue16(__m256i blue, __m256i d, __m256i weights6) {
    __m256i d_blue = _mm256_and_si256(d, lanes(0x001F));
    return _mm256_add_epi16(d_blue, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(blue, d_blue), 5), weights6));
}

WIDE inline __m256i mix_green16(__m256i green, __m256i d, __m256i weights6) {
    const __m256i green_mask = lanes(0x07E0);
    __m256i d_green = _mm256_and_si256(d, green_mask);
    __m256i moved = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(green, d_green), 4),
                                       _mm256_add_epi16(weights6, weights6));
    return _mm256_and_si256(_mm256_add_epi16(d_green, moved), green_mask);
}

// alpha_mix of sixteen source pixels over d, field after field.
WIDE inline __m256i alpha_mix16(__m256i source, __m256i d, __m256i weights6) {
    __m256i red_blue = _mm256_or_si256(mix_red16(_mm256_srli_epi16(source, 11), d, weights6),
                                       mix_blue16(_mm256_and_si256(source, lanes(0x001F)), d, weights6));
    return _mm256_or_si256(red_blue, mix_green16(_mm256_and_si256(source, lanes(0x07E0)), d, weights6));
}

// Calls block(to, from, weights, x) for every sixteen pixels at the start of the rows
// and returns how many columns that covers.
template <class Block>
WIDE inline int32_t each_wide_block(const BlitRows& r, Block block) {
    const int32_t wide = r.columns & ~15;
    if (wide == 0) return 0;
    // Locals, not fields: a pixel store could otherwise change a field as far as the compiler knows.
    uint8_t* to = r.to;
    const uint8_t *from = r.from, *weights = r.weights;
    const uint32_t to_pitch = r.to_pitch, from_pitch = r.from_pitch;
    for (int32_t y = r.rows; y > 0; --y, to += to_pitch, from += from_pitch, weights += weights ? from_pitch : 0)
        for (int32_t x = 0; x < wide; x += 16)
            block(reinterpret_cast<uint16_t*>(to), reinterpret_cast<const uint16_t*>(from),
                  reinterpret_cast<const uint16_t*>(weights), x);
    return wide;
}

template <bool keyed>
WIDE int32_t blend_rows(const BlitRows& r, int32_t level, uint16_t key) {
    const __m256i red = lanes((level >> 3) * 64), blue = lanes(level >> 3), green = lanes((level >> 2) * 512);
    const __m256i keys = lanes(key);
    return each_wide_block(r, [&](uint16_t* to, const uint16_t* from, const uint16_t*, int32_t x) WIDE {
        __m256i source = load16(from + x), target = load16(to + x);
        __m256i mixed = mix16<1>(fields16(source), target, red, blue, green);
        if (keyed) mixed = select16(_mm256_cmpeq_epi16(source, keys), target, mixed);
        store16(to + x, mixed);
    });
}

// At level 256 the weight is the alpha value itself; below, (a * level) >> 8 is the high
// half of (a << 6) * (level << 2).
template <bool whole_level>
WIDE int32_t alpha_rows(const BlitRows& r, uint32_t level) {
    const __m256i level_lanes = lanes(int32_t(level << 2));
    return each_wide_block(r, [&](uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t x) WIDE {
        __m256i weights6 = _mm256_and_si256(load16(weights + x), lanes(31 << 6));
        if (!whole_level) weights6 = _mm256_slli_epi16(_mm256_mulhi_epu16(weights6, level_lanes), 6);
        if (_mm256_testz_si256(weights6, weights6)) return;
        store16(to + x, alpha_mix16(load16(from + x), load16(to + x), weights6));
    });
}

// tint8 of rgb565_lanes.h, sixteen lanes wide, field by field.
WIDE inline Fields16 tint16(const Fields16& p, const TintFactors& t) {
    __m256i red = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(p.red, 11), lanes(t.red_keep)), lanes(t.red_add));
    __m256i green = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(p.green, 5), lanes(t.keep)), lanes(t.green_add));
    __m256i blue = _mm256_add_epi16(_mm256_mullo_epi16(p.blue, lanes(t.keep)), lanes(t.blue_add));
    return {red, _mm256_and_si256(green, lanes(0x07E0)), _mm256_srli_epi16(blue, 5)};
}

// greyscale8 of rgb565_lanes.h, sixteen lanes wide, field by field.
WIDE inline Fields16 greyscale16(const Fields16& p) {
    __m256i sum = _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(p.red, 11), _mm256_srli_epi16(p.green, 6)), p.blue);
    __m256i a = _mm256_srli_epi16(_mm256_mullo_epi16(sum, lanes(171)), 9);
    return {_mm256_slli_epi16(a, 11), _mm256_slli_epi16(a, 6), a};
}

// A tint's factors in lanes for fields held in the low bits of their lanes; keep11 takes
// green in place to its low bits in the product's high half (the kernels get weights
// 1-31 only, so keep is below 32).
struct TintLanes16 {
    __m256i keep, keep11, red_add, green_add, blue_add;
};

WIDE inline TintLanes16 tint_lanes16(const TintFactors& t) {
    return {lanes(t.keep), lanes(t.keep << 11), lanes(t.red_add >> 6), lanes(t.green_add), lanes(t.blue_add)};
}

// product + add, where add is 0 when the tint goes toward black.
template <bool black>
WIDE inline __m256i plus16(__m256i product, __m256i add) {
    return black ? product : _mm256_add_epi16(product, add);
}

// One field of the filtered pixel, in the low bits of its lanes: each tint takes f to
// (f * keep + add) >> 5, the field tint16 leaves.
template <int tints, bool last_black>
WIDE inline __m256i tinted_field16(__m256i f, const TintLanes16& first, const TintLanes16& second,
                                   __m256i TintLanes16::*add) {
    if constexpr (tints >= 1)
        f = _mm256_srli_epi16(plus16<last_black && tints == 1>(_mm256_mullo_epi16(f, first.keep), first.*add), 5);
    if constexpr (tints >= 2)
        f = _mm256_srli_epi16(plus16<last_black>(_mm256_mullo_epi16(f, second.keep), second.*add), 5);
    return f;
}

// Green of the filtered pixel, through at least one tint: in place (bits 5-10) with
// in_place, else in the low bits.
template <int tints, bool last_black, bool in_place>
WIDE inline __m256i tinted_green16(__m256i source, const TintLanes16& first, const TintLanes16& second) {
    static_assert(tints >= 1, "green is tinted");
    const __m256i green_mask = lanes(0x07E0);
    // green * keep + add: the tinted field times 32, plus what the shift drops.
    __m256i sum = plus16<last_black && tints == 1>(
        _mm256_mulhi_epu16(_mm256_and_si256(source, green_mask), first.keep11), first.green_add);
    if constexpr (tints >= 2)
        sum = plus16<last_black>(_mm256_mullo_epi16(_mm256_srli_epi16(sum, 5), second.keep), second.green_add);
    return in_place ? _mm256_and_si256(sum, green_mask) : _mm256_srli_epi16(sum, 5);
}

// alpha_mix16 of the filtered source over d, field after field: with eight vector
// registers (a 32-bit build) three fields alive at once would spill.
template <int tints, bool greyscale, bool last_black>
WIDE inline __m256i filtered_mix16(__m256i source, __m256i d, __m256i weights6, const TintLanes16& first,
                                   const TintLanes16& second) {
    const __m256i five_bits = lanes(0x1F);
    auto tinted = [&](__m256i field, __m256i TintLanes16::*add) WIDE {
        return tinted_field16<tints, last_black>(field, first, second, add);
    };
    if constexpr (greyscale) {
        __m256i red = tinted(_mm256_srli_epi16(source, 11), &TintLanes16::red_add);
        __m256i green;
        if constexpr (tints == 0) green = _mm256_and_si256(_mm256_srli_epi16(source, 5), lanes(63));
        else green = tinted_green16<tints, last_black, false>(source, first, second);
        __m256i blue = tinted(_mm256_and_si256(source, five_bits), &TintLanes16::blue_add);
        __m256i sum = _mm256_add_epi16(_mm256_add_epi16(red, _mm256_srli_epi16(green, 1)), blue);
        __m256i grey = _mm256_srli_epi16(_mm256_mullo_epi16(sum, lanes(171)), 9);
        return _mm256_or_si256(_mm256_or_si256(mix_red16(grey, d, weights6), mix_blue16(grey, d, weights6)),
                               mix_green16(_mm256_slli_epi16(grey, 6), d, weights6));
    } else {
        static_assert(tints >= 1, "a filter without an effect keeps the destination");
        __m256i result = mix_green16(tinted_green16<tints, last_black, true>(source, first, second), d, weights6);
        result = _mm256_or_si256(result, mix_blue16(tinted(_mm256_and_si256(source, five_bits), &TintLanes16::blue_add),
                                                    d, weights6));
        return _mm256_or_si256(result, mix_red16(tinted(_mm256_srli_epi16(source, 11), &TintLanes16::red_add), d,
                                                 weights6));
    }
}

// One kernel per shape of the settings and use (TintUse), so no setting is tested per pixel.
template <int shape, int use>
WIDE int32_t tint_rows(const BlitRows& r, const TintSettings& s, uint16_t key) {
    constexpr int tints = TintShape::of(shape).tints;
    constexpr bool greyscale = TintShape::of(shape).greyscale;
    [[maybe_unused]] constexpr bool last_black = TintShape::of(shape).last_black;
    // Copies: a pixel store could otherwise change the settings as far as the compiler knows.
    const TintFactors first = s.tints[0], second = s.tints[1];
    const TintLanes16 first_lanes = tint_lanes16(first), second_lanes = tint_lanes16(second);
    const __m256i colour_keys = lanes(s.colour_key), keys = lanes(key), key_masks = lanes(s.key_mask);
    return each_wide_block(r, [&](uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t x) WIDE {
        __m256i source = load16(from + x), target = load16(to + x);
        __m256i keep = _mm256_and_si256(_mm256_cmpeq_epi16(source, colour_keys), key_masks);
        if constexpr (use == tint_keyed) keep = _mm256_or_si256(keep, _mm256_cmpeq_epi16(source, keys));
        if constexpr (use == tint_weighted && shape >= 2) {
            // Pixels of the colour key weigh nothing: they keep the destination, as do
            // sixteen pixels the alpha map hides.
            __m256i weights6 = _mm256_andnot_si256(keep, _mm256_and_si256(load16(weights + x), lanes(31 << 6)));
            if (_mm256_testz_si256(weights6, weights6)) return;
            store16(to + x,
                    filtered_mix16<tints, greyscale, last_black>(source, target, weights6, first_lanes, second_lanes));
        } else if constexpr (shape <= 1) {
            __m256i result = shape == 0 ? source : target;
            if constexpr (use == tint_weighted) {
                __m256i weights6 = _mm256_andnot_si256(keep, _mm256_and_si256(load16(weights + x), lanes(31 << 6)));
                result = alpha_mix16(result, target, weights6);
            } else {
                result = select16(keep, target, result);
            }
            store16(to + x, result);
        } else {
            Fields16 result = fields16(source);
            if constexpr (tints >= 1) result = tint16(result, first);
            if constexpr (tints >= 2) result = tint16(result, second);
            if constexpr (greyscale) result = greyscale16(result);
            store16(to + x, select16(keep, target, pixels16(result)));
        }
    });
}

template <int shape, int use>
struct TintKernel {
    static constexpr TintRows run = tint_rows<shape, use>;
};
constexpr auto tint_kernel_table = tint_kernels<TintKernel>(std::make_index_sequence<tint_shapes>());

}  // namespace

int32_t blend_rows_wide(const BlitRows& rows, int32_t level, bool keyed, uint16_t key) {
    if (!have_wide_lanes()) return 0;
    return keyed ? blend_rows<true>(rows, level, key) : blend_rows<false>(rows, level, key);
}

int32_t alpha_rows_wide(const BlitRows& rows, uint32_t level) {
    if (!have_wide_lanes()) return 0;
    if (level == 256) return alpha_rows<true>(rows, level);
    return alpha_rows<false>(rows, level);
}

int32_t tint_rows_wide(const BlitRows& rows, const TintSettings& settings, TintUse use, uint16_t key) {
    if (!have_wide_lanes()) return 0;
    return tint_kernel_table[use][size_t(settings.shape)](rows, settings, key);
}

}  // namespace display
