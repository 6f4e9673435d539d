// String helpers: in-place editing of 8-bit and UTF-16 heap texts, trimming, padding,
// digit grouping, biased truncation, random integers, message boxes and Soundex codes
// checked against Perl's Text::Soundex.
#include "foundation/string_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "foundation/runtime_memory.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/user/message_box.h"

namespace {

char* heap_text(const char* text) { return crt::_strdup(text); }

char16_t* heap_wide(const std::u16string& text) {
  auto* copy = static_cast<char16_t*>(crt::malloc((text.size() + 1) * sizeof(char16_t)));
  text.copy(copy, text.size());
  copy[text.size()] = 0;
  return copy;
}

// The text, checked to sit in a block of exactly its length + 1, then freed.
std::string take(char* text) {
  if (!text) return "<null>";
  std::string value(text);
  EXPECT_EQ(alloc_block_size(text), value.size() + 1) << "block size of \"" << value << "\"";
  crt::free(text);
  return value;
}

std::u16string take_wide(char16_t* text) {
  std::u16string value(text);
  EXPECT_EQ(alloc_block_size(text), (value.size() + 1) * 2);
  crt::free(text);
  return value;
}

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct RangeCase {
  const char* text;
  int32_t position;
  int32_t count;
  const char* expected;
};

TEST(StringEditing, DeleteRangeClampsPositionAndRange) {
  const RangeCase cases[] = {
      {"abcde", 3, 10, "abc"},       // the range ends at the end of the text
      {"abcde", 1, 2, "ade"},
      {"abcde", 0, 5, ""},
      {"abcde", -4, 2, "cde"},       // position below 0 counts from the start
      {"abcde", 5, 3, "abcde"},      // at the end: nothing to remove
      {"abcde", 99, 3, "abcde"},
      {"abcde", 2, 0, "abcde"},
      {"abcde", 2, -3, "abcde"},     // a negative count removes nothing
      {"abcde", 1, 0x7FFFFFFF, "a"},
      {"", 0, 4, ""},
  };
  for (const auto& row : cases) {
    char* text = heap_text(row.text);
    string_delete_range(&text, row.position, row.count);
    EXPECT_EQ(take(text), row.expected) << row.text << " at " << row.position << " count " << row.count;

    char16_t* wide = heap_wide(widen(row.text));
    wide_string_delete_range(&wide, row.position, row.count);
    EXPECT_EQ(take_wide(wide), widen(row.expected)) << "wide: " << row.text << " at " << row.position;
  }
}

TEST(StringEditing, WideDeleteKeepsUnitsOutsideTheAsciiRange) {
  char16_t* wide = heap_wide(u"\u00e9t\u00e9\u4e2d\u6587");
  wide_string_delete_range(&wide, 2, 2);
  EXPECT_EQ(take_wide(wide), u"\u00e9t\u6587");
}

TEST(StringEditing, InsertAtClampsThePosition) {
  const RangeCase cases[] = {
      // count unused; the insertion is "XY"
      {"abc", -2, 0, "XYabc"}, {"abc", 0, 0, "XYabc"}, {"abc", 2, 0, "abXYc"},
      {"abc", 3, 0, "abcXY"},  {"abc", 100, 0, "abcXY"}, {"", 5, 0, "XY"},
  };
  for (const auto& row : cases) {
    char* text = heap_text(row.text);
    string_insert_at("XY", &text, row.position);
    EXPECT_EQ(take(text), row.expected) << row.text << " at " << row.position;

    char16_t* wide = heap_wide(widen(row.text));
    wide_string_insert_at(u"XY", &wide, row.position);
    EXPECT_EQ(take_wide(wide), widen(row.expected)) << "wide: " << row.text << " at " << row.position;
  }
  char* empty_insert = heap_text("abc");
  string_insert_at("", &empty_insert, 1);
  EXPECT_EQ(take(empty_insert), "abc");
  char* from_null = nullptr;
  string_insert_at("new", &from_null, 3);
  EXPECT_EQ(take(from_null), "new");
}

TEST(StringEditing, ReplaceAllGoesOnAfterEachReplacement) {
  struct Case {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
  } cases[] = {
      {"banana", "a", "aa", "baanaanaa"},  // no endless growth
      {"banana", "an", "", "ba"},
      {"banana", "x", "y", "banana"},
      {"banana", "", "y", "banana"},       // an empty search changes nothing
      {"aaaa", "aa", "b", "bb"},
      {"aaa", "aa", "b", "ba"},            // left to right, no overlaps
      {"abcabc", "abc", "abcabc", "abcabcabcabc"},
      {"x.y.z", ".", "\\", "x\\y\\z"},
      {"", "a", "b", ""},
      {"same", "same", "other", "other"},
  };
  for (const auto& row : cases) {
    char* text = heap_text(row.text);
    string_replace_all(&text, row.search, row.replacement);
    EXPECT_EQ(take(text), row.expected) << row.text << " / " << row.search << " -> " << row.replacement;

    char16_t* wide = heap_wide(widen(row.text));
    std::u16string search = widen(row.search), replacement = widen(row.replacement);
    wide_string_replace_all(&wide, search.c_str(), replacement.c_str());
    EXPECT_EQ(take_wide(wide), widen(row.expected)) << "wide: " << row.text << " / " << row.search;
  }
}

TEST(StringEditing, WideReplaceComparesWholeUnits) {
  // U+0141 and U+4141 share a byte with 'A' (0x41) but are other characters.
  char16_t* wide = heap_wide(u"A\u0141\u4141A");
  wide_string_replace_all(&wide, u"A", u"-");
  EXPECT_EQ(take_wide(wide), u"-\u0141\u4141-");
}

TEST(StringEditing, HeapCopyLivesInTheGivenHeap) {
  HANDLE heap = HeapCreate(0, 0, 0);
  ASSERT_NE(heap, nullptr);
  char* copy = heap_strdup(heap, "in the heap");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "in the heap");
  EXPECT_EQ(HeapSize(heap, 0, copy), 12u);
  char* empty = heap_strdup(heap, nullptr);
  EXPECT_STREQ(empty, "");
  HeapDestroy(heap);
}

