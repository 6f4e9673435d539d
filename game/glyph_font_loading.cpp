// g_loadfont: a system font rendered once through GDI into a glyph strip, one cell per
// character code, keyed so that only the characters' pixels are drawn.
#include <cstdlib>
#include <new>

#include "display/pixel_filter.h"
#include "display/surface.h"
#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "game/glyph_fonts.h"
#include "game/rects.h"
#include "platform/gdi/device_context.h"
#include "platform/gdi/drawing.h"
#include "platform/gdi/font_enumeration.h"
#include "platform/gdi/objects.h"
#include "platform/gdi/text.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// Glyphs taller than this are refused before the system makes the font: the strip holds
// every glyph side by side at that height, and its drawing context a second copy of it.
constexpr int64_t kLargestGlyphHeight = 1024;
// The strip's pixels, held twice while the glyphs are drawn into it.
constexpr uint64_t kLargestStripBytes = 64u << 20;

// The font's cell height in pixels for the point size (negative: the system's character
// height), wide so that any script number fits.
int64_t glyph_pixel_height(HDC dc, int32_t point_size) {
  return -(int64_t(GetDeviceCaps(dc, LOGPIXELSY)) * point_size / 72);
}

SIZE text_extent(HDC dc, const char16_t* text, int count) {
  SIZE size{0, 0};
  GetTextExtentExPointW(dc, text, count, 0, nullptr, nullptr, &size);
  return size;
}

HFONT create_font(HDC dc, const char16_t* face, int32_t point_size, int32_t style) {
  LOGFONTW description{};
  description.lfHeight = LONG(glyph_pixel_height(dc, point_size));
  description.lfWeight = style & 1 ? 700 : 400;
  description.lfItalic = BYTE(style & 2);
  description.lfUnderline = BYTE(style & 4);
  description.lfStrikeOut = BYTE(style & 8);
  description.lfQuality = NONANTIALIASED_QUALITY;
  for (int i = 0; i < LF_FACESIZE - 1 && face && face[i]; ++i) description.lfFaceName[i] = face[i];
  return CreateFontIndirectW(&description);
}

// Draws each code into its cell of a new strip filled with the key colour.
display::Surface* render_strip(const GlyphFont* font, HFONT gdi_font, const char16_t* codes, int32_t width,
                               COLORREF colour, COLORREF key) {
  display::Surface* strip = display::surface_new(uint32_t(width), uint32_t(font->line_height));
  if (strip == nullptr) return nullptr;
  HDC dc = display::surface_get_dc(strip, 0);
  if (dc == nullptr) return strip;
  RECT whole{0, 0, width, font->line_height};
  HBRUSH brush = CreateSolidBrush(key);
  FillRect(dc, &whole, brush);
  DeleteObject(brush);
  SetTextColor(dc, colour);
  SetBkColor(dc, key);
  HGDIOBJ previous = SelectObject(dc, gdi_font);
  for (int32_t i = 0; i < font->glyph_count; ++i) {
    ExtTextOutW(dc, font->glyphs[i].offset, 0, 0, nullptr, &codes[i], 1, nullptr);
  }
  SelectObject(dc, previous);
  display::surface_release_dc(strip, dc);
  return strip;
}

}  // namespace

bool render_glyph_font(GlyphFont* font, const char16_t* face, int32_t point_size, uint32_t colour, int32_t style,
                       uint32_t key) {
  font->tab_size = 3;
  // The context only measures: a one-pixel surface serves as well as the screen.
  display::Surface* measure = display::surface_new(1, 1);
  HDC dc = measure ? display::surface_get_dc(measure, 0) : nullptr;
  if (dc && std::abs(glyph_pixel_height(dc, point_size)) > kLargestGlyphHeight) {
    display::surface_release_dc(measure, dc);
    display::surface_delete(measure);
    return false;
  }
  HFONT gdi_font = dc ? create_font(dc, face, point_size, style) : nullptr;
  HGDIOBJ previous = dc && gdi_font ? SelectObject(dc, gdi_font) : nullptr;

  int32_t count = glyph_render_count;
  font->glyphs = new (std::nothrow) GlyphEntry[size_t(count > 0 ? count : 0)];
  auto* codes = new (std::nothrow) char16_t[size_t(count > 0 ? count : 0) + 1];
  bool fits = true;
  if (font->glyphs && codes && dc) {
    font->glyph_count = count;
    for (int32_t i = 0; i < count; ++i) codes[i] = char16_t(i);
    font->cell_spacing = text_extent(dc, codes, count).cy;
    int64_t x = 0;
    for (int32_t i = 0; i < count; ++i) {
      int32_t width = text_extent(dc, &codes[i], 1).cx;
      font->glyphs[i] = GlyphEntry{clamp_to_int32(x), width};
      x += int64_t(font->cell_spacing) + width + 1;
    }
    font->line_height = text_extent(dc, codes, count).cy;
    int64_t strip_width = (x + 1) & ~int64_t(1);
    fits = strip_width >= 0 && font->line_height >= 0 &&
           2 * uint64_t(strip_width) * uint64_t(font->line_height) <= kLargestStripBytes;
    if (fits) font->strip = render_strip(font, gdi_font, codes, int32_t(strip_width), colour, key);
    if (font->strip) {
      COLORREF key_value = key;
      font->strip->colour_key = display::colorref_to_rgb565(&key_value);
    }
  }
  delete[] codes;
  if (previous) SelectObject(dc, previous);
  if (gdi_font) DeleteObject(gdi_font);
  if (dc) display::surface_release_dc(measure, dc);
  display::surface_delete(measure);
  return fits;
}

namespace {

void builtin_g_loadfont() {
  int32_t key = pop_integer();
  int32_t style = pop_integer();
  auto colour = uint32_t(pop_integer());
  int32_t point_size = pop_integer();
  const char* face = pop_narrow_text();
  auto* font = new (std::nothrow) GlyphFont{};
  try {
    glyph_font_enter(font);
  } catch (const std::bad_alloc&) {
    delete font;
    font = nullptr;
  }
  if (font) {
    char16_t* wide_face = to_wide(face);
    bool drawn = render_glyph_font(font, wide_face, point_size, colour, style, key == -1 ? 0xFF00FF : uint32_t(key));
    crt::free(wide_face);
    if (drawn) {
      if (memory_tracking) track_allocation(nullptr, 0, font, sizeof(GlyphFont));
    } else {
      // A size too large to draw gives no font.
      glyph_font_leave(font);
      free_glyph_font(font);
      delete font;
      font = nullptr;
    }
  }
  stack_push_number(current_program, platform::address_of(font));
}

}  // namespace

void register_glyph_font_loading_builtins() { builtin_register("g_loadfont", builtin_g_loadfont); }
