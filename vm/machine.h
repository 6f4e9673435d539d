// The machine state every handler shares, the run loop with its fault trap, the TRY
// stack, and the procedure call that frames one run of the loop.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"

struct Variable;
struct CallFrame;

// ---- Running state (plain globals, shared by every thread) ----

// current_instruction (foundation/machine_state.h) is the node being executed; a jump
// handler stores its target there and the loop goes on at the target's successor.
// Non-zero ends the run loop of the innermost running procedure.
extern uint8_t stop_flag;
// Name of the running procedure (its STARTPROC text from the fifth character), or null.
extern const char* current_procedure_name;
// The innermost running procedure call of the thread that holds the script lock, or null
// outside any call. A thread that takes the lock afresh starts from its own innermost call
// (that of its innermost wait, or none), never from the one another thread left behind.
extern CallFrame* current_frame;

// ---- TRY blocks ----

constexpr int32_t kTrySlots = 1024;

// An open TRY block: where a fault resumes (at the successor of except_target) and the
// call whose loop resumes there, so a fault in a called procedure unwinds to it.
struct TryEntry {
  InstructionNode* except_target;
  CallFrame* frame;
  int32_t call_depth;  // the program's loop level at TRY: a fault resumes at it
};

extern int32_t try_depth;
extern TryEntry TryStack[kTrySlots];

// Where the last fault resumed: its TRY block was closed then, so an EXCEPT instruction
// standing there does not close another.
extern InstructionNode* try_handler_entry;

// Opens a TRY block owned by the running call. More than kTrySlots open blocks are
// refused with a run-time error (false).
bool vm_try_push(InstructionNode* except_target);
// Closes the innermost TRY block; nothing when none is open, nor at the instruction where
// a fault resumed (the fault closed the block when its handler part started).
void vm_try_pop();

// The arguments of the next procedure call (call_program, call_procedure, call_scope,
// call_object, entry_skip) are in foundation/machine_state.h.

// ---- Instruction writing ----

// Pool from which emit_instruction_node allocates, and the scope key copied into every
// new extension; the compiler sets both for the program it builds.
extern Pool* emit_pool;
extern uint32_t emit_scope_key;

// ---- Calls and the loop ----

// One running procedure call: what it changed and gives back on return. Frames live off
// the native stack (vm/procedure_call.cpp keeps spare ones): a fault caught by an
// enclosing loop leaves the frames of the calls it skipped to be ended by hand.
struct CallFrame {
  uint32_t serial;  // grows with every call: a later call has a larger one
  ProgramContext* program;
  InstructionNode* procedure;  // STARTPROC node
  CallFrame* caller;
  int32_t try_depth_at_entry;
  InstructionNode* saved_instruction;
  ProgramContext* saved_program;
  const char* saved_procedure_name;
  Variable* scope;          // the procedure's local scope, null when it runs in its caller's
  LocalScopeCacheEntry* scope_entry;  // scope's entry in the program's scope cache, when known
  Variable* saved_scope;
  Variable* saved_object;
  bool method_call;         // current_object was set for this call and comes back
  bool recycles_scope;      // scope goes back to the program's scope cache at the end
  bool releases_scope;      // scope's values are this call's to release
  bool stepping_over;       // the debugger's step over resumes when the call ends
  bool scope_from_caller;   // scope_entry came from the caller's remembered entries
  int32_t call_depth_at_entry;  // the program's call_depth before the call raised it
  uint32_t nesting;             // calls in the chain up to this one (1 for the outermost)
  const char* procedure_name;   // current_procedure_name while the call runs
  Variable* object;             // current_object while the call runs
  // The scope entries the last calls made from this frame gave back (of the last two
  // procedures it called), while callee_scope_generation equals scope_cache_generation.
  // Spare frames keep them: frames are reused by depth, so a recursion's next call at
  // this depth finds its scope here, and so do calls that alternate between two procedures.
  LocalScopeCacheEntry* callee_scope;
  LocalScopeCacheEntry* earlier_callee_scope;
  uint32_t callee_scope_generation;
};

// Runs the chain from first until the stop flag is raised, under the fault trap: a
// fault is reported, then the innermost TRY resumes at its EXCEPT part, ending the calls
// between the fault and the TRY's owner first; with no TRY the call that faulted ends as
// if it had returned and its caller goes on. Calls this loop's guard covers that lost
// their native frames to the fault run on in this loop until they end.
void vm_run_loop(InstructionNode* first);

// Runs the chain of a call made by a CALL instruction of a running loop, without a guard
// of its own: the enclosing loop's guard catches its faults.
void vm_run_nested_loop(InstructionNode* first);

// Guarded loops running on the calling thread: while there is one, calls made by CALL
// instructions need no guard of their own.
extern thread_local uint32_t guarded_loops_here;

// True while a fault caught by a TRY of a calling procedure ends the calls in between:
// their stop flag must survive their return.
bool vm_unwind_pending();

// Runs call_procedure (or, when it is 0, the link of the CALL instruction being
// executed) in call_program to its end, saving and restoring the running state around
// the loop. Also the handler of the CALL instruction (vm/procedure_call.cpp).
void vm_call_procedure();

// Ends the innermost call, frame, after its loop stopped, as the call's own end does:
// the stop flag stays raised for EXIT and unwinding, the running state comes back
// (current_instruction is the instruction that made the call) and the frame is free
// again (vm/procedure_call.cpp).
void vm_end_call(CallFrame* frame);
// Only gives back what frame holds and restores the running state (no stop-flag or
// program-end work): for a thread ending in the middle of calls.
void vm_release_call(CallFrame* frame);
