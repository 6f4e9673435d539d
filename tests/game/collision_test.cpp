// Collision queries over six sprites (rotated, tiled, parented and clipped among them)
// and a region, checked against rectangles worked out by hand; hit tests; the published
// contact words; and the velocity response.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/variable.h"
#include "game/collision.h"
#include "game/collision_mask.h"
#include "game/game_math.h"
#include "game_fixture.h"
#include "platform/kernel/memory.h"
#include "vm/runtime_globals.h"

namespace {

int64_t floor_div(int64_t value, int64_t size) { return value >= 0 ? value / size : -((-value + size - 1) / size); }

class CollisionFixture : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    // The querying sprite: 20 x 20 at the origin, colliding with enemies and walls.
    self = make_grid_sprite(0, 0, 20, 20, "self");
    self->collide = crt::_strdup("Enemy , wall");
    parse_collide_string(self);
    // Rotated 45 degrees: 20 x 10 around the centre (40, 5) becomes 22 x 22.
    rotated = create_sprite();
    rotated->angle = 45;
    place_grid_sprite(rotated, 30, 0, 20, 10, "enemy");
    // Tiled three times across.
    tiled = create_sprite();
    tiled->tile_x = 3;
    place_grid_sprite(tiled, -60, 40, 16, 16, "enemy");
    // A child of the rotated sprite, clipped to it.
    child = create_sprite();
    child->parent = rotated;
    child->options |= kOptionClipToParent;
    node_list_append(&rotated->children, nullptr)->sprite = child;
    place_grid_sprite(child, 45, 10, 8, 8, "enemy");
    // Clipped to its middle.
    clipped = create_sprite();
    clipped->clip = {8, 8, 24, 24};
    place_grid_sprite(clipped, 0, 60, 32, 32, "ENEMY");
    // Overlapping the querying sprite, but not in its collide list.
    make_grid_sprite(5, 5, 10, 10, "friend");
    add_region(RECT{-40, -30, -10, -10}, hash_name_text("wall"));

    expected[rotated] = {29, -6, 51, 16};
    expected[tiled] = {-60, 40, -12, 56};
    expected[child] = {45, 10, 51, 16};
    expected[clipped] = {8, 68, 24, 84};
  }

  // A static entry of the hash in every cell the region covers.
  void add_region(const RECT& rect, uint32_t hash) {
    region = rect;
    for (int64_t row = floor_div(rect.top + 2048, 32); row <= floor_div(rect.bottom + 2048, 32); ++row) {
      for (int64_t column = floor_div(rect.left + 2048, 32); column <= floor_div(rect.right + 2048, 32); ++column) {
        auto* entry = static_cast<GridCellEntry*>(crt::calloc(1, sizeof(GridCellEntry)));
        entry->id_hash = hash;
        entry->left = rect.left;
        entry->top = rect.top;
        entry->right = rect.right;
        entry->bottom = rect.bottom;
        GridCellEntry** cell = grid_cell(static_cast<int32_t>(column), static_cast<int32_t>(row));
        entry->next = *cell;
        *cell = entry;
      }
    }
  }
  // How often the region is met by a query of the rectangle: once per cell of the
  // region that the query's cells take in, when the two meet at all.
  int32_t region_hits(const RECT& query) const {
    if (std::max(query.left, region.left) >= std::min(query.right, region.right) ||
        std::max(query.top, region.top) >= std::min(query.bottom, region.bottom)) {
      return 0;
    }
    auto overlap = [](int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
      return std::max<int64_t>(0, std::min(a1, b1) - std::max(a0, b0) + 1);
    };
    int64_t columns = overlap(floor_div(int64_t{query.left} + 2048, 32), floor_div(int64_t{query.right} + 2048, 32),
                              floor_div(region.left + 2048, 32), floor_div(region.right + 2048, 32));
    int64_t rows = overlap(floor_div(int64_t{query.top} + 2048, 32), floor_div(int64_t{query.bottom} + 2048, 32),
                           floor_div(region.top + 2048, 32), floor_div(region.bottom + 2048, 32));
    return static_cast<int32_t>(columns * rows);
  }

  // Checks one query's hits against the hand-made rectangles.
  void check_hits(CollisionHit* hits, const RECT& query) {
    std::set<Sprite*> wanted, found;
    for (const auto& [sprite, box] : expected) {
      if (std::max(query.left, box.left) < std::min(query.right, box.right) &&
          std::max(query.top, box.top) < std::min(query.bottom, box.bottom)) {
        wanted.insert(sprite);
      }
    }
    int32_t regions = 0;
    for (CollisionHit* hit = hits; hit; hit = hit->next) {
      if (!hit->sprite) {
        ++regions;
        EXPECT_EQ(hit->a, region.left);
        EXPECT_EQ(hit->d, region.bottom);
        continue;
      }
      EXPECT_TRUE(found.insert(hit->sprite).second) << "a sprite reported twice";
      const RECT& box = expected[hit->sprite];
      int32_t left = std::max(query.left, box.left), right = std::min(query.right, box.right);
      int32_t top = std::max(query.top, box.top), bottom = std::min(query.bottom, box.bottom);
      EXPECT_EQ(hit->a, static_cast<int32_t>((right - left) / 2.0 + (left - box.left)));
      EXPECT_EQ(hit->b, static_cast<int32_t>((bottom - top) / 2.0 + (top - box.top)));
    }
    EXPECT_EQ(found, wanted);
    EXPECT_EQ(regions, region_hits(query));
  }

  Sprite* self = nullptr;
  Sprite* rotated = nullptr;
  Sprite* tiled = nullptr;
  Sprite* child = nullptr;
  Sprite* clipped = nullptr;
  RECT region{};
  std::map<Sprite*, RECT> expected;
};

