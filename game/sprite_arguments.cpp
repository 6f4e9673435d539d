// The argument helpers of the sprite built-ins.
#include "game/sprite_arguments.h"

#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/script_threads.h"

InstructionNode* pop_sprite_procedure(const char* builtin_name) {
  uint32_t number = pop_address();
  if (number == 0) return nullptr;
  auto* procedure = platform::pointer_from<InstructionNode>(number);
  // Running anything else as a procedure would run arbitrary memory as code.
  if (is_program_procedure(current_program, procedure)) return procedure;
  runtime_error("%s: the handler is not a procedure of this program", builtin_name);
  return nullptr;
}

const char* cell_id_text(const ValueCell* cell) {
  if (!cell->text && cell->number == 0.0) return nullptr;
  const char* text = cell_narrow_text(cell);
  return *text ? text : nullptr;
}

void push_sprite_result(double value) { stack_push_number(current_program, value); }
