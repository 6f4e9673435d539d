// Comparison, logical, bitwise, shift and integer operators over numbers, 8-bit and
// UTF-16 texts and by-reference cells, generic and fused forms, with the language's own
// examples among the rows.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "foundation/conversion.h"
#include "machine_fixture.h"
#include "operand_cells.h"
#include "vm/builtin_registry.h"
#include "vm/comparison.h"
#include "foundation/hashes.h"

namespace {

struct OperatorForms {
  const char* name;
  BuiltinHandler generic;
  BuiltinHandler fused;  // compares with the instruction's constant; null when none
};

constexpr OperatorForms kForms[] = {
    {"==", op_equal, op_equal2},       {"<>", op_not_equal, op_not_equal2},
    {"<", op_less, op_less2},          {">", op_greater, op_greater2},
    {"<=", op_less_equal, op_less_equal2}, {">=", op_greater_equal, op_greater_equal2},
    {"and", op_and, nullptr},          {"or", op_or, nullptr},
    {"|", op_bitor, nullptr},          {"&", op_bitand, nullptr},
    {"xor", op_xor, nullptr},          {"<<", op_shift_left, nullptr},
    {"asl", op_asl, nullptr},          {">>", op_shift_right, nullptr},
    {"asr", op_asr, nullptr},          {"div", op_int_div, nullptr},
    {"mod", op_mod, nullptr},
};

const OperatorForms& forms(const char* name) {
  for (const OperatorForms& entry : kForms) {
    if (std::strcmp(entry.name, name) == 0) return entry;
  }
  ADD_FAILURE() << "no operator " << name;
  return kForms[0];
}

constexpr double kSameAsGeneric = -12345;

struct BinaryCase {
  Operand left;
  const char* name;
  Operand right;
  double expected;
  double fused_expected = kSameAsGeneric;  // the fused form, when R is a number constant
};

class ComparisonTest : public MachineTest {
 protected:
  double run_generic(BuiltinHandler handler, const Operand& left, const Operand& right) {
    push_operand(context, left);
    push_operand(context, right);
    handler();
    double result = pop_number_result(context);
    EXPECT_EQ(context->stack_top, nullptr) << "one result, operands consumed";
    return result;
  }
  double run_fused(BuiltinHandler handler, const Operand& value, double constant) {
    Chain chain;
    current_instruction = chain.add(handler, constant);
    push_operand(context, value);
    handler();
    double result = pop_number_result(context);
    EXPECT_EQ(context->stack_top, nullptr);
    return result;
  }
  double run_unary(BuiltinHandler handler, const Operand& value) {
    push_operand(context, value);
    handler();
    double result = pop_number_result(context);
    EXPECT_EQ(context->stack_top, nullptr);
    return result;
  }
};

TEST_F(ComparisonTest, BinaryOperatorsOverEveryValueKind) {
  using O = Operand;
  const BinaryCase cases[] = {
      // Numbers.
      {O::num(3), "==", O::num(3.0), 1}, {O::num(2), "<>", O::num(2), 0}, {O::num(1), "<", O::num(2), 1},
      {O::num(2), "<", O::num(1), 0}, {O::num(2), ">", O::num(1), 1}, {O::num(2), "<=", O::num(2), 1},
      {O::num(3), "<=", O::num(2), 0}, {O::num(2), ">=", O::num(2), 1}, {O::num(-1), ">=", O::num(0), 0},
      {O::num(NAN), "==", O::num(NAN), 0}, {O::num(NAN), "<>", O::num(NAN), 1},
      // 8-bit texts: byte order of strcmp, unsigned.
      {O::str("abc"), "==", O::str("abc"), 1}, {O::str("abc"), "<", O::str("abd"), 1},
      {O::str("ab"), "<", O::str("abc"), 1}, {O::str("B"), "<", O::str("a"), 1},
      {O::str("abc"), "<>", O::str("abd"), 1}, {O::str("abd"), ">", O::str("abc"), 1},
      {O::str("abc"), ">=", O::str("abc"), 1}, {O::str("\xe9"), ">", O::str("z"), 1},
      {O::str("10"), "==", O::str("10.0"), 0},  // two texts always compare as texts
      // UTF-16 on either side: unit by unit, unsigned; a narrow side is widened.
      {O::str("abc"), "==", O::wstr(u"abc"), 1}, {O::wstr(u"abc"), "==", O::str("abc"), 1},
      {O::wstr(u"ab"), "<", O::wstr(u"abc"), 1}, {O::wstr(u"\u4e00"), ">", O::wstr(u"z"), 1},
      {O::wstr(u"abc"), "<>", O::wstr(u"abd"), 1}, {O::wstr(u"b"), "<=", O::str("a"), 0},
      // Mixed: the text counts by its number; a text that is no number makes all six 0.
      {O::str("10"), "==", O::num(10), 1}, {O::num(10), "==", O::str("10"), 1},
      {O::str("9"), "<", O::num(10), 1}, {O::str("1e"), "==", O::num(1), 0, 0},
      {O::str("1e"), "<>", O::num(1), 0, 1}, {O::str(""), "==", O::num(0), 0, 1},
      {O::str("abc"), "==", O::num(0), 0, 1}, {O::str("abc"), "<", O::num(5), 0, 1},
      {O::num(5), ">", O::str("y"), 0}, {O::num(5), ">", O::str("x"), 1},  // "x" reads as a number (0)
      // By-reference cells carry their variable's value.
      {O::ref(4), "==", O::num(4), 1}, {O::ref(4), "<", O::ref(5), 1}, {O::num(1), ">=", O::ref(2), 0},
      // Logical: f64 truth, so 0.5 is true.
      {O::num(0.5), "and", O::num(1), 1}, {O::num(0), "and", O::num(1), 0}, {O::num(1), "and", O::str("0"), 0},
      {O::num(0), "or", O::str("x"), 0}, {O::num(0), "or", O::num(-2), 1}, {O::str("2"), "or", O::num(0), 1},
      {O::ref(1), "and", O::ref(3), 1},
      // Bitwise over 64-bit integers.
      {O::num(5), "|", O::num(2), 7}, {O::num(-1), "&", O::num(255), 255}, {O::num(6), "xor", O::num(3), 5},
      {O::str("12"), "|", O::num(3), 15}, {O::num(-1), "|", O::num(0), -1}, {O::num(5.9), "&", O::num(7), 5},
      {O::num(4294967296.0), "|", O::num(1), 4294967297.0},
      // Shifts: left counts modulo 256, arithmetic right shifts.
      {O::num(1), "<<", O::num(4), 16}, {O::num(1), "<<", O::num(64), 0}, {O::num(1), "<<", O::num(256), 1},
      {O::num(1), "asl", O::num(40), 1099511627776.0}, {O::num(-8), ">>", O::num(1), -4},
      {O::num(-8), "asr", O::num(1), -4}, {O::num(16), ">>", O::num(2), 4}, {O::num(-8), ">>", O::num(64), -1},
      {O::num(8), ">>", O::num(200), 0},
      // Integer division and remainder; a zero divisor gives 0.
      {O::num(7), "div", O::num(2), 3}, {O::num(-7), "div", O::num(2), -3}, {O::num(7), "div", O::num(0.5), 14},
      {O::num(5), "div", O::num(0), 0}, {O::num(INT_MIN), "div", O::num(-1), INT_MIN},
      {O::str("9"), "div", O::ref(2), 4},
      {O::num(7), "mod", O::num(3), 1}, {O::num(-7), "mod", O::num(3), -1}, {O::num(7), "mod", O::num(-3), 1},
      {O::num(5), "mod", O::num(0.9), 0}, {O::num(5), "mod", O::num(0), 0}, {O::num(INT_MIN), "mod", O::num(-1), 0},
      {O::num(7.9), "mod", O::num(2.9), 1},
  };
  for (const BinaryCase& row : cases) {
    const OperatorForms& form = forms(row.name);
    std::string label = row.left.describe() + " " + row.name + " " + row.right.describe();
    double generic = run_generic(form.generic, row.left, row.right);
    EXPECT_EQ(generic, row.expected) << label;
    if (form.fused && row.right.kind == Operand::Number) {
      double expected = row.fused_expected == kSameAsGeneric ? row.expected : row.fused_expected;
      EXPECT_EQ(run_fused(form.fused, row.left, row.right.number), expected) << "fused " << label;
    }
  }
}

TEST_F(ComparisonTest, UnaryOperators) {
  using O = Operand;
  struct UnaryCase {
    const char* name;
    BuiltinHandler handler;
    Operand value;
    double expected;
  };
  const UnaryCase cases[] = {
      {"isnull", op_isnull, O::num(0), 1},     {"isnull", op_isnull, O::str(""), 0},
      {"isnull", op_isnull, O::wstr(u"x"), 0}, {"isnull", op_isnull, O::ref(3), 1},
      {"not", op_not, O::num(0.5), 1},         {"not", op_not, O::num(0), 1},
      {"not", op_not, O::num(-2), 0},          {"not", op_not, O::str("abc"), 1},
      {"not", op_not, O::str("3"), 0},         {"not", op_not, O::ref(1), 0},
      {"~", op_complement, O::num(0), -1},     {"~", op_complement, O::num(5), -6},
      {"~", op_complement, O::num(-1), 0},     {"~", op_complement, O::str("255"), -256},
      {"~", op_complement, O::num(4294967295.0), 0},
  };
  for (const UnaryCase& row : cases) {
    EXPECT_EQ(run_unary(row.handler, row.value), row.expected) << row.name << " " << row.value.describe();
  }
}

TEST_F(ComparisonTest, ResultCellReusedWithoutLeftovers) {
  // The result lands in a reused cell that held a text: nothing of it may show through.
  push_operand(context, Operand::wstr(u"abc"));
  push_operand(context, Operand::str("abc"));
  op_equal();
  EXPECT_EQ(pop_number_result(context), 1);
}

TEST_F(ComparisonTest, AndDoesNotConvertTheRightOperandWhenTheLeftIsFalse) {
  // A conversion would set the not-a-number flag from the right operand.
  push_operand(context, Operand::num(0));
  push_operand(context, Operand::str("x"));
  text_to_number("1");
  op_and();
  EXPECT_EQ(pop_number_result(context), 0);
  EXPECT_EQ(not_a_number_flag, 0);
}

TEST_F(ComparisonTest, RegisteredUnderEveryScriptName) {
  builtin_registry_clear();
  register_comparison_handlers();
  struct Name {
    const char* name;
    BuiltinHandler handler;
  };
  const Name names[] = {{"==", op_equal}, {"<>", op_not_equal}, {"isnull", op_isnull}, {"xor", op_xor},
                        {"^", op_xor},    {"<<", op_shift_left}, {"shl", op_shift_left}, {"asl", op_asl},
                        {">>", op_shift_right}, {"shr", op_shift_right}, {"asr", op_asr}, {"~", op_complement},
                        {"div", op_int_div}, {"mod", op_mod}, {"not", op_not}, {"|", op_bitor}};
  for (const Name& entry : names) {
    char upper[16];
    std::strcpy(upper, entry.name);
    for (char* c = upper; *c; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    int32_t index = find_builtin_by_hash(hash_name(upper, static_cast<int32_t>(std::strlen(upper))));
    ASSERT_GE(index, 0) << entry.name;
    EXPECT_EQ(builtin_entry(index)->handler, entry.handler) << entry.name;
  }
  builtin_registry_clear();
}

TEST_F(ComparisonTest, FusedComparisonInsideARunningChain) {
  // PUSH 'abc'; "==2" 0: a text that is no number reads as 0 in the fused form.
  static const char kText[] = "abc";
  Chain chain;
  chain.procedure("    test");
  InstructionNode* push = chain.add([] { stack_push_value(const_cast<char*>(kText), 0, nullptr, 0); });
  (void)push;
  chain.add(op_equal2, 0);
  chain.add(op_end);
  call(context, chain.first);
  EXPECT_EQ(pop_number_result(context), 1);
}

}  // namespace
