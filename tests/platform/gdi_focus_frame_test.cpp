// The focus frame: a dotted frame along the inside of a rectangle that inverts what it
// covers, so drawing it twice gives the picture back.
#include <gtest/gtest.h>

#include "platform/gdi/gdi.h"

TEST(GdiFocusFrame, InvertsEveryOtherPixelOfTheFrameAndUndoesItself) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 12, 10);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  RECT all = {0, 0, 12, 10};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECT frame = {2, 1, 10, 8};
  ASSERT_TRUE(DrawFocusRect(dc, &frame));
  int changed = 0;
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) {
      bool on_frame = x >= 2 && x <= 9 && y >= 1 && y <= 7 && (x == 2 || x == 9 || y == 1 || y == 7);
      bool dark = GetPixel(dc, x, y) == RGB(0, 0, 0);
      if (!on_frame) EXPECT_FALSE(dark) << x << "," << y;
      changed += dark;
    }
  }
  EXPECT_EQ(GetPixel(dc, 2, 1), RGB(0, 0, 0));  // the frame starts with a dot
  EXPECT_EQ(GetPixel(dc, 3, 1), RGB(255, 255, 255));
  EXPECT_GT(changed, 8);
  EXPECT_LT(changed, 2 * (8 + 7));  // dotted, not solid
  ASSERT_TRUE(DrawFocusRect(dc, &frame));
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) EXPECT_EQ(GetPixel(dc, x, y), RGB(255, 255, 255)) << x << "," << y;
  }
  RECT empty = {5, 5, 5, 9};
  EXPECT_TRUE(DrawFocusRect(dc, &empty));
  EXPECT_FALSE(DrawFocusRect(dc, nullptr));
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
}
