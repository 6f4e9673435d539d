// The argument and result conventions shared by every built-in.
#include "vm/builtin_arguments.h"

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"

double cell_number(const ValueCell* cell) {
  if (!cell->text || (cell->flags & kCellList)) return cell->number;
  if (!(cell->flags & kCellWideText)) return text_to_number(static_cast<const char*>(cell->text));
  char* narrow = to_narrow(cell_wide_text(cell));
  double number = text_to_number(narrow);
  crt::free(narrow);
  return number;
}

double pop_number() { return cell_number(stack_pop(current_program)); }

int32_t pop_integer() { return truncate_to_int(pop_number()); }

RECT pop_rect() {
  RECT rect;
  rect.bottom = pop_integer();
  rect.right = pop_integer();
  rect.top = pop_integer();
  rect.left = pop_integer();
  return rect;
}

uint32_t pop_address() { return static_cast<uint32_t>(stack_pop_int(current_program)); }

Variable* cell_variable(const ValueCell* cell) {
  if (cell->variable) return follow_alias(cell->variable);
  if (cell->flags & (kCellList | kCellWideText)) return nullptr;
  const char* name = cell_text(cell);
  if (!name || !*name) return nullptr;
  if (Variable* found = find_variable(name)) return follow_alias(found);
  return get_variable(current_scope, name);
}

Variable* pop_variable() { return cell_variable(stack_pop(current_program)); }

const char* cell_narrow_text(const ValueCell* cell) {
  static char empty[1] = "";
  // A list or raw block is no text: reading one as text could run past its end.
  if (cell->text && (cell->flags & kCellList)) return empty;
  if (cell->text && (cell->flags & kCellWideText)) {
    char* narrow = to_narrow(cell_wide_text(cell));
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

namespace {

void push_owned(void* text, bool wide) {
  static char empty[1] = "";
  if (text && !context_own_allocation(current_program, text, current_program->call_depth, kOwnedMemory)) {
    crt::free(text);
    text = nullptr;
  }
  stack_push_value(text ? text : (wide ? nullptr : empty), 0, nullptr, 0);
  if (wide && text) current_program->stack_top->flags |= kCellWideText;
}

}  // namespace

void push_owned_text(char* text) { push_owned(text, false); }

void push_owned_wide_text(char16_t* text) {
  if (!text) text = static_cast<char16_t*>(crt::calloc(1, sizeof(char16_t)));
  push_owned(text, true);
}

int32_t fill_text_list(Variable* variable, const std::vector<std::string>& texts) {
  if (!variable) return 0;
  variable_clear_value(current_program, variable, false, false);
  variable->flags |= kVariableList;
  ListElement* first = nullptr;
  ListElement* last = nullptr;
  int32_t count = 0;
  for (const std::string& text : texts) {
    ListElement* element = list_element_append(last);
    if (!element) break;
    if (!first) first = element;
    last = element;
    element->data = crt::_strdup(text.c_str());
    element->flags = kVariableOwnsData;
    element->checksum = list_element_checksum(element);
    ++count;
  }
  variable->cursor = first;
  if (first) variable_load_from_element(variable);
  return count;
}
