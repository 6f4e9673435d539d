// The script built-ins of the inline assembler (asm, callasm, doasm, freeasm) and the two
// variables through which a call hands its arguments to the code.
#pragma once

#include <cstdint>

struct Variable;

// At most this many arguments reach the code through "AARGS$".
constexpr int32_t kAssemblerArguments = 128;

// "AARGS$" (128 signed 32-bit integers) and "AARGSCOUNT$" (one) of the running program's
// global scope, created zero-filled when absent: code assembled in any procedure reads
// the same two. Either may be null when memory ran out.
void ensure_assembler_arguments(Variable** arguments, Variable** count);

// Analyzes and assembles text into a block of size bytes (a size of 0 or less picks one
// from the text's length). The block's address, or 0 after the errors were shown through
// "ShowError.zrk" of the program folder or an "ERROR" message box.
uint32_t assemble_source(int32_t size, const char* text);

// asm(size, text): the code's address, 0 on failure.
void builtin_asm();
// callasm(address, argument ...): stores the arguments and runs the code.
void builtin_callasm();
// doasm(size, argument ..., text): assembles, stores the arguments, runs and frees.
void builtin_doasm();
// freeasm(address): frees the code.
void builtin_freeasm();

// Registers the built-ins above by their script names.
void register_asm_builtins();
