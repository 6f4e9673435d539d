// Hit tests, collision queries over the grid, contact details and collision response.
#include "game/collision.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/list_elements.h"
#include "foundation/numbers.h"
#include "foundation/variable.h"
#include "game/collision_grid.h"
#include "game/collision_mask.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/runtime_globals.h"

namespace {

// The mask of the sprite's current frame; none for a frame outside the table.
CollisionMask* current_mask(const Sprite* sprite) {
  int32_t frame = sprite->frame_index;
  return frame >= 0 && frame < kSpriteFrameSlots ? sprite->frame_masks[frame] : nullptr;
}

bool skipped_by_hit_tests(const Sprite* sprite, bool sprite_list) {
  return sprite->deleted || (sprite->options & kOptionNoHitTest) || sprite->paused ||
         (sprite_list && !sprite->visible);
}

bool passes_point_test(const Sprite* sprite, int32_t x, int32_t y, bool sprite_list) {
  if (skipped_by_hit_tests(sprite, sprite_list)) return false;
  const RECT& box = sprite->screen_rect;
  if (x < box.left || x >= box.right || y < box.top || y >= box.bottom) return false;
  if (!(sprite->options & kOptionPixelExact)) return true;
  const CollisionMask* mask = current_mask(sprite);
  if (!mask) return false;
  int32_t column = x - box.left + sprite->clip.left;
  int32_t row = y - box.top + sprite->clip.top;
  if (column < 0 || row < 0 || column >= mask->width || row >= mask->height) return false;
  return mask_pixel(mask, column, row);
}

bool passes_rect_test(const Sprite* sprite, const RECT& rect, bool sprite_list) {
  return !skipped_by_hit_tests(sprite, sprite_list) && rects_intersect(sprite->screen_rect, rect);
}

// Calls visit for each sprite in walk order.
template <typename Visit>
void walk_sprites(int32_t walk, Visit visit) {
  if (walk == 0) {
    for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) visit(sprite, true);
  } else {
    for (DrawListNode* node = game.draw_list_head; node; node = node->next) {
      if (node->sprite) visit(node->sprite, false);
    }
  }
}

ListElement* append_handle(ListElement* last, const Sprite* sprite) {
  ListElement* element = list_element_append(last);
  if (!element) return last;
  element->number = platform::address_of(sprite);
  return element;
}

}  // namespace

Sprite* find_sprite_at_point(int32_t x, int32_t y, int32_t walk) {
  Sprite* found = nullptr;
  walk_sprites(walk, [&](Sprite* sprite, bool sprite_list) {
    if (passes_point_test(sprite, x, y, sprite_list)) found = sprite;
  });
  return found;
}

Sprite* find_sprite_in_rect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t walk) {
  RECT rect{left, top, right, bottom};
  Sprite* found = nullptr;
  walk_sprites(walk, [&](Sprite* sprite, bool sprite_list) {
    if (passes_rect_test(sprite, rect, sprite_list)) found = sprite;
  });
  return found;
}

ListElement* list_sprites_at_point(int32_t x, int32_t y, int32_t walk) {
  ListElement* last = nullptr;
  walk_sprites(walk, [&](Sprite* sprite, bool sprite_list) {
    if (passes_point_test(sprite, x, y, sprite_list)) last = append_handle(last, sprite);
  });
  return last;
}

ListElement* list_sprites_in_rect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t walk) {
  RECT rect{left, top, right, bottom};
  ListElement* last = nullptr;
  walk_sprites(walk, [&](Sprite* sprite, bool sprite_list) {
    if (passes_rect_test(sprite, rect, sprite_list)) last = append_handle(last, sprite);
  });
  return last;
}

