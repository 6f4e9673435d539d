// Canvas: clipping every drawing operation to the target and the clip rectangle, then
// handing the pixels to the current blitter; window canvases also bracket frames.
#include "display/canvas.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace display {

namespace {

// Coordinates are clipped in 64 bits, so no sum of script values can overflow.
int32_t clamp32(int64_t value) {
    if (value < INT32_MIN) return INT32_MIN;
    if (value > INT32_MAX) return INT32_MAX;
    return int32_t(value);
}

Rect bounds_of(const PixelBuffer* buffer) {
    if (buffer == nullptr) return Rect{0, 0, 0, 0};
    return Rect{0, 0, clamp32(buffer->width), clamp32(buffer->height)};
}

// The target's pixels and the clip cut to them: the target's buffer may have been
// swapped for a smaller one since the clip was set. Null when there is nothing to draw on.
PixelBuffer* drawable(const Canvas* canvas, Rect* clip) {
    if (canvas->target == nullptr || canvas->target->buffer == nullptr) return nullptr;
    PixelBuffer* buffer = canvas->target->buffer;
    *clip = intersect(canvas->clip, bounds_of(buffer));
    return buffer;
}

bool inside(const Rect& clip, int64_t x, int64_t y) {
    return x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
}

// The source rectangle cut to the source and the destination at (x, y) cut to the clip,
// each cut moving the other by the same amount. False when nothing is left.
bool clip_blit(const Rect& clip, int64_t x, int64_t y, const PixelBuffer* source, const Rect* source_rect,
               Point* dst_point, Rect* src) {
    Rect whole = bounds_of(source);
    Rect wanted = source_rect != nullptr ? *source_rect : whole;
    int64_t left = wanted.left, top = wanted.top, right = wanted.right, bottom = wanted.bottom;
    // Source pixels outside the source do not exist: trim them and shift the destination.
    if (left < 0) x -= left, left = 0;
    if (top < 0) y -= top, top = 0;
    if (right > whole.right) right = whole.right;
    if (bottom > whole.bottom) bottom = whole.bottom;
    if (right <= left || bottom <= top) return false;
    int64_t dst_left = x, dst_top = y, dst_right = x + (right - left), dst_bottom = y + (bottom - top);
    if (dst_left < clip.left) left += clip.left - dst_left, dst_left = clip.left;
    if (dst_top < clip.top) top += clip.top - dst_top, dst_top = clip.top;
    if (dst_right > clip.right) dst_right = clip.right;
    if (dst_bottom > clip.bottom) dst_bottom = clip.bottom;
    if (dst_right <= dst_left || dst_bottom <= dst_top) return false;
    *dst_point = Point{int32_t(dst_left), int32_t(dst_top)};
    *src = Rect{int32_t(left), int32_t(top), int32_t(left + (dst_right - dst_left)),
                int32_t(top + (dst_bottom - dst_top))};
    return true;
}

// The alpha map is read with the source's pitch: it must hold every byte that reaches.
bool alpha_covers(const PixelBuffer* alpha, const PixelBuffer* source, const Rect& src) {
    if (alpha == nullptr || alpha->pixels == nullptr) return false;
    uint64_t reach = uint64_t(source->pitch) * uint32_t(src.bottom - 1) + 2 * uint64_t(uint32_t(src.right));
    return reach <= uint64_t(alpha->pitch) * alpha->height;
}

// The stretch of source over destination, as the transformed blits take it.
TransformMatrix stretch_matrix(const Rect& destination, const Rect& source) {
    int64_t step_x = (int64_t(source.right - int64_t(source.left)) * 1024) / (int64_t(destination.right) - destination.left);
    int64_t step_y = (int64_t(source.bottom - int64_t(source.top)) * 1024) / (int64_t(destination.bottom) - destination.top);
    step_x = int32_t(uint32_t(step_x));
    step_y = int32_t(uint32_t(step_y));
    // The offsets wrap in 32 bits, as the fixed-point sums that use them do.
    uint32_t ox = (uint32_t(source.left) * 1024u - uint32_t(destination.left) * uint32_t(step_x)) << 6;
    uint32_t oy = (uint32_t(source.top) * 1024u - uint32_t(destination.top) * uint32_t(step_y)) << 6;
    return TransformMatrix{int32_t(step_x), 0, 0, int32_t(step_y), int32_t(ox), int32_t(oy)};
}

struct Rotation {
    int32_t radius;
    int32_t cosine;  // in 1/1024
    int32_t sine;
};

// Null radius when the angle is not a number the table of sines can take.
Rotation rotation_of(const PixelBuffer* source, float angle) {
    float half_w = float(source->width) / 2.0f, half_h = float(source->height) / 2.0f;
    float turned = -angle;
    if (!std::isfinite(turned)) return Rotation{0, 0, 0};
    return Rotation{int32_t(std::sqrt(half_w * half_w + half_h * half_h) + 1.0f),
                    int32_t(std::cos(turned) * 1024.0f), int32_t(std::sin(turned) * 1024.0f)};
}

TransformMatrix rotation_matrix(const Rotation& turn, const PixelBuffer* source, int32_t cx, int32_t cy) {
    uint32_t c = uint32_t(turn.cosine), s = uint32_t(turn.sine);
    uint32_t half_w = source->width << 9, half_h = source->height << 9;
    uint32_t ox = (half_w - c * uint32_t(cx) - s * uint32_t(cy)) << 6;
    uint32_t oy = (s * uint32_t(cx) - c * uint32_t(cy) + half_h) << 6;
    return TransformMatrix{turn.cosine, -turn.sine, turn.sine, turn.cosine, int32_t(ox), int32_t(oy)};
}

// The whole-surface blit of the transformed operations, keyed when the source has a key.
void transformed(Blitter* blitter, PixelBuffer* dst, const Rect& rect, const TransformMatrix& matrix,
                 const Surface* source) {
    if (source->colour_key >= 0) {
        blitter->blit_transformed_keyed(dst, rect, matrix, source->buffer, uint16_t(source->colour_key));
    } else {
        blitter->blit_transformed(dst, rect, matrix, source->buffer);
    }
}

// A scratch surface of that size, cleared to colour. Scratch pixels start undefined, so
// they are stored plainly whatever the canvas blends with.
Surface* scratch_surface(int32_t width, int32_t height, uint16_t colour) {
    Surface* surface = surface_new(uint32_t(width), uint32_t(height));
    if (surface == nullptr) return nullptr;
    if (surface->buffer == nullptr) {
        surface_delete(surface);
        return nullptr;
    }
    copy_blitter()->clear(surface->buffer, colour);
    return surface;
}

void hline(Canvas* canvas, int64_t x, int64_t y, int64_t length, uint16_t colour) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || y < clip.top || y >= clip.bottom) return;
    if (x < clip.left) {
        length -= clip.left - x;
        x = clip.left;
    }
    if (length > clip.right - x) length = clip.right - x;
    if (length < 1) return;
    canvas->blitter->draw_hline(buffer, Point{int32_t(x), int32_t(y)}, int32_t(length), colour);
}

