// Variables and scopes: records in doubly linked scope lists, found by walking the
// lists in a fixed order and comparing name hashes together with scope keys.
#include "foundation/variables.h"

#include <cstring>

#include "foundation/instruction_node.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/objects.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"

bool has_type_character(const char* name) {
  if (!name || !*name) return false;
  char last = name[std::strlen(name) - 1];
  return last == '%' || last == '$';
}

namespace {

char last_character(const char* name) { return name[std::strlen(name) - 1]; }

// First record from head on (head included) with this hash and key.
Variable* find_in_list(Variable* head, uint32_t hash, uint32_t key) {
  for (Variable* variable = head; variable; variable = variable->next) {
    if (variable->hash == hash && variable->scope_key == key) return variable;
  }
  return nullptr;
}

Variable* find_hash_in_list(Variable* head, uint32_t hash) {
  for (Variable* variable = head; variable; variable = variable->next) {
    if (variable->hash == hash) return variable;
  }
  return nullptr;
}

Variable* program_globals() { return current_program ? current_program->globals : nullptr; }

// The key a variable created outside the globals takes. An instruction without an
// extension gets a zeroed one, so the key it carries from now on is 0.
uint32_t key_for_creation() {
  if (!current_instruction) return 0;
  instruction_extension_for(current_instruction);
  return current_scope_key();
}

void set_creation_key(Variable* scope, Variable* variable) {
  if (current_program && current_instruction && scope != program_globals()) {
    variable->scope_key = key_for_creation();
  }
}

void append_to_list(Variable* head, Variable* variable) {
  Variable* last = head;
  while (last->next) last = last->next;
  last->next = variable;
  variable->prev = last;
  variable->next = nullptr;
}

char* upper_copy(const char* name) {
  char* copy = crt::_strdup(name);
  if (copy) crt::_strupr(copy);
  return copy;
}

uint32_t dot_offset_of(const char* name) {
  const char* dot = std::strchr(name, '.');
  return dot ? static_cast<uint32_t>(dot - name) : 0;
}

}  // namespace

Variable* follow_alias(Variable* variable) {
  // A cycle of aliases would hang every lookup; the bound keeps a broken chain harmless.
  for (int steps = 0; variable && variable->alias && steps < 4096; ++steps) variable = variable->alias;
  return variable;
}


uint32_t variable_name_hash(const char* name) {
  uint32_t hash = 0;
  if (!name) return 0;
  for (const char* c = name; *c; ++c) {
    char upper = (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
    hash = hash * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(upper)));
  }
  return hash & 0x7FFFFFFFu;
}

Variable* create_variable(Variable* scope, const char* name, bool reuse) {
  if (!has_type_character(name)) return nullptr;
  uint32_t hash = variable_name_hash(name);
  if (reuse && scope) {
    if (Variable* found = find_hash_in_list(scope, hash)) {
      variable_clear_value(current_program, found, true, false);
      set_creation_key(scope, found);
      return found;
    }
  }
  // One walk finds a freed record to reuse or, failing that, the list's end to append at.
  Variable* variable = nullptr;
  Variable* last = scope;
  if (scope) {
    for (Variable* record = scope->next; record; record = record->next) {
      if (!record->name) {
        variable = record;
        break;
      }
      last = record;
    }
  }
  char* upper = upper_copy(name);
  if (variable && upper) {
    variable->name = upper;
  } else {
    bool percent = last_character(name) == '%';
    if (upper && (percent || current_program)) variable = variable_record_allocate(current_program, percent);
    else variable = nullptr;
    if (!variable) {
      crt::free(upper);
      runtime_error_format(false, "Cannot allocate variable %s, not enough memory!", name);
      return nullptr;
    }
    variable->name = upper;
    if (scope) {
      last->next = variable;
      variable->prev = last;
      variable->next = nullptr;
    } else if (percent) {
      if (!percent_variables) percent_variables = variable;
    } else if (!current_scope) {
      // Only a record that starts a list becomes a list head: one appended to another
      // list must not turn that list into the local scope.
      current_scope = variable;
    }
  }
  variable->hash = hash;
  variable->dot_offset = dot_offset_of(upper);
  variable->scope = scope ? scope : variable;
  set_creation_key(scope, variable);
  return variable;
}

