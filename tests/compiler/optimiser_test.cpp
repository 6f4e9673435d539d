// The optimiser on lists in the shapes the code generator emits: each fusion and fold by
// its listing, jumps onto fused-away nodes, constant folding, and the same results from
// optimised and plain lists on the machine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "../vm/flow_fixture.h"
#include "compiler/codegen/optimiser.h"
#include "foundation/opcodes.h"
#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"
#include "vm/listing.h"
#include "vm/method_call.h"

namespace {

// One generated node: an opcode name (handler from the opcode table) or, failing that, a
// built-in name (an INTERNALCALL with the built-in's handler, as the generator emits it).
struct Op {
  const char* name;
  double number = 0;
  const char* text = nullptr;
};

constexpr uint32_t kInternalCall = 34;

// Stand-ins for the element-offset and ADDR handlers while their built-ins are not built.
void offset_stand_in() {}
void offset_constant_stand_in() {}
void addr_constant_stand_in() {}

class Optimiser : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    saved_log_enabled = log_enabled;
    log_enabled = 0;
    opcode_names_fill();
    register_all_builtins();
    const std::pair<uint32_t, BuiltinHandler> stand_ins[] = {
        {40, offset_stand_in}, {76, offset_constant_stand_in}, {77, addr_constant_stand_in}};
    for (const auto& [opcode, handler] : stand_ins) {
      if (!OpcodeHandlerTable[opcode]) OpcodeHandlerTable[opcode] = handler;
    }
    // The leading node, as the generator starts every list.
    emit_instruction_node(&tail, OpcodeHandlerTable[1], "\\Programs\\Test.zrk", 0, nullptr, 0, nullptr, 0, 0);
    head = tail;
  }
  void TearDown() override {
    while (tail) free_instruction_node(emit_pool, &tail, tail, 0);
    builtin_registry_clear();
    listing_registrations_clear();
    opcode_names_free();
    log_enabled = saved_log_enabled;
    FlowTest::TearDown();
  }

  static BuiltinHandler builtin_handler(const char* name) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(upper.c_str())));
    return entry ? entry->handler : nullptr;
  }

  InstructionNode* add(const Op& op, InstructionNode* link = nullptr) {
    for (uint32_t opcode = 1; opcode < kOpcodeSlots; ++opcode) {
      const char* name = opcode_name(static_cast<int>(opcode));
      if (!name || std::strcmp(name, op.name) != 0 || !OpcodeHandlerTable[opcode]) continue;
      emit_instruction_node(&tail, OpcodeHandlerTable[opcode], op.text, op.number, link, opcode, nullptr, 0, 0);
      return tail;
    }
    BuiltinHandler handler = builtin_handler(op.name);
    EXPECT_NE(handler, nullptr) << op.name;
    emit_instruction_node(&tail, handler, op.text, op.number, link, kInternalCall, nullptr, 0, 0);
    return tail;
  }
  void add_all(std::initializer_list<Op> ops) {
    for (const Op& op : ops) add(op);
  }
  void add_all(const std::vector<Op>& ops) {
    for (const Op& op : ops) add(op);
  }

  // Listing lines of every node after the leading one, address prefix and trailing blanks cut.
  std::vector<std::string> listing() const {
    std::vector<std::string> lines;
    for (InstructionNode* node = head->next; node; node = node->next) {
      char* line = instruction_listing_line(node);
      std::string text = line ? line : "";
      crt::free(line);
      size_t bar = text.find("|   ");
      text = bar == std::string::npos ? text : text.substr(bar + 4);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      // One blank between the name column and the operands is enough to compare.
      size_t gap = text.find("  ");
      if (gap != std::string::npos) {
        size_t operands = text.find_first_not_of(' ', gap);
        text = text.substr(0, gap) + " " + text.substr(operands);
      }
      lines.push_back(text);
    }
    return lines;
  }

  static std::string hex(const void* address) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", platform::address_of(address));
    return text;
  }

  InstructionNode* tail = nullptr;
  InstructionNode* head = nullptr;
  uint8_t saved_log_enabled = 0;
};

using Lines = std::vector<std::string>;

