// The linker: which procedures survive each link setting, the declaration words of the
// library functions called, and its bounds.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "compiler/frontend/analyzer.h"
#include "compiler/linker.h"
#include "parser_fixture.h"

namespace {

// Word lists written with short forms: "p:A" a procedure start, "f:A" a function start,
// "n:A" an NPROC start, "k:A" a keep-marked start, "c:A" a call by name; anything else is
// the word itself.
std::string expand(const std::string& word) {
  if (word.size() > 2 && word[1] == ':' && word != "::") {
    const std::string name = word.substr(2);
    switch (word[0]) {
      case 'p': return name == "MAIN" ? "\xE9   MAIN" : "\xE9   " + name;
      case 'f': return "\xEC ! " + name;
      case 'n': return "\xEA   " + name;
      case 'k': return std::string("\xE9  \xA2") + name;
      case 'w': return "\xE8   " + name;
      case 'c': return "\xE0" + name;
    }
  }
  return word;
}

// Short forms back, for readable expectations.
std::string shorten(const char* text) {
  const std::string word = text;
  const auto kind = static_cast<unsigned char>(word[0]);
  if (kind == 0xE9 && word.size() > 3 && static_cast<unsigned char>(word[3]) == 0xA2) return "k:" + word.substr(4);
  if (kind == 0xE9) return "p:" + word.substr(4);
  if (kind == 0xEC) return "f:" + word.substr(4);
  if (kind == 0xEA) return "n:" + word.substr(4);
  if (kind == 0xE8) return "w:" + word.substr(4);
  if (kind == 0xE0) return "c:" + word.substr(1);
  return word;
}

class LinkerTest : public ParserTest {
 protected:
  void TearDown() override {
    compile_options.link = 1;
    ParserTest::TearDown();
  }

  static CodeListNode* build(const std::string& words) {
    static char file[] = "test.zrk";
    CodeListNode* cursor = nullptr;
    std::istringstream stream(words);
    std::string word;
    while (stream >> word) code_list_append(&cursor, expand(word).c_str(), file, 1, 1);
    return cursor;
  }

  static std::string text_of(CodeListNode* last) {
    std::string result;
    for (CodeListNode* node = code_list_first(last); node != nullptr; node = node->next) {
      if (!result.empty()) result += ' ';
      result += shorten(node->text);
    }
    return result;
  }

  std::string link(const std::string& words, int32_t limit) {
    compile_options.link = limit;
    return text_of(link_word_list("dir/test.zrk", build(words)));
  }
};

TEST_F(LinkerTest, UnusedProceduresAreRemovedPassByPass) {
  struct Case {
    const char* name;
    const char* words;
    const char* at_0;  // nothing removed: the input
    const char* at_1;
    const char* at_999;
  };
  static const Case kCases[] = {
      {"unused procedure", "p:MAIN c:A END p:A PRINT END p:B PRINT END", nullptr, "p:MAIN c:A END p:A PRINT END",
       "p:MAIN c:A END p:A PRINT END"},
      {"called only from an unused one", "p:C c:B END p:B PRINT END p:MAIN END", nullptr, "p:B PRINT END p:MAIN END",
       "p:MAIN END"},
      {"chain of three", "p:C c:B END p:B c:A END p:A END p:MAIN END", nullptr, "p:B c:A END p:A END p:MAIN END",
       "p:MAIN END"},
      {"nested blocks go with it", "p:A IF WHILE X% END REPEAT UNTIL END PRINT END p:MAIN END", nullptr,
       "p:MAIN END", "p:MAIN END"},
      {"keep mark, method and MAIN stay", "k:K END p:CLS.M END p:MAIN END f:WINMAIN END", nullptr,
       "k:K END p:CLS.M END p:MAIN END f:WINMAIN END", "k:K END p:CLS.M END p:MAIN END f:WINMAIN END"},
      {"address taken", "p:MAIN &A END p:A END", nullptr, "p:MAIN &A END p:A END", "p:MAIN &A END p:A END"},
      {"function called", "f:F END p:MAIN c:F END", nullptr, "f:F END p:MAIN c:F END", "f:F END p:MAIN c:F END"},
      {"forward then start", "w:A p:MAIN c:A END p:A END p:B END", nullptr, "w:A p:MAIN c:A END p:A END",
       "w:A p:MAIN c:A END p:A END"},
      {"global called from a namespace", "p:A END #NAMESPACE N p:MAIN c:A END #ENDNAMESPACE", nullptr,
       "p:A END #NAMESPACE N p:MAIN c:A END #ENDNAMESPACE", "p:A END #NAMESPACE N p:MAIN c:A END #ENDNAMESPACE"},
      {"namespaced called without its name", "#NAMESPACE N p:A END #ENDNAMESPACE p:MAIN c:A END", nullptr,
       "#NAMESPACE N #ENDNAMESPACE p:MAIN c:A END", "#NAMESPACE N #ENDNAMESPACE p:MAIN c:A END"},
      {"namespaced called with ::", "#NAMESPACE N p:A END #ENDNAMESPACE p:MAIN :: N c:A END", nullptr,
       "#NAMESPACE N p:A END #ENDNAMESPACE p:MAIN :: N c:A END",
       "#NAMESPACE N p:A END #ENDNAMESPACE p:MAIN :: N c:A END"},
      // An NPROC answers to a call with any input count, but not to another output count;
      // other procedures only to their exact signature.
      {"variadic called with arguments",
       "n:MANY(0,0) END n:OTHER(0,0) END p:FIXED(1,0) END p:MAIN c:MANY(2,0) c:OTHER(1,1) c:FIXED(2,0) END", nullptr,
       "n:MANY(0,0) END p:MAIN c:MANY(2,0) c:OTHER(1,1) c:FIXED(2,0) END",
       "n:MANY(0,0) END p:MAIN c:MANY(2,0) c:OTHER(1,1) c:FIXED(2,0) END"},
      {":: ends at the next variable", "#NAMESPACE N p:A END #ENDNAMESPACE p:MAIN :: N X% c:A END", nullptr,
       "#NAMESPACE N #ENDNAMESPACE p:MAIN :: N X% c:A END", "#NAMESPACE N #ENDNAMESPACE p:MAIN :: N X% c:A END"},
  };
  for (const Case& row : kCases) {
    const int32_t limits[] = {0, 1, 999};
    const char* expected[] = {row.at_0 ? row.at_0 : row.words, row.at_1, row.at_999};
    for (int which = 0; which < 3; ++which) {
      EXPECT_EQ(link(row.words, limits[which]), expected[which])
          << row.name << " at link level " << limits[which];
    }
  }
  EXPECT_EQ(errors(), "");
}

TEST_F(LinkerTest, DebugModeAlsoDropsTheLineMarkerAfterTheBlock) {
  debug_mode = 1;
  EXPECT_EQ(link("p:A PRINT END __DEBUG p:MAIN END __DEBUG", 1), "p:MAIN END __DEBUG");
}

TEST_F(LinkerTest, RemovingTheLastProcedureHandsBackTheLastSurvivingWord) {
  compile_options.link = 1;
  CodeListNode* last = link_word_list("test.zrk", build("p:MAIN c:B END p:B END p:A PRINT END"));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->next, nullptr);
  EXPECT_EQ(text_of(last), "p:MAIN c:B END p:B END");
  EXPECT_EQ(std::string(last->text), "END");
  EXPECT_EQ(last->prev->text[0], static_cast<char>(0xE9)) << "the handle is B's END";

