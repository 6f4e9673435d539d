// The game main loop and its event calls.
#include "game/game_loop.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "display/canvas.h"
#include "display/device_services.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "game/collision_grid.h"
#include "game/collision_response.h"
#include "game/draw_list.h"
#include "game/frame_builtins.h"
#include "game/game_state.h"
#include "game/particles.h"
#include "game/paths.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "game/sprite_render.h"
#include "game/sprite_timers.h"
#include "gui/event_bindings.h"
#include "gui/message_pump.h"
#include "gui/script_calls.h"
#include "platform/kernel/time.h"
#include "vm/applications.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/runtime_globals.h"

namespace {

constexpr uint64_t kOptionWrap = 1ull << 0;
constexpr uint64_t kOptionOnScreenOnly = 1ull << 9;
constexpr uint64_t kOptionNotProcessed = 1ull << 12;
constexpr uint64_t kOptionNoWorldFriction = 1ull << 13;
constexpr uint64_t kOptionAi = 1ull << 17;
constexpr uint64_t kOptionStopAnimWhenDone = 1ull << 18;
constexpr uint64_t kOptionCollisionChecks = 1ull << 24;
constexpr uint64_t kOptionAnimationOnly = 1ull << 25;
constexpr uint64_t kOptionHideWhenDone = 1ull << 41;
constexpr uint64_t kOptionBounces = 1ull << 45;

constexpr int32_t kPaintMessage = 15;
constexpr int32_t kTickMessage = 275;
constexpr int32_t kTimerMessage = 1027;
constexpr int32_t kAnimationDoneMessage = 1031;

SpriteWalk* innermost_walk = nullptr;

uint32_t handle_of(const void* pointer) { return platform::address_of(pointer); }

// An event value as the 32 bits of a window message's parameter.
uint32_t message_word(double value) { return uint32_t(int64_t(value)); }

// ---- The event trace (ZRK_EVENT_TRACE) ----

std::FILE* trace_file() {
  static std::FILE* file = [] {
    const char* path = std::getenv("ZRK_EVENT_TRACE");
    return path && *path ? std::fopen(path, "w") : nullptr;
  }();
  return file;
}

// Sprites are named by their creation number, the game window as "game": addresses differ
// from run to run.
void trace_value(std::FILE* file, double number) {
  uint32_t value = message_word(number);
  if (value != 0 && value == handle_of(game.game_window)) {
    std::fputs(" game", file);
  } else if (Sprite* sprite = value != 0 ? sprite_from_handle(value) : nullptr) {
    std::fprintf(file, " sprite%u", sprite->sequence);
  } else {
    std::fprintf(file, " %d", int32_t(value));
  }
}

void trace_event(uint32_t target, int32_t message, double value1, double value2, int32_t result) {
  std::FILE* file = trace_file();
  if (!file) return;
  std::fprintf(file, "%u", display::timer_now_ms());
  trace_value(file, target);
  std::fprintf(file, " %d", message);
  trace_value(file, value1);
  trace_value(file, value2);
  std::fprintf(file, " -> %d\n", result);
  std::fflush(file);
}

// A program that is gone or ending runs no more code.
bool program_may_run(ProgramContext* program) {
  return program && program_is_loaded(program) && exiting_program != program;
}

int32_t deliver_event(ProgramContext* program, InstructionNode* procedure, uint32_t target, int32_t message,
                      double value1, double value2) {
  int32_t result = game.event_result;
  if (procedure && program_may_run(program)) {
    result = run_script_procedure(program, procedure, double(target), message, value1, value2);
  }
  game.event_result = result;
  if (event_bindings && result != 0) {
    result = dispatch_window_event(window_from_number(int32_t(target)), uint32_t(message), message_word(value1),
                                   message_word(value2));
    game.event_result = result;
  }
  trace_event(target, message, value1, value2, result);
  return result;
}

// The particles' call of the game procedure (they offer the bindings themselves).
int32_t particle_game_procedure(int32_t message, uint32_t value1, uint32_t value2) {
  uint32_t target = handle_of(game.game_window);
  int32_t result = run_script_procedure(game.game_program, game.game_proc, double(target), message, double(value1),
                                        double(value2));
  trace_event(target, message, value1, value2, result);
  return result;
}

void link_particles() {
  game_links.friction = &game.friction;
  game_links.gravity = &game.gravity;
  game_links.time_step = &game.time_step;
  game_links.game_window = reinterpret_cast<const HWND*>(&game.game_window);
  game_links.call_game_procedure =
      game.game_proc && program_may_run(game.game_program) ? particle_game_procedure : nullptr;
}

// ---- Timing ----

int64_t counter_now() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

struct StepTiming {
  int64_t period_ticks;     // absolute step period
  double period_ms;         // step period in ms, 1.0 when below a millisecond
  int64_t seen_period;      // step_period_ticks the values were computed from
};

StepTiming step_timing() {
  StepTiming timing{};
  timing.seen_period = game.step_period_ticks;
  timing.period_ticks = game.step_period_ticks < 0 ? -game.step_period_ticks : game.step_period_ticks;
  int64_t per_ms = game.perf_ticks_per_ms > 0 ? game.perf_ticks_per_ms : 1;
  int64_t quotient = game.step_period_ticks / per_ms;
  timing.period_ms = quotient == 0 ? 1.0 : double(quotient);
  return timing;
}

bool draw_list_matches_view(const Sprite* sprite) { return (sprite->draw_node != nullptr) == sprite_in_view(sprite); }

void upkeep_draw_list() {
  if (game.draw_list_dirty) {
    refresh_view_bound_sprites();
    update_draw_list();
  }
  if (game.geometry_dirty && game.map_light) light_pass();
}

bool rects_meet(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

double sign_of(double value) { return value < 0 ? -1.0 : 1.0; }

void limit_velocity(double* velocity, double low, double high, bool upper) {
  double magnitude = std::fabs(*velocity);
  if (!upper && magnitude < low) *velocity = sign_of(*velocity) * low;
  if (upper && magnitude > high) *velocity = sign_of(*velocity) * high;
}

// ---- Per-sprite steps ----

struct StepClock {
  uint32_t now_ms;
  bool gravity_due;
  bool move_due;
};

bool gone(const SpriteWalk& walk, const Sprite* sprite) { return walk.current != sprite || sprite->deleted; }

// Steps the animation; false when an event removed the sprite.
bool animate(SpriteWalk& walk, Sprite* sprite, uint32_t now) {
  if (sprite->anim_speed_vel != 0) {
    sprite->anim_speed =
        truncate_to_int(sprite->anim_speed_vel * std::sqrt(sprite->vel_x * sprite->vel_x + sprite->vel_y * sprite->vel_y));
  }
  if (sprite->anim_speed == 0 || !sprite->surface || !sprite->visible || sprite->current_loop == -1 ||
      int32_t(now - uint32_t(sprite->anim_last_ms)) < sprite->anim_speed) {
    return true;
  }
  bool wrapped = false;
  if (sprite->first_frame <= sprite->last_frame) {
    if (++sprite->frame_index > sprite->last_frame) {
      sprite->frame_index = sprite->first_frame;
      wrapped = true;
    }
  } else if (--sprite->frame_index < sprite->last_frame) {
    sprite->frame_index = sprite->first_frame;
    wrapped = true;
  }
  sprite->anim_last_ms = int32_t(now);
  if (!wrapped || sprite->frame_loop == -1) return true;
  if (++sprite->current_loop != sprite->frame_loop) return true;
  sprite->current_loop = -1;
  sprite->frame_index = sprite->last_frame;
  if (sprite->options & kOptionStopAnimWhenDone) sprite->anim_speed = 0;
  if (sprite->options & kOptionHideWhenDone) {
    sprite->visible = 0;
    if (sprite_in_grid(sprite)) grid_remove_sprite(sprite);
    game.geometry_dirty = game.draw_list_dirty = 1;
  }
  int32_t result = game_event(kAnimationDoneMessage, handle_of(sprite), 0);
  if (gone(walk, sprite)) return false;
  if (result != 0) sprite_event(sprite, kAnimationDoneMessage, 0, 0);
  return !gone(walk, sprite);
}

bool run_timers(SpriteWalk& walk, Sprite* sprite, uint32_t now) {
  bool stays = run_sprite_timers(sprite, now, [&](uint32_t id, int32_t argument) {
    sprite_event(sprite, kTimerMessage, id, argument);
    return !gone(walk, sprite);
  });
  if (!stays) return false;
  game.event_result = 1;
  return true;
}

void apply_gravity(Sprite* sprite) {
  double g = (sprite->mass + 1) * game.gravity * game.time_step;
  game.step_gravity = g;
  double v = sprite->vel_y + g;
  int32_t ny = truncate_to_int(sprite->y + v * game.time_step);
  if (ny == truncate_to_int(sprite->y)) {
    sprite->vel_y = v;
  } else if (contacts_unchanged_at(sprite, truncate_to_int(sprite->x), ny)) {
    if (sprite->prev_y != 0) sprite->y = sprite->prev_y;
    if (!(sprite->options & kOptionBounces) && sprite->elasticity == 0) sprite->vel_y = 0;
  } else {
    sprite->vel_y = v;
  }
  if (sprite->gravity != 0) {
    double g2 = (sprite->mass + 1) * sprite->gravity;
    game.step_gravity += g2;
    int32_t ny2 = truncate_to_int(g2 * game.time_step + sprite->vel_y + sprite->y);
    if (!(ny2 != truncate_to_int(sprite->y) && contacts_unchanged_at(sprite, truncate_to_int(sprite->x), ny2))) {
      sprite->vel_y += g2;
    }
  }
}

void wrap_at_border(Sprite* sprite) {
  const RECT& rect = sprite->screen_collide_rect;
  const RECT& border = game.border;
  bool wrapped = true;
  if (rect.left > border.right) {
    sprite->x = border.left - (rect.right - rect.left) + 1;
  } else if (rect.top > border.bottom) {
    sprite->y = border.top - (rect.bottom - rect.top) + 1;
  } else if (rect.right < border.left) {
    sprite->x = rect.left - sprite->screen_rect.left + border.right - 1;
  } else if (rect.bottom < border.top) {
    sprite->y = rect.top - sprite->screen_rect.top + border.bottom - 1;
  } else {
    wrapped = false;
  }
  if (wrapped) sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
}

void move(Sprite* sprite, int32_t px, int32_t py) {
  if (!(sprite->options & kOptionNoWorldFriction) && game.friction != 0) {
    sprite->vel_x -= sprite->vel_x * game.friction;
    sprite->vel_y -= sprite->vel_y * game.friction;
  }
  sprite->vel_x += sprite->accel;
  sprite->vel_y += sprite->accel;
  sprite->x += sprite->vel_x * game.time_step;
  sprite->y += sprite->vel_y * game.time_step;
  if (truncate_to_int(sprite->x) == px && truncate_to_int(sprite->y) == py) return;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  if (sprite->options & kOptionWrap) wrap_at_border(sprite);
}

void end_sprite_step(Sprite* sprite) {
  sprite->first_step = 0;
  sprite->prev_x = truncate_to_int(sprite->x);
  sprite->prev_y = truncate_to_int(sprite->y);
}

// One sprite of the logic step; full is the full engine.
void process_sprite(SpriteWalk& walk, Sprite* sprite, const StepClock& clock, bool full) {
  if ((sprite->options & kOptionNotProcessed) || sprite->paused) return;
  uint32_t now = clock.now_ms;
  if (full) {
    if (sprite->lifetime != 0 && int32_t(now - uint32_t(sprite->lifetime_start)) >= sprite->lifetime) {
      sprite->deleted = 1;
      return;
    }
    if (!animate(walk, sprite, now)) return;
  }
  if (sprite->options & kOptionAnimationOnly) return;
  if (full && (sprite->vel_limit_low != 0 || sprite->vel_limit_high != 0)) {
    limit_velocity(&sprite->vel_x, sprite->vel_limit_low, sprite->vel_limit_high, false);
    limit_velocity(&sprite->vel_y, sprite->vel_limit_low, sprite->vel_limit_high, false);
    limit_velocity(&sprite->vel_x, sprite->vel_limit_low, sprite->vel_limit_high, true);
    limit_velocity(&sprite->vel_y, sprite->vel_limit_low, sprite->vel_limit_high, true);
  }
  if (!run_timers(walk, sprite, now)) return;
  int32_t px, py;
  if (sprite->first_step) {
    px = truncate_to_int(sprite->x);
    py = truncate_to_int(sprite->y);
  } else {
    px = truncate_to_int(sprite->prev_x);
    py = truncate_to_int(sprite->prev_y);
  }
  bool processed = true;
  if ((sprite->options & kOptionAi) && sprite->ai_speed != -1) {
    if (int32_t(now - uint32_t(sprite->ai_last_ms)) < sprite->ai_speed) processed = false;
    else sprite->ai_last_ms = int32_t(now);
  }
  if ((sprite->options & kOptionOnScreenOnly) && (!sprite->visible || !rects_meet(sprite->screen_rect, game.view_rect))) {
    processed = false;
  }
  game.step_gravity = 0;
  if (processed) {
    if (full && clock.gravity_due && sprite->mass != 0) apply_gravity(sprite);
    if (full && clock.move_due && (sprite->vel_x != 0 || sprite->vel_y != 0)) move(sprite, px, py);
    if (sprite->options & kOptionAi) {
      sprite_event(sprite, kTickMessage, truncate_to_int(sprite->x), truncate_to_int(sprite->y));
      if (gone(walk, sprite)) return;
    }
    bool moved = truncate_to_int(sprite->x) != px || truncate_to_int(sprite->y) != py;
    if (full && (moved || sprite->moved_flag)) {
      sprite->moved_flag = 0;
      if (game.iso_display || !draw_list_matches_view(sprite)) game.draw_list_dirty = 1;
      if ((sprite->options & kOptionCollisionChecks) && sprite->visible) {
        collide_moved_sprite(sprite, px, py);
        if (gone(walk, sprite)) return;
      }
    }
  }
  end_sprite_step(sprite);
}

void process_sprites(const StepClock& clock, bool full) {
  // The sprites listed when the step begins: those its events make wait for the next step,
  // or events that make a sprite each time they run would never let the step end. Sprites
  // made later are linked after `last`, with higher sequence numbers.
  SpriteWalk walk;
  walk.next = game.sprite_list_head;
  walk.last = game.sprite_list_tail;
  while (walk.next && walk.last && walk.next->sequence <= walk.last->sequence) {
    Sprite* sprite = walk.next;
    walk.current = sprite;
    walk.next = sprite->next;
    if (sprite->deleted) {
      destroy_sprite(sprite);
      continue;
    }
    process_sprite(walk, sprite, clock, full);
    // g_shut from an event: nothing is left to walk.
    if (!game.game_window) return;
  }
}

// ---- The loop ----

double number_of(const Variable* variable, double fallback) { return variable ? variable->number : fallback; }

void logic_step(StepTiming& timing, int64_t now, uint32_t now_ms, bool full) {
  if (game.step_period_ticks != timing.seen_period) timing = step_timing();
  int64_t per_ms = game.perf_ticks_per_ms > 0 ? game.perf_ticks_per_ms : 1;
  game.step_elapsed_ms = (now - game.last_step_ticks) / per_ms;
  double limit_pps = number_of(limit_pps_variable, 0);
  if (limit_pps != 0) {
    int64_t extra = (game.step_elapsed_ms - int64_t(truncate_to_int(limit_pps))) * game.perf_ticks_per_ms;
    game.extra_frame_wait_ticks = extra < 0 ? 0 : extra;
  }
  game.last_step_ticks = now;
  if (full && particle_list && particles_auto_process) {
    link_particles();
    particles_process(0);
    if (!game.game_window) return;
  }
  upkeep_draw_list();
  game.time_step = double(game.step_elapsed_ms) / timing.period_ms;
  double delta_limit = number_of(delta_limit_variable, 10.0);
  if (game.time_step > delta_limit) game.time_step = delta_limit;
  if (delta_variable && delta_variable->number != game.time_step) {
    set_variable(delta_variable, nullptr, game.time_step, nullptr, 0);
  }
  StepClock clock{now_ms, false, false};
  if (game.gravity_period_ms == -1 || int64_t(now_ms) - int64_t(game.gravity_last_ms) >= game.gravity_period_ms) {
    clock.gravity_due = true;
    game.gravity_last_ms = now_ms;
  }
  if (game.move_period_ms == -1 || int64_t(now_ms) - int64_t(game.move_last_ms) >= game.move_period_ms) {
    clock.move_due = true;
    game.move_last_ms = now_ms;
  }
  process_sprites(clock, full);
  if (!game.game_window) return;
  if (game.game_timer_ms == -1 || int64_t(now_ms) - int64_t(game.game_timer_last_ms) >= game.game_timer_ms) {
    if (game.game_timer_ms != -1) game.game_timer_last_ms = now_ms;
    game_event(kTickMessage, 0, 0);
    if (!game.game_window) return;
  }
  if (full) follow_paths();
}

// One message of the queue; true when the loop must end.
bool take_message(bool wait, bool* took) {
  MSG message{};
  BOOL got;
  if (wait) {
    got = GetMessageW(&message, nullptr, 0, 0) > 0;
  } else {
    got = PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
  }
  *took = got != 0;
  if (!got) return false;
  bool ends_loop = message.message == kEndProgramMessage && message.hwnd == game.game_window;
  translate_and_dispatch(&message);
  return ends_loop;
}

// The loop's program ended or is ending (killapp, its first form closed): nothing of it
// may run any more.
bool program_gone(ProgramContext* program) { return program && !program_may_run(program); }

void run_engine(bool full) {
  game.loop_running = 1;
  game.loop_start_ms = display::timer_now_ms();
  game.last_frame_ticks = 0;
  ProgramContext* program = game.game_program;
  StepTiming timing = step_timing();
  int64_t previous = counter_now();
  for (;;) {
    uint32_t now_ms = display::timer_now_ms();
    int64_t now = counter_now();
    if (now < previous) game.last_step_ticks = game.last_frame_ticks = now;
    previous = now;
    if (game.loop_duration_ms != -1 && double(now_ms - game.loop_start_ms) >= double(game.loop_duration_ms)) break;
    if (game.game_window && !IsWindow(game.game_window)) break;
    if (program_gone(program) || quit_flag) break;
    bool took = false;
    if (take_message(game.game_state != 0, &took)) break;
    if (program_gone(program) || quit_flag) break;
    if (took && game.game_state == 0) continue;
    if (!game.game_window) break;
    if (!IsWindow(game.game_window)) break;
    if (game.game_state != 0 && game.game_state != 3) {
      if (game.window_canvas) {
        display::canvas_begin_scene(game.window_canvas);
        display::canvas_present(game.window_canvas, nullptr);
      }
      continue;
    }
    if (now - game.last_frame_ticks >= game.frame_period_ticks + game.extra_frame_wait_ticks) {
      game.last_frame_ticks = now;
      if (game.autodraw_mode != 0) draw_game_frame();
      if (!game.game_window || program_gone(program)) break;
    }
    if (now - game.last_step_ticks < timing.period_ticks) continue;
    logic_step(timing, now, now_ms, full);
  }
  game.loop_running = 0;
}

void run_engine_with_duration(bool full) {
  game.loop_duration_ms = pop_integer();
  game.fps_sample_count = 0;
  run_engine(full);
}

void builtin_g_mainloop() { run_engine_with_duration(true); }

void builtin_g_mainloop2() { run_engine_with_duration(false); }

}  // namespace

SpriteWalk::SpriteWalk() : outer(innermost_walk) { innermost_walk = this; }

SpriteWalk::~SpriteWalk() { innermost_walk = outer; }

void sprite_walks_forget(Sprite* sprite) {
  for (SpriteWalk* walk = innermost_walk; walk; walk = walk->outer) {
    if (walk->current == sprite) walk->current = nullptr;
    if (walk->next == sprite) walk->next = sprite->next;
    if (walk->last == sprite) walk->last = sprite->prev;
  }
}

int32_t game_event(int32_t message, double value1, double value2) {
  return deliver_event(game.game_program, game.game_proc, handle_of(game.game_window), message, value1, value2);
}

int32_t sprite_event(Sprite* sprite, int32_t message, double value1, double value2) {
  return deliver_event(sprite->owner, sprite->proc, handle_of(sprite), message, value1, value2);
}

void run_game_loop() { run_engine(true); }

void run_game_loop2() { run_engine(false); }

void run_game_logic_step(bool full) {
  StepTiming timing = step_timing();
  logic_step(timing, counter_now(), display::timer_now_ms(), full);
}

void register_game_loop_builtins() {
  install_sprite_mouse_events();
  builtin_register("g_mainloop", builtin_g_mainloop);
  builtin_register("g_mainloop2", builtin_g_mainloop2);
}
