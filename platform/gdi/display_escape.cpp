// ExtEscape: the screen context passes escapes on to the simulated display driver.
#include "platform/gdi/display_escape.h"

#include "platform/gdi/gdi_state.h"
#include "platform/kernel/modules.h"

int ExtEscape(HDC dc, int escape, int input_size, LPCSTR input, int output_size, LPSTR output) {
  {
    std::lock_guard hold(platform::gdi::gdi_lock());
    if (!platform::gdi::live_context(dc) || dc->kind != platform::gdi::ContextKind::Screen) return -1;
  }
  return platform::display_escape(escape, input_size, input, output_size, output);
}

namespace {
const bool registered = [] {
  platform::register_builtin_module_function("coredll", "ExtEscape", reinterpret_cast<void*>(&ExtEscape));
  return true;
}();
}  // namespace
