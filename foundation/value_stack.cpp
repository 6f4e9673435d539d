// The value stack: cell allocation, pushes and pops, conversions and stack marks.
#include "foundation/value_stack.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/runtime_error.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/text.h"
#include "platform/kernel/wide_string.h"

int32_t double_to_int_words(uint32_t low, uint32_t high) {
  uint64_t bits = (static_cast<uint64_t>(high) << 32) | low;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return truncate_to_int(value);
}

ValueCell* stack_alloc_cell(ProgramContext* context) {
  auto* cell = static_cast<ValueCell*>(HeapAlloc(context->heap, HEAP_ZERO_MEMORY, sizeof(ValueCell)));
  if (!cell) return nullptr;
  ValueCell* top = context->stack_top;
  cell->below = top;
  if (top) {
    top->above = cell;
    cell->height = top->height < kCellHeightLimit ? static_cast<uint16_t>(top->height + 1) : kCellHeightLimit;
  }
  return cell;
}

uint32_t stack_push_value(void* text, double number, Variable* variable, uint32_t data) {
  ValueCell* cell = stack_push_cell(current_program, false);
  if (!cell) return data;
  cell->number = number;
  cell->text = text;
  cell->variable = variable;
  cell->data = data;
  cell->flags = 0;
  // A stale reference chain would be taken over by the next assignment.
  cell->variant_type = 0;
  cell->references = nullptr;
  return data;
}

void stack_push_uint(uint32_t value) { stack_push_number(current_program, static_cast<double>(value)); }

void stack_push_double(double value) { stack_push_number(current_program, value); }

void stack_push_double_words(uint32_t low, uint32_t high) {
  uint64_t bits = (static_cast<uint64_t>(high) << 32) | low;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  stack_push_number(current_program, value);
}

ValueCell* stack_pop_empty() {
  // Handlers trust the compiler to have pushed their operands; a broken program gets an
  // error and a harmless empty value instead of a crash.
  static ValueCell empty;
  empty = ValueCell{};
  runtime_error("Value stack is empty", false);
  return &empty;
}

int32_t stack_pop_owned_pointer(ProgramContext* context) {
  int32_t value = stack_pop_int(context);
  if (value) context_disown_pointer(context, platform::pointer_from(static_cast<uint32_t>(value)));
  return value;
}

namespace {

// Hands a block the stack made to the current program until the running depth ends.
template <typename T>
T* owned_by_program(T* block) {
  if (block && current_program && !context_own_allocation(current_program, block, 0, kOwnedMemory)) {
    crt::free(block);
    return nullptr;
  }
  return block;
}

// A block a variable adopted (new, wnew), and the copy of a fixed-length field (a typed
// variable's value), hold exactly their size, which a script may fill to the end: read as a
// text they end there, through a terminated copy when no terminator lies inside. Other
// texts are terminated where they are made.
template <typename Unit>
Unit* text_within_block(const ValueCell* cell) {
  auto* text = static_cast<Unit*>(cell->text);
  const Variable* variable = cell->variable;
  const bool sized = variable && (variable->type_code > 0 || ((variable->flags & kVariableAdopted) && text == variable->data));
  if (!sized) return text;
  uint32_t size = 0;
  if (!alloc_block_known(text, &size)) return text;
  const uint32_t units = size / sizeof(Unit);
  for (uint32_t i = 0; i < units; ++i) {
    if (!text[i]) return text;
  }
  auto* copy = static_cast<Unit*>(crt::calloc(units + 1, sizeof(Unit)));
  if (!copy) return text;
  if (units) std::memcpy(copy, text, units * sizeof(Unit));
  return owned_by_program(copy);
}

}  // namespace

char* cell_text(const ValueCell* cell) {
  if (cell->text) return cell->variable ? text_within_block<char>(cell) : static_cast<char*>(cell->text);
  return owned_by_program(number_to_text(cell->number));
}

WCHAR* cell_wide_text(const ValueCell* cell) {
  if (!cell->text) {
    char* number = number_to_text(cell->number);
    if (!number) return nullptr;
    WCHAR* wide = to_wide(number);
    crt::free(number);
    return owned_by_program(wide);
  }
  if (cell->flags & kCellWideText) return text_within_block<WCHAR>(cell);
  return owned_by_program(to_wide(cell_text(cell)));
}

WCHAR* cell_wide_copy(const ValueCell* cell) {
  if (cell->text && (cell->flags & kCellWideText)) return crt::_wcsdup(text_within_block<WCHAR>(cell));
  if (cell->text) return to_wide(cell_text(cell));
  char* number = number_to_text(cell->number);
  if (!number) return nullptr;
  WCHAR* wide = to_wide(number);
  crt::free(number);
  return wide;
}

void stack_free_all(ProgramContext* context) {
  kept_texts_drop(context);
  ValueCell* cell = context->stack_top;
  if (cell) {
    while (cell->above) cell = cell->above;
    while (cell) {
      ValueCell* below = cell->below;
      HeapFree(context->heap, 0, cell);
      cell = below;
    }
  }
  context->stack_top = nullptr;
  // The marks named cells that are gone.
  context->mark_count = 0;
  // Programs run inside their caller (every run mode but 0 and -4) share its heap and
  // its chain of cells: their tops went with it.
  ++context->stack_generation;
  for (ProgramContext* other = program_list; other; other = other->next) {
    if (other == context || other->heap != context->heap) continue;
    other->stack_top = nullptr;
    other->mark_count = 0;
    ++other->stack_generation;
  }
}

