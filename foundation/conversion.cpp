// Text and number conversion: the numeric-text test, text to number, number to text,
// and the 8-bit/UTF-16 conversions of script strings.
#include "foundation/conversion.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/text.h"
#include "platform/kernel/wide_string.h"

uint8_t not_a_number_flag = 0;

namespace {

constexpr char kDecimalCharacter = '.';

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_letter(char c) { return (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int hex_digit_value(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The device's scanf reads "%I64x" and "%I64o" into 64 bits that wrap on overflow, so a
// long hex text keeps its last 16 digits. Returns false when no digit was read.
bool scan_unsigned(const char* text, int radix, bool allow_hex_prefix, uint64_t* result) {
  const char* cursor = text;
  bool negative = false;
  if (*cursor == '-' || *cursor == '+') negative = *cursor++ == '-';
  bool read_digit = false;
  if (allow_hex_prefix && cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
    read_digit = true;  // the '0' itself is a digit of the number
    cursor += 2;
  }
  uint64_t value = 0;
  for (;; ++cursor) {
    int digit = hex_digit_value(*cursor);
    if (digit < 0 || digit >= radix) break;
    value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit);
    read_digit = true;
  }
  if (!read_digit) return false;
  *result = negative ? 0 - value : value;
  return true;
}

}  // namespace

int is_numeric_text(const char* text) {
  if (!text) return 1;
  if (text[0] == '\0') return 0;
  bool hex_mode = false;
  for (int i = 0; text[i] != '\0'; ++i) {
    char c = text[i];
    if (c == 'x' || c == 'X') {
      if (i == 1 && text[0] == '0') hex_mode = true;
    } else if (is_hex_letter(c)) {
      if ((c == 'e' || c == 'E') && !hex_mode) {
        // An exponent needs its sign; the digits after it are not required.
        if (text[i + 1] != '-' && text[i + 1] != '+') return 0;
        ++i;
      } else if (!hex_mode) {
        return 0;
      }
    } else if (c == '-') {
      if (i != 0) return 0;
    } else if (!is_digit(c) && c != kDecimalCharacter) {
      return 0;
    }
    if (text[i + 1] == '\0') return 1;
  }
  return 1;
}

double text_to_number(const char* text) {
  if (!is_numeric_text(text)) {
    not_a_number_flag = 1;
    return 0;
  }
  not_a_number_flag = 0;
  if (!text) return 0;  // numeric by the rules above, but there is nothing to read
  double decimal = crt::atof(text);
  if (decimal != 0) return decimal;
  int64_t integer = crt::_atoi64(text);
  if (integer != 0) return static_cast<double>(static_cast<uint64_t>(integer));
  uint64_t scanned = 0;
  if (std::strlen(text) >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (scan_unsigned(text, 16, true, &scanned)) return static_cast<double>(static_cast<int64_t>(scanned));
  }
  if (scan_unsigned(text, 8, false, &scanned)) return static_cast<double>(static_cast<int64_t>(scanned));
  return 0;
}

char* number_to_text(double value) {
  // "%f" of the largest double is 309 digits before the point; a local buffer keeps
  // threads apart.
  char buffer[400];
  crt::_snprintf(buffer, sizeof buffer, "%f", value);
  buffer[sizeof buffer - 1] = '\0';
  size_t end = std::strlen(buffer);
  if (std::strchr(buffer, kDecimalCharacter)) {
    while (end > 0 && buffer[end - 1] == '0') --end;
    if (end > 0 && buffer[end - 1] == kDecimalCharacter) --end;
  }
  buffer[end] = '\0';
  return crt::_strdup(buffer);
}

char16_t* to_wide(const char* text) {
  int length = text ? static_cast<int>(std::strlen(text)) : 0;
  auto* wide = static_cast<char16_t*>(crt::calloc(static_cast<size_t>(length) + 1, sizeof(char16_t)));
  if (wide && length > 0) MultiByteToWideChar(CP_ACP, MB_USEGLYPHCHARS, text, length, wide, length);
  return wide;
}

char* to_narrow(const char16_t* text) {
  int length = text ? static_cast<int>(crt::wcslen(text)) : 0;
  auto* narrow = static_cast<char*>(crt::calloc(static_cast<size_t>(length) + 1, 1));
  if (narrow && length > 0) {
    WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK | WC_DISCARDNS, text, length, narrow, length, nullptr, nullptr);
  }
  return narrow;
}

int text_changes_in_wide_conversion(const char* text) {
  if (!text) return 0;
  char16_t* wide = to_wide(text);
  char* back = to_narrow(wide);
  crt::free(wide);
  // A text that is no block of the allocator is compared up to its zero.
  size_t text_size = crt::_msize(const_cast<char*>(text));
  if (text_size == static_cast<size_t>(-1)) text_size = std::strlen(text) + 1;
  size_t back_size = back ? crt::_msize(back) : 0;
  size_t size = std::max(text_size, back_size);
  std::vector<char> original(size, 0), converted(size, 0);
  std::memcpy(original.data(), text, text_size);
  if (back) std::memcpy(converted.data(), back, back_size);
  crt::free(back);
  return original == converted ? 0 : 1;
}
