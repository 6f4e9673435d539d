// Particles: the global list, one processing pass (motion, collisions, age, animation,
// end of life), drawing, clearing, and the game event call they share with the main loop.
#include "game/particles.h"

#include <unordered_set>

#include "display/canvas.h"
#include "display/device_services.h"
#include "foundation/numbers.h"
#include "game/collision_mask.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "gui/event_bindings.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"

Particle* particle_list = nullptr;
int32_t particles_auto_process = 1;
int32_t particles_auto_draw = 1;

namespace {

const double kNoFriction = 0;
const double kNoGravity = 0;
const double kOneStep = 1;
const HWND kNoWindow = nullptr;

// Walks over the list running now; while any runs, frees are deferred to the end of the
// outermost one, so a script event inside a walk cannot free what a walk holds.
int32_t running_walks = 0;
int32_t pending_frees = 0;

// The records in the list, so a handle from a script can be checked before use.
std::unordered_set<const Particle*>& live_particles() {
  static std::unordered_set<const Particle*> set;
  return set;
}

void unlink_and_free(Particle* particle) {
  if (particle->prev) particle->prev->next = particle->next;
  else if (particle_list == particle) particle_list = particle->next;
  if (particle->next) particle->next->prev = particle->prev;
  if ((particle->options & kParticleDeletesSprite) && particle->sprite) particle->sprite->deleted = 1;
  live_particles().erase(particle);
  crt::free(particle);
}

void free_pending_particles() {
  Particle* particle = particle_list;
  while (particle && pending_frees > 0) {
    Particle* next = particle->next;
    if (particle->deleted == kParticleFreePending) {
      --pending_frees;
      unlink_and_free(particle);
    }
    particle = next;
  }
  pending_frees = 0;
}

// Brackets a walk over the list.
struct ParticleWalk {
  ParticleWalk() { ++running_walks; }
  ~ParticleWalk() {
    if (--running_walks == 0 && pending_frees > 0) free_pending_particles();
  }
  ParticleWalk(const ParticleWalk&) = delete;
  ParticleWalk& operator=(const ParticleWalk&) = delete;
};

// The walk that frees may free at once only when no other walk runs under it.
void free_from_walk(Particle* particle) {
  if (running_walks > 1) {
    particle_free(particle);
    return;
  }
  if (particle->deleted == kParticleFreePending) --pending_frees;
  unlink_and_free(particle);
}

bool in_system(const Particle* particle, uint32_t system) { return system == 0 || particle->system == system; }

int32_t image_width(const Sprite* sprite) { return sprite->drawn_width > 0 ? sprite->drawn_width : sprite->width; }
int32_t image_height(const Sprite* sprite) {
  return sprite->drawn_height > 0 ? sprite->drawn_height : sprite->height;
}

RECT particle_box(const Particle* particle) {
  int32_t x = truncate_to_int(particle->x);
  int32_t y = truncate_to_int(particle->y);
  return RECT{x, y, x + image_width(particle->sprite), y + image_height(particle->sprite)};
}

CollisionMask* frame_mask(Sprite* sprite, int32_t frame) {
  if (frame < 0 || frame >= kSpriteFrameSlots) return nullptr;
  if (!sprite->frame_masks[frame]) build_frame_masks(sprite);
  return sprite->frame_masks[frame];
}

bool masks_overlap(const Particle* a, const RECT& a_box, const Particle* b, const RECT& b_box) {
  CollisionMask* a_mask = frame_mask(a->sprite, a->frame);
  CollisionMask* b_mask = frame_mask(b->sprite, b->frame);
  if (!a_mask || !b_mask) return false;
  return mask_overlap(a_mask, b_mask, b_box.left - a_box.left, b_box.top - a_box.top) != 0;
}

// The first other particle of the collide system whose box meets this one's.
Particle* find_particle_hit(const Particle* particle) {
  if (!particle->sprite) return nullptr;
  RECT box = particle_box(particle);
  for (Particle* other = particle_list; other; other = other->next) {
    if (other == particle || other->deleted == kParticleFreePending || !other->sprite) continue;
    if (other->system != static_cast<uint32_t>(particle->collide_system)) continue;
    RECT other_box = particle_box(other);
    if (!rects_intersect(box, other_box)) continue;
    bool exact = (particle->sprite->options & kOptionPixelExact) && (other->sprite->options & kOptionPixelExact);
    if (exact && !masks_overlap(particle, box, other, other_box)) return nullptr;
    return other;
  }
  return nullptr;
}

// (max cycle - cycle) / max cycle; a life of no cycles has nothing left.
double life_left(const Particle* particle) {
  if (particle->max_cycle <= 0) return 0;
  return static_cast<double>(particle->max_cycle - particle->cycle) / particle->max_cycle;
}

void advance_frame(Particle* particle, uint32_t now) {
  Sprite* sprite = particle->sprite;
  if (!sprite) return;
  int64_t waited = static_cast<uint32_t>(now - particle->frame_time);
  if (waited < sprite->anim_speed) return;
  particle->frame_time = now;
  // After the last frame comes the first; so does it after a frame a script set beyond the
  // last (setparticleindex takes any number), which cannot count on past the int limit.
  particle->frame = particle->frame >= sprite->last_frame ? sprite->first_frame : particle->frame + 1;
}

void end_life(Particle* particle, uint32_t now) {
  if (particle->options & kParticleLifeEndEvent) {
    call_game_event(kParticleLifeEndMessage, platform::address_of(particle), 0, false);
  }
  if (particle->deleted == kParticleFreePending) return;
  if (!particle->loop) {
    particle->deleted = kParticleMarked;
    return;
  }
  particle->cycle = 0;
  particle->frame = particle->sprite ? particle->sprite->first_frame : 0;
  particle->x = particle->start_x;
  particle->y = particle->start_y;
  particle->vel_x = particle->start_vel_x;
  particle->vel_y = particle->start_vel_y;
  if (particle->start_alpha != 0) particle->alpha = particle->start_alpha;
  particle->frame_time = now;
}

// Steps 3 to 8 of a pass for one particle of the system.
void step_particle(Particle* particle, uint32_t now) {
  particle->vel_x += particle->accel_x;
  particle->vel_y += particle->accel_y;
  if (particle->options & kParticleWorldPhysics) {
    double friction = *game_links.friction;
    double gravity = *game_links.gravity;
    // Friction is subtracted from both components whatever their sign.
    if (friction != 0) {
      particle->vel_x -= friction;
      particle->vel_y -= friction;
    }
    if (gravity != 0) particle->vel_y += gravity;
  }
  double time_step = *game_links.time_step;
  particle->x += particle->vel_x * time_step;
  particle->y += particle->vel_y * time_step;

  if (particle->collide_system != 0) {
    Particle* hit = find_particle_hit(particle);
    if (hit && (particle->options & kParticleCollideEvent)) {
      call_game_event(kParticleCollideMessage, platform::address_of(particle), platform::address_of(hit), false);
    }
  }
  if (particle->deleted == kParticleFreePending) return;

  ++particle->cycle;
  if (particle->start_alpha != -1) {
    particle->alpha = truncate_to_int(life_left(particle) * particle->start_alpha);
  }
  if (particle->options & kParticleAngleFollowsAge) particle->angle = truncate_to_int(life_left(particle) * 360);
  if (particle->cycle < particle->max_cycle) advance_frame(particle, now);
  else end_life(particle, now);
}

// A particle marked in this pass leaves now, unless the game procedure keeps it.
void remove_if_marked(Particle* particle) {
  if (particle->deleted != kParticleMarked) return;
  if ((particle->options & kParticleAskRemoval) &&
      call_game_event(kParticleRemoveMessage, platform::address_of(particle), 0, true) == 0) {
    return;
  }
  free_from_walk(particle);
}

}  // namespace

