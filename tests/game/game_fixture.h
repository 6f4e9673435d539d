// A clean game state for each test: no sprites, no lists, the default 32-pixel grid of
// 128 x 128 cells, a 240 x 320 view at the origin.
#pragma once

#include <gtest/gtest.h>

#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/layers.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset();
    game.screen_width = 240;
    game.screen_height = 320;
    update_view_rect();
    ASSERT_TRUE(grid_setup(32, 128, 128));
  }
  void TearDown() override { reset(); }

  static void reset() {
    destroy_all_sprites();
    grid_free();
    free_layer_list();
    game = GameState{};
    game.children_follow = 1;
  }

  // A sprite of the size at (x, y) with its rectangles computed.
  static Sprite* make_sprite(double x, double y, int32_t width, int32_t height) {
    Sprite* sprite = create_sprite();
    sprite->x = x;
    sprite->y = y;
    sprite->width = width;
    sprite->height = height;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    return sprite;
  }
};
