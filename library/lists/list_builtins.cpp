// The list built-ins: each takes its arguments from the value stack (variadic ones above
// the innermost stack mark) and keeps the list variable showing its current element.
#include "library/lists/list_builtins.h"

#include <cstring>
#include <string>

#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
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
#include "library/lists/list_cursor.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// ---- Values stored into new elements ----

// What a value argument brings, copied out of its cell: storing may push cells (a
// setter runs), which would reuse the popped ones.
struct AddedValue {
  void* text;
  double number;
  uint32_t cell_flags;
  Variable* source;
  uint32_t element_flags;  // taken with the value: the source may be the list being made
};

// Bytes of a text or block to copy: its block size, else its length with the zero.
int32_t text_size(const void* text, bool wide) {
  if (uint32_t size = alloc_block_size(text)) return static_cast<int32_t>(size);
  if (wide) return static_cast<int32_t>((crt::wcslen(static_cast<const WCHAR*>(text)) + 1) * sizeof(WCHAR));
  return static_cast<int32_t>(std::strlen(static_cast<const char*>(text)) + 1);
}

// The element bits a value brings from its source variable and its cell.
uint32_t value_element_flags(const AddedValue& value) {
  uint32_t flags = 0;
  if (value.source) flags |= value.source->flags & (kVariableObject | kVariablePackedList | kVariableWideText);
  if (value.cell_flags & kCellList) flags |= kVariablePackedList;
  if (value.cell_flags & kCellWideText) flags |= kVariableWideText;
  if (!value.text) flags &= ~(kVariablePackedList | kVariableWideText);
  return flags;
}

AddedValue value_of(const ValueCell* cell) {
  AddedValue value{cell->text, cell->number, cell->flags, cell->variable, 0};
  value.element_flags = value_element_flags(value);
  return value;
}

// A copy, made before the list variable lets go of its old value, of a value that is that
// old value (add(s$, s$)): a packed list deeply, anything else as its block.
struct HeldCopy {
  void* block = nullptr;
  ReferenceNode* references = nullptr;
  bool packed = false;
};

bool hold_own_value(const Variable* list, AddedValue* value, HeldCopy* held) {
  if (!value->text || value->text != list->data) return true;
  held->packed = value->element_flags & kVariablePackedList;
  if (held->packed) {
    held->block = packed_list_copy(static_cast<const PackedItem*>(value->text), &held->references);
  } else {
    held->block = duplicate_block(value->text);
  }
  if (!held->block) return false;
  value->text = held->block;
  value->source = nullptr;
  return true;
}

void release_held(HeldCopy* held) {
  if (!held->block) return;
  if (held->packed) {
    packed_list_free(static_cast<PackedItem*>(held->block), &held->references);
    reference_list_free(held->references);
  } else {
    untrack_allocation(held->block);
    crt::free(held->block);
  }
  held->block = nullptr;
}

// Makes element current and stores the value into it through the list variable. A
// packed list is copied deeply (its strings and nested lists belong to the element);
// a structure is copied as a structure when copy_struct is set.
void store_into_element(Variable* list, ListElement* element, const AddedValue& value, bool copy_struct) {
  element->flags = value.element_flags;
  const bool copies_struct =
      copy_struct && value.source && (value.source->flags & kVariableStructure) && value.source != list;
  if (!value.text && !copies_struct && !list->read_only && !list->alias) {
    // A number: the store into the shown element, as set_variable makes it, checksums
    // the element once.
    element->number = value.number;
    list_show_element(list, element);
    variable_store_to_element(list);
    return;
  }
  element->checksum = list_element_checksum(element);
  list_show_element(list, element);
  if (copies_struct) {
    variable_copy_struct(list, value.source, 0, false);
    variable_store_to_element(list);
    return;
  }
  if ((element->flags & kVariablePackedList) && value.text) {
    variable_store_packed_list(list, value.text);
    return;
  }
  int32_t size = value.text ? text_size(value.text, element->flags & kVariableWideText) : -1;
  set_variable(list, value.text, value.number, nullptr, size);
}

// The element value of an existing element as an AddedValue (for addlist).
AddedValue element_value(const ListElement* element) {
  AddedValue value{element->data, element->number, 0, nullptr, 0};
  if (element->data) {
    if (element->flags & kVariablePackedList) value.cell_flags |= kCellList;
    if (element->flags & kVariableWideText) value.cell_flags |= kCellWideText;
  }
  value.element_flags = value_element_flags(value);
  return value;
}

