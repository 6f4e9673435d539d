// The compile-and-run driver: chooses between loading a current compiled file and
// compiling, runs the compiler phases with their log lines, shows compile errors, and
// starts the new program in its run mode.
#include "compiler/driver/compile_and_run.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/code_list.h"
#include "compiler/codegen/code_generator.h"
#include "compiler/driver/program_end.h"
#include "compiler/frontend/analyzer.h"
#include "compiler/frontend/parser.h"
#include "compiler/frontend/statement_compiler.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/linker.h"
#include "compiler/ui/status_window.h"
#include "compiler/zrc/compiled_file.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/kernel/paths.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/instruction_list.h"
#include "vm/applications.h"
#include "vm/fusion.h"
#include "vm/machine.h"

namespace {

// The compiler's procedure table of one run, copied into the program it starts.
ProcedureRecord* run_procedures[kLinkProcedureSlots];
int32_t run_procedure_count = 0;

// The context's table holds the leading {name, start} pair of each record.
static_assert(offsetof(ProcedureRecord, name) == offsetof(ProcedureTableEntry, signature) &&
                  offsetof(ProcedureRecord, start) == offsetof(ProcedureTableEntry, procedure),
              "a procedure record starts as a procedure table entry");

bool is_shared_mode(uint32_t mode) { return mode != kRunNewProgram && mode != kRunNewProgramKept; }

// What one call holds; kept outside the guarded body so it is cleaned up after a fault too.
struct DriverRun {
  char* file_name = nullptr;       // lower-cased copy; null for a text source or an image
  char* compiled_name = nullptr;   // the compiled file next to the source
  ProgramContext* caller = nullptr;
  Variable* caller_scope = nullptr;
  ProgramContext* context = nullptr;  // the new program until it runs
  InstructionNode* code = nullptr;    // the new list (its last node) until it runs
  char* source_buffer = nullptr;
  const char* image = nullptr;        // in-memory image, owned here
};

std::string milliseconds_text(uint32_t start) {
  char* number = number_to_text(static_cast<double>(GetTickCount() - start));
  char* grouped = insert_thousands_separators(number ? number : "0");
  std::string text = grouped ? grouped : "0";
  crt::free(number);
  crt::free(grouped);
  return text;
}

void write_phase_time(uint32_t start) {
  compiler_output_pending_newline = 0;
  write_compiler_output((" (" + milliseconds_text(start) + " ms)\n").c_str());
}

// A phase line that stays open: a message of the phase starts on a new line.
void write_phase_start(const char* text) {
  write_compiler_output(text);
  compiler_output_pending_newline = 1;
}

void delete_file(const char* path) {
  if (path == nullptr) return;
  char16_t* wide = to_wide(path);
  if (wide) DeleteFileW(wide);
  crt::free(wide);
}

std::string in_program_folder(const char* name) {
  return std::string(program_folder ? program_folder : "") + name;
}

char* lower_case_copy(const char* text) {
  char* copy = crt::_strdup(text);
  if (copy) crt::_strlwr(copy);
  return copy;
}

// ERROR% of the last run becomes LASTERROR%; ERROR% starts empty.
void carry_error_variable() {
  void* text = nullptr;
  double number = 0;
  get_value_by_name("ERROR%", &text, &number, nullptr);
  if (text) {
    set_variable_by_name("LASTERROR%", text, number, nullptr, static_cast<int32_t>(std::strlen(static_cast<char*>(text)) + 1));
  } else {
    set_variable_by_name("LASTERROR%", nullptr, number, nullptr, -1);
  }
  set_variable_by_name("ERROR%", nullptr, 0, nullptr, -1);
}

// A copy of the caller's class list in the same order; the caller keeps its own.
NameNode* copy_class_list(const NameNode* source) {
  NameNode* head = nullptr;
  NameNode** tail = &head;
  for (; source; source = source->next) {
    auto* node = static_cast<NameNode*>(crt::calloc(1, sizeof(NameNode)));
    if (!node) break;
    node->name = source->name ? crt::_strdup(source->name) : nullptr;
    node->hash = source->hash;
    node->parent_name = source->parent_name ? crt::_strdup(source->parent_name) : nullptr;
    node->compiler_word = source->compiler_word;
    *tail = node;
    tail = &node->next;
  }
  return head;
}

void destroy_compiler_pools() {
  if (parser_input_pool != nullptr && parser_input_pool != compiler_pool) pool_destroy(parser_input_pool);
  parser_input_pool = nullptr;
  if (compiler_pool != nullptr) pool_destroy(compiler_pool);
  compiler_pool = nullptr;
}

void close_compiler_log() {
  if (compiler_output_stream != nullptr) std::fclose(compiler_output_stream);
  compiler_output_stream = nullptr;
  compiler_output_pending_newline = 0;
}

// Appends the program's procedure names, then every registry name, to "CC.TXT".
void write_name_listing() {
  FILE* listing = crt::fopen(in_program_folder("CC.TXT").c_str(), "at");
  if (listing == nullptr) return;
  for (int32_t index = 0; index < run_procedure_count; ++index) {
    if (run_procedures[index] && run_procedures[index]->name) std::fprintf(listing, "%s\n", run_procedures[index]->name);
  }
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    if (const BuiltinEntry* entry = builtin_entry(index)) std::fprintf(listing, "%s\n", entry->name);
  }
  std::fclose(listing);
}

