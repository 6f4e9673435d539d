// Sprite frames on a 240 x 320 screen: 500 32 x 32 sprites drawn through alpha images,
// 100 of them rotated, by the renderer over the draw list. Prints the median frames per
// second, how much of a frame the blitters take (the same blits made directly), and
// memcpy of the same rows as the yardstick.
//   sprite_render_speed [frames [runs [rotated]]]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "display/canvas.h"
#include "display/surface.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "game/sprite_render.h"
#include "bench/bench_clock.h"

namespace {

using bench::median;
const auto now_ms = bench::wall_ms;

constexpr int32_t kWidth = 240, kHeight = 320;
constexpr int32_t kSprites = 500, kSide = 32;

display::Surface* filled(uint32_t seed, bool weights) {
  display::Surface* surface = display::surface_new(kSide, kSide);
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      // A round sprite: opaque inside, fading at the rim, transparent in the corners.
      int32_t dx = x - kSide / 2, dy = y - kSide / 2, d = dx * dx + dy * dy;
      uint16_t weight = uint16_t(d < 144 ? 31 : d < 256 ? 31 - (d - 144) / 4 : 0);
      *surface->buffer->at(x, y) = weights ? uint16_t(weight << 6) : uint16_t((x * 2 + y * 64 + seed * 977) & 0xFFFF);
    }
  return surface;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 200;
  int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  int rotated = argc > 3 ? std::atoi(argv[3]) : 100;

  display::Surface* screen = display::surface_new(kWidth, kHeight);
  display::Canvas* canvas = display::canvas_create_for_surface(nullptr, screen);
  game.draw_canvas = canvas;
  game.screen_width = kWidth;
  game.screen_height = kHeight;
  update_view_rect();

  srand(7);
  std::vector<Sprite*> sprites;
  DrawListNode* tail = nullptr;
  for (int32_t i = 0; i < kSprites; ++i) {
    Sprite* sprite = create_sprite();
    sprite->surface = filled(uint32_t(i), false);
    sprite->alpha_surface = filled(0, true);
    sprite->width = sprite->height = kSide;
    sprite->frame_rects[0] = RECT{0, 0, kSide, kSide};
    sprite->frame_count = 1;
    sprite->x = rand() % (kWidth - kSide);
    sprite->y = rand() % (kHeight - kSide);
    sprite->visible = 1;
    sprite->alpha = -1;
    if (i < rotated) {
      sprite->full_render = 1;
      sprite->angle = 10 + i * 3;
    }
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    tail = node_list_append(&game.draw_list_head, tail);
    tail->sprite = sprite;
    sprites.push_back(sprite);
  }

  // The blitters alone: the same clear and blits, without the renderer around them. The
  // rotated ones blit their 32 x 32 pictures as the renderer's copies would be.
  auto blits_only = [&] {
    display::canvas_clear(canvas, 0);
    for (Sprite* sprite : sprites) {
      int32_t x = int32_t(sprite->x), y = int32_t(sprite->y);
      if (sprite->full_render) {
        display::canvas_blit_rotozoom(canvas, x + kSide / 2, y + kSide / 2, float(sprite->angle * 0.0174533),
                                      sprite->surface, sprite->alpha_surface);
      } else {
        display::canvas_blit_sprite(canvas, x, y, sprite->surface, sprite->alpha_surface, nullptr);
      }
    }
  };
  auto frame = [&] {
    display::canvas_clear(canvas, 0);
    render_sprites();
  };
  std::vector<uint8_t> rows(size_t(kSide) * kSide * 2 * kSprites);
  std::vector<uint8_t> copied(rows.size());
  auto memcpy_rows = [&] {
    std::memset(screen->buffer->pixels, 0, size_t(screen->buffer->pitch) * kHeight);
    for (int32_t i = 0; i < kSprites; ++i)
      for (int32_t y = 0; y < kSide; ++y) {
        size_t at = (size_t(i) * kSide + size_t(y)) * kSide * 2;
        std::memcpy(&copied[at], &rows[at], kSide * 2);
      }
  };

  std::vector<double> frame_ms, blit_ms, copy_ms;
  for (int run = 0; run < runs; ++run) {
    double start = now_ms();
    for (int f = 0; f < frames; ++f) frame();
    frame_ms.push_back((now_ms() - start) / frames);
    start = now_ms();
    for (int f = 0; f < frames; ++f) blits_only();
    blit_ms.push_back((now_ms() - start) / frames);
    start = now_ms();
    for (int f = 0; f < frames; ++f) memcpy_rows();
    copy_ms.push_back((now_ms() - start) / frames);
  }
  double frame_median = median(frame_ms), blit_median = median(blit_ms), copy_median = median(copy_ms);
  std::printf("sprite frame (500 alpha-mapped 32x32, %d rotated, 240x320): %.3f ms, %.0f frames/s\n", rotated,
              frame_median, 1000.0 / frame_median);
  std::printf("the same blits made directly: %.3f ms (%.0f%% of a frame)\n", blit_median,
              100.0 * blit_median / frame_median);
  std::printf("memcpy of the same rows (and the screen cleared): %.3f ms\n", copy_median);

  destroy_all_sprites();
  delete canvas;
  display::surface_delete(screen);
  return 0;
}
