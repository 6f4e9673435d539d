// "=" and its fused forms over numbers, 8-bit and UTF-16 texts, packed lists, structure
// values and by-reference cells; "M=", "__set_push" and "validint".
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/runtime_error.h"
#include "operator_fixture.h"
#include "foundation/hashes.h"
#include "vm/arithmetic.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"
#include "vm/compound_assignment.h"

namespace {

// Stands in for the packed-list layer: a variable keeps its own copy of a list of
// numbers.
void store_list_copy(Variable* variable, void* list) {
  uint32_t size = alloc_block_size(list);
  void* copy = crt::malloc(size);
  std::memcpy(copy, list, size);
  variable_free_data(current_program, variable);
  variable->data = copy;
  variable->flags |= kVariableOwnsData | kVariablePackedList;
}

class Assignment : public OperatorTest {
 protected:
  void SetUp() override {
    OperatorTest::SetUp();
    ownership_services.store_packed_list = store_list_copy;
  }
  void TearDown() override {
    ownership_services = {};
    OperatorTest::TearDown();
  }
};

// How the value reaches "=": through the generic handler with a target cell, or through
// "=2" with the target named by the instruction.
enum class Route { kGeneric, kFused };

struct Case {
  const char* value;
  const char* result;  // the variable's value afterwards
};

const Case kCases[] = {
    {"5", "5"},
    {"-2.5", "-2.5"},
    {"'ab'", "'ab'"},
    {"''", "''"},
    {"w'ab'", "w'ab'"},
    {"[1,2]", "[1,2]"},
    {"[]", "[]"},
};

}  // namespace

TEST_F(Assignment, EveryValueKindThroughTheGenericAndFusedHandlers) {
  for (Route route : {Route::kGeneric, Route::kFused}) {
    for (const char* initial : {"7", "'old'", "w'wide'"}) {
      for (const Case& row : kCases) {
        std::string name = std::string(initial) + " = " + row.value + (route == Route::kFused ? " through \"=2\"" : "");
        Variable* variable = variable_holding("A$", initial);
        if (route == Route::kGeneric) {
          stack_push_variable("A$");
          push_form(row.value);
          op_assign();
        } else {
          push_form(row.value);
          run(op_assign2, 0, "A$");
        }
        EXPECT_EQ(variable_form(variable), row.result) << name;
        EXPECT_EQ(drain_stack(), "") << name << ": nothing pushed without the switch";
        variable_clear_value(context, variable, false, false);
      }
    }
  }
}

TEST_F(Assignment, TheValueIsCopiedNotShared) {
  Variable* source = variable_holding("S$", "'text'");
  Variable* target = variable_holding("A$", "0");
  stack_push_variable("A$");
  stack_push_variable("S$");
  op_assign();
  EXPECT_EQ(variable_form(target), "'text'");
  EXPECT_NE(target->data, source->data);
  static_cast<char*>(source->data)[0] = 'n';
  EXPECT_EQ(variable_form(target), "'text'");
}

// A store takes a text block over in place only when its cell alone holds it (the sole
// mark) and it is the program's newest block, whose record can go without a walk;
// otherwise the variable gets a copy and the block stays the program's, with its record.
TEST_F(Assignment, AStoreTakesOverOnlyASoleNewestBlock) {
  const auto owns = [this](const void* block) {
    for (OwnedAllocation* record = context->owned; record; record = record->next) {
      if (record->pointer == block) return true;
    }
    return false;
  };
  struct Row {
    const char* name;
    bool sole;
    bool newer_block;  // another block of the program made after the value's
    bool taken;
  };
  const Row rows[] = {
      {"a join's own result", true, false, true},
      {"a block without the sole mark", false, false, false},
      {"a block made before another", true, true, false},
  };
  for (const Row& row : rows) {
    Variable* variable = variable_holding("A$", "'old'");
    push_form("'joined'");
    ValueCell* value = context->stack_top;
    if (row.sole) value->flags |= kCellSoleText;
    void* const block = value->text;
    const void* newer = row.newer_block ? program_text("newer") : nullptr;
    run(op_assign2, 0, "A$");
    EXPECT_EQ(variable_form(variable), "'joined'") << row.name;
    EXPECT_EQ(variable->data == block, row.taken) << row.name;
    EXPECT_EQ(owns(block), !row.taken) << row.name;
    if (newer) EXPECT_TRUE(owns(newer)) << row.name;
    variable_clear_value(context, variable, false, false);
  }
}

