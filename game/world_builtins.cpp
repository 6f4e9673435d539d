// The game world settings: view origin, map colour and light, background sprite,
// isometric order, gravity and friction, the border, the main loop's switches and
// periods, pausing, and static regions of the collision grid.
#include <cstring>

#include "display/device_services.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/hashes.h"
#include "game/collision_grid.h"
#include "game/game_behaviour_builtins.h"
#include "game/game_state.h"
#include "game/particles.h"
#include "game/sprite.h"
#include "game/sprite_handles.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

// Moves one axis of the view origin. Only a change of the whole-pixel origin invalidates
// what was placed and drawn for the old one.
void set_origin(double* origin, double value) {
  if (value == *origin) return;
  int32_t old = truncate_to_int(*origin);
  *origin = value;
  update_view_rect();
  if (value != old) {
    game.draw_list_dirty = 1;
    game.geometry_dirty = 1;
    game.back_sprite_dirty = 1;
  }
}

void builtin_setoriginx() { set_origin(&game.origin_x, pop_number()); }

void builtin_setoriginy() { set_origin(&game.origin_y, pop_number()); }

void builtin_originx() { push_result(game.origin_x); }

void builtin_originy() { push_result(game.origin_y); }

void builtin_setmapcolor() { game.map_color = pop_integer(); }

void builtin_mapcolor() { push_result(game.map_color); }

void builtin_setmaplight() {
  game.map_light = static_cast<uint16_t>(pop_integer());
  game.geometry_dirty = 1;
}

void builtin_setbacksprite() {
  uint32_t handle = pop_address();
  Sprite* sprite = live_sprite(handle);
  // The frame code draws the background sprite: only a live one (or none) is taken.
  if (handle != 0 && !sprite) return;
  game.back_sprite = sprite;
  game.back_sprite_dirty = 1;
}

void builtin_setisodisplay() {
  game.iso_display = pop_integer();
  game.draw_list_dirty = 1;
}

void builtin_setgravity() { game.gravity = pop_number(); }

void builtin_gravity() { push_result(game.gravity); }

void builtin_setfriction() { game.friction = pop_number(); }

void builtin_friction() { push_result(game.friction); }

void builtin_setborder() {
  RECT border = pop_rect();
  game.border = border;
  ProgramContext* program = current_program;
  Variable* variable = program ? find_variable_in_list(program->globals, "BORDER$") : nullptr;
  if (variable) variable_set_data(variable, &game.border, -1, false);
}

void builtin_gamecollide() { game.game_collide = pop_integer(); }

void builtin_gameparticles() {
  int32_t draw = pop_integer();
  int32_t process = pop_integer();
  particles_auto_process = process;
  particles_auto_draw = draw;
}

void builtin_setaispeed() {
  int32_t move_period = pop_integer();
  int32_t gravity_period = pop_integer();
  int32_t timer_interval = pop_integer();
  game.game_timer_ms = timer_interval;
  game.gravity_period_ms = gravity_period;
  game.move_period_ms = move_period;
  game.game_timer_last_ms = display::timer_now_ms();
}

void builtin_pause() {
  uint8_t paused = pop_integer() != 0 ? 1 : 0;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) sprite->paused = paused;
}

void builtin_setcollisiongrid() {
  int32_t rows = pop_integer();
  int32_t columns = pop_integer();
  int32_t cell_size = pop_integer();
  grid_setup(cell_size, columns, rows);
}

// The key of a grid id: the hash of its lower-cased text (0 for the empty text).
uint32_t grid_id_hash(const char* id) {
  size_t length = std::strlen(id);
  char* lower = static_cast<char*>(crt::malloc(length + 1));
  if (!lower) return 0;
  for (size_t index = 0; index <= length; ++index) {
    char c = id[index];
    lower[index] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  uint32_t hash = hash_name_text(lower);
  crt::free(lower);
  return hash;
}

void builtin_setgridcells() {
  RECT rect = pop_rect();
  grid_add_static(grid_id_hash(pop_narrow_text()), rect);
}

void builtin_cleargridcells() {
  RECT rect = pop_rect();
  grid_free_cells(rect.left, rect.top, rect.right, rect.bottom);
}

void builtin_delgridcells() {
  RECT rect = pop_rect();
  grid_clear_id(grid_id_hash(pop_narrow_text()), rect.left, rect.top, rect.right, rect.bottom);
}

}  // namespace

void register_world_builtins() {
  builtin_register("setoriginx", builtin_setoriginx);
  builtin_register("setoriginy", builtin_setoriginy);
  builtin_register("originx", builtin_originx);
  builtin_register("originy", builtin_originy);
  builtin_register("setmapcolor", builtin_setmapcolor);
  builtin_register("mapcolor", builtin_mapcolor);
  builtin_register("setmaplight", builtin_setmaplight);
  builtin_register("setbacksprite", builtin_setbacksprite);
  builtin_register("setisodisplay", builtin_setisodisplay);
  builtin_register("setgravity", builtin_setgravity);
  builtin_register("gravity", builtin_gravity);
  builtin_register("setfriction", builtin_setfriction);
  builtin_register("friction", builtin_friction);
  builtin_register("setborder", builtin_setborder);
  builtin_register("gamecollide", builtin_gamecollide);
  builtin_register("gameparticles", builtin_gameparticles);
  builtin_register("setaispeed", builtin_setaispeed);
  builtin_register("pause", builtin_pause);
  builtin_register("setcollisiongrid", builtin_setcollisiongrid);
  builtin_register("setgridcells", builtin_setgridcells);
  builtin_register("cleargridcells", builtin_cleargridcells);
  builtin_register("delgridcells", builtin_delgridcells);
}
