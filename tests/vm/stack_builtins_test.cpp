// Stack marks and the value-stack built-ins: the mark table's bound, the inner handler's
// turn, and what each built-in leaves on the stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/value_ownership.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "machine_fixture.h"
#include "foundation/hashes.h"
#include "vm/builtin_registry.h"
#include "vm/stack_builtins.h"

namespace {

using StackBuiltins = MachineTest;

int inner_runs = 0;
int32_t marks_seen_by_inner = -1;
void op_inner_counts() {
  ++inner_runs;
  marks_seen_by_inner = current_program->mark_count;
}

// Runs handler as the instruction being executed, with op_inner_counts as inner handler.
void run_as_instruction(BuiltinHandler handler) {
  InstructionNode node{};
  node.handler = handler;
  node.inner_handler = op_inner_counts;
  current_instruction = &node;
  handler();
  current_instruction = nullptr;
}

int32_t stack_depth(const ProgramContext* context) {
  int32_t depth = 0;
  for (const ValueCell* cell = context->stack_top; cell; cell = cell->below) ++depth;
  return depth;
}

TEST_F(StackBuiltins, MarkSaversStopAtTheTableSize) {
  struct Case {
    const char* name;
    BuiltinHandler handler;
    int32_t marks_before;
    int32_t marks_after;  // == marks_before: refused
  };
  const Case cases[] = {
      {"savesp", builtin_savesp, 0, 1},
      {"savesp at the last slot", builtin_savesp, kStackMarkSlots - 1, kStackMarkSlots},
      {"savesp past the table", builtin_savesp, kStackMarkSlots, kStackMarkSlots},
      {"savesp2", builtin_savesp2, 0, 2},
      {"savesp2 into the last two slots", builtin_savesp2, kStackMarkSlots - 2, kStackMarkSlots},
      {"savesp2 with one slot left", builtin_savesp2, kStackMarkSlots - 1, kStackMarkSlots - 1},
  };
  for (const Case& row : cases) {
    stack_push_number(context, 1);
    context->mark_count = row.marks_before;
    inner_runs = 0;
    unsigned errors = runtime_error_count();
    run_as_instruction(row.handler);
    bool refused = row.marks_after == row.marks_before;
    EXPECT_EQ(context->mark_count, row.marks_after) << row.name;
    EXPECT_EQ(runtime_error_count(), errors + (refused ? 1 : 0)) << row.name;
    EXPECT_EQ(inner_runs, refused ? 0 : 1) << row.name << ": the inner handler runs after a saved mark";
    if (!refused) {
      EXPECT_EQ(marks_seen_by_inner, row.marks_after) << row.name;
      for (int32_t slot = row.marks_before; slot < row.marks_after; ++slot) {
        EXPECT_EQ(context->stack_marks[slot], context->stack_top) << row.name;
      }
    }
    context->mark_count = 0;
  }
}

TEST_F(StackBuiltins, PushKeepsItsArgumentsAndTakesTheMark) {
  stack_push_number(context, 9);
  run_as_instruction(builtin_savesp);
  stack_push_number(context, 1);
  stack_push_number(context, 2);
  builtin_push();
  EXPECT_EQ(context->mark_count, 0);
  EXPECT_EQ(stack_depth(context), 3);
  EXPECT_EQ(context->stack_top->number, 2.0);

  unsigned errors = runtime_error_count();
  builtin_push();
  EXPECT_EQ(runtime_error_count(), errors + 1) << "a consumer without a mark is refused";
  EXPECT_EQ(context->mark_count, 0);
}

TEST_F(StackBuiltins, DupstackCopiesTheTopValueWithoutItsFlags) {
  char text[] = "abc";
  stack_push_value(text, 4, nullptr, 77);
  context->stack_top->flags = kCellByReference;
  builtin_dupstack();
  ASSERT_EQ(stack_depth(context), 2);
  ValueCell* copy = context->stack_top;
  EXPECT_EQ(copy->text, text);
  EXPECT_EQ(copy->number, 4.0);
  EXPECT_EQ(copy->data, 77u);
  EXPECT_EQ(copy->flags, 0u);
  EXPECT_EQ(copy->below->flags, kCellByReference);

  builtin_clearstack();
  unsigned errors = runtime_error_count();
  builtin_dupstack();
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(StackBuiltins, DropstackRunsTheInnerHandlerFirst) {
  inner_runs = 0;
  stack_push_number(context, 1);
  stack_push_number(context, 2);
  ValueCell* lower = context->stack_top->below;
  run_as_instruction(stack_drop);
  EXPECT_EQ(inner_runs, 1);
  EXPECT_EQ(context->stack_top, lower);

  inner_runs = 0;
  InstructionNode node{};
  node.handler = stack_drop;
  node.inner_handler = [] { stack_push_number(current_program, 5); };
  current_instruction = &node;
  stack_drop();
  EXPECT_EQ(context->stack_top, lower) << "the cell the inner handler pushed is the one dropped";
}

TEST_F(StackBuiltins, DropstackFreesTheCellsTemporaryReferences) {
  stack_push_number(context, 1);
  auto* node = static_cast<ReferenceNode*>(crt::calloc(1, sizeof(ReferenceNode)));
  node->block = crt::malloc(32);
  context->stack_top->references = node;
  ValueCell* dropped = context->stack_top;
  current_instruction = nullptr;
  stack_drop();
  EXPECT_EQ(context->stack_top, nullptr);
  EXPECT_EQ(dropped->references, nullptr) << "the sanitizer build sees a leak when they are not freed";
}

// countstack needs a scope to find or declare its variable in.
class CountStack : public StackBuiltins {
 protected:
  void SetUp() override {
    StackBuiltins::SetUp();
    locals = open_scope_lists(context);
    free_percent_variables(context);
  }
  void TearDown() override {
    close_scope_lists(context, locals);
    StackBuiltins::TearDown();
  }
  Variable* locals = nullptr;
};

TEST_F(CountStack, CountsTheCellsBelowItsArgument) {
  // push(7) then dupstack() then countstack(n): both cells are counted.
  run_as_instruction(builtin_savesp);
  stack_push_number(context, 7);
  builtin_push();
  builtin_dupstack();
  Variable* by_reference = create_variable(locals, "N%", false);
  ASSERT_NE(by_reference, nullptr);
  stack_push_value(nullptr, 0, by_reference, 0);
  builtin_countstack();
  EXPECT_EQ(by_reference->number, 2.0);
  EXPECT_EQ(stack_depth(context), 2) << "the argument is gone";

  char name[] = "COUNT%";
  stack_push_value(name, 0, nullptr, 0);
  builtin_countstack();
  Variable* by_name = find_variable("COUNT%");
  ASSERT_NE(by_name, nullptr) << "declared on first use";
  EXPECT_EQ(by_name->number, 2.0);

  char untyped[] = "NOTYPE";
  stack_push_value(untyped, 0, nullptr, 0);
  unsigned errors = runtime_error_count();
  builtin_countstack();
  EXPECT_EQ(find_variable("NOTYPE"), nullptr);
  EXPECT_EQ(stack_depth(context), 2);
  EXPECT_EQ(runtime_error_count(), errors) << "a name that cannot be a variable changes nothing";
}

using Pull = CountStack;

TEST_F(Pull, TheFirstArgumentTakesTheValuePushedLast) {
  struct Case {
    const char* what;
    std::vector<double> pushed;  // push(...) before pull
    int32_t arguments;           // pull(A%, B%, ...)
    std::vector<double> expected;  // A%, B%, ...; -1: never assigned
    int32_t depth_after;
  };
  const Case cases[] = {
      {"three values", {1, 2, 3}, 3, {3, 2, 1}, 0},
      {"one of three", {1, 2, 3}, 1, {3}, 2},
      {"fewer values than arguments", {5}, 3, {5, -1, -1}, 0},
      {"no values", {}, 2, {-1, -1}, 0},
  };
  const char* names[] = {"A%", "B%", "C%"};
  for (const Case& row : cases) {
    builtin_clearstack();
    std::vector<Variable*> targets;
    for (int32_t index = 0; index < row.arguments; ++index) {
      Variable* target = create_variable(locals, names[index], true);
      ASSERT_NE(target, nullptr);
      set_variable(target, nullptr, -1, nullptr, 0);
      targets.push_back(target);
    }
    run_as_instruction(builtin_savesp);
    for (double value : row.pushed) stack_push_number(context, value);
    builtin_push();
    run_as_instruction(builtin_savesp);
    for (Variable* target : targets) stack_push_value(nullptr, 0, target, 0);
    unsigned errors = runtime_error_count();
    builtin_pull();
    EXPECT_EQ(runtime_error_count(), errors) << row.what;
    for (size_t index = 0; index < targets.size(); ++index) {
      EXPECT_EQ(targets[index]->number, row.expected[index]) << row.what << ": " << names[index];
    }
    EXPECT_EQ(stack_depth(context), row.depth_after) << row.what;
    EXPECT_EQ(context->mark_count, 0) << row.what;
  }
}

TEST_F(Pull, TextsKeepTheirKind) {
  Variable* narrow = create_variable(locals, "N$", false);
  Variable* wide = create_variable(locals, "W$", false);
  ASSERT_TRUE(narrow && wide);
  char text[] = "abc";
  char16_t wide_text[] = u"\u00e9t\u00e9";
  stack_push_value(text, 0, nullptr, 0);
  stack_push_value(wide_text, 0, nullptr, 0);
  context->stack_top->flags = kCellWideText;
  run_as_instruction(builtin_savesp);
  stack_push_value(nullptr, 0, wide, 0);
  stack_push_value(nullptr, 0, narrow, 0);
  builtin_pull();
  ASSERT_NE(narrow->data, nullptr);
  ASSERT_NE(wide->data, nullptr);
  EXPECT_STREQ(static_cast<const char*>(narrow->data), "abc");
  EXPECT_TRUE(wide->flags & kVariableWideText) << "UTF-16 text stays UTF-16";
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(wide->data)), u"\u00e9t\u00e9");
  EXPECT_EQ(stack_depth(context), 0);
}

