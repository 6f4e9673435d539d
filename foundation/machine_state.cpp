// Definitions of the machine's global state shared with the variable layer.
#include "foundation/machine_state.h"

#include "foundation/instruction_node.h"

Variable* current_object = nullptr;
Variable* current_scope = nullptr;
Variable* percent_variables = nullptr;
InstructionNode* current_instruction = nullptr;
const char* current_procedure_name = nullptr;
uint8_t stop_flag = 0;
int32_t try_depth = 0;
uint8_t debugger_enabled = 0;

ProgramContext* call_program = nullptr;
InstructionNode* call_procedure = nullptr;
Variable* call_scope = nullptr;
Variable* call_object = nullptr;
uint8_t entry_skip = 0;

void (*procedure_caller)() = nullptr;

uint8_t no_explicit_check = 0;
uint8_t alias_follow_suppressed = 0;
uint8_t list_copy_suppressed = 0;

uint32_t current_scope_key() {
  if (!current_instruction || !current_instruction->extension) return 0;
  return current_instruction->extension->scope_key;
}
