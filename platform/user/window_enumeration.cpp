// EnumWindows over the window layer's list of top-level windows.
#include "platform/user/window_enumeration.h"

namespace platform {
TopLevelWindowWalker top_level_window_walker = nullptr;
}  // namespace platform

namespace {

struct EnumState {
  WNDENUMPROC callback;
  LPARAM parameter;
  bool stopped;
};

bool visit_window(HWND window, void* state) {
  auto* enumeration = static_cast<EnumState*>(state);
  if (enumeration->callback(window, enumeration->parameter)) return true;
  enumeration->stopped = true;
  return false;
}

}  // namespace

BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter) {
  if (!callback) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  EnumState state{callback, parameter, false};
  if (platform::top_level_window_walker) platform::top_level_window_walker(visit_window, &state);
  return state.stopped ? FALSE : TRUE;
}
