// Control-flow handlers on hand-built chains: conditions, FOR with and without a step,
// the first pass of a loop whose limit calls a function with its own loop, FOREACH over
// lists, packed lists, arrays and structures, BREAK, CASE and TRY blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "flow_fixture.h"
#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/runtime_error.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"
#include "vm/control_flow.h"
#include "vm/declarations.h"

extern "C" void fault_write_handler();

namespace {

using ControlFlow = FlowTest;

// What follows a test that jumps when it fails: trace 1 where it goes on, trace 2 where
// it jumps (the run goes on after the linked node).
void add_outcomes(Chain& chain, InstructionNode* test) {
  chain.add(op_trace, 1);
  InstructionNode* link = chain.add(op_end);
  chain.add(op_trace, 2);
  chain.add(op_end);
  Chain::jump_to(test, link);
}

// ---- Conditions ----

TEST_F(ControlFlow, ConditionIsFalseOnlyForTheNumberZeroWithoutText) {
  struct Case {
    const char* name;
    const char* text;  // null: a number cell
    double number;
    bool taken;        // the true branch runs
  } cases[] = {
      {"zero", nullptr, 0, false},  {"one", nullptr, 1, true},     {"negative", nullptr, -0.5, true},
      {"empty text", "", 0, true},  {"text zero", "0", 0, true},   {"NaN", nullptr, NAN, true},
  };
  for (const Case& row : cases) {
    trace.clear();
    Chain chain;
    if (row.text) {
      chain.add(op_push_text, 0, row.text);
    } else {
      chain.add(op_push_operand, row.number);
    }
    InstructionNode* condition = chain.add(flow::op_branch_if_false);
    add_outcomes(chain, condition);
    int before = depth();
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, std::vector<int>{row.taken ? 1 : 2}) << row.name;
    EXPECT_EQ(depth(), before) << row.name << ": the condition is popped";
  }
}

TEST_F(ControlFlow, ConditionRunsItsFusedComparisonFirst) {
  Chain chain;
  InstructionNode* condition = chain.add(flow::op_branch_if_false);
  condition->inner_handler = [] { stack_push_number(current_program, 0); };
  add_outcomes(chain, condition);
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, std::vector<int>{2});
  EXPECT_EQ(context->stack_top, nullptr);
}

// ---- FOR ----

// FOR I% = start TO limit [STEP step]: trace I% in the body; the body can skip the rest
// of a pass (CONTINUE) when I% equals skip.
struct ForLoop {
  Chain chain;
  InstructionNode* init;
  ForLoop(const char* start_text, double start, double limit, std::optional<double> step, double skip = 1e9) {
    init = chain.add(flow::op_initfor);
    chain.add(op_mark);
    chain.add(op_push_variable, 0, "I%");
    if (start_text) {
      chain.add(op_push_text, 0, start_text);
    } else {
      chain.add(op_push_operand, start);
    }
    chain.add(op_push_operand, limit);
    if (step) chain.add(op_push_operand, *step);
    InstructionNode* test = chain.add(flow::op_for);
    chain.add(op_push_differs, skip, "I%");
    InstructionNode* continue_test = chain.add(flow::op_branch_if_false);
    chain.add(op_trace_variable, 0, "I%");
    InstructionNode* back = chain.add(flow::op_branch);
    chain.add(flow::op_endloop);
    chain.add(op_end);
    Chain::jump_to(test, back);
    Chain::jump_to(back, init);
    // CONTINUE: back to the loop's head.
    Chain::jump_to(continue_test, back->previous);
    continue_test->extension->link = init;
  }
};

TEST_F(ControlFlow, ForCountsFromStartToLimit) {
  struct Case {
    const char* name;
    double start, limit;
    std::optional<double> step;
    std::vector<int> visited;
  } cases[] = {
      {"up by one", 1, 4, std::nullopt, {1, 2, 3, 4}},
      {"down without STEP", 5, 1, std::nullopt, {5, 4, 3, 2, 1}},
      {"one pass", 1, 1, std::nullopt, {1}},
      {"empty with STEP 1", 1, 0, 1, {}},
      {"STEP 3 lands on the limit", 1, 10, 3, {1, 4, 7, 10}},
      {"STEP 4 passes the limit", 1, 10, 4, {1, 5, 9}},
      {"negative STEP", 10, 1, -4, {10, 6, 2}},
      {"negative STEP upward is empty", 1, 10, -1, {}},
  };
  for (const Case& row : cases) {
    trace.clear();
    set_variable_by_name("I%", nullptr, 99, nullptr, 0);
    ForLoop loop(nullptr, row.start, row.limit, row.step);
    vm_run_loop(loop.chain.first);
    EXPECT_EQ(trace, row.visited) << row.name;
    EXPECT_EQ(context->call_depth, 0) << row.name;
    EXPECT_EQ(context->stack_top, nullptr) << row.name << ": FOR consumes its operands";
  }
}

