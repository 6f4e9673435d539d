// Runtime shutdown and teardown, with the profile and memory reports they write.
#include "app/teardown.h"

#include <cstdio>
#include <string>

#include "compiler/constants.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/frontend/token_reader.h"
#include "foundation/opcodes.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_ownership.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/debugger_values.h"
#include "vm/profiler.h"
#include "app/startup.h"

TeardownServices teardown_services = {};

namespace {

std::string report_path(const char* file_name) {
  return format_text("%s%s", program_folder ? program_folder : "", file_name);
}

}  // namespace

void runtime_teardown() {
  free_record_array(reinterpret_cast<void**>(ProcedureTable), &procedure_count);
  drop_compile_constants(1);
  builtin_registry_clear();
  opcode_names_free();
  if (teardown_services.remove_all_event_bindings) teardown_services.remove_all_event_bindings();

  debug_log_close();
  crt::free(name_stack_text);
  name_stack_text = nullptr;
  if (teardown_services.free_last_regex) teardown_services.free_last_regex();
  error_variable = nullptr;
  if (compiler_output_stream) {
    std::fclose(compiler_output_stream);
    compiler_output_stream = nullptr;
  }
  crt::free(last_dialog_folder);
  last_dialog_folder = nullptr;

  if (profile_mode) write_profile_report(report_path("profile.txt").c_str());
  if (memory_tracking) write_memory_report(report_path("memory.txt").c_str());
  if (profile_mode || memory_tracking) {
    crt::free(tracking_label);
    tracking_label = nullptr;
  }
  interned_names_free();
}

void runtime_shutdown() {
  if (percent_variables) {
    variable_list_release(current_program, percent_variables, true);
    variable_list_free(current_program, percent_variables);
    percent_variables = nullptr;
  }
  clear_predefined_references();
  runtime_teardown();
  debugger_delete_values(kDebuggerKey, {"RUNNING", "IDE", "RUNTIME"});
  crt::free(program_folder);
  program_folder = nullptr;
  if (startup_services.com_uninitialize) startup_services.com_uninitialize();
}
