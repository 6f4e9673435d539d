// UTF-16 string functions, case mapping and character classes of the C runtime.
// Case pairs and classes come from small range tables rather than the host's locale.
#include "platform/kernel/wide_string.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "platform/kernel/crt_format.h"
#include "platform/kernel/crt_numbers.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/utf.h"

namespace crt {
namespace {

// Upper-case letters first..last. Offset ranges map each to c + delta; alternating
// ranges hold pairs, upper-case at even distance from first and lower-case right after.
struct CaseRange {
  char16_t first;
  char16_t last;
  int16_t delta;
  bool alternating;
};

constexpr CaseRange kCaseRanges[] = {
    {0x0041, 0x005A, 32, false},  {0x00C0, 0x00D6, 32, false},  {0x00D8, 0x00DE, 32, false},
    {0x0100, 0x012F, 1, true},    {0x0132, 0x0137, 1, true},    {0x0139, 0x0148, 1, true},
    {0x014A, 0x0177, 1, true},    {0x0178, 0x0178, -121, false}, {0x0179, 0x017E, 1, true},
    {0x0191, 0x0191, 1, false},   {0x01CD, 0x01DC, 1, true},    {0x01DE, 0x01EF, 1, true},
    {0x01F4, 0x01F5, 1, true},    {0x01F8, 0x021F, 1, true},    {0x0222, 0x0233, 1, true},
    {0x0386, 0x0386, 38, false},  {0x0388, 0x038A, 37, false},  {0x038C, 0x038C, 64, false},
    {0x038E, 0x038F, 63, false},  {0x0391, 0x03A1, 32, false},  {0x03A3, 0x03AB, 32, false},
    {0x03D8, 0x03EF, 1, true},    {0x0400, 0x040F, 80, false},  {0x0410, 0x042F, 32, false},
    {0x0460, 0x0481, 1, true},    {0x048A, 0x04BF, 1, true},    {0x04C0, 0x04C0, 15, false},
    {0x04C1, 0x04CE, 1, true},    {0x04D0, 0x052F, 1, true},    {0x0531, 0x0556, 48, false},
    {0x1E00, 0x1E95, 1, true},    {0x1EA0, 0x1EFF, 1, true},    {0x2160, 0x216F, 16, false},
    {0x24B6, 0x24CF, 26, false},  {0xFF21, 0xFF3A, 32, false},
};

constexpr char16_t kFinalSigma = 0x03C2, kCapitalSigma = 0x03A3;

// Class bits by range, for units past Latin-1 that the case table does not settle.
struct ClassRange {
  char16_t first;
  char16_t last;
  int bits;
};

constexpr int kLetter = 0x100;
constexpr int kSpaceBlank = _SPACE | _BLANK;

constexpr ClassRange kClassRanges[] = {
    {0x0100, 0x024F, kLetter},      {0x0250, 0x02AF, kLetter | _LOWER}, {0x02B0, 0x02C1, kLetter},
    {0x02C2, 0x02C5, _PUNCT},       {0x02C6, 0x02D1, kLetter},          {0x02D2, 0x02DF, _PUNCT},
    {0x02E0, 0x02E4, kLetter},      {0x02E5, 0x02FF, _PUNCT},           {0x0375, 0x0375, _PUNCT},
    {0x037E, 0x037E, _PUNCT},       {0x0384, 0x0385, _PUNCT},           {0x0387, 0x0387, _PUNCT},
    {0x0370, 0x03FF, kLetter},      {0x0482, 0x0482, _PUNCT},           {0x0483, 0x0489, 0},
    {0x0400, 0x052F, kLetter},      {0x0531, 0x0556, kLetter},          {0x055A, 0x055F, _PUNCT},
    {0x0561, 0x0587, kLetter},      {0x0589, 0x058A, _PUNCT},           {0x05BE, 0x05BE, _PUNCT},
    {0x05C0, 0x05C0, _PUNCT},       {0x05C3, 0x05C3, _PUNCT},           {0x05D0, 0x05EA, kLetter},
    {0x05F0, 0x05F2, kLetter},      {0x05F3, 0x05F4, _PUNCT},           {0x060C, 0x060C, _PUNCT},
    {0x061B, 0x061B, _PUNCT},       {0x061F, 0x061F, _PUNCT},           {0x0621, 0x064A, kLetter},
    {0x0660, 0x0669, _DIGIT},       {0x066A, 0x066D, _PUNCT},           {0x06F0, 0x06F9, _DIGIT},
    {0x0905, 0x0939, kLetter},      {0x0966, 0x096F, _DIGIT},           {0x0E01, 0x0E30, kLetter},
    {0x0E50, 0x0E59, _DIGIT},       {0x1E00, 0x1FFF, kLetter},          {0x2000, 0x200A, kSpaceBlank},
    {0x2010, 0x2027, _PUNCT},       {0x2028, 0x2029, _SPACE},           {0x202F, 0x202F, kSpaceBlank},
    {0x2030, 0x205E, _PUNCT},       {0x205F, 0x205F, kSpaceBlank},      {0x20A0, 0x20CF, _PUNCT},
    {0x2100, 0x215F, _PUNCT},       {0x2160, 0x2188, kLetter},          {0x2190, 0x24FF, _PUNCT},
    {0x2500, 0x2BFF, _PUNCT},       {0x3000, 0x3000, kSpaceBlank},      {0x3001, 0x303F, _PUNCT},
    {0x3041, 0x3096, kLetter},      {0x30A1, 0x30FA, kLetter},          {0x30FC, 0x30FE, kLetter},
    {0x3400, 0x4DBF, kLetter},      {0x4E00, 0x9FFF, kLetter},          {0xAC00, 0xD7A3, kLetter},
    {0xF900, 0xFAFF, kLetter},      {0xFF01, 0xFF0F, _PUNCT},           {0xFF10, 0xFF19, _DIGIT},
    {0xFF1A, 0xFF20, _PUNCT},       {0xFF3B, 0xFF40, _PUNCT},           {0xFF5B, 0xFF65, _PUNCT},
    {0xFF66, 0xFF9F, kLetter},      {0xFFE0, 0xFFEE, _PUNCT},
};

int ascii_class(char16_t c) {
  if (c < 0x20 || c == 0x7F) {
    int bits = _CONTROL;
    if (c >= '\t' && c <= '\r') bits |= _SPACE;
    if (c == '\t') bits |= _BLANK;
    return bits;
  }
  if (c == ' ') return _SPACE | _BLANK;
  if (c >= '0' && c <= '9') return _DIGIT | _HEX;
  if (c >= 'A' && c <= 'Z') return kLetter | _UPPER | (c <= 'F' ? _HEX : 0);
  if (c >= 'a' && c <= 'z') return kLetter | _LOWER | (c <= 'f' ? _HEX : 0);
  return _PUNCT;
}

int latin1_class(char16_t c) {
  if (c < 0xA0) return c == 0x85 ? _CONTROL | _SPACE : _CONTROL;  // U+0085 is a line break
  if (c == 0xA0) return _SPACE | _BLANK;
  if (c == 0xAA || c == 0xB5 || c == 0xBA) return kLetter | _LOWER;
  if (c == 0xB2 || c == 0xB3 || c == 0xB9) return _DIGIT | _PUNCT;  // superscript digits
  if (c == 0xD7 || c == 0xF7) return _PUNCT;
  if (c >= 0xC0 && c <= 0xDE) return kLetter | _UPPER;
  if (c >= 0xDF) return kLetter | _LOWER;
  return _PUNCT;
}

int character_class(char16_t c) {
  if (c < 0x80) return ascii_class(c);
  if (c < 0x100) return latin1_class(c);
  if (c == 0x138 || c == 0x149 || c == 0x17F) return kLetter | _LOWER;  // lower case without a pair
  if (c == kFinalSigma) return kLetter | _LOWER;
  if (towlower(c) != c) return kLetter | _UPPER;
  if (towupper(c) != c) return kLetter | _LOWER;
  for (const ClassRange& range : kClassRanges) {
    if (c >= range.first && c <= range.last) return range.bits;
  }
  return 0;
}

template <typename Char>
int compare_folded(const Char* left, const Char* right, size_t count) {
  if (!left || !right) {
    errno = EINVAL;
    return std::numeric_limits<int>::max();
  }
  for (size_t i = 0; i < count; ++i) {
    int a = towlower(left[i]), b = towlower(right[i]);
    if (a != b || a == 0) return a - b;
  }
  return 0;
}

}  // namespace

WCHAR towlower(WCHAR c) {
  for (const CaseRange& range : kCaseRanges) {
    if (c < range.first || c > range.last) continue;
    if (!range.alternating) return static_cast<WCHAR>(c + range.delta);
    if ((c - range.first) % 2 == 0) return static_cast<WCHAR>(c + 1);
  }
  return c;
}

WCHAR towupper(WCHAR c) {
  if (c == kFinalSigma) return kCapitalSigma;
  for (const CaseRange& range : kCaseRanges) {
    if (range.alternating) {
      if (c >= range.first && c <= range.last && (c - range.first) % 2 == 1) return static_cast<WCHAR>(c - 1);
    } else if (c >= range.first + range.delta && c <= range.last + range.delta) {
      return static_cast<WCHAR>(c - range.delta);
    }
  }
  return c;
}

int iswctype(WCHAR c, int type) { return character_class(c) & type; }

int _isctype(int c, int type) {
  if (c < -128 || c == -1 || c > 255) return 0;
  return character_class(platform::utf16_from_ansi_byte(static_cast<uint8_t>(c))) & type;
}

size_t wcslen(const WCHAR* text) {
  size_t length = 0;
  if (text) {
    while (text[length]) ++length;
  }
  return length;
}

WCHAR* wcscpy(WCHAR* target, const WCHAR* source) {
  if (!target) return target;
  size_t length = wcslen(source);
  std::memmove(target, source ? source : u"", (length + 1) * sizeof(WCHAR));
  return target;
}

WCHAR* wcsncpy(WCHAR* target, const WCHAR* source, size_t count) {
  if (!target) return target;
  size_t i = 0;
  for (; i < count && source && source[i]; ++i) target[i] = source[i];
  for (; i < count; ++i) target[i] = 0;
  return target;
}

WCHAR* wcscat(WCHAR* target, const WCHAR* source) {
  if (target) wcscpy(target + wcslen(target), source);
  return target;
}

WCHAR* wcsncat(WCHAR* target, const WCHAR* source, size_t count) {
  if (!target) return target;
  WCHAR* end = target + wcslen(target);
  size_t i = 0;
  for (; i < count && source && source[i]; ++i) end[i] = source[i];
  end[i] = 0;
  return target;
}

int wcsncmp(const WCHAR* left, const WCHAR* right, size_t count) {
  if (!left || !right) {
    errno = EINVAL;
    return std::numeric_limits<int>::max();
  }
  for (size_t i = 0; i < count; ++i) {
    if (left[i] != right[i] || left[i] == 0) return static_cast<int>(left[i]) - static_cast<int>(right[i]);
  }
  return 0;
}

int wcscmp(const WCHAR* left, const WCHAR* right) { return wcsncmp(left, right, SIZE_MAX); }

int _wcsicmp(const WCHAR* left, const WCHAR* right) { return compare_folded(left, right, SIZE_MAX); }

int _wcsnicmp(const WCHAR* left, const WCHAR* right, size_t count) { return compare_folded(left, right, count); }

const WCHAR* wcschr(const WCHAR* text, WCHAR c) {
  if (!text) return nullptr;
  for (;; ++text) {
    if (*text == c) return text;
    if (*text == 0) return nullptr;
  }
}

WCHAR* wcschr(WCHAR* text, WCHAR c) { return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(text), c)); }