TEST_F(CollisionFixture, RectanglesMatchTheHandMadeOnes) {
  for (const auto& [sprite, box] : expected) {
    const RECT& actual = sprite->screen_collide_rect;
    EXPECT_EQ(actual.left, box.left);
    EXPECT_EQ(actual.top, box.top);
    EXPECT_EQ(actual.right, box.right);
    EXPECT_EQ(actual.bottom, box.bottom);
  }
}

TEST_F(CollisionFixture, QueriesAtEveryPosition) {
  for (int32_t y = -60; y <= 100; y += 3) {
    for (int32_t x = -90; x <= 80; x += 3) {
      SCOPED_TRACE(testing::Message() << "at " << x << "," << y);
      RECT query{x, y, x + 20, y + 20};
      CollisionHit* hits = collisions_at_position(self, x, y, 0);
      check_hits(hits, query);
      CollisionHit* first = collisions_at_position(self, x, y, 1);
      EXPECT_EQ(first != nullptr, hits != nullptr);
      if (first) EXPECT_EQ(first->next, nullptr);
      node_list_free(&hits);
      node_list_free(&first);
      RECT tall{x, y, x + 7, y + 45};
      hits = collisions_in_rect(self, tall.left, tall.top, tall.right, tall.bottom, 0);
      check_hits(hits, tall);
      node_list_free(&hits);
    }
  }
}

TEST_F(CollisionFixture, OwnCellsAndMovedSprites) {
  self->x = 10;
  self->screen_rect = compute_screen_rect(self, 0, 0);
  CollisionHit* hits = collect_grid_collisions(self, 0);
  check_hits(hits, RECT{10, 0, 30, 20});
  ASSERT_NE(hits, nullptr);
  EXPECT_EQ(hits->sprite, rotated);
  node_list_free(&hits);
  // Moving the parent moves the child with it.
  rotated->x = 300;
  rotated->screen_rect = compute_screen_rect(rotated, 0, 0);
  EXPECT_EQ(collect_grid_collisions(self, 0), nullptr);
  EXPECT_EQ(child->x, 315);
  child->screen_rect = compute_screen_rect(child, 0, 0);
  EXPECT_EQ(child->screen_collide_rect.left, 315);
}