namespace {

bool already_hit(const CollisionHit* hits, const Sprite* sprite) {
  for (; hits; hits = hits->next) {
    if (hits->sprite == sprite) return true;
  }
  return false;
}

bool append_hit(CollisionHit** head, CollisionHit** tail, Sprite* sprite, int32_t a, int32_t b, int32_t c,
                int32_t d) {
  CollisionHit* hit = node_list_append(head, *tail);
  if (!hit) return false;
  hit->sprite = sprite;
  hit->a = a;
  hit->b = b;
  hit->c = c;
  hit->d = d;
  *tail = hit;
  return true;
}

// The contact of two pixel-exact sprites, from their current masks (built when missing).
bool mask_contact(Sprite* sprite, Sprite* other, const RECT& test, int32_t* x, int32_t* y) {
  if (!current_mask(sprite)) build_frame_masks(sprite);
  if (!current_mask(other)) build_frame_masks(other);
  return mask_overlap_pos(current_mask(sprite), current_mask(other), other->screen_collide_rect.left - test.left,
                          other->screen_collide_rect.top - test.top, x, y);
}

CollisionHit* query_cells(Sprite* sprite, const RECT& test, CellRange range, uint8_t first_only) {
  range = grid_range_clamped(range);
  CollisionHit* hits = nullptr;
  CollisionHit* tail = nullptr;
  bool pixel_exact = sprite->options & kOptionPixelExact;
  for (int32_t row = range.first_row; row <= range.last_row; ++row) {
    for (int32_t column = range.first_column; column <= range.last_column; ++column) {
      for (GridCellEntry* entry = *grid_cell(column, row); entry; entry = entry->next) {
        if (entry->free) break;  // only free entries follow
        if (entry->id_hash == 0) {
          Sprite* other = entry->sprite;
          if (!other || other == sprite) continue;
          // The rectangle first, from the entry: it rules out most neighbours before
          // the sprite record is read at all.
          const RECT box{entry->left, entry->top, entry->right, entry->bottom};
          // Apart on one axis: most neighbours end here.
          if (box.left >= test.right || test.left >= box.right || box.top >= test.bottom || test.top >= box.bottom) {
            continue;
          }
          RECT common;
          if (!rect_intersection(test, box, &common)) continue;
          if ((other->options & kOptionNoHitTest) || other->paused) continue;
          if (!first_only && already_hit(hits, other)) continue;
          if (!collide_list_holds(sprite, other->id_hash)) continue;
          int32_t x, y;
          if (pixel_exact && (other->options & kOptionPixelExact)) {
            if (!mask_contact(sprite, other, test, &x, &y)) continue;
          } else {
            x = truncate_to_int((static_cast<double>(common.right) - common.left) * 0.5 +
                                (static_cast<double>(common.left) - box.left));
            y = truncate_to_int((static_cast<double>(common.bottom) - common.top) * 0.5 +
                                (static_cast<double>(common.top) - box.top));
          }
          if (!append_hit(&hits, &tail, other, x, y, 0, 0) || first_only) return hits;
        } else {
          RECT region{entry->left, entry->top, entry->right, entry->bottom};
          if (!rects_intersect(test, region) || !collide_list_holds(sprite, entry->id_hash)) continue;
          if (!append_hit(&hits, &tail, nullptr, region.left, region.top, region.right, region.bottom) ||
              first_only) {
            return hits;
          }
        }
      }
    }
  }
  return hits;
}

}  // namespace

CollisionHit* collect_grid_collisions(Sprite* sprite, uint8_t first_only) {
  if (!sprite || !sprite_in_grid(sprite)) return nullptr;
  CellRange range{sprite->grid_range[0], sprite->grid_range[1], sprite->grid_range[2], sprite->grid_range[3]};
  if (range.first_row > range.last_row) return nullptr;
  return query_cells(sprite, sprite->screen_collide_rect, range, first_only);
}

CollisionHit* collisions_at_position(Sprite* sprite, int32_t x, int32_t y, uint8_t first_only) {
  if (!sprite) return nullptr;
  const RECT& box = sprite->screen_collide_rect;
  // The test box at a position near the 32-bit limits wraps as script numbers do (and is
  // then empty) instead of overflowing.
  auto beyond = [](int32_t start, LONG low, LONG high) {
    return int32_t(uint32_t(start) + (uint32_t(high) - uint32_t(low)));
  };
  return collisions_in_rect(sprite, x, y, beyond(x, box.left, box.right), beyond(y, box.top, box.bottom), first_only);
}

CollisionHit* collisions_in_rect(Sprite* sprite, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                 uint8_t first_only) {
  if (!sprite) return nullptr;
  RECT test{left, top, right, bottom};
  CellRange range = grid_cells_of(test);
  if (range.first_row > range.last_row) return nullptr;
  return query_cells(sprite, test, range, first_only);
}

void write_collision_words(Variable* variable, int32_t side, int32_t angle, int32_t x, int32_t y) {
  if (!variable || !variable->data) return;
  size_t size = crt::_msize(variable->data);
  if (size == static_cast<size_t>(-1) || size < 16) return;
  int32_t words[4] = {side, angle, x, y};
  std::memcpy(variable->data, words, sizeof words);
}

