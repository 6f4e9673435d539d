// Increment, decrement and bitwise compound assignment: read the target's value, store
// the new one with set_variable and, when the expression uses it, push the variable.
#include "vm/increment.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "platform/kernel/wide_string.h"
#include "vm/builtin_registry.h"
#include "foundation/packed_list.h"
#include "vm/assignment.h"
#include "vm/elementwise.h"
#include "vm/machine.h"
#include "vm/push_instructions.h"

namespace {

inline double cell_value(const ValueCell* cell) {
  return cell->text ? text_to_number(static_cast<const char*>(cell->text)) : cell->number;
}

// The visible variable of that name, declared in the current scope when missing; null
// for a name that cannot name a variable.
Variable* variable_by_name(const char* name, uint32_t hash) {
  if (!name) return nullptr;
  Variable* variable = find_variable(name, hash);
  return variable ? variable : get_variable(current_scope, name);
}

// The variable a target cell names: its variable, else the variable spelled by its text
// or by its number.
Variable* target_variable(const ValueCell* target) {
  if (target->variable) return target->variable;
  if (target->text) return variable_by_name(static_cast<const char*>(target->text), 0);
  char* name = number_to_text(target->number);
  Variable* variable = variable_by_name(name, 0);
  crt::free(name);
  return variable;
}

// The variable named by the running instruction, at the end of its alias chain unless
// the one-shot switch keeps the variable itself. Found through the instruction's cache,
// as a push finds its variable.
Variable* instruction_variable() {
  InstructionNode* node = current_instruction;
  if (!node->extension) instruction_extension_for(node, emit_pool);
  Variable* variable = node->text ? ::instruction_variable(node) : nullptr;
  if (alias_follow_suppressed) {
    alias_follow_suppressed = 0;
  } else {
    while (variable && variable->alias) variable = variable->alias;
  }
  return variable;
}

// Where a typed variable keeps its value; null for a plain one.
void store_number(Variable* variable, double number, void* address) {
  set_variable(variable, nullptr, number, address, 0);
}

// set_variable copies the text; the caller frees its own.
void store_text(Variable* variable, char* text, void* address) {
  set_variable(variable, text, 0, address, static_cast<int32_t>(std::strlen(text)) + 1);
}

// The variable's value pushed as a reference cell, when the expression uses it.
void push_variable_value(Variable* variable) {
  if (!push_after_assign) return;
  push_after_assign = 0;
  if (alias_follow_suppressed) {
    alias_follow_suppressed = 0;
  } else {
    while (variable->alias) variable = variable->alias;
  }
  void* text = nullptr;
  double number = 0;
  get_variable_value(variable, &text, &number, nullptr);
  stack_push_value(text, number, variable, 0);
  ValueCell* cell = current_program->stack_top;
  if (!cell || cell->variable != variable) return;
  if (variable->flags & kVariablePackedList) cell->flags |= kCellList;
  if (variable->flags & kVariableWideText) cell->flags |= kCellWideText;
}

// The store that follows a push of the old value frees the variable's old text: the
// pushed cell gets its own copy, owned by the program until the running call ends.
void keep_pushed_text() {
  ValueCell* cell = current_program->stack_top;
  if (!cell || !cell->text || cell->variable == nullptr) return;
  uint32_t size = alloc_block_size(cell->text);
  if (!size) {
    size = (cell->flags & kCellWideText)
               ? static_cast<uint32_t>((crt::wcslen(static_cast<const WCHAR*>(cell->text)) + 1) * sizeof(WCHAR))
               : static_cast<uint32_t>(std::strlen(static_cast<const char*>(cell->text)) + 1);
  }
  void* copy = crt::malloc(size);
  if (copy) {
    std::memcpy(copy, cell->text, size);
    if (!context_own_allocation(current_program, copy, 0, kOwnedMemory)) {
      crt::free(copy);
      copy = nullptr;
    }
  }
  cell->text = copy;
  if (!copy) cell->flags &= ~(kCellWideText | kCellList);
}

// The value before a store: pushed, with its text kept apart from the variable's.
void push_value_before_store(Variable* variable) {
  if (!push_after_assign) return;
  push_variable_value(variable);
  keep_pushed_text();
}

// A target that names no variable stores nothing; a used value is 0.
void missing_target() {
  if (!push_after_assign) return;
  push_after_assign = 0;
  stack_push_number(current_program, 0.0);
}

// The variable the instruction names with its value as read; false (after pushing the
// missing value when one is wanted) when there is none.
struct InstructionTarget {
  Variable* variable = nullptr;
  void* address = nullptr;
  void* text = nullptr;
  double number = 0;
};

bool read_instruction_target(InstructionTarget& target) {
  target.variable = instruction_variable();
  if (!target.variable) {
    missing_target();
    return false;
  }
  target.address = variable_typed_address(target.variable);
  get_variable_value(target.variable, &target.text, &target.number, target.address);
  return true;
}

enum class Order { PushBefore, PushAfter };

template <Order order>
void step_target(double step) {
  ValueCell* target = stack_pop(current_program);
  double value = cell_value(target);
  void* address = platform::pointer_from<void>(target->data);
  Variable* variable = target_variable(target);
  if (!variable) {
    missing_target();
    return;
  }
  if (order == Order::PushBefore) push_value_before_store(variable);
  store_number(variable, value + step, address);
  if (order == Order::PushAfter) push_variable_value(variable);
}

template <Order order>
void step_instruction_variable(double step) {
  InstructionTarget target;
  if (!read_instruction_target(target)) return;
  // The step goes to the number as read: a text variable becomes a number.
  if (order == Order::PushBefore) push_value_before_store(target.variable);
  store_number(target.variable, target.number + step, target.address);
  if (order == Order::PushAfter) push_variable_value(target.variable);
}

// "++3"/"--3": numbers step by k, packed lists element by element, texts get k's text
// appended or lose k characters at the end.
void step_by_constant(bool increment) {
  double constant = current_instruction->operand;
  InstructionTarget target;
  if (!read_instruction_target(target)) return;
  Variable* variable = target.variable;
  void* address = target.address;
  void* text = target.text;
  double number = target.number;
  push_value_before_store(variable);
  if (!text) {
    store_number(variable, increment ? number + constant : number - constant, address);
    return;
  }
  if (variable->flags & kVariablePackedList) {
    // The stepped list is the program's until the running call ends; the variable keeps
    // a deep copy of it.
    void* stepped = packed_list_combine_scalar(increment ? '+' : '-', text, nullptr, constant);
    if (stepped && context_own_allocation(current_program, stepped, 0, kOwnedMemory)) {
      variable_store_packed_list(variable, stepped);
    } else {
      crt::free(stepped);
    }
    return;
  }
  const char* old_text = static_cast<const char*>(text);
  size_t length = std::strlen(old_text);
  char* result;
  if (increment) {
    char* suffix = number_to_text(constant);
    size_t suffix_length = std::strlen(suffix);
    result = static_cast<char*>(crt::malloc(length + suffix_length + 1));
    if (result) {
      std::memcpy(result, old_text, length);
      std::memcpy(result + length, suffix, suffix_length + 1);
    }
    crt::free(suffix);
  } else {
    // The count is kept within the text, so no byte before or after it is touched.
    int32_t count = truncate_to_int(constant);
    if (count < 0) count = 0;
    if (static_cast<size_t>(count) > length) count = static_cast<int32_t>(length);
    size_t kept = length - static_cast<size_t>(count);
    result = static_cast<char*>(crt::malloc(kept + 1));
    if (result) {
      std::memcpy(result, old_text, kept);
      result[kept] = 0;
    }
  }
  if (!result) return;
  store_text(variable, result, address);
  crt::free(result);
}

enum class Bitwise { Or, Xor, And };

inline int64_t combine(Bitwise operation, int64_t left, int64_t right) {
  switch (operation) {
    case Bitwise::Or: return left | right;
    case Bitwise::Xor: return left ^ right;
    case Bitwise::And: return left & right;
  }
  return 0;
}

// The number fields are taken as they stand: a text operand counts as its number field.
template <Bitwise operation>
void combine_target() {
  ValueCell* value = stack_pop(current_program);
  double operand = value->number;
  ValueCell* target = stack_pop(current_program);
  double current = target->number;
  void* address = platform::pointer_from<void>(target->data);
  Variable* variable = target_variable(target);
  if (!variable) {
    missing_target();
    return;
  }
  int64_t result = combine(operation, truncate_to_int64(current), truncate_to_int64(operand));
  store_number(variable, static_cast<double>(result), address);
  push_variable_value(variable);
}

template <Bitwise operation>
void combine_instruction_variable() {
  ValueCell* value = stack_pop(current_program);
  double operand = value->number;
  InstructionTarget target;
  if (!read_instruction_target(target)) return;
  int64_t result = combine(operation, truncate_to_int64(operand), truncate_to_int64(target.number));
  store_number(target.variable, static_cast<double>(result), target.address);
  push_variable_value(target.variable);
}

}  // namespace

