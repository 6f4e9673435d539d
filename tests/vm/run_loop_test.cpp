// The run loop: jumps continue at the target's successor, the stop flag ends the loop,
// faults are reported or resume in the TRY that owns them, and calls give back their state.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "foundation/runtime_error.h"
#include "machine_fixture.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "vm/fault_text.h"
#include "vm/procedure_call.h"

// Handlers that fault at a known instruction, so the reported address can be checked.
extern "C" {
void fault_write_handler();
void fault_divide_handler();
extern const char fault_write_at[], fault_divide_at[];
}

asm(R"(
  .text
  .globl fault_write_handler, fault_write_at, fault_divide_handler, fault_divide_at
  .hidden fault_write_handler, fault_write_at, fault_divide_handler, fault_divide_at
  .type fault_write_handler, @function
fault_write_handler:
  xorl %eax, %eax
fault_write_at:
  movl $1, (%eax)
  ret
  .type fault_divide_handler, @function
fault_divide_handler:
  movl $1, %eax
  xorl %ecx, %ecx
  cltd
fault_divide_at:
  idivl %ecx
  ret
)");

namespace {

using RunLoop = MachineTest;

std::string hex_address(const void* address) {
  char text[32];
  crt::_snprintf(text, sizeof text, "0x%x", platform::address_of(address));
  return text;
}

TEST_F(RunLoop, JumpContinuesAtTheTargetsSuccessor) {
  Chain chain;
  chain.add(op_trace, 1);
  InstructionNode* jump = chain.add(op_branch);
  chain.add(op_trace, 2);
  InstructionNode* target = chain.add(op_trace, 3);
  chain.add(op_trace, 4);
  chain.add(op_end);
  Chain::jump_to(jump, target);
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, (std::vector<int>{1, 4}));
}

TEST_F(RunLoop, StopFlagEndsTheLoopAfterTheHandler) {
  Chain chain;
  chain.add(op_trace, 1);
  chain.add(op_end);
  chain.add(op_trace, 2);
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, (std::vector<int>{1}));
  EXPECT_EQ(stop_flag, 1);
}

struct FaultCase {
  const char* name;
  BuiltinHandler handler;
  const char* at;
  const char* text;
};

const FaultCase kFaults[] = {
    {"null write", fault_write_handler, fault_write_at, "Access violation"},
    {"divide by zero", fault_divide_handler, fault_divide_at, "Integer divide by 0"},
};

// PROCMAIN traces 10, calls the named procedure (which traces 1, runs handler and traces
// 2) and traces 11.
struct CallThrough {
  Chain callee;
  Chain caller;
  InstructionNode* head = nullptr;
  CallThrough(const char* callee_name, BuiltinHandler handler) {
    InstructionNode* procedure = callee.procedure(callee_name);
    callee.add(op_trace, 1);
    callee.add(handler);
    callee.add(op_trace, 2);
    callee.add(op_end);
    head = caller.procedure("PROCMAIN");
    caller.add(op_trace, 10);
    caller.add(vm_call_procedure, 0, nullptr, procedure);
    caller.add(op_trace, 11);
    caller.add(op_end);
  }
};

TEST_F(RunLoop, FaultWithoutTryIsReportedAndEndsOnlyTheProcedure) {
  for (const FaultCase& fault : kFaults) {
    trace.clear();
    CallThrough chains("PROCFAULTY", fault.handler);
    unsigned errors = runtime_error_count();
    call(context, chains.head);
    EXPECT_EQ(trace, (std::vector<int>{10, 1, 11})) << fault.name;
    EXPECT_EQ(runtime_error_count(), errors + 1) << fault.name;
    EXPECT_EQ(std::string(runtime_error_last_text()),
              std::string("(FAULTY)\n") + fault.text + " at " + hex_address(fault.at))
        << fault.name;
    EXPECT_EQ(stop_flag, 0) << fault.name;
    EXPECT_EQ(current_frame, nullptr) << fault.name;
    EXPECT_EQ(context->call_depth, 0) << fault.name;
  }
}

// TRY; push 7; handler; trace 1; END. The EXCEPT part traces the TRY depth it sees.
struct TryAround : Chain {
  explicit TryAround(BuiltinHandler handler) {
    InstructionNode* open = add(op_try);
    add(op_push_operand, 7);
    add(handler);
    add(op_trace, 1);
    add(op_end);
    InstructionNode* except = add(op_nothing);
    add(op_trace_try_depth);
    add(op_end);
    jump_to(open, except);
  }
};

