// Sprite behaviour, sprite timers, world settings and the many-sprite built-ins
// (explode, setlayer, getkeylist, processsprites, g_drawlist).
#pragma once

#include <cstdint>

namespace display {
struct Surface;
}
struct Sprite;

// What the many-sprite built-ins need of the sprite renderer; each is null until the
// renderer fills it at start-up.
struct SpriteRendererHooks {
  // The light pass over the sprites in view.
  void (*light_pass)();
  // Draws frame `frame` of the sprite at (x, y) into target (null: the draw canvas).
  void (*render_sprite_at)(Sprite* sprite, display::Surface* target, int32_t x, int32_t y, int32_t frame,
                           int32_t alpha, int32_t offset_x, int32_t offset_y, double angle);
};
extern SpriteRendererHooks sprite_renderer_hooks;

void register_sprite_behaviour_builtins();
void register_sprite_timer_builtins();
void register_world_builtins();
void register_explode_builtins();

// All of the above.
void register_game_behaviour_builtins();
