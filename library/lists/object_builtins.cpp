// Object and class built-ins: owned objects and typed references in variables, their
// constructors and destruction, the program's class list and the kind tests.
#include "library/lists/object_builtins.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/live_handles.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/machine.h"
#include "vm/method_call.h"

namespace {

constexpr const char* kConstructor = "__INIT(0,0)";
constexpr const char* kCreateHook = "CREATE(0,0)";
constexpr const char* kStackTemporary = "__STACKTEMPOBJECT$";
// Parents deeper than this are a cycle in the class list, not an inheritance chain.
constexpr int kMaxInheritanceDepth = 64;

std::string upper_case(const char* text) {
  std::string upper = text ? text : "";
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The class name argument, upper case.
std::string pop_class_name() {
  const ValueCell* cell = stack_pop(current_program);
  if (cell->flags & kCellWideText) {
    char* narrow = to_narrow(static_cast<const char16_t*>(cell->text));
    std::string name = upper_case(narrow);
    crt::free(narrow);
    return name;
  }
  return upper_case(cell_text(cell));
}

// The variable an argument stands for, without making one: its by-reference variable,
// else the visible variable its 8-bit text names.
Variable* argument_variable(const ValueCell* cell) {
  if (cell->variable) return follow_alias(cell->variable);
  if (!cell->text || (cell->flags & (kCellList | kCellWideText))) return nullptr;
  const auto* name = static_cast<const char*>(cell->text);
  return *name ? follow_alias(find_variable(name)) : nullptr;
}

// A heap copy of the class name for a variable's data, recorded while tracking.
char* class_name_copy(const std::string& name) {
  char* copy = crt::_strdup(name.c_str());
  track_variable_block(copy);
  return copy;
}

// A list variable's current element takes the object value just set.
void store_back(Variable* variable) {
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) variable_store_to_element(variable);
}

bool owns_object(const Variable* variable) {
  return (variable->flags & kVariableObject) && (variable->flags & kVariableOwnsData);
}

void run_method(Variable* record, InstructionNode* code) {
  call_object = record;
  call_program = current_program;
  call_procedure = code;
  vm_call_procedure();
}

// The variable owns a new object of the class, constructed.
void create_object(Variable* variable, const std::string& class_name) {
  ProgramContext* context = current_program;
  if (!variable || !context) return;
  // The old object would otherwise be lost with its members, its destructor never run.
  if (owns_object(variable) && !(variable->flags & kVariableList)) object_destroy(context, variable);
  if (!(variable->flags & kVariableList)) {
    variable_free_data(context, variable);
    variable->flags &= ~kVariableOwnsData;
  }
  variable->data = nullptr;
  // The class name is 8-bit text, whatever the variable held before.
  variable->flags &= ~(kVariableObject | kVariableWideText);

  Variable* record = object_record_new(context, class_name.c_str());
  if (!record) {
    runtime_error("Cannot allocate object of class %s, not enough memory!", class_name.c_str());
    return;
  }
  if (memory_tracking) track_allocation(nullptr, 0, record, sizeof(Variable));
  set_variable(variable, const_cast<char*>(class_name.c_str()), static_cast<double>(platform::address_of(record)),
               nullptr, static_cast<int32_t>(class_name.size() + 1));
  variable->class_hash = hash_name_text(class_name.c_str());
  variable->flags |= kVariableObject | kVariableOwnsData;
  store_back(variable);
  if (InstructionNode* constructor = find_method_code(context, class_name.c_str(), kConstructor)) {
    run_method(record, constructor);
  }
}

// The variable names the object at address as the class without owning it.
void bind_reference(Variable* variable, const std::string& class_name, uint32_t address) {
  set_variable(variable, const_cast<char*>(class_name.c_str()), 0, nullptr,
               static_cast<int32_t>(class_name.size() + 1));
  variable->class_hash = hash_name_text(class_name.c_str());
  variable->number = static_cast<double>(address);
  variable->flags = (variable->flags | kVariableObject) & ~(kVariableOwnsData | kVariableWideText);
  store_back(variable);
}

// "__STACKTEMPOBJECT$" beside the object argument's variable, naming its object.
void type_temporary(bool drop_old_data) {
  ProgramContext* context = current_program;
  const ValueCell* object = stack_pop(context);
  Variable* source = argument_variable(object);
  const double address = object->number;
  const std::string class_name = pop_class_name();
  Variable* scope = source && source->scope ? source->scope : current_scope;
  Variable* temporary = create_variable(scope, kStackTemporary, true);
  if (!temporary) return;
  if (drop_old_data) variable_free_data(context, temporary);
  temporary->data = class_name_copy(class_name);
  temporary->number = address;
  temporary->class_hash = hash_name_text(class_name.c_str());
  temporary->flags = (temporary->flags | kVariableObject) & ~kVariableOwnsData;
}

// The arguments of a variadic call, last first; the stack is back below them.
std::vector<const ValueCell*> pop_arguments() {
  std::vector<const ValueCell*> cells;
  ProgramContext* context = current_program;
  ValueCell* mark = nullptr;
  if (!stack_take_mark(context, &mark)) return cells;
  while (context->stack_top && context->stack_top != mark) cells.push_back(stack_pop(context));
  return cells;
}

// Pushes how many arguments' variables pass the test.
template <typename Test>
void count_arguments(Test test) {
  int32_t count = 0;
  for (const ValueCell* cell : pop_arguments()) {
    const Variable* variable = argument_variable(cell);
    if (variable && test(variable)) ++count;
  }
  stack_push_number(current_program, count);
}

NameNode* find_class(const std::string& upper_name) {
  return current_program ? name_node_find(current_program->classes, upper_name.c_str()) : nullptr;
}

// An owned copy of text pushed; number 0 for no text.
void push_name_or_zero(const char* text) {
  if (!text) {
    stack_push_number(current_program, 0);
    return;
  }
  push_owned_text(crt::_strdup(text));
}

// The class name an object argument carries: its variable's, else the value's text,
// else that of the record its number addresses.
std::string object_class_name(const ValueCell* cell) {
  if (const Variable* variable = argument_variable(cell)) {
    if ((variable->flags & kVariableObject) && variable->data) return upper_case(static_cast<const char*>(variable->data));
  }
  if (cell->text && !(cell->flags & (kCellList | kCellWideText))) return upper_case(static_cast<const char*>(cell->text));
  const Variable* record = platform::pointer_from<Variable>(static_cast<uint32_t>(truncate_to_int(cell->number)));
  // Any other number names no object: it has no class.
  return object_record_is_live(record) && record->name ? std::string(record->name) : std::string();
}

}  // namespace

