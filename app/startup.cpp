// The runtime's main routine: command line and switches, predefined globals, debugger
// breakpoints, start scripts, the appended program, and the exit status of the run.
#include "app/startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/asm/assembler.h"
#include "compiler/codegen/code_generator.h"
#include "compiler/constants.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "vm/breakpoints.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"
#include "vm/debugger_values.h"
#include "app/teardown.h"

StartupServices startup_services = {};

char* name_stack_text = nullptr;

namespace {

// Written one byte at a time through a volatile buffer: the compiler can neither fold
// the stores into one constant nor leave the twelve characters in a row in the binary.
volatile char marker_buffer[kAppendedMarkerLength + 1];
char marker_text[kAppendedMarkerLength + 1];

// The part of the executable file that may hold an appended program, read at start-up,
// and where in it that program's marker starts.
char* module_path = nullptr;
uint8_t* file_image = nullptr;
uint32_t file_image_size = 0;
int32_t marker_offset = -1;

// The "MD-" text: kept for the run and freed at exit, read by nothing else.
char* makeexe_folder_text = nullptr;

// The version text "1.31.0", a heap text for the run.
char* version_text = nullptr;

char* copy_of(const char* text) { return crt::_strdup(text ? text : ""); }

void set_text_switch(char** target, const char* text) {
  crt::free(*target);
  *target = copy_of(text);
}

void set_compile_only_and_makeexe() {
  run_switches.compile_only = 1;
  run_switches.makeexe_mode = 1;
}

// One token after the first: the switches are compared exactly, in this order.
void apply_switch(const char* token, CommandLine& line) {
  auto is = [token](const char* name) { return std::strcmp(token, name) == 0; };
  if (is("P")) {
    profile_mode = 1;
    assembler_profiler_mode = 1;
  } else if (is("Y")) {
    memory_tracking = 1;
  } else if (is("M")) {
    set_compile_only_and_makeexe();
  } else if (token[0] == 'M' && token[1] == '-') {
    set_compile_only_and_makeexe();
    set_text_switch(&run_switches.executable_name, token + 2);
  } else if (token[0] == 'M' && token[1] == 'D' && token[2] == '-') {
    set_compile_only_and_makeexe();
    set_text_switch(&makeexe_folder_text, token + 3);
  } else if (token[0] == 'I' && token[1] == '-') {
    set_text_switch(&run_switches.icon_file, token + 2);
  } else if (is("B")) {
  } else if (is("D")) {
    debug_mode = 1;
    debugger_enabled = 1;
    assembler_debugger_mode = 1;
  } else if (is("Q")) {
    run_switches.quiet_mode = 1;
  } else if (is("C")) {
    run_switches.compile_only = 1;
  } else if (is("RC")) {
    run_switches.recompile = 1;
  } else if (is("ND")) {
    line.skip_default_script = true;
  } else if (is("R")) {
    run_switches.default_range_check = 1;
  } else if (is("W")) {
    run_switches.warnings = 1;
  } else if (is("W1")) {
    warn_globals = 1;
  } else if (is("X")) {
    run_switches.default_explicit = 1;
  } else if (is("CC")) {
    run_switches.word_list_mode = 1;
  } else if (is("NL") || is("L1") || is("LM")) {
    run_switches.link_level = is("NL") ? 0 : is("L1") ? 1 : 999;
    compile_options.link = run_switches.link_level;
  } else if (is("NO")) {
    optimize = 0;
  } else if (is("FPC")) {
    run_switches.target_desktop = 1;
  } else if (is("FZRC")) {
  } else if (is("DM")) {
    run_switches.no_error_script = 1;
  }
}

// A new last element of the chain that owns a copy of text.
ListElement* append_text_element(ListElement* last, const char* text) {
  ListElement* element = list_element_append(last);
  if (!element) return last;
  element->data = copy_of(text);
  element->flags = kVariableOwnsData;
  element->checksum = list_element_checksum(element);
  return element;
}

// Makes the variable a list variable whose chain starts at first (may be null).
void make_list_variable(Variable* variable, ListElement* first) {
  if (!variable) {
    list_element_chain_free(first, true);
    return;
  }
  variable->flags |= kVariableList;
  variable->cursor = first;
  if (first) variable_load_from_element(variable);
}

Variable* number_global(const char* name, double value) {
  return set_variable_by_name(name, nullptr, value, nullptr, -1);
}

Variable* text_global(const char* name, const char* text) {
  return set_variable_by_name(name, const_cast<char*>(text ? text : ""), 0, nullptr,
                              static_cast<int32_t>(std::strlen(text ? text : "") + 1));
}

// The collision code writes 16 bytes into these, so they start as a zeroed block of
// that size instead of no block at all.
Variable* collision_global(const char* name) {
  char zeroes[16] = {};
  return set_variable_by_name(name, zeroes, 0, nullptr, sizeof zeroes);
}

// The analyzer reads its include folders from LIBPATH%.
// The analyzer hands each #DECLARE to the registry, which binds it to its library.
int32_t declare_external_function(const char* script_name, const char* function_name, const char* library,
                                  int32_t parameters, int32_t returns, int32_t wide, int32_t convention, uint8_t) {
  return external_function_declare(script_name, function_name, library, static_cast<uint8_t>(parameters),
                                   static_cast<uint8_t>(returns), static_cast<uint8_t>(wide),
                                   static_cast<uint8_t>(convention));
}

const char* library_path_at(int32_t index) {
  Variable* paths = find_variable("LIBPATH%");
  if (!paths || !(paths->flags & kVariableList) || !paths->cursor || index < 0) return nullptr;
  ListElement* first = list_element_first(paths->cursor);
  if (static_cast<uint32_t>(index) >= list_element_count(first)) return nullptr;
  ListElement* element = list_element_at(first, index);
  return element ? static_cast<const char*>(element->data) : nullptr;
}

std::string in_program_folder(const char* file_name) {
  return format_text("%s%s", program_folder ? program_folder : "", file_name);
}

// Compiles and runs a start script when the file is there.
void run_start_script(const char* file_name) {
  std::string path = in_program_folder(file_name);
  if (file_exists(path.c_str())) compile_and_run_file(path.c_str(), nullptr, 0, 0);
}

void define_platform_symbol() {
  const char* symbol = run_switches.target_desktop ? "_WIN32" : "_WIN32_WCE";
  // The name is upper-cased in place and not kept; the value passes to the table.
  char name[16];
  std::strcpy(name, symbol);
  int32_t slot = define_compile_constant(name, crt::_strdup(format_text("{%s}", symbol).c_str()));
  if (slot >= 0 && CompileConstantTable[slot]) CompileConstantTable[slot]->owner = 1;
}

void report_missing_program(const char* name) {
  std::string message = format_text("Cannot find the program file %s", name);
  log_line(message.c_str());
  message_box(message.c_str(), "ZRK", MB_OK | MB_ICONHAND);
}

// Little-endian fields of an ELF header or table entry.
uint32_t read_u16(const uint8_t* bytes, uint32_t at) { return bytes[at] | (bytes[at + 1] << 8); }
uint32_t read_u32(const uint8_t* bytes, uint32_t at) {
  return read_u16(bytes, at) | (read_u16(bytes, at + 2) << 16);
}

// count bytes at offset of the open file in a new block, or null when they are not all there.
uint8_t* read_at(FILE* file, uint32_t offset, uint32_t count) {
  auto* bytes = static_cast<uint8_t*>(crt::malloc(count ? count : 1));
  if (!bytes) return nullptr;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(bytes, 1, count, file) != count) {
    crt::free(bytes);
    return nullptr;
  }
  return bytes;
}

