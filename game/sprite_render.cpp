// Drawing sprites and pictures into the game's draw canvas: the general picture routine,
// one sprite, the draw list, the tiled background and the light levels.
#include "game/sprite_render.h"

#include <cmath>
#include <utility>

#include "display/canvas.h"
#include "display/pixel_filter.h"
#include "display/surface.h"
#include "foundation/numbers.h"
#include "game/draw_list.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/pending_links.h"
#include "game/rects.h"
#include "game/sprite.h"

namespace {

using display::Canvas;
using display::Rect;
using display::Surface;

Rect to_rect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

bool any_clip(const RECT& clip) { return clip.left || clip.top || clip.right || clip.bottom; }

// The pixel effects one drawing selected, undone afterwards.
struct Effects {
  bool blend = false, tint = false, light = false, flags = false;
  bool any() const { return blend || tint || light || flags; }
};

Effects apply_effects(Canvas* canvas, const SurfaceDrawing& d, const Surface* image) {
  Effects used;
  display::PixelFilter& filter = game.pixel_filter;
  bool install = false;
  if (d.alpha >= 0 && d.alpha <= 254) {
    display::canvas_set_blend(canvas, d.alpha);
    used.blend = true;
  } else if (d.alpha != -1) {
    used.blend = true;
  }
  // A picture without a key (negative) has no transparent colour: the filter gets none.
  int32_t key = image->colour_key;
  if (d.tint != -1) {
    filter.colour_key = key;
    filter.tint1_colour = uint32_t(d.tint);
    filter.tint1_level = d.tint_level;
    used.tint = install = true;
  }
  if (d.light != -1) {
    filter.colour_key = key;
    filter.tint2_colour = 0;
    filter.tint2_level = d.light;
    used.light = install = true;
  }
  if (d.options & kOptionSmooth) {
    filter.smooth = 1;
    display::pixel_filter_reset_smoothing();
    used.flags = install = true;
  }
  if (d.options & kOptionInvert) {
    filter.invert = 1;
    used.flags = install = true;
  }
  if (d.options & kOptionGreyscale) {
    filter.greyscale = 1;
    used.flags = install = true;
  }
  if (d.options & kOptionAlternatePixels) {
    filter.alternate = 1;
    display::pixel_filter_reset_alternate();
    used.flags = install = true;
  }
  if (install) {
    filter.enabled = 1;
    display::canvas_set_filter(canvas, &filter);
  }
  return used;
}

void undo_effects(Canvas* canvas, const Effects& used) {
  if (!used.any()) return;
  display::PixelFilter& filter = game.pixel_filter;
  if (used.blend) display::canvas_set_blend(canvas, 255);
  if (used.tint) {
    filter.tint1_colour = 0xFFFFFFFF;
    filter.tint1_level = 0;
  }
  if (used.light) {
    filter.tint2_colour = 0xFFFFFFFF;
    filter.tint2_level = 0;
  }
  if (used.flags) {
    filter.smooth = filter.invert = filter.greyscale = filter.alternate = 0;
    display::pixel_filter_reset_smoothing();
    display::pixel_filter_reset_alternate();
  }
  filter.enabled = 0;
  display::canvas_reset_blitter(canvas);
}

// The source stretched over a new w x h surface, copied plainly with its key switched
// off; the copy gets the key. The canvas's target and clip are left as they were.
Surface* stretched_copy(Canvas* canvas, Surface* source, const Rect& source_rect, int32_t w, int32_t h) {
  Surface* copy = display::surface_new(uint32_t(w), uint32_t(h));
  if (copy == nullptr) return nullptr;
  if (copy->buffer == nullptr) {
    display::surface_delete(copy);
    return nullptr;
  }
  Surface* previous = canvas->target;
  Rect clip = canvas->clip;
  display::canvas_set_target(canvas, copy);
  int32_t key = source->colour_key;
  source->colour_key = display::no_colour_key;
  Rect whole{0, 0, w, h};
  display::canvas_blit_scaled(canvas, &whole, source, &source_rect);
  source->colour_key = key;
  copy->colour_key = key;
  canvas->target = previous;
  canvas->clip = clip;
  return copy;
}

// A surface over a rectangle of another one's pixels, without copying them; the pixels
// stay the other surface's.
struct FrameView {
  display::PixelBuffer rows;
  Surface surface{};
  FrameView() = default;
  FrameView(const FrameView&) = delete;
  FrameView& operator=(const FrameView&) = delete;
  // False when the rectangle is empty or not wholly inside the surface's pixels.
  bool show(const Surface* source, const Rect& rect) {
    const display::PixelBuffer* pixels = source->buffer;
    if (pixels == nullptr || rect.left < 0 || rect.top < 0 || rect.left >= rect.right || rect.top >= rect.bottom ||
        rect.right > int32_t(pixels->width) || rect.bottom > int32_t(pixels->height)) {
      return false;
    }
    display::pixel_buffer_init(&rows, uint32_t(rect.right - rect.left), uint32_t(rect.bottom - rect.top),
                               pixels->pitch, pixels->at(rect.left, rect.top), false);
    surface = Surface{&rows, source->colour_key, nullptr, nullptr};
    return true;
  }
};

void blit_piece(Canvas* canvas, int32_t x, int32_t y, Surface* image, Surface* alpha_image, const Rect& piece) {
  if (alpha_image) display::canvas_blit_sprite(canvas, x, y, image, alpha_image, &piece);
  else display::canvas_blit_surface(canvas, x, y, image, &piece);
}

// Brings an image offset into 0..size.
int32_t wrap_offset(int32_t offset, int32_t size) {
  if (size <= 0) return 0;
  offset %= size;
  if (offset < 0) offset += size;
  return offset;
}

void draw_transformed(Canvas* canvas, const SurfaceDrawing& d, Rect source, bool stretching) {
  int32_t w = d.width, h = d.height;
  if (game.mask_build_sprite) {
    w = game.mask_build_sprite->width;
    h = game.mask_build_sprite->height;
  }
  if (w <= 0 || h <= 0) return;
  Surface* image = d.surface;
  Surface* alpha_image = d.alpha_surface;
  Surface* copy = nullptr;
  Surface* alpha_copy = nullptr;
  // Without a copy the pieces are cut from the source rectangle itself.
  int32_t image_x = source.left, image_y = source.top;
  FrameView image_view, alpha_view;
  bool turned_only = d.angle != 0 && !game.mask_build_sprite && !stretching;
  if (turned_only && image_view.show(d.surface, source) &&
      (!d.alpha_surface || alpha_view.show(d.alpha_surface, source))) {
    // A frame turned at its own size: the rotation reads the frame where it lies.
    image = &image_view.surface;
    alpha_image = d.alpha_surface ? &alpha_view.surface : nullptr;
    image_x = image_y = 0;
  } else if (game.mask_build_sprite || stretching || d.angle != 0) {
    copy = stretched_copy(canvas, d.surface, source, w, h);
    if (copy == nullptr) return;
    if (d.alpha_surface) alpha_copy = stretched_copy(canvas, d.alpha_surface, source, w, h);
    image = copy;
    alpha_image = alpha_copy;
    image_x = image_y = 0;
  }
  Effects used = apply_effects(canvas, d, image);
  if (d.angle != 0) {
    int32_t cx = clamp_to_int32(int64_t(d.x) + truncate_to_int(w * 0.5));
    int32_t cy = clamp_to_int32(int64_t(d.y) + truncate_to_int(h * 0.5));
    float turn = float(6.283185307179586) - float(d.angle * 0.017453292519944444);
    if (alpha_image) display::canvas_blit_rotozoom(canvas, cx, cy, turn, image, alpha_image);
    else display::canvas_blit_rotated(canvas, cx, cy, turn, image);
  } else {
    int32_t ox = wrap_offset(d.offset_x, w), oy = wrap_offset(d.offset_y, h);
    int64_t left = image_x, top = image_y;
    auto piece = [](int64_t l, int64_t t, int64_t r, int64_t b) {
      return Rect{clamp_to_int32(l), clamp_to_int32(t), clamp_to_int32(r), clamp_to_int32(b)};
    };
    if (ox != 0) {
      blit_piece(canvas, d.x, d.y, image, alpha_image, piece(left + ox, top + oy, left + w, top + h));
      blit_piece(canvas, clamp_to_int32(int64_t(d.x) + w - ox), d.y, image, alpha_image,
                 piece(left, top, left + ox, top + h));
    } else {
      blit_piece(canvas, d.x, d.y, image, alpha_image, piece(left, top + oy, left + w, top + h));
      blit_piece(canvas, d.x, clamp_to_int32(int64_t(d.y) + h - oy), image, alpha_image,
                 piece(left, top, left + w, top + oy));
    }
  }
  undo_effects(canvas, used);
  display::surface_delete(copy);
  display::surface_delete(alpha_copy);
}

// A drawing of the sprite's picture with its own appearance; callers change what differs.
SurfaceDrawing sprite_drawing(const Sprite* sprite) {
  SurfaceDrawing d;
  d.surface = sprite->surface;
  d.width = sprite->width;
  d.height = sprite->height;
  d.frame = sprite->frame_index;
  d.frame_rects = sprite->frame_rects;
  d.angle = sprite->angle;
  d.alpha = sprite->alpha;
  d.tint = sprite->tint;
  d.tint_level = sprite->tint_level;
  d.offset_x = sprite->offset_x;
  d.offset_y = sprite->offset_y;
  d.clip = sprite->clip;
  d.options = sprite->options;
  d.alpha_surface = sprite->alpha_surface;
  return d;
}

// The sprite's position on screen: scrolled by the view origin unless its (or its
// parent's) fixed bits say otherwise, or by its own scroll factors.
void screen_position(const Sprite* sprite, int32_t* x, int32_t* y) {
  int64_t sx = truncate_to_int(sprite->x);
  int64_t sy = truncate_to_int(sprite->y);
  if (sprite->auto_scroll_x == 0 && sprite->auto_scroll_y == 0) {
    uint64_t options = sprite->parent ? sprite->parent->options : sprite->options;
    if (!(options & kOptionFixedX)) sx -= truncate_to_int(game.origin_x);
    if (!(options & kOptionFixedY)) sy -= truncate_to_int(game.origin_y);
  } else {
    if (sprite->auto_scroll_x != 0) sx -= truncate_to_int(sprite->auto_scroll_x * game.origin_x);
    if (sprite->auto_scroll_y != 0) sy -= truncate_to_int(sprite->auto_scroll_y * game.origin_y);
  }
  *x = clamp_to_int32(sx);
  *y = clamp_to_int32(sy);
}

// The centre the light pass measures from.
void light_centre(const Sprite* sprite, double* x, double* y) {
  *x = truncate_to_int(sprite->drawn_width * 0.5 + sprite->x);
  *y = truncate_to_int(sprite->drawn_height * 0.5 + sprite->y);
}

}  // namespace

