// The three blitters. Each operation is one loop nest over RGB565 pixels; the way a value
// is written (stored, level-mixed or filtered) is a small inlined writer, so the three
// kinds share the loops and the copy blitter keeps its block copies and fills.
#include "display/blitter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <emmintrin.h>

#include "display/rgb565.h"
#include "display/rgb565_lanes.h"
#include "display/wide_rows.h"

namespace display {

// The writers of the blend and filter blitters, each made from the blitter's parameter.
struct BlendWriter {
    int32_t level;
    static BlendWriter of(uint32_t parameter) { return {int32_t(parameter)}; }
    void operator()(uint16_t* target, uint32_t value) const { *target = level_mix(value, *target, level); }
};

struct FilterWriter {
    PixelFilter* filter;
    static FilterWriter of(uint32_t parameter) {
        return {reinterpret_cast<PixelFilter*>(uintptr_t(parameter))};
    }
    void operator()(uint16_t* target, uint32_t value) const {
        *target = filter->filter_pixel(uint16_t(value), *target);
    }
};

namespace {

// Values travel as 32-bit words: a 16-bit spill reloaded as 32 bits stalls the loop.
struct StoreWriter {
    void operator()(uint16_t* target, uint32_t value) const { *target = uint16_t(value); }
};

// Whether the pixel memory of the two buffers shares any byte: a blit within one buffer
// keeps the pixel order of the plain loops, so it takes them.
bool share_memory(const PixelBuffer* a, const PixelBuffer* b) {
    uintptr_t a_start = uintptr_t(a->pixels), b_start = uintptr_t(b->pixels);
    uintptr_t a_end = a_start + size_t(a->pitch) * a->height, b_end = b_start + size_t(b->pitch) * b->height;
    return a_start < b_end && b_start < a_end;
}

// One row of count values from one place to another that do not overlap.
inline void copy_row(uint16_t* to, const uint16_t* from, int32_t count) {
    int32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        __m128i a = load8(from + x), b = load8(from + x + 8), c = load8(from + x + 16), d = load8(from + x + 24);
        store8(to + x, a);
        store8(to + x + 8, b);
        store8(to + x + 16, c);
        store8(to + x + 24, d);
    }
    for (; x + 8 <= count; x += 8) store8(to + x, load8(from + x));
    for (; x < count; ++x) to[x] = from[x];
}

// The rows src_rect of src covers and their places in dst; with alpha, its rows too.
BlitRows rows_of(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect,
                 const PixelBuffer* alpha = nullptr) {
    const int32_t columns = src_rect.right - src_rect.left, rows = src_rect.bottom - src_rect.top;
    if (columns <= 0 || rows <= 0) return BlitRows{nullptr, nullptr, nullptr, 0, 0, 0, 0};
    // An alpha map is laid out like the source: it is addressed with the source's pitch.
    const uint8_t* weights =
        alpha ? alpha->pixels + src->pitch * uint32_t(src_rect.top) + 2 * uint32_t(src_rect.left) : nullptr;
    return {reinterpret_cast<uint8_t*>(dst->at(dst_point.x, dst_point.y)),
            reinterpret_cast<const uint8_t*>(src->at(src_rect.left, src_rect.top)),
            weights,
            dst->pitch,
            src->pitch,
            rows,
            columns};
}

// Calls row(to, from, weights, columns) for each row of r in order (weights is null
// without an alpha map).
template <class Row>
void each_row(const BlitRows& r, Row row) {
    // Locals, not fields: without strict aliasing every pixel store could change a field.
    uint8_t* to = r.to;
    const uint8_t *from = r.from, *weights = r.weights;
    const uint32_t to_pitch = r.to_pitch, from_pitch = r.from_pitch;
    const int32_t columns = r.columns;
    if (columns <= 0) return;
    for (int32_t y = r.rows; y > 0; --y, to += to_pitch, from += from_pitch, weights += weights ? from_pitch : 0)
        row(reinterpret_cast<uint16_t*>(to), reinterpret_cast<const uint16_t*>(from),
            reinterpret_cast<const uint16_t*>(weights), columns);
}

// Calls row(to, from, columns) for each row of src_rect and its place in dst.
template <class Row>
void each_row(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect, Row row) {
    each_row(rows_of(dst, dst_point, src, src_rect),
             [&](uint16_t* to, const uint16_t* from, const uint16_t*, int32_t columns) { row(to, from, columns); });
}

// Pixels x .. columns - 1 of a row, one at a time.
template <bool keyed, class Writer>
inline void write_pixels(uint16_t* to, const uint16_t* from, int32_t x, int32_t columns, uint16_t key, Writer write) {
    for (; x < columns; ++x) {
        uint32_t value = from[x];
        if (keyed && value == key) continue;
        write(to + x, value);
    }
}

template <bool keyed, class Writer>
void blit_rows(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect, uint16_t key,
               Writer write) {
    each_row(dst, dst_point, src, src_rect, [&](uint16_t* to, const uint16_t* from, int32_t columns) {
        write_pixels<keyed>(to, from, 0, columns, key, write);
    });
}

// Blend blits: level_mix sixteen or eight pixels at a time; keyed pixels keep the destination.
template <bool keyed>
void blend_rows(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect, uint16_t key,
                int32_t level) {
    const LevelFactors factors(level);
    const __m128i keys = _mm_set1_epi16(int16_t(key));
    const BlitRows rows = rows_of(dst, dst_point, src, src_rect);
    const int32_t wide = blend_rows_wide(rows, level, keyed, key);
    each_row(rows.from_column(wide), [&](uint16_t* to, const uint16_t* from, const uint16_t*, int32_t columns) {
        int32_t x = 0;
        for (; x + 8 <= columns; x += 8) {
            __m128i source = load8(from + x), target = load8(to + x);
            __m128i mixed = level_mix8(source, target, factors);
            if (keyed) mixed = select8(_mm_cmpeq_epi16(source, keys), target, mixed);
            store8(to + x, mixed);
        }
        write_pixels<keyed>(to, from, x, columns, key, BlendWriter{level});
    });
}

// Sums run in unsigned 32-bit arithmetic: they wrap exactly as the 16.16 fixed-point
// values they model, without signed overflow.
template <bool keyed, class Writer>
void blit_transformed_rows(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                           const PixelBuffer* src, uint16_t key, Writer write) {
    if (dst_rect.empty()) return;
    const uint32_t a = uint32_t(matrix.a), b = uint32_t(matrix.b), c = uint32_t(matrix.c), d = uint32_t(matrix.d);
    const uint32_t step_x = a * 64, step_y = b * 64;
    const uint32_t first_x = uint32_t(dst_rect.left) * 64 + 32;
    // Locals, not fields: without strict aliasing every pixel store could change a field.
    const uint32_t width = src->width, height = src->height, src_pitch = src->pitch;
    const uint8_t* const src_pixels = src->pixels;
    const int32_t columns = dst_rect.right - dst_rect.left;
    for (int32_t y = dst_rect.top; y < dst_rect.bottom; ++y) {
        uint32_t row_y = uint32_t(y) * 64 + 32;
        uint32_t sx = a * first_x + c * row_y + uint32_t(matrix.ox);
        uint32_t sy = b * first_x + d * row_y + uint32_t(matrix.oy);
        uint16_t* to = dst->at(dst_rect.left, y);
        for (int32_t x = 0; x < columns; ++x, sx += step_x, sy += step_y) {
            // Negative coordinates become huge unsigned ones and fall outside too.
            uint32_t column = uint32_t(int32_t(sx) >> 16);
            uint32_t row = uint32_t(int32_t(sy) >> 16);
            if (column >= width || row >= height) continue;
            uint32_t value = reinterpret_cast<const uint16_t*>(src_pixels + src_pitch * row)[column];
            if (keyed && value == key) continue;
            write(to + x, value);
        }
    }
}

// Midpoint circle. Eight points per step, as the method has them: on the axes (x = 0)
// points coincide and are written twice.
template <bool clipped, class Writer>
void circle_points(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour, const Rect& clip,
                   Writer write) {
    auto put = [&](int64_t x, int64_t y) {
        if (clipped && (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom)) return;
        write(dst->at(int32_t(x), int32_t(y)), colour);
    };
    const int64_t cx = centre.x, cy = centre.y;
    int64_t decision = 3 - 2 * int64_t(radius);
    int64_t x = 0, y = radius;
    while (x < y) {
        put(cx + x, cy + y);
        put(cx - x, cy + y);
        put(cx + x, cy - y);
        put(cx - x, cy - y);
        put(cx + y, cy + x);
        put(cx - y, cy + x);
        put(cx + y, cy - x);
        put(cx - y, cy - x);
        if (decision < 0) {
            decision += 4 * x + 6;
        } else {
            decision += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
    if (x == y) {
        put(cx + x, cy + y);
        put(cx - x, cy + y);
        put(cx + x, cy - y);
        put(cx - x, cy - y);
    }
}

// The row circle_points has reached at column x, for x before the column where its walk
// ends: the largest y whose two candidate rows lie within the radius on average,
// y^2 + (y-1)^2 < 2(r^2 - x^2). The walk steps down at most one row a column until then.
int64_t circle_row(int64_t radius, int64_t x) {
    if (x == 0) return radius;
    const int64_t limit = 2 * (radius * radius - x * x);
    if (limit <= 1) return 0;
    auto spread = [](int64_t y) { return 2 * y * (y - 1) + 1; };
    auto y = int64_t((1 + std::sqrt(2.0 * double(limit) - 1)) / 2);
    while (y > 0 && spread(y) >= limit) --y;
    while (spread(y + 1) < limit) ++y;
    return y;
}

// Calls visit once for each x in [0, end) that puts centre + x or centre - x in [from, to).
template <class Visit>
void each_offset_into(int64_t centre, int64_t from, int64_t to, int64_t end, Visit visit) {
    int64_t first[2] = {std::max<int64_t>(from - centre, 0), std::max<int64_t>(centre - to + 1, 0)};
    int64_t stop[2] = {std::min(to - centre, end), std::min(centre - from + 1, end)};
    if (first[1] < first[0]) {
        std::swap(first[0], first[1]);
        std::swap(stop[0], stop[1]);
    }
    int64_t x = first[0];
    for (; x < stop[0]; ++x) visit(x);
    for (x = std::max(x, first[1]); x < stop[1]; ++x) visit(x);
}

// The points of circle_points inside clip, found in time of the clip's size rather than the
// radius: a radius near 2^31 would walk a billion steps for the few points a target holds.
// Each column is visited once per pair of octants, so a pixel is written as often as by the walk.
template <class Writer>
void clipped_circle_points(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour, const Rect& clip,
                           Writer write) {
    if (radius <= 0) return circle_points<true>(dst, centre, radius, colour, clip, write);
    const int64_t cx = centre.x, cy = centre.y, r = radius;
    // The points (cx ± dx, cy ± dy) that lie in the clip.
    auto four = [&](int64_t dx, int64_t dy) {
        for (int64_t x : {cx + dx, cx - dx})
            for (int64_t y : {cy + dy, cy - dy})
                if (x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom)
                    write(dst->at(int32_t(x), int32_t(y)), colour);
    };
    // The walk runs while x < y: end is the first column at or past its row.
    int64_t low = 0, high = r;
    while (low < high) {
        int64_t middle = low + (high - low) / 2;
        if (middle >= circle_row(r, middle)) high = middle;
        else low = middle + 1;
    }
    const int64_t end = low;
    each_offset_into(cx, clip.left, clip.right, end, [&](int64_t x) { four(x, circle_row(r, x)); });
    each_offset_into(cy, clip.top, clip.bottom, end, [&](int64_t x) { four(circle_row(r, x), x); });
    // The walk's last step goes down one row where the rows of the formula may go down two.
    int64_t last = circle_row(r, end - 1);
    if (2 * last * (last - 1) + 1 >= 2 * (r * r - end * end)) --last;
    if (last == end) four(end, end);
}

// One row of count pixels set to colour, sixteen bytes per store (SSE2 is on every target).
void fill_row(uint16_t* to, int32_t count, uint16_t colour) {
    const __m128i eight = _mm_set1_epi16(int16_t(colour));
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), eight);
    for (; x < count; ++x) to[x] = colour;
}

template <class Writer>
void fill_rows(PixelBuffer* dst, const Rect& rect, uint16_t colour, Writer write) {
    if (rect.empty()) return;
    int32_t columns = rect.right - rect.left;
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
        uint16_t* to = dst->at(rect.left, y);
        for (int32_t x = 0; x < columns; ++x) write(to + x, colour);
    }
}