void builtin_class_create_object() {
  Variable* variable = pop_variable();
  const std::string class_name = pop_class_name();
  create_object(variable, class_name);
}

void builtin_newobject() {
  const uint32_t address = pop_address();
  const std::string class_name = pop_class_name();
  Variable* variable = pop_variable();
  if (!variable) return;
  if (address == 0) create_object(variable, class_name);
  else bind_reference(variable, class_name, address);
}

void builtin_class_run_create() {
  ProgramContext* context = current_program;
  Variable* variable = pop_variable();
  const char* class_name = variable && (variable->flags & kVariableObject) ? static_cast<const char*>(variable->data)
                                                                           : nullptr;
  Variable* record = variable ? object_record(variable) : nullptr;
  InstructionNode* hook = record && class_name ? find_method_code(context, class_name, kCreateHook) : nullptr;
  if (hook) {
    // The hook's entry took the first mark of the pair with its arguments.
    run_method(record, hook);
    ValueCell* mark = nullptr;
    if (context->mark_count > 0) stack_take_mark(context, &mark);
    return;
  }
  // Without a hook nobody takes the arguments or the pair: left, every object made in a
  // loop would leave two marks behind until the mark table ran out.
  if (context->mark_count < 2) return;
  if (stack_pop_to_mark(context) < 0) return;
  if (context->stack_marks[context->mark_count - 1] == context->stack_top) {
    ValueCell* mark = nullptr;
    stack_take_mark(context, &mark);
  }
}

void builtin_class_type_variable() {
  ProgramContext* context = current_program;
  Variable* variable = pop_variable();
  const std::string class_name = pop_class_name();
  if (!variable) return;
  // Retyping an owned object (to a parent class, say) must not orphan it.
  const bool owner = owns_object(variable);
  if (!(variable->flags & kVariableList)) variable_free_data(context, variable);
  variable->data = class_name_copy(class_name);
  variable->class_hash = hash_name_text(class_name.c_str());
  variable->flags = (variable->flags | kVariableObject) & ~kVariableOwnsData;
  if (owner) variable->flags |= kVariableOwnsData;
}

void builtin_class_type_temporary() { type_temporary(false); }

void builtin_class_retype_temporary() { type_temporary(true); }

void builtin_class() {
  const uint32_t address = pop_address();
  const Variable* record = platform::pointer_from<Variable>(address);
  push_name_or_zero(object_record_is_live(record) ? record->name : nullptr);
}