  EXPECT_EQ(link_word_list("test.zrk", build("p:A END")), nullptr) << "nothing survives";
}

TEST_F(LinkerTest, DeclarationsAreAppendedForTheLibraryFunctionsCalled) {
  link_declarations_now = 0;
  ASSERT_GE(external_function_declare("BEEP", "Beep", "snd.dll", 2, 1, 0, 1), 0);
  ASSERT_GE(external_function_declare("MSG", "MessageBox", "user.dll", 4, 1, 1, 0), 0);
  ASSERT_GE(external_function_declare("WIDE", "Wide", "w.dll", 0, 0, 1, 1), 0);
  ASSERT_GE(external_function_declare("PLAIN", "Plain", "p.dll", 1, 0, 0, 0), 0);
  ASSERT_GE(external_function_declare("NEVER", "Never", "n.dll", 0, 0, 0, 0), 0);
  ASSERT_GE(external_function_declare("INDEAD", "InDead", "d.dll", 0, 0, 0, 0), 0);
  EXPECT_EQ(link("p:MAIN BEEP PRINT MSG BEEP WIDE PLAIN END p:DEAD INDEAD END", 999),
            "p:MAIN BEEP PRINT MSG BEEP WIDE PLAIN END "
            "#DECLARE BEEP Beep snd.dll 2 1 #C_DECLAREAPI MSG MessageBox user.dll 4 1 "
            "#DECLAREAPI WIDE Wide w.dll 0 0 #C_DECLARE PLAIN Plain p.dll 1 0");
  // The declarations follow the last pass's walk: a call made only from a procedure that
  // walk still saw declares.
  EXPECT_EQ(link("p:MAIN END p:DEAD INDEAD END", 0), "p:MAIN END p:DEAD INDEAD END #C_DECLARE INDEAD InDead d.dll 0 0");
  EXPECT_EQ(link_usage_count(), 0) << "the reference table is emptied";
}

TEST_F(LinkerTest, DeepNamespacesAndTooManyReferencesAreCompileErrors) {
  std::string deep = "p:MAIN END";
  for (int level = 0; level < kLinkNamespaceDepth + 5; ++level) deep += " #NAMESPACE N" + std::to_string(level);
  link(deep, 1);
  EXPECT_NE(errors().find("Namespaces nested too deeply"), std::string::npos) << errors();
  EXPECT_EQ(errors().find("Namespaces nested too deeply"), errors().rfind("Namespaces nested too deeply"))
      << "reported once";

  std::string many = "p:A END p:MAIN";
  for (int call = 0; call < kLinkUsageSlots + 3; ++call) many += " :: N" + std::to_string(call) + " c:A";
  many += " END";
  const std::string linked = link(many, 1);
  EXPECT_EQ(linked.substr(0, 7), "p:A END");
  EXPECT_NE(errors().find("Too many references to link"), std::string::npos);
}

}  // namespace
