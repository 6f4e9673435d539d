// Maths for scripts: every number is a double; texts where numbers are expected read as
// numbers (non-numeric text is 0). Random numbers come from the device's C runtime
// generator, so a seeded script draws the same sequence on every machine.
#include "library/strings/maths_builtins.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

constexpr double kLargestDouble = 1.7976931348623157e308;
// 1 / (RAND_MAX + 1): rand() scaled into [0, 1).
constexpr double kRandomScale = 3.0517578125e-5;
// At most this many values of randomset take part in the draw.
constexpr int32_t kRandomSetLimit = 1024;
// From 2^52 up every double is a whole number.
constexpr double kWholeFrom = 4503599627370496.0;

void push_result(double value) { stack_push_number(current_program, value); }

uint32_t pop_unsigned() { return static_cast<uint32_t>(pop_integer()); }

// ---- The C library's functions ----

void builtin_abs() { push_result(std::fabs(pop_number())); }
void builtin_acos() { push_result(std::acos(pop_number())); }
void builtin_asin() { push_result(std::asin(pop_number())); }
void builtin_atan() { push_result(std::atan(pop_number())); }
void builtin_cos() { push_result(std::cos(pop_number())); }
void builtin_sin() { push_result(std::sin(pop_number())); }
void builtin_tan() { push_result(std::tan(pop_number())); }
void builtin_cosh() { push_result(std::cosh(pop_number())); }
void builtin_sinh() { push_result(std::sinh(pop_number())); }
void builtin_tanh() { push_result(std::tanh(pop_number())); }
void builtin_exp() { push_result(std::exp(pop_number())); }
void builtin_log() { push_result(std::log(pop_number())); }
void builtin_log10() { push_result(std::log10(pop_number())); }
void builtin_sqrt() { push_result(std::sqrt(pop_number())); }
void builtin_floor() { push_result(std::floor(pop_number())); }
void builtin_ceil() { push_result(std::ceil(pop_number())); }
void builtin_chgsign() { push_result(crt::_chgsign(pop_number())); }

void builtin_atan2() {
  double x = pop_number();
  double y = pop_number();
  push_result(std::atan2(y, x));
}

void builtin_pow() {
  double y = pop_number();
  double x = pop_number();
  push_result(std::pow(x, y));
}

void builtin_hypot() {
  double y = pop_number();
  double x = pop_number();
  push_result(crt::_hypot(x, y));
}

// ---- Rounding ----

// x rounded half up at digits decimals (negative digits: tens, hundreds ...).
void builtin_roundex() {
  int32_t digits = pop_integer();
  double x = pop_number();
  double scale = std::pow(10.0, digits);
  push_result(std::floor(x * scale + 0.5) / scale);
}

// x cut down (toward minus infinity) at digits decimals.
void builtin_truncex() {
  int32_t digits = pop_integer();
  double x = pop_number();
  double scale = std::pow(10.0, digits);
  push_result(std::floor(x * scale) / scale);
}

void builtin_trunc() { push_result(truncate_double(pop_number())); }

// Half away from zero: 2.5 gives 3 and -2.5 gives -3. Numbers past 2^52, infinities and
// NaN are already whole and come back as they are.
void builtin_round() {
  double x = pop_number();
  if (!(std::fabs(x) < kWholeFrom)) {
    push_result(x);
    return;
  }
  double whole = static_cast<double>(truncate_to_int64(x));
  if (x - whole >= 0.5) whole += 1.0;
  else if (whole - x >= 0.5) whole -= 1.0;
  push_result(whole);
}

// ---- Minimum and maximum of any number of values ----

void builtin_min() {
  double smallest = kLargestDouble;
  ValueCell* mark;
  if (stack_take_mark(current_program, &mark)) {
    while (current_program->stack_top && current_program->stack_top != mark) {
      double value = cell_number(stack_pop(current_program));
      if (value < smallest) smallest = value;
    }
  }
  push_result(smallest);
}

void builtin_max() {
  double largest = 0;
  bool any = false;
  ValueCell* mark;
  if (stack_take_mark(current_program, &mark)) {
    while (current_program->stack_top && current_program->stack_top != mark) {
      double value = cell_number(stack_pop(current_program));
      if (!any || value > largest) largest = value;
      any = true;
    }
  }
  push_result(largest);
}

// ---- Random numbers ----

double random_fraction() { return static_cast<double>(crt::rand()) * kRandomScale; }

void builtin_rand() { push_result(crt::rand()); }

// 0 up to n (excluded); n is not truncated first, so random(2.5) gives 0, 1 or 2.
void builtin_random() {
  double limit = pop_number();
  push_result(std::trunc(random_fraction() * limit));
}

// One of the arguments, drawn over them in pop order (last argument first). With no
// argument there is nothing to draw from: 0, and the generator is left alone.
void builtin_randomset() {
  std::vector<double> values;
  ValueCell* mark;
  if (stack_take_mark(current_program, &mark)) {
    while (current_program->stack_top && current_program->stack_top != mark) {
      ValueCell* cell = stack_pop(current_program);
      if (static_cast<int32_t>(values.size()) < kRandomSetLimit) values.push_back(cell_number(cell));
    }
  }
  if (values.empty()) {
    push_result(0);
    return;
  }
  auto index = static_cast<size_t>(random_fraction() * static_cast<double>(values.size()));
  push_result(values[index]);
}

