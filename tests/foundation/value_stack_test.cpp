// The value stack: cell reuse, the integer rule, stale fields, marks and cell texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "context_fixture.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"

namespace {

// Cells of the chain from the bottom up, spare cells above the top included.
int chain_length(const ProgramContext* context) {
  const ValueCell* cell = context->stack_top;
  if (!cell) return 0;
  while (cell->below) cell = cell->below;
  int count = 0;
  for (; cell; cell = cell->above) ++count;
  return count;
}

using ValueStack = ContextTest;

TEST_F(ValueStack, PoppedCellsAreReusedWithoutAllocation) {
  stack_push_double(0);  // the bottom cell a program keeps
  stack_push_double(1);
  ValueCell* lowest = context->stack_top;
  stack_push_double(2);
  stack_push_double(3);
  ASSERT_EQ(chain_length(context), 4);
  for (int i = 0; i < 3; ++i) stack_pop(context);
  stack_push_double(9);
  EXPECT_EQ(context->stack_top, lowest) << "the lowest popped cell is reused";
  EXPECT_EQ(chain_length(context), 4) << "no cell was allocated";
  for (int round = 0; round < 100; ++round) {
    stack_push_uint(round);
    stack_push_uint(round);
    stack_pop(context);
    stack_pop(context);
  }
  EXPECT_EQ(chain_length(context), 4) << "steady pushing allocates nothing";
}

TEST_F(ValueStack, IntegerRule) {
  static char text[] = "abc";
  struct Case {
    const char* name;
    double number;
    uint32_t data;
    void* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"negative fraction truncates toward zero", -2.7, 0, nullptr, -2},
      {"positive fraction", 2.7, 0, nullptr, 2},
      {"number wins over data", 5, 77, text, 5},
      {"data when number is 0", 0, 77, text, 77},
      {"text address when number and data are 0", 0, 0, text, int32_t(platform::address_of(text))},
      {"handle above 2^31 as a number", 3221225472.0, 0, nullptr, int32_t(0xC0000000u)},
      {"handle above 2^31 in data", 0, 0xC0000000u, nullptr, int32_t(0xC0000000u)},
      {"4 GiB - 1", 4294967295.0, 0, nullptr, -1},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), 0, nullptr, 0},
      {"infinity", std::numeric_limits<double>::infinity(), 0, nullptr, 0},
      {"everything 0", 0, 0, nullptr, 0},
  };
  for (const Case& c : cases) {
    ValueCell cell{};
    cell.number = c.number;
    cell.data = c.data;
    cell.text = c.text;
    EXPECT_EQ(cell_to_int(&cell), c.expected) << c.name;
    stack_push_value(c.text, c.number, nullptr, c.data);
    EXPECT_EQ(stack_pop_int(context), c.expected) << c.name << " (popped)";
  }
}

TEST_F(ValueStack, HandleRoundTripsThroughPushedNumber) {
  const uint32_t handle = 0xF7001234u;
  stack_push_uint(handle);
  EXPECT_EQ(context->stack_top->number, 4143977012.0);
  EXPECT_EQ(uint32_t(stack_pop_int(context)), handle);
  stack_push_double_words(0x9999999Au, 0xC0059999u);  // -2.7
  EXPECT_EQ(stack_pop_int(context), -2);
  EXPECT_EQ(double_to_int_words(0, 0x41E80000u), int32_t(0xC0000000u));  // 3221225472.0
}

TEST_F(ValueStack, NumberPushesClearWhatTheLastValueLeft) {
  ReferenceNode references{};
  static char text[] = "old";
  stack_push_double(0);
  stack_push_value(text, 0, nullptr, 0x1234);
  ValueCell* reused = context->stack_top;
  reused->flags = kCellWideText;
  reused->variant_type = 8;
  reused->references = &references;
  stack_pop(context);
  stack_push_uint(0);
  ASSERT_EQ(context->stack_top, reused);
  EXPECT_EQ(reused->text, nullptr);
  EXPECT_EQ(reused->data, 0u);
  EXPECT_EQ(reused->flags, 0u);
  EXPECT_EQ(reused->variant_type, 0);
  EXPECT_EQ(reused->references, nullptr);
  EXPECT_EQ(stack_pop_int(context), 0) << "no stale handle behind the number 0";

  reused->data = 0x5678;
  stack_push_double(0);
  EXPECT_EQ(stack_pop_int(context), 0);

  reused->variant_type = 8;
  reused->references = &references;
  stack_push_value(text, 0, nullptr, 0);
  EXPECT_EQ(reused->variant_type, 0);
  EXPECT_EQ(reused->references, nullptr) << "no stale chain for an assignment to take over";
}

