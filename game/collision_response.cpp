// Collision events and the automatic response for a sprite the main loop has moved.
#include "game/collision_response.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "foundation/numbers.h"
#include "game/collision.h"
#include "game/game_loop.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/crt.h"
#include "vm/runtime_globals.h"
#include "foundation/variable.h"

namespace {

constexpr uint64_t kOptionMomentum = 1ull << 6;
constexpr uint64_t kOptionBounceX = 1ull << 10;
constexpr uint64_t kOptionBounceY = 1ull << 14;
constexpr uint64_t kOptionSlide = 1ull << 16;
constexpr uint64_t kOptionOwnCollisionEvent = 1ull << 21;
constexpr uint64_t kOptionInsideBorder = 1ull << 29;
constexpr uint64_t kOptionStopX = 1ull << 33;
constexpr uint64_t kOptionStopY = 1ull << 37;
constexpr uint64_t kOptionBounces = 1ull << 45;
constexpr uint64_t kOptionBlockTop = 1ull << 49;      // side 16
constexpr uint64_t kOptionSwept = 1ull << 52;
constexpr uint64_t kOptionBlockBottom = 1ull << 53;   // side 1
constexpr uint64_t kOptionBlockLeft = 1ull << 57;     // side 4096
constexpr uint64_t kOptionBlockRight = 1ull << 61;    // side 256
constexpr uint64_t kOptionAxisByAxis = 1ull << 60;
constexpr int32_t kCollisionMessage = 1025;

uint32_t handle_of(const Sprite* sprite) { return platform::address_of(sprite); }

void recompute(Sprite* sprite) { sprite->screen_rect = compute_screen_rect(sprite, 0, 0); }

int32_t side_code(const Variable* variable) {
  if (!variable || !variable->data) return 0;
  return *static_cast<const int32_t*>(variable->data);
}

bool has_bounce(const Sprite* sprite) { return (sprite->options & kOptionBounces) || sprite->elasticity != 0; }

// A hit's sprite, or null when it is a region or its sprite is gone.
Sprite* hit_sprite(const CollisionHit* hit) {
  return hit->sprite ? sprite_from_handle(handle_of(hit->sprite)) : nullptr;
}

int32_t raise_collision_events(Sprite* sprite, Sprite* other, const CollisionHit* hit) {
  publish_collision_details(sprite, other, hit->a, hit->b, hit->c, hit->d);
  if (game.game_collide != 0) game_event(kCollisionMessage, handle_of(sprite), handle_of(other));
  if (!sprite_alive(sprite) || (other && !sprite_alive(other))) return 0;
  if (game.event_result != 0 && (sprite->options & kOptionOwnCollisionEvent)) {
    sprite_event(sprite, kCollisionMessage, handle_of(other), 0);
    return 0;
  }
  if (other && (other->options & kOptionOwnCollisionEvent) && game.event_result != 0) {
    sprite_event(other, kCollisionMessage, handle_of(sprite), 0);
    return sprite_alive(sprite) ? 1 : 0;
  }
  return 1;
}

bool blocks_on(const Sprite* other, uint64_t bit) { return other->plain_motion || (other->options & bit); }

// Tries to slide the sprite sideways to x; true when it moved.
bool slide_to(Sprite* sprite, double x) {
  CollisionHit* hits = collisions_at_position(sprite, truncate_to_int(x), truncate_to_int(sprite->y), 1);
  if (!hits) return true;
  node_list_free(&hits);
  return false;
}

void slide(Sprite* sprite, Sprite* other) {
  if (sprite->slide_dir == 0) sprite->slide_dir = 1 - truncate_to_int(crt::rand() / 32768.0 * -2);
  double step = sprite->slide_dir == 1 ? 1.0 : -1.0;
  double centre = sprite->x + sprite->drawn_width / 2;
  double other_centre = other->x + other->drawn_width / 2;
  double first = centre < other_centre ? sprite->x - step : sprite->x + step;
  double second = centre < other_centre ? sprite->x + step : sprite->x - step;
  bool free_first = slide_to(sprite, first);
  if (free_first && first != sprite->slide_last_x) {
    sprite->slide_last_x = sprite->x;
    sprite->x = first;
    recompute(sprite);
    return;
  }
  if (free_first) return;
  if (slide_to(sprite, second) && second != sprite->slide_last_x) {
    sprite->slide_last_x = sprite->x;
    sprite->x = second;
    recompute(sprite);
  }
  sprite->slide_dir = sprite->slide_dir == 1 ? 2 : 1;
}

void respond_to_collision(Sprite* sprite, Sprite* other, const CollisionHit* hit, int32_t px, int32_t py,
                          bool raise) {
  int32_t r = 1;
  if (raise) {
    r = raise_collision_events(sprite, other, hit);
  } else {
    publish_collision_details(sprite, other, hit->a, hit->b, hit->c, hit->d);
  }
  if (!sprite_alive(sprite)) return;
  if (game.event_result != 0 && !has_bounce(sprite) && !(sprite->options & kOptionSwept) && other) {
    int32_t side = side_code(s_collide_variable);
    if ((side == 256 && blocks_on(other, kOptionBlockRight)) || (side == 4096 && blocks_on(other, kOptionBlockLeft))) {
      sprite->can_move_x = 0;
      if (other->options & kOptionStopX) sprite->vel_x = 0;
      sprite->x = px;
      recompute(sprite);
    } else if ((side == 16 && blocks_on(other, kOptionBlockTop)) ||
               (side == 1 && blocks_on(other, kOptionBlockBottom))) {
      sprite->can_move_y = 0;
      if (other->options & kOptionStopY) sprite->vel_y = 0;
      sprite->y = py;
      recompute(sprite);
    } else if (side == 0) {
      sprite->x = px;
      sprite->y = py;
      recompute(sprite);
    }
  }
  if (r == 0 || !sprite_alive(sprite) || (other && !sprite_alive(other)) || game.event_result == 0) return;
  if ((sprite->options & kOptionMomentum) && other && other->mass > 0) {
    collide_with_mass(sprite, other);
    sprite->x = px;
    sprite->y = py;
    recompute(sprite);
  }
  if ((sprite->options & kOptionBounces) &&
      !(std::fabs(sprite->vel_x) < game.step_gravity && std::fabs(sprite->vel_y) < game.step_gravity)) {
    int32_t side = side_code(t_collide_variable);
    int32_t axis = 0;
    if (side == 1 || side == 16) axis = 2;
    else if (other && (other->options & kOptionBounceY)) axis = 2;
    else if (side == 256 || side == 4096) axis = 1;
    else if (other && (other->options & kOptionBounceX)) axis = 1;
    bounce_sprites(sprite, other, axis);
    sprite->x = px;
    sprite->y = py;
    recompute(sprite);
  }
  if (other && sprite->mass != 0 && (sprite->options & kOptionSlide)) slide(sprite, other);
}

// Raises the events of every hit, then answers the first one; a first hit destroyed by
// the answer is followed by the next first hit, until none is left or it repeats.
void handle_hits(Sprite* sprite, CollisionHit* hits, int32_t px, int32_t py) {
  for (CollisionHit* hit = hits; hit && sprite_alive(sprite); hit = hit->next) {
    Sprite* other = hit_sprite(hit);
    if (hit->sprite && !other) continue;
    if (other && other->deleted) continue;
    raise_collision_events(sprite, other, hit);
  }
  if (!sprite_alive(sprite) || !hits) {
    node_list_free(&hits);
    return;
  }
  Sprite* first = hit_sprite(hits);
  bool first_gone = hits->sprite && (!first || first->deleted);
  if (!first_gone) respond_to_collision(sprite, first, hits, px, py, false);
  node_list_free(&hits);
  if (first_gone || (first && sprite_alive(first))) return;
  // The answer removed the sprite it answered: the next one in the way is answered too.
  Sprite* previous = first;
  while (sprite_alive(sprite)) {
    CollisionHit* again = collect_grid_collisions(sprite, 1);
    if (!again) return;
    Sprite* next = hit_sprite(again);
    if (next == previous || (again->sprite && !next)) {
      node_list_free(&again);
      return;
    }
    respond_to_collision(sprite, next, again, px, py, false);
    node_list_free(&again);
    if (next && sprite_alive(next)) return;
    previous = next;
  }
}

// Walks from (px, py) toward (nx, ny) one pixel at a time along the longer axis; the
// first point with a hit is answered from the last free point.
void swept_pass(Sprite* sprite, int32_t px, int32_t py, int32_t nx, int32_t ny) {
  int32_t dx = nx - px, dy = ny - py;
  int32_t steps = std::max(std::abs(dx), std::abs(dy));
  int32_t free_x = px, free_y = py;
  for (int32_t step = 1; step <= steps; ++step) {
    int32_t x = px + int32_t(int64_t(dx) * step / steps);
    int32_t y = py + int32_t(int64_t(dy) * step / steps);
    CollisionHit* hits = collisions_at_position(sprite, x, y, 1);
    if (hits) {
      Sprite* other = hit_sprite(hits);
      if (!hits->sprite || other) respond_to_collision(sprite, other, hits, free_x, free_y, true);
      node_list_free(&hits);
      return;
    }
    free_x = x;
    free_y = y;
  }
}

void border_velocity(Sprite* sprite, double* velocity, int32_t axis) {
  if (!has_bounce(sprite)) {
    *velocity = 0;
  } else if (std::fabs(*velocity) >= game.step_gravity) {
    bounce_sprites(sprite, nullptr, axis);
  } else {
    *velocity = 0;
  }
}

void border_pass(Sprite* sprite, int32_t px, int32_t py) {
  const RECT& border = game.border;
  bool contact = false;
  RECT rect = sprite->screen_collide_rect;
  if (rect.left < border.left || rect.right > border.right) {
    int32_t edge = rect.left < border.left ? border.left : border.right;
    publish_collision_details(sprite, nullptr, edge, border.top, edge, border.bottom);
    border_velocity(sprite, &sprite->vel_x, 1);
    sprite->x = px;
    recompute(sprite);
    contact = true;
  }
  rect = sprite->screen_collide_rect;
  if (rect.top < border.top || rect.bottom > border.bottom) {
    int32_t edge = rect.top < border.top ? border.top : border.bottom;
    publish_collision_details(sprite, nullptr, border.left, edge, border.right, edge);
    border_velocity(sprite, &sprite->vel_y, 2);
    sprite->y = py;
    recompute(sprite);
    contact = true;
  }
  if (!contact) return;
  game.event_result = 1;
  if (game.game_collide != 0) game_event(kCollisionMessage, handle_of(sprite), 0);
  if (sprite_alive(sprite) && game.event_result != 0 && (sprite->options & kOptionOwnCollisionEvent)) {
    sprite_event(sprite, kCollisionMessage, 0, 0);
  }
}

bool same_sprites(const DrawListNode* a, const DrawListNode* b) {
  for (; a && b; a = a->next, b = b->next) {
    if (a->sprite != b->sprite) return false;
  }
  return a == nullptr && b == nullptr;
}

}  // namespace

