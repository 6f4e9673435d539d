// Array, list and matrix conversions: each reads its source whole before it changes the
// target, so a source and target that are the same variable cannot see freed values.
#include "library/lists/conversion_builtins.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/numbers.h"
#include "foundation/packed_list.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/core/array_builtins.h"
#include "library/core/marked_arguments.h"
#include "library/files/file_arguments.h"
#include "library/lists/list_cursor.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/elementwise.h"

namespace {

constexpr size_t kMaxFillValues = 1024;
const PackedItem kEmptyMatrix[1] = {{0.0, kPackedEnd}};

// The packed list a cell carries (a list literal, or a packed-list variable's value).
// Characters of a text, never read past its block when it has one.
size_t bounded_length(const void* text, bool wide) {
  const uint32_t block = alloc_block_size(text);
  size_t length = 0;
  if (wide) {
    const auto* units = static_cast<const char16_t*>(text);
    while ((!block || (length + 1) * 2 <= block) && units[length]) ++length;
  } else {
    const auto* bytes = static_cast<const char*>(text);
    while ((!block || length < block) && bytes[length]) ++length;
  }
  return length;
}

// A text as 8-bit text (UTF-16 converted).
std::string narrow_text(const void* text, bool wide) {
  if (!wide) return std::string(static_cast<const char*>(text), bounded_length(text, false));
  std::u16string units(static_cast<const char16_t*>(text), bounded_length(text, true));
  char* narrow = to_narrow(units.c_str());
  std::string result = narrow ? narrow : "";
  crt::free(narrow);
  return result;
}

// Where element index of an array lies: data + index x the width of its type.
uint8_t* element_address(const Variable* array, uint32_t index) {
  return static_cast<uint8_t*>(array->data) + type_size(array->type_code) * index;
}

// Slots of width bytes an array's block holds: its elements, never past its block.
uint32_t slot_count(const Variable* array, uint32_t width) {
  if (!array->data || !width) return 0;
  uint64_t bytes = static_cast<uint64_t>(array->element_count) * type_size(array->type_code);
  if (const uint32_t block = alloc_block_size(array->data)) bytes = std::min<uint64_t>(bytes, block);
  return static_cast<uint32_t>(bytes / width);
}

// Pushes a new packed list as the program's, its blocks on the result cell's references.
void push_matrix(PackedItem* list, ReferenceNode* references) {
  push_owned_result(list, kCellList);
  ValueCell* top = current_program ? current_program->stack_top : nullptr;
  if (top && list && top->text == list) {
    top->references = references;
  } else {
    reference_list_free(references);
  }
}

// A fill value, copied out of its cell: storing may run a setter, which pushes.
struct FillValue {
  void* text;
  double number;
  uint32_t cell_flags;
  ReferenceNode* temporary_references;  // a temporary packed list's blocks, freed after the fill

  bool wide() const { return text && (cell_flags & kCellWideText); }
  bool matrix() const { return text && (cell_flags & kCellList); }
};

// Stores the value into the variable (at typed_address when given) as set_variable does
// for an assignment; UTF-16 text goes in as 8-bit text unless the variable is UTF-16.
void store_fill_value(Variable* variable, const FillValue& value, void* typed_address) {
  if (!value.text) {
    set_variable(variable, nullptr, value.number, typed_address, -1);
  } else if (value.wide() && !(variable->flags & kVariableWideText)) {
    char* narrow = to_narrow(static_cast<const char16_t*>(value.text));
    set_variable(variable, narrow, value.number, typed_address, static_cast<int32_t>(std::strlen(narrow) + 1));
    crt::free(narrow);
  } else {
    const uint32_t block = alloc_block_size(value.text);
    const size_t size = block ? block : (bounded_length(value.text, value.wide()) + 1) * (value.wide() ? 2 : 1);
    set_variable(variable, value.text, value.number, typed_address, static_cast<int32_t>(size));
  }
}

int32_t fill_structure(Variable* target, const std::vector<FillValue>& values) {
  int32_t stored = 0;
  MemberNode* node = target->members;
  for (size_t index = 0; node && index < values.size(); node = node->next, ++index) {
    if (!node->member) continue;
    store_fill_value(node->member, values[index], nullptr);
    ++stored;
  }
  return stored;
}

int32_t fill_array(Variable* target, const std::vector<FillValue>& values) {
  const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(values.size()), target->element_count);
  for (uint32_t index = 0; index < count; ++index) store_fill_value(target, values[index], element_address(target, index));
  return static_cast<int32_t>(count);
}

