// The game's drawing built-ins: script surfaces, primitives, the VGA font and text, image
// loading and the seed fill. They all draw through game.draw_canvas; the game display
// start-up fills that canvas and the two records below.
#pragma once

#include <cstdint>

namespace display {
struct Canvas;
struct Surface;
}  // namespace display

// A raw 8 x 16 bitmap font: 16 bytes a glyph, one byte a row, bit 7 leftmost.
struct VgaFont {
  // Owned (crt::malloc); null when the font could not be read. Always at least
  // kVgaFontBytes long when set, so every code the drawing picks lies inside it.
  uint8_t* data;
  // The advance per character and the line height of the text built-ins.
  int32_t width, height;
};
static_assert(sizeof(VgaFont) == 12, "a VGA font is a 12-byte record");

constexpr uint32_t kVgaFontBytes = 256 * 16;

// What the game display hands the drawing: the surface standing for the screen's back
// buffer and the default VGA font (owned by the display, not freed here).
struct GameDrawingTargets {
  display::Surface* back_buffer;
  VgaFont* vga_font;
};
extern GameDrawingTargets game_drawing;

// A new font record over a copy of size bytes (padded with blank glyphs to a full font);
// data null or size 0 gives a record without data. Null when out of memory.
VgaFont* vga_font_from_bytes(const uint8_t* data, uint32_t size, int32_t width, int32_t height);
void vga_font_free(VgaFont* font);

// A surface handle argument: the live surface it names, null for 0. Any other number (a
// freed surface, another kind of handle, a made-up one) gives null too and sets *bad,
// so that a built-in reading 0 as "the current target" refuses it instead.
display::Surface* pop_surface_handle(bool* bad);

// Whether font names a live VGA font record (one vga_font_from_bytes made, not yet freed).
bool vga_font_is_live(const VgaFont* font);

// The image file as a new surface: BMP files through the shell's bitmap loader, the rest
// through the display's decoder. Null when neither reads it.
display::Surface* load_image_surface(const char* file_name);
// An image held in memory (BMP, PNG, JPEG or GIF) as a new surface, or null.
display::Surface* load_image_surface_from_memory(const uint8_t* begin, const uint8_t* end);

// Fills the 4-connected region of the seed pixel's value with the RGB565 colour of red,
// green and blue, within the game screen and the canvas's target.
void flood_fill(display::Canvas* canvas, int32_t x, int32_t y, int32_t red, int32_t green, int32_t blue);

// Clips the canvas to a text box; an empty box (a bottom of -1 or -2 makes one) leaves
// the whole target drawable. Returns the clip to restore afterwards.
struct TextBoxClip {
  display::Canvas* canvas;
  int32_t saved[4];
};
TextBoxClip clip_to_text_box(display::Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom);
void restore_text_box_clip(const TextBoxClip& clip);

void register_game_drawing_builtins();
