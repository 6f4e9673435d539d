// Operands of every value kind pushed as the push instructions leave them: numbers,
// 8-bit and UTF-16 texts, and by-reference cells that carry their variable's value.
#pragma once

#include <string>

#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "foundation/variable.h"

struct Operand {
  enum Kind { Number, Text, Wide, Reference } kind;
  double number = 0;
  const char* text = nullptr;
  const char16_t* wide = nullptr;

  static Operand num(double value) { return {Number, value}; }
  static Operand str(const char* value) { return {Text, 0, value}; }
  static Operand wstr(const char16_t* value) { return {Wide, 0, nullptr, value}; }
  // A by-reference number: the cell names a variable and carries its value.
  static Operand ref(double value) { return {Reference, value}; }

  std::string describe() const {
    switch (kind) {
      case Number: return std::to_string(number);
      case Text: return std::string("'") + text + "'";
      case Wide: return "wide '" + std::string(wide, wide + std::char_traits<char16_t>::length(wide)) + "'";
      case Reference: return "ref " + std::to_string(number);
    }
    return "?";
  }
};

// The variable that by-reference operands name; the operators only read the cell.
inline Variable reference_target{};

inline void push_operand(ProgramContext* program, const Operand& operand) {
  ValueCell* cell = stack_push_cell(program, true);
  cell->number = operand.number;
  cell->text = nullptr;
  cell->variable = nullptr;
  cell->data = 0;
  cell->flags = 0;
  cell->variant_type = 0;
  cell->references = nullptr;
  switch (operand.kind) {
    case Operand::Number: break;
    case Operand::Text: cell->text = const_cast<char*>(operand.text); break;
    case Operand::Wide:
      cell->text = const_cast<char16_t*>(operand.wide);
      cell->flags = kCellWideText;
      break;
    case Operand::Reference:
      cell->variable = &reference_target;
      cell->flags = kCellByReference;
      break;
  }
}

// Pops the one result a handler left and checks it is a plain number.
inline double pop_number_result(ProgramContext* program) {
  ValueCell* cell = stack_pop(program);
  EXPECT_EQ(cell->text, nullptr);
  EXPECT_EQ(cell->variable, nullptr);
  EXPECT_EQ(cell->flags, 0u);
  return cell->number;
}
