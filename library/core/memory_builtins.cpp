// C-like memory for scripts: blocks owned by variables, free-standing blocks, the C block
// operations, size queries, typed reads and writes at an address and bit-field helpers.
// Addresses are plain numbers: nothing here can tell a good one from a bad one, so a wrong
// address faults as the platform does and the run loop's trap reports it.
#include "library/core/memory_builtins.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/declarations.h"

namespace {

// Multi-byte values are moved byte by byte: script addresses need no alignment.
template <typename T>
T read_at(uint32_t address) {
  T value;
  std::memcpy(&value, platform::pointer_from(address), sizeof value);
  return value;
}

template <typename T>
void write_at(uint32_t address, T value) {
  std::memcpy(platform::pointer_from(address), &value, sizeof value);
}

uint32_t pop_unsigned() { return static_cast<uint32_t>(truncate_to_int(pop_number())); }

// Truncation toward zero to 64 bits; NaN, infinities and numbers beyond the range give 0
// (a plain conversion would be undefined for them).
int64_t truncate_to_int64(double value) {
  if (!(std::fabs(value) < 9223372036854775808.0)) return 0;
  return static_cast<int64_t>(value);
}

void push_address(const void* pointer) { stack_push_uint(platform::address_of(pointer)); }

void* tracked_block(uint32_t size, uint32_t count) {
  void* block = crt::calloc(size, count);
  if (block && memory_tracking) track_allocation("memory", 0, block, size * count);
  return block;
}

void free_tracked(void* block) {
  if (!block) return;
  untrack_allocation(block);
  crt::free(block);
}

// A list variable keeps its value in its current element too.
void store_back(Variable* variable) {
  if (variable->flags & kVariableList) variable_store_to_element(variable);
}

// The variable whose block new/wnew/resize work on, after their number argument.
Variable* pop_variable_argument() {
  ValueCell* cell = stack_pop(current_program);
  return cell_named_variable(cell);
}

void give_block(Variable* variable, void* block, int32_t type_code, uint32_t extra_flags) {
  if (block) {
    variable->data = block;
    variable->type_code = type_code;
    variable->flags |= kVariableOwnsData | kVariableAdopted | extra_flags;
  } else {
    variable->type_code = 0;
  }
  store_back(variable);
  stack_push_number(current_program, variable->type_code != 0 ? 1 : 0);
}

// new and wnew: the variable's old value goes and a zeroed block of size x count bytes
// takes its place.
void make_variable_block(uint32_t size, uint32_t count, int32_t type_code, uint32_t extra_flags) {
  Variable* variable = pop_variable_argument();
  if (!variable) {
    stack_push_number(current_program, 0);
    return;
  }
  variable_release(current_program, variable, true, false);
  variable->data = nullptr;
  variable->flags &= ~(kVariableOwnsData | kVariableAdopted | kVariableWideText);
  give_block(variable, tracked_block(size, count), type_code, extra_flags);
}

void builtin_new() {
  int32_t type_code = pop_integer();
  make_variable_block(type_size(type_code), 1, type_code, 0);
}

void builtin_wnew() {
  int32_t characters = pop_integer();
  uint32_t count = characters < 0 ? 0u - static_cast<uint32_t>(characters) : static_cast<uint32_t>(characters);
  // A count whose byte size leaves the type code's range is more than memory can hold.
  const int64_t bytes = int64_t{characters} * 2;
  if (bytes > INT32_MAX || bytes < -INT32_MAX) count = 0x80000000u;
  make_variable_block(count, 2, static_cast<int32_t>(bytes), kVariableWideText);
}

void builtin_resize() {
  int32_t type_code = pop_integer();
  Variable* variable = pop_variable_argument();
  if (!variable) return;
  // An object's data is its class name, which the object's end frees.
  if (variable->flags & kVariableObject) {
    runtime_error("resize: the variable holds an object");
    return;
  }
  // A packed list's block ends with its end item and owns its texts: cut or grown as
  // raw memory it would be freed as a list it no longer is.
  if (variable->flags & kVariablePackedList) {
    runtime_error("resize: the variable holds a packed list");
    return;
  }
  // The member columns of an array of structures address records across the whole
  // block; cut or grown as one raw block they would reach past it.
  if ((variable->flags & kVariableStructure) && variable->element_count) {
    runtime_error("resize: the variable holds an array of structures");
    return;
  }
  uint32_t new_size = type_size(type_code);
  if ((variable->flags & kVariableOwnsData) && variable->data) {
    uint32_t old_size = variable->type_code != 0 ? type_size(variable->type_code) : alloc_block_size(variable->data);
    untrack_allocation(variable->data);
    note_block_released(variable->data);
    void* grown = crt::realloc(variable->data, new_size ? new_size : 1);
    if (!grown) {
      // The old block stays, and so does the type that describes its size.
      if (memory_tracking) track_allocation("memory", 0, variable->data, old_size);
      return;
    }
    variable->data = grown;
    if (new_size > old_size) std::memset(static_cast<char*>(grown) + old_size, 0, new_size - old_size);
    // Cut to no size, the one byte left is an empty text.
    if (!new_size) *static_cast<char*>(grown) = 0;
    if (memory_tracking) track_allocation("memory", 0, variable->data, new_size);
  } else if (variable->flags & kVariableOwnsData) {
    variable->data = tracked_block(new_size, 1);
  }
  variable->type_code = variable->data ? type_code : 0;
  variable->flags |= kVariableOwnsData;
  // The block is now one value of the new type code: an array's element count no longer
  // describes it.
  variable->element_count = 0;
  variable->dim_count = 0;
  variable->column_major = 0;
  // A structure's members follow its block; those beyond its new size show nothing.
  if (variable->flags & kVariableStructure) relink_struct_members(variable);
  store_back(variable);
}

void free_one(ValueCell* cell) {
  Variable* variable = cell->variable;
  if (variable && (variable->flags & kVariableObject)) {
    object_destroy(current_program, variable);
    return;
  }
  void* pointer = variable && (variable->flags & kVariableAdopted)
                      ? variable->data
                      : platform::pointer_from(static_cast<uint32_t>(cell_to_int(cell)));
  if (pointer) {
    if (!variable) {
      free_tracked(pointer);
    } else if (pointer == variable->data) {
      if (variable->flags & kVariableOwnsData) {
        variable_release(current_program, variable, true, false);
        variable->data = nullptr;
        variable->flags &= ~(kVariableOwnsData | kVariableAdopted);
      } else {
        free_tracked(pointer);
        variable->flags &= ~kVariableAdopted;
        variable->data = nullptr;
        variable->type_code = 0;
      }
    } else {
      free_tracked(pointer);
    }
  }
  if (variable) store_back(variable);
}

void builtin_free() {
  ValueCell* mark;
  if (!stack_take_mark(current_program, &mark)) return;
  while (current_program->stack_top && current_program->stack_top != mark) {
    free_one(stack_pop(current_program));
  }
}

void builtin_malloc() {
  uint32_t size = pop_unsigned();
  push_address(tracked_block(size, 1));
}

void builtin_memset() {
  uint32_t count = pop_unsigned();
  int32_t value = pop_integer();
  uint32_t address = pop_address();
  void* block = platform::pointer_from(address);
  if (count) std::memset(block, value & 0xFF, count);
  stack_push_value(block, 0, nullptr, 0);
}

void builtin_memchr() {
  uint32_t count = pop_unsigned();
  int32_t value = pop_integer();
  uint32_t address = pop_address();
  const void* found = count ? std::memchr(platform::pointer_from(address), value & 0xFF, count) : nullptr;
  push_address(found);
}

void builtin_memcmp() {
  uint32_t count = pop_unsigned();
  uint32_t second = pop_address();
  uint32_t first = pop_address();
  int result = count ? std::memcmp(platform::pointer_from(first), platform::pointer_from(second), count) : 0;
  stack_push_number(current_program, result);
}

void builtin_memmove() {
  uint32_t count = pop_unsigned();
  uint32_t destination = pop_address();
  uint32_t source = pop_address();
  if (count) std::memmove(platform::pointer_from(destination), platform::pointer_from(source), count);
  stack_push_uint(destination);
}

void builtin_memcpy() {
  uint32_t count = pop_unsigned();
  uint32_t source = pop_address();
  uint32_t destination = pop_address();
  if (count) std::memmove(platform::pointer_from(destination), platform::pointer_from(source), count);
  stack_push_uint(destination);
}

void builtin_memsize() { stack_push_uint(alloc_block_size(platform::pointer_from(pop_address()))); }

// The bytes of a text before its terminator (two a character for UTF-16); a heap block
// (a zero-sized one, or one filled to its end) ends the text at its size.
uint32_t text_length(const void* text, bool wide) {
  if (!wide) return block_text_length(static_cast<const char*>(text));
  uint32_t limit = 0;
  if (!alloc_block_known(text, &limit)) limit = UINT32_MAX;
  uint32_t units = 0;
  for (const auto* unit = static_cast<const char16_t*>(text); (units + 1) * 2 <= limit && *unit; ++unit) ++units;
  return units * 2;
}

void builtin_sizeof() {
  ValueCell* cell = stack_pop(current_program);
  uint32_t size;
  if (Variable* variable = cell->variable) {
    if (variable->element_count) {
      size = variable->type_code ? variable->element_count * type_size(variable->type_code) : 0;
    } else if (variable->type_code == 0) {
      // A text variable without a block has no characters to count.
      size = variable->data ? text_length(variable->data, variable->flags & kVariableWideText) : 0;
    } else if (variable->type_code >= -9 && variable->type_code <= -1) {
      size = type_size(variable->type_code);
    } else {
      size = variable->type_code < 0 ? 0u - static_cast<uint32_t>(variable->type_code)
                                     : static_cast<uint32_t>(variable->type_code);
    }
  } else {
    size = cell->text ? text_length(cell->text, cell->flags & kCellWideText) : 8;
  }
  if (cell->data) size = 8;
  stack_push_uint(size);
}

void builtin_size() {
  ValueCell* cell = stack_pop(current_program);
  uint32_t size = cell->text ? alloc_block_size(cell->text) : 8;
  if (cell->data) size = 8;
  stack_push_uint(size);
}

// The typed value at an address; codes outside the numeric types read nothing and give 0.
double read_typed(uint32_t address, int32_t type_code) {
  switch (type_code) {
    case -9: return static_cast<double>(read_at<int64_t>(address));
    case -8: return read_at<double>(address);
    case -5: return read_at<uint32_t>(address);
    case -4:
    case -3: return read_at<int32_t>(address);
    case -2: return read_at<int16_t>(address);
    case -1: return read_at<uint8_t>(address);
    default: return 0;
  }
}

void builtin_peek() {
  int32_t type_code = pop_integer();
  uint32_t address = pop_address();
  if (type_code >= -9 && type_code <= -1) {
    stack_push_number(current_program, read_typed(address, type_code));
    return;
  }
  // Other codes read the word at the address as the address of a text, never more than
  // the eight bytes a number holds.
  uint32_t size = type_code < 0 ? 0u - static_cast<uint32_t>(type_code) : static_cast<uint32_t>(type_code);
  if (size > 8) size = 8;
  auto* copy = static_cast<char*>(crt::calloc(9, 1));
  if (!copy) return;
  std::memcpy(copy, platform::pointer_from(read_at<uint32_t>(address)), size);
  context_own_allocation(current_program, copy, current_program->call_depth, 32);
  stack_push_value(copy, 0, nullptr, 0);
}

void builtin_poke() {
  int32_t type_code = pop_integer();
  ValueCell* value = stack_pop(current_program);
  const double number = cell_number(value);
  const void* text = value->text;
  const bool value_wide = (value->flags & kCellWideText) != 0;
  uint32_t address = pop_address();
  switch (type_code) {
    case -9: write_at<int64_t>(address, truncate_to_int64(number)); return;
    case -8: write_at<double>(address, number); return;
    case -5: write_at<uint32_t>(address, static_cast<uint32_t>(truncate_to_int(number))); return;
    case -4:
    case -3: write_at<int32_t>(address, truncate_to_int(number)); return;
    case -2: write_at<int16_t>(address, static_cast<int16_t>(truncate_to_int(number))); return;
    case -1: write_at<uint8_t>(address, static_cast<uint8_t>(truncate_to_int(number))); return;
    default: break;
  }
  uint32_t size = type_code < 0 ? 0u - static_cast<uint32_t>(type_code) : static_cast<uint32_t>(type_code);
  if (text) {
    // A text gives no more than its block (or its characters and terminator); the rest
    // of the field is zeroed rather than read from beyond it.
    uint32_t available = alloc_block_size(text);
    if (available == 0) available = text_length(text, value_wide) + (value_wide ? 2 : 1);
    uint32_t copied = size < available ? size : available;
    std::memcpy(platform::pointer_from(address), text, copied);
    if (copied < size) std::memset(platform::pointer_from<char>(address) + copied, 0, size - copied);
  } else {
    // A number has only its eight bytes to give.
    if (size > 8) size = 8;
    std::memcpy(platform::pointer_from(address), &number, size);
  }
}

uint32_t pop_bits() { return static_cast<uint32_t>(truncate_to_int(pop_number())); }

void builtin_hiword() { stack_push_uint((pop_bits() >> 16) & 0xFFFF); }
void builtin_loword() { stack_push_uint(pop_bits() & 0xFFFF); }
void builtin_hibyte() { stack_push_uint((pop_bits() & 0xFF00) >> 8); }
void builtin_lobyte() { stack_push_uint(pop_bits() & 0xFF); }

uint64_t pop_double_bits() {
  double number = pop_number();
  uint64_t bits;
  std::memcpy(&bits, &number, sizeof bits);
  return bits;
}

void builtin_hi() { stack_push_uint(static_cast<uint32_t>(pop_double_bits() >> 32)); }
void builtin_lo() { stack_push_uint(static_cast<uint32_t>(pop_double_bits())); }

// The value argument of a typed write; a number needs no conversion call.
int32_t pop_value_integer() {
  const ValueCell* cell = stack_pop(current_program);
  return truncate_to_int(cell->text ? cell_number(cell) : cell->number);
}

void builtin_setint() {
  int32_t value = pop_value_integer();
  write_at<int32_t>(pop_address(), value);
}
void builtin_getint() { stack_push_number(current_program, read_at<int32_t>(pop_address())); }
void builtin_setbyte() {
  uint32_t value = pop_unsigned();
  write_at<uint8_t>(pop_address(), static_cast<uint8_t>(value));
}
void builtin_getbyte() { stack_push_number(current_program, read_at<uint8_t>(pop_address())); }
void builtin_setshort() {
  int32_t value = pop_value_integer();
  write_at<int16_t>(pop_address(), static_cast<int16_t>(value));
}
void builtin_getshort() { stack_push_number(current_program, read_at<int16_t>(pop_address())); }
void builtin_setdouble() {
  double value = pop_number();
  write_at<double>(pop_address(), value);
}
void builtin_getdouble() { stack_push_number(current_program, read_at<double>(pop_address())); }

}  // namespace

void register_memory_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"new", builtin_new},         {"wnew", builtin_wnew},       {"resize", builtin_resize},
      {"free", builtin_free},       {"malloc", builtin_malloc},   {"memset", builtin_memset},
      {"memchr", builtin_memchr},   {"memcmp", builtin_memcmp},   {"memmove", builtin_memmove},
      {"memcpy", builtin_memcpy},   {"memsize", builtin_memsize}, {"sizeof", builtin_sizeof},
      {"size", builtin_size},       {"peek", builtin_peek},       {"poke", builtin_poke},
      {"hiword", builtin_hiword},   {"loword", builtin_loword},   {"hibyte", builtin_hibyte},
      {"lobyte", builtin_lobyte},   {"hi", builtin_hi},           {"lo", builtin_lo},
      {"setint", builtin_setint},   {"getint", builtin_getint},   {"setbyte", builtin_setbyte},
      {"getbyte", builtin_getbyte}, {"setshort", builtin_setshort}, {"getshort", builtin_getshort},
      {"setdouble", builtin_setdouble}, {"getdouble", builtin_getdouble},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
}
