// Glyph-font text over a hand-made strip whose cells are solid blocks of the colour
// code + 1: measuring, drawing, word-wrapped layout and the glyph-font built-ins.
#include <gtest/gtest.h>

#include "../library/builtin_fixture.h"
#include "display/canvas.h"
#include "display/surface.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "game/glyph_fonts.h"
#include "game_screen.h"
#include "platform/kernel/types.h"

namespace {

using display::Surface;

constexpr uint16_t kKey = 0xF81F;

// A font of count codes laid out as a rendered strip is: cell i at the running offset,
// width(i) wide, then cell-spacing key columns and one more.
GlyphFont* make_font(int32_t count, int32_t line_height, int32_t (*width_of)(int32_t)) {
  auto* font = new GlyphFont{0, nullptr, new GlyphEntry[size_t(count)], count, line_height, line_height, 3};
  int32_t x = 0;
  for (int32_t i = 0; i < count; ++i) {
    font->glyphs[i] = {x, width_of(i)};
    x += width_of(i) + line_height + 1;
  }
  font->strip = display::surface_new(uint32_t((x + 1) & ~1), uint32_t(line_height));
  for (int32_t y = 0; y < line_height; ++y)
    for (int32_t px = 0; px < int32_t(font->strip->buffer->width); ++px) *font->strip->buffer->at(px, y) = kKey;
  for (int32_t i = 0; i < count; ++i)
    for (int32_t y = 0; y < line_height; ++y)
      for (int32_t px = 0; px < font->glyphs[i].width; ++px)
        *font->strip->buffer->at(font->glyphs[i].offset + px, y) = uint16_t(i + 1);
  font->strip->colour_key = kKey;
  // Live, as g_loadfont makes its fonts: the built-ins follow no other handle.
  glyph_font_enter(font);
  return font;
}

int32_t varied_width(int32_t code) { return 1 + code % 3; }
int32_t even_width(int32_t) { return 4; }

class GlyphFonts : public BuiltinTest {
 protected:
  GlyphFonts() : BuiltinTest(register_game_drawing_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    game = GameState{};
    ASSERT_NO_FATAL_FAILURE(open_game_screen(64, 32, screen, canvas));
    font = make_font(128, 4, even_width);
  }
  void TearDown() override {
    free_glyph_font(font);
    delete font;
    glyph_render_count = 255;
    close_game_screen(screen, canvas);
    game = GameState{};
    BuiltinTest::TearDown();
  }
  uint16_t pixel(int32_t x, int32_t y) const { return *screen->buffer->at(x, y); }
  // The code drawn at (x, y), or -1 for none.
  int32_t code_at(int32_t x, int32_t y) const { return int32_t(pixel(x, y)) - 1; }
  double drawtextex(const char* text, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t wrap) {
    push(platform::address_of(font));
    push_text(text);
    for (int32_t value : {left, top, right, bottom, wrap}) push(value);
    call("g_drawtextex");
    return pop_number();
  }
  bool any_code(int32_t code) const {
    for (int32_t y = 0; y < 32; ++y)
      for (int32_t x = 0; x < 64; ++x)
        if (code_at(x, y) == code) return true;
    return false;
  }

  void run_fonts(int32_t count) {
    push(count);
    call("g_fonts");
  }

