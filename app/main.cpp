// The zrk program: hands its command line to the runtime's start-up.
//
// The runtime reads one command line whose tokens are separated by '|': the program
// file first, then the switches. Each argument of zrk is one token, so
//   zrk prog.zrk D P       is the line "prog.zrk|D|P"
//   zrk "my prog.zrk" W    is the line "my prog.zrk|W" (blanks stay inside a token)
// A single argument that already holds a '|' is taken as the whole line:
//   zrk "prog.zrk|D|P"     is the line "prog.zrk|D|P"
// The exit status is 0 for a run that succeeded, 1 when it ended with an unhandled
// run-time error or failed to compile, 2 when the named program does not exist.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/script_lock.h"
#include "gui/gui.h"
#include "platform/kernel/utf.h"
#include "platform/platform.h"
#include "app/startup.h"
#include "app/teardown.h"

namespace {

std::string joined_command_line(int argc, char** argv) {
  std::string line;
  for (int index = 1; index < argc; ++index) {
    if (index > 1) line += '|';
    line += argv[index];
  }
  return line;
}

// The GUI library is reached from below through hooks; start-up and teardown call it here.
void install_gui() {
  install_gui_services();
  startup_services.run_message_loop = run_message_loop;
  startup_services.cache_screen_dpi = cache_screen_dpi;
  teardown_services.remove_all_event_bindings = remove_all_event_bindings;
}

// The device ends the run from below (input exhausted, its window closed): the runtime is
// torn down as at a normal end, so reports are written and sound stops, then the process
// leaves with the device's status, or the run's when the device ends it normally.
// Script threads may be waiting at a blocking point meanwhile: the lock is taken first and
// never given back, so none of them runs script code on what the teardown frees.
[[noreturn]] void end_run_from_device(const char*, int exit_status) {
  script_lock_enter();
  int status = run_exit_status(exit_status);
  runtime_shutdown();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  install_gui();
  platform::set_run_end_handler(end_run_from_device);
  std::u16string line = platform::utf16_from_utf8(joined_command_line(argc, argv));
  return runtime_main(GetModuleHandleW(nullptr), nullptr, line.c_str(), 1);
}