void vline(Canvas* canvas, int64_t x, int64_t y, int64_t length, uint16_t colour) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || x < clip.left || x >= clip.right) return;
    if (y < clip.top) {
        length -= clip.top - y;
        y = clip.top;
    }
    if (length < 1 || y >= clip.bottom) return;
    if (y + length > clip.bottom - 1) length = clip.bottom - 1 - y;
    canvas->blitter->draw_vline(buffer, Point{int32_t(x), int32_t(y)}, int32_t(length), colour);
}

int outcode(const Rect& clip, int64_t x, int64_t y) {
    return (x < clip.left ? 1 : 0) | (x >= clip.right ? 2 : 0) | (y < clip.top ? 4 : 0) | (y >= clip.bottom ? 8 : 0);
}

// Cohen-Sutherland; true with both ends moved inside the clip when some of it is visible.
bool clip_line(const Rect& clip, int64_t* x1, int64_t* y1, int64_t* x2, int64_t* y2) {
    if (clip.empty()) return false;
    int code1 = outcode(clip, *x1, *y1), code2 = outcode(clip, *x2, *y2);
    // Each pass puts one end on an edge; truncation may need a few more than four.
    for (int pass = 0; pass < 16; ++pass) {
        if ((code1 | code2) == 0) return true;
        if ((code1 & code2) != 0) return false;
        bool first = code1 != 0;
        int code = first ? code1 : code2;
        int64_t x, y;
        const int64_t dx = *x2 - *x1, dy = *y2 - *y1;
        if (code & 1) {
            x = clip.left;
            y = *y1 + dy * (clip.left - *x1) / dx;
        } else if (code & 2) {
            x = clip.right - 1;
            y = *y1 + dy * (clip.right - 1 - *x1) / dx;
        } else if (code & 4) {
            y = clip.top;
            x = *x1 + dx * (clip.top - *y1) / dy;
        } else {
            y = clip.bottom - 1;
            x = *x1 + dx * (clip.bottom - 1 - *y1) / dy;
        }
        if (first) {
            *x1 = x, *y1 = y;
            code1 = outcode(clip, x, y);
        } else {
            *x2 = x, *y2 = y;
            code2 = outcode(clip, x, y);
        }
    }
    return false;
}

}  // namespace

