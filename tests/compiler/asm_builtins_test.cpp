// The asm built-ins called through the value stack as compiled code calls them: asm,
// callasm with "AARGS$"/"AARGSCOUNT$", doasm, freeasm, zrk into the runtime, errors and
// a faulting block caught by TRY.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <variant>

#include "asm_run_fixture.h"
#include "compiler/asm/asm_builtins.h"
#include "foundation/file_helpers.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_registry.h"
#include "vm/fault_text.h"

namespace {

// Adds AARGS$[0 .. AARGSCOUNT$ - 1] and pushes the sum on the value stack.
constexpr const char* kSumArguments =
    ":MAIN\nmov r1, AARGS$\nmov r2, AARGSCOUNT$\nmov r2, [r2]\nmov r0, 0\n:NEXT\ncmp r2, 0\njle DONE\n"
    "add r0, [r1]\nadd r1, 4\nsub r2, 1\njmp NEXT\n:DONE\nzrkpush r0";

using Argument = std::variant<double, const char*>;

class AsmBuiltinsTest : public AsmRunTest {
 protected:
  void TearDown() override {
    // Blocks freed already are ignored.
    for (uint32_t code : made_) free_code_block(platform::pointer_from<uint8_t>(code));
    AsmRunTest::TearDown();
  }

  static void push(const Argument& argument) {
    if (std::holds_alternative<double>(argument)) {
      stack_push_number(current_program, std::get<double>(argument));
    } else {
      stack_push_value(const_cast<char*>(std::get<const char*>(argument)), 0, nullptr, 0);
    }
  }

  // asm(size, text): the address it pushed.
  uint32_t call_asm(const char* text, double size = 0) {
    push(size);
    push(text);
    builtin_asm();
    uint32_t code = static_cast<uint32_t>(stack_pop(context)->number);
    made_.push_back(code);
    return code;
  }
  // callasm(address, argument ...) with its stack mark.
  void call_callasm(uint32_t address, const std::vector<Argument>& arguments) {
    stack_save_mark(context);
    push(static_cast<double>(address));
    for (const Argument& argument : arguments) push(argument);
    builtin_callasm();
  }
  void call_freeasm(uint32_t address) {
    push(static_cast<double>(address));
    builtin_freeasm();
  }

  Variable* global(const char* name) const { return find_variable_in_list(context->globals, name); }
  int32_t argument_count() const { return *static_cast<int32_t*>(global("AARGSCOUNT$")->data); }
  int32_t argument(int32_t index) const { return static_cast<int32_t*>(global("AARGS$")->data)[index]; }

  std::vector<uint32_t> made_;
};

TEST_F(AsmBuiltinsTest, CallasmHandsItsArgumentsToTheCode) {
  uint32_t code = call_asm(kSumArguments);
  ASSERT_NE(code, 0u) << errors();
  struct Case {
    const char* name;
    std::vector<Argument> arguments;
    int32_t count;
    int32_t sum;
    std::vector<int32_t> elements;  // AARGS$ from element 0
  };
  const Case cases[] = {
      {"three numbers", {1.0, 2.0, 3.0}, 3, 6, {1, 2, 3}},
      {"none leaves the elements", {}, 0, 0, {1, 2, 3}},
      {"text read as a number", {"40", 2.0}, 2, 42, {40, 2, 3}},
      {"truncated toward zero", {-7.9}, 1, -7, {-7, 2, 3}},
      {"an address above 2^31", {4294967295.0}, 1, -1, {-1}},
  };
  for (const Case& c : cases) {
    call_callasm(code, c.arguments);
    EXPECT_EQ(argument_count(), c.count) << c.name;
    for (size_t index = 0; index < c.elements.size(); ++index) {
      EXPECT_EQ(argument(static_cast<int32_t>(index)), c.elements[index]) << c.name << " element " << index;
    }
    ASSERT_EQ(depth(), 1) << c.name;
    // zrkpush pushes the word as unsigned.
    EXPECT_EQ(stack_pop(context)->number, static_cast<uint32_t>(c.sum)) << c.name;
  }
  EXPECT_EQ(errors(), "");
}

TEST_F(AsmBuiltinsTest, ArgumentsLiveInTheGlobalScope) {
  uint32_t code = call_asm(kSumArguments);
  ASSERT_NE(code, 0u) << errors();
  // Called from inside a procedure: another local scope is current.
  Variable* procedure_scope = variable_record_allocate(context, false);
  current_scope = procedure_scope;
  call_callasm(code, {5.0, 6.0});
  current_scope = locals;
  ASSERT_EQ(depth(), 1);
  EXPECT_EQ(stack_pop(context)->number, 11) << "the code reads the variables it was assembled against";
  EXPECT_EQ(find_variable_in_list(procedure_scope, "AARGS$"), nullptr);
  EXPECT_EQ(find_variable_in_list(locals, "AARGS$"), nullptr);
  free_variable_lists(context, {procedure_scope});
}

TEST_F(AsmBuiltinsTest, MoreThan128ArgumentsAreRefused) {
  uint32_t code = call_asm(kSumArguments);
  ASSERT_NE(code, 0u) << errors();
  std::vector<Argument> arguments(kAssemblerArguments, Argument(1.0));
  call_callasm(code, arguments);
  EXPECT_EQ(argument_count(), kAssemblerArguments);
  ASSERT_EQ(depth(), 1);
  EXPECT_EQ(stack_pop(context)->number, kAssemblerArguments);

  arguments.push_back(1.0);
  call_callasm(code, arguments);
  EXPECT_NE(errors().find("Too many parameters"), std::string::npos) << errors();
  EXPECT_EQ(depth(), 0) << "the arguments are gone and the code did not run";
  EXPECT_EQ(context->mark_count, 0);
}

TEST_F(AsmBuiltinsTest, AssemblyErrorsAreShownAndGiveZero) {
  std::string folder = std::string(ZRK_TEST_BINARY_DIR) + "/asm_builtins_errors/";
  std::string boxes = folder + "boxes.txt";
  std::remove(boxes.c_str());
  std::filesystem::create_directories(folder);
  program_folder = crt::_strdup(folder.c_str());
  setenv("ZRK_MSGBOX_LOG", boxes.c_str(), 1);
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {":MAIN\njmp NOWHERE", "Label (NOWHERE) not found!"},
      {"", "No main entry point defined!"},
      {":MAIN\nmov [r1 + 5], [r2", "Missing closing ]"},
  };
  for (const Case& c : cases) EXPECT_EQ(call_asm(c.text), 0u) << c.text;
  unsetenv("ZRK_MSGBOX_LOG");
  crt::free(program_folder);
  program_folder = nullptr;
  std::ifstream file(boxes);
  std::stringstream shown;
  shown << file.rdbuf();
  for (const Case& c : cases) {
    EXPECT_NE(shown.str().find(std::string("ERROR\t")), std::string::npos) << shown.str();
    EXPECT_NE(shown.str().find(c.message), std::string::npos) << c.message << " in " << shown.str();
  }
  EXPECT_EQ(depth(), 0);
}

