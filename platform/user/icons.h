// Icons and cursors: an icon is a picture resource of a module; the device shows no
// cursor but the wait cursor, which scripts switch on and off.
#pragma once

#include "platform/user/window_manager.h"

// A number in the place of a resource name.
inline LPCWSTR icon_resource_name(WORD number) {
  return reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(number));
}
inline const LPCWSTR IDC_ARROW = icon_resource_name(32512);
inline const LPCWSTR IDC_WAIT = icon_resource_name(32514);
inline const LPCWSTR IDI_APPLICATION = icon_resource_name(32512);

// The icon of module's resources (null module: the system's icons); null when there is
// none. Icons need not be destroyed; DestroyIcon is accepted.
HICON LoadIconW(HINSTANCE module, LPCWSTR name);
BOOL DestroyIcon(HICON icon);
// The system cursors IDC_ARROW and IDC_WAIT (module null); null otherwise.
HCURSOR LoadCursorW(HINSTANCE module, LPCWSTR name);
// Makes cursor the current one and gives the previous (null: no cursor).
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
int ShowCursor(BOOL show);
