// The instruction optimiser: rewrites a generated list into fused instructions and folded
// constants.
#pragma once

struct InstructionNode;

// Rewrites the list held by *list_tail in place; *list_tail stays its last node.
void optimize_instruction_list(InstructionNode** list_tail);
