// printf and sprintf: conversions print as the C library prints them, each conversion
// takes the next argument in the type its letter asks for, and no format can make the
// engine read an argument the script did not pass.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "builtin_fixture.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/files/printf_builtins.h"

namespace {

class PrintfBuiltins : public BuiltinTest {
 protected:
  PrintfBuiltins() : BuiltinTest(register_printf_builtins) {}

  struct Argument {
    double number = 0;
    const char* text = nullptr;
    const char16_t* wide = nullptr;
    Argument(double value) : number(value) {}           // NOLINT: cases read as plain values
    Argument(int value) : number(value) {}  // NOLINT: 0 is a number, not a null text
    Argument(const char* value) : text(value) {}        // NOLINT
    Argument(const char16_t* value) : wide(value) {}    // NOLINT
  };

  void push_argument(const Argument& argument) {
    if (argument.text) push_text(argument.text);
    else if (argument.wide) push_wide_text(argument.wide);
    else push(argument.number);
  }

  std::string printf(const char* format, std::initializer_list<Argument> arguments) {
    int32_t before = depth();
    mark();
    push_text(format);
    for (const Argument& argument : arguments) push_argument(argument);
    call("printf");
    EXPECT_EQ(depth(), before + 1) << format;
    return pop_text();
  }

  std::string text_of(Variable* variable) {
    void* text = nullptr;
    double number = 0;
    get_variable_value(variable, &text, &number, nullptr);
    return text ? static_cast<const char*>(text) : "";
  }
};

TEST_F(PrintfBuiltins, ConversionsOfTheLanguageGuide) {
  struct Row {
    const char* format;
    Argument argument;
    const char* expected;
  };
  const Row rows[] = {
      {"%d items", 3.9, "3 items"},  // integer conversions truncate
      {"%5.2f|", 3.14159, " 3.14|"},
      {"%-6s|", "ab", "ab    |"},
      {"%x", 255, "ff"},
      {"%c", 65, "A"},
      {"100%% %d", 5, "100% 5"},  // "%% %d" is one conversion taking the argument
      {"%d", -7.9, "-7"},
      {"%u", -1, "4294967295"},
      {"%d", 3000000000.0, "-1294967296"},  // the low 32 bits
  };
  for (const Row& row : rows) EXPECT_EQ(printf(row.format, {row.argument}), row.expected) << row.format;
  EXPECT_EQ(printf("plain text, no conversions", {}), "plain text, no conversions");
  EXPECT_EQ(printf("", {}), "");
}

TEST_F(PrintfBuiltins, NumbersPrintAsTheCLibraryPrintsThem) {
  const char* real_formats[] = {"%f", "%e", "%E", "%g", "%G", "%08.3f", "%+.2e", "%-12g|", "%.0f", "%10.4f"};
  const double reals[] = {0, -0.5, 3.14159265358979, 1e-7, 123456789.125, -2.5e300};
  for (const char* format : real_formats) {
    for (double value : reals) {
      char expected[512];
      std::snprintf(expected, sizeof expected, format, value);
      EXPECT_EQ(printf(format, {value}), expected) << format << " of " << value;
    }
  }
  const char* integer_formats[] = {"%d", "%i", "%5d|", "%-5d|", "%05d", "%+d", "% d", "%o", "%X", "%#x", "%#o", "%.3d", "%hd"};
  const int integers[] = {0, 1, -1, 42, -12345, 2147483647, 70000};
  for (const char* format : integer_formats) {
    for (int value : integers) {
      char expected[64];
      std::snprintf(expected, sizeof expected, format, value);
      EXPECT_EQ(printf(format, {static_cast<double>(value)}), expected) << format << " of " << value;
    }
  }
}

TEST_F(PrintfBuiltins, ArgumentsFollowTheirConversion) {
  struct Row {
    const char* format;
    Argument argument;
    const char* expected;
  };
  const Row rows[] = {
      {"%s", 3.5, "3.5"},            // a number as its text
      {"%s", 12, "12"},
      {"%d", "42", "42"},            // a text as its number
      {"%f", "2.5", "2.500000"},
      {"%x", "255", "ff"},
      {"%d", "abc", "0"},
      {"%.3s", "abcdef", "abc"},
      {"%s", u"\u00e4b", "\xE4" "b"},  // UTF-16 text in the code page
      {"%ls", "wide", "wide"},       // an 8-bit argument whatever the size letter
      {"%lld", 1099511627776.0, "1099511627776"},
      {"%I64d", -1099511627776.0, "-1099511627776"},
      {"%I64x", 4294967296.0, "100000000"},
      {"%ld", 7, "7"},
      {"%lf", 0.25, "0.250000"},
      {"%5c|", 66, "    B|"},
      {"%p", 255, "000000FF"},
  };
  for (const Row& row : rows) EXPECT_EQ(printf(row.format, {row.argument}), row.expected) << row.format;
}

TEST_F(PrintfBuiltins, SeveralConversionsTakeTheArgumentsInOrder) {
  EXPECT_EQ(printf("%s=%d (%5.1f%%)", {"rate", 3, 42.25, 0}), "rate=3 ( 42.2%)");
  EXPECT_EQ(printf("[%s|%s|%s]", {"a", "b", "c"}), "[a|b|c]");
}

TEST_F(PrintfBuiltins, FormatsThatWouldReadMissingArguments) {
  struct Row {
    const char* format;
    std::initializer_list<Argument> arguments;
    const char* expected;
  };
  const Row rows[] = {
      {"%d and %s.", {}, "0 and ."},      // missing arguments are 0 and ""
      {"%d %d", {1}, "1 0"},
      {"%*d", {7}, "7"},                  // '*' would read a width never passed
      {"[%.*f]", {2.5}, "[2.500000]"},
      {"%S and %d", {1, 2}, "%S and 2"},  // %S (UTF-16 text) is printed as written
      {"%n%d", {5}, "0"},                 // %n writes nothing; %d finds no argument left
      {"%d%", {5, 6}, "5%"},              // a lone '%' at the end
      {"50%", {}, "50%"},
      {"%%", {}, "%"},
      {"%5.2.3f", {1}, "%5.2.3f"},
      {"%q and %d", {9}, "%q and 0"},    // the conversion runs to the n of "and"
  };
  for (const Row& row : rows) EXPECT_EQ(printf(row.format, row.arguments), row.expected) << row.format;
}

TEST_F(PrintfBuiltins, LongPiecesAreHeldWhole) {
  std::string huge = printf("<%f>", {1e300});
  char expected[400];
  std::snprintf(expected, sizeof expected, "<%f>", 1e300);
  EXPECT_EQ(huge, expected);
  EXPECT_EQ(printf("%1000d", {1}).size(), 1000u);
  EXPECT_EQ(printf("%-300s|", {"x"}).size(), 301u);
  // A width past what the C runtime formats gives an empty piece, not a crash or a hang.
  EXPECT_EQ(printf("a%2000000db", {1}), "ab");
}

TEST_F(PrintfBuiltins, SprintfStoresIntoTheVariable) {
  Variable* target = make_variable(locals, "S$", "old");
  mark();
  push_variable(target);
  push_text("%s-%s");
  push_text("a");
  push_text("b");
  call("sprintf");
  EXPECT_EQ(depth(), 0) << "sprintf pushes nothing";
  EXPECT_EQ(text_of(target), "a-b");
}

TEST_F(PrintfBuiltins, SprintfMayUseTheVariableItself) {
  // The text is made before the variable lets go of its old value.
  Variable* target = make_variable(locals, "S$", "x%s");
  mark();
  push_variable(target);
  push_variable(target);
  push_variable(target);
  call("sprintf");
  EXPECT_EQ(text_of(target), "xx%s");
}

TEST_F(PrintfBuiltins, SprintfFindsTheVariableByName) {
  mark();
  push_text("N$");
  push_text("%03d");
  push(7);
  call("sprintf");
  Variable* named = find_variable("N$");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(text_of(named), "007");
}

TEST_F(PrintfBuiltins, ArgumentsBelowTheMarkStay) {
  push(99);
  EXPECT_EQ(printf("%d", {1}), "1");
  EXPECT_EQ(pop_number(), 99);
  mark();
  call("printf");
  EXPECT_EQ(pop_text(), "") << "no format at all";
}

}  // namespace