Canvas::~Canvas() { canvas_destroy(this); }

Rect rect_union(const Rect& a, const Rect& b) {
    return {a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
            a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom};
}

Rect rect_include(const Rect& rect, Point point) {
    Rect grown = rect;
    if (point.x < grown.left) grown.left = point.x;
    if (point.y < grown.top) grown.top = point.y;
    if (point.x >= grown.right) grown.right = point.x + 1;
    if (point.y >= grown.bottom) grown.bottom = point.y + 1;
    return grown;
}

// ---- Creation and set-up ----

void canvas_init(Canvas* canvas, Surface* surface) {
    canvas->target = nullptr;
    canvas->clip = Rect{0, 0, 0, 0};
    canvas->blitter = copy_blitter();
    canvas->blend_blitter = nullptr;
    canvas->filter_blitter = nullptr;
    if (surface != nullptr) canvas_set_target(canvas, surface);
}

Canvas* canvas_create_for_surface(Canvas*, Surface* surface) {
    if (surface == nullptr) return nullptr;
    auto* canvas = new (std::nothrow) Canvas;
    if (canvas == nullptr) return nullptr;
    canvas_init(canvas, surface);
    return canvas;
}

Canvas* canvas_create_for_window(HWND window, const DisplayParameters* parameters) {
    // The display first: a fault while it is made travels on to the caller's guard, and
    // nothing made before it would ever be freed.
    DisplayParameters wanted = *parameters;
    Display* display = Display::Create(window, &wanted);
    if (display == nullptr) return nullptr;
    auto* canvas = new (std::nothrow) Canvas;
    if (canvas == nullptr) {
        delete display;
        return nullptr;
    }
    canvas_init(canvas, nullptr);
    canvas->display = display;
    canvas->parameters = display->GetParameters();
    // Scripts hold the back buffer as a surface for as long as the display lives.
    try {
        surface_enter(&canvas->back_buffer);
    } catch (const std::bad_alloc&) {
        delete canvas;
        return nullptr;
    }
    return canvas;
}

void canvas_destroy(Canvas* canvas) {
    if (canvas->display != nullptr) {
        delete canvas->display;
        canvas->display = nullptr;
        // The back buffer's pixels were the display's, gone with it: never the surface's
        // to free.
        surface_set_buffer(&canvas->back_buffer, nullptr);
        surface_release(&canvas->back_buffer);
        surface_leave(&canvas->back_buffer);
    }
    if (canvas->target == &canvas->back_buffer) canvas->target = nullptr;
    canvas->blitter = copy_blitter();
    delete canvas->filter_blitter;
    canvas->filter_blitter = nullptr;
    delete canvas->blend_blitter;
    canvas->blend_blitter = nullptr;
}

Surface* canvas_set_target(Canvas* canvas, Surface* surface) {
    Surface* previous = canvas->target;
    canvas->target = surface;
    canvas->clip = bounds_of(surface != nullptr ? surface->buffer : nullptr);
    return previous;
}

void canvas_set_clip(Canvas* canvas, const Rect& rect) {
    canvas->clip = intersect(bounds_of(canvas->target != nullptr ? canvas->target->buffer : nullptr), rect);
}

