// Collision queries per frame: 1,000 moving 32 x 32 sprites over the collision grid,
// against testing all pairs. Prints the median time of a frame's moves (with their grid
// updates) and of its queries, and how much faster the grid answers than all pairs.
//   collision_grid_speed [frames [grid-only]]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "foundation/hashes.h"
#include "game/collision.h"
#include "game/collision_grid.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/memory.h"
#include "bench/bench_clock.h"

namespace {

using bench::median;
const auto now_ms = bench::wall_ms;

constexpr int32_t kSprites = 1000;
constexpr int32_t kWorld = 1600;  // sprites move inside (-800, -800)..(800, 800)

void move_all(std::vector<Sprite*>& sprites) {
  for (Sprite* sprite : sprites) {
    sprite->x += sprite->vel_x;
    sprite->y += sprite->vel_y;
    if (sprite->x < -kWorld / 2 || sprite->x > kWorld / 2 - 32) sprite->vel_x = -sprite->vel_x;
    if (sprite->y < -kWorld / 2 || sprite->y > kWorld / 2 - 32) sprite->vel_y = -sprite->vel_y;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  }
}

int64_t grid_queries(std::vector<Sprite*>& sprites) {
  int64_t hits = 0;
  for (Sprite* sprite : sprites) {
    CollisionHit* list = collect_grid_collisions(sprite, 0);
    for (CollisionHit* hit = list; hit; hit = hit->next) ++hits;
    node_list_free(&list);
  }
  return hits;
}

// The same question answered without the grid: every sprite against every other.
int64_t all_pairs(std::vector<Sprite*>& sprites) {
  int64_t hits = 0;
  for (Sprite* sprite : sprites) {
    CollisionHit* list = nullptr;
    CollisionHit* tail = nullptr;
    for (Sprite* other : sprites) {
      if (other == sprite || other->paused || (other->options & kOptionNoHitTest)) continue;
      RECT common;
      if (!rect_intersection(sprite->screen_collide_rect, other->screen_collide_rect, &common)) continue;
      if (!collide_list_holds(sprite, other->id_hash)) continue;
      tail = node_list_append(&list, tail);
      tail->sprite = other;
      tail->a = (common.right - common.left) / 2 + common.left - other->screen_collide_rect.left;
      tail->b = (common.bottom - common.top) / 2 + common.top - other->screen_collide_rect.top;
    }
    for (CollisionHit* hit = list; hit; hit = hit->next) ++hits;
    node_list_free(&list);
  }
  return hits;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t frames = argc > 1 ? std::atoi(argv[1]) : 200;
  bool pairs_too = argc <= 2;  // a second argument times the grid alone (for profiling)
  game.children_follow = 1;
  grid_setup(32, 128, 128);
  std::vector<Sprite*> sprites;
  uint32_t seed = 12345;
  auto next = [&seed](int32_t range) {
    seed = seed * 1664525u + 1013904223u;
    return int32_t((seed >> 8) % uint32_t(range));
  };
  for (int32_t i = 0; i < kSprites; ++i) {
    Sprite* sprite = create_sprite();
    sprite->width = sprite->height = 32;
    sprite->x = next(kWorld - 32) - kWorld / 2;
    sprite->y = next(kWorld - 32) - kWorld / 2;
    sprite->vel_x = next(9) - 4;
    sprite->vel_y = next(9) - 4;
    sprite->id = crt::_strdup("ball");
    sprite->id_hash = hash_name_text("ball");
    sprite->collide = crt::_strdup("ball");
    parse_collide_string(sprite);
    sprite->options = kOptionInGrid;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    sprites.push_back(sprite);
  }
  std::vector<double> moves, grid, pairs;
  int64_t grid_hits = 0, pair_hits = 0;
  for (int32_t frame = 0; frame < frames; ++frame) {
    double start = now_ms();
    move_all(sprites);
    double moved = now_ms();
    grid_hits += grid_queries(sprites);
    double queried = now_ms();
    if (pairs_too) pair_hits += all_pairs(sprites);
    double paired = now_ms();
    moves.push_back(moved - start);
    grid.push_back(queried - moved);
    pairs.push_back(paired - queried);
  }
  std::printf("%d sprites of 32 x 32, %d frames, %.1f hits a frame (all pairs: %.1f)\n", kSprites, frames,
              double(grid_hits) / frames, double(pair_hits) / frames);
  std::printf("moves and grid updates   %8.3f ms a frame (median)\n", median(moves));
  std::printf("grid queries             %8.3f ms a frame (median)\n", median(grid));
  std::printf("all pairs                %8.3f ms a frame (median)\n", median(pairs));
  std::printf("grid frame (moves + queries) %8.3f ms; queries %.1fx faster than all pairs\n",
              median(moves) + median(grid), median(pairs) / median(grid));
  destroy_all_sprites();
  grid_free();
  return !pairs_too || grid_hits == pair_hits ? 0 : 1;
}
