// The BUTTON class: push buttons, check boxes (two or three states), radio buttons and
// group boxes. A tap that goes down and up on a button clicks it (so does the space key
// while it has the focus): automatic kinds change their check, then the parent hears
// BN_CLICKED.
#include <algorithm>
#include <memory>

#include "platform/user/controls/control_kit.h"
#include "platform/user/input.h"

namespace platform::user::controls {
namespace {

struct ButtonState {
  WPARAM check = BST_UNCHECKED;
  bool pressed = false;   // the stylus (or space) holds it down
  bool tracking = false;  // the stylus went down on it
};

constexpr int kBoxSize = 13;

bool is_radio(DWORD kind) { return kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON; }
bool is_check(DWORD kind) { return kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE || kind == BS_AUTO3STATE; }

bool is_radio_button(HWND window) {
  char16_t name[16] = {};
  GetClassNameW(window, name, 16);
  return crt::_wcsicmp(name, u"BUTTON") == 0 && is_radio(style_kind(window));
}

// An automatic radio button checked by the user unchecks the radio buttons of its group:
// its siblings from the nearest WS_GROUP at or before it up to the next WS_GROUP.
void uncheck_group_of(HWND window) {
  HWND parent = GetParent(window);
  if (!parent || !has_style(window, WS_CHILD)) return;
  std::vector<HWND> siblings;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) siblings.push_back(child);
  auto self = std::find(siblings.begin(), siblings.end(), window);
  if (self == siblings.end()) return;
  auto first = self;
  while (first != siblings.begin() && !has_style(*first, WS_GROUP)) --first;
  auto last = self + 1;
  while (last != siblings.end() && !has_style(*last, WS_GROUP)) ++last;
  for (auto it = first; it != last; ++it) {
    if (*it != window && is_radio_button(*it)) SendMessageW(*it, BM_SETCHECK, BST_UNCHECKED, 0);
  }
}

void click(HWND window) {
  ButtonState* state = state_of<ButtonState>(window);
  if (!state) return;
  switch (style_kind(window)) {
    case BS_AUTOCHECKBOX: SendMessageW(window, BM_SETCHECK, state->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0); break;
    case BS_AUTO3STATE: SendMessageW(window, BM_SETCHECK, (state->check + 1) % 3, 0); break;
    case BS_AUTORADIOBUTTON:
      SendMessageW(window, BM_SETCHECK, BST_CHECKED, 0);
      uncheck_group_of(window);
      break;
    default: break;
  }
  notify_parent(window, BN_CLICKED);
}

void set_pressed(HWND window, ButtonState* state, bool pressed) {
  if (state->pressed == pressed) return;
  state->pressed = pressed;
  InvalidateRect(window, nullptr, FALSE);
}

bool inside(HWND window, LPARAM lparam) {
  RECT client{};
  GetClientRect(window, &client);
  POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  return PtInRect(&client, point);
}

void draw_check_mark(HDC dc, RECT box, WPARAM check) {
  if (check == BST_INDETERMINATE) {
    RECT inner = box;
    InflateRect(&inner, -3, -3);
    FillRect(dc, &inner, GetSysColorBrush(COLOR_GRAYTEXT));
    return;
  }
  if (check != BST_CHECKED) return;
  HPEN pen = CreatePen(PS_SOLID, 2, GetSysColor(COLOR_WINDOWTEXT));
  HGDIOBJ previous = SelectObject(dc, pen);
  MoveToEx(dc, box.left + 3, box.top + 6, nullptr);
  LineTo(dc, box.left + 5, box.top + 9);
  LineTo(dc, box.left + 10, box.top + 3);
  SelectObject(dc, previous);
  DeleteObject(pen);
}

void paint_button(HWND window) {
  DWORD kind = style_kind(window);
  bool push = kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON;
  ControlPaint paint(window, push ? WM_CTLCOLORBTN : WM_CTLCOLORSTATIC);
  ButtonState* state = state_of<ButtonState>(window);
  if (!paint.dc || !state) return;
  std::u16string text = text_of(window);
  HDC dc = paint.dc;
  RECT client = paint.client;
  HBRUSH frame = GetSysColorBrush(COLOR_WINDOWFRAME);
  if (push) {
    if (state->pressed) {
      FillRect(dc, &client, GetSysColorBrush(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    }
    FrameRect(dc, &client, frame);
    if (kind == BS_DEFPUSHBUTTON) {
      RECT inner = client;
      InflateRect(&inner, -1, -1);
      FrameRect(dc, &inner, frame);
    }
    DrawTextW(dc, text.c_str(), int(text.size()), &client, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    return;
  }
  if (kind == BS_GROUPBOX) {
    int half = line_height(dc) / 2;
    RECT box{client.left, client.top + half, client.right, client.bottom};
    FrameRect(dc, &box, frame);
    int width = text_width(dc, text.c_str(), int(text.size()));
    RECT label{client.left + 6, client.top, std::min(int(client.right), int(client.left) + 10 + width), client.top + 2 * half};
    FillRect(dc, &label, paint.brush);
    InflateRect(&label, -2, 0);
    DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_SINGLELINE | DT_VCENTER);
    return;
  }
  int top = client.top + (client.bottom - client.top - kBoxSize) / 2;
  RECT box{client.left + 1, top, client.left + 1 + kBoxSize, top + kBoxSize};
  HGDIOBJ previous_brush = SelectObject(dc, GetSysColorBrush(state->pressed ? COLOR_BTNFACE : COLOR_WINDOW));
  HGDIOBJ previous_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
  if (is_radio(kind)) {
    Ellipse(dc, box.left, box.top, box.right, box.bottom);
    if (state->check == BST_CHECKED) {
      SelectObject(dc, GetSysColorBrush(COLOR_WINDOWTEXT));
      Ellipse(dc, box.left + 4, box.top + 4, box.right - 4, box.bottom - 4);
    }
  } else {
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
    draw_check_mark(dc, box, state->check);
  }
  SelectObject(dc, previous_pen);
  SelectObject(dc, previous_brush);
  RECT label{box.right + 4, client.top, client.right, client.bottom};
  DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_SINGLELINE | DT_VCENTER);
}

}  // namespace

LRESULT button_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  ButtonState* state = state_of<ButtonState>(window);
  if (message == WM_CREATE) {
    set_state(window, new ButtonState);
    return 0;
  }
  if (!state) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_DESTROY: return end_state(window, state);
    case WM_PAINT: paint_button(window); return 0;
    case BM_GETCHECK: return is_check(style_kind(window)) || is_radio(style_kind(window)) ? LRESULT(state->check) : 0;
    case BM_SETCHECK: {
      DWORD kind = style_kind(window);
      WPARAM check = wparam == BST_INDETERMINATE && (kind == BS_3STATE || kind == BS_AUTO3STATE) ? BST_INDETERMINATE
                     : wparam ? BST_CHECKED : BST_UNCHECKED;
      if ((is_check(kind) || is_radio(kind)) && check != state->check) {
        state->check = check;
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    }
    case BM_GETSTATE:
      return LRESULT(state->check) | (state->pressed ? BST_PUSHED : 0) | (GetFocus() == window ? BST_FOCUS : 0);
    case BM_SETSTATE: set_pressed(window, state, wparam != 0); return 0;
    case BM_CLICK: click(window); return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (style_kind(window) == BS_GROUPBOX) return 0;
      state->tracking = true;
      set_pressed(window, state, true);
      SetCapture(window);
      SetFocus(window);
      return 0;
    case WM_MOUSEMOVE:
      if (state->tracking) set_pressed(window, state, inside(window, lparam));
      return 0;
    case WM_LBUTTONUP: {
      if (!state->tracking) return 0;
      state->tracking = false;
      bool clicked = state->pressed && inside(window, lparam);
      set_pressed(window, state, false);
      if (GetCapture() == window) ReleaseCapture();
      if (clicked) click(window);
      return 0;
    }
    case WM_KEYDOWN:
      if (wparam == VK_SPACE) set_pressed(window, state, true);
      return 0;
    case WM_KEYUP:
      if (wparam == VK_SPACE && state->pressed) {
        set_pressed(window, state, false);
        click(window);
      }
      return 0;
    case WM_CAPTURECHANGED:
      state->tracking = false;
      set_pressed(window, state, false);
      return 0;
    default: return answer_common_message(window, message, wparam, lparam);
  }
}

}  // namespace platform::user::controls
