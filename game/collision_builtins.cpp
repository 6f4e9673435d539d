// The collision query built-ins: the first hit with its contact point, or every hit as a
// list of sprite handles (-1 for a region).
#include "game/collision_builtins.h"

#include <vector>

#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "game/collision.h"
#include "game/number_list.h"
#include "game/sprite_handles.h"
#include "platform/kernel/system_info.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

double hit_value(const CollisionHit* hit) { return hit->sprite ? platform::address_of(hit->sprite) : -1.0; }

// Pushes the first hit's sprite (-1 for a region, 0 for none) and stores its first two
// values (contact point, or region left and top) in the variables.
void finish_first_hit(CollisionHit* hits, Variable* x_variable, Variable* y_variable) {
  double x = hits ? hits->a : 0, y = hits ? hits->b : 0;
  if (x_variable) set_variable(x_variable, nullptr, x, nullptr, 0);
  if (y_variable) set_variable(y_variable, nullptr, y, nullptr, 0);
  stack_push_number(current_program, hits ? hit_value(hits) : 0);
  node_list_free(&hits);
}

// Makes the variable a list of the hits' values, its first element current, and pushes
// the number of hits.
void finish_hit_list(CollisionHit* hits, Variable* list) {
  std::vector<double> values;
  for (CollisionHit* hit = hits; hit; hit = hit->next) values.push_back(hit_value(hit));
  node_list_free(&hits);
  int32_t count = list ? fill_number_list(list, values) : static_cast<int32_t>(values.size());
  stack_push_number(current_program, count);
}

}  // namespace

void builtin_collide() {
  Variable* y_variable = pop_variable();
  Variable* x_variable = pop_variable();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  Sprite* sprite = pop_live_sprite();
  finish_first_hit(collisions_at_position(sprite, x, y, 1), x_variable, y_variable);
}

void builtin_rectcollide() {
  Variable* y_variable = pop_variable();
  Variable* x_variable = pop_variable();
  RECT rect = pop_rect();
  Sprite* sprite = pop_live_sprite();
  finish_first_hit(collisions_in_rect(sprite, rect.left, rect.top, rect.right, rect.bottom, 1), x_variable,
                   y_variable);
}

void builtin_collides() {
  Variable* list = pop_variable();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  Sprite* sprite = pop_live_sprite();
  finish_hit_list(collisions_at_position(sprite, x, y, 0), list);
}

void builtin_rectcollides() {
  Variable* list = pop_variable();
  RECT rect = pop_rect();
  Sprite* sprite = pop_live_sprite();
  finish_hit_list(collisions_in_rect(sprite, rect.left, rect.top, rect.right, rect.bottom, 0), list);
}

void register_collision_builtins() {
  builtin_register("collide", builtin_collide);
  builtin_register("rectcollide", builtin_rectcollide);
  builtin_register("collides", builtin_collides);
  builtin_register("rectcollides", builtin_rectcollides);
}
