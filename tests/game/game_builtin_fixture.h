// The game built-ins called as compiled code calls them, over a clean game state: no
// sprites or layers, the default 32-pixel grid, a 240 x 320 view at the origin.
#pragma once

#include "../library/builtin_fixture.h"
#include "game/game_builtins.h"
#include "game_fixture.h"

class GameBuiltinTest : public BuiltinTest {
 protected:
  GameBuiltinTest() : BuiltinTest(register_game_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    game = GameState{};
    game.children_follow = 1;
    game.screen_width = 240;
    game.screen_height = 320;
    update_view_rect();
    ASSERT_TRUE(grid_setup(32, 128, 128));
  }
  void TearDown() override {
    destroy_all_sprites();
    grid_free();
    free_layer_list();
    game.draw_canvas = nullptr;
    BuiltinTest::TearDown();
  }
};
