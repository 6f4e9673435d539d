// Sprite timers: slots in the order the timers were first set, kills that close the gap,
// the limit of 15, pausing, and the firing pass of the game loop.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "game/sprite_timers.h"
#include "game_builtin_fixture.h"

namespace {

// What the firing pass delivered: (timer id, argument), in order.
std::vector<std::pair<uint32_t, int32_t>> fired;
void record_firing(Sprite*, uint32_t id, int32_t argument) { fired.emplace_back(id, argument); }

class SpriteTimers : public GameBuiltinTest {
 protected:
  void SetUp() override {
    GameBuiltinTest::SetUp();
    sprite = create_sprite();
    ASSERT_NE(sprite, nullptr);
    // Any non-null procedure: the pass only asks whether there is one.
    sprite->proc = reinterpret_cast<InstructionNode*>(sprite);
    fired.clear();
  }
  void TearDown() override {
    sprite->proc = nullptr;
    GameBuiltinTest::TearDown();
  }
  void set_timer(double id, double interval, double argument) {
    push(platform::address_of(sprite));
    push(id);
    push(interval);
    push(argument);
    call("setspritetimer");
  }
  void kill_timer(double id) {
    push(platform::address_of(sprite));
    push(id);
    call("killspritetimer");
  }
  void pause_timer(double id, double paused) {
    push(platform::address_of(sprite));
    push(id);
    push(paused);
    call("pausespritetimer");
  }
  double timer_state(double id) {
    push(platform::address_of(sprite));
    push(id);
    call("spritetimer");
    return pop_number();
  }
  std::vector<uint32_t> slot_ids() const {
    std::vector<uint32_t> ids;
    for (int32_t slot = 0; slot < sprite->timer_count; ++slot) ids.push_back(sprite->timers[slot]->id);
    return ids;
  }
  // Fires whatever is due at now; the ids fired, in order.
  std::vector<uint32_t> pass(uint32_t now) {
    fired.clear();
    // Only a sprite with a procedure gets its timers' events.
    run_sprite_timers(sprite, now, [this](uint32_t id, int32_t argument) {
      if (sprite->proc) record_firing(sprite, id, argument);
      return true;
    });
    std::vector<uint32_t> ids;
    for (auto& [id, argument] : fired) ids.push_back(id);
    return ids;
  }

  Sprite* sprite = nullptr;
};

TEST_F(SpriteTimers, AKillClosesTheGapAndTheOrderStays) {
  set_timer(10, 0, 100);
  set_timer(20, 0, 200);
  set_timer(30, 0, 300);
  EXPECT_EQ(slot_ids(), (std::vector<uint32_t>{10, 20, 30}));
  kill_timer(20);
  EXPECT_EQ(sprite->timer_count, 2);
  EXPECT_EQ(slot_ids(), (std::vector<uint32_t>{10, 30}));
  EXPECT_EQ(sprite->timers[2], nullptr);
  // Both survivors still fire, in their order, with their arguments.
  EXPECT_EQ(pass(sprite->timers[0]->start), (std::vector<uint32_t>{10, 30}));
  EXPECT_EQ(fired[1].second, 300);
  // A timer set afterwards takes the third slot.
  set_timer(40, 0, 400);
  EXPECT_EQ(slot_ids(), (std::vector<uint32_t>{10, 30, 40}));
  kill_timer(10);
  kill_timer(99);  // no such timer: nothing
  EXPECT_EQ(slot_ids(), (std::vector<uint32_t>{30, 40}));
  kill_timer(40);
  kill_timer(30);
  EXPECT_EQ(sprite->timer_count, 0);
  kill_timer(30);
  EXPECT_EQ(sprite->timer_count, 0);
}

TEST_F(SpriteTimers, SettingAgainRestartsWithTheNewValuesAndKeepsThePause) {
  set_timer(7, 100, 1);
  pause_timer(7, 3);
  set_timer(7, 250, 2);
  ASSERT_EQ(sprite->timer_count, 1);
  EXPECT_EQ(sprite->timers[0]->interval, 250u);
  EXPECT_EQ(sprite->timers[0]->argument, 2);
  EXPECT_EQ(timer_state(7), 3) << "a paused timer set again stays paused";
  EXPECT_EQ(timer_state(8), 0) << "a timer the sprite does not have reads 0";
}

TEST_F(SpriteTimers, FifteenTimersAndNoMore) {
  for (int id = 1; id <= 15; ++id) set_timer(id, 10, id);
  EXPECT_EQ(sprite->timer_count, 15);
  set_timer(16, 10, 16);
  EXPECT_EQ(sprite->timer_count, 15);
  EXPECT_EQ(timer_state(16), 0);
  // With every slot taken even an existing timer is not restarted.
  SpriteTimer before = *sprite->timers[4];
  set_timer(5, 999, -5);
  EXPECT_EQ(sprite->timers[4]->interval, before.interval);
  EXPECT_EQ(sprite->timers[4]->argument, before.argument);
  // One kill makes room again.
  kill_timer(1);
  set_timer(16, 10, 16);
  EXPECT_EQ(sprite->timer_count, 15);
  EXPECT_EQ(sprite->timers[14]->id, 16u);
}

TEST_F(SpriteTimers, TheFiringPass) {
  set_timer(1, 0, 11);   // fires on every pass
  set_timer(2, 50, 22);  // every 50 ms
  uint32_t start = sprite->timers[1]->start;
  EXPECT_EQ(pass(start), (std::vector<uint32_t>{1}));
  EXPECT_EQ(pass(start + 49), (std::vector<uint32_t>{1}));
  EXPECT_EQ(pass(start + 50), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(sprite->timers[1]->start, start + 50) << "firing restarts the interval";
  EXPECT_EQ(pass(start + 60), (std::vector<uint32_t>{1}));

  // Paused timers do not fire; resumed, one fires once its interval passed since its start.
  pause_timer(1, 1);
  pause_timer(2, 1);
  EXPECT_EQ(pass(start + 200), (std::vector<uint32_t>{}));
  pause_timer(2, 0);
  EXPECT_EQ(pass(start + 200), (std::vector<uint32_t>{2}));

  // The clock wrapping past 2^32 still measures the interval.
  sprite->timers[1]->start = 0xFFFFFFF0u;
  EXPECT_EQ(pass(0x20), (std::vector<uint32_t>{}));
  EXPECT_EQ(pass(0x22), (std::vector<uint32_t>{2}));

  // Without a procedure the timers restart but nothing is delivered.
  sprite->proc = nullptr;
  EXPECT_EQ(pass(0x22 + 50), (std::vector<uint32_t>{}));
  EXPECT_EQ(sprite->timers[1]->start, 0x22u + 50);
}

TEST_F(SpriteTimers, IdsAndIntervalsAreUnsigned) {
  set_timer(-1, -1, -7);
  ASSERT_EQ(sprite->timer_count, 1);
  EXPECT_EQ(sprite->timers[0]->id, 0xFFFFFFFFu);
  EXPECT_EQ(sprite->timers[0]->interval, 0xFFFFFFFFu);
  EXPECT_EQ(sprite->timers[0]->argument, -7);
  pause_timer(4294967295.0, 9);
  EXPECT_EQ(timer_state(-1), 9);
}

}  // namespace
