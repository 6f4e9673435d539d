// A clean game state for each test: no sprites, no lists, the default 32-pixel grid of
// 128 x 128 cells, a 240 x 320 view at the origin.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "foundation/hashes.h"

#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/layers.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/memory.h"

// Gives the sprite its id (hashed in lower case as the id setter does), the grid option,
// a place and a size, and computes its rectangles.
inline void place_grid_sprite(Sprite* sprite, double x, double y, int32_t width, int32_t height, const char* id) {
  sprite->id = crt::_strdup(id);
  std::string lower = id;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  sprite->id_hash = hash_name_text(lower.c_str());
  sprite->options |= kOptionInGrid;
  sprite->x = x;
  sprite->y = y;
  sprite->width = width;
  sprite->height = height;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
}

inline Sprite* make_grid_sprite(double x, double y, int32_t width, int32_t height, const char* id) {
  Sprite* sprite = create_sprite();
  place_grid_sprite(sprite, x, y, width, height, id);
  return sprite;
}

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
