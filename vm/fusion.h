// Superinstructions chosen when a program is loaded: frequent sequences of instructions
// run as one dispatch, in memory only.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"

// Non-zero keeps fuse_instructions from changing anything (tests compare both ways).
extern uint8_t fusion_disabled;

// Gives the head node of every frequent sequence in the chain from first a handler that
// runs the whole sequence when its operands are plain numbers. Nothing is fused across
// a node that something can jump into. Off when the setting ZRK_FUSION is "off".
void fuse_instructions(InstructionNode* first);

// The handler a node had before the pass: what everything that identifies instructions
// by their handler must see (listing, freeing, the compiled-file writer).
BuiltinHandler unfused_handler(BuiltinHandler handler);
