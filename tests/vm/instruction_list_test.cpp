// Instruction chains: what a written node holds, when it gets an extension, and how
// removal relinks its neighbours and the jumps to it.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/hashes.h"
#include "machine_fixture.h"
#include "platform/kernel/memory.h"

namespace {

using InstructionList = MachineTest;

TEST_F(InstructionList, WrittenNodeHoldsItsOperandsAndJoinsTheChain) {
  Chain chain;
  char text[] = "Counter%";
  InstructionNode* first = chain.add(op_trace, 2.5, text);
  text[0] = 'X';
  InstructionNode* second = chain.add(op_end);
  EXPECT_STREQ(first->text, "Counter%") << "the node owns a copy";
  EXPECT_EQ(first->text_hash, hash_name("Counter%", 8));
  EXPECT_EQ(first->operand, 2.5);
  EXPECT_EQ(first->handler, op_trace);
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(second->previous, first);
  EXPECT_EQ(second->next, nullptr);
  EXPECT_EQ(second->text, nullptr);
  EXPECT_EQ(second->text_hash, 0u);
  EXPECT_EQ(chain.tail, second);
}

TEST_F(InstructionList, ExtensionIsMadeOnlyWhenSomethingGoesInIt) {
  struct Case {
    const char* name;
    bool link;
    uint32_t scope_key;
    const char* name_operand;
    uint32_t flags;
    uint32_t kind;
    bool extension;
  };
  const Case cases[] = {
      {"nothing", false, 0, nullptr, 0, 0, false},
      {"link", true, 0, nullptr, 0, 0, true},
      {"scope key", false, 7, nullptr, 0, 0, true},
      {"name operand", false, 0, "Field", 0, 0, true},
      {"flags", false, 0, nullptr, 0x40, 0, true},
      {"kind", false, 0, nullptr, 0, 3, true},
  };
  for (const Case& row : cases) {
    InstructionNode* tail = nullptr;
    emit_instruction_node(&tail, op_nothing, nullptr, 0, nullptr, 1, nullptr, 0, 0);
    InstructionNode* target = tail;
    emit_scope_key = row.scope_key;
    emit_instruction_node(&tail, op_nothing, nullptr, 0, row.link ? target : nullptr, 5, row.name_operand, row.flags,
                          row.kind);
    emit_scope_key = 0;
    InstructionExtension* extension = tail->extension;
    ASSERT_EQ(extension != nullptr, row.extension) << row.name;
    if (!extension) continue;
    EXPECT_EQ(extension->link, row.link ? target : nullptr) << row.name;
    EXPECT_EQ(extension->scope_key, row.scope_key) << row.name;
    EXPECT_EQ(extension->flags, row.flags) << row.name;
    EXPECT_EQ(extension->kind, row.kind) << row.name;
    EXPECT_EQ(target->extension != nullptr && target->extension->is_jump_target == 1, row.link) << row.name;
    EXPECT_EQ(tail->opcode, 5u) << row.name;
  }
}

TEST_F(InstructionList, NameOperandIsInternedLowerCaseAndKindKeeps16Bits) {
  InstructionNode* tail = nullptr;
  const char name[] = "MyField";
  emit_instruction_node(&tail, op_nothing, nullptr, 0, nullptr, 0, name, 0, 0x12345);
  InstructionNode* first = tail;
  emit_instruction_node(&tail, op_nothing, nullptr, 0, nullptr, 0, "MYFIELD", 0, 0);
  EXPECT_STREQ(first->extension->name_operand, "myfield");
  EXPECT_STREQ(name, "MyField") << "the caller's text is left alone";
  EXPECT_EQ(first->extension->name_operand, tail->extension->name_operand) << "one interned copy";
  EXPECT_EQ(first->extension->kind, 0x2345);
}

TEST_F(InstructionList, RemovingAJumpTargetWithRetargetRelinksEveryJump) {
  Chain chain;
  InstructionNode* before = chain.add(op_trace, 1);
  InstructionNode* target = chain.add(op_trace, 2);
  InstructionNode* first_jump = chain.add(op_branch, 0, nullptr, target);
  InstructionNode* other_jump = chain.add(op_branch, 0, nullptr, first_jump);
  InstructionNode* second_jump = chain.add(op_branch, 0, nullptr, target);

  EXPECT_EQ(free_instruction_node(emit_pool, &chain.tail, target, 1), before);
  EXPECT_EQ(before->next, first_jump);
  EXPECT_EQ(first_jump->previous, before);
  EXPECT_EQ(first_jump->extension->link, before);
  EXPECT_EQ(second_jump->extension->link, before);
  EXPECT_EQ(other_jump->extension->link, first_jump) << "a jump elsewhere keeps its target";
  ASSERT_NE(before->extension, nullptr);
  EXPECT_EQ(before->extension->is_jump_target, 1);
}

TEST_F(InstructionList, RemovingWithoutRetargetLeavesJumpsAndMovesTheTail) {
  Chain chain;
  InstructionNode* first = chain.add(op_trace, 1);
  InstructionNode* target = chain.add(op_trace, 2);
  InstructionNode* jump = chain.add(op_branch, 0, nullptr, target);
  InstructionNode* last = chain.add(op_end);
  free_instruction_node(emit_pool, &chain.tail, target, 0);
  EXPECT_EQ(jump->extension->link, target) << "left for the caller to mend";
  EXPECT_EQ(first->next, jump);
  EXPECT_EQ(free_instruction_node(emit_pool, &chain.tail, last, 0), jump);
  EXPECT_EQ(chain.tail, jump);
  EXPECT_EQ(jump->next, nullptr);
}

void op_external_call() {}
void op_two_texts() {}
void op_loop() {}
uint32_t released_chain = 0;

TEST_F(InstructionList, RemovalFreesWhatTheHandlerSaysTheNodeOwns) {
  instruction_handler_borrows_text(op_external_call);
  instruction_handler_owns_second_text(op_two_texts);
  instruction_handler_owns_loop_chain(op_loop, [](uint32_t chain) { released_chain = chain; });

  Chain chain;
  InstructionNode* borrowing = chain.add(op_external_call);
  char* shared = crt::_strdup("REGISTRY NAME");
  borrowing->text = shared;
  InstructionNode* two_texts = chain.add(op_nothing, 0, "first");
  two_texts->inner_handler = op_two_texts;
  two_texts->operand = platform::address_of(crt::_strdup("second"));
  InstructionNode* loop = chain.add(op_loop);
  loop->work = 0xABCD;

  free_instruction_node(emit_pool, &chain.tail, loop, 0);
  EXPECT_EQ(released_chain, 0xABCDu);
  free_instruction_node(emit_pool, &chain.tail, two_texts, 0);  // the sanitizer build sees a leak otherwise
  free_instruction_node(emit_pool, &chain.tail, borrowing, 0);
  EXPECT_STREQ(shared, "REGISTRY NAME") << "a borrowed text outlives the node";
  crt::free(shared);
  EXPECT_EQ(chain.tail, nullptr);
}

TEST_F(InstructionList, FreeingTheListGivesEveryNodeBackToThePool) {
  ProgramContext* program = create_program_context();
  ASSERT_NE(program, nullptr);
  program->pool = pool_create(4096);
  Pool* saved = emit_pool;
  emit_pool = program->pool;
  Chain chain;
  for (int step = 0; step < 200; ++step) chain.add(op_trace, step, "text", chain.first);
  free_instruction_list(program, chain.tail);
  chain.tail = nullptr;
  for (PoolBlock* block = program->pool->current; block; block = block->older) {
    EXPECT_EQ(block->data, nullptr) << "a pool block still holds live nodes";
  }
  emit_pool = saved;
  program_context_release(program);
}

}  // namespace
