// A program made current with a fresh emit pool and a clean machine state, a chain
// builder over emit_instruction_node, and the small handlers the tests build chains of.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/program_context.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"
#include "vm/procedure_call.h"
#include "tests/foundation/scope_lists.h"

// What the trace handlers saw, in order.
inline std::vector<int> trace;

// Appends the node's operand to the trace.
inline void op_trace() { trace.push_back(static_cast<int>(current_instruction->operand)); }
// Appends the TRY depth to the trace.
inline void op_trace_try_depth() { trace.push_back(try_depth); }
inline void op_nothing() {}
inline void op_branch() { current_instruction = current_instruction->extension->link; }
inline void op_end() { stop_flag = 1; }
inline void op_try() { vm_try_push(current_instruction->extension->link); }
inline void op_leave_try() { vm_try_pop(); }
inline void op_exit() {
  exiting_program = current_program;
  stop_flag = 1;
}
inline void op_push_operand() { stack_push_number(current_program, current_instruction->operand); }

// Builds one chain node by node; forward jumps are set with jump_to once the target exists.
struct Chain {
  InstructionNode* tail = nullptr;
  InstructionNode* first = nullptr;

  Chain() = default;
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;
  // The nodes' texts are the chain's: freed before the pool goes.
  ~Chain() {
    while (tail) free_instruction_node(emit_pool, &tail, tail, 0);
  }

  InstructionNode* add(BuiltinHandler handler, double operand = 0, const char* text = nullptr,
                       InstructionNode* link = nullptr) {
    emit_instruction_node(&tail, handler, text, operand, link, 0, nullptr, 0, 0);
    if (!first) first = tail;
    return tail;
  }
  // A STARTPROC-like head: the procedure's name from the fifth character of its text.
  InstructionNode* procedure(const char* text) { return add(op_nothing, 0, text); }
  static void jump_to(InstructionNode* jump, InstructionNode* target) {
    if (!jump->extension) {
      jump->extension = static_cast<InstructionExtension*>(pool_alloc(emit_pool, 0, sizeof(InstructionExtension)));
    }
    jump->extension->link = target;
  }
};

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context = create_program_context();
    ASSERT_NE(context, nullptr);
    current_program = context;
    emit_pool = pool_create(64 * 1024);
    ASSERT_NE(emit_pool, nullptr);
    emit_scope_key = 0;
    trace.clear();
    try_depth = 0;
    stop_flag = 0;
    exiting_program = nullptr;
    current_frame = nullptr;
    current_procedure_name = nullptr;
    current_instruction = nullptr;
  }
  void TearDown() override {
    pool_destroy(emit_pool);
    emit_pool = nullptr;
    program_context_release(context);
    current_program = nullptr;
    exiting_program = nullptr;
    try_depth = 0;
  }

  // Runs procedure (its head node) in program as a native caller would.
  static void call(ProgramContext* program, InstructionNode* procedure) {
    call_program = program;
    call_procedure = procedure;
    vm_call_procedure();
  }

  ProgramContext* context = nullptr;
};

// A machine with a global list and a local scope to resolve variables in; both lists
// are emptied and freed at the end.
class VariableMachineTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    locals = open_scope_lists(context);
    percent_variables = nullptr;
  }
  void TearDown() override {
    release_local_scopes(context);
    close_scope_lists(context, locals);
    current_object = nullptr;
    stack_free_all(context);
    MachineTest::TearDown();
  }

  // A variable of the given list holding a copy of text, or a number when text is null.
  static Variable* make_variable(Variable* list, const char* name, const char* text, double number = 0) {
    Variable* variable = create_variable(list, name, false);
    if (variable) set_variable(variable, const_cast<char*>(text), number, nullptr,
                               text ? static_cast<int32_t>(std::strlen(text) + 1) : -1);
    return variable;
  }
  // The number of cells from the top down to the bottom.
  int32_t depth() const {
    int32_t count = 0;
    for (ValueCell* cell = context->stack_top; cell; cell = cell->below) ++count;
    return count;
  }

  Variable* locals = nullptr;
};
