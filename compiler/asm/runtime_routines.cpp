// The runtime routines behind the assembler's div, rol, ror, maths, value-stack, log and
// call statements, and the table of their addresses for the constant table.
#include "compiler/asm/runtime_routines.h"

#include "compiler/asm/arm_bridge.h"
#include "vm/debug_frames.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/compile_messages.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "platform/kernel/types.h"
#include "vm/debugger_link.h"
#include "vm/profiler.h"

void (*declared_function_caller)(int32_t index) = nullptr;
void (*canvas_set_pixel_hook)(int32_t x, int32_t y, uint16_t colour) = nullptr;
uint16_t (*canvas_get_pixel_hook)(int32_t x, int32_t y) = nullptr;
void (*canvas_begin_scene_hook)() = nullptr;
void (*canvas_present_hook)() = nullptr;

int32_t rt_divide(int32_t dividend, int32_t divisor) {
  if (divisor == 0) return 0;
  if (divisor == -1) return static_cast<int32_t>(0u - static_cast<uint32_t>(dividend));  // no overflow trap
  return dividend / divisor;
}

uint32_t rt_shift_left(uint32_t value, uint32_t count) {
  count &= 0xFF;
  return count >= 32 ? 0 : value << count;
}

uint32_t rt_shift_right(uint32_t value, uint32_t count) {
  count &= 0xFF;
  return count >= 32 ? 0 : value >> count;
}

