// Objects: construction runs the class's initialisation, copies by value make a second
// object (nested objects included), copies by reference share one, and every object is
// destroyed exactly once with its members visible to its destructor.
#include "foundation/objects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/hashes.h"
#include "foundation/packed_list.h"
#include "foundation/value_ownership.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "variable_fixture.h"

namespace {

// Stand-ins for compiled methods: the caller below tells them apart by address.
InstructionNode init_point, destroy_point, init_box, destroy_box;

struct Destroyed {
  std::string class_name;
  Variable* record;
  double x;  // the member X% as the destructor saw it; -1 without one
};
std::vector<Destroyed> destroyed;
std::vector<Variable*> initialised;

char* text_block(const char* text) {
  auto* block = static_cast<char*>(crt::malloc(std::strlen(text) + 1));
  std::memcpy(block, text, std::strlen(text) + 1);
  return block;
}

// Makes variable hold a new object of the class, as NEW does.
void new_object(Variable* variable, const char* class_name) {
  Variable prototype{};
  prototype.data = text_block(class_name);
  prototype.flags = kVariableObject;
  prototype.class_hash = hash_name_text(class_name);
  object_construct(variable, &prototype, 0, false);
  crt::free(prototype.data);
}

Variable* member(Variable* object, const char* name) {
  Variable* record = object_record(object);
  return record ? find_variable_in_list(record->next, name) : nullptr;
}

InstructionNode* lookup(ProgramContext*, const char* class_name, const char* signature) {
  bool init = std::strcmp(signature, "__INIT(0,0)") == 0;
  bool destroy = std::strcmp(signature, "DESTROY(0,0)") == 0;
  if (std::strcmp(class_name, "POINT") == 0) return init ? &init_point : destroy ? &destroy_point : nullptr;
  if (std::strcmp(class_name, "BOX") == 0) return init ? &init_box : destroy ? &destroy_box : nullptr;
  return nullptr;
}

void run_procedure() {
  Variable* self = call_object;
  if (call_procedure == &init_point) {
    initialised.push_back(self);
    create_variable(self, "X%", false);
    set_variable(create_variable(self, "NAME$", false), const_cast<char*>("point"), 0, nullptr, 6);
  } else if (call_procedure == &init_box) {
    initialised.push_back(self);
    new_object(create_variable(self, "CORNER$", false), "POINT");
    Variable* tags = create_variable(self, "TAGS$", false);
    ReferenceNode* references = nullptr;
    PackedItem* list = packed_list_from_text("[1,{red},[2,{blue}]]", &references);
    variable_store_packed_list(tags, list);
    packed_list_free(list, &references);
  } else if (call_procedure == &destroy_point || call_procedure == &destroy_box) {
    Variable* x = find_variable_in_list(self->next, "X%");
    destroyed.push_back({self->name ? self->name : "", self, x ? x->number : -1});
  }
}

class Objects : public VariableTest {
 protected:
  void SetUp() override {
    VariableTest::SetUp();
    ownership_services = foundation_ownership_services;
    class_method_lookup = lookup;
    procedure_caller = run_procedure;
    destroyed.clear();
    initialised.clear();
  }
  void TearDown() override {
    // Released object records stay where they are (a handle may still name one); the
    // records of '%' members come from the C allocator, so the test returns them.
    variable_list_release(context, locals, true);
    for (Variable* record : initialised) variable_list_free(context, record);
    VariableTest::TearDown();
    class_method_lookup = nullptr;
  }
  // How often each record's destructor ran; every one must be 1 at most.
  int destructions_of(Variable* record) const {
    int count = 0;
    for (const Destroyed& entry : destroyed) count += entry.record == record;
    return count;
  }
};

TEST_F(Objects, ConstructionRunsTheInitialisation) {
  Variable* point = make(locals, "P$");
  new_object(point, "POINT");
  Variable* record = object_record(point);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(initialised, std::vector<Variable*>{record});
  EXPECT_EQ(point->flags & (kVariableObject | kVariableOwnsData), kVariableObject | kVariableOwnsData);
  EXPECT_STREQ(static_cast<const char*>(point->data), "POINT");
  EXPECT_STREQ(record->name, "POINT");
  EXPECT_EQ(point->class_hash, hash_name_text("POINT"));
  ASSERT_NE(member(point, "NAME$"), nullptr);
  EXPECT_STREQ(static_cast<const char*>(member(point, "NAME$")->data), "point");
  // A class without methods still makes an object.
  Variable* plain = make(locals, "Q$");
  new_object(plain, "PLAIN");
  EXPECT_NE(object_record(plain), nullptr);
  EXPECT_EQ(initialised.size(), 1u);
}

TEST_F(Objects, CopyByValueMakesASecondObject) {
  Variable* first = make(locals, "A$");
  Variable* second = make(locals, "B$");
  new_object(first, "POINT");
  member(first, "X%")->number = 5;
  set_variable(member(first, "NAME$"), const_cast<char*>("first"), 0, nullptr, 6);
  create_variable(object_record(first), "EXTRA%", false)->number = 1;
  variable_copy_value(second, first, nullptr, 0, false);
  ASSERT_NE(object_record(second), nullptr);
  EXPECT_NE(object_record(second), object_record(first));
  EXPECT_EQ(initialised.size(), 2u);
  EXPECT_EQ(second->flags & (kVariableObject | kVariableOwnsData), kVariableObject | kVariableOwnsData);
  EXPECT_NE(second->data, first->data);
  EXPECT_EQ(member(second, "X%")->number, 5);
  EXPECT_STREQ(static_cast<const char*>(member(second, "NAME$")->data), "first");
  EXPECT_NE(member(second, "NAME$")->data, member(first, "NAME$")->data);
  EXPECT_EQ(member(second, "EXTRA%"), nullptr) << "only members both objects have are copied";
  Variable* first_record = object_record(first);
  variable_clear_value(context, first, false, false);
  EXPECT_EQ(destructions_of(first_record), 1);
  EXPECT_EQ(first->data, nullptr);
  EXPECT_EQ(first->number, 0);
  EXPECT_EQ(first->flags & kVariableObject, 0u);
  EXPECT_STREQ(static_cast<const char*>(member(second, "NAME$")->data), "first");
}

TEST_F(Objects, NestedObjectsAreCopiedAndDestroyedOnce) {
  Variable* first = make(locals, "A$");
  Variable* second = make(locals, "B$");
  new_object(first, "BOX");
  Variable* corner = member(first, "CORNER$");
  ASSERT_NE(corner, nullptr);
  member(corner, "X%")->number = 7;
  variable_copy_value(second, first, nullptr, 0, false);
  // The corner that the copy's own initialisation made gives way to the copied one.
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_EQ(destroyed[0].x, 0);
  destroyed.clear();
  Variable* copied_corner = member(second, "CORNER$");
  ASSERT_NE(copied_corner, nullptr);
  EXPECT_NE(object_record(copied_corner), object_record(corner)) << "the nested object is copied, not shared";
  EXPECT_EQ(member(copied_corner, "X%")->number, 7);
  EXPECT_NE(member(second, "TAGS$")->data, member(first, "TAGS$")->data);
  std::vector<Variable*> records = {object_record(first), object_record(corner), object_record(second),
                                    object_record(copied_corner)};
  variable_clear_value(context, first, false, false);
  // The box's destructor runs first; its members, the corner among them, go afterwards.
  ASSERT_EQ(destroyed.size(), 2u);
  EXPECT_EQ(destroyed[0].record, records[0]);
  EXPECT_EQ(destroyed[1].record, records[1]);
  EXPECT_EQ(destroyed[1].x, 7) << "a destructor sees its members";
  variable_clear_value(context, second, false, false);
  for (Variable* record : records) EXPECT_EQ(destructions_of(record), 1);
  EXPECT_EQ(destroyed.size(), 4u);
}

TEST_F(Objects, CopyByReferenceSharesOneObject) {
  Variable* owner = make(locals, "A$");
  Variable* reference = make(locals, "R$");
  Variable* other = make(locals, "S$");
  new_object(owner, "POINT");
  member(owner, "X%")->number = 3;
  Variable* record = object_record(owner);
  variable_copy_value(reference, owner, nullptr, 1, false);
  variable_copy_value(other, owner, nullptr, 1, false);
  EXPECT_EQ(object_record(reference), record);
  EXPECT_EQ(reference->flags & (kVariableObject | kVariableOwnsData), kVariableObject);
  EXPECT_EQ(initialised.size(), 1u) << "no second object";
  variable_clear_value(context, reference, false, false);
  EXPECT_TRUE(destroyed.empty()) << "letting go of a reference destroys nothing";
  EXPECT_EQ(member(owner, "X%")->number, 3);
  variable_clear_value(context, owner, false, false);
  EXPECT_EQ(destructions_of(record), 1);
  // Destroying through a holder of the gone object runs nothing again.
  object_destroy(context, other);
  EXPECT_EQ(destructions_of(record), 1);
  EXPECT_EQ(other->data, nullptr);
  // With keep the destination becomes an alias.
  Variable* aliased = make(locals, "T$");
  new_object(owner, "POINT");
  object_construct(aliased, owner, 1, true);
  EXPECT_EQ(aliased->alias, owner);
  aliased->alias = nullptr;
}

TEST_F(Objects, CopyingAMemberOverItsOwnerIsSafe) {
  Variable* box = make(locals, "A$");
  new_object(box, "BOX");
  member(member(box, "CORNER$"), "X%")->number = 9;
  Variable* box_record = object_record(box);
  // The box becomes a copy of its own corner: the copy is complete before the box goes.
  object_construct(box, member(box, "CORNER$"), 0, false);
  EXPECT_EQ(destructions_of(box_record), 1);
  EXPECT_STREQ(static_cast<const char*>(box->data), "POINT");
  EXPECT_EQ(member(box, "X%")->number, 9);
}

TEST_F(Objects, DestructorOfARecordAlone) {
  Variable* point = make(locals, "P$");
  new_object(point, "POINT");
  member(point, "X%")->number = 4;
  Variable* record = object_record(point);
  object_run_destructor(context, record);
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_EQ(destroyed[0].x, 4);
  Variable* self = find_variable_in_list(locals, "___SELF$");
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(object_record(self), record);
  EXPECT_EQ(self->flags & (kVariableObject | kVariableOwnsData), kVariableObject);
  EXPECT_EQ(record->name, nullptr) << "the members are released";
  // The variable that held it finds it gone and destroys nothing twice.
  variable_clear_value(context, point, false, false);
  EXPECT_EQ(destructions_of(record), 1);
}

}  // namespace
