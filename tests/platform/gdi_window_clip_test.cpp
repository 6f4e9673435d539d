// Drawing into windows larger than their pixels: a window's pixels stop at 4096 a side,
// whatever size it is given, and every drawing call is cut to the pixels there are.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/user/user.h"

namespace {

TEST(GdiWindowClip, DrawingStopsAtTheEdgeOfAWindowsPixels) {
  WNDCLASSW record{};
  record.lpfnWndProc = DefWindowProcW;
  record.lpszClassName = u"HugeWindow";
  RegisterClassW(&record);
  const struct {
    int width, height;
  } sizes[] = {{8192, 60}, {60, 65535}, {5000, 5000}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
    HWND window = CreateWindowExW(0, u"HugeWindow", u"huge", WS_POPUP | WS_VISIBLE, 0, 0, size.width, size.height,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HDC dc = GetDC(window);
    ASSERT_NE(dc, nullptr);
    RECT box{};
    ASSERT_NE(GetClipBox(dc, &box), ERROR);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, std::min(size.width, 4096));
    EXPECT_EQ(box.bottom, std::min(size.height, 4096));
    // Fills, lines and copies over the whole window write only the pixels there are.
    RECT all{0, 0, size.width, size.height};
    EXPECT_TRUE(FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))));
    EXPECT_TRUE(PatBlt(dc, 0, 0, size.width, size.height, WHITENESS));
    EXPECT_TRUE(Rectangle(dc, 0, 0, size.width, size.height));
    EXPECT_TRUE(BitBlt(dc, 1, 1, size.width, size.height, dc, 0, 0, SRCCOPY));
    EXPECT_NE(GetPixel(dc, box.right - 1, box.bottom - 1), CLR_INVALID);
    EXPECT_EQ(GetPixel(dc, box.right, 0), CLR_INVALID);
    EXPECT_EQ(SetPixel(dc, 0, box.bottom, RGB(0, 0, 0)), CLR_INVALID);
    ReleaseDC(window, dc);
    DestroyWindow(window);
  }
}

}  // namespace
