// The control classes through the window API: texts, selections, lines and items by
// their messages, taps and keys as the device delivers them, the notifications the parent
// hears, and the colours a control asks its parent for before it paints.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel/clock.h"
#include "platform/user/user.h"

namespace {

struct Notice {
  WORD id;
  WORD code;
};
std::vector<Notice> notices;
std::vector<UINT> colour_questions;
HBRUSH answer_brush = nullptr;  // the parent's colour answer; null: the default

LRESULT parent_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) notices.push_back({LOWORD(DWORD(wparam)), HIWORD(DWORD(wparam))});
  if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
    colour_questions.push_back(message);
    if (answer_brush) return reinterpret_cast<LRESULT>(answer_brush);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LPARAM at(int x, int y) { return MAKELPARAM(WORD(x), WORD(y)); }

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::clock_select_virtual(true);
    notices.clear();
    colour_questions.clear();
    answer_brush = nullptr;
    WNDCLASSW record{};
    record.lpfnWndProc = parent_procedure;
    record.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    record.lpszClassName = u"ControlsParent";
    RegisterClassW(&record);
    parent_ = CreateWindowExW(0, u"ControlsParent", u"parent", WS_VISIBLE, 0, 26, 240, 268, nullptr, nullptr, nullptr,
                              nullptr);
    ASSERT_NE(parent_, nullptr);
  }
  void TearDown() override { platform::destroy_all_windows(); }

  HWND make(const char16_t* class_name, DWORD style, const char16_t* text = u"", int height = 24, int id = 7) {
    return CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, 10, 10, 150, height, parent_,
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
  }
  static std::u16string text_of(HWND window) {
    std::u16string text(size_t(GetWindowTextLengthW(window)) + 1, u'\0');
    text.resize(size_t(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
  }
  static std::pair<DWORD, DWORD> selection_of(HWND edit) {
    DWORD start = 99, end = 99;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
  }
  static void tap(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, at(x, y));
  }
  static void type(HWND window, const std::u16string& text) {
    for (char16_t c : text) SendMessageW(window, WM_CHAR, c, 1);
  }
  size_t count_of(WORD code) const {
    size_t count = 0;
    for (const Notice& notice : notices) count += notice.code == code && notice.id == 7;
    return count;
  }
  HWND parent_ = nullptr;
};