// Makes the variable a list when it is not one yet (add and ins on a plain variable).
void make_list(Variable* variable) {
  if (is_list_variable(variable)) return;
  variable_clear_value(current_program, variable, false, false);
  variable->cursor = nullptr;
  variable->flags |= kVariableList;
}

ListElement* last_element(ListElement* element) {
  while (element && element->next) element = element->next;
  return element;
}

// ---- Variadic counting and moving ----

// Runs visit on the variable of every argument that is a list and pushes the sum of
// what it gives.
template <typename Visit>
void count_over_lists(const char* name, Visit visit) {
  ListArguments arguments;
  int32_t total = 0;
  if (take_list_arguments(name, &arguments)) {
    for (int32_t i = 0; i < arguments.count; ++i) {
      Variable* variable = cell_variable(arguments.cells[i]);
      if (is_list_variable(variable)) total += visit(variable);
    }
  }
  stack_push_number(current_program, total);
}

// Moves each list whose cursor has a neighbour picked by step; counts the moves.
template <typename Step>
void move_lists(const char* name, Step step) {
  count_over_lists(name, [&](Variable* list) {
    ListElement* target = list->cursor ? step(list->cursor) : nullptr;
    if (!target) return 0;
    list_show_element(list, target);
    return 1;
  });
}

// ---- Search ----

struct SearchKey {
  std::string text;
  double number;
  int32_t flags;
  std::string separator;  // empty: no field selection
  int32_t field;
  int32_t member;
};

