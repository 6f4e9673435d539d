// The game drawing built-ins called as compiled code calls them, drawing through a draw
// canvas over a back-buffer surface as the game display sets it up: primitives, the seed
// fill against scipy's labelling, VGA-font text against a font's own bits, and script
// surfaces with the sprites that use them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../library/builtin_fixture.h"
#include "display/canvas.h"
#include "display/surface.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game_screen.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

namespace {

using display::Surface;

constexpr int32_t kScreenWidth = 40;
constexpr int32_t kScreenHeight = 30;

std::string fixture_path(const char* name) { return std::string(ZRK_TEST_BINARY_DIR "/") + name; }
// The name of a fixture on a device whose root is the fixtures' folder.
std::string device_path(const char* name) { return std::string("\\") + name; }

class GameDrawing : public BuiltinTest {
 protected:
  GameDrawing() : BuiltinTest(register_game_drawing_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    game = GameState{};
    ASSERT_NO_FATAL_FAILURE(open_game_screen(kScreenWidth, kScreenHeight, screen, canvas));
    game_drawing = {screen, nullptr};
  }
  void TearDown() override {
    destroy_all_sprites();
    close_game_screen(screen, canvas);
    game = GameState{};
    game_drawing = {nullptr, nullptr};
    BuiltinTest::TearDown();
  }

  static uint16_t pixel(const Surface* surface, int32_t x, int32_t y) { return *surface->buffer->at(x, y); }
  static int32_t count_pixels(const Surface* surface, uint16_t value) {
    int32_t count = 0;
    for (uint32_t y = 0; y < surface->buffer->height; ++y)
      for (uint32_t x = 0; x < surface->buffer->width; ++x) count += *surface->buffer->at(int32_t(x), int32_t(y)) == value;
    return count;
  }
  static void fill(Surface* surface, uint16_t value) {
    for (uint32_t y = 0; y < surface->buffer->height; ++y)
      for (uint32_t x = 0; x < surface->buffer->width; ++x) *surface->buffer->at(int32_t(x), int32_t(y)) = value;
  }
  // Calls the built-in with the numbers as its arguments.
  void run(const char* name, std::initializer_list<double> arguments) {
    for (double argument : arguments) push(argument);
    call(name);
  }
  double result(const char* name, std::initializer_list<double> arguments) {
    run(name, arguments);
    return pop_number();
  }
  static double handle(const void* pointer) { return platform::address_of(pointer); }
  static Surface* surface_of(double number) { return platform::pointer_from<Surface>(uint32_t(number)); }

