// The debugger link over the registry: commands read from "IDE", the line markers'
// breakpoint test with its wait, and the views answered in "RUNTIME".
#include "vm/debugger_link.h"

#include <cstring>
#include <string>
#include <vector>

#include "vm/debug_frames.h"
#include "vm/expression_value.h"
#include "vm/breakpoints.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/script_lock.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/fault_text.h"
#include "vm/listing.h"
#include "vm/machine.h"
#include "vm/profiler.h"

uint32_t step_mode = 0;
uint32_t last_break_line = 0;
uint32_t last_break_poll_time = 0;
char* debug_file_name = nullptr;

ExpressionValue (*expression_evaluator)(const std::string& expression) = nullptr;

namespace {

constexpr size_t kShownTextLength = 128;

void delete_link_values() {
  debugger_delete_values(kDebuggerKey, {"RUNNING", "IDE", "RUNTIME"});
}

// The debugger is gone or told the program to stop: the thread ends without teardown.
[[noreturn]] void end_debugged_thread() {
  step_mode = 0;
  delete_link_values();
  ExitThread(0);
}

std::string lower(std::string text) {
  crt::_strlwr(text.data());
  return text;
}

// A text as a view shows it: CR LF pairs become 0x01, at most 128 characters.
std::string shown_text(const char* text) {
  std::string shown;
  for (const char* c = text; *c && shown.size() < kShownTextLength; ++c) {
    if (c[0] == '\r' && c[1] == '\n') {
      shown += '\x01';
      ++c;
    } else {
      shown += *c;
    }
  }
  return shown;
}

void text_row(std::string& answer, const std::string& name, const void* address, const char* text) {
  answer += format_text("\n%s|0x%08X:\"%s\"", name.c_str(), platform::address_of(address), shown_text(text).c_str());
}

bool is_line_marker(const InstructionNode* node) { return node && node->handler == builtin_debug_marker; }

// ---- Views ----

// The cells on the program's stack above its bottom cell.
int32_t cells_above_bottom(const ProgramContext* program) {
  int32_t cells = 0;
  for (ValueCell* cell = program->stack_top; cell && cell->below; cell = cell->below) ++cells;
  return cells;
}

int32_t variable_list_rows(std::string& rows, Variable* list) {
  int32_t count = 0;
  for (Variable* variable = list; variable; variable = variable->next) {
    if (variable->name && !variable->owner) count += variable_rows(rows, nullptr, variable);
  }
  return count;
}

int32_t stack_rows(std::string& rows) {
  ProgramContext* program = current_program;
  if (!program) return 0;
  int32_t cells = cells_above_bottom(program);
  int32_t count = 0;
  int32_t position = cells;
  for (ValueCell* cell = program->stack_top; cell && cell->below; cell = cell->below, --position) {
    std::string name = format_text("Item #%d ", position);
    static constexpr struct {
      uint32_t flag;
      const char* mark;
    } kMarks[] = {{0x1, "R|"}, {0x10, "M|"}, {0x100, "C|"}, {0x1000000, "P|"}, {0x10000000, "O|"}};
    for (const auto& mark : kMarks) {
      if (cell->flags & mark.flag) name += mark.mark;
    }
    if (cell->variable && cell->variable->name) name = format_text("%s (%s)", name.c_str(), cell->variable->name);
    if (cell->text && !(cell->flags & (kCellList | kCellWideText))) {
      text_row(rows, name, cell->text, static_cast<const char*>(cell->text));
    } else {
      value_row(rows, name.c_str(), nullptr, cell->number);
    }
    ++count;
  }
  return count;
}

int32_t application_rows(std::string& rows) {
  ProgramContext* program = current_program;
  if (!program) return 0;
  int32_t cells = cells_above_bottom(program);
  int32_t forms = 0;
  for (FormRecord* form = program->forms; form; form = form->next) ++forms;
  rows += format_text("\nName|%s", program->name ? program->name : "");
  rows += format_text("\nPath|%s", program->path ? program->path : "");
  rows += format_text("\nBufferSize|%s", grouped_number_string(program->code_size).c_str());
  rows += format_text("\nStack count|%s", grouped_number_string(cells).c_str());
  rows += format_text("\nWindows count|%s", grouped_number_string(forms).c_str());
  return 5;
}

int32_t disassembly_rows(std::string& rows) {
  InstructionNode* current = current_instruction;
  if (!current) return 0;
  // The marker being executed stands before the instruction that runs next.
  InstructionNode* next_to_run = is_line_marker(current) ? current->next : current;
  InstructionNode* first = current;
  for (int back = 0; back < 10 && first->previous;) {
    first = first->previous;
    if (!is_line_marker(first)) ++back;
  }
  int32_t count = 0;
  for (InstructionNode* node = first; node && count < 20; node = node->next) {
    if (is_line_marker(node)) continue;
    char* line = instruction_listing_line(node);
    rows += format_text("\n%c%s", node == next_to_run ? '*' : ' ', line ? line : "");
    crt::free(line);
    ++count;
  }
  return count;
}

// The calls of the running program, newest first (assembled functions running under the
// debugger are newer than any script call); a frame's identifier is its address.
int32_t call_stack_rows(std::string& rows) {
  int32_t count = 0;
  if (current_program) {
    for (AsmFrameRecord* record = current_program->asm_frames; record; record = record->previous) {
      std::string name = record->name ? record->name : "";
      name = name.substr(0, name.find('('));
      rows += format_text("\n%s|0x%08X", name.c_str(), platform::address_of(record));
      ++count;
    }
  }
  for (CallFrame* frame = current_frame; frame; frame = frame->caller) {
    if (frame->program != current_program) continue;
    std::string name = frame->procedure && frame->procedure->text && std::strlen(frame->procedure->text) >= 4
                           ? frame->procedure->text + 4
                           : "";
    name = name.substr(0, name.find('('));
    rows += format_text("\n%s|0x%08X", name.c_str(), platform::address_of(frame));
    ++count;
  }
  return count;
}

// Only a frame of the running chain is read: the identifier comes from outside.
CallFrame* frame_named(const char* identifier) {
  uint32_t address = static_cast<uint32_t>(truncate_to_int(text_to_number(identifier)));
  for (CallFrame* frame = current_frame; frame; frame = frame->caller) {
    if (platform::address_of(frame) == address) return frame;
  }
  return nullptr;
}

AsmFrameRecord* asm_frame_named(const char* identifier) {
  if (!current_program) return nullptr;
  uint32_t address = static_cast<uint32_t>(truncate_to_int(text_to_number(identifier)));
  for (AsmFrameRecord* record = current_program->asm_frames; record; record = record->previous) {
    if (platform::address_of(record) == address) return record;
  }
  return nullptr;
}

// The values an assembled function's frame saved: all of them, or its parameters only.
int32_t asm_frame_rows(std::string& rows, const AsmFrameRecord* record, bool parameters_only) {
  int32_t count = parameters_only ? record->parameter_count : record->local_count;
  for (int32_t index = 0; index < count; ++index) {
    value_row(rows, record->local_names[index], nullptr, static_cast<int32_t>(record->local_values[index]));
  }
  return count;
}

constexpr uint32_t kOpcodeParmsPushVar = 10;
constexpr uint32_t kOpcodeParmsPushVarVar = 107;

// A script procedure's parameters, as the binding instructions after its head name them
// (last parameter first), with their values in the call's scope.
int32_t parameter_rows(std::string& rows, const CallFrame* frame) {
  if (!frame->procedure || !frame->scope) return 0;
  std::vector<const char*> names;
  for (InstructionNode* node = frame->procedure->next; node; node = node->next) {
    if (node->opcode == kOpcodeParmsPushVar) {
      names.push_back(node->text);
    } else if (node->opcode == kOpcodeParmsPushVarVar) {
      if (node->extension && node->extension->name_operand) names.push_back(node->extension->name_operand);
      names.push_back(node->text);
    } else {
      break;
    }
  }
  int32_t count = 0;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    if (!*name) continue;
    Variable* variable = find_variable_in_list(frame->scope, *name);
    if (variable) count += variable_rows(rows, variable->name, variable);
  }
  return count;
}