TEST_F(CollisionFixture, SkippedSprites) {
  CollisionHit* hits = collisions_at_position(self, 0, 60, 0);
  ASSERT_NE(hits, nullptr);
  node_list_free(&hits);
  clipped->paused = 1;
  EXPECT_EQ(collisions_at_position(self, 0, 60, 0), nullptr);
  clipped->paused = 0;
  clipped->options |= kOptionNoHitTest;
  EXPECT_EQ(collisions_at_position(self, 0, 60, 0), nullptr);
  clipped->options &= ~kOptionNoHitTest;
  collide_hashes_free(self);  // an empty collide list collides with nothing
  EXPECT_EQ(collisions_at_position(self, 0, 60, 0), nullptr);
}

// Positions far outside the grid give no cells rather than cells read out of the table.
TEST_F(CollisionFixture, QueriesOutsideTheGrid) {
  struct Case {
    int32_t left, top, right, bottom;
  } cases[] = {{-100000, 0, -99000, 10},
               {0, 5000, 10, 6000},
               {-2147483647, -2147483647, 2147483600, 2147483600},
               {3000, 3000, 2000, 2000}};
  for (const Case& c : cases) {
    CollisionHit* hits = collisions_in_rect(self, c.left, c.top, c.right, c.bottom, 0);
    RECT query{c.left, c.top, c.right, c.bottom};
    if (c.left < c.right) check_hits(hits, query);
    else EXPECT_EQ(hits, nullptr);
    node_list_free(&hits);
  }
}

TEST_F(CollisionFixture, PixelExactContact) {
  for (Sprite* sprite : {self, clipped}) {
    sprite->options |= kOptionPixelExact;
    sprite->frame_masks[0] = mask_create(sprite->width, sprite->height);
  }
  mask_set_pixel(self->frame_masks[0], 19, 19);
  mask_set_pixel(clipped->frame_masks[0], 3, 3);
  // Pixel (19, 19) of self meets pixel (3, 3) of clipped when self stands at (-8, 52);
  // one step aside the rectangles still meet but no pixels do.
  EXPECT_EQ(collisions_at_position(self, -7, 52, 0), nullptr);
  CollisionHit* hits = collisions_at_position(self, -8, 52, 1);
  ASSERT_NE(hits, nullptr);
  EXPECT_EQ(hits->sprite, clipped);
  EXPECT_EQ(hits->a, 19);
  EXPECT_EQ(hits->b, 19);
  node_list_free(&hits);
}

class ContactWords : public CollisionFixture {
 protected:
  void SetUp() override {
    CollisionFixture::SetUp();
    t_saved = t_collide_variable;
    s_saved = s_collide_variable;
    t_variable.data = crt::calloc(1, 16);
    s_variable.data = crt::calloc(1, 16);
    t_collide_variable = &t_variable;
    s_collide_variable = &s_variable;
  }
  void TearDown() override {
    t_collide_variable = t_saved;
    s_collide_variable = s_saved;
    crt::free(t_variable.data);
    crt::free(s_variable.data);
    CollisionFixture::TearDown();
  }
  static std::vector<int32_t> words(const Variable& variable) {
    std::vector<int32_t> values(4);
    std::memcpy(values.data(), variable.data, 16);
    return values;
  }
  // The direction in whole degrees the way the contact is published, from atan2.
  static int32_t degrees(double from_x, double from_y, double to_x, double to_y) {
    double angle = std::atan2(to_y - from_y, to_x - from_x) * 180 / M_PI;
    if (angle < 0) angle += 360;
    return static_cast<int32_t>(angle + 1e-9);
  }

  Variable t_variable{};
  Variable s_variable{};
  Variable* t_saved = nullptr;
  Variable* s_saved = nullptr;
};

TEST_F(ContactWords, SpriteContact) {
  self->prev_x = -5;
  self->prev_y = 55;
  self->y = 55;
  self->screen_rect = compute_screen_rect(self, 0, 0);
  publish_collision_details(self, clipped, 4, 6, 0, 0);
  // clipped's rectangle (8, 68)-(24, 84): centre (16, 76); self's centre (10, 65).
  int32_t angle = degrees(16, 76, 10, 65);
  EXPECT_EQ(angle, 241);
  EXPECT_EQ(words(t_variable), (std::vector<int32_t>{256, angle, 4, 6}));
  EXPECT_EQ(words(s_variable), (std::vector<int32_t>{4096, angle + 180 - 360, (20 - 8) + 4, (75 - 68) + 6}));
}

