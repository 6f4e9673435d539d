// Objects of script classes: a variable holds an object record (the head of the
// object's member list) by handle; constructing, copying and destroying them.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

struct InstructionNode;
struct ProgramContext;

// Finds the compiled code of a class's method ("__INIT(0,0)", "DESTROY(0,0)") along the
// class's inheritance chain, null when none; filled by the compiler. While it is null no
// class has methods, so construction and destruction run no script code.
extern InstructionNode* (*class_method_lookup)(ProgramContext* context, const char* class_name,
                                                const char* signature);

// The object record a variable's handle names; null for handle 0.
Variable* object_record(const Variable* variable);
// True when record is an object record some program made and still holds: a number
// that merely claims to be an object is not.
bool object_record_is_live(const Variable* record);

// A new empty object record of the class on the context's heap: its name a copy of
// class_name, owning its members. Null when memory runs out.
Variable* object_record_new(ProgramContext* context, const char* class_name);

// Makes destination hold an object of source's class. By value (mode 0): a new record,
// its "__INIT(0,0)" run, then the members both objects have take source's values; a
// member owning a nested object gets its own copy of it. By reference (mode 1): the
// destination names source's object without owning it; with keep it becomes an alias.
// Unless keep, the destination's old value is released (its list binding stays).
void object_construct(Variable* destination, Variable* source, int32_t mode, bool keep);

// Runs the class's "DESTROY(0,0)" in context, releases the object's members (nested
// objects destroyed in turn), frees the class-name copy and clears the variable's object
// value. An object already destroyed through another holder is not destroyed again.
void object_destroy(ProgramContext* context, Variable* variable);

// For an object record alone: runs "DESTROY(0,0)" with "___SELF$" of current_scope
// naming it, then releases its members.
void object_run_destructor(ProgramContext* context, Variable* record);