// A table of count entries of entry_size bytes at offset of the file, or null.
uint8_t* read_table(FILE* file, uint32_t offset, uint32_t count, uint32_t entry_size, uint32_t file_length) {
  uint64_t bytes = static_cast<uint64_t>(count) * entry_size;
  if (count == 0 || bytes > 0x100000 || offset + bytes > file_length) return nullptr;
  return read_at(file, offset, static_cast<uint32_t>(bytes));
}

// Where the ELF image in the open file ends, 0 when it is not one or cannot be read.
uint32_t image_end_of(FILE* file, uint32_t file_length) {
  if (file_length < 52) return 0;
  uint8_t* header = read_at(file, 0, 52);
  if (!header || std::memcmp(header, "\x7f" "ELF", 4) != 0 || header[4] != 1 || header[5] != 1) {
    crt::free(header);
    return 0;
  }
  uint32_t program_offset = read_u32(header, 28), section_offset = read_u32(header, 32);
  uint32_t program_size = read_u16(header, 42), program_count = read_u16(header, 44);
  uint32_t section_size = read_u16(header, 46), section_count = read_u16(header, 48);
  crt::free(header);
  uint64_t end = 52;
  auto reach = [&end](uint64_t offset, uint64_t size) {
    if (offset + size > end) end = offset + size;
  };
  reach(program_offset, static_cast<uint64_t>(program_size) * program_count);
  reach(section_offset, static_cast<uint64_t>(section_size) * section_count);
  if (program_size >= 32) {
    if (uint8_t* table = read_table(file, program_offset, program_count, program_size, file_length)) {
      for (uint32_t index = 0; index < program_count; ++index) {
        const uint8_t* entry = table + index * program_size;
        reach(read_u32(entry, 4), read_u32(entry, 16));  // p_offset, p_filesz
      }
      crt::free(table);
    } else {
      return 0;
    }
  }
  if (section_size >= 40) {
    if (uint8_t* table = read_table(file, section_offset, section_count, section_size, file_length)) {
      constexpr uint32_t kNoBits = 8;  // a section that takes no bytes of the file
      for (uint32_t index = 0; index < section_count; ++index) {
        const uint8_t* entry = table + index * section_size;
        if (read_u32(entry, 4) != kNoBits) reach(read_u32(entry, 16), read_u32(entry, 20));  // sh_offset, sh_size
      }
      crt::free(table);
    } else if (section_count) {
      return 0;
    }
  }
  return end <= file_length ? static_cast<uint32_t>(end) : 0;
}