void publish_collision_details(Sprite* first, Sprite* second, int32_t x, int32_t y, int32_t right, int32_t bottom) {
  if (!first || first->deleted || (second && second->deleted)) return;
  RECT other = second ? second->screen_collide_rect : RECT{x, y, right, bottom};
  const RECT& mine = first->screen_collide_rect;
  int32_t cx = other.left - truncate_to_int((static_cast<double>(other.right) - other.left) * -0.5);
  int32_t cy = other.top - truncate_to_int((static_cast<double>(other.bottom) - other.top) * -0.5);
  int32_t t_x, t_y, s_x, s_y;
  if (second) {
    t_x = x;
    t_y = y;
    s_x = std::abs(mine.right - other.left) + x;
    s_y = std::abs(mine.bottom - other.top) + y;
  } else {
    t_x = cx;
    t_y = cy;
    s_x = std::abs(mine.right - other.left) - other.left + cx;
    s_y = std::abs(mine.bottom - other.top) - other.top + cy;
  }
  int32_t centre_x = truncate_to_int(mine.left + first->drawn_width * 0.5);
  int32_t centre_y = truncate_to_int(mine.top + first->drawn_height * 0.5);
  int32_t angle = truncate_to_int(point_angle(cx, cy, centre_x, centre_y, 1));
  int32_t s_angle = angle + 180 > 360 ? angle + 180 - 360 : angle + 180;

  int32_t t_side = 0, s_side = 0;
  auto sides = [&](int32_t t, int32_t s) {
    t_side = t;
    s_side = s;
  };
  int32_t prev_x = truncate_to_int(first->prev_x), prev_y = truncate_to_int(first->prev_y);
  int32_t now_x = truncate_to_int(first->x), now_y = truncate_to_int(first->y);
  if (first->options & kOptionAxisSides) {
    if (game.move_axis == 1) {
      if (prev_x > now_x) sides(256, 4096);
      else if (prev_x < now_x) sides(4096, 256);
    } else {
      if (prev_y < now_y) sides(1, 16);
      else if (prev_y > now_y) sides(16, 1);
    }
  } else if (!(first->options & kOptionPixelExact)) {
    if (truncate_to_int(first->prev_y + first->drawn_height) > other.top && prev_y < other.bottom) {
      if (prev_x < now_x) sides(256, 4096);
      else if (prev_x > now_x) sides(4096, 256);
    } else if (prev_y > other.top) {
      sides(16, 1);
    } else {
      sides(1, 16);
    }
  } else if (angle < 45) {
    sides(256, 4096);
  } else if (angle <= 135) {
    sides(1, 16);
  } else if (angle <= 224) {
    sides(4096, 256);
  } else if (angle <= 315) {
    sides(16, 1);
  } else {
    sides(256, 4096);
  }
  write_collision_words(t_collide_variable, t_side, angle, t_x, t_y);
  write_collision_words(s_collide_variable, s_side, s_angle, s_x, s_y);
}

void damp_velocities(Sprite* a, Sprite* b, int32_t axes) {
  if (b) {
    if (!(a->options & kOptionNoFrictionFromOther)) {
      a->vel_x -= b->friction * a->vel_x;
      a->vel_y -= b->friction * a->vel_y;
    }
    if (!(b->options & kOptionNoFrictionFromOther)) {
      b->vel_x -= a->friction * b->vel_x;
      b->vel_y -= a->friction * b->vel_y;
    }
  }
  auto scale = [axes](Sprite* sprite) {
    if (!sprite || (sprite->options & kOptionNoElasticity)) return;
    if (axes == 0 || axes == 1) sprite->vel_x *= sprite->elasticity + 1;
    if (axes == 0 || axes == 2) sprite->vel_y *= sprite->elasticity + 1;
  };
  scale(a);
  scale(b);
}

void bounce_sprites(Sprite* a, Sprite* b, int32_t axes) {
  damp_velocities(a, b, axes);
  if (axes == 0 || axes == 1) {
    a->vel_x = -a->vel_x;
    if (b) b->vel_x = -b->vel_x;
  }
  if (axes == 0 || axes == 2) {
    a->vel_y = -a->vel_y;
    if (b) b->vel_y = -b->vel_y;
  }
}

void collide_with_mass(Sprite* a, Sprite* b) {
  double ax = a->x + static_cast<float>(a->drawn_width * 0.5f);
  double ay = a->y + static_cast<float>(a->drawn_height * 0.5f);
  double bx = b->x + static_cast<float>(b->drawn_width * 0.5f);
  double by = b->y + static_cast<float>(b->drawn_height * 0.5f);
  double dx = bx - ax, dy = by - ay;
  // No exchange without a mass to divide by or a line between the centres.
  if (a->mass != 0 && b->mass != 0 && (dx != 0 || dy != 0)) {
    double m21 = b->mass / a->mass;
    double dvx = b->vel_x - a->vel_x, dvy = b->vel_y - a->vel_y;
    double f = std::fabs(dy) * 1e-12;
    if (std::fabs(dx) < f) dx = dx < 0 ? -f : f;
    double k = dy / dx;
    double divisor = (1 + k * k) * (1 + m21);
    if (divisor != 0 && std::isfinite(divisor)) {
      double q = -2 * (dvx + k * dvy) / divisor;
      b->vel_x += q;
      b->vel_y += k * q;
      a->vel_x -= m21 * q;
      a->vel_y -= m21 * k * q;
    }
  }
  damp_velocities(a, b, 0);
}
