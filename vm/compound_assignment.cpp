// Compound assignment: "+=", "-=", "*=" and "/=" with the fused forms that name their
// target in the instruction. Number or text is decided by whether operands carry text.
#include "vm/compound_assignment.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/arithmetic.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"

namespace {

// A split keeps at most this many pieces.
constexpr int32_t kSplitSlots = 255;

// One operand: its 8-bit text (null for a number) and its number.
struct Operand {
  const char* text;
  double number;
};

// The target of a compound assignment: the variable, where in its data the value goes,
// and its current value.
struct Target {
  Variable* variable;
  void* typed;
  Operand current;
};

// Made texts belong to the running depth.
const char* narrow_owned(const void* text, bool wide) {
  if (!wide) return static_cast<const char*>(text);
  char* narrow = to_narrow(static_cast<const char16_t*>(text));
  if (narrow && current_program && !context_own_allocation(current_program, narrow, 0, kOwnedMemory)) {
    crt::free(narrow);
    narrow = nullptr;
  }
  return narrow ? narrow : "";
}

Operand cell_operand(const ValueCell* cell) {
  if (!cell->text) return Operand{nullptr, cell->number};
  return Operand{narrow_owned(cell->text, cell->flags & kCellWideText), cell->number};
}

double value_of(const Operand& operand) { return operand.text ? text_to_number(operand.text) : operand.number; }
int32_t count_of(const Operand& operand) { return truncate_to_int(value_of(operand)); }

// The text of an operand; a number is formatted into a block *made that the caller frees.
const char* text_of(const Operand& operand, char** made) {
  *made = nullptr;
  if (operand.text) return operand.text;
  *made = number_to_text(operand.number);
  return *made ? *made : "";
}

Variable* variable_by_name(const char* name) {
  if (!name || !*name) return nullptr;
  Variable* variable = find_variable(name);
  return variable ? variable : get_variable(current_scope, name);
}

// The variable a target cell names: its own, else its text (or number) as a name.
Variable* cell_variable(const ValueCell* cell) {
  if (cell->variable) return cell->variable;
  if (cell->text && !(cell->flags & (kCellWideText | kCellList))) {
    return variable_by_name(static_cast<const char*>(cell->text));
  }
  if (cell->text) return nullptr;
  char* name = number_to_text(cell->number);
  Variable* variable = variable_by_name(name);
  crt::free(name);
  return variable;
}

Target cell_target(const ValueCell* cell) {
  return Target{cell_variable(cell), platform::pointer_from(cell->data), cell_operand(cell)};
}

// The fused forms read their variable's value where a store would write it.
Target instruction_target() {
  Target target{};
  target.variable = instruction_variable();
  target.typed = variable_typed_address(target.variable);
  void* text = nullptr;
  get_variable_value(target.variable, &text, &target.current.number, target.typed);
  if (text) {
    bool wide = target.variable && (target.variable->flags & kVariableWideText);
    target.current.text = narrow_owned(text, wide);
  }
  return target;
}

// A plain variable that receives 8-bit text no longer shows UTF-16.
void narrow_width(Variable* variable, const void* typed) {
  if (typed || variable->type_code || variable->element_count ||
      (variable->flags & (kVariableStructure | kVariablePackedList | kVariableObject))) {
    return;
  }
  variable->flags &= ~kVariableWideText;
}

void store_number(const Target& target, double number) {
  if (!target.variable) return;
  set_variable(target.variable, nullptr, number, target.typed, 0);
  push_assigned_value(target.variable);
}

// Stores text (a block this unit made) and frees it.
void store_text(Variable* variable, void* typed, char* text) {
  if (!variable || !text) {
    crt::free(text);
    return;
  }
  set_variable(variable, text, 0, typed, static_cast<int32_t>(std::strlen(text) + 1));
  narrow_width(variable, typed);
  crt::free(text);
}

void store_text(const Target& target, char* text) {
  store_text(target.variable, target.typed, text);
  if (target.variable) push_assigned_value(target.variable);
}

void add_assign(const Target& target, const Operand& value) {
  if (!target.current.text && !value.text) {
    store_number(target, target.current.number + value.number);
    return;
  }
  char* made_left;
  char* made_right;
  const char* left = text_of(target.current, &made_left);
  const char* right = text_of(value, &made_right);
  store_text(target, text_join(left, right));
  crt::free(made_left);
  crt::free(made_right);
}

void sub_assign(const Target& target, const Operand& value) {
  if (!target.current.text) store_number(target, target.current.number - value_of(value));
  else if (!value.text) store_text(target, text_cut(target.current.text, count_of(value)));
  else store_text(target, text_remove_all(target.current.text, value.text));
}

void mul_assign(const Target& target, const Operand& value) {
  const Operand& current = target.current;
  if (!current.text && !value.text) store_number(target, current.number * value.number);
  else if (!current.text) store_text(target, text_repeat(value.text, count_of(current)));
  else if (!value.text) store_text(target, text_repeat(current.text, count_of(value)));
  else store_number(target, value_of(current) * value_of(value));
}

void split_assign(const Target& target, const Operand& value) {
  int32_t pieces = count_of(value);
  if (pieces < 1) {
    push_after_assign = 0;
    return;
  }
  if (pieces > kSplitSlots) {
    runtime_error("A text can be split into at most %d pieces, not %d", kSplitSlots, pieces);
    push_after_assign = 0;
    return;
  }
  const char* text = target.current.text;
  if (push_after_assign) {
    push_after_assign = 0;
    push_split_pieces(text, pieces);
    return;
  }
  int32_t piece_length = split_piece_length(static_cast<int32_t>(std::strlen(text)), pieces);
  // The pieces are cut before any store: the text may belong to a target.
  char* table[kSplitSlots];
  for (int32_t index = 0; index < pieces; ++index) table[index] = split_piece(text, piece_length, index);
  store_text(target.variable, target.typed, table[pieces - 1]);
  // Further targets lie below in the order written: the next one popped takes the
  // piece before, each through its own address.
  for (int32_t index = pieces - 2; index >= 0; --index) {
    // Without further targets (a lone "/=") the earlier pieces go nowhere.
    if (!current_program->stack_top) {
      for (int32_t rest = index; rest >= 0; --rest) crt::free(table[rest]);
      return;
    }
    ValueCell* further = stack_pop(current_program);
    store_text(cell_variable(further), platform::pointer_from(further->data), table[index]);
  }
}

void div_assign(const Target& target, const Operand& value) {
  if (target.current.text && !value.text) split_assign(target, value);
  else store_number(target, target.current.number / value_of(value));
}

// Pops the value, then the target cell.
template <void (*operation)(const Target&, const Operand&)>
void run_generic() {
  ValueCell* value_cell = stack_pop(current_program);
  Operand value = cell_operand(value_cell);
  ValueCell* target_cell = stack_pop(current_program);
  operation(cell_target(target_cell), value);
}

template <void (*operation)(const Target&, const Operand&)>
void run_fused() {
  ValueCell* value_cell = stack_pop(current_program);
  Operand value = cell_operand(value_cell);
  operation(instruction_target(), value);
}

}  // namespace

void op_add_assign() { run_generic<add_assign>(); }
void op_sub_assign() { run_generic<sub_assign>(); }
void op_mul_assign() { run_generic<mul_assign>(); }
void op_div_assign() { run_generic<div_assign>(); }
void op_add_assign2() { run_fused<add_assign>(); }
void op_sub_assign2() { run_fused<sub_assign>(); }
void op_mul_assign2() { run_fused<mul_assign>(); }

void register_compound_assignment_handlers() {
  builtin_register("+=", op_add_assign);
  builtin_register("-=", op_sub_assign);
  builtin_register("*=", op_mul_assign);
  builtin_register("/=", op_div_assign);
}
