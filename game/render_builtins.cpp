// The rendering built-ins: the draw list, one sprite, the background, and surfaces drawn
// with the full set of sprite effects.
#include "display/surface.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_handles.h"
#include "game/sprite_render.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

using display::Surface;

// Surface arguments set *bad for a number that names no live surface (0 is no surface,
// or the current target): a drawing given one draws nothing.

// An angle the script gives as a real number, kept to single precision.
double pop_single_angle() { return double(float(pop_number())); }

void builtin_rendersprites() { render_sprites(); }

void builtin_renderspritesex() {
  RECT area = pop_rect();
  render_sprites_in(area);
}

void builtin_drawbacksprite() { draw_back_sprite(); }

void builtin_drawsprite() {
  double angle = pop_integer();
  int32_t alpha = pop_integer();
  int32_t frame = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  bool bad = false;
  Surface* target = pop_surface_handle(&bad);
  Sprite* sprite = pop_live_sprite();
  if (sprite && !bad) render_sprite_at(sprite, target, x, y, frame, alpha, 0, 0, angle);
}

void builtin_drawsurface() {
  SurfaceDrawing d;
  d.source_y = pop_integer();
  d.source_x = pop_integer();
  d.y = pop_integer();
  d.x = pop_integer();
  bool bad = false;
  d.target = pop_surface_handle(&bad);
  d.surface = pop_surface_handle(&bad);
  if (bad || d.surface == nullptr || d.surface->buffer == nullptr) return;
  d.width = d.source_width = int32_t(d.surface->buffer->width);
  d.height = d.source_height = int32_t(d.surface->buffer->height);
  render_surface(d);
}

// The common head of drawsurface2 and drawsurface3 after their own last arguments.
void pop_sized_drawing(SurfaceDrawing* d, bool* bad) {
  d->source_height = pop_integer();
  d->source_width = pop_integer();
  d->source_y = pop_integer();
  d->source_x = pop_integer();
  d->height = pop_integer();
  d->width = pop_integer();
  d->y = pop_integer();
  d->x = pop_integer();
  d->target = pop_surface_handle(bad);
  d->surface = pop_surface_handle(bad);
}

void builtin_drawsurface2() {
  SurfaceDrawing d;
  bool bad = false;
  d.alpha_surface = pop_surface_handle(&bad);
  pop_sized_drawing(&d, &bad);
  if (!bad) render_surface(d);
}

void builtin_drawsurface3() {
  SurfaceDrawing d;
  bool bad = false;
  d.alpha_surface = pop_surface_handle(&bad);
  d.angle = pop_single_angle();
  pop_sized_drawing(&d, &bad);
  if (!bad) render_surface(d);
}

void builtin_drawsurfaceex() {
  SurfaceDrawing d;
  bool bad = false;
  d.alpha_surface = pop_surface_handle(&bad);
  d.clip = pop_rect();
  pop_integer();  // not used
  d.options = pop_integer() != 0 ? kOptionMirrorX : 0;
  d.offset_y = pop_integer();
  d.offset_x = pop_integer();
  d.light = pop_integer();
  d.tint_level = pop_integer();
  d.tint = pop_integer();
  d.alpha = pop_integer();
  d.angle = pop_single_angle();
  pop_sized_drawing(&d, &bad);
  if (!bad) render_surface(d);
}

}  // namespace

void register_sprite_render_builtins() {
  builtin_register("rendersprites", builtin_rendersprites);
  builtin_register("renderspritesex", builtin_renderspritesex);
  builtin_register("drawbacksprite", builtin_drawbacksprite);
  builtin_register("drawsprite", builtin_drawsprite);
  builtin_register("drawsurface", builtin_drawsurface);
  builtin_register("drawsurface2", builtin_drawsurface2);
  builtin_register("drawsurface3", builtin_drawsurface3);
  builtin_register("drawsurfaceex", builtin_drawsurfaceex);
}
