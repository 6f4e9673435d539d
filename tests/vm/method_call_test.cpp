// Method calls: OBJRUN and SELFCALL resolve a class's method (along its parents), cache it
// per class, bind SELF$ and OBJECTNAME$, and refuse what cannot be called.
#include "vm/method_call.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/hashes.h"
#include "foundation/runtime_error.h"
#include "machine_fixture.h"
#include "platform/platform.h"
#include "vm/procedure_call.h"

namespace {

void op_head() {}

// Each method body records "<method>:<SELF$ names the running object>:<OBJECTNAME$>".
std::vector<std::string> calls;
void op_record_method() {
  Variable* self = find_variable("SELF$");
  Variable* name = find_variable("OBJECTNAME$");
  bool self_ok = self && (self->flags & kVariableObject) &&
                 self->number == static_cast<double>(platform::address_of(current_object));
  calls.push_back(std::string(current_procedure_name) + ":" + (self_ok ? "self" : "no self") + ":" +
                  (name && name->data ? static_cast<const char*>(name->data) : ""));
}

// Calls the method SECRET through the object in OTHER$ from inside a method.
InstructionNode* inner_objrun = nullptr;
void op_call_through_other() {
  InstructionNode* running = current_instruction;
  stack_push_value(nullptr, 0, find_variable("OTHER$"), 0);
  current_instruction = inner_objrun;
  op_objrun();
  current_instruction = running;
}

class MethodCalls : public VariableMachineTest {
 protected:
  void SetUp() override {
    VariableMachineTest::SetUp();
    procedure_head_handler = op_head;
    calls.clear();
    add_class("BASE", nullptr);
    add_class("SHAPE", "BASE");
    add_class("DOT", nullptr);
    context->range_check = 1;
  }
  void TearDown() override {
    for (Variable* holder : holders) {
      crt::free(holder->data);
      holder->data = nullptr;
      holder->flags = 0;
    }
    name_nodes_free(&context->classes);
    context->code = nullptr;
    while (code.tail) free_instruction_node(emit_pool, &code.tail, code.tail, 0);
    procedure_head_handler = nullptr;
    VariableMachineTest::TearDown();
  }

  void add_class(const char* name, const char* parent) {
    NameNode* node = name_node_push(&context->classes);
    node->name = crt::_strdup(name);
    node->hash = hash_name_text(name);
    node->parent_name = parent ? crt::_strdup(parent) : nullptr;
  }

  // A method "__CLASSCODE_<class>.<signature>" whose body records the call; work and
  // operand as the compiler sets them for a function.
  InstructionNode* add_method(const char* class_name, const char* signature, bool is_private = false) {
    std::string text = "....__CLASSCODE_" + std::string(class_name) + "." + signature;
    InstructionNode* head = code.add(op_head, 1, text.c_str());
    head->work = 1;
    if (is_private) {
      Chain::jump_to(head, nullptr);
      head->extension->method_flag = 1;
    }
    code.add(op_record_method);
    code.add(op_endproc);
    context->code = code.tail;
    return head;
  }

  // A global object variable of the class, with its own object record.
  Variable* add_object(const char* name, const char* class_name) {
    Variable* record = create_variable(context->globals, "RECORD$", false);
    crt::free(record->name);
    record->name = crt::_strdup(class_name);
    Variable* holder = create_variable(context->globals, name, false);
    holder->flags = kVariableObject | kVariableOwnsData;
    holder->data = crt::_strdup(class_name);
    holder->number = static_cast<double>(platform::address_of(record));
    holders.push_back(holder);
    return holder;
  }

  // Runs an OBJRUN of text on holder inside a caller procedure, the argument level saved first.
  void objrun(InstructionNode* node, Variable* holder) {
    stack_save_mark(context);
    stack_save_mark(context);
    stack_push_value(nullptr, 0, holder, 0);
    current_instruction = node;
    op_objrun();
  }

  static std::string last_error() { return runtime_error_last_text(); }

