// Writing and releasing the nodes of instruction chains: the compiler and the
// compiled-file reader append nodes, the compiler and program teardown remove them.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"

// Appends a zeroed node from emit_pool after *list_tail and makes it the tail. A text is
// copied (with its hash_name); an extension is made when text, link, emit_scope_key,
// name_operand, flags or kind is non-zero, and a link marks its target as a jump target.
// name_operand is interned lower-case; the caller's text is left as it was.
void emit_instruction_node(InstructionNode** list_tail, BuiltinHandler handler, const char* text, double operand,
                           InstructionNode* link, uint32_t opcode, const char* name_operand, uint32_t flags,
                           uint32_t kind);

// Unlinks node and frees it with what it owns, returning its predecessor. With retarget
// set, every jump of the list (walked back from *list_tail) to the node moves to the
// predecessor, which becomes a jump target.
InstructionNode* free_instruction_node(Pool* pool, InstructionNode** list_tail, InstructionNode* node,
                                       uint8_t retarget);

// Frees every node from last back through previous with the program's pool, without
// retargeting.
void free_instruction_list(ProgramContext* program, InstructionNode* last);

// ---- What a node owns beyond its text, by handler ----

// Handlers whose text the node does not own (the external-call handlers: the text is
// the registry's); the registration of those handlers adds them.
void instruction_handler_borrows_text(BuiltinHandler handler);
// Handlers whose operand holds, as a number, the address of an owned second text.
void instruction_handler_owns_second_text(BuiltinHandler handler);
// The FOREACH handler and how its loop-state chain (the work word) is freed.
void instruction_handler_owns_loop_chain(BuiltinHandler handler, void (*release)(uint32_t chain));

// ---- Handlers that use their own node's link ----

// Handlers that keep an answer of their own in their node's link at run time, where the
// compiler left it empty (the method an object call found, the procedure call() found), or
// that read it as theirs: a jump folded into such a node would share the link with them.
// The registrations of those handlers add them; the optimiser asks before it folds.
void instruction_handler_uses_link(BuiltinHandler handler);
bool instruction_handler_keeps_link(BuiltinHandler handler);
