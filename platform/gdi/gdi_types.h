// Handles, colours and small records shared by GDI and the window manager.
#pragma once

#include "platform/kernel/system_info.h"
#include "platform/kernel/types.h"

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;
// Every GDI object (bitmap, brush, pen, font, region) is one kind of handle, so a
// selected object can be given back and selected again without casts.
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HPEN = HGDIOBJ;
using HFONT = HGDIOBJ;
using HRGN = HGDIOBJ;

// 0x00BBGGRR.
using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue) {
  return COLORREF(red) | (COLORREF(green) << 8) | (COLORREF(blue) << 16);
}
constexpr BYTE GetRValue(COLORREF colour) { return BYTE(colour & 0xFF); }
constexpr BYTE GetGValue(COLORREF colour) { return BYTE((colour >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF colour) { return BYTE((colour >> 16) & 0xFF); }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

struct POINT {
  LONG x;
  LONG y;
};
using LPPOINT = POINT*;

struct SIZE {
  LONG cx;
  LONG cy;
};
using LPSIZE = SIZE*;

using LPCRECT = const RECT*;

// Rectangle helpers of the window manager (right and bottom are exclusive).
BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom);
BOOL SetRectEmpty(LPRECT rect);
BOOL CopyRect(LPRECT target, LPCRECT source);
BOOL IsRectEmpty(LPCRECT rect);
BOOL PtInRect(LPCRECT rect, POINT point);
BOOL OffsetRect(LPRECT rect, int dx, int dy);
BOOL InflateRect(LPRECT rect, int dx, int dy);
// FALSE (and an empty target) when the two do not overlap.
BOOL IntersectRect(LPRECT target, LPCRECT first, LPCRECT second);
BOOL UnionRect(LPRECT target, LPCRECT first, LPCRECT second);
BOOL EqualRect(LPCRECT first, LPCRECT second);
