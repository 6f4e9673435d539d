// The blitters' eight-pixel kernels against the pixel-at-a-time formulas of rgb565.h:
// random pixels, weights and levels over odd widths and every alignment of source and
// destination, with guard bytes around the written rectangle.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "display/display_layer.h"

using namespace display;

namespace {

constexpr uint16_t key = 0xF81F;

struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

std::unique_ptr<PixelBuffer> random_buffer(uint32_t width, uint32_t height, Random& random) {
    std::unique_ptr<PixelBuffer> buffer(pixel_buffer_create(width, height));
    for (size_t i = 0; i < size_t(buffer->pitch) * height; ++i) buffer->pixels[i] = uint8_t(random.next());
    // About one pixel in six is the key, some in runs of eight.
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if (random.below(6) == 0) *buffer->at(int32_t(x), int32_t(y)) = key;
    if (width >= 8 && random.below(2) == 0)
        for (uint32_t x = 0; x < 8; ++x) *buffer->at(int32_t(x), 0) = key;
    return buffer;
}

std::vector<uint8_t> bytes_of(const PixelBuffer* buffer) {
    return std::vector<uint8_t>(buffer->pixels, buffer->pixels + size_t(buffer->pitch) * buffer->height);
}

// How one operation writes one pixel: the value to store, or false to leave it.
using PixelRule = std::function<bool(uint16_t source, uint16_t alpha, uint16_t& target)>;
// The operation under test on (dst, at, src, alpha, src_rect).
using Operation = std::function<void(PixelBuffer*, Point, const PixelBuffer*, const PixelBuffer*, const Rect&)>;

struct Kernel {
    std::string name;
    std::function<Operation(int32_t level)> operation;
    std::function<PixelRule(int32_t level)> rule;
};

std::vector<Kernel> kernels() {
    auto store = [](int32_t) {
        return PixelRule([](uint16_t s, uint16_t, uint16_t& t) { t = s; return true; });
    };
    auto store_unkeyed = [](int32_t) {
        return PixelRule([](uint16_t s, uint16_t, uint16_t& t) {
            if (s == key) return false;
            t = s;
            return true;
        });
    };
    auto blend = [](bool keyed) {
        return [keyed](int32_t level) {
            return PixelRule([keyed, level](uint16_t s, uint16_t, uint16_t& t) {
                if (keyed && s == key) return false;
                t = level_mix(s, t, level);
                return true;
            });
        };
    };
    auto alpha_weighted = [](bool blended) {
        return [blended](int32_t level) {
            return PixelRule([blended, level](uint16_t s, uint16_t a, uint16_t& t) {
                uint32_t weight = blended ? (alpha_of(a) * uint32_t(level)) >> 8 : alpha_of(a);
                if (weight == 0) return false;
                t = alpha_mix(s, t, weight);
                return true;
            });
        };
    };
    // The filter blitter's alpha map: the filtered pixel mixed in at a/32, the filter not
    // called at all where a is 0 (which its alternate-pixel toggle shows).
    auto filter_alpha = [](std::string name, std::function<void(PixelFilter&)> set) {
        auto filter = std::make_shared<PixelFilter>();
        pixel_filter_reset(filter.get());
        filter->enabled = 1;
        filter->colour_key = key;
        set(*filter);
        return Kernel{
            "filter alpha-map blit, " + name,
            [filter](int32_t) {
                pixel_filter_reset_alternate();
                return Operation([filter](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer* a,
                                          const Rect& r) { FilterBlitter(filter.get()).blit_alpha_map(d, at, s, a, r); });
            },
            [filter](int32_t) {
                pixel_filter_reset_alternate();
                return PixelRule([filter](uint16_t s, uint16_t a, uint16_t& t) {
                    if (alpha_of(a) == 0) return false;
                    t = alpha_mix(filter->filter_pixel(s, t), t, alpha_of(a));
                    return true;
                });
            }};
    };
    return {
        filter_alpha("one tint", [](PixelFilter& f) { f.tint1_colour = 0x1234; f.tint1_level = 150; }),
        filter_alpha("the second tint and greyscale", [](PixelFilter& f) {
            f.tint2_colour = 0xFFFF; f.tint2_level = 40; f.greyscale = 1;
        }),
        filter_alpha("two tints", [](PixelFilter& f) {
            f.tint1_colour = 0x07E0; f.tint1_level = 255; f.tint2_colour = 0xF800; f.tint2_level = 3;
        }),
        filter_alpha("two tints and greyscale", [](PixelFilter& f) {
            f.tint1_colour = 0xF81F; f.tint1_level = 8; f.tint2_colour = 0x07FF; f.tint2_level = 200; f.greyscale = 1;
        }),
        // Tints toward black (light levels), last or first.
        filter_alpha("a light level", [](PixelFilter& f) { f.tint2_colour = 0; f.tint2_level = 96; }),
        filter_alpha("a tint and a light level", [](PixelFilter& f) {
            f.tint1_colour = 0x841F; f.tint1_level = 180; f.tint2_colour = 0; f.tint2_level = 100;
        }),
        filter_alpha("a light level, a tint and greyscale", [](PixelFilter& f) {
            f.tint1_colour = 0; f.tint1_level = 120; f.tint2_colour = 0xFFE0; f.tint2_level = 60; f.greyscale = 1;
        }),
        filter_alpha("a light level and greyscale", [](PixelFilter& f) {
            f.tint1_colour = 0; f.tint1_level = 33; f.greyscale = 1;
        }),
        // A tint of weight 0 leaves the pixel, but the filtered pixel is then the source's.
        filter_alpha("a tint of weight 0", [](PixelFilter& f) { f.tint1_colour = 0xFFFF; f.tint1_level = 7; }),
        filter_alpha("a tint of weight 0, then one", [](PixelFilter& f) {
            f.tint1_colour = 0; f.tint1_level = 0; f.tint2_colour = 0x8410; f.tint2_level = 64;
        }),
        filter_alpha("disabled", [](PixelFilter& f) { f.enabled = 0; }),
        filter_alpha("without an effect", [](PixelFilter&) {}),
        filter_alpha("alternate pixels", [](PixelFilter& f) { f.alternate = 1; f.tint1_colour = 0; f.tint1_level = 64; }),
        {"copy blit",
         [](int32_t) {
             return Operation([](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer*, const Rect& r) {
                 copy_blitter()->blit(d, at, s, r);
             });
         },
         store},
        {"copy keyed blit",
         [](int32_t) {
             return Operation([](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer*, const Rect& r) {
                 copy_blitter()->blit_keyed(d, at, s, r, key);
             });
         },
         store_unkeyed},
        {"blend blit",
         [](int32_t level) {
             return Operation([level](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer*, const Rect& r) {
                 BlendBlitter(level).blit(d, at, s, r);
             });
         },
         blend(false)},
        {"blend keyed blit",
         [](int32_t level) {
             return Operation([level](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer*, const Rect& r) {
                 BlendBlitter(level).blit_keyed(d, at, s, r, key);
             });
         },
         blend(true)},
        {"copy alpha-map blit",
         [](int32_t) {
             return Operation([](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer* a, const Rect& r) {
                 copy_blitter()->blit_alpha_map(d, at, s, a, r);
             });
         },
         alpha_weighted(false)},
        {"blend alpha-map blit",
         [](int32_t level) {
             return Operation([level](PixelBuffer* d, Point at, const PixelBuffer* s, const PixelBuffer* a, const Rect& r) {
                 BlendBlitter(level).blit_alpha_map(d, at, s, a, r);
             });
         },
         alpha_weighted(true)},
    };
}

}  // namespace

