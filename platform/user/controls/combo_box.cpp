// The COMBOBOX class, always a drop-down list: a field showing the selected text with a
// button; a tap opens the list below it (the window grows to hold it, on top of its
// siblings, and keeps the stylus until the list closes), a tap on an item chooses it and
// the parent hears CBN_SELCHANGE. The height given at creation is the height of field and
// open list together, as on the device; the closed window is one field high.
#include <algorithm>

#include "platform/user/controls/control_kit.h"
#include "platform/user/input.h"
#include "platform/user/window_state.h"

namespace platform::user::controls {
namespace {

struct ComboState {
  ItemList list;
  int asked_height = 0;  // field and open list, as created
  bool dropped = false;
};

struct Layout {
  int row;    // height of an item row
  int field;  // height of the closed field
  int rows;   // rows of the open list
};

Layout layout_of(HWND window, const ComboState& state) {
  MeasuringContext measuring(window);
  int row = measuring.dc ? line_height(measuring.dc) : 14;
  int field = row + 6;
  int count = std::max(1, int(state.list.items.size()));
  int rows = std::clamp((state.asked_height - field - 2) / row, 1, count);
  return {row, field, rows};
}

// Sizes the window for the field alone, or with the open list under it.
void fit(HWND window, ComboState& state) {
  Layout layout = layout_of(window, state);
  RECT rect{};
  GetWindowRect(window, &rect);
  RECT client{};
  GetClientRect(window, &client);
  int frame = (rect.bottom - rect.top) - client.bottom;
  int height = layout.field + frame + (state.dropped ? layout.rows * layout.row + 2 : 0);
  UINT flags = SWP_NOMOVE | SWP_NOACTIVATE | (state.dropped ? 0 : SWP_NOZORDER);
  SetWindowPos(window, HWND_TOP, 0, 0, rect.right - rect.left, height, flags);
}

void open_list(HWND window, ComboState& state) {
  if (state.dropped || !IsWindowEnabled(window)) return;
  state.dropped = true;
  scroll_to_selection(state.list, layout_of(window, state).rows);
  fit(window, state);
  SetCapture(window);
  InvalidateRect(window, nullptr, FALSE);
}

void close_list(HWND window, ComboState& state) {
  if (!state.dropped) return;
  state.dropped = false;
  fit(window, state);
  if (GetCapture() == window) ReleaseCapture();
  InvalidateRect(window, nullptr, FALSE);
}

// The user chose an item: the parent hears of a change.
void choose(HWND window, ComboState& state, int index) {
  if (state.list.items.empty()) return;
  index = std::clamp(index, 0, int(state.list.items.size()) - 1);
  if (index == state.list.selected) return;
  state.list.selected = index;
  if (state.dropped) scroll_to_selection(state.list, layout_of(window, state).rows);
  InvalidateRect(window, nullptr, FALSE);
  notify_parent(window, CBN_SELCHANGE);
}

void tap(HWND window, ComboState& state, LPARAM lparam) {
  if (!state.dropped) {
    open_list(window, state);
    return;
  }
  Layout layout = layout_of(window, state);
  RECT client{};
  GetClientRect(window, &client);
  POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  RECT rows{0, layout.field + 1, client.right, layout.field + 1 + layout.rows * layout.row};
  if (!PtInRect(&rows, point)) {
    close_list(window, state);
    return;
  }
  int index = state.list.top + (point.y - rows.top) / layout.row;
  close_list(window, state);
  if (index < int(state.list.items.size())) choose(window, state, index);
}

void draw_arrow(HDC dc, RECT button) {
  int middle = (button.left + button.right) / 2;
  int top = (button.top + button.bottom) / 2 - 2;
  POINT points[3] = {{middle - 4, top}, {middle + 4, top}, {middle, top + 4}};
  HGDIOBJ previous_brush = SelectObject(dc, GetSysColorBrush(COLOR_WINDOWTEXT));
  HGDIOBJ previous_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
  Polygon(dc, points, 3);
  SelectObject(dc, previous_pen);
  SelectObject(dc, previous_brush);
}

void paint_combo(HWND window) {
  ControlPaint paint(window, WM_CTLCOLORLISTBOX);
  auto* state = state_of<ComboState>(window);
  if (!paint.dc || !state) return;
  HDC dc = paint.dc;
  int row = line_height(dc);
  int field = row + 6;
  RECT frame{0, 0, paint.client.right, std::min(field, int(paint.client.bottom))};
  HBRUSH black = GetSysColorBrush(COLOR_WINDOWFRAME);
  FrameRect(dc, &frame, black);
  RECT button{std::max(0, int(frame.right) - field), 0, frame.right, frame.bottom};
  FrameRect(dc, &button, black);
  draw_arrow(dc, button);
  if (state->list.selected >= 0) {
    const std::u16string& text = state->list.items[size_t(state->list.selected)];
    RECT place{3, 0, button.left - 2, frame.bottom};
    DrawTextW(dc, text.c_str(), int(text.size()), &place, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  if (!state->dropped) return;
  RECT list{0, field - 1, paint.client.right, paint.client.bottom};
  FrameRect(dc, &list, black);
  InflateRect(&list, -1, -1);
  draw_item_rows(dc, state->list, state->list.top, list, row, paint.text_colour);
}

LRESULT selected_text(const ComboState& state, UINT message, WPARAM wparam, LPARAM lparam) {
  std::u16string text = state.list.selected >= 0 ? state.list.items[size_t(state.list.selected)] : u"";
  if (message == WM_GETTEXTLENGTH) return LRESULT(text.size());
  return put_message_text(lparam, int(wparam), text);
}

}  // namespace

LRESULT combo_box_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = state_of<ComboState>(window);
  if (message == WM_CREATE) {
    auto* made = new ComboState;
    made->asked_height = message_create_struct(lparam).cy;
    set_state(window, made);
    fit(window, *made);
    return 0;
  }
  if (!state) return DefWindowProcW(window, message, wparam, lparam);
  LRESULT result = 0;
  bool changed = false;
  if (answer_item_message(state->list, kComboBoxMessages, has_style(window, CBS_SORT), message, wparam, lparam, &result,
                          &changed)) {
    if (changed && state->dropped) fit(window, *state);
    if (changed) InvalidateRect(window, nullptr, FALSE);
    return result;
  }
  switch (message) {
    case WM_DESTROY: return end_state(window, state);
    case WM_PAINT: paint_combo(window); return 0;
    case WM_SETFONT:
      DefWindowProcW(window, message, wparam, lparam);
      fit(window, *state);
      return 0;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: return selected_text(*state, message, wparam, lparam);
    case CB_SHOWDROPDOWN:
      if (wparam) open_list(window, *state);
      else close_list(window, *state);
      return TRUE;
    case CB_GETDROPPEDSTATE: return state->dropped ? TRUE : FALSE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (GetFocus() != window) {
        SetFocus(window);
        state = state_of<ComboState>(window);
        if (!state) return 0;
      }
      tap(window, *state, lparam);
      return 0;
    case WM_KEYDOWN:
      switch (wparam) {
        case VK_UP: choose(window, *state, state->list.selected - 1); break;
        case VK_DOWN: choose(window, *state, state->list.selected + 1); break;
        case VK_RETURN:
        case VK_ESCAPE: close_list(window, *state); break;
        default: break;
      }
      return 0;
    case WM_CAPTURECHANGED:
    case WM_KILLFOCUS:
      if (message == WM_KILLFOCUS || reinterpret_cast<HWND>(lparam) != window) close_list(window, *state);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    default: return answer_common_message(window, message, wparam, lparam);
  }
}

}  // namespace platform::user::controls
