// Push instructions: what each pushes, in order, and the variable cache in the instruction.
#include "vm/push_instructions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "machine_fixture.h"
#include "platform/platform.h"

namespace {

class PushInstructions : public VariableMachineTest {
 protected:
  void SetUp() override {
    VariableMachineTest::SetUp();
    register_push_handlers();
  }

  // Runs one node as the current instruction.
  static void run(InstructionNode* node) {
    current_instruction = node;
    node->handler();
  }

  // Appends a fused node whose operand owns a copy of second.
  InstructionNode* add_fused(Chain& chain, BuiltinHandler handler, const char* text, const char* second) {
    char* owned = crt::_strdup(second);
    return chain.add(handler, static_cast<double>(platform::address_of(owned)), text);
  }

  // The cells above the bottom, lowest first, each as "n:<number>", "t:<text>" or "v:<NAME>=<text or number>".
  std::vector<std::string> cells() const {
    std::vector<ValueCell*> order;
    for (ValueCell* cell = context->stack_top; cell; cell = cell->below) order.insert(order.begin(), cell);
    std::vector<std::string> shown;
    for (ValueCell* cell : order) {
      std::string value = cell->text ? static_cast<const char*>(cell->text) : std::to_string(static_cast<int>(cell->number));
      if (cell->variable) shown.push_back("v:" + std::string(cell->variable->name) + "=" + value);
      else if (cell->text) shown.push_back("t:" + value);
      else shown.push_back("n:" + value);
    }
    return shown;
  }
};

TEST_F(PushInstructions, EachHandlerPushesItsOperandsInOrder) {
  make_variable(locals, "A$", "alpha");
  make_variable(context->globals, "B$", nullptr, 7);
  struct Row {
    const char* name;
    BuiltinHandler handler;
    const char* text;
    double operand;
    const char* second;  // owned second text, or null
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"PUSHSTR", op_pushstr, "hello", 0, nullptr, {"t:hello"}},
      {"PUSHINT", op_pushint, nullptr, 42, nullptr, {"n:42"}},
      {"PUSHPROCADDR", op_pushprocaddr, nullptr, 4096, nullptr, {"n:4096"}},
      {"PUSHINTSTR", op_pushintstr, "s", 3, nullptr, {"n:3", "t:s"}},
      {"PUSHSTRINT", op_pushstrint, "s", 3, nullptr, {"t:s", "n:3"}},
      {"PUSHSTRSTR", op_pushstrstr, "second", 0, "first", {"t:first", "t:second"}},
      {"PUSHVAR", op_pushvar, "A$", 0, nullptr, {"v:A$=alpha"}},
      {"NGPUSHVAR", op_ngpushvar, "B$", 0, nullptr, {"v:B$=7"}},
      {"PUSHINTVAR", op_pushintvar, "A$", 5, nullptr, {"n:5", "v:A$=alpha"}},
      {"PUSHVARINT", op_pushvarint, "A$", 5, nullptr, {"v:A$=alpha", "n:5"}},
      {"PUSHNGVARINT", op_pushngvarint, "B$", 6, nullptr, {"v:B$=7", "n:6"}},
      {"PUSHVARSTR", op_pushvarstr, "tail", 0, "A$", {"v:A$=alpha", "t:tail"}},
      {"PUSHNGVARSTR", op_pushngvarstr, "tail", 0, "B$", {"v:B$=7", "t:tail"}},
      {"PUSHSTRVAR", op_pushstrvar, "B$", 0, "head", {"t:head", "v:B$=7"}},
      {"PUSHVARVAR", op_pushvarvar, "B$", 0, "A$", {"v:A$=alpha", "v:B$=7"}},
      {"NGPUSHVARVAR", op_ngpushvarvar, "A$", 0, "B$", {"v:B$=7", "v:A$=alpha"}},
  };
  for (const Row& row : rows) {
    Chain chain;
    InstructionNode* node = row.second ? add_fused(chain, row.handler, row.text, row.second)
                                       : chain.add(row.handler, row.operand, row.text);
    if (row.second && row.operand == 0 && row.handler != op_pushstrstr) {
      // The operand holds the second text: variable pushes get their cache block.
      Chain::jump_to(node, nullptr);
    }
    stack_free_all(context);
    run(node);
    EXPECT_EQ(cells(), row.expected) << row.name;
  }
}

TEST_F(PushInstructions, PushIntIntReadsItsFirstNumberFromTheTextBlock) {
  Chain chain;
  InstructionNode* node = chain.add(op_pushintint, 2.5);
  auto* first = static_cast<double*>(crt::malloc(sizeof(double)));
  *first = -1e300;  // zero bytes inside: a text copy would lose it
  node->text = reinterpret_cast<char*>(first);
  run(node);
  ASSERT_EQ(depth(), 2);
  EXPECT_EQ(context->stack_top->below->number, -1e300);
  EXPECT_EQ(context->stack_top->number, 2.5);
}

