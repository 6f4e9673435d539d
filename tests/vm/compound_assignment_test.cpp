// "+=", "-=", "*=" and "/=": number or text by whether the operands carry text, the
// fused forms on the instruction's variable, the pushed value and the split into
// several targets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/runtime_error.h"
#include "operator_fixture.h"
#include "vm/compound_assignment.h"

namespace {

using CompoundAssignment = OperatorTest;

struct Forms {
  const char* symbol;
  BuiltinHandler generic;
  BuiltinHandler fused;  // null: no fused form
};
const Forms kForms[] = {
    {"+=", op_add_assign, op_add_assign2},
    {"-=", op_sub_assign, op_sub_assign2},
    {"*=", op_mul_assign, op_mul_assign2},
    {"/=", op_div_assign, nullptr},
};
const Forms& forms_of(const char* symbol) {
  for (const Forms& forms : kForms) {
    if (std::string(forms.symbol) == symbol) return forms;
  }
  return kForms[0];
}

struct Case {
  const char* initial;
  const char* symbol;
  const char* value;
  const char* result;  // the variable's value afterwards
};

const Case kCases[] = {
    {"5", "+=", "3", "8"},
    {"5", "+=", "'x'", "'5x'"},
    {"'abc'", "+=", "1", "'abc1'"},
    {"'1'", "+=", "2", "'12'"},  // joins once a text is involved, numeric or not
    {"'1'", "+=", "'2'", "'12'"},
    {"w'ab'", "+=", "'c'", "'abc'"},
    {"'abc'", "-=", "1", "'ab'"},
    {"'abc'", "-=", "'b'", "'ac'"},
    {"'aabb'", "-=", "'ab'", "''"},
    {"'abc'", "-=", "5", "''"},
    {"'abc'", "-=", "-1", "'abc'"},
    {"'100'", "-=", "2", "'1'"},
    {"10", "-=", "'4'", "6"},
    {"10", "-=", "2.5", "7.5"},
    {"'ab'", "*=", "3", "'ababab'"},
    {"2", "*=", "'xy'", "'xyxy'"},
    {"'ab'", "*=", "0", "''"},
    {"'12'", "*=", "'3'", "36"},
    {"3", "*=", "2", "6"},
    {"7", "/=", "2", "3.5"},
    {"7", "/=", "0", "inf"},
    {"6", "/=", "'3'", "2"},
    {"'9'", "/=", "'3'", "0"},  // a text target divides its number field
    {"'abcdef'", "/=", "3", "'ef'"},
    {"'abcdef'", "/=", "0", "'abcdef'"},
};

}  // namespace

TEST_F(CompoundAssignment, EveryOperatorGenericAndFused) {
  for (const Case& row : kCases) {
    std::string name = std::string(row.initial) + " " + row.symbol + " " + row.value;
    const Forms& forms = forms_of(row.symbol);
    Variable* variable = variable_holding("A$", row.initial);
    stack_push_variable("A$");
    push_form(row.value);
    forms.generic();
    EXPECT_EQ(variable_form(variable), row.result) << name << " through \"" << row.symbol << "\"";
    EXPECT_EQ(drain_stack(), "") << name << ": nothing pushed without the switch";
    if (!forms.fused) continue;
    variable_holding("A$", row.initial);
    push_form(row.value);
    run(forms.fused, 0, "A$");
    EXPECT_EQ(variable_form(variable), row.result) << name << " through \"" << row.symbol << "2\"";
    EXPECT_EQ(drain_stack(), "") << name;
  }
}

TEST_F(CompoundAssignment, TargetNamedByItsText) {
  Variable* variable = variable_holding("N$", "'ab'");
  push_form("'N$'");
  // The target cell carries the current value beside the name, as a reference does.
  push_form("'!'");
  op_add_assign();
  EXPECT_EQ(variable_form(variable), "'N$!'") << "the cell's own text is the current value";
}

TEST_F(CompoundAssignment, PushAfterAssignPushesTheNewValue) {
  Variable* variable = variable_holding("A$", "5");
  push_after_assign = 1;
  stack_push_variable("A$");
  push_form("3");
  op_add_assign();
  EXPECT_EQ(context->stack_top ? context->stack_top->variable : nullptr, variable);
  EXPECT_EQ(drain_stack(), "8");
  EXPECT_EQ(push_after_assign, 0);
}

TEST_F(CompoundAssignment, SplitWithThePushSwitchPushesThePiecesOnly) {
  Variable* variable = variable_holding("A$", "'abcdef'");
  push_after_assign = 1;
  stack_push_variable("A$");
  push_form("3");
  op_div_assign();
  EXPECT_EQ(drain_stack(), "'ab' 'cd' 'ef'");
  EXPECT_EQ(variable_form(variable), "'abcdef'");
  EXPECT_EQ(push_after_assign, 0);
}

TEST_F(CompoundAssignment, SplitGivesEachTargetItsPieceInOrder) {
  Variable* first = variable_holding("A$", "0");
  Variable* second = variable_holding("B$", "0");
  Variable* last = variable_holding("C$", "'abcdef'");
  stack_push_variable("A$");
  stack_push_variable("B$");
  stack_push_variable("C$");
  push_form("3");
  op_div_assign();
  EXPECT_EQ(variable_form(first), "'ab'");
  EXPECT_EQ(variable_form(second), "'cd'");
  EXPECT_EQ(variable_form(last), "'ef'");
  EXPECT_EQ(drain_stack(), "");
}

TEST_F(CompoundAssignment, SplitWritesEachPieceThroughItsOwnTargetsSlot) {
  // B$ is a row of two 8-byte text slots; the further target names its second slot,
  // while the first target (C$) is a plain variable without a slot.
  Variable* row = variable_holding("B$", "0");
  row->type_code = 8;
  row->element_count = 2;
  row->data = crt::calloc(16, 1);
  row->flags |= kVariableOwnsData;
  Variable* last = variable_holding("C$", "'123456'");
  stack_push_variable("B$");
  context->stack_top->data = platform::address_of(static_cast<char*>(row->data) + 8);
  stack_push_variable("C$");
  push_form("2");
  op_div_assign();
  EXPECT_EQ(variable_form(last), "'456'");
  EXPECT_STREQ(static_cast<char*>(row->data), "") << "the first slot is untouched";
  EXPECT_STREQ(static_cast<char*>(row->data) + 8, "123");
}

TEST_F(CompoundAssignment, SplitIntoMoreThan255PiecesIsRefused) {
  std::string text(300, 'z');
  for (int pieces : {255, 256}) {
    Variable* variable = variable_holding("A$", ("'" + text + "'").c_str());
    push_after_assign = 1;
    stack_push_variable("A$");
    stack_push_number(context, pieces);
    unsigned errors = runtime_error_count();
    op_div_assign();
    bool refused = pieces > 255;
    EXPECT_EQ(runtime_error_count(), errors + (refused ? 1 : 0)) << pieces;
    int pushed = 0;
    while (context->stack_top) {
      stack_pop(context);
      ++pushed;
    }
    EXPECT_EQ(pushed, refused ? 0 : pieces) << pieces;
    EXPECT_EQ(variable_form(variable), "'" + text + "'") << pieces;
    EXPECT_EQ(push_after_assign, 0) << pieces;
  }
}
