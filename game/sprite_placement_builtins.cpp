// Where a sprite stands, whether it shows, and how it looks: the setters store a field
// and run the update steps that keep the sprite's rectangles, masks, grid cells and
// renderer choice in step; the getters give the field back.
#include <cmath>
#include <type_traits>

#include "display/surface.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/variable_store.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_arguments.h"
#include "game/sprite_builtins.h"
#include "game/sprite_geometry.h"
#include "game/sprite_handles.h"
#include "game/sprite_updates.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// ---- Fields without further steps ----

template <int32_t Sprite::*Field>
void get_integer_field() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->*Field : 0);
}

template <double Sprite::*Field>
void get_real_field() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->*Field : 0.0);
}

template <int32_t Sprite::*Field>
void set_integer_field() {
  int32_t value = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) sprite->*Field = value;
}

template <double Sprite::*Field>
void set_real_field() {
  double value = pop_number();
  if (Sprite* sprite = pop_live_sprite()) sprite->*Field = value;
}

// ---- Position and visibility ----

// Stores a new position and runs the placement update; an unchanged one does nothing.
void place_at(Sprite* sprite, double x, double y) {
  if (x == sprite->x && y == sprite->y) return;
  sprite->x = x;
  sprite->y = y;
  update_sprite_placement(sprite);
}

void builtin_issprite() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite && !sprite->deleted ? 1 : 0);
}

void builtin_movesprite() {
  double y = pop_number();
  double x = pop_number();
  if (Sprite* sprite = pop_live_sprite()) place_at(sprite, x, y);
}

void builtin_relmovesprite() {
  double dy = pop_number();
  double dx = pop_number();
  Sprite* sprite = pop_live_sprite();
  if (sprite && sprite->parent) place_at(sprite, sprite->parent->x + dx, sprite->parent->y + dy);
}

void builtin_offsetsprite() {
  double dy = pop_number();
  double dx = pop_number();
  if (Sprite* sprite = pop_live_sprite()) place_at(sprite, sprite->x + dx, sprite->y + dy);
}

void builtin_setspritex() {
  double x = pop_number();
  if (Sprite* sprite = pop_live_sprite()) place_at(sprite, x, sprite->y);
}

void builtin_setspritey() {
  double y = pop_number();
  if (Sprite* sprite = pop_live_sprite()) place_at(sprite, sprite->x, y);
}

void builtin_spritex() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? truncate_to_int(sprite->x) : 0);
}

void builtin_spritey() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? truncate_to_int(sprite->y) : 0);
}

void builtin_spritepos() {
  Variable* y_variable = pop_variable();
  Variable* x_variable = pop_variable();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  if (x_variable) set_variable(x_variable, nullptr, sprite->x, nullptr, 0);
  if (y_variable) set_variable(y_variable, nullptr, sprite->y, nullptr, 0);
}

void builtin_adjustspriterect() {
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  sprite_full_render_test(sprite);
  note_sprite_view_change(sprite);
}

void builtin_showsprite() {
  int32_t visible = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  int32_t old = sprite->visible;
  sprite->visible = visible;
  sprite_grid_reregister(sprite);
  // Direct children only; theirs keep their own visibility.
  for (Sprite* child = game.sprite_list_head; child; child = child->next) {
    if (child->parent != sprite) continue;
    child->visible = visible;
    sprite_grid_reregister(child);
  }
  if (visible != old) {
    game.geometry_dirty = 1;
    game.draw_list_dirty = 1;
  }
}

void builtin_spritevisible() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->visible : 0);
}

// ---- Appearance ----

// Brings an angle below 0 up by turns and one above 359 down by turns, so 359.5 becomes
// -0.5 and whole degrees end in 0..359. An angle that is not finite becomes 0.
double wrap_sprite_angle(double angle) {
  if (!std::isfinite(angle)) return 0.0;
  // Far-off angles are brought near first, so the turns below stay few.
  if (std::fabs(angle) > 360.0 * 1024) angle = std::fmod(angle, 360.0);
  while (angle < 0.0) angle += 360.0;
  while (angle > 359.0) angle -= 360.0;
  return angle;
}

// The offset brought into 0..extent: above the extent it is brought down by whole
// extents (an exact multiple gives the extent itself), below 0 up. Without an extent
// there is nothing to scroll through: 0.
int32_t wrap_offset(int32_t offset, int32_t extent) {
  if (extent <= 0) return 0;
  int64_t value = offset;
  if (value > extent) value = (value - 1) % extent + 1;
  if (value < 0) value = (value % extent + extent) % extent;
  return int32_t(value);
}

