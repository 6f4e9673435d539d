// The frame counters and switches of the game display and its procedure state, and the
// orientation's point and key mappings.
#include <gtest/gtest.h>

#include "../library/builtin_fixture.h"
#include "display/canvas.h"
#include "display/device_services.h"
#include "game/frame_builtins.h"
#include "game/game_display.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/game_behaviour_builtins.h"
#include "game/particles.h"
#include "game/sprite.h"
#include "vm/game_hooks.h"

namespace {

class GameFrame : public BuiltinTest {
 protected:
  GameFrame() : BuiltinTest(register_game_display_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    game = GameState{};
  }
  void TearDown() override {
    game = GameState{};
    // Registering filled the renderer's hooks: later tests expect them as they were.
    particle_frame_renderer = draw_sprite_frame_plain;
    sprite_renderer_hooks = SpriteRendererHooks{};
    BuiltinTest::TearDown();
  }
  double result(const char* name) {
    call(name);
    return pop_number();
  }
};

TEST_F(GameFrame, AutodrawModesChooseDrawingAndPaintEvent) {
  struct Case {
    int32_t mode;
    uint8_t auto_draw, paint_event;
  } cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 0, 1}, {3, 1, 0}, {5, 1, 1}, {-1, 1, 1}};
  for (const Case& c : cases) {
    push(c.mode);
    call("g_autodraw");
    EXPECT_EQ(game.autodraw_mode, c.mode);
    EXPECT_EQ(game.auto_draw, c.auto_draw) << c.mode;
    EXPECT_EQ(game.paint_event, c.paint_event) << c.mode;
  }
}

TEST_F(GameFrame, FrameRateSpansTheLastSixteenFrames) {
  // Frames 10 ms apart: 16000 until the ring is full, then 16000 / 150.
  for (uint32_t frame = 0; frame < 16; ++frame) {
    count_game_frame(1000 + 10 * frame);
    EXPECT_EQ(result("fps"), 16000) << frame;
  }
  count_game_frame(1160);
  EXPECT_EQ(result("fps"), 16000 / 150);
  EXPECT_EQ(game.frame_counter, 17);
  // Frames in one millisecond count a span of 1.
  for (int32_t frame = 0; frame < 16; ++frame) count_game_frame(5000);
  EXPECT_EQ(result("fps"), 16000);
}

TEST_F(GameFrame, SamplesFeedOnlyRealRatesAndFoldAtAHundred) {
  game.fps = 16000;
  rebuild_fps_text(0);
  EXPECT_EQ(game.fps_sample_count, 0);
  EXPECT_EQ(std::u16string(game.fps_text), u"16000/0/0.00 fps");
  for (int32_t i = 0; i < 100; ++i) {
    game.fps = 10 + i % 2 * 10;  // 10, 20, 10, ...: the mean is 15
    game.step_elapsed_ms = 4;
    rebuild_fps_text(0);
  }
  EXPECT_EQ(game.fps_sample_count, 100);
  EXPECT_EQ(result("avgfps"), 15);
  game.fps = 500;
  rebuild_fps_text(0);
  EXPECT_EQ(game.fps_sample_count, 1);
  EXPECT_EQ(result("avgfps"), 15);
  EXPECT_EQ(result("avgpps"), 4);
}

TEST_F(GameFrame, SpeedKeepsTheSixtyFourBitProduct) {
  game.perf_ticks_per_ms = 1000;
  for (int32_t ms : {5, 0, -1, 2147483647}) {
    push(ms);
    call("g_speed");
    EXPECT_EQ(game.step_period_ticks, int64_t(ms) * 1000) << ms;
  }
}

TEST_F(GameFrame, ResumeReturnsToTheStateLastSet) {
  struct Case {
    int32_t set;
  } cases[] = {{0}, {3}, {7}};
  for (const Case& c : cases) {
    push(c.set);
    call("g_setstate");
    call("g_suspend");
    EXPECT_EQ(result("g_state"), 2);
    game.last_step_ticks = 0;
    call("g_resume");
    EXPECT_EQ(result("g_state"), c.set);
    EXPECT_NE(game.last_step_ticks, 0);
  }
}