TEST_F(ControlFlow, ForReadsTextOperandsAsNumbersAndContinueSkipsTheRestOfAPass) {
  ForLoop loop("2", 0, 5, std::nullopt, 4);
  vm_run_loop(loop.chain.first);
  EXPECT_EQ(trace, (std::vector<int>{2, 3, 5}));
}

TEST_F(ControlFlow, ForWhoseLimitCallsAFunctionWithItsOwnLoopStartsAtItsStart) {
  // FUNCTION F: FOR J% = 1 TO 2 ... NEXT: returns 2.
  Chain function;
  InstructionNode* head = function.procedure("PROCF");
  InstructionNode* init = function.add(flow::op_initfor);
  function.add(op_mark);
  function.add(op_push_variable, 0, "J%");
  function.add(op_push_operand, 1);
  function.add(op_push_operand, 2);
  InstructionNode* test = function.add(flow::op_for);
  function.add(op_add_to_variable, 1, "CALLS%");
  InstructionNode* back = function.add(flow::op_branch);
  function.add(flow::op_endloop);
  function.add(op_push_operand, 2);
  function.add(op_end);
  Chain::jump_to(test, back);
  Chain::jump_to(back, init);

  // FOR I% = 1 TO F(): the inner loop runs while the outer one waits for its first pass.
  Chain main;
  InstructionNode* main_head = main.procedure("PROCMAIN");
  InstructionNode* outer_init = main.add(flow::op_initfor);
  main.add(op_mark);
  main.add(op_push_variable, 0, "I%");
  main.add(op_push_operand, 1);
  main.add(vm_call_procedure, 0, nullptr, head);
  InstructionNode* outer_test = main.add(flow::op_for);
  main.add(op_trace_variable, 0, "I%");
  InstructionNode* outer_back = main.add(flow::op_branch);
  main.add(flow::op_endloop);
  main.add(op_end);
  Chain::jump_to(outer_test, outer_back);
  Chain::jump_to(outer_back, outer_init);

  set_variable_by_name("I%", nullptr, 7, nullptr, 0);
  call(context, main_head);
  EXPECT_EQ(trace, (std::vector<int>{1, 2})) << "I% starts at 1 whatever it held";
  EXPECT_EQ(value_of("CALLS%"), 6.0) << "three calls of F, two passes each";
  EXPECT_EQ(context->call_depth, 0);
}

TEST_F(ControlFlow, ForWithoutVariableOrOperandsSkipsTheLoop) {
  Chain chain;
  chain.add(flow::op_initfor);
  chain.add(op_mark);
  chain.add(op_push_operand, 1);
  chain.add(op_push_operand, 3);
  InstructionNode* test = chain.add(flow::op_for);
  chain.add(op_trace, 1);
  InstructionNode* exit = chain.add(flow::op_endloop);
  chain.add(op_end);
  Chain::jump_to(test, exit->previous);
  vm_run_loop(chain.first);
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ(context->stack_top, nullptr);
}

// ---- WHILE and REPEAT ----

TEST_F(ControlFlow, WhileTestsBeforeAndUntilAfterTheBody) {
  // WHILE N% < limit: N% += 1, trace N%.
  for (double start : {0.0, 5.0}) {
    trace.clear();
    set_variable_by_name("N%", nullptr, start, nullptr, 0);
    Chain chain;
    InstructionNode* init = chain.add(flow::op_initwhile);
    chain.add(op_push_below, 3, "N%");
    InstructionNode* test = chain.add(flow::op_branch_if_false);
    chain.add(op_add_to_variable, 1, "N%");
    chain.add(op_trace_variable, 0, "N%");
    InstructionNode* back = chain.add(flow::op_branch);
    chain.add(flow::op_endloop);
    chain.add(op_end);
    Chain::jump_to(test, back);
    Chain::jump_to(back, init);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (start == 0 ? std::vector<int>{1, 2, 3} : std::vector<int>{})) << "WHILE from " << start;
    EXPECT_EQ(while_first_pass, 0);
  }
  // REPEAT: N% += 1, trace N% UNTIL N% >= 3 (the condition jumps back while false).
  for (double start : {0.0, 5.0}) {
    trace.clear();
    set_variable_by_name("N%", nullptr, start, nullptr, 0);
    Chain chain;
    InstructionNode* init = chain.add(flow::op_initwhile);
    chain.add(op_add_to_variable, 1, "N%");
    chain.add(op_trace_variable, 0, "N%");
    chain.add(op_push_below, 3, "N%");
    chain.add([] {
      // UNTIL condition: true ends the loop; the branch jumps back on false.
      ValueCell* top = current_program->stack_top;
      top->number = top->number != 0 ? 0 : 1;
    });
    InstructionNode* until = chain.add(flow::op_branch_if_false);
    chain.add(flow::op_endloop);
    chain.add(op_end);
    Chain::jump_to(until, init);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (start == 0 ? std::vector<int>{1, 2, 3} : std::vector<int>{6})) << "REPEAT from " << start;
  }
}

