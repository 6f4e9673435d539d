// Increment, decrement and bitwise compound assignment on variables holding numbers and
// texts, through the generic handlers on a pushed target and the fused ones on the
// instruction's variable, with and without the value being used.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "machine_fixture.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "tests/foundation/scope_lists.h"
#include "vm/builtin_registry.h"
#include "vm/increment.h"
#include "vm/assignment.h"

namespace {

// A value a variable holds or a handler pushes: a text when text is set, else a number.
struct Value {
  const char* text;
  double number;
  std::string describe() const { return text ? std::string("'") + text + "'" : std::to_string(number); }
};
Value num(double number) { return {nullptr, number}; }
Value str(const char* text) { return {text, 0}; }
constexpr double kNothing = NAN;  // "nothing pushed"

class IncrementTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    if (!context->pool) context->pool = pool_create(4096);
    locals = open_scope_lists(context);
    free_percent_variables(context);
    push_after_assign = 0;
    alias_follow_suppressed = 0;
  }
  void TearDown() override {
    close_scope_lists(context, locals);
    push_after_assign = 0;
    MachineTest::TearDown();
  }

  Variable* holding(const char* name, const Value& value) {
    Variable* variable = find_variable(name);
    if (!variable) variable = get_variable(current_scope, name);
    EXPECT_NE(variable, nullptr) << name;
    if (value.text) {
      set_variable(variable, const_cast<char*>(value.text), 0, nullptr, static_cast<int32_t>(std::strlen(value.text)) + 1);
    } else {
      set_variable(variable, nullptr, value.number, nullptr, 0);
    }
    return variable;
  }
  // The target cell the variable push leaves: the variable and a snapshot of its value.
  void push_target(Variable* variable) {
    void* text = nullptr;
    double number = 0;
    get_variable_value(variable, &text, &number, nullptr);
    stack_push_value(text, number, variable, 0);
  }
  void push_number(double number) { stack_push_number(context, number); }

  static void expect_holds(Variable* variable, const Value& expected, const std::string& label) {
    void* text = nullptr;
    double number = 0;
    get_variable_value(variable, &text, &number, nullptr);
    if (expected.text) {
      ASSERT_NE(text, nullptr) << label;
      EXPECT_STREQ(static_cast<char*>(text), expected.text) << label;
    } else {
      EXPECT_EQ(text, nullptr) << label;
      EXPECT_EQ(number, expected.number) << label;
    }
  }
  // What the handler pushed: nothing, or one value (a text when expected is a text).
  void expect_pushed(const Value& expected, Variable* variable, const std::string& label) {
    if (!expected.text && std::isnan(expected.number)) {
      EXPECT_EQ(context->stack_top, nullptr) << label << ": nothing pushed";
      return;
    }
    ASSERT_NE(context->stack_top, nullptr) << label;
    ValueCell* cell = stack_pop(context);
    if (expected.text) {
      ASSERT_NE(cell->text, nullptr) << label;
      EXPECT_STREQ(static_cast<char*>(cell->text), expected.text) << label;
    } else {
      EXPECT_EQ(cell->text, nullptr) << label;
      EXPECT_EQ(cell->number, expected.number) << label;
    }
    if (variable) EXPECT_EQ(cell->variable, variable) << label;
    EXPECT_EQ(context->stack_top, nullptr) << label;
    EXPECT_EQ(push_after_assign, 0) << label;
  }
  void run_fused(BuiltinHandler handler, const char* name, double operand) {
    Chain chain;
    current_instruction = chain.add(handler, operand, name);
    handler();
    current_instruction = nullptr;
  }

  Variable* locals = nullptr;
};

