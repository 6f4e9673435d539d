// Text interpolation: braces found, each expression run in the caller's scope, the
// value texts joined with the text around them.
#include "compiler/driver/text_interpolation.h"

#include <cstring>
#include <string>
#include <vector>

#include "compiler/driver/expression_value.h"
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

bool is_blank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// One expression's piece: "[Error]" when it does not compile or run, empty unless it
// hands over exactly one value.
std::string evaluate(const std::string& expression) {
  if (!current_program) return "[Error]";
  if (is_blank(expression)) return std::string();
  ExpressionValue value = evaluate_expression(expression);
  if (!value.ran) return "[Error]";
  return value.values == 1 ? value.text : std::string();
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