TEST_F(ControlFlow, EndloopFreesWhatTheLoopOwned) {
  Chain chain;
  chain.add(flow::op_initwhile);
  chain.add([] { context_own_allocation(current_program, crt::malloc(16), 0, kOwnedMemory); });
  chain.add(flow::op_endloop);
  chain.add(op_end);
  context_own_allocation(context, crt::malloc(8), 0, kOwnedMemory);
  OwnedAllocation* outside = context->owned;
  vm_run_loop(chain.first);
  EXPECT_EQ(context->owned, outside) << "only the loop depth's allocation goes";
  EXPECT_EQ(context->call_depth, 0);
}

// ---- FOREACH ----

// A list variable L$ of numbers, a result variable X$, and the loop
// FOREACH X$ IN L$ (backward when asked): trace X$, run the extra body handler.
// A literal [1, 2, [3, 4], 5] held by a packed-list variable P$.
struct PackedLiteral {
  PackedItem nested[3] = {{3, kPackedNumber}, {4, kPackedNumber}, {0, kPackedEnd}};
  PackedItem items[5] = {{1, kPackedNumber}, {2, kPackedNumber}, {0, kPackedList}, {5, kPackedNumber}, {0, kPackedEnd}};
  PackedLiteral() { items[2].value = platform::address_of(nested); }
};

class Foreach : public FlowTest {
 protected:
  Variable* make_list(const char* name, std::initializer_list<double> values) {
    Variable* list = create_variable(locals, name, false);
    ListElement* first = nullptr;
    for (double value : values) {
      ListElement* element = list_element_append(first);
      if (!first) first = element;
      element->number = value;
      element->checksum = list_element_checksum(element);
    }
    list->flags |= kVariableList;
    list->cursor = first;
    return list;
  }
  // P$ over the literal's items and A$ over count elements of type_code at data.
  void make_packed_and_array(PackedLiteral& literal, void* data, int32_t type_code, uint32_t count, Variable** packed,
                             Variable** array) {
    *packed = create_variable(locals, "P$", false);
    (*packed)->flags = kVariablePackedList;
    (*packed)->data = literal.items;
    *array = create_variable(locals, "A$", false);
    (*array)->data = data;
    (*array)->type_code = type_code;
    (*array)->element_count = count;
  }
  // INITFOREACH; mark, result, collection (as FOREACH (result, collection) compiles);
  // FOREACH; trace result; body; back; ENDLOOP.
  InstructionNode* build(Chain& chain, const char* collection, const char* result, bool backward,
                         BuiltinHandler body = nullptr) {
    InstructionNode* init = chain.add(flow::op_initforeach);
    chain.add(op_mark);
    chain.add(op_push_name, 0, result);
    if (collection) chain.add(op_push_name, 0, collection);
    InstructionNode* loop = chain.add(flow::op_foreach, backward ? 1 : 0);
    chain.add(trace_result, 0, result);
    if (body) chain.add(body, 0, result);
    InstructionNode* back = chain.add(flow::op_branch);
    chain.add(flow::op_endloop);
    chain.add(op_end);
    Chain::jump_to(loop, back);
    Chain::jump_to(back, init);
    return loop;
  }
  // Numbers as they are; a packed list as 100 plus its item count.
  static void trace_result() {
    Variable* variable = find_variable(current_instruction->text);
    if (variable && (variable->flags & kVariablePackedList)) {
      int count = 0;
      for (auto* item = static_cast<PackedItem*>(variable->data); item->kind != kPackedEnd; ++item) ++count;
      trace.push_back(100 + count);
      return;
    }
    op_trace_variable();
  }
  static IterationState* state_of(InstructionNode* loop) { return platform::pointer_from<IterationState>(loop->work); }
};

