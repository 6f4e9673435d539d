// The Canvas against per-pixel expectations built here: each case draws on a small
// surface of distinct pixels (odd width, so rows carry padding bytes that must stay
// untouched) and the whole surface is compared with a picture painted by the test.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "display/window_system.h"
#include "display/display_layer.h"

using namespace display;

namespace {

constexpr int canvas_w = 11;
constexpr int canvas_h = 9;
constexpr uint8_t padding_byte = 0x5A;

uint16_t background(int x, int y) { return uint16_t(0x1000 + 97 * y + 13 * x); }

// The expected pixels of a surface, painted by the test.
struct Picture {
    int width;
    int height;
    std::vector<uint16_t> pixels;
    uint16_t& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    bool contains(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

struct SurfaceDeleter {
    void operator()(Surface* surface) const { surface_delete(surface); }
};
using SurfacePtr = std::unique_ptr<Surface, SurfaceDeleter>;

SurfacePtr make_surface(int width, int height, std::function<uint16_t(int, int)> fill = background) {
    SurfacePtr surface(surface_new(uint32_t(width), uint32_t(height)));
    PixelBuffer* buffer = surface->buffer;
    std::memset(buffer->pixels, padding_byte, size_t(buffer->pitch) * buffer->height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) *buffer->at(x, y) = fill(x, y);
    return surface;
}

Picture picture_of(const Surface* surface) {
    Picture picture{int(surface->buffer->width), int(surface->buffer->height), {}};
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) picture.pixels.push_back(*surface->buffer->at(x, y));
    return picture;
}

// Every pixel as painted, and the row padding as it was.
void expect_picture(const Surface* surface, Picture& want, const std::string& label) {
    const PixelBuffer* buffer = surface->buffer;
    for (int y = 0; y < want.height; ++y) {
        for (int x = 0; x < want.width; ++x) {
            if (*buffer->at(x, y) != want.at(x, y)) {
                ADD_FAILURE() << label << ": pixel (" << x << ", " << y << ") is " << *buffer->at(x, y) << ", want "
                              << want.at(x, y);
                return;
            }
        }
        for (uint32_t byte = 2 * buffer->width; byte < buffer->pitch; ++byte) {
            if (buffer->pixels[buffer->pitch * uint32_t(y) + byte] != padding_byte) {
                ADD_FAILURE() << label << ": padding of row " << y << " written";
                return;
            }
        }
    }
}

bool in_rect(const Rect& r, int64_t x, int64_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// Paints colour at each listed point inside both the picture and the clip.
void paint(Picture& picture, const Rect& clip, const std::vector<std::pair<int64_t, int64_t>>& points,
           uint16_t colour) {
    for (auto [x, y] : points)
        if (picture.contains(x, y) && in_rect(clip, x, y)) picture.at(int(x), int(y)) = colour;
}

const Rect whole{0, 0, canvas_w, canvas_h};
constexpr uint16_t ink = 0xF00F;

struct Drawing {
    SurfacePtr surface = make_surface(canvas_w, canvas_h);
    Canvas canvas;
    Picture want = picture_of(surface.get());
    explicit Drawing(const Rect& clip) {
        canvas_init(&canvas, surface.get());
        canvas_set_clip(&canvas, clip);
    }
};

// ---- Target and clip ----

TEST(Canvas, ClipIsTheTargetCutToTheRequestedRectangle) {
    struct Case {
        Rect requested;
        Rect want;
    } cases[] = {
        {{2, 3, 6, 7}, {2, 3, 6, 7}},
        {{-5, -5, 4, 4}, {0, 0, 4, 4}},
        {{5, 5, 100, 100}, {5, 5, canvas_w, canvas_h}},
        {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, whole},
        {{6, 2, 3, 8}, {6, 2, 3, 8}},  // inverted: kept, and empty
    };
    auto surface = make_surface(canvas_w, canvas_h);
    Canvas canvas;
    canvas_init(&canvas, surface.get());
    EXPECT_EQ(canvas.clip.right, canvas_w);
    EXPECT_EQ(canvas.clip.bottom, canvas_h);
    for (const Case& c : cases) {
        canvas_set_clip(&canvas, c.requested);
        EXPECT_EQ(canvas.clip.left, c.want.left);
        EXPECT_EQ(canvas.clip.top, c.want.top);
        EXPECT_EQ(canvas.clip.right, c.want.right);
        EXPECT_EQ(canvas.clip.bottom, c.want.bottom);
    }
    auto other = make_surface(4, 3);
    EXPECT_EQ(canvas_set_target(&canvas, other.get()), surface.get());
    EXPECT_EQ(canvas.clip.right, 4);
    EXPECT_EQ(canvas.clip.bottom, 3);
}

TEST(Canvas, RectangleHelpers) {
    Rect u = rect_union(Rect{2, 5, 4, 9}, Rect{-1, 6, 3, 12});
    EXPECT_EQ(u.left, -1);
    EXPECT_EQ(u.top, 5);
    EXPECT_EQ(u.right, 4);
    EXPECT_EQ(u.bottom, 12);
    Rect grown = rect_include(Rect{2, 2, 5, 5}, Point{5, 1});
    EXPECT_EQ(grown.left, 2);
    EXPECT_EQ(grown.top, 1);
    EXPECT_EQ(grown.right, 6);
    EXPECT_EQ(grown.bottom, 5);
    grown = rect_include(Rect{2, 2, 5, 5}, Point{0, 4});
    EXPECT_EQ(grown.left, 0);
    EXPECT_EQ(grown.right, 5);
}

// ---- Rectangles, lines and pixels ----

TEST(Canvas, FillRectCoversTheRectangleInsideTheClip) {
    struct Case {
        const char* name;
        Rect clip;
        Rect rect;
    } cases[] = {
        {"inside", whole, {2, 3, 6, 5}},
        {"past every edge", whole, {-3, -2, 20, 30}},
        {"left and top edges", whole, {-2, -4, 3, 2}},
        {"right and bottom edges", whole, {8, 6, 12, 10}},
        {"cut by the clip", {3, 2, 7, 6}, {0, 0, 5, 9}},
        {"empty", whole, {4, 4, 4, 8}},
        {"inverted", whole, {6, 6, 2, 2}},
        {"outside the clip", {0, 0, 3, 3}, {3, 3, 6, 6}},
        {"empty clip", {5, 5, 5, 5}, {0, 0, 11, 9}},
        {"extreme", whole, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}},
    };
    for (const Case& c : cases) {
        Drawing d(c.clip);
        canvas_fill_rect(&d.canvas, c.rect.left, c.rect.top, c.rect.right, c.rect.bottom, ink);
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x)
                if (in_rect(c.rect, x, y) && in_rect(d.canvas.clip, x, y)) d.want.at(x, y) = ink;
        expect_picture(d.surface.get(), d.want, c.name);
    }
}

std::vector<std::pair<int64_t, int64_t>> row(int64_t y, int64_t from, int64_t to) {
    std::vector<std::pair<int64_t, int64_t>> points;
    for (int64_t x = from; x <= to; ++x) points.push_back({x, y});
    return points;
}

std::vector<std::pair<int64_t, int64_t>> column(int64_t x, int64_t from, int64_t to) {
    std::vector<std::pair<int64_t, int64_t>> points;
    for (int64_t y = from; y <= to; ++y) points.push_back({x, y});
    return points;
}

TEST(Canvas, StraightLinesAndTheirEnds) {
    using Points = std::vector<std::pair<int64_t, int64_t>>;
    const Rect inner{2, 1, 8, 7};
    struct Case {
        const char* name;
        Rect clip;
        std::function<void(Canvas*)> draw;
        Points want;
    } cases[] = {
        {"a point draws nothing", whole, [](Canvas* c) { canvas_draw_line(c, 3, 3, 3, 3, ink); }, {}},
        {"horizontal stops before the larger x", whole, [](Canvas* c) { canvas_draw_line(c, 8, 3, 3, 3, ink); },
         row(3, 3, 7)},
        {"vertical includes both ends", whole, [](Canvas* c) { canvas_draw_line(c, 3, 8, 3, 3, ink); },
         column(3, 3, 8)},
        {"hline cut at the left", inner, [](Canvas* c) { canvas_draw_hline(c, -4, 2, 9, ink); }, row(2, 2, 4)},
        {"hline cut at the right", inner, [](Canvas* c) { canvas_draw_hline(c, 5, 2, 90, ink); }, row(2, 5, 7)},
        {"hline on the bottom edge row", inner, [](Canvas* c) { canvas_draw_hline(c, 0, 7, 9, ink); }, {}},
        {"hline of length 0", whole, [](Canvas* c) { canvas_draw_hline(c, 4, 4, 0, ink); }, {}},
        {"hline of negative length", whole, [](Canvas* c) { canvas_draw_hline(c, 4, 4, -3, ink); }, {}},
        {"vline cut at the top", inner, [](Canvas* c) { canvas_draw_vline(c, 4, -3, 6, ink); }, column(4, 1, 3)},
        {"vline cut at the top to nothing", inner, [](Canvas* c) { canvas_draw_vline(c, 4, -3, 4, ink); }, {}},
        {"vline cut at the bottom", inner, [](Canvas* c) { canvas_draw_vline(c, 4, 5, 40, ink); }, column(4, 5, 6)},
        {"vline on the right edge column", inner, [](Canvas* c) { canvas_draw_vline(c, 8, 2, 3, ink); }, {}},
        {"vline of length 0", whole, [](Canvas* c) { canvas_draw_vline(c, 4, 4, 0, ink); }, {}},
        {"extreme vertical", whole, [](Canvas* c) { canvas_draw_line(c, 5, INT_MIN, 5, INT_MAX, ink); },
         column(5, 0, canvas_h - 1)},
        {"extreme horizontal", whole, [](Canvas* c) { canvas_draw_line(c, INT_MAX, 2, INT_MIN, 2, ink); },
         row(2, 0, canvas_w - 1)},
    };
    for (const Case& c : cases) {
        Drawing d(c.clip);
        c.draw(&d.canvas);
        paint(d.want, d.canvas.clip, c.want, ink);
        expect_picture(d.surface.get(), d.want, c.name);
    }
}

TEST(Canvas, DiagonalLinesAreClippedToTheirExactPixels) {
    const Rect inner{2, 1, 8, 7};
    struct Case {
        Rect clip;
        Point a;
        Point b;
    } cases[] = {
        {whole, {1, 1}, {6, 6}},
        {whole, {-5, -5}, {20, 20}},
        {inner, {-5, -5}, {20, 20}},
        {inner, {20, 20}, {-5, -5}},
        {inner, {12, -2}, {0, 10}},
        {inner, {-3, 14}, {9, 2}},
        {whole, {-10, 0}, {0, 10}},      // touches nothing
        {{4, 4, 4, 9}, {0, 0}, {9, 9}},  // empty clip
    };
    for (const Case& c : cases) {
        Drawing d(c.clip);
        canvas_draw_line(&d.canvas, c.a.x, c.a.y, c.b.x, c.b.y, ink);
        // Every pixel of a 45-degree line lies exactly on it, both ends included.
        std::vector<std::pair<int64_t, int64_t>> points;
        int n = std::abs(c.b.x - c.a.x), sx = c.b.x > c.a.x ? 1 : -1, sy = c.b.y > c.a.y ? 1 : -1;
        for (int t = 0; t <= n; ++t) points.push_back({c.a.x + sx * t, c.a.y + sy * t});
        paint(d.want, d.canvas.clip, points, ink);
        expect_picture(d.surface.get(), d.want,
                       "line (" + std::to_string(c.a.x) + ", " + std::to_string(c.a.y) + ") to (" +
                           std::to_string(c.b.x) + ", " + std::to_string(c.b.y) + ")");
    }
}

TEST(Canvas, SlantedLinesStayInsideTheClipAndNearTheTrueLine) {
    const Rect inner{2, 1, 8, 7};
    const Point ends[][2] = {{{-20, 3}, {30, 5}}, {{4, -30}, {6, 40}}, {{INT_MIN, -7}, {INT_MAX, 12}},
                             {{-7, INT_MIN}, {12, INT_MAX}}, {{0, 8}, {10, 0}}, {{3, 2}, {6, 5}}};
    for (const auto& e : ends) {
        Drawing d(inner);
        canvas_draw_line(&d.canvas, e[0].x, e[0].y, e[1].x, e[1].y, ink);
        Picture got = picture_of(d.surface.get());
        const double ax = e[0].x, ay = e[0].y, dx = double(e[1].x) - ax, dy = double(e[1].y) - ay;
        int drawn = 0;
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x)
                if (got.at(x, y) != d.want.at(x, y)) {
                    ++drawn;
                    EXPECT_TRUE(in_rect(inner, x, y)) << "pixel (" << x << ", " << y << ") outside the clip";
                    // Moving the ends onto the clip truncates, so allow a little more than a pixel.
                    double distance = std::fabs((x - ax) * dy - (y - ay) * dx) / std::hypot(dx, dy);
                    EXPECT_LT(distance, 2.0) << "pixel (" << x << ", " << y << ") of the line from (" << e[0].x
                                             << ", " << e[0].y << ")";
                }
        EXPECT_GE(drawn, 3) << "line from (" << e[0].x << ", " << e[0].y << ")";
    }
}