GameLinks game_links{&kNoFriction, &kNoGravity, &kOneStep, &kNoWindow, nullptr};

void reset_game_links() { game_links = GameLinks{&kNoFriction, &kNoGravity, &kOneStep, &kNoWindow, nullptr}; }

int32_t call_game_event(int32_t message, uint32_t value1, uint32_t value2, bool use_binding_result) {
  int32_t result = game_links.call_game_procedure ? game_links.call_game_procedure(message, value1, value2) : 1;
  if (event_bindings && result != 0) {
    int32_t bound = dispatch_window_event(*game_links.game_window, static_cast<uint32_t>(message), value1, value2);
    if (use_binding_result) result = bound;
  }
  return result;
}

Particle* particle_create(Sprite* sprite) {
  auto* particle = static_cast<Particle*>(crt::calloc(1, sizeof(Particle)));
  if (!particle) return nullptr;
  live_particles().insert(particle);
  particle->sprite = sprite;
  particle->frame_time = display::timer_now_ms();
  particle->next = particle_list;
  if (particle_list) particle_list->prev = particle;
  particle_list = particle;
  return particle;
}

void particle_free(Particle* particle) {
  if (!particle) return;
  if (running_walks == 0) {
    unlink_and_free(particle);
    return;
  }
  if (particle->deleted != kParticleFreePending) {
    particle->deleted = kParticleFreePending;
    ++pending_frees;
  }
}