TEST_F(Foreach, ListForwardAndBackward) {
  Variable* list = make_list("L$", {10, 20, 30});
  for (bool backward : {false, true}) {
    trace.clear();
    Chain chain;
    InstructionNode* loop = build(chain, "L$", "X$", backward);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (backward ? std::vector<int>{30, 20, 10} : std::vector<int>{10, 20, 30})) << backward;
    ASSERT_NE(state_of(loop), nullptr);
    EXPECT_EQ(state_of(loop)->cursors, nullptr) << "the state goes at the end";
    for (ListElement* element = list_element_first(list->cursor); element; element = element->next) {
      EXPECT_EQ(element->info, nullptr) << "no element keeps a record of the loop";
    }
    EXPECT_EQ(context->call_depth, 0);
  }
}

TEST_F(Foreach, RemovingTheCurrentElementGoesOnWithItsNeighbour) {
  make_list("L$", {10, 20, 30, 40});
  Chain chain;
  build(chain, "L$", "X$", false, [] {
    Variable* list = find_variable("L$");
    if (value_of("X$") == 20) list->cursor = list_element_remove(list->cursor);
  });
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, (std::vector<int>{10, 20, 30, 40}));
  EXPECT_EQ(list_element_count(find_variable("L$")->cursor), 3u);
}

TEST_F(Foreach, ListWithoutSeparateResultWalksTheListItself) {
  make_list("L$", {1, 2, 3});
  Chain chain;
  build(chain, nullptr, "L$", false);
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, (std::vector<int>{1, 2, 3}));
}

TEST_F(Foreach, BreakDropsTheLoopStateAndTheLoopStartsAfresh) {
  Variable* list = make_list("L$", {10, 20, 30});
  Chain chain;
  InstructionNode* init = chain.add(flow::op_initforeach);
  chain.add(op_mark);
  chain.add(op_push_name, 0, "X$");
  chain.add(op_push_name, 0, "L$");
  InstructionNode* loop = chain.add(flow::op_foreach);
  chain.add(op_trace_variable, 0, "X$");
  chain.add(op_push_differs, 20, "X$");
  InstructionNode* keep_going = chain.add(flow::op_branch_if_false);
  InstructionNode* back = chain.add(flow::op_branch);
  InstructionNode* brk = chain.add(flow::op_break, 0, nullptr, loop);
  InstructionNode* out = chain.add(flow::op_branch);
  InstructionNode* exit = chain.add(flow::op_endloop);
  chain.add(op_end);
  Chain::jump_to(loop, out);
  Chain::jump_to(back, init);
  Chain::jump_to(keep_going, back);
  Chain::jump_to(out, exit->previous);
  (void)brk;
  for (int run = 0; run < 2; ++run) {
    trace.clear();
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (std::vector<int>{10, 20})) << "run " << run;
    EXPECT_EQ(state_of(loop)->cursors, nullptr) << "run " << run;
    for (ListElement* element = list_element_first(list->cursor); element; element = element->next) {
      EXPECT_TRUE(!element->info || !element->info->iteration) << "run " << run;
    }
  }
}

TEST_F(Foreach, PackedListItemsAndNestedLists) {
  PackedLiteral literal;
  Variable* packed = create_variable(locals, "P$", false);
  packed->flags = kVariablePackedList;
  packed->data = literal.items;
  for (bool backward : {false, true}) {
    trace.clear();
    Chain chain;
    build(chain, "P$", "X$", backward);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (backward ? std::vector<int>{5, 102, 2, 1} : std::vector<int>{1, 2, 102, 5})) << backward;
  }
  variable_clear_value(context, find_variable("X$"), false, false);
  packed->flags = 0;
  packed->data = nullptr;
}

// BREAK in loops whose positions are packed items or array elements, not list elements:
// the state goes without its position being read as an element.
TEST_F(Foreach, BreakOutOfPackedListAndArrayLoops) {
  PackedLiteral literal;
  int32_t words[3] = {1, 2, 3};
  Variable* packed;
  Variable* array;
  make_packed_and_array(literal, words, -3, 3, &packed, &array);
  for (const char* collection : {"P$", "A$"}) {
    trace.clear();
    Chain chain;
    InstructionNode* init = chain.add(flow::op_initforeach);
    chain.add(op_mark);
    chain.add(op_push_name, 0, "X$");
    chain.add(op_push_name, 0, collection);
    InstructionNode* loop = chain.add(flow::op_foreach);
    chain.add(op_trace_variable, 0, "X$");
    chain.add(op_push_differs, 2, "X$");
    InstructionNode* keep_going = chain.add(flow::op_branch_if_false);
    InstructionNode* back = chain.add(flow::op_branch);
    chain.add(flow::op_break, 0, nullptr, loop);
    InstructionNode* out = chain.add(flow::op_branch);
    InstructionNode* exit = chain.add(flow::op_endloop);
    chain.add(op_end);
    Chain::jump_to(loop, out);
    Chain::jump_to(back, init);
    Chain::jump_to(keep_going, back);
    Chain::jump_to(out, exit->previous);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (std::vector<int>{1, 2})) << collection;
    EXPECT_EQ(state_of(loop)->cursors, nullptr) << collection;
    variable_clear_value(context, find_variable("X$"), false, false);
  }
  packed->flags = 0;
  packed->data = nullptr;
  array->data = nullptr;
  array->element_count = 0;
}

