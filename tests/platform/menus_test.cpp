// Menus: items, separators that keep their ids, insertion by command, states and item
// descriptions, bad handles; an open menu chosen from by stylus and keys (the chosen
// command returned or posted); the menu bar's strings, images and buttons; accelerator
// entries that name a key combination.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/kernel/clock.h"
#include "platform/shell/shell.h"
#include "platform/user/menus.h"
#include "platform/user/user.h"
#include "message_drain.h"

namespace {

struct Seen {
  UINT message;
  WPARAM wparam;
};
std::vector<Seen> seen;
// What a WM_INITMENUPOPUP handler gets from a second TrackPopupMenuEx (-1: not tried).
int nested_result = -1;

LRESULT owner_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND || message == WM_INITMENUPOPUP || message >= WM_USER) seen.push_back({message, wparam});
  if (message == WM_INITMENUPOPUP && nested_result == -2) {
    nested_result = TrackPopupMenuEx(reinterpret_cast<HMENU>(wparam), TPM_RETURNCMD, 0, 0, window, nullptr);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

[[noreturn]] void run_would_end(const char* why, int) {
  std::fprintf(stderr, "a menu waited for input that cannot come: %s\n", why);
  std::abort();
}

std::u16string caption_of(HMENU menu, UINT item, BOOL by_position = FALSE) {
  char16_t buffer[64] = {};
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = buffer;
  info.cch = 64;
  if (!GetMenuItemInfoW(menu, item, by_position, &info)) return u"<none>";
  return buffer;
}

UINT id_at(HMENU menu, UINT position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_ID;
  return GetMenuItemInfoW(menu, position, TRUE, &info) ? info.wID : 0xFFFFFFFF;
}

class Menus : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::clock_select_virtual(true);
    platform::set_run_end_handler(run_would_end);
    seen.clear();
    nested_result = -1;
    WNDCLASSW record{};
    record.lpfnWndProc = owner_procedure;
    record.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    record.lpszClassName = u"MenuOwner";
    RegisterClassW(&record);
    owner = CreateWindowExW(0, u"MenuOwner", u"owner", WS_POPUP | WS_VISIBLE, 0, 0, 240, 294, nullptr, nullptr,
                            nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    platform::destroy_all_windows();
    platform::set_run_end_handler(nullptr);
  }

  // Open(11), a separator(12), Save(13), Gone(14, grayed), More → {Sub one(21), Sub two(22)}.
  void make_file_menu() {
    menu = CreatePopupMenu();
    submenu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 11, u"Open");
    AppendMenuW(menu, MF_SEPARATOR, 12, nullptr);
    AppendMenuW(menu, MF_STRING, 13, u"Save");
    AppendMenuW(menu, MF_STRING | MF_GRAYED, 14, u"Gone");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), u"More");
    AppendMenuW(submenu, MF_STRING, 21, u"Sub one");
    AppendMenuW(submenu, MF_STRING, 22, u"Sub two");
  }

  // The middle of the menu's item at index when the menu opens at (kLeft, kTop): rows are
  // the system font's height + 8 pixels, separators 7, inside a one-pixel border.
  POINT item_point(int index) const {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    TEXTMETRICW text{};
    GetTextMetricsW(dc, &text);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const int heights[] = {int(text.tmHeight) + 8, 7, int(text.tmHeight) + 8, int(text.tmHeight) + 8,
                           int(text.tmHeight) + 8};
    int top = kTop + 1;
    for (int i = 0; i < index; ++i) top += heights[i];
    return {kLeft + 12, top + heights[index] / 2};
  }
  void tap(POINT screen) const {
    POINT client = screen;
    ScreenToClient(owner, &client);
    LPARAM at = MAKELPARAM(WORD(client.x), WORD(client.y));
    PostMessageW(owner, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(owner, WM_LBUTTONUP, 0, at);
  }
  void key(int virtual_key) const {
    PostMessageW(owner, WM_KEYDOWN, virtual_key, 1);
    PostMessageW(owner, WM_KEYUP, virtual_key, LPARAM(0xC0000001u));
  }
  static int drain() { return drain_messages(); }

  static constexpr int kLeft = 20;
  static constexpr int kTop = 40;
  HWND owner = nullptr;
  HMENU menu = nullptr;
  HMENU submenu = nullptr;
};

