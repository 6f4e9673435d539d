// The one conversion of a script number to a 32-bit integer, handle or address.
#pragma once

#include <cmath>
#include <cstdint>

// Truncates toward zero to 64 bits and keeps the low 32, so numbers that hold addresses
// above 2^31 come back whole. NaN gives 0; numbers beyond the 64-bit range saturate first.
inline int32_t truncate_to_int(double value) {
  if (std::isnan(value)) return 0;
  int64_t wide;
  if (value >= 9223372036854775808.0) {
    wide = INT64_MAX;
  } else if (value < -9223372036854775808.0) {
    wide = INT64_MIN;
  } else {
    wide = static_cast<int64_t>(value);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}
