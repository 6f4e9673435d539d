// The machine's global state that the variable layer reads and the virtual machine
// drives: scopes, the current instruction, call arguments and one-shot switches.
#pragma once

#include <cstdint>

struct InstructionNode;
struct ProgramContext;
struct Variable;

// Head of the members of the object whose method runs; null outside methods.
extern Variable* current_object;
// Head of the running procedure's local variables; null before the first is made.
extern Variable* current_scope;
// Head of the list of every '%' variable, shared by all programs.
extern Variable* percent_variables;
// The instruction being executed; null when no program runs.
extern InstructionNode* current_instruction;
// Name of the running procedure; null outside procedures.
extern const char* current_procedure_name;
// Non-zero ends the run loop of the innermost running procedure.
extern uint8_t stop_flag;
// Number of open TRY blocks; inside one, run-time errors go to ERROR% and nothing stops.
extern int32_t try_depth;
// Set at start-up when the runtime runs under the outside debugger.
extern uint8_t debugger_enabled;

// Arguments of the next procedure call (set before procedure_caller runs it).
extern ProgramContext* call_program;
extern InstructionNode* call_procedure;
extern Variable* call_scope;
extern Variable* call_object;
extern uint8_t entry_skip;

// Runs call_procedure of call_program to its end; filled by the virtual machine.
// While it is null, getters and setters are not run.
extern void (*procedure_caller)();

// One-shot: the next lookup under explicit declarations reports no error.
extern uint8_t no_explicit_check;
// One-shot: the next stack_push_variable does not follow the alias chain.
extern uint8_t alias_follow_suppressed;
// Set by parameter binding: copying a list variable copies only its shown value.
extern uint8_t list_copy_suppressed;

// The scope key of the current instruction, 0 without one or without an extension.
uint32_t current_scope_key();
