// evalstring, wide, apichar, char, iswide, chr and wchr.
#include "library/strings/text_kind_builtins.h"

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "compiler/driver/text_interpolation.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/control_flow.h"

namespace {

// Pushes a new text as the result, owned by the running depth of the program. When it
// cannot be registered it is freed and the result is an empty value.
void push_owned_text(ProgramContext* context, void* text, bool wide) {
  if (text && !context_own_allocation(context, text, 0, kOwnedMemory)) {
    crt::free(text);
    text = nullptr;
  }
  stack_push_value(text, 0, nullptr, 0);
  if (text && wide && context->stack_top) context->stack_top->flags |= kCellWideText;
}

// The text argument of the kind built-ins: a text value, or the address of a text given
// as a number (or data word).
struct KindArgument {
  const void* text;
  bool wide;
};

// Pops the argument as an address (number, else data word, else text pointer). A text
// value's own flag tells its kind; a bare address is judged by its heap block, since
// reading the bytes cannot tell a one-unit UTF-16 text from a short 8-bit one.
KindArgument pop_kind_argument(ProgramContext* context) {
  ValueCell* cell = stack_pop(context);
  const int32_t address = cell_to_int(cell);
  const void* text = platform::pointer_from<const void>(static_cast<uint32_t>(address));
  if (!text) return {nullptr, false};
  if (text == cell->text && !(cell->flags & kCellList)) return {text, (cell->flags & kCellWideText) != 0};
  return {text, text_changes_in_wide_conversion(static_cast<const char*>(text)) != 0};
}

void push_as_wide(ProgramContext* context) {
  KindArgument argument = pop_kind_argument(context);
  char16_t* result;
  if (!argument.text) result = to_wide("");
  else if (argument.wide) result = crt::_wcsdup(static_cast<const char16_t*>(argument.text));
  else result = to_wide(static_cast<const char*>(argument.text));
  push_owned_text(context, result, true);
}

int32_t pop_code(ProgramContext* context) { return truncate_to_int(cell_number(stack_pop(context))); }

}  // namespace

void builtin_evalstring() {
  ProgramContext* context = current_program;
  if (!context) return;
  // A copy: the expressions' runs reuse the popped cell, and their texts may go with them.
  ValueCell* cell = stack_pop(context);
  char* copy;
  if (!cell->text || (cell->flags & kCellList)) copy = number_to_text(cell->number);
  else if (cell->flags & kCellWideText) copy = to_narrow(cell_wide_text(cell));
  else copy = crt::_strdup(static_cast<const char*>(cell->text));
  char* result = interpolate_braced_expressions(copy);
  crt::free(copy);
  push_owned_text(context, result, false);
}

void builtin_wide() { if (current_program) push_as_wide(current_program); }
void builtin_apichar() { if (current_program) push_as_wide(current_program); }

void builtin_char() {
  ProgramContext* context = current_program;
  if (!context) return;
  KindArgument argument = pop_kind_argument(context);
  char* result;
  if (!argument.text) result = crt::_strdup("");
  else if (argument.wide) result = to_narrow(static_cast<const char16_t*>(argument.text));
  else result = crt::_strdup(static_cast<const char*>(argument.text));
  push_owned_text(context, result, false);
}

void builtin_iswide() {
  ProgramContext* context = current_program;
  if (!context) return;
  stack_push_number(context, pop_kind_argument(context).wide ? 1 : 0);
}

void builtin_chr() {
  ProgramContext* context = current_program;
  if (!context) return;
  auto* result = static_cast<char*>(crt::calloc(2, 1));
  const int32_t code = pop_code(context);
  if (result) result[0] = static_cast<char>(code & 0xFF);
  push_owned_text(context, result, false);
}

void builtin_wchr() {
  ProgramContext* context = current_program;
  if (!context) return;
  auto* result = static_cast<char16_t*>(crt::calloc(2, sizeof(char16_t)));
  const int32_t code = pop_code(context);
  if (result) result[0] = static_cast<char16_t>(code & 0xFFFF);
  push_owned_text(context, result, true);
}

void register_text_kind_builtins() {
  builtin_register("evalstring", builtin_evalstring);
  builtin_register("wide", builtin_wide);
  builtin_register("apichar", builtin_apichar);
  builtin_register("char", builtin_char);
  builtin_register("iswide", builtin_iswide);
  builtin_register("chr", builtin_chr);
  builtin_register("wchr", builtin_wchr);
}
