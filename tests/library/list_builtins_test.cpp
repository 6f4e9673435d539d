// The list built-ins: appending, inserting, deleting, walking, searching and kinds of
// list variables, driven as compiled code calls them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/list_elements.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/variable_store.h"
#include "library/lists/list_builtins.h"
#include "list_test_support.h"

namespace {

using Texts = std::vector<std::string>;

class ListBuiltinsTest : public BuiltinTest {
 protected:
  ListBuiltinsTest() : BuiltinTest(register_list_builtins) {}

  Variable* variable(const char* name) { return create_variable(locals, name, false); }

  // add(list, values...) with texts (numbers when they read as one).
  void add(Variable* list, const Texts& values) {
    mark();
    push_variable(list);
    for (const std::string& value : values) push_value(value);
    call("add");
  }
  void push_value(const std::string& value) {
    char* end = nullptr;
    double number = std::strtod(value.c_str(), &end);
    if (!value.empty() && *end == 0) push(number);
    else push_text(value.c_str());
  }
  // A variadic built-in over the given variables; its result.
  double over(const char* name, std::initializer_list<Variable*> variables, bool returns = true) {
    mark();
    for (Variable* v : variables) push_variable(v);
    call(name);
    return returns ? pop_number() : 0;
  }
  int32_t position(Variable* list) {
    push_variable(list);
    call("lpos");
    return static_cast<int32_t>(pop_number());
  }
  // find(list, start, end, key, separator, field, member, flags).
  int32_t find(Variable* list, int32_t start, int32_t end, const char* key, const char* separator, int32_t field,
               int32_t flags, double number_key = 0) {
    push_variable(list);
    push(start);
    push(end);
    if (key) push_text(key);
    else push(number_key);
    if (separator) push_text(separator);
    else push(0);
    push(field);
    push(0);
    push(flags);
    call("find");
    return static_cast<int32_t>(pop_number());
  }
};

TEST_F(ListBuiltinsTest, AddAppendsInOrderAndShowsTheLastValue) {
  Variable* list = variable("L%");
  add(list, {"1", "two", "3"});
  EXPECT_EQ(list_texts(list), (Texts{"1", "two", "3"}));
  EXPECT_EQ(list->number, 3);
  EXPECT_EQ(position(list), 2);
  add(list, {"four"});
  EXPECT_EQ(shown_text(list), "four");
  EXPECT_EQ(over("count", {list}), 4);
}

TEST_F(ListBuiltinsTest, AddWithTheListAloneAppendsOneEmptyElement) {
  Variable* list = variable("L%");
  add(list, {});
  EXPECT_EQ(list_element_count(list->cursor), 1u);
  add(list, {});
  EXPECT_EQ(over("count", {list}), 2);
  EXPECT_EQ(position(list), 1);
}

TEST_F(ListBuiltinsTest, AddMakesAPlainVariableAList) {
  Variable* plain = make_variable(locals, "P$", "old");
  add(plain, {"new"});
  EXPECT_TRUE(plain->flags & kVariableList);
  EXPECT_EQ(list_texts(plain), (Texts{"new"}));
}

TEST_F(ListBuiltinsTest, ANarrowTextAfterAWideOneStaysNarrow) {
  Variable* list = variable("L%");
  mark();
  push_variable(list);
  push_wide_text(u"wide");
  push_text("narrow");
  call("add");
  EXPECT_FALSE(list->flags & kVariableWideText);
  push_variable(list);
  call("ltype");
  EXPECT_EQ(pop_number(), 1);
  over("first", {list});
  push_variable(list);
  call("ltype");
  EXPECT_EQ(pop_number(), 7);
}

TEST_F(ListBuiltinsTest, InsertPutsTheValuesInFrontOfTheCurrentElementInReverse) {
  Variable* list = variable("L%");
  add(list, {"A", "X", "B"});
  push_variable(list);
  push(1);
  call("goto");
  EXPECT_EQ(pop_number(), 1);
  mark();
  push_variable(list);
  push(1);
  push(2);
  push(3);
  call("ins");
  EXPECT_EQ(list_texts(list), (Texts{"A", "3", "2", "1", "X", "B"}));
  EXPECT_EQ(list->number, 3);
  EXPECT_EQ(position(list), 1);
}

TEST_F(ListBuiltinsTest, DeleteMovesToThePreviousElementElseTheNext) {
  Variable* list = variable("L%");
  add(list, {"a", "b", "c"});
  over("del", {list}, false);  // c goes, b shows
  EXPECT_EQ(shown_text(list), "b");
  over("first", {list});
  over("del", {list}, false);  // a goes, b (the next) shows
  EXPECT_EQ(shown_text(list), "b");
  over("del", {list}, false);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_EQ(list->data, nullptr) << "an emptied list must not show a freed text";
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(position(list), -1);
}

TEST_F(ListBuiltinsTest, MovingBuiltinsCountTheListsThatMoved) {
  Variable* a = variable("A%");
  Variable* b = variable("B%");
  Variable* empty = variable("E%");
  over("list", {empty}, false);
  add(a, {"1", "2"});
  add(b, {"3"});
  EXPECT_EQ(over("first", {a, empty, b}), 2);
  EXPECT_EQ(over("isfirst", {a, b, empty}), 2);
  EXPECT_EQ(over("next", {a, b}), 1);
  EXPECT_EQ(a->number, 2);
  EXPECT_EQ(over("islast", {a, b, empty}), 2);
  EXPECT_EQ(over("prev", {a, b}), 1);
  EXPECT_EQ(over("last", {a, b}), 2);
  EXPECT_EQ(over("islist", {a, empty, make_variable(locals, "N%", nullptr, 5)}), 2);
  EXPECT_EQ(over("count", {a, b, empty}), 3);
}

TEST_F(ListBuiltinsTest, PositionAndGoto) {
  Variable* list = variable("L%");
  Variable* plain = make_variable(locals, "N%", nullptr, 5);
  over("list", {list}, false);
  EXPECT_EQ(position(list), -1);
  EXPECT_EQ(position(plain), 0);
  push_variable(list);
  push(0);
  call("goto");
  EXPECT_EQ(pop_number(), 0) << "goto on an empty list";
  add(list, {"10", "20", "30"});
  struct Row {
    int32_t index;
    double shown;
  } rows[] = {{-5, 10}, {1, 20}, {1000, 30}, {0, 10}};
  for (const Row& row : rows) {
    push_variable(list);
    push(row.index);
    call("goto");
    EXPECT_EQ(pop_number(), 1) << row.index;
    EXPECT_EQ(list->number, row.shown) << row.index;
  }
}

TEST_F(ListBuiltinsTest, MoveRelinksTheElementAndShowsIt) {
  Variable* list = variable("L%");
  add(list, {"a", "b", "c", "d"});
  push_variable(list);
  push(0);
  push(2);
  call("lmove");
  EXPECT_EQ(pop_number(), 1);
  EXPECT_EQ(list_texts(list), (Texts{"b", "c", "a", "d"}));
  EXPECT_EQ(shown_text(list), "a");
  push_variable(list);
  push(3);
  push(0);
  call("lmove");
  EXPECT_EQ(pop_number(), 1);
  EXPECT_EQ(list_texts(list), (Texts{"d", "b", "c", "a"}));
}

TEST_F(ListBuiltinsTest, PopGivesTheValueAndStepsBack) {
  Variable* list = variable("L%");
  add(list, {"1", "two"});
  push_variable(list);
  call("pop");
  EXPECT_EQ(pop_text(), "two");
  EXPECT_EQ(list->number, 1);
  push_variable(list);
  call("pop");
  EXPECT_EQ(pop_number(), 1);
  Variable* empty = variable("E%");
  over("list", {empty}, false);
  int32_t before = depth();
  push_variable(empty);
  call("pop");
  EXPECT_EQ(depth(), before + 1) << "pop of an empty list still gives a result";
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(ListBuiltinsTest, FindMatchesByTheFlagsAndNeverMovesTheCursor) {
  Variable* list = variable("L%");
  add(list, {"Apple", "banana", "  cherry ", "date;fig;grape", "42", "Banana split"});
  push_variable(list);
  push(1);
  call("goto");
  pop_number();
  struct Row {
    const char* key;
    const char* separator;
    int32_t field;
    int32_t flags;
    int32_t start;
    int32_t end;
    int32_t expected;
  } rows[] = {
      {"apple", nullptr, 0, 0, -1, -1, 0},
      {"apple", nullptr, 0, kSearchCaseSensitive, -1, -1, -1},
      {"BAN", nullptr, 0, kSearchBeginsWith, -1, -1, 1},
      {"split", nullptr, 0, kSearchEndsWith, -1, -1, 5},
      {"NAN", nullptr, 0, kSearchContains, -1, -1, 1},
      {"NAN", nullptr, 0, kSearchContains | kSearchBeginsWith, -1, -1, 1},
      {"cherry", nullptr, 0, 0, -1, -1, -1},
      {"cherry", nullptr, 0, kSearchTrim, -1, -1, 2},
      {"cherry ", nullptr, 0, kSearchTrimLeading, -1, -1, 2},
      {"  cherry", nullptr, 0, kSearchTrimTrailing, -1, -1, 2},
      {"fig", ";", 1, 0, -1, -1, 3},
      {"grape", ";", 2, 0, -1, -1, 3},
      {"fig", ";", 5, 0, -1, -1, -1},
      {"42", nullptr, 0, 0, -1, -1, 4},
      {"banana", nullptr, 0, 0, 2, -1, -1},
      {"banana", nullptr, 0, kSearchBeginsWith, 2, -1, 5},
      {"banana", nullptr, 0, kSearchBeginsWith, 2, 4, -1},
      {"nothing", nullptr, 0, 0, -1, -1, -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(find(list, row.start, row.end, row.key, row.separator, row.field, row.flags), row.expected)
        << row.key << " flags " << std::hex << row.flags << " start " << std::dec << row.start;
  }
  EXPECT_EQ(shown_text(list), "banana") << "find moved the cursor";
  EXPECT_EQ(position(list), 1);
}

TEST_F(ListBuiltinsTest, FindWithANumericKeyComparesNumbers) {
  Variable* list = variable("L%");
  add(list, {"0", "7", "2.5", "7"});
  EXPECT_EQ(find(list, -1, -1, nullptr, nullptr, 0, kSearchNumericKey, 2.5), 2);
  EXPECT_EQ(find(list, -1, -1, nullptr, nullptr, 0, kSearchNumericKey, 7), 1);
  // A text key does not take number elements for 0.
  EXPECT_EQ(find(list, -1, -1, "word", nullptr, 0, 0), -1);
  EXPECT_EQ(find(list, 2, -1, "7", nullptr, 0, 0), 3);
  Variable* plain = make_variable(locals, "N%", nullptr, 7);
  EXPECT_EQ(find(plain, -1, -1, "7", nullptr, 0, 0), -1);
}

TEST_F(ListBuiltinsTest, DeleteAllRemovesEveryMatchAndShowsTheFirstLeft) {
  Variable* list = variable("L%");
  add(list, {"x1", "keep", "x2", "x3", "also"});
  push_variable(list);
  push_text("X");
  push(0);
  push(0);
  push(0);
  push(kSearchBeginsWith);
  call("delall");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(list_texts(list), (Texts{"keep", "also"}));
  EXPECT_EQ(shown_text(list), "keep");
  push_variable(list);
  push_text("");
  push(0);
  push(0);
  push(0);
  push(kSearchBeginsWith);
  call("delall");
  EXPECT_EQ(pop_number(), 2);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_EQ(list->data, nullptr);
}

TEST_F(ListBuiltinsTest, AddListCopiesEveryElementOnceEvenFromItself) {
  Variable* list = variable("L%");
  Variable* other = variable("O%");
  add(list, {"a", "1"});
  add(other, {"b"});
  mark();
  push_variable(list);
  push_variable(other);
  push_variable(list);
  call("addlist");
  EXPECT_EQ(list_texts(list), (Texts{"a", "1", "b", "a", "1", "b"}));
  // The copies are the list's own.
  over("empty", {other}, false);
  EXPECT_EQ(list_texts(list)[2], "b");
}

TEST_F(ListBuiltinsTest, KindsOfVariablesAndListValues) {
  Variable* list = variable("L%");
  add(list, {"text"});
  Variable* number = make_variable(locals, "N%", nullptr, 3);
  Variable* text = make_variable(locals, "T$", "abc");
  struct Row {
    const char* name;
    Variable* variable;
    double expected;
  } rows[] = {{"vartype", list, 4}, {"ltype", list, 1}, {"vartype", number, 0},
              {"vartype", text, 1}, {"ltype", text, 1}};
  for (const Row& row : rows) {
    push_variable(row.variable);
    call(row.name);
    EXPECT_EQ(pop_number(), row.expected) << row.name << " " << row.variable->name;
  }
}

TEST_F(ListBuiltinsTest, EmptyReleasesListsAndValues) {
  Variable* list = variable("L%");
  Variable* text = make_variable(locals, "T$", "abc");
  add(list, {"a", "b"});
  over("empty", {list, text}, false);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_EQ(list->data, nullptr);
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(text->data, nullptr);
}

TEST_F(ListBuiltinsTest, ListEmptiesAVariableAndMakesItAList) {
  Variable* list = variable("L%");
  add(list, {"a", "b"});
  Variable* text = make_variable(locals, "T$", "abc");
  over("list", {list, text}, false);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_TRUE(text->flags & kVariableList);
  EXPECT_EQ(text->data, nullptr);
}

void fake_source(const InstructionNode*, const char** file, int32_t* line, int32_t* position) {
  *file = "\\Storage\\Scripts\\demo.zrk";
  *line = 12;
  *position = 3;
}

TEST_F(ListBuiltinsTest, CurrentLineAndFileNameReadTheInstructionsSourcePlace) {
  auto saved = runtime_error_services.instruction_source;
  runtime_error_services.instruction_source = nullptr;
  call("currentline");
  EXPECT_EQ(pop_number(), 0) << "no source records";
  context->name = crt::_strdup("MAIN.ZRK");
  call("currentfilename");
  EXPECT_EQ(pop_text(), "MAIN.ZRK");
  Chain chain;
  current_instruction = chain.add(op_nothing);
  runtime_error_services.instruction_source = fake_source;
  call("currentline");
  EXPECT_EQ(pop_number(), 12);
  call("currentfilename");
  EXPECT_EQ(pop_text(), "demo.zrk");
  runtime_error_services.instruction_source = saved;
  current_instruction = nullptr;
}

}  // namespace
