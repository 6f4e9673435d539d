// Value ownership: kind codes, reference lists, copies that duplicate what they own and
// releases that free each block exactly once (the sanitizer build checks the latter).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/list_elements.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "variable_fixture.h"

namespace {

using ValueOwnership = VariableTest;

TEST_F(ValueOwnership, KindCodes) {
  Variable owner{};
  char text[] = "t";
  uint64_t slot = 0;  // room for the 8-byte read of the number member
  struct Row {
    const char* what;
    uint32_t flags;
    void* data;
    uint32_t element_count;
    Variable* owner;
    int32_t type_code;
    int32_t kind;
  } rows[] = {
      {"list", kVariableList | kVariableStructure, nullptr, 0, nullptr, 0, 4},
      {"structure", kVariableStructure, text, 0, nullptr, 0, 3},
      {"packed list", kVariablePackedList, text, 0, nullptr, 0, 5},
      {"adopted", kVariableAdopted, text, 0, nullptr, 0, 6},
      {"number", 0, nullptr, 0, nullptr, 0, 0},
      {"text", 0, text, 0, nullptr, 0, 1},
      {"wide text", kVariableWideText, text, 0, nullptr, 0, 7},
      {"array", 0, text, 4, nullptr, -4, 2},
      {"array of structures", kVariableStructure, text, 4, nullptr, 16, 8},
      {"fixed text member", 0, text, 0, &owner, 8, 1},
      {"owned pointer member", 0, &slot, 0, &owner, -4, 9},
      {"number member", 0, &slot, 0, &owner, -8, 0},
  };
  char* block = crt::_strdup("owned");
  slot = platform::address_of(block);
  reference_list_add(&owner.references, block, &slot, -4);
  for (const Row& row : rows) {
    Variable variable{};
    variable.flags = row.flags;
    variable.data = row.data;
    variable.element_count = row.element_count;
    variable.owner = row.owner;
    variable.type_code = row.type_code;
    EXPECT_EQ(variable_kind(&variable), row.kind) << row.what;
  }
  Variable list{};
  list.flags = kVariableList;
  list.data = text;
  EXPECT_EQ(variable_value_kind(&list), 1) << "the value kind ignores the list bit";
  reference_list_free(owner.references);
}

TEST_F(ValueOwnership, DropsFreeOnlyWhatIsReferencedUnlessAsked) {
  Variable* variable = make(locals, "R$");
  char* held = crt::_strdup("held");
  char* slot_a = reinterpret_cast<char*>(16);
  reference_list_add(&variable->references, held, slot_a, -4);
  char* loose = crt::_strdup("loose");
  reference_drop_block(variable, loose, nullptr, false);
  EXPECT_STREQ(loose, "loose") << "a block no node holds is left alone";
  reference_drop_block(variable, loose, nullptr, true);  // freed: the sanitizer would see a leak otherwise
  ASSERT_NE(variable->references, nullptr);
  reference_drop_slot(variable, slot_a, false);
  EXPECT_EQ(variable->references, nullptr);

  Variable structure{};
  Variable member{};
  member.owner = &structure;
  char* through_member = crt::_strdup("member");
  variable_add_reference(&member, through_member, nullptr, -8);
  EXPECT_EQ(member.references, nullptr) << "a member's blocks live on its owner";
  ASSERT_NE(structure.references, nullptr);
  reference_list_drop_block(&structure.references, through_member, false);
  EXPECT_EQ(structure.references, nullptr);
}

// A structure of one -4 pointer field (offset 0) and one -8 number (offset 4).
Variable* make_structure(Variable* list, const char* name) {
  Variable* structure = create_variable(list, name, false);
  structure->flags = kVariableStructure | kVariableOwnsData;
  structure->data = crt::calloc(1, 12);
  std::string base = std::string(name).substr(0, std::strlen(name) - 1);
  Variable* pointer = create_variable(list, (base + ".P$").c_str(), false);
  pointer->type_code = -4;
  pointer->member_offset = 0;
  Variable* number = create_variable(list, (base + ".N%").c_str(), false);
  number->type_code = -8;
  number->member_offset = 4;
  member_list_add(structure, pointer);
  member_list_add(structure, number);
  relink_struct_members(structure);
  return structure;
}

TEST_F(ValueOwnership, StructureCopyOwnsItsOwnStrings) {
  Variable* source = make_structure(locals, "SRC$");
  Variable* pointer = find_variable("SRC.P$");
  ASSERT_NE(pointer, nullptr);
  EXPECT_EQ(pointer->owner, source);
  set_variable(pointer, const_cast<char*>("text"), 0, nullptr, 5);
  set_variable(find_variable("SRC.N%"), nullptr, 2.5, nullptr, -1);

  Variable* copy = make(locals, "DST$");
  variable_copy_value(copy, source, nullptr, 0, false);
  ASSERT_NE(copy->data, nullptr);
  ASSERT_NE(copy->data, source->data);
  Variable* copied_pointer = find_variable("DST.P$");
  Variable* copied_number = find_variable("DST.N%");
  ASSERT_NE(copied_pointer, nullptr);
  ASSERT_NE(copied_number, nullptr);
  void* source_text;
  void* copy_text;
  double number;
  get_variable_value(pointer, &source_text, &number, nullptr);
  get_variable_value(copied_pointer, &copy_text, &number, nullptr);
  ASSERT_NE(copy_text, nullptr);
  EXPECT_NE(copy_text, source_text) << "the copy has its own string";
  EXPECT_STREQ(static_cast<char*>(copy_text), "text");
  uint32_t field;
  std::memcpy(&field, copy->data, 4);
  EXPECT_EQ(field, platform::address_of(copy_text)) << "its address sits in the copy's field";
  get_variable_value(copied_number, &copy_text, &number, nullptr);
  EXPECT_EQ(number, 2.5);

  // Overwriting the source's string leaves the copy's alone.
  set_variable(pointer, const_cast<char*>("else"), 0, nullptr, 5);
  get_variable_value(copied_pointer, &copy_text, &number, nullptr);
  EXPECT_STREQ(static_cast<char*>(copy_text), "text");
}

TEST_F(ValueOwnership, ReleasingAListFreesEveryElement) {
  Variable* list = make(locals, "L$");
  list->flags = kVariableList;
  ListElement* chain = nullptr;
  for (const char* text : {"a", "b", "c"}) {
    chain = list_element_append(chain);
    chain->data = crt::_strdup(text);
    chain->flags = kVariableOwnsData;
  }
  list->cursor = list_element_first(chain)->next;
  variable_load_from_element(list);
  EXPECT_STREQ(static_cast<char*>(list->data), "b");
  variable_release(context, list, false, false);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_EQ(list->data, nullptr);
  EXPECT_EQ(list->checksum, 0u);

  // Kept, the list and the shown element's data survive a value release.
  list->cursor = list_element_append(nullptr);
  list->cursor->data = crt::_strdup("kept");
  list->cursor->flags = kVariableOwnsData;
  variable_load_from_element(list);
  Variable* target = make(locals, "T$");
  list->alias = target;
  EXPECT_EQ(variable_release(context, list, true, true), target);
  EXPECT_EQ(list->alias, nullptr);
  EXPECT_STREQ(static_cast<char*>(list->cursor->data), "kept");
}

TEST_F(ValueOwnership, ListCopyByValueIsIndependent) {
  Variable* source = make(locals, "SRC$");
  source->flags = kVariableList;
  ListElement* chain = nullptr;
  for (double number : {1.0, 2.0, 3.0}) {
    chain = list_element_append(chain);
    chain->number = number;
    chain->data = crt::_strdup("x");
    chain->flags = kVariableOwnsData;
  }
  source->cursor = list_element_first(chain)->next;
  variable_load_from_element(source);
  Variable* copy = make(locals, "DST$");
  variable_copy_value(copy, source, nullptr, 0, false);
  ASSERT_TRUE(copy->flags & kVariableList);
  ASSERT_EQ(list_element_count(copy->cursor), 3u);
  EXPECT_EQ(list_element_count_from(copy->cursor), 1) << "the cursor index is kept";
  EXPECT_EQ(copy->number, 2);
  for (ListElement *a = list_element_first(source->cursor), *b = list_element_first(copy->cursor); a && b;
       a = a->next, b = b->next) {
    EXPECT_NE(a->data, b->data);
    EXPECT_EQ(a->number, b->number);
  }

  Variable* range = make(locals, "PART$");
  variable_copy_list(range, source, 0, false, 1, 2);
  EXPECT_EQ(list_element_count(range->cursor), 2u);
  EXPECT_EQ(list_element_first(range->cursor)->number, 2);

  list_copy_suppressed = 1;
  Variable* value_only = make(locals, "ONE$");
  variable_copy_value(value_only, source, nullptr, 0, false);
  EXPECT_FALSE(value_only->flags & kVariableList) << "parameter binding copies only the shown value";
  EXPECT_STREQ(static_cast<char*>(value_only->data), "x");
  EXPECT_NE(value_only->data, source->data);
}

// A list copy owns copies of the exact bytes: all of a block we allocated, even without a
// terminator or of size zero, and a text from elsewhere with its terminator.
TEST_F(ValueOwnership, ListCopyDuplicatesEachBlockWhole) {
  char* foreign = static_cast<char*>(std::malloc(8));
  std::strcpy(foreign, "foreign");
  char* binary = static_cast<char*>(crt::malloc(3));
  std::memcpy(binary, "abc", 3);
  const struct {
    void* data;
    std::string bytes;
  } kBlocks[] = {{crt::_strdup("text"), std::string("text", 5)},
                 {binary, "abc"},
                 {crt::malloc(0), ""},
                 {foreign, std::string("foreign", 8)}};
  Variable* source = make(locals, "SRC$");
  source->flags = kVariableList;
  ListElement* chain = nullptr;
  for (const auto& block : kBlocks) {
    chain = list_element_append(chain);
    chain->data = block.data;
    chain->flags = kVariableOwnsData;
  }
  source->cursor = list_element_first(chain);
  Variable* copy = make(locals, "DST$");
  variable_copy_list(copy, source, 0, false, -1, -1);
  ListElement* element = list_element_first(copy->cursor);
  for (const auto& block : kBlocks) {
    ASSERT_NE(element, nullptr);
    ASSERT_NE(element->data, block.data);
    uint32_t size = 0;
    ASSERT_TRUE(alloc_block_known(element->data, &size));
    EXPECT_EQ(std::string(static_cast<char*>(element->data), size), block.bytes);
    element = element->next;
  }
  chain->data = nullptr;  // the foreign text is not the list's to free
  chain->flags = 0;
  std::free(foreign);
}

TEST_F(ValueOwnership, ByReferenceCopies) {
  Variable* source = make(locals, "S$");
  set_variable(source, const_cast<char*>("source"), 0, nullptr, 7);
  Variable* alias = make(locals, "A$");
  variable_copy_value(alias, source, nullptr, 1, true);
  EXPECT_EQ(alias->alias, source);
  stack_push_variable("A$");
  EXPECT_STREQ(static_cast<char*>(context->stack_top->text), "source") << "reads go through the source";

  Variable* array = make(locals, "ARR$");
  array->type_code = -4;
  array->element_count = 3;
  array->dims[0] = 3;
  array->dim_count = 1;
  array->data = crt::calloc(3, 4);
  array->flags = kVariableOwnsData;
  static_cast<int32_t*>(array->data)[2] = 77;
  Variable* shared = make(locals, "SH$");
  variable_copy_value(shared, array, nullptr, 1, false);
  EXPECT_EQ(shared->data, array->data) << "by reference without keep shares the data";
  EXPECT_EQ(shared->flags & (kVariableOwnsData | kVariableAdopted), kVariableAdopted);
  Variable* copied = make(locals, "CP$");
  variable_copy_value(copied, array, nullptr, 0, false);
  ASSERT_NE(copied->data, array->data);
  EXPECT_EQ(static_cast<int32_t*>(copied->data)[2], 77);
  EXPECT_EQ(copied->element_count, 3u);
  EXPECT_EQ(alloc_block_size(copied->data), 12u);
}

TEST_F(ValueOwnership, DeepListReleaseLeavesReusableRecords) {
  Variable* text = make(locals, "T$");
  set_variable(text, const_cast<char*>("text"), 0, nullptr, 5);
  Variable* list = make(locals, "L$");
  list->flags = kVariableList;
  list->cursor = list_element_append(nullptr);
  list->cursor->data = crt::_strdup("element");
  list->cursor->flags = kVariableOwnsData;
  variable_list_release(context, locals, true);
  EXPECT_EQ(text->name, nullptr);
  EXPECT_EQ(text->data, nullptr);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_EQ(create_variable(locals, "NEW$", false), text);

  // The shallow form clears values after the head and keeps names.
  set_variable(text, const_cast<char*>("again"), 1, nullptr, 6);
  variable_list_release(context, locals, false);
  EXPECT_STREQ(text->name, "NEW$");
  EXPECT_EQ(text->data, nullptr);
}

TEST_F(ValueOwnership, ListFreeReturnsEachRecordWhereItCameFrom) {
  // '%' records come from the C allocator, the others from the program heap; one list
  // can hold both and one routine frees it.
  Variable* head = variable_record_allocate(context, false);
  create_variable(head, "A$", false);
  Variable* percent = create_variable(head, "B%", false);
  EXPECT_EQ(percent->allocation, kVariableOnCAllocator);
  create_variable(head, "C$", false);
  variable_list_free(context, head);  // mismatched frees show under the sanitizer
}

TEST_F(ValueOwnership, ObjectsGoThroughTheirService) {
  static int destroyed;
  destroyed = 0;
  ownership_services.object_destroy = [](ProgramContext*, Variable* variable) {
    ++destroyed;
    crt::free(variable->data);
    variable->data = nullptr;
  };
  Variable* owner = make(locals, "O$");
  owner->flags = kVariableObject | kVariableOwnsData;
  owner->data = crt::_strdup("object");
  Variable* holder = make(locals, "H$");
  holder->flags = kVariableObject;
  holder->data = crt::_strdup("CLASSNAME");
  variable_list_destroy_objects(context, locals);
  EXPECT_EQ(destroyed, 1) << "only owners destroy";
  owner->flags = 0;
  variable_release(context, holder, false, false);
  EXPECT_EQ(holder->data, nullptr) << "a holder frees only its class-name copy";
  EXPECT_FALSE(holder->flags & kVariableObject);
}

TEST_F(ValueOwnership, ListTextLength) {
  ListElement* chain = list_element_append(nullptr);
  chain->data = crt::_strdup("abcd");
  chain->flags = kVariableOwnsData;
  ListElement* second = list_element_append(chain);
  second->number = 3.5;
  EXPECT_EQ(list_text_length(second), 5u + 4u) << "a block's size, then \"3.5\" and one";
  EXPECT_EQ(list_text_length(nullptr), 0u);
  list_element_chain_free(chain, true);
}

}  // namespace