TEST_F(Optimiser, RewritesATableOfGeneratedShapes) {
  struct Case {
    const char* name;
    std::vector<Op> ops;
    Lines expected;
  };
  const Case cases[] = {
      // Constant folding, through PUSHINTINT, with the first-pushed value on the left.
      {"1 + 2", {{"PUSHINT", 1}, {"PUSHINT", 2}, {"+"}}, {"PUSHINT 3"}},
      {"10 - 4", {{"PUSHINT", 10}, {"PUSHINT", 4}, {"-"}}, {"PUSHINT 6"}},
      {"3 * 4", {{"PUSHINT", 3}, {"PUSHINT", 4}, {"*"}}, {"PUSHINT 12"}},
      {"1 / 4", {{"PUSHINT", 1}, {"PUSHINT", 4}, {"/"}}, {"PUSHINT 0.25"}},
      {"a folded constant meets the push rules at once",
       {{"PUSHINT", 1}, {"PUSHINT", 2}, {"+"}, {"PUSHINT", 3}, {"+"}},
       {"PUSHINT 6"}},
      {"1 + 2 * 3 folds only what the walk sees",
       {{"PUSHINT", 1}, {"PUSHINT", 2}, {"PUSHINT", 3}, {"*"}, {"+"}},
       {"PUSHINTINT 1, 2", "*2 3", "+"}},
      // Operators on a variable and a constant.
      {"A% + 1", {{"PUSHVAR", 0, "A%"}, {"PUSHINT", 1}, {"+"}}, {"+5 A%, 1"}},
      {"1 + A%", {{"PUSHINT", 1}, {"PUSHVAR", 0, "A%"}, {"+"}}, {"+6 1, A%"}},
      {"A% - 1", {{"PUSHVAR", 0, "A%"}, {"PUSHINT", 1}, {"-"}}, {"-5 A%, 1"}},
      {"1 - A%", {{"PUSHINT", 1}, {"PUSHVAR", 0, "A%"}, {"-"}}, {"-6 1, A%"}},
      {"A% * 2", {{"PUSHVAR", 0, "A%"}, {"PUSHINT", 2}, {"*"}}, {"*5 A%, 2"}},
      {"2 * A%", {{"PUSHINT", 2}, {"PUSHVAR", 0, "A%"}, {"*"}}, {"*6 2, A%"}},
      {"A% / 2", {{"PUSHVAR", 0, "A%"}, {"PUSHINT", 2}, {"/"}}, {"/5 A%, 2"}},
      {"2 / A%", {{"PUSHINT", 2}, {"PUSHVAR", 0, "A%"}, {"/"}}, {"/6 2, A%"}},
      // Operators on a value already on the stack and a pushed constant or text.
      {"(A% + B%) + 1, - 1, * 2, / 2",
       {{"PUSHVAR", 0, "A%"}, {"PUSHVAR", 0, "B%"}, {"+"}, {"PUSHINT", 1}, {"+"}, {"PUSHINT", 1}, {"-"},
        {"PUSHINT", 2}, {"*"}, {"PUSHINT", 2}, {"/"}},
       {"PUSHVARVAR B%, A%", "+", "+2 1", "-2 1", "*2 2", "/2 2"}},
      {"texts join and cut; * and / take none",
       {{"PUSHVAR", 0, "A$"}, {"PUSHVAR", 0, "B$"}, {"+"}, {"PUSHSTR", 0, "x"}, {"+"}, {"PUSHSTR", 0, "y"},
        {"-"}, {"PUSHSTR", 0, "z"}, {"*"}},
       {"PUSHVARVAR B$, A$", "+", "+4 \"x\"", "-4 \"y\"", "PUSHSTR \"z\"", "*"}},
      // Two pushes become one.
      {"int, int", {{"dupstack"}, {"PUSHINT", 1}, {"PUSHINT", 2}}, {"DUPSTACK", "PUSHINTINT 1, 2"}},
      {"str, int", {{"PUSHSTR", 0, "a"}, {"PUSHINT", 1}}, {"PUSHSTRINT \"a\", 1"}},
      {"var, int", {{"PUSHVAR", 0, "A%"}, {"PUSHINT", 1}}, {"PUSHVARINT A%, 1"}},
      {"ngvar, int", {{"NGPUSHVAR", 0, "A%"}, {"PUSHINT", 1}}, {"PUSHNGVARINT A%, 1"}},
      {"int, var", {{"PUSHINT", 1}, {"PUSHVAR", 0, "A%"}}, {"PUSHINTVAR 1, A%"}},
      {"str, var", {{"PUSHSTR", 0, "a"}, {"PUSHVAR", 0, "A$"}}, {"PUSHSTRVAR \"a\", A$"}},
      {"var, var", {{"PUSHVAR", 0, "A%"}, {"PUSHVAR", 0, "B%"}}, {"PUSHVARVAR B%, A%"}},
      {"three vars: the third sees a fused node",
       {{"PUSHVAR", 0, "A%"}, {"PUSHVAR", 0, "B%"}, {"PUSHVAR", 0, "C%"}},
       {"PUSHVARVAR B%, A%", "PUSHVAR C%"}},
      {"ngvar, ngvar", {{"NGPUSHVAR", 0, "A%"}, {"NGPUSHVAR", 0, "B%"}}, {"NGPUSHVARVAR B%, A%"}},
      {"parameters", {{"PARMSPUSHVAR", 0, "A%"}, {"PARMSPUSHVAR", 0, "B%"}}, {"PARMSPUSHVARVAR B%, A%"}},
      {"str, str", {{"PUSHSTR", 0, "a"}, {"PUSHSTR", 0, "b"}}, {"PUSHSTRSTR \"b\", \"a\""}},
      {"int, str", {{"PUSHINT", 1}, {"PUSHSTR", 0, "a"}}, {"PUSHINTSTR 1, \"a\""}},
      {"var, str", {{"PUSHVAR", 0, "A$"}, {"PUSHSTR", 0, "a"}}, {"PUSHVARSTR A$, \"a\""}},
      {"ngvar, str", {{"NGPUSHVAR", 0, "A$"}, {"PUSHSTR", 0, "a"}}, {"PUSHNGVARSTR A$, \"a\""}},
      {"var, ngvar: no rule", {{"PUSHVAR", 0, "A%"}, {"NGPUSHVAR", 0, "B%"}}, {"PUSHVAR A%", "NGPUSHVAR B%"}},
      {"a procedure address is no constant",
       {{"PUSHPROCADDR", 0, "PROCX"}, {"PUSHINT", 1}},
       {"PUSHPROCADDR PROCX", "PUSHINT 1"}},
      // Assignments and comparisons with a constant.
      {"A% = 5", {{"PUSHINT", 5}, {"=2", 0, "A%"}}, {"=3 A%, 5"}},
      {"A$ = \"hi\"", {{"PUSHSTR", 0, "hi"}, {"=2", 0, "A$"}}, {"=4 A$, \"hi\""}},
      {"= with a constant", {{"dupstack"}, {"PUSHINT", 5}, {"="}}, {"DUPSTACK", "=5"}},
      {"==", {{"dupstack"}, {"PUSHINT", 5}, {"=="}}, {"DUPSTACK", "==2 5"}},
      {"<>", {{"dupstack"}, {"PUSHINT", 5}, {"<>"}}, {"DUPSTACK", "<>2 5"}},
      {"<", {{"dupstack"}, {"PUSHINT", 5}, {"<"}}, {"DUPSTACK", "<2 5"}},
      {">", {{"dupstack"}, {"PUSHINT", 5}, {">"}}, {"DUPSTACK", ">2 5"}},
      {"<=", {{"dupstack"}, {"PUSHINT", 5}, {"<="}}, {"DUPSTACK", "<=2 5"}},
      {">=", {{"dupstack"}, {"PUSHINT", 5}, {">="}}, {"DUPSTACK", ">=2 5"}},
      {"a comparison after a fused push stays", {{"PUSHVAR", 0, "A%"}, {"PUSHINT", 5}, {"=="}},
       {"PUSHVARINT A%, 5", "=="}},
      {"element offset", {{"dupstack"}, {"PUSHINT", 2}, {"OFFSET2_1", 0, "A%"}}, {"DUPSTACK", "OFFSET2_2 A%, 2"}},
      {"addr", {{"PUSHVAR", 0, "A%"}, {"ADDR"}}, {"ADDR2 A%"}},
      // Stack drops and stack-mark saves move into their neighbours.
      {"dropstack", {{"PUSHVAR", 0, "A%"}, {"dropstack"}}, {"PUSHVAR (dropstack) A%"}},
      {"a second dropstack stays", {{"dupstack"}, {"dropstack"}, {"dropstack"}},
       {"DUPSTACK (dropstack)", "DROPSTACK"}},
      {"two saves", {{"__savesp"}, {"__savesp"}, {"PUSHINT", 1}, {"dupstack"}},
       {"PUSHINT (savesp2) 1", "DUPSTACK"}},
      {"three saves", {{"__savesp"}, {"__savesp"}, {"__savesp"}, {"PUSHVAR", 0, "A%"}},
       {"SAVESP2", "PUSHVAR (savesp) A%"}},
      {"a save before a save with an inner handler stays",
       {{"__savesp"}, {"PUSHSTR", 0, "a"}, {"dropstack"}, {"dupstack"}},
       {"__SAVESP", "PUSHSTR (dropstack) \"a\"", "DUPSTACK"}},
  };
  for (const Case& row : cases) {
    while (tail != head) free_instruction_node(emit_pool, &tail, tail, 0);
    add_all(row.ops);
    optimize_instruction_list(&tail);
    EXPECT_EQ(listing(), row.expected) << row.name;
    EXPECT_EQ(head->previous, nullptr) << row.name;
  }
}