TEST(Canvas, RectangleOutlines) {
    struct Case {
        Rect clip;
        Rect rect;
    } cases[] = {
        {whole, {0, 0, 4, 3}}, {whole, {2, 2, 9, 8}},   {whole, {-3, -2, 5, 4}}, {whole, {6, 5, 14, 12}},
        {whole, {3, 3, 7, 4}}, {whole, {3, 3, 7, 5}},   {whole, {4, 2, 5, 8}},   {{2, 2, 8, 7}, {0, 0, 11, 9}},
        {whole, {5, 5, 5, 5}}, {{3, 3, 3, 9}, {0, 0, 9, 9}},
    };
    for (const Case& c : cases) {
        Drawing d(c.clip);
        canvas_draw_rect_r(&d.canvas, &c.rect, ink);
        std::vector<std::pair<int64_t, int64_t>> border;
        for (int y = c.rect.top; y < c.rect.bottom; ++y)
            for (int x = c.rect.left; x < c.rect.right; ++x)
                if (x == c.rect.left || x == c.rect.right - 1 || y == c.rect.top || y == c.rect.bottom - 1)
                    border.push_back({x, y});
        paint(d.want, d.canvas.clip, border, ink);
        expect_picture(d.surface.get(), d.want,
                       "rect " + std::to_string(c.rect.left) + "," + std::to_string(c.rect.top) + "," +
                           std::to_string(c.rect.right) + "," + std::to_string(c.rect.bottom));
    }
}

