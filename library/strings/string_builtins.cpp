// The core string built-ins. Each works in the kind of its text argument (the search
// family: of the searched text) and returns new text in that kind, owned by the program.
#include "library/strings/string_builtins.h"

#include <cstdint>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/value_cell.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

bool is_wide(const ValueCell* cell) { return cell->text && (cell->flags & kCellWideText); }

// A new zeroed text of count characters of text from start.
template <typename Char>
Char* copy_piece(const Char* text, int32_t start, int32_t count) {
  auto* piece = static_cast<Char*>(crt::calloc(static_cast<size_t>(count) + 1, sizeof(Char)));
  if (piece && count > 0) std::memcpy(piece, text + start, static_cast<size_t>(count) * sizeof(Char));
  return piece;
}

void push_piece(const ValueCell* cell, int32_t start, int32_t count) {
  if (is_wide(cell)) {
    push_owned_wide_text(copy_piece(cell_wide_text(cell), start, count));
  } else {
    push_owned_text(copy_piece(cell_text(cell), start, count));
  }
}

int32_t cell_length(const ValueCell* cell) {
  return is_wide(cell) ? length_of(cell_wide_text(cell)) : length_of(cell_text(cell));
}

void builtin_str() {
  ValueCell* cell = stack_pop(current_program);
  // UTF-16 text handed on as 8-bit would read as its first character only.
  if (is_wide(cell)) {
    push_owned_text(to_narrow(cell_wide_text(cell)));
    return;
  }
  stack_push_value(cell_text(cell), 0, nullptr, 0);
}

void builtin_wstr() {
  ValueCell* cell = stack_pop(current_program);
  char16_t* text = cell_wide_text(cell);
  stack_push_value(text, 0, nullptr, 0);
  current_program->stack_top->flags |= kCellWideText;
}

void builtin_length() { stack_push_number(current_program, cell_length(stack_pop(current_program))); }

// The text's length when it ends before limit, else limit.
uint32_t cell_length_within(const ValueCell* cell, uint32_t limit) {
  return is_wide(cell) ? length_within(cell_wide_text(cell), limit)
                       : length_within(cell_text(cell), limit);
}

void builtin_mid() {
  int32_t count = pop_integer();
  int32_t start = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  if (start < 0) start = 0;
  // A piece that lies within the text needs the text measured only up to its end.
  int32_t length;
  if (count >= 0) {
    uint32_t end = static_cast<uint32_t>(start) + static_cast<uint32_t>(count);
    uint32_t measured = cell_length_within(cell, end);
    length = measured < end ? static_cast<int32_t>(measured) : INT32_MAX;
  } else {
    length = cell_length(cell);
  }
  if (count == -1) count = length - start;
  // Unsigned, as the end test always was: a count below -1 whose magnitude passes start
  // reaches to the end, a smaller one gives an empty text.
  if (static_cast<uint32_t>(start) + static_cast<uint32_t>(count) > static_cast<uint32_t>(length)) {
    count = static_cast<int32_t>(static_cast<int64_t>(length) - start);
  }
  if (count < 0 || start >= length) count = 0;
  push_piece(cell, count > 0 ? start : 0, count);
}

void builtin_dup() {
  ValueCell* cell = stack_pop(current_program);
  push_piece(cell, 0, cell_length(cell));
}

// ---- Search family ----

enum class Search { first, last, count };

// First position in text[0..length] where sought matches, or -1. In 8-bit text a
// candidate must match the first byte, so an empty sought text is found at the
// terminator; in UTF-16 text it is found at 0.
template <typename Char>
int32_t find_first(const Char* text, int32_t length, const Char* sought, int32_t sought_length) {
  size_t bytes = static_cast<size_t>(sought_length) * sizeof(Char);
  for (int32_t position = 0; position <= length - sought_length; ++position) {
    if (sizeof(Char) == 1 && text[position] != sought[0]) continue;
    if (std::memcmp(text + position, sought, bytes) == 0) return position;
  }
  return -1;
}