const WCHAR* wcsrchr(const WCHAR* text, WCHAR c) {
  if (!text) return nullptr;
  const WCHAR* found = nullptr;
  for (;; ++text) {
    if (*text == c) found = text;
    if (*text == 0) return found;
  }
}

WCHAR* wcsrchr(WCHAR* text, WCHAR c) { return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(text), c)); }

const WCHAR* wcsstr(const WCHAR* text, const WCHAR* pattern) {
  if (!text || !pattern) return nullptr;
  size_t pattern_length = wcslen(pattern);
  for (; *text; ++text) {
    if (wcsncmp(text, pattern, pattern_length) == 0) return text;
  }
  return pattern_length == 0 ? text : nullptr;
}

WCHAR* wcsstr(WCHAR* text, const WCHAR* pattern) {
  return const_cast<WCHAR*>(wcsstr(static_cast<const WCHAR*>(text), pattern));
}

WCHAR* _wcsdup(const WCHAR* text) {
  if (!text) return nullptr;
  size_t size = (wcslen(text) + 1) * sizeof(WCHAR);
  auto* copy = static_cast<WCHAR*>(malloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

WCHAR* _wcsupr(WCHAR* text) {
  for (WCHAR* c = text; c && *c; ++c) *c = towupper(*c);
  return text;
}

WCHAR* _wcslwr(WCHAR* text) {
  for (WCHAR* c = text; c && *c; ++c) *c = towlower(*c);
  return text;
}

long wcstol(const WCHAR* text, WCHAR** end, int base) {
  const WCHAR* stop = text;
  platform::IntegerText number = platform::read_integer(text, &stop, base);
  if (end) *end = const_cast<WCHAR*>(stop);
  constexpr uint64_t largest = static_cast<uint64_t>(std::numeric_limits<long>::max());
  if (number.overflow || number.magnitude > largest + (number.negative ? 1 : 0)) {
    errno = ERANGE;
    return number.negative ? std::numeric_limits<long>::min() : std::numeric_limits<long>::max();
  }
  return number.negative ? static_cast<long>(0 - number.magnitude) : static_cast<long>(number.magnitude);
}

unsigned long wcstoul(const WCHAR* text, WCHAR** end, int base) {
  const WCHAR* stop = text;
  platform::IntegerText number = platform::read_integer(text, &stop, base);
  if (end) *end = const_cast<WCHAR*>(stop);
  if (number.overflow || number.magnitude > std::numeric_limits<unsigned long>::max()) {
    errno = ERANGE;
    return std::numeric_limits<unsigned long>::max();
  }
  auto value = static_cast<unsigned long>(number.magnitude);
  return number.negative ? 0ul - value : value;
}

double wcstod(const WCHAR* text, WCHAR** end) {
  const WCHAR* stop = text;
  double value = platform::read_decimal(text, &stop);
  if (end) *end = const_cast<WCHAR*>(stop);
  return value;
}

int _wtoi(const WCHAR* text) { return static_cast<int>(platform::read_wrapping_decimal<uint32_t>(text)); }
long _wtol(const WCHAR* text) { return static_cast<long>(platform::read_wrapping_decimal<uint32_t>(text)); }
double _wtof(const WCHAR* text) { return platform::read_decimal<WCHAR>(text, nullptr); }

WCHAR* _itow(int value, WCHAR* buffer, int radix) { return platform::write_signed(value, buffer, radix); }
WCHAR* _ltow(long value, WCHAR* buffer, int radix) { return platform::write_signed(value, buffer, radix); }
WCHAR* _ultow(unsigned long value, WCHAR* buffer, int radix) {
  return platform::write_integer(value, false, buffer, radix);
}

int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list arguments) {
  std::u16string text;
  if (!platform::format_text(text, format, arguments)) {
    errno = EINVAL;
    if (buffer && count > 0) buffer[0] = 0;
    return -1;
  }
  return platform::deliver_terminated(text, buffer, count);
}

int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = vswprintf(buffer, count, format, arguments);
  va_end(arguments);
  return result;
}

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list arguments) {
  std::u16string text;
  if (!platform::format_text(text, format, arguments)) {
    errno = EINVAL;
    return -1;
  }
  return platform::deliver_truncated(text, buffer, count);
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = _vsnwprintf(buffer, count, format, arguments);
  va_end(arguments);
  return result;
}

}  // namespace crt