TEST_F(Menus, ItemsKeepTheirPlaceTextAndIds) {
  make_file_menu();
  // Insert by command goes before the item with that id, here the separator, which kept
  // its id; an id inside a sub-menu inserts there.
  EXPECT_TRUE(InsertMenuW(menu, 12, MF_BYCOMMAND | MF_STRING, 15, u"Print"));
  EXPECT_TRUE(InsertMenuW(menu, 22, MF_BYCOMMAND | MF_STRING, 23, u"Sub half"));
  EXPECT_TRUE(InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, 10, u"New"));
  EXPECT_TRUE(InsertMenuW(menu, 0xFFFFFFFF, MF_BYPOSITION | MF_STRING, 16, u"Quit"));
  EXPECT_FALSE(InsertMenuW(menu, 99, MF_BYCOMMAND | MF_STRING, 17, u"Nowhere"));
  EXPECT_TRUE(ModifyMenuW(menu, 13, MF_BYCOMMAND | MF_STRING, 18, u"Save as"));

  const UINT ids[] = {10, 11, 15, 12, 18, 14, reinterpret_cast<UINT>(submenu), 16};
  for (UINT position = 0; position < std::size(ids); ++position) {
    EXPECT_EQ(id_at(menu, position), ids[position]) << "position " << position;
  }
  EXPECT_EQ(id_at(menu, std::size(ids)), 0xFFFFFFFF);
  EXPECT_EQ(id_at(submenu, 1), 23u);

  struct Case {
    UINT id;
    std::u16string caption;
  } cases[] = {{10, u"New"}, {15, u"Print"}, {12, u""}, {18, u"Save as"}, {13, u"<none>"}, {23, u"Sub half"},
               {99, u"<none>"}};
  for (const Case& c : cases) EXPECT_EQ(caption_of(menu, c.id), c.caption) << "id " << c.id;
  EXPECT_EQ(caption_of(menu, 6, TRUE), u"More");

  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_TYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
  ASSERT_TRUE(GetMenuItemInfoW(menu, 12, FALSE, &info));
  EXPECT_EQ(info.fType, MFT_SEPARATOR);
  EXPECT_EQ(info.wID, 12u);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 6, TRUE, &info));
  EXPECT_EQ(info.hSubMenu, submenu);
  EXPECT_EQ(info.fType, MFT_STRING);
}

TEST_F(Menus, TextsAreCutToTheBufferAndTheLengthIsGiven) {
  make_file_menu();
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = buffer;
  info.cch = 3;
  ASSERT_TRUE(GetMenuItemInfoW(menu, 21, FALSE, &info));
  EXPECT_EQ(std::u16string(buffer), u"Su");
  EXPECT_EQ(info.cch, 2u);
  info.dwTypeData = nullptr;
  info.cch = 0;
  ASSERT_TRUE(GetMenuItemInfoW(menu, 21, FALSE, &info));
  EXPECT_EQ(info.cch, 7u);
  info.cbSize = 48;
  EXPECT_FALSE(GetMenuItemInfoW(menu, 21, FALSE, &info));
}

