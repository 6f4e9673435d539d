// External calls into the test library: 0 to 16 arguments in order, numbers truncated,
// texts by address or as UTF-16 copies that are always freed, results read as signed,
// unlinked declarations, and a fault inside the called function.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "machine_fixture.h"
#include "operand_cells.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "vm/builtin_registry.h"
#include "vm/external_call.h"

namespace {

constexpr uint32_t kScallProcedure = 109;
constexpr uint32_t kScallFunction = 126;
constexpr uint32_t kCallProcedure = 143;
constexpr uint32_t kCallFunction = 160;

class ExternalCall : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    builtin_registry_clear();
    link_declarations_now = 1;
    library = LoadLibraryW(u"" VM_TEST_FUNCTIONS);
    ASSERT_NE(library, nullptr);
    received_count = static_cast<int32_t*>(GetProcAddress(library, "ext_received_count"));
    received = static_cast<int32_t*>(GetProcAddress(library, "ext_received"));
    text_address = static_cast<const void**>(GetProcAddress(library, "ext_text_address"));
    wide_copy = static_cast<const char16_t*>(GetProcAddress(library, "ext_wide_copy"));
    narrow_copy = static_cast<const char*>(GetProcAddress(library, "ext_narrow_copy"));
    ASSERT_TRUE(received_count && received && text_address && wide_copy && narrow_copy);
  }
  void TearDown() override {
    link_declarations_now = 0;
    builtin_registry_clear();
    MachineTest::TearDown();
  }

  static int32_t declare(const char* function, uint8_t count, uint8_t returns, uint8_t wide, uint8_t form = 1) {
    int32_t index = external_function_declare(function, function, VM_TEST_FUNCTIONS, count, returns, wide, form);
    EXPECT_GE(index, 0) << function;
    return index;
  }

  // Runs the external-call instruction of opcode on the cells already pushed.
  void run_call(uint32_t opcode, int32_t index) {
    Chain chain;
    current_instruction = chain.add(external_call_handler(opcode), index);
    current_instruction->handler();
  }

  static void expect_temporaries_freed() {
    for (int32_t slot = 0; slot < kExternalArgumentSlots; ++slot) {
      EXPECT_EQ(marshal_temporaries[slot], nullptr) << "temporary " << slot;
    }
  }

  HMODULE library = nullptr;
  int32_t* received_count = nullptr;
  int32_t* received = nullptr;
  const void** text_address = nullptr;
  const char16_t* wide_copy = nullptr;
  const char* narrow_copy = nullptr;
};

TEST_F(ExternalCall, EveryArgumentCountReachesTheFunctionInOrder) {
  for (int32_t count = 0; count <= kExternalArgumentSlots; ++count) {
    std::string function = "ext_args" + std::to_string(count);
    for (int form = 0; form < 2; ++form) {
      for (int returns = 0; returns < 2; ++returns) {
        int32_t index = declare(function.c_str(), static_cast<uint8_t>(count), static_cast<uint8_t>(returns), 0,
                                static_cast<uint8_t>(form));
        uint32_t first = form ? (returns ? kScallFunction : kScallProcedure) : (returns ? kCallFunction : kCallProcedure);
        std::string label = function + (form ? " SCALL" : " CALL") + (returns ? "F" : "P");
        int32_t sum = 0;
        for (int32_t argument = 1; argument <= count; ++argument) {
          int32_t value = argument * 1000 - 7 * argument * argument;
          sum += value;
          push_operand(context, Operand::num(value));
        }
        *received_count = -1;
        run_call(first + static_cast<uint32_t>(count), index);
        ASSERT_EQ(*received_count, count) << label;
        for (int32_t argument = 1; argument <= count; ++argument) {
          EXPECT_EQ(received[argument - 1], argument * 1000 - 7 * argument * argument) << label << " argument " << argument;
        }
        if (returns) {
          EXPECT_EQ(pop_number_result(context), sum) << label;
        }
        EXPECT_EQ(context->stack_top, nullptr) << label << ": arguments consumed, one result at most";
      }
    }
  }
}

TEST_F(ExternalCall, NumbersAreTruncatedTowardZero) {
  int32_t index = declare("ext_args3", 3, 1, 0);
  push_operand(context, Operand::num(1));
  push_operand(context, Operand::num(2.9));
  push_operand(context, Operand::num(-3.7));
  run_call(kScallFunction + 3, index);
  EXPECT_EQ(pop_number_result(context), 0);
  EXPECT_EQ(received[0], 1);
  EXPECT_EQ(received[1], 2);
  EXPECT_EQ(received[2], -3);
  // An address above 2^31 travels whole; a by-reference cell passes its number.
  push_operand(context, Operand::num(4294967295.0));
  push_operand(context, Operand::ref(12));
  push_operand(context, Operand::num(NAN));
  run_call(kScallFunction + 3, index);
  pop_number_result(context);
  EXPECT_EQ(received[0], -1);
  EXPECT_EQ(received[1], 12);
  EXPECT_EQ(received[2], 0);
}

TEST_F(ExternalCall, ResultsAreReadAsSignedIntegers) {
  struct Row {
    const char* function;
    double expected;
  };
  const Row rows[] = {{"ext_minus_one", -1}, {"ext_two", 2}};
  for (const Row& row : rows) {
    int32_t index = declare(row.function, 0, 1, 0);
    run_call(kCallFunction, index);
    EXPECT_EQ(pop_number_result(context), row.expected) << row.function;
  }
}

