// printf and sprintf: one engine walks a C-style format, gives each conversion with the
// next script argument to the C runtime's _snprintf and joins the pieces. A piece's
// format is rewritten so that it holds exactly one conversion of the type the engine
// passes: script formats can never make the C runtime read a missing or mistyped value.
#include "library/files/printf_builtins.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// The letters that end a conversion and take an argument.
constexpr char kArgumentLetters[] = "cdieEfgGosuxXpn";
// A piece longer than this (a width past 2^20) is dropped instead of formatted.
constexpr size_t kLargestPiece = size_t{1} << 22;

bool is_argument_letter(char letter) { return letter && std::strchr(kArgumentLetters, letter); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// How the engine passes the argument of a piece.
enum class ValueKind { kNone, kInteger, kInteger64, kReal, kText, kAddress };

struct Piece {
  std::string format;  // for _snprintf: literal text and at most one conversion
  ValueKind kind = ValueKind::kNone;
};

// The size modifier of a conversion, as written; cursor moves past it.
std::string read_size(const char*& cursor, const char* end) {
  static const char* const kSizes[] = {"hh", "ll", "I64", "I32", "I", "z", "t", "j", "h", "l", "L", "w"};
  for (const char* size : kSizes) {
    size_t length = std::strlen(size);
    if (static_cast<size_t>(end - cursor) >= length && std::strncmp(cursor, size, length) == 0) {
      cursor += length;
      return size;
    }
  }
  return "";
}

// The argument's conversion with the size modifier that matches what is passed: 64-bit
// integers keep "ll", short ones "h"/"hh", characters their wide mark; the rest go.
ValueKind kind_of(char letter, std::string& size) {
  bool wide_integer = size == "ll" || size == "I64" || size == "j";
  bool short_integer = size == "h" || size == "hh";
  switch (letter) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      size = wide_integer ? "ll" : short_integer ? size : "";
      return wide_integer ? ValueKind::kInteger64 : ValueKind::kInteger;
    case 'c':
      if (size != "h" && size != "l" && size != "w") size.clear();
      return ValueKind::kInteger;
    case 'p':
    case 'n':
      size.clear();
      return ValueKind::kAddress;
    case 's':
      size.clear();
      return ValueKind::kText;
    default:  // e E f g G
      size.clear();
      return ValueKind::kReal;
  }
}

// Rewrites one conversion (from its '%' through its letter, or to the end of the
// format) for _snprintf. The conversion that ends it takes the argument; a "%%" stays a
// percent sign; any other conversion inside it is printed as written. A '*' would read
// a width the script never passed, so it is dropped.
Piece make_piece(const char* begin, const char* end) {
  Piece piece;
  const char* cursor = begin;
  while (cursor < end) {
    if (*cursor != '%') {
      piece.format += *cursor++;
      continue;
    }
    const char* start = cursor++;
    std::string flags;
    while (cursor < end && *cursor && std::strchr("-+ #0", *cursor)) flags += *cursor++;
    std::string width;
    if (cursor < end && *cursor == '*') {
      ++cursor;
    } else {
      while (cursor < end && is_digit(*cursor)) width += *cursor++;
    }
    std::string precision;
    if (cursor < end && *cursor == '.') {
      ++cursor;
      if (cursor < end && *cursor == '*') {
        ++cursor;
      } else {
        precision = ".";
        while (cursor < end && is_digit(*cursor)) precision += *cursor++;
      }
    }
    std::string size = read_size(cursor, end);
    char letter = cursor < end ? *cursor++ : 0;
    if (letter == '%') {
      piece.format += "%%";
    } else if (cursor == end && is_argument_letter(letter)) {
      piece.kind = kind_of(letter, size);
      piece.format += '%' + flags + width + precision + size + letter;
    } else {
      piece.format += "%%";
      piece.format.append(start + 1, cursor);
    }
  }
  return piece;
}

// Appends _snprintf's text of format and value, growing the buffer until it fits.
template <typename Value>
void append_formatted(std::string& out, const std::string& format, Value value) {
  std::vector<char> buffer(256);
  while (buffer.size() <= kLargestPiece) {
    int length = crt::_snprintf(buffer.data(), buffer.size(), format.c_str(), value);
    if (length >= 0 && static_cast<size_t>(length) < buffer.size()) {
      out.append(buffer.data(), static_cast<size_t>(length));
      return;
    }
    buffer.resize(buffer.size() * 4);
  }
}

