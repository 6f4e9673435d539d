// "+", "-", "*", "/", "concat" and "%" over numbers, 8-bit and UTF-16 texts, packed lists
// and by-reference values, each case through the generic handler and every fused form
// that takes the same operands.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/runtime_error.h"
#include "operator_fixture.h"
#include "vm/arithmetic.h"

namespace {

using Arithmetic = OperatorTest;

// Fused forms of one operator; null where the form does not exist.
struct FusedForms {
  const char* symbol;
  BuiltinHandler generic;
  BuiltinHandler constant_right;  // popped left, the instruction's number
  BuiltinHandler text_right;      // popped left, the instruction's text
  BuiltinHandler variable_left;   // the instruction's variable, then its number
  BuiltinHandler variable_right;  // the instruction's number, then its variable
};

const FusedForms kForms[] = {
    {"+", op_add, op_add2, op_add4, op_add5, op_add6},
    {"-", op_sub, op_sub2, op_sub4, op_sub5, op_sub6},
    {"*", op_mul, op_mul2, nullptr, op_mul5, op_mul6},
    {"/", op_div, op_div2, nullptr, op_div5, op_div6},
};

const FusedForms& forms_of(const char* symbol) {
  for (const FusedForms& forms : kForms) {
    if (std::string(forms.symbol) == symbol) return forms;
  }
  return kForms[0];
}

bool is_number_form(const char* form) { return form[0] != '\'' && form[0] != 'w' && form[0] != '[' && form[0] != '&'; }
bool is_text_form(const char* form) { return form[0] == '\''; }
std::string unquoted(const char* form) { return std::string(form + 1, std::strlen(form) - 2); }

// One case: left op right gives `generic` (the stack after the operator, bottom first).
// The fused forms give the same unless a column says otherwise ("" means nothing pushed).
struct Case {
  const char* left;
  const char* symbol;
  const char* right;
  const char* generic;
  const char* constant_right = nullptr;  // "+2" "-2" "*2" "/2" when it differs
  const char* text_right = nullptr;      // "+4" "-4"
  const char* variable_left = nullptr;   // "+5" ... "/5"
  const char* variable_right = nullptr;  // "+6" ... "/6"
};

const Case kCases[] = {
    // Numbers, and texts that read as numbers.
    {"2", "+", "3", "5"},
    {"'2'", "+", "3", "5"},
    {"'12'", "+", "3", "15"},
    {"'2'", "+", "'3'", "5"},
    {"7", "-", "2.5", "4.5"},
    {"6", "*", "7", "42"},
    {"7", "/", "2", "3.5"},
    {"1", "/", "0", "inf"},
    {"-1", "/", "0", "-inf"},
    // Joining as soon as one side is not numeric.
    {"'2a'", "+", "3", "'2a3'"},
    {"'y'", "+", "1.5", "'y1.5'"},
    // 'x' alone passes the loose numeric test (an 'x' may stand anywhere), so it adds as 0.
    {"'x'", "+", "1.5", "1.5"},
    {"'1e'", "+", "3", "'1e3'"},
    {"1", "+", "''", "'1'"},
    {"'a'", "+", "'b'", "'ab'"},
    {"3", "+", "'y'", "'3y'", nullptr, nullptr, nullptr, "'3y'"},
    // Text minus number cuts, numeric or not; the variable form reads '100' as a number.
    {"'hello'", "-", "2", "'hel'"},
    {"'100'", "-", "2", "'1'", nullptr, nullptr, "98"},
    {"'abc'", "-", "5", "''"},
    {"'abc'", "-", "3", "''"},
    {"'abc'", "-", "-2", "'abc'"},
    {"'abc'", "-", "0", "'abc'"},
    // Text minus text removes every occurrence, again from the start.
    {"'banana'", "-", "'an'", "'ba'"},
    {"'aabb'", "-", "'ab'", "''"},
    {"'abc'", "-", "'x'", "'abc'"},
    {"'abc'", "-", "''", "'abc'"},
    {"'12.5'", "-", "'.5'", "'12'"},
    // Number minus text reads the text; the text constant form removes from the number's text.
    {"5", "-", "'a'", "5", nullptr, "'5'"},
    {"10", "-", "'4'", "6", nullptr, "'10'"},
    {"10", "-", "'abc'", "10", nullptr, "'10'"},
    // Repeat with one text; multiply two texts.
    {"'ab'", "*", "3", "'ababab'"},
    {"3", "*", "'ab'", "'ababab'", nullptr, nullptr, nullptr, "'ababab'"},
    {"'2'", "*", "3", "'222'", nullptr, nullptr, "6"},
    {"3", "*", "'2'", "'222'", nullptr, nullptr, nullptr, "6"},
    {"'ab'", "*", "0", "''"},
    {"'ab'", "*", "-1", "''"},
    {"'3'", "*", "'4'", "12"},
    {"'ab'", "*", "2.9", "'abab'"},
    // Split a text into pieces; a number over a text divides.
    {"'abcdef'", "/", "3", "'ab' 'cd' 'ef'"},
    {"'abcde'", "/", "2", "'abc' 'de'"},
    {"'abcdefg'", "/", "3", "'abc' 'def' 'g'"},
    {"'ab'", "/", "5", "'a' 'b' '' '' ''"},
    {"'abc'", "/", "0", ""},
    {"'abc'", "/", "-2", ""},
    {"'12'", "/", "2", "'1' '2'", nullptr, nullptr, "6"},
    {"6", "/", "'3'", "2"},
    {"6", "/", "'ab'", "inf", nullptr, nullptr, nullptr, "0"},
    {"'9'", "/", "'3'", "3"},
    // UTF-16 operands of the arithmetic operators are taken as 8-bit text.
    {"w'ab'", "+", "'c'", "'abc'"},
    {"w'12'", "+", "3", "15"},
    {"w'hello'", "-", "2", "'hel'"},
    {"w'ab'", "*", "2", "'abab'"},
    // By-reference values count by their value.
    {"&'ab'", "+", "'c'", "'abc'"},
    {"&4", "*", "2", "8"},
    // Packed lists go element by element, the list always on the left.
    {"[1,2,3]", "+", "5", "[6,7,8]"},
    {"5", "+", "[1,2,3]", "[6,7,8]"},
    {"10", "-", "[1,2]", "[-9,-8]"},
    {"[1,2]", "*", "[3]", "[3,0]"},
    {"[4,9]", "/", "2", "[2,4.5]"},
    {"[1,'a']", "+", "'b'", "['1b','ab']"},
    {"['2','a']", "+", "3", "[5,'a3']"},
};

}  // namespace

