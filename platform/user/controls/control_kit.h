// What the control classes share: their state records, the parent's colours and
// notifications, painting with the control's font, text measuring, and the item list of
// list boxes and combo boxes.
#pragma once

#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/wide_string.h"
#include "platform/user/controls/controls.h"
#include "platform/user/messages.h"
#include "platform/user/painting.h"
#include "platform/user/window_manager.h"

namespace platform::user::controls {

// A control's state record hangs off its first extra word; 0 before WM_CREATE and after
// WM_DESTROY, so late messages find none.
template <typename State>
State* state_of(HWND window) {
  return reinterpret_cast<State*>(static_cast<uintptr_t>(static_cast<uint32_t>(GetWindowLongW(window, 0))));
}
void set_state(HWND window, void* state);
// WM_DESTROY: the state record goes with the window.
template <typename State>
LRESULT end_state(HWND window, State* state) {
  set_state(window, nullptr);
  delete state;
  return 0;
}

// What every control does with the messages its class leaves: no background erasing (it
// fills its own), a repaint when the focus or the enabled state changes, the default
// procedure for the rest.
LRESULT answer_common_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Registers a system class: no class background (controls fill their own), one extra
// word for the state record. The name is kept by the registry.
void register_system_class(const char16_t* name, WNDPROC procedure);

// WM_COMMAND (MAKEWPARAM(id, code), control) to the control's parent. Anything may
// happen meanwhile, the control's end too: callers look their state up again after it.
void notify_parent(HWND control, WORD code);

// The window's text (its caption, for buttons and statics).
std::u16string text_of(HWND window);

// The low four bits of a style.
inline DWORD style_kind(HWND window) { return DWORD(GetWindowLongW(window, GWL_STYLE)) & 0xF; }
inline bool has_style(HWND window, DWORD bits) { return (DWORD(GetWindowLongW(window, GWL_STYLE)) & bits) == bits; }

// Painting a control: BeginPaint, its font selected, its colours asked of the parent with
// colour_message (wParam the context, lParam the control), the client area filled with
// the brush the answer gave, text drawn transparently in the answer's text colour (grey
// when the control is disabled).
class ControlPaint {
 public:
  ControlPaint(HWND window, UINT colour_message);
  ~ControlPaint();
  ControlPaint(const ControlPaint&) = delete;
  ControlPaint& operator=(const ControlPaint&) = delete;
  HDC dc = nullptr;
  RECT client{};
  HBRUSH brush = nullptr;
  COLORREF text_colour = 0;

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HGDIOBJ previous_font_ = nullptr;
};

// A context of the window with its font selected, for measuring outside WM_PAINT.
class MeasuringContext {
 public:
  explicit MeasuringContext(HWND window);
  ~MeasuringContext();
  MeasuringContext(const MeasuringContext&) = delete;
  MeasuringContext& operator=(const MeasuringContext&) = delete;
  HDC dc = nullptr;

 private:
  HWND window_;
  HGDIOBJ previous_font_ = nullptr;
};

// Selects the window's font (WM_SETFONT), or the system font when it has none or it was
// deleted; gives what it replaced.
HGDIOBJ select_control_font(HWND window, HDC dc);
// The height of a line of text in the selected font.
int line_height(HDC dc);
// The width of count characters in the selected font.
int text_width(HDC dc, const char16_t* text, int count);

// The item list of list boxes and combo boxes: texts, the selection (-1 none) and the
// first item shown.
struct ItemList {
  std::vector<std::u16string> items;
  int selected = -1;
  int top = 0;
};

// The message numbers of one class for the item operations.
struct ItemMessages {
  UINT add, insert, remove, reset, set_selection, get_selection, get_text, get_text_length, count;
  LRESULT error;
};
constexpr ItemMessages kListBoxMessages{LB_ADDSTRING,  LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT, LB_SETCURSEL,
                                        LB_GETCURSEL,  LB_GETTEXT,      LB_GETTEXTLEN,   LB_GETCOUNT,     LB_ERR};
constexpr ItemMessages kComboBoxMessages{CB_ADDSTRING,  CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT, CB_SETCURSEL,
                                         CB_GETCURSEL,  CB_GETLBTEXT,    CB_GETLBTEXTLEN, CB_GETCOUNT,     CB_ERR};

// Answers an item message; false when message is none of them. sorted: added texts go
// in order (case ignored). changed tells whether the items or the selection changed.
bool answer_item_message(ItemList& list, const ItemMessages& kind, bool sorted, UINT message, WPARAM wparam,
                         LPARAM lparam, LRESULT* result, bool* changed);

// Draws rows of items from first on, row_height apart, inside area; the selected row is
// highlighted.
void draw_item_rows(HDC dc, const ItemList& list, int first, RECT area, int row_height, COLORREF text_colour);

// Keeps the selected item within rows shown from list.top.
void scroll_to_selection(ItemList& list, int rows);

}  // namespace platform::user::controls
