// A sum or product of 32-bit numbers taken in 64 bits and held to 32 bits: what comes from
// a script (a position, a size, an offset) may sit at either end of the range, and a result
// held at the limit stays beyond every screen instead of wrapping round to the other side.
#pragma once

#include <algorithm>
#include <cstdint>

namespace platform {

// Values within the 32-bit range come back as they are.
inline int32_t clamp_to_int32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace platform
