// The value stack of a program: cells pushed, reused and popped, stack marks of
// variadic calls, and the conversions of a cell to an integer and to text.
#pragma once

#include <cstdint>

#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/numbers.h"
#include "foundation/value_cell.h"
#include "foundation/variable.h"
#include "platform/kernel/types.h"

// A zeroed cell from the context's heap, linked above the top (the top does not move).
// Null when memory runs out.
ValueCell* stack_alloc_cell(ProgramContext* context);

// Makes the spare cell above the top (or a new one) the top. A reused cell keeps every
// field; clear_flags clears its flags only. Null when memory runs out.
[[gnu::always_inline]] inline ValueCell* stack_push_cell(ProgramContext* context, bool clear_flags) {
  ValueCell* top = context->stack_top;
  ValueCell* cell = top ? top->above : nullptr;
  if (cell) {
    if (clear_flags) cell->flags = 0;
  } else {
    cell = stack_alloc_cell(context);
    if (!cell) return nullptr;
  }
  context->stack_top = cell;
  return cell;
}

// Makes a cell hold a plain number (or a text): everything else becomes 0, so nothing of a
// reused cell's last value shows through.
[[gnu::always_inline]] inline void cell_hold_plain(ValueCell* cell, double number, void* text = nullptr) {
  cell->number = number;
  cell->text = text;
  cell->variable = nullptr;
  cell->data = 0;
  cell->flags = 0;
  cell->variant_type = 0;
  cell->references = nullptr;
}

// Makes a cell hold every field of value but its place in the chain: the links and the
// height stay the cell's own, as the kept texts judge whether a cell is still on the stack
// by its height.
inline void cell_take_value(ValueCell* cell, const ValueCell& value) {
  ValueCell* const below = cell->below;
  ValueCell* const above = cell->above;
  const uint16_t height = cell->height;
  *cell = value;
  cell->below = below;
  cell->above = above;
  cell->height = height;
}

// Pushes a number held plainly.
[[gnu::always_inline]] inline void stack_push_number(ProgramContext* context, double number) {
  ValueCell* cell = stack_push_cell(context, false);
  if (cell) cell_hold_plain(cell, number);
}

// Pushes number, text, variable and data with flags, variant type and references 0 on
// the current program; returns data.
uint32_t stack_push_value(void* text, double number, Variable* variable, uint32_t data);
// Pushes an unsigned value, or a double, as a number on the current program.
void stack_push_uint(uint32_t value);
void stack_push_double(double value);
// The same for a double handed over as two words (low word first), as machine code passes it.
void stack_push_double_words(uint32_t low, uint32_t high);

// The empty-stack case of stack_pop: a run-time error and a zeroed cell.
[[gnu::cold]] ValueCell* stack_pop_empty();

// Pops the top cell: it stays valid until the next push. An empty stack is reported as a
// run-time error and gives a zeroed cell.
[[gnu::always_inline]] inline ValueCell* stack_pop(ProgramContext* context) {
  ValueCell* cell = context->stack_top;
  if (!cell) [[unlikely]] return stack_pop_empty();
  context->stack_top = cell->below;
  return cell;
}

// The integer a cell stands for: its number truncated when non-zero, else its data word
// when non-zero, else the address of its text.
inline int32_t cell_to_int(const ValueCell* cell) {
  if (cell->number != 0.0) return truncate_to_int(cell->number);
  if (cell->data) return static_cast<int32_t>(cell->data);
  return static_cast<int32_t>(platform::address_of(cell->text));
}

// Pops one cell of the context and gives its integer.
inline int32_t stack_pop_int(ProgramContext* context) { return cell_to_int(stack_pop(context)); }
// Pops an integer and takes it off the program's owned allocations: the caller now owns
// the memory it names.
int32_t stack_pop_owned_pointer(ProgramContext* context);

// The cell's text as it is, or its number as text owned by the current program until
// the call depth that is running ends.
char* cell_text(const ValueCell* cell);
// The cell's text as UTF-16: its own text when it is UTF-16, else a converted copy owned
// by the current program like cell_text's.
WCHAR* cell_wide_text(const ValueCell* cell);
// A new UTF-16 copy of the cell's text (or number) that the caller frees with crt::free.
WCHAR* cell_wide_copy(const ValueCell* cell);

