// Sprite rendering against pixels worked out by hand: plain, keyed, offset, mirrored and
// stretched pictures, clips, image-less sprites, the light pass, the draw list and the
// drawsurface built-ins; and the canvas left as it was found after every effect.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "../library/builtin_fixture.h"
#include "display/canvas.h"
#include "display/surface.h"
#include "game/draw_list.h"
#include "game/game_drawing.h"
#include "game/game_display.h"
#include "game/game_state.h"
#include "game/game_behaviour_builtins.h"
#include "game/particles.h"
#include "game/pending_links.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "game/sprite_render.h"
#include "game_screen.h"
#include "platform/kernel/types.h"

namespace {

using display::Surface;

constexpr int32_t kScreenWidth = 64;
constexpr int32_t kScreenHeight = 48;

// A picture whose every pixel tells where it came from: x + 64 * y + 1 (never 0).
Surface* numbered_picture(int32_t width, int32_t height) {
  Surface* surface = display::surface_new(uint32_t(width), uint32_t(height));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) *surface->buffer->at(x, y) = uint16_t(x + 64 * y + 1);
  return surface;
}

uint16_t numbered(int32_t x, int32_t y) { return uint16_t(x + 64 * y + 1); }

class SpriteRender : public BuiltinTest {
 protected:
  SpriteRender() : BuiltinTest(register_game_display_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    game = GameState{};
    ASSERT_NO_FATAL_FAILURE(open_game_screen(kScreenWidth, kScreenHeight, screen, canvas));
    update_view_rect();
    game_drawing = {screen, nullptr};
  }
  void TearDown() override {
    destroy_all_sprites();
    node_list_free(&game.draw_list_head);
    for (Surface* surface : pictures) display::surface_delete(surface);
    close_game_screen(screen, canvas);
    game = GameState{};
    game_drawing = {nullptr, nullptr};
    // Registering filled the renderer's hooks: later tests expect them as they were.
    particle_frame_renderer = draw_sprite_frame_plain;
    sprite_renderer_hooks = SpriteRendererHooks{};
    BuiltinTest::TearDown();
  }

  Surface* picture(int32_t width, int32_t height) {
    pictures.push_back(numbered_picture(width, height));
    return pictures.back();
  }
  uint16_t pixel(int32_t x, int32_t y) const { return *screen->buffer->at(x, y); }
  // Calls the built-in with the numbers as its arguments.
  void run(const char* name, std::initializer_list<double> arguments) {
    for (double argument : arguments) push(argument);
    call(name);
  }
  // Every screen pixel against expected(x, y).
  void expect_screen(const std::function<uint16_t(int32_t, int32_t)>& expected, const char* what) const {
    int32_t wrong = 0;
    for (int32_t y = 0; y < kScreenHeight; ++y)
      for (int32_t x = 0; x < kScreenWidth; ++x)
        if (pixel(x, y) != expected(x, y) && wrong++ < 5)
          ADD_FAILURE() << what << ": (" << x << ", " << y << ") is " << pixel(x, y) << ", not " << expected(x, y);
  }
  // The canvas must come back plain, on the screen, with its whole area as clip.
  void expect_canvas_untouched() const {
    EXPECT_EQ(canvas->target, screen);
    EXPECT_EQ(canvas->blitter, display::copy_blitter());
    EXPECT_EQ(canvas->clip.right - canvas->clip.left, kScreenWidth);
    EXPECT_EQ(canvas->clip.bottom - canvas->clip.top, kScreenHeight);
    EXPECT_EQ(game.pixel_filter.enabled, 0);
  }
  Sprite* listed_sprite(Surface* surface, double x, double y, int32_t width, int32_t height) {
    Sprite* sprite = create_sprite();
    sprite->surface = surface;
    sprite->x = x;
    sprite->y = y;
    sprite->width = width;
    sprite->height = height;
    sprite->frame_rects[0] = RECT{0, 0, width, height};
    sprite->visible = 1;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    DrawListNode* node = node_list_append(&game.draw_list_head, node_list_last(game.draw_list_head));
    node->sprite = sprite;
    return sprite;
  }

