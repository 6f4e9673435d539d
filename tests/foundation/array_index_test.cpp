// Array indexing: row-major and column-major linear indices, checked against the
// element order of C arrays (row-major) and its transpose (column-major).
#include "foundation/array_index.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

Variable array_of(std::vector<uint32_t> dims, uint8_t column_major) {
  Variable array{};
  array.dim_count = static_cast<uint32_t>(dims.size());
  array.element_count = 1;
  for (size_t k = 0; k < dims.size(); ++k) {
    array.dims[k] = dims[k];
    array.element_count *= dims[k];
  }
  array.column_major = column_major;
  return array;
}

TEST(ArrayIndex, Examples) {
  struct Row {
    std::vector<uint32_t> dims;
    uint8_t column_major;
    std::vector<int32_t> indices;
    int32_t index;
  } rows[] = {
      {{3, 4}, 0, {2, 1}, 9},
      {{3, 4}, 1, {2, 1}, 5},
      {{3, 4}, 0, {2}, 0},           // wrong count
      {{3, 4}, 1, {2, 1, 0}, 0},     // wrong count
      {{10}, 0, {7}, 7},
      {{10}, 1, {7}, 7},
      {{2, 3, 4}, 0, {1, 2, 3}, 23},
      {{2, 3, 4}, 1, {1, 2, 3}, 23},
      {{2, 3, 4}, 1, {1, 0, 0}, 1},
      {{2, 3, 4}, 1, {0, 1, 0}, 2},
      {{2, 3, 4}, 1, {0, 0, 1}, 6},
      {{2, 3, 4}, 0, {0, 0, 1}, 1},
  };
  for (const Row& row : rows) {
    Variable array = array_of(row.dims, row.column_major);
    int32_t index = array_linear_index(&array, row.indices.data(), static_cast<int32_t>(row.indices.size()));
    EXPECT_EQ(index, row.index) << "dims " << row.dims.size() << " column_major " << int(row.column_major)
                                << " first index " << row.indices[0];
  }
  Variable array = array_of({3, 4}, 0);
  EXPECT_EQ(array_linear_index(&array, nullptr, 2), 0);
  Variable corrupt = array_of({3, 4}, 0);
  corrupt.dim_count = 200;
  int32_t many[200] = {};
  EXPECT_EQ(array_linear_index(&corrupt, many, 200), 0) << "no more than eight dimensions are read";
}

TEST(ArrayIndex, EveryOrderCoversTheElementsOnce) {
  // Row-major is the element order of a C array; column-major walks the first index fastest.
  static int32_t c_array[2][3][4][5];
  for (uint8_t column_major : {0, 1}) {
    Variable array = array_of({2, 3, 4, 5}, column_major);
    std::set<int32_t> seen;
    for (int32_t a = 0; a < 2; ++a)
      for (int32_t b = 0; b < 3; ++b)
        for (int32_t c = 0; c < 4; ++c)
          for (int32_t d = 0; d < 5; ++d) {
            int32_t indices[] = {a, b, c, d};
            int32_t index = array_linear_index(&array, indices, 4);
            ASSERT_GE(index, 0);
            ASSERT_LT(static_cast<uint32_t>(index), array.element_count);
            seen.insert(index);
            int32_t expected = column_major ? static_cast<int32_t>(a + 2 * (b + 3 * (c + 4 * d)))
                                            : static_cast<int32_t>(&c_array[a][b][c][d] - &c_array[0][0][0][0]);
            ASSERT_EQ(index, expected) << int(column_major) << ": " << a << b << c << d;
          }
    EXPECT_EQ(seen.size(), array.element_count) << "column_major " << int(column_major);
  }
}

}  // namespace
