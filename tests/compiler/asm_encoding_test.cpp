// Every lowering of the inline assembler against the words GNU as for ARM makes of the
// same instructions (the table is assembled when the tests are built).
#include "asm_test_fixture.h"

namespace {

struct EncodingRow {
  const char* statements;
  std::vector<uint32_t> words;
};

const EncodingRow kRows[] = {
#include "arm_encodings.inc"
};

TEST_F(AssemblerTest, StatementsLowerToTheWordsOfGnuAs) {
  ASSERT_GT(std::size(kRows), 80u);
  for (const EncodingRow& row : kRows) {
    std::string text = row.statements;
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.find(":MAIN") == std::string::npos) text = ":MAIN;" + text;
    compile_error_count = 0;
    ASSERT_NE(assemble(text), nullptr) << row.statements;
    EXPECT_EQ(compile_error_count, 0) << row.statements << ": " << errors();
    EXPECT_EQ(hex(statement_words()), hex(row.words)) << "row: " << row.statements;
  }
}

TEST_F(AssemblerTest, RotatedImmediatesPickTheSmallestRotation) {
  struct Case {
    uint32_t value;
    int32_t encoding;
  };
  // Encodings as GNU as writes them for MOV rd, #value (low 12 bits).
  const Case cases[] = {{0, 0},          {255, 0xFF},         {256, 0xC01},  {0x3FC, 0xFFF},
                        {0x102, -1},     {0xFF000000, 0x4FF}, {0xF000000F, 0x2FF},
                        {0x80000000, 0x102}, {0xFFFFFFFF, -1}, {0x10000, 0x801}};
  for (const Case& c : cases) {
    EXPECT_EQ(encode_rotated_immediate(c.value), c.encoding) << std::hex << c.value;
  }
}

}  // namespace