TEST(BlitterKernels, EqualThePixelAtATimeFormulas) {
    // Levels across the lanes' range, and past it where the blitters fall back.
    const int32_t levels[] = {0, 1, 7, 8, 128, 160, 251, 255, 256, 300, 1023, 5000, -1, -200};
    Random random{2024};
    for (const Kernel& kernel : kernels()) {
        for (int trial = 0; trial < 300; ++trial) {
            int32_t level = levels[trial % (sizeof levels / sizeof levels[0])];
            uint32_t width = 1 + random.below(45), height = 1 + random.below(3);
            int32_t src_left = int32_t(random.below(8)), dst_left = int32_t(random.below(8));
            auto src = random_buffer(width + uint32_t(src_left) + 3, height + 1, random);
            auto alpha = random_buffer(width + uint32_t(src_left) + 3, height + 1, random);
            // Whole rows, or their first sixteen pixels, hidden by the alpha map (its other
            // bits still set) in some trials.
            if (trial % 3 != 2)
                for (uint32_t y = 0; y < alpha->height; ++y)
                    if (random.below(2) == 0)
                        for (uint32_t x = trial % 3 ? uint32_t(src_left) : 0;
                             x < alpha->width && (trial % 3 == 0 || x < uint32_t(src_left) + 16); ++x)
                            *alpha->at(int32_t(x), int32_t(y)) &= uint16_t(~0x07C0);
            auto dst = random_buffer(width + uint32_t(dst_left) + 5, height + 2, random);
            const Rect rect{src_left, 1, src_left + int32_t(width), 1 + int32_t(height)};
            const Point at{dst_left, 1};
            SCOPED_TRACE(kernel.name + ", level " + std::to_string(level) + ", " + std::to_string(width) + " x " +
                         std::to_string(height) + " from column " + std::to_string(src_left) + " to column " +
                         std::to_string(dst_left));

            std::vector<uint8_t> want = bytes_of(dst.get());
            PixelRule rule = kernel.rule(level);
            for (int32_t y = rect.top; y < rect.bottom; ++y)
                for (int32_t x = rect.left; x < rect.right; ++x) {
                    size_t offset = size_t(at.y + y - rect.top) * dst->pitch + 2 * size_t(at.x + x - rect.left);
                    // The alpha map is read with the source's pitch.
                    uint16_t a = *reinterpret_cast<const uint16_t*>(alpha->pixels + src->pitch * uint32_t(y) + 2 * x);
                    uint16_t target;
                    std::memcpy(&target, &want[offset], 2);
                    if (rule(*src->at(x, y), a, target)) std::memcpy(&want[offset], &target, 2);
                }
            kernel.operation(level)(dst.get(), at, src.get(), alpha.get(), rect);
            ASSERT_EQ(bytes_of(dst.get()), want);
        }
    }
}

