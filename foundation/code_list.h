// The compiler's word lists: doubly linked CodeListNode words with their source place,
// kept on the compiler pool, and the helpers that walk instruction lists.
#pragma once

#include <cstdint>

struct Pool;
struct InstructionNode;

struct CodeListNode {
  char* text;          // pool copy, owned
  uint32_t hash;       // hash_name of text
  char* file_name;     // interned lower-case name, shared
  uint32_t line;
  uint16_t column;     // 0 for words made up by the compiler
  CodeListNode* next;
  CodeListNode* prev;
};

// The pool of every compiler stage; the compile driver creates and drops it.
extern Pool* compiler_pool;
// Nonzero while the analyzer reads a switched-off conditional branch: nothing is appended.
extern uint8_t code_list_skip;

// Creates a node right after the cursor's node (inserting when the cursor is inside a
// list) and moves the cursor to it. Nothing at all while code_list_skip is set, or when
// the pool cannot allocate.
void code_list_append(CodeListNode** cursor, const char* text, const char* file_name, uint32_t line,
                      uint16_t column);
// Appends a copy of every node of source's list, from its first node, with file_name.
void code_list_append_copy(CodeListNode** cursor, CodeListNode* source, const char* file_name);
// The first node of the node's list; null for null.
CodeListNode* code_list_first(CodeListNode* node);
// The count of nodes from this one back to the first, both included; 0 for null.
int32_t code_list_position(CodeListNode* node);
// The node n places further along next; null when the list ends sooner.
CodeListNode* code_list_step(CodeListNode* node, int32_t n);
// Unlinks and frees the node; returns its former next (or, for _back, its former prev).
CodeListNode* code_list_remove(CodeListNode* node);
CodeListNode* code_list_remove_back(CodeListNode* node);
// Replaces the node's text (and hash) by a pool copy of text.
void code_list_set_text(CodeListNode* node, const char* text);
// Frees this node and every node before it; later nodes are left alone.
void code_list_free(CodeListNode* node);

// The first node of an instruction list (through the previous links).
InstructionNode* instruction_list_first(InstructionNode* node);
// The number of nodes of the list the node belongs to; 0 for null.
int32_t instruction_list_count(InstructionNode* node);

// A short name for a source given as text: its first line without the CR, else the part
// before the first ';', at most 20 characters. A new crt::calloc'd text.
char* source_title(const char* text);