  Surface* screen = nullptr;
  display::Canvas* canvas = nullptr;
  std::vector<Surface*> pictures;
};

bool inside(int32_t x, int32_t y, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return x >= left && x < right && y >= top && y < bottom;
}

TEST_F(SpriteRender, PicturesLandWhereTheirOptionsPutThem) {
  Surface* image = picture(32, 8);
  struct Case {
    const char* what;
    std::function<void(SurfaceDrawing&)> set;
    // The source pixel shown at screen (x, y) for a drawing at (4, 6), or false.
    std::function<bool(int32_t, int32_t, int32_t*, int32_t*)> source;
  } cases[] = {
      {"plain", [](SurfaceDrawing&) {},
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x - 4, *sy = y - 6;
         return inside(x, y, 4, 6, 36, 14);
       }},
      // Columns 10..31 at x, 0..9 at x + 22.
      {"offset x 10", [](SurfaceDrawing& d) { d.offset_x = 10; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x < 26 ? x - 4 + 10 : x - 26, *sy = y - 6;
         return inside(x, y, 4, 6, 36, 14);
       }},
      {"offset x -22 is offset 10", [](SurfaceDrawing& d) { d.offset_x = -22; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x < 26 ? x - 4 + 10 : x - 26, *sy = y - 6;
         return inside(x, y, 4, 6, 36, 14);
       }},
      {"offset y 3", [](SurfaceDrawing& d) { d.offset_y = 3; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x - 4, *sy = y < 11 ? y - 6 + 3 : y - 11;
         return inside(x, y, 4, 6, 36, 14);
       }},
      {"mirrored left-right", [](SurfaceDrawing& d) { d.options = kOptionMirrorX; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = 31 - (x - 4), *sy = y - 6;
         return inside(x, y, 4, 6, 36, 14);
       }},
      {"mirrored top-bottom", [](SurfaceDrawing& d) { d.options = kOptionMirrorY; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x - 4, *sy = 7 - (y - 6);
         return inside(x, y, 4, 6, 36, 14);
       }},
      {"stretched twice", [](SurfaceDrawing& d) { d.width = 64, d.height = 16; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = (x - 4) / 2, *sy = (y - 6) / 2;
         return inside(x, y, 4, 6, 64, 22);
       }},
      {"source part", [](SurfaceDrawing& d) { d.source_x = 5, d.source_y = 2, d.width = 10, d.height = 3, d.source_width = 10, d.source_height = 3; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x - 4 + 5, *sy = y - 6 + 2;
         return inside(x, y, 4, 6, 14, 9);
       }},
      {"clipped", [](SurfaceDrawing& d) { d.clip = RECT{2, 1, 20, 5}; },
       [](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
         *sx = x - 4, *sy = y - 6;
         return inside(x, y, 6, 7, 24, 11);
       }},
  };
  for (const Case& c : cases) {
    display::canvas_clear(canvas, 0);
    SurfaceDrawing d;
    d.surface = image;
    d.x = 4;
    d.y = 6;
    d.width = 32;
    d.height = 8;
    c.set(d);
    render_surface(d);
    expect_screen(
        [&](int32_t x, int32_t y) {
          int32_t sx, sy;
          return c.source(x, y, &sx, &sy) ? numbered(sx, sy) : uint16_t(0);
        },
        c.what);
    expect_canvas_untouched();
  }
}

