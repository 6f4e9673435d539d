// Number reading and writing shared by the 8-bit and UTF-16 C runtime functions.
// Internal to the platform; templates over the character type.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace platform {

// White space as the C runtime's isspace sees it in the C locale.
template <typename Char>
bool is_c_space(Char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename Char>
bool is_decimal_digit(Char c) {
  return c >= '0' && c <= '9';
}

// glibc's strtod in the "C" locale, on a text that is already known to be decimal.
double double_from_decimal_text(const char* text);

// Reads the decimal number at the start of text: optional white space and sign, digits with
// an optional '.', and an optional exponent (e or E, optional sign, digits). Hexadecimal
// forms and the words inf and nan are not numbers here. Rounds correctly; overflow gives an
// infinity and ERANGE. *end (when given) is set after the number, or to text when none.
template <typename Char>
double read_decimal(const Char* text, const Char** end) {
  if (end) *end = text;
  if (!text) return 0.0;
  const Char* cursor = text;
  while (is_c_space(*cursor)) ++cursor;
  std::string ascii;
  if (*cursor == '+' || *cursor == '-') ascii += static_cast<char>(*cursor++);
  size_t digits = 0;
  while (is_decimal_digit(*cursor)) {
    ascii += static_cast<char>(*cursor++);
    ++digits;
  }
  if (*cursor == '.') {
    ascii += '.';
    ++cursor;
    while (is_decimal_digit(*cursor)) {
      ascii += static_cast<char>(*cursor++);
      ++digits;
    }
  }
  if (digits == 0) return 0.0;
  if (*cursor == 'e' || *cursor == 'E') {
    const Char* exponent = cursor + 1;
    if (*exponent == '+' || *exponent == '-') ++exponent;
    if (is_decimal_digit(*exponent)) {
      while (cursor < exponent) ascii += static_cast<char>(*cursor++);
      while (is_decimal_digit(*cursor)) ascii += static_cast<char>(*cursor++);
    }
  }
  if (end) *end = cursor;
  return double_from_decimal_text(ascii.c_str());
}

template <typename Char>
int digit_value(Char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// An integer as strtol reads it: white space, sign, an optional 0x prefix (base 16 or 0),
// digits of the base (0: decided by the prefix). Returns the magnitude; *overflow when it
// exceeds 64 bits. With no digits, *end is text and the result 0; a bad base sets EINVAL.
struct IntegerText {
  uint64_t magnitude = 0;
  bool negative = false;
  bool overflow = false;
};

template <typename Char>
IntegerText read_integer(const Char* text, const Char** end, int base) {
  IntegerText result;
  if (end) *end = text;
  if (!text) return result;
  if (base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    return result;
  }
  const Char* cursor = text;
  while (is_c_space(*cursor)) ++cursor;
  if (*cursor == '+' || *cursor == '-') result.negative = *cursor++ == '-';
  if ((base == 0 || base == 16) && cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X') &&
      digit_value(cursor[2]) < 16) {
    cursor += 2;
    base = 16;
  } else if (base == 0) {
    base = cursor[0] == '0' ? 8 : 10;
  }
  const Char* first_digit = cursor;
  while (digit_value(*cursor) < base) {
    uint64_t digit = static_cast<uint64_t>(digit_value(*cursor));
    if (result.magnitude > (UINT64_MAX - digit) / static_cast<uint64_t>(base)) {
      result.overflow = true;
    } else {
      result.magnitude = result.magnitude * static_cast<uint64_t>(base) + digit;
    }
    ++cursor;
  }
  if (cursor != first_digit && end) *end = cursor;
  return result;
}

// A decimal integer as atoi reads it: white space, sign, digits; overflow wraps around
// in the width of Unsigned, as the device's runtime does.
template <typename Unsigned, typename Char>
Unsigned read_wrapping_decimal(const Char* text) {
  if (!text) return 0;
  while (is_c_space(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  Unsigned value = 0;
  while (is_decimal_digit(*text)) value = static_cast<Unsigned>(value * 10u + static_cast<Unsigned>(*text++ - '0'));
  return negative ? static_cast<Unsigned>(0u - value) : value;
}

// Writes magnitude in the radix (2-36, lower-case letters), after a '-' when negative, with
// a null; a bad radix or buffer gives an empty text and EINVAL.
template <typename Char>
Char* write_integer(uint64_t magnitude, bool negative, Char* buffer, int radix) {
  if (!buffer) {
    errno = EINVAL;
    return buffer;
  }
  if (radix < 2 || radix > 36) {
    errno = EINVAL;
    buffer[0] = 0;
    return buffer;
  }
  Char digits[65];
  int count = 0;
  do {
    int digit = static_cast<int>(magnitude % static_cast<unsigned>(radix));
    digits[count++] = static_cast<Char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= static_cast<unsigned>(radix);
  } while (magnitude != 0);
  Char* out = buffer;
  if (negative) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = 0;
  return buffer;
}

// A signed value as _itoa writes it: the sign only in radix 10, else the bits of the
// value's own width read unsigned.
template <typename Signed, typename Char>
Char* write_signed(Signed value, Char* buffer, int radix) {
  using Unsigned = std::make_unsigned_t<Signed>;
  auto bits = static_cast<Unsigned>(value);
  if (radix == 10 && value < 0) return write_integer<Char>(static_cast<Unsigned>(0u - bits), true, buffer, radix);
  return write_integer<Char>(bits, false, buffer, radix);
}

}  // namespace platform
