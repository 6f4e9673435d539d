// The collision grid: cell ranges of world rectangles, entering and removing sprites,
// and the cells' entry chains (entries are reused, and released only with their cells).
#include "game/collision_grid.h"

#include <algorithm>

#include "game/game_state.h"
#include "game/sprite.h"
#include "platform/kernel/memory.h"

namespace {

// The cell of a world coordinate: floor division, so points left of the grid get
// negative cells rather than cells on its far side.
int32_t cell_of(int32_t world, int32_t offset) {
  int64_t shifted = static_cast<int64_t>(world) + offset;
  // The common case in 32 bits: a 64-bit division is a library call here.
  if (shifted >= 0 && shifted <= INT32_MAX) {
    return static_cast<int32_t>(static_cast<uint32_t>(shifted) / game.grid_cell_size);
  }
  int64_t size = game.grid_cell_size;
  int64_t cell = shifted >= 0 ? shifted / size : -((-shifted + size - 1) / size);
  return static_cast<int32_t>(std::clamp<int64_t>(cell, INT32_MIN, INT32_MAX));
}

// The grid's entries come from blocks it owns, so that a cell's entries lie side by side
// instead of wherever the heap put them: a cell's first entry reserves the few slots after
// it for the cell's next ones, and queries then walk chains in adjacent memory. Entries
// freed with their cells wait in a list for reuse. Chains may also hold entries made
// elsewhere with crt::calloc; those are released with crt::free.
constexpr int32_t kSlotsPerCell = 4;     // slots a cell's first entry reserves
constexpr uint8_t kReservedSlot = 2;     // free byte of a reserved slot not yet in a chain
constexpr size_t kFirstBlockEntries = 256;
constexpr size_t kLargestBlockEntries = 65536;

// A block's entries follow its header.
struct EntryBlock {
  EntryBlock* next;
  GridCellEntry* first;
  GridCellEntry* end;
  GridCellEntry* unused;  // first slot never handed out
};

struct EntryPool {
  EntryBlock* blocks;  // newest first
  GridCellEntry* reusable;
  size_t next_block_entries = kFirstBlockEntries;
};
EntryPool pool;

EntryBlock* block_of(const GridCellEntry* entry) {
  for (EntryBlock* block = pool.blocks; block; block = block->next) {
    if (entry >= block->first && entry < block->end) return block;
  }
  return nullptr;
}

GridCellEntry* new_entry(GridCellEntry* head) {
  // The slot after the cell's newest entry, when that one reserved it.
  if (head) {
    EntryBlock* block = block_of(head);
    if (block && head + 1 < block->unused && head[1].free == kReservedSlot) {
      GridCellEntry* entry = head + 1;
      *entry = GridCellEntry{};
      return entry;
    }
  }
  if (GridCellEntry* entry = pool.reusable) {
    pool.reusable = entry->next;
    *entry = GridCellEntry{};
    return entry;
  }
  EntryBlock* block = pool.blocks;
  if (!block || block->end - block->unused < kSlotsPerCell) {
    size_t count = pool.next_block_entries;
    block = static_cast<EntryBlock*>(crt::calloc(1, sizeof(EntryBlock) + count * sizeof(GridCellEntry)));
    if (!block) return nullptr;
    block->next = pool.blocks;
    block->first = reinterpret_cast<GridCellEntry*>(block + 1);
    block->end = block->first + count;
    block->unused = block->first;
    pool.blocks = block;
    pool.next_block_entries = std::min(count * 2, kLargestBlockEntries);
  }
  GridCellEntry* entry = block->unused;
  block->unused += kSlotsPerCell;
  for (GridCellEntry* slot = entry + 1; slot < block->unused; ++slot) slot->free = kReservedSlot;
  return entry;
}

void release_to_pool(GridCellEntry* entry) {
  if (!block_of(entry)) {
    crt::free(entry);
    return;
  }
  *entry = GridCellEntry{};
  entry->free = 1;
  entry->next = pool.reusable;
  pool.reusable = entry;
}

void free_pool() {
  while (EntryBlock* block = pool.blocks) {
    pool.blocks = block->next;
    crt::free(block);
  }
  pool = EntryPool{};
}

void free_chain(GridCellEntry** head) {
  GridCellEntry* entry = *head;
  while (entry) {
    GridCellEntry* next = entry->next;
    release_to_pool(entry);
    entry = next;
  }
  *head = nullptr;
}

// What an entry holds: its sprite (or none), its static key and its rectangle.
void hold(GridCellEntry* entry, Sprite* sprite, uint32_t id_hash, const RECT& box) {
  entry->sprite = sprite;
  entry->id_hash = id_hash;
  entry->left = box.left;
  entry->top = box.top;
  entry->right = box.right;
  entry->bottom = box.bottom;
}

void take_over(GridCellEntry* entry, const GridCellEntry& from) {
  hold(entry, from.sprite, from.id_hash, RECT{from.left, from.top, from.right, from.bottom});
}

// Frees an entry while keeping every free entry behind every used one: the last used
// entry of the chain moves into its place and that one becomes free. Walks then stop at
// the first free entry instead of passing the ones a busy cell has piled up.
void release_entry(GridCellEntry* entry) {
  GridCellEntry* last_used = entry;
  while (last_used->next && !last_used->next->free) last_used = last_used->next;
  if (last_used != entry) take_over(entry, *last_used);
  last_used->free = 1;
  last_used->sprite = nullptr;
  last_used->id_hash = 0;
}

void mark_outside(Sprite* sprite) {
  sprite->grid_range[0] = 0;
  sprite->grid_range[1] = 0;
  sprite->grid_range[2] = -1;
  sprite->grid_range[3] = -1;
}

template <typename Visit>
void for_each_cell(const CellRange& range, Visit visit) {
  for (int32_t row = range.first_row; row <= range.last_row; ++row) {
    for (int32_t column = range.first_column; column <= range.last_column; ++column) {
      visit(grid_cell(column, row));
    }
  }
}

}  // namespace