TEST(Canvas, InvertedRectangleDrawsOnlyItsSideColumns) {
    Drawing d(whole);
    canvas_draw_rect(&d.canvas, 7, 1, 3, 6, ink);  // right < left: no rows, sides at 7 and 2
    paint(d.want, whole, column(7, 2, 5), ink);
    paint(d.want, whole, column(2, 2, 5), ink);
    expect_picture(d.surface.get(), d.want, "inverted");
}

TEST(Canvas, PixelsInsideTheClipOnly) {
    const Rect inner{2, 1, 8, 7};
    const Point points[] = {{2, 1}, {7, 6}, {8, 3}, {4, 7}, {1, 3}, {4, 0}, {-1, -1}, {INT_MAX, 2}, {5, 4}};
    Drawing d(inner);
    for (Point p : points) canvas_set_pixel(&d.canvas, p.x, p.y, ink);
    for (Point p : points) paint(d.want, inner, {{p.x, p.y}}, ink);
    expect_picture(d.surface.get(), d.want, "pixels");
    // Reads ignore the clip but never leave the target.
    EXPECT_EQ(canvas_get_pixel(&d.canvas, 0, 0), background(0, 0));
    EXPECT_EQ(canvas_get_pixel(&d.canvas, canvas_w - 1, canvas_h - 1), background(canvas_w - 1, canvas_h - 1));
    EXPECT_EQ(canvas_get_pixel(&d.canvas, 5, 4), ink);
    EXPECT_EQ(canvas_get_pixel(&d.canvas, canvas_w, 0), 0);
    EXPECT_EQ(canvas_get_pixel(&d.canvas, -1, 3), 0);
    EXPECT_EQ(canvas_get_pixel(&d.canvas, 3, INT_MAX), 0);
}

