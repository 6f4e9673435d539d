// The inline assembler's programs: block layout and fix-ups, labels and functions,
// constants and their limits, block strings, zrk calls, diagnostics and the listing.
#include <fstream>
#include <sstream>

#include "asm_test_fixture.h"
#include "compiler/asm/arm_bridge.h"
#include "compiler/asm/runtime_routines.h"
#include "vm/builtin_registry.h"

namespace {

TEST_F(AssemblerTest, MainAloneMakesEntryJumpEpilogueAndOneConstant) {
  uint8_t* block = assemble(":MAIN");
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(compile_error_count, 0) << errors();
  const uint32_t entry[] = {0xE92D5FFF, 0xE1A0C00D, 0xE3A00000, 0xE3A01000, 0xE3A02000, 0xE3A03000};
  for (int32_t index = 0; index < 6; ++index) EXPECT_EQ(word_at(4 * index), entry[index]) << index;
  // r11 is built byte by byte from the table's address, which follows the two final words.
  uint32_t table = platform::address_of(block + 52);
  EXPECT_EQ(word_at(24), 0xE3A0B400 + (table >> 24));
  EXPECT_EQ(word_at(28), 0xE38BB800 + ((table >> 16) & 0xFF));
  EXPECT_EQ(word_at(32), 0xE38BBC00 + ((table >> 8) & 0xFF));
  EXPECT_EQ(word_at(36), 0xE38BB000 + (table & 0xFF));
  EXPECT_EQ(word_at(40), 0xE59BF000u);  // LDR pc, [r11, #0]
  EXPECT_EQ(word_at(44), 0xE1A0D00Cu);
  EXPECT_EQ(word_at(48), 0xE8BD9FFFu);
  EXPECT_EQ(hex(table_words()), hex({platform::address_of(block + 44)}));
}

TEST_F(AssemblerTest, LowerCaseNamesAssembleLikeUpperCase) {
  assemble(":main;MOV R0, R1;Add r2, 7");
  std::vector<uint32_t> mixed = statement_words();
  assemble(":MAIN;mov r0, r1;add r2, 7");
  EXPECT_EQ(hex(mixed), hex(statement_words()));
  EXPECT_EQ(compile_error_count, 0) << errors();
}

TEST_F(AssemblerTest, LabelsBelongToTheirFunction) {
  // Both functions define L; each jump goes to its own. The main code has no L.
  assemble("!F;:L;jmp L;ret;!G;mov r0, 1;:L;jmp L;ret;:MAIN;jmp L");
  EXPECT_NE(errors().find("Label (L) not found!"), std::string::npos) << errors();
  EXPECT_EQ(compile_error_count, 1) << errors();
  // F: prologue at 44, L at 52 with "b L" there (offset -2); G at 64, its L at 76.
  EXPECT_EQ(word_at(52), 0xEAFFFFFEu);
  EXPECT_EQ(word_at(76), 0xEAFFFFFEu);
}

TEST_F(AssemblerTest, NamesAsValuesMustBeDefinedAboveButBranchesMayLookAhead) {
  assemble(":MAIN;mov r0, LATER;:LATER");
  EXPECT_NE(errors().find("Syntax Error"), std::string::npos) << errors();
  compile_error_count = 0;
  assemble(":EARLY;:MAIN;mov r0, EARLY;jmp LATER;:LATER");
  EXPECT_EQ(compile_error_count, 0) << errors();
}

TEST_F(AssemblerTest, AConstantUsedOftenTakesOneSlot) {
  std::string text = ":MAIN";
  for (int32_t index = 0; index < 10; ++index) text += ";mov r1, 123457";
  assemble(text);
  ASSERT_EQ(compile_error_count, 0) << errors();
  EXPECT_EQ(table_words().size(), 2u);  // the main address and the constant
  for (uint32_t word : statement_words()) EXPECT_EQ(word, 0xE59B1004u);
  EXPECT_EQ(table_words()[1], 123457u);
}

TEST_F(AssemblerTest, ConstantTableLimitsAreCompileErrors) {
  std::string text = ":MAIN";
  for (int32_t index = 0; index < kAssemblerMaxConstants; ++index) text += ";mov r1, " + std::to_string(1000001 + 2 * index);
  assemble(text, 64 * 1024);
  EXPECT_NE(errors().find("Too many constant values in assembly code!"), std::string::npos) << errors();

  compile_error_count = 0;
  crt::free(compile_error_text);
  compile_error_text = nullptr;
  text = ":MAIN";
  for (int32_t index = 0; index < kAssemblerMaxReferences + 1; ++index) text += ";mov r1, 1000001";
  assemble(text, 256 * 1024);
  EXPECT_NE(errors().find("Too many reference values in assembly code!"), std::string::npos) << errors();
}

TEST_F(AssemblerTest, StringLiteralsLiveAsLongAsTheirBlock) {
  assemble(":MAIN;mov r0, \"hello\"");
  ASSERT_EQ(compile_error_count, 0) << errors();
  uint8_t* first = block_;
  const char* first_text = platform::pointer_from<const char>(table_words().back());
  block_ = nullptr;
  assemble(":MAIN;mov r0, \"hello\"");
  const char* second_text = platform::pointer_from<const char>(table_words().back());
  EXPECT_STREQ(first_text, "hello");
  EXPECT_NE(first_text, second_text);
  free_code_block(first);
  EXPECT_STREQ(second_text, "hello");
}

TEST_F(AssemblerTest, LocalsAndParametersAreAddressedFromTheFrame) {
  // p0 of two parameters lies above p1; the locals below sf; [x] reads through x.
  assemble("!F(p0, p1);var x, y;mov r0, p0;mov r1, p1;mov r2, y;mov r3, [x + 4];ret;:MAIN");
  ASSERT_EQ(compile_error_count, 0) << errors();
  std::vector<uint32_t> words = statement_words();
  auto has = [&](uint32_t word) { return std::find(words.begin(), words.end(), word) != words.end(); };
  EXPECT_TRUE(has(0xE59C000C)) << "ldr r0, [r12, #12]";
  EXPECT_TRUE(has(0xE59C1008)) << "ldr r1, [r12, #8]";
  EXPECT_TRUE(has(0xE51C2008)) << "ldr r2, [r12, #-8]";
  EXPECT_TRUE(has(0xE51CA004)) << "ldr r10, [r12, #-4]";
  EXPECT_TRUE(has(0xE59A3004)) << "ldr r3, [r10, #4]";
  EXPECT_TRUE(has(0xE24DD008)) << "sub sp, sp, #8";
}

TEST_F(AssemblerTest, LargeLocalCountsReserveTheirWholeFrame) {
  std::string text = ":MAIN;var v1";
  for (int32_t index = 2; index <= 65; ++index) text += ", v" + std::to_string(index);
  assemble(text, 16 * 1024);
  ASSERT_EQ(compile_error_count, 0) << errors();
  // 260 bytes: #4 and #256, each encodable.
  EXPECT_EQ(word_at(44), 0xE24DD004u);
  EXPECT_EQ(word_at(48), 0xE24DDC01u);
}

TEST_F(AssemblerTest, ZrkCallsBuiltinsAndBoundDeclaredFunctions) {
  static int32_t calls = 0;
  int32_t builtin = builtin_register("ASMTESTBUILTIN", [] { ++calls; });
  assemble(":MAIN;zrk asmtestbuiltin");
  ASSERT_EQ(compile_error_count, 0) << errors();
  // The call goes through the handler's thunk into the emulator's host.
  EXPECT_EQ(table_words().back(), arm_thunk(builtin_entry(builtin)->handler));

  link_declarations_now = 0;
  int32_t declared = external_function_declare("ASMTESTDECLARED", "nothing", "nolib.dll", 0, 0, 0, 1);
  ASSERT_GE(declared, 0);
  assemble(":MAIN;zrk asmtestdeclared");
  EXPECT_NE(errors().find("ZRK function or proc/func not found"), std::string::npos) << "unbound";

  compile_error_count = 0;
  static int32_t native_target = 0;
  builtin_entry(declared)->native_proc = &native_target;
  assemble(":MAIN;zrk asmtestdeclared");
  EXPECT_EQ(compile_error_count, 0) << errors();
  std::vector<uint32_t> table = table_words();
  EXPECT_NE(std::find(table.begin(), table.end(), runtime_routine_address(kRoutineCallDeclared)), table.end());
  builtin_entry(declared)->native_proc = nullptr;
  builtin_entry_clear(declared);
  builtin_entry_clear(builtin);
}

TEST_F(AssemblerTest, DiagnosticsNameTheFault) {
  std::string many_parameters = "!F(a0";
  for (int32_t index = 1; index <= kAssemblerMaxParameters; ++index) many_parameters += ", a" + std::to_string(index);
  many_parameters += ");ret;:MAIN";
  std::string many_locals = ":MAIN;var v0";
  for (int32_t index = 1; index <= kAssemblerMaxLocals; ++index) many_locals += ", v" + std::to_string(index);
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"mov r0, r1", "No main entry point defined!"},
      {":MAIN;jmp NOWHERE", "Label (NOWHERE) not found!"},
      {":MAIN;mov r0 r1", "Comma missing"},
      {":MAIN;mov r0, [r1", "Missing closing ]"},
      {":MAIN;mov r0, [sf]", "[SF] usage is not permitted"},
      {":MAIN;add r0, byte [r1]", "Cannot use BYTE size on this operand"},
      {":MAIN;movb r0, word [r1]", "Cannot use WORD size on this operand"},
      {":MAIN;frob r0", "Unknown operand error"},
      {":MAIN;mov r0, r1;var x", "Invalid VAR operator location"},
      {"var x;:MAIN", "Local variable declaration must be inside a label or a function"},
      {"!F;!G;ret;:MAIN", "Cannot embbed two functions"},
      {":MAIN;ret", "Misplaced RET operator"},
      {"!F;mov r0, r1;:MAIN", "RET operator missing at end of function"},
      {":MAIN;!F;mov r0, 1", "RET operator missing at end of function"},
      {":MAIN;mov r0, NOWHERE", "Syntax Error"},
      {":MAIN;mov r0, [r1 + r2]", "Syntax error"},
      {":MAIN;swp r0, 5", "Invalid register"},
      {":MAIN;pop 5", "Indexing is missing"},
      {":MAIN;add 5, r0", "Indexing is missing"},
      {":MAIN;neg 5", "Invalid value"},
      {":MAIN;cos r0, 1", "Unsupported type"},
      {":MAIN;var d;sqrt d, 2", "Unsupported type"},
      {":MAIN;zrk NOSUCHTHING", "ZRK function or proc/func not found"},
      {":MAIN;add [r1 + 5000], [r2]", "Displacement out of range"},
      {many_parameters, "Too many parameters"},
      {many_locals, "Too many local variables"},
  };
  for (const Case& c : cases) {
    compile_error_count = 0;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    assemble(c.text, 16 * 1024);
    EXPECT_NE(errors().find(c.message), std::string::npos) << c.text << " gave: " << errors();
  }
}