// Last position where sought matches, or -1; an empty sought text is never found.
template <typename Char>
int32_t find_last(const Char* text, int32_t length, const Char* sought, int32_t sought_length) {
  size_t bytes = static_cast<size_t>(sought_length) * sizeof(Char);
  for (int32_t position = length - 1; position >= 0; --position) {
    if (text[position] != sought[0] || position + sought_length > length) continue;
    if (std::memcmp(text + position, sought, bytes) == 0) return position;
  }
  return -1;
}

// The first search in 8-bit text reads the text only up to the match (or start when the
// text is shorter): same positions as find_first.
int32_t search_first_narrow(const char* text, const char* sought, int32_t start) {
  if (start < 0) start = 0;
  if (length_within(text, static_cast<uint32_t>(start)) < static_cast<uint32_t>(start)) return -1;
  const char* from = text + start;
  if (!*sought) return start + static_cast<int32_t>(std::strlen(from));
  const char* found = std::strstr(from, sought);
  return found ? static_cast<int32_t>(found - text) : -1;
}

template <typename Char>
int32_t search_text(const Char* text, const Char* sought, Search search, int32_t start) {
  if constexpr (sizeof(Char) == 1) {
    if (search == Search::first) return search_first_narrow(text, sought, start);
  }
  int32_t length = length_of(text);
  int32_t sought_length = length_of(sought);
  switch (search) {
    case Search::first: {
      if (start < 0) start = 0;
      if (start > length) return -1;
      int32_t found = find_first(text + start, length - start, sought, sought_length);
      return found < 0 ? -1 : found + start;
    }
    case Search::last:
      return find_last(text, length, sought, sought_length);
    case Search::count: {
      // An empty sought text would be found again at the same place without end.
      if (sought_length == 0) return 0;
      int32_t count = 0;
      for (int32_t offset = 0;;) {
        int32_t found = find_first(text + offset, length - offset, sought, sought_length);
        if (found < 0) return count;
        ++count;
        offset += found + sought_length;
      }
    }
  }
  return -1;
}

// Searches the text cell for the sought cell's text, brought to the searched text's kind.
int32_t search_cells(const ValueCell* sought, const ValueCell* text, Search search, int32_t start) {
  static const char16_t kEmptyWide[1] = {0};
  int32_t result;
  if (is_wide(text)) {
    char16_t* wide_sought = cell_wide_copy(sought);
    result = search_text(cell_wide_text(text), wide_sought ? wide_sought : kEmptyWide,
                         search, start);
    crt::free(wide_sought);
  } else if (is_wide(sought)) {
    char* narrow_sought = to_narrow(cell_wide_text(sought));
    result = search_text(cell_text(text), narrow_sought ? narrow_sought : "", search, start);
    crt::free(narrow_sought);
  } else {
    result = search_text(cell_text(text), cell_text(sought), search, start);
  }
  return result;
}

void run_search(Search search, int32_t start) {
  ValueCell* text = stack_pop(current_program);
  ValueCell* sought = stack_pop(current_program);
  stack_push_number(current_program, search_cells(sought, text, search, start));
}

void builtin_pos() { run_search(Search::first, 0); }
void builtin_rpos() { run_search(Search::last, 0); }
void builtin_cpos() { run_search(Search::count, 0); }
void builtin_npos() { run_search(Search::first, pop_integer()); }

}  // namespace

int text_changes_in_wide_round_trip(const void* block) {
  return text_changes_in_wide_conversion(static_cast<const char*>(block));
}

void register_string_builtins() {
  builtin_register("str", builtin_str);
  builtin_register("wstr", builtin_wstr);
  builtin_register("length", builtin_length);
  builtin_register("mid", builtin_mid);
  builtin_register("dup", builtin_dup);
  builtin_register("pos", builtin_pos);
  builtin_register("rpos", builtin_rpos);
  builtin_register("cpos", builtin_cpos);
  builtin_register("npos", builtin_npos);
}
