// Text interpolation run through the real compiler in a caller's scope, and the
// text-kind built-ins: what they pop, the kind and text they push, and who owns it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "compiler/keywords.h"
#include "foundation/compile_messages.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "tests/foundation/scope_lists.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "compiler/driver/text_interpolation.h"
#include "library/strings/text_kind_builtins.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> boxes;

int capture_box(HWND, LPCWSTR text, LPCWSTR, UINT) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  boxes.push_back(narrow);
  return IDOK;
}

// A caller program with its own stack, globals and local scope, as a running script has.
class TextInterpolationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zrk-interp-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    saved_folder = program_folder;
    program_folder = crt::_strdup((folder.string() + "/").c_str());
    platform::set_message_box_handler(capture_box);
    boxes.clear();
    init_keyword_and_opcode_tables();
    register_all_builtins();
    caller = create_program_context();
    ASSERT_NE(caller, nullptr);
    caller->pool = pool_create(64 * 1024);
    caller->stack_top = stack_alloc_cell(caller);
    caller->globals = variable_record_allocate(caller, false);
    scope = variable_record_allocate(caller, false);
    current_program = caller;
    current_scope = scope;
    stop_flag = 0;
  }
  void TearDown() override {
    platform::set_message_box_handler(nullptr);
    current_program = nullptr;
    current_scope = nullptr;
    stop_flag = 0;
    free_percent_variables(nullptr);
    free_variable_lists(caller, {scope, caller->globals});
    caller->globals = nullptr;
    stack_free_all(caller);
    program_context_release(caller);
    builtin_registry_clear();
    crt::free(program_folder);
    program_folder = saved_folder;
    fs::remove_all(folder);
  }

  // interpolate_braced_expressions as a std::string; the caller's stack must come back.
  std::string interpolate(const std::string& text) {
    ValueCell* top = caller->stack_top;
    char* result = interpolate_braced_expressions(text.c_str());
    EXPECT_EQ(caller->stack_top, top) << text;
    EXPECT_EQ(current_program, caller) << text;
    EXPECT_EQ(current_scope, scope) << text;
    std::string value = result ? result : "<null>";
    crt::free(result);
    return value;
  }

  fs::path folder;
  char* saved_folder = nullptr;
  ProgramContext* caller = nullptr;
  Variable* scope = nullptr;
};

TEST_F(TextInterpolationTest, BracedExpressionsBecomeTheTextsOfTheirValues) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"a{1+2}b", "a3b"},
      {"no braces", "no braces"},
      {"", ""},
      {"{1}{2}", "12"},
      {"{7 / 2}", "3.5"},
      {"<{\"ab\" % \"cd\"}>", "<abcd>"},
      // Braces inside an expression belong to it; the text after its brace comes once.
      {"a{evalstring(\"<{1+1}>\")}b", "a<2>b"},
      {"a}b}", "a}b}"},
      {"x{)(}y", "x[Error]y"},
      {"x{)(}y{3}", "x[Error]y3"},
      // An empty expression gives nothing; what an expression pushes besides its value
      // is taken off again (interpolate checks the stack).
      {"a{}b", "ab"},
      {"a{ }b", "ab"},
      {"a{push(1, 2)}b", "a2b"},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(interpolate(row.text), row.expected) << row.text;
    EXPECT_EQ(stop_flag, 0) << row.text;
  }
  EXPECT_TRUE(boxes.empty()) << boxes.front();
}

TEST_F(TextInterpolationTest, ExpressionsSeeTheCallersVariables) {
  set_variable_by_name("N%", nullptr, 7, nullptr, 0);
  set_variable_by_name("NAME$", const_cast<char*>("Ann"), 0, nullptr, -1);
  EXPECT_EQ(interpolate("x is {n% * 2}, {name$}!"), "x is 14, Ann!");
  // What an expression stores stays in the caller's scope.
  EXPECT_EQ(interpolate("{m% = 5}"), "5");
  void* text = nullptr;
  double number = 0;
  get_value_by_name("M%", &text, &number, nullptr);
  EXPECT_EQ(number, 5.0);
}

TEST_F(TextInterpolationTest, AnUnclosedBraceTakesTheRestAndStopsTheProcedure) {
  const unsigned before = runtime_error_count();
  EXPECT_EQ(interpolate("x{1+2"), "x3");
  EXPECT_EQ(runtime_error_count(), before + 1);
  EXPECT_STREQ(runtime_error_last_text(), "Missing }");
  // Still set when the interpolation returns, so the calling procedure ends.
  EXPECT_EQ(stop_flag, 1);
}

