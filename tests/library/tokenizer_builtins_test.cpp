// Tokenizers: the splitting rules over 8-bit and UTF-16 text, the list and array forms,
// joining a list, and the copies between structures and lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/variable_store.h"
#include "library/core/array_builtins.h"
#include "library/core/structure_builtins.h"
#include "library/files/tokenizer_builtins.h"
#include "list_test_support.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"

namespace {

using Texts = std::vector<std::string>;

void register_units() {
  register_tokenizer_builtins();
  register_array_builtins();
  register_structure_builtins();
}

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The tokens of a chain (given by its last element) as 8-bit texts; the chain is freed.
Texts take_tokens(ListElement* last, bool wide) {
  Texts texts;
  for (ListElement* element = list_element_first(last); element; element = element->next) {
    EXPECT_EQ(element->flags, kVariableOwnsData | (wide ? kVariableWideText : 0u));
    if (wide) {
      char* narrow = to_narrow(static_cast<const char16_t*>(element->data));
      texts.push_back(narrow);
      crt::free(narrow);
    } else {
      texts.push_back(static_cast<const char*>(element->data));
    }
  }
  list_element_chain_free(last, true);
  return texts;
}

struct SplitCase {
  const char* text;
  const char* delimiter;
  bool any_character;
  Texts tokens;
};

const SplitCase kSplitCases[] = {
    {"a,b", ",", false, {"a", "b"}},
    {",a", ",", false, {"", "a"}},
    {"a,,", ",", false, {"a", "", ""}},
    {"a,b,", ",", false, {"a", "b", ""}},
    {"a", ",", false, {"a"}},
    {"", ",", false, {}},
    {"x--y--", "--", false, {"x", "y", ""}},
    {"a;b", ";,", false, {"a;b"}},
    {"a;,b", ";,", false, {"a", "b"}},
    {"a;b,c", ",;", true, {"a", "b", "c"}},
    {"a;b;", ",;", true, {"a", "b", ""}},
    // No text is lost: a text or a tail shorter than the delimiter is a token of its own.
    {"ab", ":::", false, {"ab"}},
    {"ab;;c", ";;", false, {"ab", "c"}},
    {"ab;;cd;;e", ";;", false, {"ab", "cd", "e"}},
    // An empty delimiter never matches.
    {"abc", "", false, {"abc"}},
    {"abc", "", true, {"abc"}},
};

TEST(Tokenize, SplitsNarrowAndWideTextAlike) {
  for (const SplitCase& row : kSplitCases) {
    EXPECT_EQ(take_tokens(tokenize(row.text, row.delimiter, row.any_character), false), row.tokens)
        << "\"" << row.text << "\" at \"" << row.delimiter << "\"";
    const std::u16string text = widen(row.text);
    const std::u16string delimiter = widen(row.delimiter);
    EXPECT_EQ(take_tokens(tokenize_wide(text.c_str(), delimiter.c_str(), row.any_character), true), row.tokens)
        << "UTF-16 \"" << row.text << "\" at \"" << row.delimiter << "\"";
  }
}

TEST(Tokenize, TokensBecomeNumbers) {
  ListElement* chain = tokenize("1,22,x,0x10", ",", false);
  tokens_to_numbers(chain);
  std::vector<double> numbers;
  for (ListElement* element = list_element_first(chain); element; element = element->next) {
    EXPECT_EQ(element->data, nullptr);
    EXPECT_EQ(element->flags, 0u);
    numbers.push_back(element->number);
  }
  EXPECT_EQ(numbers, (std::vector<double>{1, 22, 0, 16}));
  list_element_chain_free(chain, true);
}

class TokenizerBuiltins : public BuiltinTest {
 protected:
  TokenizerBuiltins() : BuiltinTest(register_units) {}

  Variable* variable(const char* name) { return create_variable(locals, name, false); }

