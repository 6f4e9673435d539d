// The inline assembler's script built-ins: assembling a text with its errors shown,
// gathering a call's arguments into "AARGS$"/"AARGSCOUNT$", running and freeing code.
#include "compiler/asm/asm_builtins.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/asm/arm_bridge.h"
#include "compiler/asm/assembler.h"
#include "vm/debug_frames.h"
#include "foundation/code_list.h"
#include "compiler/driver/compile_and_run.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variables.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/user/message_box.h"
#include "vm/builtin_registry.h"

namespace {

constexpr int32_t kIntegerTypeCode = -4;
constexpr size_t kCompilerPoolBytes = 524288;

// The integer a popped cell stands for: its text read as a number when it has one, else
// its number, truncated to 32 bits.
int32_t cell_integer(const ValueCell* cell) {
  if (cell->text && !(cell->flags & kCellList)) {
    if (cell->flags & kCellWideText) {
      // Digits, signs and points are ASCII: the narrow form reads the same.
      char narrow[64];
      const auto* wide = static_cast<const char16_t*>(cell->text);
      size_t length = 0;
      while (wide[length] && length + 1 < sizeof narrow) {
        narrow[length] = wide[length] < 128 ? static_cast<char>(wide[length]) : '?';
        ++length;
      }
      narrow[length] = '\0';
      return truncate_to_int(text_to_number(narrow));
    }
    return truncate_to_int(text_to_number(static_cast<const char*>(cell->text)));
  }
  return truncate_to_int(cell->number);
}

// A global integer variable with room for count elements; a variable holding something
// else is given that room afresh.
Variable* integer_variable(const char* name, uint32_t count, bool array) {
  ProgramContext* program = current_program;
  if (!program) return nullptr;
  Variable* scope = program->globals ? program->globals : current_scope;
  Variable* variable = scope ? find_variable_in_list(scope, name) : nullptr;
  if (!variable) variable = create_variable(scope, name, false);
  if (!variable) return nullptr;
  uint32_t bytes = count * 4;
  bool fits = variable->data && variable->type_code == kIntegerTypeCode && (variable->flags & kVariableOwnsData) &&
              alloc_block_size(variable->data) >= bytes;
  if (fits) return variable;
  variable_clear_value(program, variable, false, false);
  variable->data = crt::calloc(count, 4);
  if (!variable->data) {
    runtime_error_format(false, "Cannot allocate variable %s, not enough memory!", name);
    return nullptr;
  }
  variable->flags |= kVariableOwnsData;
  variable->type_code = kIntegerTypeCode;
  if (array) {
    variable->element_count = count;
    variable->dims[0] = count;
    variable->dim_count = 1;
  }
  return variable;
}

// The analyzer and the assembler work on a compiler pool of their own.
uint8_t* assemble_in_own_pool(int32_t* size, const char* text) {
  Pool* saved_pool = compiler_pool;
  compiler_pool = pool_create(kCompilerPoolBytes);
  uint8_t* block = nullptr;
  if (compiler_pool) {
    assembler_listing_enabled = 0;
    CodeListNode* first = analyze_assembler_text(text);
    block = assemble_inline_code(size, first);
    assembler_listing_enabled = 0;
    pool_destroy(compiler_pool);
  } else {
    report_compile_message(nullptr, "Buffer size too small!", nullptr, -1, false);
  }
  compiler_pool = saved_pool;
  return block;
}

// The collected errors go to the program's error script when it has one, else to a box.
void show_assembler_errors() {
  char path[1024];
  std::snprintf(path, sizeof path, "%sShowError.zrk", program_folder ? program_folder : "");
  if (!file_exists(path)) {
    message_box(compile_error_text, "ERROR", MB_ICONSTOP);
    return;
  }
  char* errors = compile_error_text;
  compile_error_text = nullptr;
  compile_and_run_file(path, nullptr, 0, kRunNewProgram);
  crt::free(compile_error_text);
  compile_error_text = errors;
}

// Pops the cells above the innermost stack mark into values, deepest first. The number
// of cells, or -1 after a run-time error (no mark, too many arguments).
int32_t pop_call_values(int32_t* values, int32_t capacity) {
  ProgramContext* program = current_program;
  ValueCell* mark;
  if (!stack_take_mark(program, &mark)) return -1;
  int32_t count = 0;
  for (ValueCell* cell = program->stack_top; cell != mark; cell = cell->below) {
    if (!cell) {
      runtime_error("Argument list without a stack mark");
      return -1;
    }
    ++count;
  }
  if (count > capacity) {
    program->stack_top = mark;
    runtime_error("Too many parameters");
    return -1;
  }
  for (int32_t index = count - 1; index >= 0; --index) values[index] = cell_integer(stack_pop(program));
  return count;
}

// "AARGSCOUNT$" := the arguments after the first value; "AARGS$" their values in order.
void store_arguments(const int32_t* values, int32_t count) {
  Variable *arguments, *argument_count;
  ensure_assembler_arguments(&arguments, &argument_count);
  int32_t passed = count > 0 ? count - 1 : 0;
  if (argument_count) *static_cast<int32_t*>(argument_count->data) = passed;
  if (arguments && passed > 0) std::memcpy(arguments->data, values + 1, static_cast<size_t>(passed) * 4);
}

}  // namespace

