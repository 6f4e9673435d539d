// The superinstruction pass: which groups it fuses, that nothing is fused across a node
// something jumps into or a line marker, and that the original handler stays visible.
#include <gtest/gtest.h>

#include <string>

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
#include "vm/push_instructions.h"

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