// The error program or the "ERROR" box.
void show_compile_errors(const DriverRun& run, uint32_t mode) {
  std::string error_program = in_program_folder("ShowError.zrk");
  bool is_error_program = run.file_name && crt::_stricmp(run.file_name, error_program.c_str()) == 0;
  if (run.file_name && !is_error_program && file_exists(error_program.c_str())) {
    // The nested run starts with no errors of its own; ours come back afterwards.
    char* errors = compile_error_text;
    int32_t errors_counted = compile_error_count;
    int32_t warnings_counted = compile_warning_count;
    compile_error_text = nullptr;
    uint8_t run_loader = run_switches.run_loader;
    run_switches.run_loader = 0;
    compile_and_run_file(error_program.c_str(), nullptr, 0, kRunNewProgram);
    run_switches.run_loader = run_loader;
    crt::free(compile_error_text);
    compile_error_text = errors;
    compile_error_count = errors_counted;
    compile_warning_count = warnings_counted;
  } else if (mode == kRunNewProgram) {
    message_box(compile_error_text, "ERROR", 16);
  }
}

// Copies the run's procedure table into the program and frees it.
void hand_over_procedures(ProgramContext* context) {
  uint32_t count = 0;
  for (int32_t index = 0; index < run_procedure_count && count < static_cast<uint32_t>(kProcedureSlots); ++index) {
    const ProcedureRecord* record = run_procedures[index];
    if (!record) continue;
    auto* copy = static_cast<ProcedureRecord*>(crt::calloc(1, sizeof(ProcedureRecord)));
    if (!copy) break;
    *copy = *record;
    copy->name = record->name ? crt::_strdup(record->name) : nullptr;
    context->procedures[count++] = reinterpret_cast<ProcedureTableEntry*>(copy);
    context->code_size += sizeof(ProcedureRecord) + (record->name ? std::strlen(record->name) : 0);
  }
  context->procedure_count = count;
  free_record_array(reinterpret_cast<void**>(run_procedures), &run_procedure_count);
}

// The stack, globals and current scope of the new program by its mode.
void set_up_program_data(ProgramContext* context, ProgramContext* caller, uint32_t mode) {
  if (!is_shared_mode(mode)) {
    context->stack_top = stack_alloc_cell(context);
    context->globals = variable_record_allocate(context, false);
    current_scope = context->globals;
  } else {
    context->stack_top = caller->stack_top;
    context->globals = caller->globals;
    if (mode == kRunCallerGlobalsAsLocal) current_scope = context->globals;
    else if (mode == kRunFreshLocalScope) current_scope = variable_record_allocate(context, false);
    else if (mode != kRunInCallerScope) current_scope = reinterpret_cast<Variable*>(static_cast<uintptr_t>(mode));
  }
  context->forms = nullptr;
  current_program = context;
}

