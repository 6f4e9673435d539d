// The regular-expression built-ins called as compiled code calls them: arguments pushed,
// the handler run, the result popped. Subjects in 8-bit and UTF-16 text, results in
// script variables, pattern errors in REXERROR%.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/hashes.h"
#include "library/regex/regex_builtins.h"
#include "platform/kernel/wide_string.h"
#include "tests/vm/machine_fixture.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"

namespace {

class RegexBuiltins : public VariableMachineTest {
 protected:
  void push_text(const char* text) { stack_push_value(const_cast<char*>(text), 0, nullptr, 0); }
  void push_wide(const char16_t* text) {
    stack_push_value(const_cast<char16_t*>(text), 0, nullptr, 0);
    context->stack_top->flags = kCellWideText;
  }
  // A text argument in the kind of its characters.
  void push_text(const char16_t* text) { push_wide(text); }
  void push_number(double number) { stack_push_number(context, number); }
  // A variable argument as compiled code passes it: the value with its variable.
  void push_variable(Variable* variable) { stack_push_variable_value(variable); }

  // Runs a function built-in over the arguments pushed: it leaves exactly its result.
  double call_function(BuiltinHandler handler) {
    handler();
    EXPECT_EQ(depth(), 1) << "a function leaves its result alone on the stack";
    double result = stack_pop(context)->number;
    return result;
  }
  void call_procedure(BuiltinHandler handler) {
    handler();
    EXPECT_EQ(depth(), 0) << "a procedure leaves nothing on the stack";
  }

  template <typename Char>
  double match(const Char* pattern, const Char* text) {
    push_text(pattern);
    push_text(text);
    return call_function(builtin_match);
  }
  template <typename Char>
  double search(const Char* pattern, const Char* text, Variable* start, Variable* end) {
    push_text(pattern);
    push_text(text);
    push_variable(start);
    push_variable(end);
    return call_function(builtin_search);
  }
  double subexpcount() { return call_function(builtin_subexpcount); }
  template <typename Char>
  void subexp(const Char* text, double group, Variable* start, Variable* length) {
    push_text(text);
    push_number(group);
    push_variable(start);
    push_variable(length);
    call_procedure(builtin_subexp);
  }

  Variable* text_variable(const char* name, const char* text = "unset") { return make_variable(locals, name, text); }
  static std::string text_of(const Variable* variable) {
    EXPECT_FALSE(variable->flags & kVariableWideText) << variable->name;
    return variable->data ? static_cast<const char*>(variable->data) : "";
  }
  static std::u16string wide_text_of(const Variable* variable) {
    EXPECT_TRUE(variable->flags & kVariableWideText) << variable->name;
    return variable->data ? static_cast<const char16_t*>(variable->data) : u"";
  }
  static std::string rexerror() {
    Variable* error = find_variable("REXERROR%");
    return error && error->data ? static_cast<const char*>(error->data) : "<none>";
  }
};

TEST_F(RegexBuiltins, MatchTestsThePatternAtTheStart) {
  struct Case {
    const char* pattern;
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"ab", "abc", 1},       {"bc", "abc", 0},        {"a*a", "aaa", 0},  {"a{2,3}", "aaaa", 1},
      {"\\d+x", "123x", 1},   {"[^a-c]", "b", 0},      {"", "", 1},        {"a.b", "a", 0},
      {"x*$", "", 1},         {"\xE9+", "\xE9\xE9", 1},  // an 8-bit letter of the code page
  };
  for (const Case& row : cases) {
    EXPECT_EQ(match(row.pattern, row.text), row.expected) << row.pattern << " on " << row.text;
  }
}

TEST_F(RegexBuiltins, MatchTakesUtf16PatternsAndSubjects) {
  struct Case {
    const char16_t* pattern;
    const char16_t* text;
    double expected;
  };
  const Case cases[] = {
      {u"\u03A9+b", u"\u03A9\u03A9b", 1},
      {u"[\u0100-\u017F]", u"\u0161", 1},
      {u"\\w", u"\u0161", 0},  // classes cover the 8-bit code page only
      {u"[^\\w]", u"\u20AC", 1},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(match(row.pattern, row.text), row.expected);
  }
}