// The midpoint circle, eight points a step.
std::vector<std::pair<int64_t, int64_t>> circle_points(int64_t cx, int64_t cy, int64_t r) {
    std::vector<std::pair<int64_t, int64_t>> points;
    int64_t d = 3 - 2 * r, x = 0, y = r;
    auto four = [&](int64_t a, int64_t b) {
        for (int sa : {-1, 1})
            for (int sb : {-1, 1}) points.push_back({cx + sa * a, cy + sb * b});
    };
    while (x < y) {
        four(x, y);
        four(y, x);
        if (d < 0) {
            d += 4 * x + 6;
        } else {
            d += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
    if (x == y) four(x, y);
    return points;
}

TEST(Canvas, CirclesAreCutToTheClip) {
    const Rect inner{2, 1, 8, 7};
    struct Case {
        Rect clip;
        int cx, cy, r;
    } cases[] = {
        {whole, 5, 4, 3},  {inner, 5, 4, 2},  {inner, 5, 4, 3},   {inner, 1, 4, 3},  {inner, 9, 4, 3},
        {inner, 5, 0, 3},  {inner, 5, 8, 3},  {inner, -2, 4, 3},  {inner, 12, 4, 3}, {whole, 5, 4, 0},
        {whole, -4, -4, 5}, {{5, 5, 5, 9}, 5, 4, 2}, {whole, 5, 4, -3},
    };
    for (const Case& c : cases) {
        Drawing d(c.clip);
        canvas_draw_circle(&d.canvas, c.cx, c.cy, c.r, ink);
        paint(d.want, d.canvas.clip, circle_points(c.cx, c.cy, c.r), ink);
        expect_picture(d.surface.get(), d.want,
                       "circle " + std::to_string(c.cx) + "," + std::to_string(c.cy) + " r " + std::to_string(c.r));
    }
}

TEST(Canvas, PolygonOutlineAndFill) {
    Drawing outline(whole);
    const Point triangle[] = {{1, 1}, {7, 1}, {1, 7}};
    canvas_draw_polygon(&outline.canvas, triangle, 3, ink);
    paint(outline.want, whole, row(1, 1, 6), ink);     // (1,1)-(7,1) stops before x = 7
    for (int t = 0; t <= 6; ++t) paint(outline.want, whole, {{7 - t, 1 + t}}, ink);
    paint(outline.want, whole, column(1, 1, 7), ink);  // closing edge, both ends
    expect_picture(outline.surface.get(), outline.want, "outline");

    // Rows below each top vertex down to the row before the lowest one, each from its
    // left crossing up to (not including) its right crossing.
    Drawing fill(whole);
    const Point right_triangle[] = {{0, 0}, {6, 6}, {0, 6}};
    canvas_fill_polygon(&fill.canvas, right_triangle, 3, ink);
    for (int y = 1; y <= 5; ++y) paint(fill.want, whole, row(y, 0, y - 1), ink);
    expect_picture(fill.surface.get(), fill.want, "fill");

    Drawing clipped({2, 2, 5, 5});
    const Point square[] = {{-3, -3}, {20, -3}, {20, 20}, {-3, 20}};
    canvas_fill_polygon(&clipped.canvas, square, 4, ink);
    for (int y = 2; y < 5; ++y) paint(clipped.want, clipped.canvas.clip, row(y, 2, 4), ink);
    expect_picture(clipped.surface.get(), clipped.want, "fill past every edge");

    Drawing few(whole);
    canvas_fill_polygon(&few.canvas, square, 0, ink);
    canvas_fill_polygon(&few.canvas, triangle, 1, ink);
    canvas_draw_polygon(&few.canvas, square, -2, ink);
    paint(few.want, whole, {{1, 1}}, ink);
    expect_picture(few.surface.get(), few.want, "fewer than three points");

    Drawing huge(whole);
    const Point far[] = {{INT_MIN / 2, INT_MIN / 2}, {INT_MAX / 2, INT_MIN / 2}, {0, INT_MAX / 2}};
    canvas_fill_polygon(&huge.canvas, far, 3, ink);  // must end, and stay in the target
    expect_picture(huge.surface.get(), huge.want = picture_of(huge.surface.get()), "huge polygon");
}

// ---- Text ----

TEST(Canvas, TextPlacesGlyphsByMode) {
    // Glyph 'A' (65): a frame of its cell's border; glyph 0x41 + 0x100 shares it.
    std::vector<uint8_t> font(256 * 16, 0);
    for (int r = 0; r < 16; ++r) font[65 * 16 + r] = (r == 0 || r == 15) ? 0xFF : 0x81;
    auto glyph_pixels = [](int64_t x0, int64_t y0) {
        std::vector<std::pair<int64_t, int64_t>> points;
        for (int r = 0; r < 16; ++r)
            for (int b = 0; b < 8; ++b)
                if (r == 0 || r == 15 || b == 0 || b == 7) points.push_back({x0 + b, y0 + r});
        return points;
    };
    const int width = 31, height = 20;
    struct Case {
        const char16_t* text;
        int mode;
        int x;
        int advance;
        Rect clip;
        std::vector<int64_t> starts;
    } cases[] = {
        {u"A", 0, 3, 8, {0, 0, width, height}, {3}},
        {u"AA", 0, -4, 8, {0, 0, width, height}, {-4, 4}},
        {u"A\u0141", 0, 2, 10, {0, 0, width, height}, {2, 12}},
        {u"AA", 1, 9, 8, {0, 0, width, height}, {0, 8}},
        {u"AA", 7, 9, 8, {0, 0, width, height}, {0, 8}},
        {u"AA", 2, 0, 8, {0, 0, width, height}, {7, 15}},   // (31 - 18 + 1) >> 1
        {u"AA", 3, 0, 8, {0, 0, width, height}, {14, 22}},  // 31 - 18 + 1
        {u"AAAA", 2, 0, 8, {0, 0, width, height}, {}},      // wider than the target: far right
        {u"AA", 0, 3, 8, {5, 2, 14, 10}, {3, 11}},
        {u"", 0, 3, 8, {0, 0, width, height}, {}},
    };
    for (const Case& c : cases) {
        auto surface = make_surface(width, height);
        Canvas canvas;
        canvas_init(&canvas, surface.get());
        canvas_set_clip(&canvas, c.clip);
        canvas_draw_text(&canvas, font.data(), c.text, c.mode, c.x, 2, ink, c.advance);
        Picture want = picture_of(surface.get());
        for (int64_t start : c.starts) paint(want, canvas.clip, glyph_pixels(start, 2), ink);
        expect_picture(surface.get(), want, "mode " + std::to_string(c.mode) + " x " + std::to_string(c.x));
    }
    auto surface = make_surface(width, height);
    Canvas canvas;
    canvas_init(&canvas, surface.get());
    Picture want = picture_of(surface.get());
    canvas_draw_text(&canvas, nullptr, u"A", 0, 0, 0, ink, 8);
    canvas_draw_text(&canvas, font.data(), u"A", 0, 0, INT_MAX - 3, ink, 8);
    canvas_draw_text(&canvas, font.data(), u"AAA", 0, INT_MAX - 10, 0, ink, INT_MAX);
    expect_picture(surface.get(), want, "no font, far away");
}

// ---- Blits ----

uint16_t source_pixel(int x, int y) { return uint16_t(0x8000 + 41 * y + 7 * x); }

TEST(Canvas, SurfaceBlitsAreCutToClipAndSource) {
    const int sw = 5, sh = 4;
    const uint16_t key = source_pixel(2, 1);
    struct Case {
        const char* name;
        Rect clip;
        int x, y;
        bool has_rect;
        Rect rect;
        bool keyed;
    } cases[] = {
        {"whole inside", whole, 2, 3, false, {}, false},
        {"past the left and top", whole, -2, -3, false, {}, false},
        {"past the right and bottom", whole, 8, 7, false, {}, false},
        {"cut by the clip", {3, 2, 6, 5}, 1, 1, false, {}, false},
        {"source rectangle", whole, 4, 4, true, {1, 1, 4, 3}, false},
        {"source rectangle past the source", whole, 1, 1, true, {-2, -1, 9, 7}, false},
        {"inverted source rectangle", whole, 1, 1, true, {4, 3, 1, 1}, false},
        {"wholly outside the clip", {0, 0, 3, 3}, 3, 3, false, {}, false},
        {"keyed", whole, 3, 2, false, {}, true},
        {"extreme position", whole, INT_MAX - 1, INT_MIN + 1, false, {}, false},
    };
    for (const Case& c : cases) {
        Drawing d(c.clip);
        auto source = make_surface(sw, sh, source_pixel);
        if (c.keyed) source->colour_key = key;
        Rect given = c.rect;
        canvas_blit_surface(&d.canvas, c.x, c.y, source.get(), c.has_rect ? &given : nullptr);
        Rect from = c.has_rect ? c.rect : Rect{0, 0, sw, sh};
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x) {
                int64_t sx = from.left + (int64_t(x) - c.x), sy = from.top + (int64_t(y) - c.y);
                if (!in_rect(d.canvas.clip, x, y) || !in_rect(from, sx, sy) || !in_rect({0, 0, sw, sh}, sx, sy)) continue;
                uint16_t v = source_pixel(int(sx), int(sy));
                if (c.keyed && v == key) continue;
                d.want.at(x, y) = v;
            }
        expect_picture(d.surface.get(), d.want, c.name);
        EXPECT_EQ(given.left, c.rect.left) << c.name << ": the caller's source rectangle is not changed";
    }
}

uint16_t alpha_mix_reference(uint16_t s, uint16_t d, uint32_t weight) {
    auto spread = [](uint64_t p) { return (p & 0xF81F) | ((p & 0x07E0) << 16); };
    uint64_t difference = (spread(s) - spread(d)) & 0xFFFFFFFFu;
    uint64_t r = (spread(d) + ((difference * weight) & 0xFFFFFFFFu) / 32) & 0xFFFFFFFFu;
    return uint16_t((r & 0xF81F) | ((r >> 16) & 0x07E0));
}

TEST(Canvas, SpriteBlitsWeighEachPixelByItsAlpha) {
    const int sw = 5, sh = 4;
    auto alpha_green = [](int x, int y) { return uint16_t(((x * 7 + y * 3) % 32) << 6); };
    struct Case {
        Rect clip;
        int x, y;
    } cases[] = {{whole, 2, 2}, {whole, -2, -1}, {whole, 8, 6}, {{3, 3, 6, 6}, 2, 2}, {{0, 0, 2, 2}, 4, 4}};
    for (const Case& c : cases) {
        Drawing d(c.clip);
        auto source = make_surface(sw, sh, source_pixel);
        source->colour_key = source_pixel(1, 1);  // not used by alpha blits
        auto alpha = make_surface(sw, sh, alpha_green);
        canvas_blit_sprite(&d.canvas, c.x, c.y, source.get(), alpha.get(), nullptr);
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x) {
                int sx = x - c.x, sy = y - c.y;
                if (!in_rect(d.canvas.clip, x, y) || !in_rect({0, 0, sw, sh}, sx, sy)) continue;
                uint32_t weight = (alpha_green(sx, sy) >> 6) & 31;
                if (weight != 0) d.want.at(x, y) = alpha_mix_reference(source_pixel(sx, sy), d.want.at(x, y), weight);
            }
        expect_picture(d.surface.get(), d.want, "sprite at " + std::to_string(c.x) + "," + std::to_string(c.y));
    }
    // An alpha surface too small for the source is refused rather than read past its end.
    Drawing d(whole);
    auto source = make_surface(sw, sh, source_pixel);
    auto small = make_surface(2, 2, alpha_green);
    canvas_blit_sprite(&d.canvas, 0, 0, source.get(), small.get(), nullptr);
    canvas_blit_sprite(&d.canvas, 0, 0, source.get(), nullptr, nullptr);
    expect_picture(d.surface.get(), d.want, "small alpha");
}

