// Sprites made, copied, given pictures and frames, marked for deletion and destroyed,
// and one sprite drawn at once.
#include <algorithm>
#include <cstring>

#include "display/canvas.h"
#include "display/surface.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_behaviour_builtins.h"
#include "game/game_drawing.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_arguments.h"
#include "game/sprite_builtins.h"
#include "game/sprite_geometry.h"
#include "game/sprite_handles.h"
#include "game/sprite_updates.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

using display::Surface;

// A timer record is copied whole; its fields belong to the timers.
constexpr size_t kSpriteTimerBytes = 20;
// Option bit that makes rendersprite blit the plain frame whatever full_render says.
constexpr uint64_t kOptionPlainBlit = 1ull << 25;

void mark_lists_dirty() {
  game.geometry_dirty = 1;
  game.draw_list_dirty = 1;
  game.draw_order_dirty = 1;
}

// The frame table after a new strip: frames that no longer exist are not pointed at.
void clamp_frame_range(Sprite* sprite) {
  int32_t last = sprite->frame_count - 1;
  sprite->frame_index = std::clamp(sprite->frame_index, 0, last);
  sprite->first_frame = std::clamp(sprite->first_frame, 0, last);
  sprite->last_frame = std::clamp(sprite->last_frame, 0, last);
}

// Drops the picture the sprite holds; released when the sprite owned it.
void drop_surface(Sprite* sprite) {
  Surface* old = sprite->surface;
  bool owned = sprite->owns_surface;
  sprite->surface = nullptr;
  sprite->owns_surface = 0;
  if (owned) release_sprite_surface(old);
}

void drop_alpha_surface(Sprite* sprite) {
  Surface* old = sprite->alpha_surface;
  bool owned = sprite->owns_alpha_surface;
  sprite->alpha_surface = nullptr;
  sprite->owns_alpha_surface = 0;
  if (owned) release_sprite_surface(old);
}

// A new sprite; null, with the error reported and 0 pushed, when memory runs out.
Sprite* create_script_sprite() {
  Sprite* sprite = create_sprite();
  if (!sprite) {
    runtime_error("Out of memory", false);
    push_sprite_result(0);
  }
  return sprite;
}

// Gives a new sprite its loaded picture, frames and procedure, sends the creation event
// and pushes the sprite (0 when the picture did not load). file_name null: from memory.
void attach_picture(Sprite* sprite, const char* file_name, int32_t mask, int32_t frames, int32_t anim_speed,
                    InstructionNode* procedure) {
  if (!sprite->surface) {
    destroy_sprite(sprite);
    if (file_name) runtime_error("Error loading image %s", file_name);
    else runtime_error("Error loading image from memory", false);
    push_sprite_result(0);
    return;
  }
  int32_t count = clamp_frame_count(frames);
  if (mask != -1) sprite->surface->colour_key = mask;
  sprite->anim_speed = anim_speed;
  cut_frame_strip(sprite, count);
  sprite->first_frame = 0;
  sprite->last_frame = count - 1;
  sprite->frame_index = 0;
  sprite->proc = procedure;
  build_masks_when_used(sprite);
  uint32_t handle = platform::address_of(sprite);
  send_sprite_event(sprite, 1, 0, 0);
  // The creation event may have destroyed the sprite it was sent for.
  if (!sprite_from_handle(handle)) {
    push_sprite_result(0);
    return;
  }
  mark_lists_dirty();
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  sprite_full_render_test(sprite);
  push_sprite_result(handle);
}

void builtin_loadsprite() {
  InstructionNode* procedure = pop_sprite_procedure("loadsprite");
  int32_t anim_speed = pop_integer();
  int32_t frames = pop_integer();
  int32_t mask = pop_integer();
  const char* file_name = pop_narrow_text();
  Sprite* sprite = create_script_sprite();
  if (!sprite) return;
  sprite->surface = load_image_surface(file_name);
  sprite->owns_surface = 1;
  attach_picture(sprite, file_name, mask, frames, anim_speed, procedure);
}

