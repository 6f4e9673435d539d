// Device contexts: the screen's, a window's (drawing into the window on the device
// screen, clipped to it) and memory contexts drawing into a selected bitmap.
#pragma once

#include "platform/gdi/gdi_types.h"

// GetDeviceCaps indexes.
constexpr int DRIVERVERSION = 0;
constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int DT_RASDISPLAY = 1;
constexpr int RC_BITBLT = 1;
constexpr int RC_STRETCHBLT = 0x800;

// Clip results.
constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

// A context for the client area of window, or for the whole screen when window is
// null. Release it with ReleaseDC (1 when released, 0 for a context not from GetDC).
// Null for an unknown window.
HDC GetDC(HWND window);
// The same for the whole window, its caption and border included.
HDC GetWindowDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

// A memory context compatible with dc (null: the screen), holding a 1x1 placeholder
// bitmap until another is selected. Null when out of memory.
HDC CreateCompatibleDC(HDC dc);
// Deletes a memory context; the objects selected into it are deselected, not deleted.
BOOL DeleteDC(HDC dc);

// A device capability. LOGPIXELSX/LOGPIXELSY give the device profile's dots per inch,
// HORZRES/VERTRES the screen's size (a memory context: its bitmap's), BITSPIXEL 16.
int GetDeviceCaps(HDC dc, int index);

// The window of a context from GetDC/BeginPaint; null for other contexts.
HWND WindowFromDC(HDC dc);

// Clipping: the clip box in logical coordinates, and narrowing the clip to a rectangle.
int GetClipBox(HDC dc, LPRECT rect);
int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);

// Saving and restoring a context's selected objects, colours, modes and clip.
int SaveDC(HDC dc);
BOOL RestoreDC(HDC dc, int saved);

// The logical origin: drawing at (0,0) lands at the given point of the device.
BOOL SetViewportOrgEx(HDC dc, int x, int y, LPPOINT previous);
BOOL GetViewportOrgEx(HDC dc, LPPOINT origin);

namespace platform {
// Whether dc is a context of the whole screen (from GetDC of no window).
bool is_screen_context(HDC dc);
}  // namespace platform
