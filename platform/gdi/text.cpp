// Text output and measuring: runs of glyphs blended into the target, the colours and
// background mode of a context, and DrawTextW's line breaking and alignment.
#include "platform/gdi/text.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/gdi/gdi_state.h"
#include "platform/user/window_state.h"

namespace platform::gdi {

void draw_run(const Target& target, Font& font, int x, int y, const WCHAR* text, int count, COLORREF colour,
              const int* widths) {
  int baseline = y + font.ascent;
  int pen = x;
  for (int i = 0; i < count; ++i) {
    const Glyph& glyph = font.glyph(text[i]);
    int left = pen + glyph.left, top = baseline + glyph.top;
    for (int row = 0; row < glyph.height; ++row) {
      int py = top + row;
      if (py < target.clip.top || py >= target.clip.bottom) continue;
      const uint8_t* coverage = &glyph.coverage[size_t(row) * glyph.width];
      for (int column = 0; column < glyph.width; ++column) {
        if (coverage[column]) blend_pixel(target, left + column, py, colour, coverage[column]);
      }
    }
    pen += widths ? widths[i] : glyph.advance;
  }
  if (font.underline || font.strike_out) {
    int line_y = font.underline ? baseline + 1 : baseline - font.ascent / 3;
    fill_pixels(target, {x, line_y, pen, line_y + 1}, colour);
  }
}

}  // namespace platform::gdi

using namespace platform::gdi;

namespace {

int length_of(LPCWSTR text, int count) {
  if (!text) return 0;
  if (count >= 0) return count;
  int length = 0;
  while (text[length]) ++length;
  return length;
}

int run_width(Font& font, const WCHAR* text, int count) {
  int width = 0;
  for (int i = 0; i < count; ++i) width += font.advance(text[i]);
  return width;
}

template <typename Value>
Value set_field(HDC dc, Value ContextState::*field, Value value, Value failure) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return failure;
  Value previous = dc->state.*field;
  dc->state.*field = value;
  return previous;
}

template <typename Value>
Value get_field(HDC dc, Value ContextState::*field, Value failure) {
  std::lock_guard hold(gdi_lock());
  return live_context(dc) ? dc->state.*field : failure;
}

}  // namespace

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  return set_field(dc, &ContextState::text_colour, colour & 0xFFFFFF, CLR_INVALID);
}
COLORREF GetTextColor(HDC dc) { return get_field(dc, &ContextState::text_colour, CLR_INVALID); }
COLORREF SetBkColor(HDC dc, COLORREF colour) {
  return set_field(dc, &ContextState::background_colour, colour & 0xFFFFFF, CLR_INVALID);
}
COLORREF GetBkColor(HDC dc) { return get_field(dc, &ContextState::background_colour, CLR_INVALID); }
int SetBkMode(HDC dc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return set_field(dc, &ContextState::background_mode, mode, 0);
}
int GetBkMode(HDC dc) { return get_field(dc, &ContextState::background_mode, 0); }
UINT SetTextAlign(HDC dc, UINT align) { return set_field(dc, &ContextState::text_align, align, UINT(0xFFFFFFFF)); }
UINT GetTextAlign(HDC dc) { return get_field(dc, &ContextState::text_align, UINT(0xFFFFFFFF)); }

BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, LPCRECT rect, LPCWSTR text, UINT count, const int* widths) {
  std::unique_lock hold(gdi_lock());
  Target target;
  if (!live_context(dc) || !resolve_target(dc, &target)) return FALSE;
  Font& font = context_font(dc);
  const ContextState& state = dc->state;
  int length = length_of(text, int(count));
  if (int(count) < 0) count = UINT(length);
  RECT device_rect{};
  if (rect) device_rect = {rect->left + target.origin.x, rect->top + target.origin.y, rect->right + target.origin.x,
                           rect->bottom + target.origin.y};
  if ((options & ETO_CLIPPED) && rect) {
    RECT clip;
    if (!IntersectRect(&clip, &target.clip, &device_rect)) SetRectEmpty(&clip);
    target.clip = clip;
  }
  if ((options & ETO_OPAQUE) && rect) fill_pixels(target, device_rect, state.background_colour);
  int width = 0;
  for (int i = 0; i < length; ++i) width += widths ? widths[i] : font.advance(text[i]);
  int height = font.ascent + font.descent;
  int left = x + target.origin.x, top = y + target.origin.y;
  UINT horizontal = state.text_align & TA_CENTER;
  if (horizontal == TA_CENTER) left -= width / 2;
  else if (horizontal == TA_RIGHT) left -= width;
  if ((state.text_align & TA_BASELINE) == TA_BASELINE) top -= font.ascent;
  else if (state.text_align & TA_BOTTOM) top -= height;
  if (state.background_mode == OPAQUE && length > 0) {
    fill_pixels(target, {left, top, left + width, top + height}, state.background_colour);
  }
  if (length > 0) draw_run(target, font, left, top, text, length, state.text_colour, widths);
  if (dc->kind != ContextKind::Memory) platform::user::screen_changed();
  return TRUE;
}

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
  return ExtTextOutW(dc, x, y, 0, nullptr, text, UINT(count), nullptr);
}

