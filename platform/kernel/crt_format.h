// The printf engine behind the 8-bit and UTF-16 formatting functions of the C runtime.
// Internal to the platform.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <string>

namespace platform {

// Formats as the device's printf does. Conversions d i u o x X c s e E f F g G a A p n %;
// flags - + space # 0; width and precision (numbers or *); sizes hh h l ll L I I32 I64
// w z j t. In the 8-bit form %s and %c take 8-bit text and %S, %C, %ls, %lc take UTF-16;
// in the UTF-16 form it is the other way round (%hs and %hc are always 8-bit). Text
// crossing between the two goes through Windows-1252. %p prints 8 upper-case hex digits,
// L reads a double (the device's long double), %n writes nothing, and a conversion it
// does not know is copied as written. Returns false when the text cannot be made, also
// for a width (or a precision other than one limiting %s) above 2^20.
bool format_text(std::string& out, const char* format, va_list arguments);
bool format_text(std::u16string& out, const char16_t* format, va_list arguments);

// The _snprintf rule: up to count units; the length when the text and its null fit, the
// length without a null when the text is exactly count units, else count units and -1.
template <typename Char>
int deliver_truncated(const std::basic_string<Char>& text, Char* buffer, size_t count) {
  if (!buffer && count != 0) return -1;
  if (text.size() < count) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<int>(text.size());
  }
  std::copy_n(text.begin(), count, buffer);
  return text.size() == count ? static_cast<int>(count) : -1;
}

// The swprintf rule: the text and its null when they fit (returns the length); otherwise
// as much as fits, always followed by a null, and -1.
template <typename Char>
int deliver_terminated(const std::basic_string<Char>& text, Char* buffer, size_t count) {
  if (!buffer || count == 0) return -1;
  if (text.size() < count) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<int>(text.size());
  }
  std::copy_n(text.begin(), count - 1, buffer);
  buffer[count - 1] = 0;
  return -1;
}

}  // namespace platform
