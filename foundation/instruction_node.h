// The compiled instruction and its extension block: the record layouts that the
// foundation, the machine and the compiler share. Their operations live in the machine.
#pragma once

#include <cstddef>
#include <cstdint>

struct Variable;
struct InstructionNode;

// The routine behind every built-in, operator and statement: it pops its operands
// from the current program's value stack and a function pushes one result.
using BuiltinHandler = void (*)();

struct InstructionExtension {
  InstructionNode* link;          // jump target, EXCEPT target, called procedure, loop exit
  char* name_operand;             // interned lower-case second name
  uint32_t flags;                 // a push of two variables: the hash of the second name
  uint16_t kind;
  uint32_t scope_key;
  uint8_t method_flag;
  uint8_t is_jump_target;
  // Where the cached variables last sat in a local scope (1 + their index from the scope's
  // head, 0 when not local): a recursion's fresh scope of the same procedure finds them
  // there again without a search. A hint only, checked at every use; kept in what was
  // padding, so the block keeps its size and field offsets.
  uint8_t local_position;
  uint8_t local_position2;
  Variable* cached_variable;
  uint32_t cached_scope;
  Variable* cached_variable2;
  uint32_t cached_scope2;
};

struct InstructionNode {
  double operand;
  uint32_t work;
  char* text;
  uint32_t text_hash;
  uint32_t opcode;
  BuiltinHandler handler;
  BuiltinHandler inner_handler;
  InstructionExtension* extension;
  InstructionNode* next;
  InstructionNode* previous;  // the second link: the program's code list runs through it
};
static_assert(sizeof(InstructionNode) == 44, "instruction node layout");
static_assert(sizeof(InstructionExtension) == 40 && offsetof(InstructionExtension, cached_variable) == 24,
              "instruction extension layout");