TEST(BlitterKernels, FillsEqualStoringEachPixel) {
    Random random{77};
    for (int trial = 0; trial < 200; ++trial) {
        uint32_t width = 1 + random.below(60);
        auto dst = random_buffer(width + 9, 4, random);
        int32_t left = int32_t(random.below(8));
        uint16_t colour = uint16_t(random.next());
        const Rect rect{left, 1, left + int32_t(width), 3};
        SCOPED_TRACE(std::to_string(width) + " wide from column " + std::to_string(left));
        std::vector<uint8_t> want = bytes_of(dst.get());
        for (int32_t y = rect.top; y < rect.bottom; ++y)
            for (int32_t x = rect.left; x < rect.right; ++x)
                std::memcpy(&want[size_t(y) * dst->pitch + 2 * size_t(x)], &colour, 2);
        copy_blitter()->fill_rect(dst.get(), rect, colour);
        ASSERT_EQ(bytes_of(dst.get()), want);
    }
}

TEST(BlitterKernels, BlendingWithinOneBufferGoesPixelByPixel) {
    // Source and destination overlap one pixel apart: each pixel mixes in the one just
    // written, as the pixel-at-a-time loop does.
    Random random{5};
    auto image = random_buffer(40, 2, random);
    std::vector<uint16_t> row(image->row(0), image->row(0) + 40);
    for (int x = 1; x < 40; ++x)
        if (row[size_t(x) - 1] != key) row[size_t(x)] = level_mix(row[size_t(x) - 1], row[size_t(x)], 200);
    BlendBlitter(200).blit_keyed(image.get(), Point{1, 0}, image.get(), Rect{0, 0, 39, 1}, key);
    EXPECT_EQ(std::vector<uint16_t>(image->row(0), image->row(0) + 40), row);
}

