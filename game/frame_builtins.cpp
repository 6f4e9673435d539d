// The frame built-ins: one-call frames (g_draw), the scene pair, the frame-rate text and
// its counters, and the switches that shape a frame.
#include "game/frame_builtins.h"

#include "display/canvas.h"
#include "display/device_services.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/draw_list.h"
#include "game/game_display.h"
#include "game/game_drawing.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/particles.h"
#include "game/sprite_geometry.h"
#include "game/sprite_render.h"
#include "gui/event_bindings.h"
#include "gui/script_calls.h"
#include "platform/kernel/wide_string.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

// Adds a sample; a full ring folds into its mean, which starts it again.
void add_sample(int32_t* ring, int32_t* count, int32_t sample, int32_t (*average)()) {
  if (*count < kSampleRingSize) {
    ring[(*count)++] = sample;
    return;
  }
  ring[0] = average();
  *count = 1;
}

void paint_step() {
  if (game.game_proc == nullptr) return;
  InstructionNode* procedure = game.paint_proc ? game.paint_proc : game.game_proc;
  int32_t window = window_number(game.game_window);
  game.event_result = run_script_procedure(game.game_program ? game.game_program : current_program, procedure,
                                           window, 15, 0, 0);
  if (event_bindings && game.event_result != 0) {
    game.event_result = dispatch_window_event(game.game_window, 15, 0, 0);
  }
}

// The frame-rate text in the VGA font, with a shadow, at the bottom left.
void draw_fps_text() {
  const VgaFont* font = game_drawing.vga_font;
  if (game.draw_canvas == nullptr || font == nullptr || font->data == nullptr) return;
  int32_t y = game.screen_height;
  display::canvas_draw_text(game.draw_canvas, font->data, game.fps_text, 0, 1, y - 17, 1, font->width);
  display::canvas_draw_text(game.draw_canvas, font->data, game.fps_text, 0, 0, y - 18, game.fps_colour, font->width);
}

void builtin_g_beginscene() {
  if (game.window_canvas) display::canvas_begin_scene(game.window_canvas);
}

void builtin_g_update() { present_game_screen(nullptr); }

void builtin_g_updaterect() {
  RECT area = pop_rect();
  display::Rect rect{area.left, area.top, area.right, area.bottom};
  present_game_screen(&rect);
}

void builtin_g_draw() { draw_game_frame(); }

void builtin_g_drawfps() {
  draw_fps_text();
  count_game_frame(display::timer_now_ms());
}

void builtin_g_updatefps() { rebuild_fps_text(display::timer_now_ms()); }

void builtin_fps() { push_result(game.fps); }

void builtin_avgfps() { push_result(average_fps_samples()); }

void builtin_avgpps() { push_result(average_step_samples()); }

void builtin_showfps() {
  game.fps_colour = uint16_t(pop_integer() & 0xFFFF);
  game.show_fps = uint8_t(pop_integer());
}

void builtin_g_autodraw() { set_autodraw_mode(pop_integer()); }

void builtin_g_speed() {
  int32_t milliseconds = pop_integer();
  game.step_period_ticks = int64_t(uint64_t(int64_t(milliseconds)) * uint64_t(game.perf_ticks_per_ms));
}

}  // namespace


void set_autodraw_mode(int32_t mode) {
  game.autodraw_mode = mode;
  game.auto_draw = mode == 0 || mode == 2 ? 0 : 1;
  game.paint_event = mode == 0 || mode == 3 ? 0 : 1;
}

void rebuild_fps_text(uint32_t now) {
  game.fps_text_ms = now;
  crt::swprintf(game.fps_text, sizeof game.fps_text / sizeof game.fps_text[0], u"%d/%d/%2.2f fps", game.fps,
                int32_t(game.step_elapsed_ms), game.time_step);
  if (game.fps > 0 && game.fps < 16000) {
    add_sample(game.fps_samples, &game.fps_sample_count, game.fps, average_fps_samples);
    add_sample(game.step_samples, &game.step_sample_count, int32_t(game.step_elapsed_ms), average_step_samples);
  }
}

void count_game_frame(uint32_t now) {
  game.last_fps_frame_ms = now;
  game.frame_times[game.frame_counter & 15] = now;
  uint32_t span = 1;
  if (game.frame_counter > 15) {
    span = now - game.frame_times[(game.frame_counter + 1) & 15];
    if (span == 0) span = 1;
  }
  game.fps = int32_t(16000u / span);
  game.frame_counter += 1;
}

void draw_game_frame() {
  uint32_t now = display::timer_now_ms();
  if (game.draw_list_dirty) {
    refresh_view_bound_sprites();
    update_draw_list();
  }
  if (game.geometry_dirty && game.map_light) light_pass();
  if (game.window_canvas) display::canvas_begin_scene(game.window_canvas);
  if (game.auto_draw && game.draw_canvas) {
    display::canvas_clear(game.draw_canvas, uint16_t(game.map_color));
    if (game.back_sprite) draw_back_sprite();
    render_sprites();
    if (particle_list && particles_auto_draw) particles_draw(0);
  }
  if (game.paint_event) paint_step();
  if (!game.show_fps) {
    present_game_screen(nullptr);
    return;
  }
  if (int64_t(now) - int64_t(game.fps_text_ms) >= 1000) rebuild_fps_text(now);
  draw_fps_text();
  count_game_frame(now);
  present_game_screen(nullptr);
}

void register_frame_builtins() {
  builtin_register("g_beginscene", builtin_g_beginscene);
  builtin_register("g_update", builtin_g_update);
  builtin_register("g_updaterect", builtin_g_updaterect);
  builtin_register("g_draw", builtin_g_draw);
  builtin_register("g_drawfps", builtin_g_drawfps);
  builtin_register("g_updatefps", builtin_g_updatefps);
  builtin_register("fps", builtin_fps);
  builtin_register("avgfps", builtin_avgfps);
  builtin_register("avgpps", builtin_avgpps);
  builtin_register("showfps", builtin_showfps);
  builtin_register("g_autodraw", builtin_g_autodraw);
  builtin_register("g_speed", builtin_g_speed);
}