TEST_F(SpriteRender, KeyedPixelsStayTransparentThroughEveryPath) {
  Surface* image = picture(8, 8);
  image->colour_key = numbered(3, 3);
  for (int32_t variant = 0; variant < 3; ++variant) {
    display::canvas_clear(canvas, 0x0700);
    SurfaceDrawing d;
    d.surface = image;
    d.width = d.height = 8;
    if (variant == 1) d.offset_x = 8;  // a full turn: the transformed path, same picture
    if (variant == 2) d.options = kOptionMirrorX | kOptionMirrorY, d.x = 0;
    render_surface(d);
    int32_t kx = variant == 2 ? 4 : 3, ky = variant == 2 ? 4 : 3;
    EXPECT_EQ(pixel(kx, ky), 0x0700) << variant;
    EXPECT_NE(pixel(kx + 1, ky), 0x0700) << variant;
    EXPECT_EQ(image->colour_key, numbered(3, 3)) << variant;
  }
}

// A picture without a key has no transparent colour: tinted, lit or weighed through an
// alpha image, its white pixels (the old stand-in for "no key") and black ones show.
TEST_F(SpriteRender, UnkeyedPicturesKeepEveryColourThroughTheFilter) {
  constexpr int32_t kWidth = 27;  // wide lanes, narrow lanes and single pixels
  constexpr uint16_t kUnder = 0x001F;
  Surface* image = picture(kWidth, 4);
  for (int32_t x = 0; x < kWidth; ++x) {
    *image->buffer->at(x, 0) = 0xFFFF;
    *image->buffer->at(x, 1) = 0x0000;
  }
  ASSERT_EQ(image->colour_key, display::no_colour_key);
  Surface* weights = picture(kWidth, 4);
  display::PixelBuffer* full = weights->buffer;
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < kWidth; ++x) *full->at(x, y) = 0xFFFF;  // every pixel at full weight
  struct Case {
    const char* what;
    std::function<void(SurfaceDrawing&)> set;
  } cases[] = {
      {"tinted", [](SurfaceDrawing& d) { d.tint = 0xF800, d.tint_level = 128; }},
      {"lit", [](SurfaceDrawing& d) { d.light = 128; }},
      {"tinted and lit", [](SurfaceDrawing& d) { d.tint = 0x07E0, d.tint_level = 255, d.light = 64; }},
      {"tinted through an alpha image", [&](SurfaceDrawing& d) { d.tint = 0xF800, d.tint_level = 128, d.alpha_surface = weights; }},
      {"lit through an alpha image", [&](SurfaceDrawing& d) { d.light = 128, d.alpha_surface = weights; }},
  };
  for (const Case& c : cases) {
    display::canvas_clear(canvas, kUnder);
    SurfaceDrawing d;
    d.surface = image;
    d.width = kWidth;
    d.height = 4;
    c.set(d);
    render_surface(d);
    int32_t hidden = 0;
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < kWidth; ++x) hidden += pixel(x, y) == kUnder;
    EXPECT_EQ(hidden, 0) << c.what;
    expect_canvas_untouched();
  }
  // With white as its key, the same drawing leaves exactly the white row transparent.
  image->colour_key = 0xFFFF;
  display::canvas_clear(canvas, kUnder);
  SurfaceDrawing d;
  d.surface = image;
  d.width = kWidth;
  d.height = 4;
  d.tint = 0xF800;
  d.tint_level = 128;
  render_surface(d);
  for (int32_t x = 0; x < kWidth; ++x) {
    EXPECT_EQ(pixel(x, 0), kUnder) << x;
    EXPECT_NE(pixel(x, 1), kUnder) << x;
  }
}

TEST_F(SpriteRender, EffectsAreUndoneAfterTheDrawing) {
  Surface* image = picture(8, 8);
  SurfaceDrawing d;
  d.surface = image;
  d.width = d.height = 8;
  d.alpha = 128;
  d.tint = 0xF800;
  d.tint_level = 128;
  d.light = 40;
  d.options = kOptionInvert | kOptionGreyscale | kOptionSmooth | kOptionAlternatePixels;
  render_surface(d);
  expect_canvas_untouched();
  EXPECT_EQ(game.pixel_filter.tint1_colour, 0xFFFFFFFFu);
  EXPECT_EQ(game.pixel_filter.tint2_colour, 0xFFFFFFFFu);
  EXPECT_EQ(game.pixel_filter.invert | game.pixel_filter.greyscale | game.pixel_filter.smooth |
                game.pixel_filter.alternate,
            0u);
  // The next plain drawing copies exactly.
  display::canvas_clear(canvas, 0);
  render_surface(SurfaceDrawing{.surface = image, .width = 8, .height = 8});
  expect_screen([](int32_t x, int32_t y) { return x < 8 && y < 8 ? numbered(x, y) : uint16_t(0); }, "after effects");
}

