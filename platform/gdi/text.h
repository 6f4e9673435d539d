// Fonts and text: TrueType faces (the device's families map onto DejaVu) drawn and
// measured in device contexts, and the text colours and background mode.
#pragma once

#include "platform/gdi/font_enumeration.h"
#include "platform/gdi/gdi_types.h"

constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_LIGHT = 300;
constexpr LONG FW_MEDIUM = 500;
constexpr LONG FW_SEMIBOLD = 600;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE CLEARTYPE_QUALITY = 5;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FF_DONTCARE = 0;

// A font. lfHeight < 0 asks for that character height in pixels, > 0 for that cell
// height (ascent plus descent), 0 for the default (12 pixels). The face name chooses the
// family: "DejaVu Sans Mono" and the fixed-pitch faces ("Courier New", "Courier", or a
// FIXED_PITCH/FF_MODERN request) give DejaVu Sans Mono, the serif faces ("Times New
// Roman", FF_ROMAN) DejaVu Serif, anything else DejaVu Sans; weight 600 and above is bold,
// lfItalic oblique; NONANTIALIASED_QUALITY draws glyphs without partly covered pixels.
// Null for a null record or when out of memory.
HFONT CreateFontIndirectW(const LOGFONTW* font);

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Colours and mode of text (and of the gaps of dashed pens); each gives the previous
// value, CLR_INVALID (0 for the mode) for an unknown context.
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF GetTextColor(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF colour);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);

// Text alignment of ExtTextOutW: the reference point is the top-left of the text unless
// TA_BASELINE/TA_BOTTOM or TA_CENTER/TA_RIGHT say otherwise.
constexpr UINT TA_TOP = 0;
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;
UINT SetTextAlign(HDC dc, UINT align);
UINT GetTextAlign(HDC dc);

// ExtTextOutW options.
constexpr UINT ETO_OPAQUE = 0x2;
constexpr UINT ETO_CLIPPED = 0x4;

// Draws count characters of text (count -1: up to its terminator) at x,y with the selected
// font. ETO_OPAQUE fills rect with the background colour first, ETO_CLIPPED clips to it
// (rect may be null otherwise); with OPAQUE mode the text's own cell is filled too.
// widths, when given, are the advances of the characters. FALSE for an unknown context.
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, LPCRECT rect, LPCWSTR text, UINT count,
                 const int* widths);
// ExtTextOutW without options or widths.
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count);

// DrawTextW formats.
constexpr UINT DT_TOP = 0x0;
constexpr UINT DT_LEFT = 0x0;
constexpr UINT DT_CENTER = 0x1;
constexpr UINT DT_RIGHT = 0x2;
constexpr UINT DT_VCENTER = 0x4;
constexpr UINT DT_BOTTOM = 0x8;
constexpr UINT DT_WORDBREAK = 0x10;
constexpr UINT DT_SINGLELINE = 0x20;
constexpr UINT DT_EXPANDTABS = 0x40;
constexpr UINT DT_NOCLIP = 0x100;
constexpr UINT DT_CALCRECT = 0x400;
constexpr UINT DT_NOPREFIX = 0x800;
constexpr UINT DT_END_ELLIPSIS = 0x8000;

// Draws text (count -1: up to its terminator) formatted inside rect: lines broken at
// CR, LF or CR LF (unless DT_SINGLELINE) and at word ends with DT_WORDBREAK, aligned by
// the DT_ flags, '&' marking an underlined character unless DT_NOPREFIX ("&&" is one
// '&'), clipped to rect unless DT_NOCLIP. DT_CALCRECT draws nothing and sets rect's
// right and bottom to the text's extent. Gives the height of the text drawn; 0 on error.
int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format);

// Measures count characters: their whole extent in size and, when fit is given, how many
// fit within max_extent (fit and partial_widths, the end of each character, may be null).
BOOL GetTextExtentExPointW(HDC dc, LPCWSTR text, int count, int max_extent, LPINT fit,
                           LPINT partial_widths, LPSIZE size);
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size);
// The selected font's metrics.
BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics);
// The face name of the selected font (its DejaVu family); the units copied.
int GetTextFaceW(HDC dc, int count, LPWSTR face);