TEST_F(Optimiser, OneDividedByZeroFoldsToInfinity) {
  add_all({{"PUSHINT", 1}, {"PUSHINT", 0}, {"/"}});
  optimize_instruction_list(&tail);
  ASSERT_EQ(head->next, tail);
  EXPECT_EQ(tail->opcode, 4u);
  EXPECT_EQ(tail->handler, OpcodeHandlerTable[4]);
  EXPECT_EQ(tail->operand, std::numeric_limits<double>::infinity());
}

TEST_F(Optimiser, ConstantsCarriedInTheNodeAreOwnedByIt) {
  // "=5" from a text keeps its own copy; PUSHINTCASE keeps the label in a block.
  add_all({{"dupstack"}, {"PUSHSTR", 0, "hi"}, {"="}});
  InstructionNode* label_case = nullptr;
  add({"dupstack"});
  add({"PUSHINT", 7});
  label_case = add({"PUSHCASE", 2});
  optimize_instruction_list(&tail);
  InstructionNode* assign = head->next->next;
  EXPECT_EQ(assign->opcode, 64u);
  EXPECT_STREQ(assign->text, "hi");
  EXPECT_EQ(assign->operand, 0);
  ASSERT_EQ(label_case, tail);
  EXPECT_EQ(label_case->opcode, 51u);
  double label = 0;
  ASSERT_NE(label_case->text, nullptr);
  std::memcpy(&label, label_case->text, sizeof label);
  EXPECT_EQ(label, 7);
  EXPECT_EQ(label_case->operand, 2);
}

