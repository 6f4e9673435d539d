// Drawing, measuring and laying out text of glyph fonts, and their built-ins.
#include "game/glyph_fonts.h"

#include <cstring>
#include <string>

#include "display/canvas.h"
#include "display/surface.h"
#include "foundation/address_set.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

int32_t glyph_render_count = 255;

namespace {

// Codes beyond the font's own table use glyph 0; a font without a table draws nothing.
const GlyphEntry* glyph_of(const GlyphFont* font, char16_t code) {
  if (font->glyphs == nullptr || font->glyph_count <= 0) return nullptr;
  return &font->glyphs[code < font->glyph_count ? code : 0];
}

bool is_line_control(char16_t c) { return c == u'\n' || c == u'\t' || c == u'\r'; }

AddressSet& live_fonts() {
  static auto* fonts = new AddressSet();
  return *fonts;
}

}  // namespace

void glyph_font_enter(const GlyphFont* font) { live_fonts().insert(font); }

void glyph_font_leave(const GlyphFont* font) { live_fonts().erase(font); }

void free_glyph_font(GlyphFont* font) {
  if (font == nullptr) return;
  display::surface_delete(font->strip);
  delete[] font->glyphs;
  font->strip = nullptr;
  font->glyphs = nullptr;
  font->glyph_count = 0;
}

int32_t measure_glyph_text(const GlyphFont* font, const char16_t* text) {
  int32_t width = 0;
  for (; *text; ++text)
    if (const GlyphEntry* glyph = glyph_of(font, *text)) width += glyph->width;
  return width;
}

void draw_glyph_text(GlyphFont* font, display::Canvas* canvas, int32_t x, int32_t y, const char16_t* text) {
  if (canvas == nullptr || font->strip == nullptr || font->strip->buffer == nullptr) return;
  int32_t height = int32_t(font->strip->buffer->height);
  int64_t pen = x;
  for (; *text; ++text) {
    const GlyphEntry* glyph = glyph_of(font, *text);
    if (glyph == nullptr) continue;
    display::Rect cell{glyph->offset, 0, glyph->offset + glyph->width + font->cell_spacing, height};
    display::canvas_blit_surface(canvas, clamp_to_int32(pen), y, font->strip, &cell);
    pen += glyph->width;
  }
}

void layout_glyph_text(GlyphFont* font, display::Canvas* canvas, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, const char16_t* text, int32_t wrap) {
  TextBoxClip clip = clip_to_text_box(canvas, left, top, right, bottom);
  font->cursor_y = top;
  // Wide: a box at the 32-bit limits must not wrap the pen round to the other side.
  int64_t x = left;
  const GlyphEntry* space = glyph_of(font, u' ');
  std::u16string word;
  for (size_t index = 0; text[index] != 0; ++index) {
    char16_t c = text[index];
    if (!is_line_control(c)) word.push_back(c);
    bool ends = c == u' ' || c < 32 || text[index + 1] == 0;
    if (ends) {
      int64_t width = measure_glyph_text(font, word.c_str());
      if (wrap != 0 && x + width > right) {
        x = left;
        if (left + width > right) break;  // wider than the whole box
        int32_t old_y = font->cursor_y;
        font->cursor_y = clamp_to_int32(int64_t(font->cursor_y) + font->line_height);
        if (bottom != -1 && old_y + 2 * int64_t(font->line_height) > bottom) break;
      }
      draw_glyph_text(font, canvas, clamp_to_int32(x), font->cursor_y, word.c_str());
      x += width;
    }
    if (ends || c < 32) {
      word.clear();
      if (c == u'\n') {
        x = left;
        font->cursor_y = clamp_to_int32(int64_t(font->cursor_y) + font->line_height);
      } else if (c == u'\t') {
        x += int64_t(font->tab_size) * (space ? space->width : 0);
      }
    }
  }
  restore_text_box_clip(clip);
}

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

// A font argument: null for 0 and for any number that names no live font, which also
// sets *bad when asked.
GlyphFont* pop_font(bool* bad = nullptr) {
  auto* font = platform::pointer_from<GlyphFont>(pop_address());
  if (font == nullptr || live_fonts().contains(font)) return font;
  if (bad) *bad = true;
  return nullptr;
}