void render_surface(const SurfaceDrawing& d) {
  Canvas* canvas = game.draw_canvas;
  if (canvas == nullptr || d.surface == nullptr || d.surface->buffer == nullptr) return;
  if (d.frame_rects && (d.frame < 0 || d.frame >= kSpriteFrameSlots)) return;
  Surface* previous_target = canvas->target;
  Rect previous_clip = canvas->clip;
  if (d.target) display::canvas_set_target(canvas, d.target);

  const display::PixelBuffer* pixels = d.surface->buffer;
  Rect source;
  if (d.frame_rects) {
    source = to_rect(d.frame_rects[d.frame]);
  } else {
    source = Rect{d.source_x, d.source_y,
                  d.source_width ? clamp_to_int32(int64_t(d.source_x) + d.source_width) : int32_t(pixels->width),
                  d.source_height ? clamp_to_int32(int64_t(d.source_y) + d.source_height) : int32_t(pixels->height)};
  }
  bool stretching = d.width != int64_t(source.right) - source.left || d.height != int64_t(source.bottom) - source.top;

  Rect saved_clip = canvas->clip;
  if (any_clip(d.clip)) {
    Rect wanted{clamp_to_int32(int64_t(d.x) + d.clip.left), clamp_to_int32(int64_t(d.y) + d.clip.top),
                clamp_to_int32(int64_t(d.x) + d.clip.right), clamp_to_int32(int64_t(d.y) + d.clip.bottom)};
    display::canvas_set_clip(canvas, display::intersect(wanted, saved_clip));
  }
  if (d.options & kOptionMirrorX) {
    std::swap(source.left, source.right);
    stretching = true;
  }
  if (d.options & kOptionMirrorY) {
    std::swap(source.top, source.bottom);
    stretching = true;
  }

  if (d.angle == 0 && d.offset_x == 0 && d.offset_y == 0 && game.mask_build_sprite == nullptr) {
    Effects used = apply_effects(canvas, d, d.surface);
    if (stretching) {
      if (d.width != 0 || d.height != 0) {
        Rect destination{d.x, d.y, clamp_to_int32(int64_t(d.x) + d.width), clamp_to_int32(int64_t(d.y) + d.height)};
        if (d.alpha_surface) display::canvas_blit_scaled_sprite(canvas, &destination, d.surface, d.alpha_surface, &source);
        else display::canvas_blit_scaled(canvas, &destination, d.surface, &source);
      }
    } else {
      blit_piece(canvas, d.x, d.y, d.surface, d.alpha_surface, source);
    }
    undo_effects(canvas, used);
  } else {
    draw_transformed(canvas, d, source, stretching);
  }

  canvas->target = previous_target;
  canvas->clip = previous_clip;
}