template <class Writer>
void clear_all(PixelBuffer* dst, uint16_t colour, Writer write) {
    fill_rows(dst, Rect{0, 0, int32_t(dst->width), int32_t(dst->height)}, colour, write);
}

template <class Writer>
void hline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour, Writer write) {
    if (length <= 0) return;
    uint16_t* to = dst->at(start.x, start.y);
    for (int32_t x = 0; x < length; ++x) write(to + x, colour);
}

template <class Writer>
void vline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour, Writer write) {
    if (length < 0) return;
    uint8_t* to = reinterpret_cast<uint8_t*>(dst->at(start.x, start.y));
    const uint32_t pitch = dst->pitch;
    for (int32_t i = 0; i <= length; ++i, to += pitch) write(reinterpret_cast<uint16_t*>(to), colour);
}

// Steps from both ends toward the middle with one shared error term, so the two halves
// are mirror images and every pixel is written once.
template <class Writer>
void line(PixelBuffer* dst, Point a, Point b, uint16_t colour, Writer write) {
    const int32_t dx = std::abs(b.x - a.x), dy = std::abs(b.y - a.y);
    const ptrdiff_t column_step = b.x >= a.x ? 2 : -2;
    const ptrdiff_t row_step = b.y >= a.y ? ptrdiff_t(dst->pitch) : -ptrdiff_t(dst->pitch);
    const bool x_major = dx >= dy;
    const int32_t major = x_major ? dx : dy;
    const int32_t minor = x_major ? dy : dx;
    const ptrdiff_t straight = x_major ? column_step : row_step;
    const ptrdiff_t diagonal = column_step + row_step;
    uint8_t* end_a = reinterpret_cast<uint8_t*>(dst->at(a.x, a.y));
    uint8_t* end_b = reinterpret_cast<uint8_t*>(dst->at(b.x, b.y));
    auto put = [&](uint8_t* at) { write(reinterpret_cast<uint16_t*>(at), colour); };

    if (major < 2) {
        put(end_a);
        if (major & 1) put(end_b);
        return;
    }
    int32_t error = -major;
    for (int32_t n = major >> 1; n > 0; --n) {
        error += 2 * minor;
        put(end_a);
        put(end_b);
        if (error < 1) {
            end_a += straight;
            end_b -= straight;
        } else {
            end_a += diagonal;
            end_b -= diagonal;
            error -= 2 * major;
        }
    }
    put(end_a);
    if (major & 1) put(end_b);
}