TEST_F(GameFrame, OrientationTurnsPointsAndDirectionKeys) {
  display::Canvas window;
  game.window_canvas = &window;
  game.screen_width = 320;
  game.screen_height = 240;
  const uint16_t up = 0x26, down = 0x28, left = 0x25, right = 0x27;
  game.key_map[display::key_up] = up;
  game.key_map[display::key_down] = down;
  game.key_map[display::key_left] = left;
  game.key_map[display::key_right] = right;
  struct Case {
    int32_t mode;
    display::Point point, turned;
    uint32_t keys[5];  // what up, down, left, right and another key become
  } cases[] = {
      {0, {10, 20}, {10, 20}, {up, down, left, right, 13}},
      {1, {10, 20}, {299, 10}, {right, left, up, down, 13}},
      {2, {10, 20}, {309, 219}, {down, up, right, left, 13}},
      {3, {10, 20}, {20, 229}, {left, right, down, up, 13}},
  };
  for (const Case& c : cases) {
    window.parameters.orientation = c.mode;
    display::Point turned = rotate_screen_point(c.point);
    EXPECT_EQ(turned.x, c.turned.x) << c.mode;
    EXPECT_EQ(turned.y, c.turned.y) << c.mode;
    const uint32_t keys[5] = {up, down, left, right, 13};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(rotate_direction_key(keys[i]), c.keys[i]) << c.mode << " key " << i;
  }
  game.window_canvas = nullptr;
}

// A display over a memory frame, counting the frames it shows.
class MemoryDisplay : public display::Display {
 public:
  explicit MemoryDisplay(const display::DisplayParameters& asked) : parameters(asked) {
    frame = display::pixel_buffer_create(240, 320);
    parameters.width = 240;
    parameters.height = 320;
  }
  ~MemoryDisplay() override { delete frame; }
  bool BeginScene() override { return open = true; }
  display::PixelBuffer* GetBackBuffer() override { return open ? frame : nullptr; }
  display::DisplayParameters GetParameters() override { return parameters; }
  void Update(const display::Rect*) override {}
  bool Swap(uint32_t) override {
    if (!open) return false;
    open = false;
    ++shown;
    return true;
  }
  static inline int32_t shown = 0;
  display::DisplayParameters parameters;
  display::PixelBuffer* frame = nullptr;
  bool open = false;
};

class GameDisplayLife : public GameFrame {
 protected:
  void SetUp() override {
    GameFrame::SetUp();
    display::set_display_factory([](HWND, display::DisplayParameters* asked) -> display::Display* {
      return new MemoryDisplay(*asked);
    });
    MemoryDisplay::shown = 0;
  }
  void TearDown() override {
    shut_game_display();
    display::set_display_factory(nullptr);
    GameFrame::TearDown();
  }
  void init(int32_t orientation) {
    for (double argument : {0.0, 0.0, 240.0, 320.0, double(orientation), 5.0, 60.0, 0.0}) push(argument);
    call("g_init");
  }
};

TEST_F(GameDisplayLife, OpeningTurnsTheScreenAndLeavesTheBackBufferDrawable) {
  init(1);
  EXPECT_EQ(game_display_open, 1);
  EXPECT_EQ(game.screen_width, 320);
  EXPECT_EQ(game.screen_height, 240);
  EXPECT_EQ(MemoryDisplay::shown, 1);  // the first, cleared frame
  ASSERT_NE(game.draw_canvas, nullptr);
  ASSERT_NE(game.draw_canvas->target, nullptr);
  EXPECT_NE(game.draw_canvas->target->buffer, nullptr);
  EXPECT_EQ(game.border.right, 320);
  EXPECT_EQ(game.frame_period_ticks, game.perf_ticks_per_ms * 1000 / 60);
}

TEST_F(GameDisplayLife, OpeningAgainShutsTheOpenDisplayFirst) {
  init(0);
  Sprite* old = create_sprite();
  ASSERT_NE(old, nullptr);
  game.paint_proc = reinterpret_cast<InstructionNode*>(16);
  init(0);
  EXPECT_EQ(game.sprite_list_head, nullptr);
  EXPECT_EQ(game.paint_proc, nullptr);
  EXPECT_EQ(MemoryDisplay::shown, 3);  // first frame, last frame of the old display, first frame
  shut_game_display();
  EXPECT_EQ(game_display_open, 0);
  EXPECT_EQ(game.window_canvas, nullptr);
  EXPECT_EQ(game.draw_canvas, nullptr);
  EXPECT_EQ(game.game_window, nullptr);
}

TEST_F(GameDisplayLife, ResolutionMinusOneKeepsSizeAndOrientation) {
  init(1);
  struct Case {
    int32_t width, height, orientation;
    int32_t screen_width, screen_height;
  } cases[] = {{-1, -1, -1, 320, 240}, {-1, -1, -1, 320, 240}, {-1, -1, 0, 240, 320}, {200, -1, 3, 320, 200},
               {-1, 100, -1, 100, 200}};
  for (const Case& c : cases) {
    for (int32_t argument : {c.width, c.height, c.orientation, 0}) push(argument);
    call("g_changeresolution");
    EXPECT_EQ(game.screen_width, c.screen_width) << c.width << "," << c.height << "," << c.orientation;
    EXPECT_EQ(game.screen_height, c.screen_height) << c.width << "," << c.height << "," << c.orientation;
  }
}

}  // namespace
