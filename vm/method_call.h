// Method calls on objects: OBJRUN on an object value, SELFCALL on the running object
// (constructors included) and linked calls on the running object, each resolving the
// method once per class and caching it in the instruction.
#pragma once

#include "foundation/instruction_node.h"
#include "foundation/program_context.h"

// The handler of procedure heads (STARTPROC): methods are looked up among the nodes that
// carry it. Registration sets it; while it is null no method is found.
extern BuiltinHandler procedure_head_handler;

// The code of method ("NAME(n,m)") of class_name or of its nearest ancestor that has it,
// searched in context and then its parent programs; classes are known by the running
// program's class list. Null when none.
InstructionNode* find_method_code(ProgramContext* context, const char* class_name, const char* method);

// OBJRUN: pops an object value and calls the instruction's method on it.
void op_objrun();
// SELFCALL: calls the instruction's method (optionally "CLASS." qualified) on the running
// object; a method the class does not have is silently not called.
void op_selfcall();
// Calls the instruction's link as a method of the running object.
void call_linked_method_on_self();
