// The code generator: turns the linked postfix word list of one source into the threaded
// instruction list the machine runs, with block matching, procedure heads, calls and
// declarations, and (when switched on) the optimiser.
#pragma once

#include <cstdint>

struct CodeListNode;
struct InstructionNode;
struct ProcedureRecord;
struct ProgramContext;

// Consumes the word list handed over by its last word and returns the last node of the new
// instruction list. procedures/procedure_count is the compiler's procedure table (4,096
// slots), grown for procedure heads not yet in it; *winmain_flag is set to 1 when the entry
// is a WINMAIN with parameters. The program's range-check and explicit bytes and its class
// list are written.
InstructionNode* generate_code(const char* file_name, ProgramContext* program, CodeListNode* last_word,
                               ProcedureRecord** procedures, int32_t* procedure_count, uint8_t* winmain_flag);

// The node the program starts at (its MAIN or WINMAIN head, or the first node of a program
// without procedures); null when none. Set by generate_code and by the compiled-file reader,
// read by the driver and the compiled-file writer.
extern InstructionNode* main_entry;

// The optimiser runs while this is set (cleared by the "NO" switch).
extern uint8_t optimize;

namespace codegen {
// The handler of declaration, class and forward data nodes: they carry data for the
// compiled file and do nothing when the run passes over them.
void op_data_node();
}  // namespace codegen
