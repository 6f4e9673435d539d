// Text interpolation: braces found, each expression run in the caller's scope, the
// value texts joined with the text around them.
#include "library/text/text_interpolation.h"

#include <cstring>
#include <string>
#include <vector>

#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/program_end.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"

namespace {

// The index of the '}' that closes the '{' at open, or the length of the text when the
// text ends first.
size_t closing_brace(const char* text, size_t length, size_t open) {
  int32_t depth = 0;
  for (size_t index = open + 1; index < length; ++index) {
    if (text[index] == '{') {
      ++depth;
    } else if (text[index] == '}') {
      if (--depth < 0) return index;
    }
  }
  return length;
}

// The 8-bit text of a result cell; a list or block has none.
std::string cell_piece(const ValueCell* cell) {
  if (cell->flags & kCellList) return std::string();
  if (!cell->text) {
    char* number = number_to_text(cell->number);
    std::string piece = number ? number : "";
    crt::free(number);
    return piece;
  }
  if (cell->flags & kCellWideText) {
    char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
    std::string piece = narrow ? narrow : "";
    crt::free(narrow);
    return piece;
  }
  return static_cast<const char*>(cell->text);
}

// Takes off whatever was pushed above top. A stack that no longer holds top (the run
// popped below it or cleared the stack) is left as it is.
void drop_cells_above(ProgramContext* program, ValueCell* top) {
  for (ValueCell* cell = program->stack_top; cell; cell = cell->below) {
    if (cell == top) {
      program->stack_top = top;
      return;
    }
  }
}

// The program text for an expression. A bare expression is no statement of the language
// (a leading value reads as a CASE label, and a call's result is dropped), so it is
// compiled as push(expression), which leaves its value on the stack. An expression that
// names a program file is handed on as it stands: that file runs.
std::string program_text(const std::string& expression) {
  char* resolved = resolve_program_file(crt::_strdup(expression.c_str()));
  const bool names_file = resolved && file_exists(resolved);
  crt::free(resolved);
  return names_file ? expression : "push(" + expression + ");";
}

// Compiles and runs one expression on the caller's stack and scope. The piece is the
// single value it leaves; anything else it leaves is taken off again, so a variadic
// built-in of the caller never finds stray cells above its stack mark.
std::string evaluate(const std::string& expression) {
  ProgramContext* caller = current_program;
  if (!caller) return "[Error]";
  ValueCell* top = caller->stack_top;
  ProgramContext* run = run_file_report_error(program_text(expression).c_str(), 0, kRunInCallerScope);
  current_program = caller;
  if (!run) {
    drop_cells_above(caller, top);
    return "[Error]";
  }
  std::string piece;
  ValueCell* result = caller->stack_top;
  if (result && result != top && result->below == top) piece = cell_piece(result);
  drop_cells_above(caller, top);
  // The value's text may belong to the run: it was copied first.
  app_instance_end(run);
  current_program = caller;
  return piece;
}

}  // namespace

char* interpolate_braced_expressions(const char* text) {
  if (!text) text = "";
  const size_t length = std::strlen(text);
  // No fixed work areas: an expression and the number of pieces are limited by memory only.
  std::vector<std::string> pieces;
  size_t output_length = 0;
  for (size_t index = 0; index < length; ++index) {
    if (text[index] != '{') {
      ++output_length;
      continue;
    }
    size_t close = closing_brace(text, length, index);
    pieces.push_back(evaluate(std::string(text + index + 1, close - index - 1)));
    // Reported once that last expression has run: its run loop would clear the stop flag,
    // and the caller's procedure must end as after any other fault.
    if (close == length) runtime_error("Missing }");
    output_length += pieces.back().size();
    index = close;
  }

  char* output = static_cast<char*>(crt::calloc(output_length + 1, 1));
  if (!output) return nullptr;
  size_t written = 0;
  size_t next_piece = 0;
  for (size_t index = 0; index < length; ++index) {
    if (text[index] != '{') {
      output[written++] = text[index];
      continue;
    }
    const std::string& piece = pieces[next_piece++];
    std::memcpy(output + written, piece.data(), piece.size());
    written += piece.size();
    index = closing_brace(text, length, index);
  }
  return output;
}
