// Built-ins over many sprites or game data at once: explode cuts a sprite's picture into
// new sprites, setlayer changes a layer, getkeylist copies the key map, processsprites
// runs the per-frame bookkeeping on demand and g_drawlist draws a list of stamps.
#include <cstring>

#include "display/canvas.h"
#include "display/surface.h"
#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "game/draw_list.h"
#include "game/game_behaviour_builtins.h"
#include "game/game_state.h"
#include "game/layers.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "game/number_list.h"
#include "game/sprite_handles.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

SpriteRendererHooks sprite_renderer_hooks = {};

namespace {

// The surface of one piece: its part of source, copied over the key colour through
// canvas (whose blend level applies) and back to its previous target.
display::Surface* cut_piece(display::Canvas* canvas, const display::Surface* source, int32_t left, int32_t top,
                            uint32_t width, uint32_t height) {
  display::Surface* piece = display::surface_new(width, height);
  if (!piece) return nullptr;
  if (!piece->buffer) {
    display::surface_delete(piece);
    return nullptr;
  }
  display::Surface* previous = display::canvas_set_target(canvas, piece);
  display::canvas_clear(canvas, static_cast<uint16_t>(source->colour_key));
  display::Rect part{left, top, left + int32_t(width), top + int32_t(height)};
  display::canvas_blit_surface(canvas, 0, 0, source, &part);
  display::canvas_set_target(canvas, previous);
  piece->colour_key = source->colour_key;
  return piece;
}

// A hidden one-frame sprite owning the piece, at (x, y).
Sprite* piece_sprite(display::Surface* piece, double x, double y) {
  Sprite* sprite = create_sprite();
  if (!sprite) return nullptr;
  sprite->owns_surface = 1;
  sprite->surface = piece;
  sprite->frame_count = 1;
  sprite->frame_index = 0;
  int32_t width = int32_t(piece->buffer->width), height = int32_t(piece->buffer->height);
  sprite->frame_rects[0] = RECT{0, 0, width, height};
  sprite->width = width;
  sprite->height = height;
  sprite_full_render_test(sprite);
  sprite->visible = 0;
  sprite->x = x;
  sprite->y = y;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  return sprite;
}

void builtin_explode() {
  Variable* list = pop_variable();
  int32_t rows = pop_integer();
  int32_t columns = pop_integer();
  Sprite* source_sprite = pop_live_sprite();
  HandleListBuilder pieces(list);
  const display::Surface* source = source_sprite ? source_sprite->surface : nullptr;
  // A count of 0 would divide by zero; pieces less than a pixel wide hold no picture.
  if (!source || !source->buffer || columns < 1 || rows < 1 || source->buffer->width / uint32_t(columns) == 0 ||
      source->buffer->height / uint32_t(rows) == 0) {
    stack_push_number(current_program, pieces.finish());
    return;
  }
  uint32_t piece_width = source->buffer->width / uint32_t(columns);
  uint32_t piece_height = source->buffer->height / uint32_t(rows);
  if (game.window_canvas) display::canvas_begin_scene(game.window_canvas);
  display::Canvas own_canvas;
  display::Canvas* canvas = game.draw_canvas;
  if (!canvas) {
    display::canvas_init(&own_canvas, nullptr);
    canvas = &own_canvas;
  }
  // Out of memory stops the cutting: the pieces made so far stay and are counted.
  bool cutting = true;
  for (int32_t column = 0; column < columns && cutting; ++column) {
    for (int32_t row = 0; row < rows && cutting; ++row) {
      int32_t left = column * int32_t(piece_width), top = row * int32_t(piece_height);
      display::Surface* piece = cut_piece(canvas, source, left, top, piece_width, piece_height);
      Sprite* sprite = piece ? piece_sprite(piece, source_sprite->x + left, source_sprite->y + top) : nullptr;
      if (!sprite) {
        if (piece) display::surface_delete(piece);
        cutting = false;
      } else if (!pieces.add(platform::address_of(sprite))) {
        cutting = false;
      }
    }
  }
  game.geometry_dirty = 1;
  game.draw_list_dirty = 1;
  game.draw_order_dirty = 1;
  stack_push_number(current_program, pieces.finish());
}

void builtin_setlayer() {
  LayerSettings settings;
  settings.auto_scroll_y = pop_number();
  settings.auto_scroll_x = pop_number();
  settings.auto_offset_y = pop_number();
  settings.auto_offset_x = pop_number();
  settings.visible = pop_integer();
  settings.offset_y_step = pop_integer();
  settings.offset_x_step = pop_integer();
  // The script gives the y step before the x step.
  settings.x_step = pop_integer();
  settings.y_step = pop_integer();
  settings.order = pop_integer();
  settings.number = pop_integer();
  set_layer(settings);
}

void builtin_getkeylist() {
  Variable* variable = pop_variable();
  if (!variable || !(variable->flags & kVariableStructure)) return;
  variable_set_data(variable, game.key_map, sizeof game.key_map, true);
}

void builtin_processsprites() {
  int32_t light = pop_integer();
  int32_t update = pop_integer();
  if (update != 0) {
    refresh_view_bound_sprites();
    update_draw_list();
    game.draw_order_dirty = 1;
  }
  if (light != 0) {
    if (sprite_renderer_hooks.light_pass) sprite_renderer_hooks.light_pass();
    game.geometry_dirty = 1;
  }
}

// One stamp of a drawing list.
struct DrawStamp {
  uint32_t sprite;
  int32_t tag;
  int32_t x, y;
  int32_t value;  // the frame of a sprite, the colour of a pixel
};
static_assert(sizeof(DrawStamp) == 20);

void draw_stamp(display::Canvas* canvas, const DrawStamp& stamp) {
  if (stamp.sprite == 0) {
    display::canvas_set_pixel(canvas, stamp.x, stamp.y, static_cast<uint16_t>(stamp.value));
    return;
  }
  Sprite* sprite = live_sprite(stamp.sprite);
  if (!sprite) return;
  if (sprite_renderer_hooks.render_sprite_at) {
    sprite_renderer_hooks.render_sprite_at(sprite, nullptr, stamp.x, stamp.y, stamp.value, -1, 0, 0, 0);
    return;
  }
  // Without the renderer: the frame as it is.
  if (!sprite->surface || stamp.value < 0 || stamp.value >= kSpriteFrameSlots) return;
  const RECT& frame = sprite->frame_rects[stamp.value];
  display::Rect part{frame.left, frame.top, frame.right, frame.bottom};
  display::canvas_blit_surface(canvas, stamp.x, stamp.y, sprite->surface, &part);
}

void builtin_g_drawlist() {
  int32_t tag = pop_integer();
  Variable* list = pop_variable();
  display::Canvas* canvas = game.draw_canvas;
  if (!list || !canvas || !(list->flags & kVariableList)) return;
  ListElement* element = list->cursor;
  while (element && list_element_prev(element)) element = list_element_prev(element);
  for (; element; element = list_element_next(element)) {
    uint32_t size = 0;
    // Only a block that holds a whole stamp is read.
    if (!element->data || !alloc_block_known(element->data, &size) || size < sizeof(DrawStamp)) continue;
    DrawStamp stamp;
    std::memcpy(&stamp, element->data, sizeof stamp);
    if (tag == 0 || stamp.tag == tag) draw_stamp(canvas, stamp);
  }
}

}  // namespace

void register_explode_builtins() {
  builtin_register("explode", builtin_explode);
  builtin_register("setlayer", builtin_setlayer);
  builtin_register("getkeylist", builtin_getkeylist);
  builtin_register("processsprites", builtin_processsprites);
  builtin_register("g_drawlist", builtin_g_drawlist);
}

void register_game_behaviour_builtins() {
  register_sprite_behaviour_builtins();
  register_sprite_timer_builtins();
  register_world_builtins();
  register_explode_builtins();
}