// Stores a field that decides between the plain blit and the renderer, then decides.
template <typename Value, Value Sprite::*Field>
void set_looks_field() {
  Value value;
  if constexpr (std::is_same_v<Value, double>) value = pop_number();
  else value = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->*Field = value;
  sprite_full_render_test(sprite);
}

// The steps after a change of how much of the picture is drawn.
void reshape(Sprite* sprite) {
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  sprite_refresh_masks(sprite);
  sprite_full_render_test(sprite);
}

void builtin_setspriteangle() {
  double angle = pop_number();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || angle == sprite->angle) return;
  sprite->angle = wrap_sprite_angle(angle);
  reshape(sprite);
}

void builtin_spriteangle() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? wrap_sprite_angle(sprite->angle) : 0.0);
}

void builtin_setspritewidth() {
  int32_t width = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || width == sprite->width) return;
  sprite->width = width;
  reshape(sprite);
}

void builtin_setspriteheight() {
  int32_t height = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || height == sprite->height) return;
  sprite->height = height;
  reshape(sprite);
}

void builtin_setspriterect() {
  auto* rect = platform::pointer_from<const RECT>(pop_address());
  Sprite* sprite = pop_live_sprite();
  if (!sprite || !rect) return;
  int32_t width = rect->right - rect->left, height = rect->bottom - rect->top;
  if (sprite->x == rect->left && sprite->y == rect->top && sprite->width == width && sprite->height == height) return;
  sprite->x = rect->left;
  sprite->y = rect->top;
  sprite->width = width;
  sprite->height = height;
  sprite_refresh_masks(sprite);
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  note_sprite_view_change(sprite);
  sprite_full_render_test(sprite);
}

void builtin_setspritecolliderect() {
  RECT rect = pop_rect();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || rects_equal(rect, sprite->collide_rect)) return;
  sprite->collide_rect = rect;
  update_sprite_placement(sprite);
}

void builtin_setspriteclip() {
  RECT rect = pop_rect();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || rects_equal(rect, sprite->clip)) return;
  sprite->clip = rect;
  reshape(sprite);
}

void builtin_setspriteisoheight() {
  int32_t height = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || height == sprite->iso_height) return;
  sprite->iso_height = height;
  if (game.iso_display) game.draw_list_dirty = 1;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
}

void builtin_setspriteorder() {
  int32_t order = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  bool changed = order != sprite->order;
  sprite->order = order;
  if (changed) {
    game.geometry_dirty = 1;
    game.draw_list_dirty = 1;
    game.draw_order_dirty = 1;
  }
}

void builtin_setspritelight() {
  int32_t light = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->light = light;
  game.geometry_dirty = 1;
  sprite_full_render_test(sprite);
}

void builtin_setspritelightradius() {
  int32_t radius = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->light_radius = radius;
  game.geometry_dirty = 1;
}

void builtin_setspritecolormask() {
  int32_t key = pop_integer();
  Sprite* sprite = pop_live_sprite();
  // The key belongs to the picture; a sprite without one has nothing to key.
  if (sprite && sprite->surface) sprite->surface->colour_key = key;
}

void builtin_spritecolormask() {
  Sprite* sprite = pop_live_sprite();
  if (!sprite) push_sprite_result(0);
  else push_sprite_result(sprite->surface ? sprite->surface->colour_key : display::no_colour_key);
}

// Tiling one axis tiles the other once at least.
void set_tiles(Sprite* sprite, int32_t count, int32_t Sprite::*axis, int32_t Sprite::*other) {
  if (count == sprite->*axis) return;
  sprite->*axis = count;
  if (sprite->*other == 0) sprite->*other = 1;
  reshape(sprite);
}

void builtin_setspritetilex() {
  int32_t count = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) set_tiles(sprite, count, &Sprite::tile_x, &Sprite::tile_y);
}

void builtin_setspritetiley() {
  int32_t count = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) set_tiles(sprite, count, &Sprite::tile_y, &Sprite::tile_x);
}

// The image scrolls along one axis at a time: setting one offset clears the other.
void set_image_offset(Sprite* sprite, int32_t offset, int32_t extent, int32_t Sprite::*axis,
                      int32_t Sprite::*other) {
  sprite->*axis = wrap_offset(offset, extent);
  sprite->*other = 0;
  sprite_refresh_masks(sprite);
  sprite_full_render_test(sprite);
}

void builtin_setspriteoffsetx() {
  int32_t offset = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (sprite) set_image_offset(sprite, offset, sprite->width, &Sprite::offset_x, &Sprite::offset_y);
}