// The register block of the statement of assembled code that ran last on this thread,
// then the locals of its section.
int32_t register_rows(std::string& rows) {
  const AsmRegisterBlock& block = asm_register_block;
  const struct {
    const char* name;
    uint32_t value;
  } registers[] = {{"R0", block.r0}, {"R1", block.r1}, {"R2", block.r2},
                   {"R3", block.r3}, {"SF", block.sf}, {"SP", block.sp}};
  int32_t count = 0;
  for (const auto& entry : registers) {
    value_row(rows, entry.name, nullptr, static_cast<int32_t>(entry.value));
    ++count;
  }
  for (int32_t index = 0; index < block.local_count && index < kAssemblerMaxLocals; ++index) {
    value_row(rows, block.names[index] ? block.names[index] : "", nullptr, static_cast<int32_t>(block.values[index]));
    ++count;
  }
  return count;
}

int32_t view_rows(const std::string& command, const char* argument, std::string& rows) {
  if (command == "LOCAL") return variable_list_rows(rows, current_scope);
  if (command == "APPGLOBAL") return current_program ? variable_list_rows(rows, current_program->globals) : 0;
  if (command == "GLOBAL") return variable_list_rows(rows, percent_variables);
  if (command == "STACK") return stack_rows(rows);
  if (command == "APPLICATION") return application_rows(rows);
  if (command == "DISASM") return disassembly_rows(rows);
  if (command == "CALLSTACK") return call_stack_rows(rows);
  if (command == "LOCALSTACK" || command == "STACKPARAMS") {
    bool parameters_only = command == "STACKPARAMS";
    if (!argument) return 0;
    if (AsmFrameRecord* record = asm_frame_named(argument)) return asm_frame_rows(rows, record, parameters_only);
    CallFrame* frame = frame_named(argument);
    if (!frame) return 0;
    return parameters_only ? parameter_rows(rows, frame) : variable_list_rows(rows, frame->scope);
  }
  if (command == "REGISTERS") return register_rows(rows);
  return -1;
}

