// The device's C runtime semantics: rand, decimal-only reading, wrapping integer reading,
// integer text, ASCII-only case folding and the printf family with %I64.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/kernel/crt.h"

namespace {

// The generator written out independently: 64-bit arithmetic reduced modulo 2^32.
std::vector<int> lcg_sequence(uint64_t seed, int count) {
  std::vector<int> values;
  uint64_t state = seed;
  for (int i = 0; i < count; ++i) {
    state = (state * 214013 + 2531011) % 4294967296ull;
    values.push_back(static_cast<int>(state / 65536 % 32768));
  }
  return values;
}

TEST(Crt, RandFollowsTheDevicesGenerator) {
  for (unsigned seed : {1u, 42u, 0u, 0xFFFFFFFFu}) {
    crt::srand(seed);
    std::vector<int> expected = lcg_sequence(seed, 1000);
    for (int i = 0; i < 1000; ++i) {
      int value = crt::rand();
      ASSERT_EQ(value, expected[static_cast<size_t>(i)]) << "seed " << seed << " call " << i;
      ASSERT_LE(value, crt::rand_maximum);
    }
  }
  // The widely published first values for seed 1, as a check on the formula itself.
  crt::srand(1);
  for (int expected : {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464}) {
    EXPECT_EQ(crt::rand(), expected);
  }
}

TEST(Crt, RandStartsAsIfSeededWithOne) {
  // A fresh process: the threadsafe style runs this test alone in a new copy of the program.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(crt::rand() == 41 && crt::rand() == 18467 ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(Crt, AtofReadsDecimalTextOnly) {
  const double infinity = std::numeric_limits<double>::infinity();
  struct Case {
    const char* text;
    double value;
    int consumed;  // characters strtod takes
  };
  const Case cases[] = {
      {"1.5", 1.5, 3},
      {"  -2e3x", -2000.0, 6},
      {"0x10", 0.0, 1},  // the 0, then 'x' stops the number
      {"inf", 0.0, 0},
      {"-infinity", 0.0, 0},
      {"nan", 0.0, 0},
      {"1e400", infinity, 5},
      {"-1e400", -infinity, 6},
      {".5", 0.5, 2},
      {"5.", 5.0, 2},
      {"1e", 1.0, 1},
      {"1e+", 1.0, 1},
      {"-.e5", 0.0, 0},
      {"+3.25E-2", 0.0325, 8},
      {"\t\n 7", 7.0, 4},
      {"0.1", 0.1, 3},
      {"123456789012345678901234567890", 1.2345678901234568e29, 30},
      {"2.2250738585072011e-308", 2.2250738585072011e-308, 23},
      {"", 0.0, 0},
      {"  ", 0.0, 0},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(crt::atof(row.text), row.value) << '"' << row.text << '"';
    char* end = nullptr;
    EXPECT_EQ(crt::strtod(row.text, &end), row.value) << '"' << row.text << '"';
    EXPECT_EQ(end - row.text, row.consumed) << '"' << row.text << '"';
  }
  EXPECT_TRUE(std::signbit(crt::atof("-0")));
  EXPECT_EQ(crt::atof(nullptr), 0.0);
}

TEST(Crt, IntegerReadingWrapsOnOverflow) {
  struct Case {
    const char* text;
    int int_value;
    int64_t int64_value;
  };
  const Case cases[] = {
      {" 42x", 42, 42},
      {"-17", -17, -17},
      {"+5", 5, 5},
      {"2147483648", INT_MIN, 2147483648ll},
      {"4294967297", 1, 4294967297ll},
      {"9223372036854775808", 0, INT64_MIN},
      {"18446744073709551615", -1, -1},
      {"abc", 0, 0},
      {"- 1", 0, 0},
      {"0x1F", 0, 0},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(crt::atoi(row.text), row.int_value) << '"' << row.text << '"';
    EXPECT_EQ(crt::atol(row.text), row.int_value) << '"' << row.text << '"';
    EXPECT_EQ(crt::_atoi64(row.text), row.int64_value) << '"' << row.text << '"';
  }
  EXPECT_EQ(crt::atoi(nullptr), 0);
}

TEST(Crt, IntegersToText) {
  char buffer[72];
  struct Case {
    std::string written;
    std::string expected;
  };
  const Case cases[] = {
      {crt::_itoa(255, buffer, 16), "ff"},
      {crt::_itoa(-255, buffer, 10), "-255"},
      {crt::_itoa(-1, buffer, 16), "ffffffff"},  // only radix 10 has a sign
      {crt::_itoa(-1, buffer, 2), "11111111111111111111111111111111"},
      {crt::_itoa(35, buffer, 36), "z"},
      {crt::_itoa(0, buffer, 10), "0"},
      {crt::_itoa(INT_MIN, buffer, 10), "-2147483648"},
      {crt::_ltoa(-8, buffer, 8), "37777777770"},
      {crt::_ultoa(4294967295ul, buffer, 10), "4294967295"},
      {crt::_i64toa(-1, buffer, 16), "ffffffffffffffff"},
      {crt::_i64toa(INT64_MIN, buffer, 10), "-9223372036854775808"},
      {crt::_i64toa(5000000000ll, buffer, 10), "5000000000"},
      {crt::_ui64toa(UINT64_MAX, buffer, 10), "18446744073709551615"},
      {crt::_ui64toa(UINT64_MAX, buffer, 2), std::string(64, '1')},
      {crt::_itoa(5, buffer, 1), ""},
      {crt::_itoa(5, buffer, 37), ""},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(row.written, row.expected) << "row " << &row - cases;
  }
}

int sign(int value) { return (value > 0) - (value < 0); }

TEST(Crt, StricmpFoldsAsciiOnly) {
  struct Case {
    const char* left;
    const char* right;
    int expected_sign;
  };
  const Case cases[] = {
      {"abc", "ABC", 0},
      {"Hello World", "hELLO wORLD", 0},
      {"\xC4", "\xE4", -1},  // Ä and ä are different bytes to the device's runtime
      {"_", "A", -1},        // folded to lower case: '_' sorts before 'a'
      {"a", "b", -1},
      {"abc", "ab", 1},
      {"\x80", "a", 1},      // bytes compare unsigned
      {"", "", 0},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(sign(crt::_stricmp(row.left, row.right)), row.expected_sign) << row.left << " / " << row.right;
    EXPECT_EQ(sign(crt::_stricmp(row.right, row.left)), -row.expected_sign) << row.right << " / " << row.left;
  }
  EXPECT_EQ(crt::_strnicmp("abcX", "ABCy", 3), 0);
  EXPECT_LT(crt::_strnicmp("abcX", "ABCy", 4), 0);
  EXPECT_EQ(crt::_strnicmp("a", "b", 0), 0);

  char text[] = "Mixed \xC4\xE4 Case 123 z";
  EXPECT_STREQ(crt::_strupr(text), "MIXED \xC4\xE4 CASE 123 Z");
  EXPECT_STREQ(crt::_strlwr(text), "mixed \xC4\xE4 case 123 z");
  EXPECT_EQ(crt::_strupr(nullptr), nullptr);
}

std::string glibc_format(const char* format, long long value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

TEST(Crt, SprintfI64MatchesGlibcLongLong) {
  const long long values[] = {0, 1, -1, 5000000000ll, -5000000000ll, INT64_MIN, INT64_MAX, 0x123456789ABCDEFll};
  const std::pair<const char*, const char*> formats[] = {
      {"%I64d", "%lld"},       {"%I64u", "%llu"},         {"%I64x", "%llx"},      {"%I64X", "%llX"},
      {"<%20I64d>", "<%20lld>"}, {"<%-+22I64d>", "<%-+22lld>"}, {"%#I64x", "%#llx"}, {"%.12I64d", "%.12lld"},
      {"%lld", "%lld"},        {"%I64o", "%llo"},
  };
  for (auto [ours, theirs] : formats) {
    for (long long value : values) {
      char buffer[128];
      int length = crt::sprintf(buffer, ours, value);
      std::string expected = glibc_format(theirs, value);
      EXPECT_EQ(buffer, expected) << ours << " of " << value;
      EXPECT_EQ(length, static_cast<int>(expected.size())) << ours << " of " << value;
    }
  }
}

TEST(Crt, SprintfMatchesCOnItsOwnConversions) {
  struct IntegerCase {
    const char* format;
    int value;
  };
  const IntegerCase integers[] = {
      {"%d items", 3}, {"%x", 255},   {"%X", 255},  {"%c", 65},    {"%+d", 5},  {"% d", 5},
      {"%05d", -42},   {"%-5d|", 42}, {"%#o", 8},   {"%u", -1},    {"%hd", 70000}, {"%hhu", 300},
      {"%% %d", 5},    {"%i", -7},    {"%*d", 0},
  };
  for (const IntegerCase& row : integers) {
    char ours[128], theirs[128];
    crt::sprintf(ours, row.format, row.value, row.value);
    std::snprintf(theirs, sizeof theirs, row.format, row.value, row.value);
    EXPECT_STREQ(ours, theirs) << row.format;
  }
  struct DoubleCase {
    const char* format;
    double value;
  };
  const DoubleCase doubles[] = {
      {"%5.2f|", 3.14159}, {"%f", 0.1},   {"%e", 1e300},     {"%E", -2.5e-10}, {"%g", 123456789.0},
      {"%G", 1e-5},        {"%.0f", 2.5}, {"%+.3f", -0.0},   {"%10.4g|", 3.14159}, {"%.20f", 1.0 / 3},
      {"%f", 1e20},        {"%Lf", 1.5},  {"%.300f", 1e-300},
  };
  for (const DoubleCase& row : doubles) {
    char ours[512], theirs[512];
    crt::sprintf(ours, row.format, row.value);
    std::string glibc_format_text = row.format;
    if (glibc_format_text == "%Lf") glibc_format_text = "%f";  // the device's long double is a double
    std::snprintf(theirs, sizeof theirs, glibc_format_text.c_str(), row.value);
    EXPECT_STREQ(ours, theirs) << row.format;
  }
  char buffer[64];
  crt::sprintf(buffer, "%-6s|%.2s|%s", "ab", "xyz", static_cast<const char*>(nullptr));
  EXPECT_STREQ(buffer, "ab    |xy|(null)");
  crt::sprintf(buffer, "%*d|%-*d|%.*f", 4, 7, 3, 8, 2, 3.14159);
  EXPECT_STREQ(buffer, "   7|8  |3.14");
}

TEST(Crt, SprintfDeviceConversions) {
  int count = 1234;
  struct Case {
    const char* name;
    std::function<int(char*)> format;
    const char* expected;
  };
  const Case cases[] = {
      {"UTF-16 text", [](char* b) { return crt::sprintf(b, "%S|%ls|%ws", u"wide", u"caf\u00E9", u"\u20AC\u4E2D"); },
       "wide|caf\xE9|\x80?"},
      {"UTF-16 characters", [](char* b) { return crt::sprintf(b, "%C%lc%c", u'\u00E9', u'\u4E2D', 'x'); }, "\xE9?x"},
      {"8-bit with h", [](char* b) { return crt::sprintf(b, "%hs", "narrow"); }, "narrow"},
      {"pointer", [](char* b) { return crt::sprintf(b, "%p", reinterpret_cast<void*>(0xBEEF)); }, "0000BEEF"},
      {"zero-padded text", [](char* b) { return crt::sprintf(b, "%05s|%-5s|", "ab", "cd"); }, "000ab|cd   |"},
      {"count not stored", [&](char* b) { return crt::sprintf(b, "a%nb", &count); }, "ab"},
      {"32-bit sizes", [](char* b) { return crt::sprintf(b, "%I32d %Id", -5, 6); }, "-5 6"},
      {"unknown conversion", [](char* b) { return crt::sprintf(b, "%y%d", 3); }, "%y3"},
      {"unfinished conversion", [](char* b) { return crt::sprintf(b, "end%5"); }, "end%5"},
  };
  for (const Case& row : cases) {
    char buffer[64];
    EXPECT_EQ(row.format(buffer), static_cast<int>(std::strlen(row.expected))) << row.name;
    EXPECT_STREQ(buffer, row.expected) << row.name;
  }
  EXPECT_EQ(count, 1234);
  char buffer[8];
  EXPECT_EQ(crt::sprintf(buffer, nullptr), -1);
}

TEST(Crt, SnprintfCutsWithoutTerminator) {
  struct Case {
    const char* text;
    size_t count;
    int result;
    const char* stored;  // the first count bytes of the buffer afterwards
  };
  const Case cases[] = {
      {"abc", 8, 3, "abc\0####"},
      {"abcdefg", 8, 7, "abcdefg\0"},
      {"abcdefgh", 8, 8, "abcdefgh"},   // exactly fits: no terminator, length returned
      {"abcdefghij", 8, -1, "abcdefgh"},  // cut: no terminator, -1
      {"abc", 0, -1, ""},
      {"", 0, 0, ""},
  };
  for (const Case& row : cases) {
    char buffer[10];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(crt::_snprintf(buffer, row.count, "%s", row.text), row.result) << row.text << " in " << row.count;
    EXPECT_EQ(std::string(buffer, row.count), std::string(row.stored, row.count)) << row.text << " in " << row.count;
    EXPECT_EQ(buffer[row.count], '#') << "wrote past count for " << row.text;
  }
  // Absurd widths fail instead of building gigabytes; a large %s precision is only a limit.
  char buffer[10];
  EXPECT_EQ(crt::_snprintf(buffer, sizeof buffer, "%2000000000d", 1), -1);
  EXPECT_EQ(crt::_snprintf(buffer, sizeof buffer, "%.2000000000f", 1.0), -1);
  EXPECT_EQ(crt::_snprintf(buffer, sizeof buffer, "%.2000000000s", "abc"), 3);
}

TEST(Crt, FloatingPointHelpers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(crt::_isnan(nan), 1);
  EXPECT_EQ(crt::_isnan(1.0), 0);
  EXPECT_EQ(crt::_finite(infinity), 0);
  EXPECT_EQ(crt::_finite(nan), 0);
  EXPECT_EQ(crt::_finite(-2.0), 1);
  EXPECT_EQ(crt::_chgsign(3.0), -3.0);
  EXPECT_TRUE(std::signbit(crt::_chgsign(0.0)));
  EXPECT_EQ(crt::_hypot(3.0, 4.0), 5.0);
}

}  // namespace
