// The switches and run state start-up hands to the compile driver.
#include "compiler/driver/compile_and_run.h"

RunSwitches run_switches = [] {
  RunSwitches switches{};
  switches.error_display = 1;
  switches.status_window = 1;
  return switches;
}();
uint32_t image_run_size = 0;
const char* image_run_name = nullptr;
// runtime_version_text is defined once, beside the log that prints it.
