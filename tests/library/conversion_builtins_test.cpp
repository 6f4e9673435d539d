// Array, list and matrix conversions: arrays to lists and back, texts joined from arrays,
// native string arrays, packed lists to arrays and text, and fill on every kind of target.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/packed_list.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "library/core/array_builtins.h"
#include "library/core/structure_builtins.h"
#include "library/lists/conversion_builtins.h"
#include "list_test_support.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"

namespace {

using Texts = std::vector<std::string>;

void register_units() {
  register_conversion_builtins();
  register_array_builtins();
  register_structure_builtins();
}

class ConversionBuiltins : public BuiltinTest {
 protected:
  ConversionBuiltins() : BuiltinTest(register_units) {}
  void TearDown() override {
    for (auto& [list, references] : matrices_) packed_list_free(list, &references);
    BuiltinTest::TearDown();
  }

  Variable* variable(const char* name) { return create_variable(locals, name, false); }

  // An array of the numbers, type -8.
  Variable* number_array(const char* name, const std::vector<double>& numbers) {
    Variable* array = variable(name);
    EXPECT_TRUE(dim_numeric(array, static_cast<uint32_t>(numbers.size())));
    std::memcpy(array->data, numbers.data(), numbers.size() * sizeof(double));
    return array;
  }
  // sdim(name, type, count).
  Variable* typed_array(const char* name, int32_t type, uint32_t count) {
    Variable* array = variable(name);
    mark();
    push_variable(array);
    push(type);
    push(count);
    call("sdim");
    return array;
  }
  double convert(const char* builtin, Variable* from, Variable* to) {
    push_variable(from);
    push_variable(to);
    call(builtin);
    return pop_number();
  }
  std::string join(Variable* array, const char* separator, const char* prefix, const char* suffix) {
    push_variable(array);
    push_text(separator);
    push_text(prefix);
    push_text(suffix);
    call("arraytostr");
    return pop_text();
  }
  PackedItem* matrix(const char* text) {
    ReferenceNode* references = nullptr;
    PackedItem* list = packed_list_from_text(text, &references);
    matrices_.push_back({list, references});
    return list;
  }
  void push_matrix(const PackedItem* list) {
    push_text(reinterpret_cast<const char*>(list));
    context->stack_top->flags |= kCellList;
  }
  static std::string matrix_text(const PackedItem* list) {
    std::string text(packed_list_text_length(list), '\0');
    packed_list_to_text(list, text.data(), true);
    return text.c_str();
  }