TEST_F(ContactWords, RegionContactAndThe180Case) {
  // Straight right of the region's centre (-25, -20): angle 0; S side the opposite.
  self->y = -30;
  self->prev_x = self->x = 20;
  self->prev_y = -30;
  self->screen_rect = compute_screen_rect(self, 0, 0);
  publish_collision_details(self, nullptr, -40, -30, -10, -10);
  EXPECT_EQ(words(t_variable)[1], degrees(-25, -20, 30, -20));
  EXPECT_EQ(words(t_variable)[2], -25);
  EXPECT_EQ(words(t_variable)[3], -20);
  EXPECT_EQ(words(s_variable)[1], 180);
  EXPECT_EQ(words(s_variable)[2], std::abs(40 - -40) - -40 + -25);
  // Left of it: 180 for the first, 360 (not 0) for the second.
  self->x = -100;
  self->screen_rect = compute_screen_rect(self, 0, 0);
  publish_collision_details(self, nullptr, -40, -30, -10, -10);
  EXPECT_EQ(words(t_variable)[1], 180);
  EXPECT_EQ(words(s_variable)[1], 360);
}

TEST_F(ContactWords, SidesByMode) {
  struct Case {
    uint64_t options;
    int32_t move_axis;
    double prev_x, prev_y, x, y;
    int32_t t_side, s_side;
  } cases[] = {
      {kOptionAxisSides, 1, 5, 0, 0, 0, 256, 4096},
      {kOptionAxisSides, 1, 0, 0, 5, 0, 4096, 256},
      {kOptionAxisSides, 1, 0, 0, 0, 9, 0, 0},
      {kOptionAxisSides, 0, 0, 0, 0, 5, 1, 16},
      {kOptionAxisSides, 0, 0, 5, 0, 0, 16, 1},
      {0, 0, 10, 60, 0, 60, 4096, 256},   // overlapped vertically before: sideways
      {0, 0, 0, 20, 0, 60, 1, 16},        // came from above
      {0, 0, 0, 100, 0, 60, 16, 1},       // came from below
  };
  for (const Case& c : cases) {
    self->options = kOptionInGrid | c.options;
    game.move_axis = c.move_axis;
    self->prev_x = c.prev_x;
    self->prev_y = c.prev_y;
    self->x = c.x;
    self->y = c.y;
    publish_collision_details(self, clipped, 0, 0, 0, 0);
    EXPECT_EQ(words(t_variable)[0], c.t_side) << &c - cases;
    EXPECT_EQ(words(s_variable)[0], c.s_side) << &c - cases;
  }
}

// A global whose block is too small to hold the four words is left alone.
TEST_F(ContactWords, SmallBlockIsNotWritten) {
  crt::free(s_variable.data);
  s_variable.data = crt::calloc(1, 8);
  publish_collision_details(self, clipped, 4, 6, 0, 0);
  EXPECT_EQ(words(t_variable)[2], 4);
  EXPECT_EQ(std::memcmp(s_variable.data, "\0\0\0\0\0\0\0\0", 8), 0);
  self->deleted = 1;
  t_variable.data = std::memset(t_variable.data, 0, 16);
  publish_collision_details(self, clipped, 4, 6, 0, 0);
  EXPECT_EQ(words(t_variable)[2], 0);
}

class HitTests : public GameTest {};

TEST_F(HitTests, PointAndRectangle) {
  Sprite* older = make_sprite(0, 0, 20, 20);
  Sprite* newer = make_sprite(10, 10, 20, 20);
  newer->order = -1;  // drawn first: the older one is on top
  update_draw_list();
  EXPECT_EQ(find_sprite_at_point(15, 15, 0), newer);
  EXPECT_EQ(find_sprite_at_point(15, 15, 1), older);
  EXPECT_EQ(find_sprite_at_point(20, 5, 0), nullptr);  // right edge excluded
  EXPECT_EQ(find_sprite_in_rect(25, 25, 40, 40, 0), newer);
  newer->visible = 0;
  EXPECT_EQ(find_sprite_at_point(15, 15, 0), older);
  older->paused = 1;
  EXPECT_EQ(find_sprite_at_point(15, 15, 0), nullptr);
  // The draw list holds shown sprites only: visibility is not asked again there.
  EXPECT_EQ(find_sprite_at_point(15, 15, 1), newer);
  older->paused = 0;
  newer->visible = 1;
  ListElement* last = list_sprites_at_point(15, 15, 0);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->number, platform::address_of(newer));
  ASSERT_NE(last->prev, nullptr);
  EXPECT_EQ(last->prev->number, platform::address_of(older));
  list_element_chain_free(last->prev, false);
}

