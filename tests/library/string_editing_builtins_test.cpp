// delete, insert, replace, change and strip edit a variable's text in the variable's
// own kind; upper, lower, capitalize, swapcase and reverse return a copy in the kind of
// their argument.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/strings/string_editing_builtins.h"
#include "platform/platform.h"
#include "text_builtin_fixture.h"

namespace {

class StringEditingBuiltinsTest : public TextBuiltinTest {
 protected:
  StringEditingBuiltinsTest() : TextBuiltinTest(register_string_editing_builtins) {}

  // S$ holding text, as 8-bit or as UTF-16 text.
  Variable* string_variable(const std::string& text, bool wide) {
    if (!wide) return make_variable(locals, "S$", text.c_str());
    Variable* variable = create_variable(locals, "S$", false);
    std::u16string units = widen(text);
    set_variable(variable, units.data(), 0, nullptr, static_cast<int32_t>((units.size() + 1) * sizeof(char16_t)));
    variable->flags |= kVariableWideText;
    return variable;
  }

  // The variable's text in the kind it should hold.
  static std::string text_of(const Variable* variable, bool wide) {
    EXPECT_EQ((variable->flags & kVariableWideText) != 0, wide);
    if (!variable->data) return "<none>";
    if (wide) return narrow(static_cast<const char16_t*>(variable->data));
    return static_cast<const char*>(variable->data);
  }
};

// An editing call: the arguments before and after the variable, which starts as start.
struct EditCase {
  const char* name;
  const char* start;
  std::vector<TextArgument> before;  // arguments before the variable
  std::vector<TextArgument> after;   // arguments after it
  const char* expected;
};

TEST_F(StringEditingBuiltinsTest, EditsStoreIntoTheVariableInItsKind) {
  auto t = text_argument;
  auto n = number_argument;
  const EditCase cases[] = {
      {"delete", "abcdef", {}, {n(1), n(2)}, "adef"},
      {"delete", "abc", {}, {n(10), n(2)}, "abc"},
      {"delete", "abc", {}, {n(-2), n(1)}, "bc"},
      {"delete", "abc", {}, {n(1), n(99)}, "a"},
      {"delete", "abc", {}, {n(1), n(-1)}, "abc"},
      {"insert", "abcdef", {t("XY")}, {n(2)}, "abXYcdef"},
      {"insert", "abc", {t("Z")}, {n(-5)}, "Zabc"},
      {"insert", "abc", {t("Z")}, {n(99)}, "abcZ"},
      {"insert", "", {t("Z")}, {n(0)}, "Z"},
      {"insert", "abc", {n(7)}, {n(1)}, "a7bc"},
      {"change", "abcdef", {}, {n(0), n(3), t("Z")}, "Zdef"},
      {"change", "abcdef", {}, {n(2), n(0), t("--")}, "ab--cdef"},
      {"change", "abc", {}, {n(9), n(2), t("Z")}, "abcZ"},
      {"replace", "abcdcd", {}, {t("cd"), t("-")}, "ab--"},
      {"replace", "aXa", {}, {t("a"), t("aa")}, "aaXaa"},
      {"replace", "abc", {}, {t("x"), t("y")}, "abc"},
      {"replace", "abc", {}, {t(""), t("y")}, "abc"},
      {"replace", "abcabc", {}, {t("b"), t("")}, "acac"},
      {"replace", "a1b1", {}, {n(1), t("")}, "ab"},
      {"strip", "education", {}, {t("aeiou")}, "dctn"},
      {"strip", "education", {}, {t("")}, "education"},
      {"strip", "aaa", {}, {t("a")}, ""},
      {"strip", "a1b2", {}, {n(12)}, "ab"},
  };
  for (bool wide : {false, true}) {
    for (const EditCase& c : cases) {
      Variable* variable = string_variable(c.start, wide);
      push_arguments(c.before, wide);
      push_variable(variable);
      push_arguments(c.after, wide);
      call(c.name);
      if (std::strcmp(c.name, "strip") == 0) EXPECT_EQ(pop_number(), 0) << "strip yields 0";
      EXPECT_EQ(depth(), 0) << c.name;
      EXPECT_EQ(text_of(variable, wide), c.expected)
          << c.name << " case " << (&c - cases) << (wide ? " (UTF-16)" : " (8-bit)");
    }
  }
}

TEST_F(StringEditingBuiltinsTest, TheVariablesKindDecidesNotTheArguments) {
  // A UTF-16 variable edited with 8-bit arguments stays UTF-16, units beyond Latin-1 kept.
  Variable* variable = create_variable(locals, "W$", false);
  const char16_t text[] = u"\u263Aab";
  set_variable(variable, const_cast<char16_t*>(text), 0, nullptr, sizeof text);
  variable->flags |= kVariableWideText;
  push_variable(variable);
  push_text("a");
  push_text("\xE9");
  call("replace");
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(variable->data)), u"\u263A\u00E9b");
  push_text("x");
  push_variable(variable);
  push(1);
  call("insert");
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(variable->data)), u"\u263Ax\u00E9b");
  push_variable(variable);
  push_text("xb");
  call("strip");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(variable->data)), u"\u263A\u00E9");

  // An 8-bit variable edited with UTF-16 arguments stays 8-bit.
  Variable* plain = make_variable(locals, "P$", "abc");
  push_variable(plain);
  push_wide_text(u"b");
  push_wide_text(u"\u00E9");
  call("replace");
  EXPECT_STREQ(static_cast<const char*>(plain->data), "a\xE9" "c");
  EXPECT_EQ(plain->flags & kVariableWideText, 0u);
}

