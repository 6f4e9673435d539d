// The particle built-ins: creating, processing, drawing, counting, listing and clearing
// particles, their property getters and setters, and the game loop's particle switches.
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "game/number_list.h"
#include "game/particles.h"
#include "game/sprite_handles.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

uint32_t pop_system() { return static_cast<uint32_t>(pop_integer()); }

// The particle a handle names; a handle of no live particle is refused (null).
Particle* pop_particle() {
  uint32_t handle = pop_address();
  auto* particle = platform::pointer_from<Particle>(handle);
  if (particle_is_live(particle)) return particle;
  runtime_error("%u is not a particle handle", handle);
  return nullptr;
}

// A getter pushes the field (0 for a refused handle); a setter stores its argument, as
// an integer for an integer field.
template <auto Field>
void get_field() {
  Particle* particle = pop_particle();
  push_result(particle ? particle->*Field : 0);
}
template <auto Field>
void set_field() {
  using Value = std::remove_reference_t<decltype(std::declval<Particle&>().*Field)>;
  Value value;
  if constexpr (std::is_same_v<Value, double>) value = pop_number();
  else value = pop_integer();
  if (Particle* particle = pop_particle()) particle->*Field = value;
}

}  // namespace

void builtin_newparticle() {
  int64_t options = truncate_to_int64(pop_number());
  int32_t random_start = pop_integer();
  int32_t alpha = pop_integer();
  int32_t loop = pop_integer();
  int32_t max_cycle = pop_integer();
  double vel_y = pop_number();
  double vel_x = pop_number();
  double accel_y = pop_number();
  double accel_x = pop_number();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  // A handle of no live sprite gives a particle without one: the particle keeps the
  // pointer and every pass reads through it.
  Sprite* sprite = pop_live_sprite();
  uint32_t system = pop_system();
  // Both the random start and the fading divide by the length of a life.
  if (max_cycle < 1 && (random_start != 0 || alpha != -1)) {
    runtime_error("newparticle: a particle that fades or starts at a random age needs a max cycle of at least 1");
    push_result(0);
    return;
  }
  Particle* particle = particle_create(sprite);
  if (!particle) {
    runtime_error("Out of memory");
    push_result(0);
    return;
  }
  particle->system = system;
  particle->x = particle->start_x = x;
  particle->y = particle->start_y = y;
  particle->accel_x = accel_x;
  particle->accel_y = accel_y;
  particle->vel_x = particle->start_vel_x = vel_x;
  particle->vel_y = particle->start_vel_y = vel_y;
  particle->max_cycle = max_cycle;
  particle->loop = loop;
  particle->start_alpha = alpha;
  particle->cycle = random_start ? truncate_to_int(crt::rand() * (1.0 / 32768) * max_cycle) : 0;
  particle->alpha = -1;
  if (alpha != -1) {
    particle->alpha = truncate_to_int(static_cast<double>(max_cycle - particle->cycle) / max_cycle * alpha);
  }
  particle->options = static_cast<uint64_t>(options);
  push_result(platform::address_of(particle));
}

void builtin_processparticles() { particles_process(pop_system()); }

void builtin_renderparticles() { particles_draw(pop_system()); }

void builtin_clearparticles() { particles_clear(pop_system()); }

void builtin_countparticles() { push_result(particles_count(pop_system())); }

void builtin_particles() {
  uint32_t system = pop_system();
  Variable* list = pop_variable();
  std::vector<double> handles;
  for (Particle* particle = particle_list; particle; particle = particle->next) {
    if (particle->deleted == kParticleFreePending) continue;
    if (system == 0 || particle->system == system) handles.push_back(platform::address_of(particle));
  }
  push_result(fill_number_list(list, handles));
}

void builtin_setparticle() {
  int32_t max_cycle = pop_integer();
  int32_t accel_y = pop_integer();
  int32_t accel_x = pop_integer();
  int32_t start_y = pop_integer();
  int32_t start_x = pop_integer();
  Particle* particle = pop_particle();
  if (!particle) return;
  if (start_x != -1) particle->start_x = start_x;
  if (start_y != -1) particle->start_y = start_y;
  if (accel_x != -1) particle->accel_x = accel_x;
  if (accel_y != -1) particle->accel_y = accel_y;
  if (max_cycle != -1) particle->max_cycle = max_cycle;
}

void builtin_setparticlecollide() {
  int32_t system = pop_integer();
  if (Particle* particle = pop_particle()) particle->collide_system = system;
}

void builtin_delparticle() {
  Particle* particle = pop_particle();
  if (particle) particle->deleted = kParticleMarked;
}

void builtin_particlesprite() {
  Particle* particle = pop_particle();
  push_result(particle ? platform::address_of(particle->sprite) : 0);
}

void builtin_setparticlesprite() {
  Sprite* sprite = pop_live_sprite();
  if (Particle* particle = pop_particle()) particle->sprite = sprite;
}

void builtin_particleoptions() {
  Particle* particle = pop_particle();
  push_result(particle ? static_cast<double>(static_cast<int64_t>(particle->options)) : 0);
}

void builtin_setparticleoptions() {
  int64_t options = truncate_to_int64(pop_number());
  if (Particle* particle = pop_particle()) particle->options = static_cast<uint64_t>(options);
}

void register_particle_builtins() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static const Row rows[] = {
      {"newparticle", builtin_newparticle},
      {"processparticles", builtin_processparticles},
      {"renderparticles", builtin_renderparticles},
      {"clearparticles", builtin_clearparticles},
      {"countparticles", builtin_countparticles},
      {"particles", builtin_particles},
      {"setparticle", builtin_setparticle},
      {"setparticlecollide", builtin_setparticlecollide},
      {"delparticle", builtin_delparticle},
      {"particlex", get_field<&Particle::x>},
      {"setparticlex", set_field<&Particle::x>},
      {"particley", get_field<&Particle::y>},
      {"setparticley", set_field<&Particle::y>},
      {"particlevelx", get_field<&Particle::vel_x>},
      {"setparticlevelx", set_field<&Particle::vel_x>},
      {"particlevely", get_field<&Particle::vel_y>},
      {"setparticlevely", set_field<&Particle::vel_y>},
      {"particleaccx", get_field<&Particle::accel_x>},
      {"setparticleaccx", set_field<&Particle::accel_x>},
      {"particleaccy", get_field<&Particle::accel_y>},
      {"setparticleaccy", set_field<&Particle::accel_y>},
      {"particlecycle", get_field<&Particle::cycle>},
      {"setparticlecycle", set_field<&Particle::cycle>},
      {"particlemaxcycle", get_field<&Particle::max_cycle>},
      {"setparticlemaxcycle", set_field<&Particle::max_cycle>},
      {"particleindex", get_field<&Particle::frame>},
      {"setparticleindex", set_field<&Particle::frame>},
      {"particleloop", get_field<&Particle::loop>},
      {"setparticleloop", set_field<&Particle::loop>},
      {"particlealpha", get_field<&Particle::alpha>},
      {"setparticlealpha", set_field<&Particle::alpha>},
      {"particleangle", get_field<&Particle::angle>},
      {"setparticleangle", set_field<&Particle::angle>},
      {"particlesprite", builtin_particlesprite},
      {"setparticlesprite", builtin_setparticlesprite},
      {"particleoptions", builtin_particleoptions},
      {"setparticleoptions", builtin_setparticleoptions},
  };
  for (const Row& row : rows) builtin_register(row.name, row.handler);
}
