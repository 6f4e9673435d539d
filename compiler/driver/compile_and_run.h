// The one road from a program name, a source text or an in-memory compiled image to a
// running program, and the switches that start-up sets for it.
#pragma once

#include <cstdint>

struct ProgramContext;

// Run modes of compile_and_run_file.
constexpr uint32_t kRunNewProgram = 0;         // own heap, stack and globals
constexpr uint32_t kRunInCallerScope = static_cast<uint32_t>(-1);
constexpr uint32_t kRunCallerGlobalsAsLocal = static_cast<uint32_t>(-2);
constexpr uint32_t kRunFreshLocalScope = static_cast<uint32_t>(-3);
constexpr uint32_t kRunNewProgramKept = static_cast<uint32_t>(-4);

// How many compile-and-runs (run, eval, a program's start-up) may be under way inside
// each other; one more is a run-time error.
constexpr int32_t kMaxRunNesting = 64;
// Any other mode is the address of the scope head to run in.

// Compiles (or loads) and runs. file_name null: text is the source, or, while an image run
// is active, the compiled image (owned by the driver). The new program when it stays alive
// (or the mode keeps it), else null.
ProgramContext* compile_and_run_file(const char* file_name, const char* text, uint8_t compile_only, uint32_t mode);

// Gives the program a start stamp no other live program has.
void stamp_program_instance(ProgramContext* program);

// The compiled-file name of a source: its extension (or the end of a name without one)
// becomes ".zrc". A new crt::malloc'd text; null for null.
char* compiled_file_name(const char* source_name);

// Set to 1 when a program started by compile_and_run_file ended its run with a run-time
// error that no TRY handled (counted by runtime_errors_unhandled, foundation/runtime_error.h),
// or when an outermost compile (not one of eval or run inside a running program) had
// errors. Never cleared here: start-up reads it after its runs and exits non-zero when set.
extern uint8_t run_failed;

// Whether a compiled file may stand in for its source; compiled_file_is_current, which
// tests replace to choose the road.
extern int32_t (*compiled_file_check)(const char* source_path, const char* compiled_path);

// ---- Run-file routines (the run built-ins and start-up) ----

// Runs a program file, or, when no file of that name (or with ".zrk"/".zrc") exists, the
// argument as source text. With report_missing a missing file is reported in a "Run
// error" box instead and nothing runs. Sets the run-loader flag around the run. The
// program when it stays alive, else null.
ProgramContext* run_file_or_text(const char* name, uint8_t report_missing);
// The same in a run mode, without the loader and with the caller's scope kept.
ProgramContext* run_file_report_error(const char* name, uint8_t report_missing, uint32_t mode);
// Compiles a program file (or the argument as source text) without running it, after
// deleting its stale compiled file. makeexe is the makeexe flag for this compile.
void compile_file_with_mode(const char* name, uint8_t makeexe);

// Command-line switches and the run state start-up hands to the driver.
struct RunSwitches {
  uint8_t compile_only;      // "C", "M", "CC"
  uint8_t recompile;         // "RC"
  uint8_t word_list_mode;    // "CC"
  uint8_t makeexe_mode;      // "M", "M-", "MD-" (and the makeexe built-in)
  uint8_t makeexe_mode1;     // "FPC" / makeexe mode 1: written with platform byte 0
  uint8_t makeexe_mode2;     // makeexe mode 2
  uint8_t target_desktop;    // "FPC"
  uint8_t no_error_script;   // "DM"
  uint8_t default_range_check;  // "R" (and "D")
  uint8_t default_explicit;     // "X"
  uint8_t warnings;             // "W"
  uint8_t error_display;        // error display enabled, initially 1
  uint8_t status_window;        // status window enabled, initially 1
  uint8_t run_loader;           // the caller asked for the loader program
  uint8_t command_line_program; // start-up asks for the loader for the command-line program (the driver takes it)
  uint32_t quiet_mode;          // "Q" and the QuietMode built-in
  int32_t link_level;           // "NL" 0, "L1" 1 (initially), "LM" 999
  char* executable_name;        // "M-" text, or the makeexe built-in's name
  char* icon_file;              // "I-" text: the analyzer's icon file, which #ICON then leaves alone
};
extern RunSwitches run_switches;

// The in-memory image run of an executable with an appended program: active while
// image_run_size is non-zero; image_run_name is the executable's path.
extern uint32_t image_run_size;
extern const char* image_run_name;

// The runtime's version text ("1.31.0"), set by start-up; its storage is the compile
// reporter's (foundation/compile_messages.h).
extern const char* runtime_version_text;
