// Reading the arguments of a variadic built-in off the value stack.
#include "library/core/marked_arguments.h"

#include <algorithm>

#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"

bool take_marked_arguments(std::vector<ValueCell*>& cells) {
  cells.clear();
  ProgramContext* program = current_program;
  ValueCell* mark;
  if (!stack_take_mark(program, &mark)) return false;
  for (ValueCell* cell = program->stack_top; cell != mark; cell = cell->below) {
    if (!cell) {
      runtime_error("Argument list without a stack mark", false);
      cells.clear();
      return false;
    }
    cells.push_back(cell);
  }
  program->stack_top = mark;
  std::reverse(cells.begin(), cells.end());
  return true;
}
