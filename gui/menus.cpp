// The menu built-ins: drop-down menus and buttons on a form's menu bar (through the bar's
// toolbar messages), items and sub-menus, captions, and createacceltable.
#include "gui/menus.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "gui/script_calls.h"
#include "gui/shell_calls.h"
#include "library/lists/list_cursor.h"
#include "platform/platform.h"
#include "platform/user/menus.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

constexpr BYTE kDropDownTextStyle = 136;
constexpr BYTE kImageButtonStyle = 128;
constexpr BYTE kImagelessButtonStyle = 129;
constexpr uint32_t kAppend = 0xFFFFFFFF;
constexpr UINT kCaptionCharacters = 1024;

HMENU menu_from_number(int32_t number) { return platform::pointer_from<HMENU__>(static_cast<uint32_t>(number)); }
int32_t menu_number(HMENU menu) { return static_cast<int32_t>(platform::address_of(menu)); }

// The menu bar of a window's form record; null without a record or a bar.
HWND menu_bar_of(HWND window) {
  FormRecord* form = find_form_record(window);
  return form ? static_cast<HWND>(form->menu_bar) : nullptr;
}

// Asks the bar to lay its buttons out again (commctrl ordinal 43).
void add_button(HWND bar, const TBBUTTON& button) {
  SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  CommandBar_AlignAdornments(bar);
}

void add_menu_text_button(HWND bar, BYTE style, int32_t id, HMENU menu, const char* text) {
  std::u16string buffer;
  char16_t* wide = to_wide(text);
  buffer = wide;
  crt::free(wide);
  buffer.push_back(0);  // the list of strings ends in two zeros
  LRESULT string_index = SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(buffer.c_str()));
  if (string_index == -1) runtime_error("Could not add menu string '%s'", text);
  TBBUTTON button{I_IMAGENONE, id, TBSTATE_ENABLED, BYTE(style | TBSTYLE_AUTOSIZE), {0, 0},
                  platform::address_of(menu), int(string_index)};
  add_button(bar, button);
}

void add_menu_image_button(HWND bar, BYTE style, int32_t id, uint32_t bitmap, int32_t image) {
  TBADDBITMAP record{bitmap ? nullptr : HINST_COMMCTRL, bitmap};
  if (SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&record)) == -1) {
    runtime_error("Could not add menu button");
  }
  TBBUTTON button{image, id, TBSTATE_ENABLED, BYTE(style | TBSTYLE_AUTOSIZE), {0, 0}, 0, -1};
  add_button(bar, button);
}

// Appends (before = -1) or inserts before the item with the command id before.
void place_item(HMENU menu, uint32_t before, UINT flags, UINT_PTR item, const char* text) {
  char16_t* wide = to_wide(text);
  if (before == kAppend) AppendMenuW(menu, flags, item, wide);
  else InsertMenuW(menu, before, flags | MF_BYCOMMAND, item, wide);
  crt::free(wide);
}

// ---- createacceltable ----

constexpr BYTE kAltFlag = 16;
constexpr BYTE kControlFlag = 8;
constexpr BYTE kShiftFlag = 4;

// The key spec of an element: its key (the last character, read before anything changes;
// an 8-bit character of 0x80 or more widens as a signed byte) and its flags. The text is
// turned to lower case in place, so the script's list changes too.
ACCEL key_spec_entry(ListElement* element) {
  ACCEL entry{};
  std::string lowered;
  // Blocks, structures, packed lists and objects are no text: their number stands.
  const bool text = element->data && !(element->flags & (kVariablePackedList | kVariableStructure | kVariableObject));
  if (text && (element->flags & kVariableWideText)) {
    auto* units = static_cast<char16_t*>(element->data);
    size_t length = 0;
    while (units[length]) ++length;
    if (length) entry.key = WORD(units[length - 1]);
    for (size_t i = 0; i < length; ++i) {
      if (units[i] >= u'A' && units[i] <= u'Z') units[i] = char16_t(units[i] + 32);
      lowered.push_back(units[i] < 0x80 ? char(units[i]) : '?');
    }
  } else if (text) {
    auto* bytes = static_cast<char*>(element->data);
    size_t length = std::char_traits<char>::length(bytes);
    if (length) entry.key = WORD(int16_t(int8_t(bytes[length - 1])));
    crt::_strlwr(bytes);
    lowered = bytes;
  } else {
    char* number = number_to_text(element->number);
    size_t length = std::char_traits<char>::length(number);
    if (length) entry.key = WORD(uint8_t(number[length - 1]));
    crt::free(number);
  }
  if (lowered.find("alt") != std::string::npos) entry.fVirt |= kAltFlag;
  if (lowered.find("ctrl") != std::string::npos) entry.fVirt |= kControlFlag;
  if (lowered.find("shift") != std::string::npos) entry.fVirt |= kShiftFlag;
  return entry;
}

}  // namespace

