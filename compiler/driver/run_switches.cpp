// The switches and run state start-up hands to the compile driver.
#include "compiler/driver/compile_and_run.h"

RunSwitches run_switches = [] {
  RunSwitches switches{};
  switches.error_display = 1;
  switches.status_window = 1;
  switches.link_level = 1;
  return switches;
}();
uint32_t image_run_size = 0;
const char* image_run_name = nullptr;
