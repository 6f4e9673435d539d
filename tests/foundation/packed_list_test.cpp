// Packed item lists: the text form both ways, malformed texts read safely, deep copies,
// edits that keep every reference node right, and the write into typed array memory.
#include "foundation/packed_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "variable_fixture.h"

namespace {

// A list in a readable shape: numbers as %g, strings quoted, nested lists in parentheses.
std::string describe(const PackedItem* list) {
  std::string out;
  for (const PackedItem* item = list; item->kind != kPackedEnd; ++item) {
    if (!out.empty()) out += ' ';
    if (item->kind == kPackedString) {
      out += '\'' + std::string(static_cast<const char*>(packed_item_block(item))) + '\'';
    } else if (item->kind == kPackedList) {
      out += '(' + describe(packed_item_list(item)) + ')';
    } else {
      char number[64];
      std::snprintf(number, sizeof number, "%g", item->value);
      out += number;
    }
  }
  return out;
}

std::string text_of(const PackedItem* list) {
  uint32_t length = packed_list_text_length(list);
  std::vector<char> buffer(length + 16, '#');
  char* end = packed_list_to_text(list, buffer.data(), true);
  EXPECT_EQ(*end, 0);
  EXPECT_LE(static_cast<uint32_t>(end - buffer.data()) + 1, length) << "the text outgrew its length";
  return buffer.data();
}

size_t node_count(ReferenceNode* node) {
  size_t count = 0;
  for (; node; node = node->next) ++count;
  return count;
}

// Every owned block of the list, recursively, has exactly one node whose slot is its item.
void expect_references_match(const PackedItem* list, ReferenceNode* references, const std::string& where) {
  for (const PackedItem* item = list; item->kind != kPackedEnd; ++item) {
    if (item->kind != kPackedString && item->kind != kPackedList) continue;
    int found = 0;
    for (ReferenceNode* node = references; node; node = node->next) {
      if (node->block == packed_item_block(item)) {
        ++found;
        EXPECT_EQ(node->slot, item) << where << ": the node's slot is not the item";
        EXPECT_EQ(node->slot_type, kPackedSlotType) << where;
      }
    }
    EXPECT_EQ(found, 1) << where;
    if (item->kind == kPackedList) expect_references_match(packed_item_list(item), references, where);
  }
}

class PackedList : public VariableTest {
 protected:
  void SetUp() override {
    VariableTest::SetUp();
    ownership_services = foundation_ownership_services;
  }
  void TearDown() override {
    reference_list_free(references);
    for (PackedItem* buffer : buffers) crt::free(buffer);
    VariableTest::TearDown();
  }
  // Parses text; the buffer is freed after the test, its blocks through the references.
  PackedItem* parse(const char* text) {
    PackedItem* list = packed_list_from_text(text, &references);
    EXPECT_NE(list, nullptr) << text;
    buffers.push_back(list);
    return list;
  }
  PackedItem* keep(PackedItem* list) {
    buffers.push_back(list);
    return list;
  }
  ReferenceNode* references = nullptr;
  std::vector<PackedItem*> buffers;
};

TEST_F(PackedList, TextFormBothWays) {
  struct Row {
    const char* text;
    const char* shape;
    const char* written;  // null: the text itself
  } rows[] = {
      {"[1,{abc},[3,4]]", "1 'abc' (3 4)", nullptr},
      {"[1,{a,b},[2,3]]", "1 'a,b' (2 3)", nullptr},
      {"[3.5,2,-0.25,1000000]", "3.5 2 -0.25 1e+06", nullptr},
      {"[[1,[2,[3]]],{x y}]", "(1 (2 (3))) 'x y'", nullptr},
      {"[{},[],[[]]]", "'' () (())", nullptr},
      {"[ 1 , { a } ,[ 2 ] ]", "1 ' a ' (2)", "[1,{ a },[2]]"},
      {"[1,,2]", "1 0 2", "[1,0,2]"},
      {"[0x10,1e+3,1e3,abc]", "16 1000 0 0", "[16,1000,0,0]"},
      {"[]", "", nullptr},
      {"", "", "[]"},
      {"no list here", "", "[]"},
      {"[{[x]},{a{b}c}]", "'[x]' 'a{b}c'", nullptr},
  };
  for (const Row& row : rows) {
    PackedItem* list = parse(row.text);
    EXPECT_EQ(describe(list), row.shape) << row.text;
    std::string written = text_of(list);
    EXPECT_EQ(written, row.written ? row.written : row.text) << row.text;
    // Text written reads back as the same list.
    EXPECT_EQ(describe(parse(written.c_str())), row.shape) << row.text;
    expect_references_match(list, references, row.text);
  }
}

TEST_F(PackedList, MalformedTextsAreReadWithinTheirBuffers) {
  // bounded: read into count_bracket_items + 1 items, the size a caller takes from the
  // count; unclosed lists hold more items than that and must not be written past.
  // whole: the parse that sizes its own buffer, which keeps every item it reads.
  struct Row {
    const char* text;
    const char* bounded;
    const char* whole;
  } rows[] = {
      {"[[1,2", "", "(1 2)"},
      {"[1,2", "1", "1 2"},
      {"[{abc]", "", "'abc]'"},
      {"{", "", ""},
      {"[", "", ""},
      {"[{", "", "''"},
      {"]]]", "", ""},
      {"[}]", "0", "0"},
      {"[[1,2],[3", "(1 2)", "(1 2) (3)"},
      {"[[[[", "", "((()))"},
      {"[1,[2,[3,[4", "1", "1 (2 (3 (4)))"},
      {"[{]},1]", "']' 1", "']' 1"},
  };
  for (const Row& row : rows) {
    const char* counted = row.text;
    uint32_t capacity = count_bracket_items(&counted) + 1;
    EXPECT_EQ(counted, row.text) << "counting moves nothing";
    auto* list = keep(static_cast<PackedItem*>(crt::malloc(capacity * sizeof(PackedItem))));
    const char* cursor = row.text;
    PackedItem* end = text_to_packed_list(&cursor, list, capacity, &references);
    EXPECT_LT(end, list + capacity) << row.text;
    EXPECT_EQ(end->kind, kPackedEnd) << row.text;
    EXPECT_EQ(describe(list), row.bounded) << row.text;
    EXPECT_EQ(*cursor, 0) << row.text << ": the whole text is read";
    text_of(list);
    PackedItem* whole = parse(row.text);
    EXPECT_EQ(describe(whole), row.whole) << row.text;
    text_of(whole);
  }
  // No room at all writes nothing.
  PackedItem untouched{7, kPackedNumber};
  const char* text = "[1]";
  EXPECT_EQ(text_to_packed_list(&text, &untouched, 0, &references), &untouched);
  EXPECT_EQ(untouched.value, 7);
}

TEST_F(PackedList, DeepNestingNeitherOverflowsNorHangs) {
  std::string deep(100000, '[');
  PackedItem* list = parse(deep.c_str());
  EXPECT_EQ(packed_list_count(list, false), 1u);
  uint32_t depth = 0;
  for (const PackedItem* item = list; item->kind == kPackedList; item = packed_item_list(item)) ++depth;
  EXPECT_EQ(depth, kPackedListMaxDepth);
  std::string closed = std::string(1000, '[') + "1" + std::string(1000, ']') + ",2]";
  EXPECT_EQ(packed_list_count(parse(("[" + closed).c_str()), false), 2u) << "the deep item is dropped, not the rest";
}

TEST_F(PackedList, CountBracketItems) {
  struct Row {
    const char* text;
    uint32_t count;
  } rows[] = {
      {"[1,2,3]", 3}, {"[]", 1},        {"", 0},         {"[1,[2,3],4]", 3}, {"[{a,b},c]", 2},
      {"[1,2", 1},    {"[{[},1]", 2},   {"[1],[2,3]", 1}, {"[{,},{,}]", 2},  {"[}],1]", 1},
  };
  for (const Row& row : rows) {
    const char* text = row.text;
    EXPECT_EQ(count_bracket_items(&text), row.count) << row.text;
  }
}

TEST_F(PackedList, CountsAndCopies) {
  PackedItem* list = parse("[1,{ab},[2,[3,4]],5]");
  EXPECT_EQ(packed_list_count(list, false), 4u);
  EXPECT_EQ(packed_list_count(list, true), 6u);
  EXPECT_EQ(packed_list_count(nullptr, true), 0u);
  ReferenceNode* copy_references = nullptr;
  PackedItem* copy = packed_list_copy(list, &copy_references);
  EXPECT_EQ(node_count(copy_references), 3u) << "a string and two nested buffers";
  expect_references_match(copy, copy_references, "copy");
  EXPECT_NE(packed_item_block(&copy[1]), packed_item_block(&list[1]));
  EXPECT_EQ(alloc_block_size(packed_item_block(&copy[1])), alloc_block_size(packed_item_block(&list[1])));
  // The original goes away whole; the copy stands alone.
  packed_list_free_items(list, &references);
  EXPECT_EQ(references, nullptr);
  EXPECT_EQ(describe(copy), "1 'ab' (2 (3 4)) 5");
  packed_list_free(copy, &copy_references);
  EXPECT_EQ(copy_references, nullptr);
}

TEST_F(PackedList, DeleteKeepsReferencesOnTheLiveBuffer) {
  struct Row {
    const char* text;
    int32_t start, count;
    const char* shape;
    size_t nodes;  // owned blocks left
  } rows[] = {
      {"[1,[2,3],4]", 1, 1, "1 4", 0},
      {"[1,[2,3]]", 0, 1, "(2 3)", 1},
      {"[{a},{b},[{c}],{d}]", 1, 2, "'a' 'd'", 2},
      {"[{a},{b},[{c}]]", 2, 100, "'a' 'b'", 2},
      {"[{a},{b}]", -1, 2, "'b'", 1},
      {"[{a},{b}]", 0, 0, "'a' 'b'", 2},
      {"[{a},{b}]", 5, 1, "'a' 'b'", 2},
  };
  for (const Row& row : rows) {
    ReferenceNode* own = nullptr;
    PackedItem* list = packed_list_from_text(row.text, &own);
    PackedItem* result = packed_list_delete(list, row.start, row.count, &own);
    ASSERT_NE(result, nullptr) << row.text;
    // The old buffer is only memory now: its items moved.
    crt::free(list);
    EXPECT_EQ(describe(result), row.shape) << row.text;
    EXPECT_EQ(alloc_block_size(result), (packed_list_count(result, false) + 1) * sizeof(PackedItem)) << row.text;
    EXPECT_EQ(node_count(own), row.nodes) << row.text << ": dropped blocks leave the list";
    expect_references_match(result, own, row.text);
    // A copy of the owner writes each block's copy through the node's slot: it must be live.
    Variable* owner = make(locals, "OWNER$");
    owner->data = result;
    owner->references = own;
    Variable* copy = make(locals, "COPY$");
    copy->data = crt::calloc(alloc_block_size(result), 1);
    copy_variable_references(owner, copy);
    reference_list_free(copy->references);
    crt::free(copy->data);
    copy->data = nullptr;
    copy->references = nullptr;
    owner->data = nullptr;
    owner->references = nullptr;
    packed_list_free(result, &own);
    EXPECT_EQ(own, nullptr) << row.text;
  }
}

TEST_F(PackedList, SliceAndAppend) {
  PackedItem* list = parse("[1,{b},[2],4]");
  struct Row {
    int32_t start, count;
    const char* shape;
  } slices[] = {{1, 2, "'b' (2)"}, {2, 50, "(2) 4"}, {4, 1, ""}, {-2, 3, "1"}, {0, -1, ""}};
  for (const Row& row : slices) {
    PackedItem* slice = keep(packed_list_slice(list, row.start, row.count, &references));
    EXPECT_EQ(describe(slice), row.shape) << row.start << "," << row.count;
    EXPECT_EQ(alloc_block_size(slice), (packed_list_count(slice, false) + 1) * sizeof(PackedItem));
    expect_references_match(slice, references, "slice");
  }
  PackedItem* with_number = keep(packed_list_append(list, 9, kPackedNumber, &references));
  EXPECT_EQ(describe(with_number), "1 'b' (2) 4 9");
  // A handed-in string and list stay the caller's: freeing them afterwards is safe.
  char* text = static_cast<char*>(crt::malloc(4));
  std::memcpy(text, "xyz", 4);
  PackedItem* with_text = keep(packed_list_append(with_number, platform::address_of(text), kPackedString, &references));
  crt::free(text);
  ReferenceNode* own = nullptr;
  PackedItem* nested = packed_list_from_text("[7,{q}]", &own);
  PackedItem* with_list = keep(packed_list_append(with_text, platform::address_of(nested), kPackedList, &references));
  packed_list_free(nested, &own);
  EXPECT_EQ(describe(with_list), "1 'b' (2) 4 9 'xyz' (7 'q')");
  expect_references_match(with_list, references, "append");
  PackedItem* unchanged = keep(packed_list_append(list, 5, 0, &references));
  EXPECT_EQ(describe(unchanged), describe(list)) << "kind 0 appends nothing";
  EXPECT_EQ(describe(keep(packed_list_append(nullptr, 1, kPackedNumber, &references))), "1");
}

TEST_F(PackedList, ItemEditsFreeTheOldContent) {
  PackedItem* list = parse("[{old},[1,{x}],3]");
  EXPECT_EQ(node_count(references), 3u);
  packed_item_set_value(&list[0], nullptr, 2.5, &references);
  packed_item_set_value(&list[1], "new", 0, &references);
  EXPECT_EQ(node_count(references), 1u) << "the old string, nested list and its string are freed";
  PackedItem* other = parse("[8,{y}]");
  packed_item_set_list(&list[2], other, &references);
  EXPECT_EQ(describe(list), "2.5 'new' (8 'y')");
  expect_references_match(list, references, "edits");
}

TEST_F(PackedList, TypedMemoryStopsAtTheElementCount) {
  struct Row {
    int32_t type_code;
    uint32_t element_count;
    uint32_t start;  // element the write begins at
    uint32_t written;
  } rows[] = {{-3, 3, 0, 3}, {-3, 8, 0, 5}, {-8, 4, 1, 3}, {-2, 2, 0, 2}, {-3, 3, 3, 0}, {-1, 0, 0, 0}};
  PackedItem* list = parse("[1,[2,[3]],{s},5]");
  for (const Row& row : rows) {
    Variable* array = make(locals, "ARRAY%");
    uint32_t size = type_size(row.type_code);
    std::vector<uint8_t> memory((row.element_count + 2) * size + 8, 0xEE);
    array->type_code = row.type_code;
    array->element_count = row.element_count;
    array->data = memory.data();
    uint8_t* write = memory.data() + row.start * size;
    EXPECT_EQ(packed_list_to_typed_memory(list, &write, array), row.written) << row.type_code;
    EXPECT_EQ(write, memory.data() + (row.start + row.written) * size) << row.type_code;
    for (size_t i = (row.start + row.written) * size; i < memory.size(); ++i)
      ASSERT_EQ(memory[i], 0xEE) << "type " << row.type_code << ": byte " << i << " past the written values";
    if (row.type_code == -3 && row.written == 5) {
      int32_t values[5];
      std::memcpy(values, memory.data(), sizeof values);
      EXPECT_EQ(values[0], 1);
      EXPECT_EQ(values[2], 3) << "nested lists are flattened";
      EXPECT_EQ(static_cast<uint32_t>(values[3]), platform::address_of(packed_item_block(&list[2])));
      EXPECT_EQ(values[4], 5);
    }
    array->data = nullptr;
    array->element_count = 0;
  }
}

TEST_F(PackedList, VariablesOwnTheirCopies) {
  PackedItem* list = parse("[1,{two},[3,{four}]]");
  Variable* first = make(locals, "FIRST$");
  Variable* second = make(locals, "SECOND$");
  variable_store_packed_list(first, list);
  EXPECT_EQ(first->flags & (kVariableOwnsData | kVariablePackedList), kVariableOwnsData | kVariablePackedList);
  expect_references_match(static_cast<PackedItem*>(first->data), first->references, "stored");
  variable_copy_value(second, first, nullptr, 0, false);
  ASSERT_NE(second->data, first->data);
  EXPECT_EQ(describe(static_cast<PackedItem*>(second->data)), "1 'two' (3 'four')");
  // Storing a variable's own list into it keeps it whole.
  variable_store_packed_list(first, first->data);
  EXPECT_EQ(describe(static_cast<PackedItem*>(first->data)), "1 'two' (3 'four')");
  // Replacing an item of a variable through its typed slot frees the old nested list.
  auto* items = static_cast<PackedItem*>(second->data);
  store_typed_value(second, &items[2], 8, nullptr, 6);
  EXPECT_EQ(describe(items), "1 'two' 6");
  EXPECT_EQ(node_count(second->references), 1u);
  variable_clear_value(context, first, false, false);
  variable_clear_value(context, second, false, false);
  EXPECT_EQ(first->references, nullptr);
}

}  // namespace
