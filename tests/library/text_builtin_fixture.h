// Calls string built-ins with arguments given as a table: each text argument can be
// pushed as 8-bit or as UTF-16 text, so one table of cases checks both kinds.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "builtin_fixture.h"

// One argument as compiled code pushes it: a text or a number.
struct TextArgument {
  bool is_text;
  std::string text;
  double number;
};
inline TextArgument text_argument(const char* text) { return {true, text, 0}; }
inline TextArgument number_argument(double number) { return {false, "", number}; }

// ASCII (and Latin-1) text as UTF-16 and back, for cases written once for both kinds.
inline std::u16string widen(const std::string& text) {
  std::u16string wide;
  for (char c : text) wide.push_back(static_cast<unsigned char>(c));
  return wide;
}
inline std::string narrow(const std::u16string& text) {
  std::string result;
  for (char16_t c : text) result.push_back(static_cast<char>(c));
  return result;
}

class TextBuiltinTest : public BuiltinTest {
 protected:
  using BuiltinTest::BuiltinTest;

  // Pushes the arguments first to last; texts as UTF-16 when wide is set.
  void push_arguments(const std::vector<TextArgument>& arguments, bool wide) {
    for (const TextArgument& argument : arguments) {
      if (!argument.is_text) {
        push(argument.number);
      } else if (wide) {
        push_wide_text(kept_wide_.emplace_back(widen(argument.text)).c_str());
      } else {
        push_text(kept_.emplace_back(argument.text).c_str());
      }
    }
  }

  // Pops a text result, which must be of the kind given; UTF-16 comes back narrowed.
  std::string pop_text_of_kind(bool wide) {
    ValueCell* cell = stack_pop(context);
    EXPECT_NE(cell->text, nullptr) << "the result is no text";
    if (!cell->text) return "<number>";
    EXPECT_EQ((cell->flags & kCellWideText) != 0, wide) << "the result is of the other text kind";
    if (cell->flags & kCellWideText) return narrow(static_cast<const char16_t*>(cell->text));
    return static_cast<const char*>(cell->text);
  }

  // Texts the pushed cells point at, alive until the test ends.
  std::deque<std::string> kept_;
  std::deque<std::u16string> kept_wide_;
};