  Surface* screen = nullptr;
  display::Canvas* canvas = nullptr;
};

// ---- Primitives ----

TEST_F(GameDrawing, RgbPacksFiveSixFiveAndLetsBlueSpill) {
  struct Case {
    double r, g, b, expected;
  } cases[] = {{255, 255, 255, 65535}, {0, 0, 255, 31}, {8, 4, 8, 2081}, {0, 0, 256, 32}, {7, 3, 7, 0}};
  for (const Case& c : cases) EXPECT_EQ(result("g_RGB", {c.r, c.g, c.b}), c.expected) << c.r << "," << c.g << "," << c.b;
}

TEST_F(GameDrawing, RectanglesFillAndOutlineWithExclusiveEdges) {
  run("g_fillrect", {0, 0, 10, 10, 0x1F800F});  // only the low 16 bits count
  EXPECT_EQ(count_pixels(screen, 0x800F), 100);
  EXPECT_EQ(pixel(screen, 9, 9), 0x800F);
  EXPECT_EQ(pixel(screen, 10, 9), 0);
  run("g_fillrect", {5, 5, 5, 9, 0x1234});
  EXPECT_EQ(count_pixels(screen, 0x1234), 0);

  // An outline whose bottom lies below the screen still shows its bottom edge on the last row.
  run("g_drawrect", {20, 10, 30, 500, 0x00FF});
  for (int32_t x = 20; x < 30; ++x) {
    EXPECT_EQ(pixel(screen, x, 10), 0x00FF) << x;
    EXPECT_EQ(pixel(screen, x, kScreenHeight - 1), 0x00FF) << x;
  }
  EXPECT_EQ(pixel(screen, 20, 20), 0x00FF);
  EXPECT_EQ(pixel(screen, 29, 20), 0x00FF);
  EXPECT_EQ(pixel(screen, 25, 20), 0);
}

TEST_F(GameDrawing, LinesAndPixels) {
  run("g_line", {2, 3, 2, 8, 7});    // vertical: both ends
  run("g_line", {10, 1, 15, 1, 7});  // horizontal: stops before the larger x
  run("g_line", {20, 20, 24, 24, 7});
  for (int32_t y = 3; y <= 8; ++y) EXPECT_EQ(pixel(screen, 2, y), 7) << y;
  for (int32_t x = 10; x < 15; ++x) EXPECT_EQ(pixel(screen, x, 1), 7) << x;
  for (int32_t d = 0; d <= 4; ++d) EXPECT_EQ(pixel(screen, 20 + d, 20 + d), 7) << d;
  EXPECT_EQ(count_pixels(screen, 7), 6 + 5 + 5);

  run("g_setpixel", {39, 29, 0xABCD});
  EXPECT_EQ(result("g_getpixel", {39, 29}), 0xABCD);
  // Points outside the target read 0 and writes there are dropped.
  run("g_setpixel", {40, 29, 0xABCD});
  run("g_setpixel", {-1, 0, 0xABCD});
  for (auto point : {std::pair{40, 0}, std::pair{0, 30}, std::pair{-1, -1}, std::pair{100000, 100000}}) {
    EXPECT_EQ(result("g_getpixel", {double(point.first), double(point.second)}), 0);
  }
  EXPECT_EQ(count_pixels(screen, 0xABCD), 1);
}

TEST_F(GameDrawing, CircleIsAnOutline) {
  run("g_circle", {20, 15, 5, 9});
  EXPECT_EQ(pixel(screen, 25, 15), 9);
  EXPECT_EQ(pixel(screen, 15, 15), 9);
  EXPECT_EQ(pixel(screen, 20, 10), 9);
  EXPECT_EQ(pixel(screen, 20, 20), 9);
  EXPECT_EQ(pixel(screen, 20, 15), 0);
}

TEST_F(GameDrawing, ClippingAndBlendLevels) {
  run("g_setclipping", {5, 5, 8, 7});
  run("g_fillrect", {0, 0, kScreenWidth, kScreenHeight, 0xFFFF});
  EXPECT_EQ(count_pixels(screen, 0xFFFF), 6);
  EXPECT_EQ(pixel(screen, 5, 5), 0xFFFF);
  run("g_setclipping", {0, 0, kScreenWidth, kScreenHeight});
  run("g_clear", {0});

  // Level 256 is level 0: the target stays as it was.
  run("g_setblend", {256});
  run("g_fillrect", {0, 0, 4, 4, 0xFFFF});
  EXPECT_EQ(pixel(screen, 1, 1), 0);
  for (double opaque : {255.0, -1.0}) {
    run("g_setblend", {opaque});
    run("g_fillrect", {0, 0, 4, 4, 0x1234});
    EXPECT_EQ(pixel(screen, 1, 1), 0x1234) << opaque;
    run("g_fillrect", {0, 0, 4, 4, 0});
  }
}

TEST_F(GameDrawing, ScreenSizeAndNoDisplay) {
  EXPECT_EQ(result("g_width", {}), kScreenWidth);
  EXPECT_EQ(result("g_height", {}), kScreenHeight);
  // Without a game display nothing is drawn and nothing breaks.
  game.draw_canvas = nullptr;
  run("g_fillrect", {0, 0, 10, 10, 5});
  run("g_floodfill", {1, 1, 255, 255, 255});
  EXPECT_EQ(result("g_getpixel", {1, 1}), 0);
  EXPECT_EQ(result("setrendertarget", {0}), 0);
  EXPECT_EQ(count_pixels(screen, 5), 0);
}

// ---- Flood fill ----

TEST_F(GameDrawing, FloodFillMatchesScipyComponents) {
  std::ifstream cases(fixture_path("fill_cases.txt"));
  ASSERT_TRUE(cases) << "fill_cases.txt was not generated";
  int count = 0;
  cases >> count;
  for (int index = 0; index < count; ++index) {
    int32_t width, height, sx, sy;
    cases >> width >> height >> sx >> sy;
    Surface* target = display::surface_new(uint32_t(width), uint32_t(height));
    ASSERT_TRUE(target && target->buffer);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        int value;
        cases >> value;
        *target->buffer->at(x, y) = uint16_t(value);
      }
    std::string expected;
    cases >> expected;
    game.screen_width = width;
    game.screen_height = height;
    display::canvas_set_target(canvas, target);
    run("g_floodfill", {double(sx), double(sy), 255, 255, 255});
    std::string filled;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) filled += pixel(target, x, y) == 0xFFFF ? '1' : '0';
    EXPECT_EQ(filled, expected) << "case " << index << " (" << width << "x" << height << ")";
    display::canvas_set_target(canvas, screen);
    display::surface_delete(target);
  }
}