void builtin_newmenu() {
  int32_t id = pop_integer();
  const char* caption = pop_narrow_text();
  HWND bar = menu_bar_of(window_from_number(pop_integer()));
  if (!bar) {
    stack_push_number(current_program, 0);
    return;
  }
  HMENU menu = CreatePopupMenu();
  SendMessageW(bar, SHCMBM_GETMENU, 0, 0);
  add_menu_text_button(bar, kDropDownTextStyle, id, menu, caption);
  stack_push_number(current_program, menu_number(menu));
}

void builtin_newbutton() {
  int32_t id = pop_integer();
  int32_t image = pop_integer();
  uint32_t bitmap = pop_address();
  HWND bar = menu_bar_of(window_from_number(pop_integer()));
  if (!bar) return;
  if (image != -1) add_menu_image_button(bar, kImageButtonStyle, id, bitmap, image);
  else add_menu_image_button(bar, kImagelessButtonStyle, id, bitmap, -1);
}

void builtin_newsubmenu() {
  stack_pop(current_program);  // not used
  const char* text = pop_narrow_text();
  uint32_t before = static_cast<uint32_t>(pop_integer());
  HMENU menu = menu_from_number(pop_integer());
  HMENU submenu = CreatePopupMenu();
  place_item(menu, before, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), text);
  stack_push_number(current_program, menu_number(submenu));
}

void builtin_newmenuitem() {
  int32_t id = pop_integer();
  const char* text = pop_narrow_text();
  uint32_t before = static_cast<uint32_t>(pop_integer());
  int32_t menu_value = pop_integer();
  UINT flags = std::strcmp(text, "-") == 0 ? MF_SEPARATOR : MF_STRING;
  place_item(menu_from_number(menu_value), before, flags, UINT_PTR(uint32_t(id)), text);
  stack_push_number(current_program, menu_value);
}

void builtin_mainmenu() {
  HWND bar = menu_bar_of(window_from_number(pop_integer()));
  stack_push_number(current_program, window_number(bar));
}

void builtin_newmainmenu() {
  HWND window = window_from_number(pop_integer());
  FormRecord* form = find_form_record(window);
  if (!form) return;
  HWND bar = create_menu_bar(window);
  if (!bar) return;
  show_menu_bar(bar, true);
  // The record may have gone while the bar was made (its window destroyed meanwhile).
  if ((form = find_form_record(window))) form->menu_bar = bar;
}

void builtin_menucaption() {
  UINT id = static_cast<UINT>(pop_integer());
  HMENU menu = menu_from_number(pop_integer());
  std::vector<char16_t> buffer(kCaptionCharacters, 0);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = buffer.data();
  info.cch = kCaptionCharacters;
  // An item that does not exist has no caption: the text stays empty.
  if (!GetMenuItemInfoW(menu, id, FALSE, &info)) buffer[0] = 0;
  push_owned_text(to_narrow(buffer.data()));
}

void builtin_createacceltable() {
  Variable* list = cell_variable(stack_pop(current_program));
  HWND window = window_from_number(pop_integer());
  // The key specs are lowered in the script's list whatever the window is.
  std::vector<ACCEL> entries;
  if (list && (list->flags & kVariableList) && list->cursor) {
    ACCEL entry{};
    bool have_key = false;
    for (ListElement* element = list_element_first(list->cursor); element; element = element->next) {
      if (!have_key) {
        entry = key_spec_entry(element);
        have_key = true;
        continue;
      }
      entry.cmd = WORD(static_cast<uint32_t>(truncate_to_int(list_element_number(element))));
      entries.push_back(entry);
      have_key = false;
    }
  }
  // A window without a record keeps no table. A table stored before stays: the window's
  // messages may still be translated with it.
  FormRecord* form = find_form_record(window);
  if (!form) return;
  form->accelerators = CreateAcceleratorTableW(entries.data(), int(entries.size()));
}

void register_menu_builtins() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static constexpr Row kRows[] = {
      {"newmenu", builtin_newmenu},         {"newbutton", builtin_newbutton},
      {"newsubmenu", builtin_newsubmenu},   {"newmenuitem", builtin_newmenuitem},
      {"mainmenu", builtin_mainmenu},       {"newmainmenu", builtin_newmainmenu},
      {"menucaption", builtin_menucaption}, {"createacceltable", builtin_createacceltable},
  };
  for (const Row& row : kRows) builtin_register(row.name, row.handler);
}
