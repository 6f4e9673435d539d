// The blend, alpha-map and tint kernels sixteen pixels at a time with AVX2, on processors
// that have it, over every row of a blit at once. Each writes the leading multiple of
// sixteen pixels of every row exactly as the eight-pixel kernels of rgb565_lanes.h would,
// and returns how many columns it wrote: 0 without AVX2, so the caller's own loops finish.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace display {

// The pixels a blit writes: rows rows of columns pixels, each row pitch bytes after the
// one before. The alpha map's rows (weights) lie from_pitch apart, as the source's do.
struct BlitRows {
    uint8_t* to;
    const uint8_t* from;
    const uint8_t* weights;
    uint32_t to_pitch, from_pitch;
    int32_t rows, columns;

    // The same rows from column first on.
    BlitRows from_column(int32_t first) const {
        return {to + 2 * first, from + 2 * first, weights ? weights + 2 * first : nullptr, to_pitch, from_pitch,
                rows, columns - first};
    }
};

// level_mix at a level 0-255; with keyed, source pixels equal to key are left alone.
int32_t blend_rows_wide(const BlitRows& rows, int32_t level, bool keyed, uint16_t key);

// alpha_mix weighted (a * level) >> 8 by the alpha value a of each pixel of weights,
// level 0-256 (256: the alpha value itself).
int32_t alpha_rows_wide(const BlitRows& rows, uint32_t level);

// A tint toward a colour at weight w (0-31) as products per field: each field becomes
// (field * (32 - w) + the colour's field * w) >> 5, which equals alpha_mix(colour,
// pixel, w), field + floor((colour's field - field) * w / 32), without a negative term.
struct TintFactors {
    uint16_t red_keep;   // (32 - w) << 6: red's sum lands on bits 11-15 of its lane
    uint16_t keep;       // 32 - w
    uint16_t red_add;    // (the colour's red * w) << 6
    uint16_t green_add;  // the colour's green * w
    uint16_t blue_add;   // the colour's blue * w

    static TintFactors of(uint16_t colour, uint32_t weight) {
        const uint32_t keep = 32 - weight;
        return {uint16_t(keep << 6), uint16_t(keep), uint16_t(((colour >> 11) * weight) << 6),
                uint16_t(((colour >> 5) & 63) * weight), uint16_t((colour & 31) * weight)};
    }
};

// A pixel filter without running state, as the kernels take it: the effects that apply,
// in order, to every pixel not equal to the colour key.
struct TintSettings {
    // 0: the source pixel as it is (a disabled filter); else 1 + 2 * tints + greyscale
    // with tints 0-2, where 1 (no effect) keeps every destination pixel; 4 more when the
    // last tint goes toward black (a light level), whose sums add nothing.
    int32_t shape;
    TintFactors tints[2];
    uint16_t colour_key;
    uint16_t key_mask;  // 0xFFFF when colour_key applies, 0 for a filter without a key
};
constexpr int32_t tint_shapes = 11;

// The effects of a shape of TintSettings.
struct TintShape {
    int tints;
    bool greyscale;
    bool last_black;

    static constexpr TintShape of(int shape) {
        const bool last_black = shape >= 7;
        const int plain = last_black ? shape - 4 : shape;
        return {plain == 0 ? 0 : (plain - 1) / 2, plain != 0 && (plain - 1) % 2 == 1, last_black};
    }
};

// How the filter's pixels are written: as they are, skipping source pixels equal to a
// key, or mixed in at the weight a/32 of each pixel's alpha value a (0 leaves it).
enum TintUse { tint_plain, tint_keyed, tint_weighted, tint_uses };

// The filter's pixels over the rows; pixels equal to its colour key keep the destination.
int32_t tint_rows_wide(const BlitRows& rows, const TintSettings& settings, TintUse use, uint16_t key);

// A kernel of the filter's pixels for one shape and use; returns the columns it wrote.
using TintRows = int32_t (*)(const BlitRows& rows, const TintSettings& settings, uint16_t key);

// The table [use][shape] of Kernel<shape, use>::run over every shape and use.
template <template <int, int> class Kernel, size_t... shape>
constexpr auto tint_kernels(std::index_sequence<shape...>) {
    return std::array<std::array<TintRows, sizeof...(shape)>, tint_uses>{
        {{Kernel<int(shape), tint_plain>::run...}, {Kernel<int(shape), tint_keyed>::run...},
         {Kernel<int(shape), tint_weighted>::run...}}};
}

}  // namespace display
