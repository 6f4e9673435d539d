// The regular-expression built-ins: arguments from the value stack, the one current
// expression that match and search replace, and the results given to script variables.
#include "library/regex/regex_builtins.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/regex/regex_engine.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"
#include "vm/builtin_registry.h"

namespace {

// The latest compiled pattern (null after a failed compilation) and the UTF-16 copy of
// the subject it last ran on. Its captures point into that copy, which lives until the
// next match or search, so subexp never reads freed text.
RegexProgram* current_expression = nullptr;
WCHAR* current_subject = nullptr;

// Frees the current expression and its subject, then compiles the pattern in its place.
void replace_expression(const WCHAR* pattern, const WCHAR** error) {
  regex_free(current_expression);
  crt::free(current_subject);
  current_subject = nullptr;
  current_expression = regex_compile(pattern, error);
}

// The subject copy stays with the expression that ran on it, or goes when there is none.
void keep_subject(WCHAR* subject) {
  if (current_expression) {
    current_subject = subject;
  } else {
    crt::free(subject);
  }
}

void publish_error(const WCHAR* error) {
  char* text = to_narrow(error);
  if (!text) return;
  Variable* variable = find_variable("REXERROR%");
  if (variable) {
    set_variable(variable, text, 0, nullptr, static_cast<int32_t>(std::strlen(text) + 1));
  } else {
    variable = set_variable_by_name("REXERROR%", text, 0, nullptr, static_cast<int32_t>(std::strlen(text) + 1));
  }
  if (variable) variable->flags &= ~kVariableWideText;
  crt::free(text);
}

bool is_wide(const ValueCell* cell) { return cell->text && (cell->flags & kCellWideText); }

// A variable argument: the cell's own variable, else the one its text (or number) names,
// declared in the current scope when missing.
Variable* argument_variable(const ValueCell* cell) {
  if (cell->variable) return cell->variable;
  if (cell->text && (cell->flags & (kCellWideText | kCellList))) return nullptr;
  const char* name = cell_text(cell);
  if (!name || !*name) return nullptr;
  Variable* variable = find_variable(name);
  return variable ? variable : get_variable(current_scope, name);
}

// A number argument: the cell's number, or its text read as a number.
int32_t integer_argument(const ValueCell* cell) {
  if (!cell->text || (cell->flags & kCellList)) return truncate_to_int(cell->number);
  if (!is_wide(cell)) return truncate_to_int(text_to_number(static_cast<const char*>(cell->text)));
  char* narrow = to_narrow(static_cast<const WCHAR*>(cell->text));
  int32_t value = truncate_to_int(text_to_number(narrow));
  crt::free(narrow);
  return value;
}

// Whether a variable shows its text as UTF-16 is a property of plain variables only;
// typed slots, arrays, structures and lists keep their own width.
void set_text_width(Variable* variable, bool wide) {
  if (variable->type_code || variable->element_count ||
      (variable->flags & (kVariableStructure | kVariablePackedList | kVariableObject))) {
    return;
  }
  if (wide) {
    variable->flags |= kVariableWideText;
  } else {
    variable->flags &= ~kVariableWideText;
  }
}

// A text argument as the script gave it: 8-bit, or UTF-16, never both.
struct ScriptText {
  const char* narrow;
  const WCHAR* wide;
};

ScriptText script_text(const ValueCell* cell) {
  if (is_wide(cell)) return {nullptr, static_cast<const WCHAR*>(cell->text)};
  const char* narrow = cell_text(cell);
  return {narrow ? narrow : "", nullptr};
}

// A new copy of the text from the given character on, in the text's own width; the
// position is kept within the text.
void* copy_tail(const ScriptText& text, int32_t position) {
  if (position < 0) position = 0;
  if (text.wide) {
    size_t length = crt::wcslen(text.wide);
    return crt::_wcsdup(text.wide + (static_cast<size_t>(position) < length ? position : length));
  }
  size_t length = std::strlen(text.narrow);
  const char* tail = text.narrow + (static_cast<size_t>(position) < length ? position : length);
  size_t size = std::strlen(tail) + 1;
  void* copy = crt::malloc(size);
  if (copy) std::memcpy(copy, tail, size);
  return copy;
}

// Gives the variable a copy of the text (from copy_tail), which the caller still frees.
void store_text(Variable* variable, const void* text, bool wide) {
  if (!variable) return;
  // An empty wide text still needs its whole terminating unit.
  size_t size = !text ? (wide ? sizeof(WCHAR) : 1)
                : wide ? (crt::wcslen(static_cast<const WCHAR*>(text)) + 1) * sizeof(WCHAR)
                       : std::strlen(static_cast<const char*>(text)) + 1;
  static const WCHAR empty[1] = {0};
  set_variable(variable, const_cast<void*>(text ? text : empty), 0, nullptr, static_cast<int32_t>(size));
  set_text_width(variable, wide);
}

void store_number(Variable* variable, double number) {
  if (!variable) return;
  set_variable(variable, nullptr, number, nullptr, 0);
  set_text_width(variable, false);
}

}  // namespace

