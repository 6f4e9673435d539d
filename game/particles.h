// Particles: light moving images of an existing sprite's frames, grouped by a script-chosen
// system number, kept in one global list (newest first), moved, aged, collided and drawn.
#pragma once

#include <cstdint>

// The window handle as the platform declares it.
struct HWND__;
using HWND = HWND__*;

struct Sprite;

struct Particle {
  uint32_t system;
  double x, y;
  double start_x, start_y;
  double vel_x, vel_y;
  double start_vel_x, start_vel_y;
  double accel_x, accel_y;
  int32_t cycle;
  int32_t max_cycle;
  int32_t frame;
  int32_t alpha;  // -1 opaque
  int32_t loop;
  int32_t start_alpha;  // -1: never fades
  int32_t collide_system;
  int32_t angle;
  uint64_t options;
  Sprite* sprite;  // not owned; null once the sprite was destroyed under a running walk
  uint8_t deleted;  // kParticleMarked or kParticleFreePending
  uint32_t frame_time;
  Particle* next;
  Particle* prev;
};

constexpr uint64_t kParticleWorldPhysics = 0x1;
constexpr uint64_t kParticleDeletesSprite = 0x10;
constexpr uint64_t kParticleCollideEvent = 0x100;
constexpr uint64_t kParticleAskRemoval = 0x1000;
constexpr uint64_t kParticleLifeEndEvent = 0x10000;
constexpr uint64_t kParticleAngleFollowsAge = 0x100000;

// Marked: the next pass frees it without asking. Free pending: freed when the last running
// walk over the list ends; no longer counted, drawn or moved.
constexpr uint8_t kParticleMarked = 1;
constexpr uint8_t kParticleFreePending = 2;

constexpr int32_t kParticleCollideMessage = 1028;
constexpr int32_t kParticleRemoveMessage = 1029;
constexpr int32_t kParticleLifeEndMessage = 1030;

extern Particle* particle_list;
// Whether the main loop processes the particles and whether the frame draws them (both 1
// at start-up; "gameparticles" sets them).
extern int32_t particles_auto_process;
extern int32_t particles_auto_draw;

// What particles read of the game display and the main loop, which point these at their
// own values when they start. Until then: no game window or procedure, no world friction
// or gravity, and a time step of 1, so a pass outside the loop moves by one step.
struct GameLinks {
  const double* friction;
  const double* gravity;
  const double* time_step;
  const HWND* game_window;
  // Runs the game procedure with (game window, message, value 1, value 2) and gives its
  // integer result; null while there is no game procedure.
  int32_t (*call_game_procedure)(int32_t message, uint32_t value1, uint32_t value2);
};
extern GameLinks game_links;
// Points every link back at the start-up values.
void reset_game_links();

// A game event: the game procedure's result (1 without one); when bindings exist and that
// result is not 0 they are offered the message, and their result replaces it only with
// use_binding_result.
int32_t call_game_event(int32_t message, uint32_t value1, uint32_t value2, bool use_binding_result);

// A zeroed particle of the sprite at the head of the list; null when out of memory.
Particle* particle_create(Sprite* sprite);
// Unlinks and frees it (with kParticleDeletesSprite its sprite is marked deleted); while a
// walk over the list runs it is only marked free-pending.
void particle_free(Particle* particle);
// True when the particle is in the list and not waiting to be freed.
bool particle_is_live(const Particle* particle);

// One processing pass over the particles of the system (0: all): motion, collisions, age,
// animation, end of life and removal.
void particles_process(uint32_t system);
// Draws the particles of the system (0: all) through the game's draw canvas.
void particles_draw(uint32_t system);
// Frees the particles of the system (0: all), asking the game procedure first for those
// with kParticleAskRemoval.
void particles_clear(uint32_t system);
// Particles of the system (0: all) that are not waiting to be freed.
int32_t particles_count(uint32_t system);
// Frees (or, under a running walk, detaches and marks) every particle showing the sprite.
void particles_free_for_sprite(Sprite* sprite);

// The frame drawing the particles use (angle in degrees): the sprite renderer fills it.
// Until then a plain copy of the frame, blended by alpha and not turned, or a box of the
// colour of an image-less sprite.
using ParticleFrameRenderer = void (*)(Sprite* sprite, int32_t x, int32_t y, int32_t frame, int32_t alpha,
                                       double angle);
extern ParticleFrameRenderer particle_frame_renderer;
void draw_sprite_frame_plain(Sprite* sprite, int32_t x, int32_t y, int32_t frame, int32_t alpha, double angle);

void register_particle_builtins();
