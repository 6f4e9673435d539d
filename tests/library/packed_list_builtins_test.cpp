// The packed-list built-ins: counts, item kinds and the new lists madd, mdel and mmid
// make, with the argument's list left as it was.
#include <gtest/gtest.h>

#include <string>

#include "builtin_fixture.h"
#include "foundation/packed_list.h"
#include "foundation/value_ownership.h"
#include "library/lists/packed_list_builtins.h"
#include "platform/kernel/memory.h"

namespace {

class PackedListBuiltinsTest : public BuiltinTest {
 protected:
  PackedListBuiltinsTest() : BuiltinTest(register_packed_list_builtins) {}
  void TearDown() override {
    for (auto& [list, references] : made_) packed_list_free(list, &references);
    BuiltinTest::TearDown();
  }

  // A packed list parsed from its text form, freed at the end.
  PackedItem* literal(const char* text) {
    ReferenceNode* references = nullptr;
    PackedItem* list = packed_list_from_text(text, &references);
    made_.push_back({list, references});
    return list;
  }
  void push_list(PackedItem* list) {
    push_text(reinterpret_cast<const char*>(list));
    context->stack_top->flags |= kCellList;
  }
  static std::string text_of(const PackedItem* list) {
    std::string text(packed_list_text_length(list), '\0');
    packed_list_to_text(list, text.data(), true);
    return text.c_str();
  }
  // The packed list on top, taken with its reference list (freed at the end).
  PackedItem* pop_list() {
    ValueCell* cell = stack_pop(context);
    EXPECT_TRUE(cell->flags & kCellList);
    auto* list = static_cast<PackedItem*>(cell->text);
    refs_.push_back(cell->references);
    cell->references = nullptr;
    return list;
  }
  ~PackedListBuiltinsTest() override {
    for (ReferenceNode* references : refs_) reference_list_free(references);
  }

  std::vector<std::pair<PackedItem*, ReferenceNode*>> made_;
  std::vector<ReferenceNode*> refs_;
};

TEST_F(PackedListBuiltinsTest, CountsItemsWithOrWithoutNestedOnes) {
  PackedItem* list = literal("[1,{abc},[3,4]]");
  struct Row {
    int recursive;
    double expected;
  } rows[] = {{0, 3}, {1, 4}};
  for (const Row& row : rows) {
    push_list(list);
    push(row.recursive);
    call("mcount");
    EXPECT_EQ(pop_number(), row.expected) << row.recursive;
  }
  push_text("[1,2]");
  push(0);
  call("mcount");
  EXPECT_EQ(pop_number(), 0) << "a plain text is no packed list";
}

TEST_F(PackedListBuiltinsTest, TypeReadsTheKindOfTheItemAtAnAddress) {
  PackedItem* list = literal("[1,{abc},[3]]");
  for (int index = 0; index < 4; ++index) {
    push(platform::address_of(&list[index]));
    call("mtype");
    EXPECT_EQ(pop_number(), index + 1) << index;
  }
}

TEST_F(PackedListBuiltinsTest, AddGivesALongerListAndLeavesTheArgument) {
  PackedItem* list = literal("[1,{abc}]");
  push_list(list);
  push_text("x");
  call("madd");
  PackedItem* result = pop_list();
  EXPECT_EQ(text_of(result), "[1,{abc},{x}]");
  EXPECT_EQ(result[2].kind, kPackedString);
  EXPECT_EQ(text_of(list), "[1,{abc}]");
  push_list(list);
  push_list(literal("[7,8]"));
  call("madd");
  EXPECT_EQ(text_of(pop_list()), "[1,{abc},[7,8]]");
  push_list(list);
  push(2.5);
  call("madd");
  EXPECT_EQ(text_of(pop_list()), "[1,{abc},2.5]");
}

TEST_F(PackedListBuiltinsTest, DeleteAndMidMakeNewListsOnly) {
  PackedItem* list = literal("[1,{two},3,{four},5]");
  struct Row {
    const char* name;
    int start;
    int count;
    const char* expected;
  } rows[] = {{"mdel", 1, 2, "[1,{four},5]"},
              {"mdel", 0, 100, "[]"},
              {"mmid", 1, 3, "[{two},3,{four}]"},
              {"mmid", 4, 9, "[5]"}};
  for (const Row& row : rows) {
    push_list(list);
    push(row.start);
    push(row.count);
    call(row.name);
    EXPECT_EQ(text_of(pop_list()), row.expected) << row.name << " " << row.start;
    EXPECT_EQ(text_of(list), "[1,{two},3,{four},5]") << row.name << " changed its argument";
  }
}

}  // namespace