TEST_F(SpriteRender, RotationDrawsIntoATargetAndGivesTheCanvasBack) {
  Surface* image = picture(10, 10);
  Surface* target = display::surface_new(20, 20);
  pictures.push_back(target);
  display::canvas_set_target(canvas, target);
  display::canvas_clear(canvas, 0);
  display::canvas_set_target(canvas, screen);
  SurfaceDrawing d;
  d.surface = image;
  d.target = target;
  d.x = d.y = 5;
  d.width = d.height = 10;
  d.angle = 180;
  render_surface(d);
  expect_canvas_untouched();
  // Half a turn about the centre: the picture's corners swap places.
  EXPECT_EQ(*target->buffer->at(14, 14), numbered(0, 0));
  EXPECT_EQ(*target->buffer->at(5, 5), numbered(9, 9));
  EXPECT_EQ(*target->buffer->at(0, 0), 0);
}

// A turned frame of a strip draws exactly as the same frame cut out into a picture of
// its own: with and without an alpha image, with and without a colour key.
TEST_F(SpriteRender, TurnedFrameOfAStripDrawsAsTheFrameAlone) {
  constexpr int32_t kFrameWidth = 12, kFrameHeight = 10;
  auto weights = [this](int32_t width, int32_t first_x) {
    Surface* surface = picture(width, kFrameHeight);
    for (int32_t y = 0; y < kFrameHeight; ++y)
      for (int32_t x = 0; x < width; ++x) *surface->buffer->at(x, y) = uint16_t((((first_x + x) * 7 + y * 3) % 32) << 6);
    return surface;
  };
  Surface* strip = picture(3 * kFrameWidth, kFrameHeight);
  Surface* strip_weights = weights(3 * kFrameWidth, 0);
  // Frame 1 on its own, pixel for pixel.
  Surface* alone = picture(kFrameWidth, kFrameHeight);
  for (int32_t y = 0; y < kFrameHeight; ++y)
    for (int32_t x = 0; x < kFrameWidth; ++x) *alone->buffer->at(x, y) = numbered(kFrameWidth + x, y);
  Surface* alone_weights = weights(kFrameWidth, kFrameWidth);
  const RECT frames[3] = {{0, 0, kFrameWidth, kFrameHeight},
                          {kFrameWidth, 0, 2 * kFrameWidth, kFrameHeight},
                          {2 * kFrameWidth, 0, 3 * kFrameWidth, kFrameHeight}};
  auto drawn = [this](SurfaceDrawing d) {
    display::canvas_clear(canvas, 0);
    render_surface(d);
    std::vector<uint16_t> pixels;
    for (int32_t y = 0; y < kScreenHeight; ++y)
      for (int32_t x = 0; x < kScreenWidth; ++x) pixels.push_back(pixel(x, y));
    return pixels;
  };
  for (double angle : {30.0, 90.0, 180.0, 333.0}) {
    for (bool alpha : {false, true}) {
      for (int32_t key : {display::no_colour_key, int32_t(numbered(kFrameWidth + 3, 4))}) {
        strip->colour_key = alone->colour_key = key;
        SurfaceDrawing d;
        d.x = 20;
        d.y = 15;
        d.width = kFrameWidth;
        d.height = kFrameHeight;
        d.angle = angle;
        d.surface = strip;
        d.frame_rects = frames;
        d.frame = 1;
        d.alpha_surface = alpha ? strip_weights : nullptr;
        std::vector<uint16_t> from_strip = drawn(d);
        d.surface = alone;
        d.frame_rects = nullptr;
        d.alpha_surface = alpha ? alone_weights : nullptr;
        EXPECT_EQ(from_strip, drawn(d)) << angle << " " << alpha << " " << key;
        EXPECT_NE(from_strip, std::vector<uint16_t>(from_strip.size(), 0));
      }
    }
  }
  expect_canvas_untouched();
}