CellRange grid_cells_of(const RECT& rect) {
  if (!game.grid_cells || game.grid_cell_size == 0) return {0, 0, -1, -1};
  return {cell_of(rect.left, game.grid_offset_x), cell_of(rect.top, game.grid_offset_y),
          cell_of(rect.right, game.grid_offset_x), cell_of(rect.bottom, game.grid_offset_y)};
}

bool grid_range_inside(const CellRange& range) {
  return game.grid_cells && range.first_column >= 0 && range.first_row >= 0 &&
         range.last_column < game.grid_columns && range.last_row < game.grid_rows;
}

CellRange grid_range_clamped(const CellRange& range) {
  if (!game.grid_cells || range.empty() || range.last_column < 0 || range.last_row < 0 ||
      range.first_column >= game.grid_columns || range.first_row >= game.grid_rows) {
    return {0, 0, -1, -1};
  }
  return {std::max(range.first_column, 0), std::max(range.first_row, 0),
          std::min(range.last_column, game.grid_columns - 1), std::min(range.last_row, game.grid_rows - 1)};
}

GridCellEntry** grid_cell(int32_t column, int32_t row) {
  return &game.grid_cells[static_cast<size_t>(row) * static_cast<size_t>(game.grid_columns) +
                          static_cast<size_t>(column)];
}

namespace {

// In one cell: the chain's first free entry, else a new one at its head, takes the sprite
// (or none), the id hash and the rectangle.
void fill_cell(GridCellEntry** head, Sprite* sprite, uint32_t id_hash, const RECT& box) {
  GridCellEntry* entry = *head;
  while (entry && !entry->free) entry = entry->next;
  if (!entry) {
    entry = new_entry(*head);
    if (!entry) return;
    entry->next = *head;
    if (*head) (*head)->prev = entry;
    *head = entry;
  }
  entry->free = 0;
  hold(entry, sprite, id_hash, box);
}

void fill_cells(const CellRange& range, Sprite* sprite, uint32_t id_hash, const RECT& box) {
  for_each_cell(range, [sprite, id_hash, &box](GridCellEntry** head) { fill_cell(head, sprite, id_hash, box); });
}

}  // namespace

void grid_add_static(uint32_t id_hash, const RECT& rect) {
  if (id_hash == 0) return;
  CellRange range = grid_cells_of(rect);
  if (!grid_range_inside(range)) return;
  fill_cells(range, nullptr, id_hash, rect);
}

void grid_add_sprite(Sprite* sprite, const CellRange& range) {
  fill_cells(range, sprite, 0, sprite->screen_collide_rect);
  sprite->grid_range[0] = range.first_column;
  sprite->grid_range[1] = range.first_row;
  sprite->grid_range[2] = range.last_column;
  sprite->grid_range[3] = range.last_row;
}