TEST_F(Optimiser, JumpsToAFusedAwayNodeMoveToItsPredecessor) {
  add({"dupstack"});
  InstructionNode* before = tail;
  InstructionNode* target = add({"PUSHVAR", 0, "A%"});
  add_all({{"PUSHINT", 1}, {"+"}});
  InstructionNode* jump = add({"BRANCH"}, target);
  optimize_instruction_list(&tail);
  EXPECT_EQ(listing(), (Lines{"DUPSTACK", "+5 A%, 1", "BRANCH 0x" + hex(before->next)}));
  EXPECT_EQ(jump->extension->link, before);
  ASSERT_NE(before->extension, nullptr);
  EXPECT_EQ(before->extension->is_jump_target, 1);
}

TEST_F(Optimiser, WhileConditionRunsTheBranchAfterTheComparison) {
  InstructionNode* init = add({"INITWHILE"});
  add_all({{"dupstack"}, {"PUSHINT", 5}, {"<"}});
  InstructionNode* comparison = tail;
  InstructionNode* test = add({"WHILE"});
  InstructionNode* back_jump = add({"BRANCH"}, test);  // a CONTINUE-like jump onto the test
  InstructionNode* back = add({"BRANCH"}, init);
  InstructionNode* end = add({"ENDLOOP"});
  Chain::jump_to(test, back);
  back->extension->is_jump_target = 1;
  optimize_instruction_list(&tail);

  EXPECT_EQ(comparison->next, back_jump) << "the WHILE node is gone";
  EXPECT_EQ(comparison->handler, OpcodeHandlerTable[14]);
  EXPECT_EQ(comparison->inner_handler, OpcodeHandlerTable[66]);
  EXPECT_EQ(comparison->opcode, 66u) << "the comparison took its constant first";
  ASSERT_NE(comparison->extension, nullptr);
  EXPECT_EQ(comparison->extension->link, back);
  EXPECT_EQ(back->extension->is_jump_target, 1);
  EXPECT_EQ(back_jump->extension->link, comparison);
  EXPECT_EQ(listing()[2], "<2 (jeq 0X" + hex(end) + ") 5");
}

