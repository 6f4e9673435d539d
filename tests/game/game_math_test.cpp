// Cosine tables against Python's math.cos, directions against atan2, distances, centres,
// averages and the collide list.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "foundation/hashes.h"
#include "game/game_math.h"
#include "game_fixture.h"
#include "platform/kernel/memory.h"

namespace {

// Distance in units in the last place between two doubles of one sign.
int64_t ulps_apart(double a, double b) {
  if (a == b) return 0;
  int64_t ia, ib;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  if ((ia < 0) != (ib < 0)) return std::abs(a - b) < 1e-300 ? 0 : INT64_MAX;
  return std::llabs(ia - ib);
}

TEST(GameMath, CosineTablesWithinOneUlpOfPython) {
  build_cosine_table_256();
  build_cosine_table_degrees();
  std::ifstream values(ZRK_TEST_BINARY_DIR "/cosine_values.txt");
  ASSERT_TRUE(values) << "cosine_values.txt was not generated";
  std::string line;
  for (int32_t i = 0; i < kCosine256Size + kCosineDegreeSize; ++i) {
    ASSERT_TRUE(std::getline(values, line));
    double expected = std::strtod(line.c_str(), nullptr);
    double actual = i < kCosine256Size ? cos256_table[i] : cos_degree_table[i - kCosine256Size];
    EXPECT_LE(ulps_apart(actual, expected), 1) << "entry " << i << ": " << actual << " vs " << expected;
  }
  EXPECT_EQ(cos256_table[128], -1.0);
  EXPECT_NEAR(cos256_table[64], 0.0, 1e-11);
}

TEST(GameMath, PointAngleFollowsAtan2) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> coordinate(-500, 500);
  for (int32_t i = 0; i < 5000; ++i) {
    double x1 = coordinate(random), y1 = coordinate(random), x2 = coordinate(random), y2 = coordinate(random);
    if (x1 == x2 && y1 == y2) continue;
    double expected = std::atan2(y2 - y1, x2 - x1);
    if (expected < 0) expected += 2 * M_PI;
    double radians = point_angle(x1, y1, x2, y2, 0);
    // The routine's pi and 2 pi are 12-digit constants.
    EXPECT_NEAR(radians, expected, 1e-10) << x1 << "," << y1 << " -> " << x2 << "," << y2;
    EXPECT_NEAR(point_angle(x1, y1, x2, y2, 1), expected * 180 / M_PI, 1e-8);
  }
}

// Axis directions come out whole in degrees, so a velocity built from them has exact
// zero components.
TEST(GameMath, AxisDirectionsAreExactDegrees) {
  struct Case {
    double dx, dy, degrees;
  } cases[] = {{0, 5, 90}, {0, -5, 270}, {-1, 0, 180}, {3, 0, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(point_angle(0, 0, c.dx, c.dy, 1), c.degrees) << c.dx << "," << c.dy;
  }
  EXPECT_NEAR(point_angle(0, 0, 1, -1, 1), 315, 1e-9);
  // Radians keep the routine's constants.
  EXPECT_EQ(point_angle(0, 0, 0, 5, 0), 1.570796326795);
}

TEST(GameMath, Distances) {
  EXPECT_EQ(point_distance(0, 0, 3, 4, 8), 5);
  EXPECT_EQ(point_distance(0, 0, 3, 4, 0), 7);
  EXPECT_EQ(point_distance(0, 0, -3, 4, 1), 7);
}

TEST(GameMath, Centres) {
  IntPoint centre = rect_centre(10, 20, 15, 27);
  EXPECT_EQ(centre.x, 12);
  EXPECT_EQ(centre.y, 23);
}

class GameMathState : public GameTest {};

TEST_F(GameMathState, AveragesOfTheRings) {
  EXPECT_EQ(average_fps_samples(), 0);  // an empty ring has no mean to divide out
  game.fps_samples[0] = 30;
  game.fps_samples[1] = 31;
  game.fps_samples[2] = 33;
  game.fps_sample_count = 3;
  EXPECT_EQ(average_fps_samples(), 31);
  game.step_sample_count = 1000;  // past the ring: only its 100 entries count
  game.step_samples[99] = 500;
  EXPECT_EQ(average_step_samples(), 5);
}

TEST_F(GameMathState, CollideStringGivesLowerCaseHashesLastFirst) {
  Sprite* sprite = create_sprite();
  sprite->collide = crt::_strdup("  Enemy , wall  ");
  parse_collide_string(sprite);
  ASSERT_NE(sprite->collide_hashes, nullptr);
  EXPECT_EQ(sprite->collide_hashes->hash, hash_name_text("wall"));
  ASSERT_NE(sprite->collide_hashes->next, nullptr);
  EXPECT_EQ(sprite->collide_hashes->next->hash, hash_name_text("enemy"));
  EXPECT_EQ(sprite->collide_hashes->next->next, nullptr);
  collide_hashes_free(sprite);
  EXPECT_EQ(sprite->collide_hashes, nullptr);
}

TEST_F(GameMathState, CollideStringItems) {
  struct Case {
    const char* text;
    int32_t items;
  } cases[] = {{"", 0}, {"a", 1}, {"a,", 1}, {"a,,b", 3}, {",a", 2}};
  for (const Case& c : cases) {
    Sprite* sprite = create_sprite();
    sprite->collide = crt::_strdup(c.text);
    parse_collide_string(sprite);
    int32_t items = 0;
    for (CollideHashNode* node = sprite->collide_hashes; node; node = node->next) ++items;
    EXPECT_EQ(items, c.items) << '"' << c.text << '"';
  }
  // An item far longer than any work buffer is hashed whole.
  std::string long_item(5000, 'x');
  Sprite* sprite = create_sprite();
  sprite->collide = crt::_strdup((long_item + ",y").c_str());
  parse_collide_string(sprite);
  ASSERT_NE(sprite->collide_hashes, nullptr);
  EXPECT_EQ(sprite->collide_hashes->next->hash, hash_name_text(long_item.c_str()));
}

}  // namespace
