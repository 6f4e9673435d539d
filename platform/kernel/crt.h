// The device's C runtime where it differs from glibc: its random numbers, decimal-only
// number reading, ASCII-only case folding, 64-bit integer text and printf's %I64.
#pragma once

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/kernel/types.h"

namespace crt {

// The largest value rand returns.
constexpr int rand_maximum = 32767;

// The device's linear congruential generator: state = state * 214013 + 2531011, result
// (state >> 16) & 0x7FFF. One state for the whole process (script threads share it);
// it starts as if srand(1) had been called.
int rand();
void srand(unsigned int seed);

// Decimal text only: optional white space and sign, digits with an optional '.', an
// optional exponent. No hexadecimal, no "inf" or "nan" words (they read as 0). Rounds
// correctly; too large gives an infinity (ERANGE). strtod sets *end after the number,
// or to text when there is none.
double atof(const char* text);
double strtod(const char* text, char** end);

// Decimal integers: white space, sign, digits. Overflow wraps around in 32 or 64 bits.
int atoi(const char* text);
long atol(const char* text);
int64_t _atoi64(const char* text);

// Integer to text in radix 2-36 (lower-case letters) into buffer, which is returned. Only
// radix 10 writes a '-'; other radices write the value's bits unsigned. A bad radix gives
// an empty text.
char* _itoa(int value, char* buffer, int radix);
char* _ltoa(long value, char* buffer, int radix);
char* _ultoa(unsigned long value, char* buffer, int radix);
char* _i64toa(int64_t value, char* buffer, int radix);
char* _ui64toa(uint64_t value, char* buffer, int radix);

// Case-insensitive comparison folding only 'A'-'Z' to lower case; other bytes compare
// by their unsigned value. The result is the difference of the first unequal bytes.
int _stricmp(const char* left, const char* right);
int _strnicmp(const char* left, const char* right, size_t count);
// Changes 'a'-'z' (or 'A'-'Z') in place; other bytes stay. Returns text.
char* _strupr(char* text);
char* _strlwr(char* text);

// printf formatting as on the device: C's conversions plus %I64d/%I64u/%I64x (64-bit
// arguments), %S for UTF-16 text and %p as 8 upper-case hex digits. sprintf and vsprintf
// write the whole text and return its length. _snprintf and _vsnprintf write at most count
// bytes: when the text fits with its null they return its length; otherwise they write
// count bytes without a null and return -1 (or count when the text is exactly count bytes).
// A null format gives -1.
int sprintf(char* buffer, const char* format, ...);
int vsprintf(char* buffer, const char* format, va_list arguments);
int _snprintf(char* buffer, size_t count, const char* format, ...);
int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments);

// Floating-point classification and helpers of the device's runtime.
inline int _isnan(double value) { return std::isnan(value) ? 1 : 0; }
inline int _finite(double value) { return std::isfinite(value) ? 1 : 0; }
inline double _chgsign(double value) { return -value; }
inline double _hypot(double x, double y) { return std::hypot(x, y); }

}  // namespace crt
