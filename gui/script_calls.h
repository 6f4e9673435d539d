// How window messages reach script procedures: the shared call of a window's script
// procedure, the results it leaves, and the conversions between script numbers and the
// handles and procedures they stand for.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct FormRecord;
struct InstructionNode;
struct ProgramContext;

// The integer result of the last script window procedure; 1 means not handled.
extern int32_t last_window_result;

// Runs the window's script procedure (the procedure of its FormRecord, in the program
// that owns the record) with the four values and returns its integer result, also kept in
// last_window_result. A window without a record or without a procedure gives 1.
int32_t call_window_script(HWND window, uint32_t message, WPARAM wparam, LPARAM lparam);
// call_window_script with message 1 (created); 1 when the script returned 0, else 0.
int32_t notify_window_created(HWND window);

// Runs procedure in program with the four numbers and gives its integer result.
// Handles among them come as unsigned numbers, like the built-ins give them.
int32_t run_script_procedure(ProgramContext* program, InstructionNode* procedure, double target, int32_t message,
                             double first, double second);

// Handles travel through scripts as numbers holding their address.
inline int32_t window_number(HWND window) { return static_cast<int32_t>(platform::address_of(window)); }
inline HWND window_from_number(int32_t number) {
  return platform::pointer_from<HWND__>(static_cast<uint32_t>(number));
}

// The procedure a script passed as a number: null for 0; a number that names no
// procedure of program is reported (naming the built-in) and gives null.
InstructionNode* script_procedure_from_number(ProgramContext* program, uint32_t number, const char* builtin_name);
