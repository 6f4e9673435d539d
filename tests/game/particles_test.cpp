// Particles through their built-ins: age, fading and turning, motion under the world's
// friction and gravity, systems, the three particle events, frees from inside events,
// and an emitter's particles and picture against an independent simulation.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "foundation/runtime_error.h"
#include "foundation/variable.h"
#include "game/collision_mask.h"
#include "particle_fixture.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"

namespace {

using Particles = ParticleTest;

TEST_F(Particles, AlphaAngleAndLifeFollowTheCycles) {
  struct Pass {
    int32_t cycle, alpha, angle;
  };
  struct Row {
    const char* what;
    int32_t max_cycle, alpha, loop, options;
    std::vector<Pass> passes;  // the particle is gone after one more pass
  };
  const Row rows[] = {
      // In doubles 7 / 10 * 360 is a hair below 252.
      {"fading and turning with the age", 10, 255, 0, 0x100000,
       {{1, 229, 324}, {2, 204, 288}, {3, 178, 251}, {4, 153, 216}, {5, 127, 180},
        {6, 102, 144}, {7, 76, 108}, {8, 51, 72}, {9, 25, 36}}},
      {"an opaque particle stays opaque and keeps its angle", 4, -1, 0, 0, {{1, -1, 0}, {2, -1, 0}, {3, -1, 0}}},
      {"a looping life starts again at its start alpha", 3, 200, 1, 0,
       {{1, 133, 0}, {2, 66, 0}, {0, 200, 0}, {1, 133, 0}, {2, 66, 0}, {0, 200, 0}}},
      {"a life of no cycles ends at once", 0, -1, 0, 0x100000, {}},
  };
  Sprite* sprite = box_sprite(4, 4);
  for (const Row& row : rows) {
    Particle* particle = emit(1, sprite, 0, 0, 0, 0, 0, 0, row.max_cycle, row.loop, row.alpha, row.options);
    ASSERT_NE(particle, nullptr) << row.what;
    EXPECT_EQ(particle->alpha, row.alpha) << row.what << ": alpha before the first pass";
    for (size_t index = 0; index < row.passes.size(); ++index) {
      process();
      ASSERT_TRUE(particle_is_live(particle)) << row.what << ", pass " << index + 1;
      EXPECT_EQ(run_function("particlecycle", {double(platform::address_of(particle))}), row.passes[index].cycle)
          << row.what << ", pass " << index + 1;
      EXPECT_EQ(run_function("particlealpha", {double(platform::address_of(particle))}), row.passes[index].alpha)
          << row.what << ", pass " << index + 1;
      EXPECT_EQ(run_function("particleangle", {double(platform::address_of(particle))}), row.passes[index].angle)
          << row.what << ", pass " << index + 1;
    }
    if (row.loop) {
      particles_clear(0);
      continue;
    }
    process();
    EXPECT_FALSE(particle_is_live(particle)) << row.what << ": the life is over";
    EXPECT_EQ(count(), 0) << row.what;
  }
}

TEST_F(Particles, MotionUnderTheWorld) {
  struct Row {
    const char* what;
    int32_t options;
    double friction, gravity, time_step;
    double accel_x, accel_y, vel_x, vel_y;
    double expected_vel_x, expected_vel_y, expected_x, expected_y;
  };
  const Row rows[] = {
      {"friction is subtracted from both components", 1, 0.5, 0, 1, 0, 0, 2, -2, 1.5, -2.5, 11.5, 17.5},
      {"gravity adds to the vertical component", 1, 0, 0.25, 1, 0, 0, 1, 1, 1, 1.25, 11, 21.25},
      {"without the world option neither acts", 0, 0.5, 0.25, 1, 0, 0, 2, -2, 2, -2, 12, 18},
      {"acceleration comes first, then the time step scales", 0, 0, 0, 2, 0.5, -1, 1, 1, 1.5, 0, 13, 20},
      {"a time step of 0 stops the motion, not the velocity", 1, 0, 0.5, 0, 0, 0, 3, 0, 3, 0.5, 10, 20},
  };
  Sprite* sprite = box_sprite(4, 4);
  for (const Row& row : rows) {
    friction = row.friction;
    gravity = row.gravity;
    time_step = row.time_step;
    Particle* particle = emit(1, sprite, 10, 20, row.accel_x, row.accel_y, row.vel_x, row.vel_y, 5, 0, -1, row.options);
    process();
    double handle = platform::address_of(particle);
    EXPECT_EQ(run_function("particlevelx", {handle}), row.expected_vel_x) << row.what;
    EXPECT_EQ(run_function("particlevely", {handle}), row.expected_vel_y) << row.what;
    EXPECT_EQ(run_function("particlex", {handle}), row.expected_x) << row.what;
    EXPECT_EQ(run_function("particley", {handle}), row.expected_y) << row.what;
    particles_clear(0);
  }
}

TEST_F(Particles, OutsideTheGameLoopAPassIsOneStep) {
  reset_game_links();
  Particle* particle = emit(1, box_sprite(4, 4), 10, 20, 0, 0, 2.5, -1, 5, 0, -1);
  process();
  EXPECT_EQ(particle->x, 12.5);
  EXPECT_EQ(particle->y, 19);
}

TEST_F(Particles, AnotherSystemNeitherMovesNorAgesButItsDeletedAreFreed) {
  Sprite* sprite = box_sprite(4, 4);
  Particle* other = emit(5, sprite, 0, 0, 0, 0, 1, 1, 10, 0, 100);
  Particle* deleted = emit(5, sprite, 0, 0, 0, 0, 1, 1, 10, 0, 100);
  Particle* mine = emit(3, sprite, 0, 0, 0, 0, 1, 1, 10, 0, 100);
  run("delparticle", {double(platform::address_of(deleted))});
  EXPECT_EQ(count(5), 2) << "a marked particle counts until a pass frees it";
  process(3);
  EXPECT_EQ(other->x, 0);
  EXPECT_EQ(other->cycle, 0);
  EXPECT_EQ(other->alpha, 100);
  EXPECT_FALSE(particle_is_live(deleted));
  EXPECT_EQ(mine->x, 1);
  EXPECT_EQ(mine->cycle, 1);
  EXPECT_TRUE(game_events.empty());
}

TEST_F(Particles, ALoopReturnsToTheStartThatSetparticleGave) {
  Particle* particle = emit(1, box_sprite(4, 4, 0xFFFF, 2, 5), 10.7, 20.2, 0.5, 0, 1, 2, 2, 1, -1);
  EXPECT_EQ(particle->x, 10) << "the position is taken as whole pixels";
  EXPECT_EQ(particle->vel_x, 1) << "the velocity is kept as given";
  double handle = platform::address_of(particle);
  run("setparticle", {handle, 50, 60, -1, -1, -1});
  EXPECT_EQ(particle->x, 10) << "setparticle leaves the current position";
  process();
  process();
  EXPECT_EQ(particle->x, 50);
  EXPECT_EQ(particle->y, 60);
  EXPECT_EQ(particle->vel_x, 1);
  EXPECT_EQ(particle->vel_y, 2);
  EXPECT_EQ(particle->frame, 2) << "the first frame of the sprite";
  EXPECT_EQ(particle->cycle, 0);

  run("setparticle", {handle, -1, -1, 2, -1, 50});
  EXPECT_EQ(particle->start_x, 50);
  EXPECT_EQ(particle->accel_x, 2);
  EXPECT_EQ(particle->accel_y, 0);
  EXPECT_EQ(particle->max_cycle, 50);
}

TEST_F(Particles, FramesAdvanceByTheSpritesSpeedAndWrap) {
  Sprite* sprite = box_sprite(4, 4, 0xFFFF, 1, 3);
  sprite->anim_speed = 20;
  Particle* particle = emit(1, sprite, 0, 0, 0, 0, 0, 0, 100, 0, -1);
  std::vector<int32_t> frames;
  for (int32_t pass = 0; pass < 8; ++pass) {
    platform::clock_advance_microseconds(10000);
    process();
    frames.push_back(particle->frame);
  }
  // 10 ms a pass, a frame every 20 ms; after the last frame (3) comes the first (1).
  EXPECT_EQ(frames, (std::vector<int32_t>{0, 1, 1, 2, 2, 3, 3, 1}));
}

TEST_F(Particles, AFrameSetBeyondTheLastGoesBackToTheFirst) {
  struct Row {
    const char* what;
    int32_t set, expected;
  };
  const Row rows[] = {
      {"a frame before the last counts on", 2, 3},
      {"the last frame goes back to the first", 3, 1},
      {"a frame beyond the last goes back to the first", 7, 1},
      {"a frame at the int limit goes back to the first", INT32_MAX, 1},
      {"a frame below the first counts on", INT32_MIN, INT32_MIN + 1},
  };
  Sprite* sprite = box_sprite(4, 4, 0xFFFF, 1, 3);
  sprite->anim_speed = 20;
  for (const Row& row : rows) {
    Particle* particle = emit(1, sprite, 0, 0, 0, 0, 0, 0, 100, 0, -1);
    ASSERT_NE(particle, nullptr) << row.what;
    run("setparticleindex", {double(platform::address_of(particle)), double(row.set)});
    ASSERT_EQ(particle->frame, row.set) << row.what;
    platform::clock_advance_microseconds(20000);
    process();
    EXPECT_EQ(particle->frame, row.expected) << row.what;
    particles_clear(0);
  }
}

TEST_F(Particles, NewparticleArgumentsAndRefusals) {
  Sprite* sprite = box_sprite(4, 4);
  crt::srand(7);
  Particle* particle = emit(1, sprite, 0, 0, 0, 0, 0, 0, 40, 0, 100, 0);
  EXPECT_EQ(particle->cycle, 0);
  crt::srand(7);
  double handle = run_function("newparticle", {1, double(platform::address_of(sprite)), 0, 0, 0, 0, 0, 0, 40, 0, 100,
                                               1, 0});
  particle = platform::pointer_from<Particle>(static_cast<uint32_t>(handle));
  // The device's generator from seed 7: state 7 * 214013 + 2531011 = 4029102, (state >> 16) & 0x7FFF = 61.
  int32_t expected_cycle = int32_t(61 * (1.0 / 32768) * 40);
  EXPECT_EQ(particle->cycle, expected_cycle);
  EXPECT_EQ(particle->alpha, int32_t(double(40 - expected_cycle) / 40 * 100));

  unsigned errors = runtime_error_count();
  for (int32_t random_start : {0, 1}) {
    int32_t alpha = random_start ? -1 : 255;
    EXPECT_EQ(run_function("newparticle", {1, double(platform::address_of(sprite)), 0, 0, 0, 0, 0, 0, 0, 0,
                                           double(alpha), double(random_start), 0}),
              0)
        << "a max cycle of 0 with " << (random_start ? "a random start" : "a fading alpha");
  }
  EXPECT_EQ(runtime_error_count(), errors + 2);
  EXPECT_EQ(count(), 2);
}

TEST_F(Particles, PropertiesReadBackAsTheirKind) {
  Particle* particle = emit(1, box_sprite(4, 4), 0, 0, 0, 0, 0, 0, 10, 0, -1);
  Sprite* other_sprite = box_sprite(2, 2);
  double handle = platform::address_of(particle);
  struct Row {
    const char* getter;
    const char* setter;
    double value, expected;
  };
  const Row rows[] = {
      {"particlex", "setparticlex", 3.75, 3.75},
      {"particley", "setparticley", -2.5, -2.5},
      {"particlevelx", "setparticlevelx", 0.125, 0.125},
      {"particlevely", "setparticlevely", -7.5, -7.5},
      {"particleaccx", "setparticleaccx", 0.0625, 0.0625},
      {"particleaccy", "setparticleaccy", -0.25, -0.25},
      {"particlecycle", "setparticlecycle", 3.9, 3},
      {"particlemaxcycle", "setparticlemaxcycle", 77.2, 77},
      {"particleindex", "setparticleindex", 2, 2},
      {"particleloop", "setparticleloop", 1, 1},
      {"particlealpha", "setparticlealpha", 128.6, 128},
      {"particleangle", "setparticleangle", -45.5, -45},
      {"particlesprite", "setparticlesprite", double(platform::address_of(other_sprite)),
       double(platform::address_of(other_sprite))},
      {"particleoptions", "setparticleoptions", 4096, 4096},
      {"particleoptions", "setparticleoptions", 4294967296.0 * 3 + 16, 4294967296.0 * 3 + 16},
  };
  for (const Row& row : rows) {
    run(row.setter, {handle, row.value});
    EXPECT_EQ(run_function(row.getter, {handle}), row.expected) << row.getter;
  }
  run("setparticlecollide", {handle, 9});
  EXPECT_EQ(particle->collide_system, 9);
}

TEST_F(Particles, HandlesOfNoParticleAreRefused) {
  Particle* particle = emit(1, box_sprite(4, 4), 0, 0, 0, 0, 0, 0, 10, 0, -1);
  double freed = platform::address_of(particle);
  particles_clear(0);
  unsigned errors = runtime_error_count();
  EXPECT_EQ(run_function("particlex", {freed}), 0);
  run("setparticlex", {freed, 5});
  run("delparticle", {freed});
  run("setparticle", {12345, 1, 1, 1, 1, 1});
  EXPECT_EQ(run_function("particleoptions", {0}), 0);
  EXPECT_EQ(runtime_error_count(), errors + 5);
}

TEST_F(Particles, CountAndListBySystem) {
  Sprite* sprite = box_sprite(4, 4);
  Particle* a = emit(7, sprite, 0, 0, 0, 0, 0, 0, 10, 0, -1);
  emit(2, sprite, 0, 0, 0, 0, 0, 0, 10, 0, -1);
  Particle* c = emit(7, sprite, 0, 0, 0, 0, 0, 0, 10, 0, -1);
  EXPECT_EQ(count(0), 3);
  EXPECT_EQ(count(7), 2);
  EXPECT_EQ(count(3), 0);

  Variable* list = make_variable(locals, "L$", nullptr);
  push_variable(list);
  push(7);
  call("particles");
  EXPECT_EQ(pop_number(), 2);
  ASSERT_TRUE(list->flags & kVariableList);
  std::vector<double> handles;
  for (ListElement* element = list->cursor; element; element = element->next) handles.push_back(element->number);
  EXPECT_EQ(handles, (std::vector<double>{double(platform::address_of(c)), double(platform::address_of(a))}))
      << "newest first";
  EXPECT_EQ(list->number, double(platform::address_of(c))) << "the first element is loaded";

  push_variable(list);
  push(3);
  call("particles");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(list->cursor, nullptr);

  run("clearparticles", {7});
  EXPECT_EQ(count(0), 1);
}

TEST_F(Particles, TheGameloopSwitches) {
  run("gameparticles", {0, 1});
  EXPECT_EQ(particles_auto_process, 0);
  EXPECT_EQ(particles_auto_draw, 1);
  run("gameparticles", {1, 0});
  EXPECT_EQ(particles_auto_process, 1);
  EXPECT_EQ(particles_auto_draw, 0);
}

// ---- Events ----

constexpr int32_t kCollide = 0x100, kAsk = 0x1000, kLifeEnd = 0x10000;

uint32_t handle_of(const Particle* particle) { return platform::address_of(particle); }

TEST_F(Particles, CollisionAndLifeEndEventsCarryTheParticles) {
  Sprite* sprite = box_sprite(4, 4);
  Particle* target = emit(2, sprite, 2, 2, 0, 0, 0, 0, 5, 0, -1);
  Particle* far = emit(2, sprite, 50, 50, 0, 0, 0, 0, 5, 0, -1);
  Particle* mover = emit(1, sprite, 0, 0, 0, 0, 0, 0, 2, 0, -1, kCollide | kLifeEnd);
  run("setparticlecollide", {double(handle_of(mover)), 2});
  process(1);
  process(1);
  EXPECT_EQ(game_events, (std::vector<GameEvent>{{1028, handle_of(mover), handle_of(target)},
                                                  {1028, handle_of(mover), handle_of(target)},
                                                  {1030, handle_of(mover), 0}}));
  EXPECT_FALSE(particle_is_live(mover));
  EXPECT_TRUE(particle_is_live(far));
}

TEST_F(Particles, ACollisionNeedsAnotherParticleOfTheCollideSystem) {
  Sprite* sprite = box_sprite(4, 4);
  struct Row {
    const char* what;
    bool second;
    double second_x;
    int32_t options;
    size_t expected_events;
  };
  const Row rows[] = {
      {"alone in its own system: it does not hit itself", false, 0, kCollide, 0},
      {"two of the same system hit each other", true, 1, kCollide, 2},
      {"boxes that only touch do not meet", true, 4, kCollide, 0},
      {"without the event option a hit is silent", true, 1, 0, 0},
  };
  for (const Row& row : rows) {
    Particle* first = emit(1, sprite, 0, 0, 0, 0, 0, 0, 5, 0, -1, row.options);
    run("setparticlecollide", {double(handle_of(first)), 1});
    if (row.second) {
      Particle* second = emit(1, sprite, row.second_x, 0, 0, 0, 0, 0, 5, 0, -1, row.options);
      run("setparticlecollide", {double(handle_of(second)), 1});
    }
    game_events.clear();
    process();
    EXPECT_EQ(game_events.size(), row.expected_events) << row.what;
    particles_clear(0);
  }
}

TEST_F(Particles, PixelExactParticlesCollideWhereTheirMasksMeet) {
  Sprite* sprite = box_sprite(8, 8);
  sprite->options |= kOptionPixelExact;
  // Only the top-left pixel is solid.
  sprite->frame_masks[0] = mask_create(8, 8);
  mask_set_pixel(sprite->frame_masks[0], 0, 0);
  struct Row {
    const char* what;
    double x, y;
    size_t expected_events;
  };
  const Row rows[] = {
      {"boxes meet, solid pixels do not", 3, 3, 0},
      {"solid pixels meet", 0, 0, 1},
  };
  for (const Row& row : rows) {
    Particle* target = emit(2, sprite, row.x, row.y, 0, 0, 0, 0, 5, 0, -1);
    Particle* mover = emit(1, sprite, 0, 0, 0, 0, 0, 0, 5, 0, -1, kCollide);
    mover->collide_system = 2;
    game_events.clear();
    process(1);
    EXPECT_EQ(game_events.size(), row.expected_events) << row.what;
    if (row.expected_events) {
      EXPECT_EQ(game_events[0], (GameEvent{1028, handle_of(mover), handle_of(target)}));
    }
    particles_clear(0);
  }
}

TEST_F(Particles, RemovalIsAskedAndMayBeRefusedForOnePass) {
  Particle* particle = emit(1, box_sprite(4, 4), 0, 0, 0, 0, 0, 0, 1, 0, -1, kAsk | kLifeEnd);
  game_event_reaction = [](const GameEvent& event) { return event.message == 1029 ? 0 : 1; };
  process();
  EXPECT_EQ(game_events,
            (std::vector<GameEvent>{{1030, handle_of(particle), 0}, {1029, handle_of(particle), 0}}));
  EXPECT_TRUE(particle_is_live(particle)) << "kept by the answer 0";
  EXPECT_EQ(count(), 1);
  process();
  EXPECT_EQ(game_events.size(), 2u) << "the next pass frees it without asking";
  EXPECT_EQ(count(), 0);

  Particle* kept = emit(1, box_sprite(4, 4), 0, 0, 0, 0, 0, 0, 5, 0, -1, kAsk);
  Particle* freed = emit(1, box_sprite(4, 4), 0, 0, 0, 0, 0, 0, 5, 0, -1, kAsk);
  game_event_reaction = [kept](const GameEvent& event) { return event.first == handle_of(kept) ? 0 : 2; };
  game_events.clear();
  run("clearparticles", {0});
  EXPECT_EQ(game_events.size(), 2u);
  EXPECT_TRUE(particle_is_live(kept));
  EXPECT_FALSE(particle_is_live(freed));
}

TEST_F(Particles, FreedSpritesTakeTheirParticles) {
  Sprite* sprite = box_sprite(4, 4);
  Sprite* marked = box_sprite(4, 4);
  emit(1, sprite, 0, 0, 0, 0, 0, 0, 5, 0, -1);
  emit(1, marked, 0, 0, 0, 0, 0, 0, 5, 0, -1, 0x10);
  destroy_sprite(sprite);
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(marked->deleted, 0);
  particles_clear(0);
  EXPECT_EQ(marked->deleted, 1) << "freeing a particle with option 0x10 marks its sprite";
}

// Script code run by an event may clear the particles, flush the sprite a particle shows
// or start another pass: the walk it interrupted must go on safely.
TEST_F(Particles, EventsMayFreeParticlesAndSpritesInTheMiddleOfAWalk) {
  struct Row {
    const char* what;
    int32_t on_message;
    std::function<void(const GameEvent&)> action;
    int32_t expected_count;  // after the pass; -1: not checked
  };
  const Row rows[] = {
      {"clearparticles from a collision event", 1028, [](const GameEvent&) { particles_clear(0); }, 0},
      {"clearparticles from a life-end event", 1030, [](const GameEvent&) { particles_clear(0); }, 0},
      {"clearparticles from a removal event", 1029, [](const GameEvent&) { particles_clear(0); }, 0},
      {"the event flushes the sprite of its particle", 1028,
       [](const GameEvent& event) { destroy_sprite(platform::pointer_from<Particle>(event.first)->sprite); }, -1},
      {"the event flushes the sprite of the particle hit", 1028,
       [](const GameEvent& event) { destroy_sprite(platform::pointer_from<Particle>(event.second)->sprite); }, -1},
      {"the event frees every sprite", 1030, [](const GameEvent&) { destroy_all_sprites(); }, 0},
      {"a pass inside the pass", 1028, [](const GameEvent&) { particles_process(0); }, -1},
      {"the next particle deleted by the event", 1030,
       [](const GameEvent& event) {
         Particle* next = platform::pointer_from<Particle>(event.first)->next;
         if (next) particle_free(next);
       },
       -1},
  };
  for (const Row& row : rows) {
    std::vector<Sprite*> sprites;
    for (int32_t index = 0; index < 6; ++index) {
      sprites.push_back(box_sprite(4, 4));
      Particle* particle =
          emit(1, sprites.back(), index % 2, 0, 0, 0, 0, 0, 1 + index % 2, 0, -1, kCollide | kAsk | kLifeEnd);
      particle->collide_system = 1;
    }
    int32_t calls = 0;
    game_event_reaction = [&](const GameEvent& event) {
      if (event.message == row.on_message && calls++ < 3) row.action(event);
      return 1;
    };
    process();
    EXPECT_TRUE(list_is_sound()) << row.what;
    if (row.expected_count >= 0) EXPECT_EQ(count(), row.expected_count) << row.what;
    process();
    process();
    EXPECT_TRUE(list_is_sound()) << row.what;
    EXPECT_EQ(count(), 0) << row.what << ": every life has ended";
    game_event_reaction = nullptr;
    particles_clear(0);
    destroy_all_sprites();
  }
}

// ---- An emitter against an independent simulation ----

struct ReferenceCase {
  std::string name;
  double friction, gravity, time_step, origin_x, origin_y;
  int32_t passes;
  std::multimap<int32_t, std::vector<double>> emissions;  // by pass
  std::vector<std::vector<double>> particles;             // system x y vx vy cycle alpha frame
  std::vector<std::string> rows;
};

struct ReferenceSprite {
  int32_t width, height, colour, first, last;
};

TEST_F(Particles, AnEmittersFramesMatchAnIndependentSimulation) {
  std::ifstream file(ZRK_TEST_BINARY_DIR "/particle_reference.txt");
  ASSERT_TRUE(file) << "particle_reference.txt was not generated";
  std::vector<ReferenceSprite> sprite_rows;
  std::vector<ReferenceCase> cases;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    if (kind == "sprite") {
      int32_t index;
      ReferenceSprite row{};
      in >> index >> row.width >> row.height >> row.colour >> row.first >> row.last;
      sprite_rows.push_back(row);
    } else if (kind == "case") {
      ReferenceCase reference;
      in >> reference.name >> reference.friction >> reference.gravity >> reference.time_step >> reference.origin_x >>
          reference.origin_y >> reference.passes;
      cases.push_back(reference);
    } else if (kind == "emit") {
      int32_t pass;
      in >> pass;
      std::vector<double> values;
      for (double value; in >> value;) values.push_back(value);
      cases.back().emissions.emplace(pass, values);
    } else if (kind == "particle") {
      std::vector<double> values;
      for (double value; in >> value;) values.push_back(value);
      cases.back().particles.push_back(values);
    } else if (kind == "row") {
      std::string row;
      in >> row;
      cases.back().rows.push_back(row);
    }
  }
  ASSERT_EQ(cases.size(), 2u);