TEST_F(Controls, OnlyTheSystemClassesAndRegisteredOnesCanBeMade) {
  for (const char16_t* name : {u"BUTTON", u"EDIT", u"LISTBOX", u"COMBOBOX", u"STATIC", u"button", u"Edit"}) {
    HWND control = make(name, 0);
    EXPECT_NE(control, nullptr) << std::string(name, name + std::char_traits<char16_t>::length(name));
    DestroyWindow(control);
  }
  EXPECT_EQ(make(u"SCROLLBARX", 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
}

TEST_F(Controls, EditSelectionsAreClampedAndOrdered) {
  HWND edit = make(u"EDIT", 0, u"hello world");
  struct Case {
    int start, end;
    DWORD want_start, want_end;
  } cases[] = {
      {0, 5, 0, 5},   {6, -1, 6, 11},   {7, 3, 3, 7},       {100, 200, 11, 11},
      {2, 2, 2, 2},   {0, -1, 0, 11},   {-1, 4, 11, 11},  // -1 drops the selection, keeping the caret
  };
  for (const Case& row : cases) {
    SendMessageW(edit, EM_SETSEL, WPARAM(row.start), LPARAM(row.end));
    auto [start, end] = selection_of(edit);
    EXPECT_EQ(start, row.want_start) << row.start << "," << row.end;
    EXPECT_EQ(end, row.want_end) << row.start << "," << row.end;
    EXPECT_EQ(SendMessageW(edit, EM_GETSEL, 0, 0), LRESULT(MAKELONG(WORD(start), WORD(end))));
  }
}

TEST_F(Controls, ReplacingTheSelectionNotifiesAndMovesTheCaret) {
  HWND edit = make(u"EDIT", 0, u"hello world");
  SendMessageW(edit, EM_SETSEL, 0, 5);
  SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(u"G\u00FCten \u03A9"));
  EXPECT_EQ(text_of(edit), u"G\u00FCten \u03A9 world");
  EXPECT_EQ(selection_of(edit), std::make_pair(DWORD(7), DWORD(7)));
  EXPECT_EQ(count_of(EN_CHANGE), 1u);
  SendMessageW(edit, EM_REPLACESEL, TRUE, 0);  // no text: nothing inserted, still a change
  EXPECT_EQ(text_of(edit), u"G\u00FCten \u03A9 world");
  char16_t small[4] = {};
  EXPECT_EQ(SendMessageW(edit, WM_GETTEXT, 4, reinterpret_cast<LPARAM>(small)), 3);
  EXPECT_EQ(std::u16string(small), u"G\u00FCt");
}

TEST_F(Controls, MultiLineEditsCountLinesAtEveryKindOfBreak) {
  HWND edit = make(u"EDIT", ES_MULTILINE, u"one\r\ntwo\nthree\rfour", 80);
  EXPECT_EQ(SendMessageW(edit, EM_GETLINECOUNT, 0, 0), 4);
  struct Case {
    int line;
    LRESULT index;
    LRESULT length;  // of the line holding that index
    std::u16string text;
  } cases[] = {{0, 0, 3, u"one"}, {1, 5, 3, u"two"}, {2, 9, 5, u"three"}, {3, 15, 4, u"four"}};
  for (const Case& row : cases) {
    EXPECT_EQ(SendMessageW(edit, EM_LINEINDEX, WPARAM(row.line), 0), row.index) << row.line;
    EXPECT_EQ(SendMessageW(edit, EM_LINELENGTH, WPARAM(row.index), 0), row.length) << row.line;
    EXPECT_EQ(SendMessageW(edit, EM_LINEFROMCHAR, WPARAM(row.index), 0), row.line);
    char16_t buffer[16] = {};
    buffer[0] = 16;
    LRESULT copied = SendMessageW(edit, EM_GETLINE, WPARAM(row.line), reinterpret_cast<LPARAM>(buffer));
    EXPECT_EQ(std::u16string(buffer, size_t(copied)), row.text);
  }
  EXPECT_EQ(SendMessageW(edit, EM_LINEINDEX, 4, 0), -1) << "no such line";
  char16_t buffer[8] = {2};
  EXPECT_EQ(SendMessageW(edit, EM_GETLINE, 2, reinterpret_cast<LPARAM>(buffer)), 2) << "the size word limits the copy";
  EXPECT_EQ(SendMessageW(edit, EM_GETLINE, 9, reinterpret_cast<LPARAM>(buffer)), 0);
  SendMessageW(edit, EM_SETSEL, 7, 11);  // "o\nth": the rest of lines 1 and 2 stays
  EXPECT_EQ(SendMessageW(edit, EM_LINELENGTH, WPARAM(-1), 0), 2 + 3);
  EXPECT_EQ(SendMessageW(edit, EM_LINEINDEX, WPARAM(-1), 0), 9) << "the caret's line";
}

TEST_F(Controls, KeysTypeDeleteAndMoveInAnEdit) {
  struct Case {
    const char* name;
    DWORD style;
    std::vector<std::pair<UINT, WPARAM>> input;
    std::u16string text;
  } cases[] = {
      {"typing", 0, {{WM_CHAR, 'a'}, {WM_CHAR, 'b'}, {WM_CHAR, 0x20AC}}, u"ab\u20AC"},
      {"backspace", 0, {{WM_CHAR, 'a'}, {WM_CHAR, 'b'}, {WM_CHAR, 8}, {WM_CHAR, 'c'}}, u"ac"},
      {"backspace at the start", 0, {{WM_CHAR, 8}}, u""},
      {"left and insert", 0, {{WM_CHAR, 'a'}, {WM_CHAR, 'c'}, {WM_KEYDOWN, VK_LEFT}, {WM_CHAR, 'b'}}, u"abc"},
      {"home and delete", 0, {{WM_CHAR, 'x'}, {WM_CHAR, 'y'}, {WM_KEYDOWN, VK_HOME}, {WM_KEYDOWN, VK_DELETE}}, u"y"},
      {"enter in one line", 0, {{WM_CHAR, 'a'}, {WM_CHAR, 13}, {WM_CHAR, 'b'}}, u"ab"},
      {"enter in many", ES_MULTILINE, {{WM_CHAR, 'a'}, {WM_CHAR, 13}, {WM_CHAR, 'b'}}, u"a\r\nb"},
      {"a break is one step", ES_MULTILINE, {{WM_CHAR, 'a'}, {WM_CHAR, 13}, {WM_CHAR, 8}}, u"a"},
      {"up keeps the column", ES_MULTILINE,
       {{WM_CHAR, 'a'}, {WM_CHAR, 'b'}, {WM_CHAR, 13}, {WM_CHAR, 'c'}, {WM_KEYDOWN, VK_UP}, {WM_CHAR, 'x'}}, u"axb\r\nc"},
      {"read-only", ES_READONLY, {{WM_CHAR, 'a'}, {WM_CHAR, 8}}, u""},
  };
  for (const Case& row : cases) {
    notices.clear();
    HWND edit = make(u"EDIT", row.style, u"", 60);
    SetFocus(edit);
    for (auto [message, value] : row.input) SendMessageW(edit, message, value, 1);
    EXPECT_EQ(text_of(edit), row.text) << row.name;
    if (row.style & ES_READONLY) EXPECT_EQ(count_of(EN_CHANGE), 0u) << row.name;
    DestroyWindow(edit);
  }
}

TEST_F(Controls, ATapPlacesTheCaretAndTakesTheFocus) {
  HWND edit = make(u"EDIT", 0, u"abcdef");
  tap(edit, 140, 5);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(selection_of(edit), std::make_pair(DWORD(6), DWORD(6))) << "right of the text: its end";
  tap(edit, 0, 5);
  EXPECT_EQ(selection_of(edit), std::make_pair(DWORD(0), DWORD(0)));
  SendMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, at(0, 5));
  SendMessageW(edit, WM_MOUSEMOVE, MK_LBUTTON, at(140, 5));
  SendMessageW(edit, WM_LBUTTONUP, 0, at(140, 5));
  EXPECT_EQ(selection_of(edit), std::make_pair(DWORD(0), DWORD(6))) << "a drag selects";
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(Controls, AMegabyteOfTextGoesIntoAnEditAndPaints) {
  HWND edit = make(u"EDIT", ES_MULTILINE, u"", 100);
  std::u16string huge(1 << 20, u'x');
  for (size_t i = 100; i < huge.size(); i += 101) huge[i] = u'\n';
  auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(SetWindowTextW(edit, huge.c_str()));
  EXPECT_EQ(GetWindowTextLengthW(edit), LRESULT(huge.size()));
  SendMessageW(edit, EM_SETSEL, WPARAM(-1), 0);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, EM_SETSEL, WPARAM(huge.size()), WPARAM(huge.size()));
  type(edit, u"yz");
  UpdateWindow(edit);
  EXPECT_EQ(GetWindowTextLengthW(edit), LRESULT(huge.size() + 2));
  EXPECT_EQ(SendMessageW(edit, EM_GETSEL, 0, 0), -1) << "positions past 65535 do not fit the packed result";
  EXPECT_GT(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 10000) << "scrolled to the caret";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(Controls, ListAndComboItemsAnswerBadIndexesWithTheirError) {
  struct Kind {
    const char16_t* name;
    UINT add, insert, remove, set, get, text, length, count;
  } kinds[] = {
      {u"LISTBOX", LB_ADDSTRING, LB_INSERTSTRING, LB_DELETESTRING, LB_SETCURSEL, LB_GETCURSEL, LB_GETTEXT, LB_GETTEXTLEN,
       LB_GETCOUNT},
      {u"COMBOBOX", CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_SETCURSEL, CB_GETCURSEL, CB_GETLBTEXT,
       CB_GETLBTEXTLEN, CB_GETCOUNT},
  };
  auto text = [](const char16_t* value) { return reinterpret_cast<LPARAM>(value); };
  for (const Kind& kind : kinds) {
    HWND list = make(kind.name, 0, u"", 100);
    EXPECT_EQ(SendMessageW(list, kind.add, 0, text(u"b")), 0);
    EXPECT_EQ(SendMessageW(list, kind.add, 0, text(u"c")), 1);
    EXPECT_EQ(SendMessageW(list, kind.insert, 0, text(u"a")), 0);
    EXPECT_EQ(SendMessageW(list, kind.insert, WPARAM(-1), text(u"d")), 3) << "-1 appends";
    EXPECT_EQ(SendMessageW(list, kind.insert, 9, text(u"z")), -1);
    EXPECT_EQ(SendMessageW(list, kind.get, 0, 0), -1) << "nothing selected";
    EXPECT_EQ(SendMessageW(list, kind.set, 2, 0), 2);
    EXPECT_EQ(SendMessageW(list, kind.remove, 0, 0), 3) << "the items left";
    EXPECT_EQ(SendMessageW(list, kind.get, 0, 0), 1) << "the selection moves with its item";
    for (int bad : {-1, 3, 1000000}) {
      EXPECT_EQ(SendMessageW(list, kind.length, WPARAM(bad), 0), -1) << bad;
      char16_t buffer[8] = {u'?'};
      EXPECT_EQ(SendMessageW(list, kind.text, WPARAM(bad), reinterpret_cast<LPARAM>(buffer)), -1) << bad;
      EXPECT_EQ(buffer[0], u'?');
      EXPECT_EQ(SendMessageW(list, kind.remove, WPARAM(bad), 0), -1) << bad;
    }
    EXPECT_EQ(SendMessageW(list, kind.set, 7, 0), -1);
    EXPECT_EQ(SendMessageW(list, kind.get, 0, 0), -1) << "a bad index clears the selection";
    char16_t buffer[8] = {};
    EXPECT_EQ(SendMessageW(list, kind.text, 2, reinterpret_cast<LPARAM>(buffer)), 1);
    EXPECT_EQ(std::u16string(buffer), u"d");
    EXPECT_EQ(SendMessageW(list, kind.count, 0, 0), 3);
    EXPECT_TRUE(notices.empty()) << "messages are not the user's choices";
  }
  HWND sorted = make(u"LISTBOX", LBS_SORT, u"", 100, 8);
  for (const char16_t* item : {u"pear", u"Apple", u"fig"}) SendMessageW(sorted, LB_ADDSTRING, 0, text(item));
  char16_t first[8] = {};
  SendMessageW(sorted, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first));
  EXPECT_EQ(std::u16string(first), u"Apple");
}

