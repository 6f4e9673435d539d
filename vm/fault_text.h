// Processor faults caught by the runtime's guards turned into one-line texts, delivered
// to the user through the run-time error reporter or to the script through ERROR%.
#pragma once

#include <cstdint>

#include "foundation/program_context.h"
#include "platform/kernel/fault_guard.h"

// The fixed text of an exception code ("Access violation", ...); codes outside the
// table give "Floating point, or software exception".
const char* fault_code_text(DWORD code);

// Makes the text of a fault in program and delivers it: with no TRY open and the program
// in run mode 0 as a run-time error, "(procedure)\n<text> at 0x<address>"; otherwise as
// ERROR%, "<text> at 0x<address>". Silent while the program is being ended by EXIT.
// Always 1: the fault is accepted.
int32_t exception_message_with_context(ProgramContext* program, const char* procedure_name, DWORD code,
                                       EXCEPTION_POINTERS* pointers);

// Stores through text a new heap text "<text> at 0x<address>" that the caller frees with
// crt::free. Always 1.
int32_t exception_text(char** text, DWORD code, EXCEPTION_POINTERS* pointers);

// The run loop's trap filter: the fault of the running procedure of current_program.
int32_t vm_fault_filter(DWORD code, EXCEPTION_POINTERS* pointers);

// The last text left for ERROR% ("" before any); it goes to the variable through
// set_error_variable_text (foundation/compile_messages.h).
const char* last_fault_text();