void define_program_globals(ProgramContext* context, const char* file_name) {
  char address[16];
  std::snprintf(address, sizeof address, "%u", static_cast<unsigned>(reinterpret_cast<uintptr_t>(context)));
  if (file_name) {
    char* name = path_file_name(file_name);
    // A program named relative to the shell's folder still gets its whole folder, so
    // APPPATH$ % "file" finds the files beside it from anywhere.
    char* path = path_directory(platform::absolute_host_path(file_name).c_str());
    set_variable_by_name("APPNAME$", name, 0, nullptr, static_cast<int32_t>(std::strlen(name) + 1));
    set_variable_by_name("APPPATH$", path, 0, nullptr, static_cast<int32_t>(std::strlen(path) + 1));
    crt::_strupr(name);
    crt::_strupr(path);
    crt::free(context->name);
    crt::free(context->path);
    context->name = name;
    context->path = path;
  } else {
    set_variable_by_name("APPNAME$", address, 0, nullptr, static_cast<int32_t>(std::strlen(address) + 1));
  }
  set_variable_by_name("APPHANDLE$", nullptr, static_cast<double>(reinterpret_cast<uintptr_t>(context)), nullptr, -1);
}

// The loader program's file, looked for in the program folder.
constexpr char kLoaderFile[] = "LOAD.ZRK";

// Whether a program file has the loader's name. Its UPDATE is called only by the driver
// and the status window, so the linker must keep it, also when the file is compiled on
// its own: its compiled file then serves the loader too.
bool is_loader_file(const char* file_name) {
  if (file_name == nullptr) return false;
  char* name = path_file_name(file_name);
  const bool loader = name && crt::_stricmp(name, kLoaderFile) == 0;
  crt::free(name);
  return loader;
}

// A WINMAIN program stays while it has its main form or returned non-zero.
bool winmain_keeps_running(ProgramContext* context) {
  for (const FormRecord* form = context->forms; form; form = form->next) {
    if (form->first_form) return true;
  }
  if (context->stack_top == nullptr) return false;
  ValueCell* result = stack_pop(context);
  double value = result->text && !(result->flags & kCellWideText) ? text_to_number(static_cast<char*>(result->text))
                                                                   : result->number;
  return value != 0.0;
}

