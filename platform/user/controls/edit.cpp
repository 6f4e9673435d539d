// The EDIT class: one line or many (ES_MULTILINE), a selection whose moving end is the
// caret, typing, deleting and moving by the keys and the stylus, and scrolling that keeps
// the caret in view (a multi-line edit scrolls by whole lines). Lines end at CR LF, LF or
// CR; a single-line edit holds whatever it is given as one line.
#include <algorithm>
#include <cstring>

#include "platform/user/controls/control_kit.h"
#include "platform/user/input.h"
#include "platform/user/window_state.h"

namespace platform::user::controls {
namespace {

constexpr int kMargin = 2;

struct Line {
  int start;
  int length;  // without its line break
};

struct EditState {
  std::u16string text;
  int anchor = 0;  // the fixed end of the selection
  int caret = 0;   // the moving end
  int first_line = 0;
  int scroll_x = 0;  // pixels the text is scrolled to the left
  bool selecting = false;
  bool multiline = false;
  std::vector<Line> lines;
  bool lines_ready = false;

  int text_length() const { return int(text.size()); }
  int selection_start() const { return std::min(anchor, caret); }
  int selection_end() const { return std::max(anchor, caret); }

  const std::vector<Line>& line_table() {
    if (lines_ready) return lines;
    lines.clear();
    int start = 0;
    int length = text_length();
    if (multiline) {
      for (int at = 0; at < length; ++at) {
        char16_t c = text[size_t(at)];
        if (c != u'\r' && c != u'\n') continue;
        lines.push_back({start, at - start});
        if (c == u'\r' && at + 1 < length && text[size_t(at) + 1] == u'\n') ++at;
        start = at + 1;
      }
    }
    lines.push_back({start, length - start});
    lines_ready = true;
    return lines;
  }

  int line_of(int index) {
    const auto& table = line_table();
    auto after = std::upper_bound(table.begin(), table.end(), index, [](int value, const Line& line) { return value < line.start; });
    return std::max(0, int(after - table.begin()) - 1);
  }

