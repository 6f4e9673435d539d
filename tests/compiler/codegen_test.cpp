// The code generator: instruction listings of whole programs against golden files, the
// edge cases of single words, the compile errors of blocks, calls and declarations, and
// compiled programs run on the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "codegen_fixture.h"

// A handler that divides by zero, so a script can fault at a known place.
extern "C" void codegen_fault_divide();
asm(R"(
  .text
  .globl codegen_fault_divide
  .hidden codegen_fault_divide
  .type codegen_fault_divide, @function
codegen_fault_divide:
  movl $1, %eax
  xorl %ecx, %ecx
  cltd
  idivl %ecx
  ret
)");

namespace {

using ::testing::HasSubstr;

std::string golden_path(const std::string& name) {
  return std::string(ZRK_TEST_SOURCE_DIR) + "/golden/codegen/" + name + ".listing";
}

// ---- Golden listings ----

struct GoldenCase {
  const char* name;
  const char* source;
  int32_t link_passes;
};

const GoldenCase kGoldenCases[] = {
    {"if_elseif_else",
     "proc main\n"
     "  if (a% == 1)\n    record(1);\n  else\n    if (a% == 2) record(2); else record(3); end;\n  end;\n"
     "  if (a%) record(4); end;\n"
     "end;\n",
     1},
    {"loops",
     "proc main\n"
     "  while (i% < 3) i%++; end;\n"
     "  for (i%, 1, 10, 2) record(i%); end;\n"
     "  foreach (e%, l%) record(e%); end;\n"
     "  foreachrev (e%, l%) record(e%); end;\n"
     "  repeat i%--; until (i% == 0);\n"
     "end;\n",
     1},
    {"break_continue",
     "proc main\n"
     "  while (1)\n    if (i% > 5) break; end;\n    if (i% == 2) continue; end;\n    i%++;\n  end;\n"
     "  foreach (e%, l%)\n    break;\n  end;\n"
     "  repeat\n    i%--;\n    if (i% == 1) continue; end;\n    case (i%)\n      3: break;\n    end;\n"
     "  until (i% == 0);\n"
     "end;\n",
     1},
    {"case",
     "proc main\n"
     "  case (n$)\n    1, 2: record(1);\n    \"a\": record(2);\n    default: record(3);\n  end;\n"
     "end;\n",
     1},
    {"try_except",
     "proc main\n"
     "  try\n    record(1);\n  except\n    record(2);\n  end;\n"
     "  try\n    record(3);\n  except\n    record(4);\n  finally\n    record(5);\n  end;\n"
     "end;\n",
     1},
    {"procedures",
     "func area(w%, h%)\n  return(w% * h%);\nend;\n"
     "forward proc later(a%)\n"
     "proc main\n  record(area(2, 3));\n  p% = &later;\n  later(1);\nend;\n"
     "proc later(a%)\n  record(a%);\nend;\n",
     1},
    {"assignments",
     "proc main\n  a% = 5;\n  b% += 2;\n  b%++;\n  c$ = \"x\" % \"y\";\n  d% = (a% = 4);\nend;\n",
     1},
    {"objects_classes",
     "#class Shape\n  x% = 0;\n  proc draw()\n    record(x%);\n  end;\n#endclass\n"
     "#class Shape Square\n  proc draw()\n    record(1);\n  end;\n#endclass\n"
     "proc main\n  obj.draw(5);\n  shape.area();\nend;\n",
     1},
    {"declarations",
     "#DECLARE absolute \"libc.so.6\" \"abs\" 1 1\n"
     "#DECLARE unused \"libc.so.6\" \"labs\" 1 1\n"
     "#C_DECLARE cabs \"libc.so.6\" \"abs\" 1 1\n"
     "record(absolute(-4));\nrecord(cabs(-5));\n",
     1},
    {"script_without_procedures", "a% = 1;\nwhile (a% < 3) a%++; end;\nrecord(a%);\n", 1},
    {"unused_procedures_removed",
     "proc inner\n  record(1);\nend;\nproc outer\n  inner();\nend;\nproc used\nend;\n"
     "proc main\n  used();\nend;\n",
     999},
};

class GoldenListing : public CodegenTest, public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(GoldenListing, MatchesTheGoldenFile) {
  const GoldenCase& row = GetParam();
  compile_options.link = row.link_passes;
  compile(row.source);
  EXPECT_EQ(errors(), "") << row.name;
  SCOPED_TRACE(row.name);
  expect_golden_file(golden_path(row.name), listing());
}

INSTANTIATE_TEST_SUITE_P(Programs, GoldenListing, ::testing::ValuesIn(kGoldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Single words ----

TEST_F(CodegenTest, AnEmptyWordListYieldsTheLeadingNodeAndEndProc) {
  generate(nullptr);
  ASSERT_EQ(opcodes(), (std::vector<uint32_t>{0, 2}));
  InstructionNode* first = instruction_list_first(tail);
  EXPECT_STREQ(first->text, "test.zrk");
  EXPECT_STREQ(tail->text, "test.zrk");
  EXPECT_EQ(main_entry, first);
}

TEST_F(CodegenTest, MarkedTargetsBecomeFusedNodesNamingTheVariable) {
  struct Case {
    std::vector<std::string> words;
    std::vector<uint32_t> opcodes;
    const char* name;  // text of the last node before ENDPROC
  };
  const Case cases[] = {
      {{"\xFB" "A%", "5", "="}, {0, 4, 33, 2}, "A%"},
      {{"\xF9" "B%", "2", "+="}, {0, 4, 78, 2}, "B%"},
      {{"\xF9" "B%", "++"}, {0, 35, 2}, "B%"},
      {{"\xF9" "B%", "++2"}, {0, 37, 2}, "B%"},
      {{"\xF9" "B%", "__OFFSET1"}, {0, 40, 2}, "B%"},
      // An unmarked variable keeps "=" as a call of the operator.
      {{"A%", "5", "="}, {0, 6, 4, 34, 2}, nullptr},
      // LOCAL forgets the target: the "=" after it is the operator.
      {{"\xFB" "A%", "LOCAL", "="}, {0, 7, 34, 34, 2}, nullptr},
  };
  for (const Case& row : cases) {
    generate(word_list(row.words));
    EXPECT_EQ(opcodes(), row.opcodes) << row.words[0] << " " << row.words.back();
    if (row.name) EXPECT_STREQ(tail->previous->text, row.name) << row.words.back();
    EXPECT_EQ(errors(), "");
  }
}

TEST_F(CodegenTest, ElseIfChainIsClosedByOneEnd) {
  generate(word_list({"1", "IF", "1", "RECORD", "ELSE", "2", "__ELSEIF", "2", "RECORD", "ELSE", "3", "RECORD", "END",
                      "4", "RECORD"}));
  EXPECT_EQ(errors(), "");
  std::vector<InstructionNode*> ifs, branches;
  InstructionNode* end_position = nullptr;
  for (InstructionNode* node = instruction_list_first(tail); node; node = node->next) {
    if (node->opcode == 12) ifs.push_back(node);
    if (node->opcode == 3) branches.push_back(node);
    if (node->opcode == 4 && node->operand == 4) end_position = node->previous;
  }
  ASSERT_EQ(ifs.size(), 2u);
  ASSERT_EQ(branches.size(), 2u);
  EXPECT_EQ(ifs[0]->extension->link, branches[0]);
  EXPECT_EQ(ifs[1]->extension->link, branches[1]);
  EXPECT_EQ(branches[0]->extension->link, end_position);
  EXPECT_EQ(branches[1]->extension->link, end_position);
  EXPECT_TRUE(end_position->extension->is_jump_target);
}

TEST_F(CodegenTest, LiteralsAndThePercentOperator) {
  generate(word_list({"\"ab\"", "\"\"", "12.5", "\"x\"", "\"y\"", "%"}));
  InstructionNode* node = instruction_list_first(tail)->next;
  EXPECT_EQ(node->opcode, 5u);
  EXPECT_STREQ(node->text, "ab");
  node = node->next;
  EXPECT_EQ(node->opcode, 5u);
  EXPECT_STREQ(node->text, "");
  node = node->next;
  EXPECT_EQ(node->opcode, 4u);
  EXPECT_EQ(node->operand, 12.5);
  // "%" concatenates: a call of the operator, never a variable.
  EXPECT_EQ(tail->previous->opcode, 34u);
  EXPECT_EQ(tail->previous->text, nullptr);
  EXPECT_EQ(errors(), "");
}

TEST_F(CodegenTest, ObjectCallWordNamesObjectMethodAndArgumentCount) {
  generate(word_list({"\xE5obj.Draw;2"}));
  InstructionNode* push = instruction_list_first(tail)->next;
  ASSERT_EQ(push->opcode, 7u);
  EXPECT_STREQ(push->text, "OBJ");
  ASSERT_EQ(push->next->opcode, 27u);
  EXPECT_STREQ(push->next->text, "DRAW");
  EXPECT_EQ(push->next->work, 2u);
}

TEST_F(CodegenTest, ProcedureHeadsFillTheTableAndChooseTheEntry) {
  struct Case {
    std::vector<std::string> words;
    bool entry_is_head;
    uint8_t winmain;
    uint32_t head_opcode;
  };
  const Case cases[] = {
      {{"\xE9   MAIN", "__ENDDECL", "END"}, true, 0, 1},
      {{"\xEC ! WINMAIN", "A%", "__ENDDECL", "END"}, true, 1, 1},
      // MAIN with parameters and WINMAIN without are no entries.
      {{"\xEC ! MAIN", "A%", "__ENDDECL", "END"}, false, 0, 1},
      {{"\xE9   WINMAIN", "__ENDDECL", "END"}, false, 0, 1},
      // A function head the table did not hold yet.
      {{"\xEA   F", "__ENDDECL", "END"}, false, 0, 84},
      // A forward declaration entered it first.
      {{"\xEB   F", "\xEA   F", "__ENDDECL", "END"}, false, 0, 1},
  };
  for (const Case& row : cases) {
    generate(word_list(row.words));
    InstructionNode* head = nullptr;
    for (InstructionNode* node = instruction_list_first(tail); node && !head; node = node->next) {
      if (node->opcode == 1 || node->opcode == 84) head = node;
    }
    ASSERT_NE(head, nullptr) << row.words[0];
    EXPECT_EQ(head->opcode, row.head_opcode) << row.words[0];
    EXPECT_EQ(main_entry == head, row.entry_is_head) << row.words[0];
    EXPECT_EQ(winmain, row.winmain) << row.words[0];
    ASSERT_GE(procedure_count, 1);
    EXPECT_EQ(procedures[procedure_count - 1]->start, head) << row.words[0];
    EXPECT_EQ(errors(), "");
  }
}

TEST_F(CodegenTest, AddressOfALaterProcedureIsFilledAtTheEnd) {
  generate(word_list({"&P", "\xE9   P", "__ENDDECL", "END"}));
  InstructionNode* address = instruction_list_first(tail)->next;
  ASSERT_EQ(address->opcode, 20u);
  EXPECT_EQ(address->operand, static_cast<double>(platform::address_of(address->next)));
  EXPECT_EQ(errors(), "");
}

TEST_F(CodegenTest, CallsOfAnNprocWithAnyInputCountReachItsHead) {
  // Called before and after its head, with arguments it was not declared with.
  generate(word_list({"\xE0MANY(2,0)", "\xEA   MANY(0,0)", "__ENDDECL2", "END", "\xE0MANY(3,0)"}));
  EXPECT_EQ(errors(), "");
  std::vector<InstructionNode*> calls;
  InstructionNode* head = nullptr;
  for (InstructionNode* node = instruction_list_first(tail); node; node = node->next) {
    if (node->opcode == 84 || node->opcode == 1) head = node;
    if (node->text && std::string(node->text) == "MANY(0,0)" && node != head) calls.push_back(node);
  }
  ASSERT_NE(head, nullptr);
  ASSERT_EQ(calls.size(), 2u);
  for (InstructionNode* call : calls) {
    ASSERT_NE(call->extension, nullptr);
    EXPECT_EQ(call->extension->link, head);
  }
}

TEST_F(CodegenTest, DeclarationLeavesSevenDataNodesThatRunAsNothing) {
  generate(word_list({"#DECLARE", "absolute", "abs", "libc.so.6", "1", "1"}));
  EXPECT_EQ(opcodes(), (std::vector<uint32_t>{0, 177, 0, 0, 0, 0, 0, 0, 2}));
  for (InstructionNode* node = instruction_list_first(tail)->next; node != tail; node = node->next) {
    EXPECT_NE(node->handler, nullptr) << node->opcode;
  }
  EXPECT_EQ(errors(), "");
}

// ---- Compile errors ----

struct ErrorCase {
  const char* name;
  std::vector<std::string> words;
  const char* message;
};

const ErrorCase kErrorCases[] = {
    {"else_without_if", {"ELSE"}, "ELSE statement found without an IF statement 'ELSE'"},
    {"until_without_repeat", {"1", "UNTIL"}, "UNTIL found without a REPEAT statement"},
    {"except_without_try", {"EXCEPT"}, "EXCEPT found without a TRY statement"},
    {"stray_end", {"END"}, "END statement not linked with any statement"},
    {"break_outside", {"BREAK"}, "BREAK statement found outside a loop"},
    {"continue_outside", {"\xE9   P", "__ENDDECL", "CONTINUE", "END"}, "CONTINUE statement found outside a loop"},
    {"break_in_top_level_repeat", {"__STARTREPEAT", "REPEAT", "BREAK", "1", "UNTIL"},
     "BREAK statement found outside a loop"},
    // A TRY is no loop: leaving it would re-enter it or branch nowhere.
    {"break_in_try", {"TRY", "1", "IF", "BREAK", "END", "EXCEPT", "END"}, "BREAK statement found outside a loop"},
    {"continue_in_try", {"TRY", "1", "IF", "CONTINUE", "END", "EXCEPT", "END"},
     "CONTINUE statement found outside a loop"},
    // REPEAT and TRY do not close each other.
    {"until_closing_try", {"__STARTREPEAT", "REPEAT", "TRY", "1", "UNTIL"}, "UNTIL found without a REPEAT statement"},
    {"except_closing_repeat", {"__STARTREPEAT", "REPEAT", "EXCEPT"}, "EXCEPT found without a TRY statement"},
    {"open_if", {"1", "IF"}, "An IF statement has not been closed with an END statement"},
    {"open_if_block", {"1", "IF"}, "An END statement is missing"},
    {"open_while", {"__STARTWHILE", "1", "WHILE"}, "A WHILE statement has not been closed with an END statement!"},
    {"open_repeat", {"__STARTREPEAT", "REPEAT"},
     "A REPEAT, FOREACH or a FOR statement has not been closed with an UNTIL statement!"},
    {"unknown_address", {"&NOPE"}, "Proc or Func \"&NOPE\" not found"},
    {"object_call_without_dot", {"\xE5OBJDRAW"}, "Invalid object call"},
    {"stack_object_without_class", {"1", "\xE5STACK.DRAW;1"}, "Invalid object call"},
    {"forward_never_defined", {"\xE8   LATER", "\xE0LATER"}, "Cannot resolve [LATER] address"},
    {"too_many_declared_parameters", {"#DECLARE", "big", "abs", "libc.so.6", "17", "1"},
     "Declared function \"big\" has more than 16 parameters"},
    {"unknown_word", {"NOSUCHWORD"}, "Syntax error"},
    {"bad_first_character", {"?X"}, "Syntax error"},
};

class GeneratorError : public CodegenTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(GeneratorError, IsReportedWithItsText) {
  const ErrorCase& row = GetParam();
  generate(word_list(row.words));
  EXPECT_THAT(errors(), HasSubstr(row.message));
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->opcode, 2u);
}

INSTANTIATE_TEST_SUITE_P(Words, GeneratorError, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CodegenTest, NestingDeeperThanTheTablesStopsWithOneError) {
  std::vector<std::string> words;
  for (int depth = 0; depth < 200; ++depth) {
    words.push_back("1");
    words.push_back("IF");
  }
  for (int depth = 0; depth < 200; ++depth) words.push_back("END");
  generate(word_list(words));
  EXPECT_THAT(errors(), HasSubstr("Blocks nested too deeply"));
  EXPECT_EQ(compile_error_count, 1);
  EXPECT_EQ(tail->opcode, 2u);
}

TEST_F(CodegenTest, StackObjectCallTurnsTheClassNodeIntoClass4) {
  generate(word_list({"\"SHAPE\"", "P%", "__CLASS3", "\xE5STACK.AREA;0"}));
  EXPECT_EQ(errors(), "");
  std::vector<uint32_t> expected{0, 5, 6, 41, 7, 27, 2};
  EXPECT_EQ(opcodes(), expected);
  EXPECT_STREQ(tail->previous->previous->text, "__STACKTEMPOBJECT$");
}

// ---- Running compiled programs ----

struct RunCase {
  const char* name;
  const char* source;
  std::vector<std::string> recorded;
};

const RunCase kRunCases[] = {
    {"recursion",
     "func fib(n%)\n  if (n% < 2)\n    return(n%);\n  end;\n  return(fib(n% - 1) + fib(n% - 2));\nend;\n"
     "proc main\n  record(fib(10));\nend;\n",
     {"55"}},
    {"loops",
     "proc main\n  s% = 0;\n  for (i%, 1, 4) s% = s% + i%; end;\n  record(s%);\n"
     "  while (s% > 3) s% = s% - 3; end;\n  record(s%);\n"
     "  repeat s%++; until (s% == 7);\n  record(s%);\nend;\n",
     {"10", "1", "7"}},
    {"foreach_over_a_packed_list",
     "proc main\n  l% = [1, 2, 3];\n  foreach (e%, l%)\n    record(e%);\n  end;\n"
     "  foreachrev (e%, l%) record(e%); end;\nend;\n",
     {"1", "2", "3", "3", "2", "1"}},
    // The inner call returns from inside the loop both calls run: the caller's loop goes
    // on from its own item, not from where the inner call left.
    {"foreach_left_by_return_in_a_recursive_call",
     "proc walk(depth%)\n  local(e$);\n  foreach (e$, g%)\n"
     "    if (depth% > 0) if (e$ == 2) walk(depth% - 1); end; end;\n"
     "    record(depth% * 10 + e$);\n"
     "    if (depth% == 0) return; end;\n"
     "  end;\nend;\n"
     "proc main\n  g% = [1, 2, 3];\n  walk(1);\nend;\n",
     {"11", "1", "12", "13"}},
    {"break_and_continue",
     "proc main\n  i% = 0;\n  while (1)\n    i%++;\n    if (i% == 2) continue; end;\n    if (i% > 4) break; end;\n"
     "    record(i%);\n  end;\n  record(i%);\nend;\n",
     {"1", "3", "4", "5"}},
    {"case",
     "forward proc pick(n%)\nproc main\n  pick(2);\n  pick(3);\n  pick(9);\nend;\n"
     "proc pick(n%)\n  case (n%)\n    1, 2: record(\"low\");\n    3: record(\"three\");\n    default: record(\"other\");\n"
     "  end;\nend;\n",
     {"low", "three", "other"}},
    {"try_catches_a_fault",
     "proc main\n  try\n    record(1);\n    faultnow();\n    record(2);\n  except\n    record(3);\n  end;\n"
     "  record(4);\nend;\n",
     {"1", "3", "4"}},
    {"string_building",
     "proc main\n  s$ = \"\";\n  for (i%, 1, 3) s$ = s$ % \"ab\"; end;\n  record(s$);\nend;\n",
     {"ababab"}},
    {"declared_function_without_procedures", "#DECLARE absolute \"libc.so.6\" \"abs\" 1 1\nrecord(absolute(-4));\n",
     {"4"}},
    // The source ends without ";" after its last END.
    {"else_if_chain",
     "proc main\n  for (i%, 1, 4)\n    if (i% == 1)\n      record(\"one\");\n    else if (i% == 2)\n      record(\"two\");\n"
     "    else if (i% == 3) record(\"three\");\n    else\n      record(\"other\");\n    end;\n  end;\nend",
     {"one", "two", "three", "other"}},
    {"variadic_called_with_arguments",
     "nproc many\n  record(\"many\");\nend;\nnfunc seven\n  return(7);\nend;\n"
     "forward nproc later\n"
     "proc main\n  many(2, 0);\n  many();\n  record(seven(1, 2, 3));\n  later(4, 5);\nend;\n"
     "nproc later\n  record(\"later\");\nend;\n",
     {"many", "many", "7", "later"}},
    {"results_namespaces_and_case",
     "func divmod(a%, b%):2\n  return(a% div b%, a% mod b%);\nend;\n"
     "#namespace util\nfunc twice(x%)\n  return(x% * 2);\nend;\n#endnamespace\n"
     "proc main\n  q%, r% = divmod(17, 5);\n  record(q%);\n  record(r%);\n  record(::util twice(21));\n"
     "  case (q% + r%)\n    4: record(\"four\");\n    5: record(\"five\");\n    default: record(\"other\");\n  end;\n"
     "end\n",
     {"3", "2", "42", "five"}},
};

class RunProgram : public CodegenTest,
                   public ::testing::WithParamInterface<std::tuple<RunCase, uint8_t>> {};

TEST_P(RunProgram, RecordsTheExpectedValues) {
  const auto& [row, optimiser] = GetParam();
  ASSERT_GE(builtin_register_arity("FAULTNOW", codegen_fault_divide, 0, 0), 0);
  optimize = optimiser;
  compile(row.source);
  ASSERT_EQ(errors(), "") << row.name;
  run_main();
  EXPECT_EQ(recorded, row.recorded) << row.name << " optimiser " << int{optimiser};
}

INSTANTIATE_TEST_SUITE_P(Programs, RunProgram,
                         ::testing::Combine(::testing::ValuesIn(kRunCases), ::testing::Values(0, 1)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_optimised" : "");
                         });

}  // namespace

namespace {

// How many texts the running program owns.
void owned_count_builtin() {
  int32_t count = 0;
  for (OwnedAllocation* node = current_program->owned; node; node = node->next) ++count;
  stack_push_number(current_program, count);
}

// Each pass of a loop gives back the texts it made, so a loop that builds text keeps the
// same few blocks however many passes it runs (not one per pass until the loop ends).
class LoopPasses : public CodegenTest {
 protected:
  int owned_at_the_last_pass(const char* source) {
    EXPECT_GE(builtin_register_arity("OWNEDCOUNT", owned_count_builtin, 0, 1), 0);
    compile(source);
    run_main();
    EXPECT_EQ(recorded.size(), 1u) << source << errors();
    return recorded.empty() ? -1 : std::stoi(recorded[0]);
  }
};

TEST_F(LoopPasses, ForGivesBackWhatEachPassMade) {
  int owned = owned_at_the_last_pass(
      "proc main\n  s$ = \"\";\n  for (i%, 1, 200)\n    s$ = s$ % \"x\" % i%;\n    n% = ownedcount();\n  end;\n"
      "  record(n%);\nend;\n");
  EXPECT_GE(owned, 0);
  EXPECT_LE(owned, 4);
}

TEST_F(LoopPasses, WhileGivesBackWhatEachPassMade) {
  int owned = owned_at_the_last_pass(
      "proc main\n  s$ = \"\";\n  i% = 0;\n  while (i% < 200)\n    s$ = s$ % \"x\" % i%;\n    i%++;\n"
      "    n% = ownedcount();\n  end;\n  record(n%);\nend;\n");
  EXPECT_GE(owned, 0);
  EXPECT_LE(owned, 4);
}

}  // namespace
