#include "compiler/codegen/code_generator.h"

InstructionNode* main_entry = nullptr;
uint8_t optimize = 1;

InstructionNode* generate_code(const char*, ProgramContext*, CodeListNode*, ProcedureRecord**, int32_t*, uint8_t*) {
  return nullptr;
}
