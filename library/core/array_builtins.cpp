// Arrays and typed variables: dimensioning numbers, typed cells and structure records,
// re-dimensioning, and reading one element (or member, list item or typed slot) onto the
// stack with the address a following store writes back to.
#include "library/core/array_builtins.h"

#include <cstring>
#include <vector>

#include "foundation/array_index.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/packed_list.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/core/marked_arguments.h"
#include "library/core/variable_builtins.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

constexpr uint32_t kMaxDimensions = 8;
constexpr uint32_t kVariableStructureArray = 0x2;
constexpr uint32_t kLargestBlock = 0x7FFFFFFF;

const char* name_of(const Variable* variable) { return variable->name ? variable->name : ""; }

// A list variable keeps its value in its current element too.
void store_back(Variable* variable) {
  if ((variable->flags & kVariableList) && variable->cursor) variable_store_to_element(variable);
}

// The sizes of a dim-like call: the argument cells from first on. The element count is
// their product (a count of 0 becomes 1); 0 when it does not fit in 32 bits.
struct Dimensions {
  uint32_t sizes[kMaxDimensions] = {};
  uint32_t count = 0;
  uint32_t element_count = 1;

  // False, after a run-time error, for more sizes than the table holds.
  bool read(const std::vector<ValueCell*>& cells, size_t first, const Variable* variable) {
    const size_t given = cells.size() > first ? cells.size() - first : 0;
    if (given > kMaxDimensions) {
      runtime_error("Too many dimensions (%d) for [%s], at most 8", static_cast<int32_t>(given), name_of(variable));
      return false;
    }
    count = static_cast<uint32_t>(given);
    uint64_t product = 1;
    for (uint32_t index = 0; index < count; ++index) {
      sizes[index] = static_cast<uint32_t>(truncate_to_int(cell_number(cells[first + index])));
      // Saturated: no block of more than kLargestBlock bytes is made anyway.
      product *= sizes[index];
      if (product > kLargestBlock) product = uint64_t{kLargestBlock} + 1;
    }
    if (product == 0) product = 1;
    element_count = product > kLargestBlock ? 0 : static_cast<uint32_t>(product);
    return true;
  }

  void apply(Variable* variable) const {
    variable->element_count = element_count;
    std::memcpy(variable->dims, sizes, sizeof sizes);
    variable->dim_count = count;
  }
};

// Clears the variable's old value for a new shape; the element order the script chose
// (rowmajor, columnmajor) stays.
void clear_for_shape(Variable* variable, bool keep_members) {
  const uint8_t column_major = variable->column_major;
  variable_clear_value(current_program, variable, true, keep_members);
  variable->column_major = column_major;
}

void report_no_memory(const Variable* variable, uint64_t bytes) {
  // The request itself, not its low 32 bits: a count past memory names its true size.
  runtime_error("Not enough memory for [%s] (%I64u bytes)", name_of(variable), static_cast<unsigned long long>(bytes));
}

// Structure arrays: each member (and each member of a nested member) is given the
// element count and dimensions, and its place in the block: records one after another
// (row-major), or one column per member (column-major).
void layout_structure_array(Variable* structure, uint32_t count, uint32_t dimension_count, const uint32_t* sizes) {
  auto* data = static_cast<uint8_t*>(structure->data);
  uint32_t running = 0;
  for (MemberNode* node = structure->members; node; node = node->next) {
    Variable* member = node->member;
    if (!member || member == structure) continue;
    if (structure->column_major) {
      node->offset = running;
      member->member_offset = running;
      member->data = data + running;
      running += type_size(node->type_code) * count;
    } else {
      member->data = data + member->member_offset;
    }
    node->element_count = count;
    member->element_count = count;
    member->dim_count = dimension_count;
    std::memcpy(member->dims, sizes, sizeof member->dims);
    if (member->flags & kVariableStructure) layout_structure_array(member, count, dimension_count, sizes);
  }
}

