// The token reader: steps through the analyzer's word list and classifies each word by
// one kind character; and the compile-time procedure and class lookups it shares.
#pragma once

#include <cstdint>

struct CodeListNode;
struct ProgramContext;
struct InstructionNode;

struct ProcedureEntry {
  char* signature;       // "NAME(in,out)"; MAIN and WINMAIN stand bare. crt::malloc'd
  uint8_t input_count;
  uint8_t output_count;  // 0 for PROC, 1 for FUNC unless declared otherwise
  uint8_t variadic;      // NPROC / NFUNC
  uint8_t forward;
  uint8_t force_link;
  uint8_t private_;      // "private" is a C++ keyword
  uint32_t namespace_hash;
};

struct ClassRecord {
  char* name;
  uint32_t name_hash;
  char* parent_name;  // empty when the class has no parent
  uint32_t parent_hash;
  ClassRecord* next;
};

constexpr int32_t kProcedureTableSlots = 4096;
extern ProcedureEntry* ProcedureTable[kProcedureTableSlots];
extern int32_t procedure_count;
extern ClassRecord* ClassList;           // newest first
extern ClassRecord* current_class;       // null outside "#CLASS" ... "#ENDCLASS"
extern uint8_t in_inherited;             // the next call is looked up in the parent class
extern uint32_t current_namespace;       // hash of the open namespace, 0 for none
extern int32_t last_builtin_index;       // registry index of the word just classified, or -1
extern int32_t words_read;
// The last word read before the end of the list; null while the list goes on.
extern CodeListNode* last_word_read;
extern int32_t words_total;
// Moves the compile status window's progress bar; null while there is no window.
extern void (*status_window_update)(const char* text, int32_t position, int32_t total);

// The compilation stops reading tokens after this many errors.
constexpr int32_t kTokenReaderErrorStop = 64;

// Steps to the next word (or, with *kind == 1, stays on the current one) and sets *kind.
// Returns 0 at the end of the list (kind '\n', cursor null) or once 64 errors were
// reported (kind unchanged); 1 otherwise.
int32_t read_token(const char* source, char* kind, CodeListNode** input);

// True for the kinds that can begin an operand.
bool is_operand_start(char kind);

// The index of the newest entry matching signature, -1 for none, or below -1 for a
// procedure of another loaded program (foreign_procedure_start gives its start).
int32_t find_procedure_index(const char* signature, ProcedureEntry** table, int32_t count, int32_t mode,
                             bool name_only, bool exact);
// The index below -1 that stands for a procedure of another program, and back; the list
// of such procedures is emptied at the start of each compile.
int32_t foreign_procedure_index(InstructionNode* start);
InstructionNode* foreign_procedure_start(int32_t index);
void foreign_procedures_clear();
// The entry index of method in the class or, when not there, in its ancestors; the class
// where the last search ran goes to *found_in. -1 when none.
int32_t find_method_index(ClassRecord* record, ClassRecord** found_in, const char* method, ProcedureEntry** table,
                          int32_t count, bool name_only, bool inherited);
// The class record of this name hash; null when none.
ClassRecord* find_class_record(uint32_t hash);
// The compiled procedure of the method "__CLASSCODE_class.method" in the context or its
// parents, searching the class's ancestors too; null when none.
InstructionNode* find_class_method_code(ProgramContext* context, uint32_t key, const char* class_name,
                                        const char* method);

// Appends a new entry (ownership passes in); -1 when the table is full.
int32_t procedure_table_add(ProcedureEntry* entry);
// Frees and removes the entry at index, closing the gap.
void procedure_table_remove(int32_t index);
// Frees the procedure table, the class list and the reader's state.
void token_reader_reset();
