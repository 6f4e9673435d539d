// int, ToFloat, ToInt, LargeInt and ToLargeInt: texts read as numbers, truncation, and
// 64-bit integers in memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "library/strings/number_conversion_builtins.h"
#include "platform/platform.h"
#include "text_builtin_fixture.h"

namespace {

class NumberConversionBuiltinsTest : public TextBuiltinTest {
 protected:
  NumberConversionBuiltinsTest() : TextBuiltinTest(register_number_conversion_builtins) {}
};

TEST_F(NumberConversionBuiltinsTest, ValuesAsNumbers) {
  struct Case {
    const char* name;
    TextArgument argument;
    double expected;
  };
  auto t = text_argument;
  auto n = number_argument;
  const Case cases[] = {
      {"int", t("3.7"), 3.7},
      {"int", n(3.7), 3.7},
      {"int", n(-2.5), -2.5},
      {"int", t("abc"), 0},
      {"int", t("0x10"), 16},
      {"int", t(""), 0},
      {"ToInt", n(3.7), 3},
      {"ToInt", n(-3.7), -3},
      {"ToInt", t("12"), 12},
      {"ToInt", t("-12.9"), -12},
      {"ToInt", n(2147483647), 2147483647},
      {"ToFloat", n(1), 1.0000000000000002},
      {"ToFloat", t("2"), 2 + 2.220446049250313e-16},
      {"ToFloat", n(0), 2.220446049250313e-16},
  };
  for (bool wide : {false, true}) {
    for (const Case& c : cases) {
      push_arguments({c.argument}, wide);
      call(c.name);
      EXPECT_EQ(pop_number(), c.expected) << c.name << " case " << (&c - cases) << (wide ? " (UTF-16)" : "");
    }
  }
  push(std::nan(""));
  call("ToInt");
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(NumberConversionBuiltinsTest, LargeIntegersInMemory) {
  struct Case {
    double value;
    int64_t stored;
    double read_back;
  };
  const Case cases[] = {
      {5000000000.0, 5000000000LL, 5000000000.0},
      {-1, -1, -1},
      {-7.9, -7, -7},
      {9007199254740993.0, 9007199254740992LL, 9007199254740992.0},
      {1e30, INT64_MAX, 9223372036854775807.0},
      {-1e30, INT64_MIN, -9223372036854775808.0},
      {std::nan(""), 0, 0},
  };
  for (const Case& c : cases) {
    auto* block = static_cast<unsigned char*>(crt::calloc(8, 1));
    push(c.value);
    push(platform::address_of(block));
    call("ToLargeInt");
    EXPECT_EQ(depth(), 0) << "ToLargeInt pushes nothing";
    int64_t stored;
    std::memcpy(&stored, block, sizeof stored);
    EXPECT_EQ(stored, c.stored) << c.value;
    push(platform::address_of(block));
    call("LargeInt");
    EXPECT_EQ(pop_number(), c.read_back) << c.value;
    crt::free(block);
  }
  // -1 is eight 0xFF bytes, least significant first.
  unsigned char bytes[8] = {};
  push(-1);
  push(platform::address_of(bytes));
  call("ToLargeInt");
  for (unsigned char byte : bytes) EXPECT_EQ(byte, 0xFF);
  const unsigned char little_endian[8] = {0x00, 0xF2, 0x05, 0x2A, 0x01, 0, 0, 0};
  push(platform::address_of(little_endian));
  call("LargeInt");
  EXPECT_EQ(pop_number(), 5000000000.0);
}

TEST_F(NumberConversionBuiltinsTest, ATextGivesTheAddressOfItsBytes) {
  char buffer[9] = "\x05\0\0\0\0\0\0\0";
  push_text(buffer);
  call("LargeInt");
  EXPECT_EQ(pop_number(), 5);
}

}  // namespace