TEST(StringFormatting, ThousandsSeparatorsGroupTheIntegerPart) {
  const std::pair<const char*, const char*> cases[] = {
      {"1234567.891", "1,234,567.891"}, {"123", "123"},       {"1234", "1,234"},
      {"123456", "123,456"},            {"1000000", "1,000,000"}, {"12.3456789", "12.3456789"},
      {"-123456", "-123,456"},          {"-123", "-123"},     {"-1234.5", "-1,234.5"},
      {".5", ".5"},                     {"", ""},             {"1", "1"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(take(insert_thousands_separators(text)), expected) << text;
  }
  EXPECT_EQ(take(number_to_grouped_text(1234567.5)), "1,234,567.5");
  EXPECT_EQ(take(number_to_grouped_text(-9876543210.0)), "-9,876,543,210");
}

TEST(StringFormatting, TrimsRemoveBlanksOnOneSide) {
  struct Case {
    const char* text;
    const char* right;
    const char* left;
  } cases[] = {
      {"  a b  ", "  a b", "a b  "}, {"    ", "", ""}, {"", "", ""},
      {"x", "x", "x"},               {"\tx\t", "\tx\t", "\tx\t"},  // only blanks are trimmed
  };
  for (const auto& row : cases) {
    EXPECT_EQ(take(trim_right_spaces(row.text)), row.right) << '"' << row.text << '"';
    EXPECT_EQ(take(trim_left_spaces(row.text)), row.left) << '"' << row.text << '"';
  }
}

TEST(StringFormatting, PadsAddFillCharacters) {
  struct Case {
    const char* text;
    char fill;
    int32_t count;
    const char* left;
    const char* right;
  } cases[] = {
      {"7", '0', 2, "007", "700"}, {"ab", '*', 1, "*ab", "ab*"}, {"ab", '*', 0, "ab", "ab"},
      {"ab", '*', -5, "ab", "ab"}, {"", '-', 3, "---", "---"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(take(pad_left(row.text, row.fill, row.count)), row.left) << row.text << " " << row.count;
    EXPECT_EQ(take(pad_right(row.text, row.fill, row.count)), row.right) << row.text << " " << row.count;
  }
}

TEST(Truncation, BiasCountsValuesAHairBelowAnIntegerAsIt) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    double as_double;
    int64_t as_int64;
    int32_t as_int;
  } cases[] = {
      {2.9999999999999996, 3, 3, 3},
      {-2.9999999999999996, -3, -3, -3},
      {0.1 * 3 * 10, 3, 3, 3},            // 3.0000000000000004
      {(0.7 + 0.1) * 10, 8, 8, 8},        // 7.999999999999999
      {2.5, 2, 2, 2},
      {-2.5, -2, -2, -2},
      {-0.5, 0, 0, 0},
      {1e-13, 0, 0, 0},
      {-1e-13, 0, 0, 0},
      {2.999, 2, 2, 2},                   // far below 3: no bias
      {2147483648.0, 2147483648.0, 2147483648LL, INT32_MIN},  // low 32 bits
      {4294967296.5, 4294967296.0, 4294967296LL, 0},
      {-4294967295.0, -4294967295.0, -4294967295LL, 1},
      {1e20, 1e20, 0, 0},                 // beyond 64 bits: no integer
      {infinity, infinity, 0, 0},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(truncate_double(row.value), row.as_double) << row.value;
    EXPECT_EQ(truncate_to_int64(row.value), row.as_int64) << row.value;
    EXPECT_EQ(truncate_biased_to_int(row.value), row.as_int) << row.value;
  }
  EXPECT_TRUE(std::isnan(truncate_double(nan)));
  EXPECT_EQ(truncate_to_int64(nan), 0);
  EXPECT_EQ(truncate_biased_to_int(nan), 0);
}