TEST_F(Menus, StatesGiveTheirFormerValue) {
  make_file_menu();
  EXPECT_EQ(EnableMenuItem(menu, 14, MF_ENABLED), MF_GRAYED);
  EXPECT_EQ(EnableMenuItem(menu, 14, MF_DISABLED), MF_ENABLED);
  EXPECT_EQ(EnableMenuItem(menu, 0, MF_BYPOSITION | MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(CheckMenuItem(menu, 13, MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(CheckMenuItem(menu, 13, MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(CheckMenuItem(menu, 21, MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(EnableMenuItem(menu, 99, MF_GRAYED), 0xFFFFFFFF);
  EXPECT_EQ(CheckMenuItem(menu, 9, MF_BYPOSITION | MF_CHECKED), 0xFFFFFFFF);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STATE;
  ASSERT_TRUE(GetMenuItemInfoW(menu, 21, FALSE, &info));
  EXPECT_EQ(info.fState, MFS_CHECKED);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 11, FALSE, &info));
  EXPECT_EQ(info.fState, MFS_GRAYED);
}

TEST_F(Menus, BadMenusAndLoopsAreRefused) {
  make_file_menu();
  HMENU stranger = reinterpret_cast<HMENU>(static_cast<uintptr_t>(0x1234));
  EXPECT_FALSE(AppendMenuW(stranger, MF_STRING, 1, u"x"));
  EXPECT_FALSE(InsertMenuW(stranger, 0, MF_BYPOSITION, 1, u"x"));
  EXPECT_FALSE(ModifyMenuW(stranger, 0, MF_BYPOSITION, 1, u"x"));
  EXPECT_FALSE(DestroyMenu(stranger));
  EXPECT_FALSE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(stranger), u"x"));
  // A menu inside its own sub-menu would never end.
  EXPECT_FALSE(AppendMenuW(submenu, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), u"loop"));
  EXPECT_FALSE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), u"self"));
  EXPECT_FALSE(InsertMenuW(menu, 21, MF_BYCOMMAND | MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), u"loop"));
  EXPECT_EQ(TrackPopupMenuEx(stranger, TPM_RETURNCMD, 0, 0, owner, nullptr), 0);
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, 0, 0, nullptr, nullptr), 0);
  // Destroying a menu destroys its sub-menus.
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(DestroyMenu(submenu));
  EXPECT_EQ(caption_of(submenu, 21), u"<none>");
}

TEST_F(Menus, AnOpenMenuReturnsWhatTheStylusOrTheKeysChoose) {
  enum Kind { Tap, Key };
  struct Step {
    Kind kind;
    int value;  // the item index for a tap (-1: outside the menu), the key otherwise
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    BOOL chosen;
  };
  const Case cases[] = {
      {"tap on an item", {{Tap, 2}}, 13},
      {"down skips the separator", {{Key, VK_DOWN}, {Key, VK_DOWN}, {Key, VK_RETURN}}, 13},
      {"up from nothing is the last item; enter opens it", {{Key, VK_UP}, {Key, VK_RETURN}, {Key, VK_RETURN}}, 21},
      {"a tap opens a sub-menu, keys choose in it", {{Tap, 4}, {Key, VK_DOWN}, {Key, VK_DOWN}, {Key, VK_RETURN}}, 22},
      {"left closes the sub-menu only",
       {{Key, VK_UP}, {Key, VK_RIGHT}, {Key, VK_LEFT}, {Key, VK_UP}, {Key, VK_UP}, {Key, VK_RETURN}},
       13},
      {"a grayed item is not chosen", {{Tap, 3}, {Key, VK_ESCAPE}}, 0},
      {"a separator is not chosen", {{Tap, 1}, {Key, VK_ESCAPE}}, 0},
      {"a tap elsewhere dismisses", {{Tap, -1}}, 0},
      {"escape dismisses", {{Key, VK_ESCAPE}}, 0},
  };
  for (const Case& c : cases) {
    make_file_menu();
    for (const Step& step : c.steps) {
      if (step.kind == Tap) tap(step.value < 0 ? POINT{200, 250} : item_point(step.value));
      else key(step.value);
    }
    EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, kLeft, kTop, owner, nullptr), c.chosen) << c.name;
    EXPECT_EQ(FindWindowW(kMenuWindowClassName, nullptr), nullptr) << c.name << ": its windows are gone";
    drain();
    DestroyMenu(menu);
  }
}