bool sprite_alive(const Sprite* sprite) {
  return sprite && sprite_from_handle(handle_of(sprite)) != nullptr && !sprite->deleted;
}

int32_t contacts_unchanged_at(Sprite* sprite, int32_t x, int32_t y) {
  const RECT& rect = sprite->screen_collide_rect;
  if ((sprite->options & kOptionInsideBorder) && y + (rect.bottom - rect.top) > game.border.bottom) return 1;
  CollisionHit* hits = collisions_at_position(sprite, x, y, 0);
  if (!hits) {
    node_list_free(&sprite->last_contacts);
    return 0;
  }
  if (same_sprites(sprite->last_contacts, hits)) {
    node_list_free(&hits);
    return 1;
  }
  node_list_free(&sprite->last_contacts);
  DrawListNode* tail = nullptr;
  for (const CollisionHit* hit = hits; hit; hit = hit->next) {
    tail = node_list_append(&sprite->last_contacts, tail);
    if (!tail) break;
    tail->sprite = hit->sprite;
  }
  node_list_free(&hits);
  return 0;
}

void collide_moved_sprite(Sprite* sprite, int32_t px, int32_t py) {
  int32_t nx = truncate_to_int(sprite->x), ny = truncate_to_int(sprite->y);
  if (sprite->options & kOptionSwept) {
    swept_pass(sprite, px, py, nx, ny);
  } else if (sprite->options & kOptionAxisByAxis) {
    if (nx != px) {
      game.move_axis = 1;
      handle_hits(sprite, collisions_at_position(sprite, nx, py, 0), px, py);
    }
    if (ny != py && sprite_alive(sprite)) {
      game.move_axis = 2;
      handle_hits(sprite, collisions_at_position(sprite, truncate_to_int(sprite->x), ny, 0), px, py);
    }
  } else {
    handle_hits(sprite, collect_grid_collisions(sprite, 0), px, py);
  }
  if (!sprite_alive(sprite)) return;
  if (game.event_result != 0 && (sprite->options & kOptionInsideBorder)) border_pass(sprite, px, py);
}
