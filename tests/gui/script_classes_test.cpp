// The window procedure of script classes: without a record or a class procedure the
// default procedure answers; a binding that handles the message keeps it from running.
#include <gtest/gtest.h>

#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "gui/event_bindings.h"
#include "gui/script_calls.h"
#include "gui/script_classes.h"
#include "platform/platform.h"

namespace {

TEST(ScriptClasses, TheDefaultProcedureAnswersWhatNoScriptHandles) {
  WNDCLASSW* block = register_script_class(u"ScriptClassTest");
  ASSERT_NE(block, nullptr);
  HWND window = CreateWindowExW(0, u"ScriptClassTest", u"seven", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 5) << "no record: the default procedure";

  ProgramContext* program = create_program_context();
  FormRecord* form = context_add_form(program, window, 0, 0, 0);
  form->class_name = crt::_strdup("ScriptClassTest");
  window_class_add("ScriptClassTest", 0);
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 5) << "a class without a procedure";
  EXPECT_EQ(last_window_result, 1);

  add_event_binding(nullptr, window, WM_GETTEXTLENGTH, 0, nullptr);  // handles it: result 0
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 0) << "handled by the binding";
  EXPECT_EQ(last_window_result, 0);

  remove_events_of_window(nullptr);
  window_class_remove("ScriptClassTest");
  crt::free(form->class_name);
  remove_form_record(window);
  program_context_release(program);
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassW(u"ScriptClassTest", nullptr));
  crt::free(block);
}

}  // namespace
