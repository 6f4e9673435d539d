// A window holding one automatic check box, for the x11 display test: every click the
// box reports reaches standard output as "clicked CHECK"; the run ends when the device
// window is closed.
#include <cstdio>

#include "platform/platform.h"

namespace {

LRESULT probe(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND && HIWORD(DWORD(wparam)) == BN_CLICKED) {
    auto box = reinterpret_cast<HWND>(lparam);
    std::printf("clicked %d\n", int(SendMessageW(box, BM_GETCHECK, 0, 0)));
    std::fflush(stdout);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int main() {
  WNDCLASSW record{};
  record.lpfnWndProc = probe;
  record.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  record.lpszClassName = u"ControlProbe";
  RegisterClassW(&record);
  // The work area's top-left is the screen's (0, 26); the box lies at (20, 20) in it.
  HWND window = CreateWindowExW(0, u"ControlProbe", u"probe", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  CreateWindowExW(0, u"BUTTON", u"Check", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 20, 20, 150, 20, window,
                  reinterpret_cast<HMENU>(5), nullptr, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