TEST_F(Menus, WithoutReturnTheChoiceIsPostedToTheOwner) {
  make_file_menu();
  tap(item_point(0));
  EXPECT_EQ(TrackPopupMenu(menu, TPM_LEFTALIGN, kLeft, kTop, 0, owner, nullptr), TRUE);
  drain();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].message, WM_INITMENUPOPUP);
  EXPECT_EQ(seen[0].wparam, reinterpret_cast<WPARAM>(menu));
  EXPECT_EQ(seen[1].message, WM_COMMAND);
  EXPECT_EQ(seen[1].wparam, MAKEWPARAM(11, 0));
  seen.clear();
  key(VK_ESCAPE);
  EXPECT_EQ(TrackPopupMenu(menu, TPM_NONOTIFY, kLeft, kTop, 0, owner, nullptr), FALSE);
  drain();
  EXPECT_TRUE(seen.empty());
}

TEST_F(Menus, APostedMessageDismissesTheMenuAndStaysQueued) {
  make_file_menu();
  PostMessageW(owner, WM_USER + 5, 7, 0);
  tap(item_point(0));
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY, kLeft, kTop, owner, nullptr), 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 5);
}

TEST_F(Menus, OnlyOneMenuIsOpenAtATime) {
  make_file_menu();
  nested_result = -2;
  key(VK_ESCAPE);
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, kLeft, kTop, owner, nullptr), 0);
  EXPECT_EQ(nested_result, 0);
}

class MenuBar : public Menus {
 protected:
  void SetUp() override {
    Menus::SetUp();
    SHMENUBARINFO record{};
    record.cbSize = sizeof record;
    record.hwndParent = owner;
    ASSERT_TRUE(SHCreateMenuBar(&record));
    bar = record.hwndMB;
  }
  HWND bar = nullptr;
};

TEST_F(MenuBar, StringsBitmapsAndButtonsAreCounted) {
  EXPECT_EQ(SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(u"File\0")), 0);
  EXPECT_EQ(SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(u"Edit\0View\0")), 1);
  EXPECT_EQ(SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(u"Help\0")), 3);
  EXPECT_EQ(SendMessageW(bar, TB_ADDSTRINGW, 0, 0), -1);

  HBITMAP strip = CreateBitmap(48, 16, 1, 16, nullptr);
  TBADDBITMAP standard{HINST_COMMCTRL, 0};
  TBADDBITMAP own{nullptr, reinterpret_cast<UINT_PTR>(strip)};
  TBADDBITMAP stranger{nullptr, 0x4321};
  EXPECT_EQ(SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&standard)), 0);
  EXPECT_EQ(SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&own)), 15);
  EXPECT_EQ(SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&own)), 15) << "the same strip once";
  EXPECT_EQ(SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&stranger)), -1);

  TBBUTTON buttons[] = {{I_IMAGENONE, 100, TBSTATE_ENABLED, 0x98, {0, 0}, 0, 0},
                        {16, 101, TBSTATE_ENABLED, 0x90, {0, 0}, 0, -1},
                        {-1, 102, TBSTATE_ENABLED, 0x91, {0, 0}, 0, -1}};
  EXPECT_TRUE(SendMessageW(bar, TB_ADDBUTTONSW, 3, reinterpret_cast<LPARAM>(buttons)));
  EXPECT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageW(bar, SHCMBM_GETMENU, 0, 0), 0);
  EXPECT_TRUE(CommandBar_AlignAdornments(bar));
  DestroyWindow(bar);
  DeleteObject(strip);
}

TEST_F(MenuBar, AnImageButtonShowsItsImageOfTheStrip) {
  // A strip of three 16x16 images: blue, red, blue.
  std::vector<uint16_t> bits(48 * 16, 0x001F);
  for (int row = 0; row < 16; ++row) {
    for (int column = 16; column < 32; ++column) bits[size_t(row * 48 + column)] = 0xF800;
  }
  HBITMAP strip = CreateBitmap(48, 16, 1, 16, bits.data());
  TBADDBITMAP own{nullptr, reinterpret_cast<UINT_PTR>(strip)};
  ASSERT_EQ(SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&own)), 0);
  TBBUTTON button{1, 300, TBSTATE_ENABLED, 0x90, {0, 0}, 0, -1};
  SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  drain();
  // The first button starts 4 pixels in and its image 6 further, centred in the bar.
  HDC dc = GetDC(bar);
  EXPECT_EQ(GetPixel(dc, 10 + 8, 13), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 10 + 17, 13), GetPixel(dc, 2, 13)) << "one image wide: the bar shows beside it";
  ReleaseDC(bar, dc);
  DestroyWindow(bar);
  DeleteObject(strip);
}

