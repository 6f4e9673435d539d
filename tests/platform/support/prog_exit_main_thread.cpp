// Calls ExitThread(5) on the main thread while another thread sleeps for ever: the process must end with 5.
#include "platform/platform.h"

namespace {

DWORD sleep_for_ever(LPVOID) {
  for (;;) Sleep(1000);
}

volatile bool exit_at_bottom = true;

void leave(int depth) {
  if (depth > 0)
    leave(depth - 1);
  else if (exit_at_bottom)
    ExitThread(5);
}

}  // namespace

int main() {
  HANDLE thread = CreateThread(nullptr, 0, sleep_for_ever, nullptr, 0, nullptr);
  if (!thread) return 1;
  Sleep(20);
  leave(2);
  return 2;
}