// ---- type, clear, rowmajor, columnmajor ----

void builtin_type() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells) || cells.empty()) return;
  const int32_t code = truncate_to_int(cell_number(cells.back()));
  cells.pop_back();
  for (ValueCell* cell : cells) {
    Variable* variable = cell_variable(cell);
    if (!variable) continue;
    variable_clear_value(current_program, variable, true, false);
    const uint32_t size = type_size(code);
    void* block = allocate_zeroed_block(1, size ? size : 1);
    if (!block) {
      report_no_memory(variable, size);
      continue;
    }
    set_variable(variable, block, 0, nullptr, -1);
    variable->type_code = code;
    variable->flags |= kVariableOwnsData;
    track_variable_block(block);
    store_back(variable);
  }
}

template <typename Apply>
void each_argument_variable(Apply apply) {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells)) return;
  for (ValueCell* cell : cells) {
    if (Variable* variable = cell_variable(cell)) apply(variable);
  }
}

void builtin_clear() {
  each_argument_variable([](Variable* variable) { variable_clear_value(current_program, variable, false, false); });
}
void builtin_columnmajor() {
  each_argument_variable([](Variable* variable) { variable->column_major = 1; });
}
void builtin_rowmajor() {
  each_argument_variable([](Variable* variable) { variable->column_major = 0; });
}

// ---- dim, sdim, tdim, redim ----

// dim (typed false) and sdim (typed true: the type code follows the variable).
void dimension(bool typed) {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells) || cells.empty()) return;
  Variable* variable = cell_variable(cells[0]);
  if (!variable) return;
  int32_t code = -8;
  if (typed && cells.size() > 1) code = truncate_to_int(cell_number(cells[1]));
  Dimensions dimensions;
  if (!dimensions.read(cells, typed ? 2 : 1, variable)) return;
  const uint32_t size = type_size(code);
  clear_for_shape(variable, variable->owner != nullptr);
  void* block = dimensions.element_count ? allocate_zeroed_block(dimensions.element_count, size) : nullptr;
  if (!block) {
    report_no_memory(variable, static_cast<uint64_t>(dimensions.element_count) * size);
    return;
  }
  variable->data = block;
  dimensions.apply(variable);
  variable->flags |= kVariableOwnsData;
  variable->type_code = code;
  track_variable_block(block);
  store_back(variable);
}

void builtin_dim() { dimension(false); }
void builtin_sdim() { dimension(true); }

void builtin_tdim() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells) || cells.empty()) return;
  Variable* variable = cell_variable(cells[0]);
  if (!variable) return;
  if (!(variable->flags & kVariableStructure) || (variable->flags & kVariableStructureArray)) {
    // Going on would lay records of no structure out over the variable's data.
    runtime_error("Variable [%s] type must be simple struct!", name_of(variable));
    return;
  }
  Dimensions dimensions;
  if (!dimensions.read(cells, 1, variable)) return;
  const uint32_t record = variable->type_code > 0 ? static_cast<uint32_t>(variable->type_code)
                                                   : alloc_block_size(variable->data);
  const uint32_t kept = variable->flags & kVariableStructure;
  clear_for_shape(variable, true);
  variable->flags |= kept;
  void* block = dimensions.element_count && record ? allocate_zeroed_block(dimensions.element_count, record) : nullptr;
  if (block) {
    variable->data = block;
    variable->type_code = static_cast<int32_t>(record);
    variable->flags |= kVariableOwnsData | kVariableStructureArray;
    dimensions.apply(variable);
    track_variable_block(block);
  } else {
    report_no_memory(variable, static_cast<uint64_t>(dimensions.element_count) * record);
  }
  // Without a block the members point at no memory rather than at the freed record.
  layout_structure_array(variable, dimensions.element_count, dimensions.count, dimensions.sizes);
  store_back(variable);
}