void canvas_set_blend(Canvas* canvas, int32_t level) {
    level &= 255;
    if (level >= 252) {
        canvas_reset_blitter(canvas);
        return;
    }
    if (canvas->blend_blitter == nullptr) {
        canvas->blend_blitter = new (std::nothrow) BlendBlitter(level);
        if (canvas->blend_blitter == nullptr) return;
    } else {
        canvas->blend_blitter->set_level(level);
    }
    canvas->blitter = canvas->blend_blitter;
}

void canvas_set_filter(Canvas* canvas, PixelFilter* filter) {
    if (canvas->filter_blitter == nullptr) {
        canvas->filter_blitter = new (std::nothrow) FilterBlitter(filter);
        if (canvas->filter_blitter == nullptr) return;
    } else {
        canvas->filter_blitter->set_filter(filter);
    }
    canvas->blitter = canvas->filter_blitter;
}

void canvas_reset_blitter(Canvas* canvas) { canvas->blitter = copy_blitter(); }

// ---- Frames ----

Surface* canvas_begin_scene(Canvas* canvas) {
    if (canvas->display == nullptr) return nullptr;
    if (canvas->display->BeginScene()) surface_set_buffer(&canvas->back_buffer, canvas->display->GetBackBuffer());
    if (canvas->back_buffer.buffer == nullptr) return nullptr;
    canvas_set_target(canvas, &canvas->back_buffer);
    return &canvas->back_buffer;
}

void canvas_present(Canvas* canvas, const Rect* rect) {
    if (canvas->display == nullptr) return;
    if (rect != nullptr) canvas->display->Update(rect);
    canvas->display->Swap(0);
    surface_set_buffer(&canvas->back_buffer, nullptr);
}

// ---- Drawing ----

void canvas_clear(Canvas* canvas, uint16_t colour) {
    if (canvas->target == nullptr || canvas->target->buffer == nullptr) return;
    canvas->blitter->clear(canvas->target->buffer, colour);
}

void canvas_fill_rect(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr) return;
    Rect area = intersect(Rect{left, top, right, bottom}, clip);
    if (area.empty()) return;
    canvas->blitter->fill_rect(buffer, area, colour);
}

void canvas_fill_rect_r(Canvas* canvas, const Rect* rect, uint16_t colour) {
    canvas_fill_rect(canvas, rect->left, rect->top, rect->right, rect->bottom, colour);
}

void canvas_draw_hline(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour) {
    hline(canvas, x, y, length, colour);
}

void canvas_draw_vline(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour) {
    vline(canvas, x, y, length, colour);
}

void canvas_draw_line(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour) {
    if (x1 == x2) {
        vline(canvas, x1, y1 < y2 ? y1 : y2, std::abs(int64_t(y2) - y1), colour);
        return;
    }
    if (y1 == y2) {
        hline(canvas, x1 < x2 ? x1 : x2, y1, std::abs(int64_t(x2) - x1), colour);
        return;
    }
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr) return;
    int64_t ax = x1, ay = y1, bx = x2, by = y2;
    if (!clip_line(clip, &ax, &ay, &bx, &by)) return;
    canvas->blitter->draw_line(buffer, Point{int32_t(ax), int32_t(ay)}, Point{int32_t(bx), int32_t(by)}, colour);
}

void canvas_draw_line_to(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour) {
    canvas_draw_line(canvas, x1, y1, x2, y2, colour);
}

void canvas_draw_rect(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour) {
    const int64_t width = int64_t(right) - left, height = int64_t(bottom) - top;
    hline(canvas, left, top, width, colour);
    vline(canvas, left, int64_t(top) + 1, height - 2, colour);
    vline(canvas, int64_t(right) - 1, int64_t(top) + 1, height - 2, colour);
    hline(canvas, left, int64_t(bottom) - 1, width, colour);
}

void canvas_draw_rect_r(Canvas* canvas, const Rect* rect, uint16_t colour) {
    canvas_draw_rect(canvas, rect->left, rect->top, rect->right, rect->bottom, colour);
}

