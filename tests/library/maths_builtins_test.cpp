// Maths built-ins: rounding rules, variadic minimum and maximum, the device's random
// sequence, rotations, wrap and the character classes of texts and codes.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <string>

#include "builtin_fixture.h"
#include "library/strings/maths_builtins.h"

namespace {

class MathsBuiltins : public BuiltinTest {
 protected:
  MathsBuiltins() : BuiltinTest(register_maths_builtins) {}

  // One argument: a number, or a text when text is set.
  struct Argument {
    double number = 0;
    const char* text = nullptr;
    Argument(double value) : number(value) {}  // NOLINT: cases read as plain numbers
    Argument(int value) : number(value) {}  // NOLINT: 0 is a number, not a null text
    Argument(const char* value) : text(value) {}  // NOLINT
  };

  // Calls name with the arguments (after a stack mark when variadic) and returns the one
  // value it must leave on the stack.
  double result_of(const char* name, std::initializer_list<Argument> arguments, bool variadic = false) {
    int32_t before = depth();
    if (variadic) mark();
    for (const Argument& argument : arguments) {
      if (argument.text) push_text(argument.text);
      else push(argument.number);
    }
    call(name);
    EXPECT_EQ(depth(), before + 1) << name << " must leave exactly one value";
    return pop_number();
  }
};

TEST_F(MathsBuiltins, FunctionsGiveTheCLibraryResults) {
  struct Row {
    const char* name;
    double x;
    double y;  // second argument of the two-argument functions
    double expected;
  };
  const double pi = std::numbers::pi;
  const Row one[] = {
      {"abs", -2.5, 0, 2.5},      {"acos", 1, 0, 0},          {"asin", 1, 0, pi / 2},
      {"atan", 1, 0, pi / 4},     {"cos", 0, 0, 1},           {"sin", pi / 2, 0, 1},
      {"tan", 0, 0, 0},           {"cosh", 0, 0, 1},          {"sinh", 0, 0, 0},
      {"tanh", 0, 0, 0},          {"exp", 1, 0, std::exp(1.0)}, {"log", std::exp(2.0), 0, 2},
      {"log10", 1000, 0, 3},      {"sqrt", 16, 0, 4},         {"floor", -1.5, 0, -2},
      {"ceil", -1.5, 0, -1},      {"chgsign", 3, 0, -3},      {"chgsign", -3, 0, 3},
  };
  for (const Row& row : one) EXPECT_DOUBLE_EQ(result_of(row.name, {row.x}), row.expected) << row.name << "(" << row.x << ")";
  const Row two[] = {
      {"atan2", 1, 0, pi / 2}, {"atan2", 0, -1, pi}, {"pow", 2, 10, 1024}, {"pow", 9, 0.5, 3}, {"hypot", 3, 4, 5},
  };
  for (const Row& row : two) {
    EXPECT_DOUBLE_EQ(result_of(row.name, {row.x, row.y}), row.expected) << row.name << "(" << row.x << ", " << row.y << ")";
  }
}

TEST_F(MathsBuiltins, DomainErrorsAndTextArguments) {
  double zero = result_of("abs", {-0.0});
  EXPECT_EQ(zero, 0.0);
  EXPECT_FALSE(std::signbit(zero)) << "abs clears the sign bit";
  EXPECT_TRUE(std::isnan(result_of("sqrt", {-1})));
  EXPECT_EQ(result_of("log", {0}), -HUGE_VAL);
  EXPECT_EQ(result_of("sqrt", {"16"}), 4) << "a numeric text is its number";
  EXPECT_EQ(result_of("abs", {"abc"}), 0) << "non-numeric text counts as 0";
}

TEST_F(MathsBuiltins, RoundingAndTruncation) {
  struct Row {
    const char* name;
    double x;
    double digits;
    double expected;
  };
  const Row rows[] = {
      {"roundex", 0.125, 2, 0.13},     {"roundex", 2.5, 0, 3},       {"roundex", -2.5, 0, -2},
      {"roundex", 1234, -2, 1200},     {"roundex", -2.7, 0, -3},     {"truncex", -1.25, 1, -1.3},
      {"truncex", 1.29, 1, 1.2},       {"truncex", 1250, -2, 1200},
  };
  for (const Row& row : rows) {
    EXPECT_DOUBLE_EQ(result_of(row.name, {row.x, row.digits}), row.expected) << row.name << "(" << row.x << ", " << row.digits << ")";
  }
  const Row single[] = {
      {"round", 2.5, 0, 3},      {"round", 2.4999, 0, 2},  {"round", 0.5, 0, 1},
      {"round", -2.5, 0, -3},    {"round", -2.7, 0, -3},   {"round", -2.4, 0, -2},
      {"round", 1e300, 0, 1e300}, {"round", -1e300, 0, -1e300},
      {"trunc", -2.7, 0, -2},    {"trunc", 2.9999999999995, 0, 3}, {"trunc", 2.7, 0, 2},
  };
  for (const Row& row : single) EXPECT_EQ(result_of(row.name, {row.x}), row.expected) << row.name << "(" << row.x << ")";
  EXPECT_TRUE(std::isnan(result_of("round", {NAN})));
}

TEST_F(MathsBuiltins, MinimumAndMaximumOfAnyNumberOfValues) {
  EXPECT_EQ(result_of("min", {3, -1, 2}, true), -1);
  EXPECT_EQ(result_of("max", {-5, -3}, true), -3);
  EXPECT_EQ(result_of("max", {7}, true), 7);
  EXPECT_EQ(result_of("min", {"4", 9}, true), 4);
  EXPECT_EQ(result_of("max", {}, true), 0);
  EXPECT_EQ(result_of("min", {}, true), 1.7976931348623157e308);
  // The call takes only its own arguments: a value below the mark stays.
  push(42);
  EXPECT_EQ(result_of("max", {1, 2}, true), 2);
  EXPECT_EQ(pop_number(), 42);
}

TEST_F(MathsBuiltins, RandomNumbersFollowTheDevicesGenerator) {
  // The classic C runtime sequence after srand(1): 41, 18467, 6334, 26500, 19169.
  push(1);
  call("srand");
  EXPECT_EQ(depth(), 0) << "srand pushes nothing";
  for (double expected : {41, 18467, 6334}) EXPECT_EQ(result_of("rand", {}), expected);
  // random(10) of the next draws: 26500 and 19169 scaled into 0..9.
  EXPECT_EQ(result_of("random", {10}), 8);
  EXPECT_EQ(result_of("random", {10}), 5);
  // randomset draws over the arguments in pop order: 30, 20, 10.
  push(1);
  call("srand");
  EXPECT_EQ(result_of("randomset", {10, 20, 30}, true), 30) << "rand 41";
  EXPECT_EQ(result_of("randomset", {10, 20, 30}, true), 20) << "rand 18467";
  EXPECT_EQ(result_of("randomset", {7}, true), 7);
  EXPECT_EQ(result_of("randomset", {"5"}, true), 5);
  EXPECT_EQ(result_of("randomset", {}, true), 0);
}

TEST_F(MathsBuiltins, RandomStaysInItsRange) {
  for (int i = 0; i < 2000; ++i) {
    double value = result_of("random", {10});
    ASSERT_TRUE(value >= 0 && value <= 9 && value == std::floor(value)) << value;
  }
  EXPECT_EQ(result_of("random", {0}), 0);
  for (int i = 0; i < 200; ++i) {
    double value = result_of("random", {1e12});
    ASSERT_TRUE(value >= 0 && value < 1e12 && value == std::floor(value)) << "no 32-bit wrap: " << value;
  }
}

TEST_F(MathsBuiltins, RotationsAreModulo32OnUnsignedValues) {
  struct Row {
    const char* name;
    double value;
    double count;
    double expected;
  };
  const Row rows[] = {
      {"rotl", 1, 33, 2},                    {"rotr", 1, 1, 2147483648.0},
      {"lrotl", 2147483648.0, 1, 1},         {"lrotr", 2, 1, 1},
      {"rotl", 0x12345678, 32, 0x12345678},  {"rotl", 0x12345678, 0, 0x12345678},
      {"rotl", 0x12345678, 8, 0x34567812},   {"rotr", 0x12345678, 8, 0x78123456},
      {"lrotl", 1, -1, 2147483648.0},        {"rotr", 1, -1, 2},
      {"rotl", -1, 4, 4294967295.0},         {"rotl", 4294967295.0, 3, 4294967295.0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(result_of(row.name, {row.value, row.count}), row.expected) << row.name << "(" << row.value << ", " << row.count << ")";
  }
}

TEST_F(MathsBuiltins, WrapClampsOrWrapsOnce) {
  struct Row {
    double value, low, high, mode, expected;
  };
  const Row rows[] = {
      {15, 0, 10, 0, 10}, {-3, 0, 10, 0, 0}, {5, 0, 10, 0, 5},  {12, 0, 10, 1, 2},
      {-1, 0, 10, 1, 1},  {5, 0, 10, 1, 5},  {35, 0, 10, 2, 25}, {10, 0, 10, 1, 10},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(result_of("wrap", {row.value, row.low, row.high, row.mode}), row.expected)
        << "wrap(" << row.value << ", " << row.low << ", " << row.high << ", " << row.mode << ")";
  }
}

TEST_F(MathsBuiltins, CharacterClassesOfTexts) {
  struct Row {
    const char* name;
    const char* text;
    double expected;
  };
  const Row rows[] = {
      {"isdigit", "123", 1},     {"isdigit", "12a", 0},    {"isdigit", "", 1},
      {"islower", "abc1!", 1},   {"islower", "aBc", 0},    {"isupper", "ABc", 0},
      {"isupper", "AB 1", 1},    {"isalpha", "abcXYZ", 1}, {"isalpha", "ab1", 0},
      {"isalnum", "ab12", 1},    {"isalnum", "ab 12", 0},  {"isspace", " \t\r\n", 1},
      {"isspace", " x", 0},      {"ispunct", "!?.,", 1},   {"ispunct", "!a", 0},
      {"iscntrl", "\x01\x1f", 1}, {"iscntrl", "a", 0},     {"isprint", "a b!", 1},
      {"isprint", "a\x01" "b", 0},
      // Code-page letters (Windows-1252), 0xFF included.
      {"isalpha", "\xE9\xC4\xFF", 1}, {"islower", "\xE9\xFF", 1}, {"isupper", "\xC4\xE9", 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(result_of(row.name, {row.text}), row.expected) << row.name << "(\"" << row.text << "\")";
  }
}

TEST_F(MathsBuiltins, CharacterClassesOfUtf16Texts) {
  struct Row {
    const char* name;
    const char16_t* text;
    double expected;
  };
  const Row rows[] = {
      {"isalpha", u"\u00e4b\u00df", 1}, {"islower", u"\u00e4b1", 1}, {"isupper", u"\u00c4B1", 1},
      {"isupper", u"\u00c4b", 0},       {"isdigit", u"42", 1},        {"isdigit", u"4x", 0},
      {"isdigit", u"", 1},
  };
  for (const Row& row : rows) {
    push_wide_text(row.text);
    call(row.name);
    EXPECT_EQ(pop_number(), row.expected) << row.name;
  }
}

TEST_F(MathsBuiltins, CharacterClassesOfCodes) {
  EXPECT_NE(result_of("isdigit", {48}), 0);
  EXPECT_EQ(result_of("isdigit", {65}), 0);
  EXPECT_NE(result_of("isalpha", {65}), 0);
  EXPECT_NE(result_of("isupper", {65}), 0);
  EXPECT_EQ(result_of("islower", {65}), 0);
  EXPECT_NE(result_of("isspace", {32}), 0);
  EXPECT_EQ(result_of("isalpha", {1000}), 0) << "no class beyond the code page";
}

}  // namespace
