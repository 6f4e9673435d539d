// The one conversion of a script number to a 32-bit integer, handle or address.
#pragma once

#include <cmath>
#include <cstdint>

// Truncates toward zero to 64 bits and keeps the low 32, so numbers that hold addresses
// above 2^31 come back whole. NaN, infinities and numbers beyond the 64-bit range hold
// no handle and give 0.
inline int32_t truncate_to_int(double value) {
  // Within the 32-bit range the one SSE conversion gives the same: the 64-bit one on i386
  // goes through the x87 unit and its control word, many times slower.
  if (std::fabs(value) < 2147483648.0) return static_cast<int32_t>(value);
  if (!(std::fabs(value) < 9223372036854775808.0)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(value))));
}

// The same for a double handed over as two words (low word first), as assembled
// code passes it.
int32_t double_to_int_words(uint32_t low, uint32_t high);
