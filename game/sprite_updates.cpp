// The shared update steps of the sprite property built-ins and the frame strip.
#include "game/sprite_updates.h"

#include <algorithm>

#include "display/surface.h"
#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"

namespace {

// Option bits that only the transforming renderer draws: the alternate-pixel effect,
// mirroring, clipping to the parent, smoothing, inverting and greyscale.
constexpr uint64_t kOptionsNeedingRenderer =
    (1ull << 5) | (1ull << 28) | (1ull << 32) | (1ull << 36) | (1ull << 40) | (1ull << 44) | (1ull << 48);

bool all_zero(const RECT& rect) { return !rect.left && !rect.top && !rect.right && !rect.bottom; }

}  // namespace

void update_full_render(Sprite* sprite) {
  const RECT& frame = sprite->frame_rects[0];
  bool plain = sprite->light == -1 && all_zero(sprite->clip) && sprite->tile_x == 0 && sprite->tile_y == 0 &&
               sprite->angle == 0.0 && sprite->offset_x == 0 && sprite->offset_y == 0 &&
               sprite->auto_offset_x == 0.0 && sprite->auto_offset_y == 0.0 && sprite->surface &&
               sprite->alpha == -1 && sprite->tint == -1 && sprite->width == frame.right - frame.left &&
               sprite->height == frame.bottom - frame.top && !(sprite->options & kOptionsNeedingRenderer);
  sprite->full_render = plain ? 0 : 1;
}

void note_sprite_view_change(Sprite* sprite) {
  bool in_view = sprite->visible && rects_intersect(sprite->screen_rect, game.view_rect);
  if (in_view != (sprite->draw_node != nullptr)) {
    game.draw_list_dirty = 1;
    game.geometry_dirty = 1;
  }
}

void update_sprite_placement(Sprite* sprite) {
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  if (game.iso_display) {
    game.draw_list_dirty = 1;
    return;
  }
  note_sprite_view_change(sprite);
}

void build_masks_when_used(Sprite* sprite) {
  if (sprite->options & (kOptionPixelExact | kOptionAlphaSolidWhite)) build_frame_masks(sprite);
}

void refresh_sprite_masks(Sprite* sprite) {
  free_frame_masks(sprite);
  build_masks_when_used(sprite);
}

void reenter_sprite_in_grid(Sprite* sprite) {
  if (sprite_in_grid(sprite)) grid_remove_sprite(sprite);
  if (sprite->visible && (sprite->options & kOptionInGrid) && (sprite->id || sprite->collide)) {
    grid_enter_sprite(sprite);
  }
}

int32_t clamp_frame_count(int32_t frames) { return std::clamp(frames, 1, kSpriteFrameSlots); }

void cut_frame_strip(Sprite* sprite, int32_t count) {
  const display::PixelBuffer* strip = sprite->surface ? sprite->surface->buffer : nullptr;
  int32_t strip_width = strip ? int32_t(strip->width) : 0;
  int32_t strip_height = strip ? int32_t(strip->height) : 0;
  int32_t frame_width = int32_t(uint32_t(strip_width) / uint32_t(count));
  sprite->frame_count = count;
  for (int32_t frame = 0; frame < count; ++frame) {
    sprite->frame_rects[frame] = RECT{frame * frame_width, 0, (frame + 1) * frame_width, strip_height};
  }
  sprite->width = frame_width;
  sprite->height = strip_height;
}