// Centre sampling: destination pixel x of a stretch from (sl, sw) over (dl, dw) reads
// source column sl + floor((x - dl + 0.5) * sw / dw).
int64_t sample(int64_t x, int64_t dl, int64_t dw, int64_t sl, int64_t sw) {
    return sl + int64_t(std::floor((double(x - dl) + 0.5) * double(sw) / double(dw)));
}

TEST(Canvas, ScaledBlitsSampleEachDestinationPixelCentre) {
    const int sw = 4, sh = 4;
    struct Case {
        const char* name;
        Rect clip;
        Rect dst;
        bool has_rect;
        Rect src;
        bool keyed;
    } cases[] = {
        {"double", whole, {1, 1, 9, 9}, false, {}, false},
        {"half", whole, {3, 2, 5, 4}, false, {}, false},
        {"double past the left and top", whole, {-3, -2, 5, 6}, false, {}, false},
        {"double past the right and bottom", whole, {6, 5, 14, 13}, false, {}, false},
        {"cut by the clip", {2, 3, 6, 7}, {0, 0, 8, 8}, false, {}, false},
        {"part of the source", whole, {1, 1, 7, 7}, true, {1, 1, 3, 4}, false},
        {"keyed", whole, {1, 1, 9, 9}, false, {}, true},
        {"empty destination", whole, {4, 4, 4, 8}, false, {}, false},
        {"inverted destination", whole, {8, 8, 2, 2}, false, {}, false},
    };
    const uint16_t key = source_pixel(1, 2);
    for (const Case& c : cases) {
        Drawing d(c.clip);
        auto source = make_surface(sw, sh, source_pixel);
        if (c.keyed) source->colour_key = key;
        canvas_blit_scaled(&d.canvas, &c.dst, source.get(), c.has_rect ? &c.src : nullptr);
        Rect from = c.has_rect ? c.src : Rect{0, 0, sw, sh};
        if (!c.dst.empty()) {
            for (int y = 0; y < canvas_h; ++y)
                for (int x = 0; x < canvas_w; ++x) {
                    if (!in_rect(d.canvas.clip, x, y) || !in_rect(c.dst, x, y)) continue;
                    int64_t sx = sample(x, c.dst.left, c.dst.right - c.dst.left, from.left, from.right - from.left);
                    int64_t sy = sample(y, c.dst.top, c.dst.bottom - c.dst.top, from.top, from.bottom - from.top);
                    uint16_t v = source_pixel(int(sx), int(sy));
                    if (!(c.keyed && v == key)) d.want.at(x, y) = v;
                }
        }
        expect_picture(d.surface.get(), d.want, c.name);
    }
}