  double split(const char* builtin, const char* text, const char* delimiter, Variable* target) {
    push_text(text);
    push_text(delimiter);
    push_variable(target);
    call(builtin);
    return pop_number();
  }
  void declare_structure(Variable* structure, const std::vector<const char*>& fields) {
    mark();
    push_variable(structure);
    for (const char* field : fields) push_text(field);
    call("struct");
  }
  std::string join(Variable* list, const char* separator, const char* prefix, const char* suffix) {
    push_variable(list);
    push_text(separator);
    push_text(prefix);
    push_text(suffix);
    call("listtostr");
    return pop_text();
  }
};

TEST_F(TokenizerBuiltins, StrtolistFormsFillTheListAndStandOnTheFirst) {
  struct Row {
    const char* builtin;
    const char* text;
    const char* delimiter;
    Texts elements;
  } rows[] = {
      {"strtolist", "a,b,", ",", {"a", "b", ""}},
      {"strtolistex", "a;b,c", ",;", {"a", "b", "c"}},
      {"strtolistint", "1,22,333", ",", {"1", "22", "333"}},
      {"strtolistintex", "4;5,6", ",;", {"4", "5", "6"}},
      {"strtolist", "", ",", {}},
      {"strtolist", "ab", ":::", {"ab"}},
  };
  for (const Row& row : rows) {
    Variable* list = variable("L%");
    set_variable(list, const_cast<char*>("old"), 0, nullptr, 4);
    EXPECT_EQ(split(row.builtin, row.text, row.delimiter, list), row.elements.size()) << row.builtin << " " << row.text;
    EXPECT_TRUE(list->flags & kVariableList);
    EXPECT_EQ(list_texts(list), row.elements) << row.builtin << " " << row.text;
    if (row.elements.empty()) {
      EXPECT_EQ(list->cursor, nullptr);
      continue;
    }
    EXPECT_EQ(list->cursor, list_element_first(list->cursor)) << "stands on the first element";
    const bool numbers = std::string(row.builtin).find("int") != std::string::npos;
    if (numbers) {
      EXPECT_EQ(list->cursor->data, nullptr);
      EXPECT_EQ(list->number, std::stod(row.elements[0]));
    } else {
      EXPECT_EQ(shown_text(list), row.elements[0]);
    }
  }
}

TEST_F(TokenizerBuiltins, Utf16TextGivesUtf16ElementsOrNumbers) {
  Variable* list = variable("L%");
  push_wide_text(u"1,22,333");
  push_text(",");
  push_variable(list);
  call("strtolistint");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(list_texts(list), (Texts{"1", "22", "333"}));

  push_wide_text(u"\u00e9t\u00e9|hiver");
  push_wide_text(u"|");
  push_variable(list);
  call("strtolist");
  EXPECT_EQ(pop_number(), 2);
  ListElement* first = list_element_first(list->cursor);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->flags & kVariableWideText);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(first->data)), u"\u00e9t\u00e9");
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(first->next->data)), u"hiver");
}

TEST_F(TokenizerBuiltins, SplittingAVariableIntoItselfReadsTheTextFirst) {
  Variable* text = variable("T$");
  set_variable(text, const_cast<char*>("x,y"), 0, nullptr, 4);
  push_variable(text);
  push_text(",");
  push_variable(text);
  call("strtolist");
  EXPECT_EQ(pop_number(), 2);
  EXPECT_EQ(list_texts(text), (Texts{"x", "y"}));
}

TEST_F(TokenizerBuiltins, StrtoarrayDimensionsAnEmptyArrayAndStoresTexts) {
  Variable* array = variable("A%");
  EXPECT_EQ(split("strtoarray", "red;green;blue", ";", array), 3);
  ASSERT_EQ(array->element_count, 3u);
  EXPECT_EQ(array->type_code, -8);
  EXPECT_EQ(element_text(array, 0), "red");
  EXPECT_EQ(element_text(array, 2), "blue");
  // Splitting again replaces the texts the array owned.
  EXPECT_EQ(split("strtoarrayex", "a;,b;,c", ";,", array), 3);
  EXPECT_EQ(element_text(array, 1), "b");

  Variable* numbers = variable("N%");
  EXPECT_EQ(split("strtoarrayint", "5,-6,7.5", ",", numbers), 3);
  EXPECT_EQ(element_text(numbers, 0), "5");
  EXPECT_EQ(element_text(numbers, 1), "-6");
  EXPECT_EQ(element_text(numbers, 2), "7.5");
}