// The length of the open file, 0 when it cannot be told.
uint32_t open_file_length(FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  long length = std::ftell(file);
  return length > 0 ? static_cast<uint32_t>(length) : 0;
}

// The executable opened for reading a few tables: unbuffered, so each read asks for just
// its own bytes instead of filling a buffer around every seek.
FILE* open_executable(const char* path) {
  FILE* file = path ? crt::fopen(path, "rb") : nullptr;
  if (file) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace

uint32_t executable_image_end(const char* path, uint32_t file_length) {
  FILE* file = open_executable(path);
  if (!file) return 0;
  uint32_t end = image_end_of(file, file_length);
  std::fclose(file);
  return end;
}

namespace {

// The part of the executable file where an appended program can be: everything after
// the image's own bytes (the image never holds the marker), the whole file when the
// image cannot be read. The file is opened once; a plain executable gives an empty part.
void read_appended_part(const char* path) {
  file_image = nullptr;
  file_image_size = 0;
  FILE* file = open_executable(path);
  if (!file) return;
  uint32_t length = open_file_length(file);
  uint32_t start = image_end_of(file, length);
  if (start < length) {
    file_image = read_at(file, start, length - start);
    if (file_image) file_image_size = length - start;
  }
  std::fclose(file);
}

void free_file_image() {
  crt::free(file_image);
  file_image = nullptr;
  file_image_size = 0;
}

}  // namespace

const char* appended_marker() {
  const char letters[] = {'Z', 'R', 'C', 'D', 'A', 'T', 'A', 'S', 'T', 'A', 'R', 'T'};
  for (int32_t index = 0; index < kAppendedMarkerLength; ++index) marker_buffer[index] = letters[index];
  marker_buffer[kAppendedMarkerLength] = 0;
  for (int32_t index = 0; index <= kAppendedMarkerLength; ++index) marker_text[index] = marker_buffer[index];
  return marker_text;
}

int32_t find_appended_marker(const uint8_t* image, uint32_t size) {
  if (!image || size < static_cast<uint32_t>(kAppendedMarkerLength)) return -1;
  const char* marker = appended_marker();
  for (uint32_t offset = 0; offset + kAppendedMarkerLength <= size; ++offset) {
    if (image[offset] == 'Z' && std::memcmp(image + offset, marker, kAppendedMarkerLength) == 0) {
      return static_cast<int32_t>(offset);
    }
  }
  return -1;
}

CommandLine read_command_line(const char* text) {
  CommandLine line{nullptr, nullptr, false};
  std::string copy(text ? text : "");
  ListElement* last = nullptr;
  for (char* token = std::strtok(copy.data(), "|"); token; token = std::strtok(nullptr, "|")) {
    if (!line.program_file) {
      line.program_file = copy_of(token);
    } else {
      apply_switch(token, line);
    }
    last = append_text_element(last, token);
    if (!line.arguments) line.arguments = last;
  }
  return line;
}

void free_switch_texts() {
  crt::free(run_switches.executable_name);
  run_switches.executable_name = nullptr;
  crt::free(run_switches.icon_file);
  run_switches.icon_file = nullptr;
  crt::free(makeexe_folder_text);
  makeexe_folder_text = nullptr;
}

void create_predefined_globals(const char* command_line, ListElement* arguments) {
  number_global("PLATFORM%", run_switches.target_desktop ? 0 : 1);
  number_global("HINSTANCE%", platform::address_of(runtime_instance));
  number_global("NCMDSHOW%", runtime_show_command);
  text_global("CMDLINE%", command_line);
  make_list_variable(number_global("ARGV%", 0), arguments);
  text_global("ROOT%", program_folder);
  text_global("VERSION%", runtime_version_text);
  number_global("THREAD%", 65);
  number_global("PROCESS%", 66);
  number_global("THREADID%", GetCurrentThreadId());
  number_global("PROCESSID%", GetCurrentProcessId());
  make_list_variable(number_global("LIBPATH%", 0), nullptr);
  error_variable = number_global("ERROR%", 0);
  last_error_variable = number_global("LASTERROR%", 0);
  number_global("CS_DBLCLKS%", 0);
  t_collide_variable = collision_global("T_COLLIDE%");
  s_collide_variable = collision_global("S_COLLIDE%");
  number_global("BUFFER%", 0);
  delta_variable = number_global("DELTA%", 0);
  delta_limit_variable = number_global("DELTALIMIT%", 0);
  limit_pps_variable = number_global("LIMITPPS%", 0);
  bits_per_pixel_variable = number_global("BITSPERPIXEL%", 16);
  frequency_variable = number_global("FREQUENCY%", 60);
  number_global("COMERROR%", 0);
  number_global("COMERRORDESC%", 0);
  number_global("REXERROR%", 0);
  if (!library_path_element) library_path_element = library_path_at;
  if (!external_function_declare_hook) external_function_declare_hook = declare_external_function;
}

void clear_predefined_references() {
  for (Variable** reference : {&error_variable, &last_error_variable, &t_collide_variable, &s_collide_variable,
                               &delta_variable, &delta_limit_variable, &limit_pps_variable, &bits_per_pixel_variable,
                               &frequency_variable}) {
    *reference = nullptr;
  }
  if (library_path_element == library_path_at) library_path_element = nullptr;
  if (external_function_declare_hook == declare_external_function) external_function_declare_hook = nullptr;
}

void read_debugger_breakpoints() {
  // Started for a debugger that is not there: the program runs as it would without one
  // (its line markers still give run-time errors their place) instead of ending at its
  // first line as if the debugger had gone away.
  char* running = debugger_key_exists(kDebuggerKey) ? debugger_read_value(kDebuggerKey, "RUNNING") : nullptr;
  if (!running) {
    debugger_enabled = 0;
    return;
  }
  crt::free(running);
  char* text = debugger_read_value(kDebuggerKey, "IDE");
  debugger_delete_value(kDebuggerKey, "IDE");
  breakpoints_from_text(text);
  crt::free(text);
}

MEMORYSTATUS runtime_memory_status;

void reset_start_up_state() {
  breakpoints_clear();
  runtime_memory_status = MEMORYSTATUS{};
  runtime_memory_status.dwLength = 32;
  crt::srand(GetTickCount());
  crt::free(name_stack_text);
  name_stack_text = nullptr;
}

int run_appended_program() {
  if (marker_offset < 0) return 0;
  uint32_t start = static_cast<uint32_t>(marker_offset) + kAppendedMarkerLength;
  uint32_t length = file_image_size - start;
  char* image = static_cast<char*>(crt::malloc(length + 1));
  if (image) {
    std::memcpy(image, file_image + start, length);
    image[length] = 0;
  }
  free_file_image();
  if (!image) return 0;
  image_run_name = module_path;
  image_run_size = length;
  compile_and_run_file(nullptr, image, 0, 0);
  image_run_name = nullptr;
  image_run_size = 0;
  return 1;
}

namespace {

// The status decided before the message loop (a missing program) and the count of
// unhandled errors before this run's programs started; the device may end the run from
// inside the loop, and run_exit_status then reads them.
int decided_status = kExitSuccess;
unsigned errors_before_run = 0;

}  // namespace

int run_exit_status(int device_status) {
  int status = device_status != kExitSuccess ? device_status : decided_status;
  if (status == kExitSuccess && (run_failed || runtime_unhandled_error_count() != errors_before_run)) {
    status = kExitRunFailed;
  }
  return status;
}

int runtime_main(HINSTANCE instance, HINSTANCE, const char16_t* command_line, int32_t show_command) {
  runtime_instance = instance;
  runtime_show_command = show_command;
  number_decimal_character = '.';
  number_group_character = ',';
  if (startup_services.load_wait_cursor) wait_cursor = startup_services.load_wait_cursor();

  appended_marker();
  module_path = program_file_name();
  read_appended_part(module_path);
  marker_offset = find_appended_marker(file_image, file_image_size);

  if (startup_services.com_initialize) startup_services.com_initialize();

  char* narrow_line = to_narrow(command_line);
  CommandLine line = read_command_line(narrow_line);
  crt::free(narrow_line);

  if (startup_services.cache_screen_dpi) startup_services.cache_screen_dpi();
  crt::free(program_folder);
  program_folder = program_directory();

  if (debug_mode) run_switches.default_range_check = 1;
  if (run_switches.word_list_mode) {
    run_switches.compile_only = 1;
    char16_t* word_list = to_wide(in_program_folder("CC.TXT").c_str());
    DeleteFileW(word_list);
    crt::free(word_list);
  }

  register_all_builtins();
  if (startup_services.build_cosine_tables) startup_services.build_cosine_tables();
  define_platform_symbol();

  version_text = crt::_strdup(format_text("%d.%d%d.%d", 1, 3, 1, 0).c_str());
  runtime_version_text = version_text;
  if (!runtime_error_services.runtime_shutdown) runtime_error_services.runtime_shutdown = runtime_shutdown;
  if (!runtime_error_services.debugger_key_exists) runtime_error_services.debugger_key_exists = debugger_key_exists;
  if (!runtime_error_services.debugger_set_value) runtime_error_services.debugger_set_value = debugger_set_value;

  char* command_line_text = to_narrow(command_line);
  create_predefined_globals(command_line_text, line.arguments);

  char* program = line.program_file ? resolve_program_file(line.program_file) : nullptr;
  if (program && debug_mode) read_debugger_breakpoints();

  if (!line.skip_default_script) run_start_script("DEFAULT.ZRK");

  run_appended_program();
  free_file_image();
  crt::free(module_path);
  module_path = nullptr;

  decided_status = kExitSuccess;
  // Only this run's programs decide the status, not an earlier run nor a compile that a
  // running program asked for (eval of a text with errors).
  run_failed = 0;
  errors_before_run = runtime_unhandled_error_count();
  if (program) {
    if (!file_exists(program)) {
      report_missing_program(program);
      decided_status = kExitProgramMissing;
    } else if (run_switches.compile_only) {
      if (startup_services.compile_file_with_mode) {
        startup_services.compile_file_with_mode(program, run_switches.makeexe_mode);
      } else {
        compile_and_run_file(program, nullptr, 1, 0);
      }
      if (compiler_output_stream) {
        std::fclose(compiler_output_stream);
        compiler_output_stream = nullptr;
      }
    } else {
      run_switches.command_line_program = 1;
      compile_and_run_file(program, nullptr, 0, 0);
      run_switches.command_line_program = 0;
    }
    crt::free(program);
  } else {
    run_start_script("MAIN.ZRK");
  }

  if (startup_services.run_message_loop) startup_services.run_message_loop();
  int status = run_exit_status(kExitSuccess);
  runtime_shutdown();

  free_switch_texts();
  crt::free(command_line_text);
  runtime_version_text = "1.31.0";
  crt::free(version_text);
  version_text = nullptr;
  return status;
}
