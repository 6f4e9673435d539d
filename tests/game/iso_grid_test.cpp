// Snapping to plain and isometric cells, and isometric cell positions.
#include <gtest/gtest.h>

#include "game/iso_grid.h"

namespace {

TEST(IsoGrid, Snapping) {
  struct Case {
    int32_t x, y, width, height, iso, snapped_x, snapped_y;
  } cases[] = {
      {37, 70, 32, 32, 0, 32, 64},  {-5, -5, 32, 32, 0, 0, 0},   {-40, -70, 32, 32, 0, -32, -64},
      {40, 20, 32, 16, 1, 32, 16},  {40, 27, 32, 16, 1, 48, 24}, {0, 8, 31, 16, 1, 15, 8},
      {-2147483647 - 1, 0, -1, 5, 0, -2147483647 - 1, 0},
  };
  for (const Case& c : cases) {
    int32_t x = c.x, y = c.y;
    ASSERT_TRUE(snap_to_grid(&x, &y, c.width, c.height, c.iso));
    EXPECT_EQ(x, c.snapped_x) << c.x << "," << c.y << " iso " << c.iso;
    EXPECT_EQ(y, c.snapped_y) << c.x << "," << c.y << " iso " << c.iso;
  }
}

TEST(IsoGrid, EmptyCellsAreRefused) {
  int32_t x = 37, y = 70;
  EXPECT_FALSE(snap_to_grid(&x, &y, 0, 32, 0));
  EXPECT_FALSE(snap_to_grid(&x, &y, 32, 0, 1));
  EXPECT_EQ(x, 37);
  EXPECT_EQ(y, 70);
}

TEST(IsoGrid, CellPositionsRoundTrip) {
  int32_t x, y;
  iso_cell_position(1, 1, 64, 32, &x, &y);
  EXPECT_EQ(x, 96);
  EXPECT_EQ(y, 16);
  iso_cell_position(1, 2, 64, 32, &x, &y);
  EXPECT_EQ(x, 64);
  EXPECT_EQ(y, 32);
  // Every point of a cell's top-left quarter snaps back to the cell's position.
  for (int32_t row = 0; row < 12; ++row) {
    for (int32_t column = 0; column < 12; ++column) {
      iso_cell_position(column, row, 64, 32, &x, &y);
      for (int32_t dx : {0, 5, 15}) {
        for (int32_t dy : {0, 3, 7}) {
          int32_t px = x + dx - (row % 2 ? 32 : 0), py = y + dy;
          ASSERT_TRUE(snap_to_grid(&px, &py, 64, 32, 1));
          EXPECT_EQ(px, x) << column << "," << row;
          EXPECT_EQ(py, y) << column << "," << row;
        }
      }
    }
  }
}

}  // namespace
