// Sprite timers: up to 15 periodic timers per sprite, each named by a number the script
// chooses, kept in the order they were first set.
#pragma once

#include <cstdint>

#include "game/sprite.h"

struct SpriteTimer {
  uint32_t id;
  int32_t argument;  // handed back to the procedure when the timer fires
  uint32_t interval;  // milliseconds
  uint32_t start;     // when it was set or last fired
  int32_t paused;     // non-zero: it does not fire
};
static_assert(sizeof(SpriteTimer) == 20, "a sprite timer is a 20-byte record");

// Creates the timer of that id in the next free slot, or restarts the existing one with
// the new interval and argument (its pause stays). With every slot taken nothing
// happens, not even a restart.
void set_sprite_timer(Sprite* sprite, uint32_t id, uint32_t interval, int32_t argument, uint32_t now);
// Removes the timer; the later ones move down a slot, keeping their order.
void kill_sprite_timer(Sprite* sprite, uint32_t id);
// The timer of that id, or null.
SpriteTimer* find_sprite_timer(Sprite* sprite, uint32_t id);

// One pass of the game loop over the sprite's timers, in slot order: each running timer
// whose interval has passed since its start restarts at now and is handed to
// deliver(id, argument). deliver returns false when the sprite is gone (an event may
// destroy it); the pass then stops and gives false.
template <typename Deliver>
bool run_sprite_timers(Sprite* sprite, uint32_t now, Deliver&& deliver) {
  for (int32_t slot = 0; slot < sprite->timer_count && slot < kSpriteTimerSlots; ++slot) {
    SpriteTimer* timer = sprite->timers[slot];
    if (!timer || timer->paused != 0 || now - timer->start < timer->interval) continue;
    timer->start = now;
    if (!deliver(timer->id, timer->argument)) return false;
  }
  return true;
}

void register_sprite_timer_builtins();
