// Where a sprite stands on the screen and in the collision grid, and the collision mask
// of each of its frames.
#include "game/sprite_geometry.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "display/pixel_buffer.h"
#include "display/surface.h"
#include "foundation/numbers.h"
#include "game/collision_grid.h"
#include "game/collision_mask.h"
#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/pending_links.h"
#include "game/rects.h"
#include "game/sprite.h"

namespace {

// Children of children are followed this deep; a parent chain that loops stops here.
constexpr int32_t kMaxChildDepth = 64;
int32_t child_depth = 0;

// What the tiles after the first add to a side.
int64_t tiled_extent(int32_t tiles, int32_t size) { return tiles ? (int64_t(tiles) - 1) * size : 0; }

bool all_zero(const RECT& rect) { return !rect.left && !rect.top && !rect.right && !rect.bottom; }

void place_children(Sprite* sprite, int32_t px, int32_t py) {
  if (child_depth >= kMaxChildDepth) return;
  ++child_depth;
  game.children_follow = 0;
  for (DrawListNode* node = sprite->children; node; node = node->next) {
    Sprite* child = node->sprite;
    if (!child) continue;
    if (!(sprite->options & kOptionFixedX)) child->x = double(node->a) + px;
    if (!(sprite->options & kOptionFixedY)) child->y = double(node->b) + py;
    child->screen_rect = compute_screen_rect(child, 0, 0);
  }
  game.children_follow = 1;
  --child_depth;
}

void update_grid_cells(Sprite* sprite, const RECT& old_collide_rect) {
  if (!rects_equal(old_collide_rect, sprite->screen_collide_rect)) {
    bool wanted = sprite->visible && (sprite->options & kOptionInGrid) && (sprite->id || sprite->collide);
    // Most moves stay within the same cells.
    if (wanted && sprite_in_grid(sprite) && grid_move_sprite(sprite)) return;
    if (sprite_in_grid(sprite)) grid_remove_sprite(sprite);
    if (wanted) grid_enter_sprite(sprite);
    return;
  }
  if (sprite_in_grid(sprite) &&
      !(sprite->visible && (sprite->options & kOptionInGrid) && (sprite->id_hash || sprite->collide_hashes))) {
    grid_remove_sprite(sprite);
  }
}

}  // namespace

RECT compute_screen_rect(Sprite* sprite, int32_t x, int32_t y) {
  sprite->moved_flag = 1;
  int32_t px = x, py = y;
  if (x == 0 && y == 0) {
    px = truncate_to_int(sprite->x);
    py = truncate_to_int(sprite->y);
  }
  if (sprite->auto_scroll_x != 0) {
    px = clamp_to_int32(int64_t(px) - truncate_to_int(sprite->auto_scroll_x * game.origin_x - game.origin_x));
  }
  if (sprite->auto_scroll_y != 0) {
    py = clamp_to_int32(int64_t(py) - truncate_to_int(sprite->auto_scroll_y * game.origin_y - game.origin_y));
  }
  uint64_t fixed = sprite->parent ? sprite->parent->options : sprite->options;
  if (fixed & kOptionFixedX) px = clamp_to_int32(int64_t(px) + truncate_to_int(game.origin_x));
  if (fixed & kOptionFixedY) py = clamp_to_int32(int64_t(py) + truncate_to_int(game.origin_y));

  RECT rect{px, py, clamp_to_int32(int64_t(px) + sprite->width), clamp_to_int32(int64_t(py) + sprite->height)};
  const RECT& clip = sprite->clip;
  if (!all_zero(clip)) {
    rect = {clamp_to_int32(int64_t(px) + clip.left), clamp_to_int32(int64_t(py) + clip.top),
            clamp_to_int32(int64_t(px) + (clip.right ? clip.right : sprite->width)),
            clamp_to_int32(int64_t(py) + (clip.bottom ? clip.bottom : sprite->height))};
  }
  if (sprite->angle != 0) {
    double w = double(rect.right) - rect.left, h = double(rect.bottom) - rect.top;
    double a = sprite->angle * 0.017453292519944444;
    double c = std::fabs(std::cos(a)), s = std::fabs(std::sin(a));
    int32_t half_w = truncate_to_int(std::ceil(c * w + s * h) * 0.5);
    int32_t half_h = truncate_to_int(std::ceil(s * w + c * h) * 0.5);
    int32_t cx = truncate_to_int(w * 0.5 + rect.left), cy = truncate_to_int(h * 0.5 + rect.top);
    rect = {clamp_to_int32(int64_t(cx) - half_w), clamp_to_int32(int64_t(cy) - half_h),
            clamp_to_int32(int64_t(cx) + half_w), clamp_to_int32(int64_t(cy) + half_h)};
  }
  sprite->drawn_width = clamp_to_int32(int64_t(rect.right) - rect.left);
  sprite->drawn_height = clamp_to_int32(int64_t(rect.bottom) - rect.top);

  if (sprite->children) place_children(sprite, px, py);

  if (Sprite* parent = sprite->parent) {
    if (sprite->options & kOptionClipToParent) rect_intersection(rect, parent->screen_rect, &rect);
    if (game.children_follow) {
      for (DrawListNode* node = parent->children; node; node = node->next) {
        if (node->sprite != sprite) continue;
        node->a = truncate_to_int(px - parent->x);
        node->b = truncate_to_int(py - parent->y);
        break;
      }
    }
  }

  RECT old_collide_rect = sprite->screen_collide_rect;
  const RECT& box = sprite->collide_rect;
  RECT& collide = sprite->screen_collide_rect;
  collide.left = clamp_to_int32(int64_t(rect.left) + box.left);
  collide.top = clamp_to_int32(int64_t(rect.top) + box.top);
  collide.right = clamp_to_int32(box.right ? int64_t(rect.left) + box.right
                                           : rect.right + tiled_extent(sprite->tile_x, sprite->width));
  collide.bottom = clamp_to_int32(box.bottom ? int64_t(rect.top) + box.bottom
                                             : rect.bottom + tiled_extent(sprite->tile_y, sprite->height));
  update_grid_cells(sprite, old_collide_rect);
  return rect;
}