// The guarded body: every step up to the program's return.
ProgramContext* drive(DriverRun& run, const char* text, uint8_t compile_only, uint32_t mode) {
  const bool image_run = image_run_size != 0 && run.file_name == nullptr;
  if (image_run) run.image = text;

  // Options of this run.
  log_enabled = 1;
  loader_program = nullptr;
  status_window_update = status_update;

  // Start-up's request is for the command-line program alone: the runs that program
  // makes get the loader only when they ask for it themselves (run).
  const bool command_line_program = run_switches.command_line_program != 0;
  run_switches.command_line_program = 0;
  // The loader program draws its own loading screen instead of the window.
  if (mode == kRunNewProgram && (run_switches.run_loader || command_line_program)) {
    std::string loader_path = in_program_folder(kLoaderFile);
    if (file_exists(loader_path.c_str())) {
      const uint8_t run_loader = run_switches.run_loader;
      run_switches.run_loader = 0;
      ProgramContext* loader = compile_and_run_file(loader_path.c_str(), nullptr, 0, kRunNewProgram);
      run_switches.run_loader = run_loader;
      loader_program = loader;
    }
  }
  if (loader_program == nullptr && !image_run && mode == kRunNewProgram) status_window_open();
  status_loader_update(1.0, run.file_name ? run.file_name : "", 0, 0);

  const uint32_t start = GetTickCount();

  // Per-run compiler state.
  analyzer_reset();
  statement_compiler_reset();
  compile_options.link = run_switches.link_level;
  // An icon named on the command line stands; #ICON only fills an empty one.
  if (run_switches.icon_file) compile_options.icon_file = crt::_strdup(run_switches.icon_file);
  warnings_enabled = run_switches.warnings;
  compile_error_count = 0;
  compile_warning_count = 0;
  crt::free(compile_error_text);
  compile_error_text = nullptr;
  carry_error_variable();
  free_record_array(reinterpret_cast<void**>(run_procedures), &run_procedure_count);
  main_entry = nullptr;
  if (!image_run && mode == kRunNewProgram) debug_log_open(nullptr);

  // The compiler log.
  const bool output_on = !image_run;
  compiler_output_enabled = output_on ? 1 : 0;
  if (mode == kRunNewProgram) close_compiler_log();
  if (output_on && mode == kRunNewProgram) {
    compiler_output_stream = open_compiler_output(in_program_folder("errorlog.txt").c_str());
    char header[256];
    std::snprintf(header, sizeof header, "ZRK compiler v.%s\n", runtime_version_text ? runtime_version_text : "");
    write_compiler_output(header);
    write_compiler_output("\n");
    char* title = run.file_name ? nullptr : source_title(text ? text : "");
    write_compiler_output(("Filename : " + std::string(run.file_name ? run.file_name : title ? title : "") + "\n\n").c_str());
    crt::free(title);
  }

  // The road: load a current compiled file, or compile.
  bool load_road = image_run;
  if (run.file_name && !run_switches.recompile && !debug_mode && !run_switches.compile_only && !profile_mode &&
      !memory_tracking) {
    load_road = compiled_file_check(run.file_name, run.compiled_name) != 0;
  }

  CodeListNode* words = nullptr;
  // Cleared when an error leaves the analyzer's words unparsed: the code generator
  // would read them as statements and report each as another error.
  bool parsed = true;
  if (!load_road) {
    uint32_t phase = GetTickCount();
    if (!run.file_name || mode == kRunNewProgram) write_compiler_output("Parsing...\n");
    const char* source = text;
    bool readable = true;
    if (run.file_name) {
      int32_t size = 0;
      run.source_buffer = read_file_to_buffer(run.file_name, &size, -1, -1);
      source = run.source_buffer;
      readable = run.source_buffer != nullptr;
    }
    compiler_pool = pool_create(0x80000);
    if (readable && source) words = analyze_main_source(run.file_name, source, nullptr);
    parsed = compile_error_text == nullptr || analysis_left_words_whole();
    words = parsed ? parse_word_list(run.file_name, words) : nullptr;
    if (mode == kRunNewProgram) {
      write_compiler_output(("Total parsing time (" + milliseconds_text(phase) + " ms)\n").c_str());
    }
    crt::free(run.source_buffer);
    run.source_buffer = nullptr;
    if (run.compiled_name && !compile_options.library && file_exists(run.compiled_name)) delete_file(run.compiled_name);

    if (compile_error_text == nullptr && mode == kRunNewProgram && words != nullptr) {
      phase = GetTickCount();
      write_phase_start("Linking...");
      link_kept_procedure = is_loader_file(run.file_name) ? "UPDATE" : nullptr;
      words = link_word_list(run.file_name, words);
      link_kept_procedure = nullptr;
      write_phase_time(phase);
    }
  }

  // The new program; non-zero modes live on their caller's heap.
  ProgramContext* caller = run.caller;
  ProgramContext* context = create_program_context();
  if (context == nullptr) {
    drop_checked_compiled_image();
    destroy_compiler_pools();
    report_compile_message(run.file_name, "Out of memory", nullptr, -1, false);
    return nullptr;
  }
  run.context = context;
  context->run_mode = static_cast<int32_t>(mode);
  context->range_check = run_switches.default_range_check;
  context->explicit_declarations = run_switches.default_explicit;
  if (is_shared_mode(mode)) {
    HeapDestroy(context->heap);
    context->heap = caller->heap;
  }
  if (mode == kRunInCallerScope || mode == kRunCallerGlobalsAsLocal) {
    context->parent = caller;
    context->classes = copy_class_list(caller->classes);
  }
  context->pool = pool_create(0x80000);
  emit_pool = context->pool;
  emit_scope_key = 0;

  uint8_t winmain = 0;
  bool written = false;
  bool refused = false;  // a compiled file that was read and refused has said so itself
  if (!load_road) {
    uint32_t phase = GetTickCount();
    if (output_on && mode == kRunNewProgram) write_phase_start("Compiling...");
    if (parsed) run.code = generate_code(run.file_name, context, words, run_procedures, &run_procedure_count, &winmain);
    destroy_compiler_pools();
    if (mode == kRunNewProgram) write_phase_time(phase);
    // A compile with errors leaves no compiled file, so it is not written at all.
    bool save = run.compiled_name && !compile_options.library && !debug_mode &&
                (!compile_options.no_compiled_file || run_switches.makeexe_mode) && compile_error_text == nullptr;
    if (save) {
      phase = GetTickCount();
      if (output_on) write_phase_start("Saving zrc file...");
      write_compiled_file(run.compiled_name, instruction_list_first(run.code));
      written = true;
      write_phase_time(phase);
    }
  } else {
    uint32_t phase = GetTickCount();
    if (mode == kRunNewProgram) write_phase_start("Loading zrc file...");
    InstructionNode* first =
        read_compiled_file(run.image ? nullptr : run.compiled_name, reinterpret_cast<const uint8_t*>(run.image),
                           run.image ? image_run_size : 0, context, run_procedures, &run_procedure_count, &winmain);
    crt::free(const_cast<char*>(run.image));
    run.image = nullptr;
    drop_checked_compiled_image();  // what the load did not take (an image run) is not kept
    refused = !first && compile_error_text != nullptr;
    run.code = first;
    while (run.code && run.code->next) run.code = run.code->next;
    if (mode == kRunNewProgram) write_phase_time(phase);
  }
  if (run_switches.word_list_mode) write_name_listing();

  if (main_entry == nullptr && mode == kRunNewProgram && parsed && !refused) {
    report_compile_message(run.file_name, "No main entry point defined", nullptr, -1, false);
  }

  // Files of a failed or makeexe compile.
  if (run.file_name && ((!compile_options.library && compile_error_text) || run_switches.makeexe_mode)) {
    if (written) delete_file(run.compiled_name);
    if (compile_error_text && run_switches.makeexe_mode && run.compiled_name) {
      std::string executable = run.compiled_name;
      executable.replace(executable.size() - 3, 3, "exe");
      delete_file(executable.c_str());
    }
  }

  if (mode == kRunNewProgram && output_on) {
    write_compiler_output(("Completion time (" + milliseconds_text(start) + " ms)\n").c_str());
    char counts[96];
    std::snprintf(counts, sizeof counts, "\n** %d error(s), %d warning(s)\n", static_cast<int>(compile_error_count),
                  static_cast<int>(compile_warning_count));
    write_compiler_output(counts);
    close_compiler_log();
  }

  if (compile_error_text && run_switches.error_display && !run_switches.no_error_script && !compile_only) {
    show_compile_errors(run, mode);
  }
  status_window_close();

  if (compile_error_text || compile_only) {
    free_record_array(reinterpret_cast<void**>(run_procedures), &run_procedure_count);
    free_instruction_list(context, run.code);
    run.code = nullptr;
    run.context = nullptr;
    app_instance_end(context);
    return nullptr;
  }

  // Start the program.
  InstructionNode* first = instruction_list_first(run.code);
  context->code = run.code;
  context->first_instruction = first;
  run.code = nullptr;
  if (!debug_mode && !profile_mode) fuse_instructions(first);
  for (InstructionNode* node = first; node; node = node->next) {
    // A folded constant's text is the number's 8 bytes, with no terminator.
    context->code_size += 44 + (node->extension ? 40 : 0) + (node->text ? block_text_length(node->text) : 0);
  }
  if (image_run && image_run_name) {
    crt::free(context->name);
    context->name = crt::_strdup(image_run_name);
  }
  hand_over_procedures(context);
  set_up_program_data(context, caller, mode);
  if (mode == kRunNewProgram) define_program_globals(context, run.file_name);
  stamp_program_instance(context);
  context->start_ticks = GetTickCount();
  if (output_on && mode == kRunNewProgram) {
    MEMORYSTATUS memory{};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatus(&memory);
    char* available = number_to_grouped_text(static_cast<double>(memory.dwAvailPhys));
    log_line(("Available memory " + std::string(available ? available : "0") + " bytes").c_str());
    crt::free(available);
    log_line((std::string(context->name ? context->name : "") + " started").c_str());
  }
  image_run_size = 0;
  run.context = nullptr;

  InstructionNode* entry = main_entry;
  if (entry != nullptr) {
    const uint32_t unhandled = runtime_errors_unhandled;
    // WINMAIN's parameters get 0s of their own. Taken from the stack's base cell they would
    // leave the stack empty, and each push onto an empty stack makes a cell that the pop
    // below it then loses: memory would go with every statement and event.
    for (int32_t parameter = truncate_to_int(entry->operand); parameter > 0; --parameter) {
      stack_push_number(context, 0);
    }
    call_program = context;
    call_procedure = entry;
    vm_call_procedure();
    if (runtime_errors_unhandled != unhandled) run_failed = 1;
    // It ended itself while it ran (killapp or freeapp of its own handle, taken by a
    // message pump): the end was carried out when the call returned.
    if (!program_is_loaded(context)) return nullptr;
  }

  ProgramContext* result = context;
  if (mode == kRunNewProgram && (!winmain || !winmain_keeps_running(context))) {
    app_instance_end(context);
    result = nullptr;
  }
  if (result != nullptr && is_shared_mode(mode) && caller != nullptr) caller->stack_top = context->stack_top;
  return result;
}

}  // namespace