TEST_F(SpriteRender, ImagelessSpriteIsABoxOfItsColourAndAlphaEndsWithIt) {
  Sprite* sprite = create_sprite();
  sprite->drawn_width = 10;
  sprite->drawn_height = 4;
  sprite->color = 0xF800;
  display::canvas_clear(canvas, 0x001F);
  render_sprite_at(sprite, nullptr, 2, 3, 0, 128, 0, 0, 0);
  uint16_t mixed = pixel(2, 3);
  EXPECT_NE(mixed, 0xF800);
  EXPECT_NE(mixed, 0x001F);
  EXPECT_EQ(pixel(11, 6), mixed);
  EXPECT_EQ(pixel(12, 6), 0x001F);
  expect_canvas_untouched();
  render_sprite_at(sprite, nullptr, 30, 30, 0, -1, 0, 0, 0);
  EXPECT_EQ(pixel(30, 30), 0xF800);
}

TEST_F(SpriteRender, ListedSpritesScrollWithTheOriginUnlessFixed) {
  Surface* image = picture(4, 4);
  struct Case {
    uint64_t options;
    double scroll_x, scroll_y;
    int32_t expected_x, expected_y;
  } cases[] = {
      {0, 0, 0, 20 - 7, 20 - 5},
      {kOptionFixedX, 0, 0, 20, 20 - 5},
      {kOptionFixedX | kOptionFixedY, 0, 0, 20, 20},
      {0, 0.5, 0, 20 - 3, 20},  // a factor on one axis leaves the other unscrolled
  };
  game.origin_x = 7.9;
  game.origin_y = 5.2;
  for (const Case& c : cases) {
    display::canvas_clear(canvas, 0);
    Sprite* sprite = listed_sprite(image, 20, 20, 4, 4);
    sprite->options = c.options;
    sprite->auto_scroll_x = c.scroll_x;
    sprite->auto_scroll_y = c.scroll_y;
    render_sprites();
    EXPECT_EQ(pixel(c.expected_x, c.expected_y), numbered(0, 0)) << c.options << " " << c.scroll_x;
    EXPECT_EQ(game.current_render_sprite, sprite);
    destroy_sprite(sprite);
    node_list_free(&game.draw_list_head);
  }
}

TEST_F(SpriteRender, RectangleOutsideEverySpriteDrawsNothing) {
  Surface* image = picture(4, 4);
  listed_sprite(image, 10, 10, 4, 4);
  render_sprites_in(RECT{30, 30, 40, 40});
  expect_screen([](int32_t, int32_t) { return uint16_t(0); }, "outside");
  EXPECT_EQ(game.current_render_sprite, nullptr);
  render_sprites_in(RECT{12, 12, 40, 40});
  EXPECT_EQ(pixel(10, 10), numbered(0, 0));
}

TEST_F(SpriteRender, FramesOutsideTheTableDrawNothing) {
  Surface* image = picture(4, 4);
  Sprite* sprite = listed_sprite(image, 10, 10, 4, 4);
  for (int32_t frame : {-1, kSpriteFrameSlots, 1 << 30}) {
    for (uint8_t full : {0, 1}) {
      sprite->frame_index = frame;
      sprite->full_render = full;
      render_sprites();
      render_sprite_at(sprite, nullptr, 0, 0, frame, -1, 0, 0, 0);
      expect_screen([](int32_t, int32_t) { return uint16_t(0); }, "out of the table");
    }
  }
}