void stack_return_to(ProgramContext* context, const HeldStackTop& held) {
  if (stack_held_cell_live(context, held)) {
    context->stack_top = held.cell;
    return;
  }
  if (context->stack_top) stack_free_all(context);
}

bool stack_save_mark_refused(ProgramContext* context) {
  // Open argument lists pile up with nested function calls: name the likely recursion.
  if (context->call_depth > 1 && current_procedure_name && *current_procedure_name) {
    runtime_error_format(false, "Too many nested argument lists (more than %d): calls of %s nest too deeply",
                         kStackMarkSlots, current_procedure_name);
  } else {
    runtime_error_format(false, "Too many nested argument lists (more than %d)", kStackMarkSlots);
  }
  return false;
}

bool stack_take_mark(ProgramContext* context, ValueCell** mark) {
  if (context->mark_count <= 0 || context->mark_count > kStackMarkSlots) {
    runtime_error("Argument list without a stack mark", false);
    return false;
  }
  *mark = context->stack_marks[--context->mark_count];
  return true;
}

int32_t stack_pop_to_mark(ProgramContext* context) {
  ValueCell* mark;
  if (!stack_take_mark(context, &mark)) return -1;
  int32_t count = 0;
  ValueCell* cell = context->stack_top;
  while (cell != mark) {
    if (!cell) {
      runtime_error("Argument list without a stack mark", false);
      return -1;
    }
    cell = cell->below;
    ++count;
  }
  context->stack_top = mark;
  return count;
}

// ---- Variables on the stack ----

void stack_push_variable_value_slow(Variable* variable) {
  ProgramContext* context = current_program;
  if (!context) return;
  if (!alias_follow_suppressed) variable = follow_alias(variable);
  alias_follow_suppressed = 0;
  void* text = nullptr;
  double number = 0;
  if (variable) get_variable_value(variable, &text, &number, nullptr);
  ValueCell* cell = stack_push_cell(context, false);
  if (!cell) return;
  cell->flags = 0;
  cell->data = 0;
  cell->number = number;
  cell->text = text;
  cell->variable = variable;
  cell->variant_type = 0;
  cell->references = nullptr;
  if (variable && (variable->flags & kVariablePackedList)) cell->flags |= kCellList;
  if (variable && (variable->flags & kVariableWideText)) cell->flags |= kCellWideText;
}

void stack_push_variable(const char* name) {
  if (!current_program) return;
  Variable* variable = find_variable(name);
  if (!variable) variable = create_variable(choose_creation_scope(current_scope, name), name, false);
  stack_push_variable_value(variable);
}

Variable* element_reference_variable(const ListElement* element) {
  if (!element || !element->info || element->data) return nullptr;
  return platform::pointer_from<Variable>(element->info->reserved1);
}

namespace {

// A copy of a cell's whole text block that the element will own.
void* copy_cell_text(const ValueCell* cell) {
  uint32_t size = alloc_block_size(cell->text);
  if (!size) {
    size = (cell->flags & kCellWideText)
               ? static_cast<uint32_t>((crt::wcslen(static_cast<const WCHAR*>(cell->text)) + 1) * 2)
               : static_cast<uint32_t>(std::strlen(static_cast<const char*>(cell->text)) + 1);
  }
  void* copy = crt::malloc(size);
  if (!copy) return nullptr;
  std::memcpy(copy, cell->text, size);
  track_variable_block(copy);
  return copy;
}

}  // namespace

void build_args_list() {
  ProgramContext* context = current_program;
  if (!context) return;
  ValueCell* mark;
  if (!stack_take_mark(context, &mark)) return;
  Variable* args = create_variable(current_scope, "ARGS$", true);
  if (args && (args->flags & kVariableList)) variable_release(context, args, false, true);
  ListElement* first = nullptr;
  while (context->stack_top && context->stack_top != mark) {
    ValueCell* cell = stack_pop(context);
    ListElement* element = list_element_prepend(first);
    if (!element) continue;
    first = element;
    if (cell->variable && (cell->flags & kCellByReference)) {
      // The element names the argument's variable; the callee reaches the value there.
      element->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
      if (element->info) element->info->reserved1 = platform::address_of(cell->variable);
    } else {
      element->number = cell->number;
      bool object = cell->variable && (cell->variable->flags & kVariableObject);
      if (cell->text && !object) {
        element->data = copy_cell_text(cell);
        if (element->data) element->flags = (cell->flags & kCellWideText) ? 0x30 : kVariableOwnsData;
      }
    }
    element->checksum = list_element_checksum(element);
  }
  if (!args) {
    list_element_chain_free(first, true);
    return;
  }
  args->flags |= kVariableList;
  args->cursor = first;
  if (first) variable_load_from_element(args);
}