uint8_t run_failed = 0;
int32_t (*compiled_file_check)(const char* source_path, const char* compiled_path) = compiled_file_is_current;

ProgramContext* compile_and_run_file(const char* file_name, const char* text, uint8_t compile_only, uint32_t mode) {
  // A program that runs itself (or a ring of programs) would nest until the stack ends.
  static int32_t nesting = 0;
  if (nesting >= kMaxRunNesting) {
    runtime_error("Programs run inside each other more than %d deep", kMaxRunNesting);
    return nullptr;
  }
  // The run sets the machine's registers (the current program and scope, the compiler's
  // pools) that script threads share: like script code, it does so under the script lock,
  // which its blocking points give up as the run loop's do.
  ScriptLockHold script_lock_held;
  DriverRun run;
  run.caller = current_program;
  run.caller_scope = current_scope;
  // A shared mode needs a program to share with; without one the program is a new one.
  if (is_shared_mode(mode) && run.caller == nullptr) mode = kRunNewProgram;
  if (file_name) {
    run.file_name = lower_case_copy(file_name);
    run.compiled_name = compiled_file_name(run.file_name);
  }

  // A compile started while another one is under way (a loader's UPDATE running script
  // code) works in pools of its own and leaves the outer ones alone.
  // The same holds for a loader program of the outer run.
  ProgramContext* outer_loader = loader_program;
  // The new program's pool is where its instructions go; the caller's setting comes back.
  Pool* outer_emit_pool = emit_pool;
  const uint32_t outer_emit_scope_key = emit_scope_key;
  Pool* outer_word_pool = compiler_pool;
  Pool* outer_input_pool = parser_input_pool;
  compiler_pool = nullptr;
  parser_input_pool = nullptr;

  ProgramContext* result = nullptr;
  // Only the outermost compile (a program start-up runs, not an eval or run inside it)
  // decides whether the run failed to compile.
  ++nesting;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    result = drive(run, text, compile_only, mode);
    platform::fault_guard_leave(&guard);
    if (nesting == 1 && compile_error_text != nullptr) run_failed = 1;
  } else {
    close_compiler_log();
    runtime_fault(guard);
    if (run.context) {
      free_instruction_list(run.context, run.code);
      app_instance_end(run.context);
    }
    crt::free(run.source_buffer);
    crt::free(const_cast<char*>(run.image));
    result = nullptr;
  }

  --nesting;
  destroy_compiler_pools();
  emit_pool = outer_emit_pool;
  emit_scope_key = outer_emit_scope_key;
  compiler_pool = outer_word_pool;
  parser_input_pool = outer_input_pool;
  loader_program = outer_loader;
  crt::free(compile_error_text);
  compile_error_text = nullptr;
  crt::free(run.file_name);
  crt::free(run.compiled_name);
  current_program = run.caller;
  current_scope = run.caller_scope;
  return result;
}

char* compiled_file_name(const char* source_name) {
  if (source_name == nullptr) return nullptr;
  std::string name = source_name;
  size_t separator = name.find_last_of("\\/");
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator)) name.resize(dot);
  name += ".zrc";
  return crt::_strdup(name.c_str());
}

void stamp_program_instance(ProgramContext* program) {
  if (program == nullptr) return;
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  uint64_t stamp = static_cast<uint64_t>(counter.QuadPart);
  // A counter that stands still (the virtual clock) must not hold the loop: a taken
  // stamp moves on by one instead of waiting for the clock.
  for (bool taken = true; taken; ) {
    taken = false;
    for (ProgramContext* other = program_list; other; other = other->next) {
      uint64_t other_stamp = (static_cast<uint64_t>(other->unique_id[1]) << 32) | other->unique_id[0];
      if (other != program && other_stamp == stamp) {
        taken = true;
        ++stamp;
        break;
      }
    }
  }
  program->unique_id[0] = static_cast<uint32_t>(stamp);
  program->unique_id[1] = static_cast<uint32_t>(stamp >> 32);
}
