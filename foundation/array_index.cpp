// Array element access: row-major and column-major linear indices.
#include "foundation/array_index.h"

int32_t array_linear_index(const Variable* array, const int32_t* indices, int32_t count) {
  uint8_t dimensions = static_cast<uint8_t>(array->dim_count);
  if (count != dimensions || count < 1 || count > 8 || !indices) return 0;
  // Unsigned arithmetic: out-of-range indices wrap instead of overflowing; the range
  // check of the caller rejects them.
  uint32_t index;
  if (array->column_major) {
    // i0 + d0 * (i1 + d1 * (i2 + ...)): for one or two indices this is i0 + i1 * d0.
    index = static_cast<uint32_t>(indices[count - 1]);
    for (int32_t k = count - 2; k >= 0; --k) index = index * array->dims[k] + static_cast<uint32_t>(indices[k]);
  } else {
    // The first dimension size takes no part.
    index = static_cast<uint32_t>(indices[0]);
    for (int32_t k = 1; k < count; ++k) index = index * array->dims[k] + static_cast<uint32_t>(indices[k]);
  }
  return static_cast<int32_t>(index);
}
