// The three blitters against per-pixel reference formulas written here: every operation
// is run on small buffers with guard bytes in the row padding, and the whole pixel block
// is compared with what the reference writes produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "display/display_layer.h"

using namespace display;

namespace {

constexpr uint8_t guard_byte = 0xA5;
constexpr uint16_t key = 0xF81F;
constexpr int32_t test_level = 160;

int red(uint16_t p) { return p >> 11; }
int green(uint16_t p) { return (p >> 5) & 63; }
int blue(uint16_t p) { return p & 31; }

int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The level mix: red and blue as one field, green as another, each moved by the level's
// share of the difference (rounded down), then the fields cut back to their bits.
uint16_t reference_level_mix(uint16_t v, uint16_t d, int level) {
    int64_t d_rb = d & 0xF81F, v_rb = v & 0xF81F, d_g = d & 0x07E0, v_g = v & 0x07E0;
    int64_t rb = d_rb + floor_div((v_rb - d_rb) * (level / 8), 32);
    int64_t g = d_g + floor_div((v_g - d_g) * (level / 4), 64);
    return uint16_t((rb & 0xF81F) | (g & 0x07E0));
}

// The alpha mix on the spread word, modulo 2^32 throughout.
uint16_t reference_alpha_mix(uint16_t s, uint16_t d, uint32_t weight) {
    auto spread = [](uint64_t p) { return (p & 0xF81F) | ((p & 0x07E0) << 16); };
    uint64_t difference = (spread(s) - spread(d)) & 0xFFFFFFFFu;
    uint64_t r = (spread(d) + ((difference * weight) & 0xFFFFFFFFu) / 32) & 0xFFFFFFFFu;
    return uint16_t((r & 0xF81F) | ((r >> 16) & 0x07E0));
}

uint16_t reference_filter(uint16_t pixel, uint16_t dst) { return uint16_t((pixel ^ (dst >> 1)) + 0x0841); }

// A stateless filter that counts its calls.
class CountingFilter final : public PixelFilter {
 public:
    uint16_t filter_pixel(uint16_t pixel, uint16_t dst) override {
        ++calls;
        return reference_filter(pixel, dst);
    }
    int calls = 0;
};

enum class Kind { copy, blend, filter };
const Kind all_kinds[] = {Kind::copy, Kind::blend, Kind::filter};
const char* kind_name(Kind kind) { return kind == Kind::copy ? "copy" : kind == Kind::blend ? "blend" : "filter"; }

// One blitter of each kind, with the filter it calls.
struct Blitters {
    CountingFilter filter;
    BlendBlitter blend{test_level};
    FilterBlitter filtered{&filter};
    Blitter& of(Kind kind) {
        if (kind == Kind::copy) return *copy_blitter();
        if (kind == Kind::blend) return blend;
        return filtered;
    }
};

uint16_t reference_write(Kind kind, uint16_t value, uint16_t dst) {
    if (kind == Kind::copy) return value;
    if (kind == Kind::blend) return reference_level_mix(value, dst, test_level);
    return reference_filter(value, dst);
}

// A buffer of the given size filled from a seed, with guard bytes in the row padding.
class Image {
 public:
    Image(uint32_t width, uint32_t height, uint32_t seed) : buffer_(pixel_buffer_create(width, height)) {
        std::memset(buffer_->pixels, guard_byte, size_t(buffer_->pitch) * height);
        uint32_t state = seed * 2654435761u + 1;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                state = state * 1664525u + 1013904223u;
                *buffer_->at(x, y) = uint16_t(state >> 16);
            }
    }
    PixelBuffer* get() const { return buffer_.get(); }
    uint16_t& at(int x, int y) { return *buffer_->at(x, y); }
    std::vector<uint8_t> bytes() const {
        return std::vector<uint8_t>(buffer_->pixels, buffer_->pixels + size_t(buffer_->pitch) * buffer_->height);
    }

 private:
    std::unique_ptr<PixelBuffer> buffer_;
};

struct Write {
    int x;
    int y;
    uint16_t value;
};

void apply(std::vector<uint8_t>& bytes, uint32_t pitch, Kind kind, const std::vector<Write>& writes) {
    for (const Write& w : writes) {
        uint16_t dst;
        std::memcpy(&dst, &bytes[w.y * pitch + 2 * w.x], 2);
        uint16_t out = reference_write(kind, w.value, dst);
        std::memcpy(&bytes[w.y * pitch + 2 * w.x], &out, 2);
    }
}

