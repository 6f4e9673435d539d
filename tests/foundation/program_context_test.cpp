// Program contexts: the list of programs, forms, window classes, procedure lookup and
// the class name lists.
#include <gtest/gtest.h>

#include <cstring>

#include "context_fixture.h"
#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "platform/kernel/memory.h"

namespace {

TEST(ProgramList, ContextsAreLinkedBothWaysAndUnlinked) {
  ProgramContext* first = create_program_context();
  ProgramContext* second = create_program_context();
  ProgramContext* third = create_program_context();
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(program_list, first);
  EXPECT_EQ(first->prev, nullptr);
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(second->prev, first);
  EXPECT_EQ(second->next, third);
  EXPECT_EQ(third->prev, second);
  EXPECT_NE(first->heap, nullptr);
  EXPECT_NE(first->heap, second->heap) << "each program has its own heap";
  EXPECT_EQ(first->stack_top, nullptr);
  EXPECT_EQ(first->mark_count, 0);

  program_context_release(second);  // from the middle
  EXPECT_EQ(first->next, third);
  EXPECT_EQ(third->prev, first);
  program_context_release(first);  // the head
  EXPECT_EQ(program_list, third);
  EXPECT_EQ(third->prev, nullptr);
  program_context_release(third);
  EXPECT_EQ(program_list, nullptr);
}

TEST(ProgramList, ExitingProgramClearedOnlyForTheSameAddress) {
  ProgramContext* running = create_program_context();
  exiting_program = running;
  ProgramContext* other = create_program_context();
  EXPECT_EQ(exiting_program, running) << "another address keeps it";
  ProgramContext* address = running;
  program_context_release(running);
  // The allocator may or may not give the same address back; the rule holds either way.
  ProgramContext* fresh = create_program_context();
  EXPECT_EQ(exiting_program, fresh == address ? nullptr : address);
  exiting_program = nullptr;
  program_context_release(fresh);
  program_context_release(other);
}

// Answers kept for a program are keyed by its serial: a program made after another ended,
// even at the same address, has a serial of its own.
TEST(ProgramList, SerialsAreNeverGivenTwice) {
  ProgramContext* first = create_program_context();
  ASSERT_NE(first, nullptr);
  const uint32_t first_serial = first->serial;
  EXPECT_NE(first_serial, 0u);
  for (int round = 0; round < 3; ++round) {
    ProgramContext* next = create_program_context();
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next->serial, first_serial);
    EXPECT_GT(next->serial, first_serial + static_cast<uint32_t>(round));
    program_context_release(next);
  }
  program_context_release(first);
}

// A node of one program's code run under another (a procedure of the main program called
// by code that eval made) gets its run-time extension from the pool that holds the node,
// so the end of the running program leaves the extension alone; a node no loaded pool
// holds takes it from the fallback when that holds it, else goes without.
TEST(ProgramList, RunTimeExtensionsComeFromThePoolHoldingTheNode) {
  ProgramContext* owner = create_program_context();
  ProgramContext* runner = create_program_context();
  ASSERT_TRUE(owner && runner);
  owner->pool = pool_create(4096);
  runner->pool = pool_create(4096);
  runner->parent = owner;
  Pool* loose = pool_create(4096);
  struct Row {
    const char* name;
    ProgramContext* running;
    Pool* holder;    // where the node lies
    Pool* fallback;
    Pool* expected;  // where its extension must lie; null: none made
  };
  const Row rows[] = {
      {"the running program's own node", runner, runner->pool, nullptr, runner->pool},
      {"a node of the program that made the running one", runner, owner->pool, nullptr, owner->pool},
      {"a node of a program the running one does not descend from", owner, runner->pool, nullptr, runner->pool},
      {"a node of no program, held by the fallback", runner, loose, loose, loose},
      {"a node of no program, not held by the fallback", runner, loose, runner->pool, nullptr},
  };
  ProgramContext* saved = current_program;
  for (const Row& row : rows) {
    auto* node = static_cast<InstructionNode*>(pool_alloc(row.holder, 0, sizeof(InstructionNode)));
    ASSERT_NE(node, nullptr) << row.name;
    current_program = row.running;
    InstructionExtension* extension = instruction_extension_for(node, row.fallback);
    EXPECT_EQ(extension, node->extension) << row.name;
    if (!row.expected) {
      EXPECT_EQ(extension, nullptr) << row.name;
      continue;
    }
    ASSERT_NE(extension, nullptr) << row.name;
    EXPECT_TRUE(pool_holds(row.expected, extension)) << row.name;
    EXPECT_EQ(instruction_extension_for(node, row.fallback), extension) << row.name << ": made once";
  }
  current_program = saved;
  pool_destroy(loose);
  program_context_release(runner);
  program_context_release(owner);
}

