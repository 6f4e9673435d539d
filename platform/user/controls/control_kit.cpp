// The control classes' shared pieces: state records, colours asked of the parent,
// notifications, painting and measuring with the control's font, and the item list.
#include "platform/user/controls/control_kit.h"

#include <algorithm>

#include "platform/kernel/wide_string.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace platform::user::controls {

void set_state(HWND window, void* state) {
  SetWindowLongW(window, 0, LONG(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(state))));
}

std::u16string text_of(HWND window) {
  std::u16string text(size_t(std::max(0, GetWindowTextLengthW(window))) + 1, u'\0');
  text.resize(size_t(GetWindowTextW(window, text.data(), int(text.size()))));
  return text;
}

LRESULT answer_common_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

void register_system_class(const char16_t* name, WNDPROC procedure) {
  WNDCLASSW record{};
  record.style = CS_PARENTDC;
  record.lpfnWndProc = procedure;
  record.cbWndExtra = 4;
  record.lpszClassName = name;
  RegisterClassW(&record);
}

void notify_parent(HWND control, WORD code) {
  HWND parent = GetParent(control);
  if (!parent) return;
  SendMessageW(parent, WM_COMMAND, MAKEWPARAM(WORD(GetDlgCtrlID(control)), code), reinterpret_cast<LPARAM>(control));
}

HGDIOBJ select_control_font(HWND window, HDC dc) {
  auto font = reinterpret_cast<HGDIOBJ>(DefWindowProcW(window, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
  if (!previous) previous = SelectObject(dc, GetStockObject(SYSTEM_FONT));
  return previous;
}

ControlPaint::ControlPaint(HWND window, UINT colour_message) : window_(window) {
  dc = BeginPaint(window, &paint_);
  GetClientRect(window, &client);
  if (!dc) return;
  previous_font_ = select_control_font(window, dc);
  HWND parent = GetParent(window);
  LRESULT answer = parent ? SendMessageW(parent, colour_message, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(window))
                          : 0;
  // A parent that answers nothing leaves the system's colours.
  if (!answer) answer = DefWindowProcW(window, colour_message, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(window));
  brush = reinterpret_cast<HBRUSH>(answer);
  text_colour = IsWindowEnabled(window) ? GetTextColor(dc) : GetSysColor(COLOR_GRAYTEXT);
  if (!FillRect(dc, &client, brush)) FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, text_colour);
}

ControlPaint::~ControlPaint() {
  if (dc && previous_font_) SelectObject(dc, previous_font_);
  if (dc) EndPaint(window_, &paint_);
}

MeasuringContext::MeasuringContext(HWND window) : window_(window) {
  dc = GetDC(window);
  if (dc) previous_font_ = select_control_font(window, dc);
}

MeasuringContext::~MeasuringContext() {
  if (!dc) return;
  if (previous_font_) SelectObject(dc, previous_font_);
  ReleaseDC(window_, dc);
}

int line_height(HDC dc) {
  TEXTMETRICW metrics{};
  if (!GetTextMetricsW(dc, &metrics) || metrics.tmHeight <= 0) return 14;
  return int(metrics.tmHeight + metrics.tmExternalLeading);
}

int text_width(HDC dc, const char16_t* text, int count) {
  if (count <= 0) return 0;
  SIZE size{};
  GetTextExtentPoint32W(dc, text, count, &size);
  return int(size.cx);
}

namespace {

size_t sorted_place(const ItemList& list, const char16_t* text) {
  size_t at = 0;
  while (at < list.items.size() && crt::_wcsicmp(list.items[at].c_str(), text) <= 0) ++at;
  return at;
}

bool valid(const ItemList& list, WPARAM index) { return int(index) >= 0 && size_t(int(index)) < list.items.size(); }

}  // namespace

bool answer_item_message(ItemList& list, const ItemMessages& kind, bool sorted, UINT message, WPARAM wparam,
                         LPARAM lparam, LRESULT* result, bool* changed) {
  *changed = false;
  int index = int(wparam);
  if (message == kind.add || message == kind.insert) {
    std::u16string text = message_text(lparam);
    size_t at;
    if (message == kind.add) at = sorted ? sorted_place(list, text.c_str()) : list.items.size();
    else if (index == -1) at = list.items.size();
    else if (index >= 0 && size_t(index) <= list.items.size()) at = size_t(index);
    else return *result = kind.error, true;
    list.items.insert(list.items.begin() + ptrdiff_t(at), std::move(text));
    if (list.selected >= int(at)) ++list.selected;
    *changed = true;
    *result = LRESULT(at);
  } else if (message == kind.remove) {
    if (!valid(list, wparam)) return *result = kind.error, true;
    list.items.erase(list.items.begin() + index);
    if (list.selected == index) list.selected = -1;
    else if (list.selected > index) --list.selected;
    list.top = std::min(list.top, std::max(0, int(list.items.size()) - 1));
    *changed = true;
    *result = LRESULT(list.items.size());
  } else if (message == kind.reset) {
    list = ItemList{};
    *changed = true;
    *result = 0;
  } else if (message == kind.set_selection) {
    int chosen = valid(list, wparam) ? index : -1;
    *changed = chosen != list.selected;
    list.selected = chosen;
    *result = chosen == -1 ? kind.error : chosen;
  } else if (message == kind.get_selection) {
    *result = list.selected == -1 ? kind.error : list.selected;
  } else if (message == kind.get_text_length) {
    *result = valid(list, wparam) ? LRESULT(list.items[size_t(index)].size()) : kind.error;
  } else if (message == kind.get_text) {
    if (!valid(list, wparam) || !lparam) return *result = kind.error, true;
    // The buffer's size is not given: it holds the whole text and its null.
    const std::u16string& text = list.items[size_t(index)];
    *result = put_message_text(lparam, int(text.size()) + 1, text);
  } else if (message == kind.count) {
    *result = LRESULT(list.items.size());
  } else {
    return false;
  }
  return true;
}

void draw_item_rows(HDC dc, const ItemList& list, int first, RECT area, int row_height, COLORREF text_colour) {
  int y = area.top;
  for (int index = std::max(first, 0); index < int(list.items.size()) && y < area.bottom; ++index, y += row_height) {
    RECT row{area.left, y, area.right, std::min(y + row_height, int(area.bottom))};
    bool chosen = index == list.selected;
    if (chosen) FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, chosen ? GetSysColor(COLOR_HIGHLIGHTTEXT) : text_colour);
    RECT place{row.left + 2, row.top, row.right - 2, row.bottom};
    const std::u16string& text = list.items[size_t(index)];
    DrawTextW(dc, text.c_str(), int(text.size()), &place, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  SetTextColor(dc, text_colour);
}

void scroll_to_selection(ItemList& list, int rows) {
  rows = std::max(rows, 1);
  if (list.selected >= 0) {
    if (list.selected < list.top) list.top = list.selected;
    if (list.selected >= list.top + rows) list.top = list.selected - rows + 1;
  }
  list.top = std::clamp(list.top, 0, std::max(0, int(list.items.size()) - rows));
}

}  // namespace platform::user::controls