// The first differing pixel or padding byte, for a readable failure.
std::string first_difference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, uint32_t pitch) {
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "byte " + std::to_string(i) + " (row " + std::to_string(i / pitch) + ", column byte " +
                   std::to_string(i % pitch) + "): got " + std::to_string(got[i]) + ", want " +
                   std::to_string(want[i]);
    return "";
}

// Reference writes of the row-copying operations.
std::vector<Write> copy_writes(const PixelBuffer* src, Point at, Rect rect, bool keyed) {
    std::vector<Write> writes;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) {
            uint16_t v = *src->at(x, y);
            if (!keyed || v != key) writes.push_back({at.x + x - rect.left, at.y + y - rect.top, v});
        }
    return writes;
}

// Reference writes of a transformed blit: the pixel centre through the matrix in 64-bit
// arithmetic, wrapped to 32 bits, whole pixels by flooring.
std::vector<Write> transformed_writes(const PixelBuffer* src, Rect rect, TransformMatrix m, bool keyed) {
    std::vector<Write> writes;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) {
            int64_t cx = 64 * int64_t(x) + 32, cy = 64 * int64_t(y) + 32;
            auto wrap = [](int64_t v) { return int32_t(uint32_t(uint64_t(v))); };
            int32_t sx = wrap(int64_t(m.a) * cx + int64_t(m.c) * cy + m.ox);
            int32_t sy = wrap(int64_t(m.b) * cx + int64_t(m.d) * cy + m.oy);
            int64_t column = floor_div(sx, 65536), row = floor_div(sy, 65536);
            if (column < 0 || row < 0 || column >= int64_t(src->width) || row >= int64_t(src->height)) continue;
            uint16_t v = *src->at(int(column), int(row));
            if (!keyed || v != key) writes.push_back({x, y, v});
        }
    return writes;
}

std::vector<Write> rect_writes(Rect rect, uint16_t colour) {
    std::vector<Write> writes;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) writes.push_back({x, y, colour});
    return writes;
}

struct OperationCase {
    std::string name;
    std::function<void(Blitter&, PixelBuffer* dst, const PixelBuffer* src)> run;
    std::function<std::vector<Write>(const PixelBuffer* dst, const PixelBuffer* src)> expected;
};

