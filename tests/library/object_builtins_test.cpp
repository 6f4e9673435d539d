// Object and class built-ins called as compiled code calls them, on a program whose
// class list is filled by hand (no class has methods here; the script tests run them).
#include "library/lists/object_builtins.h"

#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "foundation/objects.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "platform/platform.h"

namespace {

class ObjectBuiltinsTest : public BuiltinTest {
 protected:
  ObjectBuiltinsTest() : BuiltinTest(register_object_builtins) {}

  // Classes are pushed newest first, as the code generator does.
  void add_class(const char* name, const char* parent = nullptr) {
    NameNode* node = name_node_push(&context->classes);
    node->name = crt::_strdup(name);
    node->hash = hash_name_text(name);
    node->parent_name = parent ? crt::_strdup(parent) : nullptr;
  }

  Variable* variable(const char* name) { return create_variable(locals, name, true); }

  // newobject(variable, class, address).
  void new_object(Variable* target, const char* class_name, double address = 0) {
    push_variable(target);
    push_text(class_name);
    push(address);
    call("newobject");
  }

  double call_is(Variable* object, const char* class_name) {
    push_variable(object);
    push_text(class_name);
    call("is");
    return pop_number();
  }

  static Variable* record_of(const Variable* object) { return object_record(object); }
};

TEST_F(ObjectBuiltinsTest, NewObjectOwnsARecordOfTheUpperCaseClass) {
  add_class("POINT");
  Variable* point = variable("P$");
  new_object(point, "Point");
  EXPECT_EQ(point->flags & (kVariableObject | kVariableOwnsData), kVariableObject | kVariableOwnsData);
  EXPECT_EQ(point->class_hash, hash_name_text("POINT"));
  ASSERT_NE(record_of(point), nullptr);
  EXPECT_STREQ(record_of(point)->name, "POINT");
  push_variable(point);
  call("class");
  EXPECT_EQ(pop_text(), "POINT");
}

TEST_F(ObjectBuiltinsTest, NewObjectAtAnAddressIsAReferenceThatLeavesTheObjectAlive) {
  add_class("POINT");
  Variable* owner = variable("OWNER$");
  Variable* alias = variable("ALIAS$");
  new_object(owner, "point");
  Variable* record = record_of(owner);
  new_object(alias, "point", platform::address_of(record));
  EXPECT_EQ(record_of(alias), record);
  EXPECT_EQ(alias->flags & (kVariableObject | kVariableOwnsData), kVariableObject);
  variable_clear_value(context, alias, false, false);
  EXPECT_STREQ(record->name, "POINT") << "releasing a reference destroyed the object";
  EXPECT_EQ(owner->flags & kVariableObject, kVariableObject);
}

TEST_F(ObjectBuiltinsTest, CreatingAgainDestroysTheObjectTheVariableOwned) {
  add_class("POINT");
  Variable* point = variable("P$");
  push_text("POINT");
  push_variable(point);
  call("__class");
  Variable* first = record_of(point);
  ASSERT_NE(first, nullptr);
  push_text("POINT");
  push_variable(point);
  call("__class");
  EXPECT_NE(record_of(point), first);
  EXPECT_EQ(first->name, nullptr) << "the first object was not released";
}

TEST_F(ObjectBuiltinsTest, ClassOfAddressZeroIsTheNumberZero) {
  push(0);
  call("class");
  ValueCell* result = stack_pop(context);
  EXPECT_EQ(result->text, nullptr);
  EXPECT_EQ(result->number, 0);
}

TEST_F(ObjectBuiltinsTest, IsFollowsTheInheritanceChain) {
  add_class("A");
  add_class("B", "A");
  add_class("C", "B");
  add_class("OTHER");
  struct Case {
    const char* object_class;
    const char* asked;
    double expected;
  };
  const Case cases[] = {{"C", "a", 1}, {"C", "B", 1}, {"C", "c", 1},     {"B", "a", 1},
                        {"A", "a", 1}, {"A", "b", 0}, {"C", "other", 0}, {"B", "missing", 0}};
  for (const Case& row : cases) {
    Variable* object = variable("O$");
    new_object(object, row.object_class);
    EXPECT_EQ(call_is(object, row.asked), row.expected) << row.object_class << " is " << row.asked;
  }
}

TEST_F(ObjectBuiltinsTest, IsOfAnUnknownClassIsZeroEvenForACycle) {
  add_class("LOOP1", "LOOP2");
  add_class("LOOP2", "LOOP1");
  Variable* object = variable("O$");
  new_object(object, "LOOP1");
  EXPECT_EQ(call_is(object, "NOWHERE"), 0);
  Variable* stranger = variable("S$");
  new_object(stranger, "UNLISTED");
  EXPECT_EQ(call_is(stranger, "UNLISTED"), 0);
}

TEST_F(ObjectBuiltinsTest, ClassInheritNamesTheParentOrGivesZero) {
  add_class("SHAPE");
  add_class("SQUARE", "SHAPE");
  push_text("square");
  call("classinherit");
  EXPECT_EQ(pop_text(), "SHAPE");
  for (const char* name : {"shape", "unknown"}) {
    push_text(name);
    call("classinherit");
    ValueCell* result = stack_pop(context);
    EXPECT_EQ(result->text, nullptr) << name;
    EXPECT_EQ(result->number, 0) << name;
  }
}

TEST_F(ObjectBuiltinsTest, ClassesListsEveryClassNewestFirst) {
  add_class("ONE");
  add_class("TWO", "ONE");
  add_class("THREE");
  Variable* list = variable("L$");
  list->number = 42;
  push_variable(list);
  call("classes");
  EXPECT_EQ(pop_number(), 3);
  ASSERT_TRUE(list->flags & kVariableList);
  ASSERT_NE(list->cursor, nullptr);
  EXPECT_EQ(list->cursor->prev, nullptr) << "the cursor is not on the first element";
  std::vector<std::string> names;
  for (ListElement* element = list->cursor; element; element = element->next) {
    names.emplace_back(static_cast<const char*>(element->data));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"THREE", "TWO", "ONE"}));
  EXPECT_STREQ(static_cast<const char*>(list->data), "THREE");
}

