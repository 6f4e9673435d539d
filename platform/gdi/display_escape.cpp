// ExtEscape: the screen context passes escapes on to the simulated display driver.
#include "platform/gdi/display_escape.h"

#include "platform/kernel/modules.h"

int ExtEscape(HDC dc, int escape, int input_size, LPCSTR input, int output_size, LPSTR output) {
  if (dc == nullptr || dc != GetDC(nullptr)) return -1;
  return platform::display_escape(escape, input_size, input, output_size, output);
}

namespace {
const bool registered = [] {
  platform::register_builtin_module_function("coredll", "ExtEscape", reinterpret_cast<void*>(&ExtEscape));
  return true;
}();
}  // namespace