TEST(BlitterKernels, FilterBlitsEqualFilteringEachPixelInTurn) {
    const uint32_t off = 0xFFFFFFFFu;
    struct Setting {
        const char* name;
        uint8_t enabled;
        uint32_t tint1_colour;
        int32_t tint1_level;
        uint32_t tint2_colour;
        int32_t tint2_level;
        uint32_t greyscale, invert, smooth, alternate;
    };
    const Setting settings[] = {
        {"disabled", 0, 0xF800, 128, off, 0, 1, 0, 0, 0},
        {"enabled without effects", 1, off, 0, off, 0, 0, 0, 0, 0},
        {"one tint", 1, 0x07E0, 200, off, 0, 0, 0, 0, 0},
        {"two tints at the ends of the range", 1, 0x1234, 255, 0xFFFF, 0, 0, 0, 0, 0},
        {"a tint and greyscale", 1, 0x0000, 96, off, 0, 1, 0, 0, 0},
        {"a tint and a light level", 1, 0xF81F, 200, 0x0000, 64, 0, 0, 0, 0},
        {"the second tint alone", 1, off, 0, 0xF81F, 77, 0, 0, 0, 0},
        {"two tints and greyscale", 1, 0xFFFF, 8, 0x07E0, 248, 1, 0, 0, 0},
        {"the second tint and greyscale", 1, off, 0, 0x001F, 7, 1, 0, 0, 0},
        {"greyscale", 1, off, 0, off, 0, 1, 0, 0, 0},
        {"a tint of weight 0", 1, 0xF800, 7, off, 0, 0, 0, 0, 0},
        {"a tint of weight 0 and greyscale", 1, off, 0, 0x07E0, 0, 1, 0, 0, 0},
        {"a tint of weight 0, then one", 1, 0x0000, 3, 0x001F, 160, 0, 0, 0, 0},
        {"a tint level past the lanes", 1, 0xF81F, 300, off, 0, 0, 0, 0, 0},
        {"a negative tint level", 1, 0xF81F, -8, off, 0, 0, 0, 0, 0},
        {"invert", 1, 0x07E0, 64, off, 0, 0, 1, 0, 0},
        {"smoothing", 1, off, 0, off, 0, 0, 0, 1, 0},
        {"alternate", 1, 0x001F, 128, off, 0, 0, 0, 0, 1},
    };
    Random random{909};
    for (const Setting& setting : settings) {
        for (int variant = 0; variant < 4; ++variant) {
            const bool keyed = (variant & 1) != 0;
            // The filter's own key, or none (-1: the 0x0841 pixels are filtered like the rest).
            const int32_t filter_key = (variant & 2) != 0 ? -1 : 0x0841;
            PixelFilter filter;
            pixel_filter_reset(&filter);
            filter.enabled = setting.enabled;
            filter.tint1_colour = setting.tint1_colour;
            filter.tint1_level = setting.tint1_level;
            filter.tint2_colour = setting.tint2_colour;
            filter.tint2_level = setting.tint2_level;
            filter.greyscale = setting.greyscale;
            filter.invert = setting.invert;
            filter.smooth = setting.smooth;
            filter.alternate = setting.alternate;
            filter.colour_key = filter_key;
            for (int trial = 0; trial < 20; ++trial) {
                uint32_t width = 1 + random.below(40), height = 1 + random.below(3);
                int32_t src_left = int32_t(random.below(8)), dst_left = int32_t(random.below(8));
                auto src = random_buffer(width + uint32_t(src_left), height, random);
                for (int i = 0; i < 4; ++i)
                    *src->at(src_left + int32_t(random.below(width)), int32_t(random.below(height))) = 0x0841;
                auto dst = random_buffer(width + uint32_t(dst_left) + 2, height + 1, random);
                const Rect rect{src_left, 0, src_left + int32_t(width), int32_t(height)};
                const Point at{dst_left, 1};
                SCOPED_TRACE(std::string(setting.name) + (filter_key < 0 ? ", no filter key" : "") +
                             (keyed ? ", keyed, " : ", ") + std::to_string(width) + " x " +
                             std::to_string(height) + " from column " + std::to_string(src_left) + " to column " +
                             std::to_string(dst_left));

                pixel_filter_reset_smoothing();
                pixel_filter_reset_alternate();
                std::vector<uint8_t> want = bytes_of(dst.get());
                for (int32_t y = rect.top; y < rect.bottom; ++y)
                    for (int32_t x = rect.left; x < rect.right; ++x) {
                        uint16_t s = *src->at(x, y);
                        if (keyed && s == key) continue;
                        size_t offset = size_t(at.y + y) * dst->pitch + 2 * size_t(at.x + x - rect.left);
                        uint16_t target;
                        std::memcpy(&target, &want[offset], 2);
                        target = filter.filter_pixel(s, target);
                        std::memcpy(&want[offset], &target, 2);
                    }
                pixel_filter_reset_smoothing();
                pixel_filter_reset_alternate();
                FilterBlitter blitter(&filter);
                if (keyed) blitter.blit_keyed(dst.get(), at, src.get(), rect, key);
                else blitter.blit(dst.get(), at, src.get(), rect);
                ASSERT_EQ(bytes_of(dst.get()), want);
            }
        }
    }
}

