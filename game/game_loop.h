// The game main loop: the message pump, fixed logic steps over the sprites (animation,
// motion, timers, AI ticks, collisions, lifetimes, paths, particles), frames at the frame
// rate, and the event calls through which the engine talks to scripts.
#pragma once

#include <cstdint>

struct Sprite;

// A walk over the sprite list that events may destroy sprites under: destroying the
// current sprite clears `current`, destroying the saved successor moves `next` on to its
// own successor. `last` is the last sprite still listed of those listed when the walk
// began; destroying it moves it back to its predecessor. Walks nest (an event may run a
// walk of its own).
struct SpriteWalk {
  Sprite* current = nullptr;
  Sprite* next = nullptr;
  Sprite* last = nullptr;
  SpriteWalk* outer;
  SpriteWalk();
  ~SpriteWalk();
  SpriteWalk(const SpriteWalk&) = delete;
  SpriteWalk& operator=(const SpriteWalk&) = delete;
};
// Called as a sprite leaves the sprite list.
void sprite_walks_forget(Sprite* sprite);

// An event to the game procedure (target the game window) or to the sprite's own
// procedure (target the sprite). The result goes on to the event bindings when it is not
// 0; the final result is stored in game.event_result and returned. Without a procedure
// the current event_result stands in for its result.
// The values are numbers: a handle goes as its unsigned address (as the built-ins give it),
// a coordinate or a script's own value signed.
int32_t game_event(int32_t message, double value1, double value2);
int32_t sprite_event(Sprite* sprite, int32_t message, double value1, double value2);

// The full engine and the light one (no particles, paths, animation, motion or
// collisions). Each returns when loop_duration_ms has passed, when the game window is
// gone, or when its program ends.
void run_game_loop();
void run_game_loop2();
// One logic step at the present clock, as the loop makes it between frames (the full
// engine or the light one); for benchmarks that time steps apart from frames.
void run_game_logic_step(bool full);

// Stylus messages at the game window go to the sprite under the pointer (installed by
// register_game_loop_builtins).
void install_sprite_mouse_events();

void register_game_loop_builtins();
