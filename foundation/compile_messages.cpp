// Compile errors and warnings with their limits and texts, the compiler-output stream,
// the dated log file and the resolution of program names to files.
#include "foundation/compile_messages.h"

#include "foundation/string_helpers.h"

#include <cstring>
#include <mutex>
#include <string>

#include "foundation/code_list.h"
#include "foundation/conversion.h"
#include "foundation/runtime_memory.h"
#include "foundation/variable_store.h"
#include "platform/platform.h"

uint8_t log_enabled = 1;
uint8_t warnings_enabled = 1;
uint8_t compiler_output_enabled = 1;
uint8_t error_box_enabled = 1;

int32_t compile_error_count = 0;
int32_t compile_warning_count = 0;
char* compile_error_text = nullptr;

FILE* compiler_output_stream = nullptr;
uint8_t compiler_output_pending_newline = 0;
char* log_file_name = nullptr;

const char* runtime_version_text = "1.31.0";

// ERROR% is a '%' variable, shared by every program; a missing one is made here.
// A store that itself reports an error (no memory for the variable) would store again
// without end; that inner report is not stored.
static void store_error_variable(const char* text, uint32_t size) {
  static thread_local bool storing = false;
  if (storing) return;
  storing = true;
  set_variable_by_name("ERROR%", const_cast<char*>(text), 0, nullptr, static_cast<int32_t>(size));
  storing = false;
}
void (*set_error_variable_text)(const char* text, uint32_t size) = store_error_variable;

namespace {

// The skipped marker word of the compiler's line markers.
bool is_line_marker(const CodeListNode* node) {
  return node->text != nullptr && std::strcmp(node->text, "__DEBUG") == 0;
}

// Appends the long form to the error text, keeping it one exact-size heap text.
void append_error_text(const std::string& long_form) {
  size_t old_length = compile_error_text ? std::strlen(compile_error_text) : 0;
  char* grown = static_cast<char*>(crt::malloc(old_length + long_form.size() + 1));
  if (grown == nullptr) return;
  if (old_length) std::memcpy(grown, compile_error_text, old_length);
  std::memcpy(grown + old_length, long_form.c_str(), long_form.size() + 1);
  crt::free(compile_error_text);
  compile_error_text = grown;
}

const char* folder_text() { return program_folder ? program_folder : ""; }

// The file at path emptied, open for appending; null when it cannot be created. It is
// closed once empty: ext4 writes back a file that its writer emptied when it closes it.
FILE* open_emptied(const char* path) {
  FILE* emptied = crt::fopen(path, "w");
  if (emptied == nullptr) return nullptr;
  std::fclose(emptied);
  return crt::fopen(path, "a");
}

}  // namespace

void report_compile_message(const char* source, const char* message, const CodeListNode* node,
                            int32_t position, bool is_warning) {
  int32_t& counter = is_warning ? compile_warning_count : compile_error_count;
  if (counter > 256) return;
  if (is_warning && !warnings_enabled) return;
  const char* kind = is_warning ? "warning" : "error";
  ++counter;
  if (message == nullptr) message = "";

  std::string location;
  if (source != nullptr) {
    location = format_text("(%s)", node && node->file_name ? node->file_name : source);
  }
  const CodeListNode* place = node;
  if (place != nullptr && is_line_marker(place)) {
    if (place->next && place->next->next) place = place->next->next;
    else if (place->next) place = place->next;
  }

  std::string long_form;
  std::string console;
  if (place != nullptr) {
    const char* text = place->text ? place->text : "";
    long_form = format_text("%s: %s [%s at '%s' (%d,%d)]\n", kind, location.c_str(), message, text,
                       static_cast<int>(place->line), static_cast<int>(place->column));
    console = format_text("** %s ** %s %s at '%s' (%d,%d)\n", kind, location.c_str(), message, text,
                     static_cast<int>(place->line), static_cast<int>(place->column));
  } else if (position != -1) {
    long_form = format_text("%s: %s [%s at character position %d]\n", kind, location.c_str(), message,
                       static_cast<int>(position));
    console = format_text("** %s ** %s %s at character position %d\n", kind, location.c_str(), message,
                     static_cast<int>(position));
  } else {
    long_form = format_text("%s: %s [%s]\n", kind, location.c_str(), message);
    console = format_text("** %s ** %s %s\n", kind, location.c_str(), message);
  }
  if (counter == kCompileMessageLimit) {
    console = format_text(is_warning ? "%sToo many warnings!\n" : "%sToo many errors!\n", console.c_str());
  }
  if (compiler_output_enabled) write_compiler_output(console.c_str());
  if (!is_warning) {
    append_error_text(long_form);
    if (compile_error_text != nullptr) {
      set_error_variable_text(compile_error_text, alloc_block_size(compile_error_text));
    }
  }
}