TEST_F(ObjectBuiltinsTest, KindTestsCountTheMatchingArguments) {
  add_class("POINT");
  Variable* first = variable("A$");
  Variable* second = variable("B$");
  Variable* plain = variable("C%");
  new_object(first, "POINT");
  new_object(second, "POINT");
  plain->number = 7;
  mark();
  push_variable(first);
  push_variable(plain);
  push_variable(second);
  call("isobject");
  EXPECT_EQ(pop_number(), 2);

  Variable* array = variable("ARR$");
  array->element_count = 4;
  Variable* matrix = variable("M$");
  matrix->flags |= kVariablePackedList;
  Variable* structure = variable("S$");
  structure->flags |= kVariableStructure;
  struct Case {
    const char* builtin;
    Variable* match;
  };
  for (const Case& row : {Case{"isarray", array}, Case{"ismatrix", matrix}, Case{"isstruct", structure}}) {
    mark();
    push_variable(plain);
    push_variable(row.match);
    push_variable(first);
    call(row.builtin);
    EXPECT_EQ(pop_number(), 1) << row.builtin;
  }
  array->element_count = 0;
  matrix->flags &= ~kVariablePackedList;
  structure->flags &= ~kVariableStructure;
  EXPECT_EQ(context->mark_count, 0);
}

TEST_F(ObjectBuiltinsTest, CreateHookMissingDropsTheArgumentsAndThePair) {
  add_class("POINT");
  Variable* point = variable("P$");
  new_object(point, "POINT");
  push(99);  // a value of the enclosing expression, below the pair
  ValueCell* before = context->stack_top;
  const int32_t marks = context->mark_count;
  // As "#object Point p(1, 2)" compiles: __SAVESP2, the arguments, the object, __classcreate.
  mark();
  mark();
  push(1);
  push(2);
  push_variable(point);
  call("__classcreate");
  EXPECT_EQ(context->mark_count, marks);
  EXPECT_EQ(context->stack_top, before);
  EXPECT_EQ(pop_number(), 99);
}

TEST_F(ObjectBuiltinsTest, CreateHookWithoutMarksLeavesTheStackAlone) {
  Variable* point = variable("P$");
  push(5);
  push_variable(point);
  call("__classcreate");
  EXPECT_EQ(context->mark_count, 0);
  EXPECT_EQ(pop_number(), 5);
}

