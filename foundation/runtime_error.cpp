// The run-time error reporter: the report text, ERROR% inside TRY, the log line, the error
// box with script handlers detached, the end of the run on Cancel and the debugger's wait.
#include "foundation/runtime_error.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <new>
#include <mutex>
#include <string>

#include "foundation/opcodes.h"
#include "foundation/compile_messages.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/script_lock.h"
#include "foundation/string_helpers.h"
#include "platform/platform.h"

RuntimeErrorServices runtime_error_services = {};

namespace {

char last_text[1024] = "";
std::atomic<unsigned> error_count{0};

constexpr const char* kMissing = "<none>";

// Everything a report says about where the fault happened.
struct Place {
  const char* program = kMissing;
  const char* source = nullptr;  // as stored with the instruction; null when none
  std::string file;              // the source's last component, else the program name
  const char* procedure = kMissing;
  const char* opcode = kMissing;
  int32_t line = 0;
  int32_t position = 0;
  uint32_t address = 0;
  bool has_instruction = false;
};

const char* last_component(const char* path) {
  const char* result = path;
  for (const char* at = path; *at; ++at) {
    if (*at == '\\' || *at == '/') result = at + 1;
  }
  return result;
}

Place current_place() {
  Place place;
  if (current_program && current_program->name) place.program = current_program->name;
  if (current_procedure_name) place.procedure = current_procedure_name;
  if (InstructionNode* instruction = current_instruction) {
    place.has_instruction = true;
    place.address = platform::address_of(instruction);
    if (const char* name = opcode_name(static_cast<int>(instruction->opcode))) place.opcode = name;
    if (runtime_error_services.instruction_source) {
      runtime_error_services.instruction_source(instruction, &place.source, &place.line, &place.position);
    }
    place.position &= 0xFFFF;  // only the low half of the position word is the character
  }
  place.file = place.source ? last_component(place.source) : place.program;
  return place;
}

std::string report_of(const Place& place, const char* message) {
  if (place.source) {
    return format_text("App: %s\nFile:%s\nProc: %s\nOpcode: %s\nChar/Line/Offset: %d, %d, 0x%08x\n\n%s",
                       place.program, place.file.c_str(), place.procedure, place.opcode,
                       static_cast<int>(place.position), static_cast<int>(place.line), place.address, message);
  }
  return format_text("App: %s\nProc: %s\nOpcode: %s\nChar/Line/Offset: %d, %d, 0x%08x\n\n%s", place.program,
                     place.procedure, place.opcode, static_cast<int>(place.position),
                     static_cast<int>(place.line), place.address, message);
}

// ERROR% gets the text with its zero, as the compile reporter stores it.
void store_in_error_variable(const std::string& text) {
  set_error_variable_text(text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

void write_log_line(const Place& place, const char* message) {
  char* flat = crt::_strdup(message);
  if (flat == nullptr) return;
  string_replace_all(&flat, "\n", " ");
  std::string line =
      place.has_instruction
          ? format_text("** runtime error ** (%s) %s (%d,%d)\n", place.file.c_str(), flat,
                        static_cast<int>(place.line), static_cast<int>(place.position))
          : format_text("** runtime error ** (%s) %s\n", place.file.c_str(), flat);
  crt::free(flat);
  log_line(line.c_str());
}

// Parking of script procedures while boxes are open; depth counts the open boxes.
std::mutex parking_mutex;
int parking_depth = 0;

void for_each_handler(void (*visit)(void** procedure, void** parked)) {
  if (!runtime_error_services.visit_script_handlers) return;
  for (ProgramContext* program = program_list; program; program = program->next) {
    for (FormRecord* form = program->forms; form; form = form->next) {
      runtime_error_services.visit_script_handlers(form, visit);
    }
  }
}

// The debugger is told where the program stopped and then polled until it lets it go on.
void wait_for_debugger(const Place& place) {
  const RuntimeErrorServices& services = runtime_error_services;
  if (!services.debugger_key_exists || !services.debugger_poll_commands) return;
  // Without the key no debugger is listening; waiting for one would hang the program.
  if (!services.debugger_key_exists(kDebuggerKey)) return;
  std::string file = "<null>";
  if (place.source) file = file_exists(place.source) ? last_component(place.source) : place.source;
  crt::_strlwr(file.data());
  if (services.debugger_set_value) {
    services.debugger_set_value("RUNTIME", format_text("\nBREAK\n%s\n%d", file.c_str(), static_cast<int>(place.line)).c_str());
  }
  do {
    ScriptLockYield waiting;
    Sleep(100);
  } while (!services.debugger_poll_commands(file.c_str(), place.line, 0, false));
}

// Ends the run after the user cancelled the box; only the calling thread ends.
[[noreturn]] void end_run() {
  const RuntimeErrorServices& services = runtime_error_services;
  if (services.runtime_shutdown) services.runtime_shutdown();
  if (services.game_display_open && services.shut_game_display && services.game_display_open()) {
    services.shut_game_display();
  }
  ExitThread(0);
}

void show_error_box(const Place& place, const std::string& report) {
  suspend_script_handlers();
  ProgramContext* saved_program = current_program;
  int answer;
  {
    ScriptLockYield box_open;
    answer = message_box(report.c_str(), "ZRK Runtime Error", MB_OKCANCEL | MB_ICONHAND);
  }
  current_program = saved_program;
  resume_script_handlers();
  if (answer == IDCANCEL) end_run();
  if (debugger_enabled && place.has_instruction) wait_for_debugger(place);
}

}  // namespace

void suspend_script_handlers() {
  std::lock_guard<std::mutex> lock(parking_mutex);
  if (parking_depth++ > 0) return;
  for_each_handler([](void** procedure, void** parked) {
    if (*procedure == nullptr) return;
    *parked = *procedure;
    *procedure = nullptr;
  });
}

void resume_script_handlers() {
  std::lock_guard<std::mutex> lock(parking_mutex);
  if (parking_depth == 0 || --parking_depth > 0) return;
  for_each_handler([](void** procedure, void** parked) {
    if (*parked == nullptr) return;
    if (*procedure == nullptr) *procedure = *parked;
    *parked = nullptr;
  });
}

char* runtime_error_report(const char* message) {
  return crt::_strdup(report_of(current_place(), message ? message : "").c_str());
}

namespace {

void report_runtime_error(const char* message, bool is_warning) {
  Place place = current_place();
  std::string report = report_of(place, message);
  if (try_depth > 0) {
    store_in_error_variable(report);
    return;
  }
  if (!is_warning) ++runtime_errors_unhandled;
  write_log_line(place, message);
  if (error_box_enabled) show_error_box(place, report);
  else report_compile_message(nullptr, message, nullptr, -1, false);
  if (!is_warning) stop_flag = 1;
}

// With memory too short for the report, the message goes out alone: the reporter is
// reached from the run loop and guarded code, where an exception must not pass.
void report_without_memory(const char* message, bool is_warning) {
  if (try_depth > 0) {
    set_error_variable_text(message, static_cast<uint32_t>(std::strlen(message) + 1));
    return;
  }
  if (!is_warning) ++runtime_errors_unhandled;
  if (error_box_enabled) {
    int answer;
    {
      ScriptLockYield box_open;
      answer = message_box(message, "ZRK Runtime Error", MB_OKCANCEL | MB_ICONHAND);
    }
    if (answer == IDCANCEL) end_run();
  }
  if (!is_warning) stop_flag = 1;
}

}  // namespace

void runtime_error(const char* message, bool is_warning) {
  if (message == nullptr) message = "";
  std::strncpy(last_text, message, sizeof last_text - 1);
  ++error_count;
  try {
    report_runtime_error(message, is_warning);
  } catch (const std::bad_alloc&) {
    report_without_memory(message, is_warning);
  }
}

void runtime_error_format(bool is_warning, const char* format, ...) try {
  // The device's formatting (%I64d and the rest); the buffer grows until the text fits.
  std::string text(256, '\0');
  for (;;) {
    va_list arguments;
    va_start(arguments, format);
    int length = crt::_vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    if (length >= 0 && static_cast<size_t>(length) < text.size()) {
      text.resize(length);
      break;
    }
    if (format == nullptr) {
      text.clear();
      break;
    }
    if (text.size() >= (1u << 20)) break;  // a runaway text is cut at 1 MiB
    text.resize(text.size() * 2);
  }
  runtime_error(text.c_str(), is_warning);
} catch (const std::bad_alloc&) {
  runtime_error("Out of memory", is_warning);
}

void runtime_fault(const platform::FaultGuard& guard) {
  runtime_error_format(false, "Exception 0x%08X at %p", static_cast<unsigned>(guard.code), guard.address);
}

const char* runtime_error_last_text() { return last_text; }

unsigned runtime_error_count() { return error_count; }

std::atomic<uint32_t> runtime_errors_unhandled{0};
unsigned runtime_unhandled_error_count() { return runtime_errors_unhandled; }
