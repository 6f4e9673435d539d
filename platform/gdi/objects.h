// GDI objects: brushes, pens, bitmaps and the stock objects, and selecting them into
// device contexts. Fonts are in text.h, DIB sections in dib_section.h.
#pragma once

#include "platform/gdi/gdi_types.h"

// Stock objects (GetStockObject).
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;

// Pen styles.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_NULL = 5;

// Object types of GetObjectType.
constexpr DWORD OBJ_PEN = 1;
constexpr DWORD OBJ_BRUSH = 2;
constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_FONT = 6;
constexpr DWORD OBJ_BITMAP = 7;
constexpr DWORD OBJ_REGION = 8;
constexpr DWORD OBJ_MEMDC = 10;

// What GetObjectW gives for a bitmap.
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  LONG lbHatch;
};
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;

struct LOGPEN {
  UINT lopnStyle;
  POINT lopnWidth;
  COLORREF lopnColor;
};

// A stock object: never deleted. Null for an unknown index.
HGDIOBJ GetStockObject(int index);

// New objects; null when out of memory.
HBRUSH CreateSolidBrush(COLORREF colour);
HPEN CreatePen(int style, int width, COLORREF colour);
HPEN CreatePenIndirect(const LOGPEN* pen);
// A device-dependent bitmap in the screen's format (16-bit RGB565), zeroed.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A bitmap of the given format (1, 16, 24 or 32 bits) holding a copy of bits (rows
// padded to 2 bytes as the device expects; null bits: zeroed).
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits);

// Selects a bitmap (memory contexts only), brush, pen or font into a context and gives
// the object of the same kind it replaces; null when the context or the object is
// unknown, or the bitmap is selected into another context. A region becomes the clip
// region (the result is then SIMPLEREGION or NULLREGION).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Deletes an object. FALSE when it is unknown or a bitmap still selected into a
// context; deleting a stock object, or a brush, pen or font while it is selected, gives
// TRUE and the object lives on until it is deselected, as the device does.
BOOL DeleteObject(HGDIOBJ object);
// Copies the object's description (BITMAP, LOGBRUSH, LOGPEN or LOGFONTW) into buffer
// and gives the bytes copied; with a null buffer, the size needed. 0 for an unknown
// object or too small a buffer.
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);
DWORD GetObjectType(HGDIOBJ object);
// The object of a kind (OBJ_BRUSH ...) selected into a context.
HGDIOBJ GetCurrentObject(HDC dc, UINT type);

namespace platform {
// Live memory contexts and created objects (for leak checks in tests).
size_t gdi_object_count();
}  // namespace platform