void builtin_setspriteoffsety() {
  int32_t offset = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (sprite) set_image_offset(sprite, offset, sprite->height, &Sprite::offset_y, &Sprite::offset_x);
}


}  // namespace

void register_sprite_placement_builtins() {
  builtin_register("issprite", builtin_issprite);
  builtin_register("movesprite", builtin_movesprite);
  builtin_register("relmovesprite", builtin_relmovesprite);
  builtin_register("offsetsprite", builtin_offsetsprite);
  builtin_register("setspritex", builtin_setspritex);
  builtin_register("setspritey", builtin_setspritey);
  builtin_register("spritex", builtin_spritex);
  builtin_register("spritey", builtin_spritey);
  builtin_register("spritepos", builtin_spritepos);
  builtin_register("adjustspriterect", builtin_adjustspriterect);
  builtin_register("showsprite", builtin_showsprite);
  builtin_register("spritevisible", builtin_spritevisible);
  builtin_register("setspriteangle", builtin_setspriteangle);
  builtin_register("spriteangle", builtin_spriteangle);
  builtin_register("setspritealpha", set_looks_field<int32_t, &Sprite::alpha>);
  builtin_register("spritealpha", get_integer_field<&Sprite::alpha>);
  builtin_register("setspritewidth", builtin_setspritewidth);
  builtin_register("setspriteheight", builtin_setspriteheight);
  builtin_register("spritewidth", get_integer_field<&Sprite::width>);
  builtin_register("spriteheight", get_integer_field<&Sprite::height>);
  builtin_register("setspriterect", builtin_setspriterect);
  builtin_register("setspritecolliderect", builtin_setspritecolliderect);
  builtin_register("setspriteclip", builtin_setspriteclip);
  builtin_register("setspriteisoheight", builtin_setspriteisoheight);
  builtin_register("spriteisoheight", get_integer_field<&Sprite::iso_height>);
  builtin_register("setspriteorder", builtin_setspriteorder);
  builtin_register("spriteorder", get_integer_field<&Sprite::order>);
  builtin_register("setspritelight", builtin_setspritelight);
  builtin_register("spritelight", get_integer_field<&Sprite::light>);
  builtin_register("setspritelightradius", builtin_setspritelightradius);
  builtin_register("spritelightradius", get_integer_field<&Sprite::light_radius>);
  builtin_register("setspritecolor", set_looks_field<int32_t, &Sprite::color>);
  builtin_register("spritecolor", get_integer_field<&Sprite::color>);
  builtin_register("setspritecolormask", builtin_setspritecolormask);
  builtin_register("spritecolormask", builtin_spritecolormask);
  builtin_register("setspritetilex", builtin_setspritetilex);
  builtin_register("setspritetiley", builtin_setspritetiley);
  builtin_register("spritetilex", get_integer_field<&Sprite::tile_x>);
  builtin_register("spritetiley", get_integer_field<&Sprite::tile_y>);
  builtin_register("setspriteoffsetx", builtin_setspriteoffsetx);
  builtin_register("setspriteoffsety", builtin_setspriteoffsety);
  builtin_register("spriteoffsetx", get_integer_field<&Sprite::offset_x>);
  builtin_register("spriteoffsety", get_integer_field<&Sprite::offset_y>);
  builtin_register("setspriteautooffsetx", set_looks_field<double, &Sprite::auto_offset_x>);
  builtin_register("setspriteautooffsety", set_looks_field<double, &Sprite::auto_offset_y>);
  builtin_register("spriteautooffsetx", get_real_field<&Sprite::auto_offset_x>);
  builtin_register("spriteautooffsety", get_real_field<&Sprite::auto_offset_y>);
  builtin_register("setspritealtindex", set_integer_field<&Sprite::alt_index>);
  builtin_register("spritealtindex", get_integer_field<&Sprite::alt_index>);
  builtin_register("setspritealtalpha", set_integer_field<&Sprite::alt_alpha>);
  builtin_register("spritealtalpha", get_integer_field<&Sprite::alt_alpha>);
  builtin_register("setspritealtradius", set_integer_field<&Sprite::alt_radius>);
  builtin_register("spritealtradius", get_integer_field<&Sprite::alt_radius>);
  builtin_register("setspriteautoscrollx", set_real_field<&Sprite::auto_scroll_x>);
  builtin_register("spriteautoscrollx", get_real_field<&Sprite::auto_scroll_x>);
  builtin_register("setspriteautoscrolly", set_real_field<&Sprite::auto_scroll_y>);
  builtin_register("spriteautoscrolly", get_real_field<&Sprite::auto_scroll_y>);
}