TEST_F(GameDrawing, FloodFillLimits) {
  // A closed outline: filled up to its border; a diagonal gap does not leak.
  run("g_drawrect", {5, 5, 15, 15, 0x0F0F});
  run("g_setpixel", {14, 14, 0});
  run("g_setpixel", {15, 15, 0x0F0F});
  run("g_floodfill", {10, 10, 255, 0, 0});
  EXPECT_EQ(count_pixels(screen, 0xF800), 8 * 8);
  EXPECT_EQ(pixel(screen, 4, 4), 0);

  // The seed's own colour, or a seed outside the screen, changes nothing.
  run("g_floodfill", {10, 10, 255, 0, 0});
  run("g_floodfill", {-1, 0, 0, 255, 0});
  run("g_floodfill", {kScreenWidth, 0, 0, 255, 0});
  EXPECT_EQ(count_pixels(screen, 0x07E0), 0);
  EXPECT_EQ(count_pixels(screen, 0xF800), 64);

  // A target smaller than the game screen: the fill stays on its pixels.
  Surface* small = display::surface_new(6, 4);
  fill(small, 0);
  display::canvas_set_target(canvas, small);
  run("g_floodfill", {2, 2, 0, 0, 255});
  EXPECT_EQ(count_pixels(small, 0x001F), 24);
  display::surface_delete(small);
  display::canvas_set_target(canvas, screen);

  // A blend level that leaves pixels unchanged, or a clip, must not make the fill endless.
  run("g_setblend", {0});
  run("g_floodfill", {30, 2, 0, 0, 255});
  run("g_setblend", {255});
  run("g_setclipping", {30, 0, 32, 2});
  run("g_floodfill", {30, 20, 0, 0, 255});
  EXPECT_EQ(count_pixels(screen, 0x001F), 4);
}

TEST_F(GameDrawing, FloodFillOfAWholeLargeScreenNeedsNoFixedStack) {
  // A comb of one-pixel teeth leaves many runs pending at once.
  game.screen_width = 480;
  game.screen_height = 640;
  Surface* big = display::surface_new(480, 640);
  fill(big, 0);
  for (int32_t x = 1; x < 480; x += 2)
    for (int32_t y = (x / 2) % 2; y < 639; y += 2) *big->buffer->at(x, y) = 1;
  int32_t open = count_pixels(big, 0);
  display::canvas_set_target(canvas, big);
  run("g_floodfill", {0, 0, 255, 255, 255});
  EXPECT_EQ(count_pixels(big, 0xFFFF), open);
  display::canvas_set_target(canvas, screen);
  display::surface_delete(big);
}

// ---- VGA font and text ----

class GameText : public GameDrawing {
 protected:
  void SetUp() override {
    GameDrawing::SetUp();
    push_text(font_path.c_str());
    push(8);
    push(16);
    call("g_loadvgafont");
    font = platform::pointer_from<VgaFont>(uint32_t(pop_number()));
    ASSERT_TRUE(font && font->data);
  }
  void TearDown() override {
    run("g_freevgafont", {handle(font)});
    GameDrawing::TearDown();
  }
  std::string lit(const Surface* surface, uint16_t colour) {
    std::string rows;
    for (uint32_t y = 0; y < surface->buffer->height; ++y) {
      for (uint32_t x = 0; x < surface->buffer->width; ++x)
        rows += *surface->buffer->at(int32_t(x), int32_t(y)) == colour ? '1' : '0';
      rows += '\n';
    }
    return rows;
  }
  void textout(double font_handle, const char* text, double x, double y, double colour) {
    push(font_handle);
    push_text(text);
    push(0);
    push(x);
    push(y);
    push(colour);
    call("g_textout");
  }
  double textoutex(double font_handle, const char* text, std::initializer_list<double> box, double colour,
                   double wrap) {
    push(font_handle);
    push_text(text);
    for (double value : box) push(value);
    push(colour);
    push(wrap);
    call("g_textoutex");
    return pop_number();
  }
  VgaFont* font = nullptr;
  const std::string font_path = fixture_path("Vgarom.fnt");
};

