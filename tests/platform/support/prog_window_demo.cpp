// A small windowed program for the display tests: a full-screen window with text, a
// child window, a captioned pop-up and a menu bar, then a message loop that ends when the
// device does (input timeline, or the desktop window being closed).
#include "platform/platform.h"

namespace {

LRESULT form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 128));
    RECT line{8, 8, client.right - 8, 40};
    DrawTextW(dc, u"Hello from the device", -1, &line, DT_SINGLELINE | DT_CENTER);
    HBRUSH brush = CreateSolidBrush(RGB(0, 160, 80));
    HGDIOBJ previous = SelectObject(dc, brush);
    Ellipse(dc, 20, 50, 100, 110);
    SelectObject(dc, previous);
    DeleteObject(brush);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT panel_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    DrawTextW(dc, u"A child", -1, &client, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int main() {
  WNDCLASSW record{};
  record.lpfnWndProc = form_procedure;
  record.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  record.lpszClassName = u"DemoForm";
  RegisterClassW(&record);
  record.lpfnWndProc = panel_procedure;
  record.lpszClassName = u"DemoPanel";
  RegisterClassW(&record);
  HWND form = CreateWindowExW(0, u"DemoForm", u"Demo", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  CreateWindowExW(WS_EX_CLIENTEDGE, u"DemoPanel", u"", WS_CHILD | WS_VISIBLE, 120, 60, 100, 40, form,
                  reinterpret_cast<HMENU>(5), nullptr, nullptr);
  SHMENUBARINFO bar{sizeof bar, form, 0, 131, nullptr, 0, 0, nullptr, 0};
  SHCreateMenuBar(&bar);
  TBBUTTON buttons[] = {{0, 100, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, int(reinterpret_cast<uintptr_t>(u"Menu"))}};
  SendMessageW(bar.hwndMB, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(buttons));
  SendMessageW(form, WM_SETTINGCHANGE, 0, 0);
  SHHandleWMSettingChange(form, 0, 0, nullptr);
  HWND popup = CreateWindowExW(WS_EX_CAPTIONOKBTN, u"DemoPanel", u"Pop-up", WS_POPUP | WS_CAPTION | WS_BORDER, 30, 150,
                               180, 80, form, nullptr, nullptr, nullptr);
  ShowWindow(popup, SW_SHOW);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
