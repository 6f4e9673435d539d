// The shell's menu bar: a row of command buttons along the bottom of the screen, owned
// by a form; tapping a button sends WM_COMMAND with its id to the form.
#include "platform/shell/menu_bar.h"

#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace {

struct Button {
  int id;
  std::u16string text;
  RECT place;
};

struct Bar {
  std::vector<Button> buttons;
};

Bar* bar_of(HWND window) { return reinterpret_cast<Bar*>(static_cast<uintptr_t>(uint32_t(GetWindowLongW(window, GWL_USERDATA)))); }

void lay_out(HWND window, Bar& bar) {
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  RECT client;
  GetClientRect(window, &client);
  int x = 4;
  for (Button& button : bar.buttons) {
    SIZE size{};
    GetTextExtentPoint32W(dc, button.text.c_str(), int(button.text.size()), &size);
    button.place = {x, 0, x + size.cx + 12, client.bottom};
    x = button.place.right + 2;
  }
  ReleaseDC(window, dc);
  InvalidateRect(window, nullptr, TRUE);
}

LRESULT bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Bar* bar = bar_of(window);
  switch (message) {
    case WM_CREATE: SetWindowLongW(window, GWL_USERDATA, LONG(reinterpret_cast<uintptr_t>(new Bar))); return 0;
    case WM_DESTROY:
      SetWindowLongW(window, GWL_USERDATA, 0);
      delete bar;
      return 0;
    case TB_BUTTONCOUNT: return bar ? LRESULT(bar->buttons.size()) : 0;
    case TB_ADDBUTTONSW: {
      auto* added = reinterpret_cast<const TBBUTTON*>(lparam);
      if (!bar || !added) return FALSE;
      for (WPARAM i = 0; i < wparam; ++i) {
        const WCHAR* text = added[i].iString != -1 ? reinterpret_cast<const WCHAR*>(static_cast<uintptr_t>(uint32_t(added[i].iString))) : nullptr;
        bar->buttons.push_back({added[i].idCommand, text ? std::u16string(text) : std::u16string(), {}});
      }
      lay_out(window, *bar);
      return TRUE;
    }
    case WM_LBUTTONUP: {
      if (!bar) return 0;
      POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      for (const Button& button : bar->buttons) {
        if (PtInRect(&button.place, point)) {
          PostMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(WORD(button.id), 0), reinterpret_cast<LPARAM>(window));
        }
      }
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      FillRect(dc, &client, GetSysColorBrush(COLOR_MENU));
      RECT line{client.left, client.top, client.right, client.top + 1};
      FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
      if (bar) {
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_MENUTEXT));
        for (Button& button : bar->buttons) {
          DrawTextW(dc, button.text.c_str(), int(button.text.size()), &button.place, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        }
      }
      EndPaint(window, &paint);
      return 0;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

void register_bar_class() {
  static bool registered = [] {
    WNDCLASSW record{};
    record.lpfnWndProc = bar_procedure;
    record.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_MENU + 1));
    record.lpszClassName = kMenuBarClassName;
    RegisterClassW(&record);
    return true;
  }();
  (void)registered;
}

}  // namespace

int CommandBar_Height(HWND) { return GetSystemMetrics(SM_CYMENU); }

BOOL SHCreateMenuBar(SHMENUBARINFO* record) {
  if (!record || record->cbSize != sizeof(SHMENUBARINFO) || !IsWindow(record->hwndParent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  register_bar_class();
  platform::DeviceProfile profile = platform::device_profile();
  int height = CommandBar_Height(nullptr);
  HWND bar = CreateWindowExW(0, kMenuBarClassName, u"", WS_POPUP, 0, profile.screen_height - height,
                             profile.screen_width, height, record->hwndParent, nullptr, record->hInstRes, nullptr);
  if (!bar) return FALSE;
  platform::user::mark_system_window(bar);
  if (!(record->dwFlags & SHCMBF_HIDDEN)) ShowWindow(bar, SW_SHOWNA);
  record->hwndMB = bar;
  return TRUE;
}

BOOL CommandBar_Show(HWND bar, BOOL show) {
  if (!IsWindow(bar)) return FALSE;
  ShowWindow(bar, show ? SW_SHOWNA : SW_HIDE);
  return TRUE;
}

BOOL CommandBar_AlignAdornments(HWND bar) {
  if (!IsWindow(bar)) return FALSE;
  if (Bar* state = bar_of(bar)) lay_out(bar, *state);
  return TRUE;
}