TEST_F(TextInterpolationTest, LongExpressionsAndManyPiecesAreWhole) {
  std::string sum = "1";
  for (int count = 0; count < 700; ++count) sum += "+1";
  ASSERT_GT(sum.size(), 1023u);
  EXPECT_EQ(interpolate("<{" + sum + "}>"), "<701>");

  std::string many, expected;
  for (int count = 0; count < 1100; ++count) {
    many += "{" + std::to_string(count % 10) + "}";
    expected += std::to_string(count % 10);
  }
  EXPECT_EQ(interpolate(many), expected);
}

// ---- The built-ins ----

struct Pushed {
  std::string text;  // 8-bit, or UTF-16 units below 256 as bytes and others as \uXXXX
  std::u16string wide;
  bool is_wide = false;
  double number = 0;
  bool has_text = false;
};

// Pushes an argument cell as the compiler would: 8-bit or UTF-16 text, or a number.
void push_text(const char* text) { stack_push_value(const_cast<char*>(text), 0, nullptr, 0); }
void push_wide(const char16_t* text) {
  stack_push_value(const_cast<char16_t*>(text), 0, nullptr, 0);
  current_program->stack_top->flags |= kCellWideText;
}
void push_number(double number) { stack_push_number(current_program, number); }

class TextKindBuiltinsTest : public TextInterpolationTest {
 protected:
  // Runs the handler and pops its one result, checking that it popped one argument
  // and that a text result is owned by the program.
  Pushed call(void (*handler)()) {
    ValueCell* argument_below = caller->stack_top->below;
    handler();
    Pushed result;
    EXPECT_EQ(caller->stack_top->below, argument_below) << "one argument in, one result out";
    ValueCell* cell = stack_pop(caller);
    result.number = cell->number;
    result.has_text = cell->text != nullptr;
    result.is_wide = (cell->flags & kCellWideText) != 0;
    if (cell->text && result.is_wide) {
      result.wide = static_cast<const char16_t*>(cell->text);
    } else if (cell->text) {
      result.text = static_cast<const char*>(cell->text);
    }
    if (cell->text) EXPECT_TRUE(owns(cell->text));
    EXPECT_EQ(cell->flags & ~kCellWideText, 0u);
    EXPECT_EQ(cell->variable, nullptr);
    EXPECT_EQ(cell->data, 0u);
    return result;
  }
  bool owns(const void* pointer) const {
    for (OwnedAllocation* entry = caller->owned; entry; entry = entry->next) {
      if (entry->pointer == pointer && entry->kind == kOwnedMemory) return true;
    }
    return false;
  }
};

TEST_F(TextKindBuiltinsTest, ChrAndWchrMakeOneCharacterTexts) {
  struct Case {
    void (*handler)();
    double code;
    const char* code_text;  // the code given as text instead, when set
    bool wide;
    char16_t unit;
  };
  const Case cases[] = {
      {builtin_chr, 65, nullptr, false, u'A'},
      {builtin_chr, 321, nullptr, false, u'A'},
      {builtin_chr, 0, nullptr, false, 0},
      {builtin_chr, 0, "66", false, u'B'},
      {builtin_chr, -191, nullptr, false, 0x41},
      {builtin_wchr, 0x263A, nullptr, true, 0x263A},
      {builtin_wchr, 0x1263A, nullptr, true, 0x263A},
      {builtin_wchr, 0, nullptr, true, 0},
  };
  for (const Case& row : cases) {
    if (row.code_text) push_text(row.code_text);
    else push_number(row.code);
    Pushed result = call(row.handler);
    const std::string name = std::to_string(row.code) + (row.wide ? " wide" : "");
    ASSERT_TRUE(result.has_text) << name;
    EXPECT_EQ(result.is_wide, row.wide) << name;
    if (row.wide) {
      EXPECT_EQ(result.wide, row.unit ? std::u16string(1, row.unit) : std::u16string()) << name;
    } else {
      EXPECT_EQ(result.text, row.unit ? std::string(1, static_cast<char>(row.unit)) : std::string()) << name;
    }
  }
}