std::vector<OperationCase> operation_cases() {
    std::vector<OperationCase> cases;
    struct BlitCase {
        const char* name;
        Point at;
        Rect rect;
    };
    // The destination is 9 x 7, the source 5 x 4.
    const BlitCase blits[] = {
        {"whole source at the origin", {0, 0}, {0, 0, 5, 4}},
        {"whole source against the right and bottom edges", {4, 3}, {0, 0, 5, 4}},
        {"inner source rectangle", {2, 2}, {1, 1, 4, 3}},
        {"odd-width strip at the left edge", {0, 1}, {2, 0, 5, 4}},
        {"one pixel", {8, 6}, {4, 3, 5, 4}},
        {"zero width", {1, 1}, {2, 1, 2, 3}},
        {"zero height", {1, 1}, {0, 2, 5, 2}},
        {"inverted rectangle", {1, 1}, {3, 3, 1, 1}},
    };
    for (const BlitCase& b : blits) {
        cases.push_back({std::string("blit, ") + b.name,
                         [b](Blitter& blitter, PixelBuffer* dst, const PixelBuffer* src) {
                             blitter.blit(dst, b.at, src, b.rect);
                         },
                         [b](const PixelBuffer*, const PixelBuffer* src) {
                             return copy_writes(src, b.at, b.rect, false);
                         }});
        cases.push_back({std::string("keyed blit, ") + b.name,
                         [b](Blitter& blitter, PixelBuffer* dst, const PixelBuffer* src) {
                             blitter.blit_keyed(dst, b.at, src, b.rect, key);
                         },
                         [b](const PixelBuffer*, const PixelBuffer* src) {
                             return copy_writes(src, b.at, b.rect, true);
                         }});
    }

    struct TransformCase {
        const char* name;
        Rect rect;
        TransformMatrix matrix;
    };
    const TransformCase transforms[] = {
        {"identity past the right and bottom of the source", {0, 0, 9, 7}, {1024, 0, 0, 1024, 0, 0}},
        {"shifted so columns left of the source are negative", {0, 0, 9, 7}, {1024, 0, 0, 1024, -2 << 16, 0}},
        {"shifted so rows above the source are negative", {0, 0, 9, 7}, {1024, 0, 0, 1024, 0, -3 << 16}},
        {"shifted right and down", {1, 2, 8, 6}, {1024, 0, 0, 1024, 3 << 16, 1 << 16}},
        {"stretched twice", {0, 0, 9, 7}, {512, 0, 0, 512, 0, 0}},
        {"shrunk to half", {0, 0, 9, 7}, {2048, 0, 0, 2048, 0, 0}},
        {"mirrored left to right", {0, 0, 9, 7}, {-1024, 0, 0, 1024, 5 << 16, 0}},
        {"transposed", {0, 0, 9, 7}, {0, 1024, 1024, 0, 0, 0}},
        {"turned 30 degrees about a corner", {0, 0, 9, 7}, {886, -512, 512, 886, 1 << 15, 1 << 16}},
        {"far off with wrapping sums", {0, 0, 9, 7}, {1024, 0, 0, 1024, int32_t(0x7FFF0000), 0}},
        {"one pixel", {4, 4, 5, 5}, {1024, 0, 0, 1024, -2 << 16, -2 << 16}},
        {"empty rectangle", {3, 3, 3, 6}, {1024, 0, 0, 1024, 0, 0}},
    };
    for (const TransformCase& t : transforms) {
        cases.push_back({std::string("transformed, ") + t.name,
                         [t](Blitter& blitter, PixelBuffer* dst, const PixelBuffer* src) {
                             blitter.blit_transformed(dst, t.rect, t.matrix, src);
                         },
                         [t](const PixelBuffer*, const PixelBuffer* src) {
                             return transformed_writes(src, t.rect, t.matrix, false);
                         }});
        cases.push_back({std::string("keyed transformed, ") + t.name,
                         [t](Blitter& blitter, PixelBuffer* dst, const PixelBuffer* src) {
                             blitter.blit_transformed_keyed(dst, t.rect, t.matrix, src, key);
                         },
                         [t](const PixelBuffer*, const PixelBuffer* src) {
                             return transformed_writes(src, t.rect, t.matrix, true);
                         }});
    }

    const Rect fills[] = {{0, 0, 9, 7}, {2, 1, 7, 4}, {8, 6, 9, 7}, {3, 3, 3, 5}, {5, 5, 2, 2}};
    for (Rect r : fills) {
        cases.push_back({"fill_rect " + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                             std::to_string(r.right) + "," + std::to_string(r.bottom),
                         [r](Blitter& blitter, PixelBuffer* dst, const PixelBuffer*) { blitter.fill_rect(dst, r, 0x3A5C); },
                         [r](const PixelBuffer*, const PixelBuffer*) { return rect_writes(r, 0x3A5C); }});
    }

    struct LineCase {
        Point start;
        int32_t length;
    };
    const LineCase hlines[] = {{{0, 6}, 9}, {{3, 2}, 1}, {{3, 2}, 0}, {{3, 2}, -1}, {{8, 0}, 1}};
    for (LineCase l : hlines) {
        cases.push_back({"draw_hline at " + std::to_string(l.start.x) + "," + std::to_string(l.start.y) + " length " +
                             std::to_string(l.length),
                         [l](Blitter& blitter, PixelBuffer* dst, const PixelBuffer*) {
                             blitter.draw_hline(dst, l.start, l.length, 0x07E0);
                         },
                         [l](const PixelBuffer*, const PixelBuffer*) {
                             return rect_writes({l.start.x, l.start.y, l.start.x + l.length, l.start.y + 1}, 0x07E0);
                         }});
    }
    const LineCase vlines[] = {{{8, 0}, 6}, {{2, 3}, 1}, {{2, 3}, 0}, {{2, 3}, -1}, {{0, 6}, 0}};
    for (LineCase l : vlines) {
        cases.push_back({"draw_vline at " + std::to_string(l.start.x) + "," + std::to_string(l.start.y) + " length " +
                             std::to_string(l.length),
                         [l](Blitter& blitter, PixelBuffer* dst, const PixelBuffer*) {
                             blitter.draw_vline(dst, l.start, l.length, 0x001F);
                         },
                         [l](const PixelBuffer*, const PixelBuffer*) {
                             // length + 1 pixels: both ends included.
                             return rect_writes({l.start.x, l.start.y, l.start.x + 1, l.start.y + l.length + 1}, 0x001F);
                         }});
    }
    for (Point p : {Point{0, 0}, Point{8, 6}, Point{8, 0}, Point{0, 6}}) {
        cases.push_back({"set_pixel " + std::to_string(p.x) + "," + std::to_string(p.y),
                         [p](Blitter& blitter, PixelBuffer* dst, const PixelBuffer*) { blitter.set_pixel(dst, p, 0xC618); },
                         [p](const PixelBuffer*, const PixelBuffer*) { return std::vector<Write>{{p.x, p.y, 0xC618}}; }});
    }
    // Unequal bytes: the copy blitter stores pixels, leaving the row padding alone.
    cases.push_back({"clear",
                     [](Blitter& blitter, PixelBuffer* dst, const PixelBuffer*) { blitter.clear(dst, 0x1234); },
                     [](const PixelBuffer* dst, const PixelBuffer*) {
                         return rect_writes({0, 0, int(dst->width), int(dst->height)}, 0x1234);
                     }});
    return cases;
}

}  // namespace