Variable* find_variable(const char* name, uint32_t hash) {
  if (!name) return nullptr;
  if (!hash) hash = variable_name_hash(name);
  uint32_t key = current_scope_key();
  if (Variable* found = find_in_list(current_object, hash, key)) return found;
  if (Variable* found = find_in_list(current_scope, hash, key)) return found;
  Variable* globals = program_globals();
  if (Variable* found = find_in_list(globals, hash, key)) return found;
  if (key != 0) {
    if (Variable* found = find_in_list(globals, hash, 0)) return found;
  }
  if (Variable* found = find_hash_in_list(percent_variables, hash)) return found;
  return find_dotted_variable(nullptr, name, key);
}

Variable* find_dotted_variable(Variable* members, const char* name, uint32_t scope_key) {
  if (!name) return nullptr;
  const char* dot = std::strchr(name, '.');
  if (!dot) return nullptr;
  size_t prefix_length = static_cast<size_t>(dot - name);
  const char* rest = dot + 1;
  if (prefix_length == 6 && std::strncmp(name, "GLOBAL", 6) == 0) {
    // A global declared at the top (key 0) must be reachable from inside any block.
    uint32_t hash = variable_name_hash(rest);
    Variable* globals = program_globals();
    Variable* found = find_in_list(globals, hash, scope_key);
    if (!found && scope_key != 0) found = find_in_list(globals, hash, 0);
    return follow_alias(found);
  }
  if (!*rest) return nullptr;
  size_t length = std::strlen(name);
  char* prefix_name = static_cast<char*>(crt::malloc(prefix_length + 2));
  if (!prefix_name) return nullptr;
  std::memcpy(prefix_name, name, prefix_length);
  prefix_name[prefix_length] = name[length - 1];
  prefix_name[prefix_length + 1] = '\0';
  const char* lookup = prefix_name[0] == '$' ? "__STACKTEMPOBJECT$" : prefix_name;
  Variable* prefix;
  if (members) prefix = find_hash_in_list(members, variable_name_hash(lookup));
  else prefix = find_variable(lookup);
  crt::free(prefix_name);
  prefix = follow_alias(prefix);
  if (!prefix) return nullptr;

  if (prefix->flags & kVariableStructure) {
    // Members are named "STRUCT.MEMBER" in the structure's own list.
    const char* base = prefix->name ? prefix->name : "";
    size_t base_length = std::strlen(base);
    if (base_length) --base_length;
    size_t rest_length = std::strlen(rest);
    char* full = static_cast<char*>(crt::malloc(base_length + rest_length + 2));
    if (!full) return nullptr;
    std::memcpy(full, base, base_length);
    full[base_length] = '.';
    std::memcpy(full + base_length + 1, rest, rest_length + 1);
    Variable* head = prefix->scope ? prefix->scope : variable_list_first(prefix);
    Variable* found = find_hash_in_list(head, variable_name_hash(full));
    crt::free(full);
    return found;
  }
  if (prefix->flags & kVariableObject) {
    auto* object_members = platform::pointer_from<Variable>(static_cast<uint32_t>(truncate_to_int(prefix->number)));
    // A number that names no object record is not walked as a member list.
    if (!object_members || !object_record_is_live(object_members)) return nullptr;
    Variable* found;
    if (std::strchr(rest, '.')) found = find_dotted_variable(object_members, rest, scope_key);
    else found = find_in_list(object_members, variable_name_hash(rest), scope_key);
    if (found && object_members != current_object && !(found->flags & kVariablePublic)) {
      runtime_error_format(false, "Variable '%s' cannot be accessed, it is private!", rest);
      return nullptr;
    }
    return found;
  }
  return nullptr;
}

