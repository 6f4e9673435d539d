// Text <-> number conversion against C's "%f" (through Python) and the numeric-text
// rules, and 8-bit <-> UTF-16 text against Python's cp1252 codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "platform/kernel/memory.h"
#include "reference_table.h"

namespace {

std::string text_of(double value) {
  char* text = number_to_text(value);
  std::string copy = text ? text : "(null)";
  crt::free(text);
  return copy;
}

std::string printable(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x ", static_cast<unsigned>(unit));
    out += hex;
  }
  return out;
}

}  // namespace

TEST(IsNumericText, LooseRules) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {nullptr, 1}, {"", 0},      {"-", 1},     {".", 1},     {"1e+", 1},    {"1.2.3", 1},   {"12x", 1},
      {"x", 1},     {"0x", 1},    {"0x1F", 1},  {"0XaBc", 1}, {"1E-5", 1},   {"-3.25", 1},   {"e+", 1},
      {"1e5", 0},   {"abc", 0},   {"1-", 0},    {" 1", 0},    {"1 ", 0},     {"1e", 0},      {"12ab", 0},
      {"0xFG", 0},  {"1,000", 0}, {"--1", 0},   {"+1", 0},    {"10x1F", 0},  {"0X1e+", 0},   {"\xE9", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_numeric_text(c.text), c.expected) << (c.text ? c.text : "(null)");
  }
}

TEST(TextToNumber, ReadsDecimalIntegerAndHexTexts) {
  struct Case {
    const char* text;
    double expected;
    uint8_t flag;
  };
  const Case cases[] = {
      {"abc", 0, 1},
      {"1e5", 0, 1},
      {"", 0, 1},
      {"0", 0, 0},
      {"3.25", 3.25, 0},
      {"-2.5", -2.5, 0},
      {"1e+3", 1000, 0},
      {"0x10", 16, 0},
      {"0x1F", 31, 0},
      {"0X", 0, 0},
      {"0x", 0, 0},
      {"017", 17, 0},
      {"1e+", 1, 0},
      {"-", 0, 0},
      {".", 0, 0},
      {"1.2.3", 1.2, 0},
      {"12x", 12, 0},
      {"18446744073709551615", 18446744073709551616.0, 0},
      // Only the 64-bit integer reading sees these (the decimal reading underflows to 0);
      // a value with the top bit set counts as unsigned.
      {"7e-999", 7, 0},
      {"9223372036854775808e-999", 9223372036854775808.0, 0},
      // The hex reading is a signed 64-bit value that keeps the last 16 digits.
      {"0xFFFFFFFFFFFFFFFF", -1, 0},
      {"0x123456789abcdef0123", static_cast<double>(0x456789abcdef0123LL), 0},
  };
  for (const Case& c : cases) {
    not_a_number_flag = c.flag ? 0 : 1;
    EXPECT_EQ(text_to_number(c.text), c.expected) << c.text;
    EXPECT_EQ(not_a_number_flag, c.flag) << "flag after " << c.text;
  }
}

TEST(TextToNumber, NullTextIsZero) {
  not_a_number_flag = 1;
  EXPECT_EQ(text_to_number(nullptr), 0.0);
  EXPECT_EQ(not_a_number_flag, 0);
}

TEST(NumberToText, MatchesPrintfWithTrailingZerosStripped) {
  auto rows = reference::rows("number");
  ASSERT_GT(rows.size(), 1000u) << "reference table missing";
  for (const auto& row : rows) {
    double value = reference::number_from_bits(row.fields[0]);
    char* text = number_to_text(value);
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(std::string(text), row.fields[1]) << "table line " << row.line;
    ASSERT_EQ(crt::_msize(text), std::strlen(text) + 1) << "block of table line " << row.line;
    crt::free(text);
  }
}

TEST(NumberToText, Examples) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {3.5, "3.5"},       {2, "2"},  {100, "100"}, {0.1234567, "0.123457"}, {-0.0000001, "-0"},
      {1e20, "100000000000000000000"}, {0, "0"},   {-7, "-7"},              {-1.5, "-1.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(text_of(c.value), c.expected) << c.expected;
  std::string largest = text_of(-std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 310u) << "sign and 309 digits";
  EXPECT_EQ(largest.substr(0, 8), "-1797693");
}