TEST_F(Foreach, ArraysOfEachElementSizeForwardAndBackward) {
  uint8_t bytes[4] = {7, 8, 9, 250};
  int16_t shorts[4] = {-7, 8, 9, 10};
  int32_t words[3] = {-70000, 5, 6};
  double doubles[2] = {1.5e3, -2.0};
  struct Case {
    const char* name;
    int32_t type_code;
    void* data;
    uint32_t count;
    std::vector<int> forward;
  } cases[] = {
      {"bytes", -1, bytes, 4, {7, 8, 9, 250}},
      {"16-bit", -2, shorts, 4, {-7, 8, 9, 10}},
      {"32-bit", -3, words, 3, {-70000, 5, 6}},
      {"doubles", -8, doubles, 2, {1500, -2}},
  };
  for (const Case& row : cases) {
    Variable* array = create_variable(locals, "A$", true);
    array->data = row.data;
    array->type_code = row.type_code;
    array->element_count = row.count;
    for (bool backward : {false, true}) {
      trace.clear();
      Chain chain;
      build(chain, "A$", "X$", backward);
      vm_run_loop(chain.first);
      std::vector<int> expected = row.forward;
      if (backward) std::reverse(expected.begin(), expected.end());
      EXPECT_EQ(trace, expected) << row.name << (backward ? " backward" : " forward");
    }
    array->data = nullptr;
    array->element_count = 0;
  }
}

TEST_F(Foreach, StructureMembers) {
  double first = 11, second = 22;
  Variable* structure = create_variable(locals, "S$", false);
  structure->flags = kVariableStructure;
  Variable* a = create_variable(locals, "S.A%", false);
  Variable* b = create_variable(locals, "S.B%", false);
  a->data = &first;
  b->data = &second;
  member_list_add(structure, a);
  member_list_add(structure, b);
  for (MemberNode* node = structure->members; node; node = node->next) node->type_code = -8;
  for (bool backward : {false, true}) {
    trace.clear();
    Chain chain;
    build(chain, "S$", "X$", backward);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, (backward ? std::vector<int>{22, 11} : std::vector<int>{11, 22})) << backward;
  }
  a->data = b->data = nullptr;
  member_list_free(structure);
  structure->flags = 0;
}

// An array of three structures {A, B} of doubles: the result X$ gets members X.A$ and X.B$
// that show each element's fields in turn.
TEST_F(Foreach, StructureArrayGivesTheResultPerElementMembers) {
  double elements[3][2] = {{1, 2}, {3, 4}, {5, 6}};
  Variable* array = create_variable(locals, "P$", false);
  array->flags = kVariableStructure;
  array->data = elements;
  array->type_code = sizeof elements[0];
  array->element_count = 3;
  Variable* a = create_variable(locals, "P.A%", false);
  Variable* b = create_variable(locals, "P.B%", false);
  member_list_add(array, a);
  member_list_add(array, b);
  uint32_t offset = 0;
  for (MemberNode* node = array->members; node; node = node->next, offset += sizeof(double)) {
    node->type_code = -8;
    node->offset = offset;
  }
  for (bool backward : {false, true}) {
    trace.clear();
    Chain chain;
    build(chain, "P$", "X$", backward, [] { trace.push_back(static_cast<int>(value_of("X.A$") * 10 + value_of("X.B$"))); });
    vm_run_loop(chain.first);
    // trace_result adds the structure's own number (0) before each pair.
    std::vector<int> expected = backward ? std::vector<int>{0, 56, 0, 34, 0, 12} : std::vector<int>{0, 12, 0, 34, 0, 56};
    EXPECT_EQ(trace, expected) << (backward ? "backward" : "forward");
    Variable* result = find_variable("X$");
    ASSERT_NE(result, nullptr);
    int members = 0;
    for (MemberNode* node = result->members; node; node = node->next) ++members;
    EXPECT_EQ(members, 2) << "a later loop does not add members again";
  }
  member_list_free(find_variable("X$"));
  array->data = nullptr;
  array->element_count = 0;
  member_list_free(array);
  array->flags = 0;
}