TEST_F(Assignment, PushSwitchYieldsTheAssignedValueOnce) {
  struct Row {
    const char* name;
    void (*assign)(Assignment*);
    const char* pushed;
  };
  static char* owned_text = nullptr;
  const Row rows[] = {
      {"=", [](Assignment*) { stack_push_variable("A$"), push_form("'v'"), op_assign(); }, "'v'"},
      {"=2", [](Assignment* test) { push_form("4"), test->run(op_assign2, 0, "A$"); }, "4"},
      {"=3", [](Assignment* test) { test->run(op_assign3, 9, "A$"); }, "9"},
      {"=4",
       [](Assignment* test) {
         owned_text = crt::_strdup("lit");
         test->run(op_assign4, static_cast<double>(platform::address_of(owned_text)), "A$");
       },
       "'lit'"},
      {"=5", [](Assignment* test) { stack_push_variable("A$"), test->run(op_assign5, 3); }, ""},
  };
  for (const Row& row : rows) {
    Variable* variable = variable_holding("A$", "0");
    push_after_assign = 1;
    row.assign(this);
    ValueCell* top = context->stack_top;
    if (*row.pushed) {
      ASSERT_NE(top, nullptr) << row.name;
      EXPECT_EQ(top->variable, variable) << row.name;
    }
    EXPECT_EQ(drain_stack(), row.pushed) << row.name;
    EXPECT_EQ(push_after_assign, *row.pushed ? 0 : 1) << row.name << ": only a pushing form clears the switch";
    push_after_assign = 0;
    crt::free(owned_text);
    owned_text = nullptr;
  }
}

TEST_F(Assignment, FusedConstantsStoreTheInstructionsValue) {
  Variable* variable = variable_holding("A$", "w'wide'");
  char* text = crt::_strdup("from the operand");
  run(op_assign4, static_cast<double>(platform::address_of(text)), "A$");
  crt::free(text);
  EXPECT_EQ(variable_form(variable), "'from the operand'") << "a copy, and no longer UTF-16";
  run(op_assign3, 2.5, "A$");
  EXPECT_EQ(variable_form(variable), "2.5");
  stack_push_variable("A$");
  run(op_assign5, 0, "constant text");
  EXPECT_EQ(variable_form(variable), "'constant text'");
  stack_push_variable("A$");
  run(op_assign5, 6);
  EXPECT_EQ(variable_form(variable), "6");
  EXPECT_EQ(drain_stack(), "");
}

TEST_F(Assignment, StoringIntoABoundVariableEndsTheBinding) {
  Variable* bound = variable_holding("A$", "1");
  Variable* other = variable_holding("B$", "2");
  bound->alias = other;
  alias_follow_suppressed = 1;  // the target itself, as a no-follow push gives it
  stack_push_variable("A$");
  push_form("3");
  op_assign();
  EXPECT_EQ(bound->alias, nullptr);
  EXPECT_EQ(variable_form(bound), "3");
  EXPECT_EQ(variable_form(other), "2");
}

TEST_F(Assignment, ByReferenceTargetAndValueBind) {
  Variable* bound = variable_holding("A$", "1");
  Variable* source = variable_holding("S$", "'s'");
  stack_push_variable("A$");
  context->stack_top->flags |= kCellByReference;
  stack_push_variable("S$");
  context->stack_top->flags |= kCellByReference;
  op_assign();
  EXPECT_EQ(bound->alias, source);
  // "=2" with a non-zero operand makes the same by-reference target.
  Variable* second = variable_holding("C$", "1");
  stack_push_variable("S$");
  context->stack_top->flags |= kCellByReference;
  run(op_assign2, 1, "C$");
  EXPECT_EQ(second->alias, source);
}

TEST_F(Assignment, ByReferenceTargetWithAPlainValueTakesTheSourcesBlock) {
  Variable* target = variable_holding("A$", "'old'");
  Variable* source = variable_holding("S$", "'shared'");
  stack_push_variable("A$");
  context->stack_top->flags |= kCellByReference;
  stack_push_variable("S$");
  op_assign();
  EXPECT_EQ(target->data, source->data);
  EXPECT_EQ(target->flags & kVariableOwnsData, 0u) << "the source keeps the block";
  EXPECT_EQ(variable_form(target), "'shared'");
}

TEST_F(Assignment, StructureValueHandsItsBlocksToTheVariable) {
  // A computed structure value: its data and one owned block that the cell's chain holds.
  Variable* target = variable_holding("A$", "0");
  stack_push_variable("A$");
  push_form("0");
  ValueCell* value = context->stack_top;
  value->text = program_block(crt::calloc(8, 1));
  char* owned = crt::_strdup("member text");
  ASSERT_TRUE(cell_add_reference(value, owned, nullptr, 0));
  op_assign();
  EXPECT_EQ(value->references, nullptr) << "the cell's chain is freed";
  ASSERT_NE(target->references, nullptr);
  EXPECT_NE(target->references->block, owned);
  EXPECT_STREQ(static_cast<char*>(target->references->block), "member text");
}