bool grid_enter_sprite(Sprite* sprite) {
  CellRange range = grid_cells_of(sprite->screen_collide_rect);
  if (range.empty() || !grid_range_inside(range)) return false;
  grid_add_sprite(sprite, range);
  return true;
}

void grid_remove_sprite(Sprite* sprite) {
  CellRange range{sprite->grid_range[0], sprite->grid_range[1], sprite->grid_range[2], sprite->grid_range[3]};
  // A range from before the grid was re-made may not fit the present one.
  range = grid_range_clamped(range);
  for_each_cell(range, [sprite](GridCellEntry** head) {
    for (GridCellEntry* entry = *head; entry && !entry->free; entry = entry->next) {
      if (entry->sprite == sprite) {
        release_entry(entry);
        return;
      }
    }
  });
  mark_outside(sprite);
}

bool grid_move_sprite(Sprite* sprite) {
  CellRange range = grid_cells_of(sprite->screen_collide_rect);
  if (range.empty() || !grid_range_inside(range) || range.first_column != sprite->grid_range[0] ||
      range.first_row != sprite->grid_range[1] || range.last_column != sprite->grid_range[2] ||
      range.last_row != sprite->grid_range[3]) {
    return false;
  }
  const RECT& box = sprite->screen_collide_rect;
  for_each_cell(range, [sprite, &box](GridCellEntry** head) {
    // Removing would move the chain's last used entry into the sprite's place and free
    // its own; entering would then take that first free entry.
    GridCellEntry* own = nullptr;
    GridCellEntry* last_used = nullptr;
    for (GridCellEntry* entry = *head; entry && !entry->free; entry = entry->next) {
      if (!own && entry->sprite == sprite) own = entry;
      last_used = entry;
    }
    if (!own) {
      // A cleared cell: the sprite is entered afresh.
      fill_cell(head, sprite, 0, box);
      return;
    }
    if (own != last_used) take_over(own, *last_used);
    hold(last_used, sprite, 0, box);
  });
  return true;
}

void grid_clear_id(uint32_t id_hash, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (id_hash == 0) return;
  CellRange range = grid_range_clamped(grid_cells_of(RECT{left, top, right, bottom}));
  for_each_cell(range, [id_hash](GridCellEntry** head) {
    for (GridCellEntry* entry = *head; entry && !entry->free; entry = entry->next) {
      if (entry->id_hash == id_hash) {
        release_entry(entry);
        return;
      }
    }
  });
}

void grid_free_cells(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  CellRange range = grid_range_clamped(grid_cells_of(RECT{left, top, right, bottom}));
  for_each_cell(range, free_chain);
}

void grid_free() {
  if (game.grid_cells) {
    size_t count = static_cast<size_t>(game.grid_columns) * static_cast<size_t>(game.grid_rows);
    for (size_t i = 0; i < count; ++i) free_chain(&game.grid_cells[i]);
    crt::free(game.grid_cells);
  }
  free_pool();
  game.grid_cells = nullptr;
  game.grid_columns = game.grid_rows = 0;
  // No sprite stands in a grid that is gone.
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) mark_outside(sprite);
}

bool grid_setup(int32_t cell_size, int32_t columns, int32_t rows) {
  if (cell_size < 1 || columns < 1 || rows < 1) return false;
  // The world offset is half the grid in pixels and must fit a 32-bit coordinate.
  int64_t cells = static_cast<int64_t>(columns) * rows;
  if (cells > (1 << 24) || static_cast<int64_t>(columns / 2) * cell_size > INT32_MAX ||
      static_cast<int64_t>(rows / 2) * cell_size > INT32_MAX) {
    return false;
  }
  auto* table = static_cast<GridCellEntry**>(crt::calloc(static_cast<size_t>(cells), sizeof(GridCellEntry*)));
  if (!table) return false;
  grid_free();
  game.grid_cells = table;
  game.grid_columns = columns;
  game.grid_rows = rows;
  game.grid_cell_size = static_cast<uint32_t>(cell_size);
  game.grid_half_columns = columns / 2;
  game.grid_half_rows = rows / 2;
  game.grid_offset_x = game.grid_half_columns * cell_size;
  game.grid_offset_y = game.grid_half_rows * cell_size;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    // The same test the geometry update applies, so the two never disagree about a sprite.
    if (sprite->visible && (sprite->options & kOptionInGrid) && (sprite->id || sprite->collide)) {
      grid_enter_sprite(sprite);
    }
  }
  return true;
}
