// Listing lines of a table of instructions: name column, annotation and every operand
// form, with texts cut, jump targets, built-in and declared-function names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/opcodes.h"
#include "machine_fixture.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"
#include "vm/comparison.h"
#include "vm/listing.h"

namespace {

void op_conditional() {}
void op_builtin_twice() {}
void op_savesp() {}

std::string hex(const void* address) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", platform::address_of(address));
  return text;
}

class Listing : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    opcode_names_fill();
    builtin_registry_clear();
    listing_registrations_clear();
  }
  void TearDown() override {
    // The nodes go while their pool still exists.
    while (chain.tail) free_instruction_node(emit_pool, &chain.tail, chain.tail, 0);
    listing_registrations_clear();
    builtin_registry_clear();
    opcode_names_free();
    MachineTest::TearDown();
  }
  InstructionNode* add(uint32_t opcode, const char* text, double operand, BuiltinHandler handler = op_nothing,
                       BuiltinHandler inner = nullptr) {
    emit_instruction_node(&chain.tail, handler, text, operand, nullptr, opcode, nullptr, 0, 0);
    if (!chain.first) chain.first = chain.tail;
    chain.tail->inner_handler = inner;
    return chain.tail;
  }
  // The line with its address prefix checked and removed.
  static std::string line_of(const InstructionNode* node) {
    char* line = instruction_listing_line(node);
    std::string text = line ? line : "";
    crt::free(line);
    std::string prefix = "0x" + hex(node) + "|   ";
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    return text.substr(std::min(prefix.size(), text.size()));
  }

  Chain chain;
};

TEST_F(Listing, OperandFormsOfATableOfInstructions) {
  static char second[] = "Second$";
  static char value[] = "yo";
  const double second_address = platform::address_of(second);
  const double value_address = platform::address_of(value);
  const char* forty = "0123456789012345678901234567890123456789";
  const char* thirty = "012345678901234567890123456789";

  struct Row {
    uint32_t opcode;
    const char* text;
    double operand;
    std::string expected;
  };
  const Row rows[] = {
      {4, nullptr, 42.5, "PUSHINT              42.5"},
      {4, nullptr, -3, "PUSHINT              -3"},
      {5, forty, 0, "PUSHSTR              \"01234567890123456789012345678\""},
      {5, thirty, 0, "PUSHSTR              \"012345678901234567890123456789\""},
      {6, "A$", 0, "PUSHVAR              A$"},
      {7, "A$", 0, "NGPUSHVAR            A$"},
      {56, "hi", second_address, "PUSHVARSTR           Second$, \"hi\""},
      {57, "hi", second_address, "PUSHNGVARSTR         Second$, \"hi\""},
      {53, "C$", value_address, "PUSHSTRVAR           \"yo\", C$"},
      {48, "s", 7, "PUSHINTSTR           7, \"s\""},
      {87, "s", 7, "PUSHSTRINT           \"s\", 7"},
      {52, "V$", 7, "PUSHINTVAR           7, V$"},
      {49, "V$", 7, "PUSHVARINT           V$, 7"},
      {50, "V$", 7, "PUSHNGVARINT         V$, 7"},
      {54, "a", value_address, "PUSHSTRSTR           \"a\", \"yo\""},
      {106, "X$", second_address, "PUSHVARVAR           X$, Second$"},
      {107, "X$", second_address, "PARMSPUSHVARVAR      X$, Second$"},
      {59, "X$", value_address, "=4                   X$, \"yo\""},
      {22, nullptr, 12, "PUSHCASE             12"},
      {21, nullptr, 3.9, "PULLCASE             3"},
      {1, "PROCMAIN", 0, "STARTPROC            PROCMAIN"},
      {24, "R", 0, "RETURN               R"},
      {20, "PROCX", 0, "PUSHPROCADDR         PROCX"},
      {35, "N%", 0, "++2                  N%"},
      {83, "N%", 0, "&=2                  N%"},
      {60, "N%", 2.5, "++3                  N%, 2.5"},
      {61, "T$", 2, "--3                  T$, 2"},
      {65, nullptr, 5, "==2                  5"},
      {88, nullptr, -0.25, "<>2                  -0.25"},
      {11, nullptr, 0, "                     "},  // an opcode without a name
  };
  for (const Row& row : rows) {
    InstructionNode* node = add(row.opcode, row.text, row.operand);
    EXPECT_EQ(line_of(node), row.expected) << "opcode " << row.opcode;
  }
}