void ensure_assembler_arguments(Variable** arguments, Variable** count) {
  *arguments = integer_variable("AARGS$", kAssemblerArguments, true);
  *count = integer_variable("AARGSCOUNT$", 1, false);
}

namespace {

// While the debugger or the profiler is on, the text's statements are reported at the
// script line that assembles it (the program's file when that line is not known).
class SourcePlaceForAssembly {
 public:
  SourcePlaceForAssembly() {
    if (!assembler_debugger_mode && !assembler_profiler_mode) return;
    const char* file = nullptr;
    int32_t line = 0;
    int32_t position = 0;
    if (current_instruction && runtime_error_services.instruction_source) {
      runtime_error_services.instruction_source(current_instruction, &file, &line, &position);
    }
    if (!file && current_program) {
      file = current_program->path;
      line = 0;
    }
    file_ = file ? file : "";
    assembler_source_file = file_.c_str();
    assembler_source_line = line;
  }
  ~SourcePlaceForAssembly() {
    assembler_source_file = nullptr;
    assembler_source_line = 0;
  }

 private:
  std::string file_;
};

}  // namespace

uint32_t assemble_source(int32_t size, const char* text) {
  SourcePlaceForAssembly place;
  crt::free(compile_error_text);
  compile_error_text = nullptr;
  compile_error_count = 0;
  Variable *arguments, *count;
  ensure_assembler_arguments(&arguments, &count);
  if (!text) text = "";
  // Generous for every statement: the longest lowering is under 16 bytes per character.
  if (size <= 0) size = 4096 + 16 * static_cast<int32_t>(std::strlen(text));
  uint8_t* block = assemble_in_own_pool(&size, text);
  if (!compile_error_text && compile_error_count == 0) return platform::address_of(block);
  if (!compile_error_text) compile_error_text = crt::_strdup("Assembly failed");
  show_assembler_errors();
  free_code_block(block);
  return 0;
}

void builtin_asm() {
  ProgramContext* program = current_program;
  const char* text = cell_text(stack_pop(program));
  int32_t size = cell_integer(stack_pop(program));
  stack_push_uint(assemble_source(size, text));
}

namespace {

// Runs a block, and frees the block when free_after. Under the debugger the frame
// records the code made and did not give back (it faulted inside a function) go with
// the run, so the views never show frames of code that stopped.
void run_block(uint32_t code, bool free_after) {
  ProgramContext* program = current_program;
  AsmFrameRecord* kept = program ? program->asm_frames : nullptr;
  if (!free_after && !assembler_debugger_mode) {
    run_arm_code(code);
    return;
  }
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    run_arm_code(code);
    platform::fault_guard_leave(&guard);
  } else {
    unwind_asm_frames(program, kept);
    // The block of one call goes with its fault too.
    if (free_after) free_code_block(platform::pointer_from<uint8_t>(code));
    raise_fault_again(guard);
  }
  unwind_asm_frames(program, kept);
  if (free_after) free_code_block(platform::pointer_from<uint8_t>(code));
}

}  // namespace

void builtin_callasm() {
  int32_t values[kAssemblerArguments + 1];
  int32_t count = pop_call_values(values, kAssemblerArguments + 1);
  if (count <= 0) return;
  store_arguments(values, count);
  if (values[0] != 0) run_block(static_cast<uint32_t>(values[0]), false);
}

void builtin_doasm() {
  ProgramContext* program = current_program;
  // The text stays valid: nothing is pushed before the assembly has read it.
  const char* text = cell_text(stack_pop(program));
  int32_t values[kAssemblerArguments + 1];
  int32_t count = pop_call_values(values, kAssemblerArguments + 1);
  if (count <= 0) return;
  store_arguments(values, count);
  uint32_t code = assemble_source(values[0], text);
  if (code != 0) run_block(code, true);
}

void builtin_freeasm() {
  int32_t address = cell_integer(stack_pop(current_program));
  free_code_block(platform::pointer_from<uint8_t>(static_cast<uint32_t>(address)));
}

void register_asm_builtins() {
  builtin_register("asm", builtin_asm);
  builtin_register("doasm", builtin_doasm);
  builtin_register("callasm", builtin_callasm);
  builtin_register("freeasm", builtin_freeasm);
}
