// The window manager: handles, classes, parents and owners, bad handles, the queue's
// WM_QUIT, paint regions, timers and subclassing.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/kernel/clock.h"
#include "platform/kernel/time.h"
#include "platform/shell/shell.h"
#include "platform/user/user.h"
#include "message_drain.h"

namespace {

// What the test procedure saw, in order.
std::vector<UINT> seen;
int paint_calls = 0;

LRESULT recording_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  seen.push_back(message);
  if (message == WM_PAINT) {
    ++paint_calls;
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class WindowManager : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::clock_select_virtual(true);
    seen.clear();
    paint_calls = 0;
    WNDCLASSW record{};
    record.lpfnWndProc = recording_procedure;
    record.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    record.lpszClassName = u"TestWindow";
    RegisterClassW(&record);
  }
  void TearDown() override { platform::destroy_all_windows(); }

  static HWND make(DWORD style = WS_VISIBLE, HWND parent = nullptr, int id = 0) {
    return CreateWindowExW(0, u"TestWindow", u"test", style, 10, 40, 100, 80, parent,
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
  }
  static int drain() { return drain_messages(); }
};

TEST_F(WindowManager, HandlesAreNeverReused) {
  std::set<HWND> handles;
  for (int i = 0; i < 200; ++i) {
    HWND window = make(0);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(handles.insert(window).second) << "handle given twice at window " << i;
    EXPECT_TRUE(DestroyWindow(window));
  }
}

TEST_F(WindowManager, UnknownHandlesGiveZeroAndFalse) {
  HWND gone = make(0);
  DestroyWindow(gone);
  for (HWND bad : {gone, reinterpret_cast<HWND>(0x12345678), reinterpret_cast<HWND>(7)}) {
    EXPECT_FALSE(IsWindow(bad));
    EXPECT_EQ(SendMessageW(bad, WM_USER, 1, 2), 0);
    EXPECT_FALSE(PostMessageW(bad, WM_USER, 1, 2));
    EXPECT_FALSE(DestroyWindow(bad));
    EXPECT_FALSE(ShowWindow(bad, SW_SHOW));
    EXPECT_EQ(GetParent(bad), nullptr);
    EXPECT_EQ(GetWindowLongW(bad, GWL_STYLE), 0);
    EXPECT_EQ(SetWindowLongW(bad, GWL_USERDATA, 5), 0);
    RECT rect;
    EXPECT_FALSE(GetWindowRect(bad, &rect));
    EXPECT_FALSE(InvalidateRect(bad, nullptr, TRUE));
    EXPECT_EQ(SetTimer(bad, 1, 10, nullptr), 0u);
    EXPECT_EQ(GetDC(bad), nullptr);
    PAINTSTRUCT paint;
    EXPECT_EQ(BeginPaint(bad, &paint), nullptr);
  }
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(make(WS_CHILD, reinterpret_cast<HWND>(0x12345678)), nullptr);
  WNDCLASSW record;
  EXPECT_FALSE(GetClassInfoW(nullptr, u"NoSuchClass", &record));
  EXPECT_FALSE(UnregisterClassW(u"NoSuchClass", nullptr));
}

TEST_F(WindowManager, ClassesRegisterOnceAndStayWhileWindowsLive) {
  WNDCLASSW record{};
  record.lpfnWndProc = DefWindowProcW;
  record.lpszClassName = u"testwindow";  // names match without regard to case
  EXPECT_EQ(RegisterClassW(&record), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  ASSERT_TRUE(GetClassInfoW(nullptr, u"TESTWINDOW", &record));
  EXPECT_EQ(record.lpfnWndProc, &recording_procedure);  // the first registration wins
  HWND window = make(0);
  EXPECT_FALSE(UnregisterClassW(u"TestWindow", nullptr));
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassW(u"TestWindow", nullptr));
}

TEST_F(WindowManager, ParentsAndOwners) {
  HWND form = make();
  HWND child = make(WS_CHILD | WS_VISIBLE, form, 42);
  HWND grandchild = make(WS_CHILD, child, 7);
  HWND popup = make(WS_POPUP, child);  // a top-level window's owner is the top-level window
  EXPECT_EQ(GetParent(child), form);
  EXPECT_EQ(GetParent(popup), form);
  EXPECT_EQ(GetWindow(popup, GW_OWNER), form);
  EXPECT_EQ(GetWindow(child, GW_OWNER), nullptr);
  EXPECT_TRUE(IsChild(form, grandchild));
  EXPECT_FALSE(IsChild(form, popup));
  EXPECT_EQ(GetDlgItem(form, 42), child);
  EXPECT_EQ(GetDlgCtrlID(grandchild), 7);
  // A child's rectangle is in its parent's client coordinates; the screen's come back.
  RECT rect;
  GetWindowRect(child, &rect);
  RECT form_rect;
  GetWindowRect(form, &form_rect);
  EXPECT_EQ(rect.left, form_rect.left + 10);
  EXPECT_EQ(rect.top, form_rect.top + 40);
  // Destroying the form takes its children and the windows it owns.
  DestroyWindow(form);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(IsWindow(grandchild));
  EXPECT_FALSE(IsWindow(popup));
}

TEST_F(WindowManager, QuitComesAfterPostedMessages) {
  HWND window = make(0);
  PostQuitMessage(3);
  PostMessageW(window, WM_USER + 1, 0, 0);
  PostMessageW(nullptr, WM_USER + 2, 0, 0);
  MSG msg;
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_USER + 1u);
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_USER + 2u);
  EXPECT_EQ(msg.hwnd, nullptr);
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
}

