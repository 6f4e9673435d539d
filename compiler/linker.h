// The linker: between the parser and the code generator it drops procedures nothing
// calls and appends declaration words for the library functions the program uses.
#pragma once

#include <cstdint>

#include "foundation/code_list.h"

struct InstructionNode;

// One procedure of a link pass's table.
struct ProcedureRecord {
  char* name;                  // owned copy of the text after the header
  InstructionNode* start;      // filled by the code generator or the reader
  uint8_t spare;
  uint8_t parameter_count;
  uint8_t returns_value;       // set for NPROC and NFUNC heads: any input count calls them
  uint8_t single_occurrence;   // 0 once a second start word of the name was seen
  uint8_t keep;                // never removed
  uint8_t underscore;
  uint32_t namespace_hash;
};
static_assert(sizeof(void*) != 4 || sizeof(ProcedureRecord) == 20, "procedure record layout");

// One reference found by a pass: to a procedure or to a declared library function.
struct LinkUsage {
  int32_t procedure_index;     // -1 for a library function
  int32_t builtin_index;       // -1 for a procedure
  uint32_t namespace_hash;
  CodeListNode* word;
};
static_assert(sizeof(void*) != 4 || sizeof(LinkUsage) == 16, "link usage layout");

constexpr int32_t kLinkProcedureSlots = 4096;
// Bounds of the reference table and of namespace nesting; past them a compile error.
constexpr int32_t kLinkUsageSlots = 8192;
constexpr int32_t kLinkNamespaceDepth = 64;

// A procedure that native code calls by name although no word of the program does (the
// loader program's UPDATE): kept like MAIN and WINMAIN. Null when there is none; the
// driver sets it for the compile it needs it for.
extern const char* link_kept_procedure;

// Links the word list handed over by its last word, removing unused procedures over up
// to compile_options.link passes. The list's (possibly new) last word, with declaration
// words appended; null when every word was removed.
CodeListNode* link_word_list(const char* file_name, CodeListNode* words);

// True when a call word's signature "NAME(in,out)" names the record: the same text, or
// for a record that takes any input count, the same name and output part.
bool procedure_reference_matches(const ProcedureRecord* record, const char* signature);

// Records a reference under the current namespace unless an equal one exists. Returns
// its index, or -1 after a compile error when the table is full.
int32_t add_link_usage(int32_t procedure_index, int32_t builtin_index, CodeListNode* word);
// With builtin_index -1: the first usage of the procedure in namespace_hash (any when 0);
// otherwise the first usage of that built-in. -1 when none.
int32_t find_link_usage(int32_t procedure_index, int32_t builtin_index, uint32_t namespace_hash);
// The number of usages recorded by the last pass (emptied when linking ends).
int32_t link_usage_count();