TEST(ProgramList, KeepModeReleasesNothing) {
  ProgramContext* kept = create_program_context();
  kept->run_mode = kRunModeKeep;
  current_program = kept;
  stack_push_double(1);
  program_context_release(kept);
  EXPECT_EQ(program_list, kept) << "still listed";
  EXPECT_EQ(kept->stack_top->number, 1) << "its heap still holds the stack";
  kept->run_mode = 0;
  program_context_release(kept);
  current_program = nullptr;
  EXPECT_EQ(program_list, nullptr);
}

TEST(ProgramList, StartedProgramLeavesItsStartersClasses) {
  ProgramContext* starter = create_program_context();
  NameNode* node = name_node_push(&starter->classes);
  node->name = crt::_strdup("SHAPE");
  node->hash = hash_name_text("SHAPE");
  ProgramContext* started = create_program_context();
  started->run_mode = -1;
  started->parent = starter;
  started->classes = starter->classes;
  program_context_release(started);
  EXPECT_EQ(name_node_find(starter->classes, "SHAPE"), node);
  program_context_release(starter);
}

using Forms = ContextTest;

TEST_F(Forms, AddFindRemove) {
  auto id = [](uintptr_t n) { return reinterpret_cast<HANDLE>(n); };
  FormRecord* a = context_add_form(context, id(0x100), 1, 2, 3);
  FormRecord* b = context_add_form(context, id(0x200), 4, 5, 6);
  ProgramContext* other = create_program_context();
  FormRecord* c = context_add_form(other, id(0x300), 7, 8, 9);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->first_form, 1);
  EXPECT_EQ(b->first_form, 0);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(platform::address_of(b->class_block), 4u);
  EXPECT_EQ(platform::address_of(b->menu_bar), 5u);
  EXPECT_EQ(platform::address_of(b->procedure), 6u);

  ProgramContext* owner = nullptr;
  EXPECT_EQ(find_form_record(id(0x300), &owner), c);
  EXPECT_EQ(owner, other) << "every program is searched";
  EXPECT_EQ(find_form_record(id(0x999)), nullptr);

  static int deleted = 0;
  delete_gdi_object = [](void* object) { deleted += *static_cast<int*>(object); };
  static int gdi = 5;
  a->font = &gdi;
  a->activation_record = static_cast<uint32_t*>(crt::malloc(12));
  remove_form_record(id(0x100));
  EXPECT_EQ(context->forms, b) << "removing the first moves the head to the second";
  EXPECT_EQ(deleted, 5);
  remove_form_record(id(0x999));  // unknown: nothing happens
  remove_form_record(id(0x300));
  EXPECT_EQ(other->forms, nullptr);
  delete_gdi_object = nullptr;
  program_context_release(other);
}

TEST(WindowClasses, AddFindRemove) {
  ASSERT_NE(window_class_add("FirstClass", 1), nullptr);
  ASSERT_NE(window_class_add("SecondClass", 2), nullptr);
  ASSERT_NE(window_class_add("ThirdClass", 3), nullptr);
  EXPECT_STREQ(window_class_list->name, "FirstClass") << "appended at the end";
  EXPECT_EQ(window_class_find("SecondClass")->value, 2u);
  EXPECT_EQ(window_class_find("secondclass"), nullptr) << "the hash sees case";
  window_class_remove("FirstClass");
  EXPECT_STREQ(window_class_list->name, "SecondClass");
  window_class_remove("ThirdClass");
  window_class_remove("Missing");
  EXPECT_EQ(window_class_list->next, nullptr);
  window_class_remove("SecondClass");
  EXPECT_EQ(window_class_list, nullptr);
}