TEST_F(IncrementTest, StepsOnThePushedTarget) {
  struct Row {
    const char* name;
    BuiltinHandler handler;
    Value initial;
    bool used;
    Value pushed;
    Value stored;
  };
  const Row rows[] = {
      {"++", op_increment, num(5), true, num(5), num(6)},
      {"++", op_increment, num(5), false, num(kNothing), num(6)},
      {"++2", op_preincrement, num(5), true, num(6), num(6)},
      {"++2", op_preincrement, num(5), false, num(kNothing), num(6)},
      {"--", op_decrement, num(5), true, num(5), num(4)},
      {"--2", op_predecrement, num(5), true, num(4), num(4)},
      {"--2", op_predecrement, num(-0.5), false, num(kNothing), num(-1.5)},
      // A text counts by its number; one that is no number counts as 0.
      {"++", op_increment, str("5"), false, num(kNothing), num(6)},
      {"++", op_increment, str("abc"), false, num(kNothing), num(1)},
      {"++", op_increment, str("abc"), true, str("abc"), num(1)},
      {"--2", op_predecrement, str("2.5"), true, num(1.5), num(1.5)},
  };
  for (const Row& row : rows) {
    std::string label = std::string(row.name) + " on " + row.initial.describe() + (row.used ? " used" : "");
    Variable* variable = holding("COUNT$", row.initial);
    push_target(variable);
    push_after_assign = row.used;
    row.handler();
    expect_pushed(row.pushed, variable, label);
    expect_holds(variable, row.stored, label);
  }
}

TEST_F(IncrementTest, TargetsNamedByTextOrNumberAndMissingTargets) {
  // A target cell without a variable names it by its text.
  Variable* variable = holding("BYNAME$", num(41));
  stack_push_value(const_cast<char*>("BYNAME$"), 0, nullptr, 0);
  op_increment();
  expect_holds(variable, num(1), "a name cell counts by its own value, the name's number 0");
  // A name that cannot be a variable stores nothing; a used value is 0.
  for (BuiltinHandler handler : {op_increment, op_preincrement, op_decrement, op_predecrement}) {
    stack_push_value(const_cast<char*>("abc"), 0, nullptr, 0);
    push_after_assign = 1;
    handler();
    expect_pushed(num(0), nullptr, "missing target");
    EXPECT_EQ(find_variable("abc"), nullptr);
  }
}

TEST_F(IncrementTest, FusedStepsOnTheInstructionsVariable) {
  struct Row {
    const char* name;
    BuiltinHandler handler;
    double constant;
    Value initial;
    bool used;
    Value pushed;
    Value stored;
  };
  const Row rows[] = {
      {"++2 (35)", op_increment2, 0, num(5), true, num(5), num(6)},
      {"--2 (36)", op_decrement2, 0, num(5), true, num(5), num(4)},
      {"++4 (37)", op_increment4, 0, num(5), true, num(6), num(6)},
      {"--4 (38)", op_decrement4, 0, num(5), true, num(4), num(4)},
      {"++4 (37)", op_increment4, 0, num(5), false, num(kNothing), num(6)},
      // The step goes to the number field as read: a text's is 0.
      {"++2 (35)", op_increment2, 0, str("7"), false, num(kNothing), num(1)},
      {"++3", op_increment3, 2.5, num(1), false, num(kNothing), num(3.5)},
      {"++3", op_increment3, 2.5, num(1), true, num(1), num(3.5)},
      {"--3", op_decrement3, 2, num(1), true, num(1), num(-1)},
      // Texts: "++3" appends the constant, "--3" cuts that many characters.
      {"++3", op_increment3, 2.5, str("a"), false, num(kNothing), str("a2.5")},
      {"++3", op_increment3, 2.5, str("a"), true, str("a"), str("a2.5")},
      {"--3", op_decrement3, 2, str("hello"), false, num(kNothing), str("hel")},
      {"--3", op_decrement3, 2, str("hello"), true, str("hello"), str("hel")},
      // Counts outside the text stay within it.
      {"--3", op_decrement3, 9, str("hello"), false, num(kNothing), str("")},
      {"--3", op_decrement3, -3, str("hello"), false, num(kNothing), str("hello")},
  };
  for (const Row& row : rows) {
    std::string label = std::string(row.name) + " " + std::to_string(row.constant) + " on " + row.initial.describe() +
                        (row.used ? " used" : "");
    Variable* variable = holding("STEP$", row.initial);
    push_after_assign = row.used;
    run_fused(row.handler, "step$", row.constant);
    expect_pushed(row.pushed, variable, label);
    expect_holds(variable, row.stored, label);
  }
}