TEST_F(ValueStack, VariablePushesShowTheValueOfEveryKindOfVariable) {
  static char text[] = "text";
  static char16_t wide[] = u"wide";
  static char packed[] = "packed";
  double slot = -42.5;
  struct Row {
    const char* name;
    double number;
    void* data;
    uint32_t flags;
    int32_t type_code;
    bool aliased;     // the variable is an alias of a plain one holding 7
    double expected_number;
    void* expected_text;
    uint32_t expected_flags;
  };
  const Row rows[] = {
      {"plain number", 3.5, nullptr, 0, 0, false, 3.5, nullptr, 0},
      {"plain text", 0, text, 0, 0, false, 0, text, 0},
      {"wide text", 0, wide, kVariableWideText, 0, false, 0, wide, kCellWideText},
      {"packed list", 0, packed, kVariablePackedList, 0, false, 0, packed, kCellList},
      {"typed slot", 0, &slot, 0, -8, false, -42.5, nullptr, 0},
      {"alias", 1, nullptr, 0, 0, true, 7, nullptr, 0},
  };
  ReferenceNode references{};
  stack_push_double(0);  // the bottom, so that the cell above it is reused
  for (const Row& row : rows) {
    Variable* target = variable_record_allocate(context, false);
    Variable* variable = variable_record_allocate(context, false);
    target->number = 7;
    variable->number = row.number;
    variable->data = row.data;
    variable->flags = row.flags;
    variable->type_code = row.type_code;
    if (row.aliased) variable->alias = target;
    // A reused cell full of what the last value left.
    stack_push_value(text, 9, target, 0x1234);
    ValueCell* reused = context->stack_top;
    reused->flags = kCellWideText | kCellByReference;
    reused->variant_type = 8;
    reused->references = &references;
    stack_pop(context);

    stack_push_variable_value(variable);
    ASSERT_EQ(context->stack_top, reused) << row.name;
    EXPECT_EQ(reused->number, row.expected_number) << row.name;
    EXPECT_EQ(reused->text, row.expected_text) << row.name;
    EXPECT_EQ(reused->variable, row.aliased ? target : variable) << row.name;
    EXPECT_EQ(reused->data, 0u) << row.name;
    EXPECT_EQ(reused->flags, row.expected_flags) << row.name;
    EXPECT_EQ(reused->variant_type, 0) << row.name;
    EXPECT_EQ(reused->references, nullptr) << row.name;
    stack_pop(context);
    variable->data = nullptr;
    variable->alias = nullptr;
    variable_record_free(context, variable);
    variable_record_free(context, target);
  }
}

TEST_F(ValueStack, PushCellKeepsFlagsUnlessCleared) {
  stack_push_double(0);
  ValueCell* cell = stack_push_cell(context, true);
  cell->flags = kCellByReference | kCellList;
  stack_pop(context);
  EXPECT_EQ(stack_push_cell(context, false)->flags, kCellByReference | kCellList);
  stack_pop(context);
  EXPECT_EQ(stack_push_cell(context, true)->flags, 0u);
  context->stack_top->flags = kCellWideText;
  stack_pop(context);
  stack_push_value(nullptr, 1, nullptr, 0);
  EXPECT_EQ(context->stack_top->flags, 0u) << "stack_push_value always leaves flags 0";
}

TEST_F(ValueStack, MarksCountArguments) {
  stack_push_double(0);
  ASSERT_TRUE(stack_save_mark(context));
  stack_push_double(1);
  ASSERT_TRUE(stack_save_mark(context));  // a nested call
  stack_push_double(2);
  stack_push_double(3);
  EXPECT_EQ(stack_pop_to_mark(context), 2);
  stack_push_double(4);
  EXPECT_EQ(stack_pop_to_mark(context), 2) << "the outer call's 1 and 4";
  EXPECT_EQ(context->mark_count, 0);
  EXPECT_EQ(context->stack_top->number, 0);
  ASSERT_TRUE(stack_save_mark(context));
  EXPECT_EQ(stack_pop_to_mark(context), 0) << "no arguments";
}

TEST_F(ValueStack, MarksPastTheSlotsOrWithoutMatchAreRefused) {
  stack_push_double(0);
  unsigned errors = runtime_error_count();
  for (int i = 0; i < kStackMarkSlots; ++i) ASSERT_TRUE(stack_save_mark(context)) << i;
  EXPECT_FALSE(stack_save_mark(context));
  EXPECT_EQ(context->mark_count, kStackMarkSlots) << "the count is not overwritten";
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_NE(std::string(runtime_error_last_text()).find("1024"), std::string::npos);
  for (int i = 0; i < kStackMarkSlots; ++i) ASSERT_EQ(stack_pop_to_mark(context), 0) << i;

  ValueCell* mark = nullptr;
  EXPECT_FALSE(stack_take_mark(context, &mark));
  EXPECT_EQ(stack_pop_to_mark(context), -1);
  EXPECT_EQ(context->mark_count, 0) << "slot -1 is never read";
  EXPECT_EQ(runtime_error_count(), errors + 3);
  EXPECT_EQ(context->stack_top->number, 0) << "nothing popped";
}