TEST_F(Arithmetic, EveryOperatorOverEveryValueKindAndItsFusedForms) {
  for (const Case& row : kCases) {
    std::string name = std::string(row.left) + " " + row.symbol + " " + row.right;
    const FusedForms& forms = forms_of(row.symbol);
    push_form(row.left);
    push_form(row.right);
    forms.generic();
    EXPECT_EQ(drain_stack(), row.generic) << name << " through \"" << row.symbol << "\"";

    if (is_number_form(row.right) && row.left[0] != '&') {
      push_form(row.left);
      run(forms.constant_right, std::strtod(row.right, nullptr));
      EXPECT_EQ(drain_stack(), row.constant_right ? row.constant_right : row.generic)
          << name << " through \"" << row.symbol << "2\"";
      variable_holding("V$", row.left);
      run(forms.variable_left, std::strtod(row.right, nullptr), "V$");
      EXPECT_EQ(drain_stack(), row.variable_left ? row.variable_left : row.generic)
          << name << " through \"" << row.symbol << "5\"";
    }
    if (is_text_form(row.right) && forms.text_right && row.left[0] != '&') {
      push_form(row.left);
      std::string text = unquoted(row.right);
      run(forms.text_right, 0, text.c_str());
      EXPECT_EQ(drain_stack(), row.text_right ? row.text_right : row.generic)
          << name << " through \"" << row.symbol << "4\"";
    }
    if (is_number_form(row.left) && row.right[0] != '&') {
      variable_holding("V$", row.right);
      run(forms.variable_right, std::strtod(row.left, nullptr), "V$");
      EXPECT_EQ(drain_stack(), row.variable_right ? row.variable_right : row.generic)
          << name << " through \"" << row.symbol << "6\"";
    }
  }
}