// Filter blits, all rows at once.
template <bool keyed>
void filter_rows(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect, uint16_t key,
                 PixelFilter* filter) {
    RowFilter(filter).run(rows_of(dst, dst_point, src, src_rect), keyed ? tint_keyed : tint_plain, key);
}

inline uint16_t source_pixel(uint16_t source, uint16_t) { return source; }

// Pixels x .. columns - 1 of an alpha-map row; pick gives the pixel mixed in for a
// source pixel over a destination pixel.
template <class Weight, class Pick>
inline void alpha_pixels(uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t x, int32_t columns,
                         Weight weight_of, Pick pick) {
    for (; x < columns; ++x) {
        uint32_t weight = weight_of(alpha_of(weights[x]));
        if (weight != 0) to[x] = alpha_mix(pick(from[x], to[x]), to[x], weight);
    }
}

template <class Weight, class Pick>
void alpha_rows(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const PixelBuffer* alpha,
                const Rect& src_rect, Weight weight_of, Pick pick) {
    each_row(rows_of(dst, dst_point, src, src_rect, alpha),
             [&](uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t columns) {
                 alpha_pixels(to, from, weights, 0, columns, weight_of, pick);
             });
}

// Alpha-map blits whose mixed-in pixel is the source's own, sixteen or eight pixels at a
// time: weight (a * level) >> 8 for the alpha value a, level 0-256 (256: a itself).
void alpha_rows_lanes(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const PixelBuffer* alpha,
                      const Rect& src_rect, uint32_t level) {
    const __m128i five_bits = _mm_set1_epi16(0x1F), level_lanes = _mm_set1_epi16(int16_t(level));
    auto weight_of = [level](uint32_t a) { return (a * level) >> 8; };
    const BlitRows rows = rows_of(dst, dst_point, src, src_rect, alpha);
    const int32_t wide = alpha_rows_wide(rows, level);
    each_row(rows.from_column(wide), [&](uint16_t* to, const uint16_t* from, const uint16_t* weights, int32_t columns) {
        int32_t x = 0;
        for (; x + 8 <= columns; x += 8) {
            __m128i alphas = _mm_and_si128(_mm_srli_epi16(load8(weights + x), 6), five_bits);
            __m128i weight = _mm_srli_epi16(_mm_mullo_epi16(alphas, level_lanes), 8);
            store8(to + x, alpha_mix8(load8(from + x), load8(to + x), weight));
        }
        alpha_pixels(to, from, weights, x, columns, weight_of, source_pixel);
    });
}

}  // namespace

