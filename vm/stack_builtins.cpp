// Stack marks and the value-stack built-ins, over the value stack of current_program.
#include "vm/stack_builtins.h"

#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
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
  stack_pop(current_program);
}

void builtin_clearstack() { stack_free_all(current_program); }

void register_stack_builtins() {
  builtin_register("__savesp", builtin_savesp);
  builtin_register("__savesp2", builtin_savesp2);
  builtin_register("push", builtin_push);
  builtin_register("dupstack", builtin_dupstack);
  builtin_register("dropstack", stack_drop);
  builtin_register("clearstack", builtin_clearstack);
}