void builtin_srand() { crt::srand(pop_unsigned()); }

// ---- Bit rotations of 32-bit values ----

uint32_t rotate_left(uint32_t value, int32_t count) {
  uint32_t shift = static_cast<uint32_t>(count) & 31u;
  return shift ? (value << shift) | (value >> (32u - shift)) : value;
}

void builtin_rotl() {
  int32_t count = pop_integer();
  uint32_t value = pop_unsigned();
  stack_push_uint(rotate_left(value, count));
}

// Right by count is left by -count (modulo 32).
void builtin_rotr() {
  int32_t count = pop_integer();
  uint32_t value = pop_unsigned();
  stack_push_uint(rotate_left(value, static_cast<int32_t>(0u - static_cast<uint32_t>(count))));
}

// ---- wrap: clamp (mode 0) or wrap once into low..high ----

void builtin_wrap() {
  int32_t mode = pop_integer();
  double high = pop_number();
  double low = pop_number();
  double value = pop_number();
  if (mode == 0) {
    if (value < low) value = low;
    if (value > high) value = high;
  } else {
    if (value < low) value = high - value;
    if (value > high) value = value - high + low;
  }
  push_result(value);
}

// ---- Character classes ----

enum class TextRule {
  kEveryCharacter,  // every character is in the class
  kEveryLetter,     // every letter is in the class; other characters are ignored
};

constexpr int kLetters = crt::_ALPHA;

// The class test of a text (1 or 0; empty text passes) or of a character code (the C
// runtime's class bits, 0 when none).
void test_class(int mask, TextRule rule) {
  ValueCell* cell = stack_pop(current_program);
  if (!cell->text || (cell->flags & kCellList)) {
    push_result(crt::_isctype(truncate_to_int(cell->number), mask));
    return;
  }
  bool passes = true;
  if (cell->flags & kCellWideText) {
    for (const auto* unit = cell_wide_text(cell); passes && *unit; ++unit) {
      if (rule == TextRule::kEveryLetter && !crt::iswctype(*unit, kLetters)) continue;
      passes = crt::iswctype(*unit, mask) != 0;
    }
  } else {
    // Bytes as unsigned code-page characters: 0xFF is the letter y with diaeresis, not EOF.
    for (const auto* byte = static_cast<const unsigned char*>(cell->text); passes && *byte; ++byte) {
      if (rule == TextRule::kEveryLetter && !crt::_isctype(*byte, kLetters)) continue;
      passes = crt::_isctype(*byte, mask) != 0;
    }
  }
  push_result(passes ? 1 : 0);
}

void builtin_isalnum() { test_class(kLetters | crt::_DIGIT, TextRule::kEveryCharacter); }
void builtin_isalpha() { test_class(kLetters, TextRule::kEveryCharacter); }
void builtin_iscntrl() { test_class(crt::_CONTROL, TextRule::kEveryCharacter); }
void builtin_isdigit() { test_class(crt::_DIGIT, TextRule::kEveryCharacter); }
void builtin_islower() { test_class(crt::_LOWER, TextRule::kEveryLetter); }
void builtin_isprint() {
  test_class(crt::_BLANK | crt::_PUNCT | kLetters | crt::_DIGIT, TextRule::kEveryCharacter);
}
void builtin_ispunct() { test_class(crt::_PUNCT, TextRule::kEveryCharacter); }
void builtin_isspace() { test_class(crt::_SPACE, TextRule::kEveryCharacter); }
void builtin_isupper() { test_class(crt::_UPPER, TextRule::kEveryLetter); }

}  // namespace

void register_maths_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"abs", builtin_abs},         {"acos", builtin_acos},       {"asin", builtin_asin},
      {"atan", builtin_atan},       {"atan2", builtin_atan2},     {"cos", builtin_cos},
      {"sin", builtin_sin},         {"tan", builtin_tan},         {"cosh", builtin_cosh},
      {"sinh", builtin_sinh},       {"tanh", builtin_tanh},       {"exp", builtin_exp},
      {"log", builtin_log},         {"log10", builtin_log10},     {"sqrt", builtin_sqrt},
      {"floor", builtin_floor},     {"ceil", builtin_ceil},       {"pow", builtin_pow},
      {"hypot", builtin_hypot},     {"chgsign", builtin_chgsign}, {"roundex", builtin_roundex},
      {"round", builtin_round},     {"trunc", builtin_trunc},     {"truncex", builtin_truncex},
      {"min", builtin_min},         {"max", builtin_max},         {"rand", builtin_rand},
      {"random", builtin_random},   {"randomset", builtin_randomset}, {"srand", builtin_srand},
      {"lrotl", builtin_rotl},      {"rotl", builtin_rotl},       {"lrotr", builtin_rotr},
      {"rotr", builtin_rotr},       {"wrap", builtin_wrap},       {"isalnum", builtin_isalnum},
      {"isalpha", builtin_isalpha}, {"iscntrl", builtin_iscntrl}, {"isdigit", builtin_isdigit},
      {"islower", builtin_islower}, {"isprint", builtin_isprint}, {"ispunct", builtin_ispunct},
      {"isspace", builtin_isspace}, {"isupper", builtin_isupper},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
}
