// Arrays and element reads: dimensioning gives zeroed blocks of the right shape, redim keeps
// what fits, structure arrays lay records out row- or column-major, and each kind of
// variable reads one element back with the address a store writes to.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/array_index.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "library/core/array_builtins.h"
#include "library/core/structure_builtins.h"
#include "vm/builtin_arguments.h"

namespace {

void register_units() {
  register_array_builtins();
  register_structure_builtins();
}

class ArrayBuiltins : public BuiltinTest {
 protected:
  ArrayBuiltins() : BuiltinTest(register_units) {}

  // name(variable, arguments...) as a variadic call site makes it.
  void call_marked(const char* name, Variable* variable, const std::vector<double>& arguments) {
    mark();
    push_variable(variable);
    for (double argument : arguments) push(argument);
    call(name);
  }
  // struct(variable, fields...): texts name fields, numbers give types.
  void declare(Variable* variable, const std::vector<const char*>& fields, const std::vector<double>& types = {}) {
    mark();
    push_variable(variable);
    for (size_t index = 0; index < fields.size(); ++index) {
      push_text(fields[index]);
      if (index < types.size() && types[index] != 0) push(types[index]);
    }
    call("struct");
  }
  // An element read by __offset: the variable cell below the mark, the indices above it.
  ValueCell read(Variable* variable, const std::vector<int32_t>& indices) {
    push_variable(variable);
    mark();
    for (int32_t index : indices) push(index);
    call("__offset");
    return *stack_pop(context);
  }
  ValueCell read1(Variable* variable, int32_t index) {
    push_variable(variable);
    push(index);
    call("__offset1");
    return *stack_pop(context);
  }
  Variable* variable(const char* name) { return create_variable(locals, name, false); }
  Variable* found(const char* name) { return find_variable(name); }
};

TEST_F(ArrayBuiltins, DimGivesZeroedNumbersOfTheGivenShape) {
  struct Case {
    std::vector<double> sizes;
    uint32_t count, dim_count;
  } cases[] = {
      {{3, 4}, 12, 2}, {{}, 1, 0}, {{5}, 5, 1}, {{2, 3, 4}, 24, 3}, {{0}, 1, 1},
  };
  for (const Case& row : cases) {
    Variable* a = variable("A%");
    call_marked("dim", a, row.sizes);
    ASSERT_NE(a->data, nullptr) << row.count;
    EXPECT_EQ(a->element_count, row.count);
    EXPECT_EQ(a->dim_count, row.dim_count);
    EXPECT_EQ(a->type_code, -8);
    EXPECT_TRUE(a->flags & kVariableOwnsData);
    EXPECT_EQ(alloc_block_size(a->data), row.count * 8);
    for (uint32_t index = 0; index < row.dim_count; ++index) EXPECT_EQ(a->dims[index], row.sizes[index]);
    for (uint32_t index = row.dim_count; index < 8; ++index) EXPECT_EQ(a->dims[index], 0u);
    std::vector<uint8_t> zeroes(row.count * 8, 0);
    EXPECT_EQ(std::memcmp(a->data, zeroes.data(), zeroes.size()), 0);
  }
}

TEST_F(ArrayBuiltins, SdimGivesCellsOfTheTypeSize) {
  Variable* b = variable("B%");
  call_marked("sdim", b, {-2, 10});
  EXPECT_EQ(b->type_code, -2);
  EXPECT_EQ(b->element_count, 10u);
  EXPECT_EQ(alloc_block_size(b->data), 20u);
  call_marked("sdim", b, {12, 3, 2});
  EXPECT_EQ(b->type_code, 12);
  EXPECT_EQ(alloc_block_size(b->data), 72u);
}

TEST_F(ArrayBuiltins, MoreThanEightDimensionsAreRefused) {
  Variable* a = variable("A%");
  unsigned errors = runtime_error_count();
  call_marked("dim", a, {1, 1, 1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(a->element_count, 0u);
  EXPECT_EQ(context->stack_top, nullptr) << "the arguments are taken off the stack";
}

TEST_F(ArrayBuiltins, RedimKeepsLeadingElementsAndZeroesNewOnes) {
  Variable* a = variable("A%");
  call_marked("dim", a, {3});
  auto* numbers = static_cast<double*>(a->data);
  numbers[0] = 1.5, numbers[1] = 2.5, numbers[2] = 3.5;
  void* before = a->data;
  call_marked("redim", a, {3});
  EXPECT_EQ(a->data, before) << "same count: untouched";
  call_marked("redim", a, {2, 3});
  ASSERT_EQ(a->element_count, 6u);
  EXPECT_EQ(a->dim_count, 2u);
  numbers = static_cast<double*>(a->data);
  EXPECT_EQ(numbers[2], 3.5);
  for (int index = 3; index < 6; ++index) EXPECT_EQ(numbers[index], 0) << index;
  call_marked("redim", a, {2});
  EXPECT_EQ(a->element_count, 2u);
  EXPECT_EQ(static_cast<double*>(a->data)[1], 2.5);
}

TEST_F(ArrayBuiltins, RedimOfAPlainVariableMakesNumbers) {
  Variable* a = variable("A%");
  call_marked("redim", a, {4});
  EXPECT_EQ(a->element_count, 4u);
  EXPECT_EQ(a->type_code, -8);
  EXPECT_EQ(alloc_block_size(a->data), 32u);
}

TEST_F(ArrayBuiltins, TypeClearAndOrderApplyToEveryArgument) {
  Variable* x = variable("X%");
  Variable* y = variable("Y%");
  mark();
  push_variable(x);
  push_variable(y);
  push(-4);
  call("type");
  for (Variable* v : {x, y}) {
    EXPECT_EQ(v->type_code, -4);
    EXPECT_EQ(alloc_block_size(v->data), 4u);
    EXPECT_TRUE(v->flags & kVariableOwnsData);
  }
  mark();
  push_variable(x);
  push_variable(y);
  call("columnmajor");
  EXPECT_EQ(x->column_major, 1);
  EXPECT_EQ(y->column_major, 1);
  mark();
  push_variable(y);
  call("rowmajor");
  EXPECT_EQ(y->column_major, 0);
  mark();
  push_variable(x);
  call("clear");
  EXPECT_EQ(x->data, nullptr);
  EXPECT_EQ(x->type_code, 0);
}

TEST_F(ArrayBuiltins, ArrayElementCarriesValueVariableAndAddress) {
  Variable* a = variable("A%");
  call_marked("dim", a, {3, 4});
  auto* numbers = static_cast<double*>(a->data);
  for (int index = 0; index < 12; ++index) numbers[index] = index * 10;
  for (int32_t i = 0; i < 3; ++i) {
    for (int32_t j = 0; j < 4; ++j) {
      const int32_t indices[] = {i, j};
      const int32_t linear = array_linear_index(a, indices, 2);
      ValueCell cell = read(a, {i, j});
      EXPECT_EQ(cell.number, linear * 10) << i << "," << j;
      EXPECT_EQ(cell.variable, a);
      EXPECT_EQ(cell.data, platform::address_of(numbers + linear));
    }
  }
  ValueCell one = read1(a, 7);
  EXPECT_EQ(one.number, 70);
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(ArrayBuiltins, OutOfRangeIndexIsAnErrorNotARead) {
  Variable* a = variable("A%");
  call_marked("dim", a, {3});
  for (int32_t index : {3, -1, 1000000}) {
    unsigned errors = runtime_error_count();
    ValueCell cell = read1(a, index);
    EXPECT_EQ(runtime_error_count(), errors + 1) << index;
    EXPECT_EQ(cell.number, 0);
    EXPECT_EQ(cell.variable, nullptr) << "nothing for a store to write into";
  }
}

TEST_F(ArrayBuiltins, TypedArrayReadsByItsTypeCode) {
  Variable* b = variable("B%");
  call_marked("sdim", b, {-2, 4});
  auto* cells = static_cast<int16_t*>(b->data);
  cells[2] = -300;
  ValueCell cell = read1(b, 2);
  EXPECT_EQ(cell.number, -300);
  EXPECT_EQ(cell.data, platform::address_of(cells + 2));
}

TEST_F(ArrayBuiltins, StructureReadsAMemberByPosition) {
  Variable* p = variable("P%");
  declare(p, {"x", "y"});
  set_variable(found("P.Y%"), nullptr, 42, nullptr, -1);
  ValueCell second = read1(p, 1);
  EXPECT_EQ(second.number, 42);
  EXPECT_EQ(second.variable, found("P.Y%"));
  ValueCell beyond = read1(p, 2);
  EXPECT_EQ(beyond.number, 0);
  EXPECT_EQ(beyond.text, nullptr);
  EXPECT_EQ(beyond.variable, p);
}

TEST_F(ArrayBuiltins, PlainVariableTypedAndTextReads) {
  Variable* v = make_variable(locals, "V$", "hello world");
  struct Case {
    std::vector<int32_t> indices;
    const char* text;  // null: a number
    double number;
  } cases[] = {
      {{5, 0}, "world", 0},   // the last five characters
      {{6, 3}, "wor", 0},     // three bytes from offset 6
      {{1}, nullptr, 'e'},    // one byte
      {{4, -1}, nullptr, 'o'},
      {{0, -2}, nullptr, 'h' | ('e' << 8)},
      {{1, -4}, nullptr, 'o' | (' ' << 8) | ('w' << 16) | ('o' << 24)},
      {{20, 0}, "hello world", 0},
  };
  for (const Case& row : cases) {
    ValueCell cell = row.indices.size() == 1 ? read1(v, row.indices[0]) : read(v, row.indices);
    if (row.text) {
      ASSERT_NE(cell.text, nullptr);
      EXPECT_STREQ(static_cast<const char*>(cell.text), row.text);
    } else {
      EXPECT_EQ(cell.text, nullptr);
      EXPECT_EQ(cell.number, row.number) << row.indices[0];
    }
    EXPECT_EQ(cell.variable, v);
  }
  unsigned errors = runtime_error_count();
  read(v, {3, -4});  // 12 .. 15 lies past the 12-byte block
  EXPECT_EQ(runtime_error_count(), errors + 1);
}

TEST_F(ArrayBuiltins, ListReadLeavesTheCurrentElement) {
  Variable* list = variable("L$");
  ASSERT_EQ(fill_text_list(list, {"a", "b", "c"}), 3);
  ListElement* shown = list->cursor;
  ValueCell cell = read1(list, 2);
  ASSERT_NE(cell.text, nullptr);
  EXPECT_STREQ(static_cast<const char*>(cell.text), "c");
  EXPECT_TRUE(cell.flags & kCellElementOffset);
  EXPECT_EQ(cell.variable, list);
  EXPECT_EQ(list->cursor, shown);
  EXPECT_STREQ(static_cast<const char*>(list->data), "a");
}

TEST_F(ArrayBuiltins, StructureArraysLayRecordsOutRowOrColumnMajor) {
  for (bool column : {false, true}) {
    Variable* p = variable(column ? "C%" : "R%");
    declare(p, {"x", "y"}, {0, -8});  // x: 4 bytes, y: a double
    const char* y_name = column ? "C.Y%" : "R.Y%";
    if (column) {
      mark();
      push_variable(p);
      call("columnmajor");
    }
    call_marked("tdim", p, {5});
    ASSERT_NE(p->data, nullptr);
    EXPECT_EQ(p->type_code, 12);
    EXPECT_EQ(alloc_block_size(p->data), 60u);
    EXPECT_TRUE(p->flags & kVariableStructure);
    Variable* y = found(y_name);
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->element_count, 5u);
    auto* block = static_cast<uint8_t*>(p->data);
    // Element 2 of y: record 2 at offset 4, or the third double of y's column after x's.
    uint8_t* expected = column ? block + 4 * 5 + 8 * 2 : block + 12 * 2 + 4;
    double value = 6.25;
    std::memcpy(expected, &value, sizeof value);
    ValueCell cell = read1(y, 2);
    EXPECT_EQ(cell.number, 6.25) << column;
    EXPECT_EQ(cell.data, platform::address_of(expected));
  }
}

TEST_F(ArrayBuiltins, TdimNeedsASimpleStructure) {
  Variable* plain = variable("N%");
  unsigned errors = runtime_error_count();
  call_marked("tdim", plain, {3});
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_STREQ(runtime_error_last_text(), "Variable [N%] type must be simple struct!");
  Variable* p = variable("P%");
  declare(p, {"x"});
  call_marked("tdim", p, {3});
  call_marked("tdim", p, {4});
  EXPECT_EQ(runtime_error_count(), errors + 2) << "already an array of records";
  EXPECT_EQ(p->element_count, 3u);
}

TEST_F(ArrayBuiltins, RedimOfAColumnMajorStructureArrayMovesTheColumns) {
  Variable* p = variable("P%");
  declare(p, {"x", "y"});
  mark();
  push_variable(p);
  call("columnmajor");
  call_marked("tdim", p, {3});
  auto* block = static_cast<int32_t*>(p->data);
  for (int index = 0; index < 3; ++index) block[index] = 10 + index, block[3 + index] = 20 + index;
  call_marked("redim", p, {5});
  Variable* y = found("P.Y%");
  for (int index = 0; index < 5; ++index) {
    EXPECT_EQ(read1(found("P.X%"), index).number, index < 3 ? 10 + index : 0) << index;
    EXPECT_EQ(read1(y, index).number, index < 3 ? 20 + index : 0) << index;
  }
  call_marked("redim", p, {2});
  EXPECT_EQ(read1(y, 1).number, 21);
  EXPECT_EQ(alloc_block_size(p->data), 16u);
}

TEST_F(ArrayBuiltins, DimNumericMakesAOneDimensionalArray) {
  Variable* a = make_variable(locals, "A$", "text");
  ASSERT_TRUE(dim_numeric(a, 6));
  EXPECT_EQ(a->element_count, 6u);
  EXPECT_EQ(a->dim_count, 1u);
  EXPECT_EQ(a->dims[0], 6u);
  EXPECT_EQ(a->type_code, -8);
  EXPECT_EQ(alloc_block_size(a->data), 48u);
}

}  // namespace