TEST_F(ObjectBuiltinsTest, FreeObjectReleasesVariablesAndAddresses) {
  add_class("POINT");
  Variable* by_variable = variable("A$");
  Variable* by_address = variable("B$");
  new_object(by_variable, "POINT");
  new_object(by_address, "POINT");
  Variable* first = record_of(by_variable);
  Variable* second = record_of(by_address);
  create_variable(first, "X$", true)->number = 3;
  mark();
  push_variable(by_variable);
  push(platform::address_of(second));
  call("freeobject");
  EXPECT_EQ(first->name, nullptr);
  EXPECT_EQ(first->next->name, nullptr) << "the member was not released";
  EXPECT_EQ(by_variable->flags & kVariableObject, 0u);
  EXPECT_EQ(by_variable->number, 0);
  EXPECT_EQ(second->name, nullptr);
  EXPECT_EQ(context->mark_count, 0);
}

TEST_F(ObjectBuiltinsTest, TypingAVariableMakesAReferenceOrKeepsOwnership) {
  add_class("SHAPE");
  add_class("SQUARE", "SHAPE");
  Variable* owner = variable("OWNER$");
  new_object(owner, "SQUARE");
  Variable* typed = variable("T$");
  typed->number = owner->number;
  push_text("square");
  push_variable(typed);
  call("__class2");
  EXPECT_EQ(typed->flags & (kVariableObject | kVariableOwnsData), kVariableObject);
  EXPECT_STREQ(static_cast<const char*>(typed->data), "SQUARE");
  EXPECT_EQ(typed->class_hash, hash_name_text("SQUARE"));
  EXPECT_EQ(record_of(typed), record_of(owner));

  // Seen as its parent class, the owner still owns (and later frees) its object.
  push_text("shape");
  push_variable(owner);
  call("__class2");
  EXPECT_EQ(owner->flags & (kVariableObject | kVariableOwnsData), kVariableObject | kVariableOwnsData);
  EXPECT_STREQ(static_cast<const char*>(owner->data), "SHAPE");
}

TEST_F(ObjectBuiltinsTest, TemporaryObjectNamesTheArgumentsObject) {
  add_class("POINT");
  Variable* point = variable("P$");
  new_object(point, "POINT");
  for (const char* builtin : {"__class3", "__class4", "__class4"}) {
    push_text("point");
    push_variable(point);
    call(builtin);
    Variable* temporary = find_variable_in_list(locals, "__STACKTEMPOBJECT$");
    ASSERT_NE(temporary, nullptr) << builtin;
    EXPECT_EQ(temporary->number, point->number) << builtin;
    EXPECT_EQ(temporary->flags & (kVariableObject | kVariableOwnsData), kVariableObject) << builtin;
    EXPECT_STREQ(static_cast<const char*>(temporary->data), "POINT") << builtin;
    EXPECT_EQ(context->stack_top, nullptr) << builtin << " pushed a value";
  }
}

TEST_F(ObjectBuiltinsTest, EvalScopeIsMadeAndFreed) {
  call("alloceval");
  const auto address = static_cast<uint32_t>(pop_number());
  Variable* head = platform::pointer_from<Variable>(address);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->name, nullptr);
  Variable* inside = create_variable(head, "TEXT$", true);
  set_variable(inside, const_cast<char*>("held"), 0, nullptr, 5);
  Variable* carrier = variable("SCOPE%");
  carrier->number = address;
  push_variable(carrier);
  call("freeeval");
  EXPECT_EQ(carrier->number, address) << "the variable carrying the scope was taken for the scope";
}

TEST_F(ObjectBuiltinsTest, IsPointerLooksOnTheOwnersReferenceList) {
  Variable* holder = variable("H$");
  void* block = crt::malloc(8);
  variable_add_reference(holder, block, nullptr, 0);
  Variable* member = variable("M$");
  member->owner = holder;
  struct Case {
    Variable* argument;
    double number;
    double expected;
  };
  const Case cases[] = {{holder, static_cast<double>(platform::address_of(block)), 1},
                        {member, static_cast<double>(platform::address_of(block)), 1},
                        {holder, static_cast<double>(platform::address_of(block)) + 1, 0},
                        {nullptr, static_cast<double>(platform::address_of(block)), 0}};
  for (const Case& row : cases) {
    stack_push_value(nullptr, row.number, row.argument, 0);
    call("ispointer");
    EXPECT_EQ(pop_number(), row.expected) << (row.argument ? row.argument->name : "no variable");
  }
  member->owner = nullptr;
  variable_free_references(holder);
}

}  // namespace
