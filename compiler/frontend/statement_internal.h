// Helpers shared by the statement compiler's units: writing output words, messages,
// and the routines of argument lists, literals, offsets and definitions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/code_list.h"
#include "compiler/frontend/statement_compiler.h"

// Writes an output word with the place of node (none when node is null).
CodeListNode* emit_word(CodeListNode** output, const std::string& text, const CodeListNode* node);
// Writes a word right after anchor; the output cursor follows when it was the anchor.
CodeListNode* emit_word_after(CodeListNode** output, CodeListNode* anchor, const std::string& text,
                              const CodeListNode* node);
// Reports an error (or warning) at node.
void compile_error(const char* source, const std::string& message, const CodeListNode* node);
void compile_warning(const char* source, const std::string& message, const CodeListNode* node);
// The word text with one marker byte in front.
std::string marked(uint8_t marker, const std::string& text);

// Words "&x$[..]" whose offsets make an offset pointer; rejected as procedure arguments.
extern std::vector<CodeListNode*> offset_pointers;
// The last variable name of the statement (a STRUCT's name).
extern std::string last_variable_name;

void compile_argument_list(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                           int32_t* counter);
int32_t compile_array_literal(char** source, char* kind, CodeListNode** input, CodeListNode** output);
void compile_element_offset(bool by_address, char** source, char* kind, CodeListNode** input,
                            CodeListNode** output);
void compile_procedure_definition(char** source, char* kind, CodeListNode** input, CodeListNode** output);
void compile_class_statement(char** source, char* kind, CodeListNode** input, CodeListNode** output);

// The expression compiler (logical level); first_operand leaves in_expression alone.
void compile_expression(char** source, char* kind, CodeListNode** input, CodeListNode** output,
                        bool first_operand);
// A class method defined outside its class body keeps current_class until its END.
void set_method_outside_class(bool outside);
