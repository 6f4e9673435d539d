// Registration of the control classes, done when the layer loads so that any program's
// CreateWindowExW finds them.
#include <mutex>

#include "platform/user/controls/control_kit.h"

namespace platform::user::controls {
LRESULT button_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT edit_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT list_box_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT combo_box_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT static_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
}  // namespace platform::user::controls

namespace platform {

void register_control_classes() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    using namespace platform::user::controls;
    register_system_class(u"BUTTON", button_procedure);
    register_system_class(u"EDIT", edit_procedure);
    register_system_class(u"LISTBOX", list_box_procedure);
    register_system_class(u"COMBOBOX", combo_box_procedure);
    register_system_class(u"STATIC", static_procedure);
  });
}

namespace {
struct Registration {
  Registration() { register_control_classes(); }
} registration;
}  // namespace

}  // namespace platform