  void changed_text() {
    lines_ready = false;
    anchor = std::clamp(anchor, 0, text_length());
    caret = std::clamp(caret, 0, text_length());
  }
};

EditState* edit_of(HWND window) { return state_of<EditState>(window); }

// Width of the characters from the start of a line up to column.
int prefix_width(HDC dc, const EditState& state, const Line& line, int column) {
  return text_width(dc, state.text.c_str() + line.start, std::min(column, line.length));
}

// The column of a line nearest to x pixels from its start.
int column_at(HDC dc, const EditState& state, const Line& line, int x) {
  if (x <= 0 || line.length == 0) return 0;
  std::vector<int> ends(size_t(line.length));
  SIZE size{};
  GetTextExtentExPointW(dc, state.text.c_str() + line.start, line.length, 0, nullptr, ends.data(), &size);
  for (int i = 0; i < line.length; ++i) {
    int begin = i ? ends[size_t(i) - 1] : 0;
    if (x < (begin + ends[size_t(i)]) / 2) return i;
  }
  return line.length;
}

void scroll_to_caret(HWND window, EditState& state) {
  MeasuringContext measuring(window);
  if (!measuring.dc) return;
  RECT client{};
  GetClientRect(window, &client);
  int width = std::max(1, int(client.right) - 2 * kMargin);
  int line = state.line_of(state.caret);
  const Line& caret_line = state.line_table()[size_t(line)];
  int x = prefix_width(measuring.dc, state, caret_line, state.caret - caret_line.start);
  if (x < state.scroll_x) state.scroll_x = std::max(0, x - width / 4);
  if (x > state.scroll_x + width - 1) state.scroll_x = x - width + 1 + width / 4;
  if (state.multiline) {
    int rows = std::max(1, int(client.bottom) / line_height(measuring.dc));
    if (line < state.first_line) state.first_line = line;
    if (line >= state.first_line + rows) state.first_line = line - rows + 1;
  }
}

void refresh(HWND window, EditState& state) {
  scroll_to_caret(window, state);
  InvalidateRect(window, nullptr, FALSE);
}

void replace_selection(EditState& state, const char16_t* insertion, size_t count) {
  int start = state.selection_start();
  state.text.replace(size_t(start), size_t(state.selection_end() - start), insertion, count);
  state.anchor = state.caret = start + int(count);
  state.changed_text();
}

// A line break before (or after) index counts as one step.
int step_left(const EditState& state, int index) {
  if (index <= 0) return 0;
  if (index >= 2 && state.text[size_t(index) - 1] == u'\n' && state.text[size_t(index) - 2] == u'\r') return index - 2;
  return index - 1;
}

int step_right(const EditState& state, int index) {
  int length = state.text_length();
  if (index >= length) return length;
  if (index + 1 < length && state.text[size_t(index)] == u'\r' && state.text[size_t(index) + 1] == u'\n') return index + 2;
  return index + 1;
}

bool read_only(HWND window) { return has_style(window, ES_READONLY); }

// Keys that move the caret or delete; true when the text changed.
bool key_down(HWND window, EditState& state, WPARAM key) {
  bool shift = GetKeyState(VK_SHIFT) < 0;
  int caret = state.caret;
  const Line& line = state.line_table()[size_t(state.line_of(caret))];
  switch (key) {
    case VK_LEFT:
      caret = !shift && state.anchor != state.caret ? state.selection_start() : step_left(state, caret);
      break;
    case VK_RIGHT:
      caret = !shift && state.anchor != state.caret ? state.selection_end() : step_right(state, caret);
      break;
    case VK_HOME: caret = line.start; break;
    case VK_END: caret = line.start + line.length; break;
    case VK_UP:
    case VK_DOWN: {
      int row = state.line_of(caret) + (key == VK_UP ? -1 : 1);
      if (!state.multiline || row < 0 || row >= int(state.line_table().size())) return false;
      const Line& target = state.line_table()[size_t(row)];
      caret = target.start + std::min(caret - line.start, target.length);
      break;
    }
    case VK_DELETE:
      if (read_only(window)) return false;
      if (state.anchor == state.caret) {
        if (caret >= state.text_length()) return false;
        state.anchor = step_right(state, caret);
      }
      replace_selection(state, u"", 0);
      return true;
    default: return false;
  }
  state.caret = caret;
  if (!shift) state.anchor = caret;
  return false;
}

// Typed characters; true when the text changed.
bool typed(HWND window, EditState& state, char16_t character) {
  if (read_only(window)) return false;
  if (character == u'\b') {
    if (state.anchor == state.caret) {
      if (state.caret == 0) return false;
      state.anchor = step_left(state, state.caret);
    }
    replace_selection(state, u"", 0);
    return true;
  }
  if (character == u'\r') {
    if (!state.multiline) return false;
    replace_selection(state, u"\r\n", 2);
    return true;
  }
  if (character < 0x20) return false;
  replace_selection(state, &character, 1);
  return true;
}

int caret_at_point(HWND window, EditState& state, LPARAM lparam) {
  MeasuringContext measuring(window);
  if (!measuring.dc) return state.caret;
  int row = 0;
  if (state.multiline) {
    row = state.first_line + std::max(0, GET_Y_LPARAM(lparam)) / line_height(measuring.dc);
    row = std::min(row, int(state.line_table().size()) - 1);
  }
  const Line& line = state.line_table()[size_t(row)];
  return line.start + column_at(measuring.dc, state, line, GET_X_LPARAM(lparam) - kMargin + state.scroll_x);
}

// Draws one line at y, its selected part highlighted; only the characters in view.
void draw_line(HDC dc, EditState& state, const Line& line, int y, int height, int right, COLORREF text_colour) {
  if (line.length == 0) return;
  const char16_t* characters = state.text.c_str() + line.start;
  std::vector<int> ends(size_t(line.length));
  SIZE size{};
  GetTextExtentExPointW(dc, characters, line.length, 0, nullptr, ends.data(), &size);
  auto start_of = [&](int i) { return i ? ends[size_t(i) - 1] : 0; };
  int first = int(std::upper_bound(ends.begin(), ends.end(), state.scroll_x) - ends.begin());
  int last = first;
  while (last < line.length && start_of(last) < state.scroll_x + right) ++last;
  if (first >= last) return;
  int origin = kMargin - state.scroll_x;
  ExtTextOutW(dc, origin + start_of(first), y, 0, nullptr, characters + first, UINT(last - first), nullptr);
  int from = std::clamp(state.selection_start() - line.start, first, last);
  int to = std::clamp(state.selection_end() - line.start, first, last);
  if (from >= to) return;
  RECT band{origin + start_of(from), y, origin + start_of(to), y + height};
  FillRect(dc, &band, GetSysColorBrush(COLOR_HIGHLIGHT));
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  ExtTextOutW(dc, band.left, y, 0, nullptr, characters + from, UINT(to - from), nullptr);
  SetTextColor(dc, text_colour);
}

void paint_edit(HWND window) {
  bool plain = read_only(window) || !IsWindowEnabled(window);
  ControlPaint paint(window, plain ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
  EditState* state = edit_of(window);
  if (!paint.dc || !state) return;
  int height = line_height(paint.dc);
  int right = paint.client.right;
  const auto& table = state->line_table();
  int y = state->multiline ? 0 : std::max(0, (int(paint.client.bottom) - height) / 2);
  int caret_line = state->line_of(state->caret);
  for (int row = state->multiline ? state->first_line : 0; row < int(table.size()) && y < paint.client.bottom;
       ++row, y += height) {
    draw_line(paint.dc, *state, table[size_t(row)], y, height, right, paint.text_colour);
    if (row == caret_line && GetFocus() == window) {
      const Line& line = table[size_t(row)];
      int x = kMargin - state->scroll_x + prefix_width(paint.dc, *state, line, state->caret - line.start);
      RECT caret{x, y, x + 1, y + height};
      FillRect(paint.dc, &caret, GetSysColorBrush(COLOR_WINDOWTEXT));
    }
  }
}

LRESULT get_selection(const EditState& state, WPARAM wparam, LPARAM lparam) {
  auto start = DWORD(state.selection_start());
  auto end = DWORD(state.selection_end());
  if (auto* out = reinterpret_cast<DWORD*>(wparam)) *out = start;
  if (auto* out = reinterpret_cast<DWORD*>(lparam)) *out = end;
  return start > 0xFFFF || end > 0xFFFF ? -1 : LRESULT(MAKELONG(WORD(start), WORD(end)));
}

void set_selection(EditState& state, WPARAM wparam, LPARAM lparam) {
  int length = state.text_length();
  int start = int(wparam);
  int end = int(lparam);
  if (start == -1) {
    state.anchor = state.caret;
    return;
  }
  state.anchor = std::clamp(start, 0, length);
  state.caret = end < 0 ? length : std::min(end, length);
}

LRESULT line_length(EditState& state, WPARAM wparam) {
  const auto& table = state.line_table();
  if (int(wparam) == -1) {
    const Line& first = table[size_t(state.line_of(state.selection_start()))];
    const Line& last = table[size_t(state.line_of(state.selection_end()))];
    return (state.selection_start() - first.start) + std::max(0, last.start + last.length - state.selection_end());
  }
  int index = std::clamp(int(wparam), 0, state.text_length());
  return table[size_t(state.line_of(index))].length;
}

LRESULT get_line(EditState& state, WPARAM wparam, LPARAM lparam) {
  auto* buffer = reinterpret_cast<char16_t*>(lparam);
  if (!buffer) return 0;
  WORD room;
  std::memcpy(&room, buffer, sizeof room);
  const auto& table = state.line_table();
  int row = state.multiline ? int(wparam) : 0;
  if (row < 0 || row >= int(table.size())) return 0;
  const Line& line = table[size_t(row)];
  int count = std::min(int(room), line.length);
  std::copy_n(state.text.c_str() + line.start, count, buffer);
  return count;
}

}  // namespace

LRESULT edit_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  EditState* state = edit_of(window);
  if (message == WM_CREATE) {
    auto* made = new EditState;
    made->multiline = has_style(window, ES_MULTILINE);
    CREATESTRUCTW create = message_create_struct(lparam);
    if (create.lpszName) made->text = message_text(LPARAM(create.lpszName));
    set_state(window, made);
    return 0;
  }
  if (!state) return DefWindowProcW(window, message, wparam, lparam);
  bool changed = false;
  switch (message) {
    case WM_DESTROY: return end_state(window, state);
    case WM_PAINT: paint_edit(window); return 0;
    case WM_SETTEXT: {
      state->text = message_text(lparam);
      state->anchor = state->caret = 0;
      state->first_line = state->scroll_x = 0;
      state->changed_text();
      InvalidateRect(window, nullptr, FALSE);
      if (!state->multiline) notify_parent(window, EN_CHANGE);
      return TRUE;
    }
    case WM_GETTEXT: return put_message_text(lparam, int(wparam), state->text);
    case WM_GETTEXTLENGTH: return state->text_length();
    case EM_GETSEL: return get_selection(*state, wparam, lparam);
    case EM_SETSEL:
      set_selection(*state, wparam, lparam);
      refresh(window, *state);
      return 0;
    case EM_REPLACESEL: {
      std::u16string text = message_text(lparam);
      replace_selection(*state, text.c_str(), text.size());
      refresh(window, *state);
      notify_parent(window, EN_CHANGE);
      return 0;
    }
    case EM_GETLINECOUNT: return LRESULT(state->line_table().size());
    case EM_LINEINDEX: {
      int row = int(wparam) == -1 ? state->line_of(state->caret) : int(wparam);
      if (row < 0 || row >= int(state->line_table().size())) return -1;
      return state->line_table()[size_t(row)].start;
    }
    case EM_LINEFROMCHAR:
      return state->line_of(int(wparam) == -1 ? state->caret : std::clamp(int(wparam), 0, state->text_length()));
    case EM_LINELENGTH: return line_length(*state, wparam);
    case EM_GETLINE: return get_line(*state, wparam, lparam);
    case EM_LINESCROLL:
      if (!state->multiline) return FALSE;
      state->first_line = std::clamp(state->first_line + int(lparam), 0, int(state->line_table().size()) - 1);
      InvalidateRect(window, nullptr, FALSE);
      return TRUE;
    case EM_GETFIRSTVISIBLELINE: return state->first_line;
    case WM_KEYDOWN:
      changed = key_down(window, *state, wparam);
      refresh(window, *state);
      if (changed) notify_parent(window, EN_CHANGE);
      return 0;
    case WM_CHAR:
      changed = typed(window, *state, char16_t(wparam));
      refresh(window, *state);
      if (changed) notify_parent(window, EN_CHANGE);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(window);
      state = edit_of(window);  // the focus change may have run anything
      if (!state) return 0;
      state->caret = caret_at_point(window, *state, lparam);
      if (!(wparam & MK_SHIFT)) state->anchor = state->caret;
      state->selecting = true;
      SetCapture(window);
      refresh(window, *state);
      return 0;
    case WM_MOUSEMOVE:
      if (!state->selecting) return 0;
      state->caret = caret_at_point(window, *state, lparam);
      refresh(window, *state);
      return 0;
    case WM_LBUTTONUP:
      state->selecting = false;
      if (GetCapture() == window) ReleaseCapture();
      return 0;
    case WM_CAPTURECHANGED: state->selecting = false; return 0;
    default: return answer_common_message(window, message, wparam, lparam);
  }
}

}  // namespace platform::user::controls
