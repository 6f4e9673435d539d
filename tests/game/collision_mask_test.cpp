// Collision masks against a numpy brute force, and the layout and edge cases of masks.
#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <random>
#include <memory>
#include <sstream>
#include <string>

#include "game/collision_mask.h"

namespace {

struct MaskDeleter {
  void operator()(CollisionMask* mask) const { mask_free(mask); }
};
using MaskPtr = std::unique_ptr<CollisionMask, MaskDeleter>;

// The pixel stream the case generator uses (MurmurHash3's finaliser over the index).
uint32_t mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  return h ^ (h >> 16);
}

MaskPtr drawn_mask(uint32_t seed, uint32_t first_index, int32_t width, int32_t height, uint32_t density) {
  MaskPtr mask(mask_create(width, height));
  uint32_t index = first_index;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x, ++index) {
      if (mix(seed ^ (index * 0x9E3779B1u)) % 100 < density) mask_set_pixel(mask.get(), x, y);
    }
  }
  return mask;
}

TEST(CollisionMask, MatchesNumpyBruteForce) {
  std::ifstream cases(ZRK_TEST_BINARY_DIR "/mask_cases.txt");
  ASSERT_TRUE(cases) << "mask_cases.txt was not generated";
  std::string line;
  int32_t count = 0;
  while (std::getline(cases, line)) {
    std::istringstream fields(line);
    uint32_t seed, density;
    int32_t aw, ah, bw, bh, x_off, y_off, overlap, area, first_x, first_y;
    fields >> seed >> aw >> ah >> bw >> bh >> density >> x_off >> y_off >> overlap >> area >> first_x >> first_y;
    MaskPtr a = drawn_mask(seed, 0, aw, ah, density);
    MaskPtr b = drawn_mask(seed, static_cast<uint32_t>(aw * ah), bw, bh, density);
    EXPECT_EQ(mask_overlap(a.get(), b.get(), x_off, y_off), overlap) << line;
    EXPECT_EQ(mask_overlap_area(a.get(), b.get(), x_off, y_off), area) << line;
    int32_t x = -7, y = -7;
    EXPECT_EQ(mask_overlap_pos(a.get(), b.get(), x_off, y_off, &x, &y), overlap) << line;
    if (overlap) {
      EXPECT_EQ(x, first_x) << line;
      EXPECT_EQ(y, first_y) << line;
    }
    ++count;
  }
  EXPECT_GE(count, 3000);
}

TEST(CollisionMask, OnePixelMasks) {
  MaskPtr a(mask_create(1, 1)), b(mask_create(1, 1));
  mask_fill(a.get());
  mask_fill(b.get());
  struct Case {
    int32_t x, y, overlap;
  } cases[] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
  for (const Case& c : cases) EXPECT_EQ(mask_overlap(a.get(), b.get(), c.x, c.y), c.overlap) << c.x << "," << c.y;
}

TEST(CollisionMask, ThirtyThreeWideHasTwoColumns) {
  MaskPtr mask(mask_create(33, 5));
  mask_set_pixel(mask.get(), 32, 3);
  EXPECT_EQ(mask_columns(mask.get()), 2);
  EXPECT_EQ(mask->bits[5 + 3], 1u);
}

// A filled mask is solid only across its width: the bits past it would otherwise meet a
// mask placed beside it.
TEST(CollisionMask, FillStopsAtTheWidth) {
  MaskPtr a(mask_create(10, 4)), b(mask_create(40, 4));
  mask_fill(a.get());
  mask_fill(b.get());
  EXPECT_EQ(a->bits[0], 0x3FFu);
  EXPECT_EQ(mask_overlap(b.get(), a.get(), -10, 0), 0);
  EXPECT_EQ(mask_overlap_area(b.get(), a.get(), 35, 0), 5 * 4);
}

TEST(CollisionMask, NegativeOffsetReportsInFirstMaskCoordinates) {
  MaskPtr a(mask_create(8, 8)), b(mask_create(8, 8));
  mask_set_pixel(a.get(), 1, 1);
  mask_set_pixel(b.get(), 4, 3);
  int32_t x = 0, y = 0;
  ASSERT_EQ(mask_overlap_pos(a.get(), b.get(), -3, -2, &x, &y), 1);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 1);
  ASSERT_EQ(mask_overlap_pos(b.get(), a.get(), 3, 2, &x, &y), 1);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 3);
}

TEST(CollisionMask, DrawOrsInsideOnly) {
  MaskPtr a(mask_create(4, 4)), b(mask_create(3, 3));
  mask_fill(b.get());
  mask_draw(a.get(), b.get(), 2, -1);
  EXPECT_EQ(mask_overlap_area(a.get(), a.get(), 0, 0), 2 * 2);
  EXPECT_TRUE(mask_pixel(a.get(), 3, 1));
  EXPECT_FALSE(mask_pixel(a.get(), 1, 1));
}

TEST(CollisionMask, RefusesEmptySizes) {
  EXPECT_EQ(mask_create(0, 5), nullptr);
  EXPECT_EQ(mask_create(5, -1), nullptr);
}

// Counted in 32 bits the words of the first would wrap to 0, a block the bits overrun.
TEST(CollisionMask, RefusesMasksWhoseBitsTakeMoreThan2GB) {
  EXPECT_EQ(mask_create(INT32_MAX, 64), nullptr);
  EXPECT_EQ(mask_create(INT32_MAX, INT32_MAX), nullptr);
  EXPECT_EQ(mask_create(32, 0x20000000), nullptr);
  MaskPtr large(mask_create(4096, 4096));
  ASSERT_NE(large, nullptr);
  mask_set_pixel(large.get(), 4095, 4095);
  EXPECT_TRUE(mask_pixel(large.get(), 4095, 4095));
}

TEST(CollisionMask, BitCount) {
  struct Case {
    uint32_t value;
    int32_t count;
  } cases[] = {{0, 0}, {1, 1}, {0xFFFFFFFFu, 32}, {0x80000001u, 2}, {0x12345678u, 13}};
  for (const Case& c : cases) EXPECT_EQ(bit_count32(c.value), c.count) << std::hex << c.value;
  std::mt19937 random(3);
  for (int32_t i = 0; i < 100000; ++i) {
    uint32_t value = random();
    ASSERT_EQ(bit_count32(value), std::popcount(value)) << std::hex << value;
  }
}

}  // namespace
