// List sort: ascending and descending orders, the case flag, numbers before strings,
// stability, and what stays with the elements (FOREACH states) or moves with the values.
#include "foundation/list_sort.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "foundation/list_elements.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"
#include "variable_fixture.h"

namespace {

// Values are written "s:text" for strings and plain numbers otherwise.
ListElement* chain_of(const std::vector<std::string>& values) {
  ListElement* last = nullptr;
  for (const std::string& value : values) {
    last = list_element_append(last);
    if (value.rfind("s:", 0) == 0) {
      std::string text = value.substr(2);
      auto* block = static_cast<char*>(crt::malloc(text.size() + 1));
      std::memcpy(block, text.c_str(), text.size() + 1);
      last->data = block;
      last->flags = kVariableOwnsData;
    } else {
      last->number = std::stod(value);
    }
  }
  return list_element_first(last);
}

std::string values_of(ListElement* element) {
  std::string out;
  bool first = true;
  for (element = list_element_first(element); element; element = element->next) {
    if (!first) out += ' ';
    first = false;
    if (element->data) {
      out += static_cast<const char*>(element->data);
    } else {
      char number[32];
      std::snprintf(number, sizeof number, "%g", element->number);
      out += number;
    }
  }
  return out;
}

TEST(ListSort, Orders) {
  struct Row {
    std::vector<std::string> values;
    int32_t ascending;
    int32_t case_sensitive;
    const char* sorted;
  } rows[] = {
      {{"3", "1", "2"}, 1, 0, "1 2 3"},
      {{"3", "1", "2"}, 0, 0, "3 2 1"},
      {{"-1.5", "1e10", "0", "-7"}, 1, 1, "-7 -1.5 0 1e+10"},
      {{"s:b", "s:A", "s:a"}, 1, 0, "A a b"},
      {{"s:b", "s:A", "s:a"}, 1, 1, "A a b"},
      {{"s:a", "s:B", "s:A", "s:b"}, 1, 0, "a A B b"},   // equal values keep their order
      {{"s:a", "s:B", "s:A", "s:b"}, 0, 0, "B b a A"},
      {{"s:a", "s:B", "s:A", "s:b"}, 1, 1, "A B a b"},
      {{"s:a", "s:B", "s:A", "s:b"}, 0, 1, "b a B A"},
      {{"s:_", "s:a", "s:Z"}, 1, 0, "_ a Z"},             // _stricmp folds to lower case
      {{"s:_", "s:a", "s:Z"}, 1, 1, "Z _ a"},
      {{"s:ab", "s:a", "s:", "s:abc"}, 1, 1, " a ab abc"},
      {{"s:b", "2", "s:a", "1"}, 1, 1, "1 2 a b"},        // numbers before strings
      {{"s:b", "2", "s:a", "1"}, 0, 1, "2 1 b a"},
      {{"2", "2", "1"}, 1, 0, "1 2 2"},
      {{"5"}, 1, 0, "5"},
      {{"s:\xe9", "s:z"}, 1, 1, "z \xe9"},               // bytes compare unsigned
      {{"3", "nan", "1", "nan", "2"}, 1, 0, "1 2 3 nan nan"},  // a NaN is passed over, never passed
      {{"nan", "2", "1"}, 1, 0, "nan 1 2"},
      {{"1", "nan", "2", "0"}, 0, 0, "2 1 nan 0"},
  };
  for (const Row& row : rows) {
    ListElement* first = chain_of(row.values);
    list_element_chain_sort(first->next ? first->next : first, row.ascending, row.case_sensitive);
    EXPECT_EQ(values_of(first), row.sorted) << row.values.size() << " values, ascending " << row.ascending
                                            << ", case " << row.case_sensitive;
    list_element_chain_free(first, true);
  }
  list_element_chain_sort(nullptr, 1, 1);
}

TEST(ListSort, StableForEqualNumbers) {
  // Equal numbers are told apart by a tag in their type code: the order must not change.
  ListElement* first = chain_of({"2", "1", "2", "1", "2"});
  int32_t tag = 0;
  for (ListElement* element = first; element; element = element->next) element->type_code = -(++tag);
  list_element_chain_sort(first, 1, 0);
  std::vector<int32_t> tags;
  for (ListElement* element = first; element; element = element->next) tags.push_back(element->type_code);
  EXPECT_EQ(tags, (std::vector<int32_t>{-2, -4, -1, -3, -5}));
  list_element_chain_sort(first, 0, 0);
  tags.clear();
  for (ListElement* element = first; element; element = element->next) tags.push_back(element->type_code);
  EXPECT_EQ(tags, (std::vector<int32_t>{-1, -3, -5, -2, -4}));
  list_element_chain_free(first, true);
}

TEST(ListSort, LargeChainsComeOutOrderedAndStable) {
  // Pseudo-random numbers and texts with many equal values (texts equal but for case);
  // the type code tags each value with its original position.
  std::vector<std::string> values;
  uint32_t seed = 12345;
  for (int index = 0; index < 20000; ++index) {
    seed = seed * 1103515245u + 12345u;
    uint32_t pick = (seed >> 8) % 300;
    if (pick % 3 == 0) values.push_back(std::to_string(pick));
    else values.push_back(std::string("s:") + (pick % 2 ? "k" : "K") + std::to_string(pick % 40));
  }
  for (int32_t ascending : {1, 0}) {
    for (int32_t case_sensitive : {1, 0}) {
      ListElement* first = chain_of(values);
      int32_t tag = 0;
      for (ListElement* element = first; element; element = element->next) element->type_code = tag++;
      list_element_chain_sort(first, ascending, case_sensitive);
      int32_t count = 0;
      for (ListElement* element = first; element->next; element = element->next, ++count) {
        ListElement* next = element->next;
        bool text = element->data != nullptr;
        bool next_text = next->data != nullptr;
        ASSERT_TRUE(!text || next_text) << "numbers before texts at " << count;
        int c = 0;
        if (text && next_text) {
          c = case_sensitive ? std::strcmp(static_cast<char*>(element->data), static_cast<char*>(next->data))
                             : strcasecmp(static_cast<char*>(element->data), static_cast<char*>(next->data));
        } else if (!text && !next_text) {
          c = element->number < next->number ? -1 : element->number > next->number ? 1 : 0;
        }
        if (text != next_text) continue;
        ASSERT_TRUE(ascending ? c <= 0 : c >= 0) << "order at " << count << ", ascending " << ascending;
        if (c == 0) ASSERT_LT(element->type_code, next->type_code) << "stability at " << count;
      }
      EXPECT_EQ(count + 1, 20000);
      list_element_chain_free(first, true);
    }
  }
}

TEST(ListSort, NotANumberNeitherHangsNorLosesValues) {
  ListElement* first = chain_of({"3", "nan", "1", "nan", "2"});
  list_element_chain_sort(first, 1, 0);
  int nans = 0;
  std::vector<double> numbers;
  for (ListElement* element = first; element; element = element->next) {
    if (std::isnan(element->number)) ++nans;
    else numbers.push_back(element->number);
  }
  EXPECT_EQ(nans, 2);
  EXPECT_EQ(numbers.size(), 3u);
  list_element_chain_free(first, true);
}

class ListSortVariable : public VariableTest {};

TEST_F(ListSortVariable, RecordsMoveWithValuesAndLoopsStayOnElements) {
  ListElement* first = chain_of({"s:c", "s:a", "s:b"});
  ListElement* middle = first->next;
  // The value a carries an info record; a FOREACH stands on the third element.
  middle->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
  middle->info->class_hash = 0xA;
  IterationState state{};
  IterationCursor cursor{first->next->next, 0, nullptr};
  state.cursors = &cursor;
  ListElement* third = first->next->next;
  third->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
  third->info->iteration = &state;
  void* block_a = middle->data;
  std::vector<uint32_t> checksums;
  for (ListElement* element = first; element; element = element->next) checksums.push_back(element->checksum);
  list_element_chain_sort(middle, 1, 1);
  EXPECT_EQ(values_of(first), "a b c");
  EXPECT_EQ(first->data, block_a) << "blocks move, never copied";
  ASSERT_NE(first->info, nullptr);
  EXPECT_EQ(first->info->class_hash, 0xAu);
  ASSERT_NE(third->info, nullptr);
  EXPECT_EQ(third->info->iteration, &state);
  size_t position = 0;
  for (ListElement* element = first; element; element = element->next, ++position) {
    // The checksum runs over the element as it stands, its old checksum word included.
    ListElement before = *element;
    before.checksum = checksums[position];
    EXPECT_EQ(element->checksum, list_element_checksum(&before)) << position;
    if (element != third && element->info) {
      EXPECT_EQ(element->info->iteration, nullptr);
    }
  }
  // The list variable shows the value now at its cursor's position once reloaded.
  Variable* list = make(locals, "L$");
  list->flags = kVariableList;
  list->cursor = first;
  variable_load_from_element(list);
  EXPECT_STREQ(static_cast<const char*>(list->data), "a");
  third->info->iteration = nullptr;
  variable_clear_value(context, list, false, false);
}

}  // namespace
