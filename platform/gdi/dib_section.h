// Device-independent bitmaps whose pixels a program addresses directly, and the memory
// device contexts they are selected into. The screen context exists only as a source
// of compatible memory contexts until the rest of GDI draws on it.
#pragma once

#include "platform/kernel/types.h"

struct HDC__;
using HDC = HDC__*;
struct HWND__;
using HWND = HWND__*;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HGDIOBJ;

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: rows run top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];  // with BI_BITFIELDS: the red, green and blue masks as DWORDs
};

// The screen's device context (window must be null: window contexts come with the
// window manager). Always the same context; ReleaseDC gives 1 for it.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

// A memory context compatible with dc (null: the screen), holding a 1x1 placeholder
// bitmap until another is selected. Null when out of memory.
HDC CreateCompatibleDC(HDC dc);
// Deletes a memory context; the bitmap selected into it is deselected, not deleted.
BOOL DeleteDC(HDC dc);

// A DIB section of 16, 24 or 32 bits per pixel with zeroed pixels, which *bits receives.
// Rows are padded to 4 bytes. Null (and *bits null) for an unsupported or oversized
// header or when out of memory. section and offset must be 0: no file-mapping backing.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);

// Selects a bitmap into a memory context and gives the one it replaces; null when the
// context or bitmap is unknown or the bitmap is selected into another context.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Deletes a bitmap; FALSE while it is selected into a context or when it is unknown.
BOOL DeleteObject(HGDIOBJ object);

namespace platform {
// Live memory contexts and bitmaps (for leak checks in tests).
size_t gdi_object_count();
}  // namespace platform