// A script's raw message may hand a text, or a buffer for one, at an odd address: the
// text still arrives whole and comes back whole, in every class that takes one.
TEST_F(Controls, TextsAtOddAddressesComeAndGoWhole) {
  struct Case {
    const char* label;
    const char16_t* class_name;  // null: the parent, a window of the default procedure
    UINT set;
    UINT get;
    WPARAM get_wparam;  // the buffer's room, or the item's index
  } cases[] = {
      {"window text", nullptr, WM_SETTEXT, WM_GETTEXT, 16},
      {"edit text", u"EDIT", WM_SETTEXT, WM_GETTEXT, 16},
      {"edit replacement", u"EDIT", EM_REPLACESEL, WM_GETTEXT, 16},
      {"list item", u"LISTBOX", LB_ADDSTRING, LB_GETTEXT, 0},
      {"combo item", u"COMBOBOX", CB_ADDSTRING, CB_GETLBTEXT, 0},
  };
  const std::u16string text = u"odd \u00e9 place";
  for (const Case& each : cases) {
    HWND window = each.class_name ? make(each.class_name, 0, u"", 100) : parent_;
    alignas(4) unsigned char given[40] = {};
    alignas(4) unsigned char taken[40];
    std::memset(taken, 0x55, sizeof taken);
    std::memcpy(given + 1, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    SendMessageW(window, each.set, 0, reinterpret_cast<LPARAM>(given + 1));
    LRESULT copied = SendMessageW(window, each.get, each.get_wparam, reinterpret_cast<LPARAM>(taken + 1));
    ASSERT_EQ(copied, LRESULT(text.size())) << each.label;
    std::u16string back(text.size() + 1, u'?');
    std::memcpy(back.data(), taken + 1, back.size() * sizeof(char16_t));
    EXPECT_EQ(back, text + u'\0') << each.label;
    EXPECT_EQ(taken[0], 0x55) << each.label << ": nothing is written before the buffer";
  }
}

TEST_F(Controls, AListBoxTellsItsParentOfATapOnlyWhenAsked) {
  for (DWORD style : {DWORD(LBS_NOTIFY), DWORD(0)}) {
    notices.clear();
    HWND list = make(u"LISTBOX", style, u"", 100);
    for (const char16_t* item : {u"zero", u"one", u"two"}) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    HDC dc = GetDC(list);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));  // a control given no font uses the system's
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    ReleaseDC(list, dc);
    tap(list, 20, int(metrics.tmHeight) * 2 + 2);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
    SendMessageW(list, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
    tap(list, 20, 1000);  // below the last item: the last stays chosen
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(count_of(LBN_SELCHANGE), style ? 3u : 0u);
    DestroyWindow(list);
  }
}