BOOL GetTextExtentExPointW(HDC dc, LPCWSTR text, int count, int max_extent, LPINT fit, LPINT partial_widths,
                           LPSIZE size) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc) || (!text && count > 0) || count < 0) return FALSE;
  Font& font = context_font(dc);
  int width = 0, fitting = 0;
  for (int i = 0; i < count; ++i) {
    width += font.advance(text[i]);
    if (partial_widths) partial_widths[i] = width;
    if (width <= max_extent) fitting = i + 1;
  }
  if (fit) *fit = fitting;
  if (size) *size = {width, font.ascent + font.descent};
  return TRUE;
}

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size) {
  return GetTextExtentExPointW(dc, text, count, 0, nullptr, nullptr, size);
}

BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc) || !metrics) return FALSE;
  Font& font = context_font(dc);
  *metrics = TEXTMETRICW{};
  metrics->tmHeight = font.ascent + font.descent;
  metrics->tmAscent = font.ascent;
  metrics->tmDescent = font.descent;
  metrics->tmInternalLeading = font.internal_leading;
  metrics->tmExternalLeading = font.external_leading;
  metrics->tmAveCharWidth = font.average_width;
  metrics->tmMaxCharWidth = font.maximum_width;
  metrics->tmWeight = font.weight;
  metrics->tmDigitizedAspectX = metrics->tmDigitizedAspectY = 96;
  metrics->tmFirstChar = 0x20;
  metrics->tmLastChar = 0xFFFC;
  metrics->tmDefaultChar = u'?';
  metrics->tmBreakChar = 0x20;
  metrics->tmItalic = font.italic;
  metrics->tmUnderlined = font.underline;
  metrics->tmStruckOut = font.strike_out;
  // The low pitch bit of a text metric is set for variable pitch (the reverse of LOGFONT),
  // and 0x4 marks a TrueType face.
  metrics->tmPitchAndFamily =
      BYTE((font.pitch_and_family & 0xF0) | ((font.pitch_and_family & FIXED_PITCH) ? 0 : 1) | 0x4);
  metrics->tmCharSet = ANSI_CHARSET;
  return TRUE;
}

int GetTextFaceW(HDC dc, int count, LPWSTR face) {
  std::lock_guard hold(gdi_lock());
  if (!live_context(dc)) return 0;
  const char16_t* family = context_font(dc).family;
  int length = 0;
  while (family[length]) ++length;
  if (!face) return length + 1;
  if (count <= 0) return 0;
  int copied = std::min(length, count - 1);
  std::copy(family, family + copied, face);
  face[copied] = 0;
  return copied;
}

namespace {

// One line of DrawTextW: its characters (prefix marks removed) and the index of the
// character to underline, or -1.
struct Line {
  std::u16string text;
  int underline = -1;
};

Line strip_prefix(const std::u16string& raw, bool prefix) {
  Line line;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (prefix && raw[i] == u'&') {
      if (i + 1 < raw.size() && raw[i + 1] == u'&') {
        line.text += u'&';
        ++i;
      } else if (i + 1 < raw.size()) {
        line.underline = int(line.text.size());
      }
      continue;
    }
    line.text += raw[i];
  }
  return line;
}

std::u16string expand_tabs(const std::u16string& text, bool expand) {
  if (!expand) return text;
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\t') out.append(8 - out.size() % 8, u' ');
    else out += c;
  }
  return out;
}

