// Named variables: creation, lookup by name, scope key and dotted path, the
// declare-on-first-use rule and moving a variable between scope lists.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

// hash_name of the name as upper-cased (ASCII only), without copying it.
uint32_t variable_name_hash(const char* name);

// True for a name ending in a variable's type character ('%' or '$').
bool has_type_character(const char* name);

// A variable of that name in the list starting at scope: a record with the same hash
// (cleared) when reuse is set, else a freed record or a new one appended at the end.
// Null for a name without a final '%' or '$', or (after a run-time error) without memory.
Variable* create_variable(Variable* scope, const char* name, bool reuse);

// The visible variable of that name: object members, locals and globals of the current
// scope key, globals of key 0, '%' variables, then dotted paths. Never creates.
// hash 0 means "compute it from name".
Variable* find_variable(const char* name, uint32_t hash = 0);
// The last variable of the alias chain that starts at variable (variable itself when it
// has no alias). The walk is bounded, so a broken cycle cannot hang it.
Variable* follow_alias(Variable* variable);

// Resolves prefix.rest: GLOBAL.X, structure members and object members (private ones
// only from inside their object). members, when given, is the list the prefix is
// looked up in. Null when nothing matches.
Variable* find_dotted_variable(Variable* members, const char* name, uint32_t scope_key);

// The list a new variable of that name belongs in: '%' names go to the shared '%' list;
// others to scope, or to the globals when only they hold the name. Null for an untyped name.
Variable* choose_creation_scope(Variable* scope, const char* name);

// Declares on first use (callers looked the name up and found nothing). Under explicit
// declarations this reports an error and still yields the new variable.
Variable* get_variable(Variable* scope, const char* name);

// Moves the variable (and a structure's members) to the end of the target list.
void variable_move_to_scope(Variable* target, Variable* variable, bool keep_current);

// Releases and zeroes the value, keeping the name, the public bit and, with keep_list,
// the list binding; without keep_members the member list is freed too.
void variable_clear_value(ProgramContext* context, Variable* variable, bool keep_list, bool keep_members);
// A record holding a plain number owns nothing: clearing it only resets its fields.
inline bool variable_holds_plain_number(const Variable* variable) { return !variable->flags && !variable->data; }
inline void variable_clear_plain_number(Variable* variable) {
  variable->number = 0;
  variable->getter = variable->setter = nullptr;
  variable->class_hash = 0;
  variable->read_only = 0;
  variable->alias = nullptr;
}

// Records of the list that holds variable: the first (by prev) and the last (by next).
Variable* variable_list_first(Variable* variable);
Variable* variable_list_last(Variable* variable);
