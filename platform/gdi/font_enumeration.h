// Font records and the enumeration of the device's font families.
#pragma once

#include "platform/kernel/types.h"

struct HDC__;
using HDC = HDC__*;
using LPARAM = LONG_PTR;

constexpr int LF_FACESIZE = 32;
constexpr DWORD RASTER_FONTTYPE = 0x1;
constexpr DWORD DEVICE_FONTTYPE = 0x2;
constexpr DWORD TRUETYPE_FONTTYPE = 0x4;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE FIXED_PITCH = 0x1;
constexpr BYTE VARIABLE_PITCH = 0x2;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;

struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW layout");

struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};
static_assert(sizeof(TEXTMETRICW) == 60, "TEXTMETRICW layout");

// The metrics an enumeration hands over: the text metrics and four more words.
struct NEWTEXTMETRICW {
  TEXTMETRICW metrics;
  DWORD ntmFlags;
  UINT ntmSizeEM;
  UINT ntmCellHeight;
  UINT ntmAvgWidth;
};
static_assert(sizeof(NEWTEXTMETRICW) == 76, "NEWTEXTMETRICW layout");

using FONTENUMPROCW = int (*)(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD font_type, LPARAM parameter);

// With family null: calls callback once per font family of the device (its regular
// face). With a family: once per face of that family (regular, bold, italic, bold
// italic); an unknown family reports nothing. Stops when callback returns 0 and gives
// that 0; otherwise the last value callback returned (1 when it was never called).
// The metrics point at a NEWTEXTMETRICW. The device context is not needed to list fonts.
int EnumFontFamiliesW(HDC dc, const WCHAR* family, FONTENUMPROCW callback, LPARAM parameter);
