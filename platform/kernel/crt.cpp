// The device's C runtime where it differs from glibc: rand, decimal reading, integer
// text, ASCII case folding and the printf family.
#include "platform/kernel/crt.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

#include "platform/kernel/crt_format.h"
#include "platform/kernel/crt_numbers.h"

namespace platform {

double double_from_decimal_text(const char* text) {
  // The decimal point must be '.' whatever locale the host process has chosen.
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return strtod_l(text, nullptr, c_locale);
}

}  // namespace platform

namespace crt {
namespace {

std::atomic<uint32_t> random_state{1};

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

}  // namespace

int rand() {
  uint32_t state = random_state.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = state * 214013u + 2531011u;
  } while (!random_state.compare_exchange_weak(state, next, std::memory_order_relaxed));
  return static_cast<int>((next >> 16) & 0x7FFF);
}

void srand(unsigned int seed) { random_state.store(seed, std::memory_order_relaxed); }

double atof(const char* text) { return platform::read_decimal<char>(text, nullptr); }

double strtod(const char* text, char** end) {
  const char* stop = text;
  double value = platform::read_decimal(text, &stop);
  if (end) *end = const_cast<char*>(stop);
  return value;
}

int atoi(const char* text) { return static_cast<int>(platform::read_wrapping_decimal<uint32_t>(text)); }
long atol(const char* text) { return static_cast<long>(platform::read_wrapping_decimal<uint32_t>(text)); }
int64_t _atoi64(const char* text) { return static_cast<int64_t>(platform::read_wrapping_decimal<uint64_t>(text)); }

char* _itoa(int value, char* buffer, int radix) { return platform::write_signed(value, buffer, radix); }
char* _ltoa(long value, char* buffer, int radix) { return platform::write_signed(value, buffer, radix); }
char* _ultoa(unsigned long value, char* buffer, int radix) {
  return platform::write_integer(value, false, buffer, radix);
}
char* _i64toa(int64_t value, char* buffer, int radix) { return platform::write_signed(value, buffer, radix); }
char* _ui64toa(uint64_t value, char* buffer, int radix) {
  return platform::write_integer(value, false, buffer, radix);
}

int _strnicmp(const char* left, const char* right, size_t count) {
  if (!left || !right) {
    errno = EINVAL;
    return INT32_MAX;  // the device's runtime answers a null argument with _NLSCMPERROR
  }
  for (size_t i = 0; i < count; ++i) {
    auto a = static_cast<unsigned char>(ascii_lower(left[i]));
    auto b = static_cast<unsigned char>(ascii_lower(right[i]));
    if (a != b || a == 0) return a - b;
  }
  return 0;
}

int _stricmp(const char* left, const char* right) { return _strnicmp(left, right, SIZE_MAX); }

char* _strupr(char* text) {
  for (char* c = text; c && *c; ++c) *c = ascii_upper(*c);
  return text;
}

char* _strlwr(char* text) {
  for (char* c = text; c && *c; ++c) *c = ascii_lower(*c);
  return text;
}

int vsprintf(char* buffer, const char* format, va_list arguments) {
  std::string text;
  if (!buffer || !platform::format_text(text, format, arguments)) {
    errno = EINVAL;
    return -1;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size());
}

int sprintf(char* buffer, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = vsprintf(buffer, format, arguments);
  va_end(arguments);
  return result;
}

int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments) {
  std::string text;
  if (!platform::format_text(text, format, arguments)) {
    errno = EINVAL;
    return -1;
  }
  return platform::deliver_truncated(text, buffer, count);
}

int _snprintf(char* buffer, size_t count, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = _vsnprintf(buffer, count, format, arguments);
  va_end(arguments);
  return result;
}

}  // namespace crt
