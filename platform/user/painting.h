// Painting: update regions (kept as rectangles), WM_PAINT, and drawing a window's client
// area between BeginPaint and EndPaint.
#pragma once

#include "platform/gdi/gdi_types.h"
#include "platform/user/messages.h"

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;  // the background still needs erasing (WM_ERASEBKGND gave 0)
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;

// Adds rect (client coordinates; null: the whole client area) to the window's update
// region, and to its children's where they lie under it; erase asks for WM_ERASEBKGND at
// the next BeginPaint. A null window invalidates every window. FALSE for an unknown window.
BOOL InvalidateRect(HWND window, LPCRECT rect, BOOL erase);
// Takes rect (null: everything) out of the update region.
BOOL ValidateRect(HWND window, LPCRECT rect);
// The bounding rectangle of the update region (client coordinates); FALSE when it is
// empty. erase sends WM_ERASEBKGND at once when the background needs it.
BOOL GetUpdateRect(HWND window, LPRECT rect, BOOL erase);
// Sends WM_PAINT now when the window has an update region (children too).
BOOL UpdateWindow(HWND window);
// RedrawWindow flags.
constexpr UINT RDW_INVALIDATE = 0x1;
constexpr UINT RDW_ERASE = 0x4;
constexpr UINT RDW_VALIDATE = 0x8;
constexpr UINT RDW_ALLCHILDREN = 0x80;
constexpr UINT RDW_UPDATENOW = 0x100;
constexpr UINT RDW_ERASENOW = 0x200;
BOOL RedrawWindow(HWND window, LPCRECT rect, HRGN region, UINT flags);

// Starts painting: hides the caret, sends WM_ERASEBKGND when erasing was asked for,
// clears the update region and gives a context clipped to it. Null for an unknown window.
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
