// The LISTBOX class: a column of texts, one of them selected, chosen by a tap or the
// arrow keys; with LBS_NOTIFY the parent hears LBN_SELCHANGE when the user changes it.
#include <algorithm>

#include "platform/user/controls/control_kit.h"
#include "platform/user/input.h"

namespace platform::user::controls {
namespace {

struct ListBoxState {
  ItemList list;
  bool tracking = false;
};

int row_height(HWND window) {
  MeasuringContext measuring(window);
  return measuring.dc ? line_height(measuring.dc) : 14;
}

int visible_rows(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  return std::max(1, int(client.bottom) / row_height(window));
}

// The user chose row (clamped); the parent hears of a change when it asked to.
void choose(HWND window, ListBoxState& state, int row) {
  if (state.list.items.empty()) return;
  row = std::clamp(row, 0, int(state.list.items.size()) - 1);
  if (row == state.list.selected) return;
  state.list.selected = row;
  scroll_to_selection(state.list, visible_rows(window));
  InvalidateRect(window, nullptr, FALSE);
  if (has_style(window, LBS_NOTIFY)) notify_parent(window, LBN_SELCHANGE);
}

int row_at(HWND window, const ListBoxState& state, LPARAM lparam) {
  int y = GET_Y_LPARAM(lparam);
  return state.list.top + (y < 0 ? -1 : y / row_height(window));
}

}  // namespace

LRESULT list_box_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = state_of<ListBoxState>(window);
  if (message == WM_CREATE) {
    set_state(window, new ListBoxState);
    return 0;
  }
  if (!state) return DefWindowProcW(window, message, wparam, lparam);
  LRESULT result = 0;
  bool changed = false;
  if (answer_item_message(state->list, kListBoxMessages, has_style(window, LBS_SORT), message, wparam, lparam, &result,
                          &changed)) {
    if (changed) {
      if (message == LB_SETCURSEL) scroll_to_selection(state->list, visible_rows(window));
      InvalidateRect(window, nullptr, FALSE);
    }
    return result;
  }
  switch (message) {
    case WM_DESTROY: return end_state(window, state);
    case WM_PAINT: {
      ControlPaint paint(window, WM_CTLCOLORLISTBOX);
      state = state_of<ListBoxState>(window);
      if (paint.dc && state) {
        draw_item_rows(paint.dc, state->list, state->list.top, paint.client, line_height(paint.dc), paint.text_colour);
      }
      return 0;
    }
    case LB_GETTOPINDEX: return state->list.top;
    case LB_SETTOPINDEX:
      if (int(wparam) < 0 || size_t(wparam) >= state->list.items.size()) return LB_ERR;
      state->list.top = int(wparam);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(window);
      state = state_of<ListBoxState>(window);
      if (!state) return 0;
      state->tracking = true;
      SetCapture(window);
      choose(window, *state, row_at(window, *state, lparam));
      return 0;
    case WM_MOUSEMOVE:
      if (state->tracking) choose(window, *state, row_at(window, *state, lparam));
      return 0;
    case WM_LBUTTONUP:
      state->tracking = false;
      if (GetCapture() == window) ReleaseCapture();
      return 0;
    case WM_CAPTURECHANGED: state->tracking = false; return 0;
    case WM_KEYDOWN: {
      int rows = visible_rows(window);
      int at = state->list.selected;
      switch (wparam) {
        case VK_UP: choose(window, *state, at - 1); break;
        case VK_DOWN: choose(window, *state, at + 1); break;
        case VK_PRIOR: choose(window, *state, at - rows); break;
        case VK_NEXT: choose(window, *state, at + rows); break;
        case VK_HOME: choose(window, *state, 0); break;
        case VK_END: choose(window, *state, int(state->list.items.size()) - 1); break;
        default: break;
      }
      return 0;
    }
    default: return answer_common_message(window, message, wparam, lparam);
  }
}

}  // namespace platform::user::controls
