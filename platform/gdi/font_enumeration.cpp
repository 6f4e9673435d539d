// The device's font families: the DejaVu faces that text is drawn with.
#include "platform/gdi/font_enumeration.h"

#include <cstring>

#include "platform/kernel/wide_string.h"

namespace {

struct FontFamily {
  const char16_t* name;
  BYTE pitch_and_family;
};

constexpr FontFamily kFamilies[] = {
    {u"DejaVu Sans", VARIABLE_PITCH | FF_SWISS},
    {u"DejaVu Sans Mono", FIXED_PITCH | FF_MODERN},
    {u"DejaVu Serif", VARIABLE_PITCH | FF_ROMAN},
};

bool same_name(const WCHAR* left, const WCHAR* right) { return crt::_wcsicmp(left, right) == 0; }

void describe(const FontFamily& family, bool bold, bool italic, LOGFONTW* font, NEWTEXTMETRICW* metrics) {
  std::memset(font, 0, sizeof *font);
  std::memset(metrics, 0, sizeof *metrics);
  constexpr LONG kHeight = 16;
  font->lfHeight = kHeight;
  font->lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font->lfItalic = italic ? 1 : 0;
  font->lfCharSet = ANSI_CHARSET;
  font->lfPitchAndFamily = family.pitch_and_family;
  size_t length = crt::wcslen(family.name);
  if (length >= static_cast<size_t>(LF_FACESIZE)) length = LF_FACESIZE - 1;
  std::memcpy(font->lfFaceName, family.name, length * sizeof(WCHAR));
  TEXTMETRICW& text = metrics->metrics;
  text.tmHeight = kHeight;
  text.tmAscent = 13;
  text.tmDescent = 3;
  text.tmInternalLeading = 2;
  text.tmAveCharWidth = (family.pitch_and_family & FIXED_PITCH) ? 8 : 7;
  text.tmMaxCharWidth = 16;
  text.tmWeight = font->lfWeight;
  text.tmDigitizedAspectX = text.tmDigitizedAspectY = 96;
  text.tmFirstChar = 0x20;
  text.tmLastChar = 0xFF;
  text.tmDefaultChar = u'?';
  text.tmBreakChar = 0x20;
  text.tmItalic = font->lfItalic;
  // The low pitch bit of a text metric is set for variable pitch (the reverse of LOGFONT).
  text.tmPitchAndFamily = static_cast<BYTE>((family.pitch_and_family & 0xF0) |
                                            ((family.pitch_and_family & FIXED_PITCH) ? 0 : 1) | 0x4);
  text.tmCharSet = ANSI_CHARSET;
  metrics->ntmSizeEM = 2048;
  metrics->ntmCellHeight = kHeight;
  metrics->ntmAvgWidth = static_cast<UINT>(text.tmAveCharWidth);
}

}  // namespace

int EnumFontFamiliesW(HDC, const WCHAR* family, FONTENUMPROCW callback, LPARAM parameter) {
  if (!callback) return 0;
  int result = 1;
  LOGFONTW font;
  NEWTEXTMETRICW metrics;
  for (const FontFamily& candidate : kFamilies) {
    if (!family) {
      describe(candidate, false, false, &font, &metrics);
      result = callback(&font, &metrics.metrics, TRUETYPE_FONTTYPE, parameter);
      if (!result) return 0;
      continue;
    }
    if (!same_name(family, candidate.name)) continue;
    for (int face = 0; face < 4; ++face) {
      describe(candidate, face & 1, face & 2, &font, &metrics);
      result = callback(&font, &metrics.metrics, TRUETYPE_FONTTYPE, parameter);
      if (!result) return 0;
    }
  }
  return result;
}