int32_t fill_matrix(Variable* target, const std::vector<FillValue>& values) {
  ReferenceNode* references = nullptr;
  const auto* source = target->data ? static_cast<const PackedItem*>(target->data) : kEmptyMatrix;
  PackedItem* current = packed_list_copy(source, &references);
  int32_t stored = 0;
  for (const FillValue& value : values) {
    if (!current) break;
    PackedItem* next;
    if (value.matrix()) {
      next = packed_list_append(current, platform::address_of(value.text), kPackedList, &references);
    } else if (value.wide()) {
      char* narrow = to_narrow(static_cast<const char16_t*>(value.text));
      next = packed_list_append(current, platform::address_of(narrow), kPackedString, &references);
      crt::free(narrow);
    } else if (value.text) {
      next = packed_list_append(current, platform::address_of(value.text), kPackedString, &references);
    } else {
      next = packed_list_append(current, value.number, kPackedNumber, &references);
    }
    if (!next) break;
    packed_list_free(current, &references);
    current = next;
    ++stored;
  }
  if (current) {
    variable_store_packed_list(target, current);
    packed_list_free(current, &references);
  }
  reference_list_free(references);
  return stored;
}

// The list then holds just the values, each element owning its copy; the old elements
// are released once the new ones are made (a value may live in one of them).
int32_t fill_list(Variable* target, const std::vector<FillValue>& values) {
  ListElement* old = list_element_first(target->cursor);
  ListElement* first = nullptr;
  ListElement* last = nullptr;
  int32_t stored = 0;
  for (const FillValue& value : values) {
    ListElement* element;
    if (value.matrix()) {
      element = list_element_append(last);
      if (element) {
        list_show_element(target, element);
        variable_store_packed_list(target, value.text);
      }
    } else if (value.text) {
      element = list_append_text(last, value.text, value.wide());
    } else {
      element = list_append_number(last, value.number);
    }
    if (!element) break;
    if (!first) first = element;
    last = element;
    ++stored;
  }
  list_show_element(target, first);
  list_element_chain_free(old, true);
  return stored;
}

// Any other target: its data block from the start, texts as their characters and numbers
// as one byte each, never past the size of its type or of its block.
int32_t fill_block(Variable* target, const std::vector<FillValue>& values) {
  auto* data = static_cast<uint8_t*>(target->data);
  if (!data) return 0;
  uint32_t room = type_size(target->type_code);
  if (const uint32_t block = alloc_block_size(data)) room = std::min(room, block);
  uint32_t position = 0;
  int32_t stored = 0;
  for (const FillValue& value : values) {
    if (position >= room) break;
    if (value.text) {
      const bool wide = value.wide();
      const uint32_t bytes = static_cast<uint32_t>(bounded_length(value.text, wide) * (wide ? 2 : 1));
      const uint32_t taken = std::min(bytes, room - position);
      std::memcpy(data + position, value.text, taken);
      position += taken;
    } else {
      data[position++] = static_cast<uint8_t>(truncate_to_int(value.number));
    }
    ++stored;
  }
  return stored;
}

}  // namespace

void builtin_arraytolist() {
  ValueCell* list_cell = stack_pop(current_program);
  Variable* array = pop_variable();
  Variable* list = cell_variable(list_cell);
  ListElement* last = nullptr;
  const uint32_t count = array && array->data ? array->element_count : 0;
  const bool wide = array && (array->flags & kVariableWideText);
  uint32_t made = 0;
  for (uint32_t index = 0; index < count; ++index) {
    void* text = nullptr;
    double number = 0;
    get_variable_value(array, &text, &number, element_address(array, index));
    ListElement* element = text ? list_append_text(last, text, wide) : list_append_number(last, number);
    if (!element) break;
    last = element;
    ++made;
  }
  list_take_chain(list, last);
  stack_push_number(current_program, made);
}