  for (const ReferenceCase& reference : cases) {
    std::vector<Sprite*> sprites;
    for (const ReferenceSprite& row : sprite_rows) {
      sprites.push_back(box_sprite(row.width, row.height, uint16_t(row.colour), row.first, row.last));
    }
    friction = reference.friction;
    gravity = reference.gravity;
    time_step = reference.time_step;
    game.origin_x = reference.origin_x;
    game.origin_y = reference.origin_y;
    for (int32_t pass = 0; pass < reference.passes; ++pass) {
      auto [first, last] = reference.emissions.equal_range(pass);
      for (auto it = first; it != last; ++it) {
        std::vector<double> arguments = it->second;
        arguments[1] = platform::address_of(sprites[size_t(arguments[1])]);
        for (double value : arguments) push(value);
        call("newparticle");
        ASSERT_NE(pop_number(), 0) << reference.name;
      }
      process();
    }

    std::vector<std::vector<double>> found;
    for (Particle* particle = particle_list; particle; particle = particle->next) {
      found.push_back({double(particle->system), particle->x, particle->y, particle->vel_x, particle->vel_y,
                       double(particle->cycle), double(particle->alpha), double(particle->frame)});
    }
    ASSERT_EQ(found.size(), reference.particles.size()) << reference.name;
    for (size_t index = 0; index < found.size(); ++index) {
      EXPECT_EQ(found[index], reference.particles[index]) << reference.name << ", particle " << index;
    }

    if (reference.name == "opaque") {
      display::canvas_clear(canvas, 0);
      run("renderparticles", {0});
      ASSERT_EQ(reference.rows.size(), size_t(kCanvasHeight));
      int32_t differences = 0;
      for (int32_t y = 0; y < kCanvasHeight; ++y) {
        for (int32_t x = 0; x < kCanvasWidth; ++x) {
          char mark = reference.rows[size_t(y)][size_t(x)];
          uint16_t expected = mark == '.' ? 0 : uint16_t(sprite_rows[size_t(mark - '1')].colour);
          if (pixel(x, y) != expected && differences++ < 5) {
            ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << pixel(x, y) << ", expected " << expected;
          }
        }
      }
      EXPECT_EQ(differences, 0);
    }
    particles_clear(0);
    destroy_all_sprites();
  }
}

}  // namespace