TEST_F(WindowManager, PaintComesWhenTheQueueIsIdleWithTheUpdateRegion) {
  HWND window = make();
  drain();
  ASSERT_EQ(paint_calls, 1);  // the first showing
  RECT first{5, 5, 10, 10}, second{20, 30, 25, 40};
  InvalidateRect(window, &first, FALSE);
  InvalidateRect(window, &second, TRUE);
  RECT update;
  ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
  EXPECT_EQ(update.left, 5);
  EXPECT_EQ(update.top, 5);
  EXPECT_EQ(update.right, 25);
  EXPECT_EQ(update.bottom, 40);
  PostMessageW(window, WM_USER, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER);  // posted messages first
  ASSERT_TRUE(PeekMessageW(&msg, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_PAINT);
  seen.clear();
  DispatchMessageW(&msg);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
  EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
  EXPECT_FALSE(PeekMessageW(&msg, window, 0, 0, PM_REMOVE));
  // A hidden window is not painted.
  ShowWindow(window, SW_HIDE);
  InvalidateRect(window, nullptr, TRUE);
  EXPECT_FALSE(PeekMessageW(&msg, window, WM_PAINT, WM_PAINT, PM_REMOVE));
}

LRESULT ignoring_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) return 0;  // neither paints nor validates
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(WindowManager, APaintThatValidatesNothingIsNotRepeated) {
  HWND window = make();
  SetWindowLongW(window, GWL_WNDPROC, LONG(reinterpret_cast<uintptr_t>(&ignoring_procedure)));
  drain();  // the first painting of every window
  InvalidateRect(window, nullptr, TRUE);
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(drain(), 0);
}

TEST_F(WindowManager, TimersFireOnTheVirtualClock) {
  HWND window = make(0);
  drain();  // the shell's windows paint first
  uint64_t start = platform::clock_now_microseconds();
  ASSERT_EQ(SetTimer(window, 9, 250, nullptr), 9u);
  MSG msg;
  for (int tick = 1; tick <= 3; ++tick) {
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_EQ(platform::clock_now_microseconds() - start, uint64_t(tick) * 250000);
  }
  EXPECT_TRUE(KillTimer(window, 9));
  EXPECT_FALSE(KillTimer(window, 9));
  platform::clock_advance_microseconds(1000000);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  // A window's timers go with it.
  SetTimer(window, 1, 10, nullptr);
  DestroyWindow(window);
  platform::clock_advance_microseconds(100000);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
}

int callback_calls = 0;
void timer_callback(HWND, UINT message, UINT_PTR, DWORD) {
  if (message == WM_TIMER) ++callback_calls;
}

TEST_F(WindowManager, ThreadTimersRunTheirCallbackWhenDispatched) {
  callback_calls = 0;
  drain();
  UINT_PTR id = SetTimer(nullptr, 0, 100, timer_callback);
  ASSERT_NE(id, 0u);
  MSG msg;
  ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.hwnd, nullptr);
  DispatchMessageW(&msg);
  EXPECT_EQ(callback_calls, 1);
  KillTimer(nullptr, id);
}

WNDPROC original = nullptr;
LRESULT subclass_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER) return 77;
  return CallWindowProcW(original, window, message, wparam, lparam);
}

