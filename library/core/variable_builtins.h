// Reaching variables and procedures by name or by address while a script runs: addr and
// its compiled form, getvar, setvar, varexists, isvalidvar, curproc, getproc, getprocex,
// call, objcall, objaddr, assign and vmax.
#pragma once

struct InstructionNode;
struct Variable;

// The variable the instruction names, resolved once per scope and cached in the
// instruction; at the end of its alias chain unless the one-shot alias_follow_suppressed
// is set (it is cleared) or the instruction's work word is non-zero.
Variable* instruction_target_variable(InstructionNode* node);

// Registers the built-ins above by their script names, and "__addr2" for the compiled addr.
void register_variable_builtins();
