// A machine in which the particle and path built-ins are called by name, over a clean
// game state with a cleared 160 x 120 draw canvas, the virtual clock, and a game
// procedure that records each event it gets and answers through a settable reaction.
#pragma once

#include <functional>
#include <vector>

#include "../library/builtin_fixture.h"
#include "display/canvas.h"
#include "display/surface.h"
#include "game/game_state.h"
#include "game/game_behaviour_builtins.h"
#include "game/particles.h"
#include "game/paths.h"
#include "game/sprite.h"
#include "platform/kernel/clock.h"
#include "game_screen.h"

struct GameEvent {
  int32_t message;
  uint32_t first, second;
  bool operator==(const GameEvent&) const = default;
};

inline std::vector<GameEvent> game_events;
// The game procedure's answer to an event; 1 (not handled) when unset.
inline std::function<int32_t(const GameEvent&)> game_event_reaction;

inline int32_t record_game_event(int32_t message, uint32_t first, uint32_t second) {
  GameEvent event{message, first, second};
  game_events.push_back(event);
  return game_event_reaction ? game_event_reaction(event) : 1;
}

class ParticleTest : public BuiltinTest {
 protected:
  static constexpr int32_t kCanvasWidth = 160;
  static constexpr int32_t kCanvasHeight = 120;

  ParticleTest() : BuiltinTest(register_all) {}

  static void register_all() {
    register_particle_builtins();
    register_path_builtins();
    register_world_builtins();  // gameparticles
  }

  void SetUp() override {
    BuiltinTest::SetUp();
    was_virtual_ = platform::clock_is_virtual();
    platform::clock_select_virtual(true);
    game = GameState{};
    game.children_follow = 1;
    ASSERT_NO_FATAL_FAILURE(open_game_screen(kCanvasWidth, kCanvasHeight, screen, canvas));
    reset_game_links();
    game_links.friction = &friction;
    game_links.gravity = &gravity;
    game_links.time_step = &time_step;
    game_links.call_game_procedure = record_game_event;
    game_events.clear();
    game_event_reaction = nullptr;
  }

  void TearDown() override {
    game_event_reaction = nullptr;
    reset_game_links();
    particles_clear(0);
    clear_paths();
    destroy_all_sprites();
    close_game_screen(screen, canvas);
    game = GameState{};
    particles_auto_process = particles_auto_draw = 1;
    platform::clock_select_virtual(was_virtual_);
    BuiltinTest::TearDown();
  }

  // An image-less sprite: a box of the colour, frames first..last, a new frame every pass.
  static Sprite* box_sprite(int32_t width, int32_t height, uint16_t colour = 0xFFFF, int32_t first = 0,
                            int32_t last = 0) {
    Sprite* sprite = create_sprite();
    sprite->width = width;
    sprite->height = height;
    sprite->color = colour;
    sprite->first_frame = first;
    sprite->last_frame = last;
    sprite->anim_speed = 0;
    return sprite;
  }

  // Calls the built-in with the numbers as arguments (first to last).
  void run(const char* name, std::initializer_list<double> arguments) {
    for (double value : arguments) push(value);
    call(name);
  }
  double run_function(const char* name, std::initializer_list<double> arguments) {
    run(name, arguments);
    return pop_number();
  }

  // newparticle(system, sprite, x, y, accx, accy, velx, vely, maxcycle, loop, alpha,
  // randomstart, options).
  Particle* emit(uint32_t system, Sprite* sprite, double x, double y, double accel_x, double accel_y, double vel_x,
                 double vel_y, int32_t max_cycle, int32_t loop, int32_t alpha, int32_t options = 0) {
    double handle = run_function("newparticle", {double(system), double(platform::address_of(sprite)), x, y, accel_x,
                                                 accel_y, vel_x, vel_y, double(max_cycle), double(loop),
                                                 double(alpha), 0, double(options)});
    return platform::pointer_from<Particle>(static_cast<uint32_t>(handle));
  }

  void process(uint32_t system = 0) { run("processparticles", {double(system)}); }
  int32_t count(uint32_t system = 0) { return int32_t(run_function("countparticles", {double(system)})); }

  // The list's links agree both ways and every record is live.
  static bool list_is_sound() {
    Particle* previous = nullptr;
    for (Particle* particle = particle_list; particle; particle = particle->next) {
      if (particle->prev != previous || !particle_is_live(particle)) return false;
      previous = particle;
    }
    return true;
  }

  uint16_t pixel(int32_t x, int32_t y) const { return *screen->buffer->at(x, y); }

  double friction = 0;
  double gravity = 0;
  double time_step = 1;
  display::Surface* screen = nullptr;
  display::Canvas* canvas = nullptr;

 private:
  bool was_virtual_ = false;
};