// ---- CopyBlitter ----

void CopyBlitter::blit(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect) {
    // memmove within one buffer: a surface may be blitted onto itself.
    const bool overlapping = share_memory(dst, src);
    each_row(dst, dst_point, src, src_rect, [overlapping](uint16_t* to, const uint16_t* from, int32_t columns) {
        if (overlapping) std::memmove(to, from, size_t(columns) * 2);
        else copy_row(to, from, columns);
    });
}

void CopyBlitter::blit_keyed(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect,
                             uint16_t key) {
    // Eight pixels at a time write back the target's own value where the source is the
    // key; a blit within one buffer keeps the pixel order of the plain loop instead.
    if (share_memory(dst, src)) return blit_rows<true>(dst, dst_point, src, src_rect, key, StoreWriter{});
    const __m128i keys = _mm_set1_epi16(int16_t(key));
    each_row(dst, dst_point, src, src_rect, [&](uint16_t* to, const uint16_t* from, int32_t columns) {
        int32_t x = 0;
        for (; x + 8 <= columns; x += 8) {
            __m128i source = load8(from + x);
            store8(to + x, select8(_mm_cmpeq_epi16(source, keys), load8(to + x), source));
        }
        write_pixels<true>(to, from, x, columns, key, StoreWriter{});
    });
}