  Surface* screen = nullptr;
  display::Canvas* canvas = nullptr;
  GlyphFont* font = nullptr;
};

TEST_F(GlyphFonts, MeasureAndDrawStayInTheFontsOwnTable) {
  GlyphFont* varied = make_font(5, 4, varied_width);
  EXPECT_EQ(measure_glyph_text(varied, u"\x01\x02\x04"), 2 + 3 + 2);
  // Codes beyond the table, even when the global count was raised since, draw as code 0.
  glyph_render_count = 1000;
  EXPECT_EQ(measure_glyph_text(varied, u"\x05\x1F4"), 1 + 1);
  draw_glyph_text(varied, canvas, 2, 3, u"\x02\x01\x1F4");
  EXPECT_EQ(code_at(2, 3), 2);
  EXPECT_EQ(code_at(4, 6), 2);
  EXPECT_EQ(code_at(5, 3), 1);
  EXPECT_EQ(code_at(7, 3), 0);
  // The spacing after the last cell is the key colour: nothing drawn there.
  EXPECT_EQ(code_at(8, 3), -1);
  EXPECT_EQ(code_at(2, 7), -1);
  free_glyph_font(varied);
  delete varied;
}

TEST_F(GlyphFonts, LayoutWrapsWordsWithTheirTrailingSpaces) {
  // "aaa " and "bbb " fill 32 of 40 pixels; "ccc " goes to the next line.
  EXPECT_EQ(drawtextex("aaa bbb ccc dddd", 0, 0, 40, -1, 1), 4);
  EXPECT_EQ(code_at(0, 0), 'a');
  EXPECT_EQ(code_at(16, 0), 'b');
  EXPECT_EQ(code_at(0, 4), 'c');
  EXPECT_EQ(code_at(16, 4), 'd');
  EXPECT_EQ(code_at(32, 0), -1);
  EXPECT_EQ(font->cursor_y, 4);
}

TEST_F(GlyphFonts, LayoutControlsAndLimits) {
  struct Case {
    const char* text;
    int32_t right, bottom, wrap;
    double result;
    int32_t x, y, code;  // a code expected at (x, y)
  } cases[] = {
      {"a\tb", 64, -1, 0, 0, 16, 0, 'b'},       // TAB: three space widths after "a"
      {"a\nb", 64, -1, 0, 4, 0, 4, 'b'},        // LF: next line at the left edge
      {"a\rb", 64, -1, 0, 0, 4, 0, 'b'},        // CR: skipped
      {"aaaa aaaa bb", 20, 6, 1, 4, 0, 0, 'a'},  // the second line would pass the bottom
  };
  for (const Case& c : cases) {
    display::canvas_clear(canvas, 0);
    EXPECT_EQ(drawtextex(c.text, 0, 0, c.right, c.bottom, c.wrap), c.result) << c.text;
    EXPECT_EQ(code_at(c.x, c.y), c.code) << c.text;
  }
  EXPECT_FALSE(any_code('b'));  // the bottom stopped the layout
  // A word wider than the box ends the layout: nothing from it on is drawn.
  display::canvas_clear(canvas, 0);
  drawtextex("aa wwwwwwwwww cc", 0, 0, 20, -1, 1);
  EXPECT_TRUE(any_code('a'));
  EXPECT_FALSE(any_code('w'));
  EXPECT_FALSE(any_code('c'));
  // Without wrap the line runs on and is clipped at the box; a box without a bottom
  // does not clip.
  display::canvas_clear(canvas, 0);
  drawtextex("aa wwwwwwwwww", 0, 0, 20, 32, 0);
  EXPECT_EQ(code_at(19, 0), 'w');
  EXPECT_EQ(code_at(20, 0), -1);
  display::canvas_clear(canvas, 0);
  drawtextex("aa wwwwwwwwww", 0, 0, 20, -1, 0);
  EXPECT_EQ(code_at(20, 0), 'w');
}

TEST_F(GlyphFonts, BuiltinsMeasureCacheAndFree) {
  push(platform::address_of(font));
  push_text("ab c");
  call("g_textwidth");
  EXPECT_EQ(pop_number(), 16);
  push(platform::address_of(font));
  call("g_fontheight");
  EXPECT_EQ(pop_number(), 4);
  push(platform::address_of(font));
  push_text("a b");
  push(0);
  push(0);
  call("g_drawtext");
  EXPECT_EQ(code_at(8, 0), 'b');

  push(platform::address_of(font));
  push_text("a");
  push(10);
  push(6);
  call("g_cachetext");
  auto* cached = platform::pointer_from<Surface>(uint32_t(pop_number()));
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->colour_key, kKey);
  EXPECT_EQ(*cached->buffer->at(0, 0), 'a' + 1);
  EXPECT_EQ(*cached->buffer->at(5, 0), kKey);
  EXPECT_EQ(*cached->buffer->at(0, 5), kKey);
  EXPECT_EQ(canvas->target, screen);
  display::surface_delete(cached);

  run_fonts(7);
  EXPECT_EQ(glyph_render_count, 7);
  run_fonts(-3);
  EXPECT_EQ(glyph_render_count, 0);
  // No more glyphs than 16-bit codes: the font's tables stay within what can be allocated.
  run_fonts(2147483647);
  EXPECT_EQ(glyph_render_count, 0x10000);

  // Every handle of the call is freed (0 among them); nothing is pushed.
  GlyphFont* a = make_font(3, 2, even_width);
  GlyphFont* b = make_font(3, 2, even_width);
  push(12345);
  mark();
  push(platform::address_of(a));
  push(0);
  push(platform::address_of(b));
  call("g_freefont");
  EXPECT_EQ(pop_number(), 12345);
}

}  // namespace
