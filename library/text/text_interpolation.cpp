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

// The values an expression hands over while its interpolation waits for them.
struct PieceCapture {
  std::string text;
  int32_t count = 0;
};
PieceCapture* active_capture = nullptr;

// The program text for an expression. A bare expression is no statement of the language
// (a leading value reads as a CASE label, and a call's result is dropped), and a value
// left on the stack would lose a computed text when the run's call ends; so the value is
// handed to the piece built-in, which copies its text while it is alive. An expression
// that names a program file is handed on as it stands: that file runs.
std::string program_text(const std::string& expression) {
  char* resolved = resolve_program_file(crt::_strdup(expression.c_str()));
  const bool names_file = resolved && file_exists(resolved);
  crt::free(resolved);
  if (names_file) return expression;
  return std::string(kInterpolationPieceName) + "(" + expression + ");";
}

bool is_blank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// Compiles and runs one expression in the caller's scope and on its stack. The piece is
// the single value it handed over. Whatever the run leaves on the stack is taken off
// again, so a variadic built-in of the caller never finds stray cells above its mark.
std::string evaluate(const std::string& expression) {
  ProgramContext* caller = current_program;
  if (!caller) return "[Error]";
  if (is_blank(expression)) return std::string();
  ValueCell* top = caller->stack_top;
  // Interpolations nest (an expression may call evalstring): each waits for its own piece.
  PieceCapture capture;
  PieceCapture* outer_capture = active_capture;
  active_capture = &capture;
  ProgramContext* run = run_file_report_error(program_text(expression).c_str(), 0, kRunInCallerScope);
  active_capture = outer_capture;
  current_program = caller;
  drop_cells_above(caller, top);
  if (!run) return "[Error]";
  app_instance_end(run);
  current_program = caller;
  return capture.count == 1 ? capture.text : std::string();
}

}  // namespace

char* interpolate_braced_expressions(const char* source) {
  // A private copy: the expressions run script code, which may free or change the
  // caller's text before the assembly pass reads it again.
  const std::string copy = source ? source : "";
  const char* text = copy.c_str();
  const size_t length = copy.size();
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

void builtin_interpolation_piece() {
  ProgramContext* context = current_program;
  if (!context) return;
  ValueCell* cell = stack_pop(context);
  if (!active_capture) return;
  active_capture->text = cell_piece(cell);
  ++active_capture->count;
}