TEST_F(RunLoop, FaultInsideTryResumesAfterTheExceptTarget) {
  for (const FaultCase& fault : kFaults) {
    trace.clear();
    TryAround chain(fault.handler);
    unsigned errors = runtime_error_count();
    vm_run_loop(chain.first);
    // The handler part runs with its block closed, so its own faults cannot re-enter it.
    EXPECT_EQ(trace, (std::vector<int>{0})) << fault.name << ": the TRY depth seen by the EXCEPT part";
    EXPECT_EQ(runtime_error_count(), errors) << fault.name;
    EXPECT_EQ(std::string(last_fault_text()), std::string(fault.text) + " at " + hex_address(fault.at))
        << fault.name;
    ASSERT_NE(context->stack_top, nullptr) << fault.name;
    EXPECT_EQ(context->stack_top->number, 7.0) << fault.name << ": the stack stays as the fault left it";
    try_depth = 0;
  }
}

// Built-ins whose allocation was sized past what the machine can give.
void vector_too_large_handler() {
  std::vector<int> cells;
  cells.reserve(cells.max_size() + 1);
}
void array_too_long_handler() { throw std::bad_array_new_length(); }

struct ExhaustionCase {
  const char* name;
  BuiltinHandler handler;
};

const ExhaustionCase kExhaustions[] = {
    {"vector too large", vector_too_large_handler},
    {"array too long", array_too_long_handler},
};

// The exception unwinds the calls that run inside the guarded loop (their frames go back
// on the way out): the error ends them up to the call whose loop holds the guard.
TEST_F(RunLoop, AllocationTooLargeIsAnErrorThatEndsTheGuardedCall) {
  for (const ExhaustionCase& exhaustion : kExhaustions) {
    trace.clear();
    CallThrough chains("PROCGREEDY", exhaustion.handler);
    unsigned errors = runtime_error_count();
    call(context, chains.head);
    EXPECT_EQ(trace, (std::vector<int>{10, 1})) << exhaustion.name;
    EXPECT_EQ(runtime_error_count(), errors + 1) << exhaustion.name;
    EXPECT_EQ(std::string(runtime_error_last_text()), "Out of memory") << exhaustion.name;
    EXPECT_EQ(current_frame, nullptr) << exhaustion.name;
    EXPECT_EQ(context->call_depth, 0) << exhaustion.name;
  }
}

TEST_F(RunLoop, AllocationTooLargeInsideTryResumesAfterTheExceptTarget) {
  for (const ExhaustionCase& exhaustion : kExhaustions) {
    trace.clear();
    TryAround chain(exhaustion.handler);
    vm_run_loop(chain.first);
    // The EXCEPT part runs with its block closed.
    EXPECT_EQ(trace, (std::vector<int>{0})) << exhaustion.name;
    ASSERT_NE(context->stack_top, nullptr) << exhaustion.name;
    EXPECT_EQ(context->stack_top->number, 7.0) << exhaustion.name;
    try_depth = 0;
  }
}

TEST_F(RunLoop, FaultInTheExceptPartIsCaughtByTheOuterTry) {
  Chain chain;
  InstructionNode* outer = chain.add(op_try);
  InstructionNode* inner = chain.add(op_try);
  chain.add(fault_write_handler);
  chain.add(op_end);
  InstructionNode* inner_except = chain.add(op_nothing);
  chain.add(op_leave_try);
  chain.add(op_trace, 1);
  chain.add(fault_divide_handler);
  chain.add(op_end);
  InstructionNode* outer_except = chain.add(op_nothing);
  chain.add(op_trace, 2);
  chain.add(op_end);
  Chain::jump_to(outer, outer_except);
  Chain::jump_to(inner, inner_except);
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, (std::vector<int>{1, 2}));
  EXPECT_EQ(std::string(last_fault_text()).rfind("Integer divide by 0", 0), 0u);
}

TEST_F(RunLoop, FaultInACalleeUnwindsToTheCallersTry) {
  Chain inner;
  InstructionNode* inner_head = inner.procedure("PROCINNER");
  inner.add(op_trace, 1);
  inner.add(fault_write_handler);
  inner.add(op_trace, 2);
  inner.add(op_end);
  Chain middle;
  InstructionNode* middle_head = middle.procedure("PROCMIDDLE");
  middle.add(vm_call_procedure, 0, nullptr, inner_head);
  middle.add(op_trace, 3);
  middle.add(op_end);
  Chain outer;
  InstructionNode* outer_head = outer.procedure("PROCOUTER");
  InstructionNode* open = outer.add(op_try);
  outer.add(vm_call_procedure, 0, nullptr, middle_head);
  outer.add(op_trace, 4);
  outer.add(op_end);
  InstructionNode* except = outer.add(op_nothing);
  outer.add(op_trace, 5);
  outer.add(op_trace_try_depth);
  outer.add(op_end);
  Chain::jump_to(open, except);

  unsigned errors = runtime_error_count();
  call(context, outer_head);
  EXPECT_EQ(trace, (std::vector<int>{1, 5, 0}));
  EXPECT_EQ(runtime_error_count(), errors);
  EXPECT_EQ(std::string(last_fault_text()), "Access violation at " + hex_address(fault_write_at));
  EXPECT_EQ(stop_flag, 0);
  EXPECT_EQ(context->call_depth, 0);
  EXPECT_EQ(current_frame, nullptr);
}

