// Compiled program files (".zrc"): saving an instruction list, loading it back into a
// program, and deciding whether a compiled file can stand in for its source.
#pragma once

#include <cstdint>

struct InstructionNode;
struct ProcedureRecord;
struct ProgramContext;

// Set by the driver while it saves in makeexe mode 1 ("FPC"): the file is then marked as
// built for the desktop platform, which a device runtime warns about when loading it.
extern uint8_t compiled_file_makeexe_mode1;

// Saves the list that starts at first (walked through next links) to path.
void write_compiled_file(const char* path, InstructionNode* first);

// Rebuilds a saved list into program: from the file at path, or, when image is not null,
// from image_size bytes of an in-memory image (copied, not freed). Fills the procedure
// table and its count, the class list, main_entry and *winmain_flag. The first node of the
// rebuilt list, or null when the file is missing, foreign or damaged.
InstructionNode* read_compiled_file(const char* path, const uint8_t* image, uint32_t image_size, ProgramContext* program,
                                    ProcedureRecord** procedures, int32_t* procedure_count, uint8_t* winmain_flag);

// 1 when the compiled file exists, is not older than the source and is newer than the
// runtime's executable, else 0. A current file's unpacked image is kept for the load that
// follows: read_compiled_file of the same path takes it instead of reading the file again.
int32_t compiled_file_is_current(const char* source_path, const char* compiled_path);

// Forgets a kept image that no load took; a later load reads its file.
void drop_checked_compiled_image();