void upper_case(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

// The separator argument: the cell's text, else the text at the address it holds
// (0 and the lowest page mean no separator).
std::string separator_of(const ValueCell* cell) {
  if (cell->text && cell->number == 0 && !cell->data) return cell_narrow_text(cell);
  uint32_t address = static_cast<uint32_t>(cell_to_int(cell));
  if (address < 0x10000) return std::string();
  return platform::pointer_from<const char>(address);
}

// Takes the key arguments popped last first: flags, member, field, separator, key.
SearchKey pop_search_key() {
  SearchKey key{};
  key.flags = pop_integer();
  key.member = pop_integer();
  key.field = pop_integer();
  key.separator = separator_of(stack_pop(current_program));
  ValueCell* cell = stack_pop(current_program);
  if (key.flags & kSearchNumericKey) {
    key.number = cell_number(cell);
    key.text = number_string(key.number);
  } else {
    key.text = cell_narrow_text(cell);
    if (!(key.flags & kSearchCaseSensitive)) upper_case(key.text);
  }
  return key;
}

// Field selection, case and trimming of a candidate text.
std::string prepare_candidate(std::string text, const SearchKey& key) {
  if (!key.separator.empty()) {
    int32_t number = 0;
    size_t start = 0;
    // No such field: the whole text is the candidate.
    while (true) {
      size_t end = text.find(key.separator, start);
      if (number == key.field) {
        text = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        break;
      }
      if (end == std::string::npos) break;
      start = end + key.separator.size();
      ++number;
    }
  }
  if (!(key.flags & kSearchCaseSensitive)) upper_case(text);
  auto trim_leading = [&text] {
    size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
  };
  auto trim_trailing = [&text] {
    size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
  };
  if (key.flags & kSearchTrim) {
    trim_leading();
    trim_trailing();
  }
  if (key.flags & kSearchTrimLeading) trim_leading();
  if (key.flags & kSearchTrimTrailing) trim_trailing();
  return text;
}

bool text_matches(const std::string& candidate, const SearchKey& key) {
  const std::string& wanted = key.text;
  if (key.flags & kSearchContains) return candidate.find(wanted) != std::string::npos;
  if (key.flags & kSearchBeginsWith) return candidate.compare(0, wanted.size(), wanted) == 0;
  if (key.flags & kSearchEndsWith) {
    return candidate.size() >= wanted.size() &&
           candidate.compare(candidate.size() - wanted.size(), wanted.size(), wanted) == 0;
  }
  return candidate == wanted;
}

// A number candidate: equal numbers in a numeric search, its text form otherwise.
bool number_matches(double value, const SearchKey& key) {
  if (key.flags & kSearchNumericKey) return value == key.number;
  return text_matches(prepare_candidate(number_string(value), key), key);
}

bool is_referenced_block(const StructInfo* info, uint32_t address) {
  for (ReferenceNode* node = info->references; address && node; node = node->next) {
    if (platform::address_of(node->block) == address) return true;
  }
  return false;
}

// A structure element is compared by the member at the key's member position.
bool member_matches(const ListElement* element, const SearchKey& key) {
  const StructInfo* info = element->struct_info;
  const MemberNode* node = info->members;
  for (int32_t i = 0; node && i < key.member; ++i) node = node->next;
  if (!node || key.member < 0 || !element->data) return false;
  const uint8_t* slot = static_cast<const uint8_t*>(element->data) + node->offset;
  uint32_t block_size = alloc_block_size(element->data);
  if (block_size && node->offset + type_size(node->type_code) > block_size) return false;
  int32_t type = node->type_code;
  if (type >= 1) {
    size_t length = strnlen(reinterpret_cast<const char*>(slot), static_cast<size_t>(type));
    return text_matches(prepare_candidate(std::string(reinterpret_cast<const char*>(slot), length), key), key);
  }
  switch (type) {
    case -1:
      return number_matches(*slot, key);
    case -2: {
      int16_t value;
      std::memcpy(&value, slot, sizeof value);
      return number_matches(value, key);
    }
    case -3:
    case -4:
    case -5: {
      uint32_t word;
      std::memcpy(&word, slot, sizeof word);
      if (is_referenced_block(info, word)) {
        void* block = platform::pointer_from(word);
        std::string text;
        if (type == -3) {
          char* narrow = to_narrow(static_cast<const char16_t*>(block));
          text = narrow ? narrow : "";
          crt::free(narrow);
        } else {
          text = static_cast<const char*>(block);
        }
        return text_matches(prepare_candidate(text, key), key);
      }
      if (type == -5) return number_matches(static_cast<double>(word), key);
      return number_matches(static_cast<double>(static_cast<int32_t>(word)), key);
    }
    case -8: {
      double value;
      std::memcpy(&value, slot, sizeof value);
      return number_matches(value, key);
    }
    case -9: {
      int64_t value;
      std::memcpy(&value, slot, sizeof value);
      if (key.flags & kSearchNumericKey) return value == truncate_to_int64(key.number);
      return number_matches(static_cast<double>(value), key);
    }
    default:
      return false;
  }
}

bool element_matches(const ListElement* element, const SearchKey& key) {
  if ((element->flags & kVariableStructure) && element->struct_info) return member_matches(element, key);
  if (!element->data) return number_matches(element->number, key);
  if (element->flags & kVariablePackedList) return false;
  std::string text;
  if (element->flags & kVariableWideText) {
    char* narrow = to_narrow(static_cast<const char16_t*>(element->data));
    text = narrow ? narrow : "";
    crt::free(narrow);
  } else {
    uint32_t size = alloc_block_size(element->data);
    const char* data = static_cast<const char*>(element->data);
    text = size ? std::string(data, strnlen(data, size)) : std::string(data);
  }
  return text_matches(prepare_candidate(text, key), key);
}

// The index of the first match from start to end (-1: the whole rest) and the element
// in *found; -1 when none.
int32_t search_list(ListElement* cursor, int32_t start, int32_t end, const SearchKey& key, ListElement** found) {
  *found = nullptr;
  if (!cursor) return -1;
  ListElement* element = start == -1 ? list_element_first(cursor) : list_element_at(cursor, start);
  int32_t index = list_element_count_from(element);
  for (; element; element = element->next, ++index) {
    if (element_matches(element, key)) {
      *found = element;
      return index;
    }
    if (end != -1 && index >= end) break;
  }
  return -1;
}

}  // namespace

// ---- Creating and filling ----

void builtin_list() {
  ListArguments arguments;
  if (!take_list_arguments("list", &arguments)) return;
  for (int32_t i = 0; i < arguments.count; ++i) {
    Variable* variable = cell_variable(arguments.cells[i]);
    if (!variable) continue;
    // A structure member keeps its owner link and member list.
    variable_clear_value(current_program, variable, false, variable->owner != nullptr);
    variable->cursor = nullptr;
    variable->flags |= kVariableList;
  }
}