void builtin_carraytolist() {
  ValueCell* list_cell = stack_pop(current_program);
  const int32_t count = pop_integer();
  const uint32_t address = static_cast<uint32_t>(cell_to_int(stack_pop(current_program)));
  Variable* list = cell_variable(list_cell);
  const auto* const* strings = platform::pointer_from<const char* const>(address);
  ListElement* volatile last = nullptr;
  volatile int32_t made = 0;
  if (count >= 1 && strings) {
    // The array and its strings come from foreign code: a bad pointer ends the copy.
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
      for (int32_t index = 0; index < count; ++index) {
        const char* text = strings[index];
        ListElement* element = list_append_text(last, text ? text : "", false);
        if (!element) break;
        last = element;
        made = made + 1;
      }
      platform::fault_guard_leave(&guard);
    } else {
      runtime_fault(guard);
    }
  }
  list_take_chain(list, last);
  stack_push_number(current_program, made);
}

void builtin_freecarray() {
  const uint32_t address = pop_address();
  const int32_t count = pop_integer();
  auto* const* strings = platform::pointer_from<char* const>(address);
  if (count < 1 || !strings) return;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    for (int32_t index = 0; index < count; ++index) crt::free(strings[index]);
    platform::fault_guard_leave(&guard);
  } else {
    runtime_fault(guard);
  }
}

namespace {

// The arguments of listtoarray and tlisttoarray: a list, then an array, dimensioned to
// the list's length when it has no elements yet. False (0 pushed) when they do not fit.
bool take_list_and_array(ListElement** first, Variable** array) {
  *array = pop_variable();
  Variable* list = pop_variable();
  *first = nullptr;
  if (!is_list_variable(list) || !*array) {
    stack_push_number(current_program, 0);
    return false;
  }
  *first = list_element_first(list->cursor);
  if (!(*array)->element_count && *first && !dim_numeric(*array, list_element_count(*first))) {
    stack_push_number(current_program, 0);
    return false;
  }
  return true;
}

}  // namespace

void builtin_listtoarray() {
  Variable* array = nullptr;
  ListElement* first = nullptr;
  if (!take_list_and_array(&first, &array)) return;
  // 8-byte slots whatever the type, but only as many as the block holds.
  const uint32_t slots = slot_count(array, 8);
  uint32_t written = 0;
  for (ListElement* element = first; element && written < slots; element = element->next, ++written) {
    uint8_t* slot = static_cast<uint8_t*>(array->data) + 8 * written;
    double value = element->number;
    reference_drop_slot(array, slot, false);
    if (element->data) {
      const bool wide = element->flags & kVariableWideText;
      uint32_t size = alloc_block_size(element->data);
      if (!size) size = static_cast<uint32_t>((bounded_length(element->data, wide) + 1) * (wide ? 2 : 1));
      void* copy = crt::malloc(size);
      if (copy) {
        std::memcpy(copy, element->data, size);
        if (variable_add_reference(array, copy, slot, -8)) {
          value = static_cast<double>(platform::address_of(copy));
        } else {
          crt::free(copy);
        }
      }
    }
    std::memcpy(slot, &value, sizeof value);
  }
  stack_push_number(current_program, written);
}

void builtin_tlisttoarray() {
  Variable* array = nullptr;
  ListElement* first = nullptr;
  if (!take_list_and_array(&first, &array)) return;
  const int32_t type_code = array->type_code;
  const uint32_t width = type_size(type_code);
  const uint32_t slots = slot_count(array, width);
  uint32_t written = 0;
  for (ListElement* element = first; element && written < slots; element = element->next, ++written) {
    store_typed_value(array, element_address(array, written), type_code, nullptr, list_element_number(element));
  }
  stack_push_number(current_program, written);
}

