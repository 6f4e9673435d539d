// The game's shared maths: cosine tables, distances, directions, centres, averages, and
// the collide string turned into class hashes.
#include "game/game_math.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "foundation/string_helpers.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "platform/kernel/memory.h"

double cos256_table[kCosine256Size];
double cos_degree_table[kCosineDegreeSize];

void build_cosine_table_256() {
  for (int32_t i = 0; i < kCosine256Size; ++i) cos256_table[i] = std::cos(i * kTwoPi / 256);
}

void build_cosine_table_degrees() {
  for (int32_t i = 0; i < kCosineDegreeSize; ++i) cos_degree_table[i] = std::cos(i / kDegreesPerRadian);
}

double point_distance(double x1, double y1, double x2, double y2, int32_t mode) {
  if (mode == 8) return std::sqrt(std::pow(x2 - x1, 2.0) + std::pow(y2 - y1, 2.0));
  return std::fabs(x1 - x2) + std::fabs(y1 - y2);
}

double point_angle(double x1, double y1, double x2, double y2, int32_t degrees) {
  double dx = x2 - x1;
  double dy = y2 - y1;
  // The short constants would give 89.99999999998 and the like for axis directions;
  // in degrees those come out whole, so sines and cosines of them give exact zeros.
  double angle;
  if (dx == 0 && dy == 0) return 0;
  if (dx == 0) {
    if (degrees) return dy > 0 ? 90.0 : 270.0;
    angle = dy > 0 ? 1.570796326795 : 4.7123889803850005;
  } else if (dy == 0) {
    if (degrees) return dx > 0 ? 0.0 : 180.0;
    angle = dx > 0 ? 0 : 3.14159265359;
  } else if (dx < 0) {
    angle = std::atan(dy / dx) + 3.14159265359;
  } else if (dy < 0) {
    angle = std::atan(dy / dx) + kTwoPi;
  } else {
    angle = std::atan(dy / dx);
  }
  return degrees ? angle * kDegreesPerRadian : angle;
}

IntPoint sprite_centre(const Sprite* sprite) {
  return {truncate_to_int(sprite->drawn_width * 0.5 + sprite->x), truncate_to_int(sprite->drawn_height * 0.5 + sprite->y)};
}

IntPoint rect_centre(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {truncate_to_int((static_cast<double>(right) - left) * 0.5 + left),
          truncate_to_int((static_cast<double>(bottom) - top) * 0.5 + top)};
}

bool rect_intersects_screen(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  RECT screen{0, 0, game.screen_width, game.screen_height};
  return rects_intersect(RECT{left, top, right, bottom}, screen);
}

namespace {

int32_t ring_average(const int32_t* samples, int32_t count) {
  count = std::min(count, kSampleRingSize);
  if (count <= 0) return 0;
  float sum = 0;
  for (int32_t i = 0; i < count; ++i) sum += static_cast<float>(samples[i]);
  return truncate_to_int(sum / static_cast<float>(count));
}

}  // namespace

int32_t average_fps_samples() { return ring_average(game.fps_samples, game.fps_sample_count); }
int32_t average_step_samples() { return ring_average(game.step_samples, game.step_sample_count); }

void collide_hash_push(Sprite* sprite, uint32_t hash) {
  auto* node = static_cast<CollideHashNode*>(crt::calloc(1, sizeof(CollideHashNode)));
  if (!node) return;
  node->hash = hash;
  node->next = sprite->collide_hashes;
  sprite->collide_hashes = node;
}

void collide_hashes_free(Sprite* sprite) {
  CollideHashNode* node = sprite->collide_hashes;
  while (node) {
    CollideHashNode* next = node->next;
    crt::free(node);
    node = next;
  }
  sprite->collide_hashes = nullptr;
}

bool collide_list_holds(const Sprite* sprite, uint32_t hash) {
  for (const CollideHashNode* node = sprite->collide_hashes; node; node = node->next) {
    if (node->hash == hash) return true;
  }
  return false;
}

void parse_collide_string(Sprite* sprite) {
  const char* text = sprite->collide;
  if (!text || !*text) return;
  // Each item is cut out on its own, so an item of any length fits.
  for (const char* start = text;;) {
    const char* comma = std::strchr(start, ',');
    size_t length = comma ? static_cast<size_t>(comma - start) : std::strlen(start);
    if (!comma && length == 0) break;
    auto* item = static_cast<char*>(crt::malloc(length + 1));
    if (!item) return;
    std::memcpy(item, start, length);
    item[length] = 0;
    char* right = trim_right_spaces(item);
    char* both = right ? trim_left_spaces(right) : nullptr;
    if (both) {
      for (char* c = both; *c; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
      }
      collide_hash_push(sprite, hash_name_text(both));
    }
    crt::free(both);
    crt::free(right);
    crt::free(item);
    if (!comma) break;
    start = comma + 1;
  }
}