TEST_F(RegexBuiltins, PatternErrorsGoToRexerrorAndSuccessLeavesIt) {
  struct Case {
    const char* pattern;
    const char* error;
  };
  const Case cases[] = {
      {"a(", "expected paren"},
      {"[c-a]", "invalid range"},
      {"[\\d-z]", "cannot use character classes in ranges"},
      {"{3}", "letter expected"},
      {"a{x}", "number expected"},
      {"a{1x", ", or } expected"},
      {"a{1234567890}", "overflow in numeric constant"},
      {"a)", "unexpected character"},
      {"[abc", "expected paren"},
  };
  EXPECT_EQ(find_variable("REXERROR%"), nullptr);
  for (const Case& row : cases) {
    EXPECT_EQ(match(row.pattern, "a"), 0) << row.pattern;
    EXPECT_EQ(rexerror(), row.error) << row.pattern;
    EXPECT_EQ(subexpcount(), 0) << "no expression after " << row.pattern;
  }
  std::string deep(3000, '(');
  EXPECT_EQ(match(deep.c_str(), "a"), 0);
  EXPECT_EQ(rexerror(), "pattern nested too deeply");

  EXPECT_EQ(match("a", "a"), 1);
  EXPECT_EQ(rexerror(), "pattern nested too deeply") << "a compiled pattern keeps the last error";

  Variable* start = text_variable("S$");
  Variable* end = text_variable("E$");
  EXPECT_EQ(search("[", "abc", start, end), 0);
  EXPECT_EQ(rexerror(), "expected paren");
  EXPECT_EQ(text_of(start), "unset");
  EXPECT_EQ(text_of(end), "unset");
}

TEST_F(RegexBuiltins, SearchGivesTheTextFromTheMatchAndAfterIt) {
  struct Case {
    const char* pattern;
    const char* text;
    double found;
    const char* start;  // what the variables read afterwards
    const char* end;
  };
  const Case cases[] = {
      {"bc", "abc", 1, "bc", ""},
      {"b+", "abbbcd", 1, "bbbcd", "cd"},
      {"^b", "ab", 0, "unset", "unset"},
      {"x*$", "abc", 0, "unset", "unset"},  // no attempt after the last character
      {"x*$", "", 1, "", ""},
      {"(a|ab)c", "xabc", 0, "unset", "unset"},  // the first alternative is kept
      {"\\s\\w+", "one two", 1, " two", ""},
  };
  for (const Case& row : cases) {
    Variable* start = text_variable("S$");
    Variable* end = text_variable("E$");
    EXPECT_EQ(search(row.pattern, row.text, start, end), row.found) << row.pattern << " in " << row.text;
    EXPECT_EQ(text_of(start), row.start) << row.pattern << " in " << row.text;
    EXPECT_EQ(text_of(end), row.end) << row.pattern << " in " << row.text;
  }
}

TEST_F(RegexBuiltins, SearchNamesItsVariablesByText) {
  push_text("c");
  push_text("abcd");
  push_text("FROM$");
  push_text("REST$");
  EXPECT_EQ(call_function(builtin_search), 1);
  Variable* from = find_variable("FROM$");
  Variable* rest = find_variable("REST$");
  ASSERT_NE(from, nullptr);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(text_of(from), "cd");
  EXPECT_EQ(text_of(rest), "d");
}

// The subject is the value of the variable that receives the start: writing the start
// frees that value, so the results must not be read from it afterwards.
TEST_F(RegexBuiltins, SearchIntoTheSubjectsOwnVariable) {
  Variable* subject = text_variable("S$", "xxabcyy");
  Variable* end = text_variable("E$");
  push_text("abc");
  push_variable(subject);
  push_variable(subject);
  push_variable(end);
  EXPECT_EQ(call_function(builtin_search), 1);
  EXPECT_EQ(text_of(subject), "abcyy");
  EXPECT_EQ(text_of(end), "yy");

  Variable* start = text_variable("T$");
  Variable* same = text_variable("U$", "find the end");
  push_text("the ");
  push_variable(same);
  push_variable(start);
  push_variable(same);
  EXPECT_EQ(call_function(builtin_search), 1);
  EXPECT_EQ(text_of(start), "the end");
  EXPECT_EQ(text_of(same), "end");
}

TEST_F(RegexBuiltins, SearchInUtf16KeepsTheTextUtf16) {
  Variable* start = text_variable("S$");
  Variable* end = text_variable("E$");
  EXPECT_EQ(search(u"\u0161+", u"a\u0161\u0161\u20AC", start, end), 1);
  EXPECT_EQ(wide_text_of(start), u"\u0161\u0161\u20AC");
  EXPECT_EQ(wide_text_of(end), u"\u20AC");

  // An 8-bit result afterwards shows as 8-bit again.
  EXPECT_EQ(search("b", "abc", start, end), 1);
  EXPECT_EQ(text_of(start), "bc");
}

