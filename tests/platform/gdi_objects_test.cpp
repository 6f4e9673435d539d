// GDI object handles: a number that names no object is refused by every call that takes
// one, never read as an object.
#include <gtest/gtest.h>

#include "platform/gdi/gdi.h"
#include "platform/user/user.h"

namespace {

TEST(GdiObjects, AHandleThatNamesNothingIsRefused) {
  const uintptr_t strangers[] = {0x4321, 0x10, 0xFFFFFFF0u};
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  for (uintptr_t number : strangers) {
    auto object = reinterpret_cast<HGDIOBJ>(number);
    BITMAP bitmap{};
    EXPECT_EQ(GetObjectW(object, sizeof bitmap, &bitmap), 0) << number;
    EXPECT_EQ(GetObjectType(object), 0u) << number;
    EXPECT_EQ(SelectObject(dc, object), nullptr) << number;
    EXPECT_FALSE(DeleteObject(object)) << number;
  }
  // Stock objects and system colour brushes are still known.
  LOGBRUSH brush{};
  EXPECT_EQ(GetObjectW(GetStockObject(WHITE_BRUSH), sizeof brush, &brush), int(sizeof brush));
  EXPECT_EQ(GetObjectW(GetSysColorBrush(COLOR_MENU), sizeof brush, &brush), int(sizeof brush));
  DeleteDC(dc);
}

}  // namespace