void render_sprite_at(Sprite* sprite, Surface* target, int32_t x, int32_t y, int32_t frame, int32_t alpha,
                      int32_t offset_x, int32_t offset_y, double angle) {
  Canvas* canvas = game.draw_canvas;
  if (canvas == nullptr) return;
  Surface* saved_target = canvas->target;
  Rect saved_clip = canvas->clip;
  bool clipped = (sprite->options & kOptionClipToParent) && sprite->parent;
  if (clipped) display::canvas_set_clip(canvas, to_rect(sprite->parent->screen_rect));

  if (sprite->surface) {
    SurfaceDrawing d = sprite_drawing(sprite);
    d.target = target;
    d.frame = frame;
    d.angle = angle;
    d.alpha = alpha;
    d.light = game.map_light ? 255 - sprite->light_level : -1;
    d.offset_x = offset_x;
    d.offset_y = offset_y;
    if (sprite->tile_x || sprite->tile_y) {
      bool iso = sprite->options & kOptionIsoTiles;
      for (int32_t i = 0; i < sprite->tile_x; ++i) {
        for (int32_t j = 0; j < sprite->tile_y; ++j) {
          int64_t dx = int64_t(sprite->drawn_width) * i, dy = int64_t(sprite->drawn_height) * j;
          if (iso) {
            dx = (i - 1) * int64_t(sprite->drawn_width) - (j & 1 ? truncate_to_int(sprite->drawn_width * 0.5) : 0);
            dy = int64_t(truncate_to_int(sprite->drawn_height * 0.5)) * (j - 2);
          }
          d.x = clamp_to_int32(x + dx);
          d.y = clamp_to_int32(y + dy);
          render_surface(d);
        }
      }
    } else {
      d.x = x;
      d.y = y;
      render_surface(d);
    }
  } else {
    if (target) display::canvas_set_target(canvas, target);
    if (alpha >= 1 && alpha <= 254) display::canvas_set_blend(canvas, alpha);
    display::canvas_fill_rect(canvas, x, y, clamp_to_int32(int64_t(x) + sprite->drawn_width),
                              clamp_to_int32(int64_t(y) + sprite->drawn_height),
                              uint16_t(sprite->color));
    if (alpha != -1) display::canvas_set_blend(canvas, 255);
  }
  canvas->target = saved_target;
  canvas->clip = saved_clip;
}

