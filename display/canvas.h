// The Canvas: a target surface, a clip rectangle and the blitter every pixel goes
// through. Every operation clips, so callers may pass any coordinates.
#pragma once

#include <cstdint>

#include "display/blitter.h"
#include "display/display.h"
#include "display/geometry.h"
#include "display/surface.h"

namespace display {

struct Canvas {
    Canvas() = default;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    // Runs canvas_destroy, so a Canvas may simply be deleted.
    ~Canvas();

    // Drawn into; not owned.
    Surface* target = nullptr;
    // Right and bottom exclusive; always inside the target's bounds.
    Rect clip{0, 0, 0, 0};
    // The current pixel writer: the global copy blitter, or one of the two below.
    Blitter* blitter = nullptr;
    // Owned, made on first use.
    BlendBlitter* blend_blitter = nullptr;
    FilterBlitter* filter_blitter = nullptr;

    // Window form only: the display's settled parameters, the display (owned), and the
    // surface whose buffer is the display's back buffer from begin scene to present.
    DisplayParameters parameters{0, 0, 0, 0};
    Display* display = nullptr;
    Surface back_buffer{nullptr, no_colour_key, nullptr, nullptr};
};

// Rectangle helpers: the smaller left and top with the larger right and bottom; and a
// rectangle grown to take in a point (an edge at or before the point moves past it).
Rect rect_union(const Rect& a, const Rect& b);
Rect rect_include(const Rect& rect, Point point);

// Copy blitter, no blend or filter blitter, then canvas_set_target when surface is given.
void canvas_init(Canvas* canvas, Surface* surface);
// Null when surface is null or memory runs out; owner is not used.
Canvas* canvas_create_for_surface(Canvas* owner, Surface* surface);
// A Canvas owning a Display for window, with the parameters it settled on; null when
// no display can be made.
Canvas* canvas_create_for_window(HWND window, const DisplayParameters* parameters);
// Destroys the display and the blend and filter blitters; the record itself is left to
// its holder. Safe to call twice.
void canvas_destroy(Canvas* canvas);

// Returns the previous target; the clip becomes the whole new target.
Surface* canvas_set_target(Canvas* canvas, Surface* surface);
// The clip becomes the target's bounds intersected with rect (possibly empty).
void canvas_set_clip(Canvas* canvas, const Rect& rect);
// Levels (mod 256) 0-251 blend every later write; 252-255 go back to plain copying.
void canvas_set_blend(Canvas* canvas, int32_t level);
// Every later write goes through filter.
void canvas_set_filter(Canvas* canvas, PixelFilter* filter);
void canvas_reset_blitter(Canvas* canvas);

// Opens a frame: the back buffer surface becomes the target and is returned; null when
// the display gives no back buffer (drawing until present then finds no pixels).
Surface* canvas_begin_scene(Canvas* canvas);
// Sends rect (null: what the display last chose) and shows the frame.
void canvas_present(Canvas* canvas, const Rect* rect);

void canvas_clear(Canvas* canvas, uint16_t colour);
void canvas_fill_rect(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour);
void canvas_fill_rect_r(Canvas* canvas, const Rect* rect, uint16_t colour);
// Pixels x .. x + length - 1 of row y.
void canvas_draw_hline(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour);
// Pixels y .. y + length of column x; nothing when length < 1.
void canvas_draw_vline(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour);
// Vertical lines include both ends, horizontal ones stop before the larger x, others
// include both ends.
void canvas_draw_line(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour);
void canvas_draw_line_to(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour);
// The outline of columns left .. right - 1 and rows top .. bottom - 1.
void canvas_draw_rect(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour);
void canvas_draw_rect_r(Canvas* canvas, const Rect* rect, uint16_t colour);
void canvas_draw_polygon(Canvas* canvas, const Point* points, int32_t count, uint16_t colour);
// Exact for convex polygons: two crossings per row.
void canvas_fill_polygon(Canvas* canvas, const Point* points, int32_t count, uint16_t colour);
void canvas_draw_circle(Canvas* canvas, int32_t cx, int32_t cy, int32_t radius, uint16_t colour);
void canvas_set_pixel(Canvas* canvas, int32_t x, int32_t y, uint16_t colour);
// The value at (x, y) of the target; 0 outside it or when it has no pixels.
uint16_t canvas_get_pixel(Canvas* canvas, int32_t x, int32_t y);
// 8x16 one-bit glyphs (16 bytes each, bit 7 leftmost) of the NUL-ended text. Mode 0
// starts at x, 2 centres, 3 right-aligns (9 pixels a character), others start at 0.
void canvas_draw_text(Canvas* canvas, const uint8_t* font_data, const char16_t* text, int32_t mode, int32_t x,
                      int32_t y, uint16_t colour, int32_t advance);

// Blits take the whole source when source_rect is null; a source colour key other than
// -1 makes pixels of that value transparent.
void canvas_blit_surface(Canvas* canvas, int32_t x, int32_t y, const Surface* surface, const Rect* source_rect);
// Weighted by the green field of alpha_surface, laid out like surface; no colour key.
void canvas_blit_sprite(Canvas* canvas, int32_t x, int32_t y, const Surface* surface, const Surface* alpha_surface,
                        const Rect* source_rect);
void canvas_blit_scaled(Canvas* canvas, const Rect* destination, const Surface* surface, const Rect* source_rect);
// Turned by angle radians about its centre and drawn centred on (cx, cy).
void canvas_blit_rotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const Surface* surface);
// source_rect stretched over all of scratch_surface, which is then drawn rotated.
void canvas_blit_scaled_rotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const Surface* surface,
                                Surface* scratch_surface, const Rect* source_rect);
void canvas_blit_rotozoom(Canvas* canvas, int32_t cx, int32_t cy, float angle, const Surface* surface,
                          const Surface* alpha_surface);
void canvas_blit_scaled_sprite(Canvas* canvas, const Rect* destination, const Surface* surface,
                               const Surface* alpha_surface, const Rect* source_rect);

}  // namespace display