TEST_F(TextKindBuiltinsTest, KindConversionsFollowTheArgumentsKind) {
  // The arguments are heap blocks, as the runtime's texts are, so their size is known.
  char* narrow = crt::_strdup("abc\xE9");
  char16_t* wide = crt::_wcsdup(u"abc\u00E9");
  char16_t* smiley = crt::_wcsdup(u"\u263A");
  char16_t* letter = crt::_wcsdup(u"A");
  struct Case {
    const char* name;
    void (*handler)();
    void* argument;
    bool argument_wide;
    bool as_address;  // given as a number holding its address
    bool result_wide;
    std::string text;
    std::u16string wide_text;
    double number;  // iswide's answer
  };
  const double kNoNumber = -1;
  const Case cases[] = {
      {"wide of 8-bit", builtin_wide, narrow, false, false, true, "", u"abc\u00E9", kNoNumber},
      {"wide of UTF-16", builtin_wide, wide, true, false, true, "", u"abc\u00E9", kNoNumber},
      {"apichar of 8-bit", builtin_apichar, narrow, false, false, true, "", u"abc\u00E9", kNoNumber},
      {"char of UTF-16", builtin_char, wide, true, false, false, "abc\xE9", u"", kNoNumber},
      {"char of 8-bit", builtin_char, narrow, false, false, false, "abc\xE9", u"", kNoNumber},
      {"char of a character the code page lacks", builtin_char, smiley, true, false, false, "?", u"", kNoNumber},
      {"wide of one UTF-16 unit", builtin_wide, smiley, true, false, true, "", u"\u263A", kNoNumber},
      {"char of one UTF-16 letter", builtin_char, letter, true, false, false, "A", u"", kNoNumber},
      {"iswide of UTF-16", builtin_iswide, wide, true, false, false, "", u"", 1},
      {"iswide of 8-bit", builtin_iswide, narrow, false, false, false, "", u"", 0},
      {"iswide of one UTF-16 unit", builtin_iswide, smiley, true, false, false, "", u"", 1},
      // An address is judged by its block.
      {"wide of an 8-bit address", builtin_wide, narrow, false, true, true, "", u"abc\u00E9", kNoNumber},
      {"wide of a UTF-16 address", builtin_wide, wide, false, true, true, "", u"abc\u00E9", kNoNumber},
      {"char of a UTF-16 address", builtin_char, wide, false, true, false, "abc\xE9", u"", kNoNumber},
      {"iswide of a UTF-16 address", builtin_iswide, wide, false, true, false, "", u"", 1},
      {"iswide of an 8-bit address", builtin_iswide, narrow, false, true, false, "", u"", 0},
  };
  for (const Case& row : cases) {
    if (row.as_address) push_number(platform::address_of(row.argument));
    else if (row.argument_wide) push_wide(static_cast<char16_t*>(row.argument));
    else push_text(static_cast<char*>(row.argument));
    Pushed result = call(row.handler);
    if (row.number != kNoNumber) {
      EXPECT_FALSE(result.has_text) << row.name;
      EXPECT_EQ(result.number, row.number) << row.name;
      continue;
    }
    ASSERT_TRUE(result.has_text) << row.name;
    EXPECT_EQ(result.is_wide, row.result_wide) << row.name;
    EXPECT_EQ(result.text, row.text) << row.name;
    EXPECT_EQ(result.wide, row.wide_text) << row.name;
  }
  // Every result is a new copy: the arguments are left alone.
  EXPECT_STREQ(narrow, "abc\xE9");
  EXPECT_EQ(std::u16string(wide), u"abc\u00E9");
  crt::free(narrow);
  crt::free(wide);
  crt::free(smiley);
  crt::free(letter);
}

TEST_F(TextKindBuiltinsTest, WideOfAUtf16TextIsAnEqualCopy) {
  char16_t* wide = crt::_wcsdup(u"xyz");
  push_wide(wide);
  builtin_wide();
  ValueCell* cell = stack_pop(caller);
  EXPECT_NE(cell->text, wide);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(cell->text)), u"xyz");
  crt::free(wide);
}

TEST_F(TextKindBuiltinsTest, EvalstringTakesAnyTextKindAndGives8BitText) {
  set_variable_by_name("X%", nullptr, 7, nullptr, 0);
  push_text("x is {x% * 2}");
  Pushed plain = call(builtin_evalstring);
  EXPECT_FALSE(plain.is_wide);
  EXPECT_EQ(plain.text, "x is 14");

  push_wide(u"a{1+2}b");
  Pushed from_wide = call(builtin_evalstring);
  EXPECT_FALSE(from_wide.is_wide);
  EXPECT_EQ(from_wide.text, "a3b");

  push_number(12.5);
  EXPECT_EQ(call(builtin_evalstring).text, "12.5");
}

TEST_F(TextKindBuiltinsTest, TheBuiltinsAreRegisteredUnderTheirNames) {
  struct Row {
    const char* name;
    void (*handler)();
  };
  const Row rows[] = {{"evalstring", builtin_evalstring}, {"wide", builtin_wide},   {"apichar", builtin_apichar},
                      {"char", builtin_char},             {"iswide", builtin_iswide}, {"chr", builtin_chr},
                      {"wchr", builtin_wchr}};
  for (const Row& row : rows) {
    const BuiltinEntry* entry = nullptr;
    for (int32_t index = 0; index < builtin_registry.count && !entry; ++index) {
      const BuiltinEntry* candidate = builtin_entry(index);
      if (candidate && candidate->handler == row.handler) entry = candidate;
    }
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->param_count, 1) << row.name;
    EXPECT_EQ(entry->returns_value, 1) << row.name;
  }
}

}  // namespace
