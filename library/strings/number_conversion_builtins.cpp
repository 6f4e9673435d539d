// Script numbers are doubles; 64-bit integers live only in memory blocks, so LargeInt
// and ToLargeInt move them between a double and 8 little-endian bytes at an address.
#include "library/strings/number_conversion_builtins.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// 2 to the power -52: ToFloat adds it so a whole number reads as a fraction.
constexpr double kFloatNudge = 2.220446049250313e-16;

// Truncation toward zero to 64 bits; NaN gives 0 and values beyond the range the
// nearest end of it (a plain conversion would be undefined).
int64_t truncate_to_int64_saturated(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

void builtin_int() { stack_push_number(current_program, pop_number()); }

void builtin_tofloat() { stack_push_number(current_program, pop_number() + kFloatNudge); }

void builtin_toint() { stack_push_number(current_program, truncate_to_int(pop_number())); }

void builtin_largeint() {
  uint32_t address = pop_address();
  int64_t value;
  std::memcpy(&value, platform::pointer_from<void>(address), sizeof value);
  stack_push_number(current_program, static_cast<double>(value));
}

void builtin_tolargeint() {
  uint32_t address = pop_address();
  int64_t value = truncate_to_int64_saturated(pop_number());
  std::memcpy(platform::pointer_from<void>(address), &value, sizeof value);
}

}  // namespace

void register_number_conversion_builtins() {
  builtin_register("int", builtin_int);
  builtin_register("ToFloat", builtin_tofloat);
  builtin_register("ToInt", builtin_toint);
  builtin_register("LargeInt", builtin_largeint);
  builtin_register("ToLargeInt", builtin_tolargeint);
}