Surface* load_from_memory(uint32_t address, int32_t size) {
  auto* begin = platform::pointer_from<const uint8_t>(address);
  if (!begin || size <= 0) return nullptr;
  return load_image_surface_from_memory(begin, begin + size);
}

void builtin_loadspritefrommem() {
  InstructionNode* procedure = pop_sprite_procedure("loadspritefrommem");
  int32_t anim_speed = pop_integer();
  int32_t frames = pop_integer();
  int32_t mask = pop_integer();
  int32_t size = pop_integer();
  uint32_t address = pop_address();
  Sprite* sprite = create_script_sprite();
  if (!sprite) return;
  sprite->surface = load_from_memory(address, size);
  sprite->owns_surface = 1;
  attach_picture(sprite, nullptr, mask, frames, anim_speed, procedure);
}

void builtin_newsprite() {
  InstructionNode* procedure = pop_sprite_procedure("newsprite");
  Sprite* sprite = create_script_sprite();
  if (!sprite) return;
  sprite->width = 1;
  sprite->height = 1;
  sprite->proc = procedure;
  uint32_t handle = platform::address_of(sprite);
  send_sprite_event(sprite, 1, 0, 0);
  if (!sprite_from_handle(handle)) {
    push_sprite_result(0);
    return;
  }
  push_sprite_result(handle);
  sprite_full_render_test(sprite);
  mark_lists_dirty();
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
}

char* copy_text(const char* text) { return text ? crt::_strdup(text) : nullptr; }

void copy_timers(Sprite* clone, const Sprite* source) {
  clone->timer_count = source->timer_count;
  for (int32_t slot = 0; slot < kSpriteTimerSlots; ++slot) {
    if (!source->timers[slot]) continue;
    void* copy = crt::malloc(kSpriteTimerBytes);
    if (!copy) continue;
    std::memcpy(copy, source->timers[slot], kSpriteTimerBytes);
    clone->timers[slot] = static_cast<SpriteTimer*>(copy);
  }
}

void builtin_clonesprite() {
  Sprite* source = pop_live_sprite();
  Sprite* clone = source ? create_sprite() : nullptr;
  if (!clone) {
    push_sprite_result(0);
    return;
  }
  clone->clone_source = source;
  clone->x = source->x;
  clone->y = source->y;
  clone->width = source->width;
  clone->height = source->height;
  clone->frame_index = source->frame_index;
  clone->alpha = source->alpha;
  clone->order = source->order;
  clone->tint = source->tint;
  clone->tint_level = source->tint_level;
  clone->light = source->light;
  clone->light_radius = source->light_radius;
  clone->angle = source->angle;
  clone->frame_count = source->frame_count;
  clone->first_frame = source->first_frame;
  clone->last_frame = source->last_frame;
  clone->anim_speed = source->anim_speed;
  clone->anim_speed_vel = source->anim_speed_vel;
  clone->accel = source->accel;
  clone->vel_x = source->vel_x;
  clone->vel_y = source->vel_y;
  clone->color = source->color;
  clone->mass = source->mass;
  clone->elasticity = source->elasticity;
  clone->proc = source->proc;
  clone->layer = source->layer;
  clone->offset_x = source->offset_x;
  clone->offset_y = source->offset_y;
  clone->clip = source->clip;
  clone->collide_rect = source->collide_rect;
  clone->options = source->options;
  clone->ai_speed = source->ai_speed;
  clone->iso_height = source->iso_height;
  clone->alt_index = source->alt_index;
  clone->alt_alpha = source->alt_alpha;
  clone->alt_radius = source->alt_radius;
  clone->vel_limit_low = source->vel_limit_low;
  clone->vel_limit_high = source->vel_limit_high;
  clone->path_cost = source->path_cost;
  clone->lifetime = source->lifetime;
  clone->map = source->map;
  clone->data = source->data;
  clone->id_hash = source->id_hash;
  clone->plain_motion = source->plain_motion;
  clone->paused = source->paused;
  clone->slide_dir = source->slide_dir;
  clone->first_step = source->first_step;
  clone->full_render = source->full_render;
  std::memcpy(clone->frame_rects, source->frame_rects, sizeof(clone->frame_rects));
  // Shared, not owned: the picture stays as long as any sprite that draws it.
  clone->surface = source->surface;
  clone->alpha_surface = source->alpha_surface;
  clone->id = copy_text(source->id);
  clone->collide = copy_text(source->collide);
  if (clone->collide) parse_collide_string(clone);
  if (Sprite* parent = source->parent) {
    clone->parent = parent;
    // The copied position already holds the parent's; adding it again is how clones of
    // children have always been placed.
    clone->x += parent->x;
    clone->y += parent->y;
    if (DrawListNode* node = node_list_append(&parent->children, node_list_last(parent->children))) {
      node->sprite = clone;
      node->a = truncate_to_int(clone->x - parent->x);
      node->b = truncate_to_int(clone->y - parent->y);
    }
  }
  copy_timers(clone, source);
  mark_lists_dirty();
  game.sprite_list_dirty = 1;
  clone->grid_range[0] = clone->grid_range[1] = 0;
  clone->grid_range[2] = clone->grid_range[3] = -1;
  clone->screen_rect = compute_screen_rect(clone, 0, 0);
  build_masks_when_used(clone);
  push_sprite_result(platform::address_of(clone));
}