namespace {

// add and ins: each value after the list goes into a new element made next to the cursor
// (after it for add, before it for ins); without values one empty element is made.
void put_values(const char* name, ListElement* (*make_element)(ListElement*), bool after_cursor) {
  ListArguments arguments;
  if (!take_list_arguments(name, &arguments) || arguments.count == 0) return;
  Variable* list = cell_variable(arguments.cells[0]);
  if (!list) return;
  AddedValue values[kMaxListArguments];
  int32_t count = arguments.count - 1;
  for (int32_t i = 0; i < count; ++i) values[i] = value_of(arguments.cells[i + 1]);
  // Turning the variable into a list frees its old value, which a value may be: that
  // value goes in as a copy (one is enough, the values all point at the same block).
  HeldCopy held;
  if (!is_list_variable(list)) {
    void* own = list->data;
    for (int32_t i = 0; i < count; ++i) {
      if (!own || values[i].text != own) continue;
      if (!held.block) {
        if (!hold_own_value(list, &values[i], &held)) {
          runtime_error("%s: not enough memory", name);
          return;
        }
        continue;
      }
      values[i].text = held.block;
      values[i].source = nullptr;
    }
  }
  make_list(list);
  if (count == 0) {
    if (ListElement* element = make_element(list->cursor)) list_show_element(list, element);
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    ListElement* element = make_element(list->cursor);
    if (!element) break;
    store_into_element(list, element, values[i], after_cursor);
  }
  release_held(&held);
}

}  // namespace

void builtin_add() { put_values("add", list_element_append, true); }

void builtin_addlist() {
  ListArguments arguments;
  if (!take_list_arguments("addlist", &arguments) || arguments.count == 0) return;
  Variable* list = cell_variable(arguments.cells[0]);
  if (!list) return;
  Variable* sources[kMaxListArguments];
  int32_t count = arguments.count - 1;
  for (int32_t i = 0; i < count; ++i) sources[i] = arguments.cells[i + 1]->variable;
  make_list(list);
  if (count == 0) {
    if (ListElement* element = list_element_append(list->cursor)) list_show_element(list, element);
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    Variable* source = sources[i] ? follow_alias(sources[i]) : nullptr;
    if (!is_list_variable(source)) continue;
    // Counted first: a list added to itself is appended once, not without end.
    ListElement* element = list_element_first(source->cursor);
    uint32_t remaining = list_element_count(element);
    for (; element && remaining; element = element->next, --remaining) {
      AddedValue value = element_value(element);
      ListElement* created = list_element_append(list->cursor);
      if (!created) return;
      store_into_element(list, created, value, false);
    }
  }
}

void builtin_ins() { put_values("ins", list_element_insert_before, false); }

void builtin_del() {
  ListArguments arguments;
  if (!take_list_arguments("del", &arguments)) return;
  for (int32_t i = 0; i < arguments.count; ++i) {
    Variable* list = cell_variable(arguments.cells[i]);
    if (!is_list_variable(list) || !list->cursor) continue;
    ListElement* removed = list->cursor;
    ListElement* neighbour = removed->prev ? removed->prev : removed->next;
    list_element_remove(removed);
    list_show_element(list, neighbour);
  }
}

// ---- Counting and moving ----

void builtin_count() {
  count_over_lists("count", [](Variable* list) { return static_cast<int32_t>(list_element_count(list->cursor)); });
}

void builtin_first() { move_lists("first", [](ListElement* element) { return list_element_first(element); }); }
void builtin_last() { move_lists("last", [](ListElement* element) { return last_element(element); }); }
void builtin_next() { move_lists("next", [](ListElement* element) { return element->next; }); }
void builtin_prev() { move_lists("prev", [](ListElement* element) { return element->prev; }); }

void builtin_isfirst() {
  count_over_lists("isfirst", [](Variable* list) { return list->cursor && !list->cursor->prev ? 1 : 0; });
}

void builtin_islast() {
  count_over_lists("islast", [](Variable* list) { return list->cursor && !list->cursor->next ? 1 : 0; });
}

void builtin_islist() {
  count_over_lists("islist", [](Variable*) { return 1; });
}

void builtin_lpos() {
  Variable* list = pop_variable();
  int32_t position = is_list_variable(list) ? list_element_count_from(list->cursor) : 0;
  stack_push_number(current_program, position);
}

void builtin_goto() {
  int32_t index = pop_integer();
  Variable* list = pop_variable();
  int32_t moved = 0;
  if (is_list_variable(list) && list->cursor) {
    list_show_element(list, list_element_at(list->cursor, index));
    moved = 1;
  }
  stack_push_number(current_program, moved);
}

void builtin_lmove() {
  int32_t to = pop_integer();
  int32_t from = pop_integer();
  Variable* list = pop_variable();
  int32_t moved = 0;
  if (is_list_variable(list) && list->cursor) {
    ListElement* chain = list->cursor;
    if (ListElement* element = list_element_move(&chain, from, to)) {
      list_show_element(list, element);
      moved = 1;
    }
  }
  stack_push_number(current_program, moved);
}

