// sort, split, lcopy, lcopyex and copy on list variables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/list_elements.h"
#include "library/lists/list_builtins.h"
#include "library/lists/list_sort_builtins.h"
#include "list_test_support.h"

namespace {

using Texts = std::vector<std::string>;

void register_units() {
  register_list_builtins();
  register_list_sort_builtins();
}

class ListSortBuiltinsTest : public BuiltinTest {
 protected:
  ListSortBuiltinsTest() : BuiltinTest(register_units) {}

  // A list of the texts (an empty list for none).
  Variable* list_of(const char* name, const Texts& values) {
    Variable* list = create_variable(locals, name, false);
    mark();
    push_variable(list);
    call("list");
    if (values.empty()) return list;
    mark();
    push_variable(list);
    for (const std::string& value : values) push_text(value.c_str());
    call("add");
    return list;
  }
  void go(Variable* list, int index) {
    push_variable(list);
    push(index);
    call("goto");
    pop_number();
  }
};

TEST_F(ListSortBuiltinsTest, SortOrdersTextsAndKeepsTheCursorElement) {
  struct Row {
    int order;
    int case_sensitive;
    Texts expected;
  } rows[] = {{1, 0, {"A", "b", "c"}}, {0, 0, {"c", "b", "A"}}, {1, 1, {"A", "b", "c"}}};
  for (const Row& row : rows) {
    Variable* list = list_of("L%", {"b", "A", "c"});
    go(list, 0);
    ListElement* cursor = list->cursor;
    push_variable(list);
    push(row.order);
    push(row.case_sensitive);
    call("sort");
    EXPECT_EQ(list_texts(list), row.expected) << row.order << row.case_sensitive;
    EXPECT_EQ(list->cursor, cursor);
    EXPECT_EQ(shown_text(list), row.expected[0]);
  }
}

TEST_F(ListSortBuiltinsTest, SplitMovesTheTail) {
  struct Row {
    int index;
    Texts left;
    Texts right;
  } rows[] = {{2, {"1", "2"}, {"3", "4", "5"}}, {0, {}, {"1", "2", "3", "4", "5"}}, {-3, {}, {"1", "2", "3", "4", "5"}}};
  for (const Row& row : rows) {
    Variable* list = list_of("L%", {"1", "2", "3", "4", "5"});
    Variable* tail = list_of("T%", {"old"});
    push_variable(list);
    push(row.index);
    push_variable(tail);
    call("split");
    EXPECT_EQ(pop_number(), row.right.size()) << row.index;
    EXPECT_EQ(list_texts(list), row.left) << row.index;
    EXPECT_EQ(list_texts(tail), row.right) << row.index;
    EXPECT_EQ(shown_text(tail), row.right[0]);
    if (!row.left.empty()) EXPECT_EQ(shown_text(list), row.left.back());
    else EXPECT_EQ(list->data, nullptr);
  }
}

TEST_F(ListSortBuiltinsTest, SplitOfAnEmptyListGivesAnEmptyTarget) {
  Variable* list = list_of("L%", {});
  Variable* tail = list_of("T%", {"old"});
  push_variable(list);
  push(0);
  push_variable(tail);
  call("split");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(tail->cursor, nullptr);
  EXPECT_TRUE(tail->flags & kVariableList);
}

TEST_F(ListSortBuiltinsTest, CopiesAreDeepAndACopyOntoItselfKeepsTheList) {
  Variable* source = list_of("S%", {"a", "b", "c", "d"});
  Variable* whole = create_variable(locals, "W%", false);
  push_variable(source);
  push_variable(whole);
  call("lcopy");
  Variable* part = create_variable(locals, "P%", false);
  push_variable(source);
  push_variable(part);
  push(1);
  push(2);
  call("lcopyex");
  EXPECT_EQ(list_texts(whole), (Texts{"a", "b", "c", "d"}));
  EXPECT_EQ(list_texts(part), (Texts{"b", "c"}));
  mark();
  push_variable(source);
  call("empty");
  EXPECT_EQ(list_texts(whole), (Texts{"a", "b", "c", "d"}));
  push_variable(whole);
  push_variable(whole);
  call("lcopy");
  EXPECT_EQ(list_texts(whole), (Texts{"a", "b", "c", "d"}));
}

TEST_F(ListSortBuiltinsTest, CopyOverwritesTheCurrentElementWithItsOwnCopy) {
  Variable* source = list_of("A%", {"first", "second"});
  Variable* target = create_variable(locals, "B%", false);
  push_variable(source);
  push_variable(target);
  call("copy");
  EXPECT_EQ(list_texts(target), (Texts{"second"}));
  EXPECT_EQ(shown_text(target), "second");
  go(source, 0);
  push_variable(source);
  push_variable(target);
  call("copy");
  EXPECT_EQ(list_texts(target), (Texts{"first"}));
  mark();
  push_variable(source);
  call("empty");
  EXPECT_EQ(list_texts(target), (Texts{"first"})) << "the copied text must be the target's own";
  push_variable(target);
  push_variable(target);
  call("copy");
  EXPECT_EQ(list_texts(target), (Texts{"first"}));
}

}  // namespace