TEST(Blitters, EveryOperationMatchesItsReferenceWrites) {
    for (const OperationCase& c : operation_cases()) {
        for (Kind kind : all_kinds) {
            SCOPED_TRACE(c.name + " (" + kind_name(kind) + ")");
            Image dst(9, 7, 1);
            Image src(5, 4, 2);
            src.at(0, 0) = key;
            src.at(2, 1) = key;
            src.at(4, 3) = key;
            std::vector<uint8_t> want = dst.bytes();
            std::vector<Write> writes = c.expected(dst.get(), src.get());
            apply(want, dst.get()->pitch, kind, writes);

            Blitters blitters;
            c.run(blitters.of(kind), dst.get(), src.get());
            EXPECT_EQ(first_difference(dst.bytes(), want, dst.get()->pitch), "");
            // A filter is called once per pixel written, never for a skipped key.
            if (kind == Kind::filter) EXPECT_EQ(blitters.filter.calls, int(writes.size()));
        }
    }
}

TEST(Blitters, StretchedBlitRepeatsEachSourcePixel) {
    // The stretch matrix for source (0, 0, 3, 2) onto destination (1, 0, 7, 4): twice as wide and high.
    Image src(3, 2, 5);
    Image dst(8, 4, 6);
    int32_t step_x = (3 << 10) / 6, step_y = (2 << 10) / 4;
    TransformMatrix m{step_x, 0, 0, step_y, (0 - 1 * step_x) << 6, 0};
    copy_blitter()->blit_transformed(dst.get(), Rect{1, 0, 7, 4}, m, src.get());
    for (int y = 0; y < 4; ++y)
        for (int x = 1; x < 7; ++x) EXPECT_EQ(dst.at(x, y), src.at((x - 1) / 2, y / 2)) << x << "," << y;
}

TEST(CopyBlitter, ClearFillsRowPaddingOnlyForByteRepeatingColours) {
    struct Case {
        uint32_t width;
        uint16_t colour;
        bool padding_filled;
    };
    const Case cases[] = {
        {9, 0x0000, true}, {9, 0xFFFF, true}, {9, 0x3434, true}, {9, 0x1234, false}, {8, 0x1234, false},
        {16, 0xABCD, false}, {1, 0x1234, false}, {3, 0x00FF, false}, {0, 0x1234, false}, {0, 0x0000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width) + " colour " + std::to_string(c.colour));
        Image dst(c.width, 3, 3);
        std::vector<uint8_t> want = dst.bytes();
        uint32_t pitch = dst.get()->pitch;
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t i = 0; i < pitch; ++i) {
                bool in_pixel = i < 2 * c.width;
                if (in_pixel) want[y * pitch + i] = uint8_t(i % 2 == 0 ? c.colour : c.colour >> 8);
                else if (c.padding_filled) want[y * pitch + i] = uint8_t(c.colour);
            }
        copy_blitter()->clear(dst.get(), c.colour);
        EXPECT_EQ(first_difference(dst.bytes(), want, pitch), "");
    }
}

TEST(CopyBlitter, WideKeyedBlitsWriteExactlyTheUnkeyedPixels) {
    // Rows wide enough for the eight-pixel steps, with a tail, and key pixels scattered
    // through them; guard bytes in the padding must stay.
    for (int32_t width : {8, 16, 21}) {
        SCOPED_TRACE("width " + std::to_string(width));
        Image src(uint32_t(width), 3, 4);
        for (int y = 0; y < 3; ++y)
            for (int x = (y + 1) % 3; x < width; x += 3) src.at(x, y) = key;
        Image dst(uint32_t(width) + 3, 5, 5);
        Image want(uint32_t(width) + 3, 5, 5);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x)
                if (src.at(x, y) != key) want.at(x + 2, y + 1) = src.at(x, y);
        copy_blitter()->blit_keyed(dst.get(), Point{2, 1}, src.get(), Rect{0, 0, width, 3}, key);
        EXPECT_EQ(first_difference(dst.bytes(), want.bytes(), dst.get()->pitch), "");
    }
    // Within one buffer the pixels go one by one, left to right, as they always did: a
    // pixel written earlier in the row is read again as source.
    Image image(20, 2, 6);
    Image want(20, 2, 6);
    for (int y = 0; y < 2; ++y)
        for (int x = 1; x < 20; ++x)
            if (want.at(x - 1, y) != key) want.at(x, y) = want.at(x - 1, y);
    copy_blitter()->blit_keyed(image.get(), Point{1, 0}, image.get(), Rect{0, 0, 19, 2}, key);
    EXPECT_EQ(first_difference(image.bytes(), want.bytes(), image.get()->pitch), "");
}

