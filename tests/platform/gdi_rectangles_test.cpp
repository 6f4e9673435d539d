// Rectangle arithmetic at the ends of the 32-bit range: an edge moved past them stops
// there instead of wrapping round to the other side.
#include <gtest/gtest.h>

#include <climits>

#include "platform/gdi/gdi.h"

namespace {

struct Moved {
  RECT start;
  int dx, dy;
  RECT offset;    // OffsetRect(start, dx, dy)
  RECT inflated;  // InflateRect(start, dx, dy)
};

TEST(GdiRectangles, EdgesStopAtTheEndsOfTheRange) {
  const Moved cases[] = {
      {{0, 0, 10, 10}, 5, -5, {5, -5, 15, 5}, {-5, 5, 15, 5}},
      {{40, 40, 60, 60}, INT_MAX, INT_MAX, {INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {40 - INT_MAX, 40 - INT_MAX, INT_MAX, INT_MAX}},
      {{-40, -40, 60, 60}, INT_MIN, INT_MIN, {INT_MIN, INT_MIN, INT_MIN + 60, INT_MIN + 60},
       {INT_MAX - 39, INT_MAX - 39, INT_MIN + 60, INT_MIN + 60}},
      {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, -1, 1, {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX},
       {INT_MIN + 1, INT_MIN, INT_MAX - 1, INT_MAX}},
  };
  for (const Moved& moved : cases) {
    RECT rect = moved.start;
    ASSERT_TRUE(OffsetRect(&rect, moved.dx, moved.dy));
    EXPECT_TRUE(EqualRect(&rect, &moved.offset))
        << moved.dx << " " << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
    rect = moved.start;
    ASSERT_TRUE(InflateRect(&rect, moved.dx, moved.dy));
    EXPECT_TRUE(EqualRect(&rect, &moved.inflated))
        << moved.dx << " " << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
  }
}

}  // namespace
