// The game library's globals.
#include "game/game_state.h"

#include "foundation/numbers.h"
#include "game/rects.h"

GameState game = [] {
  GameState state{};
  state.children_follow = 1;
  state.fps_colour = 0xFFFF;
  state.event_result = 1;
  return state;
}();

void update_view_rect() {
  int32_t left = truncate_to_int(game.origin_x);
  int32_t top = truncate_to_int(game.origin_y);
  game.view_rect = {left, top, clamp_to_int32(int64_t(left) + game.screen_width),
                    clamp_to_int32(int64_t(top) + game.screen_height)};
}
