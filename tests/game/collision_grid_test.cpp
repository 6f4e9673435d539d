// The collision grid: cells of sprites, leaving the grid, cleared cells, non-square
// grids, refused sizes and the set-up that enters sprites.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "foundation/hashes.h"
#include "game/collision.h"
#include "game/game_math.h"
#include "game_fixture.h"
#include "platform/kernel/memory.h"

namespace {

class CollisionGrid : public GameTest {
 protected:
  static Sprite* grid_sprite(double x, double y, int32_t width, int32_t height) {
    return make_grid_sprite(x, y, width, height, "thing");
  }
  static int32_t entries_of(Sprite* sprite, int32_t column, int32_t row) {
    int32_t count = 0;
    for (GridCellEntry* entry = *grid_cell(column, row); entry; entry = entry->next) count += entry->sprite == sprite;
    return count;
  }
  static void expect_range(const Sprite* sprite, int32_t c0, int32_t r0, int32_t c1, int32_t r1) {
    EXPECT_EQ(sprite->grid_range[0], c0);
    EXPECT_EQ(sprite->grid_range[1], r0);
    EXPECT_EQ(sprite->grid_range[2], c1);
    EXPECT_EQ(sprite->grid_range[3], r1);
  }
};

TEST_F(CollisionGrid, SpriteAcrossTheOriginTakesTwoColumns) {
  Sprite* sprite = grid_sprite(-10, 0, 20, 10);
  expect_range(sprite, 63, 64, 64, 64);
  EXPECT_EQ(entries_of(sprite, 63, 64), 1);
  EXPECT_EQ(entries_of(sprite, 64, 64), 1);
}

TEST_F(CollisionGrid, LeavingTheGridTakesTheSpriteOut) {
  Sprite* sprite = grid_sprite(0, 0, 10, 10);
  sprite->x = 2040;  // the grid ends at 2048
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  EXPECT_FALSE(sprite_in_grid(sprite));
  expect_range(sprite, 0, 0, -1, -1);
  EXPECT_EQ(entries_of(sprite, 64, 64), 0);
  // Left of the grid: the cell numbers go negative, not round to the far side.
  sprite->x = -2050;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  EXPECT_FALSE(sprite_in_grid(sprite));
}

TEST_F(CollisionGrid, HiddenOrWithoutTheOptionStaysOut) {
  Sprite* sprite = grid_sprite(0, 0, 10, 10);
  ASSERT_TRUE(sprite_in_grid(sprite));
  sprite->visible = 0;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  EXPECT_FALSE(sprite_in_grid(sprite));
}

TEST_F(CollisionGrid, ClearedCellsLeaveNothingToRemove) {
  Sprite* sprite = grid_sprite(0, 0, 10, 10);
  grid_free_cells(0, 0, 10, 10);
  EXPECT_EQ(*grid_cell(64, 64), nullptr);
  EXPECT_TRUE(sprite_in_grid(sprite));
  grid_remove_sprite(sprite);
  expect_range(sprite, 0, 0, -1, -1);
}

TEST_F(CollisionGrid, FreedEntriesAreReused) {
  Sprite* a = grid_sprite(0, 0, 10, 10);
  grid_remove_sprite(a);
  Sprite* b = grid_sprite(0, 0, 10, 10);
  int32_t entries = 0;
  for (GridCellEntry* entry = *grid_cell(64, 64); entry; entry = entry->next) ++entries;
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(entries_of(b, 64, 64), 1);
}

TEST_F(CollisionGrid, StaticEntryClearedByItsHash) {
  GridCellEntry** cell = grid_cell(64, 64);
  auto* entry = static_cast<GridCellEntry*>(crt::calloc(1, sizeof(GridCellEntry)));
  entry->id_hash = 77;
  *cell = entry;
  grid_clear_id(0, 0, 0, 5, 5);
  EXPECT_EQ(entry->free, 0);
  grid_clear_id(77, 0, 0, 5, 5);
  EXPECT_EQ(entry->free, 1);
  EXPECT_EQ(entry->id_hash, 0u);
}

// A grid wider than tall: a cell's place is row x columns + column.
TEST_F(CollisionGrid, NonSquareGridIndexesByColumns) {
  ASSERT_TRUE(grid_setup(10, 8, 2));
  Sprite* sprite = grid_sprite(25, -5, 4, 4);  // column 6, row 0
  expect_range(sprite, 6, 0, 6, 0);
  EXPECT_EQ(game.grid_cells[0 * 8 + 6]->sprite, sprite);
  EXPECT_EQ(game.grid_offset_x, 40);
  EXPECT_EQ(game.grid_offset_y, 10);
}

TEST_F(CollisionGrid, RefusesSizesThatDivideByZero) {
  struct Case {
    int32_t size, columns, rows;
  } cases[] = {{0, 10, 10}, {32, 0, 10}, {32, 10, -1}, {-4, 10, 10}, {1 << 30, 64, 64}, {1, 1 << 20, 1 << 20}};
  for (const Case& c : cases) {
    EXPECT_FALSE(grid_setup(c.size, c.columns, c.rows)) << c.size << " " << c.columns << " " << c.rows;
    EXPECT_EQ(game.grid_columns, 128);
    EXPECT_EQ(game.grid_cell_size, 32u);
  }
}

// The set-up enters the sprites the geometry update would enter, and forgets the ranges
// of the grid it frees.
TEST_F(CollisionGrid, SetupEntersLikeTheGeometryUpdate) {
  Sprite* entered = grid_sprite(100, 100, 10, 10);
  Sprite* plain = grid_sprite(100, 100, 10, 10);
  plain->options &= ~kOptionInGrid;
  Sprite* outside = grid_sprite(100, 100, 10, 10);
  ASSERT_TRUE(grid_setup(16, 4, 4));  // world -32..32: only sprites near the origin fit
  EXPECT_FALSE(sprite_in_grid(outside));
  outside->x = outside->y = 0;
  outside->screen_rect = compute_screen_rect(outside, 0, 0);
  EXPECT_TRUE(sprite_in_grid(outside));
  entered->x = entered->y = plain->x = plain->y = 1;
  entered->screen_rect = compute_screen_rect(entered, 0, 0);
  plain->screen_rect = compute_screen_rect(plain, 0, 0);
  ASSERT_TRUE(grid_setup(16, 4, 4));
  EXPECT_TRUE(sprite_in_grid(entered));
  EXPECT_FALSE(sprite_in_grid(plain));
  expect_range(entered, 2, 2, 2, 2);
  // A geometry update that changes nothing keeps an entered sprite in.
  entered->screen_rect = compute_screen_rect(entered, 0, 0);
  EXPECT_TRUE(sprite_in_grid(entered));
}

// After many moves every chain holds its used entries before its free ones, every sprite
// stands exactly once in each cell of its range and nowhere else, and its entries carry
// its present collision rectangle.
TEST_F(CollisionGrid, ChainsStayConsistentUnderMoves) {
  std::vector<Sprite*> sprites;
  for (int32_t i = 0; i < 40; ++i) sprites.push_back(grid_sprite(i * 7 % 90, i * 13 % 90, 20, 20));
  uint32_t seed = 99;
  for (int32_t step = 0; step < 400; ++step) {
    seed = seed * 1664525u + 1013904223u;
    Sprite* sprite = sprites[(seed >> 8) % sprites.size()];
    sprite->x = static_cast<int32_t>((seed >> 12) % 120) - 10;
    sprite->y = static_cast<int32_t>((seed >> 20) % 120) - 10;
    sprite->visible = (seed >> 30) != 0;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  }
  for (int32_t row = 60; row < 70; ++row) {
    for (int32_t column = 60; column < 70; ++column) {
      bool seen_free = false;
      for (GridCellEntry* entry = *grid_cell(column, row); entry; entry = entry->next) {
        if (entry->free) seen_free = true;
        else EXPECT_FALSE(seen_free) << "used entry after a free one in " << column << "," << row;
        // A sprite's entry carries the collision rectangle the queries test.
        if (!entry->free && entry->sprite) {
          const RECT& box = entry->sprite->screen_collide_rect;
          EXPECT_TRUE(entry->left == box.left && entry->top == box.top && entry->right == box.right &&
                      entry->bottom == box.bottom);
        }
      }
      for (Sprite* sprite : sprites) {
        bool inside = sprite_in_grid(sprite) && column >= sprite->grid_range[0] && column <= sprite->grid_range[2] &&
                      row >= sprite->grid_range[1] && row <= sprite->grid_range[3];
        EXPECT_EQ(entries_of(sprite, column, row), inside ? 1 : 0) << column << "," << row;
      }
    }
  }
}

// Entries come from blocks the grid owns: many sprites, crowded cells and cleared cells
// reuse and outgrow the first block, and grid_free releases the blocks and any entry
// made elsewhere (the sanitizer build reports what is lost or freed twice).
TEST_F(CollisionGrid, EntriesOutgrowTheirFirstBlockAndAreReused) {
  std::vector<Sprite*> sprites;
  for (int32_t i = 0; i < 400; ++i) sprites.push_back(grid_sprite((i % 40) * 32 - 640, (i / 40) * 32 - 320, 10, 10));
  for (int32_t i = 0; i < 7; ++i) sprites.push_back(grid_sprite(i, i, 10, 10));  // seven in one cell
  auto check = [&sprites](const char* when) {
    for (Sprite* sprite : sprites) {
      for (int32_t row = 50; row <= 70; ++row) {
        for (int32_t column = 40; column <= 90; ++column) {
          bool inside = sprite_in_grid(sprite) && column >= sprite->grid_range[0] &&
                        column <= sprite->grid_range[2] && row >= sprite->grid_range[1] && row <= sprite->grid_range[3];
          ASSERT_EQ(entries_of(sprite, column, row), inside ? 1 : 0) << when << " " << column << "," << row;
        }
      }
    }
  };
  check("entered");
  for (size_t i = 0; i < sprites.size(); i += 2) grid_remove_sprite(sprites[i]);
  check("half removed");
  // A static entry made elsewhere shares a cleared cell with pool entries.
  auto* wall = static_cast<GridCellEntry*>(crt::calloc(1, sizeof(GridCellEntry)));
  wall->id_hash = 5;
  wall->next = *grid_cell(64, 64);
  *grid_cell(64, 64) = wall;
  grid_free_cells(-640, -320, 640, 0);
  for (Sprite* sprite : sprites) grid_remove_sprite(sprite);
  for (Sprite* sprite : sprites) {
    sprite->x += 3;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    ASSERT_TRUE(sprite_in_grid(sprite));
  }
  check("entered again");
  auto* late = static_cast<GridCellEntry*>(crt::calloc(1, sizeof(GridCellEntry)));
  late->next = *grid_cell(0, 0);
  *grid_cell(0, 0) = late;
  grid_free();
  EXPECT_EQ(game.grid_cells, nullptr);
}

// A move within the sprite's cells updates its entries in place; the chains must come out
// as taking the sprite out and entering it again leaves them, entry for entry and in
// order (the order decides which hit a query finds first). The same moves, with a cleared
// cell and static entries among them, are made both ways and compared after each move.
TEST_F(CollisionGrid, MovesWithinTheCellsLeaveTheChainsAsReentering) {
  using Entry = std::tuple<uint32_t, uint32_t, int32_t, int32_t, int32_t, int32_t, uint8_t>;
  auto snapshot = [] {
    std::vector<std::vector<Entry>> cells;
    for (int32_t row = 60; row < 70; ++row) {
      for (int32_t column = 60; column < 70; ++column) {
        cells.emplace_back();
        for (GridCellEntry* entry = *grid_cell(column, row); entry; entry = entry->next) {
          cells.back().emplace_back(entry->sprite ? entry->sprite->sequence : 0, entry->id_hash, entry->left,
                                    entry->top, entry->right, entry->bottom, entry->free);
        }
      }
    }
    return cells;
  };
  auto play = [&](bool reenter) {
    reset();
    EXPECT_TRUE(grid_setup(32, 128, 128));
    std::vector<Sprite*> sprites;
    for (int32_t i = 0; i < 30; ++i) sprites.push_back(grid_sprite(i * 11 % 120 - 30, i * 17 % 120 - 30, 6 + i % 9, 8));
    grid_add_static(hash_name_text("wall"), RECT{-20, -20, 40, 5});
    std::vector<std::vector<std::vector<Entry>>> states;
    uint32_t seed = 7;
    for (int32_t step = 0; step < 600; ++step) {
      seed = seed * 1664525u + 1013904223u;
      Sprite* sprite = sprites[(seed >> 8) % sprites.size()];
      // Mostly small steps that stay in the cells, now and then a jump.
      int32_t reach = (seed >> 28) == 0 ? 60 : 3;
      int32_t dx = static_cast<int32_t>((seed >> 12) % (2 * reach + 1)) - reach;
      int32_t dy = static_cast<int32_t>((seed >> 20) % (2 * reach + 1)) - reach;
      sprite->x += dx != 0 || dy != 0 ? dx : 1;  // a move, so that the rectangle changes
      sprite->y += dy;
      if (reenter && sprite_in_grid(sprite)) grid_remove_sprite(sprite);
      sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
      if (step == 300) grid_free_cells(0, 0, 31, 31);
      states.push_back(snapshot());
    }
    return states;
  };
  std::vector<std::vector<std::vector<Entry>>> in_place = play(false);
  std::vector<std::vector<std::vector<Entry>>> reentered = play(true);
  ASSERT_EQ(in_place.size(), reentered.size());
  for (size_t step = 0; step < in_place.size(); ++step) ASSERT_EQ(in_place[step], reentered[step]) << "move " << step;
}

// The grid is centred on the world origin: 32 x 8 x 10 cells cover x -128..127 and y
// -160..159, so on a 240 x 320 screen only the top left quarter finds hits; 16 x 20 cells
// cover the whole screen.
TEST_F(CollisionGrid, GridCoversTheWorldAroundTheOrigin) {
  struct Case {
    int32_t columns, rows;
    double x, y;
    bool hit;
  } cases[] = {{8, 10, 100, 100, true},   {8, 10, 0, 0, true},      {8, 10, -128, -160, true},
               {8, 10, 110, 140, true},   {8, 10, 124, 100, false}, {8, 10, 100, 156, false},
               {8, 10, 200, 280, false},  {16, 20, 200, 280, true}, {16, 20, 224, 304, true},
               {16, 20, 0, 0, true}};
  for (const Case& c : cases) {
    reset();
    ASSERT_TRUE(grid_setup(32, c.columns, c.rows));
    Sprite* a = grid_sprite(c.x, c.y, 8, 8);
    Sprite* b = grid_sprite(c.x + 4, c.y + 4, 8, 8);
    a->collide = crt::_strdup("thing");
    parse_collide_string(a);
    CollisionHit* hits = collect_grid_collisions(a, 0);
    EXPECT_EQ(hits != nullptr, c.hit) << c.columns << "x" << c.rows << " at " << c.x << "," << c.y;
    if (hits) EXPECT_EQ(hits->sprite, b);
    node_list_free(&hits);
  }
}

}  // namespace
