// Expressions evaluated in the running program's scope.
#include "compiler/driver/expression_value.h"

#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/program_end.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/program_context.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"

namespace {

// The value the running evaluation waits for; evaluations nest (an expression may
// interpolate a text itself), each with its own.
ExpressionValue* awaited_value = nullptr;

// Takes off whatever was pushed above top. A stack that no longer holds top (the run
// popped below it) is left as it is; one the run freed (clearstack) is freed again, as
// everything on it came after top.
void drop_cells_above(ProgramContext* program, const HeldStackTop& top) {
  if (!stack_held_cell_live(program, top)) {
    stack_return_to(program, top);
    return;
  }
  for (ValueCell* cell = program->stack_top; cell; cell = cell->below) {
    if (cell == top.cell) {
      program->stack_top = top.cell;
      return;
    }
  }
}

std::string program_text(const std::string& expression) {
  char* resolved = resolve_program_file(crt::_strdup(expression.c_str()));
  const bool names_file = resolved && file_exists(resolved);
  crt::free(resolved);
  if (names_file) return expression;
  return std::string(kExpressionValueName) + "(" + expression + ");";
}

}  // namespace

ExpressionValue evaluate_expression(const std::string& expression) {
  ExpressionValue value;
  ProgramContext* caller = current_program;
  if (!caller) return value;
  const HeldStackTop top = stack_hold_top(caller);
  ExpressionValue* outer = awaited_value;
  awaited_value = &value;
  ProgramContext* run = run_file_report_error(program_text(expression).c_str(), 0, kRunInCallerScope);
  awaited_value = outer;
  current_program = caller;
  drop_cells_above(caller, top);
  if (!run) return value;
  value.ran = true;
  app_instance_end(run);
  current_program = caller;
  return value;
}

void builtin_expression_value() {
  ProgramContext* context = current_program;
  if (!context) return;
  ValueCell* cell = stack_pop(context);
  if (!awaited_value) return;
  ExpressionValue& value = *awaited_value;
  ++value.values;
  value.number = cell->number;
  value.is_text = cell->text && !(cell->flags & kCellList);
  if (cell->flags & kCellList) {
    value.text.clear();
  } else if (!cell->text) {
    value.text = number_string(cell->number);
  } else if (cell->flags & kCellWideText) {
    char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
    value.text = narrow ? narrow : "";
    crt::free(narrow);
  } else {
    value.text = static_cast<const char*>(cell->text);
  }
}