// Narrow text comes converted; the program owns the copy.
const char16_t* pop_text() {
  const char16_t* text = cell_wide_text(stack_pop(current_program));
  return text ? text : u"";
}

void builtin_g_fonts() {
  int32_t count = pop_integer();
  // Codes are 16 bits wide: a glyph past the last code is never drawn, and a count of
  // billions would size the font's tables past what the machine can allocate.
  constexpr int32_t kGlyphCodes = 0x10000;
  glyph_render_count = count > 0 ? (count < kGlyphCodes ? count : kGlyphCodes) : 0;
}

// Takes every handle of the call, as its registration passes them, and pushes nothing.
void builtin_g_freefont() {
  ValueCell* mark;
  if (!stack_take_mark(current_program, &mark)) return;
  while (current_program->stack_top && current_program->stack_top != mark) {
    GlyphFont* font = pop_font();
    if (font == nullptr) continue;
    if (memory_tracking) untrack_allocation(font);
    glyph_font_leave(font);
    free_glyph_font(font);
    delete font;
  }
}

void builtin_g_drawtextex() {
  int32_t wrap = pop_integer();
  int32_t bottom = pop_integer();
  int32_t right = pop_integer();
  int32_t top = pop_integer();
  int32_t left = pop_integer();
  const char16_t* text = pop_text();
  GlyphFont* font = pop_font();
  if (font == nullptr) {
    push_result(0);
    return;
  }
  layout_glyph_text(font, game.draw_canvas, left, top, right, bottom, text, wrap);
  push_result(font->cursor_y);
}

void builtin_g_drawtext() {
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  const char16_t* text = pop_text();
  GlyphFont* font = pop_font();
  if (font) draw_glyph_text(font, game.draw_canvas, x, y, text);
}

void builtin_g_textwidth() {
  const char16_t* text = pop_text();
  GlyphFont* font = pop_font();
  push_result(font ? measure_glyph_text(font, text) : 0);
}

void builtin_g_fontheight() {
  GlyphFont* font = pop_font();
  push_result(font ? font->line_height : 0);
}

void builtin_g_cachetext() {
  constexpr uint16_t kTransparent = 0xF81F;
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  const char16_t* text = pop_text();
  // Font 0 gives a blank picture; a number that names no font gives none.
  bool bad = false;
  GlyphFont* font = pop_font(&bad);
  display::Surface* surface = width >= 0 && height >= 0 && !bad
                                  ? display::surface_new(uint32_t(width), uint32_t(height))
                                  : nullptr;
  if (surface && surface->buffer == nullptr) {
    display::surface_delete(surface);
    surface = nullptr;
  }
  if (surface) {
    // Filled directly: a blend level in force must not mix the key with undefined pixels.
    display::PixelBuffer* buffer = surface->buffer;
    for (uint32_t y = 0; y < buffer->height; ++y)
      for (uint32_t x = 0; x < buffer->width; ++x) *buffer->at(int32_t(x), int32_t(y)) = kTransparent;
    display::Canvas* canvas = game.draw_canvas;
    if (font && canvas) {
      display::Surface* previous = display::canvas_set_target(canvas, surface);
      layout_glyph_text(font, canvas, 0, 0, width, height, text, 1);
      display::canvas_set_target(canvas, previous);
    }
    surface->colour_key = kTransparent;
  }
  push_result(platform::address_of(surface));
}

}  // namespace

void register_glyph_font_builtins() {
  builtin_register("g_fonts", builtin_g_fonts);
  builtin_register("g_freefont", builtin_g_freefont);
  builtin_register("g_drawtextex", builtin_g_drawtextex);
  builtin_register("g_drawtext", builtin_g_drawtext);
  builtin_register("g_textwidth", builtin_g_textwidth);
  builtin_register("g_fontheight", builtin_g_fontheight);
  builtin_register("g_cachetext", builtin_g_cachetext);
}