 private:
  std::vector<std::pair<PackedItem*, ReferenceNode*>> matrices_;
};

TEST_F(ConversionBuiltins, ArraytolistGivesOneElementPerArrayElement) {
  Variable* array = number_array("A%", {1, 2.5, -3, 0, 5});
  Variable* list = variable("L%");
  fill_text_list(list, {"old"});
  EXPECT_EQ(convert("arraytolist", array, list), 5);
  EXPECT_EQ(list_texts(list), (Texts{"1", "2.5", "-3", "0", "5"}));
  EXPECT_EQ(list->cursor, list_element_first(list->cursor));
  EXPECT_EQ(list->number, 1);

  Variable* empty = variable("E%");
  EXPECT_EQ(convert("arraytolist", empty, list), 0);
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(list->cursor, nullptr);
}

TEST_F(ConversionBuiltins, TextsGoToAnArrayAndBack) {
  Variable* list = variable("L%");
  fill_text_list(list, {"one", "two", "three"});
  Variable* array = variable("A%");
  EXPECT_EQ(convert("listtoarray", list, array), 3);
  ASSERT_EQ(array->element_count, 3u) << "dimensioned to the list";
  EXPECT_EQ(element_text(array, 1), "two");
  // Writing again replaces the copies the array owned.
  EXPECT_EQ(convert("listtoarray", list, array), 3);
  Variable* back = variable("B%");
  EXPECT_EQ(convert("arraytolist", array, back), 3);
  EXPECT_EQ(list_texts(back), (Texts{"one", "two", "three"}));
  // An array converted into itself reads its values before it becomes a list.
  EXPECT_EQ(convert("arraytolist", array, array), 3);
  EXPECT_EQ(list_texts(array), (Texts{"one", "two", "three"}));
}

TEST_F(ConversionBuiltins, ListtoarrayNeverWritesPastTheBlock) {
  Variable* list = variable("L%");
  fill_text_list(list, {"1", "2", "3"});
  struct Row {
    int32_t type;
    uint32_t count;
    double written;
  } rows[] = {{-8, 2, 2}, {-8, 5, 3}, {-4, 3, 1}, {-1, 7, 0}};
  for (const Row& row : rows) {
    Variable* array = typed_array("T%", row.type, row.count);
    EXPECT_EQ(convert("listtoarray", list, array), row.written) << row.type << " x " << row.count;
  }
  EXPECT_EQ(convert("listtoarray", variable("N%"), variable("A%")), 0) << "not a list";
}

TEST_F(ConversionBuiltins, TlisttoarrayStoresByTheArrayType) {
  Variable* list = variable("L%");
  fill_text_list(list, {"7", "300", "x"});
  Variable* bytes = typed_array("B%", -1, 3);
  EXPECT_EQ(convert("tlisttoarray", list, bytes), 3);
  const auto* data = static_cast<const uint8_t*>(bytes->data);
  EXPECT_EQ(data[0], 7);
  EXPECT_EQ(data[1], 300 & 0xFF);
  EXPECT_EQ(data[2], 0);
  Variable* ints = typed_array("I%", -4, 2);
  EXPECT_EQ(convert("tlisttoarray", list, ints), 2);
  EXPECT_EQ(element_text(ints, 1), "300");
}

TEST_F(ConversionBuiltins, ArraytostrJoinsElements) {
  EXPECT_EQ(join(number_array("A%", {1, 2}), ",", "[", "]"), "[1],[2]");
  EXPECT_EQ(join(number_array("C%", {0.5}), ",", "", ""), "0.5");
  EXPECT_EQ(join(variable("E%"), ",", "[", "]"), "");
  Variable* texts = variable("T%");
  Variable* list = variable("L%");
  fill_text_list(list, {"x", "y"});
  convert("listtoarray", list, texts);
  EXPECT_EQ(join(texts, " ", "<", ">"), "<x> <y>");
}

TEST_F(ConversionBuiltins, NativeStringArraysAreCopiedAndFreed) {
  char* strings[3] = {crt::_strdup("alpha"), crt::_strdup(""), crt::_strdup("gamma")};
  Variable* list = variable("L%");
  push(static_cast<double>(platform::address_of(strings)));
  push(3);
  push_variable(list);
  call("carraytolist");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(list_texts(list), (Texts{"alpha", "", "gamma"}));
  EXPECT_NE(list->cursor->data, strings[0]) << "copies";

  push(0);
  push(0);
  push_variable(list);
  call("carraytolist");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_TRUE(list->flags & kVariableList);
  EXPECT_EQ(list->cursor, nullptr);

  push(3);
  push(static_cast<double>(platform::address_of(strings)));
  call("freecarray");
  EXPECT_EQ(alloc_block_size(strings[0]), 0u) << "freed";
}

TEST_F(ConversionBuiltins, MatrixTextRoundTrip) {
  const char* texts[] = {"[1,{abc},[3,4]]", "[]", "[[1,[2]],-0.5]"};
  for (const char* text : texts) {
    PackedItem* m = matrix(text);
    push_matrix(m);
    call("matrixtostr");
    const std::string form = pop_text();
    EXPECT_EQ(form, matrix_text(m));
    push_text(form.c_str());
    call("strtomatrix");
    ValueCell* cell = stack_pop(context);
    ASSERT_TRUE(cell->flags & kCellList);
    EXPECT_EQ(matrix_text(static_cast<const PackedItem*>(cell->text)), form) << text;
    reference_list_free(cell->references);
    cell->references = nullptr;
  }
  push(5);
  call("matrixtostr");
  EXPECT_EQ(pop_text(), "");
}

TEST_F(ConversionBuiltins, MatrixtoarrayFlattensIntoTheArray) {
  Variable* array = variable("A%");
  push_matrix(matrix("[1,[2,3],4]"));
  push_variable(array);
  call("matrixtoarray");
  EXPECT_EQ(pop_number(), 4);
  ASSERT_EQ(array->element_count, 4u);
  EXPECT_EQ(join(array, ",", "", ""), "1,2,3,4");

  Variable* small = typed_array("S%", -2, 2);
  push_matrix(matrix("[7,8,9]"));
  push_variable(small);
  call("matrixtoarray");
  EXPECT_EQ(pop_number(), 2);
  EXPECT_EQ(join(small, ",", "", ""), "7,8");
}

TEST_F(ConversionBuiltins, FillStoresByTheTargetKind) {
  Variable* record = variable("R%");
  mark();
  push_variable(record);
  push_text("a");
  push_text("b");
  push_text("c");
  call("struct");
  mark();
  push_variable(record);
  push(1);
  push_text("x");
  call("fill");
  EXPECT_EQ(pop_number(), 2);
  void* text;
  double number;
  get_variable_value(find_variable("R.A%"), &text, &number, nullptr);
  EXPECT_EQ(number, 1);
  get_variable_value(find_variable("R.B%"), &text, &number, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(static_cast<const char*>(text), "x");

  Variable* array = number_array("A%", {0, 0});
  mark();
  push_variable(array);
  push(4);
  push(5);
  push(6);
  call("fill");
  EXPECT_EQ(pop_number(), 2) << "at most the elements";
  EXPECT_EQ(join(array, ",", "", ""), "4,5");

  Variable* list = variable("L%");
  fill_text_list(list, {"old", "older"});
  mark();
  push_variable(list);
  push_text("p");
  push(2);
  push_wide_text(u"w");
  call("fill");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(list_element_count(list->cursor), 3u) << "the old elements are gone";
  EXPECT_EQ(shown_text(list), "p");
  ListElement* wide = list_element_first(list->cursor)->next->next;
  EXPECT_TRUE(wide->flags & kVariableWideText);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(wide->data)), u"w");

  Variable* packed = variable("M%");
  variable_store_packed_list(packed, matrix("[1]"));
  mark();
  push_variable(packed);
  push(2);
  push_text("s");
  push_matrix(matrix("[3]"));
  call("fill");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(matrix_text(static_cast<const PackedItem*>(packed->data)), "[1,2,{s},[3]]");
}

TEST_F(ConversionBuiltins, FillWritesABlockWithinItsSize) {
  Variable* block = variable("B%");
  void* data = crt::calloc(1, 6);
  set_variable(block, data, 0, nullptr, -1);
  block->flags |= kVariableOwnsData;
  block->type_code = 6;
  mark();
  push_variable(block);
  push_text("abc");
  push(33);
  push_text("defgh");
  push_text("ignored");
  call("fill");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(std::string(static_cast<const char*>(block->data), 6), "abc!de");

  mark();
  push_variable(nullptr);
  call("fill");
  EXPECT_EQ(pop_number(), 0) << "no target";
}

}  // namespace
