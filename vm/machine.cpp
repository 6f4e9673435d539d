// The run loop and its fault trap, and the TRY stack.
#include "vm/machine.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "platform/kernel/fault_guard.h"
#include "foundation/runtime_memory.h"
#include "vm/applications.h"
#include "vm/control_flow.h"
#include "vm/script_threads.h"
#include "vm/fault_text.h"

// stop_flag, try_depth and current_procedure_name live with the rest of the machine
// state in foundation/machine_state.cpp: the variable layer and the reporter read them.
CallFrame* current_frame = nullptr;
thread_local uint32_t guarded_loops_here = 0;

TryEntry TryStack[kTrySlots];
InstructionNode* try_handler_entry = nullptr;

Pool* emit_pool = nullptr;
uint32_t emit_scope_key = 0;

// Getters, setters, constructors and destructors of the variable layer call procedures
// through this pointer: filled as soon as the machine is part of the program.
[[maybe_unused]] static const bool procedure_caller_filled = (procedure_caller = vm_call_procedure, true);

// A thread waiting at a blocking point keeps its innermost call and its TRY resume point,
// and shows its calls to the threads that run meanwhile.
[[maybe_unused]] static const bool script_state_filled = (
    script_state_save_machine = [](ScriptThreadState* state) {
      state->machine[0] = current_frame;
      state->machine[1] = try_handler_entry;
      state->ended_with_its_program = running_on_created_thread();
    },
    script_state_enter_machine = [](const ScriptThreadState* innermost_wait_here) {
      current_frame = innermost_wait_here ? static_cast<CallFrame*>(innermost_wait_here->machine[0]) : nullptr;
    },
    script_state_restore_machine = [](const ScriptThreadState* state) {
      current_frame = static_cast<CallFrame*>(state->machine[0]);
      try_handler_entry = static_cast<InstructionNode*>(state->machine[1]);
      // A thread whose program ended while it waited ends every call of that program; one
      // whose program's end waits for its calls ends them, as the thread that asked would.
      if (script_thread_end_requested() || application_end_pending(state->program)) {
        exiting_program = state->program;
        stop_flag = 1;
      }
    },
    true);

namespace {

// A fault whose TRY belongs to a calling procedure: the calls in between end with the
// stop flag set, and the owner's loop resumes at resume_at.
bool unwind_pending = false;
CallFrame* unwind_frame = nullptr;
InstructionNode* unwind_resume = nullptr;
int32_t unwind_depth = 0;

// The owner's loop goes on at the TRY's handler. The loops the fault left inside the TRY
// never reached their end: their levels go, with what was made at them and their walks.
void resume_after_fault() {
  unwind_pending = false;
  stop_flag = 0;
  current_instruction = unwind_resume;
  ProgramContext* program = current_program;
  if (!program || program->call_depth <= unwind_depth) return;
  if (open_cursors) foreach_leave_levels(program, unwind_depth);
  while (program->call_depth > unwind_depth) {
    if (program->owned) context_release_depth(program, static_cast<uint32_t>(program->call_depth));
    --program->call_depth;
  }
}

// The hot path: one indirect call, one load of the successor, one byte test. Kept out
// of the function that holds the guard so that sigsetjmp does not pessimise it.
[[gnu::noinline]] void run_instructions() {
  do {
    current_instruction->handler();
    current_instruction = current_instruction->next;
  } while (!stop_flag);
}

// Where the loop goes on after the innermost TRY caught a fault, or null (no TRY, or an
// EXCEPT target without successor, which would fault again at once).
InstructionNode* resume_point(const TryEntry& entry) {
  return entry.except_target ? entry.except_target->next : nullptr;
}

// What a loop with a guard sets up on entry: the call it runs for and the running state
// its faults restore.
struct LoopState {
  CallFrame* frame;
  ProgramContext* program;
  const char* procedure_name;
  Variable* scope;
  Variable* object;
};

// The running state of call while its own loop runs.
void restore_running_state(const LoopState& host, CallFrame* call) {
  if (call == host.frame || !call) {
    current_frame = host.frame;
    current_program = host.program;
    current_procedure_name = host.procedure_name;
    current_scope = host.scope;
    current_object = host.object;
    return;
  }
  current_frame = call;
  current_program = call->program;
  current_procedure_name = call->procedure_name;
  current_scope = call->scope;
  current_object = call->object;
}

// The loop of current_frame has stopped. True, with current_instruction set, when the
// host's loop goes on: a TRY of the stopped call caught a fault of a call it made, or a
// call whose native frames a fault skipped ended and its caller goes on after the CALL.
// False when the host's own call is over.
bool continues_after_stop(CallFrame* host) {
  for (;;) {
    CallFrame* running = current_frame;
    if (unwind_pending && unwind_frame == running) {
      resume_after_fault();
      return true;
    }
    if (running == host || !running) return false;
    vm_end_call(running);
    current_instruction = current_instruction->next;
    if (!stop_flag) return true;
  }
}

// When the stack unwinds past the loop (ExitThread of a script thread): leaves the guard
// while it still exists, then ends the calls the loop ran for their skipped frames. On the
// normal and the fault paths the guard is already left and the host's call is running.
struct GuardLeave {
  platform::FaultGuard* guard;
  ~GuardLeave() {
    if (platform::fault_guard_innermost() == guard) platform::fault_guard_leave(guard);
  }
};

struct LoopRelease {
  CallFrame* host;
  ~LoopRelease() {
    while (current_frame && current_frame != host) vm_release_call(current_frame);
  }
};

struct LoopCount {
  LoopCount() { ++guarded_loops_here; }
  ~LoopCount() { --guarded_loops_here; }
  LoopCount(const LoopCount&) = delete;
  LoopCount& operator=(const LoopCount&) = delete;
};

// After an error that ended the instruction of current_frame, with that call's running
// state restored: the stop flag is raised so that continues_after_stop ends the calls up
// to the TRY's owner, which resumes (with no TRY, the call ends and its caller goes on).
void stop_after_error() {
  if (try_depth > 0 && try_depth <= kTrySlots) {
    const TryEntry entry = TryStack[try_depth - 1];
    // The handler part starts now: its own faults go to the next TRY out, not back to it.
    if (InstructionNode* resume = resume_point(entry)) {
      vm_try_pop();
      try_handler_entry = resume;
      unwind_pending = true;
      unwind_frame = entry.frame;
      unwind_resume = resume;
      unwind_depth = entry.call_depth;
    }
  }
  stop_flag = 1;
}

// After a fault caught by the host's guard, while current_frame is the call that
// faulted: reported, then stopped as every error that ends an instruction is.
void recover_from_fault(platform::FaultGuard& guard, const LoopState& host) {
  EXCEPTION_POINTERS pointers = guard.pointers();
  vm_fault_filter(guard.code, &pointers);
  restore_running_state(host, current_frame);
  stop_after_error();
}

// A built-in asked for more memory than the machine can give (a size taken from a script
// number): the allocation's exception ended the instruction, and the calls it ran inside
// the host's were released on the way out. It ends as a fault does, as a run-time error.
void recover_from_exhaustion(const LoopState& host) {
  restore_running_state(host, current_frame);
  runtime_error("Out of memory");
  stop_after_error();
}

}  // namespace