void CopyBlitter::blit_transformed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                   const PixelBuffer* src) {
    blit_transformed_rows<false>(dst, dst_rect, matrix, src, 0, StoreWriter{});
}

void CopyBlitter::blit_transformed_keyed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                         const PixelBuffer* src, uint16_t key) {
    blit_transformed_rows<true>(dst, dst_rect, matrix, src, key, StoreWriter{});
}

void CopyBlitter::draw_circle_clipped(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour,
                                      const Rect& clip) {
    clipped_circle_points(dst, centre, radius, colour, clip, StoreWriter{});
}

void CopyBlitter::draw_circle(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour) {
    circle_points<false>(dst, centre, radius, colour, Rect{}, StoreWriter{});
}

void CopyBlitter::clear(PixelBuffer* dst, uint16_t colour) {
    uint8_t low = uint8_t(colour), high = uint8_t(colour >> 8);
    if (low == high) {
        std::memset(dst->pixels, low, size_t(dst->pitch) * dst->height);
        return;
    }
    for (uint32_t y = 0; y < dst->height; ++y) fill_row(dst->row(int32_t(y)), int32_t(dst->width), colour);
}

void CopyBlitter::fill_rect(PixelBuffer* dst, const Rect& rect, uint16_t colour) {
    if (rect.empty()) return;
    for (int32_t y = rect.top; y < rect.bottom; ++y) fill_row(dst->at(rect.left, y), rect.right - rect.left, colour);
}

void CopyBlitter::draw_hline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) {
    if (length > 0) std::fill_n(dst->at(start.x, start.y), length, colour);
}

void CopyBlitter::draw_line(PixelBuffer* dst, Point a, Point b, uint16_t colour) {
    line(dst, a, b, colour, StoreWriter{});
}

void CopyBlitter::set_pixel(PixelBuffer* dst, Point point, uint16_t colour) { *dst->at(point.x, point.y) = colour; }

void CopyBlitter::draw_vline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) {
    vline(dst, start, length, colour, StoreWriter{});
}

void CopyBlitter::blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src,
                                 const PixelBuffer* alpha, const Rect& src_rect) {
    if (share_memory(dst, src) || share_memory(dst, alpha))
        return alpha_rows(dst, dst_point, src, alpha, src_rect, [](uint32_t a) { return a; }, source_pixel);
    alpha_rows_lanes(dst, dst_point, src, alpha, src_rect, 256);
}

// ---- Blend and filter blitters ----