TEST_F(SpriteRender, LightFallsOffWithCityBlockDistance) {
  Surface* image = picture(2, 2);
  Sprite* lamp = listed_sprite(image, 0, 0, 2, 2);
  lamp->light = 200;
  lamp->light_radius = 100;
  lamp->drawn_width = lamp->drawn_height = 2;
  // A sprite with its own light is a source too; with radius 0 it lights nothing else.
  struct Case {
    double x, y;
    int32_t own;
    int32_t expected;
  } cases[] = {{30, 20, -1, 100}, {60, 41, -1, 0}, {50, 0, -1, 100}, {10, 0, 230, 255}, {-40, -10, -1, 100}};
  std::vector<Sprite*> lit;
  for (const Case& c : cases) {
    Sprite* sprite = listed_sprite(image, c.x, c.y, 2, 2);
    sprite->drawn_width = sprite->drawn_height = 2;
    sprite->light = c.own;
    lit.push_back(sprite);
  }
  light_pass();
  for (size_t i = 0; i < lit.size(); ++i) EXPECT_EQ(lit[i]->light_level, cases[i].expected) << i;
  EXPECT_EQ(game.geometry_dirty, 1);
}

TEST_F(SpriteRender, DrawSurfaceBuiltinsPassTheirArgumentsThrough) {
  Surface* image = picture(8, 6);
  auto handle = [](const void* p) { return double(platform::address_of(p)); };
  // drawsurface: surface, target, x, y, source x, source y.
  run("drawsurface", {handle(image), 0, 10, 12, 2, 1});
  EXPECT_EQ(pixel(10, 12), numbered(2, 1));
  EXPECT_EQ(pixel(15, 16), numbered(7, 5));
  EXPECT_EQ(pixel(16, 12), 0);  // the source ran out at the picture's edge
  // drawsurface2 stretches the source rectangle over the given size.
  display::canvas_clear(canvas, 0);
  run("drawsurface2", {handle(image), 0, 0, 0, 16, 12, 0, 0, 8, 6, 0});
  EXPECT_EQ(pixel(15, 11), numbered(7, 5));
  EXPECT_EQ(pixel(2, 2), numbered(1, 1));
  // drawsurfaceex: a non-zero option flag mirrors left-right; the clip rectangle holds.
  display::canvas_clear(canvas, 0);
  run("drawsurfaceex",
      {handle(image), 0, 20, 20, 8, 6, 0, 0, 0, 0, 0, -1, -1, 0, -1, 0, 0, 1, 0, 0, 0, 4, 6, 0});
  EXPECT_EQ(pixel(20, 20), numbered(7, 0));
  EXPECT_EQ(pixel(23, 25), numbered(4, 5));
  EXPECT_EQ(pixel(24, 20), 0);
  expect_canvas_untouched();
}

TEST_F(SpriteRender, MaskFramesAreDrawnAsTheRendererDraws) {
  Surface* image = picture(8, 4);
  image->colour_key = numbered(1, 0);
  Sprite* sprite = create_sprite();
  sprite->surface = image;
  sprite->width = 8;
  sprite->height = 4;
  sprite->frame_rects[0] = RECT{0, 0, 8, 4};
  sprite->options = kOptionMirrorX;
  std::vector<uint16_t> pixels(8 * 4, 0xFFFF);
  // Outside a game display too, while a mask build runs.
  game.draw_canvas = nullptr;
  game.mask_build_sprite = sprite;
  ASSERT_TRUE(render_frame_for_mask(sprite, image, pixels.data(), 8, 4, 0));
  game.mask_build_sprite = nullptr;
  EXPECT_EQ(pixels[0], numbered(7, 0));
  EXPECT_EQ(pixels[6], 0xFFFF);  // the keyed pixel leaves the cleared value
  EXPECT_EQ(pixels[3 * 8 + 7], numbered(0, 3));
  EXPECT_EQ(game.draw_canvas, nullptr);
  game.draw_canvas = canvas;
}

}  // namespace