Variable* choose_creation_scope(Variable* scope, const char* name) {
  if (!has_type_character(name)) return nullptr;
  if (last_character(name) == '%') return percent_variables;
  uint32_t hash = variable_name_hash(name);
  uint32_t key = current_scope_key();
  if (find_in_list(scope, hash, key)) return scope;
  Variable* globals = program_globals();
  if (globals && find_in_list(globals, hash, key)) return globals;
  return scope;
}

Variable* get_variable(Variable* scope, const char* name) {
  if (!has_type_character(name)) return nullptr;
  bool check = current_program && current_program->explicit_declarations && !no_explicit_check;
  no_explicit_check = 0;
  if (check) {
    runtime_error_format(false, "Variable %s has not been defined!", name);
  } else if (const char* dot = std::strchr(name, '.')) {
    size_t prefix_length = static_cast<size_t>(dot - name);
    char* prefix_name = static_cast<char*>(crt::malloc(prefix_length + 2));
    if (prefix_name) {
      std::memcpy(prefix_name, name, prefix_length);
      prefix_name[prefix_length] = last_character(name);
      prefix_name[prefix_length + 1] = '\0';
      // Warnings: the program goes on.
      if (find_variable(prefix_name))
        runtime_error_format(true, "Variable %s has not been defined in struct or in object class %s!", dot + 1,
                             prefix_name);
      else
        runtime_error_format(true, "Variable %s has not been defined!", prefix_name);
      crt::free(prefix_name);
    }
  }
  return create_variable(choose_creation_scope(scope, name), name, false);
}

void variable_move_to_scope(Variable* target, Variable* variable, bool keep_current) {
  if (!variable || variable->scope == target) return;
  if (variable != target) {
    if (current_scope == variable) current_scope = variable->next;
    if (percent_variables == variable) percent_variables = variable->next;
    if (current_object == variable) current_object = variable->next;
    if (variable->prev) variable->prev->next = variable->next;
    if (variable->next) variable->next->prev = variable->prev;
    variable->prev = variable->next = nullptr;
    if (target) {
      append_to_list(target, variable);
    } else if (!current_scope && !keep_current) {
      current_scope = variable;
    }
  }
  variable->scope = target ? target : variable;
  if (variable->flags & kVariableStructure) {
    for (MemberNode* node = variable->members; node; node = node->next) {
      if (node->member && node->member != variable) variable_move_to_scope(target, node->member, keep_current);
    }
  }
}

void variable_clear_value(ProgramContext* context, Variable* variable, bool keep_list, bool keep_members) {
  if (!variable) return;
  if (variable_holds_plain_number(variable)) {
    variable_clear_plain_number(variable);
    return;
  }
  bool is_list = variable->flags & kVariableList;
  if (variable->alias || (is_list && !keep_list) ||
      (!is_list && (variable->flags & (kVariableOwnsData | kVariableObject)))) {
    variable_release(context, variable, keep_list, true);
  }
  if (!keep_members) {
    member_list_free(variable);
    variable->owner = nullptr;
  }
  uint32_t kept = variable->flags & kVariablePublic;
  if (keep_list) kept |= variable->flags & kVariableList;
  variable->flags = kept;
  variable->data = nullptr;
  variable->class_hash = 0;
  variable->element_count = 0;
  variable->reserved1 = 0;
  variable->dim_count = 0;
  variable->number = 0;
  variable->member_offset = 0;
  variable->type_code = 0;
  variable->read_only = 0;
  variable->references = nullptr;
  variable->getter = variable->setter = nullptr;
  variable->column_major = 0;
}

Variable* variable_list_first(Variable* variable) {
  if (!variable) return nullptr;
  while (variable->prev) variable = variable->prev;
  return variable;
}

Variable* variable_list_last(Variable* variable) {
  if (!variable) return nullptr;
  while (variable->next) variable = variable->next;
  return variable;
}