// Runs a view under a fault guard: a fault while reading script memory ends the row being
// built with the exception text.
int32_t guarded_view(const std::string& command, const char* argument, std::string& rows) {
  static thread_local std::string* building = nullptr;
  building = &rows;
  volatile int32_t count = 0;
  platform::FaultGuard guard;
  if (FAULT_GUARD_ENTER(guard)) {
    count = view_rows(command, argument, *building);
    platform::fault_guard_leave(&guard);
    return count;
  }
  char* text = nullptr;
  EXCEPTION_POINTERS pointers = guard.pointers();
  exception_text(&text, guard.code, &pointers);
  *building += format_text("\n%s", text ? text : "fault");
  crt::free(text);
  return count + 1;
}

// The value of an expression, compiled and run in the running program's scope. False
// when it did not compile.
bool trace_row(std::string& rows, const char* expression) {
  if (!current_program) return false;
  if (!expression_evaluator) return false;
  ExpressionValue value = expression_evaluator(expression);
  if (!value.ran || value.values == 0) return false;
  value_row(rows, expression, value.is_text ? value.text.c_str() : nullptr, value.number);
  return true;
}

bool takes_argument(const std::string& command) { return command == "LOCALSTACK" || command == "STACKPARAMS"; }

}  // namespace

bool debugger_poll_commands(const char* file, int32_t line, uint32_t, bool query_only) {
  char* command = debugger_read_value(kDebuggerKey, "IDE");
  char* running = debugger_read_value(kDebuggerKey, "RUNNING");
  const bool has_command = command != nullptr;
  const bool attached = running != nullptr;
  std::string command_line = command ? command : "";
  crt::free(command);
  crt::free(running);
  if (!attached) end_debugged_thread();
  if (!has_command) return false;
  debugger_delete_value(kDebuggerKey, "IDE");

  std::vector<std::string> words;
  for (size_t start = 0;;) {
    size_t bar = command_line.find('|', start);
    words.push_back(command_line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  bool goes_on = false;
  std::string rows;
  int32_t row_count = 0;
  const std::string current_file = lower(file ? file : "");
  size_t index = 0;
  auto next_word = [&]() -> const char* { return index < words.size() ? words[index++].c_str() : nullptr; };
  while (index < words.size()) {
    const std::string command = words[index++];
    if (command == "BREAK") {
      const char* target = next_word();
      const char* target_line = next_word();
      if (target && target_line) {
        breakpoint_toggle(lower(target).c_str(), static_cast<uint32_t>(truncate_to_int(text_to_number(target_line))), 0);
      }
    } else if (command == "STOP") {
      end_debugged_thread();
    } else if (command == "CLEAR") {
      breakpoints_clear();
    } else if (command == "RUNTO") {
      const char* target = next_word();
      const char* target_line = next_word();
      if (query_only || !target || !target_line) continue;
      std::string target_file = lower(target);
      step_mode = 0;
      breakpoints_remove_flagged(target_file.c_str());
      breakpoint_toggle(target_file.c_str(), static_cast<uint32_t>(truncate_to_int(text_to_number(target_line))), 1);
      goes_on = true;
    } else if (command == "STEPOVER" || command == "STEPINTO") {
      if (query_only) continue;
      step_mode = command == "STEPOVER" ? 1 : 2;
      goes_on = true;
    } else if (command == "RUN") {
      breakpoints_remove_flagged(current_file.c_str());
      step_mode = 0;
      goes_on = true;
    } else if (command == "TRACE") {
      // Each following word is an expression, reported when it compiles.
      while (const char* expression = next_word()) {
        if (trace_row(rows, expression)) ++row_count;
      }
    } else {
      const char* argument = takes_argument(command) ? next_word() : nullptr;
      int32_t count = guarded_view(command, argument, rows);
      if (count > 0) row_count += count;
    }
  }
  if (row_count > 0 && debugger_key_exists(kDebuggerKey)) {
    debugger_set_value("RUNTIME", format_text("\nVAR%%\n%d%s", row_count, rows.c_str()).c_str());
  }
  (void)line;
  return goes_on;
}

void debugger_break_check(uint32_t, uint32_t line, const char* file) {
  if (!debugger_enabled) return;
  if (!file) file = "";
  // Commands that resume are not taken again on the line the program stands on.
  if (line == last_break_line) {
    debugger_poll_commands(file, static_cast<int32_t>(line), 0, true);
    return;
  }
  last_break_line = line;
  if (!debug_file_name || std::strcmp(debug_file_name, file) != 0) {
    crt::free(debug_file_name);
    debug_file_name = crt::_strdup(file);
  }
  DWORD now = GetTickCount();
  if (now - last_break_poll_time >= 1000) {
    // Views and breakpoint edits keep working while the program runs.
    debugger_poll_commands(file, static_cast<int32_t>(line), 0, true);
    last_break_poll_time = now;
  }
  BreakpointEntry* hit = breakpoint_find(file, line);
  if (hit && hit->flag) {
    crt::free(hit->file);
    hit->file = nullptr;
  }
  if (!hit && step_mode == 0) return;
  if (debugger_key_exists(kDebuggerKey)) {
    debugger_set_value("RUNTIME", format_text("\nBREAK\n%s\n%d", file, static_cast<int>(line)).c_str());
  }
  while (!debugger_poll_commands(file, static_cast<int32_t>(line), 0, false)) {
    ScriptLockYield waiting;
    Sleep(100);
  }
}

std::string variable_descriptor(const Variable* variable) {
  static constexpr struct {
    uint32_t flag;
    const char* letters;
  } kLetters[] = {{0x1, "U"},      {0x10, "C"},      {0x100, "S"},       {0x1000, "M|"},
                  {0x10000, "L"},  {0x100000, "O"},  {0x1000000, "P"},   {0x10000000, "Y"}};
  std::string letters;
  for (const auto& entry : kLetters) {
    if (variable->flags & entry.flag) letters += entry.letters;
  }
  if (variable->type_code) {
    uint32_t size = type_size(variable->type_code);
    letters = letters.empty() ? format_text("%db", static_cast<int>(size))
                              : format_text("%s,%db", letters.c_str(), static_cast<int>(size));
  }
  const char* name = variable->name ? variable->name : "";
  std::string name_part = variable->element_count > 1 || variable->dim_count > 0
                              ? format_text("%s [%d]", name, static_cast<int>(variable->element_count))
                              : std::string(name);
  return letters.empty() ? name_part : format_text("%s (%s)", name_part.c_str(), letters.c_str());
}

int32_t variable_rows(std::string& answer, const char* row_name, const Variable* variable) {
  if (!variable) return 0;
  std::string name = row_name ? row_name : variable_descriptor(variable);
  void* text = nullptr;
  double number = 0;
  get_variable_value(const_cast<Variable*>(variable), &text, &number, nullptr);
  if (text && (variable->flags & kVariableWideText)) {
    char* narrow = to_narrow(static_cast<const char16_t*>(text));
    text_row(answer, name, text, narrow ? narrow : "");
    crt::free(narrow);
  } else if (text && !(variable->flags & (kVariablePackedList | kVariableObject))) {
    text_row(answer, name, text, static_cast<const char*>(text));
  } else {
    answer += format_text("\n%s|%s", name.c_str(), number_string(number).c_str());
  }
  int32_t count = 1;
  if (variable->flags & kVariableStructure) {
    for (MemberNode* member = variable->members; member; member = member->next) {
      if (!member->member) continue;
      std::string descriptor = variable_descriptor(member->member);
      size_t dot = descriptor.find('.');
      std::string member_name = "  " + (dot == std::string::npos ? descriptor : descriptor.substr(dot + 1));
      count += variable_rows(answer, member_name.c_str(), member->member);
    }
  }
  return count;
}

void value_row(std::string& answer, const char* row_name, const char* text, double number) {
  if (text) text_row(answer, row_name ? row_name : "", text, text);
  else answer += format_text("\n%s|%s", row_name ? row_name : "", number_string(number).c_str());
}

int32_t debugger_view(const char* command, const char* argument, std::string& rows) {
  return guarded_view(command ? command : "", argument, rows);
}

void builtin_debug_marker() {
  const InstructionNode* node = current_instruction;
  if (!node || !node->extension || !runtime_error_services.instruction_source) return;
  const char* file = nullptr;
  int32_t line = 0;
  int32_t position = 0;
  runtime_error_services.instruction_source(node, &file, &line, &position);
  debugger_break_check(0, static_cast<uint32_t>(line), file ? file : "");
}

void builtin_debug_text() {
  ValueCell* cell = stack_pop(current_program);
  if (!log_enabled) return;
  MEMORYSTATUS status{};
  status.dwLength = sizeof(status);
  GlobalMemoryStatus(&status);
  log_line(format_text("DEBUG (%s)> %s\n", grouped_number_string(status.dwAvailPhys).c_str(), cell_text(cell)).c_str());
}

namespace {

constexpr uint32_t kOpcodeStartProc = 1;
constexpr uint32_t kOpcodeEndProc = 2;
constexpr uint32_t kOpcodePushInt = 4;
constexpr uint32_t kOpcodePushStr = 5;
constexpr uint32_t kOpcodePushStrInt = 87;

// The place a profile point names: the file and line pushed just before it.
bool profile_point_place(const InstructionNode* point, const char** file, int32_t* line) {
  const InstructionNode* pushed = point->previous;
  if (pushed && pushed->opcode == kOpcodePushStrInt) {
    *file = pushed->text;
    *line = static_cast<int32_t>(pushed->operand);
    return true;
  }
  if (pushed && pushed->opcode == kOpcodePushInt && pushed->previous && pushed->previous->opcode == kOpcodePushStr) {
    *file = pushed->previous->text;
    *line = static_cast<int32_t>(pushed->operand);
    return true;
  }
  return false;
}

// The source place of an instruction: that of the nearest line marker before it in its
// procedure (markers stand before their statements), else that of the profile point
// that ends its statement. Nothing for code compiled without either.
void marked_instruction_source(const InstructionNode* instruction, const char** file, int32_t* line,
                               int32_t* position) {
  for (const InstructionNode* node = instruction; node; node = node->previous) {
    if (is_line_marker(node)) {
      *file = node->text;
      *line = static_cast<int32_t>(node->operand);
      *position = static_cast<int32_t>(node->work);
      return;
    }
    if (node->opcode == kOpcodeStartProc && node != instruction) break;
  }
  constexpr int kLongestStatement = 4096;
  const InstructionNode* node = instruction;
  for (int step = 0; node && step < kLongestStatement; ++step, node = node->next) {
    if (node->handler == builtin_profile_point) {
      profile_point_place(node, file, line);
      return;
    }
    if (node->opcode == kOpcodeStartProc || node->opcode == kOpcodeEndProc) return;
  }
}

}  // namespace

void debugger_link_install() {
  if (!runtime_error_services.instruction_source) runtime_error_services.instruction_source = marked_instruction_source;
  runtime_error_services.debugger_key_exists = debugger_key_exists;
  runtime_error_services.debugger_set_value = debugger_set_value;
  runtime_error_services.debugger_poll_commands = debugger_poll_commands;
}

void register_debugger_link_builtins() {
  debugger_link_install();
  builtin_register("__debug", builtin_debug_marker);
  builtin_register("debug", builtin_debug_text);
}
