// Stack marks and the value-stack built-ins, over the value stack of current_program.
#include "vm/stack_builtins.h"

#include <vector>

#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"
#include "vm/machine.h"

namespace {

void run_inner_handler() {
  if (current_instruction && current_instruction->inner_handler) current_instruction->inner_handler();
}

}  // namespace

void builtin_savesp() {
  if (!stack_save_mark(current_program)) return;
  run_inner_handler();
}

void builtin_savesp2() {
  if (!stack_save_mark(current_program)) return;
  if (!stack_save_mark(current_program)) {
    // Half a pair would leave the consumer one mark short.
    --current_program->mark_count;
    return;
  }
  run_inner_handler();
}

void builtin_push() {
  ValueCell* mark;
  stack_take_mark(current_program, &mark);
}

void builtin_pull() {
  ValueCell* mark;
  if (!stack_take_mark(current_program, &mark)) return;
  int32_t count = 0;
  for (const ValueCell* cell = current_program->stack_top; cell && cell != mark; cell = cell->below) ++count;
  // Popped cells are reused by the next push: each argument is copied out first, the
  // last argument first.
  std::vector<ValueCell> targets;
  targets.reserve(count);
  for (int32_t index = 0; index < count; ++index) targets.push_back(*stack_pop(current_program));
  if (count > kPullArgumentSlots) {
    runtime_error("pull takes at most %d variables, not %d", kPullArgumentSlots, count);
    return;
  }
  // The first argument takes the value nearest the mark, that is the one pushed last.
  for (int32_t index = count - 1; index >= 0 && current_program->stack_top; --index) {
    ValueCell value = *stack_pop(current_program);
    const ValueCell& target = targets[index];
    stack_push_value(target.text, target.number, target.variable, target.data);
    stack_push_value(value.text, value.number, value.variable, value.data);
    // The value keeps its kind of text and the blocks it owns, which the store takes over.
    current_program->stack_top->flags = value.flags & (kCellWideText | kCellList | kCellListElement);
    current_program->stack_top->references = value.references;
    op_assign();
  }
}

void builtin_dupstack() {
  ValueCell* top = current_program->stack_top;
  if (!top) {
    runtime_error("Value stack is empty");
    return;
  }
  // The spare cell reused for the copy may be the one above top; read before pushing.
  ValueCell copy = *top;
  stack_push_value(copy.text, copy.number, copy.variable, copy.data);
}

void stack_drop() {
  run_inner_handler();
  ValueCell* cell = stack_pop(current_program);
  if (cell->references) {
    reference_list_free(cell->references);
    cell->references = nullptr;
  }
}

void builtin_countstack() {
  ValueCell* argument = stack_pop(current_program);
  Variable* variable = argument->variable;
  if (!variable && argument->text && !(argument->flags & (kCellWideText | kCellList))) {
    const char* name = static_cast<const char*>(argument->text);
    variable = find_variable(name);
    if (!variable) variable = get_variable(current_scope, name);
  }
  int32_t count = 0;
  for (const ValueCell* cell = current_program->stack_top; cell; cell = cell->below) ++count;
  if (variable) set_variable(variable, nullptr, count, nullptr, 0);
}

void builtin_clearstack() { stack_free_all(current_program); }

void register_stack_builtins() {
  builtin_register("__savesp", builtin_savesp);
  builtin_register("__savesp2", builtin_savesp2);
  builtin_register("push", builtin_push);
  builtin_register("pull", builtin_pull);
  builtin_register("countstack", builtin_countstack);
  builtin_register("dupstack", builtin_dupstack);
  builtin_register("dropstack", stack_drop);
  builtin_register("clearstack", builtin_clearstack);
}