void render_listed_sprite(Sprite* sprite) {
  Canvas* canvas = game.draw_canvas;
  if (canvas == nullptr) return;
  game.current_render_sprite = sprite;
  int32_t x, y;
  screen_position(sprite, &x, &y);
  if (sprite->full_render && !(sprite->options & kOptionFastPath)) {
    int32_t ox = sprite->offset_x, oy = sprite->offset_y;
    if (sprite->auto_offset_x != 0) ox = truncate_to_int(sprite->auto_offset_x * game.origin_x);
    if (sprite->auto_offset_y != 0) oy = truncate_to_int(sprite->auto_offset_y * game.origin_y);
    render_sprite_at(sprite, nullptr, x, y, sprite->frame_index, sprite->alpha, ox, oy, sprite->angle);
    return;
  }
  // A plain sprite without a picture (or beyond its frame table) has nothing to blit.
  if (sprite->surface == nullptr || sprite->frame_index < 0 || sprite->frame_index >= kSpriteFrameSlots) return;
  Rect source = to_rect(sprite->frame_rects[sprite->frame_index]);
  blit_piece(canvas, x, y, sprite->surface, sprite->alpha_surface, source);
}

void render_sprites() {
  game.current_render_sprite = nullptr;
  for (DrawListNode* node = game.draw_list_head; node; node = node->next) render_listed_sprite(node->sprite);
}

void render_sprites_in(const RECT& area) {
  game.current_render_sprite = nullptr;
  for (DrawListNode* node = game.draw_list_head; node; node = node->next) {
    if (rects_intersect(node->sprite->screen_rect, area)) render_listed_sprite(node->sprite);
  }
}

