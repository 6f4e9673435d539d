// The pixel filter's effects, in the order they apply.
#include "display/pixel_filter.h"

#include <typeinfo>

#include "display/rgb565.h"
#include "display/rgb565_lanes.h"
#include "display/wide_rows.h"

namespace display {

namespace {

// Carried from pixel to pixel in drawing order.
int32_t last_red = 0;
int32_t last_green = 0;
int32_t last_blue = 0;
uint32_t alternate_toggle = 0;

constexpr uint32_t spread_mask = 0x07E0F81Fu;

// Green moved up to bits 21-26, red and blue in place: one multiply blends all three.
inline uint32_t spread(uint32_t pixel) { return (pixel | pixel << 16) & spread_mask; }

inline uint16_t tint(uint32_t pixel, uint32_t colour, int32_t level) {
    uint32_t weight = uint32_t(level >> 3);
    uint32_t base = spread(pixel);
    uint32_t t = base + (((spread(colour) - base) * weight) >> 5);
    uint32_t m = t & spread_mask;
    return uint16_t(m | m >> 16);
}

// Single precision, each step rounded, as the device computes it.
inline uint32_t inverted_channel(uint32_t c) {
    const float k = [] {
        uint32_t bits = 0x3B808081u;
        float value;
        __builtin_memcpy(&value, &bits, 4);
        return value;
    }();
    volatile float product = float(c) * k;
    volatile float rest = 1.0f - product;
    volatile float scaled = rest * 255.0f;
    return uint32_t(int32_t(scaled));
}

inline int32_t smoothed(int32_t channel, int32_t* last) {
    *last = int32_t(channel * 0.4 + *last * 0.6);
    return *last;
}

// A tint is alpha_mix toward its colour; the eight-pixel mix takes weights 0-31.
inline bool tint_fits_lanes(uint32_t colour, int32_t level) {
    return colour == 0xFFFFFFFFu || (level >= 0 && level <= 255);
}

// Whether each pixel's result depends on that pixel and its destination alone, through
// effects the eight-pixel path knows.
bool filters_eight_at_a_time(const PixelFilter& filter) {
    if (typeid(filter) != typeid(PixelFilter)) return false;
    if (!filter.enabled) return true;
    return !filter.smooth && !filter.alternate && !filter.invert &&
           tint_fits_lanes(filter.tint1_colour, filter.tint1_level) &&
           tint_fits_lanes(filter.tint2_colour, filter.tint2_level);
}

// The settings of a filter that filters_eight_at_a_time. A tint that is off passes its
// place to the next; so does one of weight 0, which leaves the pixel as it is (but still
// makes the result the source's pixel rather than the destination's).
TintSettings tint_settings(const PixelFilter& f) {
    TintSettings settings{};
    settings.colour_key = uint16_t(f.colour_key);
    settings.key_mask = f.colour_key >= 0 ? 0xFFFF : 0;
    if (!f.enabled) return settings;
    const bool tint1 = f.tint1_colour != 0xFFFFFFFFu, tint2 = f.tint2_colour != 0xFFFFFFFFu;
    int32_t tints = 0;
    if (tint1 && (f.tint1_level >> 3) != 0)
        settings.tints[tints++] = TintFactors::of(uint16_t(f.tint1_colour), uint32_t(f.tint1_level >> 3));
    if (tint2 && (f.tint2_level >> 3) != 0)
        settings.tints[tints++] = TintFactors::of(uint16_t(f.tint2_colour), uint32_t(f.tint2_level >> 3));
    const bool source_as_it_is = tints == 0 && !f.greyscale && (tint1 || tint2);
    settings.shape = source_as_it_is ? 0 : 1 + 2 * tints + (f.greyscale ? 1 : 0);
    if (tints > 0) {
        const TintFactors& last = settings.tints[tints - 1];
        if (last.red_add == 0 && last.green_add == 0 && last.blue_add == 0) settings.shape += 4;
    }
    return settings;
}

// The pixels of the leading multiple of eight columns of every row, for one shape of
// the settings (see TintSettings) and keying; returns how many columns that covers.
template <int shape, int use>
int32_t tint_rows(const BlitRows& r, const TintSettings& s, uint16_t key) {
    constexpr int tints = TintShape::of(shape).tints;
    constexpr bool greyscale = TintShape::of(shape).greyscale;
    const int32_t eights = r.columns & ~7;
    const TintLanes first(s.tints[0]), second(s.tints[1]);
    const __m128i colour_keys = _mm_set1_epi16(int16_t(s.colour_key)), keys = _mm_set1_epi16(int16_t(key));
    const __m128i key_masks = _mm_set1_epi16(int16_t(s.key_mask));
    const __m128i five_bits = _mm_set1_epi16(0x1F);
    uint8_t* to_row = r.to;
    const uint8_t *from_row = r.from, *weights_row = r.weights;
    const uint32_t to_pitch = r.to_pitch, from_pitch = r.from_pitch;
    for (int32_t y = r.rows; eights > 0 && y > 0; --y, to_row += to_pitch, from_row += from_pitch) {
        uint16_t* to = reinterpret_cast<uint16_t*>(to_row);
        const uint16_t* from = reinterpret_cast<const uint16_t*>(from_row);
        const uint16_t* weights = reinterpret_cast<const uint16_t*>(weights_row);
        for (int32_t x = 0; x < eights; x += 8) {
            __m128i source = load8(from + x), target = load8(to + x);
            __m128i result = shape == 1 ? target : source;
            if constexpr (tints >= 1) result = tint8(result, first);
            if constexpr (tints >= 2) result = tint8(result, second);
            if constexpr (greyscale) result = greyscale8(result);
            // Keyed pixels, and those of the filter's own key, keep the destination.
            __m128i keep = _mm_and_si128(_mm_cmpeq_epi16(source, colour_keys), key_masks);
            if constexpr (use == tint_keyed) keep = _mm_or_si128(keep, _mm_cmpeq_epi16(source, keys));
            result = select8(keep, target, result);
            if constexpr (use == tint_weighted)
                result = alpha_mix8(result, target, _mm_and_si128(_mm_srli_epi16(load8(weights + x), 6), five_bits));
            store8(to + x, result);
        }
        if constexpr (use == tint_weighted) weights_row += from_pitch;
    }
    return eights;
}

template <int shape, int use>
struct TintKernel {
    static constexpr TintRows run = tint_rows<shape, use>;
};
constexpr auto tint_kernel_table = tint_kernels<TintKernel>(std::make_index_sequence<tint_shapes>());

// filter(pixel, destination) for every pixel of the rows, row by row in order, as use
// says; a pixel the alpha map hides is not filtered at all.
template <int use, class Filter>
void filter_each_pixel(const BlitRows& r, uint16_t key, Filter filter) {
    uint8_t* to_row = r.to;
    const uint8_t *from_row = r.from, *weights_row = r.weights;
    const uint32_t to_pitch = r.to_pitch, from_pitch = r.from_pitch;
    const int32_t columns = r.columns;
    for (int32_t y = r.rows; y > 0; --y, to_row += to_pitch, from_row += from_pitch) {
        uint16_t* to = reinterpret_cast<uint16_t*>(to_row);
        const uint16_t* from = reinterpret_cast<const uint16_t*>(from_row);
        if constexpr (use == tint_weighted) {
            const uint16_t* weights = reinterpret_cast<const uint16_t*>(weights_row);
            for (int32_t x = 0; x < columns; ++x) {
                uint32_t weight = alpha_of(weights[x]);
                if (weight != 0) to[x] = alpha_mix(filter(from[x], to[x]), to[x], weight);
            }
            weights_row += from_pitch;
        } else {
            for (int32_t x = 0; x < columns; ++x) {
                if (use == tint_keyed && from[x] == key) continue;
                to[x] = filter(from[x], to[x]);
            }
        }
    }
}

// The filter_pixel of a filter's own class as a plain function taking the filter first
// (a GCC extension): looked up once per blit instead of through the object per pixel.
using FilterCall = uint16_t (*)(PixelFilter* filter, uint16_t pixel, uint16_t dst);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpmf-conversions"
FilterCall filter_call_of(PixelFilter* filter) {
    return reinterpret_cast<FilterCall>(filter->*(&PixelFilter::filter_pixel));
}
#pragma GCC diagnostic pop

}  // namespace

RowFilter::RowFilter(PixelFilter* filter)
    : filter_(filter),
      lanes_(filters_eight_at_a_time(*filter)),
      draws_(!lanes_ || !filter->enabled || filter->tint1_colour != 0xFFFFFFFFu ||
             filter->tint2_colour != 0xFFFFFFFFu || filter->greyscale),
      settings_(tint_settings(*filter)) {}

void RowFilter::run(const BlitRows& rows, TintUse use, uint16_t key) const {
    if (!draws_ || rows.rows <= 0 || rows.columns <= 0) return;
    int32_t done = 0;
    if (lanes_) {
        done = tint_rows_wide(rows, settings_, use, key);
        if (done < rows.columns)
            done += tint_kernel_table[use][size_t(settings_.shape)](rows.from_column(done), settings_, key);
        if (done == rows.columns) return;
    }
    // The rest of each row, and every pixel of a filter with running state, in order: this
    // class's own filter_pixel inlined, another's looked up once.
    const BlitRows rest = rows.from_column(done);
    PixelFilter* const filter = filter_;
    if (typeid(*filter) == typeid(PixelFilter)) {
        auto own = [filter](uint16_t pixel, uint16_t under) { return filter->PixelFilter::filter_pixel(pixel, under); };
        if (use == tint_plain) filter_each_pixel<tint_plain>(rest, key, own);
        else if (use == tint_keyed) filter_each_pixel<tint_keyed>(rest, key, own);
        else filter_each_pixel<tint_weighted>(rest, key, own);
        return;
    }
    const FilterCall call = filter_call_of(filter);
    auto other = [filter, call](uint16_t pixel, uint16_t under) { return call(filter, pixel, under); };
    if (use == tint_plain) filter_each_pixel<tint_plain>(rest, key, other);
    else if (use == tint_keyed) filter_each_pixel<tint_keyed>(rest, key, other);
    else filter_each_pixel<tint_weighted>(rest, key, other);
}

uint16_t PixelFilter::filter_pixel(uint16_t pixel, uint16_t dst) {
    if (colour_key >= 0 && pixel == uint16_t(colour_key)) return dst;
    if (!enabled) return pixel;
    uint16_t cur = pixel;
    uint16_t result = dst;
    if (tint1_colour != 0xFFFFFFFFu) cur = result = tint(cur, tint1_colour & 0xFFFF, tint1_level);
    if (tint2_colour != 0xFFFFFFFFu) cur = result = tint(cur, tint2_colour & 0xFFFF, tint2_level);
    if (greyscale) {
        uint32_t a = (((cur >> 11) & 31) + ((cur >> 6) & 31) + (cur & 31)) / 3;
        cur = result = uint16_t((a << 11) | (a << 6) | a);
    }
    if (invert) {
        uint32_t r = inverted_channel((cur >> 11) & 31);
        uint32_t g = inverted_channel((cur >> 5) & 63);
        uint32_t b = inverted_channel(cur & 31);
        cur = result = uint16_t(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
    }
    if (smooth) {
        int32_t r = smoothed((cur >> 11) & 31, &last_red);
        int32_t g = smoothed((cur >> 5) & 63, &last_green);
        int32_t b = smoothed(cur & 31, &last_blue);
        result = uint16_t((r << 11) | (g << 5) | b);
    }
    if (alternate) {
        if (alternate_toggle == 0) {
            alternate_toggle = 1;
            return dst;
        }
        alternate_toggle = 0;
        return cur;
    }
    return result;
}

void pixel_filter_reset(PixelFilter* filter) {
    filter->tint1_colour = filter->tint2_colour = 0xFFFFFFFFu;
    filter->tint1_level = filter->tint2_level = 0;
    filter->smooth = filter->invert = filter->greyscale = filter->alternate = 0;
    filter->enabled = 0;
    pixel_filter_reset_smoothing();
}

void pixel_filter_reset_smoothing() { last_red = last_green = last_blue = 0; }
void pixel_filter_reset_alternate() { alternate_toggle = 0; }

uint16_t colorref_to_rgb565(const uint32_t* colour) {
    uint32_t r = *colour & 0xFF, g = (*colour >> 8) & 0xFF, b = (*colour >> 16) & 0xFF;
    return uint16_t(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

}  // namespace display