// Calls made by CALL instructions run under the guard of the outermost loop: a fault two
// calls deep must still end only the calls it should, and the calls it skipped must go
// on (or end) as if each had its own loop, faults while they go on included.
TEST_F(RunLoop, FaultTwoCallsDeepEndsTheRightCallsAndTheSkippedCallsGoOn) {
  enum TryOwner { kNone, kMiddle, kTop };
  struct Case {
    const char* name;
    TryOwner owner;
    bool leaf_faults;
    std::vector<int> expected;
    unsigned errors;
  };
  const Case cases[] = {
      {"no TRY", kNone, false, {1, 3, 7, 9, 8, 4}, 1},
      {"no TRY, the going-on caller's call faults too", kNone, true, {1, 3, 7, 8, 4}, 2},
      {"TRY in the middle call", kMiddle, false, {1, 6, 7, 9, 8, 4}, 0},
      {"TRY in the middle call, its handler's call faults", kMiddle, true, {1, 6, 7, 8, 4}, 1},
      {"TRY in the top call", kTop, false, {1, 5}, 0},
  };
  for (const Case& row : cases) {
    trace.clear();
    Chain leaf;
    InstructionNode* leaf_head = leaf.procedure("PROCLEAF");
    leaf.add(op_trace, 7);
    if (row.leaf_faults) leaf.add(fault_divide_handler);
    leaf.add(op_trace, 9);
    leaf.add(op_end);
    Chain inner;
    InstructionNode* inner_head = inner.procedure("PROCINNER");
    inner.add(op_trace, 1);
    inner.add(fault_write_handler);
    inner.add(op_trace, 2);
    inner.add(op_end);
    Chain middle;
    InstructionNode* middle_head = middle.procedure("PROCMIDDLE");
    InstructionNode* middle_try = row.owner == kMiddle ? middle.add(op_try) : nullptr;
    middle.add(vm_call_procedure, 0, nullptr, inner_head);
    middle.add(op_trace, 3);
    middle.add(vm_call_procedure, 0, nullptr, leaf_head);
    middle.add(op_trace, 8);
    middle.add(op_end);
    if (middle_try) {
      Chain::jump_to(middle_try, middle.add(op_nothing));
      middle.add(op_trace, 6);
      middle.add(vm_call_procedure, 0, nullptr, leaf_head);
      middle.add(op_trace, 8);
      middle.add(op_end);
    }
    Chain top;
    InstructionNode* top_head = top.procedure("PROCTOP");
    InstructionNode* top_try = row.owner == kTop ? top.add(op_try) : nullptr;
    top.add(vm_call_procedure, 0, nullptr, middle_head);
    top.add(op_trace, 4);
    top.add(op_end);
    if (top_try) {
      Chain::jump_to(top_try, top.add(op_nothing));
      top.add(op_trace, 5);
      top.add(op_end);
    }

    unsigned errors = runtime_error_count();
    current_procedure_name = "OUTSIDE";
    call(context, top_head);
    EXPECT_EQ(trace, row.expected) << row.name;
    EXPECT_EQ(runtime_error_count(), errors + row.errors) << row.name;
    EXPECT_EQ(stop_flag, 0) << row.name;
    EXPECT_EQ(try_depth, 0) << row.name;
    EXPECT_EQ(context->call_depth, 0) << row.name;
    EXPECT_EQ(current_frame, nullptr) << row.name;
    EXPECT_STREQ(current_procedure_name, "OUTSIDE") << row.name;
    int scopes = 0;
    for (LocalScopeCacheEntry* entry = context->scope_cache; entry; entry = entry->next, ++scopes) {
      EXPECT_EQ(entry->in_use, 0) << row.name << ": every ended call gave its scope back";
    }
    EXPECT_EQ(scopes, row.owner == kTop ? 3 : 4) << row.name;
    release_local_scopes(context);
  }
}

