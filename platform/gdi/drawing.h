// Drawing in device contexts: filling, shapes with the selected pen and brush, lines,
// pixels and copying between contexts.
#pragma once

#include "platform/gdi/gdi_types.h"

// Fills rect (right and bottom exclusive) with brush; FALSE for an unknown context or brush.
int FillRect(HDC dc, LPCRECT rect, HBRUSH brush);
// Draws a one-pixel frame along the inside of rect with brush.
int FrameRect(HDC dc, LPCRECT rect, HBRUSH brush);
// Draws a rectangle, ellipse or closed polygon: outlined with the pen, filled with the
// brush. The shape covers left..right-1, top..bottom-1.
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL RoundRect(HDC dc, int left, int top, int right, int bottom, int width, int height);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
BOOL Polygon(HDC dc, const POINT* points, int count);
// Open lines with the pen; LineTo draws up to, not including, its end point.
BOOL Polyline(HDC dc, const POINT* points, int count);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC dc, int x, int y);
// One pixel; SetPixel gives the colour set, GetPixel CLR_INVALID outside the clip.
COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour);
COLORREF GetPixel(HDC dc, int x, int y);

// Raster operations of BitBlt, StretchBlt and PatBlt.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// Copies a block from source to target (the raster operations above; the pattern is
// the target's brush). FALSE for an unknown context or operation.
BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int source_x, int source_y,
            DWORD operation);
// The same, scaling the source block to the target block (nearest pixel); a negative
// width or height mirrors.
BOOL StretchBlt(HDC target, int x, int y, int width, int height, HDC source, int source_x,
                int source_y, int source_width, int source_height, DWORD operation);
// Fills a block with the selected brush (PATCOPY, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS).
BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD operation);
// Draws a 3-D edge (buttons) along rect.
constexpr UINT BDR_RAISEDOUTER = 0x1;
constexpr UINT BDR_SUNKENOUTER = 0x2;
constexpr UINT BDR_RAISEDINNER = 0x4;
constexpr UINT BDR_SUNKENINNER = 0x8;
constexpr UINT EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr UINT BF_RECT = 0xF;
BOOL DrawEdge(HDC dc, LPRECT rect, UINT edge, UINT flags);
// Draws the dotted focus frame along the inside of rect by inverting every other pixel,
// so a second call removes it.
BOOL DrawFocusRect(HDC dc, LPCRECT rect);
