// ExtEscape: the screen context passes escapes on to the simulated display driver.
#include "platform/gdi/display_escape.h"

#include "platform/gdi/device_context.h"
#include "platform/kernel/modules.h"

int ExtEscape(HDC dc, int escape, int input_size, LPCSTR input, int output_size, LPSTR output) {
  if (!platform::is_screen_context(dc)) return -1;
  return platform::display_escape(escape, input_size, input, output_size, output);
}

namespace {
const bool registered = [] {
  platform::register_builtin_module_function("coredll", "ExtEscape", reinterpret_cast<void*>(&ExtEscape));
  return true;
}();
}  // namespace