  Chain code;
  std::vector<Variable*> holders;
};

TEST_F(MethodCalls, ObjrunCallsTheMethodWithSelfAndCachesItPerClass) {
  InstructionNode* shape_area = add_method("SHAPE", "AREA(0,1)");
  InstructionNode* dot_area = add_method("DOT", "AREA(0,1)");
  Variable* shape = add_object("S$", "SHAPE");
  Variable* dot = add_object("D$", "DOT");
  Chain site;
  InstructionNode* node = site.add(op_objrun, 0, "AREA(0,1)");
  struct Step {
    Variable* holder;
    InstructionNode* method;
    const char* seen;
  };
  const Step steps[] = {{shape, shape_area, "__CLASSCODE_SHAPE.AREA(0,1):self:SHAPE"},
                        {dot, dot_area, "__CLASSCODE_DOT.AREA(0,1):self:DOT"},
                        {shape, shape_area, "__CLASSCODE_SHAPE.AREA(0,1):self:SHAPE"}};
  for (const Step& step : steps) {
    calls.clear();
    objrun(node, step.holder);
    EXPECT_EQ(calls, std::vector<std::string>{step.seen});
    ASSERT_NE(node->extension, nullptr);
    EXPECT_EQ(node->extension->link, step.method) << "the cache follows the class";
    EXPECT_EQ(node->operand, static_cast<double>(hash_name_text(static_cast<const char*>(step.holder->data))));
  }
  EXPECT_EQ(current_object, nullptr) << "the running object comes back";
}

TEST_F(MethodCalls, TheSearchFallsBackToOtherFormsAndToParentClasses) {
  struct Row {
    const char* defined_class;
    const char* defined;
    const char* called;
  };
  const Row rows[] = {
      {"SHAPE", "MOVE(2,0)", "MOVE(2,1)"},  // function text, procedure method
      {"SHAPE", "RESET(0,1)", "RESET(3,1)"},  // without parameters
      {"SHAPE", "CLEAR(0,0)", "CLEAR(1,1)"},  // without parameters, procedure form
      {"BASE", "NAME(0,1)", "NAME(0,1)"},   // inherited
  };
  Variable* shape = add_object("S$", "SHAPE");
  for (const Row& row : rows) {
    InstructionNode* method = add_method(row.defined_class, row.defined);
    Chain site;
    InstructionNode* node = site.add(op_objrun, 0, row.called);
    calls.clear();
    objrun(node, shape);
    ASSERT_EQ(calls.size(), 1u) << row.called;
    EXPECT_EQ(node->extension->link, method) << row.called;
  }
}

TEST_F(MethodCalls, AProcedureFormCallDropsTheDummyResult) {
  add_method("SHAPE", "DRAW(0,0)");
  Variable* shape = add_object("S$", "SHAPE");
  Chain site;
  InstructionNode* node = site.add(op_objrun, 0, "DRAW(0,0)");
  node->work = 1;
  stack_push_number(context, 77);  // below the call: stays
  objrun(node, shape);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(node->extension->method_flag, 1);
  ASSERT_NE(context->stack_top, nullptr);
  EXPECT_EQ(context->stack_top->number, 77);
  EXPECT_EQ(context->stack_top->below, nullptr);
}

TEST_F(MethodCalls, RefusedCallsAreReportedAndDoNotRun) {
  add_method("SHAPE", "AREA(0,1)");
  Variable* shape = add_object("S$", "SHAPE");
  Variable* plain = make_variable(context->globals, "PLAIN$", "text");
  Variable* empty = add_object("E$", "SHAPE");
  empty->number = 0;
  struct Row {
    Variable* holder;
    const char* text;
    std::string error;
  };
  const Row rows[] = {
      {shape, "NOPE(0,0)", "Proc or func \"NOPE(0,0)\" not found for class \"SHAPE\""},
      {plain, "AREA(0,1)", "Invalid object (0x0)"},
      {empty, "AREA(0,1)", "Invalid object (0x0)"},
  };
  for (const Row& row : rows) {
    Chain site;
    InstructionNode* node = site.add(op_objrun, 0, row.text);
    calls.clear();
    objrun(node, row.holder);
    EXPECT_TRUE(calls.empty()) << row.text;
    EXPECT_EQ(last_error(), row.error) << row.text;
  }
  // A holder with a handle but without the object mark.
  plain->number = shape->number;
  Chain site;
  InstructionNode* node = site.add(op_objrun, 0, "AREA(0,1)");
  objrun(node, plain);
  EXPECT_EQ(last_error(), "Variable (PLAIN$) an invalid object");
}

TEST_F(MethodCalls, APrivateMethodIsCallableOnlyOnTheRunningObject) {
  add_method("SHAPE", "SECRET(0,1)", true);
  Variable* first = add_object("S$", "SHAPE");
  Variable* other = add_object("OTHER$", "SHAPE");
  Chain site;
  InstructionNode* node = site.add(op_objrun, 0, "SECRET(0,1)");
  inner_objrun = node;

  // From inside a method of S$, through OTHER$ (same class): refused.
  Chain caller_code;
  InstructionNode* caller = caller_code.add(op_head, 1, "....__CLASSCODE_SHAPE.USE(0,0)");
  caller_code.add(op_call_through_other);
  caller_code.add(op_endproc);
  stack_save_mark(context);
  stack_save_mark(context);
  call_object = platform::pointer_from<Variable>(static_cast<uint32_t>(first->number));
  call(context, caller);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(last_error(), "Proc or func 'SECRET(0,1)' is not public!");
  EXPECT_EQ(node->extension->link, nullptr) << "private methods are not cached";

  // On the running object itself: called.
  call_object = platform::pointer_from<Variable>(static_cast<uint32_t>(other->number));
  call(context, caller);
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(MethodCalls, SelfcallRunsConstructorsAndQualifiedMethodsOnTheRunningObject) {
  InstructionNode* constructor = add_method("SHAPE", "__INIT(0,0)");
  add_method("SHAPE", "DESTROY(0,0)");
  InstructionNode* grow = add_method("BASE", "GROW(0,0)");
  Variable* shape = add_object("S$", "SHAPE");
  Variable* record = platform::pointer_from<Variable>(static_cast<uint32_t>(shape->number));

  Chain site;
  InstructionNode* construct = site.add(op_selfcall, 0, ".__INIT(0,0)", constructor);
  construct->operand = 1;  // a stale class hash: constructors do not compare classes
  InstructionNode* qualified = site.add(op_selfcall, 0, "SHAPE.GROW(0,0)");
  InstructionNode* missing = site.add(op_selfcall, 0, "SHAPE.NONE(0,0)");
  InstructionNode* destroy = site.add(op_objrun, 0, "DESTROY(0,0)");

  current_object = record;
  for (InstructionNode* node : {construct, qualified, missing}) {
    current_instruction = node;
    node->handler();
  }
  current_object = nullptr;
  objrun(destroy, shape);
  EXPECT_EQ(calls, (std::vector<std::string>{"__CLASSCODE_SHAPE.__INIT(0,0):self:SHAPE",
                                             "__CLASSCODE_BASE.GROW(0,0):self:SHAPE",
                                             "__CLASSCODE_SHAPE.DESTROY(0,0):self:SHAPE"}));
  EXPECT_EQ(qualified->extension->link, grow);
  EXPECT_EQ(qualified->operand, static_cast<double>(hash_name_text("SHAPE")));
  EXPECT_EQ(call_object, nullptr) << "a SELFCALL that calls nothing leaves no object for the next call";
}

// A SELFCALL site keeps the method a search found together with the class it was found
// for: run on an object of another class, the site searches again.
TEST_F(MethodCalls, ASelfcallsCachedMethodServesOnlyTheClassItWasFoundFor) {
  add_method("BASE", "GROW(0,0)");
  add_method("DOT", "GROW(0,0)");
  Variable* shape = add_object("S$", "SHAPE");
  Variable* dot = add_object("D$", "DOT");
  Chain site;
  InstructionNode* node = site.add(op_selfcall, 0, "SHAPE.GROW(0,0)");
  // Back to the qualifier's own class after a search for another: its method, not the
  // other class's that the search left in the link.
  for (Variable* holder : {shape, dot, shape}) {
    current_object = platform::pointer_from<Variable>(static_cast<uint32_t>(holder->number));
    current_instruction = node;
    op_selfcall();
  }
  current_object = nullptr;
  EXPECT_EQ(calls, (std::vector<std::string>{"__CLASSCODE_BASE.GROW(0,0):self:SHAPE",
                                             "__CLASSCODE_DOT.GROW(0,0):self:DOT",
                                             "__CLASSCODE_BASE.GROW(0,0):self:SHAPE"}));
}

TEST_F(MethodCalls, ALinkedMethodRunsOnTheRunningObject) {
  InstructionNode* method = add_method("SHAPE", "SIZE(0,0)");
  Variable* shape = add_object("S$", "SHAPE");
  Chain site;
  InstructionNode* node = site.add(call_linked_method_on_self, 0, nullptr, method);
  current_object = platform::pointer_from<Variable>(static_cast<uint32_t>(shape->number));
  current_instruction = node;
  call_linked_method_on_self();
  current_object = nullptr;
  EXPECT_EQ(calls, std::vector<std::string>{"__CLASSCODE_SHAPE.SIZE(0,0):self:SHAPE"});
}

}  // namespace
