// The printable form of an instruction: its opcode name and one listing line, for the
// debugger's code view and the run-time error report.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"

// How a handler's operands are printed in the operand column.
enum class ListingOperand : uint8_t {
  None,
  Number,               // the operand
  Text,                 // the text
  QuotedText,           // the text in quotes
  SecondThenText,       // second text, "text"
  QuotedSecondThenText, // "second text", text
  NumberPair,           // the number in the text block, the operand
  NumberThenQuoted,     // operand, "text"
  QuotedThenNumber,     // "text", operand
  NumberThenText,       // operand, text
  TextThenNumber,       // text, operand
  QuotedPair,           // "text", "second text"
  TextPair,             // text, second text
  TextThenQuotedSecond, // text, "second text"
  CaseLabel,            // text, operand, successor of the link
  IntegerOperand,       // the operand as an integer
  CallTarget,           // text, successor of the link
  JumpTarget,           // successor of the link
};

// Marks a fused instruction's outer handler adds before the operand column.
enum class ListingAnnotation : uint8_t { None, SaveSp, SaveSp2, ConditionalJump, Jump, DropStack };

// The units that own handlers say how their operands print and which outer handlers
// annotate; a handler without a registration prints by its opcode.
void listing_register_operand(BuiltinHandler handler, ListingOperand form);
void listing_register_annotation(BuiltinHandler handler, ListingAnnotation annotation);
// Forgets every registration (teardown and tests).
void listing_registrations_clear();

// The instruction's name: for INTERNALCALL the first built-in of its handler, for an
// external call the declared function's, otherwise the opcode's. Null when none.
const char* opcode_name(const InstructionNode* instruction);

// "0x<address>|   <name padded to 20> <annotation><operands>" as a new heap text from
// crt::malloc that the caller frees.
char* instruction_listing_line(const InstructionNode* instruction);
