// The built-ins of edit, list and combo controls (selection, texts, lines, items), the
// packing of words, points and rectangles, the device and runtime built-ins, and the
// registration of every control built-in.
#include <algorithm>
#include <cstring>

#include "compiler/driver/compile_and_run.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "gui/controls.h"
#include "gui/script_calls.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/runtime_globals.h"

namespace {

HWND pop_window() { return window_from_number(pop_integer()); }

// A zeroed buffer of count + 1 UTF-16 characters (crt::calloc), null when count is
// negative or memory runs out.
char16_t* text_buffer(LRESULT count) {
  if (count < 0) return nullptr;
  return static_cast<char16_t*>(crt::calloc(size_t(count) + 1, sizeof(char16_t)));
}

// The window's whole text (WM_GETTEXTLENGTH, then WM_GETTEXT); never null.
char16_t* window_text(HWND window) {
  LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  char16_t* text = text_buffer(length);
  if (!text) return text_buffer(0);
  SendMessageW(window, WM_GETTEXT, WPARAM(length + 1), reinterpret_cast<LPARAM>(text));
  return text;
}

// Pushes a UTF-16 text the built-in made: as 8-bit text, or as it is for the wide forms.
void push_text(char16_t* text, bool wide) {
  if (wide) {
    push_owned_wide_text(text);
    return;
  }
  push_owned_text(to_narrow(text));
  crt::free(text);
}

struct Selection {
  DWORD start = 0;
  DWORD end = 0;
};

Selection selection_of(HWND window) {
  Selection selection;
  SendMessageW(window, EM_GETSEL, reinterpret_cast<WPARAM>(&selection.start), reinterpret_cast<LPARAM>(&selection.end));
  return selection;
}

void get_selected_text(bool wide) {
  HWND window = pop_window();
  Selection selection = selection_of(window);
  char16_t* text = window_text(window);
  size_t length = std::char_traits<char16_t>::length(text);
  size_t end = std::min<size_t>(selection.end, length);
  size_t start = std::min<size_t>(selection.start, end);
  std::memmove(text, text + start, (end - start) * sizeof(char16_t));
  text[end - start] = 0;
  push_text(text, wide);
}

void set_selected_text() {
  const WCHAR* text = cell_wide_text(stack_pop(current_program));
  SendMessageW(pop_window(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

void set_window_text() {
  const WCHAR* text = cell_wide_text(stack_pop(current_program));
  SendMessageW(pop_window(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// One line of an edit: its first character's index, the length of the line holding it,
// then the line copied into a buffer whose first word gives its size.
void get_text_line() {
  int32_t line = pop_integer();
  HWND window = pop_window();
  LRESULT index = SendMessageW(window, EM_LINEINDEX, WPARAM(line), 0);
  LRESULT length = index < 0 ? 0 : SendMessageW(window, EM_LINELENGTH, WPARAM(index), 0);
  char16_t* text = text_buffer(std::max<LRESULT>(length, 0) + 1);
  if (!text) {
    push_owned_text(nullptr);
    return;
  }
  if (index >= 0 && length > 0) {
    auto room = static_cast<WORD>(std::min<LRESULT>(length + 1, 0xFFFF));
    std::memcpy(text, &room, sizeof room);
    LRESULT copied = SendMessageW(window, EM_GETLINE, WPARAM(line), reinterpret_cast<LPARAM>(text));
    text[std::clamp<LRESULT>(copied, 0, length)] = 0;
  }
  push_text(text, false);
}

// The messages of the two classes the item built-ins serve.
struct ItemClass {
  UINT get_selection, set_selection, text_length, text, remove, insert;
};
constexpr ItemClass kListBox{LB_GETCURSEL, LB_SETCURSEL, LB_GETTEXTLEN, LB_GETTEXT, LB_DELETESTRING, LB_INSERTSTRING};
constexpr ItemClass kComboBox{CB_GETCURSEL, CB_SETCURSEL, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_DELETESTRING, CB_INSERTSTRING};

// The window's class chooses the messages; null for any class but LISTBOX and COMBOBOX.
const ItemClass* item_class_of(HWND window) {
  char16_t name[256] = {};
  GetClassNameW(window, name, 256);
  crt::_wcsupr(name);
  std::u16string_view upper(name);
  if (upper == u"LISTBOX") return &kListBox;
  if (upper == u"COMBOBOX") return &kComboBox;
  return nullptr;
}

void get_item(bool wide) {
  int32_t index = pop_integer();
  HWND window = pop_window();
  const ItemClass* kind = item_class_of(window);
  LRESULT length = kind ? SendMessageW(window, kind->text_length, WPARAM(index), 0) : -1;
  char16_t* text = text_buffer(length);
  if (text) SendMessageW(window, kind->text, WPARAM(index), reinterpret_cast<LPARAM>(text));
  push_text(text ? text : text_buffer(0), wide);
}

void set_item(bool wide) {
  ValueCell* value = stack_pop(current_program);
  WCHAR* text = wide ? cell_wide_copy(value) : cell_wide_text(value);
  int32_t index = pop_integer();
  HWND window = pop_window();
  if (const ItemClass* kind = item_class_of(window)) {
    SendMessageW(window, kind->remove, WPARAM(index), 0);
    SendMessageW(window, kind->insert, WPARAM(index), reinterpret_cast<LPARAM>(text));
  }
  if (wide) crt::free(text);
}

// Reads (or writes) a script's memory block, or reports the built-in's bad address.
bool usable_block(const char* builtin, uint32_t address, size_t size, bool write) {
  void* block = platform::pointer_from<void>(address);
  bool bad = write ? IsBadWritePtr(block, size) : IsBadReadPtr(block, size);
  if (bad) runtime_error("%s: the address %u holds no %u-byte block", builtin, address, unsigned(size));
  return !bad;
}

void push_integer(int64_t value) { stack_push_number(current_program, static_cast<double>(static_cast<int32_t>(value))); }

HCURSOR saved_cursor = nullptr;

}  // namespace

void builtin_getselstart() { stack_push_number(current_program, selection_of(pop_window()).start); }

void builtin_getsellength() {
  Selection selection = selection_of(pop_window());
  push_integer(int64_t(selection.end) - int64_t(selection.start));
}

void builtin_setselstart() {
  int32_t position = pop_integer();
  SendMessageW(pop_window(), EM_SETSEL, WPARAM(position), LPARAM(position));
}

// The length is taken modulo 65536, as the device does.
void builtin_setsellength() {
  int32_t length = pop_integer();
  HWND window = pop_window();
  Selection selection = selection_of(window);
  SendMessageW(window, EM_SETSEL, selection.start, LPARAM(selection.start + DWORD(length & 0xFFFF)));
}

void builtin_getseltext() { get_selected_text(false); }
void builtin_wgetseltext() { get_selected_text(true); }
void builtin_setseltext() { set_selected_text(); }
void builtin_wsetseltext() { set_selected_text(); }
void builtin_gettext() { push_text(window_text(pop_window()), false); }
void builtin_wgettext() { push_text(window_text(pop_window()), true); }
void builtin_settext() { set_window_text(); }
void builtin_wsettext() { set_window_text(); }
void builtin_gettextline() { get_text_line(); }
// Its result is 8-bit text, as on the device.
void builtin_wgettextline() { get_text_line(); }

// Any other class has no selection: -1.
void builtin_getitemindex() {
  HWND window = pop_window();
  const ItemClass* kind = item_class_of(window);
  push_integer(kind ? SendMessageW(window, kind->get_selection, 0, 0) : -1);
}

void builtin_setitemindex() {
  int32_t index = pop_integer();
  HWND window = pop_window();
  if (const ItemClass* kind = item_class_of(window)) SendMessageW(window, kind->set_selection, WPARAM(index), 0);
}

void builtin_getitem() { get_item(false); }
void builtin_wgetitem() { get_item(true); }
void builtin_setitem() { set_item(false); }
void builtin_wsetitem() { set_item(true); }

void builtin_makelong() {
  int32_t high = pop_integer();
  int32_t low = pop_integer();
  push_integer(int64_t((uint32_t(high) << 16) | (uint32_t(low) & 0xFFFF)));
}

void builtin_makeword() {
  int32_t high = pop_integer();
  int32_t low = pop_integer();
  push_integer((low & 0xFF) | ((high & 0xFF) << 8));
}

void builtin_makelcid() {
  int32_t sort = pop_integer();
  int32_t language = pop_integer();
  push_integer(int64_t((uint32_t(sort) << 16) | (uint32_t(language) & 0xFFFF)));
}

void builtin_makelangid() {
  int32_t sub = pop_integer();
  int32_t primary = pop_integer();
  push_integer(((uint32_t(sub) << 10) | uint32_t(primary)) & 0xFFFF);
}

void builtin_RGB() {
  int32_t blue = pop_integer();
  int32_t green = pop_integer();
  int32_t red = pop_integer();
  push_integer((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

void builtin_ptinrect() {
  uint32_t point_address = pop_address();
  uint32_t rect_address = pop_address();
  if (!usable_block("ptinrect", rect_address, sizeof(RECT), false) ||
      !usable_block("ptinrect", point_address, sizeof(POINT), false)) {
    push_integer(0);
    return;
  }
  RECT rect;
  POINT point;
  std::memcpy(&rect, platform::pointer_from<void>(rect_address), sizeof rect);
  std::memcpy(&point, platform::pointer_from<void>(point_address), sizeof point);
  push_integer(PtInRect(&rect, point));
}

// The bottom comes out one more than the client height, as on the device.
void builtin_getclientrect() {
  uint32_t address = pop_address();
  HWND window = pop_window();
  if (!usable_block("getclientrect", address, sizeof(RECT), true)) {
    push_integer(0);
    return;
  }
  RECT rect{};
  BOOL result = GetClientRect(window, &rect);
  if (result) {
    rect.bottom += 1;
    std::memcpy(platform::pointer_from<void>(address), &rect, sizeof rect);
  }
  push_integer(result);
}

void builtin_reset() {
  if (pop_integer() != 0) SetCleanRebootFlag();
  KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
}

void builtin_waitcursor() {
  if (pop_integer() != 0) saved_cursor = SetCursor(static_cast<HCURSOR>(wait_cursor));
  else SetCursor(saved_cursor);
}

void builtin_showstatuswindow() { run_switches.status_window = pop_integer() != 0 ? 1 : 0; }

void builtin__debuglog() {
  if (pop_integer() == 0) {
    log_enabled = 0;
    return;
  }
  debug_log_open(nullptr);
  log_enabled = 1;
}

void register_control_builtins() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static constexpr Row kRows[] = {
      {"newcontrol", builtin_newcontrol},
      {"getselstart", builtin_getselstart},
      {"setselstart", builtin_setselstart},
      {"getsellength", builtin_getsellength},
      {"setsellength", builtin_setsellength},
      {"getseltext", builtin_getseltext},
      {"setseltext", builtin_setseltext},
      {"gettext", builtin_gettext},
      {"settext", builtin_settext},
      {"gettextline", builtin_gettextline},
      {"wgetseltext", builtin_wgetseltext},
      {"wsetseltext", builtin_wsetseltext},
      {"wgettext", builtin_wgettext},
      {"wsettext", builtin_wsettext},
      {"wgettextline", builtin_wgettextline},
      {"getitemindex", builtin_getitemindex},
      {"setitemindex", builtin_setitemindex},
      {"getitem", builtin_getitem},
      {"setitem", builtin_setitem},
      {"wgetitem", builtin_wgetitem},
      {"wsetitem", builtin_wsetitem},
      {"makelong", builtin_makelong},
      {"makeword", builtin_makeword},
      {"makelcid", builtin_makelcid},
      {"makelangid", builtin_makelangid},
      {"RGB", builtin_RGB},
      {"ptinrect", builtin_ptinrect},
      {"getclientrect", builtin_getclientrect},
      {"newfont", builtin_newfont},
      {"setfont", builtin_setfont},
      {"getfont", builtin_getfont},
      {"setuserdata", builtin_setuserdata},
      {"getuserdata", builtin_getuserdata},
      {"setwndproc", builtin_setwndproc},
      {"inherited", builtin_inherited},
      {"reset", builtin_reset},
      {"waitcursor", builtin_waitcursor},
      {"showstatuswindow", builtin_showstatuswindow},
      {"_debuglog", builtin__debuglog},
  };
  for (const Row& row : kRows) builtin_register(row.name, row.handler);
}
