// Declaration and option statements: LOCAL, GLOBAL, STATIC, PROTECT and their kin, list
// literals, getter and setter binding, the range and explicit-declaration switches,
// HALT and EXIT.
#pragma once

#include <cstdint>

#include "foundation/packed_list.h"

struct ValueCell;
struct Variable;

// The variable an operand cell names: the cell's variable, else the one spelled by its
// text (or its number's text), found or declared in the current scope. Null when the
// name cannot be a variable.
Variable* cell_named_variable(const ValueCell* cell);

// Statements over the variables named above the innermost mark.
void builtin_local();      // LOCAL: a global gets a local of the same name that shadows it
void builtin_global();     // GLOBAL: moves a local to the program's globals, scope key 0
void builtin_nglobal();    // NGLOBAL: the same, keeping the current scope key
void builtin_protect();    // PROTECT: stores into the variable are ignored
void builtin_unprotect();  // UNPROTECT
void builtin_private();    // private: the running object's member, not public
void builtin_public();     // public: the running object's member, public
void builtin_static();     // STATIC: the variable's data outlives the end of the call

// __MAKEMATRIX: the cells above the innermost mark become a packed list, pushed as one
// cell whose references hold copies of their texts and nested lists.
void builtin_makematrix();
// __NOEXPLICITCHECK: the next declaration raises no explicit-declaration error.
void builtin_noexplicitcheck();
// RANGEMODE, EXPLICITMODE: toggle the running program's switch.
void builtin_rangemode();
void builtin_explicitmode();
// @, ptr: the top cell becomes the address it holds.
void builtin_ptr();
// ReadWrite(variable, getter, setter): binds the getter and setter procedures.
void builtin_readwrite();
// HALT: shuts the game display when it is open, then ends the calling thread.
void builtin_halt();
// EXIT: ends every running procedure of the current program.
void builtin_exit();

// Registers the statements above by their script names.
void register_declaration_handlers();