TEST_F(RegexBuiltins, SubexpReadsTheGroupsOfTheLatestMatch) {
  EXPECT_EQ(match("(a)(b)", "ab"), 1);
  EXPECT_EQ(subexpcount(), 3);
  struct Case {
    const char* text;
    double group;
    const char* start;
    double length;
  };
  const Case cases[] = {
      {"ab", 0, "ab", 2},
      {"ab", 1, "ab", 1},
      {"ab", 2, "b", 1},
      {"ab", 3, "", 0},   // beyond the groups
      {"ab", -1, "", 0},
      {"xy", 2, "", 0},   // not the subject the groups were taken from
      {"abc", 2, "", 0},
  };
  for (const Case& row : cases) {
    Variable* start = text_variable("S$");
    Variable* length = make_variable(locals, "L%", nullptr, 99);
    subexp(row.text, row.group, start, length);
    EXPECT_EQ(text_of(start), row.start) << "group " << row.group << " of " << row.text;
    EXPECT_EQ(length->number, row.length) << "group " << row.group << " of " << row.text;
  }

  // A group that took no part, a group number given as text.
  EXPECT_EQ(match("(a)|(b)", "b"), 1);
  Variable* start = text_variable("S$");
  Variable* length = make_variable(locals, "L%", nullptr, 99);
  subexp("b", 1, start, length);
  EXPECT_EQ(text_of(start), "");
  EXPECT_EQ(length->number, 0);
  push_text("b");
  push_text("2");
  push_variable(start);
  push_variable(length);
  call_procedure(builtin_subexp);
  EXPECT_EQ(text_of(start), "b");
  EXPECT_EQ(length->number, 1);
}

TEST_F(RegexBuiltins, SubexpOfASearchInUtf16AndAfterAFailedCompilation) {
  Variable* start = text_variable("S$");
  Variable* end = text_variable("E$");
  EXPECT_EQ(search(u"(\u0161+)\u20AC", u"a\u0161\u0161\u20ACz", start, end), 1);
  Variable* length = make_variable(locals, "L%", nullptr, 0);
  subexp(u"a\u0161\u0161\u20ACz", 1, start, length);
  EXPECT_EQ(wide_text_of(start), u"\u0161\u0161\u20ACz");
  EXPECT_EQ(length->number, 2);

  EXPECT_EQ(match("(", "a"), 0);
  Variable* untouched = text_variable("U$");
  subexp("a", 0, untouched, length);
  EXPECT_EQ(text_of(untouched), "unset") << "no expression: subexp does nothing";
  EXPECT_EQ(length->number, 2);
}

TEST_F(RegexBuiltins, AnEmptyUtf16GroupIsAWholeEmptyText) {
  // The target held a longer 8-bit text before: none of it may show through.
  EXPECT_EQ(match("(a)(b)", "ab"), 1);
  Variable* start = text_variable("S$", "a longer narrow text");
  Variable* length = make_variable(locals, "L%", nullptr, 99);
  for (double group : {1.0, 7.0}) {  // a text that is not the subject, a group out of range
    subexp(group == 1.0 ? u"not the subject" : u"ab", group, start, length);
    EXPECT_EQ(wide_text_of(start), u"") << group;
    EXPECT_EQ(length->number, 0) << group;
  }
}

TEST_F(RegexBuiltins, RegisteredUnderTheirScriptNames) {
  register_all_builtins();
  struct Case {
    const char* name;
    BuiltinHandler handler;
    uint8_t params;
    uint8_t returns;
  };
  const Case cases[] = {
      {"MATCH", builtin_match, 2, 1},
      {"SEARCH", builtin_search, 4, 1},
      {"SUBEXPCOUNT", builtin_subexpcount, 0, 1},
      {"SUBEXP", builtin_subexp, 4, 0},
  };
  for (const Case& row : cases) {
    BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(hash_name_text(row.name)));
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->handler, row.handler) << row.name;
    EXPECT_EQ(entry->param_count, row.params) << row.name;
    EXPECT_EQ(entry->returns_value, row.returns) << row.name;
  }
  builtin_registry_clear();
}

}  // namespace