void builtin_match() {
  ValueCell* text_cell = stack_pop(current_program);
  ValueCell* pattern_cell = stack_pop(current_program);
  WCHAR* subject = cell_wide_copy(text_cell);
  WCHAR* pattern = cell_wide_copy(pattern_cell);
  const WCHAR* error = nullptr;
  replace_expression(pattern, &error);
  crt::free(pattern);
  int matched = regex_match_at_start(current_expression, subject);
  keep_subject(subject);
  if (error) publish_error(error);
  stack_push_number(current_program, matched);
}

void builtin_search() {
  ValueCell* end_cell = stack_pop(current_program);
  ValueCell* start_cell = stack_pop(current_program);
  ValueCell* text_cell = stack_pop(current_program);
  ValueCell* pattern_cell = stack_pop(current_program);
  Variable* end_variable = argument_variable(end_cell);
  Variable* start_variable = argument_variable(start_cell);
  ScriptText text = script_text(text_cell);
  WCHAR* subject = cell_wide_copy(text_cell);
  WCHAR* pattern = cell_wide_copy(pattern_cell);
  const WCHAR* error = nullptr;
  replace_expression(pattern, &error);
  crt::free(pattern);
  const WCHAR* match_start = nullptr;
  const WCHAR* match_end = nullptr;
  int found = regex_search(current_expression, subject, &match_start, &match_end);
  if (found) {
    // Both results are copied before either variable is written: the subject may be the
    // value of one of them, and writing it frees it.
    void* from_match = copy_tail(text, static_cast<int32_t>(match_start - subject));
    void* after_match = copy_tail(text, static_cast<int32_t>(match_end - subject));
    store_text(start_variable, from_match, text.wide != nullptr);
    store_text(end_variable, after_match, text.wide != nullptr);
    crt::free(from_match);
    crt::free(after_match);
  }
  keep_subject(subject);
  if (error) publish_error(error);
  stack_push_number(current_program, found);
}

void builtin_subexpcount() { stack_push_number(current_program, regex_group_count(current_expression)); }

void builtin_subexp() {
  ValueCell* length_cell = stack_pop(current_program);
  ValueCell* start_cell = stack_pop(current_program);
  ValueCell* group_cell = stack_pop(current_program);
  ValueCell* text_cell = stack_pop(current_program);
  if (!current_expression) return;
  Variable* length_variable = argument_variable(length_cell);
  Variable* start_variable = argument_variable(start_cell);
  ScriptText text = script_text(text_cell);
  RegexCapture capture{nullptr, 0};
  regex_group(current_expression, integer_argument(group_cell), &capture);
  // Capture positions count from the latest subject; on any other text they name nothing.
  bool readable = capture.start && current_subject;
  if (readable) {
    WCHAR* given = cell_wide_copy(text_cell);
    readable = given && crt::wcscmp(given, current_subject) == 0;
    crt::free(given);
  }
  void* from_group = readable ? copy_tail(text, static_cast<int32_t>(capture.start - current_subject)) : nullptr;
  store_text(start_variable, from_group, text.wide != nullptr);
  store_number(length_variable, readable ? capture.length : 0);
  crt::free(from_group);
}

void register_regex_builtins() {
  builtin_register("match", builtin_match);
  builtin_register("search", builtin_search);
  builtin_register("subexpcount", builtin_subexpcount);
  builtin_register("subexp", builtin_subexp);
}
