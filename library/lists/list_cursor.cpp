// Showing a list element through its variable, and the arguments of variadic list built-ins.
#include "library/lists/list_cursor.h"

#include <cstring>

#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"

namespace {

constexpr uint32_t kShownValueBits = kVariableOwnsData | kVariableWideText | kVariableStructure |
                                     kVariablePackedList | kVariableObject | kVariableAdopted;

}  // namespace

void list_show_element(Variable* variable, ListElement* element) {
  if (!variable) return;
  variable->cursor = element;
  variable->flags &= ~kShownValueBits;
  if (element) {
    variable_load_from_element(variable);
    return;
  }
  // The elements that the shown value pointed into are gone.
  variable->pending_element = nullptr;
  variable->data = nullptr;
  variable->number = 0;
  variable->type_code = 0;
  variable->owner = nullptr;
  variable->members = nullptr;
  variable->references = nullptr;
  variable->member_offset = 0;
  variable->element_count = 0;
  variable->dim_count = 0;
  std::memset(variable->dims, 0, sizeof variable->dims);
  variable->class_hash = 0;
  variable->checksum = 0;
}

bool take_list_arguments(const char* builtin, ListArguments* arguments) {
  arguments->count = 0;
  ProgramContext* context = current_program;
  ValueCell* mark = nullptr;
  if (!context || !stack_take_mark(context, &mark)) return false;
  int32_t total = 0;
  for (ValueCell* cell = context->stack_top; cell != mark; cell = cell->below) {
    if (!cell) {
      runtime_error("Argument list without a stack mark", false);
      return false;
    }
    ++total;
  }
  if (total > kMaxListArguments) {
    context->stack_top = mark;
    runtime_error("%s: more than %d arguments", builtin, kMaxListArguments);
    return false;
  }
  // Walked from the last argument down, stored first to last.
  int32_t index = total;
  for (ValueCell* cell = context->stack_top; cell != mark; cell = cell->below) arguments->cells[--index] = cell;
  context->stack_top = mark;
  arguments->count = total;
  return true;
}
