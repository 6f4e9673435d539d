// List element chains: indexing, insertion, removal (also under a FOREACH standing on
// the removed element), moves, splits and whole-chain frees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/list_elements.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"
#include "variable_fixture.h"

namespace {

// A chain whose elements carry the numbers given; returns the first element.
ListElement* chain_of(std::vector<double> numbers) {
  ListElement* last = nullptr;
  for (double number : numbers) {
    last = list_element_append(last);
    last->number = number;
  }
  return list_element_first(last);
}

std::vector<double> numbers_of(ListElement* element) {
  std::vector<double> numbers;
  for (element = list_element_first(element); element; element = element->next) numbers.push_back(element->number);
  return numbers;
}

TEST(ListElements, IndexAndCount) {
  ListElement* first = chain_of({0, 1, 2, 3, 4});
  ListElement* third = first->next->next;
  EXPECT_EQ(list_element_count(third), 5u) << "any element designates the chain";
  EXPECT_EQ(list_element_count(nullptr), 0u);
  EXPECT_EQ(list_element_count_from(third), 2);
  EXPECT_EQ(list_element_count_from(nullptr), -1);
  struct Row {
    int32_t index;
    double number;
  } rows[] = {{0, 0}, {3, 3}, {4, 4}, {5, 4}, {1000, 4}, {-3, 0}};
  for (const Row& row : rows) {
    ListElement* element = list_element_at(third, row.index);
    ASSERT_NE(element, nullptr) << row.index;
    EXPECT_EQ(element->number, row.number) << row.index;
  }
  EXPECT_EQ(list_element_at(nullptr, 0), nullptr);
  list_element_chain_free(third, true);
}

TEST(ListElements, InsertAndPrepend) {
  ListElement* first = chain_of({1, 3});
  list_element_insert_before(first->next)->number = 2;
  ListElement* front = list_element_prepend(first);
  front->number = 0;
  EXPECT_EQ(numbers_of(front), (std::vector<double>{0, 1, 2, 3}));
  ListElement* alone = list_element_prepend(nullptr);
  EXPECT_EQ(alone->prev, nullptr);
  EXPECT_EQ(alone->next, nullptr);
  list_element_chain_free(alone, true);
  list_element_chain_free(front, true);
}

TEST(ListElements, RemoveGivesANeighbour) {
  ListElement* only = chain_of({7});
  EXPECT_EQ(list_element_remove(only), nullptr);

  ListElement* first = chain_of({0, 1, 2});
  ListElement* last = first->next->next;
  EXPECT_EQ(list_element_remove(last), first->next) << "the last gives its predecessor";
  ListElement* successor = first->next;
  EXPECT_EQ(list_element_remove(first), successor) << "others their successor";
  list_element_chain_free(successor, true);
}

TEST(ListElements, RemovalUnderAWalkContinuesWithTheNextElement) {
  // A FOREACH-like walk that removes every even number as it stands on it.
  ListElement* first = chain_of({0, 1, 2, 3, 4, 5, 6});
  IterationCursor cursor{first, 0, nullptr};
  IterationState state{0, 0, &cursor};
  ASSERT_TRUE(list_walk_register(&state));
  std::vector<double> seen;
  ListElement* keep = first->next;
  while (cursor.element) {
    ListElement* element = cursor.element;
    seen.push_back(element->number);
    cursor.moved = 0;
    if (static_cast<int>(element->number) % 2 == 0) {
      ListElement* successor = element->next;
      ListElement* predecessor = element->prev;
      list_element_remove(element);
      ASSERT_EQ(cursor.moved, successor ? kCursorOnSuccessor : kCursorOnPredecessor)
          << "the loop's cursor moved off the removed element";
      ASSERT_EQ(cursor.element, successor ? successor : predecessor);
      // Moved to the successor, the loop stands on its next element; moved back to the
      // predecessor (the last was removed), it continues after it: the end.
      if (!successor) cursor.element = predecessor->next;
      continue;
    }
    cursor.element = element->next;
  }
  EXPECT_EQ(seen, (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(numbers_of(keep), (std::vector<double>{1, 3, 5}));
  list_walk_unregister(&state);
  list_element_chain_free(keep, true);
}

TEST(ListElements, FreeingAWalkedChainLeavesTheWalkOnNothing) {
  struct Row {
    const char* name;
    bool whole_chain;  // else the walked element alone is removed, with no neighbour
  } rows[] = {{"chain freed", true}, {"only element removed", false}};
  for (const Row& row : rows) {
    ListElement* first = chain_of(row.whole_chain ? std::vector<double>{1, 2, 3} : std::vector<double>{1});
    IterationCursor inner{list_element_at(first, row.whole_chain ? 2 : 0), 0, nullptr};
    IterationCursor outer{first, 0, &inner};
    IterationState state{1, 0, &outer};
    ASSERT_TRUE(list_walk_register(&state)) << row.name;
    ASSERT_TRUE(list_walk_register(&state)) << row.name << ": registering twice is once";
    if (row.whole_chain) list_element_chain_free(first, true);
    else list_element_remove(first);
    for (IterationCursor* cursor : {&outer, &inner}) {
      EXPECT_EQ(cursor->element, nullptr) << row.name;
      EXPECT_EQ(cursor->moved, kCursorOnSuccessor) << row.name << ": on nothing, ahead of the walk";
    }
    list_walk_unregister(&state);
  }
  // An unregistered walk is left alone.
  ListElement* first = chain_of({1, 2});
  IterationCursor cursor{first, 0, nullptr};
  IterationState state{1, 0, &cursor};
  ListElement* second = first->next;
  list_element_remove(first);
  EXPECT_EQ(cursor.element, first);
  EXPECT_EQ(cursor.moved, 0u);
  list_element_chain_free(second, true);
}

TEST(ListElements, ManyElementsComeZeroedInOrderAndGoInAnyOrder) {
  // Enough elements for several blocks of them, removed in a scattered order while new
  // ones are made: each new one is zeroed, the chains keep their order, none is lost.
  constexpr int kCount = 5000;
  struct Row {
    const char* name;
    int step;  // every step-th element is removed, then as many are appended
  } rows[] = {{"every other", 2}, {"every seventh", 7}, {"all", 1}};
  for (const Row& row : rows) {
    std::vector<double> numbers;
    for (int i = 0; i < kCount; ++i) numbers.push_back(i);
    ListElement* first = chain_of(numbers);
    ListElement* other = chain_of({-1, -2});
    std::vector<double> expected;
    ListElement* element = first;
    for (int i = 0; element; ++i) {
      ListElement* next = element->next;
      if (i % row.step == 0) {
        ListElement* neighbour = list_element_remove(element);
        if (element == first) first = neighbour;
      } else {
        expected.push_back(i);
      }
      element = next;
    }
    ListElement* last = list_element_at(first, kCount);
    for (int i = 0; i < kCount / row.step; ++i) {
      last = list_element_append(last);
      ASSERT_NE(last, nullptr) << row.name;
      ASSERT_TRUE(!last->data && last->number == 0 && last->flags == 0 && last->checksum == 0 && last->type_code == 0 && !last->info &&
                  !last->struct_info && !last->next)
          << row.name << " " << i;
      last->number = kCount + i;
      expected.push_back(kCount + i);
    }
    EXPECT_EQ(numbers_of(last), expected) << row.name;
    EXPECT_EQ(numbers_of(other), (std::vector<double>{-1, -2})) << row.name << ": another chain is untouched";
    list_element_chain_free(last, true);
    list_element_chain_free(other, true);
  }
}

TEST(ListElements, MoveByIndex) {
  struct Row {
    int32_t from;
    int32_t to;
    std::vector<double> order;
  } rows[] = {{3, 0, {3, 0, 1, 2, 4}}, {0, 3, {1, 2, 3, 0, 4}}, {1, 4, {0, 2, 3, 4, 1}},
              {4, 1, {0, 4, 1, 2, 3}}, {2, 2, {0, 1, 2, 3, 4}}, {9, 0, {4, 0, 1, 2, 3}}};
  for (const Row& row : rows) {
    ListElement* chain = chain_of({0, 1, 2, 3, 4});
    ListElement* moved = list_element_move(&chain, row.from, row.to);
    ASSERT_NE(moved, nullptr) << row.from << "->" << row.to;
    EXPECT_EQ(chain, list_element_first(chain)) << row.from << "->" << row.to << ": the first stays first";
    EXPECT_EQ(numbers_of(chain), row.order) << row.from << "->" << row.to;
    list_element_chain_free(chain, true);
  }
  ListElement* none = nullptr;
  EXPECT_EQ(list_element_move(&none, 0, 1), nullptr);
}

TEST(ListElements, SplitDetachesTheTail) {
  ListElement* chain = chain_of({0, 1, 2, 3});
  ListElement* tail = list_element_split(&chain, 2);
  EXPECT_EQ(numbers_of(tail), (std::vector<double>{2, 3}));
  EXPECT_EQ(chain->number, 1) << "the chain pointer names the element before the cut";
  EXPECT_EQ(numbers_of(chain), (std::vector<double>{0, 1}));
  ListElement* whole = list_element_first(chain);
  ListElement* all = list_element_split(&whole, 0);
  EXPECT_EQ(whole, nullptr);
  list_element_chain_free(all, true);
  list_element_chain_free(tail, true);
}

TEST(ListElements, ChainFreeReleasesDataAndRecords) {
  ListElement* chain = chain_of({0, 1, 2});
  for (ListElement* element = chain; element; element = element->next) {
    element->data = crt::_strdup("owned");
    element->flags = kVariableOwnsData;
    element->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
    element->struct_info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
    reference_list_add(&element->struct_info->references, crt::_strdup("referenced"), nullptr, -8);
  }
  char* borrowed = crt::_strdup("borrowed");
  crt::free(chain->next->data);
  chain->next->data = borrowed;
  chain->next->flags = 0;
  list_element_chain_free(chain->next, true);  // leaks or double frees show under the sanitizer
  EXPECT_STREQ(borrowed, "borrowed") << "data an element does not own survives";
  crt::free(borrowed);
}

using ElementMirror = VariableTest;

TEST_F(ElementMirror, StoreAndLoadCarryEveryField) {
  Variable* source = make(locals, "SRC$");
  source->flags = kVariableList | kVariablePublic;
  source->cursor = list_element_append(nullptr);
  source->type_code = -4;
  source->element_count = 3;
  source->dims[0] = 3;
  source->dim_count = 1;
  source->class_hash = 1234;
  source->reserved1 = 5;
  source->column_major = 1;
  source->member_offset = 8;
  source->number = 6.5;
  variable_store_to_element(source);
  ListElement* element = source->cursor;
  EXPECT_EQ(element->flags, 0u) << "the public and list bits stay on the variable";
  ASSERT_NE(element->info, nullptr);
  ASSERT_NE(element->struct_info, nullptr);

  Variable* reader = make(locals, "READ$");
  reader->flags = kVariableList | kVariableStructure;
  reader->cursor = element;
  reader->pending_element = element;
  variable_load_from_element(reader);
  EXPECT_EQ(reader->pending_element, nullptr);
  EXPECT_EQ(reader->number, 6.5);
  EXPECT_EQ(reader->type_code, -4);
  EXPECT_EQ(reader->element_count, 3u);
  EXPECT_EQ(reader->dims[0], 3u);
  EXPECT_EQ(reader->dim_count, 1u);
  EXPECT_EQ(reader->class_hash, 1234u);
  EXPECT_EQ(reader->reserved1, 5u);
  EXPECT_EQ(reader->column_major, 1);
  EXPECT_EQ(reader->member_offset, 8u);
  EXPECT_EQ(reader->checksum, element->checksum);
  EXPECT_EQ(reader->flags, kVariableList) << "the structure bit comes from the element only";
  reader->cursor = nullptr;
  reader->flags = 0;

  source->element_count = source->dim_count = source->class_hash = source->reserved1 = 0;
  source->column_major = 0;
  source->member_offset = 0;
  variable_store_to_element(source);
  EXPECT_EQ(element->info, nullptr) << "records are made only when needed";
  EXPECT_EQ(element->struct_info, nullptr);
}

}  // namespace
