// The superinstruction pass: which groups it fuses, that nothing is fused across a node
// something jumps into or a line marker, and that the original handler stays visible.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_fixture.h"
#include "platform/platform.h"
#include "vm/arithmetic.h"
#include "vm/assignment.h"
#include "vm/comparison.h"
#include "vm/control_flow.h"
#include "vm/debugger_link.h"
#include "vm/fusion.h"
#include "vm/increment.h"
#include "vm/listing.h"
#include "vm/procedure_call.h"
#include "vm/push_instructions.h"
#include "vm/stack_builtins.h"

namespace {

// How the chain is built around the group PUSHVARVAR, *2, + (nodes 1-3 of 0-4).
enum class Around { Nothing, TargetBeforeSecond, LinkToHead, LinkToSecond, TargetAtLast, MarkerInside };

struct PassCase {
  const char* name;
  Around around;
  bool fused;
};

class FusionPass : public MachineTest {};

TEST_F(FusionPass, FusesOnlyGroupsNothingJumpsInto) {
  const PassCase kCases[] = {
      {"plain group", Around::Nothing, true},
      {"jump target before the second node", Around::TargetBeforeSecond, false},
      {"a jump to the head enters at the second node", Around::LinkToHead, false},
      {"a jump to the second node enters at the third", Around::LinkToSecond, false},
      {"the last node is a jump target", Around::TargetAtLast, true},
      {"a line marker inside", Around::MarkerInside, false},
  };
  for (const PassCase& row : kCases) {
    Chain chain;
    InstructionNode* jump = chain.add(op_nothing);
    InstructionNode* head = chain.add(op_pushvarvar, 0, "i%");
    InstructionNode* second = chain.add(op_mul2, 4);
    if (row.around == Around::MarkerInside) chain.add(builtin_debug_marker, 1, "x.zrk");
    InstructionNode* last = chain.add(op_add);
    chain.add(op_nothing);
    if (row.around == Around::TargetBeforeSecond) head->extension->is_jump_target = 1;
    if (row.around == Around::LinkToHead) Chain::jump_to(jump, head);
    if (row.around == Around::LinkToSecond) Chain::jump_to(jump, second);
    if (row.around == Around::TargetAtLast) Chain::jump_to(jump, last);

    fuse_instructions(chain.first);
    EXPECT_EQ(head->handler != op_pushvarvar, row.fused) << row.name;
    EXPECT_EQ(unfused_handler(head->handler), op_pushvarvar) << row.name;
    EXPECT_EQ(second->handler, op_mul2) << row.name;
    EXPECT_EQ(last->handler, op_add) << row.name;
  }
}

TEST_F(FusionPass, PicksEachKindOfGroupAndListsItsHeadAsBefore) {
  struct Group {
    const char* name;
    BuiltinHandler head;
    const char* text;
    std::vector<BuiltinHandler> rest;
    BuiltinHandler inner = nullptr;  // of the second node
  };
  const Group kGroups[] = {
      {"test of a variable", op_pushvarint, "j%", {flow::op_branch_if_false}, op_greater_equal},
      {"test against a variable", op_pushvar, "key%", {flow::op_branch_if_false}, op_less_equal},
      {"MOD by a constant with its store and jump", op_pushint, nullptr, {op_mod, op_assign2, flow::op_branch}},
      {"DIV by a constant", op_pushint, nullptr, {op_int_div}},
      {"step before the jump back", op_decrement2, "j%", {flow::op_branch}},
      {"store before the jump back", op_assign2, "s%", {flow::op_branch}},
  };
  for (const Group& group : kGroups) {
    Chain chain;
    InstructionNode* head = chain.add(group.head, 3, group.text);
    const char* text_before = nullptr;
    std::string listed_before;
    for (size_t index = 0; index < group.rest.size(); ++index) {
      InstructionNode* node = chain.add(group.rest[index], 0, index == 1 ? "s%" : nullptr);
      if (index == 0) node->inner_handler = group.inner;
    }
    char* line = instruction_listing_line(head);
    listed_before = line;
    crt::free(line);
    text_before = opcode_name(head);

    fuse_instructions(chain.first);
    EXPECT_NE(head->handler, group.head) << group.name;
    EXPECT_EQ(unfused_handler(head->handler), group.head) << group.name;
    line = instruction_listing_line(head);
    EXPECT_EQ(std::string(line), listed_before) << group.name;
    crt::free(line);
    EXPECT_EQ(opcode_name(head), text_before) << group.name;
  }
}

TEST_F(FusionPass, FusesWhatCallsAndRecursionLeaveAroundThem) {
  struct Node {
    BuiltinHandler handler;
    BuiltinHandler inner = nullptr;
    double operand = 0;
    const char* text = nullptr;
  };
  struct Row {
    const char* name;
    std::vector<Node> nodes;
    size_t head;  // the node that takes the fused handler (or keeps its own)
    bool fused;
  };
  const Row kRows[] = {
      {"a procedure that tests its parameter first",
       {{op_parmspushvar, nullptr, 0, "n%"}, {flow::op_first_op}, {op_pushvarint, nullptr, 2, "n%"},
        {flow::op_branch_if_false, op_less}},
       0, true},
      {"a test right after FIRST_OP", {{flow::op_first_op}, {op_pushvarint, nullptr, 2, "n%"}, {flow::op_branch_if_false, op_less}}, 1, true},
      {"three parameters bound, then FIRST_OP",
       {{op_parmspushvarvar, nullptr, 0, "b%"}, {op_parmspushvar, nullptr, 0, "a%"}, {flow::op_first_op}}, 0, true},
      {"four parameters in two pairs keep the shape event calls bind",
       {{op_parmspushvarvar, nullptr, 0, "c%"}, {op_parmspushvarvar, nullptr, 0, "a%"}, {flow::op_first_op}}, 0, false},
      {"a call's result added and returned", {{op_dropfctstack, nullptr, 1}, {op_add}, {op_return}}, 0, true},
      {"a call's result added and stored before the jump back",
       {{op_dropfctstack, nullptr, 1}, {op_add}, {op_assign2, nullptr, 0, "t%"}, {flow::op_branch}}, 0, true},
      {"a call's result dropped to before the next argument",
       {{op_dropfctstack, nullptr, 1}, {builtin_savesp, op_sub5, 2, "n%"}}, 0, true},
      {"an argument v - k that opens two levels", {{builtin_savesp2, op_sub5, 1, "n%"}}, 0, true},
      {"an argument v + k", {{builtin_savesp, op_add5, 1, "n%"}}, 0, true},
      {"a variable and two constants as arguments",
       {{builtin_savesp, op_pushvarint, 2, "i%"}, {op_pushintint, nullptr, 3}}, 0, true},
      {"a sum of variables returned", {{builtin_savesp, op_pushvarvar, 0, "b%"}, {op_add}, {op_pushvar, nullptr, 0, "c%"}, {op_sub}},
       0, true},
      {"a sum of variables in an expression", {{op_pushvarvar, nullptr, 0, "b%"}, {op_sub}}, 0, true},
      {"a generic product is no sum", {{op_pushvarvar, nullptr, 0, "b%"}, {op_mul}}, 0, false},
  };
  for (const Row& row : kRows) {
    Chain chain;
    std::vector<InstructionNode*> nodes;
    for (const Node& node : row.nodes) {
      nodes.push_back(chain.add(node.handler, node.operand, node.text));
      nodes.back()->inner_handler = node.inner;
    }
    chain.add(op_nothing);
    InstructionNode* head = nodes[row.head];
    char* line = instruction_listing_line(head);
    const std::string listed_before = line;
    crt::free(line);

    fuse_instructions(chain.first);
    EXPECT_EQ(head->handler != row.nodes[row.head].handler, row.fused) << row.name;
    EXPECT_EQ(unfused_handler(head->handler), row.nodes[row.head].handler) << row.name;
    for (size_t index = 0; index < nodes.size(); ++index) {
      if (index != row.head) EXPECT_EQ(nodes[index]->handler, row.nodes[index].handler) << row.name << " node " << index;
    }
    line = instruction_listing_line(head);
    EXPECT_EQ(std::string(line), listed_before) << row.name;
    crt::free(line);
  }
}

TEST_F(FusionPass, ARunStopsShortOfAnEntry) {
  // DROPFCTSTACK, +, RETURN as one run, and again with a jump that continues at the RETURN:
  // there only DROPFCTSTACK, + are taken together.
  BuiltinHandler fused[2];
  for (int jumped = 0; jumped < 2; ++jumped) {
    Chain chain;
    InstructionNode* jump = chain.add(op_nothing);
    InstructionNode* drop = chain.add(op_dropfctstack, 1);
    InstructionNode* add = chain.add(op_add);
    InstructionNode* ret = chain.add(op_return);
    chain.add(op_nothing);
    if (jumped) Chain::jump_to(jump, add);
    fuse_instructions(chain.first);
    EXPECT_NE(drop->handler, op_dropfctstack) << jumped;
    EXPECT_EQ(add->handler, op_add) << jumped;
    EXPECT_EQ(ret->handler, op_return) << jumped;
    fused[jumped] = drop->handler;
  }
  EXPECT_NE(fused[0], fused[1]);
}

TEST_F(FusionPass, AFORStepKeepsItsGroupFromTheArgumentRun) {
  // savesp(PUSHVARINT), PUSHINT is also the start of a call's arguments; before a FOR it
  // is the loop's step.
  BuiltinHandler fused[2];
  for (int loop = 0; loop < 2; ++loop) {
    Chain chain;
    InstructionNode* head = chain.add(builtin_savesp, 1, "i%");
    head->inner_handler = op_pushvarint;
    chain.add(op_pushint, 10);
    chain.add(loop ? flow::op_for : op_nothing);
    chain.add(op_nothing);
    fuse_instructions(chain.first);
    EXPECT_EQ(unfused_handler(head->handler), builtin_savesp) << loop;
    fused[loop] = head->handler;
  }
  EXPECT_NE(fused[0], builtin_savesp);
  EXPECT_NE(fused[1], builtin_savesp);
  EXPECT_NE(fused[0], fused[1]);
}

TEST_F(FusionPass, DisabledLeavesEveryHandler) {
  Chain chain;
  InstructionNode* head = chain.add(op_pushint, 7);
  chain.add(op_mod);
  fusion_disabled = 1;
  fuse_instructions(chain.first);
  fusion_disabled = 0;
  EXPECT_EQ(head->handler, op_pushint);
  fuse_instructions(chain.first);
  EXPECT_NE(head->handler, op_pushint);
}

}  // namespace
