// The shell's menu bar: a row of command buttons along the bottom of the screen, owned
// by a form; tapping a button sends WM_COMMAND with its id to the form.
#include "platform/shell/menu_bar.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/user/menus.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace {

constexpr int kImageSize = 16;
constexpr int kStandardImageCount = 15;  // the common controls' standard strip
constexpr int kSeparatorWidth = 8;

struct Button {
  int id;
  int image;
  BYTE style;
  HMENU menu;  // a drop-down button's menu
  std::u16string text;
  RECT place;
};

// A run of images added by one TB_ADDBITMAP: the bitmap (null for the standard images,
// which are not drawn) and where its images start in the bar's list.
struct ImageStrip {
  HINSTANCE instance;
  UINT_PTR id;
  int first;
  int count;
};

struct Bar {
  std::vector<Button> buttons;
  std::vector<std::u16string> strings;
  std::vector<ImageStrip> images;
  int image_count = 0;
  int pressed = -1;  // the button the stylus went down on
  int open = -1;     // the drop-down button whose menu is open
};

Bar* bar_of(HWND window) { return reinterpret_cast<Bar*>(static_cast<uintptr_t>(uint32_t(GetWindowLongW(window, GWL_USERDATA)))); }

void lay_out(HWND window, Bar& bar) {
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  RECT client;
  GetClientRect(window, &client);
  int x = 4;
  for (Button& button : bar.buttons) {
    int width = kSeparatorWidth;
    if (!(button.style & TBSTYLE_SEP)) {
      SIZE size{};
      GetTextExtentPoint32W(dc, button.text.c_str(), int(button.text.size()), &size);
      width = (button.image >= 0 ? kImageSize : 0) + (button.text.empty() ? 0 : size.cx) + 12;
    }
    button.place = {x, 0, x + width, client.bottom};
    x = button.place.right + 2;
  }
  ReleaseDC(window, dc);
  InvalidateRect(window, nullptr, TRUE);
}

// TB_ADDSTRINGW: texts one after another, each ending in a zero, the last in two.
LRESULT add_strings(Bar& bar, LPARAM lparam) {
  if (!lparam) return -1;
  LRESULT first = LRESULT(bar.strings.size());
  while (true) {
    std::u16string one = platform::user::message_text(lparam);
    if (one.empty()) return first;
    lparam += LPARAM((one.size() + 1) * sizeof(char16_t));
    bar.strings.push_back(std::move(one));
  }
}

// TB_ADDBITMAP: the index of the first image; a strip added before keeps its index.
LRESULT add_bitmap(Bar& bar, WPARAM count, LPARAM lparam) {
  const auto* record = reinterpret_cast<const TBADDBITMAP*>(lparam);
  if (!record) return -1;
  for (const ImageStrip& strip : bar.images) {
    if (strip.instance == record->hInst && strip.id == record->nID) return strip.first;
  }
  int images = int(count);
  if (record->hInst == HINST_COMMCTRL) {
    if (images == 0) images = kStandardImageCount;
  } else {
    BITMAP bitmap{};
    if (record->hInst || !GetObjectW(reinterpret_cast<HGDIOBJ>(record->nID), sizeof bitmap, &bitmap)) return -1;
    if (images == 0) images = std::max<int>(1, bitmap.bmWidth / kImageSize);
  }
  bar.images.push_back({record->hInst, record->nID, bar.image_count, images});
  bar.image_count += images;
  return bar.images.back().first;
}

std::u16string button_text(const Bar& bar, int string) {
  if (string == -1) return {};
  if (string >= 0 && size_t(string) < bar.strings.size()) return bar.strings[size_t(string)];
  // Not an index: a pointer to the text itself.
  if (uint32_t(string) >= 0x10000) return reinterpret_cast<const WCHAR*>(static_cast<uintptr_t>(uint32_t(string)));
  return {};
}