TEST_F(ExternalCall, TextsTravelAsUtf16CopiesOnlyWhenTheDeclarationAsks) {
  static char text[] = "abc\xe9";
  int32_t narrow = declare("ext_narrow_text", 1, 1, 0);
  push_operand(context, Operand::str(text));
  run_call(kScallFunction + 1, narrow);
  EXPECT_EQ(pop_number_result(context), 4);
  EXPECT_EQ(*text_address, text) << "the 8-bit text itself";

  int32_t wide = declare("ext_wide_text", 1, 1, 1);
  push_operand(context, Operand::str(text));
  run_call(kScallFunction + 1, wide);
  EXPECT_EQ(pop_number_result(context), 4);
  EXPECT_NE(*text_address, text) << "a converted copy";
  EXPECT_EQ(std::u16string(wide_copy), u"abc\u00e9");
  EXPECT_EQ(marshal_temporary_count, 0);
  expect_temporaries_freed();

  // A UTF-16 text's heap block has non-zero bytes after its first zero: it passes as it is.
  auto* utf16 = static_cast<char16_t*>(crt::malloc(4 * sizeof(char16_t)));
  std::memcpy(utf16, u"xyz", 4 * sizeof(char16_t));
  push_operand(context, Operand::wstr(utf16));
  run_call(kScallFunction + 1, wide);
  EXPECT_EQ(pop_number_result(context), 3);
  EXPECT_EQ(*text_address, utf16);
  EXPECT_EQ(std::u16string(wide_copy), u"xyz");
  crt::free(utf16);
}

TEST_F(ExternalCall, WideDeclarationsPassVariableMemoryAndRawBlocksByAddress) {
  int32_t wide = declare("ext_narrow_text", 1, 1, 1);
  static char memory[] = "data";
  struct Row {
    const char* name;
    uint32_t flags;
    uint32_t member_offset;
    uint32_t element_count;
  };
  const Row rows[] = {{"structure", kVariableStructure, 0, 0}, {"member", 0, 4, 0}, {"array", 0, 0, 3}};
  for (const Row& row : rows) {
    Variable variable{};
    variable.flags = row.flags;
    variable.member_offset = row.member_offset;
    variable.element_count = row.element_count;
    push_operand(context, Operand::str(memory));
    context->stack_top->variable = &variable;
    run_call(kScallFunction + 1, wide);
    pop_number_result(context);
    EXPECT_EQ(*text_address, memory) << row.name;
  }
  // A heap block with more non-zero bytes after its zero is data, not a text.
  char* block = static_cast<char*>(crt::malloc(8));
  std::memcpy(block, "ab\0cdefg", 8);
  push_operand(context, Operand::str(block));
  run_call(kScallFunction + 1, wide);
  pop_number_result(context);
  EXPECT_EQ(*text_address, block);
  crt::free(block);
}

TEST_F(ExternalCall, UnlinkedDeclarationsConsumeTheirArgumentsAndYieldZero) {
  link_declarations_now = 0;
  int32_t function = declare("ext_args2", 2, 1, 1);
  int32_t procedure = external_function_declare("ext_args2_procedure", "ext_args2", VM_TEST_FUNCTIONS, 2, 0, 1, 1);
  ASSERT_EQ(builtin_entry(function)->native_func, nullptr);
  *received_count = -1;
  push_operand(context, Operand::num(1));
  push_operand(context, Operand::str("abc"));
  run_call(kScallFunction + 2, function);
  EXPECT_EQ(pop_number_result(context), 0);
  EXPECT_EQ(context->stack_top, nullptr);
  push_operand(context, Operand::num(1));
  push_operand(context, Operand::str("abc"));
  run_call(kScallProcedure + 2, procedure);
  EXPECT_EQ(context->stack_top, nullptr);
  EXPECT_EQ(*received_count, -1) << "nothing was called";
  expect_temporaries_freed();
}

TEST_F(ExternalCall, FaultInsideTheFunctionIsCaughtAndItsCopiesFreed) {
  static char text[] = "abc";
  int32_t index = declare("ext_fault_after_text", 2, 1, 1);
  Chain chain;
  InstructionNode* head = chain.procedure("PROCCALLER");
  chain.add(op_trace, 1);
  chain.add([] { stack_push_value(text, 0, nullptr, 0); });
  chain.add(op_push_operand, 16);  // an unmapped address the function writes to
  chain.add(external_call_handler(kScallFunction + 2), index);
  chain.add(op_trace, 2);
  chain.add(op_end);
  unsigned errors = runtime_error_count();
  call(context, head);
  EXPECT_EQ(trace, (std::vector<int>{1})) << "the procedure ended at the fault";
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_NE(std::string(runtime_error_last_text()).find("Access violation"), std::string::npos)
      << runtime_error_last_text();
  EXPECT_NE(*text_address, text) << "the function had its UTF-16 copy";
  EXPECT_EQ(marshal_temporary_count, 0);
  expect_temporaries_freed();
}

TEST_F(ExternalCall, HandlersCoverTheOpcodeRangeAndBorrowTheirText) {
  EXPECT_EQ(external_call_handler(108), nullptr);
  EXPECT_EQ(external_call_handler(177), nullptr);
  EXPECT_EQ(external_call_handler(109), op_scallp0);
  EXPECT_EQ(external_call_handler(142), op_scallf16);
  EXPECT_EQ(external_call_handler(143), op_callp0);
  EXPECT_EQ(external_call_handler(176), op_callf16);
  // A node of such a handler shows the registry's name, which it must not free.
  register_external_call_handlers();
  int32_t index = declare("ext_two", 0, 1, 0);
  {
    Chain chain;
    InstructionNode* node = chain.add(external_call_handler(kScallFunction), index);
    node->text = builtin_entry(index)->name;
  }
  EXPECT_STREQ(builtin_entry(index)->name, "EXT_TWO");
}

}  // namespace
