// rtrim, ltrim, trim, lpad and rpad in both text kinds, and soundex writing its code
// into the buffer argument's own text without overrunning it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/variable.h"
#include "library/strings/trim_pad_builtins.h"
#include "platform/platform.h"
#include "text_builtin_fixture.h"

namespace {

class TrimPadBuiltinsTest : public TextBuiltinTest {
 protected:
  TrimPadBuiltinsTest() : TextBuiltinTest(register_trim_pad_builtins) {}
};

TEST_F(TrimPadBuiltinsTest, TrimsAndPadsInBothKinds) {
  struct Case {
    const char* name;
    std::vector<TextArgument> arguments;
    std::string expected;
  };
  auto t = text_argument;
  auto n = number_argument;
  const Case cases[] = {
      {"rtrim", {t("  ab  ")}, "  ab"},
      {"ltrim", {t("  ab  ")}, "ab  "},
      {"trim", {t("  ab  ")}, "ab"},
      {"trim", {t("   ")}, ""},
      {"trim", {t("")}, ""},
      {"trim", {t("a b")}, "a b"},
      {"trim", {t("\tab\t")}, "\tab\t"},
      {"rtrim", {t("ab \t ")}, "ab \t"},
      {"lpad", {t("7"), t("0"), n(2)}, "007"},
      {"lpad", {t("7"), n(48), n(2)}, "007"},
      {"rpad", {t("ab"), t("-x"), n(3)}, "ab---"},
      {"lpad", {t("ab"), t("*"), n(0)}, "ab"},
      {"rpad", {t("ab"), t("*"), n(-4)}, "ab"},
      {"lpad", {t(""), t("*"), n(2)}, "**"},
      {"rpad", {t("abc"), t(""), n(3)}, "abc"},
      // The fill byte of an empty fill text is 0, which ends the text at once.
      {"lpad", {t("abc"), t(""), n(3)}, ""},
  };
  for (bool wide : {false, true}) {
    for (const Case& c : cases) {
      push_arguments(c.arguments, wide);
      call(c.name);
      EXPECT_EQ(pop_text_of_kind(wide), c.expected)
          << c.name << " case " << (&c - cases) << (wide ? " (UTF-16)" : " (8-bit)");
      EXPECT_EQ(depth(), 0);
    }
  }
}

TEST_F(TrimPadBuiltinsTest, NumbersAndMixedKinds) {
  push(12);
  call("trim");
  EXPECT_EQ(pop_text_of_kind(false), "12");
  push(5);
  push_text("0");
  push(3);
  call("lpad");
  EXPECT_EQ(pop_text_of_kind(false), "0005");
  // A code fills 8-bit text with its low byte, UTF-16 text with its low 16 bits.
  push_text("7");
  push(48 + 256);
  push(2);
  call("lpad");
  EXPECT_EQ(pop_text_of_kind(false), "007");
  // A UTF-16 text keeps units beyond Latin-1; a UTF-16 fill takes its whole first unit.
  push_wide_text(u"\u263A");
  push_wide_text(u"\u2605");
  push(2);
  call("rpad");
  EXPECT_EQ(pop_wide_text(), u"\u263A\u2605\u2605");
  push_wide_text(u"x");
  push(0x263A);
  push(1);
  call("lpad");
  EXPECT_EQ(pop_wide_text(), u"\u263Ax");
  // An 8-bit fill in UTF-16 text is converted, and the other way round.
  push_wide_text(u"x");
  push_text("\xE9");
  push(1);
  call("lpad");
  EXPECT_EQ(pop_wide_text(), u"\u00E9x");
  push_text("x");
  push_wide_text(u"\u00E9");
  push(1);
  call("rpad");
  EXPECT_EQ(pop_text_of_kind(false), "x\xE9");
}

class SoundexTest : public TrimPadBuiltinsTest {
 protected:
  // Runs soundex with a buffer of the given number of bytes (spaces, then a zero).
  int32_t soundex(char* buffer, const char* name, double length, double census) {
    push_text(buffer);
    push_text(name);
    push(length);
    push(census);
    call("soundex");
    return static_cast<int32_t>(pop_number());
  }
  static char* spaces(size_t count) {
    auto* buffer = static_cast<char*>(crt::calloc(count + 1, 1));
    std::memset(buffer, ' ', count);
    return buffer;
  }
};

TEST_F(SoundexTest, WritesTheCodeIntoTheBuffer) {
  struct Case {
    const char* name;
    double length;
    double census;
    int32_t expected_length;
    const char* expected_code;
  };
  const Case cases[] = {
      {"Robert", 4, 0, 4, "R163"},
      {"Robert", 0, 0, 4, "R163"},
      {"Robert", 20, 0, 10, "R163000000"},
      {"Robert", 6, 0, 6, "R16300"},
      {"Robert", 6, 1, 4, "R163"},
      {"Tymczak", 4, 0, 4, "T522"},
      {"", 4, 0, 0, ""},
      {"123", 4, 0, 0, ""},
  };
  for (const Case& c : cases) {
    char* buffer = spaces(11);
    EXPECT_EQ(soundex(buffer, c.name, c.length, c.census), c.expected_length) << c.name;
    EXPECT_STREQ(buffer, c.expected_code) << c.name;
    crt::free(buffer);
  }
}

TEST_F(SoundexTest, AShortBufferIsNotOverrun) {
  // Five bytes hold a four-character code; a longer code is cut to what fits.
  char* buffer = spaces(4);
  EXPECT_EQ(soundex(buffer, "Robert", 10, 0), 4);
  EXPECT_STREQ(buffer, "R163");
  crt::free(buffer);
  char* tiny = spaces(1);
  EXPECT_EQ(soundex(tiny, "Robert", 4, 0), 1);
  EXPECT_STREQ(tiny, "R");
  crt::free(tiny);
}

TEST_F(SoundexTest, Utf16BufferAndName) {
  auto* buffer = static_cast<char16_t*>(crt::calloc(12, sizeof(char16_t)));
  for (int i = 0; i < 11; ++i) buffer[i] = u' ';
  push_wide_text(buffer);
  push_wide_text(u"Robert");
  push(4);
  push(0);
  call("soundex");
  EXPECT_EQ(pop_number(), 4);
  EXPECT_EQ(std::u16string(buffer), u"R163");
  crt::free(buffer);
}

}  // namespace