TEST(RandomInt, ScalesTheRuntimeGeneratorIntoTheRange) {
  for (int draw = 0; draw < 1000; ++draw) ASSERT_EQ(random_int(1), 0);
  std::vector<int> seen(10);
  for (int draw = 0; draw < 2000; ++draw) {
    int32_t value = random_int(10);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 10);
    seen[value] += 1;
  }
  for (int value = 0; value < 10; ++value) EXPECT_GT(seen[value], 0) << value << " never drawn";
  EXPECT_EQ(random_int(0), 0);
  // The same draw as the generator's value scaled by hand.
  crt::srand(2024);
  int raw = crt::rand();
  crt::srand(2024);
  EXPECT_EQ(random_int(1000), raw * 1000 / 32768);
}

TEST(MessageBox, ConvertsTextsAndReturnsTheAnswer) {
  std::string log = ::testing::TempDir() + "string_helpers_box.log";
  std::remove(log.c_str());
  setenv("ZRK_MSGBOX_LOG", log.c_str(), 1);
  setenv("ZRK_MSGBOX_ANSWER", "NO", 1);
  int answer = message_box("Caf\xe9 ready?", "Menu \x80", MB_YESNO);
  unsetenv("ZRK_MSGBOX_ANSWER");
  unsetenv("ZRK_MSGBOX_LOG");
  EXPECT_EQ(answer, IDNO);
  std::ifstream in(log);
  std::string line((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(line, "Menu \xe2\x82\xac\tCaf\xc3\xa9 ready?\n");  // Windows-1252 read as such
}

TEST(BadWritePointer, TellsWritableBytesFromOthers) {
  char* block = static_cast<char*>(crt::malloc(1));
  static const char kReadOnly[] = "constant";
  EXPECT_EQ(is_bad_write_pointer(block), 0);
  EXPECT_NE(is_bad_write_pointer(nullptr), 0);
  EXPECT_NE(is_bad_write_pointer(const_cast<char*>(kReadOnly)), 0);
  crt::free(block);
}

// ---- Soundex ----

struct SoundexRow {
  int line;
  std::string name;
  std::string census;
  std::string plain;
};

std::vector<SoundexRow> soundex_reference() {
  std::vector<SoundexRow> rows;
  std::ifstream file(ZRK_SOUNDEX_TABLE, std::ios::binary);
  std::string text;
  for (int line = 1; std::getline(file, text); ++line) {
    size_t first = text.find('\t'), second = text.find('\t', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    auto code = [](std::string field) { return field == "-" ? std::string() : field; };
    rows.push_back({line, text.substr(0, first), code(text.substr(first + 1, second - first - 1)),
                    code(text.substr(second + 1))});
  }
  return rows;
}

std::string soundex(const char* text, int32_t length, int census) {
  char output[16];
  std::memset(output, '#', sizeof output);
  int32_t written = soundex_code(output, text, length, census);
  std::string code(output);
  EXPECT_EQ(written, static_cast<int32_t>(code.size())) << (text ? text : "<null>");
  EXPECT_EQ(output[code.size() + 1], '#') << "wrote past the code of " << (text ? text : "<null>");
  return code;
}

TEST(Soundex, MatchesTextSoundexOnTheReferenceNames) {
  auto rows = soundex_reference();
  ASSERT_GT(rows.size(), 400u) << "reference table " << ZRK_SOUNDEX_TABLE;
  for (const auto& row : rows) {
    EXPECT_EQ(soundex(row.name.c_str(), 4, 1), row.census) << "census, line " << row.line << ": " << row.name;
    EXPECT_EQ(soundex(row.name.c_str(), 4, 0), row.plain) << "plain, line " << row.line << ": " << row.name;
  }
}

TEST(Soundex, SpellingRulesAndLengths) {
  struct Case {
    const char* text;
    int32_t length;
    int census;
    const char* expected;
  } cases[] = {
      {"Robert", 4, 0, "R163"},
      {"Robert", 4, 1, "R163"},
      {"123", 4, 0, ""},
      {"", 4, 1, ""},
      {"Knuth", 4, 1, "K530"},       // census mode keeps the spelling
      {"Knuth", 4, 0, "N300"},       // KN reads as N
      {"Pfister", 4, 0, "F236"},     // a leading PF loses its P
      {"Psmith", 0, 0, "S530"},      // a leading PS loses its P; length 0 means 4
      {"Thompson", 4, 0, "T525"},    // MP before S reads as M, PS inside is not leading
      {"Thompson", 4, 1, "T512"},
      {"Ashcraft", 4, 0, "A226"},    // H separates outside census mode
      {"Ashcraft", 4, 1, "A261"},
      {"Washington", 6, 0, "W25235"},
      {"Washington", 10, 0, "W252350000"},
      {"Washington", 12, 0, "W252350000"},  // at most 10
      {"Washington", 2, 0, "W252"},         // at least 4
      {"Washington", 8, 1, "W252"},         // census mode is always 4
      {"Lukasiewicz", 7, 0, "L222000"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(soundex(row.text, row.length, row.census), row.expected)
        << row.text << " length " << row.length << (row.census ? " census" : "");
  }
  EXPECT_EQ(soundex(nullptr, 4, 0), "");
}

}  // namespace
