// Sprite geometry: drawn and collision rectangles, rotation, tiling, clips, the view
// origin, children, and the frame masks.
#include <gtest/gtest.h>

#include "display/surface.h"
#include "game/collision_mask.h"
#include "game_fixture.h"

namespace {

class SpriteGeometry : public GameTest {};

void expect_rect(const RECT& rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  EXPECT_EQ(rect.left, left);
  EXPECT_EQ(rect.top, top);
  EXPECT_EQ(rect.right, right);
  EXPECT_EQ(rect.bottom, bottom);
}

TEST_F(SpriteGeometry, RotatedBounds) {
  struct Case {
    int32_t width, height;
    double angle;
    int32_t left, top, right, bottom;
  } cases[] = {
      {20, 10, 90, 5, -5, 15, 15},   // 10 x 20 around the same centre (10, 5)
      {20, 10, 45, -1, -6, 21, 16},  // ceil(21.21...) = 22: half sizes 11
      {22, 22, 45, -5, -5, 27, 27},  // ceil(31.11...) = 32
      {10, 20, 270, -5, 5, 15, 15},
      {20, 10, 180, 0, 0, 20, 10},
  };
  for (const Case& c : cases) {
    Sprite* sprite = create_sprite();
    sprite->width = c.width;
    sprite->height = c.height;
    sprite->angle = c.angle;
    RECT rect = compute_screen_rect(sprite, 0, 0);
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.angle);
    expect_rect(rect, c.left, c.top, c.right, c.bottom);
    EXPECT_EQ(sprite->drawn_width, c.right - c.left);
    EXPECT_EQ(sprite->drawn_height, c.bottom - c.top);
  }
}

TEST_F(SpriteGeometry, ClipTileAndCollisionRectangle) {
  Sprite* sprite = create_sprite();
  sprite->x = 100;
  sprite->y = 50;
  sprite->width = 32;
  sprite->height = 16;
  sprite->tile_x = 3;
  expect_rect(compute_screen_rect(sprite, 0, 0), 100, 50, 132, 66);
  expect_rect(sprite->screen_collide_rect, 100, 50, 196, 66);  // two widths wider
  sprite->clip = {4, 2, 20, 0};
  sprite->collide_rect = {1, 1, 10, 0};
  expect_rect(compute_screen_rect(sprite, 0, 0), 104, 52, 120, 66);
  expect_rect(sprite->screen_collide_rect, 105, 53, 114, 66);
  // An explicit position replaces the sprite's own.
  expect_rect(compute_screen_rect(sprite, 7, 9), 11, 11, 27, 25);
}

TEST_F(SpriteGeometry, FixedToScreenAndParallax) {
  game.origin_x = 40.7;
  game.origin_y = 10;
  Sprite* fixed = create_sprite();
  fixed->width = fixed->height = 4;
  fixed->options = kOptionFixedX;
  expect_rect(compute_screen_rect(fixed, 0, 0), 40, 0, 44, 4);
  Sprite* far = create_sprite();
  far->width = far->height = 4;
  far->auto_scroll_x = 0.5;
  expect_rect(compute_screen_rect(far, 0, 0), 20, 0, 24, 4);  // 0 - trunc(20.35 - 40.7)
}

TEST_F(SpriteGeometry, ChildrenFollowTheirParent) {
  Sprite* parent = make_sprite(100, 100, 20, 20);
  Sprite* child = make_sprite(110, 130, 5, 5);
  child->parent = parent;
  DrawListNode* node = node_list_append(&parent->children, nullptr);
  node->sprite = child;
  // A child moved by the script records its offset from the parent.
  child->screen_rect = compute_screen_rect(child, 0, 0);
  EXPECT_EQ(node->a, 10);
  EXPECT_EQ(node->b, 30);
  parent->x = 200;
  parent->screen_rect = compute_screen_rect(parent, 0, 0);
  EXPECT_EQ(child->x, 210);
  EXPECT_EQ(child->y, 130);
  expect_rect(child->screen_rect, 210, 130, 215, 135);
  EXPECT_EQ(node->a, 10);
  // Clipped to the parent.
  child->options |= kOptionClipToParent;
  child->x = 215;
  child->y = 105;
  child->screen_rect = compute_screen_rect(child, 0, 0);
  expect_rect(child->screen_rect, 215, 105, 220, 110);
  child->x = 218;
  child->screen_rect = compute_screen_rect(child, 0, 0);
  expect_rect(child->screen_rect, 218, 105, 220, 110);
}

