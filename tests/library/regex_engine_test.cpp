// The regular-expression engine's own rules: error texts, the no-backtracking matcher,
// captures, classes beyond ASCII and the nesting limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/regex/regex_engine.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/sync.h"

namespace {

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

TEST(RegexEngine, BadPatternsGiveTheirErrorText) {
  struct Row {
    std::u16string pattern;
    const WCHAR* error;
  };
  const Row rows[] = {
      {u"a(", kRegexErrorExpectedParen},
      {u"(a", kRegexErrorExpectedParen},
      {u"((a)", kRegexErrorExpectedParen},
      {u"[a", kRegexErrorExpectedParen},
      {u"[", kRegexErrorExpectedParen},
      {u"[^", kRegexErrorExpectedParen},
      {u"a{1,", kRegexErrorExpectedParen},
      {u"a{1,2", kRegexErrorExpectedParen},
      {u"a{1,x}", kRegexErrorExpectedParen},
      {u"a^", kRegexErrorLetterExpected},
      {u"^^", kRegexErrorLetterExpected},
      {u"a??", kRegexErrorLetterExpected},
      {u"{3}", kRegexErrorLetterExpected},
      {u"a{2}{3}", kRegexErrorLetterExpected},
      {u"*a", kRegexErrorLetterExpected},
      {u"a|+", kRegexErrorLetterExpected},
      {u"}", kRegexErrorLetterExpected},
      {u"[a.]", kRegexErrorLetterExpected},
      {u"[a^]", kRegexErrorLetterExpected},
      {u"[(]", kRegexErrorLetterExpected},
      {u"a\\", kRegexErrorLetterExpected},
      {u"[c-a]", kRegexErrorInvalidRange},
      {u"[a-", kRegexErrorInvalidRange},
      {u"[a-\\", kRegexErrorInvalidRange},
      {u"[a-]", kRegexErrorInvalidRange},
      {u"[a-c-e]", kRegexErrorInvalidRange},
      {u"[\\d-z]", kRegexErrorClassInRange},
      {u"[a\\W-z]", kRegexErrorClassInRange},
      {u"a{1234567890}", kRegexErrorNumberOverflow},
      {u"a{1,1234567890}", kRegexErrorNumberOverflow},
      {u"a{x}", kRegexErrorNumberExpected},
      {u"a{}", kRegexErrorNumberExpected},
      {u"a{,2}", kRegexErrorNumberExpected},
      {u"a{1x", kRegexErrorCommaOrBraceExpected},
      {u"a{1", kRegexErrorCommaOrBraceExpected},
      {u"a)", kRegexErrorUnexpectedCharacter},
      {u"a**", kRegexErrorUnexpectedCharacter},
      {u"a*+", kRegexErrorUnexpectedCharacter},
      {u"a|b)", kRegexErrorUnexpectedCharacter},
  };
  for (const Row& row : rows) {
    const WCHAR* error = nullptr;
    RegexProgram* program = regex_compile(row.pattern.c_str(), &error);
    EXPECT_EQ(program, nullptr) << narrow(row.pattern);
    EXPECT_EQ(error, row.error) << narrow(row.pattern) << " gave " << (error ? narrow(error) : "no text");
    // Without a place for the text the failure is the same.
    EXPECT_EQ(regex_compile(row.pattern.c_str(), nullptr), nullptr) << narrow(row.pattern);
    regex_free(program);
  }
}

TEST(RegexEngine, MatchesWithoutGivingBack) {
  struct Row {
    std::u16string pattern, subject;
    bool search;
    int start, end;  // -1, -1 for no match
  };
  const Row rows[] = {
      {u"a{2,3}", u"aaa", false, 0, 3},
      {u"a{2}", u"aaa", false, 0, 2},
      {u"a{2,}", u"aaaa", false, 0, 4},
      {u"a{4}", u"aaa", false, -1, -1},
      {u"a*a", u"aaa", false, -1, -1},  // the repetition gives nothing back
      {u"a*a", u"aaa", true, -1, -1},
      {u"(a|ab)c", u"abc", false, -1, -1},  // the first alternative that fits is final
      {u"(ab|a)c", u"abc", false, 0, 3},
      {u"[a-c]", u"b", false, 0, 1},
      {u"[]a]+", u"]a]", false, 0, 3},
      {u"[-a]+", u"-a-", false, 0, 3},
      {u"[^-a]", u"-", false, -1, -1},
      {u"[!-]]+", u"]!", false, 0, 2},  // the upper end of a range is taken as written
      {u"[\\n-\\r]+", u"\n\r\t", false, 0, 2},
      {u"x*$", u"abc", true, -1, -1},  // no attempt after the last character
      {u"x*$", u"", false, 0, 0},
      {u"$", u"ab", true, -1, -1},
      {u"^b", u"ab", true, -1, -1},
      {u"b", u"ab", true, 1, 2},
      {u"(^a)", u"ba", true, -1, -1},
      {u"a.b", u"a", false, -1, -1},
      {u".", u"\n", false, 0, 1},
      {u"a$+", u"a", false, -1, -1},  // a pass that consumes nothing is not counted
      {u"(a|)+", u"b", false, -1, -1},
      {u"\\t\\n\\f\\r", u"\t\n\f\r", false, 0, 4},
      {u"\\b\\.\\]\\L", u"b.]L", false, 0, 4},  // other escapes are the character itself
      {u"\\.", u"a", false, -1, -1},
      {u"a{65536}", u"aaa", false, 0, 0},  // counts keep their low 16 bits: {0,0}
      {u"a{65537}", u"aaa", false, 0, 1},
      {u"a{0,65535}", u"aaaa", false, 0, 4},  // 65535 is no limit
      {u"a{65535}", u"aaa", false, -1, -1},
      {u"a{3,2}", u"aaa", false, -1, -1},  // the count stops at max, below min
      {u"a{002}", u"aaa", false, 0, 2},
      {u"", u"abc", false, 0, 0},
      {u"", u"", true, 0, 0},
      {u"a", u"", true, -1, -1},
      {u"a|", u"b", false, 0, 0},
      {u"|a", u"a", false, 0, 0},
      {u"()", u"x", false, 0, 0},
      {u"^", u"x", true, 0, 0},
      {u"b|c", u"abc", true, 1, 2},
      {u"(a|b|c)+", u"cabx", false, 0, 3},
  };
  for (const Row& row : rows) {
    const WCHAR* error = nullptr;
    RegexProgram* program = regex_compile(row.pattern.c_str(), &error);
    ASSERT_NE(program, nullptr) << narrow(row.pattern) << ": " << (error ? narrow(error) : "");
    const std::string name = narrow(row.pattern) + (row.search ? " searched in \"" : " matched on \"") +
                             narrow(row.subject) + "\"";
    int found;
    const WCHAR *start = nullptr, *end = nullptr;
    if (row.search) {
      found = regex_search(program, row.subject.c_str(), &start, &end);
    } else {
      found = regex_match_at_start(program, row.subject.c_str());
      RegexCapture whole{};
      regex_group(program, 0, &whole);
      start = whole.start;
      end = whole.start ? whole.start + whole.length : nullptr;
    }
    if (row.start < 0) {
      EXPECT_EQ(found, 0) << name;
    } else {
      EXPECT_EQ(found, 1) << name;
      EXPECT_EQ(start - row.subject.c_str(), row.start) << name;
      EXPECT_EQ(end - row.subject.c_str(), row.end) << name;
    }
    regex_free(program);
  }
}

TEST(RegexEngine, CapturesFollowTheCaptureCounter) {
  struct Row {
    std::u16string pattern, subject;
    std::vector<int> spans;  // start and length per group; -1 start for none
  };
  const Row rows[] = {
      {u"(a)|(b)", u"b", {0, 1, -1, 0, 0, 1}},
      {u"(a)(b)", u"ab", {0, 2, 0, 1, 1, 1}},
      {u"((a)b)", u"ab", {0, 2, 0, 2, 0, 1}},
      // Only the first pass records a start; each later pass sets the length, and a
      // failing pass clears the group.
      {u"(a)*", u"aa", {0, 2, 0, 1}},
      {u"(ab)*", u"abab", {0, 4, 0, 2}},
      {u"(a)*", u"aab", {0, 2, -1, 0}},
      // Group 2 is skipped, so group 3's number is never the next one to capture.
      {u"(a|b(c))(d)", u"ad", {0, 2, 0, 1, -1, 0, -1, 1}},
  };
  for (const Row& row : rows) {
    RegexProgram* program = regex_compile(row.pattern.c_str(), nullptr);
    ASSERT_NE(program, nullptr) << narrow(row.pattern);
    ASSERT_EQ(regex_match_at_start(program, row.subject.c_str()), 1) << narrow(row.pattern);
    ASSERT_EQ(regex_group_count(program) * 2, static_cast<int>(row.spans.size())) << narrow(row.pattern);
    for (int group = 0; group < regex_group_count(program); ++group) {
      RegexCapture capture{};
      ASSERT_EQ(regex_group(program, group, &capture), 1);
      int start = capture.start ? static_cast<int>(capture.start - row.subject.c_str()) : -1;
      EXPECT_EQ(start, row.spans[group * 2]) << narrow(row.pattern) << " group " << group;
      EXPECT_EQ(capture.length, row.spans[group * 2 + 1]) << narrow(row.pattern) << " group " << group;
    }
    RegexCapture capture{};
    EXPECT_EQ(regex_group(program, -1, &capture), 0);
    EXPECT_EQ(regex_group(program, regex_group_count(program), &capture), 0);
    regex_free(program);
  }
  EXPECT_EQ(regex_group_count(nullptr), 0);
}

// Units of the code page's upper half are classified as its characters; units above 255
// belong to no class, whatever their value.
TEST(RegexEngine, NamedClassesBeyondAscii) {
  struct Row {
    const char16_t* pattern;
    char16_t unit;
    bool matches;
  };
  const Row rows[] = {
      {u"\\a", 0xE9, true},   {u"\\l", 0xE9, true},   {u"\\u", 0xC9, true},  {u"\\w", 0xE9, true},
      {u"\\a", 0x3A9, false}, {u"\\A", 0x3A9, true},  {u"\\w", 0x100, false}, {u"\\W", 0x100, true},
      {u"\\d", 0x660, false}, {u"\\D", 0x660, true},  {u"\\s", 0x2003, false}, {u"\\S", 0x2003, true},
      {u"\\p", 0x2014, false}, {u"\\P", 0xFFFF, true}, {u"\\c", 0x1FF, false}, {u"\\C", 0x109, true},
      {u"\\x", 0xFF21, false}, {u"\\X", 0xFF10, true}, {u"[\\w]", 0x161, false}, {u"[^\\w]", 0x161, true},
      {u"\\w", u'_', false},  {u"\\W", u'_', true},   {u"\\s", u'\v', true},  {u"\\c", 0x7F, true},
      {u"[\u0100-\u01FF]", 0x150, true}, {u"[\u0100-\u01FF]", 0x200, false},
  };
  for (const Row& row : rows) {
    RegexProgram* program = regex_compile(row.pattern, nullptr);
    ASSERT_NE(program, nullptr) << narrow(row.pattern);
    const char16_t subject[] = {row.unit, 0};
    EXPECT_EQ(regex_match_at_start(program, subject), row.matches ? 1 : 0)
        << narrow(row.pattern) << " on U+" << std::hex << static_cast<unsigned>(row.unit);
    regex_free(program);
  }
}

std::u16string nested_groups(int depth) {
  return std::u16string(depth, u'(') + u"a" + std::u16string(depth, u')');
}

std::u16string alternatives(int count) {
  std::u16string pattern = u"b";
  for (int i = 1; i < count; ++i) pattern += u"|b";
  return pattern + u"|a";
}

TEST(RegexEngine, DeepNestingIsRefusedCleanly) {
  // The whole pattern is one level; each group and each further alternative one more.
  struct Row {
    std::u16string pattern;
    bool compiles;
  };
  const Row rows[] = {
      {nested_groups(100000), false},
      {alternatives(100000), false},
      {nested_groups(kRegexMaximumDepth), false},
      {alternatives(kRegexMaximumDepth), false},
      {nested_groups(kRegexMaximumDepth - 1), true},
      {alternatives(kRegexMaximumDepth - 1), true},
      {u"(" + alternatives(kRegexMaximumDepth - 1) + u")", false},
  };
  for (const Row& row : rows) {
    const WCHAR* error = nullptr;
    RegexProgram* program = regex_compile(row.pattern.c_str(), &error);
    EXPECT_EQ(program != nullptr, row.compiles) << "pattern of " << row.pattern.size() << " units";
    if (!row.compiles) {
      EXPECT_EQ(error, kRegexErrorTooDeep) << "pattern of " << row.pattern.size() << " units";
      continue;
    }
    EXPECT_EQ(regex_match_at_start(program, u"a"), 1);
    EXPECT_EQ(regex_search(program, u"xxa", nullptr, nullptr), 1);
    regex_free(program);
  }
}

// The deepest pattern allowed compiles and matches on a script thread with the smallest
// stack the platform gives.
TEST(RegexEngine, DeepestPatternFitsASmallThreadStack) {
  struct Work {
    std::u16string groups = nested_groups(kRegexMaximumDepth - 1);
    std::u16string choices = alternatives(kRegexMaximumDepth - 1);
    int results = 0;
  } work;
  auto routine = [](LPVOID parameter) -> DWORD {
    auto* work = static_cast<Work*>(parameter);
    for (const std::u16string* pattern : {&work->groups, &work->choices}) {
      RegexProgram* program = regex_compile(pattern->c_str(), nullptr);
      if (program && regex_match_at_start(program, u"a") == 1 && regex_search(program, u"ba", nullptr, nullptr) == 1) {
        ++work->results;
      }
      regex_free(program);
    }
    return 0;
  };
  HANDLE thread = CreateThread(nullptr, 64 * 1024, routine, &work, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(work.results, 2);
}

// Long flat patterns and long subjects use no recursion per character.
TEST(RegexEngine, LongPatternsAndSubjects) {
  std::u16string pattern(100000, u'a');
  std::u16string subject = pattern + u"b";
  RegexProgram* program = regex_compile(pattern.c_str(), nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(regex_match_at_start(program, subject.c_str()), 1);
  regex_free(program);

  program = regex_compile(u"(a|b)*c", nullptr);
  ASSERT_NE(program, nullptr);
  std::u16string long_subject(200000, u'a');
  long_subject += u'c';
  const WCHAR *start = nullptr, *end = nullptr;
  EXPECT_EQ(regex_search(program, long_subject.c_str(), &start, &end), 1);
  EXPECT_EQ(end - long_subject.c_str(), static_cast<ptrdiff_t>(long_subject.size()));
  regex_free(program);
}

}  // namespace