TEST(CopyBlitter, BlitOntoItselfReadsTheOriginalPixels) {
    Image image(7, 3, 9);
    Image snapshot(7, 3, 9);
    copy_blitter()->blit(image.get(), Point{1, 0}, image.get(), Rect{0, 0, 6, 3});
    for (int y = 0; y < 3; ++y)
        for (int x = 1; x < 7; ++x) EXPECT_EQ(image.at(x, y), snapshot.at(x - 1, y)) << x << "," << y;
}

TEST(LevelMix, KnownValues) {
    struct Case {
        uint16_t v, d;
        int level;
        uint16_t want;
    };
    const Case cases[] = {
        {0xFFFF, 0x0000, 128, (15 << 11) | (31 << 5) | 15},  // half of white over black
        {0x0000, 0xFFFF, 128, (15 << 11) | (31 << 5) | 15},
        {0xFFFF, 0x0000, 0, 0x0000},     // weight 0 keeps the destination
        {0x1234, 0xABCD, 3, 0xABCD},     // levels below 4 give every channel weight 0
        {0x1234, 0xABCD, 7, 0xABAD},     // below 8 only green moves (one 64th, rounded down)
        {0xFFFF, 0x0000, 251, (30 << 11) | (61 << 5) | 30},  // 31/32 and 62/64 of the way, rounded down
        {0xF800, 0x001F, 248, 30 << 11},  // red and blue move opposite ways in one product
    };
    for (const Case& c : cases)
        EXPECT_EQ(level_mix(c.v, c.d, c.level), c.want) << std::hex << c.v << " over " << c.d << " level " << std::dec << c.level;
}

TEST(LevelMix, MatchesTheReferenceAndStaysWithinOneOfTheIdealMix) {
    uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1664525u + 1013904223u;
        uint16_t v = uint16_t(state >> 16), d = uint16_t(state);
        int level = int((state >> 8) % 252);
        uint16_t got = level_mix(v, d, level);
        ASSERT_EQ(got, reference_level_mix(v, d, level)) << v << " " << d << " " << level;
        // Per channel, d + (v - d) * weight / 32 (green: / 64), give or take the rounding.
        double wr = (level >> 3) / 32.0, wg = (level >> 2) / 64.0;
        ASSERT_LE(std::fabs(red(got) - (red(d) + (red(v) - red(d)) * wr)), 1.0) << v << " " << d << " " << level;
        ASSERT_LE(std::fabs(green(got) - (green(d) + (green(v) - green(d)) * wg)), 1.0) << v << " " << d << " " << level;
        ASSERT_LE(std::fabs(blue(got) - (blue(d) + (blue(v) - blue(d)) * wr)), 1.0) << v << " " << d << " " << level;
    }
}

TEST(AlphaMix, MatchesTheReferenceAndStaysWithinOneOfTheIdealMix) {
    uint32_t state = 777;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1664525u + 1013904223u;
        uint16_t s = uint16_t(state >> 16), d = uint16_t(state);
        uint32_t weight = 1 + (state >> 8) % 31;
        uint16_t got = alpha_mix(s, d, weight);
        ASSERT_EQ(got, reference_alpha_mix(s, d, weight));
        double w = weight / 32.0;
        ASSERT_LE(std::fabs(red(got) - (red(d) + (red(s) - red(d)) * w)), 1.0) << s << " " << d << " " << weight;
        ASSERT_LE(std::fabs(green(got) - (green(d) + (green(s) - green(d)) * w)), 1.0) << s << " " << d << " " << weight;
        ASSERT_LE(std::fabs(blue(got) - (blue(d) + (blue(s) - blue(d)) * w)), 1.0) << s << " " << d << " " << weight;
    }
    // Weight 31 stops short of the source.
    EXPECT_NE(alpha_mix(0xFFFF, 0x0000, 31), 0xFFFF);
}

