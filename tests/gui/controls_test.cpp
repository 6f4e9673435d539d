// newcontrol and the control window procedure: a control needs a parent with a record,
// its end goes on to its class, setfont deletes only the record's own font, and
// inherited passes a message to the class only when the record saved one.
#include <gtest/gtest.h>

#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "gui/controls.h"
#include "gui/script_calls.h"
#include "platform/platform.h"

namespace {

class GuiControls : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = create_program_context();
    ASSERT_NE(program_, nullptr);
    current_program = program_;
    WNDCLASSW record{};
    record.lpfnWndProc = DefWindowProcW;
    record.lpszClassName = u"GuiControlsParent";
    RegisterClassW(&record);
    parent_ = CreateWindowExW(0, u"GuiControlsParent", u"", WS_VISIBLE, 0, 26, 240, 200, nullptr, nullptr, nullptr,
                              nullptr);
    ASSERT_NE(context_add_form(program_, parent_, 0, 0, 0), nullptr);
  }
  void TearDown() override {
    platform::destroy_all_windows();
    while (program_->forms) remove_form_record(program_->forms->window);
    stack_free_all(program_);
    program_context_release(program_);
    current_program = nullptr;
  }

  static void push(double number) { stack_push_number(current_program, number); }
  static void push(const char* text) { stack_push_value(const_cast<char*>(text), 0, nullptr, 0); }
  static double result() { return stack_pop(current_program)->number; }
  HWND new_control(HWND parent, const char* class_name, DWORD style) {
    for (double number : {7.0}) push(number);
    push(class_name);
    push(0.0);
    push("text");
    push(double(WS_CHILD | WS_VISIBLE | style));
    push(window_number(parent));
    for (double number : {10.0, 10.0, 100.0, 24.0}) push(number);
    builtin_newcontrol();
    return window_from_number(int32_t(result()));
  }
  static HGDIOBJ font_of(HWND window) { return static_cast<HGDIOBJ>(find_form_record(window)->font); }

  ProgramContext* program_ = nullptr;
  HWND parent_ = nullptr;
};

TEST_F(GuiControls, AControlIsMadeOnlyInsideAWindowWithARecord) {
  HWND stranger = CreateWindowExW(0, u"GuiControlsParent", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(new_control(stranger, "EDIT", 0), nullptr);
  EXPECT_EQ(new_control(parent_, "NOSUCHCLASS", 0), nullptr);
  HWND edit = new_control(parent_, "EDIT", 0);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(GetWindowLongW(edit, GWL_WNDPROC), LONG(platform::address_of(reinterpret_cast<void*>(control_window_proc))));
  FormRecord* form = find_form_record(edit);
  ASSERT_NE(form, nullptr);
  EXPECT_STREQ(form->class_name, "EDIT");
  EXPECT_EQ(SendMessageW(edit, WM_GETFONT, 0, 0), LRESULT(platform::address_of(form->font)));
}

TEST_F(GuiControls, TheEndOfAControlReachesItsClassAndLeavesItTheWindow) {
  HWND edit = new_control(parent_, "EDIT", 0);
  auto subclassed = GetWindowLongW(edit, GWL_WNDPROC);
  auto previous = LONG(platform::address_of(find_form_record(edit)->previous_window_proc));
  SendMessageW(edit, EM_SETSEL, 1, 3);
  EXPECT_EQ(SendMessageW(edit, EM_GETSEL, 0, 0), MAKELONG(1, 3));
  SendMessageW(edit, WM_DESTROY, 0, 0);
  EXPECT_EQ(find_form_record(edit), nullptr);
  EXPECT_NE(GetWindowLongW(edit, GWL_WNDPROC), subclassed);
  EXPECT_EQ(GetWindowLongW(edit, GWL_WNDPROC), previous) << "later messages go to the class itself";
  EXPECT_EQ(SendMessageW(edit, EM_GETSEL, 0, 0), 0) << "the class let its state go";
}

TEST_F(GuiControls, SetfontDeletesOnlyTheRecordsOwnFont) {
  HWND edit = new_control(parent_, "EDIT", 0);
  HWND list = new_control(parent_, "LISTBOX", 0);
  HGDIOBJ own = font_of(edit);
  LOGFONTW description{};
  description.lfHeight = -10;
  HGDIOBJ shared = CreateFontIndirectW(&description);
  HGDIOBJ other = CreateFontIndirectW(&description);
  for (HWND window : {edit, list}) {
    push(window_number(window));
    push(platform::address_of(shared));
    builtin_setfont();
  }
  EXPECT_EQ(GetObjectType(own), 0u) << "the default font went";
  EXPECT_EQ(font_of(edit), shared);
  push(window_number(edit));
  push(platform::address_of(other));
  builtin_setfont();
  EXPECT_EQ(GetObjectType(shared), OBJ_FONT) << "a font the script set stays";
  DestroyWindow(edit);
  DestroyWindow(list);
  EXPECT_EQ(GetObjectType(shared), OBJ_FONT);
  EXPECT_EQ(GetObjectType(other), OBJ_FONT) << "the end of the record leaves the script's font";
  DeleteObject(shared);
  DeleteObject(other);
}

TEST_F(GuiControls, InheritedGoesToTheClassOnlyWhenTheRecordSavedIt) {
  HWND edit = new_control(parent_, "EDIT", 0);
  const char16_t* text = u"through the class";
  push(window_number(edit));
  push(WM_SETTEXT);
  push(0.0);
  push(platform::address_of(text));
  builtin_inherited();
  EXPECT_EQ(result(), 0);
  EXPECT_EQ(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0), 17);
  // The parent's record saved no procedure: the default procedure answers.
  push(window_number(parent_));
  push(WM_SETTEXT);
  push(0.0);
  push(platform::address_of(text));
  builtin_inherited();
  EXPECT_EQ(result(), 0);
  EXPECT_EQ(GetWindowTextLengthW(parent_), 17);
}

}  // namespace
