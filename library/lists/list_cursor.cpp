// Showing a list element through its variable, and the arguments of variadic list built-ins.
#include "library/lists/list_cursor.h"

#include <cstdint>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/packed_list.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"

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

ListElement* list_append_copy(ListElement* last, const void* units, uint32_t count, bool wide) {
  const uint32_t unit = wide ? 2 : 1;
  auto* copy = static_cast<char*>(crt::malloc((count + 1) * unit));
  if (!copy) return nullptr;
  if (count) std::memcpy(copy, units, count * unit);
  std::memset(copy + count * unit, 0, unit);
  ListElement* element = list_element_append(last);
  if (!element) {
    crt::free(copy);
    return nullptr;
  }
  track_variable_block(copy);
  element->data = copy;
  element->flags = kVariableOwnsData | (wide ? kVariableWideText : 0);
  element->checksum = list_element_checksum(element);
  return element;
}

ListElement* list_append_text(ListElement* last, const void* text, bool wide) {
  const uint32_t unit = wide ? 2 : 1;
  const uint32_t block = alloc_block_size(text);
  const uint32_t limit = block ? block / unit : UINT32_MAX;
  uint32_t length = 0;
  if (wide) {
    const auto* units = static_cast<const char16_t*>(text);
    while (units && length < limit && units[length]) ++length;
  } else {
    const auto* bytes = static_cast<const char*>(text);
    while (bytes && length < limit && bytes[length]) ++length;
  }
  return list_append_copy(last, text, length, wide);
}

ListElement* list_append_number(ListElement* last, double number) {
  ListElement* element = list_element_append(last);
  if (!element) return nullptr;
  element->number = number;
  element->checksum = list_element_checksum(element);
  return element;
}

double list_element_number(const ListElement* element) {
  if (!element->data || (element->flags & kVariablePackedList)) return element->number;
  if (!(element->flags & kVariableWideText)) return text_to_number(static_cast<const char*>(element->data));
  char* narrow = to_narrow(static_cast<const char16_t*>(element->data));
  const double number = text_to_number(narrow);
  crt::free(narrow);
  return number;
}

void list_take_chain(Variable* variable, ListElement* chain) {
  if (!variable) {
    list_element_chain_free(chain, true);
    return;
  }
  variable_clear_value(current_program, variable, false, false);
  variable->flags |= kVariableList;
  list_show_element(variable, list_element_first(chain));
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

const PackedItem* cell_packed_list(const ValueCell* cell) {
  if (cell->text && (cell->flags & kCellList)) return static_cast<const PackedItem*>(cell->text);
  return nullptr;
}

void release_temporary_list(ValueCell* cell) {
  if (cell->variable || !cell->references) return;
  reference_list_free(cell->references);
  cell->references = nullptr;
}