void builtin_freeobject() {
  ProgramContext* context = current_program;
  struct Target {
    Variable* variable;
    uint32_t address;
  };
  // Destructors run script code, which reuses the popped cells: read them all first.
  std::vector<Target> targets;
  for (const ValueCell* cell : pop_arguments()) {
    Variable* variable = argument_variable(cell);
    if (variable && (variable->flags & kVariableObject)) {
      targets.push_back({variable, 0});
    } else {
      uint32_t address = static_cast<uint32_t>(cell_to_int(cell));
      targets.push_back({nullptr, address});
    }
  }
  for (const Target& target : targets) {
    if (target.variable) {
      object_destroy(context, target.variable);
      variable_release(context, target.variable, true, false);
    } else if (Variable* record = platform::pointer_from<Variable>(target.address)) {
      if (!object_record_is_live(record)) {
        runtime_error("freeobject: the argument is not an object");
        return;
      }
      object_run_destructor(context, record);
    }
  }
}

void builtin_isobject() {
  count_arguments([](const Variable* variable) { return (variable->flags & kVariableObject) != 0; });
}

void builtin_isarray() {
  count_arguments([](const Variable* variable) { return variable->element_count > 0; });
}

void builtin_ismatrix() {
  count_arguments([](const Variable* variable) { return (variable->flags & kVariablePackedList) != 0; });
}

void builtin_isstruct() {
  count_arguments([](const Variable* variable) { return (variable->flags & kVariableStructure) != 0; });
}

void builtin_ispointer() {
  const ValueCell* cell = stack_pop(current_program);
  const Variable* variable = cell->variable ? follow_alias(cell->variable) : nullptr;
  uint32_t address = static_cast<uint32_t>(truncate_to_int(cell->number));
  if (!address) address = cell->data;
  if (!address) address = platform::address_of(cell->text);
  int32_t found = 0;
  if (variable && address) {
    const Variable* holder = variable->owner ? variable->owner : variable;
    for (const ReferenceNode* node = holder->references; node && !found; node = node->next) {
      found = platform::address_of(node->block) == address ? 1 : 0;
    }
  }
  stack_push_number(current_program, found);
}

void builtin_alloceval() {
  Variable* head = variable_record_allocate(current_program, false);
  live_handle_add(LiveHandleKind::EvaluationScope, head, current_program->heap);
  stack_push_number(current_program, static_cast<double>(platform::address_of(head)));
}

void builtin_freeeval() {
  ProgramContext* context = current_program;
  // The scope is the record alloceval gave, whatever variable carried its address.
  Variable* head = platform::pointer_from<Variable>(pop_address());
  if (!head) return;
  if (!live_handle_remove(LiveHandleKind::EvaluationScope, head)) {
    runtime_error("freeeval: the argument is not an evaluation scope");
    return;
  }
  variable_list_release(context, head, true);
  variable_list_free(context, head);
}

void builtin_classes() {
  Variable* variable = pop_variable();
  std::vector<std::string> names;
  for (const NameNode* node = current_program->classes; node; node = node->next) {
    names.emplace_back(node->name ? node->name : "");
  }
  int32_t count = variable ? fill_text_list(variable, names) : 0;
  stack_push_number(current_program, count);
}

void builtin_classinherit() {
  const NameNode* node = find_class(pop_class_name());
  push_name_or_zero(node ? node->parent_name : nullptr);
}

void builtin_is() {
  const std::string wanted = pop_class_name();
  const ValueCell* object = stack_pop(current_program);
  const uint32_t key = hash_name_text(wanted.c_str());
  const NameNode* node = find_class(object_class_name(object));
  int32_t depth = 0;
  while (node && node->hash != key && depth++ < kMaxInheritanceDepth) {
    node = node->parent_name ? find_class(upper_case(node->parent_name)) : nullptr;
  }
  stack_push_number(current_program, node && node->hash == key ? 1 : 0);
}

void register_object_builtins() {
  builtin_register("__class", builtin_class_create_object);
  builtin_register("newobject", builtin_newobject);
  builtin_register("__classcreate", builtin_class_run_create);
  builtin_register("__class2", builtin_class_type_variable);
  builtin_register("__class3", builtin_class_type_temporary);
  builtin_register("__class4", builtin_class_retype_temporary);
  builtin_register("class", builtin_class);
  builtin_register("freeobject", builtin_freeobject);
  builtin_register("isobject", builtin_isobject);
  builtin_register("isarray", builtin_isarray);
  builtin_register("ismatrix", builtin_ismatrix);
  builtin_register("isstruct", builtin_isstruct);
  builtin_register("ispointer", builtin_ispointer);
  builtin_register("alloceval", builtin_alloceval);
  builtin_register("freeeval", builtin_freeeval);
  builtin_register("classes", builtin_classes);
  builtin_register("classinherit", builtin_classinherit);
  builtin_register("is", builtin_is);
}
