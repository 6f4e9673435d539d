// Arguments and results shared by the file and package built-ins.
#include "library/files/file_arguments.h"

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"

const char* cell_narrow_text(const ValueCell* cell) {
  static char empty[1] = "";
  // A list or raw block is no text: reading one as text could run past its end.
  if (cell->text && (cell->flags & kCellList)) return empty;
  if (cell->text && (cell->flags & kCellWideText)) {
    char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
    if (!narrow) return empty;
    if (!context_own_allocation(current_program, narrow, current_program->call_depth, kOwnedMemory)) {
      crt::free(narrow);
      return empty;
    }
    return narrow;
  }
  const char* text = cell_text(cell);
  return text ? text : empty;
}

const char* pop_narrow_text() { return cell_narrow_text(stack_pop(current_program)); }

void push_no_text() { stack_push_value(nullptr, 0, nullptr, 0); }

void push_owned_text_or_none(void* text, bool wide) {
  if (!text) {
    push_no_text();
  } else if (wide) {
    push_owned_wide_text(static_cast<char16_t*>(text));
  } else {
    push_owned_text(static_cast<char*>(text));
  }
}
