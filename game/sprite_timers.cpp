// Sprite timers and their built-ins: setspritetimer, killspritetimer, pausespritetimer
// and spritetimer.
#include "game/sprite_timers.h"

#include "display/device_services.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/sprite.h"
#include "game/sprite_handles.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// The slot of the timer of that id among the slots in use, or -1.
int32_t timer_slot(const Sprite* sprite, uint32_t id) {
  for (int32_t slot = 0; slot < sprite->timer_count && slot < kSpriteTimerSlots; ++slot) {
    if (sprite->timers[slot] && sprite->timers[slot]->id == id) return slot;
  }
  return -1;
}

// An id or interval argument: the number's low 32 bits.
uint32_t pop_unsigned() { return static_cast<uint32_t>(pop_integer()); }

}  // namespace

void set_sprite_timer(Sprite* sprite, uint32_t id, uint32_t interval, int32_t argument, uint32_t now) {
  if (sprite->timer_count >= kSpriteTimerSlots) return;
  int32_t slot = timer_slot(sprite, id);
  bool added = slot < 0;
  if (added) slot = sprite->timer_count;
  SpriteTimer*& timer = sprite->timers[slot];
  if (!timer) {
    timer = static_cast<SpriteTimer*>(crt::calloc(1, sizeof(SpriteTimer)));
    if (!timer) return;
  }
  timer->id = id;
  timer->interval = interval;
  timer->argument = argument;
  timer->start = now;
  if (added) ++sprite->timer_count;
}

void kill_sprite_timer(Sprite* sprite, uint32_t id) {
  int32_t slot = timer_slot(sprite, id);
  if (slot < 0) return;
  crt::free(sprite->timers[slot]);
  int32_t last = sprite->timer_count - 1;
  for (int32_t index = slot; index < last; ++index) sprite->timers[index] = sprite->timers[index + 1];
  sprite->timers[last] = nullptr;
  --sprite->timer_count;
}

SpriteTimer* find_sprite_timer(Sprite* sprite, uint32_t id) {
  int32_t slot = timer_slot(sprite, id);
  return slot < 0 ? nullptr : sprite->timers[slot];
}

namespace {

void builtin_setspritetimer() {
  int32_t argument = pop_integer();
  uint32_t interval = pop_unsigned();
  uint32_t id = pop_unsigned();
  if (Sprite* sprite = pop_live_sprite()) set_sprite_timer(sprite, id, interval, argument, display::timer_now_ms());
}

void builtin_killspritetimer() {
  uint32_t id = pop_unsigned();
  if (Sprite* sprite = pop_live_sprite()) kill_sprite_timer(sprite, id);
}

void builtin_pausespritetimer() {
  int32_t paused = pop_integer();
  uint32_t id = pop_unsigned();
  Sprite* sprite = pop_live_sprite();
  SpriteTimer* timer = sprite ? find_sprite_timer(sprite, id) : nullptr;
  if (timer) timer->paused = paused;
}

void builtin_spritetimer() {
  uint32_t id = pop_unsigned();
  Sprite* sprite = pop_live_sprite();
  SpriteTimer* timer = sprite ? find_sprite_timer(sprite, id) : nullptr;
  stack_push_number(current_program, timer ? timer->paused : 0);
}

}  // namespace

void register_sprite_timer_builtins() {
  builtin_register("setspritetimer", builtin_setspritetimer);
  builtin_register("killspritetimer", builtin_killspritetimer);
  builtin_register("pausespritetimer", builtin_pausespritetimer);
  builtin_register("spritetimer", builtin_spritetimer);
}
