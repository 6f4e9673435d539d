// Plain and isometric tile grids: snapping, cell positions and the grid drawing.
#include "game/iso_grid.h"

#include "display/canvas.h"
#include "foundation/numbers.h"
#include "game/game_state.h"

namespace {

// trunc(value) of a product in single precision.
int32_t half_row_offset(int32_t row, int32_t cell_height) {
  return truncate_to_int(static_cast<float>(row) * static_cast<float>(cell_height) * 0.5f);
}

// x plus half a cell width (rounded down for a positive width) on odd rows.
int32_t shifted_for_row(int32_t x, int32_t row, int32_t cell_width) {
  return row % 2 != 0 ? x - truncate_to_int(cell_width * -0.5) : x;
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
  *x = shifted_for_row(column * cell_width, row, cell_width);
  *y = half_row_offset(row, cell_height);
}

void draw_grid(int32_t cell_width, int32_t cell_height, uint16_t colour, int32_t iso) {
  display::Canvas* canvas = game.draw_canvas;
  if (!canvas || cell_width == 0 || cell_height == 0) return;
  int32_t width = game.screen_width, height = game.screen_height;
  int32_t columns = width / cell_width, rows = height / cell_height;
  int32_t shift_x = truncate_to_int(game.origin_x / cell_width) * cell_width - truncate_to_int(game.origin_x);
  int32_t shift_y = truncate_to_int(game.origin_y / cell_height) * cell_height - truncate_to_int(game.origin_y);
  if (!iso) {
    for (int32_t i = 0; i <= rows; ++i) {
      int32_t y = shift_y + i * cell_height;
      display::canvas_draw_line_to(canvas, 0, y, width, y, colour);
    }
    for (int32_t i = 0; i <= columns; ++i) {
      int32_t x = shift_x + i * cell_width;
      display::canvas_draw_line_to(canvas, x, 0, x, height - 1, colour);
    }
    return;
  }
  int32_t half_w = cell_width / 2, half_h = cell_height / 2;
  for (int32_t i = 0; i <= columns + 2; ++i) {
    for (int32_t j = 0; j <= rows + 2; ++j) {
      int32_t x = i * cell_width, y = j * cell_height;
      snap_to_grid(&x, &y, cell_width, cell_height, 1);
      x += shift_x;
      y += shift_y;
      display::canvas_draw_line_to(canvas, x, y, x + half_w, y + half_h, colour);
      display::canvas_draw_line_to(canvas, x + half_w, y + half_h, x, y + cell_height, colour);
      display::canvas_draw_line_to(canvas, x, y + cell_height, x - half_w, y + half_h, colour);
      display::canvas_draw_line_to(canvas, x - half_w, y + half_h, x, y, colour);
    }
  }
}
