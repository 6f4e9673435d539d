// Sprite handles checked against the sprite list, and the update steps shared by the
// sprite property built-ins.
#include "game/sprite_handles.h"

#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "game/collision_grid.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"

namespace {

// Options that need the transforming renderer.
constexpr uint64_t kFullRenderOptions =
    (1ull << 5) | (1ull << 28) | (1ull << 32) | (1ull << 36) | (1ull << 40) | (1ull << 44) | (1ull << 48);

}  // namespace

Sprite* live_sprite(uint32_t handle) { return sprite_from_handle(handle); }

Sprite* pop_live_sprite() { return live_sprite(pop_address()); }

void sprite_full_render_test(Sprite* sprite) {
  const RECT& clip = sprite->clip;
  const RECT& first = sprite->frame_rects[0];
  bool plain = game.map_light == 0 && sprite->light == -1 && !clip.left && !clip.top && !clip.right &&
               !clip.bottom && sprite->tile_x == 0 && sprite->tile_y == 0 && sprite->angle == 0.0 &&
               sprite->offset_x == 0 && sprite->offset_y == 0 && sprite->auto_offset_x == 0.0 &&
               sprite->auto_offset_y == 0.0 && sprite->surface && sprite->alpha == -1 && sprite->tint == -1 &&
               sprite->width == first.right - first.left && sprite->height == first.bottom - first.top &&
               !(sprite->options & kFullRenderOptions);
  sprite->full_render = plain ? 0 : 1;
}

void sprite_refresh_masks(Sprite* sprite) {
  free_frame_masks(sprite);
  if (sprite->options & (kOptionPixelExact | kOptionAlphaSolidWhite)) build_frame_masks(sprite);
}

void sprite_grid_reregister(Sprite* sprite) {
  if (sprite_in_grid(sprite)) grid_remove_sprite(sprite);
  if (sprite->visible && (sprite->options & kOptionInGrid) && (sprite->id || sprite->collide)) {
    grid_enter_sprite(sprite);
  }
}