TEST_F(Assignment, MultipleAssignmentGivesTheFirstTargetTheFirstValue) {
  struct Row {
    std::vector<const char*> values;
    int count;
    const char* a;
    const char* b;
    const char* c;
  };
  const Row rows[] = {
      {{"1", "'two'", "3"}, 3, "1", "'two'", "3"},
      {{"1"}, 3, "1", "0", "0"},
      {{"1", "2", "3", "4"}, 3, "1", "2", "3"},  // the surplus is dropped, never a target
      {{}, 3, "0", "0", "0"},
  };
  for (const Row& row : rows) {
    Variable* a = variable_holding("A$", "9");
    Variable* b = variable_holding("B$", "9");
    Variable* c = variable_holding("C$", "9");
    stack_push_variable("A$");
    stack_push_variable("B$");
    stack_push_variable("C$");
    ASSERT_TRUE(stack_save_mark(context));
    for (const char* value : row.values) push_form(value);
    stack_push_number(context, row.count);
    op_massign();
    std::string name = std::to_string(row.values.size()) + " values";
    EXPECT_EQ(variable_form(a), row.a) << name;
    EXPECT_EQ(variable_form(b), row.b) << name;
    EXPECT_EQ(variable_form(c), row.c) << name;
    EXPECT_EQ(drain_stack(), "") << name;
  }
}

TEST_F(Assignment, MultipleAssignmentWithThePushSwitchKeepsTargetsApart) {
  Variable* a = variable_holding("A$", "0");
  Variable* b = variable_holding("B$", "0");
  stack_push_variable("A$");
  stack_push_variable("B$");
  ASSERT_TRUE(stack_save_mark(context));
  push_form("'x'");
  push_form("'y'");
  push_after_assign = 1;
  stack_push_number(context, 2);
  op_massign();
  EXPECT_EQ(variable_form(a), "'x'");
  EXPECT_EQ(variable_form(b), "'y'");
  EXPECT_EQ(drain_stack(), "'y' 'x'");
  EXPECT_EQ(push_after_assign, 0);
}

TEST_F(Assignment, MultipleAssignmentLimitsAndEmptyCount) {
  // Count 0: nothing stored, the switch cleared.
  Variable* a = variable_holding("A$", "9");
  stack_push_variable("A$");
  ASSERT_TRUE(stack_save_mark(context));
  push_after_assign = 1;
  stack_push_number(context, 0);
  op_massign();
  EXPECT_EQ(variable_form(a), "9");
  EXPECT_EQ(push_after_assign, 0);
  drain_stack();
  // More than 255 targets are refused with an error, and their cells are taken off.
  for (int index = 0; index < 256; ++index) stack_push_variable("A$");
  ASSERT_TRUE(stack_save_mark(context));
  push_form("1");
  stack_push_number(context, 256);
  unsigned errors = runtime_error_count();
  op_massign();
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(variable_form(a), "9");
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(Assignment, ValidintTestsEveryArgument) {
  struct Row {
    std::vector<const char*> arguments;
    const char* result;
  };
  const Row rows[] = {
      {{"'12'", "'3.5'", "7"}, "1"}, {{"'12'", "'abc'"}, "0"}, {{}, "0"},
      {{"'1e5'"}, "0"},              {{"w'42'"}, "1"},        {{"-3.25"}, "1"},
  };
  for (const Row& row : rows) {
    stack_push_number(context, 99);
    ASSERT_TRUE(stack_save_mark(context));
    for (const char* argument : row.arguments) push_form(argument);
    op_validint();
    EXPECT_EQ(drain_stack(), std::string("99 ") + row.result) << row.arguments.size() << " arguments";
  }
}

TEST_F(Assignment, OperatorsAreRegisteredByTheirNames) {
  builtin_registry_clear();
  register_assignment_handlers();
  register_arithmetic_handlers();
  register_compound_assignment_handlers();
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  const Row rows[] = {
      {"=", op_assign},     {"M=", op_massign},   {"__SET_PUSH", op_set_push}, {"VALIDINT", op_validint},
      {"+", op_add},        {"-", op_sub},        {"*", op_mul},               {"/", op_div},
      {"CONCAT", op_concat}, {"%", op_percent},   {"+=", op_add_assign},       {"-=", op_sub_assign},
      {"*=", op_mul_assign}, {"/=", op_div_assign},
  };
  for (const Row& row : rows) {
    BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(row.name)));
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->handler, row.handler) << row.name;
  }
  BuiltinEntry* concat = builtin_entry(find_builtin_by_hash(hash_name_text("CONCAT")));
  EXPECT_TRUE(concat->variadic && concat->save_sp && concat->returns_value);
  builtin_registry_clear();
}

TEST_F(Assignment, AFusedTextStoreOwnsTheTextItsOperandAddresses) {
  register_assignment_handlers();
  // Freeing the node frees the text too; the sanitizer build reports it otherwise.
  char* text = crt::_strdup("kept by the node");
  Chain chain;
  chain.add(op_assign4, static_cast<double>(platform::address_of(text)), "A$");
  Variable* variable = variable_holding("A$", "0");
  current_instruction = chain.first;
  op_assign4();
  current_instruction = nullptr;
  EXPECT_EQ(variable_form(variable), "'kept by the node'");
  builtin_registry_clear();
}