TEST_F(Controls, AComboOpensOnATapAndAnItemTapChoosesIt) {
  HWND combo = make(u"COMBOBOX", CBS_DROPDOWNLIST, u"", 120);
  for (const char16_t* item : {u"red", u"green", u"blue"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  RECT closed{};
  GetWindowRect(combo, &closed);
  EXPECT_LT(closed.bottom - closed.top, 40) << "one field high";
  tap(combo, 20, 5);
  EXPECT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  RECT open{};
  GetWindowRect(combo, &open);
  int field = closed.bottom - closed.top;
  int row = (open.bottom - open.top - field - 2) / 3;
  ASSERT_GT(row, 0);
  tap(combo, 20, field + row + row / 2);  // the middle of the second row
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(text_of(combo), u"green");
  EXPECT_EQ(count_of(CBN_SELCHANGE), 1u);
  RECT again{};
  GetWindowRect(combo, &again);
  EXPECT_TRUE(EqualRect(&again, &closed));
  tap(combo, 20, 5);
  tap(combo, 300, 300);  // outside: closes without a choice
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(GetCapture(), nullptr);
  SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(count_of(CBN_SELCHANGE), 2u);
}

TEST_F(Controls, ButtonsClickOnlyWhenTheStylusComesUpOnThem) {
  struct Case {
    DWORD style;
    int taps;
    LRESULT check;
  } cases[] = {
      {BS_PUSHBUTTON, 1, 0},     {BS_AUTOCHECKBOX, 1, 1},   {BS_AUTOCHECKBOX, 2, 0},
      {BS_CHECKBOX, 1, 0},       {BS_AUTO3STATE, 2, 2},     {BS_AUTO3STATE, 3, 0},
      {BS_AUTORADIOBUTTON, 2, 1},
  };
  for (const Case& row : cases) {
    notices.clear();
    HWND button = make(u"BUTTON", row.style, u"Press");
    for (int i = 0; i < row.taps; ++i) tap(button, 20, 10);
    EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), row.check) << row.style << " x" << row.taps;
    EXPECT_EQ(count_of(BN_CLICKED), size_t(row.taps)) << row.style;
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at(20, 10));
    SendMessageW(button, WM_MOUSEMOVE, MK_LBUTTON, at(200, 10));
    SendMessageW(button, WM_LBUTTONUP, 0, at(200, 10));
    EXPECT_EQ(count_of(BN_CLICKED), size_t(row.taps)) << "released outside: no click";
    DestroyWindow(button);
  }
  notices.clear();
  HWND push = make(u"BUTTON", BS_PUSHBUTTON, u"Push");
  SendMessageW(push, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendMessageW(push, BM_GETCHECK, 0, 0), 0) << "a push button has no check";
  SetFocus(push);
  SendMessageW(push, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(push, WM_KEYUP, VK_SPACE, 0);
  EXPECT_EQ(count_of(BN_CLICKED), 1u) << "the space key clicks";
}

