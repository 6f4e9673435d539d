// Procedure calls: the framing of every run of a script procedure (local scopes, SELF$
// for methods, saved state, owned allocations by depth), the instructions that end a
// procedure, bind its parameters and clean the value stack after it, and event calls.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_cell.h"
#include "foundation/variable.h"

// vm_call_procedure (the entry and the CALL handler) is declared in vm/machine.h.

// Copies a packed list returned by a function, registering the blocks it holds on
// *references; filled by the packed-list layer. While null a returned list is copied as
// one block.
extern void* (*returned_list_copy)(const void* list, ReferenceNode** references);

// kReturnedToNativeDepth, where results returned to native code are owned, is in
// foundation/runtime_memory.h.

// ENDPROC: ends the running procedure.
void op_endproc();
// RETURN: ends the running procedure and leaves its argument level; the result cells
// above the level's mark stop depending on the callee's variables (texts and lists are
// copied and owned one call depth lower, objects become their address).
void op_return();
// PARMSPUSHVAR: pops one argument into the parameter the instruction's text names.
void op_parmspushvar();
// PARMSPUSHVARVAR: pops two arguments, the first into the parameter of the owned second
// text, the next into the parameter of the instruction's text.
void op_parmspushvarvar();

// Binds parameter to the argument cell: an object reference to the same object, an alias
// for a by-reference argument, else a copy of the value.
void bind_parameter(Variable* parameter, ValueCell* cell);

// Leaves the innermost argument level: *mark becomes its mark (the last cell below the
// arguments or results; null for an empty stack). False, leaving nothing, when no level
// is open.
bool leave_argument_level(ProgramContext* program, ValueCell** mark);

// Leaves one argument level keeping keep result cells: a missing result becomes the
// number 0 when keep is non-zero, surplus cells are popped with their references.
void drop_function_stack(int32_t keep);
// DROPFCTSTACK and "__dropfctstack": drop_function_stack with the operand as count.
void op_dropfctstack();
// DROPALLFCTSTACK and "__dropallfctstack": leaves one argument level and pops the
// operand's count of cells when at least that many are above its mark, else none.
void op_dropallfctstack();

// Runs an event procedure of program with four number arguments and returns its result
// as an integer (0 when it returns nothing). A procedure whose last event scope is still
// free gets the arguments straight into its cached parameters, without the value stack.
// Numbers, not integers: a handle above 2^31 must reach the script as the same unsigned
// number the built-ins give for it.
int32_t call_script_handler(ProgramContext* program, InstructionNode* procedure, double a1, double a2, double a3,
                            double a4);

// Releases the program's cached local scopes with their variables (names included) and
// empties the cache; the end of a program runs it before the program's heap goes.
void release_local_scopes(ProgramContext* program);

// Registers "__dropfctstack" and "__dropallfctstack", and marks PARMSPUSHVARVAR as
// owning a second text.
void register_procedure_call_handlers();