void canvas_draw_polygon(Canvas* canvas, const Point* points, int32_t count, uint16_t colour) {
    if (points == nullptr || count < 1) return;
    for (int32_t i = 0; i + 1 < count; ++i) {
        canvas_draw_line(canvas, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y, colour);
    }
    canvas_draw_line(canvas, points[0].x, points[0].y, points[count - 1].x, points[count - 1].y, colour);
}

void canvas_fill_polygon(Canvas* canvas, const Point* points, int32_t count, uint16_t colour) {
    if (points == nullptr || count < 1) return;
    if (count == 1) {
        canvas_draw_hline(canvas, points[0].x, points[0].y, 1, colour);
        return;
    }
    if (count == 2) {
        canvas_draw_line(canvas, points[0].x, points[0].y, points[1].x, points[1].y, colour);
        return;
    }
    if (canvas->target == nullptr || canvas->target->buffer == nullptr) return;
    const int64_t height = canvas->target->buffer->height;
    constexpr int32_t empty = -16000;
    std::unique_ptr<int32_t[]> first(new (std::nothrow) int32_t[size_t(height)]);
    std::unique_ptr<int32_t[]> second(new (std::nothrow) int32_t[size_t(height)]);
    if (!first || !second) return;
    for (int64_t row = 0; row < height; ++row) first[row] = second[row] = empty;
    int64_t min_y = height, max_y = 0;
    for (int32_t i = 0; i < count; ++i) {
        Point a = points[i], b = points[i + 1 < count ? i + 1 : 0];
        if (a.y == b.y) continue;
        if (a.y > b.y) std::swap(a, b);
        if (a.y < min_y) min_y = a.y;
        if (b.y > max_y) max_y = b.y;
        const int64_t step = ((int64_t(b.x) - a.x) * 256) / (int64_t(b.y) - a.y);
        // Only rows of the target are stored; the others need no walking.
        int64_t from = int64_t(a.y) + 1 > 0 ? int64_t(a.y) + 1 : 0;
        int64_t to = b.y < height - 1 ? b.y : height - 1;
        for (int64_t y = from; y <= to; ++y) {
            int32_t x = int32_t(uint32_t(((int64_t(a.x) * 256) + step * (y - a.y)) >> 8));
            if (first[y] == empty) {
                first[y] = x;
            } else {
                second[y] = x;
            }
        }
    }
    int64_t last = max_y < height ? max_y : height;
    for (int64_t y = min_y > 0 ? min_y : 0; y < last; ++y) {
        if (first[y] == empty) continue;
        if (second[y] == empty) second[y] = first[y];
        canvas_draw_line(canvas, first[y], int32_t(y), second[y], int32_t(y), colour);
    }
}

void canvas_draw_circle(Canvas* canvas, int32_t cx, int32_t cy, int32_t radius, uint16_t colour) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || clip.empty()) return;
    const int64_t x = cx, y = cy, r = radius;
    if (x + r < clip.left || y + r < clip.top || x - r >= clip.right || y - r >= clip.bottom) return;
    if (x - r >= clip.left && x + r < clip.right && y - r >= clip.top && y + r < clip.bottom) {
        canvas->blitter->draw_circle(buffer, Point{cx, cy}, radius, colour);
    } else {
        canvas->blitter->draw_circle_clipped(buffer, Point{cx, cy}, radius, colour, clip);
    }
}

void canvas_set_pixel(Canvas* canvas, int32_t x, int32_t y, uint16_t colour) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || !inside(clip, x, y)) return;
    canvas->blitter->set_pixel(buffer, Point{x, y}, colour);
}

uint16_t canvas_get_pixel(Canvas* canvas, int32_t x, int32_t y) {
    if (canvas->target == nullptr || canvas->target->buffer == nullptr) return 0;
    const PixelBuffer* buffer = canvas->target->buffer;
    // Scripts pass any point: one outside the pixels reads as 0, not as foreign memory.
    if (!inside(bounds_of(buffer), x, y)) return 0;
    return *buffer->at(x, y);
}