TEST_F(Controls, AnAutomaticRadioButtonUnchecksItsGroupOnly) {
  HWND a = make(u"BUTTON", BS_AUTORADIOBUTTON | WS_GROUP, u"a", 24, 1);
  HWND b = make(u"BUTTON", BS_AUTORADIOBUTTON, u"b", 24, 2);
  HWND c = make(u"BUTTON", BS_AUTORADIOBUTTON | WS_GROUP, u"c", 24, 3);
  SendMessageW(a, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(c, BM_SETCHECK, BST_CHECKED, 0);
  tap(b, 5, 10);
  EXPECT_EQ(SendMessageW(a, BM_GETCHECK, 0, 0), 0);
  EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), 1);
  EXPECT_EQ(SendMessageW(c, BM_GETCHECK, 0, 0), 1) << "another group";
}

TEST_F(Controls, EachControlAsksItsParentForItsColoursBeforePainting) {
  struct Case {
    const char16_t* name;
    DWORD style;
    UINT question;
  } cases[] = {
      {u"EDIT", 0, WM_CTLCOLOREDIT},           {u"EDIT", ES_READONLY, WM_CTLCOLORSTATIC},
      {u"LISTBOX", 0, WM_CTLCOLORLISTBOX},     {u"COMBOBOX", 0, WM_CTLCOLORLISTBOX},
      {u"BUTTON", BS_PUSHBUTTON, WM_CTLCOLORBTN}, {u"BUTTON", BS_AUTOCHECKBOX, WM_CTLCOLORSTATIC},
      {u"STATIC", SS_CENTER, WM_CTLCOLORSTATIC},
  };
  answer_brush = CreateSolidBrush(RGB(255, 0, 0));
  for (const Case& row : cases) {
    colour_questions.clear();
    HWND control = make(row.name, row.style, u"", 24);
    UpdateWindow(control);
    ASSERT_FALSE(colour_questions.empty()) << row.question;
    EXPECT_EQ(colour_questions.back(), row.question);
    HDC dc = GetDC(control);
    EXPECT_EQ(GetPixel(dc, 60, 12), RGB(255, 0, 0)) << "filled with the parent's brush: " << row.question;
    ReleaseDC(control, dc);
    DestroyWindow(control);
  }
  DeleteObject(answer_brush);
}

TEST_F(Controls, MessagesAfterTheEndFindNoState) {
  HWND edit = make(u"EDIT", 0, u"text");
  WNDPROC procedure = reinterpret_cast<WNDPROC>(static_cast<uintptr_t>(uint32_t(GetWindowLongW(edit, GWL_WNDPROC))));
  SendMessageW(edit, WM_DESTROY, 0, 0);  // its state goes; the window stays
  EXPECT_EQ(CallWindowProcW(procedure, edit, EM_GETSEL, 0, 0), 0);
  EXPECT_EQ(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0), 4) << "the default procedure answers";
  EXPECT_TRUE(DestroyWindow(edit));
}

}  // namespace
