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