LRESULT add_buttons(HWND window, Bar& bar, WPARAM count, LPARAM lparam) {
  const auto* added = reinterpret_cast<const TBBUTTON*>(lparam);
  if (!added) return FALSE;
  for (WPARAM i = 0; i < count; ++i) {
    const TBBUTTON& button = added[i];
    HMENU menu = (button.fsStyle & TBSTYLE_DROPDOWN) ? reinterpret_cast<HMENU>(static_cast<uintptr_t>(button.dwData)) : nullptr;
    bar.buttons.push_back({button.idCommand, button.iBitmap, button.fsStyle, menu, button_text(bar, button.iString), {}});
  }
  lay_out(window, bar);
  return TRUE;
}

int button_at(const Bar& bar, LPARAM lparam) {
  POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  for (size_t index = 0; index < bar.buttons.size(); ++index) {
    if (!(bar.buttons[index].style & TBSTYLE_SEP) && PtInRect(&bar.buttons[index].place, point)) return int(index);
  }
  return -1;
}

// A drop-down opens its menu above the button; the choice is posted to the form.
void open_drop_down(HWND window, Bar& bar, int index) {
  Button button = bar.buttons[size_t(index)];
  POINT corner{button.place.left, 0};
  ClientToScreen(window, &corner);
  bar.open = index;
  InvalidateRect(window, &button.place, TRUE);
  TrackPopupMenuEx(button.menu, TPM_LEFTALIGN | TPM_BOTTOMALIGN, corner.x, corner.y, GetParent(window), nullptr);
  if (Bar* still = bar_of(window)) {
    still->open = -1;
    InvalidateRect(window, nullptr, TRUE);
  }
}

void press(HWND window, Bar& bar, LPARAM lparam) {
  int index = button_at(bar, lparam);
  int pressed = bar.pressed;
  bar.pressed = -1;
  if (index < 0 || index != pressed) return;
  const Button& button = bar.buttons[size_t(index)];
  if ((button.style & TBSTYLE_DROPDOWN) && button.menu) {
    open_drop_down(window, bar, index);
    return;
  }
  PostMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(WORD(button.id), 0), reinterpret_cast<LPARAM>(window));
}

void draw_image(HDC dc, const Bar& bar, const Button& button) {
  for (const ImageStrip& strip : bar.images) {
    if (button.image < strip.first || button.image >= strip.first + strip.count || strip.instance) continue;
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, reinterpret_cast<HGDIOBJ>(strip.id));
    int top = (button.place.top + button.place.bottom - kImageSize) / 2;
    BitBlt(dc, button.place.left + 6, top, kImageSize, kImageSize, source, (button.image - strip.first) * kImageSize, 0,
           SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    return;
  }
}

void paint(HWND window, Bar* bar) {
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
    for (size_t index = 0; index < bar->buttons.size(); ++index) {
      Button& button = bar->buttons[index];
      if (button.style & TBSTYLE_SEP) continue;
      bool open = int(index) == bar->open;
      if (open) {
        RECT lit{button.place.left, button.place.top + 1, button.place.right, button.place.bottom};
        FillRect(dc, &lit, GetSysColorBrush(COLOR_HIGHLIGHT));
      }
      if (button.image >= 0) draw_image(dc, *bar, button);
      SetTextColor(dc, GetSysColor(open ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
      RECT text_place = button.place;
      if (button.image >= 0) text_place.left += kImageSize + 6;
      DrawTextW(dc, button.text.c_str(), int(button.text.size()), &text_place, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }
  }
  EndPaint(window, &paint);
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
    case TB_ADDSTRINGW: return bar ? add_strings(*bar, lparam) : -1;
    case TB_ADDBITMAP: return bar ? add_bitmap(*bar, wparam, lparam) : -1;
    case TB_ADDBUTTONSW: return bar ? add_buttons(window, *bar, wparam, lparam) : FALSE;
    case SHCMBM_GETMENU: return 0;
    case WM_LBUTTONDOWN:
      if (bar) bar->pressed = button_at(*bar, lparam);
      return 0;
    case WM_LBUTTONUP:
      if (bar) press(window, *bar, lparam);
      return 0;
    case WM_PAINT: paint(window, bar); return 0;
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
