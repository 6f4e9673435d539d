// Tile grids: snapping a pixel position to its cell, plain or isometric (odd rows shifted
// half a cell right, rows half a cell high apart), and the isometric cell position.
#pragma once

#include <cstdint>

// Snaps (x, y) to the top-left of its cell. False, with x and y unchanged, for a cell
// width or height of 0.
bool snap_to_grid(int32_t* x, int32_t* y, int32_t cell_width, int32_t cell_height, int32_t iso);
// The pixel position of isometric cell (column, row).
void iso_cell_position(int32_t column, int32_t row, int32_t cell_width, int32_t cell_height, int32_t* x,
                       int32_t* y);
// Draws the grid lines over the game screen, following the view origin, on the draw
// Canvas; nothing without an open game display or for a cell side of 0.
void draw_grid(int32_t cell_width, int32_t cell_height, uint16_t colour, int32_t iso);
