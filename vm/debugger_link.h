// The debugger link: an outside debugger steers a running program through the registry
// key HKEY_CURRENT_USER\ZRKDEBUGGER. It writes commands into "IDE" and keeps "RUNNING"
// while attached; the runtime answers in "RUNTIME" with stop notices and views.
#pragma once

#include <cstdint>
#include <string>

#include "vm/debugger_values.h"

struct Variable;

// 0 run, 1 step over, 2 step into.
extern uint32_t step_mode;
extern uint32_t last_break_line;
extern uint32_t last_break_poll_time;
extern char* debug_file_name;

// Reads and runs one command line of "IDE"; true when a command let the program go on.
// Resuming commands are ignored with query_only. A vanished debugger ends the thread.
bool debugger_poll_commands(const char* file, int32_t line, uint32_t unused, bool query_only);

// The line marker's test: stops at a breakpoint or a step and waits for the debugger.
void debugger_break_check(uint32_t unused, uint32_t line, const char* file);

// Text naming a variable in the views: "NAME (letters,sizeb)".
std::string variable_descriptor(const Variable* variable);
// Appends the rows of a variable and its members to answer; the number of rows.
int32_t variable_rows(std::string& answer, const char* row_name, const Variable* variable);
// Appends one row of a text (text non-null) or a number.
void value_row(std::string& answer, const char* row_name, const char* text, double number);

// The rows of one view command (LOCAL, GLOBAL, STACK ...) and their count; -1 for a word
// that is no view.
int32_t debugger_view(const char* command, const char* argument, std::string& rows);

// Hands the link's operations to the run-time error reporter.
void debugger_link_install();

void builtin_debug_marker();
void builtin_debug_text();
void register_debugger_link_builtins();
