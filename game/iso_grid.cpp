// Plain and isometric tile grids: snapping, cell positions and the grid drawing.
#include "game/iso_grid.h"

#include "display/canvas.h"
#include "foundation/numbers.h"
#include "game/game_state.h"

namespace {

// Grid sizes and positions come from scripts, up to the 32-bit limits: sums and products
// are made in 64 bits and wrap into 32 as the device's own arithmetic does.
int32_t wrap(int64_t value) { return static_cast<int32_t>(value); }

// trunc(value) of a product in single precision.
int32_t half_row_offset(int32_t row, int32_t cell_height) {
  return truncate_to_int(static_cast<float>(row) * static_cast<float>(cell_height) * 0.5f);
}

// x plus half a cell width (rounded down for a positive width) on odd rows.
int32_t shifted_for_row(int32_t x, int32_t row, int32_t cell_width) {
  return row % 2 != 0 ? wrap(int64_t{x} - truncate_to_int(cell_width * -0.5)) : x;
}

}  // namespace

bool snap_to_grid(int32_t* x, int32_t* y, int32_t cell_width, int32_t cell_height, int32_t iso) {
  if (cell_width == 0 || cell_height == 0) return false;
  // Widened: INT32_MIN / -1 does not fit 32 bits.
  int64_t column = static_cast<int64_t>(*x) / cell_width;
  if (!iso) {
    *x = static_cast<int32_t>(column * cell_width);
    *y = static_cast<int32_t>(static_cast<int64_t>(*y) / cell_height * cell_height);
    return true;
  }
  int32_t row = truncate_to_int(static_cast<float>(*y) / (static_cast<float>(cell_height) * 0.5f));
  *x = shifted_for_row(static_cast<int32_t>(column * cell_width), row, cell_width);
  *y = half_row_offset(row, cell_height);
  return true;
}

void iso_cell_position(int32_t column, int32_t row, int32_t cell_width, int32_t cell_height, int32_t* x,
                       int32_t* y) {
  *x = shifted_for_row(wrap(int64_t{column} * cell_width), row, cell_width);
  *y = half_row_offset(row, cell_height);
}

void draw_grid(int32_t cell_width, int32_t cell_height, uint16_t colour, int32_t iso) {
  display::Canvas* canvas = game.draw_canvas;
  if (!canvas || cell_width == 0 || cell_height == 0) return;
  int32_t width = game.screen_width, height = game.screen_height;
  int32_t columns = width / cell_width, rows = height / cell_height;
  int32_t shift_x =
      wrap(int64_t{truncate_to_int(game.origin_x / cell_width)} * cell_width - truncate_to_int(game.origin_x));
  int32_t shift_y =
      wrap(int64_t{truncate_to_int(game.origin_y / cell_height)} * cell_height - truncate_to_int(game.origin_y));
  auto line = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    display::canvas_draw_line_to(canvas, wrap(x0), wrap(y0), wrap(x1), wrap(y1), colour);
  };
  if (!iso) {
    for (int32_t i = 0; i <= rows; ++i) {
      int64_t y = shift_y + int64_t{i} * cell_height;
      line(0, y, width, y);
    }
    for (int32_t i = 0; i <= columns; ++i) {
      int64_t x = shift_x + int64_t{i} * cell_width;
      line(x, 0, x, int64_t{height} - 1);
    }
    return;
  }
  int32_t half_w = cell_width / 2, half_h = cell_height / 2;
  for (int64_t i = 0; i <= int64_t{columns} + 2; ++i) {
    for (int64_t j = 0; j <= int64_t{rows} + 2; ++j) {
      int32_t cell_x = wrap(i * cell_width), cell_y = wrap(j * cell_height);
      snap_to_grid(&cell_x, &cell_y, cell_width, cell_height, 1);
      int64_t x = int64_t{cell_x} + shift_x;
      int64_t y = int64_t{cell_y} + shift_y;
      line(x, y, x + half_w, y + half_h);
      line(x + half_w, y + half_h, x, y + cell_height);
      line(x, y + cell_height, x - half_w, y + half_h);
      line(x - half_w, y + half_h, x, y);
    }
  }
}
