// The menu functions of coredll, so a script that declares one gets ours.
#include "platform/kernel/modules.h"
#include "platform/user/menus.h"

namespace {

struct MenuEntries {
  MenuEntries() {
    const struct {
      const char* name;
      void* address;
    } functions[] = {
        {"CreateMenu", reinterpret_cast<void*>(&CreateMenu)},
        {"CreatePopupMenu", reinterpret_cast<void*>(&CreatePopupMenu)},
        {"DestroyMenu", reinterpret_cast<void*>(&DestroyMenu)},
        {"AppendMenuW", reinterpret_cast<void*>(&AppendMenuW)},
        {"InsertMenuW", reinterpret_cast<void*>(&InsertMenuW)},
        {"ModifyMenuW", reinterpret_cast<void*>(&ModifyMenuW)},
        {"EnableMenuItem", reinterpret_cast<void*>(&EnableMenuItem)},
        {"CheckMenuItem", reinterpret_cast<void*>(&CheckMenuItem)},
        {"GetMenuItemInfoW", reinterpret_cast<void*>(&GetMenuItemInfoW)},
        {"TrackPopupMenu", reinterpret_cast<void*>(&TrackPopupMenu)},
        {"TrackPopupMenuEx", reinterpret_cast<void*>(&TrackPopupMenuEx)},
    };
    for (const auto& function : functions) {
      platform::register_builtin_module_function("coredll.dll", function.name, function.address);
    }
  }
} entries;

}  // namespace