void builtin_replacesprite() {
  InstructionNode* procedure = pop_sprite_procedure("replacesprite");
  int32_t anim_speed = pop_integer();
  int32_t frames = pop_integer();
  int32_t mask = pop_integer();
  const char* file_name = pop_narrow_text();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) {
    push_sprite_result(0);
    return;
  }
  // The old picture is let go before the new one loads, so a failed load cannot release
  // it a second time when the sprite is destroyed.
  drop_surface(sprite);
  sprite->surface = load_image_surface(file_name);
  if (!sprite->surface) {
    destroy_sprite(sprite);
    push_sprite_result(0);
    return;
  }
  sprite->owns_surface = 1;
  sprite->proc = procedure;
  if (mask != -1) sprite->surface->colour_key = mask;
  sprite->anim_speed = anim_speed;
  cut_frame_strip(sprite, clamp_frame_count(frames));
  clamp_frame_range(sprite);
  mark_lists_dirty();
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  push_sprite_result(platform::address_of(sprite));
  sprite_full_render_test(sprite);
}

void builtin_setspritesurface() {
  int32_t anim_speed = pop_integer();
  int32_t frames = pop_integer();
  bool bad = false;
  Surface* surface = pop_surface_handle(&bad);
  Sprite* sprite = pop_live_sprite();
  if (!sprite || bad) return;
  // Given its own picture again, the sprite keeps what it had.
  if (surface != sprite->surface) drop_surface(sprite);
  free_frame_masks(sprite);
  sprite->width = sprite->height = sprite->frame_index = sprite->frame_count = 0;
  sprite->surface = surface;
  if (surface) {
    int32_t count = clamp_frame_count(frames);
    sprite->anim_speed = anim_speed;
    cut_frame_strip(sprite, count);
    sprite->first_frame = 0;
    sprite->last_frame = count - 1;
    sprite_refresh_masks(sprite);
  }
  if (game.iso_display) game.draw_list_dirty = 1;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  sprite_full_render_test(sprite);
}

void builtin_loadspritealpha() {
  const char* file_name = pop_narrow_text();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  drop_alpha_surface(sprite);
  sprite->alpha_surface = load_image_surface(file_name);
  sprite->owns_alpha_surface = 1;
  sprite_refresh_masks(sprite);
}

