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

// Stops the threads the program created and closes their handles: called when the
// program ends, before its code goes. A thread still blocked after a few seconds is left.
void close_program_threads(ProgramContext* program);

// True on a script thread whose program has ended: it must run no more script code.
bool script_thread_end_requested();
// Whether the calling thread is one createthread made.
bool running_on_created_thread();

// The thread routine: runs the procedure and ends with its result as the exit code.
DWORD script_thread_entry(LPVOID parameter);

void register_script_thread_builtins();
