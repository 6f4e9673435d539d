// The variable lists a test program resolves names in: a globals head and a local scope
// head made current, emptied and freed with the '%' variables after the test.
#pragma once

#include <initializer_list>

#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/value_ownership.h"
#include "foundation/variable.h"

// Empties and frees each list (a null one is skipped by both calls).
inline void free_variable_lists(ProgramContext* context, std::initializer_list<Variable*> lists) {
  for (Variable* list : lists) {
    variable_list_release(context, list, true);
    variable_list_free(context, list);
  }
}

// Drops the '%' variables earlier tests of the program left (ERROR% among them).
inline void free_percent_variables(ProgramContext* context) {
  free_variable_lists(context, {percent_variables});
  percent_variables = nullptr;
}

// Gives the context a globals head and returns a new local scope head, made current
// (with no running object).
inline Variable* open_scope_lists(ProgramContext* context) {
  context->globals = variable_record_allocate(context, false);
  current_scope = variable_record_allocate(context, false);
  current_object = nullptr;
  return current_scope;
}

// Empties and frees the local scope, the globals and the '%' variables; none is current
// afterwards.
inline void close_scope_lists(ProgramContext* context, Variable* locals) {
  free_variable_lists(context, {locals, context->globals, percent_variables});
  context->globals = current_scope = percent_variables = nullptr;
}