// Column-major structure arrays keep one column per member: changing the element count
// moves the columns. Shrinking moves them down first to last; growing moves them up last
// to first (so no column overwrites one not yet moved) and zeroes each column's new tail.
void move_columns(Variable* variable, uint32_t old_count, uint32_t new_count) {
  auto* data = static_cast<uint8_t*>(variable->data);
  std::vector<MemberNode*> nodes;
  for (MemberNode* node = variable->members; node; node = node->next) nodes.push_back(node);
  std::vector<uint32_t> old_offsets, new_offsets;
  uint32_t old_offset = 0, new_offset = 0;
  for (MemberNode* node : nodes) {
    old_offsets.push_back(old_offset);
    new_offsets.push_back(new_offset);
    old_offset += type_size(node->type_code) * old_count;
    new_offset += type_size(node->type_code) * new_count;
  }
  if (new_count < old_count) {
    for (size_t index = 0; index < nodes.size(); ++index) {
      std::memmove(data + new_offsets[index], data + old_offsets[index], type_size(nodes[index]->type_code) * new_count);
    }
    return;
  }
  for (size_t index = nodes.size(); index-- > 0;) {
    const uint32_t size = type_size(nodes[index]->type_code);
    std::memmove(data + new_offsets[index], data + old_offsets[index], size * old_count);
    std::memset(data + new_offsets[index] + size * old_count, 0, size * (new_count - old_count));
  }
}

void builtin_redim() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells) || cells.empty()) return;
  Variable* variable = cell_variable(cells[0]);
  if (!variable) return;
  Dimensions dimensions;
  if (!dimensions.read(cells, 1, variable)) return;
  const uint32_t old_count = variable->element_count;
  const uint32_t new_count = dimensions.element_count;
  if (old_count == new_count) return;
  const bool column_records = (variable->flags & kVariableStructureArray) && variable->column_major;
  if (column_records && new_count && new_count < old_count) move_columns(variable, old_count, new_count);
  // A variable of no type becomes an array of numbers, as dim makes it.
  const int32_t code = variable->type_code ? variable->type_code : -8;
  const uint32_t size = type_size(code);
  const uint64_t bytes = static_cast<uint64_t>(new_count) * size;
  if (!new_count || bytes > kLargestBlock) {
    report_no_memory(variable, bytes);
    return;
  }
  void* block;
  if (!old_count) {
    clear_for_shape(variable, variable->owner != nullptr);
    block = allocate_zeroed_block(new_count, size);
    if (!block) {
      report_no_memory(variable, bytes);
      return;
    }
    variable->flags |= kVariableOwnsData;
  } else {
    void* old_block = variable->data;
    const uint64_t old_bytes = static_cast<uint64_t>(old_count) * size;
    if (old_block) untrack_allocation(old_block);
    note_block_released(old_block);
    block = crt::realloc(old_block, static_cast<uint32_t>(bytes));
    if (!block && SHCloseApps(static_cast<DWORD>(bytes))) block = crt::realloc(old_block, static_cast<uint32_t>(bytes));
    if (!block) {
      // The old block and its element count stay as they were.
      if (old_block) track_variable_block(old_block);
      report_no_memory(variable, bytes);
      return;
    }
    if (bytes > old_bytes) std::memset(static_cast<uint8_t*>(block) + old_bytes, 0, bytes - old_bytes);
  }
  variable->data = block;
  variable->type_code = code;
  track_variable_block(block);
  if (column_records && new_count > old_count) move_columns(variable, old_count, new_count);
  dimensions.apply(variable);
  if (variable->flags & kVariableStructureArray) {
    layout_structure_array(variable, new_count, dimensions.count, dimensions.sizes);
  }
  store_back(variable);
}

// ---- Element reads ----

void push_result(void* text, double number, Variable* variable, const void* address) {
  stack_push_value(text, number, variable, platform::address_of(address));
}