TEST_F(IncrementTest, FusedFormsFollowTheAliasChainAndCreateMissingVariables) {
  Variable* target = holding("TARGET%", num(10));
  Variable* alias = holding("ALIAS%", num(0));
  alias->alias = target;
  run_fused(op_increment4, "alias%", 0);
  expect_holds(target, num(11), "through the alias");
  alias_follow_suppressed = 1;
  run_fused(op_increment4, "alias%", 0);
  expect_holds(alias, num(1), "the alias itself when not followed");
  EXPECT_EQ(alias_follow_suppressed, 0);
  alias->alias = nullptr;

  run_fused(op_increment2, "fresh%", 0);
  Variable* fresh = find_variable("FRESH%");
  ASSERT_NE(fresh, nullptr);
  expect_holds(fresh, num(1), "declared on first use");
  push_after_assign = 1;
  run_fused(op_increment2, "nosuffix", 0);
  expect_pushed(num(0), nullptr, "a name that cannot be a variable");
}

TEST_F(IncrementTest, BitwiseCompoundAssignment) {
  struct Row {
    const char* name;
    BuiltinHandler generic;
    BuiltinHandler fused;
    double initial;
    double operand;
    double stored;
  };
  const Row rows[] = {
      {"|=", op_or_assign, op_or_assign2, 12, 3, 15},
      {"&=", op_and_assign, op_and_assign2, 12, 10, 8},
      {"^=", op_xor_assign, op_xor_assign2, 12, 10, 6},
      {"|=", op_or_assign, op_or_assign2, -1, 0, -1},
      {"&=", op_and_assign, op_and_assign2, 4294967296.0 + 5, 4294967296.0 + 3, 4294967296.0 + 1},
      {"^=", op_xor_assign, op_xor_assign2, 7.9, 1.2, 6},
  };
  for (const Row& row : rows) {
    std::string label = std::to_string(row.initial) + " " + row.name + " " + std::to_string(row.operand);
    for (bool used : {false, true}) {
      Variable* variable = holding("BITS%", num(row.initial));
      push_target(variable);
      push_number(row.operand);
      push_after_assign = used;
      row.generic();
      expect_pushed(used ? num(row.stored) : num(kNothing), variable, "generic " + label);
      expect_holds(variable, num(row.stored), "generic " + label);

      holding("BITS%", num(row.initial));
      push_number(row.operand);
      push_after_assign = used;
      run_fused(row.fused, "bits%", 0);
      expect_pushed(used ? num(row.stored) : num(kNothing), variable, "fused " + label);
      expect_holds(variable, num(row.stored), "fused " + label);
    }
  }
  // The generic forms take number fields as they stand: a text operand counts as 0.
  Variable* variable = holding("BITS%", num(12));
  push_target(variable);
  stack_push_value(const_cast<char*>("3"), 0, nullptr, 0);
  op_or_assign();
  expect_holds(variable, num(12), "text operand");
}

TEST_F(IncrementTest, PushedOldTextOutlivesTheStore) {
  // The used value of "++" is the old text; the store frees the variable's copy of it.
  Variable* variable = holding("OLD$", str("abc"));
  push_target(variable);
  push_after_assign = 1;
  op_increment();
  holding("OLD$", str("something else entirely"));
  ValueCell* cell = stack_pop(context);
  ASSERT_NE(cell->text, nullptr);
  EXPECT_STREQ(static_cast<char*>(cell->text), "abc");
}

TEST_F(IncrementTest, RegisteredNames) {
  builtin_registry_clear();
  register_increment_handlers();
  struct Name {
    const char* name;
    BuiltinHandler handler;
  };
  for (const Name& entry : {Name{"++", op_increment}, Name{"--", op_decrement}, Name{"++2", op_preincrement},
                            Name{"--2", op_predecrement}, Name{"|=", op_or_assign}, Name{"^=", op_xor_assign},
                            Name{"&=", op_and_assign}}) {
    int32_t index = find_builtin_by_hash(hash_name(entry.name, static_cast<int32_t>(std::strlen(entry.name))));
    ASSERT_GE(index, 0) << entry.name;
    EXPECT_EQ(builtin_entry(index)->handler, entry.handler) << entry.name;
  }
  builtin_registry_clear();
}

}  // namespace