// Breaks one paragraph at word ends so each line fits in width (a word longer than the
// width stays whole on its own line, as the device does).
void wrap(Font& font, const std::u16string& paragraph, int width, std::vector<std::u16string>& lines) {
  size_t start = 0;
  while (start < paragraph.size()) {
    size_t end = start, last_break = std::u16string::npos;
    int line_width = 0;
    while (end < paragraph.size()) {
      int advance = font.advance(paragraph[end]);
      if (paragraph[end] == u' ') last_break = end;
      if (line_width + advance > width && end > start && paragraph[end] != u' ') break;
      line_width += advance;
      ++end;
    }
    if (end < paragraph.size() && last_break != std::u16string::npos && last_break > start) end = last_break;
    std::u16string line = paragraph.substr(start, end - start);
    while (!line.empty() && line.back() == u' ') line.pop_back();
    lines.push_back(line);
    start = end;
    while (start < paragraph.size() && paragraph[start] == u' ') ++start;
  }
  if (paragraph.empty()) lines.push_back(u"");
}

}  // namespace

int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format) {
  std::unique_lock hold(gdi_lock());
  Target target;
  if (!live_context(dc) || !rect || !resolve_target(dc, &target)) return 0;
  Font& font = context_font(dc);
  const ContextState& state = dc->state;
  int length = length_of(text, count);
  std::u16string all(text ? text : u"", size_t(length));
  bool prefix = !(format & DT_NOPREFIX);
  int line_height = font.ascent + font.descent;
  int box_width = rect->right - rect->left;

  std::vector<std::u16string> raw_lines;
  if (format & DT_SINGLELINE) {
    std::u16string single;
    for (char16_t c : all) single += (c == u'\r' || c == u'\n') ? u' ' : c;
    raw_lines.push_back(single);
  } else {
    size_t start = 0;
    for (size_t i = 0; i <= all.size(); ++i) {
      if (i == all.size() || all[i] == u'\r' || all[i] == u'\n') {
        std::u16string paragraph = expand_tabs(all.substr(start, i - start), format & DT_EXPANDTABS);
        if (format & DT_WORDBREAK) wrap(font, paragraph, box_width, raw_lines);
        else raw_lines.push_back(paragraph);
        if (i + 1 < all.size() && all[i] == u'\r' && all[i + 1] == u'\n') ++i;
        start = i + 1;
      }
    }
  }
  std::vector<Line> lines;
  int widest = 0;
  for (const auto& raw : raw_lines) {
    lines.push_back(strip_prefix(raw, prefix));
    widest = std::max(widest, run_width(font, lines.back().text.data(), int(lines.back().text.size())));
  }
  int total_height = line_height * int(lines.size());
  if (format & DT_CALCRECT) {
    rect->right = rect->left + widest;
    rect->bottom = rect->top + total_height;
    return total_height;
  }
  int top = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) top = rect->top + (rect->bottom - rect->top - line_height) / 2;
    else if (format & DT_BOTTOM) top = rect->bottom - line_height;
  }
  Target clipped = target;
  if (!(format & DT_NOCLIP)) {
    RECT device{rect->left + target.origin.x, rect->top + target.origin.y, rect->right + target.origin.x,
                rect->bottom + target.origin.y};
    if (!IntersectRect(&clipped.clip, &target.clip, &device)) SetRectEmpty(&clipped.clip);
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    std::u16string& line = lines[i].text;
    int width = run_width(font, line.data(), int(line.size()));
    if ((format & DT_END_ELLIPSIS) && width > box_width) {
      while (!line.empty() && run_width(font, line.data(), int(line.size())) + run_width(font, u"...", 3) > box_width) {
        line.pop_back();
      }
      line += u"...";
      width = run_width(font, line.data(), int(line.size()));
    }
    int left = rect->left;
    if (format & DT_CENTER) left = rect->left + (box_width - width) / 2;
    else if (format & DT_RIGHT) left = rect->right - width;
    int y = top + int(i) * line_height;
    int device_x = left + target.origin.x, device_y = y + target.origin.y;
    if (state.background_mode == OPAQUE && !line.empty()) {
      fill_pixels(clipped, {device_x, device_y, device_x + width, device_y + line_height}, state.background_colour);
    }
    draw_run(clipped, font, device_x, device_y, line.data(), int(line.size()), state.text_colour, nullptr);
    if (lines[i].underline >= 0 && lines[i].underline < int(line.size())) {
      int from = device_x + run_width(font, line.data(), lines[i].underline);
      int to = from + font.advance(line[size_t(lines[i].underline)]);
      int underline_y = device_y + font.ascent + 1;
      fill_pixels(clipped, {from, underline_y, to, underline_y + 1}, state.text_colour);
    }
  }
  if (dc->kind != ContextKind::Memory) platform::user::screen_changed();
  return total_height;
}
