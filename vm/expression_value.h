// The value of one expression of the script language, compiled and run where the caller
// stands. The machine's debugger link asks for such values; the compiler answers.
#pragma once

#include <cstdint>
#include <string>

struct ExpressionValue {
  bool ran = false;      // false when the expression did not compile or run
  int32_t values = 0;    // how many values it handed over (1 for a plain expression)
  bool is_text = false;  // the last value was a text (8-bit; UTF-16 is converted)
  std::string text;      // its text, or the number's text
  double number = 0;
};

// Filled by the compiler's registration; null while no compiler is present, and the
// value then did not run.
extern ExpressionValue (*expression_evaluator)(const std::string& expression);
