// The source analyzer and preprocessor: cuts ZRK source into words, runs the directives
// (conditionals, definitions, includes, namespaces, declarations, options) and appends
// the surviving words, with file, line and column, to the compiler's word list.
#pragma once

#include <cstdint>

struct CodeListNode;

// Options the directives set; the driver, linker and reporter read them after analysis.
struct CompileOptions {
  uint8_t globals;           // #GLOBALS / #LOCALS
  uint8_t library;           // #LIBRARY
  uint8_t no_compiled_file;  // #NOZRC
  uint8_t debug;             // #DEBUGON / #DEBUGOFF, initially 1
  uint8_t warnings;          // #NOWARNING clears it, initially 1
  int32_t link;              // #LINK: 1, 0 ("off") or 999 ("multi"), initially 1
  char* icon_file;           // first #ICON, crt::malloc'd
};
extern CompileOptions compile_options;

// Set by the inline assembler around its own analysis: option and declaration
// directives then pass into the list as plain words and includes get no #CODE markers.
extern uint8_t analyzer_assembler_mode;
// #DECLARE and its family are entered at analysis while set (the default); otherwise
// their words go into the list for the linker.
extern uint8_t declare_at_analysis;
// Set when a word of the current line was appended; cleared at each line break.
extern uint8_t line_has_content;
// Name of the definition being expanded (empty otherwise), for the driver's messages.
extern char expanding_definition_name[256];

// Bounds of the analyzer's tables; a source that passes one gets a compile error.
constexpr int32_t kConditionalLevels = 80;
constexpr int32_t kIncludedFiles = 4096;
constexpr int32_t kNamespaceLevels = 64;
constexpr int32_t kDefinitionNesting = 32;
// Analysis stops once this many errors were reported in one compilation.
constexpr int32_t kAnalyzerErrorStop = 64;

// Services of other subsystems, connected when they exist. Until then a declaration or
// an import is skipped and LIBPATH% is taken as empty.
extern int32_t (*external_function_declare_hook)(const char* script_name, const char* function_name,
                                                 const char* library_name, int32_t parameter_count,
                                                 int32_t returns_value, int32_t string_conversion,
                                                 int32_t convention, uint8_t globals);
extern void (*import_type_library_hook)(const char* file_name, const char* library_name);
// The element at index of the list variable "LIBPATH%"; null past its end.
extern const char* (*library_path_element)(int32_t index);

// Back to the start state of a compilation: line 1, no open conditional, no included
// files, no namespace, no directive awaiting an argument, default options.
void analyzer_reset();

// Analyzes text (NUL-terminated; lines end in CR LF, CR or LF) and appends its words
// after cursor. file_name is null for a text that comes from no file. quiet drops the
// file-name line of the compiler output; indent spaces go before it. A line or column
// override other than -1 is given to every word instead of its own. Returns the new cursor.
CodeListNode* analyze_source(const char* file_name, const char* text, CodeListNode* cursor, int32_t quiet,
                             int32_t indent, int32_t line_override, int32_t column_override);

// analyze_source for the main source of a compilation, then the error for a conditional
// left open.
CodeListNode* analyze_main_source(const char* file_name, const char* text, CodeListNode* cursor);

// Whether the parser can read the analysis's words: no error was reported, or only
// errors that dropped their own line and left the rest whole (a failed #IMPORT).
bool analysis_left_words_whole();

// A path that begins with a separator as it is; any other under the running program's
// folder. A new crt::malloc'd text.
char* resolve_program_relative_path(const char* path);
