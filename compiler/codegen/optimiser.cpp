#include "compiler/codegen/optimiser.h"

void optimize_instruction_list(InstructionNode**) {}