TEST_F(Arithmetic, VariableFormsLeaveAPackedListVariableUnchanged) {
  Variable* list = variable_holding("L$", "[1,[2,3]]");
  for (BuiltinHandler handler : {op_add5, op_add6}) {
    run(handler, 1, "L$");
    EXPECT_EQ(drain_stack(), "[2,[3,4]]");
    EXPECT_EQ(variable_form(list), "[1,[2,3]]");
  }
}

TEST_F(Arithmetic, VariableFormsCacheTheirVariableAndFollowItsAlias) {
  Variable* target = variable_holding("T%", "40");
  Variable* bound = variable_holding("B%", "1");
  bound->alias = target;
  run(op_add5, 2, "B%");
  EXPECT_EQ(drain_stack(), "42");
  EXPECT_EQ(extension.cached_variable, bound);
  alias_follow_suppressed = 1;
  run(op_add5, 2, "B%");
  EXPECT_EQ(drain_stack(), "3") << "the one-shot switch reads the variable itself";
  EXPECT_EQ(alias_follow_suppressed, 0);
}

TEST_F(Arithmetic, ANumberResultKeepsNothingOfItsOperandsCells) {
  // Operands pushed from variables (with a handle, a by-reference mark and a chain on the
  // deeper cell): the result is a bare number, whichever handler makes it.
  Variable* left = variable_holding("L%", "6");
  Variable* right = variable_holding("R%", "3");
  ReferenceNode chain{};
  const struct {
    const char* name;
    BuiltinHandler handler;
    bool binary;
    double expected;
  } rows[] = {
      {"+", op_add, true, 9}, {"-", op_sub, true, 3}, {"*", op_mul, true, 18}, {"/", op_div, true, 2},
      {"+2", op_add2, false, 9}, {"-2", op_sub2, false, 3}, {"*2", op_mul2, false, 18}, {"/2", op_div2, false, 2},
  };
  for (const auto& row : rows) {
    stack_push_variable_value(left);
    ValueCell* deeper = context->stack_top;
    deeper->data = 0x1234;
    deeper->flags = kCellByReference;
    deeper->variant_type = 3;
    deeper->references = &chain;
    if (row.binary) stack_push_variable_value(right);
    run(row.handler, 3);
    ValueCell* result = context->stack_top;
    EXPECT_EQ(result->number, row.expected) << row.name;
    EXPECT_EQ(result->text, nullptr) << row.name;
    EXPECT_EQ(result->variable, nullptr) << row.name << ": the result is no longer the variable";
    EXPECT_EQ(result->data, 0u) << row.name;
    EXPECT_EQ(result->flags, 0u) << row.name;
    EXPECT_EQ(result->variant_type, 0) << row.name;
    EXPECT_EQ(result->references, nullptr) << row.name;
    stack_pop(context);
  }
}

TEST_F(Arithmetic, ConcatJoinsItsArgumentsInOrder) {
  struct Row {
    std::vector<const char*> arguments;
    const char* result;
  };
  const Row rows[] = {
      {{"'a'", "1", "'b'"}, "'a1b'"},
      {{}, "''"},
      {{"2.5"}, "'2.5'"},
      {{"w'x'", "'y'", "2"}, "w'xy2'"},
      {{"'p'", "w'q'"}, "w'pq'"},
  };
  for (const Row& row : rows) {
    stack_push_number(context, 99);  // below the mark: left alone
    ASSERT_TRUE(stack_save_mark(context));
    for (const char* argument : row.arguments) push_form(argument);
    op_concat();
    EXPECT_EQ(drain_stack(), std::string("99 ") + row.result) << row.result;
  }
}

TEST_F(Arithmetic, ConcatRefusesMoreThan256Arguments) {
  for (int count : {256, 257}) {
    ASSERT_TRUE(stack_save_mark(context));
    for (int index = 0; index < count; ++index) push_form("'x'");
    unsigned errors = runtime_error_count();
    op_concat();
    bool refused = count > 256;
    EXPECT_EQ(runtime_error_count(), errors + (refused ? 1 : 0)) << count;
    EXPECT_EQ(drain_stack(), refused ? "''" : "'" + std::string(256, 'x') + "'") << count;
  }
}

TEST_F(Arithmetic, PercentJoinsWideWhenEitherSideIsWide) {
  struct Row {
    const char* left;
    const char* right;
    const char* result;
  };
  const Row rows[] = {
      {"'ab'", "w'cd'", "w'abcd'"}, {"w'ab'", "3", "w'ab3'"}, {"'ab'", "'cd'", "'abcd'"}, {"1", "2", "'12'"},
  };
  for (const Row& row : rows) {
    push_form(row.left);
    push_form(row.right);
    op_percent();
    EXPECT_EQ(drain_stack(), row.result) << row.left << " % " << row.right;
  }
}

