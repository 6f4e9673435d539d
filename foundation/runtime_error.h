// The run-time error reporter: one report per fault or warning found while a script runs,
// kept in ERROR% inside TRY, else logged and shown in the error box (or added to the
// compile messages when the box is off), with the debugger's wait after OK.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/fault_guard.h"

struct FormRecord;
struct InstructionNode;

// Reports message. Inside TRY the full report goes to ERROR% and nothing else happens;
// outside, the report is logged and shown (or added to the compile errors). A fault
// (is_warning false) sets stop_flag, so the current procedure ends; a warning never stops.
void runtime_error(const char* message, bool is_warning);
// runtime_error with a message formatted as printf does on the device (%I64d and all).
void runtime_error_format(bool is_warning, const char* format, ...);
// A fault with a plain message (no formatting: the text may hold '%').
inline void runtime_error(const char* message) { runtime_error(message, false); }
// A fault with a printf-style message. Overload resolution keeps runtime_error(text, true)
// on the form above, so an argument is never taken for is_warning.
template <typename First, typename... Rest>
void runtime_error(const char* format, First first, Rest... rest) {
  runtime_error_format(false, format, first, rest...);
}
// Reports a processor fault caught by guard as a run-time error.
void runtime_fault(const platform::FaultGuard& guard);

// The full report of message from the machine state: program, source file (when the
// instruction has one), procedure, opcode name, place and instruction address. Missing
// parts read "<none>" and 0. A new crt::malloc'd text.
char* runtime_error_report(const char* message);

// The message of the last report ("" before any) and how many were made; for tests and
// diagnostics only, the reporter decides nothing by them.
const char* runtime_error_last_text();
unsigned runtime_error_count();
// Faults reported outside any TRY (they stopped a procedure); the compile driver watches it
// to tell start-up that a run failed.
extern std::atomic<uint32_t> runtime_errors_unhandled;
unsigned runtime_unhandled_error_count();

// What the reporter needs of parts built elsewhere. Each entry is null while that part is
// absent, and the reporter then skips what it would do with it.
struct RuntimeErrorServices {
  // The source file (null when none), line and character position of an instruction.
  // Absent: no instruction has a source place.
  void (*instruction_source)(const InstructionNode* instruction, const char** file, int32_t* line,
                             int32_t* position);
  // Ends the whole run (debugger values, teardown) when the user cancels the error box.
  void (*runtime_shutdown)();
  // Whether the game display is open, and closing it before a cancelled run's thread ends.
  bool (*game_display_open)();
  void (*shut_game_display)();
  // The debugger link: whether its registry key exists, writing one of its values, and one
  // poll for its commands (true: go on running).
  bool (*debugger_key_exists)(const char* key);
  void (*debugger_set_value)(const char* name, const char* text);
  bool (*debugger_poll_commands)(const char* file, int32_t line, uint32_t unused, bool query_only);
  // Calls visit with the script procedure word of the form and of each of its controls,
  // and the word that holds it aside while an error box is open.
  void (*visit_script_handlers)(FormRecord* form, void (*visit)(void** procedure, void** parked));
};
extern RuntimeErrorServices runtime_error_services;

// The registry key of the debugger link.
constexpr const char* kDebuggerKey = "ZRKDEBUGGER";

// Detaches the script procedures of every form and control of every program, so window
// messages dispatched while an error box is open run no script code. Nested calls (a
// second box while one is open, on any thread) leave the parked words alone.
void suspend_script_handlers();
// Undoes suspend_script_handlers when the outermost box closes; a record whose procedure
// was set anew meanwhile keeps the new one.
void resume_script_handlers();
