// Device-independent bitmaps whose pixels a program addresses directly (drawn into by
// GDI once selected into a memory context).
#pragma once

#include "platform/kernel/types.h"

#include "platform/gdi/device_context.h"
#include "platform/gdi/objects.h"

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

// A DIB section of 16, 24 or 32 bits per pixel with zeroed pixels, which *bits receives.
// Rows are padded to 4 bytes. Null (and *bits null) for an unsupported or oversized
// header or when out of memory. section and offset must be 0: no file-mapping backing.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