void draw_back_sprite() {
  Canvas* canvas = game.draw_canvas;
  Sprite* back = game.back_sprite;
  if (canvas == nullptr || back == nullptr) return;
  if (game.back_sprite_dirty || game.back_surface == nullptr) {
    game.back_sprite_dirty = 0;
    display::surface_delete(game.back_surface);
    game.back_surface = nullptr;
    if (game.screen_width <= 0 || game.screen_height <= 0) return;
    game.back_surface = display::surface_new(uint32_t(game.screen_width), uint32_t(game.screen_height));
    if (game.back_surface == nullptr) return;
    Surface* previous = display::canvas_set_target(canvas, game.back_surface);
    display::canvas_clear(canvas, 0);
    display::canvas_set_target(canvas, previous);

    int32_t w = back->drawn_width, h = back->drawn_height;
    if (w > 0 && h > 0) {
      auto columns = int32_t(std::ceil(float(game.screen_width) / float(w)));
      auto rows = int32_t(std::ceil(float(game.screen_height) / float(h)));
      if (game.iso_display) {
        columns += 3;
        rows = (rows + 2) * 2;
      }
      int32_t bx = truncate_to_int(game.origin_x / w) * w - truncate_to_int(game.origin_x);
      int32_t by = truncate_to_int(game.origin_y / h) * h - truncate_to_int(game.origin_y);
      SurfaceDrawing d = sprite_drawing(back);
      d.target = game.back_surface;
      d.light = 0;
      d.clip = RECT{0, 0, 0, 0};
      for (int32_t i = -2; i < columns; ++i) {
        for (int32_t j = -1; j <= rows; ++j) {
          int32_t dx = (i + 1) * w, dy = j * h;
          if (game.iso_display) {
            dx = i * w - (j & 1 ? truncate_to_int(w * 0.5) : 0);
            dy = truncate_to_int(h * 0.5) * (j - 2);
          }
          d.x = bx + dx;
          d.y = by + dy;
          render_surface(d);
        }
      }
    }
  }
  display::canvas_blit_surface(canvas, 0, 0, game.back_surface, nullptr);
}

void light_pass() {
  game.geometry_dirty = 0;
  bool any_source = false;
  for (DrawListNode* node = game.draw_list_head; node; node = node->next) {
    Sprite* sprite = node->sprite;
    if (sprite->light != -1) {
      sprite->light_level = sprite->light;
      game.geometry_dirty = 1;
      any_source = true;
    } else {
      sprite->light_level = int16_t(game.map_light);
    }
  }
  if (!any_source) return;
  for (DrawListNode* node = game.draw_list_head; node; node = node->next) {
    const Sprite* source = node->sprite;
    if (source->light == -1 || !source->visible || !rects_intersect(source->screen_rect, game.view_rect)) continue;
    double lx, ly;
    light_centre(source, &lx, &ly);
    int32_t radius = source->light_radius;
    for (DrawListNode* other = game.draw_list_head; other; other = other->next) {
      Sprite* lit = other->sprite;
      if (lit == source) continue;
      double sx, sy;
      light_centre(lit, &sx, &sy);
      int32_t distance = truncate_to_int(point_distance(lx, ly, sx, sy, 0));
      if (distance > radius) continue;
      // A radius of 0 lights only what shares the centre, fully.
      float share = radius > 0 ? float(double(radius - distance) / radius) : 1.0f;
      int32_t level = lit->light_level + truncate_to_int(share * float(source->light));
      lit->light_level = level < 0 ? 0 : level > 255 ? 255 : level;
    }
  }
}

bool render_frame_for_mask(Sprite* sprite, const void* source, uint16_t* pixels, int32_t width, int32_t height,
                           int32_t frame) {
  display::PixelBuffer* buffer =
      display::pixel_buffer_wrap(pixels, uint32_t(width), uint32_t(height), uint32_t(width) * 2);
  if (buffer == nullptr) return false;
  Surface scratch{};
  display::surface_wrap(&scratch, buffer);
  // Masks are built outside a game display too: a canvas of the moment serves then.
  Canvas own_canvas;
  display::canvas_init(&own_canvas, nullptr);
  Canvas* saved_canvas = game.draw_canvas;
  if (saved_canvas == nullptr) game.draw_canvas = &own_canvas;

  SurfaceDrawing d = sprite_drawing(sprite);
  d.surface = const_cast<Surface*>(static_cast<const Surface*>(source));
  d.target = &scratch;
  d.width = width;
  d.height = height;
  d.frame = frame;
  d.alpha_surface = nullptr;
  render_surface(d);

  game.draw_canvas = saved_canvas;
  display::surface_release(&scratch);
  return true;
}
