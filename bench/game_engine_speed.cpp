// The whole game engine on one core: a 240 x 320 game display opened on a headless
// window as g_init opens it, 500 animated balls (strips of 4 frames, colour-keyed) moving
// with their own velocities, entered in the collision grid, colliding with each other,
// bouncing and kept inside the border, with collision events on. The clock is the virtual
// one, advanced by one step period before each logic step, so every run does the same
// work. Prints the medians of the logic step, the frame (drawing and presenting), the
// present alone, and of a step and a frame together, against the 2 ms a frame may take;
// then a digest of the sprites and of the last frame, which must not change when the
// engine is made faster.
//   game_engine_speed [steps-per-run [runs [ball-size [grid-cell columns rows]]]]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_clock.h"
#include "display/canvas.h"
#include "display/surface.h"
#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "game/collision.h"
#include "game/collision_grid.h"
#include "game/frame_builtins.h"
#include "game/game_display.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "game/sprite_handles.h"
#include "game/sprite_updates.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/memory.h"
#include "platform/platform.h"
#include "vm/runtime_globals.h"

namespace {

using bench::median;
const auto now_ms = bench::wall_ms;

constexpr int32_t kWidth = 240, kHeight = 320;
constexpr int32_t kSprites = 500, kFrames = 4, kPictures = 4;
int32_t ball_side = 8;  // pixels, square
constexpr uint64_t kCollisionChecks = 1ull << 24, kInsideBorder = 1ull << 29, kBounces = 1ull << 45;

uint32_t seed = 2024;
int32_t next_random(int32_t range) {
  seed = seed * 1664525u + 1013904223u;
  return int32_t((seed >> 8) % uint32_t(range));
}

// A strip of frames of a ball whose lit spot turns round; black is the colour key.
display::Surface* ball_strip(int32_t picture) {
  display::Surface* strip = display::surface_new(ball_side * kFrames, ball_side);
  for (int32_t frame = 0; frame < kFrames; ++frame)
    for (int32_t y = 0; y < ball_side; ++y)
      for (int32_t x = 0; x < ball_side; ++x) {
        int32_t dx = 2 * x - ball_side + 1, dy = 2 * y - ball_side + 1;
        uint16_t colour = 0;
        if (dx * dx + dy * dy < ball_side * ball_side) {
          int32_t spot = ball_side * 3 / 8;
          int32_t sx = dx - (frame & 1 ? spot : -spot), sy = dy - (frame & 2 ? spot : -spot);
          int32_t shade = 31 - std::min(31, (sx * sx + sy * sy) / std::max(1, ball_side * ball_side / 10));
          colour = uint16_t((shade << 11) * (picture != 1) | ((shade * 2) << 5) * (picture != 2) |
                            (shade * (picture != 3)) | 0x0821);
        }
        *strip->buffer->at(frame * ball_side + x, y) = colour;
      }
  strip->colour_key = 0;
  return strip;
}

HWND open_window() {
  WNDCLASSW record{};
  record.lpfnWndProc = DefWindowProcW;
  record.lpszClassName = u"EngineBench";
  RegisterClassW(&record);
  return CreateWindowExW(0, u"EngineBench", u"Engine", WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, nullptr,
                         nullptr, nullptr);
}

// The words the collision details are written to, as the runtime's globals hold them.
Variable* collision_words() {
  auto* variable = static_cast<Variable*>(crt::calloc(1, sizeof(Variable)));
  variable->data = crt::calloc(1, 16);
  return variable;
}

void make_balls(display::Surface* const* pictures) {
  uint32_t ball = hash_name_text("ball");
  for (int32_t i = 0; i < kSprites; ++i) {
    Sprite* sprite = create_sprite();
    sprite->surface = pictures[i % kPictures];
    sprite->anim_speed = 40 + 10 * (i % 4);
    cut_frame_strip(sprite, kFrames);
    sprite->first_frame = 0;
    sprite->last_frame = kFrames - 1;
    sprite->frame_index = i % kFrames;
    // A lattice of 20 x 25 places 12 pixels apart: balls up to 10 pixels start apart.
    sprite->x = (i % 20) * 12 + 1;
    sprite->y = (i / 20) * 12 + 10;
    do {
      sprite->vel_x = (next_random(9) - 4) * 0.5;
      sprite->vel_y = (next_random(9) - 4) * 0.5;
    } while (sprite->vel_x == 0 && sprite->vel_y == 0);
    sprite->id = crt::_strdup("ball");
    sprite->id_hash = ball;
    sprite->collide = crt::_strdup("ball");
    parse_collide_string(sprite);
    sprite->options = kCollisionChecks | kInsideBorder | kBounces;
    sprite_full_render_test(sprite);
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  }
  game.geometry_dirty = game.draw_list_dirty = game.draw_order_dirty = 1;
}

// The pairs of balls that touch, as the grid finds them.
int64_t touching_pairs() {
  int64_t hits = 0;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    CollisionHit* list = collect_grid_collisions(sprite, 0);
    for (CollisionHit* hit = list; hit; hit = hit->next) ++hits;
    node_list_free(&list);
  }
  return hits / 2;
}

uint32_t digest(uint32_t hash, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

}  // namespace