// A numeric value read at an address of the variable; a field holding a runtime-owned
// text reads back as that text.
void push_number_at(Variable* variable, double number, const void* address) {
  const uint32_t value = static_cast<uint32_t>(truncate_to_int(number));
  if (value) {
    Variable* holder = variable->owner ? variable->owner : variable;
    for (ReferenceNode* node = holder->references; node; node = node->next) {
      if (platform::address_of(node->block) == value) {
        push_result(node->block, 0, variable, address);
        return;
      }
    }
  }
  push_result(nullptr, number, variable, address);
}

void report_range(const Variable* variable, int32_t index) {
  runtime_error("Index %d out of range of [%s]", index, name_of(variable));
  stack_push_number(current_program, 0);
}

void read_array_element(Variable* variable, const int32_t* indices, int32_t count) {
  // A member column addresses its owner's block, which may have been replaced.
  if (variable->owner && !member_check_attached(variable)) {
    stack_push_number(current_program, 0);
    return;
  }
  const int32_t index = count > 1 ? array_linear_index(variable, indices, count) : indices[0];
  if (index < 0 || static_cast<uint32_t>(index) >= variable->element_count) {
    report_range(variable, index);
    return;
  }
  const Variable* owner = variable->owner;
  uint8_t* address;
  if (owner && (owner->flags & kVariableStructureArray) && !owner->column_major) {
    address = static_cast<uint8_t*>(owner->data) + static_cast<uint32_t>(owner->type_code) * index +
              variable->member_offset;
  } else {
    // Plain arrays, and the member columns of a column-major structure array.
    address = static_cast<uint8_t*>(variable->data) + type_size(variable->type_code) * index;
  }
  if (variable->type_code == -8 && variable_slots_hold_numbers(variable)) {
    // The common array of doubles: the element is its number.
    double number;
    std::memcpy(&number, address, sizeof number);
    push_result(nullptr, number, variable, address);
    return;
  }
  void* text;
  double number;
  get_variable_value(variable, &text, &number, address);
  push_result(text, number, variable, address);
}

void read_list_element(Variable* variable, int32_t index) {
  ListElement* shown = variable->cursor;
  if (!shown) {
    push_result(nullptr, 0, variable, nullptr);
  } else {
    variable->cursor = list_element_at(shown, index);
    variable_load_from_element(variable);
    void* text;
    double number;
    get_variable_value(variable, &text, &number, nullptr);
    variable->cursor = shown;
    variable_load_from_element(variable);
    push_result(text, number, variable, nullptr);
  }
  current_program->stack_top->flags |= kCellElementOffset;
}

void read_packed_item(Variable* variable, const int32_t* indices, int32_t count, uint32_t nested) {
  const PackedItem* base = static_cast<const PackedItem*>(variable->data);
  if (nested) {
    double word;
    std::memcpy(&word, platform::pointer_from(nested), sizeof word);
    base = platform::pointer_from<const PackedItem>(static_cast<uint32_t>(truncate_to_int(word)));
  }
  const int32_t index = count > 1 ? array_linear_index(variable, indices, count) : indices[0];
  if (!base || index < 0 || static_cast<uint32_t>(index) >= packed_list_count(base, false)) {
    report_range(variable, index);
    return;
  }
  const auto* item = reinterpret_cast<const uint8_t*>(base) + 9 * static_cast<uint32_t>(index);
  void* text;
  double number;
  get_variable_value(variable, &text, &number, const_cast<uint8_t*>(item));
  push_result(text, number, variable, item);
}

void read_member(Variable* structure, int32_t index) {
  MemberNode* node = structure->members;
  for (int32_t position = 0; node && position < index; ++position) node = node->next;
  if (index < 0 || !node || !node->member) {
    push_result(nullptr, 0, structure, nullptr);
    return;
  }
  void* text;
  double number;
  get_variable_value(node->member, &text, &number, nullptr);
  push_result(text, number, node->member, nullptr);
}

