// The rendering built-ins: the draw list, one sprite, the background, and surfaces drawn
// with the full set of sprite effects.
#include "display/surface.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_render.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

using display::Surface;

Surface* pop_surface() { return platform::pointer_from<Surface>(pop_address()); }
Sprite* pop_sprite() { return platform::pointer_from<Sprite>(pop_address()); }

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
  Surface* target = pop_surface();
  Sprite* sprite = pop_sprite();
  if (sprite) render_sprite_at(sprite, target, x, y, frame, alpha, 0, 0, angle);
}

void builtin_drawsurface() {
  SurfaceDrawing d;
  d.source_y = pop_integer();
  d.source_x = pop_integer();
  d.y = pop_integer();
  d.x = pop_integer();
  d.target = pop_surface();
  d.surface = pop_surface();
  if (d.surface == nullptr || d.surface->buffer == nullptr) return;
  d.width = d.source_width = int32_t(d.surface->buffer->width);
  d.height = d.source_height = int32_t(d.surface->buffer->height);
  render_surface(d);
}

// The common head of drawsurface2 and drawsurface3 after their own last arguments.
void pop_sized_drawing(SurfaceDrawing* d) {
  d->source_height = pop_integer();
  d->source_width = pop_integer();
  d->source_y = pop_integer();
  d->source_x = pop_integer();
  d->height = pop_integer();
  d->width = pop_integer();
  d->y = pop_integer();
  d->x = pop_integer();
  d->target = pop_surface();
  d->surface = pop_surface();
}

void builtin_drawsurface2() {
  SurfaceDrawing d;
  d.alpha_surface = pop_surface();
  pop_sized_drawing(&d);
  render_surface(d);
}

void builtin_drawsurface3() {
  SurfaceDrawing d;
  d.alpha_surface = pop_surface();
  d.angle = pop_single_angle();
  pop_sized_drawing(&d);
  render_surface(d);
}

void builtin_drawsurfaceex() {
  SurfaceDrawing d;
  d.alpha_surface = pop_surface();
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
  pop_sized_drawing(&d);
  render_surface(d);
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
