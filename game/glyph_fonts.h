// Glyph fonts: a system font rendered once into a strip of cells, drawn by blitting
// cells through the game canvas; with the word-wrapping layout and the text measure.
#pragma once

#include <cstdint>

namespace display {
struct Canvas;
struct Surface;
}  // namespace display

struct GlyphEntry {
  // Where the code's cell starts in the strip, and the character's advance.
  int32_t offset, width;
};

// Scripts hold a font by this record's address.
struct GlyphFont {
  // The y of the layout's current line.
  int32_t cursor_y;
  // The strip and the table, both owned.
  display::Surface* strip;
  GlyphEntry* glyphs;
  // Entries in glyphs: the glyph count in force when the font was rendered.
  int32_t glyph_count;
  int32_t line_height;
  // Key-colour columns after each cell in the strip.
  int32_t cell_spacing;
  // A TAB advances by this many space widths.
  int32_t tab_size;
};

// Codes rendered into each new strip (0 to count - 1); 255 at start-up.
extern int32_t glyph_render_count;

// Counts a font record live (throws std::bad_alloc when the count cannot grow): the
// font built-ins follow only a handle that names a live font.
void glyph_font_enter(const GlyphFont* font);
// Counts it gone again.
void glyph_font_leave(const GlyphFont* font);

// Releases the strip and the table; the record is left to the caller.
void free_glyph_font(GlyphFont* font);
// One line from (x, y), no wrapping.
void draw_glyph_text(GlyphFont* font, display::Canvas* canvas, int32_t x, int32_t y, const char16_t* text);
// Word-wrapped inside the box (bottom -1: no bottom limit); the last line's y is left in
// the font's cursor_y.
void layout_glyph_text(GlyphFont* font, display::Canvas* canvas, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, const char16_t* text, int32_t wrap);
// The sum of the characters' advances.
int32_t measure_glyph_text(const GlyphFont* font, const char16_t* text);

void register_glyph_font_builtins();

// Renders the face at the point size (style bits: 1 bold, 2 italic, 4 underline, 8
// strike-out) in colour on key (both COLORREF) into the font's strip and glyph table, one
// cell for each code below the glyph count. False, with nothing rendered, for a size too
// large to draw: the font's lines or its strip would not fit the machine.
bool render_glyph_font(GlyphFont* font, const char16_t* face, int32_t point_size, uint32_t colour, int32_t style,
                       uint32_t key);
void register_glyph_font_loading_builtins();