// Frees every cell of the context's chain, the spare ones above the top included; the
// stack is then empty and holds no marks. Raises the stack generation of every program
// that shares the stack.
void stack_free_all(ProgramContext* context);

// A stack top taken before a call into script code, which may free every cell of the
// stack (clearstack, or the end of a program that shares it).
struct HeldStackTop {
  ValueCell* cell;
  uint32_t generation;
};
inline HeldStackTop stack_hold_top(const ProgramContext* context) {
  return HeldStackTop{context->stack_top, context->stack_generation};
}
// Whether the held cell is still a cell of the context's stack: no cell was freed since it
// was held. (A freed cell's address may be a new cell's by now: it is never looked for.)
inline bool stack_held_cell_live(const ProgramContext* context, const HeldStackTop& held) {
  return context->stack_generation == held.generation;
}
// Makes the held top the top again, dropping what was pushed since. When the stack was
// freed meanwhile, everything it holds was pushed since, and it is freed too.
void stack_return_to(ProgramContext* context, const HeldStackTop& held);
// Whether something was pushed (or popped) since the top was held.
inline bool stack_top_moved(const ProgramContext* context, const HeldStackTop& held) {
  return stack_held_cell_live(context, held) ? context->stack_top != held.cell : context->stack_top != nullptr;
}

// stack_save_mark when no slot is left: the run-time error, false.
[[gnu::cold]] bool stack_save_mark_refused(ProgramContext* context);

// Saves the top as a stack mark before the arguments of a variadic call. More than
// kStackMarkSlots nested marks are refused with a run-time error (false).
inline bool stack_save_mark(ProgramContext* context) {
  const int32_t count = context->mark_count;
  if (count < 0 || count >= kStackMarkSlots) [[unlikely]] return stack_save_mark_refused(context);
  context->stack_marks[count] = context->stack_top;
  context->mark_count = count + 1;
  return true;
}
// Takes the innermost mark: the top before the first argument was pushed. False, after a
// run-time error, when no mark is saved.
bool stack_take_mark(ProgramContext* context, ValueCell** mark);
// Takes the innermost mark and pops every cell above it: the number of arguments, or -1
// after a run-time error (no mark, or the mark is not below the top).
int32_t stack_pop_to_mark(ProgramContext* context);

// True for a variable whose value is its number and data as they stand: no alias, type,
// getter, owned references, list, structure or owner to consult.
inline bool variable_reads_plain(const Variable* variable) {
  return !variable->alias && !variable->type_code && !variable->getter && !variable->references &&
         !(variable->flags & (kVariableList | kVariableStructure)) && !variable->owner;
}

// stack_push_variable_value for every variable that is not plain (and for null).
void stack_push_variable_value_slow(Variable* variable);

// Pushes the value of variable (or of the end of its alias chain, unless the one-shot
// alias_follow_suppressed is set, which it clears) with the variable in the cell.
inline void stack_push_variable_value(Variable* variable) {
  ProgramContext* context = current_program;
  if (!variable || !context || !variable_reads_plain(variable)) return stack_push_variable_value_slow(variable);
  alias_follow_suppressed = 0;
  ValueCell* cell = stack_push_cell(context, false);
  if (!cell) [[unlikely]] return;
  cell->number = variable->number;
  cell->text = variable->data;
  cell->variable = variable;
  cell->data = 0;
  uint32_t flags = (variable->flags & kVariablePackedList) ? kCellList : 0;
  if (variable->flags & kVariableWideText) flags |= kCellWideText;
  cell->flags = flags;
  cell->variant_type = 0;
  cell->references = nullptr;
}
// Pushes the value of the named variable (declared in the current scope when missing),
// following its alias chain unless the one-shot alias_follow_suppressed is set.
void stack_push_variable(const char* name);

// The variadic-procedure entry: every argument above the innermost mark becomes an
// element of the list variable "ARGS$" (first argument first); by-reference arguments
// name their variable (element_reference_variable) instead of copying the value.
void build_args_list();

// The variable a by-reference element of "ARGS$" stands for; null for a value element.
Variable* element_reference_variable(const ListElement* element);
