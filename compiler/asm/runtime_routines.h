// The runtime routines that assembled code calls through its constant table, with
// the two-word argument and result conventions of ARM code (doubles as low, high).
#pragma once

#include <cstdint>

enum RuntimeRoutine : int32_t {
  kRoutineDivide,
  kRoutineShiftLeft,
  kRoutineShiftRight,
  kRoutineCos,
  kRoutineCosh,
  kRoutineSin,
  kRoutineSinh,
  kRoutineSqrt,
  kRoutineTan,
  kRoutineTanh,
  kRoutineAtan,
  kRoutineAtan2,
  kRoutineExp,
  kRoutineFloor,
  kRoutineCeil,
  kRoutineLog,
  kRoutineLog10,
  kRoutineToInt,
  kRoutinePushUint,
  kRoutinePushDouble,
  kRoutinePushText,
  kRoutinePullPointer,
  kRoutineLogText,
  kRoutineLogNumber,
  kRoutineCallProcedure,
  kRoutineCallDeclared,
  kRoutineSetPixel,
  kRoutineGetPixel,
  kRoutineBeginScene,
  kRoutineUpdate,
  kRoutineSaveMark,
  kRoutineDebugSnapshot,
  kRoutineBreakCheck,
  kRoutineEnterFunction,
  kRoutineLeaveFunction,
  kRoutineProfilePoint,
  kRoutineCount,
};

// The address assembled code calls for the routine (its thunk), as a 32-bit constant.
uint32_t runtime_routine_address(RuntimeRoutine routine);
// The routine's name for the listing.
const char* runtime_routine_name(RuntimeRoutine routine);

// Signed quotient; 0 for a zero divisor (the processor would fault).
int32_t rt_divide(int32_t dividend, int32_t divisor);
// Logical shifts; a count of 32 or more in the low byte gives 0.
uint32_t rt_shift_left(uint32_t value, uint32_t count);
uint32_t rt_shift_right(uint32_t value, uint32_t count);
// The maths routines take a double as two words and return it as a 64-bit pair.
uint64_t rt_maths(RuntimeRoutine routine, uint32_t low, uint32_t high, uint32_t low2, uint32_t high2);
// Runs a script procedure of a program (as zrk NAME does).
void rt_call_procedure(uint32_t program, uint32_t procedure);
// Calls a declared library function by its registry index.
void rt_call_declared(int32_t index);
// Set by the external-call layer: runs the declared function at the registry index with
// its arguments on the value stack. Null reports a run-time error.
extern void (*declared_function_caller)(int32_t index);
// The canvas of the display layer, connected when it exists; null does nothing (and
// getpixel gives 0).
extern void (*canvas_set_pixel_hook)(int32_t x, int32_t y, uint16_t colour);
extern uint16_t (*canvas_get_pixel_hook)(int32_t x, int32_t y);
extern void (*canvas_begin_scene_hook)();
extern void (*canvas_present_hook)();
// Logging from assembled code.
void rt_log_text(const char* text);
void rt_log_number(int32_t value);
