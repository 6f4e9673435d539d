// The windowed message box: a modal captioned box with the text and a row of buttons,
// shown when the device has a screen someone looks at (the x11 display).
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/user/input.h"
#include "platform/user/message_box.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

constexpr const WCHAR* kBoxClass = u"ZrkMessageBox";
constexpr int kButtonHeight = 24;
constexpr int kMargin = 8;

struct BoxButton {
  int id;
  RECT place;
};

struct Box {
  std::u16string text;
  std::vector<BoxButton> buttons;
  int default_index = 0;
  int escape_id = 0;  // the answer of ESC and of closing the box
  RECT text_place{};
  int result = 0;
};

const char16_t* label_of(int id) {
  switch (id) {
    case IDOK: return u"OK";
    case IDCANCEL: return u"Cancel";
    case IDABORT: return u"Abort";
    case IDRETRY: return u"Retry";
    case IDIGNORE: return u"Ignore";
    case IDYES: return u"Yes";
    case IDNO: return u"No";
    default: return u"";
  }
}

std::vector<int> buttons_of(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

Box* box_of(HWND window) { return reinterpret_cast<Box*>(static_cast<uintptr_t>(uint32_t(GetWindowLongW(window, GWL_USERDATA)))); }

LRESULT box_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Box* box = box_of(window);
  if (!box) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      SelectObject(dc, GetStockObject(SYSTEM_FONT));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      RECT text = box->text_place;
      DrawTextW(dc, box->text.c_str(), int(box->text.size()), &text, DT_WORDBREAK | DT_NOPREFIX);
      for (size_t i = 0; i < box->buttons.size(); ++i) {
        RECT place = box->buttons[i].place;
        FrameRect(dc, &place, GetSysColorBrush(COLOR_WINDOWFRAME));
        if (int(i) == box->default_index) {
          InflateRect(&place, -1, -1);
          FrameRect(dc, &place, GetSysColorBrush(COLOR_WINDOWFRAME));
        }
        DrawTextW(dc, label_of(box->buttons[i].id), -1, &place, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_LBUTTONUP: {
      POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      for (const BoxButton& button : box->buttons) {
        if (PtInRect(&button.place, point)) box->result = button.id;
      }
      return 0;
    }
    case WM_KEYDOWN:
      if (wparam == 0x0D) box->result = box->buttons[size_t(box->default_index)].id;
      else if (wparam == 0x1B && box->escape_id) box->result = box->escape_id;
      return 0;
    case WM_COMMAND:  // the caption's OK button
      if (LOWORD(DWORD(wparam)) == IDOK) box->result = box->escape_id ? box->escape_id : box->buttons[0].id;
      return 0;
    case WM_CLOSE:
      if (box->escape_id) box->result = box->escape_id;
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

bool run_modal_window(HWND window, HWND owner, const int* done) {
  bool disabled_owner = owner && IsWindowEnabled(owner);
  if (disabled_owner) EnableWindow(owner, FALSE);
  ShowWindow(window, SW_SHOW);
  SetFocus(window);
  bool finished = true;
  MSG msg;
  while (*done == 0) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(int(msg.wParam));
      finished = false;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (disabled_owner) EnableWindow(owner, TRUE);
  SetWindowLongW(window, GWL_USERDATA, 0);
  DestroyWindow(window);
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  return finished;
}

int windowed_message_box(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  static bool registered = [] {
    WNDCLASSW record{};
    record.lpfnWndProc = box_procedure;
    record.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
    record.lpszClassName = kBoxClass;
    RegisterClassW(&record);
    return true;
  }();
  (void)registered;
  Box box;
  box.text = text ? std::u16string(text) : std::u16string();
  std::vector<int> ids = buttons_of(type);
  for (int id : ids) {
    box.buttons.push_back({id, {}});
    if (id == IDCANCEL || (ids.size() == 1 && id == IDOK)) box.escape_id = id;
  }
  box.default_index = std::min(int((type & MB_DEFMASK) >> 8), int(ids.size()) - 1);

  DeviceProfile profile = device_profile();
  int width = profile.screen_width - 2 * kMargin;
  int caption_height = GetSystemMetrics(SM_CYCAPTION);
  // Measure the text in the box's font.
  HDC screen = GetDC(nullptr);
  SelectObject(screen, GetStockObject(SYSTEM_FONT));
  RECT measured{0, 0, width - 2 * kMargin - 2, 0};
  DrawTextW(screen, box.text.c_str(), int(box.text.size()), &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  ReleaseDC(nullptr, screen);
  int client_height = kMargin + (measured.bottom - measured.top) + kMargin + kButtonHeight + kMargin;
  int height = std::min(client_height + caption_height + 2, profile.screen_height - caption_height);
  box.text_place = {kMargin, kMargin, width - 2 - kMargin, kMargin + measured.bottom - measured.top};
  int button_width = (width - 2 - kMargin * int(ids.size() + 1)) / int(ids.size());
  int button_top = client_height - kMargin - kButtonHeight;
  for (size_t i = 0; i < box.buttons.size(); ++i) {
    int left = kMargin + int(i) * (button_width + kMargin);
    box.buttons[i].place = {left, button_top, left + button_width, button_top + kButtonHeight};
  }

  if (!owner) owner = GetActiveWindow();
  HWND window = CreateWindowExW(WS_EX_TOPMOST, kBoxClass, caption ? caption : u"Error", WS_POPUP | WS_CAPTION,
                                kMargin, (profile.screen_height - height) / 2, width, height, owner, nullptr, nullptr,
                                nullptr);
  if (!window) return 0;
  SetWindowLongW(window, GWL_USERDATA, LONG(reinterpret_cast<uintptr_t>(&box)));
  if (!run_modal_window(window, owner, &box.result)) box.result = box.escape_id ? box.escape_id : ids.front();
  return box.result ? box.result : ids.front();
}

}  // namespace platform::user
