// The path built-ins: giving a sprite a goal, changing and deleting paths, listing them
// and drawing their routes.
#include <vector>

#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "game/number_list.h"
#include "game/paths.h"
#include "game/sprite_handles.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

// A path handle of a listed path; anything else is refused (null).
PathRecord* pop_path(const char* builtin_name) {
  uint32_t handle = pop_address();
  auto* path = platform::pointer_from<PathRecord>(handle);
  if (path_is_listed(path)) return path;
  runtime_error("%s: %u is not a path handle", builtin_name, handle);
  return nullptr;
}

// A step below 1 would search the same position forever.
bool step_accepted(const char* builtin_name, int32_t step) {
  if (step >= 1) return true;
  runtime_error("%s: the step must be at least 1", builtin_name);
  return false;
}

}  // namespace

void builtin_newpath() {
  const char* directions = pop_narrow_text();
  int32_t step = pop_integer();
  int32_t goal_y = pop_integer();
  int32_t goal_x = pop_integer();
  uint32_t handle = pop_address();
  Sprite* sprite = live_sprite(handle);
  if (!sprite) {
    runtime_error(handle == 0 ? "newpath: no sprite given" : "newpath: the handle is not a live sprite");
    push_result(0);
    return;
  }
  if (!step_accepted("newpath", step)) {
    push_result(0);
    return;
  }
  // A sprite keeps its one path, and the route already found.
  PathRecord* path = path_of_sprite(sprite);
  bool stored = path ? path_set(path, goal_x, goal_y, step, directions)
                     : (path = path_create(sprite, goal_x, goal_y, step, directions)) != nullptr;
  if (!stored) runtime_error("Out of memory");
  push_result(stored ? platform::address_of(path) : 0);
}

void builtin_setpath() {
  const char* directions = pop_narrow_text();
  int32_t step = pop_integer();
  int32_t goal_y = pop_integer();
  int32_t goal_x = pop_integer();
  PathRecord* path = pop_path("setpath");
  if (!path || !step_accepted("setpath", step)) return;
  if (!path_set(path, goal_x, goal_y, step, directions)) {
    runtime_error("Out of memory");
    return;
  }
  drop_path_route(path);
}

// A handle of no listed path deletes nothing.
void builtin_delpath() { delete_path(platform::pointer_from<PathRecord>(pop_address())); }

void builtin_clearpaths() { clear_paths(); }

void builtin_paths() {
  Variable* list = pop_variable();
  std::vector<double> handles;
  for (PathRecord* path = path_list; path; path = path->next) handles.push_back(platform::address_of(path));
  push_result(fill_number_list(list, handles));
}

void builtin_renderpaths() { render_paths(); }

void register_path_builtins() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static const Row rows[] = {
      {"newpath", builtin_newpath},   {"setpath", builtin_setpath}, {"delpath", builtin_delpath},
      {"clearpaths", builtin_clearpaths}, {"paths", builtin_paths},   {"renderpaths", builtin_renderpaths},
  };
  for (const Row& row : rows) builtin_register(row.name, row.handler);
}