TEST_F(MenuBar, AButtonTapSendsItsCommandAndADropDownOpensItsMenu) {
  make_file_menu();
  const WCHAR strings[] = u"Tools\0File\0";
  SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(strings));
  TBBUTTON buttons[] = {{I_IMAGENONE, 200, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, {0, 0}, 0, 0},
                        {I_IMAGENONE, 201, TBSTATE_ENABLED, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE, {0, 0},
                         DWORD(reinterpret_cast<uintptr_t>(menu)), 1}};
  SendMessageW(bar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
  // The first button starts 4 pixels in; the second lies far enough right of it.
  auto press = [&](int x) {
    LPARAM at = MAKELPARAM(WORD(x), 10);
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(bar, WM_LBUTTONUP, 0, at);
  };
  press(8);
  drain();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].wparam, MAKEWPARAM(200, 0));
  seen.clear();
  // A release without a press on the button does nothing.
  SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(8, 10));
  drain();
  EXPECT_TRUE(seen.empty());
  key(VK_DOWN);
  key(VK_RETURN);
  press(70);
  drain();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].message, WM_INITMENUPOPUP);
  EXPECT_EQ(seen[1].message, WM_COMMAND);
  EXPECT_EQ(seen[1].wparam, MAKEWPARAM(11, 0));
}

TEST(Accelerators, ACharacterEntryWithControlOrAltIsAKeyCombination) {
  ACCEL entries[] = {{FCONTROL, 'S', 101}, {0, 'q', 102}, {FCONTROL | FSHIFT, 'P', 103}, {FALT, 'x', 104}};
  HACCEL table = CreateAcceleratorTableW(entries, 4);
  ASSERT_NE(table, nullptr);
  struct Case {
    bool control, shift, alt;
    WORD character;
    int command;  // 0: no match
  } cases[] = {
      {true, false, false, 's', 101},  {true, false, false, 'S', 101},  {true, false, false, 0x13, 101},
      {false, false, false, 's', 0},   {false, false, false, 'S', 0},   {true, true, false, 'S', 0},
      {true, false, false, 'q', 102},  {false, false, false, 'q', 102}, {false, false, false, 'Q', 0},
      {true, true, false, 'P', 103},   {true, false, false, 'p', 0},    {false, false, true, 'X', 104},
      {true, false, true, 'x', 0},     {true, false, false, 0x18, 0},
  };
  WNDCLASSW record{};
  record.lpfnWndProc = owner_procedure;
  record.lpszClassName = u"AcceleratorOwner";
  RegisterClassW(&record);
  HWND window = CreateWindowExW(0, u"AcceleratorOwner", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  for (const Case& c : cases) {
    keybd_event(VK_CONTROL, 0, c.control ? 0 : KEYEVENTF_KEYUP, 0);
    keybd_event(VK_SHIFT, 0, c.shift ? 0 : KEYEVENTF_KEYUP, 0);
    keybd_event(VK_MENU, 0, c.alt ? 0 : KEYEVENTF_KEYUP, 0);
    seen.clear();
    MSG msg{window, WM_CHAR, c.character, 1, 0, {}};
    int translated = TranslateAcceleratorW(window, table, &msg);
    std::string name = std::string(c.control ? "Ctrl+" : "") + (c.shift ? "Shift+" : "") + (c.alt ? "Alt+" : "") +
                       std::to_string(c.character);
    EXPECT_EQ(translated != 0, c.command != 0) << name;
    if (c.command) {
      ASSERT_EQ(seen.size(), 1u) << name;
      EXPECT_EQ(seen[0].wparam, MAKEWPARAM(WORD(c.command), 1)) << name;
    }
  }
  keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_MENU, 0, KEYEVENTF_KEYUP, 0);
  DestroyAcceleratorTable(table);
  platform::destroy_all_windows();
}

}  // namespace
