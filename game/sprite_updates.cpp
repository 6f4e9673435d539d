// The placement update, mask building and the frame strip of the sprite built-ins.
#include "game/sprite_updates.h"

#include <algorithm>

#include "display/surface.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"

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
