// Prints, one line each, the input messages its windows receive from the device's input
// timeline: a form with a child and a menu bar, and a captioned pop-up with an OK button.
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

const char* name_of(HWND window);
HWND form, child, popup;

LRESULT probe(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
      std::printf("%s mouse %u %d,%d\n", name_of(window), message, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      break;
    case WM_KEYDOWN:
    case WM_KEYUP: std::printf("%s key %u 0x%X\n", name_of(window), message, unsigned(wparam)); break;
    case WM_CHAR: std::printf("%s char %c\n", name_of(window), char(wparam)); break;
    case WM_COMMAND: std::printf("%s command %u\n", name_of(window), unsigned(LOWORD(DWORD(wparam)))); break;
    case WM_CLOSE: std::printf("%s close\n", name_of(window)); return 0;
    case WM_WINDOWPOSCHANGED: {
      auto* position = reinterpret_cast<WINDOWPOS*>(lparam);
      WCHAR text[16] = {};
      if (position->hwndInsertAfter) GetWindowTextW(position->hwndInsertAfter, text, 16);
      if (text[0] == u'D') std::printf("%s behind the desktop\n", name_of(window));
      break;
    }
    default: break;
  }
  std::fflush(stdout);
  return DefWindowProcW(window, message, wparam, lparam);
}

const char* name_of(HWND window) { return window == form ? "form" : window == child ? "child" : window == popup ? "popup" : "?"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "box") {
    // Message boxes alone: ENTER takes the default button, closing the box its Cancel.
    std::printf("answer %d\n", MessageBoxW(nullptr, u"Save the changes?", u"Probe", MB_YESNOCANCEL | MB_DEFBUTTON2));
    std::printf("answer %d\n", MessageBoxW(nullptr, u"Go on?", u"Probe", MB_OKCANCEL));
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "files") {
    // The Open and Save As dialogs in turn: each prints whether it chose and what.
    for (int round = 0; round < 3; ++round) {
      WCHAR path[MAX_PATH] = {};
      OPENFILENAMEW record{};
      record.lStructSize = sizeof record;
      record.lpstrFilter = u"Text\0*.txt\0Programs\0*.zrk\0";
      record.nFilterIndex = 1;
      record.lpstrFile = path;
      record.nMaxFile = MAX_PATH;
      record.lpstrInitialDir = u"\\";
      BOOL chosen = round == 1 ? GetSaveFileNameW(&record) : GetOpenFileNameW(&record);
      std::printf("%s %d %s\n", round == 1 ? "save" : "open", chosen, platform::utf8_from_utf16(path).c_str());
    }
    return 0;
  }
  WNDCLASSW record{};
  record.style = CS_DBLCLKS;
  record.lpfnWndProc = probe;
  record.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  record.lpszClassName = u"Probe";
  RegisterClassW(&record);
  form = CreateWindowExW(0, u"Probe", u"Form", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                         nullptr, nullptr, nullptr, nullptr);  // 0,26 to 240,320
  child = CreateWindowExW(0, u"Probe", u"", WS_CHILD | WS_VISIBLE, 10, 10, 50, 20, form, reinterpret_cast<HMENU>(1),
                          nullptr, nullptr);
  SHMENUBARINFO bar{sizeof bar, form, 0, 131, nullptr, 0, 0, nullptr, 0};
  SHCreateMenuBar(&bar);
  ACCEL keys[] = {{FVIRTKEY | FCONTROL, 'S', 900}, {0, 'q', 901}};
  HACCEL table = CreateAcceleratorTableW(keys, 2);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_KEYDOWN && msg.wParam == 'P' && !popup) {
      popup = CreateWindowExW(WS_EX_CAPTIONOKBTN, u"Probe", u"Pop", WS_POPUP | WS_CAPTION | WS_BORDER | WS_VISIBLE, 20,
                              100, 200, 100, form, nullptr, nullptr, nullptr);
    }
    if (TranslateAcceleratorW(msg.hwnd, table, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
