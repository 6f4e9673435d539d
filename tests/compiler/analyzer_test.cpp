// The source analyzer and preprocessor: word lists of small sources against expected
// files, line ends, includes and their search order, and every compile error they report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "compiler_fixture.h"

namespace {

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// CR LF to LF: the same source as a Linux editor saves it.
std::string with_lf_ends(std::string text) {
  std::string result;
  for (size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '\r' && index + 1 < text.size() && text[index + 1] == '\n') continue;
    result += text[index];
  }
  return result;
}

// One line per word: text (CR, LF, TAB and backslash escaped), hash, line, column.
std::string listing(const std::vector<CodeListNode*>& words) {
  std::string result;
  for (CodeListNode* node : words) {
    for (const char* c = node->text; *c; ++c) {
      if (*c == '\r') result += "\\r";
      else if (*c == '\n') result += "\\n";
      else if (*c == '\t') result += "\\t";
      else if (*c == '\\') result += "\\\\";
      else result += *c;
    }
    result += "\t" + std::to_string(node->hash) + "\t" + std::to_string(node->line) + "\t" +
              std::to_string(node->column) + "\n";
  }
  return result;
}

TEST_F(CompilerTest, WordListsMatchTheExpectedFiles) {
  const std::string folder = std::string(ZRK_TEST_SOURCE_DIR) + "/golden/";
  for (const char* name : {"operators", "strings", "comments", "definitions", "conditionals", "procedures"}) {
    SCOPED_TRACE(name);
    std::string source = read_file(folder + name + ".zrk");
    ASSERT_FALSE(source.empty());
    ASSERT_NE(source.find("\r\n"), std::string::npos) << "sources are kept with CR LF line ends";

    std::string crlf_words = listing(analyze(source));
    EXPECT_EQ(errors(), "");
    TearDown();
    SetUp();
    std::string lf_words = listing(analyze(with_lf_ends(source)));
    EXPECT_EQ(lf_words, crlf_words) << "LF line ends give other words";

    expect_golden_file(folder + name + ".words", crlf_words);
    TearDown();
    SetUp();
  }
}