TEST_F(PushInstructions, PushStrSharesTheInstructionsText) {
  Chain chain;
  InstructionNode* node = chain.add(op_pushstr, 0, "same");
  run(node);
  run(node);
  EXPECT_EQ(context->stack_top->text, node->text);
  EXPECT_EQ(context->stack_top->below->text, node->text);
}

TEST_F(PushInstructions, ReferenceCellsCarryTheKindOfTheValue) {
  Variable* wide = make_variable(locals, "W$", "x");
  wide->flags |= kVariableWideText;
  Chain chain;
  InstructionNode* node = chain.add(op_pushvar, 0, "W$");
  run(node);
  EXPECT_EQ(context->stack_top->flags, kCellWideText);
  EXPECT_EQ(context->stack_top->data, 0u);
  wide->flags &= ~kVariableWideText;
}

TEST_F(PushInstructions, AliasesAreFollowedUnlessTheNoFollowFormIsUsed) {
  // A by-reference parameter P$ aliases the caller's C$.
  Variable* caller = make_variable(context->globals, "C$", "caller's");
  Variable* parameter = make_variable(locals, "P$", nullptr);
  parameter->alias = caller;
  Chain chain;
  InstructionNode* follow = chain.add(op_pushvar, 0, "P$");
  InstructionNode* no_follow = chain.add(op_ngpushvar, 0, "P$");
  run(follow);
  EXPECT_EQ(context->stack_top->variable, caller);
  run(no_follow);
  EXPECT_EQ(context->stack_top->variable, parameter);
  run(follow);
  EXPECT_EQ(context->stack_top->variable, caller) << "the no-follow switch is one-shot";
  parameter->alias = nullptr;
}

TEST_F(PushInstructions, TheResolvedVariableIsCachedPerScope) {
  Variable* first = make_variable(locals, "N$", nullptr, 1);
  Chain chain;
  InstructionNode* node = chain.add(op_pushvar, 0, "N$");
  Chain::jump_to(node, nullptr);
  run(node);
  EXPECT_EQ(node->extension->cached_variable, first);
  EXPECT_EQ(node->extension->cached_scope, platform::address_of(locals));

  // Another scope (a recursive call) resolves its own N$ and the cache follows it.
  Variable* other_scope = variable_record_allocate(context, false);
  Variable* second = make_variable(other_scope, "N$", nullptr, 2);
  current_scope = other_scope;
  run(node);
  EXPECT_EQ(context->stack_top->variable, second);
  current_scope = locals;
  run(node);
  EXPECT_EQ(context->stack_top->variable, first);
  variable_list_release(context, other_scope, true);
  variable_list_free(context, other_scope);
}