void canvas_draw_text(Canvas* canvas, const uint8_t* font_data, const char16_t* text, int32_t mode, int32_t x,
                      int32_t y, uint16_t colour, int32_t advance) {
    if (font_data == nullptr || text == nullptr || text[0] == 0) return;
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr) return;
    uint32_t count = 0;
    while (text[count] != 0) ++count;
    const uint32_t width = buffer->width;
    int64_t column;
    switch (mode) {
        case 0: column = x; break;
        // The shift is of the unsigned value: text wider than the target starts far right.
        case 2: column = int32_t((width - 9 * count + 1) >> 1); break;
        case 3: column = int32_t(width - 9 * count + 1); break;
        default: column = 0; break;
    }
    for (uint32_t i = 0; i < count; ++i, column += advance) {
        if (column + 7 < clip.left || column >= clip.right) continue;
        const uint8_t* glyph = font_data + 16 * (text[i] & 0xFF);
        for (int64_t row = 0; row < 16; ++row) {
            uint8_t bits = glyph[row];
            for (int64_t bit = 0; bit < 8; ++bit) {
                if ((bits & (0x80 >> bit)) == 0 || !inside(clip, column + bit, y + row)) continue;
                canvas->blitter->set_pixel(buffer, Point{int32_t(column + bit), int32_t(y + row)}, colour);
            }
        }
    }
}

// ---- Blits ----

void canvas_blit_surface(Canvas* canvas, int32_t x, int32_t y, const Surface* surface, const Rect* source_rect) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || surface == nullptr || surface->buffer == nullptr) return;
    Point at;
    Rect src;
    if (!clip_blit(clip, x, y, surface->buffer, source_rect, &at, &src)) return;
    if (surface->colour_key >= 0) {
        canvas->blitter->blit_keyed(buffer, at, surface->buffer, src, uint16_t(surface->colour_key));
    } else {
        canvas->blitter->blit(buffer, at, surface->buffer, src);
    }
}

void canvas_blit_sprite(Canvas* canvas, int32_t x, int32_t y, const Surface* surface, const Surface* alpha_surface,
                        const Rect* source_rect) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || surface == nullptr || surface->buffer == nullptr || alpha_surface == nullptr) return;
    Point at;
    Rect src;
    if (!clip_blit(clip, x, y, surface->buffer, source_rect, &at, &src)) return;
    if (!alpha_covers(alpha_surface->buffer, surface->buffer, src)) return;
    canvas->blitter->blit_alpha_map(buffer, at, surface->buffer, alpha_surface->buffer, src);
}

void canvas_blit_scaled(Canvas* canvas, const Rect* destination, const Surface* surface, const Rect* source_rect) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || destination == nullptr || surface == nullptr || surface->buffer == nullptr) return;
    Rect walked = intersect(*destination, clip);
    if (walked.empty()) return;
    Rect source = source_rect != nullptr ? *source_rect : bounds_of(surface->buffer);
    transformed(canvas->blitter, buffer, walked, stretch_matrix(*destination, source), surface);
}

void canvas_blit_rotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const Surface* surface) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || surface == nullptr || surface->buffer == nullptr) return;
    Rotation turn = rotation_of(surface->buffer, angle);
    if (turn.radius == 0) return;
    const int64_t r = turn.radius;
    Rect square{clamp32(cx - r), clamp32(cy - r), clamp32(cx + r), clamp32(cy + r)};
    Rect walked = intersect(square, clip);
    if (walked.empty()) return;
    transformed(canvas->blitter, buffer, walked, rotation_matrix(turn, surface->buffer, cx, cy), surface);
}

void canvas_blit_scaled_rotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const Surface* surface,
                                Surface* scratch_surface, const Rect* source_rect) {
    if (surface == nullptr || surface->buffer == nullptr || scratch_surface == nullptr ||
        scratch_surface->buffer == nullptr) {
        return;
    }
    // The caller's clip must still hold for the rotated blit. The scratch is written
    // plainly: the blend or filter applies once, when the result is drawn.
    const Rect clip = canvas->clip;
    Blitter* blitter = canvas->blitter;
    canvas->blitter = copy_blitter();
    Surface* previous = canvas_set_target(canvas, scratch_surface);
    if (surface->colour_key >= 0) {
        canvas_clear(canvas, uint16_t(surface->colour_key));
        scratch_surface->colour_key = surface->colour_key;
    }
    Rect whole = bounds_of(scratch_surface->buffer);
    canvas_blit_scaled(canvas, &whole, surface, source_rect);
    canvas->target = previous;
    canvas->clip = clip;
    canvas->blitter = blitter;
    canvas_blit_rotated(canvas, cx, cy, angle, scratch_surface);
}