void builtin_arraytostr() {
  const std::string suffix = cell_narrow_text(stack_pop(current_program));
  const std::string prefix = cell_narrow_text(stack_pop(current_program));
  const std::string separator = cell_narrow_text(stack_pop(current_program));
  Variable* array = pop_variable();
  std::string result;
  const uint32_t count = array && array->data ? array->element_count : 0;
  const bool wide = array && (array->flags & kVariableWideText);
  for (uint32_t index = 0; index < count; ++index) {
    void* text = nullptr;
    double number = 0;
    get_variable_value(array, &text, &number, element_address(array, index));
    if (index) result += separator;
    result += prefix;
    result += text ? narrow_text(text, wide) : number_string(number);
    result += suffix;
  }
  auto* copy = static_cast<char*>(crt::malloc(result.size() + 1));
  if (copy) std::memcpy(copy, result.c_str(), result.size() + 1);
  push_owned_text(copy);
}

void builtin_matrixtoarray() {
  Variable* array = pop_variable();
  ValueCell* matrix_cell = stack_pop(current_program);
  const PackedItem* matrix = cell_packed_list(matrix_cell);
  // Dimensioning the array releases its old value, which may be the matrix itself.
  ReferenceNode* references = nullptr;
  PackedItem* copy = matrix && array ? packed_list_copy(matrix, &references) : nullptr;
  release_temporary_list(matrix_cell);
  uint32_t written = 0;
  if (copy) {
    const uint32_t count = packed_list_count(copy, true);
    if (array->element_count || (count && dim_numeric(array, count))) {
      auto* write = static_cast<uint8_t*>(array->data);
      if (write) written = packed_list_to_typed_memory(copy, &write, array);
    }
    packed_list_free(copy, &references);
  }
  reference_list_free(references);
  stack_push_number(current_program, written);
}

void builtin_matrixtostr() {
  ValueCell* matrix_cell = stack_pop(current_program);
  const PackedItem* matrix = cell_packed_list(matrix_cell);
  char* text = matrix ? static_cast<char*>(crt::malloc(packed_list_text_length(matrix))) : nullptr;
  if (text) packed_list_to_text(matrix, text, true);
  release_temporary_list(matrix_cell);
  push_owned_text(text);
}

void builtin_strtomatrix() {
  const char* text = cell_narrow_text(stack_pop(current_program));
  ReferenceNode* references = nullptr;
  PackedItem* matrix = packed_list_from_text(text, &references);
  push_matrix(matrix, references);
}

void builtin_fill() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells) || cells.empty()) {
    stack_push_number(current_program, 0);
    return;
  }
  Variable* target = cell_variable(cells[0]);
  std::vector<FillValue> values;
  for (size_t index = 1; index < cells.size(); ++index) {
    ValueCell* cell = cells[index];
    ReferenceNode* temporary = cell->variable ? nullptr : cell->references;
    if (temporary) cell->references = nullptr;
    if (values.size() < kMaxFillValues) {
      values.push_back({cell->text, cell->number, cell->flags, temporary});
    } else {
      reference_list_free(temporary);
    }
  }
  int32_t stored = 0;
  if (!target) {
    stored = 0;
  } else if (target->flags & kVariableStructure) {
    stored = fill_structure(target, values);
  } else if (target->element_count) {
    stored = fill_array(target, values);
  } else if (target->flags & kVariablePackedList) {
    stored = fill_matrix(target, values);
  } else if (target->flags & kVariableList) {
    stored = fill_list(target, values);
  } else {
    stored = fill_block(target, values);
  }
  for (const FillValue& value : values) reference_list_free(value.temporary_references);
  stack_push_number(current_program, stored);
}

void register_conversion_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"arraytolist", builtin_arraytolist},     {"carraytolist", builtin_carraytolist},
      {"freecarray", builtin_freecarray},       {"listtoarray", builtin_listtoarray},
      {"tlisttoarray", builtin_tlisttoarray},   {"arraytostr", builtin_arraytostr},
      {"matrixtoarray", builtin_matrixtoarray}, {"matrixtostr", builtin_matrixtostr},
      {"strtomatrix", builtin_strtomatrix},     {"fill", builtin_fill},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
}
