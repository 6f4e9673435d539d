// The immediate-mode drawing built-ins: colours, clearing, rectangles, lines, circles,
// pixels, the seed fill, clipping, blending, the screen size and VGA-font text; and the
// VGA font built-ins. Everything draws through game.draw_canvas and does nothing while
// no game display gives one.
#include <string>

#include "display/canvas.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/glyph_fonts.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

uint16_t pop_colour() { return uint16_t(pop_integer() & 0xFFFF); }

// ---- Colours, clearing and shapes ----

void builtin_g_rgb() {
  int32_t blue = pop_integer();
  int32_t green = pop_integer();
  int32_t red = pop_integer();
  // Blue is shifted unmasked: a value above 255 spills into green, as scripts expect.
  push_result(((red & 0xF8) << 8 | (green & 0xFC) << 3 | blue >> 3) & 0xFFFF);
}

void builtin_g_clear() {
  uint16_t colour = pop_colour();
  if (game.draw_canvas) display::canvas_clear(game.draw_canvas, colour);
}

void builtin_g_fillrect() {
  uint16_t colour = pop_colour();
  RECT box = pop_rect();
  if (game.draw_canvas) display::canvas_fill_rect(game.draw_canvas, box.left, box.top, box.right, box.bottom, colour);
}

void builtin_g_drawrect() {
  uint16_t colour = pop_colour();
  RECT box = pop_rect();
  display::Canvas* canvas = game.draw_canvas;
  if (!canvas) return;
  // A bottom below the target still gets its edge, on the target's last row.
  if (canvas->target && canvas->target->buffer && box.bottom > int32_t(canvas->target->buffer->height)) {
    box.bottom = int32_t(canvas->target->buffer->height);
  }
  display::canvas_draw_rect(canvas, box.left, box.top, box.right, box.bottom, colour);
}

void builtin_g_line() {
  uint16_t colour = pop_colour();
  RECT box = pop_rect();
  if (game.draw_canvas) display::canvas_draw_line(game.draw_canvas, box.left, box.top, box.right, box.bottom, colour);
}

void builtin_g_circle() {
  uint16_t colour = pop_colour();
  int32_t radius = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  if (game.draw_canvas) display::canvas_draw_circle(game.draw_canvas, x, y, radius, colour);
}

void builtin_g_setpixel() {
  uint16_t colour = pop_colour();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  if (game.draw_canvas) display::canvas_set_pixel(game.draw_canvas, x, y, colour);
}

void builtin_g_getpixel() {
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  // The canvas reads 0 outside its target.
  push_result(game.draw_canvas ? display::canvas_get_pixel(game.draw_canvas, x, y) : 0);
}

void builtin_g_floodfill() {
  int32_t blue = pop_integer();
  int32_t green = pop_integer();
  int32_t red = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  flood_fill(game.draw_canvas, x, y, red, green, blue);
}

void builtin_g_setclipping() {
  RECT box = pop_rect();
  if (game.draw_canvas) display::canvas_set_clip(game.draw_canvas, {box.left, box.top, box.right, box.bottom});
}

void builtin_g_setblend() {
  int32_t level = pop_integer();
  if (game.draw_canvas) display::canvas_set_blend(game.draw_canvas, level & 255);
}

void builtin_g_width() { push_result(game.screen_width); }
void builtin_g_height() { push_result(game.screen_height); }

// ---- VGA-font text ----

// The font a text built-in draws with: the handle's when it has glyphs, else the game's.
// A number that names no live font gives null (and *bad): the built-in draws nothing.
const VgaFont* pop_text_font(bool* bad) {
  const auto* font = platform::pointer_from<const VgaFont>(pop_address());
  if (font != nullptr && !vga_font_is_live(font)) {
    *bad = true;
    return nullptr;
  }
  if (font != nullptr && font->data != nullptr) return font;
  return game_drawing.vga_font;
}

// The text argument as a UTF-16 copy (numbers come formatted); free with crt::free.
char16_t* pop_wide_text() { return to_wide(pop_narrow_text()); }

void draw_vga_text(const VgaFont* font, const char16_t* text, int32_t mode, int32_t x, int32_t y, uint16_t colour) {
  if (game.draw_canvas == nullptr || font == nullptr) return;
  display::canvas_draw_text(game.draw_canvas, font->data, text, mode, x, y, colour, font->width);
}

void builtin_g_textout() {
  uint16_t colour = pop_colour();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  int32_t mode = pop_integer();
  char16_t* text = pop_wide_text();
  bool bad = false;
  const VgaFont* font = pop_text_font(&bad);
  if (!bad) draw_vga_text(font, text, mode, x, y, colour);
  crt::free(text);
}

bool ends_word_alone(char16_t c) { return c == u'\n' || c == u'\t' || c == u'\r'; }

}  // namespace

