// The script lock over a platform critical section: recursive, and waiting for it is a
// park point, so a thread suspended while it waits does not take it.
#include "foundation/script_lock.h"

#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "platform/platform.h"

void (*script_state_save_machine)(ScriptThreadState* state) = nullptr;
void (*script_state_restore_machine)(const ScriptThreadState* state) = nullptr;
void (*script_state_enter_machine)(const ScriptThreadState* innermost_wait_here) = nullptr;

namespace {

CRITICAL_SECTION script_lock{};
ScriptThreadState* waiting_states = nullptr;
// The calling thread's innermost wait that gave up the lock.
thread_local const ScriptThreadState* innermost_wait_here = nullptr;

bool held_here() { return __atomic_load_n(&script_lock.owner_thread, __ATOMIC_RELAXED) == GetCurrentThreadId(); }

}  // namespace

thread_local uint32_t script_lock_levels_here = 0;

void script_lock_enter() {
  EnterCriticalSection(&script_lock);
  // The registers are what the thread that held the lock before left: this thread's calls
  // are none, or those of its own innermost wait (a window procedure run inside it).
  if (script_lock_levels_here++ == 0 && script_state_enter_machine) script_state_enter_machine(innermost_wait_here);
}

void script_lock_leave() {
  if (!held_here()) return;
  LeaveCriticalSection(&script_lock);
  if (script_lock_levels_here > 0) --script_lock_levels_here;
}

uint32_t script_lock_levels() { return held_here() ? script_lock.recursion : 0; }

const ScriptThreadState* script_threads_waiting() { return waiting_states; }

ScriptLockYield::ScriptLockYield() : levels_(script_lock_levels()), state_{}, outer_wait_here_(nullptr) {
  if (levels_ == 0) return;
  state_.program = current_program;
  state_.instruction = current_instruction;
  state_.procedure_name = current_procedure_name;
  state_.scope = current_scope;
  state_.object = current_object;
  state_.try_depth = try_depth;
  state_.stop_flag = stop_flag;
  if (script_state_save_machine) script_state_save_machine(&state_);
  state_.next_waiting = waiting_states;
  waiting_states = &state_;
  outer_wait_here_ = innermost_wait_here;
  innermost_wait_here = &state_;
  for (uint32_t level = 0; level < levels_; ++level) LeaveCriticalSection(&script_lock);
  script_lock_levels_here = 0;
}

ScriptLockYield::~ScriptLockYield() {
  if (levels_ == 0) return;
  for (uint32_t level = 0; level < levels_; ++level) EnterCriticalSection(&script_lock);
  script_lock_levels_here = levels_;
  innermost_wait_here = outer_wait_here_;
  // Threads wake in any order: the list is as long as the number of threads waiting.
  if (waiting_states == &state_) {
    waiting_states = state_.next_waiting;
  } else {
    for (ScriptThreadState* state = waiting_states; state; state = state->next_waiting) {
      if (state->next_waiting != &state_) continue;
      state->next_waiting = state_.next_waiting;
      break;
    }
  }
  current_program = state_.program;
  current_instruction = state_.instruction;
  current_procedure_name = state_.procedure_name;
  current_scope = state_.scope;
  current_object = state_.object;
  try_depth = state_.try_depth;
  stop_flag = state_.stop_flag;
  if (script_state_restore_machine) script_state_restore_machine(&state_);
}
