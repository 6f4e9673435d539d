// The run built-ins and the run-file routines under them: thin shells over the
// compile-and-run driver.
#include "compiler/driver/run_builtins.h"

#include <cstring>
#include <string>

#include "foundation/code_list.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/expression_value.h"
#include "compiler/driver/program_end.h"
#include "vm/applications.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/live_handles.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/debugger_link.h"

namespace {

char* resolve(const char* name) { return resolve_program_file(crt::_strdup(name ? name : "")); }

void report_missing_file(const char* name) {
  std::string text = "Syntax error of file not found!\n\"" + std::string(name ? name : "") + "\"";
  message_box(text.c_str(), "Run error", 0);
}

// The popped cell's text as a new 8-bit copy the caller frees: a number is formatted and
// UTF-16 text narrowed. A program run from here may reuse the cell, so nothing points
// into it afterwards.
char* pop_text_copy() {
  ValueCell* cell = stack_pop(current_program);
  if (cell->text == nullptr) {
    if (cell->number == 0 && cell->data == 0) return crt::_strdup("");
    char* number = number_to_text(cell->number);
    return number ? number : crt::_strdup("");
  }
  if (cell->flags & kCellWideText) return to_narrow(static_cast<const char16_t*>(cell->text));
  return crt::_strdup(static_cast<const char*>(cell->text));
}

int32_t pop_int() { return stack_pop_int(current_program); }

void push_program(ProgramContext* program) {
  stack_push_number(current_program, static_cast<double>(reinterpret_cast<uintptr_t>(program)));
}

void run_named(uint8_t report_missing, bool range_check) {
  char* name = pop_text_copy();
  uint8_t saved = run_switches.default_range_check;
  if (range_check) run_switches.default_range_check = 1;
  ProgramContext* program = run_file_or_text(name, report_missing);
  run_switches.default_range_check = saved;
  crt::free(name);
  push_program(program);
}

void builtin_runfile() { run_named(1, false); }
void builtin_runfileex() { run_named(1, true); }
void builtin_run() { run_named(0, false); }
void builtin_runex() { run_named(0, true); }

// The run modes eval takes as they are; any other number must be a scope alloceval gave
// and freeeval has not freed.
bool is_eval_mode(uint32_t mode) {
  return mode == kRunNewProgram || mode == kRunInCallerScope || mode == kRunCallerGlobalsAsLocal ||
         mode == kRunFreshLocalScope || mode == kRunNewProgramKept;
}

void builtin_eval() {
  int32_t end = pop_int();
  auto mode = static_cast<uint32_t>(pop_int());
  if (!is_eval_mode(mode) && !live_handle_is(LiveHandleKind::EvaluationScope, platform::pointer_from<void>(mode))) {
    stack_pop(current_program);
    runtime_error("eval: the scope 0x%08X is not an evaluation scope", mode);
    push_program(nullptr);
    return;
  }
  char* text = pop_text_copy();
  Variable* scope = current_scope;
  Pool* word_pool = compiler_pool;
  ProgramContext* program = run_file_report_error(text, 0, mode);
  compiler_pool = word_pool;
  if (program != nullptr && end != 0) {
    app_instance_end(program);
    program = nullptr;
  }
  current_scope = scope;
  crt::free(text);
  push_program(program);
}

void builtin_compile() {
  char* name = pop_text_copy();
  compile_file_with_mode(name, 0);
  crt::free(name);
}

void builtin_makeexe() {
  int32_t mode = pop_int();
  char* executable = pop_text_copy();
  char* source = pop_text_copy();
  if (mode == 1) run_switches.makeexe_mode1 = 1;
  if (mode == 2) run_switches.makeexe_mode2 = 1;
  crt::free(run_switches.executable_name);
  run_switches.executable_name = executable;
  compile_file_with_mode(source, 1);
  crt::free(run_switches.executable_name);
  run_switches.executable_name = nullptr;
  run_switches.makeexe_mode1 = 0;
  run_switches.makeexe_mode2 = 0;
  crt::free(source);
}

void builtin_import() {
  int32_t declaration_flag = pop_int();
  int32_t string_conversion = pop_int();
  int32_t is_function = pop_int();
  int32_t argument_count = pop_int();
  char* function = pop_text_copy();
  char* library = pop_text_copy();
  char* name = pop_text_copy();
  external_function_declare(name, function, library, static_cast<uint8_t>(argument_count),
                            static_cast<uint8_t>(is_function), static_cast<uint8_t>(string_conversion),
                            static_cast<uint8_t>(declaration_flag));
  crt::free(name);
  crt::free(library);
  crt::free(function);
}

}  // namespace

ProgramContext* run_file_or_text(const char* name, uint8_t report_missing) {
  char* resolved = resolve(name);
  run_switches.run_loader = 1;
  ProgramContext* program = nullptr;
  if (resolved && file_exists(resolved)) {
    program = compile_and_run_file(resolved, nullptr, 0, kRunNewProgram);
  } else if (report_missing) {
    report_missing_file(resolved);
  } else {
    program = compile_and_run_file(nullptr, name, 0, kRunNewProgram);
  }
  run_switches.run_loader = 0;
  crt::free(resolved);
  return program;
}

ProgramContext* run_file_report_error(const char* name, uint8_t report_missing, uint32_t mode) {
  Variable* scope = current_scope;
  char* resolved = resolve(name);
  ProgramContext* program = nullptr;
  if (resolved && file_exists(resolved)) {
    program = compile_and_run_file(resolved, nullptr, 0, mode);
  } else if (report_missing) {
    report_missing_file(name);
  } else {
    program = compile_and_run_file(nullptr, name, 0, mode);
  }
  crt::free(resolved);
  current_scope = scope;
  return program;
}

void compile_file_with_mode(const char* name, uint8_t makeexe) {
  char* resolved = resolve(name);
  if (resolved && !is_compiled_file_name(resolved)) {
    // The stale compiled file goes; never a file that is the source itself.
    char* compiled = compiled_file_name(resolved);
    if (compiled && crt::_stricmp(compiled, resolved) != 0) {
      char16_t* wide = to_wide(compiled);
      if (wide) DeleteFileW(wide);
      crt::free(wide);
    }
    crt::free(compiled);
  }
  run_switches.makeexe_mode = makeexe;
  if (resolved && file_exists(resolved)) compile_and_run_file(resolved, nullptr, 1, kRunNewProgram);
  else compile_and_run_file(nullptr, name, 1, kRunNewProgram);
  run_switches.makeexe_mode = 0;
  crt::free(resolved);
}

void register_run_builtins() {
  // The machine ends programs and evaluates the debugger's expressions through these.
  application_instance_end = app_instance_end;
  expression_evaluator = evaluate_expression;
  builtin_register("runfile", builtin_runfile);
  builtin_register("runfileex", builtin_runfileex);
  builtin_register("run", builtin_run);
  builtin_register("runex", builtin_runex);
  builtin_register("eval", builtin_eval);
  builtin_register("compile", builtin_compile);
  builtin_register("makeexe", builtin_makeexe);
  builtin_register("import", builtin_import);
  builtin_register_arity(kExpressionValueName, builtin_expression_value, 1, 0);
}