// Whether width bytes at offset lie inside the variable's own block (a block of unknown
// size, or raw memory named by the number, is the script's to address).
bool inside_block(const Variable* variable, int64_t offset, uint32_t width) {
  if (!variable->data) return true;
  // A block of no bytes (new(v, 0)) holds nothing to read; only memory that is no heap
  // block of known size goes unchecked.
  uint32_t size;
  if (!alloc_block_known(variable->data, &size)) return true;
  return offset >= 0 && offset + width <= size;
}

void read_plain(Variable* variable, const int32_t* indices, int32_t count) {
  auto* base = variable->data ? static_cast<uint8_t*>(variable->data)
                              : platform::pointer_from<uint8_t>(static_cast<uint32_t>(truncate_to_int(variable->number)));
  const int32_t offset = indices[0];
  const int32_t code = count == 2 ? indices[1] : -1;
  if (count == 2 && code == 0) {
    // The last offset characters of the text.
    const char* text = static_cast<const char*>(variable->data);
    const size_t length = text ? std::strlen(text) : 0;
    const size_t taken = offset <= 0 ? 0 : (static_cast<size_t>(offset) < length ? static_cast<size_t>(offset) : length);
    const char* source = text ? text + length - taken : nullptr;
    auto* copy = static_cast<char*>(crt::malloc(taken + 1));
    if (!copy) return;
    if (taken) std::memcpy(copy, source, taken);
    copy[taken] = 0;
    context_own_allocation(current_program, copy, current_program->call_depth, kOwnedMemory);
    push_result(copy, 0, variable, source);
    return;
  }
  if (count == 2 && code > 0) {
    const uint32_t size = static_cast<uint32_t>(code);
    if (!inside_block(variable, offset, size)) {
      report_range(variable, offset);
      return;
    }
    auto* copy = static_cast<char*>(crt::malloc(size + 1));
    if (!copy) return;
    std::memcpy(copy, base + offset, size);
    copy[size] = 0;
    context_own_allocation(current_program, copy, current_program->call_depth, kOwnedMemory);
    push_result(copy, 0, variable, base + offset);
    return;
  }
  // A typed read (-9 .. -1), else the byte at the offset.
  const int32_t type = code >= -9 && code <= -1 && code != -6 && code != -7 ? code : -1;
  const uint32_t width = type_size(type);
  const int64_t position = static_cast<int64_t>(offset) * width;
  if (!inside_block(variable, position, width)) {
    report_range(variable, offset);
    return;
  }
  uint8_t* address = base + static_cast<int32_t>(position);
  void* text;
  double number;
  load_typed_value(nullptr, address, type, &text, &number);
  push_number_at(variable, number, address);
}

// One element of the variable onto the stack. nested: the data word of the variable's
// cell, the address of a packed-list item holding a nested list.
void read_element(Variable* variable, const int32_t* indices, int32_t count, uint32_t nested) {
  if (!variable || count <= 0) {
    stack_push_number(current_program, 0);
    return;
  }
  if (variable->element_count) {
    read_array_element(variable, indices, count);
  } else if (variable->flags & kVariableList) {
    read_list_element(variable, indices[0]);
  } else if (variable->flags & kVariablePackedList) {
    read_packed_item(variable, indices, count, nested);
  } else if (variable->flags & kVariableStructure) {
    read_member(variable, indices[0]);
  } else {
    read_plain(variable, indices, count);
  }
}

// Indices above the innermost mark, first first; at most the dimension table's worth.
bool take_indices(std::vector<int32_t>& indices) {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells)) return false;
  indices.clear();
  for (ValueCell* cell : cells) indices.push_back(truncate_to_int(cell_number(cell)));
  return true;
}

void builtin_offset() {
  std::vector<int32_t> indices;
  if (!take_indices(indices)) return;
  ValueCell* cell = stack_pop(current_program);
  const uint32_t nested = cell->data;
  Variable* variable = cell_variable(cell);
  read_element(variable, indices.data(), static_cast<int32_t>(indices.size()), nested);
}

