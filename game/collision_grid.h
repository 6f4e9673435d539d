// The collision grid: square cells over the world, each with a chain of entries naming
// the sprites whose collision rectangle covers it, and static regions put there by scripts.
#pragma once

#include <cstdint>

#include "platform/kernel/system_info.h"

struct Sprite;

// In every chain the used entries come first and the free ones after them; new entries
// are pushed at the head, a freed one trades places with the chain's last used entry.
struct GridCellEntry {
  Sprite* sprite;    // null for a free or static entry
  uint32_t id_hash;  // key of a static entry
  // The region of a static entry; in a sprite's entry the screen_collide_rect it was
  // entered with, which stays its own: the geometry re-enters a sprite whenever that
  // rectangle changes. Queries test it without reaching into the sprite record.
  int32_t left, top, right, bottom;
  uint8_t free;      // 1: the entry may be reused
  GridCellEntry* next;
  GridCellEntry* prev;
};
static_assert(sizeof(GridCellEntry) == 36);

// An inclusive range of cells: first column, first row, last column, last row.
struct CellRange {
  int32_t first_column, first_row, last_column, last_row;
  bool empty() const { return first_column > last_column || first_row > last_row; }
};

// The cell range of a world rectangle (right and bottom included), unclipped; a cell
// left of or above the grid has a negative number.
CellRange grid_cells_of(const RECT& rect);
// Whether the range lies wholly inside the grid.
bool grid_range_inside(const CellRange& range);
// The part of the range inside the grid (empty when none).
CellRange grid_range_clamped(const CellRange& range);
// The chain head of a cell inside the grid.
GridCellEntry** grid_cell(int32_t column, int32_t row);

// Frees the old grid (every sprite then stands outside it) and makes one of columns x
// rows cells of cell_size pixels around the world origin, then enters every visible
// sprite that has the grid option and an id or collide string. False, with the grid
// unchanged, for a size or count below 1 or a grid too large to allocate.
bool grid_setup(int32_t cell_size, int32_t columns, int32_t rows);
// Enters the sprite in every cell of the range and stores the range.
void grid_add_sprite(Sprite* sprite, const CellRange& range);
// Enters the sprite over the cells of its screen_collide_rect when they lie inside the
// grid; true when entered.
bool grid_enter_sprite(Sprite* sprite);
// Frees the sprite's entries for reuse and marks it outside the grid.
void grid_remove_sprite(Sprite* sprite);
// After a move that keeps the sprite over the cells it stands in, gives its entries the
// new screen_collide_rect, leaving every chain as grid_remove_sprite and then
// grid_enter_sprite would; false (nothing changed) when its cells differ.
bool grid_move_sprite(Sprite* sprite);
// A static entry of the hash (0: none is made) in every cell of the world rectangle, when
// the rectangle lies wholly inside the grid; free entries are reused first.
void grid_add_static(uint32_t id_hash, const RECT& rect);
// In each cell of the world rectangle, frees the first static entry of the hash.
void grid_clear_id(uint32_t id_hash, int32_t left, int32_t top, int32_t right, int32_t bottom);
// Frees every entry of the cells of the world rectangle.
void grid_free_cells(int32_t left, int32_t top, int32_t right, int32_t bottom);
// Frees every entry and the table.
void grid_free();