TEST_F(TokenizerBuiltins, StrtoarrayNeverWritesPastTheElements) {
  Variable* array = variable("A%");
  ASSERT_TRUE(dim_numeric(array, 2));
  EXPECT_EQ(split("strtoarrayint", "1,2,3,4", ",", array), 4) << "the tokens are counted";
  EXPECT_EQ(element_text(array, 0), "1");
  EXPECT_EQ(element_text(array, 1), "2");
  EXPECT_EQ(split("strtoarray", "x,y,z", ",", array), 3);
  EXPECT_EQ(element_text(array, 1), "y");
}

TEST_F(TokenizerBuiltins, StrtoarrayFillsFixedLengthTextSlots) {
  Variable* array = variable("S$");
  mark();
  push_variable(array);
  push(6);
  push(3);
  call("sdim");
  ASSERT_EQ(array->element_count, 3u);
  EXPECT_EQ(split("strtoarray", "ab,cdefghij", ",", array), 2);
  const auto* data = static_cast<const char*>(array->data);
  EXPECT_EQ(std::string(data, 6), std::string("ab\0\0\0\0", 6)) << "the short token padded with zeros";
  EXPECT_EQ(std::string(data + 6, 6), "cdefgh") << "the long one cut at the slot";
  EXPECT_EQ(std::string(data + 12, 6), std::string(6, '\0'));
}

TEST_F(TokenizerBuiltins, ListtostrJoinsWithPrefixSuffixAndSeparator) {
  Variable* list = variable("L%");
  fill_text_list(list, {"a", "b"});
  EXPECT_EQ(join(list, ", ", "[", "]"), "[a], [b]");
  fill_text_list(list, {"only"});
  EXPECT_EQ(join(list, ",", "<", ">"), "<only>");
  split("strtolistint", "1,2.5", ",", list);
  EXPECT_EQ(join(list, "+", "", ""), "1+2.5");
  Variable* plain = variable("P%");
  EXPECT_EQ(join(plain, ",", "[", "]"), "");
}

TEST_F(TokenizerBuiltins, ListtostrIsUtf16WhenAnElementIs) {
  Variable* list = variable("L%");
  push_wide_text(u"\u0101,b");
  push_text(",");
  push_variable(list);
  call("strtolist");
  pop_number();
  push_variable(list);
  push_text("-");
  push_text("(");
  push_text(")");
  call("listtostr");
  EXPECT_EQ(pop_wide_text(), u"(\u0101)-(b)");
}

TEST_F(TokenizerBuiltins, StructureMembersToAndFromLists) {
  Variable* point = variable("P%");
  declare_structure(point, {"x", "y", "label"});
  set_variable(find_variable("P.X%"), nullptr, 3, nullptr, -1);
  set_variable(find_variable("P.Y%"), nullptr, -4, nullptr, -1);
  set_variable(find_variable("P.LABEL%"), const_cast<char*>("here"), 0, nullptr, 5);

  Variable* names = variable("N%");
  push_variable(point);
  push_variable(names);
  call("structdeftolist");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(list_texts(names), (Texts{"X", "Y", "LABEL"}));

  Variable* values = variable("V%");
  push_variable(point);
  push_variable(values);
  call("structtolist");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(list_texts(values), (Texts{"3", "-4", "here"}));

  Variable* other = variable("Q%");
  declare_structure(other, {"a", "b"});
  push_variable(values);
  push_variable(other);
  call("listtostruct");
  EXPECT_EQ(pop_number(), 2) << "until the members run out";
  void* text;
  double number;
  get_variable_value(find_variable("Q.A%"), &text, &number, nullptr);
  EXPECT_EQ(number, 3);
  get_variable_value(find_variable("Q.B%"), &text, &number, nullptr);
  EXPECT_EQ(number, -4);

  fill_text_list(values, {"word"});
  push_variable(values);
  push_variable(other);
  call("listtostruct");
  EXPECT_EQ(pop_number(), 1) << "until the elements run out";
  get_variable_value(find_variable("Q.A%"), &text, &number, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(static_cast<const char*>(text), "word");

  push_variable(variable("X%"));
  push_variable(other);
  call("listtostruct");
  EXPECT_EQ(pop_number(), 0) << "a non-list";
}

}  // namespace