TEST(Signatures, MatchingRules) {
  const struct {
    const char* signature;
    const char* name;
    bool matches;
  } cases[] = {
      {"DESTROY(0,0)", "DESTROY", true},
      {"DESTROY(0,0)", "DESTROY(0,0)", true},
      {"DESTROY(0,0)", "DESTROY(1,0)", false},
      {"DESTROY(0,0)", "DESTRO", false},
      {"DEST(0,0)", "DESTROY", false},  // a plain name is no prefix match
      {"DESTROYALL(0,0)", "DESTROY", false},
      {"MAIN", "MAIN", true},
      {"MAIN", "MAI", false},
      {"SUM(2,1)", "SUM(2,0)", true},   // m not 0: name and first number
      {"SUM(2,1)", "SUM(2,5)", true},
      {"SUM(2,1)", "SUM(3,1)", false},
      {"SUM(2,1)", "SUM(21,0)", false},  // the first number is compared whole
      {"SUM(2,0)", "SUM(2,1)", false},   // m is 0: the whole searched name
      {"SUM(2,0)", "SUM(2,0)", true},
      {"SUM", "SUM(0,0)", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(signature_matches(c.signature, c.name), c.matches) << c.signature << " vs " << c.name;
}

using Procedures = ContextTest;

TEST_F(Procedures, FirstMatchingEntryWins) {
  InstructionNode bodies[3]{};
  ProcedureTableEntry entries[3] = {
      {const_cast<char*>("DESTROYALL(0,0)"), &bodies[0]},
      {const_cast<char*>("DESTROY(0,0)"), &bodies[1]},
      {const_cast<char*>("DESTROY(1,0)"), &bodies[2]},
  };
  EXPECT_EQ(find_procedure(context, "DESTROY"), nullptr) << "an empty table";
  for (int i = 0; i < 3; ++i) context->procedures[i] = &entries[i];
  context->procedure_count = 3;
  EXPECT_EQ(find_procedure(context, "DESTROY"), &bodies[1]);
  EXPECT_EQ(find_procedure(context, "DESTROY(1,0)"), &bodies[2]);
  EXPECT_EQ(find_procedure(context, "DESTROYALL"), &bodies[0]);
  EXPECT_EQ(find_procedure(context, "CREATE"), nullptr);
}

void class_code_handler() {}
void other_handler() {}

TEST(ClassProcedures, WalkThePreviousLinksWithTheKey) {
  char entry_a[] = "PROC__CLASSCODE_SHAPE.DRAW(0,0)";
  char entry_b[] = "PROC__CLASSCODE_SHAPE.MOVE(2,0)";
  char same_text[] = "PROC__CLASSCODE_SHAPE.MOVE(2,0)";
  InstructionNode nodes[4]{};
  nodes[0].text = entry_a;
  nodes[0].handler = class_code_handler;
  nodes[1].text = same_text;
  nodes[1].handler = other_handler;  // another key: skipped
  nodes[2].text = entry_b;
  nodes[2].handler = class_code_handler;
  nodes[3].text = nullptr;
  nodes[3].handler = class_code_handler;
  for (int i = 1; i < 4; ++i) nodes[i].previous = &nodes[i - 1];
  uint32_t key = platform::address_of(reinterpret_cast<const void*>(class_code_handler));
  EXPECT_EQ(find_class_procedure(&nodes[3], key, "__CLASSCODE_SHAPE.MOVE(2,0)"), &nodes[2]);
  EXPECT_EQ(find_class_procedure(&nodes[3], key, "__CLASSCODE_SHAPE.DRAW"), &nodes[0]);
  EXPECT_EQ(find_class_procedure(&nodes[3], key, "__CLASSCODE_SHAPE.SIZE"), nullptr);
  EXPECT_EQ(find_class_procedure(nullptr, key, "X"), nullptr);
}

TEST(NameNodes, PushInFrontAndFindByHash) {
  NameNode* head = nullptr;
  const char* names[] = {"ANIMAL", "DOG", "CAT"};
  for (const char* name : names) {
    NameNode* node = name_node_push(&head);
    ASSERT_EQ(head, node);
    node->name = crt::_strdup(name);
    node->hash = hash_name_text(name);
  }
  EXPECT_STREQ(head->name, "CAT");
  EXPECT_STREQ(name_node_find(head, "DOG")->name, "DOG");
  EXPECT_EQ(name_node_find(head, "BIRD"), nullptr);
  head->parent_name = crt::_strdup("ANIMAL");
  name_nodes_free(&head);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