void canvas_blit_rotozoom(Canvas* canvas, int32_t cx, int32_t cy, float angle, const Surface* surface,
                          const Surface* alpha_surface) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || surface == nullptr || surface->buffer == nullptr || alpha_surface == nullptr ||
        alpha_surface->buffer == nullptr) {
        return;
    }
    Rotation turn = rotation_of(surface->buffer, angle);
    if (turn.radius == 0) return;
    const int64_t r = turn.radius;
    Rect square{clamp32(cx - r), clamp32(cy - r), clamp32(cx + r), clamp32(cy + r)};
    Rect shown = intersect(square, clip);
    if (shown.empty() || 2 * r > INT32_MAX) return;
    const int32_t side = int32_t(2 * r);
    std::unique_ptr<Surface, void (*)(Surface*)> image(scratch_surface(side, side, 0), surface_delete);
    std::unique_ptr<Surface, void (*)(Surface*)> weights(scratch_surface(side, side, 0), surface_delete);
    if (!image || !weights) return;
    // Both turned about the scratch centre (r, r), written plainly: the blend or filter
    // applies once, when the result is drawn.
    const uint32_t c = uint32_t(turn.cosine), s = uint32_t(turn.sine), radius = uint32_t(r);
    const uint32_t ox = ((surface->buffer->width << 9) - (s + c) * radius) << 6;
    const uint32_t oy = ((s - c) * radius + (surface->buffer->height << 9)) << 6;
    const TransformMatrix matrix{turn.cosine, -turn.sine, turn.sine, turn.cosine, int32_t(ox), int32_t(oy)};
    const Rect all{0, 0, side, side};
    copy_blitter()->blit_transformed(image->buffer, all, matrix, surface->buffer);
    copy_blitter()->blit_transformed(weights->buffer, all, matrix, alpha_surface->buffer);
    Rect src{int32_t(shown.left - (cx - r)), int32_t(shown.top - (cy - r)), int32_t(shown.right - (cx - r)),
             int32_t(shown.bottom - (cy - r))};
    canvas->blitter->blit_alpha_map(buffer, Point{shown.left, shown.top}, image->buffer, weights->buffer, src);
}

void canvas_blit_scaled_sprite(Canvas* canvas, const Rect* destination, const Surface* surface,
                               const Surface* alpha_surface, const Rect* source_rect) {
    Rect clip;
    PixelBuffer* buffer = drawable(canvas, &clip);
    if (buffer == nullptr || destination == nullptr || surface == nullptr || surface->buffer == nullptr ||
        alpha_surface == nullptr || alpha_surface->buffer == nullptr) {
        return;
    }
    Rect shown = intersect(*destination, clip);
    if (shown.empty()) return;
    const int32_t width = shown.right - shown.left, height = shown.bottom - shown.top;
    std::unique_ptr<Surface, void (*)(Surface*)> image(scratch_surface(width, height, 0), surface_delete);
    std::unique_ptr<Surface, void (*)(Surface*)> weights(scratch_surface(width, height, 0), surface_delete);
    if (!image || !weights) return;
    // The full destination fixes the steps; the scratch holds only its visible part.
    Rect moved{int32_t(int64_t(destination->left) - shown.left), int32_t(int64_t(destination->top) - shown.top),
               int32_t(int64_t(destination->right) - shown.left), int32_t(int64_t(destination->bottom) - shown.top)};
    Rect source = source_rect != nullptr ? *source_rect : bounds_of(surface->buffer);
    const TransformMatrix matrix = stretch_matrix(moved, source);
    const Rect all{0, 0, width, height};
    copy_blitter()->blit_transformed(image->buffer, all, matrix, surface->buffer);
    copy_blitter()->blit_transformed(weights->buffer, all, matrix, alpha_surface->buffer);
    canvas->blitter->blit_alpha_map(buffer, Point{shown.left, shown.top}, image->buffer, weights->buffer, all);
}

}  // namespace display