TEST_F(SpriteGeometry, ParentLoopDoesNotRecurseForEver) {
  Sprite* a = make_sprite(0, 0, 4, 4);
  Sprite* b = make_sprite(0, 0, 4, 4);
  node_list_append(&a->children, nullptr)->sprite = b;
  node_list_append(&b->children, nullptr)->sprite = a;
  a->parent = b;
  b->parent = a;
  a->screen_rect = compute_screen_rect(a, 0, 0);
  SUCCEED();
}

// Masks are as large as the limits their bits are set up to: a clip reaching past the
// drawn size must not write past the mask.
TEST_F(SpriteGeometry, RectangleFrameMasksSizedToTheirLimits) {
  display::Surface* surface = display::surface_new(16, 16);
  Sprite* sprite = make_sprite(0, 0, 16, 16);
  sprite->surface = surface;
  sprite->owns_surface = 1;
  sprite->frame_count = 2;
  sprite->clip = {2, 3, 40, 0};
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  build_frame_masks(sprite);
  for (int32_t frame = 0; frame < 2; ++frame) {
    CollisionMask* mask = sprite->frame_masks[frame];
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask->width, 40);
    EXPECT_EQ(mask->height, 13);  // drawn height 13 below the clip's top
    EXPECT_EQ(sprite->mask_extent_x[frame], 40);
    EXPECT_FALSE(mask_pixel(mask, 1, 5));
    EXPECT_FALSE(mask_pixel(mask, 5, 2));
    EXPECT_TRUE(mask_pixel(mask, 39, 12));
  }
  EXPECT_EQ(sprite->frame_masks[2], nullptr);
  // A frame count past the table builds the 512 it can hold.
  sprite->frame_count = 600;
  build_frame_masks(sprite);
  EXPECT_NE(sprite->frame_masks[511], nullptr);
}

// The drawn size times the tiles is taken in 64 bits: a product past the int limit is held
// there, not wrapped to some small width, and a mask or a block of pixels that could not
// exist in a 32-bit process is not made.
TEST_F(SpriteGeometry, FrameMasksOfSizesNearTheIntLimitsNeitherWrapNorOverflow) {
  struct Row {
    const char* what;
    int32_t width, height, tile_x, tile_y;
    bool pixel_exact;
    int32_t mask_width, mask_height;  // 0: no mask
  };
  const Row rows[] = {
      {"tiles multiply the drawn size", 16, 8, 3, 2, false, 48, 16},
      {"a tiled width past the int limit makes no 2 GB mask", 0x08000001, 8, 32, 0, false, 0, 0},
      {"a tiled height past the int limit makes no 2 GB mask", 8, 0x08000001, 0, 32, false, 0, 0},
      {"a negative width times the tiles makes no mask", INT32_MIN, 8, 32, 0, false, 0, 0},
      {"pixel-exact: a tiled width past the int limit draws no pixels", 0x08000001, 8, 32, 0, true, 0, 0},
      {"pixel-exact: pixels past 4 G are not drawn into a wrapped block", 65536, 65537, 0, 0, true, 0, 0},
  };
  for (const Row& row : rows) {
    display::Surface* surface = display::surface_new(16, 16);
    Sprite* sprite = make_sprite(0, 0, row.width, row.height);
    sprite->surface = surface;
    sprite->owns_surface = 1;
    sprite->tile_x = row.tile_x;
    sprite->tile_y = row.tile_y;
    if (row.pixel_exact) sprite->options |= kOptionPixelExact;
    build_frame_masks(sprite);
    CollisionMask* mask = sprite->frame_masks[0];
    if (row.mask_width == 0) {
      EXPECT_EQ(mask, nullptr) << row.what << ": " << (mask ? mask->width : 0) << " x "
                               << (mask ? mask->height : 0);
    } else {
      ASSERT_NE(mask, nullptr) << row.what;
      EXPECT_EQ(mask->width, row.mask_width) << row.what;
      EXPECT_EQ(mask->height, row.mask_height) << row.what;
    }
    destroy_all_sprites();
  }
}

}  // namespace