TEST_F(Foreach, CollectionsThatNeedAResultRefuseTheLoopWithoutOne) {
  PackedLiteral literal;
  int16_t shorts[2] = {1, 2};
  Variable* packed;
  Variable* array;
  make_packed_and_array(literal, shorts, -2, 2, &packed, &array);
  for (const char* name : {"P$", "A$"}) {
    trace.clear();
    Chain chain;
    build(chain, nullptr, name, false);
    unsigned errors = runtime_error_count();
    vm_run_loop(chain.first);
    EXPECT_TRUE(trace.empty()) << name;
    EXPECT_EQ(runtime_error_count(), errors + 1) << name;
    EXPECT_STREQ(runtime_error_last_text(), "Result variable is missing") << name;
    // The error ends the procedure before its ENDLOOP; the call's end gives the depth back.
    context->call_depth = 0;
  }
  packed->flags = 0;
  packed->data = nullptr;
  array->data = nullptr;
  array->element_count = 0;
}

// ---- CASE ----

struct CaseTable {
  const char* name;
  const char* selector_text;  // null: a number
  double selector;
  std::vector<const char*> label_texts;  // null entries: numbers from labels
  std::vector<double> labels;
  bool matches;
};

TEST_F(ControlFlow, CaseComparesTheSelectorWithEachLabel) {
  CaseTable cases[] = {
      {"second of three numbers", nullptr, 2, {}, {1, 2, 3}, true},
      {"first of three", nullptr, 1, {}, {1, 2, 3}, true},
      {"no number matches", nullptr, 9, {}, {7, 8}, false},
      {"text label", "abc", 0, {"x", "abc"}, {0, 0}, true},
      {"text differs", "abc", 0, {"ABC", "ab"}, {0, 0}, false},
      {"numeric text against number", "10", 0, {nullptr}, {10}, true},
      {"empty text is no number", "", 0, {nullptr}, {0}, false},
  };
  for (const CaseTable& row : cases) {
    trace.clear();
    Chain chain;
    chain.add(op_push_operand, 123);  // something below that must stay
    if (row.selector_text) {
      chain.add(op_push_text, 0, row.selector_text);
    } else {
      chain.add(op_push_operand, row.selector);
    }
    chain.add(flow::op_pullcase, 5);
    for (size_t index = 0; index < row.labels.size(); ++index) {
      const char* text = index < row.label_texts.size() ? row.label_texts[index] : nullptr;
      if (text) {
        chain.add(op_push_text, 0, text);
      } else {
        chain.add(op_push_operand, row.labels[index]);
      }
    }
    InstructionNode* test = chain.add(flow::op_pushcase, 5);
    test->work = static_cast<uint32_t>(row.labels.size());
    add_outcomes(chain, test);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, std::vector<int>{row.matches ? 1 : 2}) << row.name;
    ASSERT_EQ(depth(), 1) << row.name << ": the labels are all gone";
    EXPECT_EQ(context->stack_top->number, 123) << row.name;
    stack_pop(context);
  }
}

TEST_F(ControlFlow, NumberCaseLabelsComeFromTheInstruction) {
  for (double label : {4.0, 5.0}) {
    trace.clear();
    Chain chain;
    chain.add(op_push_operand, 5);
    chain.add(flow::op_pullcase, 0);
    InstructionNode* test = chain.add(flow::op_pushintcase, 0);
    auto* block = static_cast<double*>(crt::malloc(sizeof(double)));
    *block = label;
    test->text = reinterpret_cast<char*>(block);
    test->work = 1;
    add_outcomes(chain, test);
    vm_run_loop(chain.first);
    EXPECT_EQ(trace, std::vector<int>{label == 5 ? 1 : 2}) << label;
    EXPECT_EQ(context->stack_top, nullptr) << label;
  }
}

TEST_F(ControlFlow, CaseUsesTheRegisteredEqualityOperator) {
  static int calls;
  calls = 0;
  int32_t index = builtin_register("==", [] {
    ++calls;
    ValueCell* right = stack_pop(current_program);
    ValueCell* left = stack_pop(current_program);
    stack_push_number(current_program, right->number == left->number + 1 ? 1 : 0);
  });
  Chain chain;
  chain.add(op_push_operand, 3);
  chain.add(flow::op_pullcase, 1);
  chain.add(op_push_operand, 7);
  chain.add(op_push_operand, 2);
  InstructionNode* test = chain.add(flow::op_pushcase, 1);
  test->work = 2;
  add_outcomes(chain, test);
  vm_run_loop(chain.first);
  builtin_entry_clear(index);
  EXPECT_EQ(trace, std::vector<int>{1}) << "the operator decides: 2 + 1 is 3";
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(context->stack_top, nullptr);
}