TEST(Canvas, ScaledSpriteBlitMatchesTheStretchWeightedByAlpha) {
    const int sw = 4, sh = 4;
    auto alpha_green = [](int x, int y) { return uint16_t(((x * 9 + y * 5 + 1) % 32) << 6); };
    const Rect clips[] = {whole, {3, 2, 7, 6}};
    const Rect dst{-1, 0, 7, 8};
    for (const Rect& clip : clips) {
        Drawing d(clip);
        auto source = make_surface(sw, sh, source_pixel);
        auto alpha = make_surface(sw, sh, alpha_green);
        canvas_blit_scaled_sprite(&d.canvas, &dst, source.get(), alpha.get(), nullptr);
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x) {
                if (!in_rect(d.canvas.clip, x, y) || !in_rect(dst, x, y)) continue;
                int sx = int(sample(x, dst.left, 8, 0, sw)), sy = int(sample(y, dst.top, 8, 0, sh));
                uint32_t weight = (alpha_green(sx, sy) >> 6) & 31;
                if (weight != 0) d.want.at(x, y) = alpha_mix_reference(source_pixel(sx, sy), d.want.at(x, y), weight);
            }
        expect_picture(d.surface.get(), d.want, "clip " + std::to_string(clip.left));
    }
}

// Half-turn and no turn have exact integer maps: the source is drawn centred on (cx, cy),
// flipped both ways for a half turn.
TEST(Canvas, RotatedBlitsAtNoTurnAndHalfTurn) {
    const int sw = 4, sh = 2;
    const float pi = 3.14159265358979f;
    struct Case {
        Rect clip;
        int cx, cy;
        float angle;
        bool keyed;
    } cases[] = {
        {whole, 5, 4, 0.0f, false}, {whole, 5, 4, pi, false},   {whole, 0, 0, 0.0f, false},
        {whole, 10, 8, pi, false},  {{4, 3, 7, 5}, 5, 4, 0.0f, false}, {whole, 5, 4, 0.0f, true},
        {whole, 40, 4, 0.0f, false},
    };
    const uint16_t key = source_pixel(1, 0);
    for (const Case& c : cases) {
        Drawing d(c.clip);
        auto source = make_surface(sw, sh, source_pixel);
        if (c.keyed) source->colour_key = key;
        canvas_blit_rotated(&d.canvas, c.cx, c.cy, c.angle, source.get());
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x) {
                if (!in_rect(d.canvas.clip, x, y)) continue;
                int sx = x - c.cx + sw / 2, sy = y - c.cy + sh / 2;
                if (c.angle != 0.0f) sx = c.cx - x - 1 + sw / 2, sy = c.cy - y - 1 + sh / 2;
                if (!in_rect({0, 0, sw, sh}, sx, sy)) continue;
                uint16_t v = source_pixel(sx, sy);
                if (!(c.keyed && v == key)) d.want.at(x, y) = v;
            }
        expect_picture(d.surface.get(), d.want, "rotated about " + std::to_string(c.cx) + "," + std::to_string(c.cy));
    }
    Drawing d(whole);
    auto source = make_surface(sw, sh, source_pixel);
    canvas_blit_rotated(&d.canvas, 5, 4, std::nanf(""), source.get());
    canvas_blit_rotated(&d.canvas, 5, 4, INFINITY, source.get());
    expect_picture(d.surface.get(), d.want, "angle not a number");
}

TEST(Canvas, RotozoomAndScaledRotatedAtNoTurn) {
    const int sw = 4, sh = 2;
    auto alpha_green = [](int x, int y) { return uint16_t(((x * 11 + y * 7 + 3) % 32) << 6); };
    for (Rect clip : {whole, Rect{4, 3, 7, 5}}) {
        Drawing d(clip);
        auto source = make_surface(sw, sh, source_pixel);
        auto alpha = make_surface(sw, sh, alpha_green);
        canvas_blit_rotozoom(&d.canvas, 5, 4, 0.0f, source.get(), alpha.get());
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x) {
                int sx = x - 5 + sw / 2, sy = y - 4 + sh / 2;
                if (!in_rect(d.canvas.clip, x, y) || !in_rect({0, 0, sw, sh}, sx, sy)) continue;
                uint32_t weight = (alpha_green(sx, sy) >> 6) & 31;
                if (weight != 0) d.want.at(x, y) = alpha_mix_reference(source_pixel(sx, sy), d.want.at(x, y), weight);
            }
        expect_picture(d.surface.get(), d.want, "rotozoom");
    }
    // Two by two source pixels stretched over a 4x4 scratch with the source's key, then
    // drawn unturned centred on (5, 4); the caller's clip still holds.
    const Rect clip{3, 2, 7, 6};
    Drawing d(clip);
    auto source = make_surface(sw, sh, source_pixel);
    source->colour_key = source_pixel(1, 1);
    auto scratch = make_surface(4, 4);
    const Rect part{0, 0, 2, 2};
    canvas_blit_scaled_rotated(&d.canvas, 5, 4, 0.0f, source.get(), scratch.get(), &part);
    EXPECT_EQ(d.canvas.target, d.surface.get());
    EXPECT_EQ(d.canvas.clip.left, clip.left);
    EXPECT_EQ(d.canvas.clip.right, clip.right);
    EXPECT_EQ(scratch->colour_key, source->colour_key);
    for (int y = 0; y < canvas_h; ++y)
        for (int x = 0; x < canvas_w; ++x) {
            int qx = x - 5 + 2, qy = y - 4 + 2;
            if (!in_rect(clip, x, y) || !in_rect({0, 0, 4, 4}, qx, qy)) continue;
            uint16_t v = source_pixel(qx / 2, qy / 2);
            if (v != source->colour_key) d.want.at(x, y) = v;
        }
    expect_picture(d.surface.get(), d.want, "scaled rotated");
}