void builtin_offset1() {
  const int32_t index = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  const uint32_t nested = cell->data;
  read_element(cell_variable(cell), &index, 1, nested);
}

void builtin_offset2() {
  std::vector<int32_t> indices;
  if (!take_indices(indices)) return;
  read_element(instruction_target_variable(current_instruction), indices.data(),
               static_cast<int32_t>(indices.size()), 0);
}

void builtin_offset2_1() {
  const int32_t index = pop_integer();
  read_element(instruction_target_variable(current_instruction), &index, 1, 0);
}

void builtin_offset2_2() {
  const int32_t index = truncate_to_int(current_instruction->operand);
  read_element(instruction_target_variable(current_instruction), &index, 1, 0);
}

// object.member after an element read: the member of the object the element holds.
void builtin_offsetvar() {
  ValueCell* member = stack_pop(current_program);
  const void* name = member->text;
  const uint32_t slot = member->data;
  const bool narrow = name && !(member->flags & (kCellWideText | kCellList));
  const uint32_t object = static_cast<uint32_t>(cell_to_int(stack_pop(current_program)));
  if (!object) runtime_error("Invalid object variable!");
  // A number that names no object record has no members to look in.
  if (object && !object_record_is_live(platform::pointer_from<Variable>(object))) {
    runtime_error("Invalid object (0x%X)", object);
    stack_push_number(current_program, 0);
    return;
  }
  Variable* outer_object = current_object;
  current_object = platform::pointer_from<Variable>(object);
  InstructionExtension* extension = current_instruction ? current_instruction->extension : nullptr;
  Variable* variable = nullptr;
  if (extension && extension->cached_variable && extension->cached_scope == object) {
    variable = extension->cached_variable;
  } else if (narrow) {
    variable = find_variable(static_cast<const char*>(name));
  }
  void* text = nullptr;
  double number = 0;
  if (variable) {
    get_variable_value(variable, &text, &number, platform::pointer_from(slot));
    if (extension) {
      extension->cached_variable = variable;
      extension->cached_scope = object;
    }
  }
  current_object = outer_object;
  stack_push_value(text, number, variable, 0);
}

}  // namespace

void* allocate_zeroed_block(uint32_t count, uint32_t size) {
  const uint64_t bytes = static_cast<uint64_t>(count) * size;
  if (!bytes || bytes > kLargestBlock) return nullptr;
  void* block = crt::calloc(count, size);
  if (!block && SHCloseApps(static_cast<DWORD>(bytes))) block = crt::calloc(count, size);
  return block;
}

bool dim_numeric(Variable* variable, uint32_t count) {
  if (!variable) return false;
  variable_clear_value(current_program, variable, true, variable->owner != nullptr);
  void* block = allocate_zeroed_block(count ? count : 1, 8);
  if (!block) {
    report_no_memory(variable, static_cast<uint64_t>(count) * 8);
    return false;
  }
  variable->data = block;
  variable->element_count = count;
  std::memset(variable->dims, 0, sizeof variable->dims);
  variable->dims[0] = count;
  variable->dim_count = 1;
  variable->flags |= kVariableOwnsData;
  variable->type_code = -8;
  track_variable_block(block);
  store_back(variable);
  return true;
}

void register_array_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"type", builtin_type},           {"clear", builtin_clear},         {"columnmajor", builtin_columnmajor},
      {"rowmajor", builtin_rowmajor},   {"dim", builtin_dim},             {"sdim", builtin_sdim},
      {"tdim", builtin_tdim},           {"redim", builtin_redim},         {"__offset", builtin_offset},
      {"__offset1", builtin_offset1},   {"__offsetvar", builtin_offsetvar}, {"__offset2", builtin_offset2},
      {"__offset2_1", builtin_offset2_1}, {"__offset2_2", builtin_offset2_2},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
}