TEST_F(Pull, MoreArgumentsThanItsTableAreRefused) {
  Variable* target = create_variable(locals, "A%", false);
  ASSERT_NE(target, nullptr);
  stack_push_number(context, 42);
  run_as_instruction(builtin_savesp);
  for (int32_t index = 0; index <= kPullArgumentSlots; ++index) stack_push_value(nullptr, 0, target, 0);
  unsigned errors = runtime_error_count();
  builtin_pull();
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(target->number, 0) << "nothing assigned";
  EXPECT_EQ(stack_depth(context), 1) << "the arguments are gone, the values stay";
  EXPECT_EQ(context->mark_count, 0);
}

TEST_F(StackBuiltins, ClearstackEmptiesTheStackAndItsMarks) {
  for (int value = 0; value < 5; ++value) stack_push_number(context, value);
  run_as_instruction(builtin_savesp);
  builtin_clearstack();
  EXPECT_EQ(context->stack_top, nullptr);
  EXPECT_EQ(context->mark_count, 0);
  stack_push_number(context, 3);
  ASSERT_NE(context->stack_top, nullptr);
  EXPECT_EQ(context->stack_top->below, nullptr) << "a fresh cell after clearing";
  EXPECT_EQ(context->stack_top->number, 3.0);
}

TEST_F(StackBuiltins, RegisteredByTheirScriptNames) {
  builtin_registry_clear();
  register_stack_builtins();
  struct Case {
    const char* name;
    BuiltinHandler handler;
  };
  const Case cases[] = {{"__SAVESP", builtin_savesp},   {"__SAVESP2", builtin_savesp2},
                        {"PUSH", builtin_push},         {"PULL", builtin_pull},
                        {"DUPSTACK", builtin_dupstack},
                        {"COUNTSTACK", builtin_countstack},
                        {"DROPSTACK", stack_drop},      {"CLEARSTACK", builtin_clearstack}};
  for (const Case& row : cases) {
    BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(row.name)));
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->handler, row.handler) << row.name;
  }
  builtin_registry_clear();
}

}  // namespace