// ---- Blend and filter ----

uint16_t level_mix_reference(uint16_t v, uint16_t d, int level) {
    auto floor_div = [](int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    int64_t d_rb = d & 0xF81F, v_rb = v & 0xF81F, d_g = d & 0x07E0, v_g = v & 0x07E0;
    int64_t rb = d_rb + floor_div((v_rb - d_rb) * (level / 8), 32);
    int64_t g = d_g + floor_div((v_g - d_g) * (level / 4), 64);
    return uint16_t((rb & 0xF81F) | (g & 0x07E0));
}

class XorFilter final : public PixelFilter {
 public:
    uint16_t filter_pixel(uint16_t pixel, uint16_t dst) override { return uint16_t(pixel ^ dst ^ salt); }
    uint16_t salt = 0x0101;
};

TEST(Canvas, BlendLevelsSelectTheBlitter) {
    auto surface = make_surface(canvas_w, canvas_h);
    Canvas canvas;
    canvas_init(&canvas, surface.get());
    EXPECT_EQ(canvas.blitter, copy_blitter());
    struct Case {
        int32_t level;
        int want;  // -1: copy blitter, else the blend level
    } cases[] = {{128, 128}, {0, 0}, {251, 251}, {252, -1}, {255, -1}, {256 + 40, 40}, {-1, -1}, {-256 + 7, 7}};
    for (const Case& c : cases) {
        canvas_set_blend(&canvas, c.level);
        if (c.want < 0) {
            EXPECT_EQ(canvas.blitter, copy_blitter()) << c.level;
        } else {
            ASSERT_EQ(canvas.blitter, canvas.blend_blitter) << c.level;
            EXPECT_EQ(canvas.blend_blitter->level(), c.want) << c.level;
        }
    }
    XorFilter filter;
    canvas_set_filter(&canvas, &filter);
    ASSERT_EQ(canvas.blitter, canvas.filter_blitter);
    EXPECT_EQ(canvas.filter_blitter->filter(), &filter);
    canvas_reset_blitter(&canvas);
    EXPECT_EQ(canvas.blitter, copy_blitter());
    EXPECT_NE(canvas.blend_blitter, nullptr);
    EXPECT_NE(canvas.filter_blitter, nullptr);
}

TEST(Canvas, EveryOperationWritesThroughTheChosenBlendOrFilter) {
    enum Mode { copy, blend, filter };
    XorFilter pixel_filter;
    const int level = 136;
    auto write = [&](Mode mode, uint16_t value, uint16_t dst) -> uint16_t {
        if (mode == copy) return value;
        if (mode == blend) return level_mix_reference(value, dst, level);
        return uint16_t(value ^ dst ^ pixel_filter.salt);
    };
    const Rect clip{1, 1, 10, 8};
    for (Mode mode : {copy, blend, filter}) {
        Drawing d(clip);
        if (mode == blend) canvas_set_blend(&d.canvas, level);
        if (mode == filter) canvas_set_filter(&d.canvas, &pixel_filter);
        auto source = make_surface(3, 2, source_pixel);
        canvas_fill_rect(&d.canvas, 0, 0, 3, 3, ink);
        canvas_draw_line(&d.canvas, 4, 1, 8, 5, ink);
        canvas_draw_circle(&d.canvas, 7, 6, 1, ink);
        canvas_set_pixel(&d.canvas, 1, 6, ink);
        canvas_blit_surface(&d.canvas, 8, 0, source.get(), nullptr);
        auto put = [&](int64_t x, int64_t y, uint16_t v) {
            if (in_rect(clip, x, y)) d.want.at(int(x), int(y)) = write(mode, v, d.want.at(int(x), int(y)));
        };
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) put(x, y, ink);
        for (int t = 0; t <= 4; ++t) put(4 + t, 1 + t, ink);
        // A circle of radius 1 has only its four axis points, each written twice.
        for (auto [x, y] : std::set<std::pair<int64_t, int64_t>>{{7, 5}, {7, 7}, {6, 6}, {8, 6}}) {
            put(x, y, ink);
            put(x, y, ink);
        }
        put(1, 6, ink);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) put(8 + x, y, source_pixel(x, y));
        expect_picture(d.surface.get(), d.want, mode == copy ? "copy" : mode == blend ? "blend" : "filter");

        // Clearing ignores the clip but not the blitter.
        Picture before = picture_of(d.surface.get());
        canvas_clear(&d.canvas, 0x0842);
        for (int y = 0; y < canvas_h; ++y)
            for (int x = 0; x < canvas_w; ++x) before.at(x, y) = write(mode, 0x0842, before.at(x, y));
        expect_picture(d.surface.get(), before, "clear");
    }
}

// ---- Frames ----

struct FakeDisplayLog {
    int begins = 0;
    int swaps = 0;
    int updates = 0;
    int destroyed = 0;
    Rect last_update{};
    bool update_before_swap = false;
};

class FakeDisplay final : public Display {
 public:
    FakeDisplay(FakeDisplayLog* log, PixelBuffer* frame, bool accepts) : log_(log), frame_(frame), accepts_(accepts) {}
    ~FakeDisplay() override { ++log_->destroyed; }
    bool BeginScene() override {
        ++log_->begins;
        open_ = accepts_;
        return open_;
    }
    PixelBuffer* GetBackBuffer() override { return open_ ? frame_ : nullptr; }
    DisplayParameters GetParameters() override { return DisplayParameters{int32_t(frame_->width), int32_t(frame_->height), 2, 1}; }
    void Update(const Rect* rect) override {
        ++log_->updates;
        log_->last_update = *rect;
    }
    bool Swap(uint32_t) override {
        log_->update_before_swap = log_->updates > 0;
        ++log_->swaps;
        bool was_open = open_;
        open_ = false;
        return was_open;
    }

 private:
    FakeDisplayLog* log_;
    PixelBuffer* frame_;
    bool accepts_;
    bool open_ = false;
};

