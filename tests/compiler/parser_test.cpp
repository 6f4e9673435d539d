// The parser loop and the statement compiler: postfix word lists of small sources against
// expected files, token kinds, and every compile error these stages report.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "parser_fixture.h"

namespace {

std::string without_cr(std::string text) {
  std::string result;
  for (char c : text) {
    if (c != '\r') result += c;
  }
  return result;
}

TEST_F(ParserTest, PostfixWordListsMatchTheExpectedFiles) {
  const std::string folder = std::string(ZRK_TEST_SOURCE_DIR) + "/golden/";
  for (const char* name : {"parse_operators", "parse_calls", "parse_blocks", "parse_lists", "parse_classes", "parse_chains"}) {
    SCOPED_TRACE(name);
    std::string source = read_file(folder + name + ".zrk");
    ASSERT_NE(source.find("\r\n"), std::string::npos) << "sources are kept with CR LF line ends";
    std::string crlf_words = listing(parse(source)) + errors();
    TearDown();
    SetUp();
    std::string lf_words = listing(parse(without_cr(source))) + errors();
    EXPECT_EQ(lf_words, crlf_words) << "LF line ends give other words";
    TearDown();
    SetUp();
    expect_golden_file(folder + name + ".postfix", crlf_words);
  }
}

// Every cut of the sample sources is bad input somewhere: it ends with errors at worst,
// never a crash or a hang (the sanitizer build watches the memory).
TEST_F(ParserTest, CutSourcesEndWithErrorsNotCrashes) {
  const std::string folder = std::string(ZRK_TEST_SOURCE_DIR) + "/golden/";
  for (const char* name : {"parse_operators", "parse_calls", "parse_blocks", "parse_lists", "parse_classes", "parse_chains"}) {
    const std::string source = without_cr(read_file(folder + name + ".zrk"));
    for (size_t cut = 1; cut < source.size(); cut += 5) {
      TearDown();
      SetUp();
      parse(source.substr(0, cut));
      // Dropping a stretch from the middle leaves mismatched brackets and blocks.
      TearDown();
      SetUp();
      parse(source.substr(0, cut) + source.substr(std::min(source.size(), cut + 9)));
    }
  }
  SUCCEED();
}

TEST_F(ParserTest, SmallSourcesGiveTheirWords) {
  struct Row {
    const char* source;
    const char* words;
  };
  const Row rows[] = {
      // The division level binds tighter than "*".
      {"x% = a% * b% / c%;", "FIRST_OP <FB>X% A% B% C% / * ="},
      {"x% = a% + b% * c%;", "FIRST_OP <FB>X% A% B% C% * + ="},
      {"x% = a% - b% - c%;", "FIRST_OP <FB>X% A% B% - C% - ="},
      {"x% = a% > 1 AND b% < 2;", "FIRST_OP <FB>X% A% 1 > B% 2 < AND ="},
      {"x% = -a%;", "FIRST_OP <FB>X% 0 A% - ="},
      {"x% = NOT a%;", "FIRST_OP <FB>X% A% NOT ="},
      // A statement starting with a number, string, "(" or "-" is a CASE label line.
      {"5: print(1);", "__STARTCASE 5 :1 FIRST_OP 1 PRINT"},
      {"1, 2: print(1);", "__STARTCASE 1 2 :2 FIRST_OP 1 PRINT"},
      {"\"a\": x% = 1;", "__STARTCASE \"a\" :1 FIRST_OP <FB>X% 1 ="},
      {"(a%): x% = 1;", "__STARTCASE A% :1 FIRST_OP <FB>X% 1 ="},
      {"-1: x% = 1;", "__STARTCASE 0 1 - :1 FIRST_OP <FB>X% 1 ="},
      // The first assignment of a procedure body carries FIRST_OP, the next does not.
      {"proc p\n a% = 1;\n b% = 2;\nend;", "<E9>   P(0,0) __ENDDECL FIRST_OP <FB>A% 1 = <FB>B% 2 = END"},
      {"max(1, 2);", "FIRST_OP 1 2 MAX DROPSTACK"},
      {"a% = 1; b% = 2", "FIRST_OP <FB>A% 1 = <FB>B% 2 ="},
      {"x% = [];", "FIRST_OP <FB>X% __SAVESP __MAKEMATRIX ="},
      {"x% = [1, 2, [3]];", "FIRST_OP <FB>X% __SAVESP 1 2 __SAVESP 3 __MAKEMATRIX __MAKEMATRIX ="},
      {"x% = a%[1];", "FIRST_OP <FB>X% A% 1 __OFFSET1 ="},
      {"x% = a%[1, 2];", "FIRST_OP <FB>X% A% __SAVESP 1 2 __OFFSET ="},
      // Every index of an assigned element is an expression, not only the first.
      {"a%[i%, j%] = 5;", "FIRST_OP <F9>A% __SAVESP I% J% __OFFSET 5 ="},
      {"func f:2\nend;\na%, b% = f();",
       "<EC> \" F(0,2) __ENDDECL FIRST_OP END <FB>A% <FB>B% __SAVESP __SAVESP <E0>F(0,2) 2 __DROPFCTSTACK 2 M="},
      {"func f:2\nend;", "<EC> \" F(0,2) __ENDDECL FIRST_OP END"},
      {"private forcelink proc p\nend;", "<E9>_ <A2>P(0,0) __ENDDECL FIRST_OP END"},
      {"forward proc p(a%)\nproc p(a%)\nend;", "<E8>   P(1,0) <E9>   P(1,0) A% __ENDDECL FIRST_OP END"},
      // The last statement of a source needs no ";".
      {"proc main\nend", "<E9>   MAIN __ENDDECL FIRST_OP END"},
      {"print(1)", "FIRST_OP 1 PRINT"},
      {"x% = 1;\nbreak", "FIRST_OP <FB>X% 1 = BREAK"},
      // ELSE IF: the condition, then the marker that the same END closes.
      {"if (a%) print(1); else if (b%) print(2); else print(3); end",
       "FIRST_OP A% IF 1 PRINT ELSE B% __ELSEIF 2 PRINT ELSE 3 PRINT END"},
      {"if (a%)\nelse\nif (b%) end; end;", "FIRST_OP A% IF ELSE B% IF END END"},
      // An NPROC is called with the arguments given.
      {"nproc many\nend;\nmany(1, 2);", "<EA>   MANY(0,0) __ENDDECL2 FIRST_OP END __SAVESP 1 2 <E0>MANY(2,0)"},
      // Methods of the object in a variable: written with or without its "$". The count is
      // the results the call site takes: none for a statement.
      {"sq$.draw(1);", "FIRST_OP __SAVESP2 1 <E5>SQ$.DRAW;0"},
      {"sq.draw();", "FIRST_OP __SAVESP2 <E5>SQ$.DRAW;0"},
      {"x% = sq$.area() + 1;", "FIRST_OP <FB>X% __SAVESP2 <E5>SQ$.AREA;1 1 + ="},
      // A method of the class being compiled called on another object: that object's class
      // chooses the method when the call runs.
      {"#class C\npublic proc d\nend;\nproc p\nother.d();\nend;\n#endclass",
       "#CLASS  C <E9>   __CLASSCODE_C.__INIT(0,0) __ENDDECL END <E9>   __CLASSCODE_C.D(0,0) __ENDDECL FIRST_OP END "
       "<E9>_  __CLASSCODE_C.P(0,0) __ENDDECL FIRST_OP __SAVESP2 <E5>OTHER$.D;0 END"},
      {"#class C\npublic func d\nreturn(1);\nend;\nfunc p\nreturn(other.d() + 1);\nend;\n#endclass",
       "#CLASS  C <E9>   __CLASSCODE_C.__INIT(0,0) __ENDDECL END <EC> ! __CLASSCODE_C.D(0,1) __ENDDECL FIRST_OP 1 "
       "RETURN END <EC>_! __CLASSCODE_C.P(0,1) __ENDDECL FIRST_OP __SAVESP2 <E5>OTHER$.D;1 1 + RETURN END"},
  };
  for (const Row& row : rows) {
    TearDown();
    SetUp();
    EXPECT_EQ(words_of(row.source), row.words) << row.source;
    EXPECT_EQ(errors(), "") << row.source;
  }
}

TEST_F(ParserTest, EveryCompileErrorNamesItsFileAndLine) {
  struct Row {
    const char* source;
    const char* message;
    int line;
  };
  const Row rows[] = {
      {"x% = 1;\nx% = );", "Opening ( is missing", 2},
      {"x% = 1;\nx% = ];", "Opening [ is missing", 2},
      {"proc p(a%)\nend;\np(1, 2);", "Proc or Func \"P\" not found", 3},
      {"x% = 1;\nprint(1, 2);", "Invalid number of input parameters", 2},
      {"func f(a%)\nend;\nx% = f(1, 2);", "Invalid number of input parameters", 3},
      {"x% = 1;\nx%;", "Missing = [ ++ -- statement", 2},
      {"x% = 1;\na%[1];", "Missing = ++ -- statement", 2},
      {"x% = 1;\nx% = &nothing;", "Proc or Func \"NOTHING\" not defined", 2},
      {"x% = 1;\nprint(1):x", "Numeric value expected", 2},
      {"x% = 1;\nif x% > 1", "Expression expected", 2},
      {"x% = 1;\nprint(,1);", "Expression expected", 2},
      {"x% = 1;\nprint(1", "Closing ) missing", 2},
      {"x% = 1;\nx% = [1, 2;", "Closing ] missing", 2},
      {"x% = 1;\nx% = a%[];", "Offset value missing", 2},
      {"x% = 1;\nprint(;);", "Syntax error", 2},
      {"x% = 1;\nx% = 1 y% = 2;", "Syntax error", 2},
      {"x% = 1;\n1 x% = 2;", ": or , expected", 2},
      {"func f:2\nend;\nx% = 1;\na% = f();", "Invalid number of output arguments (2)", 4},
      {"proc p\nif (1)\nproc q\nend;\nend;\nend;", "Func or Proc definition cannot be embedded", 3},
      {"forward x%;", "PROC or FUNC statement expected", 1},
      {"proc p\nend;\nproc p\nend;", "Duplicate proc or func \"P\"", 3},
      {"proc p\nend;\nforward proc p", "Duplicate forward proc or func \"P\"", 3},
      {"forward proc p(a%)\nproc p\nend;", "Different proc or func \"P\" declaration", 2},
      {"proc p(1)\nend;", "Variable expected", 1},
      {"proc p(a%\nend;", "Closing ) missing", 2},
      {"nproc p(a%)\nend;", "Cannot specify parameters for NPROC or NFUNC", 1},
      {"proc p:2\nend;", "Cannot assign multiple outputs on a PROC or a NPROC!", 1},
      {"func f:x\nend;", "Numeric value expected", 1},
      {"#class C\noverride proc p\nend;\n#endclass", "OVERRIDE is not supported in a class definition", 2},
      {"#class C\nproc create\nend;\n#endclass", "Create proc definition must be NPROC", 2},
      {"#class C\npublic nproc create\nend;\n#endclass", "Create proc definition must be private", 2},
      {"#class C\nfunc destroy\nend;\n#endclass", "Destroy proc definition must be PROC", 2},
      {"#class C\npublic proc destroy\nend;\n#endclass", "Destroy proc definition must be private", 2},
      {"proc Nowhere.p\nend;", "Class \"NOWHERE\" not found", 1},
      {"x% = 1;\n#object Nowhere o;", "Class \"NOWHERE\" not found", 2},
      {"#class C\n#endclass\nC x%;", "Expression expected", 3},
      {"#class C\n#endclass\nC(1);", "Variable expected", 3},
      {"#class C\n#endclass\nC(a%[1]);", "Cannot classtype array here", 3},
      {"proc p\nif (1)\nlocal(a%);\nend;\nend;", "Can only declare variables at func/proc/class main code level!", 3},
      {"proc g\nend;\n#class C\nproc p\n#inherited g();\nend;\n#endclass", "No inheritance defined for class \"C\"",
       5},
      {"#class C\nproc p\n#inherited nothing();\nend;\n#endclass", "Not inheritance found for class \"C\"", 3},
      {"#class C\nproc d\nend;\nproc p\nother.d();\nend;\n#endclass",
       "Cannot call a private proc or func outside it's class definition", 5},
      {"proc p(a%)\nend;\np(&b%[1]);", "Cannot pass offset pointers to proc or func!", 3},
  };
  for (const Row& row : rows) {
    TearDown();
    SetUp();
    parse(row.source);
    const std::string text = errors();
    const std::string place = "(test.zrk) [" + std::string(row.message) + " at ";
    EXPECT_NE(text.find(place), std::string::npos) << row.source << "\n got: " << text;
    const std::string line = "(" + std::to_string(row.line) + ",";
    const size_t at = text.find(place);
    EXPECT_TRUE(at != std::string::npos && text.find(line, at) != std::string::npos)
        << row.source << "\n wanted line " << row.line << ", got: " << text;
  }
}

TEST_F(ParserTest, UndeclaredTextVariablesWarnOnlyWhenAsked) {
  const char* source = "proc p(a$)\nlocal(b$);\na$ = b$;\nc$ = 1;\nend;";
  parse(source);
  EXPECT_EQ(compile_warning_count, 0);
  TearDown();
  SetUp();
  // Warnings reach the compiler output only; catch it in a file.
  FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  compiler_output_stream = stream;
  compiler_output_enabled = 1;
  warn_globals = 1;
  parse(source);
  compiler_output_stream = nullptr;
  std::rewind(stream);
  char buffer[4096] = {};
  std::fread(buffer, 1, sizeof buffer - 1, stream);
  std::fclose(stream);
  EXPECT_EQ(compile_error_count, 0) << errors();
  EXPECT_EQ(compile_warning_count, 1);
  EXPECT_NE(std::string(buffer).find("Variable is not defined as local, it might be used as global at 'C$' (4,"),
            std::string::npos)
      << buffer;
}

TEST_F(ParserTest, DebugMarkersSurroundStatementsButNotCaseLabels) {
  debug_mode = 1;
  EXPECT_EQ(words_of("proc p\nwhile (1)\nend;\n5: x% = 1;\nend;"),
            "__DEBUG <E9>   P(0,0) __ENDDECL __DEBUG FIRST_OP __STARTWHILE __DEBUG 1 WHILE END __DEBUG __STARTCASE 5 :1 "
            "__DEBUG <FB>X% 1 = END __DEBUG");
}

// An empty statement compiles nothing, after a statement, a block keyword or a label.
TEST_F(ParserTest, EmptyStatementsAddNoWords) {
  const struct { const char* with_empty; const char* without; } rows[] = {
      {"x% = 1;;\ny% = 2;", "x% = 1;\ny% = 2;"},
      {";\nx% = 1;", "x% = 1;"},
      {"proc p\n;\nif (1);\n;;\nelse;\n;\nend;;\nend;", "proc p\nif (1)\nelse\nend;\nend;"},
      {"case (x%);;\n1:;\ny% = 1;;\ndefault:;\n;\nend;", "case (x%)\n1:\ny% = 1;\ndefault:\nend;"},
  };
  for (const auto& row : rows) {
    const std::string expected = words_of(row.without);
    TearDown();
    SetUp();
    EXPECT_EQ(words_of(row.with_empty), expected) << row.with_empty;
    EXPECT_EQ(compile_error_count, 0) << row.with_empty << "\n" << errors();
    TearDown();
    SetUp();
  }
}

TEST_F(ParserTest, ProfilingWordsFollowEachSeparatedStatement) {
  profile_mode = 1;
  EXPECT_EQ(words_of("x% = 1;"), "FIRST_OP <FB>X% 1 = \"test.zrk\" 1 __PROFILE");
}

TEST_F(ParserTest, ReadingStopsAfterSixtyFourErrors) {
  std::string source;
  for (int index = 0; index < 100; ++index) source += "nothing();\n";
  parse(source);
  EXPECT_EQ(compile_error_count, 64);
}

TEST_F(ParserTest, DeepNamespacesAreAnErrorNotAnOverflow) {
  std::string source;
  for (int index = 0; index < kNamespaceStackSize + 2; ++index) source += "#namespace n" + std::to_string(index) + "\n";
  for (int index = 0; index < kNamespaceStackSize + 4; ++index) source += "#endnamespace\n";
  parse(source);
  EXPECT_NE(errors().find("Namespaces nested too deeply"), std::string::npos) << errors();
  EXPECT_EQ(current_namespace, 0u);
}

TEST_F(ParserTest, TokenKinds) {
  struct Row {
    const char* word;
    char kind;
  };
  const Row rows[] = {
      {"A%", 'O'},   {"&A%", 'v'},  {"&P", 'l'},   {"12", 'V'},  {"\"T\"", 'V'}, {"&", 'a'},  {"XOR", 'R'},
      {"OR", 'R'},   {"^", 'x'},    {"|", 'r'},    {"&=", '$'},  {"+=", '$'},    {"=", '$'},  {"==", '='},
      {"<>", 2},     {"<=", '!'},   {">=", '.'},   {"<<", 'L'},  {"SHR", 'h'},   {"::", 'n'}, {":", 'C'},
      {"MOD", 'M'},  {"DIV", 'D'},  {"NOT", 'N'},  {"PROC", '1'}, {"NFUNC", '2'}, {"FORWARD", '3'},
      {"OVERRIDE", '4'}, {"FORCELINK", 'k'}, {"PRIVATE", 'E'}, {"DEFAULT", 'V'}, {"#CODE", '`'},
      {"PRINT", 'F'}, {"NOBODY", ' '}, {".M", 'F'}, {"A.B", 'F'}, {"++", 'p'}, {"--", 'm'}, {"%", '%'},
  };
  for (const Row& row : rows) {
    TearDown();
    SetUp();
    CodeListNode* cursor = nullptr;
    code_list_append(&cursor, row.word, nullptr, 1, 1);
    char kind = 1;
    EXPECT_EQ(read_token("t", &kind, &cursor), 1) << row.word;
    EXPECT_EQ(kind, row.kind) << row.word;
  }
  // PUBLIC is a call when "(" follows, a modifier otherwise; a re-read stays in place.
  CodeListNode* cursor = nullptr;
  code_list_append(&cursor, "PUBLIC", nullptr, 1, 1);
  CodeListNode* first = cursor;
  code_list_append(&cursor, "(", nullptr, 1, 7);
  char kind = 1;
  read_token("t", &kind, &first);
  EXPECT_EQ(kind, 'F');
  EXPECT_GE(last_builtin_index, 0);
  const int32_t before = words_read;
  kind = 1;
  read_token("t", &kind, &first);
  EXPECT_EQ(words_read, before);
  EXPECT_EQ(std::string(first->text), "PUBLIC");
  EXPECT_EQ(read_token("t", &kind, &first), 1);
  EXPECT_EQ(read_token("t", &kind, &first), 0);
  EXPECT_EQ(kind, '\n');
}

TEST_F(ParserTest, ProceduresOfOneNameWithOtherCountsStayApart) {
  parse("proc p(a%)\nend;\nproc p(a%, b%)\nend;\noverride proc p(a%)\nend;");
  EXPECT_EQ(errors(), "");
  ASSERT_EQ(procedure_count, 2);
  EXPECT_EQ(find_procedure_index("P", ProcedureTable, procedure_count, 0, true, false), 1);
  EXPECT_EQ(find_procedure_index("P(1,0)", ProcedureTable, procedure_count, 1, false, false), 0);
}

}  // namespace
