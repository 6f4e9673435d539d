// Start-up of the runtime: the command line and its switches, the predefined globals,
// the breakpoints the debugger hands over, the start scripts, a program appended to the
// executable, and the exit status of the run.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "vm/runtime_globals.h"

struct ListElement;
struct Variable;

// Services of parts built elsewhere that start-up calls; each is null while its part is
// absent, and start-up then skips that step.
struct StartupServices {
  void (*com_initialize)();
  void (*com_uninitialize)();
  void* (*load_wait_cursor)();
  void (*cache_screen_dpi)();
  void (*build_cosine_tables)();
  // Runs the message loop until the last program ends.
  void (*run_message_loop)();
  // Compiles only (and with makeexe_mode builds the executable). Absent: the program is
  // compiled through compile_and_run_file in compile-only mode.
  void (*compile_file_with_mode)(const char* name, uint8_t makeexe_mode);
};
extern StartupServices startup_services;

// The record the memory figures hand to GlobalMemoryStatus (its length set to 32).
extern MEMORYSTATUS runtime_memory_status;
// The comma-separated name stack the compiler pushes names onto; freed at teardown.
extern char* name_stack_text;

// The marker between the runtime's executable and a program appended to it.
constexpr int32_t kAppendedMarkerLength = 12;
// The marker text, built one byte at a time at run time so that the executable's own
// bytes never hold it in a row (the search would find it inside the runtime itself).
const char* appended_marker();
// The offset of the first marker in image, -1 when there is none.
int32_t find_appended_marker(const uint8_t* image, uint32_t size);
// Where the bytes of the 32-bit ELF executable at path (file_length bytes long) end: an
// appended program can only come after them. 0 when the file is not such an image.
uint32_t executable_image_end(const char* path, uint32_t file_length);

// What one command line asks for. Reading it sets the switch flags.
struct CommandLine {
  char* program_file;        // the first token (crt::malloc'd); null for an empty line
  ListElement* arguments;    // the ARGV% chain: every token as an owned text, first first
  bool skip_default_script;  // "ND"
};
// Splits the narrow command line at '|' and reads each token after the first as a switch
// (exact, case-sensitive; a token that is no switch only lands in the arguments).
CommandLine read_command_line(const char* line);
// Frees the switch texts ("M-", "MD-", "I-") a command line set.
void free_switch_texts();

// Creates PLATFORM%, HINSTANCE%, ... REXERROR% as '%' globals in their fixed order and
// sets the direct references. arguments becomes the chain of ARGV% (ownership passes).
void create_predefined_globals(const char* command_line, ListElement* arguments);
// Clears every direct reference (the variables themselves go with the '%' list).
void clear_predefined_references();

// Under "D": takes the breakpoints the debugger left in its "IDE" value, deletes the
// value and fills the breakpoint table. Nothing when no debugger key exists.
void read_debugger_breakpoints();

// Start-up's share of the registration: the breakpoint table, the memory status record,
// the random seed and the name stack start empty.
void reset_start_up_state();

// Runs the program appended to the executable file image read at start-up: 1 when there
// was one, 0 when the image holds no marker.
int run_appended_program();

// Exit statuses of a run.
constexpr int kExitSuccess = 0;
constexpr int kExitRunFailed = 1;       // an unhandled run-time error or a failed compilation
constexpr int kExitProgramMissing = 2;  // the program named on the command line does not exist

// The exit status of the run so far: a failing device_status stands, else the status
// start-up decided, else 1 when a program of this run failed (start-up's own end and the
// device's end of the run both ask here).
int run_exit_status(int device_status);

// The runtime's main routine: the command line is the '|'-joined wide text. Runs the
// start scripts, an appended program, the command-line program (or "MAIN.ZRK") and the
// message loop, tears everything down and returns the exit status.
int runtime_main(HINSTANCE instance, HINSTANCE previous_instance, const char16_t* command_line, int32_t show_command);
