// The compile message reporter (errors and warnings of every compiler stage, with their
// limits), the compiler-output stream, the dated log file and program file resolution.
#pragma once

#include "foundation/file_helpers.h"  // program_folder

#include <cstdint>
#include <cstdio>

struct CodeListNode;

// Switches, all on at start; the compile driver sets them from the program's options.
extern uint8_t log_enabled;              // log_line writes only while set
extern uint8_t warnings_enabled;         // warnings are reported only while set
extern uint8_t compiler_output_enabled;  // console lines reach the output stream only while set
extern uint8_t error_box_enabled;        // run-time errors show a box; clear: they join the compile errors

// Reset by the compile driver at the start of each compilation.
extern int32_t compile_error_count;
extern int32_t compile_warning_count;
extern char* compile_error_text;  // crt::malloc'd: the long forms of all errors so far

extern FILE* compiler_output_stream;               // null when none is open
extern uint8_t compiler_output_pending_newline;    // a "\n" goes out before the next text
extern char* log_file_name;                        // crt::malloc'd; null until the log is opened

// The runtime's version text shown in the log's header.
extern const char* runtime_version_text;

// Stores the error text (size bytes, its zero included) in the script variable "ERROR%",
// making the variable when it is missing. Tests may point it elsewhere.
extern void (*set_error_variable_text)(const char* text, uint32_t size);

// The most errors and warnings reported in one compilation; the last carries a notice.
constexpr int32_t kCompileMessageLimit = 257;

// Formats, counts and records one error or warning. source may be null; node, when given,
// names the place (a "__DEBUG" marker is skipped); position -1 means none. Messages past
// the limits and warnings while they are switched off are dropped without trace.
void report_compile_message(const char* source, const char* message, const CodeListNode* node,
                            int32_t position, bool is_warning);
// Opens a compiler-output stream on path, emptied; null when it cannot be created. The
// emptied file is closed before anything is written to it: ext4 starts writing back a
// file that its writer emptied when it is closed, a disk write at the end of each run.
FILE* open_compiler_output(const char* path);
// Writes text to the compiler-output stream when one is open, after a pending newline.
void write_compiler_output(const char* text);
// Appends one line "date time : text" to the log, opening the log first when it is missing
// (also when its file was deleted). The line is in the file when this returns. A log
// that cannot be written loses the line.
void log_line(const char* text);
// Starts the log: the given path, or "debuglog.txt" in the program folder (also when the
// given one cannot be created), emptied, with its two header lines.
void debug_log_open(const char* path);
// Closes the log and forgets its name: the next line starts a new one.
void debug_log_close();
// The file to load for a program name: the name itself when it exists, else its base with
// ".zrk", else with ".zrc", else the name unchanged. Takes a crt::malloc'd name and frees
// it; the result is a new crt::malloc'd text.
char* resolve_program_file(char* name);
// 1 when the name ends in ".zrc" in any case, else 0.
int is_compiled_file_name(const char* name);