TEST_F(GameText, TextLightsTheFontsBits) {
  Surface* picture = display::surface_new(40, 24);
  fill(picture, 0);
  display::canvas_set_target(canvas, picture);
  textout(handle(font), "Zg~", 3, 2, 0x7FFFF);
  std::ifstream expected_file(fixture_path("vga_text.txt"));
  std::string expected((std::istreambuf_iterator<char>(expected_file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(lit(picture, 0xFFFF), expected);

  // Font 0, and a font without glyphs, fall back to the game's default font.
  game_drawing.vga_font = font;
  fill(picture, 0);
  textout(0, "Zg~", 3, 2, 0xFFFF);
  EXPECT_EQ(lit(picture, 0xFFFF), expected);
  const std::string missing = fixture_path("no such font.fnt");
  push_text(missing.c_str());
  push(8);
  push(16);
  call("g_loadvgafont");
  double empty = pop_number();
  ASSERT_NE(empty, 0);
  EXPECT_EQ(platform::pointer_from<VgaFont>(uint32_t(empty))->data, nullptr);
  fill(picture, 0);
  textout(empty, "Zg~", 3, 2, 0xFFFF);
  EXPECT_EQ(lit(picture, 0xFFFF), expected);
  run("g_freevgafont", {empty});
  // The default font and 0 are not freed.
  run("g_freevgafont", {0});
  run("g_freevgafont", {handle(font)});
  EXPECT_NE(font->data, nullptr);
  game_drawing.vga_font = nullptr;
  display::canvas_set_target(canvas, screen);
  display::surface_delete(picture);
}

TEST_F(GameText, ShortMemoryFontIsPaddedWithBlankGlyphs) {
  // Two glyphs only: code 'A' must read blank rows, not bytes past the block.
  auto* block = static_cast<uint8_t*>(crt::malloc(32));
  std::memset(block, 0xFF, 32);
  run("g_loadvgafontfrommem", {handle(block), 8, 16});
  double small = pop_number();
  crt::free(block);
  textout(small, "\x01" "A", 0, 0, 0xFFFF);
  EXPECT_EQ(count_pixels(screen, 0xFFFF), 8 * 16);
  run("g_freevgafont", {small});
}

TEST_F(GameText, BoxLayoutWrapsWordsAndMeasures) {
  // Two words with their trailing spaces fill 80 pixels; the third starts the second line.
  EXPECT_EQ(textoutex(handle(font), "abcd efgh ijkl", {0, 0, 80, 200}, 0xFFFF, 1), 32);
  int32_t drawn = count_pixels(screen, 0xFFFF);
  EXPECT_GT(drawn, 0);
  for (int32_t y = 0; y < kScreenHeight; ++y)
    for (int32_t x = 0; x < kScreenWidth; ++x)
      if (pixel(screen, x, y) == 0xFFFF && y >= 16) EXPECT_LT(x, 32) << "third word at " << x << "," << y;

  // Bottom -2 only measures: the same result as -1, nothing drawn.
  run("g_clear", {0});
  double measured = textoutex(handle(font), "one two three\nfour", {2, 3, 60, -2}, 0xFFFF, 1);
  EXPECT_EQ(count_pixels(screen, 0xFFFF), 0);
  EXPECT_EQ(textoutex(handle(font), "one two three\nfour", {2, 3, 60, -1}, 0xFFFF, 1), measured);
  EXPECT_EQ(measured, 3 + 4 * 16);
  EXPECT_GT(count_pixels(screen, 0xFFFF), 0);  // a box without a bottom still draws

  // A word wider than the box ends the layout; without wrap a line is one piece.
  run("g_clear", {0});
  EXPECT_EQ(textoutex(handle(font), "ab toolongword cd", {0, 0, 40, -1}, 0xFFFF, 1), 16);
  for (int32_t y = 0; y < kScreenHeight; ++y)
    for (int32_t x = 24; x < kScreenWidth; ++x) EXPECT_NE(pixel(screen, x, y), 0xFFFF) << x << "," << y;
  EXPECT_EQ(textoutex(handle(font), "ab cd\tef\rgh", {0, 0, 40, -2}, 0xFFFF, 0), 16);
  EXPECT_EQ(textoutex(handle(font), "a\nb\nc", {0, 0, 40, -2}, 0xFFFF, 0), 48);
}

// ---- Script surfaces ----

TEST_F(GameDrawing, NewSurfaceIsBlackEvenUnderABlend) {
  run("g_setblend", {100});
  Surface* surface = surface_of(result("newsurface", {10, 10}));
  ASSERT_TRUE(surface);
  EXPECT_EQ(result("surfacewidth", {handle(surface)}), 10);
  EXPECT_EQ(result("surfaceheight", {handle(surface)}), 10);
  EXPECT_EQ(count_pixels(surface, 0), 100);
  EXPECT_EQ(canvas->target, screen);
  EXPECT_EQ(result("colormask", {handle(surface)}), -1);
  run("setcolormask", {handle(surface), 0xF81F});
  EXPECT_EQ(result("colormask", {handle(surface)}), 0xF81F);
  EXPECT_EQ(result("newsurface", {-1, 10}), 0);
  // Handles of 0 read as nothing.
  EXPECT_EQ(result("surfacewidth", {0}), 0);
  EXPECT_EQ(result("colormask", {0}), -1);
  mark();
  push(handle(surface));
  call("freesurface");
}

TEST_F(GameDrawing, FreeSurfaceFreesEveryHandleAndDetachesSprites) {
  Surface* a = surface_of(result("newsurface", {4, 4}));
  Surface* b = surface_of(result("newsurface", {4, 4}));
  Surface* c = surface_of(result("newsurface", {4, 4}));
  Sprite* user = create_sprite();
  user->surface = a;
  user->alpha_surface = b;
  Sprite* owner = create_sprite();
  owner->surface = c;
  owner->owns_surface = 1;
  owner->options |= kOptionOwnsSurface;
  display::canvas_set_target(canvas, c);
  mark();
  push(handle(a));
  push(0);
  push(handle(b));
  push(handle(c));
  call("freesurface");
  EXPECT_EQ(user->surface, nullptr);
  EXPECT_EQ(user->alpha_surface, nullptr);
  // The owner no longer owns what is gone, so destroying it frees nothing twice.
  EXPECT_EQ(owner->surface, nullptr);
  EXPECT_EQ(owner->owns_surface, 0);
  EXPECT_EQ(owner->options & kOptionOwnsSurface, 0u);
  // Drawing goes back to the screen, never into a freed record.
  EXPECT_EQ(canvas->target, screen);
  run("g_fillrect", {0, 0, 1, 1, 3});
  EXPECT_EQ(pixel(screen, 0, 0), 3);
}

TEST_F(GameDrawing, CopySurfaceCopiesWhatFitsAndKeepsKeyedPixels) {
  Surface* source = display::surface_new(6, 3);
  Surface* target = display::surface_new(4, 5);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 6; ++x) *source->buffer->at(x, y) = uint16_t(100 + 10 * y + x);
  *source->buffer->at(1, 1) = 0xF81F;
  source->colour_key = 0xF81F;
  fill(target, 7);
  run("copysurface", {handle(source), handle(target)});
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 4; ++x) {
      uint16_t expected = y < 3 && !(x == 1 && y == 1) ? uint16_t(100 + 10 * y + x) : 7;
      EXPECT_EQ(pixel(target, x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(canvas->target, screen);
  // A blend level in force applies to the copy.
  fill(target, 0);
  run("g_setblend", {0});
  run("copysurface", {handle(source), handle(target)});
  EXPECT_EQ(count_pixels(target, 0), 20);
  run("g_setblend", {255});
  run("copysurface", {0, handle(target)});
  run("copysurface", {handle(source), 0});

  Surface* clone = surface_of(result("clonesurface", {handle(source)}));
  ASSERT_TRUE(clone);
  EXPECT_EQ(pixel(clone, 5, 2), 125);
  EXPECT_EQ(pixel(clone, 1, 1), 0);  // the keyed pixel is not copied
  EXPECT_EQ(result("clonesurface", {0}), 0);
  display::surface_delete(clone);
  display::surface_delete(source);
  display::surface_delete(target);
}

TEST_F(GameDrawing, ResizeSurfaceCutsOrExtendsAndMovesItsUsers) {
  Surface* old = display::surface_new(3, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) *old->buffer->at(x, y) = uint16_t(1 + x + 3 * y);
  Sprite* sprite = create_sprite();
  sprite->surface = old;
  sprite->owns_surface = 1;
  display::canvas_set_target(canvas, old);
  Surface* larger = surface_of(result("resizesurface", {handle(old), 5, 4}));
  ASSERT_TRUE(larger);
  EXPECT_EQ(pixel(larger, 2, 1), 6);
  EXPECT_EQ(pixel(larger, 4, 3), 0);
  EXPECT_EQ(pixel(larger, 3, 0), 0);
  EXPECT_EQ(sprite->surface, larger);
  EXPECT_EQ(sprite->owns_surface, 1);
  EXPECT_EQ(canvas->target, larger);
  Surface* smaller = surface_of(result("resizesurface", {handle(larger), 2, 1}));
  ASSERT_TRUE(smaller);
  EXPECT_EQ(pixel(smaller, 0, 0), 1);
  EXPECT_EQ(pixel(smaller, 1, 0), 2);
  EXPECT_EQ(sprite->surface, smaller);
  display::canvas_set_target(canvas, screen);
  // Resizing 0 gives a new black surface.
  Surface* fresh = surface_of(result("resizesurface", {0, 2, 2}));
  ASSERT_TRUE(fresh);
  EXPECT_EQ(count_pixels(fresh, 0), 4);
  display::surface_delete(fresh);
}

TEST_F(GameDrawing, RenderTargetRedirectsDrawingAndComesBack) {
  Surface* surface = display::surface_new(8, 8);
  fill(surface, 0);
  EXPECT_EQ(surface_of(result("setrendertarget", {handle(surface)})), screen);
  run("g_clear", {0x0101});
  EXPECT_EQ(result("g_getpixel", {7, 7}), 0x0101);
  EXPECT_EQ(surface_of(result("setrendertarget", {handle(screen)})), surface);
  EXPECT_EQ(count_pixels(surface, 0x0101), 64);
  EXPECT_EQ(count_pixels(screen, 0x0101), 0);
  display::surface_delete(surface);
}

TEST_F(GameDrawing, LockAndDeviceContextGiveThePixels) {
  Surface* surface = display::surface_new(5, 3);
  fill(surface, 0x4242);
  auto* lock = platform::pointer_from<display::SurfaceLock>(uint32_t(result("g_lock", {handle(surface)})));
  ASSERT_TRUE(lock);
  EXPECT_EQ(lock->pitch, surface->buffer->pitch);
  EXPECT_EQ(lock->address, surface->buffer->pixels);
  run("g_unlock", {handle(lock), handle(surface), 1});
  // 0 stands for the current target.
  lock = platform::pointer_from<display::SurfaceLock>(uint32_t(result("g_lock", {0})));
  ASSERT_TRUE(lock);
  EXPECT_EQ(lock->address, screen->buffer->pixels);
  run("g_unlock", {handle(lock), 0, 0});

  double dc = result("g_getdc", {handle(surface)});
  EXPECT_NE(dc, 0);
  EXPECT_EQ(result("g_getdc", {handle(surface)}), 0);  // one DC at a time
  run("g_releasedc", {handle(surface), dc});
  EXPECT_EQ(surface->dc, nullptr);
  EXPECT_EQ(pixel(surface, 4, 2), 0x4242);
  display::surface_delete(surface);
}

// ---- Image loading ----

TEST_F(GameDrawing, ImagesLoadFromFilesAndMemory) {
  std::ifstream values(fixture_path("picture_565.txt"));
  ASSERT_TRUE(values) << "picture_565.txt was not generated";
  int32_t width, height;
  values >> width >> height;
  std::vector<uint16_t> expected(size_t(width * height));
  for (uint16_t& value : expected) {
    int v;
    values >> v;
    value = uint16_t(v);
  }
  auto check = [&](Surface* surface, const char* what) {
    ASSERT_TRUE(surface) << what;
    ASSERT_EQ(int32_t(surface->buffer->width), width) << what;
    ASSERT_EQ(int32_t(surface->buffer->height), height) << what;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) ASSERT_EQ(pixel(surface, x, y), expected[size_t(y * width + x)]) << what;
  };
  setenv("ZRK_ROOT", ZRK_TEST_BINARY_DIR, 1);
  for (const char* name : {"picture.bmp", "picture.png"}) {
    Surface* surface = load_image_surface(device_path(name).c_str());
    check(surface, name);
    display::surface_delete(surface);
    // The same bytes in memory: a block beginning "BM" decodes as a BMP.
    std::ifstream file(fixture_path(name), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    surface = load_image_surface_from_memory(bytes.data(), bytes.data() + bytes.size());
    check(surface, name);
    display::surface_delete(surface);
  }
  const std::string png = device_path("picture.png");
  push_text(png.c_str());
  push(0x1234);
  call("loadsurface");
  Surface* keyed = surface_of(pop_number());
  ASSERT_TRUE(keyed);
  EXPECT_EQ(keyed->colour_key, 0x1234);
  display::surface_delete(keyed);
  EXPECT_EQ(load_image_surface(device_path("vga_text.txt").c_str()), nullptr);
  unsetenv("ZRK_ROOT");
}

}  // namespace
