// The geometry, trigonometry and tile-grid built-ins: distances, midpoints, directions,
// wrapped angle sums, table sines and cosines, snapping and isometric cells.
#include "game/geometry_builtins.h"

#include <cmath>

#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "game/game_math.h"
#include "game/iso_grid.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

void store_number(Variable* variable, double value) {
  if (variable) set_variable(variable, nullptr, value, nullptr, 0);
}

// The four coordinates of a two-point built-in, each truncated to an integer.
struct TwoPoints {
  double x1, y1, x2, y2;
};
TwoPoints pop_two_points() {
  TwoPoints points;
  points.y2 = pop_integer();
  points.x2 = pop_integer();
  points.y1 = pop_integer();
  points.x1 = pop_integer();
  return points;
}

// The cosine table's index for an angle in degrees: rounded half up after a truncation
// biased away from zero, then wrapped onto the table's whole turn when it falls outside.
int32_t degree_index(double degrees) {
  if (!(std::fabs(degrees) < 1e15)) degrees = std::fmod(degrees, 360.0);
  double biased = degrees >= 0 ? std::floor(degrees + 1e-12) : std::ceil(degrees - 1e-12);
  int64_t index = static_cast<int64_t>(biased);
  if (degrees - static_cast<double>(index) >= 0.5) ++index;
  if (index < 0 || index > 360) {
    index %= 360;
    if (index < 0) index += 360;
  }
  return static_cast<int32_t>(index);
}

double table_cosine(double degrees) {
  if (std::isnan(degrees)) return degrees;
  return cos_degree_table[degree_index(degrees)];
}

}  // namespace

double wrap_angle(double sum, double period) {
  if (!std::isfinite(sum)) return std::nan("");
  // Far outside the circle one remainder does what the additions would, without looping
  // for ever; near it the additions keep the exact sums.
  if (std::fabs(sum) > period * 1024) sum = std::fmod(sum, period);
  while (sum < 0) sum += period;
  while (sum > period) sum -= period;
  return sum;
}

void builtin_distance() {
  TwoPoints p = pop_two_points();
  push_result(point_distance(p.x1, p.y1, p.x2, p.y2, 0));
}

void builtin_middle() {
  Variable* y_variable = pop_variable();
  Variable* x_variable = pop_variable();
  TwoPoints p = pop_two_points();
  store_number(x_variable, truncate_to_int((p.x2 - p.x1) * 0.5 + p.x1));
  store_number(y_variable, truncate_to_int((p.y2 - p.y1) * 0.5 + p.y1));
}

void builtin_angle() {
  TwoPoints p = pop_two_points();
  push_result(point_angle(p.x1, p.y1, p.x2, p.y2, 1));
}

void builtin_incangle() {
  double increment = pop_number();
  double angle = pop_number();
  push_result(wrap_angle(angle + increment, 360.0));
}

void builtin_incanglerad() {
  double increment = pop_number();
  double angle = pop_number();
  push_result(wrap_angle(angle + increment, kTwoPi));
}

void builtin_torad() { push_result(pop_number() / kDegreesPerRadian); }

void builtin_todeg() { push_result(pop_number() * kDegreesPerRadian); }

void builtin_cos256() { push_result(cos256_table[pop_integer() & 255]); }

void builtin_sin256() { push_result(cos256_table[(pop_integer() - 64) & 255]); }

void builtin_cos360() { push_result(table_cosine(pop_number())); }

void builtin_sin360() { push_result(table_cosine(wrap_angle(pop_number() - 90, 360.0))); }

void builtin_adjustxy() {
  int32_t iso = pop_integer();
  int32_t cell_height = pop_integer();
  int32_t cell_width = pop_integer();
  Variable* y_variable = pop_variable();
  Variable* x_variable = pop_variable();
  double x = 0, y = 0;
  void* text = nullptr;
  if (x_variable) get_variable_value(x_variable, &text, &x, nullptr);
  if (y_variable) get_variable_value(y_variable, &text, &y, nullptr);
  int32_t snapped_x = truncate_to_int(x), snapped_y = truncate_to_int(y);
  if (!snap_to_grid(&snapped_x, &snapped_y, cell_width, cell_height, iso)) return;
  store_number(x_variable, snapped_x);
  store_number(y_variable, snapped_y);
}

void builtin_toiso() {
  Variable* y_variable = pop_variable();
  Variable* x_variable = pop_variable();
  int32_t cell_height = pop_integer();
  int32_t cell_width = pop_integer();
  int32_t row = pop_integer();
  int32_t column = pop_integer();
  int32_t x, y;
  iso_cell_position(column, row, cell_width, cell_height, &x, &y);
  store_number(x_variable, x);
  store_number(y_variable, y);
}

void builtin_drawgrid() {
  int32_t iso = pop_integer();
  int32_t colour = pop_integer();
  int32_t cell_height = pop_integer();
  int32_t cell_width = pop_integer();
  draw_grid(cell_width, cell_height, static_cast<uint16_t>(colour), iso);
}

void register_geometry_builtins() {
  builtin_register("distance", builtin_distance);
  builtin_register("middle", builtin_middle);
  builtin_register("angle", builtin_angle);
  builtin_register("incangle", builtin_incangle);
  builtin_register("incanglerad", builtin_incanglerad);
  builtin_register("torad", builtin_torad);
  builtin_register("todeg", builtin_todeg);
  builtin_register("cos256", builtin_cos256);
  builtin_register("sin256", builtin_sin256);
  builtin_register("cos360", builtin_cos360);
  builtin_register("sin360", builtin_sin360);
  builtin_register("adjustxy", builtin_adjustxy);
  builtin_register("toiso", builtin_toiso);
  builtin_register("drawgrid", builtin_drawgrid);
}
