// OBJRUN, SELFCALL and linked calls on the running object, and the method lookup along
// a class's inheritance chain.
#include "vm/method_call.h"

#include <cstring>
#include <string>

#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"
#include "foundation/variables.h"
#include "platform/platform.h"
#include "vm/control_flow.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"
#include "vm/procedure_call.h"
#include "vm/stack_builtins.h"

BuiltinHandler procedure_head_handler = nullptr;

namespace {

// Parents deeper than this are a cycle in the class list, not an inheritance chain.
constexpr int kMaxInheritanceDepth = 64;

InstructionNode* find_in_class_chain(ProgramContext* context, const char* class_name, const char* method, int depth) {
  if (!class_name || depth > kMaxInheritanceDepth || !current_program) return nullptr;
  NameNode* node = name_node_find(current_program->classes, class_name);
  if (!node) return nullptr;
  std::string name = "__CLASSCODE_";
  name += class_name;
  name += '.';
  name += method;
  uint32_t key = platform::address_of(reinterpret_cast<const void*>(procedure_head_handler));
  if (InstructionNode* code = find_class_procedure(context->code, key, name.c_str())) return code;
  if (node->parent_name) return find_in_class_chain(context, node->parent_name, method, depth + 1);
  return nullptr;
}

// The instruction's extension, made when it has none (the cache lives there).
InstructionExtension* extension_of(InstructionNode* node) { return instruction_extension_for(node, emit_pool); }

// A method call site keeps the method it found with the hash of the class it was found for
// (in the operand) and the serial of the program the search ran under (in the extension's
// cached_scope, which names no variable for these instructions). The search looks in that
// program and the programs it was made by, which outlive it; serials are never given twice.
// So while the running program's serial is the kept one, the kept method's code is alive:
// a procedure of the main program that ran first under an eval'd program, since ended,
// searches again instead of calling into the freed code.
inline bool method_cache_holds(const InstructionNode* node, const InstructionExtension* extension,
                               uint32_t class_hash) {
  return extension->link && node->operand == static_cast<double>(class_hash) &&
         extension->cached_scope == current_program->serial;
}

void method_cache_store(InstructionNode* node, InstructionExtension* extension, InstructionNode* method,
                        uint32_t class_hash) {
  node->operand = static_cast<double>(class_hash);
  extension->link = method;
  extension->cached_scope = current_program->serial;
}

bool is_private(const InstructionNode* method) { return method->extension && method->extension->method_flag; }

// The method text with the character after its first ',' made '0': the procedure form.
std::string procedure_form(std::string text) {
  size_t comma = text.find(',');
  if (comma != std::string::npos && comma + 1 < text.size()) text[comma + 1] = '0';
  return text;
}

bool is_procedure_form(const char* text) {
  const char* comma = std::strchr(text, ',');
  return comma && comma[1] == '0';
}

// The method an OBJRUN text names in the class: as written, in procedure form, without
// parameters, and without parameters in procedure form.
InstructionNode* search_method(const char* text, const char* class_name) {
  ProgramContext* program = current_program;
  if (InstructionNode* found = find_method_code(program, class_name, text)) return found;
  std::string written = text;
  if (InstructionNode* found = find_method_code(program, class_name, procedure_form(written).c_str())) return found;
  size_t open = written.find('(');
  size_t comma = written.find(',');
  if (open == std::string::npos || comma == std::string::npos) return nullptr;
  std::string no_parameters = written.substr(0, open) + "(0" + written.substr(comma);
  InstructionNode* found = find_method_code(program, class_name, no_parameters.c_str());
  if (!found || found->work == 0) {
    if (InstructionNode* procedure = find_method_code(program, class_name, procedure_form(no_parameters).c_str())) {
      found = procedure;
    }
  }
  return found;
}

void call_method(Variable* object, InstructionNode* method) {
  call_object = object;
  call_program = current_program;
  call_procedure = method;
  vm_call_procedure();
}

}  // namespace

InstructionNode* find_method_code(ProgramContext* context, const char* class_name, const char* method) {
  if (!class_name || !method) return nullptr;
  int programs = 0;
  for (ProgramContext* program = context; program && programs < kMaxInheritanceDepth; program = program->parent) {
    if (InstructionNode* code = find_in_class_chain(program, class_name, method, 0)) return code;
    ++programs;
  }
  return nullptr;
}