TEST(Blitters, AlphaMapWeightsEachPixelByTheGreenOfTheAlphaPixel) {
    // Alpha values whose top five green bits are 0 (green 1: still 0), 1, 2, 16 and 31.
    const uint16_t alpha_values[] = {0x0000, 0x0020, 0x0040, 0x0080, 0x0400, 0x07C0, 0xF81F, 0x07E0};
    struct Case {
        const char* name;
        Point at;
        Rect rect;
    };
    const Case cases[] = {
        {"whole source", {0, 0}, {0, 0, 5, 4}},
        {"inner rectangle at the far corner", {6, 4}, {2, 1, 5, 4}},
        {"zero width", {1, 1}, {2, 0, 2, 4}},
    };
    for (const Case& c : cases) {
        for (Kind kind : all_kinds) {
            SCOPED_TRACE(std::string(c.name) + " (" + kind_name(kind) + ")");
            Image dst(9, 7, 11);
            Image src(5, 4, 12);
            // The alpha map lies in memory like the source but declares another pitch: its
            // rows must be found with the source's pitch.
            std::vector<uint16_t> alpha_memory(src.get()->pitch / 2 * 4);
            for (size_t i = 0; i < alpha_memory.size(); ++i) alpha_memory[i] = alpha_values[i % 8];
            std::unique_ptr<PixelBuffer> alpha(pixel_buffer_wrap(alpha_memory.data(), 5, 4, 0));

            std::vector<uint8_t> want = dst.bytes();
            uint32_t pitch = dst.get()->pitch;
            int weighed = 0;
            for (int y = c.rect.top; y < c.rect.bottom; ++y)
                for (int x = c.rect.left; x < c.rect.right; ++x) {
                    uint32_t a = (alpha_memory[y * (src.get()->pitch / 2) + x] >> 6) & 31;
                    uint32_t weight = kind == Kind::blend ? (a * test_level) >> 8 : a;
                    if (weight == 0) continue;
                    ++weighed;
                    size_t at = size_t(c.at.y + y - c.rect.top) * pitch + 2 * size_t(c.at.x + x - c.rect.left);
                    uint16_t d;
                    std::memcpy(&d, &want[at], 2);
                    // The filter picks the pixel, the alpha map then weighs it in.
                    uint16_t s = kind == Kind::filter ? reference_filter(src.at(x, y), d) : src.at(x, y);
                    uint16_t out = reference_alpha_mix(s, d, weight);
                    std::memcpy(&want[at], &out, 2);
                }
            Blitters blitters;
            blitters.of(kind).blit_alpha_map(dst.get(), c.at, src.get(), alpha.get(), c.rect);
            EXPECT_EQ(first_difference(dst.bytes(), want, pitch), "");
            EXPECT_EQ(blitters.filter.calls, kind == Kind::filter ? weighed : 0);
        }
    }
}

namespace {

using PointSet = std::set<std::pair<int, int>>;

// The pixels a copy blitter's drawing set to white on a black buffer.
PointSet white_pixels(const Image& image) {
    PointSet points;
    const PixelBuffer* buffer = image.get();
    for (uint32_t y = 0; y < buffer->height; ++y)
        for (uint32_t x = 0; x < buffer->width; ++x)
            if (*buffer->at(x, y) == 0xFFFF) points.insert({int(x), int(y)});
    return points;
}

void blacken(Image& image) { copy_blitter()->clear(image.get(), 0); }

}  // namespace