bool particle_is_live(const Particle* particle) {
  if (!particle || !live_particles().count(particle)) return false;
  return particle->deleted != kParticleFreePending;
}

void particles_process(uint32_t system) {
  uint32_t now = display::timer_now_ms();
  ParticleWalk walk;
  Particle* particle = particle_list;
  while (particle) {
    // Events below may add particles at the head or mark others; the successor stays
    // in the list until this walk ends.
    Particle* next = particle->next;
    if (particle->deleted) {
      free_from_walk(particle);
    } else if (in_system(particle, system)) {
      step_particle(particle, now);
      remove_if_marked(particle);
    }
    particle = next;
  }
}

void particles_draw(uint32_t system) {
  if (!game.draw_canvas) return;
  int32_t origin_x = truncate_to_int(game.origin_x);
  int32_t origin_y = truncate_to_int(game.origin_y);
  for (Particle* particle = particle_list; particle; particle = particle->next) {
    if (particle->deleted == kParticleFreePending || !particle->sprite || !in_system(particle, system)) continue;
    particle_frame_renderer(particle->sprite, clamp_to_int32(int64_t(truncate_to_int(particle->x)) - origin_x),
                            clamp_to_int32(int64_t(truncate_to_int(particle->y)) - origin_y), particle->frame,
                            particle->alpha, particle->angle);
  }
}

void particles_clear(uint32_t system) {
  ParticleWalk walk;
  Particle* particle = particle_list;
  while (particle) {
    Particle* next = particle->next;
    if (particle->deleted != kParticleFreePending && in_system(particle, system)) {
      bool keep = (particle->options & kParticleAskRemoval) &&
                  call_game_event(kParticleRemoveMessage, platform::address_of(particle), 0, true) == 0;
      if (!keep) free_from_walk(particle);
    }
    particle = next;
  }
}

int32_t particles_count(uint32_t system) {
  int32_t count = 0;
  for (Particle* particle = particle_list; particle; particle = particle->next) {
    if (particle->deleted != kParticleFreePending && in_system(particle, system)) ++count;
  }
  return count;
}

void particles_free_for_sprite(Sprite* sprite) {
  if (!sprite) return;
  ParticleWalk walk;
  Particle* particle = particle_list;
  while (particle) {
    Particle* next = particle->next;
    if (particle->sprite == sprite) {
      // The sprite goes now even when the record must wait for a walk to end.
      particle->sprite = nullptr;
      free_from_walk(particle);
    }
    particle = next;
  }
}

void draw_sprite_frame_plain(Sprite* sprite, int32_t x, int32_t y, int32_t frame, int32_t alpha, double) {
  display::Canvas* canvas = game.draw_canvas;
  bool blend = alpha >= 0 && alpha < 255;
  if (blend) display::canvas_set_blend(canvas, alpha);
  if (!sprite->surface) {
    display::canvas_fill_rect(canvas, x, y, x + image_width(sprite), y + image_height(sprite),
                              static_cast<uint16_t>(sprite->color));
  } else if (frame >= 0 && frame < kSpriteFrameSlots) {
    const RECT& source = sprite->frame_rects[frame];
    display::Rect rect{source.left, source.top, source.right, source.bottom};
    if (sprite->alpha_surface) display::canvas_blit_sprite(canvas, x, y, sprite->surface, sprite->alpha_surface, &rect);
    else display::canvas_blit_surface(canvas, x, y, sprite->surface, &rect);
  }
  if (blend) display::canvas_set_blend(canvas, 255);
}

ParticleFrameRenderer particle_frame_renderer = draw_sprite_frame_plain;
