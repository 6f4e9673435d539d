// The core string built-ins: a value as text (str, wstr), length, mid, dup and the
// search family (pos, rpos, cpos, npos), each in the text kind of its argument.
#pragma once

#include <cstdint>
#include <cstring>

// Registers str, wstr, length, mid, dup, pos, rpos, cpos and npos.
void register_string_builtins();

// 1 when the heap block does not come back byte for byte, over the larger of the two
// block sizes, from being read as 8-bit text, converted to UTF-16 and back: so UTF-16
// text gives 1 and plain 8-bit text 0. Null gives 0.
int text_changes_in_wide_round_trip(const void* block);

// The number of characters of a zero-ended 8-bit or UTF-16 text (0 for null).
template <typename Char>
int32_t length_of(const Char* text) {
  if (!text) return 0;
  if constexpr (sizeof(Char) == 1) {
    return static_cast<int32_t>(std::strlen(reinterpret_cast<const char*>(text)));
  } else {
    int32_t length = 0;
    while (text[length]) ++length;
    return length;
  }
}

// The length of a zero-ended text when it is below limit, else limit: a text is measured
// only as far as the caller needs it.
template <typename Char>
uint32_t length_within(const Char* text, uint32_t limit) {
  if (!text) return 0;
  if constexpr (sizeof(Char) == 1) {
    return static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(text), limit));
  } else {
    uint32_t length = 0;
    while (length < limit && text[length]) ++length;
    return length;
  }
}