void op_objrun() {
  InstructionNode* node = current_instruction;
  ProgramContext* program = current_program;
  ValueCell* cell = stack_pop(program);
  Variable* variable = follow_alias(cell->variable);
  if (!variable) return;
  const char* variable_name = variable->name ? variable->name : "";

  uint32_t address = static_cast<uint32_t>(truncate_to_int(cell->number != 0 ? cell->number : variable->number));
  Variable* object = platform::pointer_from<Variable>(address);
  const char* class_name = static_cast<const char*>(variable->data);
  // A handle of 0 (no object yet) has no class to call into.
  if (!object) {
    if (program->range_check) runtime_error("Invalid object (0x%X)", address);
    return;
  }
  // Then the kind: a variable that holds no object (a list element that is a number, say)
  // has a number, not a record, to follow.
  if (!(variable->flags & (kVariableObject | kVariableArrayFromObject))) {
    runtime_error("Variable (%s) an invalid object", variable_name);
    return;
  }
  // A number that names no object record (one given to a variable typed as a class) is
  // never followed. The look-up is skipped for the handle of an object its variable owns:
  // only construction gives a variable that is no list both bits, with the record it made
  // (a list's element owns the class name it names an object by, not the object).
  constexpr uint32_t kOwnKind = kVariableObject | kVariableOwnsData | kVariableList;
  const bool own_object = (variable->flags & kOwnKind) == (kVariableObject | kVariableOwnsData) &&
                          (cell->number == 0 || cell->number == variable->number);
  if (!own_object && !object_record_is_live(object)) {
    runtime_error("Invalid object (0x%X)", address);
    return;
  }
  // A destroyed object's record has lost its name.
  if (!object->name) {
    if (program->range_check) runtime_error("Invalid object (0x%X)", address);
    return;
  }
  if (!class_name) {
    if (program->range_check) runtime_error("Variable (%s) an invalid object", variable_name);
    return;
  }

  const char* text = node->text ? node->text : "";
  uint32_t class_hash = hash_name_text(class_name);
  InstructionExtension* extension = node->extension;
  InstructionNode* method = nullptr;
  if (extension && method_cache_holds(node, extension, class_hash)) {
    method = extension->link;
  } else {
    method = search_method(text, class_name);
    if (!method) {
      runtime_error("Proc or func \"%s\" not found for class \"%s\"", text, class_name);
      return;
    }
    extension = extension_of(node);
    if (extension) extension->method_flag = is_procedure_form(text) ? 1 : 0;
    // Private methods are looked up on every call: the caller decides each time. A node
    // that carries a folded branch (a compiled file of an older compiler) keeps the
    // branch's target in its link: nothing is cached there.
    if (extension && !is_private(method) && !carries_folded_branch(node)) {
      method_cache_store(node, extension, method, class_hash);
    }
  }
  if (is_private(method) && object != current_object) {
    runtime_error("Proc or func '%s' is not public!", text);
    return;
  }

  call_method(object, method);

  // The work word is the number of results the call site takes: 0 for a call standing as
  // a statement, whose results go, or they would pile up on the stack and become the
  // result of the function it stands in.
  const auto keep = static_cast<int32_t>(node->work);
  ValueCell* mark = nullptr;
  if (method->work == 0) leave_argument_level(program, &mark);
  if (method->operand == 0) {
    if (keep == 0) drop_function_stack(0);
    else leave_argument_level(program, &mark);
    return;
  }
  drop_function_stack(keep);
  if (keep != 0 && extension && extension->method_flag) stack_drop();
}

void op_selfcall() {
  InstructionNode* node = current_instruction;
  Variable* object = current_object;
  // Outside a method there is no object to call into.
  if (!object || !object->name) return;
  const char* class_name = object->name;
  uint32_t class_hash = hash_name_text(class_name);
  const char* text = node->text ? node->text : "";
  InstructionExtension* extension = node->extension;
  InstructionNode* link = extension ? extension->link : nullptr;
  // A link a search left (the operand then holds a class's hash) serves only while the
  // program it was found under runs; the compiler's link (operand 0) is always the node's.
  if (link && node->operand != 0.0 && !method_cache_holds(node, extension, class_hash)) link = nullptr;

  if (link && (node->operand == static_cast<double>(class_hash) || std::strncmp(text, ".__INIT(0,0)", 12) == 0)) {
    call_method(object, link);
    return;
  }
  const char* dot = std::strchr(text, '.');
  if (!dot) {
    if (link) call_method(object, link);
    return;
  }
  size_t qualifier_length = static_cast<size_t>(dot - text);
  // The link is the qualifier's own method only while no search has replaced it: after one,
  // the operand holds the hash of the class the search was for, and the link is that class's.
  if (link && node->operand == 0.0 && std::strlen(class_name) == qualifier_length &&
      crt::_strnicmp(text, class_name, qualifier_length) == 0) {
    call_method(object, link);
    return;
  }
  InstructionNode* method = find_method_code(current_program, class_name, dot + 1);
  if (!method) return;
  call_method(object, method);
  // Cached after the call, as a miss found it: the next call of this class skips the
  // search. The link is kept with the class's hash, and used only for that class.
  if (carries_folded_branch(node)) return;
  if (InstructionExtension* cache = extension_of(node)) method_cache_store(node, cache, method, class_hash);
}

void call_linked_method_on_self() {
  InstructionNode* node = current_instruction;
  InstructionNode* method = node->extension ? node->extension->link : nullptr;
  if (!method) return;
  call_method(current_object, method);
}

// The method calls keep the method they found, or the one the compiler linked, in their link.
[[maybe_unused]] static const bool method_links_kept = (instruction_handler_uses_link(op_objrun),
                                                        instruction_handler_uses_link(op_selfcall),
                                                        instruction_handler_uses_link(call_linked_method_on_self), true);

// Objects find their constructors and destructors the way method calls find methods.
[[maybe_unused]] static const bool class_method_lookup_filled = (class_method_lookup = find_method_code, true);