namespace {

double from_words(uint32_t low, uint32_t high) {
  uint64_t bits = (static_cast<uint64_t>(high) << 32) | low;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint64_t to_words(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

template <RuntimeRoutine routine>
uint64_t maths_entry(uint32_t low, uint32_t high, uint32_t low2, uint32_t high2) {
  return rt_maths(routine, low, high, low2, high2);
}

int32_t to_int_entry(uint32_t low, uint32_t high) { return double_to_int_words(low, high); }

void push_uint_entry(uint32_t value) { stack_push_uint(value); }
void push_double_entry(uint32_t low, uint32_t high) { stack_push_double_words(low, high); }
int32_t pull_pointer_entry() { return stack_pop_owned_pointer(current_program); }

// Each routine's thunk address is a constant of the blocks that call it.
struct RoutineRow {
  const char* name;
  uint32_t (*thunk)();
};

template <auto Function>
uint32_t thunk_of() {
  static const uint32_t address = arm_thunk(Function);
  return address;
}

}  // namespace

uint64_t rt_maths(RuntimeRoutine routine, uint32_t low, uint32_t high, uint32_t low2, uint32_t high2) {
  double x = from_words(low, high);
  double result = 0;
  switch (routine) {
    case kRoutineCos: result = std::cos(x); break;
    case kRoutineCosh: result = std::cosh(x); break;
    case kRoutineSin: result = std::sin(x); break;
    case kRoutineSinh: result = std::sinh(x); break;
    case kRoutineSqrt: result = std::sqrt(x); break;
    case kRoutineTan: result = std::tan(x); break;
    case kRoutineTanh: result = std::tanh(x); break;
    case kRoutineAtan: result = std::atan(x); break;
    case kRoutineAtan2: result = std::atan2(x, from_words(low2, high2)); break;
    case kRoutineExp: result = std::exp(x); break;
    case kRoutineFloor: result = std::floor(x); break;
    case kRoutineCeil: result = std::ceil(x); break;
    case kRoutineLog: result = std::log(x); break;
    case kRoutineLog10: result = std::log10(x); break;
    default: break;
  }
  return to_words(result);
}

void rt_call_procedure(uint32_t program, uint32_t procedure) {
  call_program = platform::pointer_from<ProgramContext>(program);
  call_procedure = platform::pointer_from<InstructionNode>(procedure);
  if (procedure_caller) procedure_caller();
}

void rt_call_declared(int32_t index) {
  if (!declared_function_caller) {
    runtime_error("Declared function %d cannot be called", index);
    return;
  }
  declared_function_caller(index);
}

void rt_log_text(const char* text) { log_line(text); }

void rt_log_number(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  log_line(text);
}

static void set_pixel_entry(int32_t x, int32_t y, uint32_t colour) {
  if (canvas_set_pixel_hook) canvas_set_pixel_hook(x, y, static_cast<uint16_t>(colour));
}
static uint32_t get_pixel_entry(int32_t x, int32_t y) { return canvas_get_pixel_hook ? canvas_get_pixel_hook(x, y) : 0; }
static void begin_scene_entry() {
  if (canvas_begin_scene_hook) canvas_begin_scene_hook();
}
static void update_entry() {
  if (canvas_present_hook) canvas_present_hook();
}

static void push_text_entry(uint32_t address) { stack_push_uint(address); }
static void save_mark_entry() { stack_save_mark(current_program); }
static void enter_function_entry(const char* name) { rt_enter_function(current_program, name); }
static void leave_function_entry() { rt_leave_function(current_program); }

static const RoutineRow kRoutines[kRoutineCount] = {
    {"rt_divide", &thunk_of<&rt_divide>},
    {"rt_shift_left", &thunk_of<&rt_shift_left>},
    {"rt_shift_right", &thunk_of<&rt_shift_right>},
    {"cos", &thunk_of<&maths_entry<kRoutineCos>>},
    {"cosh", &thunk_of<&maths_entry<kRoutineCosh>>},
    {"sin", &thunk_of<&maths_entry<kRoutineSin>>},
    {"sinh", &thunk_of<&maths_entry<kRoutineSinh>>},
    {"sqrt", &thunk_of<&maths_entry<kRoutineSqrt>>},
    {"tan", &thunk_of<&maths_entry<kRoutineTan>>},
    {"tanh", &thunk_of<&maths_entry<kRoutineTanh>>},
    {"atan", &thunk_of<&maths_entry<kRoutineAtan>>},
    {"atan2", &thunk_of<&maths_entry<kRoutineAtan2>>},
    {"exp", &thunk_of<&maths_entry<kRoutineExp>>},
    {"floor", &thunk_of<&maths_entry<kRoutineFloor>>},
    {"ceil", &thunk_of<&maths_entry<kRoutineCeil>>},
    {"log", &thunk_of<&maths_entry<kRoutineLog>>},
    {"log10", &thunk_of<&maths_entry<kRoutineLog10>>},
    {"double_to_int", &thunk_of<&to_int_entry>},
    {"stack_push_uint", &thunk_of<&push_uint_entry>},
    {"stack_push_double", &thunk_of<&push_double_entry>},
    {"stack_push_text", &thunk_of<&push_text_entry>},
    {"stack_pop_owned_pointer", &thunk_of<&pull_pointer_entry>},
    {"log_line", &thunk_of<&rt_log_text>},
    {"log_number", &thunk_of<&rt_log_number>},
    {"vm_call_procedure", &thunk_of<&rt_call_procedure>},
    {"rt_call_declared", &thunk_of<&rt_call_declared>},
    {"rt_set_pixel", &thunk_of<&set_pixel_entry>},
    {"rt_get_pixel", &thunk_of<&get_pixel_entry>},
    {"rt_begin_scene", &thunk_of<&begin_scene_entry>},
    {"rt_update", &thunk_of<&update_entry>},
    {"__savesp", &thunk_of<&save_mark_entry>},
    {"rt_debug_snapshot", &thunk_of<&rt_debug_snapshot>},
    {"debugger_break_check", &thunk_of<&debugger_break_check>},
    {"rt_enter_function", &thunk_of<&enter_function_entry>},
    {"rt_leave_function", &thunk_of<&leave_function_entry>},
    {"profiler_hook", &thunk_of<&profiler_hook>},
};

uint32_t runtime_routine_address(RuntimeRoutine routine) {
  if (routine < 0 || routine >= kRoutineCount) return 0;
  return kRoutines[routine].thunk();
}

const char* runtime_routine_name(RuntimeRoutine routine) {
  if (routine < 0 || routine >= kRoutineCount) return "";
  return kRoutines[routine].name;
}