void refresh_view_bound_sprites() {
  for (Sprite* sprite = game.sprite_list_tail; sprite; sprite = sprite->prev) {
    if ((sprite->options & (kOptionFixedX | kOptionFixedY)) || sprite->auto_scroll_x != 0 ||
        sprite->auto_scroll_y != 0) {
      sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    }
  }
}

void free_frame_masks(Sprite* sprite) {
  // Every slot, not just those below frame_count: the count may have shrunk since.
  for (CollisionMask*& mask : sprite->frame_masks) {
    mask_free(mask);
    mask = nullptr;
  }
}

namespace {

// As for a pixel buffer: a larger block cannot exist in a 32-bit process.
constexpr uint64_t kLargestPixelBytes = 0x7FFFFFFFu;

// Marks the solid pixels of one rendered frame and raises the frame's extents.
void mark_solid_pixels(Sprite* sprite, int32_t frame, CollisionMask* mask, const std::vector<uint16_t>& pixels,
                       int32_t width, int32_t x_end, int32_t y_end, bool solid_white, int32_t key) {
  sprite->mask_extent_x[frame] = 0;
  sprite->mask_extent_y[frame] = 0;
  for (int32_t y = std::max(sprite->clip.top, 0); y < y_end; ++y) {
    for (int32_t x = std::max(sprite->clip.left, 0); x < x_end; ++x) {
      uint16_t pixel = pixels[static_cast<size_t>(y) * width + x];
      bool solid = solid_white ? pixel == 0xFFFF : pixel != key;
      if (!solid) continue;
      mask_set_pixel(mask, x, y);
      sprite->mask_extent_x[frame] = std::max(sprite->mask_extent_x[frame], x);
      sprite->mask_extent_y[frame] = std::max(sprite->mask_extent_y[frame], y);
    }
  }
}

}  // namespace

void build_frame_masks(Sprite* sprite) {
  if (!sprite->surface) return;
  free_frame_masks(sprite);
  // The drawn size times the tiles, in 64 bits and held to 32: a script may give a sprite
  // a size or a tile count near the int limits, and a wrapped product would size the mask
  // (and the pixels drawn into it) at some small width.
  int64_t wide_w = sprite->angle != 0 ? int64_t(sprite->screen_rect.right) - sprite->screen_rect.left
                                      : int64_t(sprite->drawn_width);
  int64_t wide_h = sprite->angle != 0 ? int64_t(sprite->screen_rect.bottom) - sprite->screen_rect.top
                                      : int64_t(sprite->drawn_height);
  int32_t w = clamp_to_int32(sprite->tile_x ? wide_w * sprite->tile_x : wide_w);
  int32_t h = clamp_to_int32(sprite->tile_y ? wide_h * sprite->tile_y : wide_h);
  int32_t cw = sprite->clip.right ? sprite->clip.right : w;
  int32_t ch = sprite->clip.bottom ? sprite->clip.bottom : h;
  int32_t frames = std::min(sprite->frame_count, kSpriteFrameSlots);
  if (frames < 1) return;

  bool pixel_exact = sprite->options & kOptionPixelExact;
  const display::Surface* source = sprite->alpha_surface ? sprite->alpha_surface : sprite->surface;
  bool solid_white = sprite->alpha_surface && (sprite->options & kOptionAlphaSolidWhite);
  int32_t key = sprite->alpha_surface ? (solid_white ? 0xFFFF : 0) : source->colour_key;
  uint16_t clear_value = sprite->alpha_surface ? 0 : static_cast<uint16_t>(key);
  std::vector<uint16_t> pixels;
  if (pixel_exact) {
    // Pixels that no pixel block could hold are not drawn: the sprite has no masks.
    if (w < 1 || h < 1 || uint64_t(w) * uint64_t(h) * sizeof(uint16_t) > kLargestPixelBytes) return;
    try {
      pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    } catch (const std::bad_alloc&) {
      return;
    }
    game.mask_build_sprite = sprite;
  }
  for (int32_t frame = 0; frame < frames; ++frame) {
    // Sized to the limits the bits are set up to, so a clip beyond the drawn size stays
    // inside the mask.
    CollisionMask* mask = mask_create(cw, ch);
    sprite->frame_masks[frame] = mask;
    if (!mask) continue;
    if (!pixel_exact) {
      sprite->mask_extent_x[frame] = cw;
      sprite->mask_extent_y[frame] = ch;
      for (int32_t x = std::max(sprite->clip.left, 0); x < cw; ++x) {
        for (int32_t y = std::max(sprite->clip.top, 0); y < ch; ++y) mask_set_pixel(mask, x, y);
      }
      continue;
    }
    std::fill(pixels.begin(), pixels.end(), clear_value);
    if (!render_frame_for_mask(sprite, source, pixels.data(), w, h, frame)) {
      // Without a renderer no pixel is known to be solid; no mask is better than a guess.
      mask_free(mask);
      sprite->frame_masks[frame] = nullptr;
      continue;
    }
    mark_solid_pixels(sprite, frame, mask, pixels, w, std::min(cw, w), std::min(ch, h), solid_white, key);
  }
  game.mask_build_sprite = nullptr;
}
