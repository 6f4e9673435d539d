// Script threads: the exit code is the procedure's result, a suspended thread runs only
// once resumed, two threads that hand the script lock to each other keep one global
// exact, and only procedures of the program are run.
#include "vm/script_threads.h"

#include <gtest/gtest.h>

#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "machine_fixture.h"
#include "platform/platform.h"
#include "vm/applications.h"

namespace {

Variable* shared_counter = nullptr;
thread_local int rounds = 0;
int rounds_per_thread = 0;

void op_drop_argument() { stack_pop(current_program); }
void op_result_seven() { stack_push_number(current_program, 7); }
void op_result_text() { stack_push_value(const_cast<char*>("42"), 0, nullptr, 0); }
void op_result_argument_doubled() {
  // The argument is still below: the procedure left it there for this test.
  stack_push_number(current_program, current_program->stack_top->number * 2);
}

// counter = counter + 1 in three steps, as compiled code reads, adds and stores.
void op_read_counter() { stack_push_number(current_program, shared_counter->number); }
void op_add_one() {
  double value = stack_pop(current_program)->number;
  stack_push_number(current_program, value + 1);
}
void op_store_counter() { shared_counter->number = stack_pop(current_program)->number; }
// Loops back to the procedure head until the rounds are done; every 5,000 rounds a delay
// of 0 hands the script lock to the other thread.
void op_loop() {
  ++rounds;
  if (rounds % 5000 == 0) {
    stack_push_number(current_program, 0);
    builtin_delay();
  }
  if (rounds < rounds_per_thread) current_instruction = current_instruction->extension->link;
}

class ScriptThreads : public VariableMachineTest {
 protected:
  void SetUp() override {
    VariableMachineTest::SetUp();
    shared_counter = make_variable(context->globals, "COUNTER%", nullptr, 0);
  }
  void TearDown() override {
    for (ProcedureTableEntry*& entry : table) {
      crt::free(entry);
      entry = nullptr;
    }
    context->procedure_count = 0;
    close_program_threads(context);
    VariableMachineTest::TearDown();
  }

  // Enters procedure (its head node) into the program's procedure table.
  void declare(InstructionNode* procedure) {
    auto* entry = static_cast<ProcedureTableEntry*>(crt::calloc(1, sizeof(ProcedureTableEntry)));
    entry->procedure = procedure;
    table.push_back(entry);
    context->procedures[context->procedure_count++] = entry;
  }

  // Calls createthread as compiled code does, holding the script lock; the handle it
  // pushed. Without the lock the new thread could push its argument onto the shared stack
  // before the handle is taken off it.
  HANDLE create(InstructionNode* procedure, int32_t argument, DWORD flags) {
    ScriptLockHold script_lock_held;
    for (double value : {0.0, static_cast<double>(platform::address_of(procedure)), static_cast<double>(argument),
                         static_cast<double>(flags), 0.0}) {
      stack_push_number(context, value);
    }
    builtin_createthread();
    return platform::pointer_from<void>(static_cast<uint32_t>(stack_pop(context)->number));
  }

  static DWORD exit_code_of(HANDLE thread) {
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    return code;
  }

  std::vector<ProcedureTableEntry*> table;
};

TEST_F(ScriptThreads, TheExitCodeIsTheProcedureResult) {
  struct Row {
    const char* name;
    BuiltinHandler result;
    int32_t argument;
    DWORD expected;
  } rows[] = {{"the number 7", op_result_seven, 0, 7}, {"a text read as a number", op_result_text, 0, 42},
              {"a result from the argument", op_result_argument_doubled, 21, 42}};
  for (const Row& row : rows) {
    Chain chain;
    InstructionNode* head = chain.procedure("PROCWORK");
    if (row.result != op_result_argument_doubled) chain.add(op_drop_argument);
    chain.add(row.result);
    chain.add(op_end);
    declare(head);
    HANDLE thread = create(head, row.argument, 0);
    ASSERT_NE(thread, nullptr) << row.name;
    EXPECT_EQ(exit_code_of(thread), row.expected) << row.name;
  }
}

TEST_F(ScriptThreads, AProcedureWithoutResultLeavesTheCreatorsValues) {
  Chain chain;
  InstructionNode* head = chain.procedure("PROCQUIET");
  chain.add(op_drop_argument);
  chain.add(op_end);
  declare(head);
  stack_push_number(context, 123);
  ValueCell* creator_value = context->stack_top;
  HANDLE thread = create(head, 5, 0);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(exit_code_of(thread), 0u);
  ASSERT_EQ(context->stack_top, creator_value);
  EXPECT_EQ(stack_pop(context)->number, 123);
}

TEST_F(ScriptThreads, ASuspendedThreadRunsOnlyOnceResumed) {
  Chain chain;
  InstructionNode* head = chain.procedure("PROCCOUNT");
  chain.add(op_drop_argument);
  chain.add(op_read_counter);
  chain.add(op_add_one);
  chain.add(op_store_counter);
  chain.add(op_result_seven);
  chain.add(op_end);
  declare(head);
  HANDLE thread = create(head, 0, CREATE_SUSPENDED);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(shared_counter->number, 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(exit_code_of(thread), 7u);
  EXPECT_EQ(shared_counter->number, 1);
}

TEST_F(ScriptThreads, TwoThreadsIncrementingOneGlobalLoseNoUpdate) {
  rounds_per_thread = 100000;
  Chain chain;
  InstructionNode* head = chain.procedure("PROCADD");
  chain.add(op_drop_argument);
  InstructionNode* loop_start = chain.add(op_read_counter);
  chain.add(op_add_one);
  chain.add(op_store_counter);
  Chain::jump_to(chain.add(op_loop), loop_start->previous);
  chain.add(op_result_seven);
  chain.add(op_end);
  declare(head);
  HANDLE first = create(head, 0, CREATE_SUSPENDED);
  HANDLE second = create(head, 0, CREATE_SUSPENDED);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ResumeThread(first);
  ResumeThread(second);
  EXPECT_EQ(exit_code_of(first), 7u);
  EXPECT_EQ(exit_code_of(second), 7u);
  EXPECT_EQ(shared_counter->number, 200000);
  EXPECT_EQ(script_lock_levels(), 0u);
}

TEST_F(ScriptThreads, OnlyProceduresOfTheProgramAreRun) {
  Chain chain;
  InstructionNode* head = chain.procedure("PROCNOTDECLARED");
  InstructionNode* body = chain.add(op_result_seven);
  chain.add(op_end);
  unsigned errors = runtime_error_count();
  EXPECT_EQ(create(head, 0, 0), nullptr);
  EXPECT_EQ(create(body, 0, 0), nullptr);
  EXPECT_EQ(runtime_error_count(), errors + 2);
  // No procedure at all: the thread ends at once with exit code 1.
  HANDLE empty = create(nullptr, 0, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(exit_code_of(empty), 1u);
}

TEST_F(ScriptThreads, TheProgramEndClosesItsThreadHandles) {
  Chain chain;
  InstructionNode* head = chain.procedure("PROCQUICK");
  chain.add(op_drop_argument);
  chain.add(op_result_seven);
  chain.add(op_end);
  declare(head);
  HANDLE thread = create(head, 0, 0);
  ASSERT_NE(thread, nullptr);
  exit_code_of(thread);
  close_program_threads(context);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
}

}  // namespace