bool vm_try_push(InstructionNode* except_target) {
  try_handler_entry = nullptr;
  if (try_depth < 0 || try_depth >= kTrySlots) {
    runtime_error("Too many nested TRY blocks (more than %d)", kTrySlots);
    return false;
  }
  TryStack[try_depth] = TryEntry{except_target, current_frame, current_program ? current_program->call_depth : 0};
  ++try_depth;
  return true;
}

void vm_try_pop() {
  // The instruction where a fault resumed: the fault already closed that block.
  if (current_instruction && current_instruction == try_handler_entry) {
    try_handler_entry = nullptr;
    return;
  }
  if (try_depth > 0) --try_depth;
}

void vm_run_loop(InstructionNode* first) {
  // Script code runs only under the script lock (uncontended with one thread).
  ScriptLockHold script_lock_held;
  const LoopState host{current_frame, current_program, current_procedure_name, current_scope, current_object};
  current_instruction = first;
  stop_flag = 0;
  LoopCount counted;
  volatile bool after_fault = false;
  LoopRelease release{host.frame};
  for (;;) {
    platform::FaultGuard guard;
    GuardLeave leave_on_unwind{&guard};
    if (FAULT_GUARD_ENTER(guard)) {
      bool exhausted = false;
      try {
        if (!after_fault || continues_after_stop(host.frame)) {
          do run_instructions();
          while (continues_after_stop(host.frame));
        }
      } catch (const std::bad_alloc&) {
        exhausted = true;
      } catch (const std::length_error&) {
        exhausted = true;
      }
      platform::fault_guard_leave(&guard);
      if (!exhausted) return;
      recover_from_exhaustion(host);
      after_fault = true;
      continue;
    }
    recover_from_fault(guard, host);
    after_fault = true;
  }
}

void vm_run_nested_loop(InstructionNode* first) {
  CallFrame* const frame = current_frame;
  current_instruction = first;
  stop_flag = 0;
  for (;;) {
    run_instructions();
    if (!unwind_pending || unwind_frame != frame) return;
    // A called procedure faulted inside one of this call's TRY blocks.
    resume_after_fault();
  }
}

bool vm_unwind_pending() { return unwind_pending; }
