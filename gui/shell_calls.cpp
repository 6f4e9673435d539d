// The shell services of forms, over the shell's menu bar, input panel, full-screen and
// activation calls.
#include "gui/shell_calls.h"

#include "foundation/runtime_memory.h"
#include "vm/runtime_globals.h"

namespace {

constexpr UINT kMenuBarResource = 131;
constexpr int kInputPanelDown = SIP_FORCEDOWN;

uint32_t* activation_record_of(uint32_t** slot) {
  if (!*slot) {
    *slot = static_cast<uint32_t*>(crt::calloc(3, sizeof(uint32_t)));
    if (*slot) (*slot)[0] = 12;
  }
  return *slot;
}

}  // namespace

HWND create_menu_bar(HWND window) {
  SHMENUBARINFO record{};
  record.cbSize = sizeof record;
  record.hwndParent = window;
  record.dwFlags = 0;
  record.nToolBarId = kMenuBarResource;
  record.hInstRes = runtime_instance;
  record.nBmpId = 0;
  record.cBmpImages = 0;
  if (!SHCreateMenuBar(&record)) return nullptr;
  return record.hwndMB;
}

void show_menu_bar(HWND bar, bool show) { CommandBar_Show(bar, show ? TRUE : FALSE); }

void input_panel_down() {
  HWND panel = FindWindowW(u"SipWndClass", nullptr);
  if (!panel) return;
  SHSipPreference(panel, kInputPanelDown);
  ShowWindow(panel, SW_HIDE);
}

void shell_full_screen(HWND window, DWORD flags) { SHFullScreen(window, flags); }

void shell_handle_activate(HWND window, WPARAM wparam, LPARAM lparam, uint32_t** activation_record) {
  SHHandleWMActivate(window, wparam, lparam, reinterpret_cast<SHACTIVATEINFO*>(activation_record_of(activation_record)), 0);
}

void shell_handle_setting_change(HWND window, WPARAM wparam, LPARAM lparam, uint32_t** activation_record) {
  SHHandleWMSettingChange(window, wparam, lparam,
                          reinterpret_cast<SHACTIVATEINFO*>(activation_record_of(activation_record)));
}