TEST_F(Optimiser, BranchIsNotFoldedIntoANodeWithItsOwnLink) {
  InstructionNode* target = add({"dupstack"});
  InstructionNode* jump = add({"BRANCH"}, target);
  InstructionNode* condition = add({"IF"}, target);
  optimize_instruction_list(&tail);
  EXPECT_EQ(jump->next, condition);
  EXPECT_EQ(jump->inner_handler, nullptr);
}

// Every handler that keeps an answer of its own in its node's link, or reads the link as
// its own, meets an IF, a WHILE or an UNTIL (one branch handler) after it: the branch stays
// a node of its own, or its target and the handler's answer would share the field. (The
// words a handler keeps at run time in its work word, operand or text hash - call() and
// getprocex() their argument key and program, PARMSPUSHVARVAR a hash, FOREACH its loop
// states, the method calls a class's hash - are not read by a folded branch.) A built-in
// without a use of its link takes the fold, as the control row shows.
TEST_F(Optimiser, BranchIsNotFoldedIntoAHandlerThatKeepsItsLink) {
  struct Row {
    const char* name;  // an opcode or built-in name; null: the linked self call
    const char* branch;
    bool folds;
  };
  const Row rows[] = {
      {"OBJRUN", "IF", false},   {"OBJRUN", "WHILE", false},    {"SELFCALL", "IF", false},
      {nullptr, "IF", false},    {"call", "IF", false},         {"call", "WHILE", false},
      {"call", "UNTIL", false},  {"getproc", "IF", false},      {"getprocex", "WHILE", false},
      {"length", "IF", true},    {"length", "WHILE", true},
  };
  for (const Row& row : rows) {
    const std::string name = row.name ? row.name : "linked self call";
    while (tail != head) free_instruction_node(emit_pool, &tail, tail, 0);
    InstructionNode* call;
    if (row.name) {
      call = add({row.name, 0, row.name[0] == 'O' || row.name[0] == 'S' ? "M" : nullptr});
    } else {
      emit_instruction_node(&tail, call_linked_method_on_self, "M", 0, nullptr, 26, nullptr, 0, 0);
      call = tail;
    }
    InstructionNode* branch = add({row.branch});
    InstructionNode* exit = add({"dupstack"});
    Chain::jump_to(branch, exit);
    optimize_instruction_list(&tail);
    if (row.folds) {
      EXPECT_EQ(call->next, exit) << name << " " << row.branch;
      EXPECT_EQ(call->inner_handler != nullptr, true) << name << " " << row.branch;
      continue;
    }
    EXPECT_EQ(call->next, branch) << name << " " << row.branch;
    EXPECT_EQ(call->inner_handler, nullptr) << name << " " << row.branch;
    EXPECT_TRUE(call->extension == nullptr || call->extension->link == nullptr) << name << " " << row.branch;
  }
}

// A variable named under "NS::" keeps that namespace when its push is fused away.
TEST_F(Optimiser, FusedVariablesAreResolvedInTheNamespaceTheyWerePushedIn) {
  emit_scope_key = 77;
  add({"PUSHVAR", 0, "A%"});
  emit_scope_key = 0;
  add_all({{"PUSHINT", 1}, {"+"}});
  optimize_instruction_list(&tail);
  ASSERT_EQ(listing(), Lines{"+5 A%, 1"});
  ASSERT_NE(tail->extension, nullptr);
  EXPECT_EQ(tail->extension->scope_key, 77u);

  // One fused node has one namespace: two variables of different ones stay two pushes.
  while (tail != head) free_instruction_node(emit_pool, &tail, tail, 0);
  emit_scope_key = 77;
  add({"PUSHVAR", 0, "A%"});
  emit_scope_key = 0;
  add({"PUSHVAR", 0, "B%"});
  optimize_instruction_list(&tail);
  EXPECT_EQ(listing(), (Lines{"PUSHVAR A%", "PUSHVAR B%"}));
}

// ---- The same results with and without the optimiser ----

class OptimisedRun : public Optimiser {
 protected:
  // Runs the list from the leading node, with or without the optimiser, to its end.
  void run(const std::vector<Op>& ops, bool optimised) {
    while (tail != head) free_instruction_node(emit_pool, &tail, tail, 0);
    add_all(ops);
    emit_instruction_node(&tail, op_end, nullptr, 0, nullptr, 0, nullptr, 0, 0);
    if (optimised) optimize_instruction_list(&tail);
    vm_run_loop(head);
  }
  std::string text_of(const char* name) {
    void* text = nullptr;
    double number = 0;
    get_value_by_name(name, &text, &number, nullptr);
    return text ? static_cast<const char*>(text) : "";
  }
};