TEST_F(ValueStack, MarkAboveTheTopIsRefused) {
  stack_push_double(0);
  stack_push_double(1);
  ASSERT_TRUE(stack_save_mark(context));
  stack_pop(context);  // the marked cell is popped by a broken program
  ValueCell* top = context->stack_top;
  EXPECT_EQ(stack_pop_to_mark(context), -1);
  EXPECT_EQ(context->stack_top, top);
}

TEST_F(ValueStack, EmptyStackPopIsAnError) {
  unsigned errors = runtime_error_count();
  ValueCell* cell = stack_pop(context);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell_to_int(cell), 0);
  EXPECT_EQ(runtime_error_count(), errors + 1);
}

TEST_F(ValueStack, NumberTextLivesUntilItsDepthEnds) {
  context->call_depth = 3;
  ValueCell cell{};
  cell.number = 3.5;
  char* text = cell_text(&cell);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "3.5");
  ASSERT_NE(context->owned, nullptr);
  EXPECT_EQ(context->owned->pointer, text);
  EXPECT_EQ(context->owned->depth, 3u);
  EXPECT_EQ(context->owned->kind, kOwnedMemory);
  context_release_depth(context, 2);
  EXPECT_EQ(alloc_block_size(text), 4u) << "a shallower depth leaves it";
  context_release_depth(context, 3);
  EXPECT_EQ(context->owned, nullptr);

  static char own[] = "mine";
  cell.text = own;
  EXPECT_EQ(cell_text(&cell), own) << "a cell's own text is returned as it is";
  EXPECT_EQ(context->owned, nullptr);
}

TEST_F(ValueStack, WideTexts) {
  static char narrow[] = "Caf\xE9";
  static char16_t wide[] = u"wide";
  struct Case {
    const char* name;
    double number;
    void* text;
    uint32_t flags;
    std::u16string expected;
    bool owned;  // cell_wide_text made a copy the program owns
  };
  const Case cases[] = {
      {"number", -12.25, nullptr, 0, u"-12.25", true},
      {"8-bit text in the device code page", 0, narrow, 0, u"Caf\u00E9", true},
      {"UTF-16 text", 0, wide, kCellWideText, u"wide", false},
  };
  for (const Case& c : cases) {
    ValueCell cell{};
    cell.number = c.number;
    cell.text = c.text;
    cell.flags = c.flags;
    WCHAR* shown = cell_wide_text(&cell);
    ASSERT_NE(shown, nullptr) << c.name;
    EXPECT_EQ(std::u16string(shown), c.expected) << c.name;
    EXPECT_EQ(context->owned != nullptr && context->owned->pointer == shown, c.owned) << c.name;
    WCHAR* copy = cell_wide_copy(&cell);
    ASSERT_NE(copy, nullptr) << c.name;
    EXPECT_NE(copy, c.text) << c.name;
    EXPECT_EQ(std::u16string(copy), c.expected) << c.name;
    EXPECT_EQ(alloc_block_size(copy), (c.expected.size() + 1) * 2) << c.name;
    crt::free(copy);
  }
}

TEST_F(ValueStack, PopOwnedPointerHandsTheBlockOver) {
  char* block = static_cast<char*>(crt::malloc(16));
  ASSERT_TRUE(context_own_allocation(context, block, 0, kOwnedMemory));
  ASSERT_TRUE(context_own_allocation(context, block, 5, kOwnedMemory));
  stack_push_uint(platform::address_of(block));
  EXPECT_EQ(uint32_t(stack_pop_owned_pointer(context)), platform::address_of(block));
  EXPECT_EQ(context->owned, nullptr) << "every record of the pointer is gone";
  context_release_owned(context);
  crt::free(block);  // the receiver's to free: a double free would show under the sanitizer
}

TEST_F(ValueStack, FreeAllReleasesSpareCellsAndMarks) {
  for (int i = 0; i < 5; ++i) stack_push_double(i);
  ASSERT_TRUE(stack_save_mark(context));
  for (int i = 0; i < 3; ++i) stack_pop(context);
  stack_free_all(context);
  EXPECT_EQ(context->stack_top, nullptr);
  EXPECT_EQ(context->mark_count, 0);
  stack_push_double(7);
  EXPECT_EQ(chain_length(context), 1);
}

}  // namespace
