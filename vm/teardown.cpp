// Runtime shutdown and teardown, with the profile and memory reports they write.
#include "vm/teardown.h"

#include <cstdio>
#include <string>

#include "compiler/constants.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/opcodes.h"
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
#include "vm/profile_records.h"
#include "vm/startup.h"

ProfileRecord* profile_records = nullptr;
TeardownServices teardown_services = {};

namespace {

std::string narrow_text(const char16_t* text) {
  char* narrow = to_narrow(text);
  std::string result = narrow ? narrow : "";
  crt::free(narrow);
  return result;
}

// "date time" in the system's short date form and "hh:mm:ss tt".
std::string report_header() {
  char16_t date[256] = {};
  char16_t time[256] = {};
  GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 255);
  GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, u"hh:mm:ss tt", time, 255);
  return narrow_text(date) + " " + narrow_text(time) + "\n";
}

// A number as the reports write it: no fraction digits, groups of three separated.
std::string grouped(double value) {
  char* plain = number_to_text(value);
  char* with_groups = insert_thousands_separators(plain ? plain : "0");
  std::string result = with_groups ? with_groups : "0";
  crt::free(plain);
  crt::free(with_groups);
  return result;
}

const char* text_or_empty(const char* text) { return text ? text : ""; }

std::string report_path(const char* file_name) {
  return format_text("%s%s", program_folder ? program_folder : "", file_name);
}

}  // namespace

bool write_profile_report(const char* path) {
  ProfileRecord* oldest = nullptr;
  uint64_t grand_total = 0;
  for (ProfileRecord* record = profile_records; record; record = record->next) {
    grand_total += record->total_ticks;
    oldest = record;
  }
  FILE* file = crt::fopen(path, "w");
  if (file) std::fputs(report_header().c_str(), file);
  double rows = 0, counts = 0, averages = 0, shares = 0;
  for (ProfileRecord* record = oldest; record;) {
    double average =
        record->count ? static_cast<double>(truncate_to_int64(static_cast<double>(record->total_ticks) / record->count))
                      : 0.0;
    // No ticks at all: every share is 0 rather than a division by zero.
    double share = grand_total ? static_cast<double>(record->total_ticks) / static_cast<double>(grand_total) * 100.0 : 0.0;
    if (file) {
      std::fprintf(file, "%s\t%s\t%d\t%s\t%s\t%s\t%3.2f%%\n", text_or_empty(record->name), text_or_empty(record->label),
                   static_cast<int>(record->key), grouped(record->count).c_str(),
                   grouped(static_cast<double>(record->total_ticks)).c_str(), grouped(average).c_str(), share);
    }
    rows += 1;
    counts += record->count;
    averages += average;
    shares += share;
    ProfileRecord* newer = record->previous;
    crt::free(record->name);
    crt::free(record->label);
    crt::free(record);
    record = newer;
  }
  profile_records = nullptr;
  if (!file) return false;
  std::fprintf(file, "totals\t\t%s\t%s\t%s\t%s\t%3.2f%%\n", grouped(rows).c_str(), grouped(counts).c_str(),
               grouped(static_cast<double>(grand_total)).c_str(), grouped(averages).c_str(), shares);
  std::fclose(file);
  return true;
}

bool write_memory_report(const char* path) {
  TrackedAllocation* oldest = nullptr;
  double total_size = 0;
  for (TrackedAllocation* record = tracked_allocations; record; record = record->next) {
    total_size += record->size;
    oldest = record;
  }
  FILE* file = crt::fopen(path, "w");
  if (file) std::fputs(report_header().c_str(), file);
  for (TrackedAllocation* record = oldest; record;) {
    if (file) {
      std::fprintf(file, "%s\t%s\t%d\t0x%x\t%s\n", text_or_empty(record->name), text_or_empty(record->label),
                   static_cast<int>(record->tag), platform::address_of(record->pointer), grouped(record->size).c_str());
    }
    TrackedAllocation* newer = record->previous;
    crt::free(record->name);
    crt::free(record->label);
    crt::free(record);
    record = newer;
  }
  tracked_allocations = nullptr;
  if (!file) return false;
  std::fprintf(file, "totals\t\t\t\t%s\n", grouped(total_size).c_str());
  std::fclose(file);
  return true;
}

void runtime_teardown() {
  free_record_array(reinterpret_cast<void**>(ProcedureTable), &procedure_count);
  drop_compile_constants(1);
  builtin_registry_clear();
  opcode_names_free();
  if (teardown_services.remove_all_event_bindings) teardown_services.remove_all_event_bindings();

  crt::free(log_file_name);
  log_file_name = nullptr;
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
  for (const char* value : {"RUNNING", "IDE", "RUNTIME"}) debugger_delete_value(kDebuggerKey, value);
  crt::free(program_folder);
  program_folder = nullptr;
  if (startup_services.com_uninitialize) startup_services.com_uninitialize();
}
