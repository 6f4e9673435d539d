// The C runtime's UTF-16 (char16_t) string functions, case mapping and character
// classes, under their C runtime names in namespace crt.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/kernel/types.h"

namespace crt {

// Character class bits of iswctype and _isctype. A letter has 0x100 as well as its
// case bit, so _ALPHA finds letters of either case and letters that have no case.
constexpr int _UPPER = 0x1;
constexpr int _LOWER = 0x2;
constexpr int _DIGIT = 0x4;
constexpr int _SPACE = 0x8;
constexpr int _PUNCT = 0x10;
constexpr int _CONTROL = 0x20;
constexpr int _BLANK = 0x40;
constexpr int _HEX = 0x80;
constexpr int _ALPHA = 0x100 | _UPPER | _LOWER;

// The class bits of a UTF-16 unit that are in type (0: none). ASCII, Latin-1 and the
// letters of Windows-1252 are classified exactly; elsewhere letters, digits, spaces and
// punctuation are known by their Unicode blocks.
int iswctype(WCHAR c, int type);
// The class bits in type of an 8-bit character of the device's code page (Windows-1252),
// given signed (-128..-2) or unsigned (0..255); -1 (EOF) and other values have none.
int _isctype(int c, int type);

// Case mapping of ASCII, Latin-1, Windows-1252, Latin Extended-A and Additional, Greek,
// Cyrillic, Armenian and full-width Latin; other units map to themselves.
WCHAR towupper(WCHAR c);
WCHAR towlower(WCHAR c);

// The C string functions over char16_t. A null text reads as empty and a null target
// is left alone, so a bad pointer gives a harmless result instead of a crash.
size_t wcslen(const WCHAR* text);
WCHAR* wcscpy(WCHAR* target, const WCHAR* source);
// Copies at most count units and fills the rest of the count with nulls (no null is
// added when source is count units or longer).
WCHAR* wcsncpy(WCHAR* target, const WCHAR* source, size_t count);
WCHAR* wcscat(WCHAR* target, const WCHAR* source);
// Appends at most count units of source, then always a null.
WCHAR* wcsncat(WCHAR* target, const WCHAR* source, size_t count);
// Comparisons return the difference of the first unequal units (as unsigned values).
int wcscmp(const WCHAR* left, const WCHAR* right);
int wcsncmp(const WCHAR* left, const WCHAR* right, size_t count);
// Case-insensitive: both units are folded with towlower first.
int _wcsicmp(const WCHAR* left, const WCHAR* right);
int _wcsnicmp(const WCHAR* left, const WCHAR* right, size_t count);
// The first (last) c in text; c 0 finds the terminator. Null when absent.
const WCHAR* wcschr(const WCHAR* text, WCHAR c);
WCHAR* wcschr(WCHAR* text, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* text, WCHAR c);
WCHAR* wcsrchr(WCHAR* text, WCHAR c);
// The first occurrence of pattern in text; an empty pattern gives text.
const WCHAR* wcsstr(const WCHAR* text, const WCHAR* pattern);
WCHAR* wcsstr(WCHAR* text, const WCHAR* pattern);
// A copy from crt::malloc (so crt::_msize gives its exact size and crt::free frees it);
// null for null or when memory runs out.
WCHAR* _wcsdup(const WCHAR* text);
// Change case in place with towupper/towlower; return text.
WCHAR* _wcsupr(WCHAR* text);
WCHAR* _wcslwr(WCHAR* text);

// Integers as strtol reads them: white space, sign, "0x" for base 16 or 0, base 0 picks
// 8 for a leading 0, 16 for 0x, else 10. Out of range gives LONG_MIN/LONG_MAX (ULONG_MAX)
// and ERANGE; *end is set after the digits, or to text when there are none.
long wcstol(const WCHAR* text, WCHAR** end, int base);
unsigned long wcstoul(const WCHAR* text, WCHAR** end, int base);
// Decimal only, as crt::strtod.
double wcstod(const WCHAR* text, WCHAR** end);
// As crt::atoi, crt::atol and crt::atof.
int _wtoi(const WCHAR* text);
long _wtol(const WCHAR* text);
double _wtof(const WCHAR* text);
// As crt::_itoa, crt::_ltoa and crt::_ultoa.
WCHAR* _itow(int value, WCHAR* buffer, int radix);
WCHAR* _ltow(long value, WCHAR* buffer, int radix);
WCHAR* _ultow(unsigned long value, WCHAR* buffer, int radix);

// printf into UTF-16: %s and %c take UTF-16, %S and %C 8-bit text (Windows-1252), with
// the conversions of crt::sprintf. swprintf and vswprintf write at most count units and
// always a null (when count > 0); they return the length, or -1 when the text did not fit.
// _snwprintf and _vsnwprintf follow crt::_snprintf's rule: -1 and no null when cut.
int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list arguments);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list arguments);

}  // namespace crt