int main(int argc, char** argv) {
  int steps = argc > 1 ? std::atoi(argv[1]) : 200;
  int runs = argc > 2 ? std::atoi(argv[2]) : 9;
  if (steps < 1) steps = 1;
  if (runs < 1) runs = 1;
  if (argc > 3) ball_side = std::clamp(std::atoi(argv[3]), 2, 64);
  setenv("ZRK_DISPLAY", "headless", 0);
  platform::clock_select_virtual(true);
  // A program for the globals the display binds (BORDER$, BUFFER%).
  current_program = create_program_context();
  current_program->globals = variable_record_allocate(current_program, false);

  HWND window = open_window();
  if (!window || !open_game_display(window, nullptr, kWidth, kHeight, 0)) {
    std::fprintf(stderr, "game_engine_speed: no game display\n");
    return 1;
  }
  if (argc > 6) grid_setup(std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  game.game_collide = 1;
  t_collide_variable = collision_words();
  s_collide_variable = collision_words();
  display::Surface* pictures[kPictures];
  for (int32_t i = 0; i < kPictures; ++i) pictures[i] = ball_strip(i);
  make_balls(pictures);

  const uint64_t step_us = uint64_t(game.step_period_ticks * 1000 / game.perf_ticks_per_ms);
  auto step = [&] {
    platform::clock_advance_microseconds(step_us);
    run_game_logic_step(true);
  };
  auto flipped = [](const std::vector<double>& before) {
    int64_t count = 0;
    size_t i = 0;
    for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next, ++i) {
      if ((sprite->vel_x < 0) != (before[2 * i] < 0) || (sprite->vel_y < 0) != (before[2 * i + 1] < 0)) ++count;
    }
    return count;
  };
  for (int i = 0; i < 20; ++i) {
    step();
    draw_game_frame();
  }

  // Wall time, and the processor time of the process, which a busy machine inflates less.
  struct Times {
    std::vector<double> step, frame, present, whole;
  } wall, cpu;
  auto cpu_ms = [] { return bench::cpu_seconds() * 1e3; };
  std::vector<double> velocities(2 * kSprites);
  int64_t bounces = 0, pairs = 0;
  for (int run = 0; run < runs; ++run) {
    double stepping[2] = {0, 0}, drawing[2] = {0, 0};
    for (int i = 0; i < steps; ++i) {
      size_t v = 0;
      for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
        velocities[v++] = sprite->vel_x;
        velocities[v++] = sprite->vel_y;
      }
      double start = now_ms(), start_cpu = cpu_ms();
      step();
      double stepped = now_ms(), stepped_cpu = cpu_ms();
      draw_game_frame();
      double drawn = now_ms(), drawn_cpu = cpu_ms();
      stepping[0] += stepped - start;
      drawing[0] += drawn - stepped;
      stepping[1] += stepped_cpu - start_cpu;
      drawing[1] += drawn_cpu - stepped_cpu;
      bounces += flipped(velocities);
    }
    pairs += touching_pairs();
    double start = now_ms(), start_cpu = cpu_ms();
    for (int i = 0; i < steps; ++i) present_game_screen(nullptr);
    wall.present.push_back((now_ms() - start) / steps);
    cpu.present.push_back((cpu_ms() - start_cpu) / steps);
    for (int clock = 0; clock < 2; ++clock) {
      Times& times = clock == 0 ? wall : cpu;
      times.step.push_back(stepping[clock] / steps);
      times.frame.push_back(drawing[clock] / steps);
      times.whole.push_back((stepping[clock] + drawing[clock]) / steps);
    }
  }

  std::printf("%d balls of %dx%d, %d frames each, on %dx%d; grid of %u-pixel cells, %dx%d; %d runs of %d steps\n",
              kSprites, ball_side, ball_side, kFrames, kWidth, kHeight, game.grid_cell_size, game.grid_columns,
              game.grid_rows, runs, steps);
  std::printf("bounces a step %.1f, touching pairs after a run %.1f\n", double(bounces) / (runs * steps),
              double(pairs) / runs);
  std::printf("medians, ms              wall (a second)    processor\n");
  auto line = [](const char* what, const std::vector<double>& wall_times, const std::vector<double>& cpu_times) {
    double w = median(wall_times);
    std::printf("%-22s %8.3f (%6.0f) %10.3f\n", what, w, 1000.0 / w, median(cpu_times));
  };
  line("logic step", wall.step, cpu.step);
  line("frame (draw, present)", wall.frame, cpu.frame);
  line("  present alone", wall.present, cpu.present);
  line("step and frame", wall.whole, cpu.whole);
  std::printf("goal: a step and a frame under 2 ms\n");

  uint32_t hash = 2166136261u;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    double state[4] = {sprite->x, sprite->y, sprite->vel_x, sprite->vel_y};
    hash = digest(hash, state, sizeof state);
    hash = digest(hash, &sprite->frame_index, sizeof sprite->frame_index);
  }
  uint32_t sprites_hash = hash;
  const display::PixelBuffer* screen = game.draw_canvas->target->buffer;
  for (int32_t y = 0; y < kHeight; ++y) hash = digest(hash, screen->at(0, y), size_t(kWidth) * 2);
  std::printf("digest: sprites %08x, sprites and last frame %08x\n", sprites_hash, hash);

  close_game_display();
  for (display::Surface* picture : pictures) display::surface_delete(picture);
  return 0;
}
