// Event bindings: which binding a message reaches, and the removal of a window's or a
// program's bindings. Bindings here have no handler, so a match gives 0 and no match 1.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/program_context.h"
#include "gui/event_bindings.h"
#include "gui/script_calls.h"
#include "platform/platform.h"

namespace {

LRESULT plain_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

class EventBindingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = plain_procedure;
    window_class.lpszClassName = u"BindingTestClass";
    RegisterClassW(&window_class);
    form = CreateWindowExW(0, u"BindingTestClass", u"form", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    button = CreateWindowExW(0, u"BindingTestClass", u"button", WS_CHILD, 0, 0, 10, 10, form,
                             platform::pointer_from<HMENU__>(7), nullptr, nullptr);
    other = CreateWindowExW(0, u"BindingTestClass", u"other", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(form && button && other);
  }
  void TearDown() override {
    remove_events_of_window(nullptr);
    DestroyWindow(other);
    DestroyWindow(form);
  }

  static std::vector<HWND> windows_bound() {
    std::vector<HWND> windows;
    for (EventBinding* binding = event_bindings; binding; binding = binding->next) windows.push_back(binding->window);
    return windows;
  }

  HWND form = nullptr;
  HWND button = nullptr;
  HWND other = nullptr;
};

TEST_F(EventBindingsTest, MessagesReachTheFirstMatchingBinding) {
  enum Target { kForm, kButton, kOther, kNone };
  struct Row {
    const char* what;
    Target bound;
    int32_t code, id;
    uint32_t message;
    Target at;
    WPARAM wparam;
    int32_t expected;
  };
  const Row rows[] = {
      {"a click binding fires at the button's parent", kButton, 0, 7, WM_COMMAND, kForm, MAKEWPARAM(7, 0), 0},
      {"the command's notification code must match", kButton, 0, 7, WM_COMMAND, kForm, MAKEWPARAM(7, 1), 1},
      {"the command's id must match", kButton, 0, 7, WM_COMMAND, kForm, MAKEWPARAM(8, 0), 1},
      {"a command at a window that is not the parent", kButton, 0, 7, WM_COMMAND, kOther, MAKEWPARAM(7, 0), 1},
      {"id 0 fires at its own window", kForm, WM_LBUTTONDOWN, 0, WM_LBUTTONDOWN, kForm, 0, 0},
      {"id 0 does not fire at another window", kForm, WM_LBUTTONDOWN, 0, WM_LBUTTONDOWN, kOther, 0, 1},
      {"another message does not fire", kForm, WM_LBUTTONDOWN, 0, WM_KEYDOWN, kForm, 0, 1},
      {"an id fires at any window whose low word matches", kNone, WM_KEYDOWN, 65, WM_KEYDOWN, kOther, 65, 0},
      {"an id does not fire for another low word", kNone, WM_KEYDOWN, 65, WM_KEYDOWN, kOther, 66, 1},
      {"a command binding by message number, low word as id", kNone, WM_COMMAND, 9, WM_COMMAND, kOther,
       MAKEWPARAM(9, 3), 0},
  };
  const HWND windows[] = {form, button, other, nullptr};
  for (const Row& row : rows) {
    add_event_binding(nullptr, windows[row.bound], row.code, row.id, nullptr);
    EXPECT_EQ(dispatch_window_event(windows[row.at], row.message, row.wparam, 0), row.expected) << row.what;
    remove_events_of_window(nullptr);
  }
  EXPECT_EQ(dispatch_window_event(form, WM_LBUTTONDOWN, 0, 0), 1) << "no binding: not handled";
}

TEST_F(EventBindingsTest, NotificationsMatchTheirHeader) {
  add_event_binding(nullptr, button, -2, 7, nullptr);
  NMHDR header{button, 7, static_cast<UINT>(-2)};
  EXPECT_EQ(dispatch_window_event(form, WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header)), 0);
  header.idFrom = 8;
  EXPECT_EQ(dispatch_window_event(form, WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header)), 1);
  EXPECT_EQ(dispatch_window_event(form, WM_NOTIFY, 7, 0), 1) << "no header: nothing read";
}

TEST_F(EventBindingsTest, BindingsGoByWindowOrByProgram) {
  ProgramContext* first = create_program_context();
  ProgramContext* second = create_program_context();
  add_event_binding(first, form, WM_KEYDOWN, 0, nullptr);
  add_event_binding(second, other, WM_KEYDOWN, 0, nullptr);
  add_event_binding(first, other, WM_KEYUP, 0, nullptr);
  add_event_binding(second, form, WM_KEYUP, 0, nullptr);
  EXPECT_EQ(windows_bound(), (std::vector<HWND>{form, other, other, form})) << "newest first";

  remove_events_of_window(other);
  EXPECT_EQ(windows_bound(), (std::vector<HWND>{form, form}));
  remove_events_of_program(second);
  ASSERT_EQ(windows_bound(), (std::vector<HWND>{form}));
  EXPECT_EQ(event_bindings->program, first);
  add_event_binding(second, other, WM_KEYUP, 0, nullptr);
  remove_events_of_program(nullptr);
  EXPECT_EQ(event_bindings, nullptr) << "no program: every binding goes";
  program_context_release(second);
  program_context_release(first);
}

TEST_F(EventBindingsTest, OnlyNotHandledResultsReachTheBindings) {
  add_event_binding(nullptr, form, WM_KEYDOWN, 0, nullptr);
  EXPECT_EQ(offer_to_bindings(0, form, WM_KEYDOWN, 0, 0), 0) << "handled by the window's procedure";
  EXPECT_EQ(offer_to_bindings(1, form, WM_KEYDOWN, 0, 0), 0) << "the binding's result replaces it";
  EXPECT_EQ(offer_to_bindings(5, form, WM_KEYUP, 0, 0), 1) << "no binding for the message";
}

}  // namespace