FakeDisplayLog* fake_log = nullptr;
PixelBuffer* fake_frame = nullptr;
bool fake_accepts = true;
HWND fake_seen_window = nullptr;
DisplayParameters fake_seen_parameters{};

Display* make_fake(HWND window, DisplayParameters* parameters) {
    fake_seen_window = window;
    fake_seen_parameters = *parameters;
    parameters->swap_effect = 1;
    return new FakeDisplay(fake_log, fake_frame, fake_accepts);
}

Display* refuse(HWND, DisplayParameters*) { return nullptr; }

class CanvasFrames : public ::testing::Test {
 protected:
    void SetUp() override {
        frame_.reset(pixel_buffer_create(canvas_w, canvas_h));
        std::memset(frame_->pixels, 0, size_t(frame_->pitch) * canvas_h);
        fake_log = &log_;
        fake_frame = frame_.get();
        fake_accepts = true;
        set_display_factory(make_fake);
        // The window is a made-up handle: only the platform's window manager refuses it
        // safely (a test window system left by another suite would read it as its own).
        display::use_platform_window_system();
    }
    void TearDown() override { set_display_factory(nullptr); }

    FakeDisplayLog log_;
    std::unique_ptr<PixelBuffer> frame_;
    HWND window_ = reinterpret_cast<HWND>(uintptr_t(0x1234));
};

TEST_F(CanvasFrames, WindowCanvasTakesTheSettledParameters) {
    const DisplayParameters requested{0, 0, 2, 0};
    Canvas* canvas = canvas_create_for_window(window_, &requested);
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(fake_seen_window, window_);
    EXPECT_EQ(fake_seen_parameters.orientation, 2);
    EXPECT_EQ(canvas->parameters.width, canvas_w);
    EXPECT_EQ(canvas->parameters.height, canvas_h);
    EXPECT_EQ(canvas->parameters.swap_effect, 1);
    EXPECT_EQ(canvas->target, nullptr);
    EXPECT_EQ(canvas->back_buffer.buffer, nullptr);
    canvas_set_blend(canvas, 100);
    canvas_destroy(canvas);
    EXPECT_EQ(log_.destroyed, 1);
    EXPECT_EQ(canvas->blend_blitter, nullptr);
    delete canvas;  // a second destroy does nothing more
    EXPECT_EQ(log_.destroyed, 1);

    set_display_factory(refuse);
    EXPECT_EQ(canvas_create_for_window(window_, &requested), nullptr);
    set_display_factory(nullptr);
    EXPECT_EQ(canvas_create_for_window(window_, &requested), nullptr);
}

TEST_F(CanvasFrames, SceneDrawsIntoTheBackBufferUntilPresent) {
    const DisplayParameters requested{0, 0, 0, 1};
    std::unique_ptr<Canvas> canvas(canvas_create_for_window(window_, &requested));
    ASSERT_NE(canvas, nullptr);
    Surface* back = canvas_begin_scene(canvas.get());
    ASSERT_EQ(back, &canvas->back_buffer);
    EXPECT_EQ(back->buffer, frame_.get());
    EXPECT_EQ(canvas->target, back);
    EXPECT_EQ(canvas->clip.right, canvas_w);
    EXPECT_EQ(canvas->clip.bottom, canvas_h);

    // A surface canvas drawing into the back buffer, as the game's draw canvas does.
    std::unique_ptr<Canvas> draw(canvas_create_for_surface(canvas.get(), back));
    ASSERT_NE(draw, nullptr);
    canvas_fill_rect(draw.get(), 2, 2, 4, 4, ink);
    EXPECT_EQ(*frame_->at(3, 3), ink);

    const Rect changed{1, 1, 5, 5};
    canvas_present(canvas.get(), &changed);
    EXPECT_EQ(log_.swaps, 1);
    EXPECT_EQ(log_.updates, 1);
    EXPECT_TRUE(log_.update_before_swap);
    EXPECT_EQ(log_.last_update.right, 5);
    EXPECT_EQ(back->buffer, nullptr);
    EXPECT_EQ(canvas->target, back);

    // Between present and the next scene there are no pixels: every operation passes.
    auto source = make_surface(3, 3, source_pixel);
    canvas_clear(draw.get(), ink);
    canvas_fill_rect(draw.get(), 0, 0, 5, 5, 1);
    canvas_draw_line(draw.get(), 0, 0, 5, 3, 1);
    canvas_draw_circle(draw.get(), 3, 3, 2, 1);
    canvas_set_pixel(draw.get(), 1, 1, 1);
    canvas_blit_surface(draw.get(), 0, 0, source.get(), nullptr);
    canvas_blit_rotated(draw.get(), 3, 3, 1.0f, source.get());
    EXPECT_EQ(canvas_get_pixel(draw.get(), 1, 1), 0);
    EXPECT_EQ(*frame_->at(1, 1), 0);

    canvas_present(canvas.get(), nullptr);
    EXPECT_EQ(log_.updates, 1) << "no rectangle, no update";
    EXPECT_EQ(log_.swaps, 2);

    EXPECT_EQ(canvas_begin_scene(canvas.get()), back);
    EXPECT_EQ(back->buffer, frame_.get());
    canvas_set_pixel(draw.get(), 1, 1, ink);
    EXPECT_EQ(*frame_->at(1, 1), ink);
    canvas.reset();  // destroyed mid-scene: the display's pixels are not the surface's to free
    EXPECT_EQ(log_.destroyed, 1);
}

TEST_F(CanvasFrames, RefusedSceneGivesNoSurface) {
    fake_accepts = false;
    const DisplayParameters requested{0, 0, 0, 1};
    std::unique_ptr<Canvas> canvas(canvas_create_for_window(window_, &requested));
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas_begin_scene(canvas.get()), nullptr);
    EXPECT_EQ(log_.begins, 1);
    EXPECT_EQ(canvas->target, nullptr);

    auto surface = make_surface(3, 3);
    Canvas plain;
    canvas_init(&plain, surface.get());
    EXPECT_EQ(canvas_begin_scene(&plain), nullptr);
    canvas_present(&plain, nullptr);
    EXPECT_EQ(canvas_create_for_surface(nullptr, nullptr), nullptr);
}

}  // namespace
