// The inline ARM assembler: turns the word list of an assembler text into ARM machine
// code in a code block of its own, and gives such blocks back.
#pragma once

#include <cstdint>

#include "vm/debug_frames.h"

struct CodeListNode;

// Set while an assembly should write its listing to the log (the "#DEASM" directive);
// cleared when an assembly ends.
extern uint8_t assembler_listing_enabled;
// Runtime options that make every statement call the debugger or the profiler; a block
// then needs 16 (or 256) times the given size.
extern uint8_t assembler_debugger_mode;
extern uint8_t assembler_profiler_mode;
// Where the assembler text stands, for the debugger and profiler calls: its file name
// and the line its first line counts from. Set by the caller around one assembly.
extern const char* assembler_source_file;
extern int32_t assembler_source_line;
// Flushes the processor caches after a block is given back; filled by whatever runs the
// ARM code. Null does nothing.
extern void (*code_cache_flush_hook)(int32_t flags);

// Assembles the words from first on into a new executable code block of *size bytes
// (multiplied for the diagnostic modes, and written back). Returns the block's start;
// errors go through report_compile_message and the caller discards the block when any
// was reported. Null when no block could be reserved.
uint8_t* assemble_inline_code(int32_t* size, CodeListNode* first);

// Frees the block's strings and the block itself, then flushes the caches. An address
// that is not a live block of assemble_inline_code is ignored.
void free_code_block(uint8_t* block);

// The word list of an assembler text on the compiler pool: label and function
// definitions joined into ":NAME" and "!NAME" words; "#DEASM" sets the listing flag.
// The first word, null for a text without words.
CodeListNode* analyze_assembler_text(const char* text);

// Analyzes an assembler text and assembles it into a block of size bytes. The block, or
// null when an error was reported (the error is shown and the block already freed).
uint8_t* assemble_script_text(const char* text, int32_t size);

// The ARM data-processing encoding of value (8 bits and a rotation), -1 when none.
int32_t encode_rotated_immediate(uint32_t value);

// Limits the assembler enforces with a compile error.
constexpr int32_t kAssemblerMaxParameters = 128;      // parameters of one function
constexpr int32_t kAssemblerMaxConstants = 1024;      // distinct constants of one block
constexpr int32_t kAssemblerMaxReferences = 16383;    // constant uses of one block
