// Array element access: the linear index of an element from the script's indices,
// in row-major or column-major order.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

// The linear element index of indices[0..count-1] in the array variable. Row-major
// (column_major 0) folds from the first index, column-major from the last, so in-range
// indices of any dimension count map to distinct elements below element_count. A count
// other than the variable's dimension count (or above eight) gives 0; range checks are
// the caller's.
int32_t array_linear_index(const Variable* array, const int32_t* indices, int32_t count);
