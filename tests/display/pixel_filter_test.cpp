// The pixel filter's effects and the COLORREF conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "display/pixel_filter.h"

using namespace display;

namespace {

PixelFilter fresh_filter() {
    PixelFilter filter;
    pixel_filter_reset(&filter);
    pixel_filter_reset_alternate();
    filter.colour_key = 0xF81F;
    filter.enabled = 1;
    return filter;
}

// Tint of pixel toward colour by weight/32 per channel, computed channel by channel.
uint16_t reference_tint(uint16_t pixel, uint16_t colour, int weight) {
    auto mix = [&](int shift, int mask) {
        int p = (pixel >> shift) & mask, c = (colour >> shift) & mask;
        return ((p + (((c - p) * weight) >> 5)) & mask) << shift;
    };
    return uint16_t(mix(11, 31) | mix(5, 63) | mix(0, 31));
}

TEST(PixelFilter, ColourKeyComesFirstEvenWhenDisabled) {
    PixelFilter filter = fresh_filter();
    filter.enabled = 0;
    EXPECT_EQ(filter.filter_pixel(0xF81F, 0x1234), 0x1234);
    EXPECT_EQ(filter.filter_pixel(0x0001, 0x1234), 0x0001);
    filter.enabled = 1;
    EXPECT_EQ(filter.filter_pixel(0xF81F, 0x4321), 0x4321);
    // Enabled without an effect draws nothing.
    EXPECT_EQ(filter.filter_pixel(0x0001, 0x4321), 0x4321);
}

TEST(PixelFilter, TintLevelsWeighTowardTheColour) {
    struct Case {
        uint16_t pixel;
        uint16_t colour;
        int32_t level;
        uint16_t expected;
    };
    const Case cases[] = {
        {0x1234, 0xFFFF, 0, 0x1234},
        {0x0000, 0xFFFF, 255, reference_tint(0x0000, 0xFFFF, 31)},  // 31/32 of the way, not all
        {0x0000, 0xFFFF, 256, 0xFFFF},
        {0xFFFF, 0x0000, 256, 0x0000},
        {0x8410, 0x001F, 128, reference_tint(0x8410, 0x001F, 16)},
        {0xF800, 0x07E0, 200, reference_tint(0xF800, 0x07E0, 25)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pixel) + " toward " + std::to_string(c.colour) + " at " + std::to_string(c.level));
        PixelFilter filter = fresh_filter();
        filter.tint1_colour = c.colour;
        filter.tint1_level = c.level;
        EXPECT_EQ(filter.filter_pixel(c.pixel, 0x5555), c.expected);
        // The second tint alone does the same.
        PixelFilter second = fresh_filter();
        second.tint2_colour = c.colour;
        second.tint2_level = c.level;
        EXPECT_EQ(second.filter_pixel(c.pixel, 0x5555), c.expected);
    }
    EXPECT_NE(reference_tint(0x0000, 0xFFFF, 31), 0xFFFF);
}

TEST(PixelFilter, EffectsApplyInOrder) {
    PixelFilter both = fresh_filter();
    both.tint1_colour = 0x001F;
    both.tint1_level = 256;
    both.tint2_colour = 0x0000;
    both.tint2_level = 128;
    // Light level (second tint) works on the tinted pixel.
    EXPECT_EQ(both.filter_pixel(0xFFFF, 0), reference_tint(0x001F, 0x0000, 16));

    PixelFilter grey = fresh_filter();
    grey.greyscale = 1;
    EXPECT_EQ(grey.filter_pixel(0xFFFF, 0), 0xFFDF);
    grey.tint1_colour = 0xF800;
    grey.tint1_level = 256;
    uint16_t a = (31 + 0 + 0) / 3;
    EXPECT_EQ(grey.filter_pixel(0x001F, 0), uint16_t(a << 11 | a << 6 | a));

    PixelFilter inverted = fresh_filter();
    inverted.invert = 1;
    EXPECT_EQ(inverted.filter_pixel(0x0000, 0x1111), 0xFFFF);
    EXPECT_EQ(inverted.filter_pixel(0xFFFF, 0x1111), 0xE5FC);
}

TEST(PixelFilter, InvertFollowsSinglePrecisionSteps) {
    // Green channel values 40..63 as a green-only pixel: c' per channel, then repacked.
    const int expected[] = {215, 214, 213, 212, 211, 210, 209, 208, 207, 205, 205, 203, 203, 201, 201,
                            199, 199, 197, 197, 195, 195, 193, 193, 191};
    for (int c = 40; c <= 63; ++c) {
        PixelFilter filter = fresh_filter();
        filter.invert = 1;
        uint16_t out = filter.filter_pixel(uint16_t(c << 5), 0);
        EXPECT_EQ((out >> 5) & 63, (expected[c - 40] & 0xFC) >> 2) << "green " << c;
        EXPECT_EQ(out >> 11, 255 >> 3) << "red 0 becomes 255";
    }
}

TEST(PixelFilter, SmoothingCarriesFromPixelToPixel) {
    PixelFilter filter = fresh_filter();
    filter.smooth = 1;
    pixel_filter_reset_smoothing();
    const int reds[] = {12, 19, 23, 26};
    for (int red : reds) EXPECT_EQ(filter.filter_pixel(0xF800, 0) >> 11, red);
    pixel_filter_reset_smoothing();
    EXPECT_EQ(filter.filter_pixel(0xF800, 0) >> 11, 12);
}

TEST(PixelFilter, AlternateKeepsEverySecondDestination) {
    PixelFilter filter = fresh_filter();
    filter.alternate = 1;
    filter.smooth = 1;  // with smoothing the drawn pixels are still the unsmoothed ones
    pixel_filter_reset_alternate();
    pixel_filter_reset_smoothing();
    EXPECT_EQ(filter.filter_pixel(0x1234, 0x7777), 0x7777);
    EXPECT_EQ(filter.filter_pixel(0x1234, 0x7777), 0x1234);
    EXPECT_EQ(filter.filter_pixel(0x1234, 0x7777), 0x7777);
    EXPECT_EQ(filter.filter_pixel(0x1234, 0x7777), 0x1234);
}

TEST(PixelFilter, ResetTurnsEverythingOff) {
    PixelFilter filter = fresh_filter();
    filter.invert = filter.greyscale = filter.smooth = filter.alternate = 1;
    pixel_filter_reset(&filter);
    EXPECT_EQ(filter.tint1_colour, 0xFFFFFFFFu);
    EXPECT_EQ(filter.tint2_colour, 0xFFFFFFFFu);
    EXPECT_EQ(filter.enabled, 0);
    EXPECT_EQ(filter.filter_pixel(0x1234, 0), 0x1234);
}

TEST(PixelFilter, ColorrefBecomesRgb565) {
    struct Case {
        uint32_t colour;
        uint16_t expected;
    };
    const Case cases[] = {{0x00FFFFFF, 0xFFFF}, {0x000000FF, 0xF800}, {0x0000FF00, 0x07E0},
                          {0x00FF0000, 0x001F}, {0xFF070307, 0x0000}, {0x00102030, 0x3102}};
    for (const Case& c : cases) EXPECT_EQ(colorref_to_rgb565(&c.colour), c.expected) << std::hex << c.colour;
}

}  // namespace