TEST_F(Listing, NumberPairReadsTheFirstNumberFromTheTextBlock) {
  InstructionNode* node = add(47, nullptr, 4);
  auto* block = static_cast<char*>(crt::malloc(sizeof(double)));
  const double first = 3.5;
  std::memcpy(block, &first, sizeof first);
  node->text = block;
  EXPECT_EQ(line_of(node), "PUSHINTINT           3.5, 4");
}

TEST_F(Listing, JumpsNameWhereExecutionContinues) {
  InstructionNode* target = add(0, nullptr, 0);
  InstructionNode* after = add(0, nullptr, 0);
  struct Row {
    uint32_t opcode;
    const char* text;
    std::string expected;
  };
  const std::string successor = "0x" + hex(after);
  const Row rows[] = {
      {3, nullptr, "BRANCH               " + successor},
      {12, nullptr, "IF                   " + successor},
      {14, nullptr, "WHILE                " + successor},
      {18, nullptr, "UNTIL                " + successor},
      {85, nullptr, "ELSE                 " + successor},
      {25, "PROCA", "CALL                 PROCA, " + successor},
      {26, "PROCB", "SELFCALL             PROCB, " + successor},
      {51, "L", "PUSHINTCASE          L, 9, " + successor},
  };
  for (const Row& row : rows) {
    InstructionNode* node = add(row.opcode, row.text, 9);
    Chain::jump_to(node, target);
    EXPECT_EQ(line_of(node), row.expected) << "opcode " << row.opcode;
  }
  // The "call" built-in lists no jump target.
  builtin_register("call", op_builtin_twice);
  InstructionNode* call = add(25, "PROCA", 0, op_builtin_twice);
  Chain::jump_to(call, target);
  EXPECT_EQ(line_of(call), "CALL                 ");
}

TEST_F(Listing, FusedInstructionsAreAnnotatedByTheirOuterHandler) {
  InstructionNode* target = add(0, nullptr, 0);
  InstructionNode* after = add(0, nullptr, 0);
  listing_register_annotation(op_conditional, ListingAnnotation::ConditionalJump);
  InstructionNode* fused_if = add(66, nullptr, 3, op_conditional, op_less2);
  Chain::jump_to(fused_if, target);
  EXPECT_EQ(line_of(fused_if), "<2                   (jeq 0X" + hex(after) + ") 3");

  builtin_register("__savesp", op_savesp);
  builtin_register("==", op_equal);
  InstructionNode* saved = add(34, nullptr, 0, op_savesp, op_equal);
  EXPECT_EQ(line_of(saved), "==                   (savesp) ");
  // Without an inner handler the outer one is the instruction itself: no annotation.
  InstructionNode* plain = add(34, nullptr, 0, op_savesp);
  EXPECT_EQ(line_of(plain), "__SAVESP             ");
}

TEST_F(Listing, InternalCallsAndDeclaredFunctionsListTheirNames) {
  builtin_register("first", op_builtin_twice);
  builtin_register("second", op_builtin_twice);
  InstructionNode* internal = add(34, nullptr, 0, op_builtin_twice);
  EXPECT_STREQ(opcode_name(internal), "FIRST");
  EXPECT_EQ(line_of(internal), "FIRST                ");
  InstructionNode* unknown = add(34, nullptr, 0, op_conditional);
  EXPECT_EQ(opcode_name(unknown), nullptr);

  int32_t index = external_function_declare("getticks", "vm_add", VM_TEST_FUNCTIONS, 1, 1, 0, 1);
  ASSERT_GE(index, 0);
  struct Row {
    uint32_t opcode;
    std::string expected;
  };
  const Row rows[] = {{127, "SCALLF1              GETTICKS"}, {109, "SCALLP0              GETTICKS"},
                      {176, "CALLF16              GETTICKS"}};
  for (const Row& row : rows) {
    InstructionNode* call = add(row.opcode, nullptr, index);
    EXPECT_STREQ(opcode_name(call), "GETTICKS");
    EXPECT_EQ(line_of(call), row.expected) << row.opcode;
  }
  InstructionNode* plain = add(6, "A$", 0);
  EXPECT_STREQ(opcode_name(plain), "PUSHVAR");
}

}  // namespace
