// The statement compiler: turns the classified words of one statement (or one operand)
// into postfix output words with the marker words the linker and code generator read.
#pragma once

#include <cstdint>

struct CodeListNode;

// Marker bytes that lead output words; the rest of such a word is text.
constexpr uint8_t kStoreTargetMarker = 0xFB;     // target of "=" and of declarations
constexpr uint8_t kUpdateTargetMarker = 0xF9;    // target of "+=" ... "++" "--"
constexpr uint8_t kProcedureCallMarker = 0xE0;   // call of a script procedure
constexpr uint8_t kSelfCallMarker = 0xE2;        // method of SELF
constexpr uint8_t kInheritedCallMarker = 0xE4;   // method of the parent class
constexpr uint8_t kObjectCallMarker = 0xE5;      // method of an object, or resolved at run time

// Compile state shared by the statement compiler, the argument lists, the definitions
// and the parser loop. Reset by statement_compiler_reset.
extern int32_t pending_outputs;    // values pushed by the statement and not yet consumed
extern uint8_t in_expression;      // an operand of an expression is being compiled
extern uint8_t in_argument_list;
extern uint8_t first_op_written;   // "FIRST_OP" written since the last procedure keyword
extern int32_t block_depth;        // open blocks of the current procedure
extern char* current_signature;    // the procedure being compiled; null between them
extern uint8_t declaration_mode;   // 0 none, 1 LOCAL/GLOBAL/..., 2 STRUCT
extern int32_t target_count;       // assignment targets of the statement so far
extern uint8_t class_header_open;  // a class main code is open
extern uint8_t override_next;      // the next definition may replace an existing one

// Options the compile driver copies from the command-line switches.
extern uint8_t debug_mode;         // line markers ("__DEBUG")
extern uint8_t profile_mode;       // profiling words
extern uint8_t warn_globals;       // warn about "$" names not declared
extern uint8_t warn_dotted_names;  // ... and about dotted ones too

// Namespaces nested deeper than this are a compile error.
constexpr int32_t kNamespaceStackSize = 64;

// Compiles the statement (or operand) at *input into words after *output. *source is the
// heap name used in messages ("#CODE" replaces it). Leaves *input on the word after it,
// classified in *kind. Errors are reported and compilation goes on.
void compile_statement(char** source, char* kind, CodeListNode** input, CodeListNode** output);

// The names declared so far (parameters, LOCAL names ...) with the depth of each.
bool is_declared_name(uint32_t hash);
void declare_name(uint32_t hash, int32_t depth);

// Back to the start state of a compilation: the tables of the token reader too.
void statement_compiler_reset();