TEST_F(Arithmetic, SplitPieceLengthIsTheSinglePrecisionCeiling) {
  // ceil(length / pieces) in float: (float)16777217 is 16777216, which divides evenly.
  struct Row {
    int32_t length;
    int32_t pieces;
    int32_t piece_length;
  };
  const Row rows[] = {{6, 3, 2}, {7, 3, 3}, {5, 2, 3}, {2, 5, 1}, {0, 3, 0}, {16777217, 2, 8388608}};
  for (const Row& row : rows) {
    EXPECT_EQ(split_piece_length(row.length, row.pieces), row.piece_length) << row.length << "/" << row.pieces;
  }
}

TEST_F(Arithmetic, ResultTextsBelongToTheRunningDepth) {
  push_form("'a'");
  push_form("'b'");
  op_add();
  ValueCell* result = context->stack_top;
  bool owned = false;
  for (OwnedAllocation* record = context->owned; record; record = record->next) {
    if (record->pointer == result->text && record->kind == kOwnedMemory) owned = true;
  }
  EXPECT_TRUE(owned);
  EXPECT_EQ(alloc_block_size(result->text), 3u) << "two characters and the terminator";
  drain_stack();
}

// "%" grows its left block in place only when the left cell alone holds it (the sole mark,
// which the right operand showing the same block breaks) and it is the program's newest
// block; otherwise the join makes a new block and the operands' blocks stay owned as they were.
TEST_F(Arithmetic, AJoinGrowsInPlaceOnlyASoleNewestLeftBlock) {
  const auto owns = [this](const void* block) {
    for (OwnedAllocation* record = context->owned; record; record = record->next) {
      if (record->pointer == block) return true;
    }
    return false;
  };
  enum class Right { Number, NewerText, LeftsBlock };
  struct Row {
    const char* name;
    bool sole;
    Right right;
    const char* result;
  };
  const Row rows[] = {
      {"a chain's own result", true, Right::Number, "'ab3'"},
      {"a block without the sole mark", false, Right::Number, "'ab3'"},
      {"the left block on both sides", true, Right::LeftsBlock, "'abab'"},
      {"a block made before the right text", true, Right::NewerText, "'abc'"},
  };
  for (const Row& row : rows) {
    push_form("'ab'");
    ValueCell* left = context->stack_top;
    if (row.sole) left->flags |= kCellSoleText;
    void* const left_block = left->text;
    void* right_block = nullptr;
    if (row.right == Right::NewerText) {
      push_form("'c'");
      right_block = context->stack_top->text;
    } else {
      push_form("3");
      if (row.right == Right::LeftsBlock) context->stack_top->text = left_block;
    }
    op_percent();
    const void* result_block = context->stack_top->text;
    EXPECT_TRUE(owns(result_block)) << row.name;
    if (row.sole && row.right == Right::Number) {
      // Grown: the block's record follows it wherever the realloc put it.
      EXPECT_EQ(owns(left_block), result_block == left_block) << row.name;
    } else {
      EXPECT_NE(result_block, left_block) << row.name;
      EXPECT_TRUE(owns(left_block)) << row.name;
      if (right_block) EXPECT_TRUE(owns(right_block)) << row.name;
    }
    EXPECT_EQ(drain_stack(), row.result) << row.name;
  }
}

TEST_F(Arithmetic, CutAndRemovedTextsAreSizedToTheirResult) {
  // A variable that stores the result copies the block's whole size.
  struct Row {
    BuiltinHandler handler;
    const char* left;
    const char* right;
    uint32_t block_size;
  };
  const Row rows[] = {
      {op_sub, "'abcdef'", "4", 3}, {op_sub, "'abcdef'", "'cd'", 5}, {op_sub, "'abc'", "'x'", 4}};
  for (const Row& row : rows) {
    push_form(row.left);
    push_form(row.right);
    row.handler();
    EXPECT_EQ(alloc_block_size(context->stack_top->text), row.block_size) << row.left << " - " << row.right;
    drain_stack();
  }
}