TEST_F(OptimisedRun, StraightLineProgramsGiveTheSameValues) {
  const std::vector<Op> program = {
      {"PUSHINT", 7}, {"=2", 0, "A%"},                                                // A% = 7
      {"PUSHVAR", 0, "A%"}, {"PUSHINT", 1}, {"+"}, {"=2", 0, "B%"},                   // B% = A% + 1
      {"PUSHINT", 1}, {"PUSHVAR", 0, "A%"}, {"-"}, {"=2", 0, "C%"},                   // C% = 1 - A%
      {"PUSHINT", 2}, {"PUSHINT", 3}, {"*"}, {"PUSHVAR", 0, "A%"}, {"PUSHINT", 2},
      {"/"}, {"+"}, {"=2", 0, "D%"},                                                  // D% = 2 * 3 + A% / 2
      {"PUSHINT", 10}, {"PUSHINT", 4}, {"-"}, {"PUSHINT", 3}, {"/"}, {"=2", 0, "E%"},  // E% = (10 - 4) / 3
      {"PUSHSTR", 0, "ab"}, {"=2", 0, "S$"},                                          // S$ = "ab"
      {"PUSHVAR", 0, "S$"}, {"PUSHSTR", 0, "cd"}, {"+"}, {"=2", 0, "T$"},             // T$ = S$ + "cd"
      {"__savesp"}, {"PUSHSTR", 0, "x"}, {"PUSHSTR", 0, "y"}, {"PUSHVAR", 0, "S$"},
      {"concat"}, {"=2", 0, "U$"},                                                    // U$ = concat("x", "y", S$)
      {"PUSHVAR", 0, "A%"}, {"dropstack"},                                            // a value left and dropped
  };
  struct Result {
    double a, b, c, d, e;
    std::string s, t, u;
    int depth;
  };
  Result results[2];
  for (int optimised = 0; optimised < 2; ++optimised) {
    run(program, optimised == 1);
    results[optimised] = {value_of("A%"), value_of("B%"), value_of("C%"), value_of("D%"), value_of("E%"),
                          text_of("S$"),  text_of("T$"),  text_of("U$"),  depth()};
  }
  for (const Result& result : results) {
    EXPECT_EQ(result.a, 7);
    EXPECT_EQ(result.b, 8);
    EXPECT_EQ(result.c, -6);
    EXPECT_EQ(result.d, 9.5);
    EXPECT_EQ(result.e, 2);
    EXPECT_EQ(result.s, "ab");
    EXPECT_EQ(result.t, "abcd");
    EXPECT_EQ(result.u, "xyab");
    EXPECT_EQ(result.depth, 0);
  }
}

TEST_F(OptimisedRun, WhileLoopCountsTheSameWithTheFusedCondition) {
  // N% = 0: S% = 0: WHILE N% < 5: N% = N% + 1: S% = S% + N%: END
  for (bool optimised : {false, true}) {
    while (tail != head) free_instruction_node(emit_pool, &tail, tail, 0);
    add_all({{"PUSHINT", 0}, {"=2", 0, "N%"}, {"PUSHINT", 0}, {"=2", 0, "S%"}});
    InstructionNode* init = add({"INITWHILE"});
    add_all({{"PUSHVAR", 0, "N%"}, {"PUSHINT", 5}, {"<"}});
    InstructionNode* test = add({"WHILE"});
    add_all({{"PUSHVAR", 0, "N%"}, {"PUSHINT", 1}, {"+"}, {"=2", 0, "N%"}});
    add_all({{"PUSHVAR", 0, "S%"}, {"PUSHVAR", 0, "N%"}, {"+"}, {"=2", 0, "S%"}});
    InstructionNode* back = add({"BRANCH"}, init);
    add({"ENDLOOP"});
    Chain::jump_to(test, back);
    back->extension->is_jump_target = 1;
    emit_instruction_node(&tail, op_end, nullptr, 0, nullptr, 0, nullptr, 0, 0);
    if (optimised) optimize_instruction_list(&tail);
    vm_run_loop(head);
    EXPECT_EQ(value_of("N%"), 5) << (optimised ? "optimised" : "plain");
    EXPECT_EQ(value_of("S%"), 15) << (optimised ? "optimised" : "plain");
    EXPECT_EQ(depth(), 0) << (optimised ? "optimised" : "plain");
    EXPECT_EQ(context->call_depth, 0);
  }
}

}  // namespace