void builtin_loadspritealphafrommem() {
  int32_t size = pop_integer();
  uint32_t address = pop_address();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  drop_alpha_surface(sprite);
  sprite->alpha_surface = load_from_memory(address, size);
  sprite->owns_alpha_surface = 1;
  sprite_refresh_masks(sprite);
}

void builtin_setspritealphasurface() {
  bool bad = false;
  Surface* surface = pop_surface_handle(&bad);
  Sprite* sprite = pop_live_sprite();
  if (!sprite || bad) return;
  if (surface != sprite->alpha_surface) drop_alpha_surface(sprite);
  sprite->alpha_surface = surface;
  sprite->owns_alpha_surface = 0;
  sprite_refresh_masks(sprite);
}

void builtin_spritesurface() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? platform::address_of(sprite->surface) : 0);
}

void builtin_spritealphasurface() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? platform::address_of(sprite->alpha_surface) : 0);
}

void builtin_spriteframecount() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->frame_count : 0);
}

void builtin_setspriteframecount() {
  int32_t count = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  // The frame table holds 512 frames, and a count of 0 would divide the strip by 0.
  sprite->frame_count = clamp_frame_count(count);
  clamp_frame_range(sprite);
}

// The strip's width and height; 0 x 0 without a picture.
void strip_size(const Sprite* sprite, uint32_t* width, uint32_t* height) {
  const display::PixelBuffer* buffer = sprite->surface ? sprite->surface->buffer : nullptr;
  *width = buffer ? buffer->width : 0;
  *height = buffer ? buffer->height : 0;
}

// The width of one frame of the strip; 0 without a picture or frames.
int32_t default_frame_width(const Sprite* sprite) {
  uint32_t width, height;
  strip_size(sprite, &width, &height);
  if (sprite->frame_count <= 0) return 0;
  return int32_t(width / uint32_t(sprite->frame_count));
}

void builtin_spritedefaultwidth() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? default_frame_width(sprite) : 0);
}

void builtin_spritedefaultheight() {
  Sprite* sprite = pop_live_sprite();
  uint32_t width = 0, height = 0;
  if (sprite) strip_size(sprite, &width, &height);
  push_sprite_result(height);
}

void builtin_scalesprite() {
  int32_t factor = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || !sprite->surface) return;
  uint32_t width, height;
  strip_size(sprite, &width, &height);
  // Sizes wrap to 32 bits as every script number does; a factor near the 32-bit limits
  // must not overflow the multiplication.
  sprite->height = int32_t(height * uint32_t(factor));
  sprite->width = int32_t(uint32_t(default_frame_width(sprite)) * uint32_t(factor));
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  sprite_refresh_masks(sprite);
  sprite_full_render_test(sprite);
}

void builtin_calcpixelcheck() {
  if (Sprite* sprite = pop_live_sprite()) sprite_refresh_masks(sprite);
}

void builtin_delsprite() {
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->deleted = 1;
  if (sprite_in_grid(sprite)) grid_remove_sprite(sprite);
}

void builtin_delsprites() {
  const char* id = cell_id_text(stack_pop(current_program));
  // Compared as given: ids are stored lower-cased, so only a lower-case id matches.
  uint32_t hash = id ? hash_name_text(id) : 0;
  int32_t count = 0;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    if (id && sprite->id_hash != hash) continue;
    sprite->deleted = 1;
    ++count;
  }
  push_sprite_result(count);
}

void builtin_flushsprites() { push_sprite_result(destroy_marked_sprites()); }

void builtin_setspritemap() {
  int32_t map = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) sprite->map = map;
}

void builtin_delmapsprites() {
  int32_t map = pop_integer();
  int32_t count = 0;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    if (map != 0 && sprite->map != map) continue;
    sprite->deleted = 1;
    ++count;
  }
  push_sprite_result(count);
}

// The image offset of one axis: the automatic factor of the view origin when set.
int32_t render_offset(double auto_factor, double origin, int32_t offset) {
  return auto_factor != 0.0 ? truncate_to_int(auto_factor * origin) : offset;
}

