#include "compiler/zrc/compiled_file.h"

void write_compiled_file(const char*, InstructionNode*) {}

InstructionNode* read_compiled_file(const char*, const uint8_t*, uint32_t, ProgramContext*, ProcedureRecord**, int32_t*,
                                    uint8_t*) {
  return nullptr;
}

int32_t compiled_file_is_current(const char*, const char*) { return 0; }
