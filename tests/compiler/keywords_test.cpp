// Keyword hashes, opcode names, compile-time constants and word list nodes.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/opcodes.h"
#include "compiler_fixture.h"
#include "foundation/instruction_node.h"

namespace {

// The hash recurrence written out independently: h = h * 65599 + signed byte.
uint32_t reference_hash(const char* text) {
  uint32_t h = 0;
  for (const char* c = text; *c; ++c) h = h * 65599u + static_cast<uint32_t>(static_cast<int8_t>(*c));
  return h & 0x7FFFFFFF;
}

TEST_F(CompilerTest, KeywordHashesAreThoseOfTheirWords) {
  struct Row {
    Keyword keyword;
    const char* text;
  } rows[] = {{Keyword::Foreach, "FOREACH"}, {Keyword::Assign2, "=2"}, {Keyword::If, "IF"},
              {Keyword::Struct, "STRUCT"}, {Keyword::DoubleColon, "::"}, {Keyword::IfdefDirective, "#IFDEF"},
              {Keyword::CDeclareApiDirective, "#C_DECLAREAPI"}, {Keyword::Percent, "%"},
              {Keyword::Offset2_1, "__OFFSET2_1"}, {Keyword::EndNamespaceDirective, "#ENDNAMESPACE"}};
  for (const Row& row : rows) EXPECT_EQ(keyword_hash(row.keyword), reference_hash(row.text)) << row.text;
}

TEST_F(CompilerTest, OpcodeNamesByNumber) {
  struct Row {
    int number;
    const char* name;  // null: no name
  } rows[] = {{0, nullptr}, {1, "STARTPROC"}, {11, nullptr}, {31, "RUNFILE"}, {32, nullptr},
              {48, "PUSHINTSTR"}, {55, nullptr}, {62, nullptr}, {63, nullptr}, {88, "<>2"},
              {109, "SCALLP0"}, {125, "SCALLP16"}, {126, "SCALLF0"}, {143, "CALLP0"},
              {159, "CALLP16"}, {176, "CALLF16"}, {177, "DECLARE"}, {183, nullptr},
              {186, "ENDLOOP"}, {187, nullptr}, {190, nullptr}, {199, nullptr}, {200, nullptr},
              {-1, nullptr}};
  for (const Row& row : rows) {
    const char* name = opcode_name(row.number);
    if (row.name == nullptr) EXPECT_EQ(name, nullptr) << row.number;
    else EXPECT_STREQ(name, row.name) << row.number;
  }
  int named = 0;
  for (int number = 0; number < kOpcodeSlots; ++number) named += opcode_name(number) != nullptr;
  EXPECT_EQ(named, 186 - 8);  // 1..186 less the eight unnamed numbers
  opcode_names_free();
  for (int number = 0; number < kOpcodeSlots; ++number) EXPECT_EQ(opcode_name(number), nullptr);
}

TEST_F(CompilerTest, ConstantsAreOneRecordPerNameInAnyCase) {
  char lower[] = "abc";
  char upper[] = "ABC";
  int32_t first = define_compile_constant(lower, crt::_strdup("1"));
  EXPECT_STREQ(lower, "ABC");
  int32_t second = define_compile_constant(upper, crt::_strdup("2"));
  EXPECT_EQ(first, second);
  EXPECT_STREQ(CompileConstantTable[first]->value, "2");

  // The same value again keeps the record and its owner.
  compile_constant_scope = 1;
  char again[] = "abc";
  EXPECT_EQ(define_compile_constant(again, crt::_strdup("2")), first);
  EXPECT_EQ(CompileConstantTable[first]->owner, 0);
  compile_constant_scope = 0;
}

TEST_F(CompilerTest, DroppedSlotsAreReusedAndTheCountShrinks) {
  char names[3][4] = {"A", "B", "C"};
  int32_t base = compile_constant_count;
  for (auto& name : names) define_compile_constant(name, crt::_strdup("v"));
  remove_compile_constant(base + 1);
  EXPECT_EQ(lowest_empty_constant_slot(), base + 1);
  char d[] = "D";
  EXPECT_EQ(define_compile_constant(d, crt::_strdup("v")), base + 1);
  remove_compile_constant(base + 2);
  EXPECT_EQ(compile_constant_count, base + 2);
}

TEST_F(CompilerTest, AFullConstantTableRefusesANewName) {
  drop_compile_constants(0);
  int32_t start = compile_constant_count;
  char name[16];
  for (int32_t index = start; index < kCompileConstantSlots; ++index) {
    std::snprintf(name, sizeof name, "N%d", index);
    ASSERT_EQ(define_compile_constant(name, crt::_strdup("1")), index);
  }
  std::snprintf(name, sizeof name, "ONEMORE");
  EXPECT_EQ(define_compile_constant(name, crt::_strdup("1")), -1);
  // Through the analyzer the same is a compile error.
  analyze("#DEFINE LAST 2\r\n");
  EXPECT_NE(errors().find("Too many definitions"), std::string::npos) << errors();
}

TEST_F(CompilerTest, BlockOpeningWords) {
  for (Keyword word : {Keyword::If, Keyword::While, Keyword::Repeat, Keyword::Foreach, Keyword::ForeachRev,
                       Keyword::For, Keyword::Case, Keyword::Except}) {
    EXPECT_TRUE(is_block_opening_word(keyword_hash(word))) << static_cast<int>(word);
  }
  for (Keyword word : {Keyword::Try, Keyword::Else, Keyword::Proc, Keyword::End, Keyword::Until}) {
    EXPECT_FALSE(is_block_opening_word(keyword_hash(word))) << static_cast<int>(word);
  }
}

TEST_F(CompilerTest, CodeListAppendInsertsAtTheCursor) {
  CodeListNode* cursor = nullptr;
  code_list_append(&cursor, "IF", "Dir\\Main.ZRK", 3, 7);
  CodeListNode* first = cursor;
  EXPECT_EQ(first->hash, keyword_hash(Keyword::If));
  EXPECT_STREQ(first->file_name, "dir\\main.zrk");
  code_list_append(&cursor, "C", nullptr, 4, 1);
  // Moved back, the cursor inserts between.
  cursor = first;
  code_list_append(&cursor, "B", nullptr, 3, 9);
  std::string order;
  for (CodeListNode* node = first; node; node = node->next) order += node->text;
  EXPECT_EQ(order, "IFBC");
  CodeListNode* last = code_list_step(first, 2);
  EXPECT_STREQ(last->text, "C");
  EXPECT_EQ(code_list_step(last, 1), nullptr);
  EXPECT_EQ(code_list_step(last, 0), last);
  EXPECT_EQ(code_list_position(last), 3);
  EXPECT_EQ(code_list_first(last), first);

  code_list_skip = 1;
  CodeListNode* before = last;
  code_list_append(&last, "X", nullptr, 1, 1);
  EXPECT_EQ(last, before);
  EXPECT_EQ(last->next, nullptr);
  code_list_skip = 0;

  EXPECT_STREQ(code_list_remove(first->next)->text, "C");
  EXPECT_EQ(first->next, last);
  EXPECT_EQ(code_list_remove_back(last), first);
  EXPECT_EQ(code_list_remove(first), nullptr);

  CodeListNode* alone = nullptr;
  code_list_append(&alone, "A", nullptr, 1, 1);
  EXPECT_EQ(code_list_remove_back(alone), nullptr);
  EXPECT_EQ(code_list_remove(nullptr), nullptr);
}

TEST_F(CompilerTest, CodeListCopyAndFree) {
  CodeListNode* source = nullptr;
  for (const char* word : {"A", "B", "C"}) code_list_append(&source, word, "one.zrk", 2, 5);
  CodeListNode* target = nullptr;
  code_list_append_copy(&target, source, "two.zrk");
  EXPECT_EQ(code_list_position(target), 3);
  EXPECT_STREQ(target->file_name, "two.zrk");
  EXPECT_EQ(target->line, 2u);
  // Freeing the middle node frees it and the first; the last stays whole.
  CodeListNode* last = target;
  code_list_free(target->prev);
  EXPECT_EQ(last->prev, nullptr);
  EXPECT_STREQ(last->text, "C");
}

TEST_F(CompilerTest, InstructionListCount) {
  InstructionNode nodes[3] = {};
  nodes[0].next = &nodes[1];
  nodes[1].previous = &nodes[0];
  nodes[1].next = &nodes[2];
  nodes[2].previous = &nodes[1];
  EXPECT_EQ(instruction_list_first(&nodes[2]), &nodes[0]);
  EXPECT_EQ(instruction_list_count(&nodes[1]), 3);
  EXPECT_EQ(instruction_list_count(nullptr), 0);
}

TEST_F(CompilerTest, SourceTitles) {
  struct Row {
    const char* text;
    const char* title;
  } rows[] = {{"x = 1\r\ny = 2", "x = 1"},
              {"x = 1\ny = 2", "x = 1"},  // LF line ends lose no character
              {"a = 1; b = 2", "a = 1"},
              {"abcdefghijklmnopqrstuvwxyz0123", "abcdefghijklmnopqrst"},
              {"\nrest", ""},
              {"a very long first line of text\r\n", "a very long first li"}};
  for (const Row& row : rows) {
    char* title = source_title(row.text);
    EXPECT_STREQ(title, row.title) << row.text;
    crt::free(title);
  }
}

}  // namespace