// A filter whose every answer depends on how many pixels it has seen.
class SequenceFilter : public PixelFilter {
 public:
    uint16_t filter_pixel(uint16_t pixel, uint16_t dst) override {
        seen.push_back({pixel, dst});
        return uint16_t(pixel ^ (dst >> 3) ^ (seen.size() * 0x9E37u));
    }
    std::vector<std::pair<uint16_t, uint16_t>> seen;
};
class DerivedSequenceFilter final : public SequenceFilter {};

TEST(BlitterKernels, AFilterOfAnotherClassSeesEveryPixelInOrder) {
    enum Use { plain, keyed, weighted };
    Random random{31};
    for (Use use : {plain, keyed, weighted}) {
        for (int trial = 0; trial < 12; ++trial) {
            uint32_t width = 1 + random.below(40), height = 1 + random.below(3);
            int32_t src_left = int32_t(random.below(8)), dst_left = int32_t(random.below(8));
            auto src = random_buffer(width + uint32_t(src_left), height, random);
            auto alpha = random_buffer(width + uint32_t(src_left), height, random);
            auto dst = random_buffer(width + uint32_t(dst_left) + 2, height + 1, random);
            const Rect rect{src_left, 0, src_left + int32_t(width), int32_t(height)};
            const Point at{dst_left, 1};
            SCOPED_TRACE("use " + std::to_string(use) + ", " + std::to_string(width) + " x " + std::to_string(height));

            std::unique_ptr<SequenceFilter> expected_filter, filter;
            if (trial % 2) {
                expected_filter = std::make_unique<DerivedSequenceFilter>();
                filter = std::make_unique<DerivedSequenceFilter>();
            } else {
                expected_filter = std::make_unique<SequenceFilter>();
                filter = std::make_unique<SequenceFilter>();
            }
            std::vector<uint8_t> want = bytes_of(dst.get());
            for (int32_t y = rect.top; y < rect.bottom; ++y)
                for (int32_t x = rect.left; x < rect.right; ++x) {
                    uint16_t s = *src->at(x, y), a = *alpha->at(x, y);
                    if (use == keyed && s == key) continue;
                    if (use == weighted && alpha_of(a) == 0) continue;
                    size_t offset = size_t(at.y + y) * dst->pitch + 2 * size_t(at.x + x - rect.left);
                    uint16_t target;
                    std::memcpy(&target, &want[offset], 2);
                    uint16_t filtered = expected_filter->filter_pixel(s, target);
                    target = use == weighted ? alpha_mix(filtered, target, alpha_of(a)) : filtered;
                    std::memcpy(&want[offset], &target, 2);
                }
            FilterBlitter blitter(filter.get());
            if (use == plain) blitter.blit(dst.get(), at, src.get(), rect);
            else if (use == keyed) blitter.blit_keyed(dst.get(), at, src.get(), rect, key);
            else blitter.blit_alpha_map(dst.get(), at, src.get(), alpha.get(), rect);
            ASSERT_EQ(filter->seen, expected_filter->seen);
            ASSERT_EQ(bytes_of(dst.get()), want);
        }
    }
}