TextBoxClip clip_to_text_box(display::Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  TextBoxClip clip{canvas, {0, 0, 0, 0}};
  if (canvas == nullptr) return clip;
  clip.saved[0] = canvas->clip.left;
  clip.saved[1] = canvas->clip.top;
  clip.saved[2] = canvas->clip.right;
  clip.saved[3] = canvas->clip.bottom;
  display::Rect box{left, top, right, bottom};
  if (box.empty()) {
    // No box to clip to: the whole target, as the layout has no bottom limit then.
    display::canvas_set_target(canvas, canvas->target);
  } else {
    display::canvas_set_clip(canvas, box);
  }
  return clip;
}

void restore_text_box_clip(const TextBoxClip& clip) {
  if (clip.canvas) clip.canvas->clip = {clip.saved[0], clip.saved[1], clip.saved[2], clip.saved[3]};
}

// Lays text out in the box with optional word wrap; a bottom of -1 has no limit and -2
// only measures. The row below the last line.
int32_t layout_vga_text(const VgaFont* font, const char16_t* text, int32_t left, int32_t top, int32_t right,
                        int32_t bottom, uint16_t colour, int32_t wrap) {
  // Without any font the layout still measures in the default font's cells.
  int32_t glyph_width = font ? font->width : 8;
  int32_t glyph_height = font ? font->height : 16;
  TextBoxClip clip = clip_to_text_box(game.draw_canvas, left, top, right, bottom);
  // Wide: a box at the 32-bit limits must not wrap the pen round to the other side.
  int64_t x = left, y = top;
  std::u16string word;
  for (size_t index = 0; text[index] != 0; ++index) {
    char16_t c = text[index];
    if (!ends_word_alone(c)) word.push_back(c);
    bool last = text[index + 1] == 0;
    if (!ends_word_alone(c) && !(c == u' ' && wrap != 0) && !last) continue;
    int64_t width = int64_t(glyph_width) * int64_t(word.size());
    if (wrap != 0 && x + width > right) {
      if (left + width > right) break;  // the word can never fit
      x = left;
      y += glyph_height;
      if (bottom != -1 && bottom != -2 && y + glyph_height > bottom) break;
    }
    if (bottom != -2 && !word.empty()) draw_vga_text(font, word.c_str(), 0, clamp_to_int32(x), clamp_to_int32(y), colour);
    x += width;
    word.clear();
    if (c == u'\n') {
      x = left;
      y += glyph_height;
    } else if (c == u'\t') {
      x += 2 * int64_t(glyph_width);
    }
  }
  restore_text_box_clip(clip);
  return clamp_to_int32(y + glyph_height);
}

namespace {

void builtin_g_textoutex() {
  int32_t wrap = pop_integer();
  uint16_t colour = pop_colour();
  RECT box = pop_rect();
  char16_t* text = pop_wide_text();
  bool bad = false;
  const VgaFont* font = pop_text_font(&bad);
  push_result(bad ? 0 : layout_vga_text(font, text, box.left, box.top, box.right, box.bottom, colour, wrap));
  crt::free(text);
}

// ---- VGA fonts ----

void builtin_g_loadvgafont() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  const char* name = pop_narrow_text();
  int32_t size = 0;
  char* data = read_file_to_buffer(name, &size, -1, -1);
  VgaFont* font = vga_font_from_bytes(reinterpret_cast<const uint8_t*>(data), size > 0 ? uint32_t(size) : 0, width,
                                      height);
  crt::free(data);
  push_result(platform::address_of(font));
}

void builtin_g_loadvgafontfrommem() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  auto* block = platform::pointer_from<const uint8_t>(uint32_t(stack_pop_int(current_program)));
  VgaFont* font = vga_font_from_bytes(block, alloc_block_size(block), width, height);
  push_result(platform::address_of(font));
}

void builtin_g_freevgafont() {
  auto* font = platform::pointer_from<VgaFont>(pop_address());
  // The game display owns its default font and frees it itself.
  if (font != game_drawing.vga_font && vga_font_is_live(font)) vga_font_free(font);
}

}  // namespace

void register_surface_builtins();

void register_game_drawing_builtins() {
  builtin_register("g_RGB", builtin_g_rgb);
  builtin_register("g_clear", builtin_g_clear);
  builtin_register("g_fillrect", builtin_g_fillrect);
  builtin_register("g_drawrect", builtin_g_drawrect);
  builtin_register("g_line", builtin_g_line);
  builtin_register("g_circle", builtin_g_circle);
  builtin_register("g_setpixel", builtin_g_setpixel);
  builtin_register("g_getpixel", builtin_g_getpixel);
  builtin_register("g_floodfill", builtin_g_floodfill);
  builtin_register("g_setclipping", builtin_g_setclipping);
  builtin_register("g_setblend", builtin_g_setblend);
  builtin_register("g_width", builtin_g_width);
  builtin_register("g_height", builtin_g_height);
  builtin_register("g_textout", builtin_g_textout);
  builtin_register("g_textoutex", builtin_g_textoutex);
  builtin_register("g_loadvgafont", builtin_g_loadvgafont);
  builtin_register("g_loadvgafontfrommem", builtin_g_loadvgafontfrommem);
  builtin_register("g_freevgafont", builtin_g_freevgafont);
  register_surface_builtins();
  register_glyph_font_builtins();
}