// Blend blits take the eight-pixel mix where its lanes hold the level's products; filter
// blits hand whole rows to the filter. Within one buffer both go pixel by pixel.
template <class Writer>
void WritingBlitter<Writer>::blit(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect) {
    if constexpr (std::is_same_v<Writer, BlendWriter>) {
        int32_t level = int32_t(parameter_);
        if (level_fits_lanes(level) && !share_memory(dst, src))
            return blend_rows<false>(dst, dst_point, src, src_rect, 0, level);
    } else if (!share_memory(dst, src)) {
        return filter_rows<false>(dst, dst_point, src, src_rect, 0, Writer::of(parameter_).filter);
    }
    blit_rows<false>(dst, dst_point, src, src_rect, 0, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::blit_keyed(PixelBuffer* dst, Point dst_point, const PixelBuffer* src,
                                        const Rect& src_rect, uint16_t key) {
    if constexpr (std::is_same_v<Writer, BlendWriter>) {
        int32_t level = int32_t(parameter_);
        if (level_fits_lanes(level) && !share_memory(dst, src))
            return blend_rows<true>(dst, dst_point, src, src_rect, key, level);
    } else if (!share_memory(dst, src)) {
        return filter_rows<true>(dst, dst_point, src, src_rect, key, Writer::of(parameter_).filter);
    }
    blit_rows<true>(dst, dst_point, src, src_rect, key, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::blit_transformed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                              const PixelBuffer* src) {
    blit_transformed_rows<false>(dst, dst_rect, matrix, src, 0, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::blit_transformed_keyed(PixelBuffer* dst, const Rect& dst_rect,
                                                    const TransformMatrix& matrix, const PixelBuffer* src,
                                                    uint16_t key) {
    blit_transformed_rows<true>(dst, dst_rect, matrix, src, key, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::draw_circle_clipped(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour,
                                                 const Rect& clip) {
    clipped_circle_points(dst, centre, radius, colour, clip, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::draw_circle(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour) {
    circle_points<false>(dst, centre, radius, colour, Rect{}, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::clear(PixelBuffer* dst, uint16_t colour) {
    clear_all(dst, colour, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::fill_rect(PixelBuffer* dst, const Rect& rect, uint16_t colour) {
    fill_rows(dst, rect, colour, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::draw_hline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) {
    hline(dst, start, length, colour, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::draw_line(PixelBuffer* dst, Point a, Point b, uint16_t colour) {
    line(dst, a, b, colour, Writer::of(parameter_));
}

template <class Writer>
void WritingBlitter<Writer>::set_pixel(PixelBuffer* dst, Point point, uint16_t colour) {
    Writer::of(parameter_)(dst->at(point.x, point.y), colour);
}

template <class Writer>
void WritingBlitter<Writer>::draw_vline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) {
    vline(dst, start, length, colour, Writer::of(parameter_));
}

template class WritingBlitter<BlendWriter>;
template class WritingBlitter<FilterWriter>;

void BlendBlitter::blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src,
                                  const PixelBuffer* alpha, const Rect& src_rect) {
    const uint32_t blend_level = uint32_t(level());
    auto weight_of = [blend_level](uint32_t a) { return (a * blend_level) >> 8; };
    // Up to 256 the weights stay within 0-31, as the eight-pixel mix needs.
    if (blend_level > 256 || share_memory(dst, src) || share_memory(dst, alpha))
        return alpha_rows(dst, dst_point, src, alpha, src_rect, weight_of, source_pixel);
    alpha_rows_lanes(dst, dst_point, src, alpha, src_rect, blend_level);
}

// The filter decides the pixel (a tint, a light level), then the alpha map weighs it in:
// a lit or tinted sprite with an alpha image must still show.
void FilterBlitter::blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src,
                                   const PixelBuffer* alpha, const Rect& src_rect) {
    PixelFilter* pixel_filter = filter();
    if (!share_memory(dst, src) && !share_memory(dst, alpha))
        return RowFilter(pixel_filter).run(rows_of(dst, dst_point, src, src_rect, alpha), tint_weighted, 0);
    alpha_rows(dst, dst_point, src, alpha, src_rect, [](uint32_t a) { return a; },
               [pixel_filter](uint16_t source, uint16_t under) { return pixel_filter->filter_pixel(source, under); });
}

CopyBlitter* copy_blitter() {
    static CopyBlitter instance;
    return &instance;
}

}  // namespace display
