// Icons and cursors: the device shows no pointer, so cursors are only remembered; an icon
// is a resource of a module.
#include "platform/user/icons.h"

#include <atomic>

#include "platform/media/resources.h"

struct HICON__ {
  int kind;
};

namespace {

HICON__ arrow_cursor{1};
HICON__ wait_cursor{2};
HICON__ application_icon{3};
std::atomic<HCURSOR> current_cursor{nullptr};
std::atomic<int> cursor_count{0};

// RT_GROUP_ICON: the resource type of an icon.
constexpr WORD kIconGroupType = 14;

}  // namespace

HICON LoadIconW(HINSTANCE module, LPCWSTR name) {
  if (!module) return name == IDI_APPLICATION ? &application_icon : nullptr;
  HRSRC found = FindResourceW(reinterpret_cast<HMODULE>(module), name, MAKEINTRESOURCEW(kIconGroupType));
  // The resource's handle stands for the icon: it is unique and lives for the process.
  return reinterpret_cast<HICON>(found);
}

BOOL DestroyIcon(HICON) { return TRUE; }

HCURSOR LoadCursorW(HINSTANCE module, LPCWSTR name) {
  if (module) return nullptr;
  if (name == IDC_ARROW) return &arrow_cursor;
  if (name == IDC_WAIT) return &wait_cursor;
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) { return current_cursor.exchange(cursor); }

HCURSOR GetCursor() { return current_cursor.load(); }

int ShowCursor(BOOL show) { return cursor_count += show ? 1 : -1; }