TEST_F(AsmBuiltinsTest, FreeasmThenReassemblyRunsTheNewCode) {
  uint32_t first = call_asm(":MAIN\nzrkpush 1", 4096);
  ASSERT_NE(first, 0u) << errors();
  call_callasm(first, {});
  EXPECT_EQ(stack_pop(context)->number, 1);
  call_freeasm(first);
  uint32_t second = call_asm(":MAIN\nzrkpush 2", 4096);
  ASSERT_NE(second, 0u) << errors();  // often at the freed address
  call_callasm(second, {});
  EXPECT_EQ(stack_pop(context)->number, 2);
  call_freeasm(second);
  // Twice, 0 and memory that is no code block: nothing happens.
  call_freeasm(second);
  call_freeasm(0);
  void* other = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(other, nullptr);
  call_freeasm(platform::address_of(other));
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(other, &info, sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  VirtualFree(other, 0, MEM_RELEASE);
  EXPECT_EQ(depth(), 0);
}

TEST_F(AsmBuiltinsTest, DoasmAssemblesRunsAndFrees) {
  stack_save_mark(context);
  push(0.0);
  push(20.0);
  push("22");
  push(":MAIN\nmov r1, AARGS$\nmov r0, [r1]\nadd r0, [r1 + 4]\nzrkpush r0");
  builtin_doasm();
  ASSERT_EQ(depth(), 1) << errors();
  EXPECT_EQ(stack_pop(context)->number, 42);
  EXPECT_EQ(argument_count(), 2);
}

void builtin_test_thousand() { stack_push_number(current_program, 1000); }
void op_double_top() { stack_push_number(current_program, 2 * stack_pop(current_program)->number); }

TEST_F(AsmBuiltinsTest, ZrkCallsAScriptProcedureOrABuiltinOfThatName) {
  Chain procedure;
  InstructionNode* head = procedure.procedure("PROCDOUBLEIT");
  procedure.add(op_double_top);
  procedure.add(op_end);
  char signature[] = "DOUBLEIT(1,1)";
  ProcedureTableEntry entry{signature, head};
  context->procedures[0] = &entry;
  context->procedure_count = 1;

  const char* text = ":MAIN\nzrkpush 21\nzrk doubleit\nzrkpull\nzrkpush r0";
  uint32_t code = call_asm(text);
  ASSERT_NE(code, 0u) << errors();
  call_callasm(code, {});
  ASSERT_EQ(depth(), 1);
  EXPECT_EQ(stack_pop(context)->number, 42);

  // A built-in of the same name wins.
  int32_t builtin = builtin_register("DOUBLEIT", builtin_test_thousand);
  code = call_asm(text);
  ASSERT_NE(code, 0u) << errors();
  call_callasm(code, {});
  ASSERT_EQ(depth(), 2);
  EXPECT_EQ(stack_pop(context)->number, 1000);
  builtin_entry_clear(builtin);
  stack_free_all(context);
  context->procedures[0] = nullptr;
  context->procedure_count = 0;
}

uint32_t faulting_code = 0;
void op_callasm_faulting() {
  stack_save_mark(current_program);
  stack_push_number(current_program, faulting_code);
  builtin_callasm();
}

TEST_F(AsmBuiltinsTest, AFaultingBlockIsCaughtByTry) {
  faulting_code = call_asm(":MAIN\nmov r1, 5\nmov r2, 6\nmov r3, 7\nmov r2, 8\nmov [r1], r1");
  ASSERT_NE(faulting_code, 0u) << errors();
  run_in_try(op_callasm_faulting);
  EXPECT_EQ(trace, (std::vector<int>{2}));
  std::string text = last_fault_text();
  EXPECT_EQ(text.rfind("Access violation at 0x", 0), 0u) << text;
  uint32_t at = static_cast<uint32_t>(std::stoul(text.substr(std::strlen("Access violation at 0x")), nullptr, 16));
  // The address is that of the store itself: "str r1, [r1]".
  uint32_t store = 0;
  for (uint32_t address = faulting_code; address < faulting_code + 4096 && !store; address += 4) {
    if (*platform::pointer_from<uint32_t>(address) == 0xE5811000) store = address;
  }
  EXPECT_EQ(at, store);
}

}  // namespace
