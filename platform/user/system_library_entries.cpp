// The window system's functions in the system libraries this layer answers for, so a
// script that declares one gets ours: coredll by name, aygshell and commctrl also by the
// ordinals programs call them by.
#include "platform/device/hal_io_control.h"
#include "platform/kernel/modules.h"
#include "platform/shell/shell.h"
#include "platform/user/user.h"

namespace {

template <typename Function>
void* entry(Function* function) {
  return reinterpret_cast<void*>(function);
}

struct Entries {
  Entries() {
    using platform::register_builtin_module_function;
    const struct {
      const char* name;
      void* address;
    } core[] = {
        {"RegisterClassW", entry(&RegisterClassW)},       {"UnregisterClassW", entry(&UnregisterClassW)},
        {"CreateWindowExW", entry(&CreateWindowExW)},     {"DestroyWindow", entry(&DestroyWindow)},
        {"ShowWindow", entry(&ShowWindow)},               {"UpdateWindow", entry(&UpdateWindow)},
        {"MoveWindow", entry(&MoveWindow)},               {"SetWindowPos", entry(&SetWindowPos)},
        {"GetWindowRect", entry(&GetWindowRect)},         {"GetClientRect", entry(&GetClientRect)},
        {"IsWindow", entry(&IsWindow)},                   {"IsWindowVisible", entry(&IsWindowVisible)},
        {"EnableWindow", entry(&EnableWindow)},           {"GetParent", entry(&GetParent)},
        {"SetParent", entry(&SetParent)},                 {"FindWindowW", entry(&FindWindowW)},
        {"GetWindowLongW", entry(&GetWindowLongW)},       {"SetWindowLongW", entry(&SetWindowLongW)},
        {"SetWindowTextW", entry(&SetWindowTextW)},       {"GetWindowTextW", entry(&GetWindowTextW)},
        {"SendMessageW", entry(&SendMessageW)},           {"PostMessageW", entry(&PostMessageW)},
        {"PostThreadMessageW", entry(&PostThreadMessageW)}, {"PostQuitMessage", entry(&PostQuitMessage)},
        {"GetMessageW", entry(&GetMessageW)},             {"PeekMessageW", entry(&PeekMessageW)},
        {"TranslateMessage", entry(&TranslateMessage)},   {"DispatchMessageW", entry(&DispatchMessageW)},
        {"DefWindowProcW", entry(&DefWindowProcW)},       {"CallWindowProcW", entry(&CallWindowProcW)},
        {"SetTimer", entry(&SetTimer)},                   {"KillTimer", entry(&KillTimer)},
        {"SetFocus", entry(&SetFocus)},                   {"GetFocus", entry(&GetFocus)},
        {"GetActiveWindow", entry(&GetActiveWindow)},     {"SetForegroundWindow", entry(&SetForegroundWindow)},
        {"GetForegroundWindow", entry(&GetForegroundWindow)}, {"SetCapture", entry(&SetCapture)},
        {"ReleaseCapture", entry(&ReleaseCapture)},       {"GetKeyState", entry(&GetKeyState)},
        {"GetAsyncKeyState", entry(&GetAsyncKeyState)},   {"keybd_event", entry(&keybd_event)},
        {"InvalidateRect", entry(&InvalidateRect)},       {"ValidateRect", entry(&ValidateRect)},
        {"BeginPaint", entry(&BeginPaint)},               {"EndPaint", entry(&EndPaint)},
        {"GetDC", entry(&GetDC)},                         {"GetWindowDC", entry(&GetWindowDC)},
        {"ReleaseDC", entry(&ReleaseDC)},                 {"CreateCompatibleDC", entry(&CreateCompatibleDC)},
        {"DeleteDC", entry(&DeleteDC)},                   {"SelectObject", entry(&SelectObject)},
        {"DeleteObject", entry(&DeleteObject)},           {"GetStockObject", entry(&GetStockObject)},
        {"CreateSolidBrush", entry(&CreateSolidBrush)},   {"CreatePen", entry(&CreatePen)},
        {"CreateFontIndirectW", entry(&CreateFontIndirectW)}, {"CreateDIBSection", entry(&CreateDIBSection)},
        {"CreateCompatibleBitmap", entry(&CreateCompatibleBitmap)}, {"GetDeviceCaps", entry(&GetDeviceCaps)},
        {"FillRect", entry(&FillRect)},                   {"Rectangle", entry(&Rectangle)},
        {"Ellipse", entry(&Ellipse)},                     {"Polygon", entry(&Polygon)},
        {"Polyline", entry(&Polyline)},                   {"MoveToEx", entry(&MoveToEx)},
        {"LineTo", entry(&LineTo)},                       {"SetPixel", entry(&SetPixel)},
        {"GetPixel", entry(&GetPixel)},                   {"BitBlt", entry(&BitBlt)},
        {"StretchBlt", entry(&StretchBlt)},               {"PatBlt", entry(&PatBlt)},
        {"ExtTextOutW", entry(&ExtTextOutW)},             {"DrawTextW", entry(&DrawTextW)},
        {"GetTextExtentExPointW", entry(&GetTextExtentExPointW)}, {"GetTextMetricsW", entry(&GetTextMetricsW)},
        {"SetTextColor", entry(&SetTextColor)},           {"SetBkColor", entry(&SetBkColor)},
        {"SetBkMode", entry(&SetBkMode)},                 {"GetSysColor", entry(&GetSysColor)},
        {"GetSysColorBrush", entry(&GetSysColorBrush)},   {"CreateAcceleratorTableW", entry(&CreateAcceleratorTableW)},
        {"DestroyAcceleratorTable", entry(&DestroyAcceleratorTable)},
        {"TranslateAcceleratorW", entry(&TranslateAcceleratorW)},
        {"LoadIconW", entry(&LoadIconW)},                 {"LoadCursorW", entry(&LoadCursorW)},
        {"SetCursor", entry(&SetCursor)},
        {"GetClassNameW", entry(&GetClassNameW)},         {"GetDlgItem", entry(&GetDlgItem)},
        {"GetDlgCtrlID", entry(&GetDlgCtrlID)},           {"KernelIoControl", entry(&KernelIoControl)},
        {"SetCleanRebootFlag", entry(&SetCleanRebootFlag)},
    };
    for (const auto& function : core) register_builtin_module_function("coredll.dll", function.name, function.address);
    const struct {
      const char* name;
      const char* ordinal;
      void* address;
    } shell[] = {
        {"SHSipPreference", "#21", entry(&SHSipPreference)},
        {"SHCreateMenuBar", "#34", entry(&SHCreateMenuBar)},
        {"SHFullScreen", "#65", entry(&SHFullScreen)},
        {"SHHandleWMSettingChange", "#83", entry(&SHHandleWMSettingChange)},
        {"SHHandleWMActivate", "#84", entry(&SHHandleWMActivate)},
    };
    for (const auto& function : shell) {
      register_builtin_module_function("aygshell.dll", function.name, function.address);
      register_builtin_module_function("aygshell.dll", function.ordinal, function.address);
    }
    register_builtin_module_function("commctrl.dll", "CommandBar_Show", entry(&CommandBar_Show));
    register_builtin_module_function("commctrl.dll", "#4", entry(&CommandBar_Show));
    register_builtin_module_function("commctrl.dll", "CommandBar_AlignAdornments", entry(&CommandBar_AlignAdornments));
    register_builtin_module_function("commctrl.dll", "#43", entry(&CommandBar_AlignAdornments));
  }
} entries;

}  // namespace