TEST(Blitters, LinesCoverOnePixelPerStepNearestTheTrueLine) {
    const std::pair<Point, Point> lines[] = {
        {{3, 3}, {3, 3}},   {{3, 3}, {4, 3}},   {{3, 3}, {8, 3}},   {{3, 3}, {3, 8}},    {{0, 0}, {19, 14}},
        {{19, 14}, {0, 0}}, {{0, 14}, {19, 0}}, {{19, 0}, {0, 14}}, {{5, 0}, {7, 14}},   {{7, 14}, {5, 0}},
        {{0, 7}, {19, 8}},  {{2, 2}, {12, 12}}, {{10, 1}, {1, 13}}, {{0, 0}, {6, 5}},    {{1, 1}, {2, 2}},
        {{4, 9}, {16, 2}},  {{0, 0}, {1, 0}},   {{0, 0}, {0, 1}},   {{18, 13}, {17, 5}}, {{0, 5}, {19, 6}},
    };
    for (const auto& [a, b] : lines) {
        SCOPED_TRACE("line " + std::to_string(a.x) + "," + std::to_string(a.y) + " to " + std::to_string(b.x) + "," +
                     std::to_string(b.y));
        Image image(20, 15, 0);
        blacken(image);
        copy_blitter()->draw_line(image.get(), a, b, 0xFFFF);
        PointSet points = white_pixels(image);
        int dx = std::abs(b.x - a.x), dy = std::abs(b.y - a.y);
        int steps = std::max(dx, dy);
        EXPECT_EQ(points.size(), size_t(steps + 1));
        EXPECT_TRUE(points.count({a.x, a.y}));
        EXPECT_TRUE(points.count({b.x, b.y}));
        for (auto [x, y] : points) {
            // Along the major axis, the minor coordinate lies within half a pixel of the line.
            if (dx >= dy && dx > 0) {
                double ideal = a.y + double(b.y - a.y) * (x - a.x) / (b.x - a.x);
                EXPECT_LE(std::fabs(y - ideal), 0.5) << x << "," << y;
            } else if (dy > 0) {
                double ideal = a.x + double(b.x - a.x) * (y - a.y) / (b.y - a.y);
                EXPECT_LE(std::fabs(x - ideal), 0.5) << x << "," << y;
            }
        }

        // Each of those pixels is written exactly once by the other blitters too.
        for (Kind kind : {Kind::blend, Kind::filter}) {
            Image dst(20, 15, 4);
            std::vector<uint8_t> want = dst.bytes();
            std::vector<Write> writes;
            for (auto [x, y] : points) writes.push_back({x, y, 0x7BEF});
            apply(want, dst.get()->pitch, kind, writes);
            Blitters blitters;
            blitters.of(kind).draw_line(dst.get(), a, b, 0x7BEF);
            EXPECT_EQ(first_difference(dst.bytes(), want, dst.get()->pitch), "") << kind_name(kind);
        }
    }
}

TEST(Blitters, SmallCirclesHaveTheirKnownPoints) {
    struct Case {
        int32_t radius;
        PointSet offsets;
    };
    const Case cases[] = {
        {-1, {}},
        {0, {{0, 0}}},
        {1, {{0, 1}, {0, -1}, {1, 0}, {-1, 0}}},
        {2, {{0, 2}, {0, -2}, {2, 0}, {-2, 0}, {1, 2}, {-1, 2}, {1, -2}, {-1, -2}, {2, 1}, {-2, 1}, {2, -1}, {-2, -1}}},
    };
    for (const Case& c : cases) {
        Image image(9, 9, 0);
        blacken(image);
        copy_blitter()->draw_circle(image.get(), Point{4, 4}, c.radius, 0xFFFF);
        PointSet want;
        for (auto [x, y] : c.offsets) want.insert({x + 4, y + 4});
        EXPECT_EQ(white_pixels(image), want) << "radius " << c.radius;
    }
}

TEST(Blitters, CirclesAreSymmetricAndLieOnTheirRadius) {
    for (int32_t radius = 3; radius <= 12; ++radius) {
        SCOPED_TRACE("radius " + std::to_string(radius));
        Image image(27, 27, 0);
        blacken(image);
        copy_blitter()->draw_circle(image.get(), Point{13, 13}, radius, 0xFFFF);
        PointSet points = white_pixels(image);
        EXPECT_FALSE(points.empty());
        for (auto [x, y] : points) {
            int dx = x - 13, dy = y - 13;
            EXPECT_LT(std::fabs(std::sqrt(double(dx * dx + dy * dy)) - radius), 1.0) << dx << "," << dy;
            for (auto mirrored : {std::pair{-dx, dy}, std::pair{dx, -dy}, std::pair{dy, dx}})
                EXPECT_TRUE(points.count({mirrored.first + 13, mirrored.second + 13})) << dx << "," << dy;
        }
    }
}