void op_increment() { step_target<Order::PushBefore>(1); }
void op_decrement() { step_target<Order::PushBefore>(-1); }
void op_preincrement() { step_target<Order::PushAfter>(1); }
void op_predecrement() { step_target<Order::PushAfter>(-1); }

void op_increment2() { step_instruction_variable<Order::PushBefore>(1); }
void op_decrement2() { step_instruction_variable<Order::PushBefore>(-1); }
void op_increment4() { step_instruction_variable<Order::PushAfter>(1); }
void op_decrement4() { step_instruction_variable<Order::PushAfter>(-1); }
void op_increment3() { step_by_constant(true); }
void op_decrement3() { step_by_constant(false); }

void op_or_assign() { combine_target<Bitwise::Or>(); }
void op_xor_assign() { combine_target<Bitwise::Xor>(); }
void op_and_assign() { combine_target<Bitwise::And>(); }
void op_or_assign2() { combine_instruction_variable<Bitwise::Or>(); }
void op_xor_assign2() { combine_instruction_variable<Bitwise::Xor>(); }
void op_and_assign2() { combine_instruction_variable<Bitwise::And>(); }

void register_increment_handlers() {
  builtin_register("++", op_increment);
  builtin_register("--", op_decrement);
  builtin_register("++2", op_preincrement);
  builtin_register("--2", op_predecrement);
  builtin_register("|=", op_or_assign);
  builtin_register("^=", op_xor_assign);
  builtin_register("&=", op_and_assign);
}