// Once a push has found its variable in a local scope, a scope of another level is looked
// at the same position first; whatever the new scope holds, the push must take what a full
// lookup takes (the first record of the right key, the running object's member before
// any local, the globals when no local has the name).
TEST_F(PushInstructions, AnotherLevelsScopeGivesWhatALookupGives) {
  struct Record {
    const char* name;
    uint32_t key;
    bool nameless;  // a record whose name went but whose hash stayed
  };
  struct Case {
    const char* what;
    std::vector<Record> scope;  // after the head record
    bool global = false;        // a global N$ exists
    bool member = false;        // an object with a member N$ runs
    uint32_t key = 0;           // the pushes' scope key (a procedure inside a namespace)
  };
  const Case cases[] = {
      {"same shape as the first level", {{"P$", 0, false}, {"N$", 0, false}}},
      {"the name earlier than before", {{"N$", 0, false}, {"P$", 0, false}}},
      {"the name later than before", {{"P$", 0, false}, {"Q$", 0, false}, {"N$", 0, false}}},
      {"another key at the position", {{"P$", 0, false}, {"N$", 7, false}, {"N$", 0, false}}},
      {"only another key", {{"P$", 0, false}, {"N$", 7, false}}, true},
      {"no such local", {{"P$", 0, false}, {"Q$", 0, false}}, true},
      {"a nameless record at the position", {{"P$", 0, false}, {"N$", 0, true}, {"N$", 0, false}}},
      {"an object's member", {{"P$", 0, false}, {"N$", 0, false}}, false, true},
      // Every local of the level has the key: the record has to have the name as well.
      {"another name of the key first", {{"P$", 5, false}, {"N$", 5, false}}, false, false, 5},
  };
  Variable* first_p = make_variable(locals, "P$", "first p");
  Variable* first_n = make_variable(locals, "N$", "first n");
  Variable* global = nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The first level: both pushes find N$ third in their scope.
    Chain chain;
    InstructionNode* single = chain.add(op_pushvar, 0, "N$");
    InstructionNode* fused = add_fused(chain, op_pushvarvar, "P$", "N$");
    Chain::jump_to(single, nullptr);
    Chain::jump_to(fused, nullptr);
    for (InstructionNode* node : {single, fused}) node->extension->scope_key = c.key;
    for (Variable* variable : {first_p, first_n}) variable->scope_key = c.key;
    current_scope = locals;
    run(single);
    run(fused);
    ASSERT_EQ(single->extension->local_position, 3);
    ASSERT_EQ(fused->extension->local_position2, 3);

    Variable* scope = variable_record_allocate(context, false);
    for (const Record& record : c.scope) {
      Variable* variable = make_variable(scope, record.name, "level");
      variable->scope_key = record.key;
      if (record.nameless) {
        crt::free(variable->name);
        variable->name = nullptr;
      }
    }
    if (c.global && !global) global = make_variable(context->globals, "N$", "global");
    Variable* object = nullptr;
    if (c.member) {
      object = variable_record_allocate(context, false);
      make_variable(object, "N$", "member");
      current_object = object;
    }
    current_scope = scope;
    current_instruction = single;
    Variable* expected = find_variable("N$");
    ASSERT_NE(expected, nullptr);
    stack_free_all(context);
    run(single);
    EXPECT_EQ(context->stack_top->variable, expected);
    run(fused);
    EXPECT_EQ(context->stack_top->below->variable, expected);

    stack_free_all(context);
    current_object = nullptr;
    current_scope = locals;
    for (Variable* list : {scope, object}) {
      if (!list) continue;
      variable_list_release(context, list, true);
      variable_list_free(context, list);
    }
  }
}

TEST_F(PushInstructions, AVariableFreedSinceItWasCachedIsResolvedAgain) {
  make_variable(locals, "X$", "old");
  Chain chain;
  InstructionNode* single = chain.add(op_pushvar, 0, "X$");
  InstructionNode* fused = add_fused(chain, op_pushvarvar, "Z$", "X$");
  Chain::jump_to(single, nullptr);
  Chain::jump_to(fused, nullptr);
  make_variable(locals, "Z$", "z");
  run(single);
  run(fused);
  Variable* stale = single->extension->cached_variable;
  ASSERT_EQ(fused->extension->cached_variable2, stale);

  // The scope's names go; the freed record is taken by another name, X$ gets a new one.
  variable_list_release(context, locals, true);
  Variable* reused = make_variable(locals, "Y$", "wrong");
  ASSERT_EQ(reused, stale) << "the test needs the record to be reused";
  make_variable(locals, "Z$", "z");
  Variable* fresh = make_variable(locals, "X$", "right");
  stack_free_all(context);
  run(single);
  EXPECT_EQ(context->stack_top->variable, fresh);
  run(fused);
  EXPECT_EQ(context->stack_top->below->variable, fresh);
  EXPECT_STREQ(static_cast<const char*>(context->stack_top->below->text), "right");
}

TEST_F(PushInstructions, AVariableCachedInAMethodIsResolvedAgainForAnotherObject) {
  Variable* object_a = variable_record_allocate(context, false);
  Variable* object_b = variable_record_allocate(context, false);
  Variable* member_a = make_variable(object_a, "M$", "of a");
  Variable* member_b = make_variable(object_b, "M$", "of b");
  Chain chain;
  InstructionNode* node = chain.add(op_pushvar, 0, "M$");
  Chain::jump_to(node, nullptr);
  current_object = object_a;
  run(node);
  EXPECT_EQ(context->stack_top->variable, member_a);
  EXPECT_EQ(node->extension->cached_scope, platform::address_of(object_a));
  current_object = object_b;
  run(node);
  EXPECT_EQ(context->stack_top->variable, member_b);
  current_object = nullptr;
  for (Variable* object : {object_a, object_b}) {
    variable_list_release(context, object, true);
    variable_list_free(context, object);
  }
}

TEST_F(PushInstructions, AMissingVariableIsDeclaredInTheCurrentScope) {
  Chain chain;
  InstructionNode* node = chain.add(op_pushvar, 0, "NEW$");
  run(node);
  ASSERT_NE(context->stack_top->variable, nullptr);
  EXPECT_EQ(context->stack_top->variable->scope, locals);
  EXPECT_EQ(find_variable("NEW$"), context->stack_top->variable);
}

}  // namespace
