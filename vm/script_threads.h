// Script threads: createthread runs a procedure of the program on a new thread, in the
// creator's context, under the script lock.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

struct InstructionNode;
struct ProgramContext;

// What the new thread needs; calloc'd by createthread, freed by the thread when it ends.
struct ThreadStart {
  InstructionNode* procedure;  // the procedure's head node, null for none
  int32_t argument;
  ProgramContext* program;
  uint32_t spare;
};

// createthread(stack size, procedure, argument, creation flags, spare) -> thread handle.
void builtin_createthread();

// Whether node heads one of the program's procedures.
bool is_program_procedure(const ProgramContext* program, const InstructionNode* node);

// Closes the handles of the threads the program created: called when the program ends.
void close_program_threads(ProgramContext* program);

// The thread routine: runs the procedure and ends with its result as the exit code.
DWORD script_thread_entry(LPVOID parameter);

void register_script_thread_builtins();