void builtin_rendersprite() {
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  game.current_render_sprite = sprite;
  int32_t x = truncate_to_int(sprite->x);
  int32_t y = truncate_to_int(sprite->y);
  if (sprite->auto_scroll_x == 0.0 && sprite->auto_scroll_y == 0.0) {
    uint64_t options = sprite->parent ? sprite->parent->options : sprite->options;
    if (!(options & kOptionFixedX)) x = clamp_to_int32(int64_t(x) - truncate_to_int(game.origin_x));
    if (!(options & kOptionFixedY)) y = clamp_to_int32(int64_t(y) - truncate_to_int(game.origin_y));
  } else {
    if (sprite->auto_scroll_x != 0.0) {
      x = clamp_to_int32(int64_t(x) - truncate_to_int(sprite->auto_scroll_x * game.origin_x));
    }
    if (sprite->auto_scroll_y != 0.0) {
      y = clamp_to_int32(int64_t(y) - truncate_to_int(sprite->auto_scroll_y * game.origin_y));
    }
  }
  display::Canvas* canvas = game.draw_canvas;
  if (!canvas) return;
  if (sprite->full_render && !(sprite->options & kOptionPlainBlit)) {
    int32_t offset_x = render_offset(sprite->auto_offset_x, game.origin_x, sprite->offset_x);
    int32_t offset_y = render_offset(sprite->auto_offset_y, game.origin_y, sprite->offset_y);
    if (sprite_renderer_hooks.render_sprite_at) {
      sprite_renderer_hooks.render_sprite_at(sprite, nullptr, x, y, sprite->frame_index, sprite->alpha, offset_x,
                                             offset_y, sprite->angle);
      return;
    }
  }
  // Without the renderer the plain frame stands in. Without a picture there is nothing
  // to blit; a frame outside the table has no rectangle.
  if (!sprite->surface || sprite->frame_index < 0 || sprite->frame_index >= kSpriteFrameSlots) return;
  const RECT& frame = sprite->frame_rects[sprite->frame_index];
  display::Rect source{frame.left, frame.top, frame.right, frame.bottom};
  if (sprite->alpha_surface) display::canvas_blit_sprite(canvas, x, y, sprite->surface, sprite->alpha_surface, &source);
  else display::canvas_blit_surface(canvas, x, y, sprite->surface, &source);
}

}  // namespace

void register_sprite_creation_builtins() {
  builtin_register("loadsprite", builtin_loadsprite);
  builtin_register("loadspritefrommem", builtin_loadspritefrommem);
  builtin_register("newsprite", builtin_newsprite);
  builtin_register("clonesprite", builtin_clonesprite);
  builtin_register("replacesprite", builtin_replacesprite);
  builtin_register("setspritesurface", builtin_setspritesurface);
  builtin_register("loadspritealpha", builtin_loadspritealpha);
  builtin_register("loadspritealphafrommem", builtin_loadspritealphafrommem);
  builtin_register("setspritealphasurface", builtin_setspritealphasurface);
  builtin_register("spritesurface", builtin_spritesurface);
  builtin_register("spritealphasurface", builtin_spritealphasurface);
  builtin_register("spriteframecount", builtin_spriteframecount);
  builtin_register("setspriteframecount", builtin_setspriteframecount);
  builtin_register("spritedefaultwidth", builtin_spritedefaultwidth);
  builtin_register("spritedefaultheight", builtin_spritedefaultheight);
  builtin_register("scalesprite", builtin_scalesprite);
  builtin_register("calcpixelcheck", builtin_calcpixelcheck);
  builtin_register("delsprite", builtin_delsprite);
  builtin_register("delsprites", builtin_delsprites);
  builtin_register("flushsprites", builtin_flushsprites);
  builtin_register("setspritemap", builtin_setspritemap);
  builtin_register("delmapsprites", builtin_delmapsprites);
  builtin_register("rendersprite", builtin_rendersprite);
}
