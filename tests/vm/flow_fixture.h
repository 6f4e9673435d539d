// A machine fixture with a globals head and a local scope, and the small handlers that
// control-flow and declaration chains are built of: marks, pushes and traces of variables.
#pragma once

#include <cmath>

#include "foundation/machine_state.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "machine_fixture.h"
#include "tests/foundation/scope_lists.h"

// Saves a stack mark, as the compiler does before a variadic statement.
inline void op_mark() { stack_save_mark(current_program); }
// Pushes the instruction's text as a name cell (no variable, no number).
inline void op_push_name() { stack_push_value(current_instruction->text, 0, nullptr, 0); }
// Pushes the value of the variable the text names, with the variable.
inline void op_push_variable() { stack_push_variable(current_instruction->text); }
// Pushes the instruction's text as a text value.
inline void op_push_text() { stack_push_value(current_instruction->text, 0, nullptr, 0); }

// The number the variable named by the instruction's text holds.
inline double value_of(const char* name) {
  void* text = nullptr;
  double number = 0;
  get_value_by_name(name, &text, &number, nullptr);
  return number;
}
// Appends the value of the variable the text names to the trace.
inline void op_trace_variable() { trace.push_back(static_cast<int>(std::lround(value_of(current_instruction->text)))); }
// Pushes 1 when the variable the text names is below the operand, else 0.
inline void op_push_below() {
  stack_push_number(current_program, value_of(current_instruction->text) < current_instruction->operand ? 1 : 0);
}
// Pushes 1 when the variable the text names differs from the operand, else 0.
inline void op_push_differs() {
  stack_push_number(current_program, value_of(current_instruction->text) != current_instruction->operand ? 1 : 0);
}
// Adds the operand to the variable the text names.
inline void op_add_to_variable() {
  set_variable_by_name(current_instruction->text, nullptr, value_of(current_instruction->text) + current_instruction->operand,
                       nullptr, 0);
}

class FlowTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    context->pool = pool_create(4096);
    locals = open_scope_lists(context);
    free_percent_variables(context);
    no_explicit_check = 0;
  }
  void TearDown() override {
    current_object = nullptr;
    close_scope_lists(context, locals);
    context_release_owned(context);
    MachineTest::TearDown();
  }
  // The number of cells on the stack.
  int depth() const {
    int count = 0;
    for (ValueCell* cell = context->stack_top; cell; cell = cell->below) ++count;
    return count;
  }

  Variable* locals = nullptr;
};
