// 8-bit texts go through the runtime's shared trim, pad and Soundex helpers. UTF-16
// texts are trimmed and padded unit by unit here and give UTF-16 results: read as bytes
// they would end at the first character's high byte.
#include "library/strings/trim_pad_builtins.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

bool is_wide(const ValueCell* cell) { return cell->text && (cell->flags & kCellWideText); }

size_t wide_length(const char16_t* text) { return crt::wcslen(text); }

char16_t* wide_piece(const char16_t* text, size_t start, size_t count) {
  auto* piece = static_cast<char16_t*>(crt::calloc(count + 1, sizeof(char16_t)));
  if (piece && count) std::memcpy(piece, text + start, count * sizeof(char16_t));
  return piece;
}

// ---- Trims ----

enum Trim { kTrimLeft = 1, kTrimRight = 2, kTrimBoth = 3 };

char16_t* trim_wide(const char16_t* text, int sides) {
  size_t start = 0;
  size_t end = wide_length(text);
  if (sides & kTrimRight) {
    while (end > 0 && text[end - 1] == u' ') --end;
  }
  if (sides & kTrimLeft) {
    while (start < end && text[start] == u' ') ++start;
  }
  return wide_piece(text, start, end - start);
}

char* trim_narrow(const char* text, int sides) {
  if (sides == kTrimLeft) return trim_left_spaces(text);
  char* right = trim_right_spaces(text);
  if (sides == kTrimRight || !right) return right;
  char* both = trim_left_spaces(right);
  crt::free(right);
  return both;
}

template <int Sides>
void trim_builtin() {
  ValueCell* cell = stack_pop(current_program);
  if (is_wide(cell)) {
    push_owned_wide_text(trim_wide(cell_wide_text(cell), Sides));
  } else {
    push_owned_text(trim_narrow(cell_text(cell), Sides));
  }
}

void builtin_rtrim() { trim_builtin<kTrimRight>(); }
void builtin_ltrim() { trim_builtin<kTrimLeft>(); }
void builtin_trim() { trim_builtin<kTrimBoth>(); }

// ---- Pads ----

// The fill character: the first character of a text (0 for an empty one), or the
// character code a number holds.
uint32_t fill_code(const ValueCell* cell, bool wide) {
  if (!cell->text) return static_cast<uint32_t>(truncate_to_int(cell->number));
  if (is_wide(cell)) {
    auto* text = cell_wide_text(cell);
    if (wide || text[0] == 0) return text[0];
    char* narrow = to_narrow(text);
    uint32_t code = narrow ? static_cast<unsigned char>(narrow[0]) : 0;
    crt::free(narrow);
    return code;
  }
  auto* text = static_cast<const char*>(cell->text);
  if (!wide || text[0] == 0) return static_cast<unsigned char>(text[0]);
  char first[2] = {text[0], 0};
  char16_t* converted = to_wide(first);
  uint32_t code = converted ? converted[0] : 0;
  crt::free(converted);
  return code;
}

char16_t* pad_wide(const char16_t* text, char16_t fill, int32_t count, bool left) {
  size_t length = wide_length(text);
  size_t added = count > 0 ? static_cast<size_t>(count) : 0;
  auto* padded = static_cast<char16_t*>(crt::calloc(length + added + 1, sizeof(char16_t)));
  if (!padded) return nullptr;
  char16_t* at = padded;
  if (left) at = std::fill_n(at, added, fill);
  at = std::copy(text, text + length, at);
  if (!left) std::fill_n(at, added, fill);
  return padded;
}

void pad_builtin(bool left) {
  int32_t count = pop_integer();
  ValueCell* fill = stack_pop(current_program);
  ValueCell* cell = stack_pop(current_program);
  if (is_wide(cell)) {
    auto code = static_cast<char16_t>(fill_code(fill, true));
    push_owned_wide_text(pad_wide(cell_wide_text(cell), code, count, left));
  } else {
    auto code = static_cast<char>(fill_code(fill, false));
    const char* text = cell_text(cell);
    push_owned_text(left ? pad_left(text, code, count) : pad_right(text, code, count));
  }
}

void builtin_lpad() { pad_builtin(true); }
void builtin_rpad() { pad_builtin(false); }

// ---- Soundex ----

// The code goes into the buffer argument's own text, cut to what its block holds; a
// UTF-16 buffer gets the code as UTF-16 units. The result is the length written.
void builtin_soundex() {
  int32_t census = pop_integer();
  int32_t code_length = pop_integer();
  ValueCell* name_cell = stack_pop(current_program);
  ValueCell* buffer_cell = stack_pop(current_program);

  char* narrow_name = is_wide(name_cell) ? to_narrow(cell_wide_text(name_cell)) : nullptr;
  char code[16];
  int32_t length = soundex_code(code, narrow_name ? narrow_name : cell_text(name_cell), code_length, census);
  crt::free(narrow_name);

  // A buffer outside the allocator is taken to hold its own text and terminator.
  bool wide = is_wide(buffer_cell);
  void* buffer = wide ? buffer_cell->text : static_cast<void*>(cell_text(buffer_cell));
  uint32_t bytes = buffer ? alloc_block_size(buffer) : 0;
  if (buffer && bytes == 0) {
    bytes = static_cast<uint32_t>(wide ? (wide_length(static_cast<char16_t*>(buffer)) + 1) * sizeof(char16_t)
                                       : std::strlen(static_cast<char*>(buffer)) + 1);
  }
  uint32_t room = bytes / (wide ? sizeof(char16_t) : 1);
  if (room == 0) {
    stack_push_number(current_program, 0);
    return;
  }
  length = std::min(length, static_cast<int32_t>(room - 1));
  if (wide) {
    auto* target = static_cast<char16_t*>(buffer);
    for (int32_t index = 0; index < length; ++index) target[index] = static_cast<unsigned char>(code[index]);
    target[length] = 0;
  } else {
    auto* target = static_cast<char*>(buffer);
    std::memcpy(target, code, static_cast<size_t>(length));
    target[length] = 0;
  }
  stack_push_number(current_program, length);
}

}  // namespace

void register_trim_pad_builtins() {
  builtin_register("rtrim", builtin_rtrim);
  builtin_register("ltrim", builtin_ltrim);
  builtin_register("trim", builtin_trim);
  builtin_register("lpad", builtin_lpad);
  builtin_register("rpad", builtin_rpad);
  builtin_register("soundex", builtin_soundex);
}
