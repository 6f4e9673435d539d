// The run loop and its fault trap, and the TRY stack.
#include "vm/machine.h"

#include <cstring>

#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "platform/kernel/fault_guard.h"
#include "vm/script_threads.h"
#include "vm/fault_text.h"

// stop_flag, try_depth and current_procedure_name live with the rest of the machine
// state in foundation/machine_state.cpp: the variable layer and the reporter read them.
CallFrame* current_frame = nullptr;

TryEntry TryStack[kTrySlots];
InstructionNode* try_handler_entry = nullptr;

Pool* emit_pool = nullptr;
uint32_t emit_scope_key = 0;

// Getters, setters, constructors and destructors of the variable layer call procedures
// through this pointer: filled as soon as the machine is part of the program.
[[maybe_unused]] static const bool procedure_caller_filled = (procedure_caller = vm_call_procedure, true);

// A thread waiting at a blocking point keeps its innermost call and its TRY resume point.
[[maybe_unused]] static const bool script_state_filled = (
    script_state_save_machine = [](ScriptThreadState* state) {
      state->machine[0] = current_frame;
      state->machine[1] = try_handler_entry;
    },
    script_state_restore_machine = [](const ScriptThreadState* state) {
      current_frame = static_cast<CallFrame*>(state->machine[0]);
      try_handler_entry = static_cast<InstructionNode*>(state->machine[1]);
      // A thread whose program ended while it waited ends every call of that program.
      if (script_thread_end_requested()) {
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

// The hot path: one indirect call, one load of the successor, one byte test. Kept out
// of the function that holds the guard so that sigsetjmp does not pessimise it.
[[gnu::noinline]] void run_instructions() {
  do {
    current_instruction->handler();
    current_instruction = current_instruction->next;
  } while (!stop_flag);
}

// Leaves the guard when the stack unwinds past the loop (ExitThread of a script thread);
// on the normal and the fault paths the guard is already left.
struct GuardRelease {
  platform::FaultGuard* guard;
  ~GuardRelease() {
    if (platform::fault_guard_innermost() == guard) platform::fault_guard_leave(guard);
  }
};

// Where the loop goes on after the innermost TRY caught a fault, or null (no TRY, or an
// EXCEPT target without successor, which would fault again at once).
InstructionNode* resume_point(const TryEntry& entry) {
  return entry.except_target ? entry.except_target->next : nullptr;
}

// After a fault caught in the loop of frame: true with current_instruction set when the
// loop goes on; false with the stop flag set when it ends.
bool recover_from_fault(platform::FaultGuard& guard, CallFrame* frame) {
  EXCEPTION_POINTERS pointers = guard.pointers();
  vm_fault_filter(guard.code, &pointers);
  if (try_depth > 0 && try_depth <= kTrySlots) {
    const TryEntry entry = TryStack[try_depth - 1];
    InstructionNode* resume = resume_point(entry);
    // The handler part starts now: its own faults go to the next TRY out, not back to it.
    if (resume) {
      vm_try_pop();
      try_handler_entry = resume;
    }
    if (resume && entry.frame == frame) {
      current_instruction = resume;
      return true;
    }
    if (resume) {
      // The TRY is a caller's: end the calls up to its owner, which then resumes.
      unwind_pending = true;
      unwind_frame = entry.frame;
      unwind_resume = resume;
    }
  }
  stop_flag = 1;
  return false;
}

}  // namespace

bool vm_try_push(InstructionNode* except_target) {
  try_handler_entry = nullptr;
  if (try_depth < 0 || try_depth >= kTrySlots) {
    runtime_error("Too many nested TRY blocks (more than %d)", kTrySlots);
    return false;
  }
  TryStack[try_depth] = TryEntry{except_target, current_frame};
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
  // What a fault inside a nested call may leave unrestored: that call's frame is gone.
  CallFrame* const frame = current_frame;
  ProgramContext* const program = current_program;
  const char* const procedure_name = current_procedure_name;
  Variable* const scope = current_scope;
  Variable* const object = current_object;
  current_instruction = first;
  stop_flag = 0;
  for (;;) {
    platform::FaultGuard guard;
    GuardRelease release{&guard};
    if (FAULT_GUARD_ENTER(guard)) {
      run_instructions();
      platform::fault_guard_leave(&guard);
      if (!unwind_pending || unwind_frame != frame) return;
      // A called procedure faulted inside one of this call's TRY blocks.
      unwind_pending = false;
      stop_flag = 0;
      current_instruction = unwind_resume;
    } else {
      bool resumes = recover_from_fault(guard, frame);
      current_frame = frame;
      current_program = program;
      current_procedure_name = procedure_name;
      current_scope = scope;
      current_object = object;
      if (!resumes) return;
    }
  }
}

bool vm_unwind_pending() { return unwind_pending; }