TEST_F(AssemblerTest, ReadingGoesOnAfterAnError) {
  assemble(":MAIN;frob r0;mov r0, r1 r2;jmp NOWHERE;mov r1, r2");
  EXPECT_EQ(compile_error_count, 3) << errors();
  EXPECT_EQ(statement_words().back(), 0xE1A01002u);  // the last statement still assembled
}

TEST_F(AssemblerTest, EveryWordPastTheEndIsReported) {
  // 48 bytes hold the 44-byte entry; the two final words and the table's do not fit.
  assemble(":MAIN", 48);
  EXPECT_EQ(compile_error_count, 3) << errors();
  EXPECT_NE(errors().find("Buffer size too small!"), std::string::npos);
}

TEST_F(AssemblerTest, ListingGoesToTheLog) {
  std::string path = std::string(ZRK_TEST_BINARY_DIR) + "/asm_listing.txt";
  debug_log_open(path.c_str());
  log_enabled = 1;
  assemble("#DEASM;!F(a);mov r0, a;ret;:MAIN;mov r1, 1000001;jsr F(r1)");
  ASSERT_EQ(compile_error_count, 0) << errors();
  EXPECT_EQ(assembler_listing_enabled, 0);
  std::ifstream file(path);
  std::vector<std::string> lines;
  std::string line;
  bool started = false;
  while (std::getline(file, line)) {
    size_t split = line.find(" : ");
    std::string text = split == std::string::npos ? line : line.substr(split + 3);
    if (text == "   ") started = true;
    if (started) lines.push_back(text);
  }
  const std::vector<std::string> expected = {
      "   ",
      "   stmfd      sp!, {r0-r12, lr}",
      "   mov        r12, sp",
      "   b          main",
      "   ",
      "!F",
      "   stmfd      sp!, {r12, lr}",
      "   mov        r12, sp",
      "   ldr        r0, [r12 + #08h](A)",
      "   mov        sp, r12",
      "   ldmia      sp!, {r12, pc}",
      "   ",
      ":MAIN",
      "   ldr        r1, #F4241h",
      "   stmfd      sp!, {r1}",
      "   mov        lr, pc",
      "   bl         F",
      "   add        sp, #04h",
      "   mov        sp, r12",
      "   ldmia      sp!, {r0-r12, pc}",
      "   ",
      ":Total bytes generated: 92",
      "   ",
  };
  std::string joined, wanted;
  for (const std::string& text : lines) joined += text + "\n";
  for (const std::string& text : expected) wanted += text + "\n";
  EXPECT_EQ(joined, wanted);
}

}  // namespace