TEST_F(WindowManager, SubclassingChainsProcedures) {
  HWND window = make(0);
  original = reinterpret_cast<WNDPROC>(static_cast<uintptr_t>(
      uint32_t(SetWindowLongW(window, GWL_WNDPROC, LONG(reinterpret_cast<uintptr_t>(&subclass_procedure))))));
  EXPECT_EQ(original, &recording_procedure);
  EXPECT_EQ(GetWindowLongW(window, GWL_WNDPROC), LONG(reinterpret_cast<uintptr_t>(&subclass_procedure)));
  seen.clear();
  EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 77);
  EXPECT_TRUE(seen.empty());
  SendMessageW(window, WM_USER + 5, 0, 0);
  EXPECT_EQ(seen, std::vector<UINT>{WM_USER + 5});
  EXPECT_EQ(SetWindowLongW(window, GWL_USERDATA, 1234), 0);
  EXPECT_EQ(GetWindowLongW(window, GWL_USERDATA), 1234);
  EXPECT_EQ(GetWindowLongW(window, 0), 0);  // no extra bytes
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
}

TEST_F(WindowManager, TextStylesAndFocus) {
  HWND form = make();
  HWND child = make(WS_CHILD | WS_VISIBLE, form, 1);
  EXPECT_TRUE(SetWindowTextW(form, u"hello"));
  WCHAR text[4];
  EXPECT_EQ(GetWindowTextW(form, text, 4), 3);
  EXPECT_EQ(std::u16string(text), u"hel");
  EXPECT_EQ(GetWindowTextLengthW(form), 5);
  EXPECT_EQ(GetActiveWindow(), form);
  EXPECT_EQ(GetFocus(), form);
  seen.clear();
  SetFocus(child);
  EXPECT_EQ(GetFocus(), child);
  EnableWindow(child, FALSE);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_FALSE(IsWindowEnabled(child));
  EXPECT_EQ(SetFocus(child), nullptr);  // a disabled window takes no focus
  EXPECT_TRUE(IsWindowVisible(child));
  ShowWindow(form, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(child));
}

TEST_F(WindowManager, RectanglesCaptionsAndTheWorkArea) {
  // A window made from AdjustWindowRectEx's rectangle has the client area asked for.
  RECT wanted{0, 0, 150, 90};
  DWORD style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  ASSERT_TRUE(AdjustWindowRectEx(&wanted, style, FALSE, WS_EX_CLIENTEDGE));
  HWND dialog = CreateWindowExW(WS_EX_CLIENTEDGE, u"TestWindow", u"Dialog", style, 20, 60, wanted.right - wanted.left,
                                wanted.bottom - wanted.top, nullptr, nullptr, nullptr, nullptr);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, 150);
  EXPECT_EQ(client.bottom, 90);
  POINT origin{0, 0};
  ClientToScreen(dialog, &origin);
  EXPECT_EQ(origin.x, 20 - wanted.left);
  EXPECT_EQ(origin.y, 60 - wanted.top);
  // CW_USEDEFAULT gives a top-level window the screen below the task bar.
  HWND form = CreateWindowExW(0, u"TestWindow", u"Form", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  RECT rect;
  GetWindowRect(form, &rect);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYCAPTION));
  EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
  // The shell fits a program's main window between the task bar and its menu bar.
  SHMENUBARINFO bar{sizeof bar, form, 0, 131, nullptr, 0, 0, nullptr, 0};
  ASSERT_TRUE(SHCreateMenuBar(&bar));
  EXPECT_EQ(GetParent(bar.hwndMB), form);
  EXPECT_TRUE(SHHandleWMSettingChange(form, 0, 0, nullptr));
  GetWindowRect(form, &rect);
  EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN) - CommandBar_Height(bar.hwndMB));
  // The window under a point is the topmost there; activating a window brings it up.
  POINT inside{30, 70};
  EXPECT_EQ(WindowFromPoint(inside), form);
  SetActiveWindow(dialog);
  EXPECT_EQ(WindowFromPoint(inside), dialog);
}

TEST_F(WindowManager, TheShellWindowsExist) {
  EXPECT_NE(FindWindowW(u"HHTaskBar", nullptr), nullptr);
  EXPECT_NE(FindWindowW(u"SipWndClass", nullptr), nullptr);
  HWND desktop = GetDesktopWindow();
  WCHAR text[16];
  GetWindowTextW(desktop, text, 16);
  EXPECT_EQ(std::u16string(text), u"Desktop");
  EXPECT_FALSE(IsWindowVisible(FindWindowW(u"SipWndClass", nullptr)));
  EXPECT_EQ(platform::live_window_count(), 0u);
}

}  // namespace
