// Sprite rendering: one drawing routine for a picture with every option a sprite can have
// (frame, stretch, mirror, clip, rotation, image offset, alpha, tint, light, effects, alpha
// image), the one-sprite and whole-list routines above it, the tiled background and the
// light pass. Everything draws through game.draw_canvas.
#pragma once

#include <cstdint>

#include "platform/kernel/system_info.h"

namespace display {
struct Surface;
}
struct Sprite;

// Option bits the renderer tests.
constexpr uint64_t kOptionAlternatePixels = 1ull << 5;
constexpr uint64_t kOptionFastPath = 1ull << 25;
constexpr uint64_t kOptionMirrorX = 1ull << 28;
constexpr uint64_t kOptionMirrorY = 1ull << 32;
constexpr uint64_t kOptionSmooth = 1ull << 40;
constexpr uint64_t kOptionInvert = 1ull << 44;
constexpr uint64_t kOptionGreyscale = 1ull << 48;
constexpr uint64_t kOptionIsoTiles = 1ull << 56;

// One drawing of a picture. A source width or height of 0 reaches the surface's edge;
// alpha, tint and light -1 are off; a clip of all zeros is none.
struct SurfaceDrawing {
  display::Surface* surface = nullptr;
  // Null: the draw canvas's current target.
  display::Surface* target = nullptr;
  int32_t x = 0, y = 0;
  int32_t width = 0, height = 0;
  int32_t source_x = 0, source_y = 0, source_width = 0, source_height = 0;
  int32_t frame = 0;
  // Null: the source rectangle above.
  const RECT* frame_rects = nullptr;
  double angle = 0;  // degrees
  int32_t alpha = -1;
  int32_t tint = -1, tint_level = 0;
  int32_t light = -1;
  int32_t offset_x = 0, offset_y = 0;
  RECT clip{0, 0, 0, 0};
  uint64_t options = 0;
  display::Surface* alpha_surface = nullptr;
};

void render_surface(const SurfaceDrawing& drawing);
// One sprite at screen position (x, y) with its own appearance but the given frame,
// alpha, image offsets and angle; target null draws into the current target.
void render_sprite_at(Sprite* sprite, display::Surface* target, int32_t x, int32_t y, int32_t frame, int32_t alpha,
                      int32_t offset_x, int32_t offset_y, double angle);
// The sprite at its place on screen (scrolled by the view origin as its options say),
// transformed or as a plain blit of its frame.
void render_listed_sprite(Sprite* sprite);
// Every sprite of the draw list in order; with a rectangle, only those whose screen
// rectangle meets it.
void render_sprites();
void render_sprites_in(const RECT& area);
// The background sprite tiled over the screen, cached until it is dirty.
void draw_back_sprite();
// Works out every listed sprite's light level from the map light and the light sources.
void light_pass();

void register_sprite_render_builtins();
