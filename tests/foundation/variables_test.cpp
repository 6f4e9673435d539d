// Variables and scopes: creation rules, the lookup order over the scope lists and
// keys, dotted paths through structures, aliases and objects, declare-on-first-use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/hashes.h"
#include "foundation/live_handles.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "variable_fixture.h"

namespace {

using Variables = VariableTest;

TEST_F(Variables, NamesHashAsTheirUpperCase) {
  const char* rows[] = {"a$", "Counter%", "MIXED.Case$", "x", "", "\xe9t\xe9$"};
  for (const char* name : rows) {
    std::string upper = name;
    for (char& c : upper) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    EXPECT_EQ(variable_name_hash(name), hash_name_text(upper.c_str())) << name;
  }
}

TEST_F(Variables, OnlyTypedNamesAreCreated) {
  struct Row {
    const char* name;
    bool created;
    uint32_t dot_offset;
  } rows[] = {{"plain", false, 0}, {"", false, 0}, {"A$", true, 0}, {"n%", true, 0},
              {"rec.field$", true, 3}, {"LIST", false, 0}};
  for (const Row& row : rows) {
    Variable* variable = create_variable(locals, row.name, false);
    EXPECT_EQ(variable != nullptr, row.created) << row.name;
    if (!variable) continue;
    std::string upper = row.name;
    for (char& c : upper) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    EXPECT_STREQ(variable->name, upper.c_str()) << row.name;
    EXPECT_EQ(variable->dot_offset, row.dot_offset) << row.name;
    EXPECT_EQ(variable->scope, locals) << row.name;
  }
}

TEST_F(Variables, PercentNamesLiveInOneSharedCallocList) {
  Variable* first = create_variable(choose_creation_scope(locals, "N%"), "N%", false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(percent_variables, first) << "the first '%' variable heads the shared list";
  EXPECT_EQ(first->allocation, kVariableOnCAllocator);
  Variable* second = create_variable(choose_creation_scope(locals, "M%"), "M%", false);
  EXPECT_EQ(first->next, second);
  Variable* text = create_variable(locals, "T$", false);
  EXPECT_EQ(text->allocation, kVariableOnProgramHeap);

  // Another program sees the same '%' variables.
  ProgramContext* other = create_program_context();
  current_program = other;
  EXPECT_EQ(find_variable("n%"), first);
  current_program = context;
  program_context_release(other);
}

TEST_F(Variables, LookupOrderOverListsAndKeys) {
  Variable object_head{};
  set_scope_key(7);
  Variable* member = make(&object_head, "V$", 7);
  Variable* local = make(locals, "V$", 7);
  Variable* global_keyed = make(context->globals, "V$", 7);
  Variable* global_zero = make(context->globals, "V$", 0);
  Variable* percent = make(nullptr, "V%", 3);
  current_object = &object_head;

  EXPECT_EQ(find_variable("v$"), member) << "object members first";
  current_object = nullptr;
  EXPECT_EQ(find_variable("v$"), local) << "then locals of the key";
  current_scope = nullptr;
  EXPECT_EQ(find_variable("v$"), global_keyed) << "then globals of the key";
  set_scope_key(9);
  EXPECT_EQ(find_variable("v$"), global_zero) << "then globals of key 0";
  EXPECT_EQ(find_variable("V%"), percent) << "'%' variables match any key";
  current_scope = locals;
  EXPECT_EQ(find_variable("v$"), global_zero) << "a local of another key is not visible";
  object_head.next->prev = nullptr;
  free_variable_lists(context, {object_head.next});
}

TEST_F(Variables, SameNameInTwoBlocksIsTwoVariables) {
  set_scope_key(1);
  Variable* first = create_variable(locals, "X$", false);
  set_scope_key(2);
  Variable* second = create_variable(locals, "X$", false);
  ASSERT_NE(first, second);
  EXPECT_EQ(first->scope_key, 1u);
  EXPECT_EQ(second->scope_key, 2u);
  EXPECT_EQ(find_variable("X$"), second);
  set_scope_key(1);
  EXPECT_EQ(find_variable("X$"), first);
}

TEST_F(Variables, CreationGivesAnInstructionWithoutExtensionKeyZero) {
  // A node of the program's code, as compiled code lies in its program's pool.
  auto* node = static_cast<InstructionNode*>(pool_alloc(context->pool, 0, sizeof(InstructionNode)));
  ASSERT_NE(node, nullptr);
  current_instruction = node;
  Variable* variable = create_variable(locals, "K$", false);
  ASSERT_NE(node->extension, nullptr) << "a zeroed extension from the program's pool";
  EXPECT_TRUE(pool_holds(context->pool, node->extension));
  EXPECT_EQ(variable->scope_key, 0u);
  current_instruction = &instruction;
  set_scope_key(5);
  Variable* global = create_variable(context->globals, "G$", false);
  EXPECT_EQ(global->scope_key, 0u) << "the globals list does not take the current key";
}

TEST_F(Variables, GlobalPrefixSkipsLocals) {
  Variable* global = make(context->globals, "X$", 0);
  set_scope_key(4);
  make(locals, "X$", 4);
  EXPECT_NE(find_variable("X$"), global);
  EXPECT_EQ(find_variable("GLOBAL.X$"), global);
  EXPECT_EQ(find_variable("GLOBAL.NONE$"), nullptr);
}

TEST_F(Variables, DottedNamesThroughStructuresAndAliases) {
  Variable* structure = make(locals, "B$");
  structure->flags = kVariableStructure;
  Variable* field = make(locals, "B.M$");
  Variable* alias = make(locals, "A$");
  alias->alias = structure;
  EXPECT_EQ(find_dotted_variable(nullptr, "A.M$", 0), field) << "A$ stands for B$";
  EXPECT_EQ(find_variable("A.M$"), field);
  EXPECT_EQ(find_variable("A.OTHER$"), nullptr);
  EXPECT_EQ(find_variable("Q.M$"), nullptr) << "no prefix variable";
  make(locals, "N$");
  EXPECT_EQ(find_variable("N.M$"), nullptr) << "a plain value has no members";
}

TEST_F(Variables, ObjectMembersArePrivateOutsideTheirObject) {
  Variable members{};  // the head of the object's member list
  Variable* secret = make(&members, "SECRET$");
  Variable* open = make(&members, "OPEN$");
  open->flags |= kVariablePublic;
  Variable inner{};
  Variable* deep = make(&inner, "C$");
  deep->flags |= kVariablePublic;
  Variable* nested = make(&members, "B$");
  nested->flags = kVariableObject | kVariablePublic;
  nested->number = platform::address_of(&inner);
  Variable* object = make(locals, "O$");
  object->flags = kVariableObject;
  object->number = platform::address_of(&members);
  // Object records are the ones the runtime made; a number naming any other is not walked.
  Variable* fake = make(locals, "F$");
  fake->flags = kVariableObject;
  fake->number = platform::address_of(&members);
  EXPECT_EQ(find_variable("F.OPEN$"), nullptr) << "not yet a live record";
  live_handle_add(LiveHandleKind::ObjectRecord, &members, nullptr);
  live_handle_add(LiveHandleKind::ObjectRecord, &inner, nullptr);

  EXPECT_EQ(find_variable("O.OPEN$"), open);
  EXPECT_EQ(find_variable("O.B.C$"), deep) << "nested objects resolve recursively";
  unsigned before = runtime_error_count();
  EXPECT_EQ(find_variable("O.SECRET$"), nullptr);
  EXPECT_EQ(errors_since(before), 1u);
  EXPECT_STREQ(runtime_error_last_text(), "Variable 'SECRET$' cannot be accessed, it is private!");
  current_object = &members;
  EXPECT_EQ(find_variable("O.SECRET$"), secret) << "a method of the object reads it";
  current_object = nullptr;

  Variable* temporary = make(locals, "__STACKTEMPOBJECT$");
  temporary->flags = kVariableObject;
  temporary->number = platform::address_of(&members);
  EXPECT_EQ(find_variable(".OPEN$"), open) << "a bare .NAME$ reads the temporary object";

  for (Variable* head : {&members, &inner}) {
    live_handle_remove(LiveHandleKind::ObjectRecord, head);
    Variable* first = head->next;
    first->prev = nullptr;
    free_variable_lists(context, {first});
  }
}

TEST_F(Variables, DeclareOnFirstUse) {
  unsigned before = runtime_error_count();
  Variable* made = get_variable(locals, "Fresh$");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(errors_since(before), 0u);
  EXPECT_EQ(get_variable(locals, "untyped"), nullptr);

  context->explicit_declarations = 1;
  before = runtime_error_count();
  Variable* reported = get_variable(locals, "Undeclared$");
  EXPECT_NE(reported, nullptr) << "reported and still made";
  EXPECT_EQ(errors_since(before), 1u);
  EXPECT_STREQ(runtime_error_last_text(), "Variable Undeclared$ has not been defined!");
  no_explicit_check = 1;
  before = runtime_error_count();
  EXPECT_NE(get_variable(locals, "Quiet$"), nullptr);
  EXPECT_EQ(errors_since(before), 0u);
  EXPECT_EQ(no_explicit_check, 0) << "the switch is one-shot";
  context->explicit_declarations = 0;

  struct Row {
    const char* name;
    const char* message;
  } rows[] = {{"S.F$", "Variable S$ has not been defined!"},
              {"FRESH.F$", "Variable F$ has not been defined in struct or in object class FRESH$!"}};
  for (const Row& row : rows) {
    before = runtime_error_count();
    EXPECT_NE(get_variable(locals, row.name), nullptr) << row.name;
    EXPECT_EQ(errors_since(before), 1u) << row.name;
    EXPECT_STREQ(runtime_error_last_text(), row.message) << row.name;
  }
}

TEST_F(Variables, CreationScopePrefersWhereTheNameLives) {
  make(context->globals, "G$", 0);
  make(locals, "L$", 0);
  EXPECT_EQ(choose_creation_scope(locals, "G$"), context->globals);
  EXPECT_EQ(choose_creation_scope(locals, "L$"), locals);
  EXPECT_EQ(choose_creation_scope(locals, "New$"), locals);
  EXPECT_EQ(choose_creation_scope(locals, "none"), nullptr);
  make(nullptr, "P%");
  EXPECT_EQ(choose_creation_scope(locals, "Q%"), percent_variables);
}

TEST_F(Variables, ReuseClearsAndFreedRecordsAreTakenAgain) {
  Variable* first = make(locals, "A$");
  first->number = 5;
  EXPECT_EQ(create_variable(locals, "a$", true), first);
  EXPECT_EQ(first->number, 0) << "reuse clears the value";

  Variable* second = make(locals, "B$");
  variable_list_release(context, locals, true);
  EXPECT_EQ(second->name, nullptr) << "records stay, nameless, for reuse";
  EXPECT_EQ(first->name, nullptr);
  Variable* again = create_variable(locals, "C$", false);
  EXPECT_EQ(again, first) << "the first free record after the head is reused";
  EXPECT_STREQ(again->name, "C$");
  EXPECT_EQ(again->hash, hash_name_text("C$"));
}

TEST_F(Variables, MovingAStructureMovesItsMembers) {
  Variable* structure = make(locals, "S$");
  structure->flags = kVariableStructure;
  Variable* member = make(locals, "S.M$");
  ASSERT_TRUE(member_list_add(structure, member));
  Variable* stay = make(locals, "STAY$");
  variable_move_to_scope(context->globals, structure, true);
  EXPECT_EQ(structure->scope, context->globals);
  EXPECT_EQ(member->scope, context->globals);
  EXPECT_EQ(locals->next, stay) << "both left the local list";
  EXPECT_EQ(find_variable_in_list(context->globals, "S.M$"), member);

  // The local head moving away moves current_scope on.
  Variable* head = current_scope;
  variable_move_to_scope(context->globals, head, true);
  EXPECT_EQ(current_scope, stay);
  locals = stay;
}

TEST_F(Variables, ATextVariableStartsAnEmptyLocalScope) {
  current_scope = nullptr;
  Variable* first = create_variable(choose_creation_scope(nullptr, "FIRST$"), "FIRST$", false);
  EXPECT_EQ(current_scope, first);
  Variable* second = create_variable(choose_creation_scope(current_scope, "SECOND$"), "SECOND$", false);
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(find_variable("SECOND$"), second);
  // A record appended to the globals never becomes the local scope.
  current_scope = nullptr;
  create_variable(context->globals, "G$", false);
  EXPECT_EQ(current_scope, nullptr);
  current_scope = first;
  free_variable_lists(context, {first});
  current_scope = locals;
}

TEST_F(Variables, ClearingKeepsNameAndPublicBit) {
  struct Row {
    const char* what;
    uint32_t flags;
    bool keep_list;
    uint32_t left;
  } rows[] = {{"public number", kVariablePublic, false, kVariablePublic},
              {"owned text", kVariablePublic | kVariableOwnsData | kVariableWideText, false, kVariablePublic},
              {"list kept", kVariableList | kVariableStructure, true, kVariableList},
              {"list dropped", kVariableList, false, 0}};
  for (const Row& row : rows) {
    Variable* variable = make(locals, "C$");
    variable->flags = row.flags;
    if (row.flags & kVariableOwnsData) variable->data = crt::_strdup("owned");
    variable->number = 3;
    variable->type_code = -4;
    variable->read_only = 1;
    variable->element_count = 2;
    variable_clear_value(context, variable, row.keep_list, false);
    EXPECT_EQ(variable->flags, row.left) << row.what;
    EXPECT_STREQ(variable->name, "C$") << row.what;
    EXPECT_EQ(variable->data, nullptr) << row.what;
    EXPECT_EQ(variable->number, 0) << row.what;
    EXPECT_EQ(variable->type_code, 0) << row.what;
    EXPECT_EQ(variable->read_only, 0) << row.what;
    EXPECT_EQ(variable->element_count, 0u) << row.what;
  }
}

}  // namespace