TEST_F(HitTests, PixelExactPoint) {
  Sprite* sprite = make_sprite(100, 100, 40, 8);
  sprite->options |= kOptionPixelExact;
  EXPECT_EQ(find_sprite_at_point(101, 101, 0), nullptr);  // no mask: no hit
  sprite->frame_masks[0] = mask_create(40, 8);
  mask_set_pixel(sprite->frame_masks[0], 35, 2);
  EXPECT_EQ(find_sprite_at_point(135, 102, 0), sprite);
  EXPECT_EQ(find_sprite_at_point(134, 102, 0), nullptr);
  sprite->frame_index = 700;  // beyond the frame table: no mask
  EXPECT_EQ(find_sprite_at_point(135, 102, 0), nullptr);
}

class Response : public GameTest {};

TEST_F(Response, EqualMassesExchangeSpeeds) {
  Sprite* a = make_sprite(0, 0, 10, 10);
  Sprite* b = make_sprite(10, 0, 10, 10);
  a->mass = b->mass = 2;
  a->vel_x = 1;
  b->vel_x = -1;
  collide_with_mass(a, b);
  EXPECT_NEAR(a->vel_x, -1, 1e-12);
  EXPECT_NEAR(b->vel_x, 1, 1e-12);
  EXPECT_NEAR(a->vel_y, 0, 1e-12);
}

// No mass to divide by, or no line between the centres: nothing but the damping.
TEST_F(Response, DegenerateMassCollisions) {
  struct Case {
    double a_mass, b_mass, b_x;
  } cases[] = {{0, 2, 10}, {2, 0, 10}, {2, 2, 0}, {1, -1, 10}};
  for (const Case& c : cases) {
    Sprite* a = make_sprite(0, 0, 10, 10);
    Sprite* b = make_sprite(c.b_x, 0, 10, 10);
    a->mass = c.a_mass;
    b->mass = c.b_mass;
    a->vel_x = 1;
    b->vel_x = -1;
    collide_with_mass(a, b);
    EXPECT_TRUE(std::isfinite(a->vel_x) && std::isfinite(a->vel_y) && std::isfinite(b->vel_x) &&
                std::isfinite(b->vel_y))
        << &c - cases;
    destroy_sprite(a);
    destroy_sprite(b);
  }
}

TEST_F(Response, BounceElasticityAndFriction) {
  struct Case {
    double elasticity, friction;
    uint64_t options;
    int32_t axes;
    double vel_x, vel_y;
  } cases[] = {
      {0, 0, 0, 0, -3, -2},
      {-1, 0, 0, 1, 0, 2},  // stops on x
      {0.5, 0, 0, 2, 3, -3},
      {0, 0.5, 0, 0, -1.5, -1},  // the other's friction
      {0, 0.5, kOptionNoFrictionFromOther, 0, -3, -2},
      {-1, 0, kOptionNoElasticity, 0, -3, -2},
  };
  for (const Case& c : cases) {
    Sprite* a = make_sprite(0, 0, 10, 10);
    Sprite* wall = make_sprite(0, 0, 10, 10);
    a->vel_x = 3;
    a->vel_y = 2;
    a->elasticity = c.elasticity;
    a->options = c.options;
    wall->friction = c.friction;
    bounce_sprites(a, c.friction ? wall : nullptr, c.axes);
    EXPECT_DOUBLE_EQ(a->vel_x, c.vel_x) << &c - cases;
    EXPECT_DOUBLE_EQ(a->vel_y, c.vel_y) << &c - cases;
  }
}

}  // namespace