TEST(Blitters, ClippedCircleIsTheUnclippedOneCutToTheClip) {
    struct Case {
        const char* name;
        Point centre;
        int32_t radius;
        Rect clip;
    };
    // The destination is 16 x 12; centres may lie outside it, the clip may not.
    const Case cases[] = {
        {"inside", {8, 6}, 4, {0, 0, 16, 12}},
        {"cut by the left edge, centre negative", {-3, 5}, 6, {0, 0, 16, 12}},
        {"cut by the right edge", {14, 6}, 5, {0, 0, 16, 12}},
        {"cut by the top edge, centre negative", {7, -2}, 5, {0, 0, 16, 12}},
        {"cut by the bottom edge", {7, 11}, 4, {0, 0, 16, 12}},
        {"cut by an inner clip on every side", {8, 6}, 5, {5, 4, 11, 9}},
        {"clip excludes the circle", {8, 6}, 2, {12, 0, 16, 3}},
        {"empty clip", {8, 6}, 3, {5, 5, 5, 9}},
        {"huge radius far outside", {8, 6}, 100000, {0, 0, 16, 12}},
    };
    for (const Case& c : cases) {
        for (Kind kind : all_kinds) {
            SCOPED_TRACE(std::string(c.name) + " (" + kind_name(kind) + ")");
            // Reference: the unclipped circle's points, found on a buffer large enough to hold it.
            std::vector<Write> writes;
            if (c.radius < 1000) {
                const int margin = 20;
                Image big(16 + 2 * margin, 12 + 2 * margin, 0);
                blacken(big);
                copy_blitter()->draw_circle(big.get(), Point{c.centre.x + margin, c.centre.y + margin}, c.radius, 0xFFFF);
                for (auto [x, y] : white_pixels(big)) {
                    int px = x - margin, py = y - margin;
                    if (px >= c.clip.left && px < c.clip.right && py >= c.clip.top && py < c.clip.bottom)
                        writes.push_back({px, py, 0x5555});
                }
            }
            Image dst(16, 12, 8);
            Blitters blitters;
            blitters.of(kind).draw_circle_clipped(dst.get(), c.centre, c.radius, 0x5555, c.clip);
            // Which pixels changed (the test colour and the reference writes differ from every start value).
            Image untouched(16, 12, 8);
            PointSet changed, want;
            for (int y = 0; y < 12; ++y)
                for (int x = 0; x < 16; ++x)
                    if (dst.at(x, y) != untouched.at(x, y)) changed.insert({x, y});
            for (const Write& w : writes) want.insert({w.x, w.y});
            if (kind == Kind::copy) {
                EXPECT_EQ(changed, want);
            } else {
                // Points on the axes are written twice; every changed pixel is a circle point.
                for (auto point : changed) EXPECT_TRUE(want.count(point)) << point.first << "," << point.second;
                EXPECT_GE(changed.size() + 4, want.size());
            }
            uint32_t pitch = dst.get()->pitch;
            for (uint32_t y = 0; y < 12; ++y)
                for (uint32_t i = 32; i < pitch; ++i) EXPECT_EQ(dst.get()->pixels[y * pitch + i], guard_byte);
        }
    }
}

TEST(Blitters, ClippedCircleWithTheWholeTargetIsTheUnclippedOne) {
    for (int32_t radius = 0; radius < 50; ++radius) {
        Image whole(101, 101, 0), clipped(101, 101, 0);
        blacken(whole);
        blacken(clipped);
        copy_blitter()->draw_circle(whole.get(), Point{50, 50}, radius, 0xFFFF);
        copy_blitter()->draw_circle_clipped(clipped.get(), Point{50, 50}, radius, 0xFFFF, Rect{0, 0, 101, 101});
        EXPECT_EQ(white_pixels(clipped), white_pixels(whole)) << "radius " << radius;
    }
}

TEST(Blitters, HugeCircleCrossesTheTargetAsAStraightArc) {
    // Within a few pixels of an axis a circle this large keeps to one row or column; its
    // centre lies two billion pixels away, and drawing must not walk the radius.
    const int32_t huge = 2147483000;
    const Rect whole{0, 0, 16, 12}, inner{5, 4, 11, 9};
    struct Case {
        const char* name;
        Point centre;
        Rect clip;
        Rect line;  // the pixels set: one row or one column, cut to the clip
    };
    const Case cases[] = {
        {"top", {8, 5 + huge}, whole, {0, 5, 16, 6}},
        {"bottom", {8, 6 - huge}, whole, {0, 6, 16, 7}},
        {"left", {3 + huge, 6}, whole, {3, 0, 4, 12}},
        {"right", {12 - huge, 6}, whole, {12, 0, 13, 12}},
        {"top in an inner clip", {-30, 5 + huge}, inner, {5, 5, 11, 6}},
        {"left in an inner clip", {7 + huge, 100}, inner, {7, 4, 8, 9}},
        {"outside an inner clip", {8, 3 + huge}, inner, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Image image(16, 12, 0);
        blacken(image);
        copy_blitter()->draw_circle_clipped(image.get(), c.centre, huge, 0xFFFF, c.clip);
        PointSet want;
        for (int y = c.line.top; y < c.line.bottom; ++y)
            for (int x = c.line.left; x < c.line.right; ++x) want.insert({x, y});
        EXPECT_EQ(white_pixels(image), want) << c.name;
    }
}