// CASE keeps the index it found "==" at; a registry filled anew (a run after another in one
// process) may hold another built-in there, which CASE must not call in its place.
TEST_F(ControlFlow, CaseFindsTheEqualityOperatorAgainInARegistryFilledAnew) {
  static int other_calls;
  other_calls = 0;
  const BuiltinHandler equal = [] {
    ValueCell* right = stack_pop(current_program);
    ValueCell* left = stack_pop(current_program);
    stack_push_number(current_program, right->number == left->number ? 1 : 0);
  };
  const BuiltinHandler differ = [] {
    ++other_calls;
    ValueCell* right = stack_pop(current_program);
    ValueCell* left = stack_pop(current_program);
    stack_push_number(current_program, right->number != left->number ? 1 : 0);
  };
  // Selector 3 against the one label 7: no match.
  const auto run_case = [this] {
    trace.clear();
    Chain chain;
    chain.add(op_push_operand, 3);
    chain.add(flow::op_pullcase, 1);
    chain.add(op_push_operand, 7);
    InstructionNode* test = chain.add(flow::op_pushcase, 1);
    test->work = 1;
    add_outcomes(chain, test);
    vm_run_loop(chain.first);
  };
  builtin_registry_clear();
  const int32_t first_index = builtin_register("==", equal);
  run_case();
  EXPECT_EQ(trace, std::vector<int>{2});

  builtin_registry_clear();
  ASSERT_EQ(builtin_register("<>", differ), first_index) << "the test needs another built-in at the old index";
  builtin_register("==", equal);
  run_case();
  builtin_registry_clear();
  EXPECT_EQ(trace, std::vector<int>{2});
  EXPECT_EQ(other_calls, 0);
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(ControlFlow, CaseSlotOutsideTheTableIsAnErrorNotAWrite) {
  for (double slot : {-1.0, 1024.0, 1e12}) {
    for (BuiltinHandler handler : {flow::op_pullcase, flow::op_pushcase}) {
      trace.clear();
      CaseSlot last = context->case_slots[kCaseSlots - 1];
      Chain chain;
      chain.add(op_push_operand, 42);
      InstructionNode* test = chain.add(handler, slot);
      test->work = 1;
      add_outcomes(chain, test);
      unsigned errors = runtime_error_count();
      vm_run_loop(chain.first);
      const char* name = handler == flow::op_pullcase ? "PULLCASE" : "PUSHCASE";
      EXPECT_EQ(runtime_error_count(), errors + 1) << name << " " << slot;
      EXPECT_NE(trace, std::vector<int>{1}) << name << " " << slot << ": no label matches a missing slot";
      EXPECT_EQ(context->stack_top, nullptr) << name << " " << slot << ": the operand is consumed";
      EXPECT_EQ(std::memcmp(&last, &context->case_slots[kCaseSlots - 1], sizeof last), 0) << name << " " << slot;
    }
  }
}

// ---- TRY ----

TEST_F(ControlFlow, NestedTryBlocksAndExpect) {
  Chain chain;
  InstructionNode* except = nullptr;
  InstructionNode* opens[3];
  for (InstructionNode*& open : opens) open = chain.add(flow::op_try);
  chain.add(op_trace_try_depth);
  chain.add(flow::op_leave_try);
  chain.add(op_trace_try_depth);
  chain.add(op_end);
  except = chain.add(op_nothing);
  for (InstructionNode* open : opens) Chain::jump_to(open, except);
  vm_run_loop(chain.first);
  EXPECT_EQ(trace, (std::vector<int>{3, 2}));
  try_depth = 0;
}

// TRY, a call of a procedure that faults, EXPECT; EXCEPT: trace, then maybe fault again.
// The layouts differ in where the TRY's link points: at the EXCEPT instruction itself, or
// at the instruction before it, so that EXCEPT runs when the handler part starts.
TEST_F(ControlFlow, FaultResumesInTheFrameOfTheTryAndTheHandlerIsNotReentered) {
  for (bool link_before_except : {false, true}) {
    for (bool fault_in_handler : {false, true}) {
      SCOPED_TRACE(std::string(link_before_except ? "link before EXCEPT" : "link at EXCEPT") +
                   (fault_in_handler ? ", handler faults" : ""));
      trace.clear();
      try_depth = 0;
      Chain callee;
      InstructionNode* callee_head = callee.procedure("PROCFAULTS");
      callee.add(op_trace, 1);
      callee.add(fault_write_handler);
      callee.add(op_trace, 99);
      callee.add(op_end);

      Chain main;
      InstructionNode* head = main.procedure("PROCMAIN");
      InstructionNode* outer = main.add(flow::op_try);
      InstructionNode* open = main.add(flow::op_try);
      main.add(vm_call_procedure, 0, nullptr, callee_head);
      main.add(flow::op_leave_try);
      main.add(op_trace, 98);
      InstructionNode* before = main.add(op_end);
      InstructionNode* except = main.add(flow::op_leave_try);
      main.add(op_trace, 2);
      main.add(op_trace_try_depth);
      // A handler entered again ends the run instead of looping.
      main.add([] {
        if (std::count(trace.begin(), trace.end(), 2) > 1) stop_flag = 1;
      });
      if (fault_in_handler) main.add(fault_write_handler);
      main.add(op_end);
      InstructionNode* outer_except = main.add(flow::op_leave_try);
      main.add(op_trace, 3);
      main.add(op_trace_try_depth);
      main.add(op_end);
      Chain::jump_to(open, link_before_except ? before : except);
      Chain::jump_to(outer, outer_except);

      call(context, head);
      std::vector<int> expected{1, 2, 1};
      if (fault_in_handler) expected.insert(expected.end(), {3, 0});
      EXPECT_EQ(trace, expected);
      EXPECT_EQ(try_depth, 0) << "the call's blocks close when it returns";
      EXPECT_EQ(context->call_depth, 0);
    }
  }
}

TEST_F(ControlFlow, ReturnInsideTryClosesTheBlock) {
  Chain callee;
  InstructionNode* callee_head = callee.procedure("PROCRETURNS");
  InstructionNode* open = callee.add(flow::op_try);
  callee.add(op_end);
  InstructionNode* except = callee.add(flow::op_leave_try);
  callee.add(op_trace, 99);
  callee.add(op_end);
  Chain::jump_to(open, except);

  Chain main;
  InstructionNode* head = main.procedure("PROCMAIN");
  main.add(vm_call_procedure, 0, nullptr, callee_head);
  main.add(op_trace_try_depth);
  main.add(fault_write_handler);
  main.add(op_trace, 98);
  main.add(op_end);
  call(context, head);
  EXPECT_EQ(trace, std::vector<int>{0}) << "the fault is not caught by the callee's old block";
}

TEST_F(ControlFlow, FirstOpCompletesAPendingForwardLink) {
  Chain chain;
  InstructionNode* jump = chain.add(flow::op_branch);
  chain.add(op_trace, 1);
  chain.add(flow::op_first_op);
  chain.add(op_trace, 2);
  chain.add(op_end);
  pending_forward_link = jump;
  context->pool = context->pool ? context->pool : emit_pool;
  current_instruction = jump->next->next;
  flow::op_first_op();
  EXPECT_EQ(pending_forward_link, nullptr);
  ASSERT_NE(jump->extension, nullptr);
  EXPECT_EQ(jump->extension->link, jump->next->next->next);
  flow::op_first_op();  // nothing pending: nothing changes
  EXPECT_EQ(jump->extension->link, jump->next->next->next);
}

TEST_F(ControlFlow, RegistrationNamesEveryInstructionAndOwnsTheLoopChain) {
  register_control_flow_handlers();
  struct Row {
    const char* name;
    BuiltinHandler handler;
  } rows[] = {{"FOREACH", flow::op_foreach}, {"FOR", flow::op_for},        {"IF", flow::op_branch_if_false},
              {"TRY", flow::op_try},         {"EXCEPT", flow::op_leave_try}, {"PUSHCASE", flow::op_pushcase},
              {"ENDLOOP", flow::op_endloop}};
  for (const Row& row : rows) {
    BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(row.name)));
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->handler, row.handler) << row.name;
  }
  // A FOREACH node freed with live loop states frees them (checked by the sanitizers).
  Variable* list = nullptr;
  {
    Chain chain;
    list = create_variable(locals, "L$", false);
    ListElement* element = list_element_append(nullptr);
    list->flags |= kVariableList;
    list->cursor = element;
    chain.add(flow::op_initforeach);
    chain.add(op_mark);
    chain.add(op_push_name, 0, "X$");
    chain.add(op_push_name, 0, "L$");
    InstructionNode* loop = chain.add(flow::op_foreach);
    chain.add(op_end);
    Chain::jump_to(loop, loop->next);
    vm_run_loop(chain.first);
    ASSERT_NE(loop->work, 0u);
    EXPECT_EQ(element->info, nullptr) << "the loop stands on the element without a record";
  }
}

}  // namespace
