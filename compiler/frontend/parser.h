// The parser loop: walks the analyzer's word list statement by statement and writes the
// postfix word list, with CASE labels, line markers and profiling words; and the
// expression levels that order operators by their binding.
#pragma once

#include <cstdint>

struct CodeListNode;
struct Pool;

// The analyzer's pool, kept by parse_word_list while the output grows in a pool of its
// own (then compiler_pool); the compile driver destroys both.
extern Pool* parser_input_pool;

// Parses the list that node belongs to; returns the last output word (null for none).
// The input words are freed statement by statement.
CodeListNode* parse_word_list(const char* main_path, CodeListNode* node);

// The expression levels from the loosest (logical) down; first_operand 0 sets the
// expression flag for the duration. *source is the file name operator words carry.
void parse_expression(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                      int32_t first_operand);

// The three profiling words of a statement: file, line, "__PROFILE".
void emit_profile_marker(const char* file_name, const CodeListNode* first_word, CodeListNode** output);