void builtin_pop() {
  Variable* list = pop_variable();
  ProgramContext* context = current_program;
  if (!is_list_variable(list) || !list->cursor) {
    stack_push_number(context, 0);
    return;
  }
  ListElement* element = list->cursor;
  stack_push_value(element->data, element->number, nullptr, 0);
  // The text keeps its width, a packed list stays one.
  if (element->data && (element->flags & kVariableWideText)) context->stack_top->flags |= kCellWideText;
  if (element->data && (element->flags & kVariablePackedList)) context->stack_top->flags |= kCellList;
  if (element->prev) list_show_element(list, element->prev);
}

// ---- Search ----

void builtin_find() {
  SearchKey key = pop_search_key();
  int32_t end = pop_integer();
  int32_t start = pop_integer();
  Variable* list = pop_variable();
  ListElement* found = nullptr;
  int32_t index = is_list_variable(list) ? search_list(list->cursor, start, end, key, &found) : -1;
  stack_push_number(current_program, index);
}

void builtin_delall() {
  SearchKey key = pop_search_key();
  Variable* list = pop_variable();
  int32_t deleted = 0;
  if (is_list_variable(list) && list->cursor) {
    // Whether an element matches does not depend on the others, so one pass removes
    // what restarting after each removal would.
    ListElement* element = list_element_first(list->cursor);
    ListElement* first = nullptr;
    while (element) {
      ListElement* next = element->next;
      if (element_matches(element, key)) {
        list_element_remove(element);
        ++deleted;
      } else if (!first) {
        first = element;
      }
      element = next;
    }
    list_show_element(list, first);
  }
  stack_push_number(current_program, deleted);
}

// ---- Kinds and release ----

void builtin_vartype() {
  Variable* variable = pop_variable();
  stack_push_number(current_program, variable ? variable_kind(variable) : 0);
}

void builtin_ltype() {
  Variable* variable = pop_variable();
  stack_push_number(current_program, variable ? variable_value_kind(variable) : 0);
}

void builtin_empty() {
  ListArguments arguments;
  if (!take_list_arguments("empty", &arguments)) return;
  for (int32_t i = 0; i < arguments.count; ++i) {
    Variable* variable = cell_variable(arguments.cells[i]);
    if (!variable) continue;
    bool list = is_list_variable(variable);
    variable_release(current_program, variable, false, false);
    if (list) list_show_element(variable, nullptr);
  }
}

// ---- Source place ----

namespace {

void current_source(const char** file, int32_t* line) {
  *file = nullptr;
  *line = 0;
  int32_t position = 0;
  if (current_instruction && runtime_error_services.instruction_source) {
    runtime_error_services.instruction_source(current_instruction, file, line, &position);
  }
}

}  // namespace

void builtin_currentline() {
  const char* file;
  int32_t line;
  current_source(&file, &line);
  stack_push_number(current_program, line);
}

void builtin_currentfilename() {
  const char* file;
  int32_t line;
  current_source(&file, &line);
  if (!file) file = current_program ? current_program->name : nullptr;
  push_owned_text(path_file_name(file ? file : ""));
}

void register_list_builtins() {
  builtin_register("list", builtin_list);
  builtin_register("add", builtin_add);
  builtin_register("addlist", builtin_addlist);
  builtin_register("ins", builtin_ins);
  builtin_register("del", builtin_del);
  builtin_register("count", builtin_count);
  builtin_register("first", builtin_first);
  builtin_register("last", builtin_last);
  builtin_register("next", builtin_next);
  builtin_register("prev", builtin_prev);
  builtin_register("isfirst", builtin_isfirst);
  builtin_register("islast", builtin_islast);
  builtin_register("islist", builtin_islist);
  builtin_register("lpos", builtin_lpos);
  builtin_register("goto", builtin_goto);
  builtin_register("lmove", builtin_lmove);
  builtin_register("pop", builtin_pop);
  builtin_register("find", builtin_find);
  builtin_register("delall", builtin_delall);
  builtin_register("vartype", builtin_vartype);
  builtin_register("ltype", builtin_ltype);
  builtin_register("empty", builtin_empty);
  builtin_register("currentline", builtin_currentline);
  builtin_register("currentfilename", builtin_currentfilename);
}
