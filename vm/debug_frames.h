// What assembled code built for the debugger leaves for the debugger link to read: the
// register block of the statement about to run and one frame record per running
// assembled function.
#pragma once

#include <cstdint>

struct ProgramContext;

constexpr int32_t kAssemblerMaxLocals = 128;  // locals of one section

// The registers and the current section's locals as they were before the statement that
// is about to run. Written by every statement of code assembled in debugger mode.
struct AsmRegisterBlock {
  uint32_t r0, r1, r2, r3, sf, sp;
  int32_t local_count;
  int32_t parameter_count;  // the first locals are the function's parameters
  uint32_t values[kAssemblerMaxLocals];
  const char* names[kAssemblerMaxLocals];
};
extern thread_local AsmRegisterBlock asm_register_block;

// The locals of a section as the code describes them to the snapshot routine: the
// parameters first, each name a block string, each offset from sf.
struct AsmLocalsDescriptor {
  int32_t count;
  int32_t parameter_count;
  struct {
    const char* name;
    int32_t offset;
  } locals[1];  // count entries
};

struct AsmFrameRecord {
  char* name;  // "MAIN" for the main code
  int32_t local_count;
  int32_t parameter_count;
  char** local_names;
  uint32_t* local_values;
  uint32_t saved_step_mode;
  AsmFrameRecord* previous;
};

// Fills the register block from the registers that save_registers pushed at saved (r0-r3,
// cpsr, r11, sf) and the locals the descriptor names.
void rt_debug_snapshot(const uint32_t* saved, const AsmLocalsDescriptor* descriptor);
// Links a frame record for a function that starts running (name empty for the main
// code) with the locals of the register block; a step over of the line that called it
// does not stop inside. Returns the step mode it saved.
uint32_t rt_enter_function(ProgramContext* context, const char* name);
// Unlinks and frees the newest frame record and gives back the step mode it saved; no
// record does nothing.
void rt_leave_function(ProgramContext* context);
// Frees the frame records above keep: the code that made them stopped, by a fault or an
// early return, without leaving its functions.
void unwind_asm_frames(ProgramContext* context, AsmFrameRecord* keep);