// A script number as a 64-bit integer: toward zero, unsigned beyond 2^63, 0 when it is
// out of range or NaN.
int64_t to_int64(double value) {
  if (std::fabs(value) < 9223372036854775808.0) return static_cast<int64_t>(value);
  if (value >= 9223372036854775808.0 && value < 18446744073709551616.0) {
    return static_cast<int64_t>(static_cast<uint64_t>(value));
  }
  return 0;
}

// The 8-bit text of an argument for %s: its own text, a UTF-16 text converted, the bytes
// of a block up to its end, or a number's text; "" for a missing argument.
const char* argument_text(const ValueCell* cell, std::string& holder) {
  if (!cell) return "";
  if (!cell->text) return cell_text(cell);
  if (cell->flags & kCellWideText) {
    char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
    holder = narrow ? narrow : "";
    crt::free(narrow);
    return holder.c_str();
  }
  if (cell->flags & kCellList) {
    const char* bytes = static_cast<const char*>(cell->text);
    uint32_t size = alloc_block_size(bytes);
    holder.assign(bytes, strnlen(bytes, size));
    return holder.c_str();
  }
  return static_cast<const char*>(cell->text);
}

void append_piece(std::string& out, const Piece& piece, const ValueCell* argument) {
  double number = argument ? cell_number(argument) : 0.0;
  switch (piece.kind) {
    case ValueKind::kText: {
      std::string holder;
      append_formatted(out, piece.format, argument_text(argument, holder));
      return;
    }
    case ValueKind::kInteger:
      append_formatted(out, piece.format, truncate_to_int(number));
      return;
    case ValueKind::kInteger64:
      append_formatted(out, piece.format, static_cast<long long>(to_int64(number)));
      return;
    case ValueKind::kReal:
      append_formatted(out, piece.format, number);
      return;
    case ValueKind::kAddress:
      append_formatted(out, piece.format, platform::pointer_from<void>(static_cast<uint32_t>(truncate_to_int(number))));
      return;
    case ValueKind::kNone:
      append_formatted(out, piece.format, 0);
      return;
  }
}

// The format with each conversion filled from the next argument. A conversion
// runs from a '%' to the first argument letter after it (or to the end of the format)
// and takes one argument even when it turns out to hold none.
std::string format_script_text(const char* format, const ValueCell* const* arguments, size_t count) {
  std::string out;
  size_t next = 0;
  const char* cursor = format ? format : "";
  while (*cursor) {
    if (*cursor != '%') {
      out += *cursor++;
      continue;
    }
    const char* end = cursor + 1;
    while (*end && !is_argument_letter(*end)) ++end;
    if (*end) ++end;
    const ValueCell* argument = next < count ? arguments[next] : nullptr;
    ++next;
    append_piece(out, make_piece(cursor, end), argument);
    cursor = end;
  }
  return out;
}

// The 8-bit text of the format cell.
std::string format_of(const ValueCell* cell) {
  std::string holder;
  return argument_text(cell, holder);
}

// The cells above the innermost stack mark, first argument first. Popped cells stay
// valid until the next push, and nothing is pushed while they are read.
std::vector<const ValueCell*> pop_call_arguments() {
  std::vector<const ValueCell*> cells;
  ValueCell* mark;
  if (!stack_take_mark(current_program, &mark)) return cells;
  while (current_program->stack_top && current_program->stack_top != mark) {
    cells.push_back(stack_pop(current_program));
  }
  std::reverse(cells.begin(), cells.end());
  return cells;
}

// printf(format, arg1, ...): the formatted text.
void builtin_printf() {
  std::vector<const ValueCell*> cells = pop_call_arguments();
  if (cells.empty()) {
    push_owned_text(nullptr);
    return;
  }
  std::string text = format_script_text(format_of(cells[0]).c_str(), cells.data() + 1, cells.size() - 1);
  push_owned_text(crt::_strdup(text.c_str()));
}

// sprintf(variable, format, arg1, ...): the variable's value becomes the formatted text.
// The text is made before the variable is cleared, so the variable may be its own format
// or argument.
void builtin_sprintf() {
  std::vector<const ValueCell*> cells = pop_call_arguments();
  if (cells.empty()) return;
  Variable* variable = cell_variable(cells[0]);
  std::string text;
  if (cells.size() > 1) text = format_script_text(format_of(cells[1]).c_str(), cells.data() + 2, cells.size() - 2);
  if (!variable) return;
  if (!variable->type_code) variable_clear_value(current_program, variable, false, false);
  set_variable(variable, text.data(), 0, nullptr, static_cast<int32_t>(std::strlen(text.c_str()) + 1));
  variable->flags &= ~kVariableWideText;
}

}  // namespace

void register_printf_builtins() {
  builtin_register("printf", builtin_printf);
  builtin_register("sprintf", builtin_sprintf);
}