TEST(NumberToText, SeveralThreadsGetTheirOwnTexts) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 3000;
  std::vector<std::thread> threads;
  std::vector<int> mismatches(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &mismatches] {
      // Each thread's numbers have their own length, so a shared buffer shows.
      double value = std::pow(10.0, 3 * t) + 0.25;
      char expected[400];
      std::snprintf(expected, sizeof expected, "%.2f", value);
      for (int i = 0; i < kRounds; ++i) {
        char* text = number_to_text(value);
        if (std::strcmp(text, expected) != 0) ++mismatches[t];
        crt::free(text);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(WideText, ToWideMatchesCp1252) {
  auto rows = reference::rows("to_wide");
  ASSERT_GT(rows.size(), 1000u) << "reference table missing";
  for (const auto& row : rows) {
    std::string text = reference::bytes(row.fields[0]);
    std::u16string expected = reference::units(row.fields[1]);
    char16_t* wide = to_wide(text.c_str());
    ASSERT_NE(wide, nullptr);
    ASSERT_EQ(printable(std::u16string(wide)), printable(expected)) << "table line " << row.line;
    ASSERT_EQ(crt::_msize(wide), (text.size() + 1) * sizeof(char16_t)) << "table line " << row.line;
    crt::free(wide);
  }
}

TEST(WideText, ToNarrowMatchesCp1252WithCompositeCheck) {
  auto rows = reference::rows("to_narrow");
  ASSERT_GT(rows.size(), 1000u) << "reference table missing";
  for (const auto& row : rows) {
    std::u16string text = reference::units(row.fields[0]);
    std::string expected = reference::bytes(row.fields[1]);
    char* narrow = to_narrow(text.c_str());
    ASSERT_NE(narrow, nullptr);
    ASSERT_EQ(std::string(narrow), expected) << "table line " << row.line;
    ASSERT_EQ(crt::_msize(narrow), text.size() + 1) << "table line " << row.line;
    crt::free(narrow);
  }
}

TEST(WideText, NullGivesAnEmptyText) {
  char16_t* wide = to_wide(nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide[0], u'\0');
  crt::free(wide);
  char* narrow = to_narrow(nullptr);
  ASSERT_NE(narrow, nullptr);
  EXPECT_EQ(narrow[0], '\0');
  crt::free(narrow);
}

TEST(WideText, ChangesInWideConversion) {
  struct Case {
    const char* what;
    std::string block;  // the whole allocated block, zeros included
    int expected;
  };
  std::string every_byte;
  for (int b = 1; b < 256; ++b) every_byte += static_cast<char>(b);
  every_byte += '\0';
  const Case cases[] = {
      {"plain text", std::string("hello\0", 6), 0},
      {"every byte of the code page", every_byte, 0},
      {"zero padding after the text", std::string("abc\0\0\0\0", 7), 0},
      {"bytes after an inner zero are lost", std::string("ab\0cd\0", 6), 1},
      {"an empty text", std::string("\0", 1), 0},
  };
  for (const Case& c : cases) {
    auto* block = static_cast<char*>(crt::malloc(c.block.size()));
    std::memcpy(block, c.block.data(), c.block.size());
    EXPECT_EQ(text_changes_in_wide_conversion(block), c.expected) << c.what;
    crt::free(block);
  }
  EXPECT_EQ(text_changes_in_wide_conversion(nullptr), 0) << "null";
  const char not_a_heap_block[] = "not from the allocator \xE9";
  EXPECT_EQ(text_changes_in_wide_conversion(not_a_heap_block), 0) << "a text outside the allocator";
}

TEST(TruncateToInt, KeepsTheLow32BitsOfThe64BitValue) {
  struct Case {
    double value;
    int32_t expected;
  };
  const Case cases[] = {
      {0, 0},
      {3.9, 3},
      {-3.9, -3},
      {-0.5, 0},
      {2147483647.0, 2147483647},
      {2147483647.9, 2147483647},  // the edges of the 32-bit range
      {2147483648.0, INT32_MIN},
      {-2147483648.0, INT32_MIN},
      {-2147483648.7, INT32_MIN},
      {-2147483649.0, INT32_MAX},
      {4294967295.5, -1},
      {3000000000.0, static_cast<int32_t>(3000000000u)},  // an address above 2^31
      {4294967296.0 + 5, 5},
      {-1, -1},
      {std::nan(""), 0},
      {1e300, 0},  // beyond 64 bits: no handle
      {-1e300, 0},
      {std::numeric_limits<double>::infinity(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(truncate_to_int(c.value), c.expected) << c.value;
}