TEST_F(StringEditingBuiltinsTest, AVariableNamedByTextIsFoundOrMade) {
  // The argument's own text is what is edited; its text names the variable.
  Variable* existing = make_variable(locals, "S$", "unchanged");
  push_text("s$");
  push(0);
  push(1);
  call("delete");
  EXPECT_STREQ(static_cast<const char*>(existing->data), "$");

  push_text("NEW$");
  push(0);
  push(0);
  push_text(">");
  call("change");
  Variable* made = find_variable("NEW$");
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(static_cast<const char*>(made->data), ">NEW$");

  // A text that can name no variable stores nothing and leaves the stack balanced.
  push_text("");
  push_text("a");
  call("strip");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(depth(), 0);
}

TEST_F(StringEditingBuiltinsTest, CaseBuiltinsReturnACopyInTheArgumentsKind) {
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"upper", "abc1Z", "ABC1Z"},
      {"lower", "ABC1z", "abc1z"},
      {"capitalize", "hELLO wORLD", "Hello world"},
      {"capitalize", "1abc", "1abc"},
      {"capitalize", "", ""},
      {"swapcase", "aBc1", "AbC1"},
      {"reverse", "abc", "cba"},
      {"reverse", "ab", "ba"},
      {"reverse", "", ""},
  };
  for (bool wide : {false, true}) {
    for (const Case& c : cases) {
      push_arguments({text_argument(c.text)}, wide);
      const void* argument = context->stack_top->text;
      call(c.name);
      EXPECT_NE(context->stack_top->text, argument) << c.name << ": a copy, not the argument";
      EXPECT_EQ(pop_text_of_kind(wide), c.expected)
          << c.name << " of " << c.text << (wide ? " (UTF-16)" : " (8-bit)");
    }
  }
  push(12);
  call("upper");
  EXPECT_EQ(pop_text_of_kind(false), "12");
  push(-1.5);
  call("reverse");
  EXPECT_EQ(pop_text_of_kind(false), "5.1-");
}

TEST_F(StringEditingBuiltinsTest, CaseOfLettersBeyondAscii) {
  // swapcase and capitalize change ASCII letters only.
  push_wide_text(u"\u00E9a\u00C9");
  call("swapcase");
  EXPECT_EQ(pop_wide_text(), u"\u00E9A\u00C9");
  push_wide_text(u"\u00E9T\u00C9");
  call("capitalize");
  EXPECT_EQ(pop_wide_text(), u"\u00E9t\u00E9");
  // UTF-16 upper case follows the library's case mapping.
  push_wide_text(u"\u00E9\u03B1z");
  call("upper");
  EXPECT_EQ(pop_wide_text(), u"\u00C9\u0391Z");
  // reverse keeps every UTF-16 unit whole.
  push_wide_text(u"a\u263A");
  call("reverse");
  EXPECT_EQ(pop_wide_text(), u"\u263Aa");
}

}  // namespace