FILE* open_compiler_output(const char* path) { return open_emptied(path); }

void write_compiler_output(const char* text) {
  if (compiler_output_stream == nullptr) return;
  if (compiler_output_pending_newline) {
    std::fputs("\n", compiler_output_stream);
    compiler_output_pending_newline = 0;
  }
  std::fprintf(compiler_output_stream, "%s", text ? text : "");
}

namespace {

std::string narrow_of(const WCHAR* text) {
  char* narrow = to_narrow(text);
  std::string result = narrow ? narrow : "";
  crt::free(narrow);
  return result;
}

// The log stays open for the run, appending; each line reaches the file in one write
// before log_line returns, so a crash loses none. log_stream_path is the name it was
// opened under: another log_file_name (or none) opens the log again.
std::mutex log_lock;
FILE* log_stream = nullptr;
std::string log_stream_path;

void close_log_stream() {
  if (log_stream) std::fclose(log_stream);
  log_stream = nullptr;
  log_stream_path.clear();
}

void append_to(const std::string& path) {
  close_log_stream();
  log_stream = crt::fopen(path.c_str(), "a");
  if (log_stream) log_stream_path = path;
}

// One line of the log: "date time : text" and its line end.
std::string stamped_line(const char* text) {
  WCHAR date[64] = {};
  WCHAR time[64] = {};
  GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 64);
  GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, u"hh:mm:ss tt", time, 64);
  return narrow_of(date) + " " + narrow_of(time) + " : " + (text ? text : "") + "\n";
}

void write_log_line(const std::string& line) {
  if (log_stream == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), log_stream);
  std::fflush(log_stream);
}

// Empties the log at path, or at the fallback when path is null or cannot be created,
// and writes the header; a log that cannot be created stays silent.
void start_log(const char* path) {
  close_log_stream();
  crt::free(log_file_name);
  log_file_name = nullptr;
  std::string fallback = std::string(folder_text()) + "debuglog.txt";
  std::string chosen = path ? path : fallback;
  // Appending: lines written to the file by others are kept, not overwritten.
  log_stream = open_emptied(chosen.c_str());
  if (log_stream == nullptr && path != nullptr) {
    chosen = fallback;
    log_stream = open_emptied(chosen.c_str());
  }
  if (log_stream != nullptr) log_stream_path = chosen;
  log_file_name = crt::_strdup(chosen.c_str());
  if (!log_enabled) return;
  write_log_line(stamped_line(format_text("Generated by the ZRK interpreter v.%s", runtime_version_text).c_str()));
  write_log_line(stamped_line(format_text("Root %s", folder_text()).c_str()));
}

}  // namespace

void log_line(const char* text) {
  if (!log_enabled) return;
  // The caller's text is copied before the lock is taken: a fault while reading it cannot
  // leave the log locked.
  std::string message = text ? text : "";
  std::lock_guard guard(log_lock);
  bool open = log_file_name != nullptr && log_stream != nullptr && log_stream_path == log_file_name &&
              crt::stream_names_file(log_stream, log_file_name);
  if (!open) {
    // A log deleted or renamed away starts again with its header.
    if (log_file_name == nullptr || !file_exists(log_file_name)) {
      start_log(nullptr);
    } else {
      append_to(log_file_name);
    }
  }
  write_log_line(stamped_line(message.c_str()));
}

void debug_log_open(const char* path) {
  std::lock_guard guard(log_lock);
  start_log(path);
}

void debug_log_close() {
  std::lock_guard guard(log_lock);
  close_log_stream();
  crt::free(log_file_name);
  log_file_name = nullptr;
}

char* resolve_program_file(char* name) {
  if (name == nullptr) return nullptr;
  char* result = nullptr;
  if (file_exists(name)) {
    result = crt::_strdup(name);
  } else {
    const char* dot = std::strchr(name, '.');
    std::string base = dot ? std::string(name, dot - name) : std::string(name);
    for (const char* extension : {".zrk", ".zrc"}) {
      std::string candidate = base + extension;
      if (file_exists(candidate.c_str())) {
        result = crt::_strdup(candidate.c_str());
        break;
      }
    }
    if (result == nullptr) result = crt::_strdup(name);
  }
  crt::free(name);
  return result;
}

int is_compiled_file_name(const char* name) {
  if (name == nullptr) return 0;
  size_t length = std::strlen(name);
  if (length < 4) return 0;
  char tail[5];
  std::memcpy(tail, name + length - 4, 5);
  crt::_strlwr(tail);
  return std::strcmp(tail, ".zrc") == 0 ? 1 : 0;
}