TEST_F(RunLoop, TryLeftOpenByAReturningCallDoesNotCatchTheCallersFault) {
  Chain callee;
  InstructionNode* callee_head = callee.procedure("PROCLEAVES");
  InstructionNode* open = callee.add(op_try);
  callee.add(op_end);
  InstructionNode* except = callee.add(op_nothing);
  callee.add(op_trace, 99);
  callee.add(op_end);
  Chain::jump_to(open, except);
  Chain caller;
  InstructionNode* caller_head = caller.procedure("PROCMAIN");
  caller.add(vm_call_procedure, 0, nullptr, callee_head);
  caller.add(op_trace_try_depth);
  caller.add(fault_write_handler);
  caller.add(op_trace, 2);
  caller.add(op_end);

  unsigned errors = runtime_error_count();
  call(context, caller_head);
  EXPECT_EQ(trace, (std::vector<int>{0}));
  EXPECT_EQ(runtime_error_count(), errors + 1);
}

TEST_F(RunLoop, TryStackRefusesTheBlockPastItsSize) {
  Chain chain;
  InstructionNode* target = chain.add(op_nothing);
  for (int depth = 0; depth < kTrySlots; ++depth) ASSERT_TRUE(vm_try_push(target)) << depth;
  unsigned errors = runtime_error_count();
  EXPECT_FALSE(vm_try_push(target));
  EXPECT_EQ(try_depth, kTrySlots);
  EXPECT_EQ(runtime_error_count(), errors + 1);
  vm_try_pop();
  EXPECT_EQ(try_depth, kTrySlots - 1);
  try_depth = 0;
  vm_try_pop();
  EXPECT_EQ(try_depth, 0) << "closing with none open";
}

TEST_F(RunLoop, ExitEndsEveryCallOfItsProgramAndTheCallingProgramGoesOn) {
  ProgramContext* other = create_program_context();
  ASSERT_NE(other, nullptr);
  Chain exiting;
  InstructionNode* exiting_head = exiting.procedure("PROCLEAF");
  exiting.add(op_exit);
  exiting.add(op_trace, 1);
  Chain middle;
  InstructionNode* middle_head = middle.procedure("PROCMIDDLE");
  middle.add(vm_call_procedure, 0, nullptr, exiting_head);
  middle.add(op_trace, 2);
  middle.add(op_end);
  Chain top;
  InstructionNode* top_head = top.procedure("PROCTOP");
  top.add(vm_call_procedure, 0, nullptr, middle_head);
  top.add(op_trace, 3);
  top.add(op_end);

  // The other program's procedure runs the exiting program's top procedure natively,
  // as an event would, then goes on.
  static InstructionNode* event_procedure;
  static ProgramContext* event_program;
  event_procedure = top_head;
  event_program = context;
  Chain host;
  InstructionNode* host_head = host.procedure("PROCHOST");
  host.add(op_trace, 10);
  host.add([] { call(event_program, event_procedure); });
  host.add(op_trace, 11);
  host.add(op_end);

  call(other, host_head);
  EXPECT_EQ(trace, (std::vector<int>{10, 11}));
  EXPECT_EQ(exiting_program, nullptr) << "cleared when the program's outermost call returned";
  EXPECT_EQ(stop_flag, 0);
  EXPECT_EQ(context->call_depth, 0);
  EXPECT_EQ(current_program, context) << "the caller's program is current again";
  program_context_release(other);
}

TEST_F(RunLoop, EntrySkipStartsFurtherIn) {
  struct Case {
    uint8_t skip;
    std::vector<int> expected;
  };
  const Case cases[] = {{0, {1, 2, 3, 4, 5}}, {1, {5}}, {2, {3, 4, 5}}};
  for (const Case& row : cases) {
    trace.clear();
    Chain chain;
    InstructionNode* head = chain.procedure("PROCEVENT");
    for (int step = 1; step <= 5; ++step) chain.add(op_trace, step);
    chain.add(op_end);
    entry_skip = row.skip;
    call(context, head);
    EXPECT_EQ(trace, row.expected) << "entry_skip " << int(row.skip);
    EXPECT_EQ(entry_skip, 0);
  }
}

TEST_F(RunLoop, CallRestoresTheRunningStateAndReleasesItsDepth) {
  static ProgramContext* program;
  program = context;
  Chain callee;
  InstructionNode* head = callee.procedure("PROCOWNS");
  callee.add([] {
    trace.push_back(program->call_depth);
    void* block = crt::malloc(16);
    context_own_allocation(program, block, 0, kOwnedMemory);
    trace.push_back(std::strcmp(current_procedure_name, "OWNS") == 0);
  });
  callee.add(op_end);
  current_procedure_name = "OUTSIDE";
  call(context, head);
  EXPECT_EQ(trace, (std::vector<int>{1, 1}));
  EXPECT_EQ(context->owned, nullptr) << "the block owned at the call's depth is gone";
  EXPECT_EQ(context->call_depth, 0);
  EXPECT_STREQ(current_procedure_name, "OUTSIDE");
}

}  // namespace

TEST(MachineLink, VariableLayerCallsProceduresThroughTheMachine) {
  EXPECT_EQ(procedure_caller, vm_call_procedure);
}
