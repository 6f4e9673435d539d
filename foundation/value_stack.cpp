// The value stack: cell allocation, pushes and pops, conversions and stack marks.
#include "foundation/value_stack.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "platform/kernel/memory.h"
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
  if (top) top->above = cell;
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

ValueCell* stack_pop(ProgramContext* context) {
  ValueCell* cell = context->stack_top;
  if (!cell) {
    // Handlers trust the compiler to have pushed their operands; a broken program
    // gets an error and a harmless empty value instead of a crash.
    static ValueCell empty;
    empty = ValueCell{};
    runtime_error("Value stack is empty");
    return &empty;
  }
  context->stack_top = cell->below;
  return cell;
}

int32_t stack_pop_int(ProgramContext* context) { return cell_to_int(stack_pop(context)); }

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

}  // namespace

char* cell_text(const ValueCell* cell) {
  if (cell->text) return static_cast<char*>(cell->text);
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
  if (cell->flags & kCellWideText) return static_cast<WCHAR*>(cell->text);
  return owned_by_program(to_wide(static_cast<const char*>(cell->text)));
}

WCHAR* cell_wide_copy(const ValueCell* cell) {
  if (cell->text && (cell->flags & kCellWideText)) return crt::_wcsdup(static_cast<const WCHAR*>(cell->text));
  if (cell->text) return to_wide(static_cast<const char*>(cell->text));
  char* number = number_to_text(cell->number);
  if (!number) return nullptr;
  WCHAR* wide = to_wide(number);
  crt::free(number);
  return wide;
}

void stack_free_all(ProgramContext* context) {
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
}

bool stack_save_mark(ProgramContext* context) {
  if (context->mark_count < 0 || context->mark_count >= kStackMarkSlots) {
    runtime_error("Too many nested argument lists (more than %d)", kStackMarkSlots);
    return false;
  }
  context->stack_marks[context->mark_count++] = context->stack_top;
  return true;
}

bool stack_take_mark(ProgramContext* context, ValueCell** mark) {
  if (context->mark_count <= 0 || context->mark_count > kStackMarkSlots) {
    runtime_error("Argument list without a stack mark");
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
      runtime_error("Argument list without a stack mark");
      return -1;
    }
    cell = cell->below;
    ++count;
  }
  context->stack_top = mark;
  return count;
}
