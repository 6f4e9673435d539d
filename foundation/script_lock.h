// The script lock: script threads share the machine's global state, so only the thread
// that holds this lock runs script code. Blocking points (delay, waits, message pumps,
// message boxes, the debugger's wait) give it up for their duration.
#pragma once

#include <cstdint>

struct InstructionNode;
struct ProgramContext;
struct Variable;

// Takes the lock for the calling thread; a thread that holds it may take it again.
void script_lock_enter();
// Gives back one level taken by script_lock_enter.
void script_lock_leave();
// How many levels the calling thread holds (0: it runs no script code).
uint32_t script_lock_levels();

// The running state of one thread, saved while it waits at a blocking point so that other
// threads may run script code meanwhile.
struct ScriptThreadState {
  ProgramContext* program;
  InstructionNode* instruction;
  const char* procedure_name;
  Variable* scope;
  Variable* object;
  int32_t try_depth;
  uint8_t stop_flag;
  // Set by the machine for a thread that createthread made: the end of its program stops
  // it, where any other thread ends the program's calls itself.
  bool ended_with_its_program;
  void* machine[2];  // the machine's own part (its innermost call and the like)
  ScriptThreadState* next_waiting;
};

// The states of the threads waiting at blocking points now, the newest first. Read and
// changed only under the script lock.
const ScriptThreadState* script_threads_waiting();

// Fill the machine's own part of a ScriptThreadState; set by the machine.
extern void (*script_state_save_machine)(ScriptThreadState* state);
extern void (*script_state_restore_machine)(const ScriptThreadState* state);
// Sets the machine's own part for a thread that takes the lock afresh, from the state of
// that thread's innermost wait (null when it waits nowhere); set by the machine.
extern void (*script_state_enter_machine)(const ScriptThreadState* innermost_wait_here);

// A blocking point: for its lifetime the calling thread holds no level of the lock, and the
// running state it had comes back with the lock. A thread that holds no level is untouched.
class ScriptLockYield {
 public:
  ScriptLockYield();
  ~ScriptLockYield();
  ScriptLockYield(const ScriptLockYield&) = delete;
  ScriptLockYield& operator=(const ScriptLockYield&) = delete;

 private:
  uint32_t levels_;
  ScriptThreadState state_;
  const ScriptThreadState* outer_wait_here_;
};

// Levels the calling thread took through script_lock_enter and holds now.
extern thread_local uint32_t script_lock_levels_here;

// Holds the lock for a scope; left on every way out (ExitThread included). A thread that
// holds it already (a call inside script code) takes no further level: it is that cheap.
class ScriptLockHold {
 public:
  ScriptLockHold() : taken_(script_lock_levels_here == 0) {
    if (taken_) script_lock_enter();
  }
  ~ScriptLockHold() {
    if (taken_) script_lock_leave();
  }
  ScriptLockHold(const ScriptLockHold&) = delete;
  ScriptLockHold& operator=(const ScriptLockHold&) = delete;

 private:
  bool taken_;
};