TEST_F(CompilerTest, WordsOfSmallSources) {
  struct Row {
    const char* source;
    std::vector<std::string> words;
  } rows[] = {
      {"a<=b", {"A", "<=", "B"}},
      {"a!=b", {"A", "<>", "B"}},
      {"x+=1", {"X", "+=", "1"}},
      {"1e-5 1-5", {"1e-5", "1", "-", "5"}},
      {"a$b", {"A$", "B"}},
      {"'A'", {"65"}},
      {"'AB'", {"EVALSTRING", "(", "\"AB\"", ")"}},
      {"#65#66", {"\"AB\""}},
      {"{a{b}c}", {"\"a{b}c\""}},
      {"\"a\\nb\"", {"\"a\r\nb\""}},
      {"\"a\\qb\"", {"\"ab\""}},
      {"/* a /* b */ c */", {"C", "*", "/"}},
      {"#DEFINE TWO 1 + 1\r\nA = TWO * 2", {"A", "=", "1", "+", "1", "*", "2"}},
      {"#DEFINE DEBUG\r\n#IFDEF DEBUG\r\nx DEBUG y\r\n#ENDIF", {"X", "Y"}},
      {"#define v 1\r\n#define w v + 2\r\nw", {"1", "+", "2"}},  // a value holds earlier definitions
      {"#DEFINE A 1\r\n#IFDEF B\r\nb\r\n#ELSEIF A\r\nx\r\n#ELSE\r\nc\r\n#ENDIF", {"X"}},
      {"#IFDEF B\r\nb\r\n#ELSEIF C\r\nc\r\n#ELSE\r\nd\r\n#ENDIF", {"D"}},
      {"#DEFINE X 5\r\n#UNDEF X\r\nX", {"X"}},
      {"#LINK off\r\n#GLOBALS\r\n#LOCALS\r\n#NOZRC\r\n#LIBRARY\r\nz", {"Z"}},
      {"#CODE \"lib.zrk,40\"\r\nq", {"#CODE", "\"lib.zrk,40\"", "Q"}},
      {"else if x", {"ELSE", "__ELSEIF", "X"}},
      {"else\r\nif x", {"ELSE", "IF", "X"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(texts(row.source), row.words) << row.source;
    EXPECT_EQ(errors(), "") << row.source;
    TearDown();
    SetUp();
  }
}

TEST_F(CompilerTest, DirectivesSetTheOptions) {
  analyze("#LINK multi\r\n#NOZRC\r\n#LIBRARY\r\n#NOWARNING\r\n#ICON \"app.ico\"\r\n#ICON \"other.ico\"\r\n"
          "#GLOBALS\r\n#DEFINE KEPT 1\r\n#LOCALS\r\n#DEFINE DROPPED 2\r\n");
  EXPECT_EQ(compile_options.link, 999);
  EXPECT_EQ(compile_options.no_compiled_file, 1);
  EXPECT_EQ(compile_options.library, 1);
  EXPECT_EQ(compile_options.warnings, 0);
  EXPECT_STREQ(compile_options.icon_file, "app.ico");
  drop_compile_constants(0);
  int32_t kept = 0;
  for (int32_t slot = 0; slot < compile_constant_count; ++slot) kept += CompileConstantTable[slot] != nullptr;
  EXPECT_EQ(kept, 1);
}

TEST_F(CompilerTest, PlacesAndTheCodeDirective) {
  auto words = analyze("a\r\n  bc = 1\r\n#CODE \"other.zrk,40\"\r\nd\r\n", "Main.zrk");
  ASSERT_EQ(words.size(), 7u);
  // The column counts to just past the word.
  EXPECT_EQ(words[0]->line, 1u);
  EXPECT_EQ(words[0]->column, 2);
  EXPECT_EQ(words[1]->line, 2u);
  EXPECT_EQ(words[1]->column, 5);
  EXPECT_STREQ(words[1]->file_name, "main.zrk");
  EXPECT_STREQ(words[6]->text, "D");
  EXPECT_STREQ(words[6]->file_name, "other.zrk");
  EXPECT_EQ(words[6]->line, 41u);
}

TEST_F(CompilerTest, ExpandedWordsTakeThePlaceOfTheName) {
  auto words = analyze("#DEFINE PAIR 1,\\\r\n2\r\n\r\nx = PAIR\r\ny\r\n");
  ASSERT_EQ(words.size(), 6u);
  for (int index : {2, 3, 4}) {
    EXPECT_EQ(words[index]->line, 4u) << index;
    EXPECT_EQ(words[index]->column, 9) << index;
  }
  EXPECT_EQ(words[5]->line, 5u);
}

class IncludeTest : public CompilerTest {
 protected:
  void SetUp() override {
    CompilerTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-include-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern + "/";
    std::filesystem::create_directories(root + "prog/Lib");
    std::filesystem::create_directories(root + "src");
    std::filesystem::create_directories(root + "extra");
    crt::free(program_folder);
    program_folder = crt::_strdup((root + "prog/").c_str());
    extra_folder = root + "extra/";
    library_path_element = [](int32_t index) -> const char* {
      return index == 0 ? IncludeTest::extra_folder.c_str() : nullptr;
    };
  }
  void TearDown() override {
    library_path_element = nullptr;
    crt::free(program_folder);
    program_folder = nullptr;
    std::filesystem::remove_all(root);
    CompilerTest::TearDown();
  }
  // The main source lives in src/.
  std::vector<std::string> analyze_main(const std::string& text) {
    std::string main = root + "src/main.zrk";
    write_file(main, text);
    return texts(text, main.c_str());
  }
  std::string root;
  static std::string extra_folder;
};
std::string IncludeTest::extra_folder;

TEST_F(IncludeTest, SearchOrderAndMarkers) {
  // Each folder of the search holds its own UTIL.zrk; removing the winner shows the next.
  struct Place {
    const char* folder;
    const char* word;
  } places[] = {{"src/", "FROM_SOURCE_FOLDER"}, {"prog/", "FROM_PROGRAM_FOLDER"},
                {"prog/Lib/", "FROM_LIB_FOLDER"}, {"extra/", "FROM_LIBPATH"}};
  for (const Place& place : places) write_file(root + place.folder + "UTIL.zrk", place.word);
  for (const Place& place : places) {
    std::vector<std::string> words = analyze_main("a\r\n#INCLUDE util\r\nb\r\n");
    ASSERT_EQ(words.size(), 7u) << place.folder;
    EXPECT_EQ(words[1], "#CODE");
    // The Lib folder is joined with a backslash, as device paths are.
    std::string folder = place.folder == std::string("prog/Lib/") ? "prog/Lib\\" : place.folder;
    EXPECT_EQ(words[2], "\"" + root + folder + "UTIL.zrk\"");
    EXPECT_EQ(words[3], place.word);
    EXPECT_EQ(words[4], "#CODE");
    EXPECT_EQ(words[5], "\"" + root + "src/main.zrk\"");
    EXPECT_EQ(errors(), "");
    std::filesystem::remove(root + place.folder + "UTIL.zrk");
    CompilerTest::TearDown();
    CompilerTest::SetUp();
  }
}

TEST_F(IncludeTest, IncludedWordsCarryTheirOwnPlaces) {
  write_file(root + "src/part.zrk", "x\ny\n");
  std::string main = root + "src/main.zrk";
  write_file(main, "a\n#INCLUDE \"part.zrk\"\nb\n");
  auto words = analyze(read_file(main), main.c_str());
  ASSERT_EQ(words.size(), 8u);
  EXPECT_STREQ(words[3]->text, "X");
  EXPECT_EQ(words[3]->line, 1u);
  EXPECT_EQ(words[4]->line, 2u);
  EXPECT_NE(std::string(words[4]->file_name).find("part.zrk"), std::string::npos);
  EXPECT_STREQ(words[7]->text, "B");
  EXPECT_EQ(words[7]->line, 3u);
}

TEST_F(IncludeTest, AFileIsAnalyzedOncePerNamespace) {
  write_file(root + "src/once.zrk", "w\r\n");
  write_file(root + "src/spaced.zrk", "s\r\n");
  std::vector<std::string> words = analyze_main(
      "#INCLUDE once\r\n#INCLUDE once\r\n#NAMESPACE one\r\n#INCLUDE once\r\n#INCLUDE spaced\r\n"
      "#ENDNAMESPACE\r\n#NAMESPACE two\r\n#INCLUDE spaced\r\n#ENDNAMESPACE\r\n");
  int once = 0;
  int spaced = 0;
  for (const std::string& word : words) {
    once += word == "W";
    spaced += word == "S";
  }
  EXPECT_EQ(once, 1);
  EXPECT_EQ(spaced, 2);
}

TEST_F(IncludeTest, ARelativeMainSourceIncludesFromTheWorkingFolder) {
  // "zrk main.zrk" run in the source's folder: the include is found there and read there,
  // not looked for again under the program's folder.
  write_file(root + "src/UTIL.zrk", "FROM_WORKING_FOLDER");
  write_file(root + "src/main.zrk", "a\n#INCLUDE util\nb\n");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(root + "src");
  std::vector<std::string> words = texts("a\n#INCLUDE util\nb\n", "main.zrk");
  std::filesystem::current_path(previous);
  EXPECT_EQ(errors(), "");
  ASSERT_EQ(words.size(), 7u);
  EXPECT_EQ(words[3], "FROM_WORKING_FOLDER");
  EXPECT_EQ(words[6], "B");
}

TEST_F(IncludeTest, AMissingFileEndsTheIncludingText) {
  std::vector<std::string> words = analyze_main("a\r\n#INCLUDE nothere\r\nb\r\n");
  EXPECT_EQ(words, std::vector<std::string>{"A"});
  EXPECT_NE(errors().find("[File \"NOTHERE.zrk\" not found at character position"), std::string::npos) << errors();
}

TEST_F(CompilerTest, CompileErrorsWithTheirPlaces) {
  struct Row {
    const char* source;
    const char* expected;  // a part of the error text
  } rows[] = {
      {"a = \"open", "error: (t.zrk) [Missing closing \" at '=' (1,4)]"},
      {"a\r\nb = {open", "error: (t.zrk) [Missing closing } at '=' (2,4)]"},
      {"x\r\n'open", "[Missing closing ' at character position 8]"},
      {"a ? b", "error: (T.ZRK) [Invalid character '?' at character position 2]"},
      {"a `", "[Invalid character '`' at character position 2]"},
      {"a\r\n#DEFINE X X\r\n", "[Define value cannot be the same as it's name at 'A' (1,2)]"},
      {"a\r\n#LINK 2\r\n", "[Invalid link option at 'A' (1,2)]"},
      {"#IFDEF A\r\nb\r\n", "error: (T.ZRK) [#ENDIF missing to close an #IFDEF statement]"},
      {"a\r\n#ENDIF\r\n", "[#ENDIF without #IFDEF at 'A' (1,2)]"},
      {"a\r\n#ELSE\r\n", "[#ELSE without #IFDEF at 'A' (1,2)]"},
      {"a\r\n#ELSEIF B\r\n", "[#ELSEIF without #IFDEF at 'A' (1,2)]"},
      {"#DEFINE A B+1\r\n#DEFINE B A+1\r\nq A\r\n", "[Define value uses its own name: "},
      {"#DEFINE x x\r\nq x\r\n", "[Define value uses its own name: X at 'Q' (2,2)]"},
  };
  for (const Row& row : rows) {
    analyze(row.source, "T.ZRK");
    EXPECT_NE(errors().find(row.expected), std::string::npos) << row.source << "\n" << errors();
    TearDown();
    SetUp();
  }
}

TEST_F(CompilerTest, ErrorsStopTheSourceAsTheyShould) {
  // An invalid character ends the text; a stray #ENDIF does not.
  EXPECT_EQ(texts("a ? b"), std::vector<std::string>{"A"});
  TearDown();
  SetUp();
  EXPECT_EQ(texts("#ENDIF\r\n#IFDEF NO\r\nx\r\n#ENDIF\r\ny"), std::vector<std::string>{"Y"});
}

TEST_F(CompilerTest, DeepConditionalsAreRefused) {
  std::string source;
  for (int level = 0; level < kConditionalLevels + 5; ++level) source += "#IFNDEF NONE\r\n";
  source += "x\r\n";
  for (int level = 0; level < kConditionalLevels + 5; ++level) source += "#ENDIF\r\n";
  source += "y\r\n";
  std::vector<std::string> words = texts(source);
  EXPECT_NE(errors().find("Too many nested #IFDEF statements"), std::string::npos);
  EXPECT_EQ(words, (std::vector<std::string>{"X", "Y"}));
}

TEST_F(CompilerTest, DeepNamespacesAreRefused) {
  std::string source;
  for (int level = 0; level < kNamespaceLevels + 1; ++level) source += "#NAMESPACE N" + std::to_string(level) + "\r\n";
  analyze(source);
  EXPECT_NE(errors().find("Too many nested namespaces"), std::string::npos);
}

TEST_F(CompilerTest, AnalysisStopsAfterSixtyFourErrors) {
  std::string source;
  for (int count = 0; count < 100; ++count) source += "#LINK 7\r\n";
  source += "last\r\n";
  std::vector<std::string> words = texts(source);
  EXPECT_EQ(compile_error_count, kAnalyzerErrorStop);
  EXPECT_TRUE(words.empty());
}

}  // namespace
