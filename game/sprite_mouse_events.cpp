// Stylus messages at the game window reach the sprite under the pointer; the sprite the
// pointer left is told so (1026).
#include "foundation/numbers.h"
#include "game/collision.h"
#include "game/game_display.h"
#include "game/game_loop.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "gui/forms.h"

namespace {

constexpr int32_t kPointerLeftMessage = 1026;

Sprite* hover_sprite = nullptr;

HWND current_game_window() { return game.game_window; }

void sprite_mouse_event(HWND, uint32_t message, LPARAM lparam) {
  auto bits = static_cast<uint32_t>(lparam);
  display::Point point = rotate_screen_point({int32_t(bits & 0xFFFF), int32_t(bits >> 16)});
  // Wide sums held to 32 bits: the view origin and a sprite's place may lie anywhere.
  int32_t x = clamp_to_int32(int64_t(point.x) + truncate_to_int(game.origin_x));
  int32_t y = clamp_to_int32(int64_t(point.y) + truncate_to_int(game.origin_y));
  Sprite* found = find_sprite_at_point(x, y, 1);
  uint32_t found_handle = platform::address_of(found);
  if (found && found->proc) {
    sprite_event(found, int32_t(message), clamp_to_int32(int64_t(x) - truncate_to_int(found->x)),
                 clamp_to_int32(int64_t(y) - truncate_to_int(found->y)));
  }
  // The event may have destroyed either sprite.
  found = found ? sprite_from_handle(found_handle) : nullptr;
  Sprite* left = hover_sprite ? sprite_from_handle(platform::address_of(hover_sprite)) : nullptr;
  if (left && left != found && left->proc) {
    sprite_event(left, kPointerLeftMessage, clamp_to_int32(int64_t(x) - truncate_to_int(left->x)),
                 clamp_to_int32(int64_t(y) - truncate_to_int(left->y)));
  }
  found = found ? sprite_from_handle(found_handle) : nullptr;
  hover_sprite = found && !found->deleted ? found : nullptr;
}

}  // namespace

void install_sprite_mouse_events() {
  form_game_hooks.game_window = current_game_window;
  form_game_hooks.sprite_mouse_event = sprite_mouse_event;
}
