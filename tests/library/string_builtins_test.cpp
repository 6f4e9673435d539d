// str, wstr, length, mid, dup and the search family on 8-bit and UTF-16 texts: each
// table runs once with 8-bit and once with UTF-16 arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/value_cell.h"
#include "library/strings/string_builtins.h"
#include "platform/platform.h"
#include "text_builtin_fixture.h"

namespace {

class StringBuiltinsTest : public TextBuiltinTest {
 protected:
  StringBuiltinsTest() : TextBuiltinTest(register_string_builtins) {}
};

TEST_F(StringBuiltinsTest, NumberResultsInBothKinds) {
  struct Case {
    const char* name;
    std::vector<TextArgument> arguments;
    double expected;
    double expected_wide;
  };
  auto t = text_argument;
  auto n = number_argument;
  const Case cases[] = {
      {"pos", {t("b"), t("abcb")}, 1, 1},
      {"rpos", {t("b"), t("abcb")}, 3, 3},
      {"cpos", {t("b"), t("abcb")}, 2, 2},
      {"npos", {t("b"), t("abcb"), n(2)}, 3, 3},
      {"npos", {t("b"), t("abcb"), n(1)}, 1, 1},
      {"npos", {t("b"), t("abcb"), n(4)}, -1, -1},
      {"npos", {t("b"), t("abcb"), n(99)}, -1, -1},
      {"npos", {t("b"), t("abcb"), n(-3)}, 1, 1},
      {"cpos", {t("aa"), t("aaaa")}, 2, 2},
      {"cpos", {t("aa"), t("aaaaa")}, 2, 2},
      {"cpos", {t("x"), t("abc")}, 0, 0},
      {"cpos", {t(""), t("abc")}, 0, 0},
      // 8-bit candidates must match the first byte: an empty text is found at the end.
      {"pos", {t(""), t("abc")}, 3, 0},
      {"npos", {t(""), t("abc"), n(1)}, 3, 1},
      {"rpos", {t(""), t("abc")}, -1, -1},
      {"rpos", {t("b"), t("")}, -1, -1},
      {"pos", {t("b"), t("")}, -1, -1},
      {"pos", {t("abcd"), t("abc")}, -1, -1},
      {"rpos", {t("abcd"), t("abc")}, -1, -1},
      {"rpos", {t("bc"), t("abc")}, 1, 1},
      {"rpos", {t("abc"), t("abc")}, 0, 0},
      {"rpos", {t("cd"), t("abc")}, -1, -1},
      {"pos", {t("cd"), t("abcdcd")}, 2, 2},
      {"rpos", {t("cd"), t("abcdcd")}, 4, 4},
      {"pos", {t("ca"), t("abcb")}, -1, -1},
      {"pos", {n(2), t("1.52")}, 3, 3},
      {"pos", {t("."), n(12.5)}, 2, 2},
      {"length", {t("abc")}, 3, 3},
      {"length", {t("")}, 0, 0},
      {"length", {n(12.5)}, 4, 4},
      {"length", {n(-3)}, 2, 2},
  };
  for (bool wide : {false, true}) {
    for (const Case& c : cases) {
      push_arguments(c.arguments, wide);
      call(c.name);
      EXPECT_EQ(pop_number(), wide ? c.expected_wide : c.expected)
          << c.name << " case " << (&c - cases) << (wide ? " (UTF-16)" : " (8-bit)");
      EXPECT_EQ(depth(), 0) << c.name;
    }
  }
}

TEST_F(StringBuiltinsTest, MidAndDupGiveTextOfTheArgumentsKind) {
  struct Case {
    const char* name;
    std::vector<TextArgument> arguments;
    const char* expected;
  };
  auto t = text_argument;
  auto n = number_argument;
  const Case cases[] = {
      {"mid", {t("abcdef"), n(2), n(3)}, "cde"},
      {"mid", {t("abc"), n(0), n(3)}, "abc"},   // a piece reaching exactly the end
      {"mid", {t("abc"), n(2), n(1)}, "c"},
      {"mid", {t("abc"), n(2), n(2)}, "c"},
      {"mid", {t("abc"), n(-4), n(2)}, "ab"},
      {"mid", {t("abc"), n(1), n(-1)}, "bc"},
      {"mid", {t("abc"), n(1), n(100)}, "bc"},
      {"mid", {t("abc"), n(5), n(2)}, ""},
      {"mid", {t("abc"), n(3), n(1)}, ""},
      {"mid", {t("abc"), n(0), n(0)}, ""},
      {"mid", {t(""), n(0), n(-1)}, ""},
      {"mid", {t("abc"), n(2147483647.0), n(2147483647.0)}, ""},
      // Other negative counts stay inside the text: past start they reach the end...
      {"mid", {t("abcdef"), n(1), n(-3)}, "bcdef"},
      // ... within it they give nothing.
      {"mid", {t("abcdef"), n(4), n(-3)}, ""},
      {"mid", {t("abcdef"), t("2"), t("3")}, "cde"},
      {"dup", {t("abc")}, "abc"},
      {"dup", {t("")}, ""},
  };
  for (bool wide : {false, true}) {
    for (const Case& c : cases) {
      push_arguments(c.arguments, wide);
      call(c.name);
      EXPECT_EQ(pop_text_of_kind(wide), c.expected)
          << c.name << " case " << (&c - cases) << (wide ? " (UTF-16)" : " (8-bit)");
    }
  }
}

TEST_F(StringBuiltinsTest, DupAndMidReturnNewTexts) {
  const char* original = "abc";
  push_text(original);
  call("dup");
  ValueCell* cell = stack_pop(context);
  EXPECT_NE(cell->text, original);
  EXPECT_STREQ(static_cast<const char*>(cell->text), "abc");
  push(12.5);
  call("dup");
  EXPECT_EQ(pop_text_of_kind(false), "12.5");
  push(12.5);
  push(1);
  push(2);
  call("mid");
  EXPECT_EQ(pop_text_of_kind(false), "2.");
}

TEST_F(StringBuiltinsTest, UnitsBeyondLatinCountAsOneCharacter) {
  const char16_t* text = u"a\u263Ab\u00E9";
  push_wide_text(text);
  call("length");
  EXPECT_EQ(pop_number(), 4);
  push_wide_text(text);
  push(1);
  push(2);
  call("mid");
  EXPECT_EQ(pop_wide_text(), u"\u263Ab");
  push_wide_text(u"b\u00E9");
  push_wide_text(text);
  call("pos");
  EXPECT_EQ(pop_number(), 2);
  push_wide_text(u"\u263A");
  push_wide_text(text);
  call("rpos");
  EXPECT_EQ(pop_number(), 1);
}

TEST_F(StringBuiltinsTest, SoughtTextIsBroughtToTheSearchedTextsKind) {
  // 8-bit sought in UTF-16 text: converted to UTF-16 (é is one unit there).
  push_text("\xE9" "b");
  push_wide_text(u"a\u00E9b\u00E9b");
  call("cpos");
  EXPECT_EQ(pop_number(), 2);
  push_text("x");
  push_wide_text(u"axb");
  call("pos");
  EXPECT_EQ(pop_number(), 1);
  // UTF-16 sought in 8-bit text: converted to 8-bit, not compared as its bytes.
  push_wide_text(u"cb");
  push_text("abcb");
  call("pos");
  EXPECT_EQ(pop_number(), 2);
  push_wide_text(u"\u00E9");
  push_text("a\xE9");
  call("rpos");
  EXPECT_EQ(pop_number(), 1);
}

TEST_F(StringBuiltinsTest, StrGivesEightBitText) {
  const char* original = "abc";
  push_text(original);
  call("str");
  ValueCell* cell = stack_pop(context);
  EXPECT_EQ(cell->text, original) << "an 8-bit text is handed on as it is";
  EXPECT_EQ(cell->flags & kCellWideText, 0u);

  push(2);
  call("str");
  EXPECT_EQ(pop_text_of_kind(false), "2");
  push(-0.25);
  call("str");
  EXPECT_EQ(pop_text_of_kind(false), "-0.25");
  // UTF-16 text is converted, not handed on as bytes (which would read "a").
  push_wide_text(u"ab\u00E9");
  call("str");
  EXPECT_EQ(pop_text_of_kind(false), "ab\xE9");
}

TEST_F(StringBuiltinsTest, WstrGivesUtf16Text) {
  push_text("ab\xE9");
  call("wstr");
  EXPECT_EQ(pop_text_of_kind(true), "ab\xE9");
  push(3.5);
  call("wstr");
  EXPECT_EQ(pop_text_of_kind(true), "3.5");
  const char16_t* original = u"x\u263A";
  push_wide_text(original);
  call("wstr");
  ValueCell* cell = stack_pop(context);
  EXPECT_EQ(cell->text, original) << "UTF-16 text is handed on as it is";
  EXPECT_NE(cell->flags & kCellWideText, 0u);
}

TEST(TextChangesInWideRoundTrip, TellsUtf16FromEightBitBlocks) {
  char* narrow = crt::_strdup("abc");
  char16_t* wide = crt::_wcsdup(u"abc");
  char* latin = crt::_strdup("caf\xE9");
  EXPECT_EQ(text_changes_in_wide_round_trip(narrow), 0);
  EXPECT_EQ(text_changes_in_wide_round_trip(latin), 0);
  EXPECT_EQ(text_changes_in_wide_round_trip(wide), 1);
  EXPECT_EQ(text_changes_in_wide_round_trip(nullptr), 0);
  crt::free(narrow);
  crt::free(wide);
  crt::free(latin);
}

}  // namespace
