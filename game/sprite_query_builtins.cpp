// Questions about the sprite world (which sprites exist, lie under a point or in a
// rectangle, or are in view, and which one was being drawn), and the tint and free data
// word of a sprite.
#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "game/collision.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/number_list.h"
#include "game/sprite.h"
#include "game/sprite_arguments.h"
#include "game/sprite_builtins.h"
#include "game/sprite_handles.h"
#include "game/sprite_updates.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// Makes the variable a list of the chain that holds current, current its element, and
// pushes the number of elements. Without a variable the chain is freed.
void fill_sprite_list(Variable* list, ListElement* current) {
  ListElement* first = list_element_first(current);
  int32_t count = int32_t(list_element_count(first));
  if (!list) {
    if (first) list_element_chain_free(first, true);
    push_sprite_result(count);
    return;
  }
  for (ListElement* element = first; element; element = element->next) {
    element->checksum = list_element_checksum(element);
  }
  variable_clear_value(current_program, list, false, false);
  list->flags |= kVariableList;
  list->cursor = current;
  if (current) variable_load_from_element(list);
  push_sprite_result(count);
}

void builtin_sprites() {
  const char* id = cell_id_text(stack_pop(current_program));
  HandleListBuilder list(pop_variable());
  // Ids are compared by hash alone.
  uint32_t hash = id ? hash_name_text(id) : 0;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    if (sprite->deleted || (id && sprite->id_hash != hash)) continue;
    if (!list.add(platform::address_of(sprite))) break;
  }
  push_sprite_result(list.finish());
}

void builtin_spriteat() {
  int32_t walk = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  push_sprite_result(platform::address_of(find_sprite_at_point(x, y, walk)));
}

void builtin_spriteatrect() {
  int32_t walk = pop_integer();
  RECT rect = pop_rect();
  push_sprite_result(platform::address_of(find_sprite_in_rect(rect.left, rect.top, rect.right, rect.bottom, walk)));
}

void builtin_spritesat() {
  Variable* list = pop_variable();
  int32_t walk = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  fill_sprite_list(list, list_sprites_at_point(x, y, walk));
}

void builtin_spritesatrect() {
  Variable* list = pop_variable();
  int32_t walk = pop_integer();
  RECT rect = pop_rect();
  fill_sprite_list(list, list_sprites_in_rect(rect.left, rect.top, rect.right, rect.bottom, walk));
}

void builtin_clearsprites() { destroy_all_sprites(); }

void builtin_setspritetint() {
  int32_t colour = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->tint = colour;
  sprite_full_render_test(sprite);
}

void builtin_spritetint() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->tint : 0);
}

void builtin_setspritetintlevel() {
  int32_t level = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) sprite->tint_level = level;
}

void builtin_spritetintlevel() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->tint_level : 0);
}

void builtin_setspritedata() {
  ValueCell* cell = stack_pop(current_program);
  int32_t value = cell_to_int(cell);
  Variable* owner = cell->variable;
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->data = value;
  // The sprite now refers to the variable's data: the variable must not free it.
  if (owner && (owner->flags & kVariableOwnsData)) owner->flags &= ~kVariableOwnsData;
}

void builtin_spritedata() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite ? sprite->data : 0);
}

void builtin_errorsprite() { push_sprite_result(platform::address_of(game.current_render_sprite)); }

void builtin_spriteinview() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_result(sprite && sprite_in_view(sprite) ? 1 : 0);
}

}  // namespace

void register_sprite_query_builtins() {
  builtin_register("sprites", builtin_sprites);
  builtin_register("spriteat", builtin_spriteat);
  builtin_register("spriteatrect", builtin_spriteatrect);
  builtin_register("spritesat", builtin_spritesat);
  builtin_register("spritesatrect", builtin_spritesatrect);
  builtin_register("clearsprites", builtin_clearsprites);
  builtin_register("setspritetint", builtin_setspritetint);
  builtin_register("spritetint", builtin_spritetint);
  builtin_register("setspritetintlevel", builtin_setspritetintlevel);
  builtin_register("spritetintlevel", builtin_spritetintlevel);
  builtin_register("setspritedata", builtin_setspritedata);
  builtin_register("spritedata", builtin_spritedata);
  builtin_register("errorsprite", builtin_errorsprite);
  builtin_register("spriteinview", builtin_spriteinview);
}
