// The game display's life: g_init, g_changeresolution and g_shut, the shutdown that HALT,
// an error stop and a program's end also run, and the orientation's mappings.
#include "game/game_display.h"

#include <new>
#include <string>
#include <utility>

#include "compiler/driver/program_end.h"
#include "display/canvas.h"
#include "display/device_services.h"
#include "foundation/file_helpers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/string_helpers.h"
#include "foundation/variable_store.h"
#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_behaviour_builtins.h"
#include "game/game_drawing.h"
#include "game/frame_builtins.h"
#include "game/game_state.h"
#include "game/glyph_fonts.h"
#include "game/layers.h"
#include "game/particles.h"
#include "game/paths.h"
#include "game/sprite.h"
#include "game/sprite_render.h"
#include "gui/screen.h"
#include "gui/script_calls.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/time.h"
#include "platform/shell/shell_windows.h"
#include "platform/user/input.h"
#include "platform/user/window_manager.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/game_hooks.h"
#include "vm/runtime_globals.h"

namespace {

// The window canvas is held like every canvas a window owns.
CanvasHolder window_canvas_holder;

constexpr DWORD kFullScreenHide = 0x2A;  // task bar, input-panel button and start icon hidden
constexpr DWORD kFullScreenShow = 0x15;

int64_t performance_counter() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

display::Rect whole_screen() { return display::Rect{0, 0, game.screen_width, game.screen_height}; }

void destroy_draw_canvas() {
  delete game.draw_canvas;
  game.draw_canvas = nullptr;
}

void destroy_window_canvas() {
  free_owned_canvas(&window_canvas_holder);
  game.window_canvas = nullptr;
  game_drawing.back_buffer = nullptr;
}

// BORDER$ reads and writes the border rectangle itself.
void bind_border_variable() {
  Variable* border = set_variable_by_name("BORDER$", nullptr, 0, nullptr, 0);
  if (border) variable_set_data(border, &game.border, -1, false);
}

void set_number(Variable* variable, double value) {
  if (variable) set_variable(variable, nullptr, value, nullptr, 0);
}

// Steps 4-6 of opening, shared with a change of resolution: the window canvas, the key
// map, the first frame and the draw canvas on its back buffer.
bool make_canvases(HWND window, int32_t orientation) {
  destroy_draw_canvas();
  for (uint16_t& key : game.key_map) key = 0;
  display::DisplayParameters parameters{0, 0, orientation, 1};
  display::Canvas* canvas = display::canvas_create_for_window(window, &parameters);
  if (canvas == nullptr) return false;
  set_owned_canvas(&window_canvas_holder, canvas);
  game.window_canvas = canvas;
  if (!display::build_key_map(game.key_map, orientation)) return false;
  display::Surface* back_buffer = display::canvas_begin_scene(canvas);
  // The back buffer record stays the same from frame to frame even when this first
  // frame gave no pixels, so the draw canvas always targets it.
  if (back_buffer == nullptr) back_buffer = &canvas->back_buffer;
  game_drawing.back_buffer = back_buffer;
  game.draw_canvas = new (std::nothrow) display::Canvas;
  if (game.draw_canvas) display::canvas_init(game.draw_canvas, back_buffer);
  return true;
}

// The first frame of new canvases: the window at its requested size, cleared, shown.
void show_first_frame(HWND window, int32_t width, int32_t height) {
  MoveWindow(window, 0, 0, width, height, FALSE);
  // The window's procedure ran during the move and may have shut the display.
  if (game.window_canvas == nullptr) return;
  display::canvas_begin_scene(game.window_canvas);
  if (game.draw_canvas) display::canvas_clear(game.draw_canvas, uint16_t(game.map_color));
  present_game_screen(nullptr);
}

void reset_view() {
  game.border = RECT{0, 0, game.screen_width, game.screen_height};
  bind_border_variable();
  display::pixel_filter_reset(&game.pixel_filter);
  update_view_rect();
}

void reset_game_state(InstructionNode* game_procedure) {
  game.game_proc = game_procedure;
  // The sprite list is not emptied here: g_init destroyed the sprites it held, and a sprite
  // the window's procedure made while the display opened is the game's. A sprite dropped
  // from the list without being destroyed would stay live but out of reach of the walks
  // that drop every link to a sprite being freed (a child's parent, a clone's source).
  // Such sprites are drawn from a draw list made again for the new view.
  node_list_free(&game.draw_list_head);
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) sprite->draw_node = nullptr;
  game.layer_list = nullptr;
  game.back_sprite = nullptr;
  game.back_surface = nullptr;
  game.origin_x = game.origin_y = 0;
  game.map_light = 0;
  game.map_color = 0;
  game.iso_display = 0;
  game.geometry_dirty = 1;
  game.draw_list_dirty = game.sprite_list_head ? 1 : 0;
  game.sprite_list_dirty = 0;
  game.game_state = game.saved_game_state = 0;
  game.main_loop_mode = 0;
  game.autodraw_mode = game_procedure ? 2 : 1;
  game.auto_draw = game_procedure ? 0 : 1;
  game.paint_event = 1;
  game.input_wait_ms = 0;
  game.step_period_ticks = 5 * game.perf_ticks_per_ms;
  game.frame_period_ticks = int64_t(double(game.perf_ticks_per_ms) * 1000 * 0.016666666666666666);

  int64_t now = performance_counter();
  game.game_timer_ms = -1;
  game.game_timer_last_ms = uint32_t(now);
  game.last_fps_frame_ms = uint64_t(now);
  game.frame_counter = 0;
  game.pps = 0;
  game.fps_sample_count = 0;
  game.loop_duration_ms = -1;
  game.extra_frame_wait_ticks = 0;
  game.gravity_period_ms = game.move_period_ms = 5;
  game.gravity_last_ms = game.move_last_ms = 0;
  game.last_step_ticks = game.last_frame_ticks = now;
  game.loop_running = 0;
  set_number(delta_limit_variable, 10.0);
}

void free_default_font() {
  vga_font_free(game_drawing.vga_font);
  game_drawing.vga_font = nullptr;
}

// The game procedure with the game window as target; 1 (not handled) without one.
int32_t call_game_procedure(int32_t message, uint32_t value1, uint32_t value2) {
  if (game.game_proc == nullptr) return 1;
  ProgramContext* program = game.game_program ? game.game_program : current_program;
  return run_script_procedure(program, game.game_proc, double(platform::address_of(game.game_window)), message, double(value1),
                              double(value2));
}

// Particles are drawn by the sprite renderer: turned, blended and lit like sprites.
void render_particle_frame(Sprite* sprite, int32_t x, int32_t y, int32_t frame, int32_t alpha, double angle) {
  render_sprite_at(sprite, nullptr, x, y, frame, alpha, 0, 0, angle);
}

// ---- Built-ins ----

void builtin_g_init() {
  pop_integer();  // not used
  int32_t frame_rate = pop_integer();
  int32_t steps_limit = pop_integer();
  int32_t orientation = pop_integer();
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  uint32_t procedure_number = pop_address();
  HWND window = platform::pointer_from<HWND__>(pop_address());
  InstructionNode* procedure = script_procedure_from_number(current_program, procedure_number, "g_init");
  // Another kind of handle (a surface, a font, a freed window) has nothing to draw in.
  if (window && !IsWindow(window)) {
    runtime_error("g_init: the handle is not a window");
    return;
  }

  // A display still open goes first, with everything it held; so do the sprites made while
  // none was open, each with its destroy event: the new game starts with no sprite.
  shut_game_display();
  destroy_all_sprites();
  clear_paths();
  open_game_display(window, procedure, width, height, orientation);
  // The window's own procedure runs while the display opens and may destroy the window.
  if (window && !IsWindow(window)) {
    clear_paths();
    close_game_display();
    runtime_error("g_init: the window was destroyed while the display opened");
    return;
  }

  set_number(limit_pps_variable, steps_limit);
  game.step_period_ticks = int64_t(steps_limit) * game.perf_ticks_per_ms;
  game.frame_period_ticks =
      frame_rate == 0 ? 0 : int64_t(double(game.perf_ticks_per_ms) * 1000 / double(frame_rate));

  free_default_font();
  std::string font_path = format_text("%sVgarom.fnt", program_folder ? program_folder : "");
  int32_t size = 0;
  char* data = read_file_to_buffer(font_path.c_str(), &size, -1, -1);
  game_drawing.vga_font = vga_font_from_bytes(reinterpret_cast<const uint8_t*>(data), size > 0 ? uint32_t(size) : 0,
                                              8, 16);
  crt::free(data);
  set_variable_by_name("BUFFER%", nullptr, platform::address_of(game_drawing.back_buffer), nullptr, 0);
}

void builtin_g_changeresolution() {
  pop_integer();  // not used
  int32_t orientation = pop_integer();
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  // Nothing to change before g_init.
  if (game.game_window == nullptr && game.window_canvas == nullptr) return;
  change_game_resolution(game.game_window, width, height, orientation);
  set_variable_by_name("BUFFER%", nullptr, platform::address_of(game_drawing.back_buffer), nullptr, 0);
}

void builtin_g_shut() {
  pop_integer();  // not used
  clear_paths();
  close_game_display();
}

// ---- Hooks of the layers below ----

bool display_is_open() { return game_display_open != 0; }

bool program_owns_game_display(ProgramContext* program) {
  return game_display_open && game.game_program == program;
}

void forget_game_program() { game.game_program = nullptr; }

}  // namespace

int32_t game_orientation() { return game.window_canvas ? game.window_canvas->parameters.orientation : 0; }

void present_game_screen(const display::Rect* rect) {
  if (game.window_canvas == nullptr) return;
  display::Rect whole = whole_screen();
  display::canvas_present(game.window_canvas, rect ? rect : &whole);
  display::canvas_begin_scene(game.window_canvas);
}

int32_t open_game_display(HWND window, InstructionNode* game_procedure, int32_t width, int32_t height,
                          int32_t orientation) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  game.perf_ticks_per_ms = frequency.QuadPart / 1000;
  game.game_program = nullptr;
  find_form_record(window, &game.game_program);
  game.game_window = window;

  game.screen_width = width;
  game.screen_height = height;
  MoveWindow(window, 0, 0, width, height, FALSE);
  if (orientation == 1 || orientation == 3) std::swap(game.screen_width, game.screen_height);

  SHSipPreference(window, 2);
  SHFullScreen(window, kFullScreenHide);
  // Found again after each round of messages: the window's procedure may have destroyed
  // the window, and its form record with it.
  FormRecord* form = find_form_record(window);
  if (form && form->menu_bar) ShowWindow(static_cast<HWND>(form->menu_bar), SW_HIDE);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  if (window && !IsWindow(window)) return 0;

  if (!make_canvases(window, orientation)) return 0;
  game_display_open = 1;
  game_links = GameLinks{&game.friction, &game.gravity, &game.time_step, &game.game_window, call_game_procedure};
  reset_game_state(game_procedure);
  grid_setup(32, 128, 128);
  reset_view();
  show_first_frame(window, width, height);
  return 1;
}

int32_t change_game_resolution(HWND window, int32_t width, int32_t height, int32_t orientation) {
  int32_t current = game_orientation();
  if (orientation == -1) orientation = current;
  // The stored size is the turned one: turn it back before applying a new orientation,
  // so that -1 sizes keep what the script sees.
  int32_t window_width = game.screen_width, window_height = game.screen_height;
  if (current == 1 || current == 3) std::swap(window_width, window_height);
  destroy_draw_canvas();
  destroy_window_canvas();

  if (width != -1) window_width = width;
  if (height != -1) window_height = height;
  game.screen_width = window_width;
  game.screen_height = window_height;
  MoveWindow(window, 0, 0, window_width, window_height, TRUE);
  if (orientation == 1 || orientation == 3) std::swap(game.screen_width, game.screen_height);

  if (!make_canvases(window, orientation)) return 0;
  reset_view();
  show_first_frame(window, window_width, window_height);
  return 1;
}

void close_game_display() {
  destroy_all_sprites();
  free_layer_list();
  grid_free();
  node_list_free(&game.draw_list_head);
  particles_clear(0);
  reset_game_links();

  game.game_proc = game.paint_proc = nullptr;
  game.main_loop_mode = 0;

  if (game_display_open) {
    game_display_open = 0;
    if (game.window_canvas) {
      display::Rect whole = whole_screen();
      display::canvas_present(game.window_canvas, &whole);
    }
  }
  destroy_window_canvas();
  free_default_font();
  destroy_draw_canvas();
  display::surface_delete(game.back_surface);
  game.back_sprite = nullptr;
  game.back_surface = nullptr;

  set_number(bits_per_pixel_variable, 16);
  set_number(frequency_variable, 60);
  if (game.game_window) SHFullScreen(game.game_window, kFullScreenShow);
  game.game_window = nullptr;
}

void resume_game_display(HWND window) {
  SetForegroundWindow(window);
  int32_t width = game.screen_width, height = game.screen_height;
  MoveWindow(window, 0, 0, width, height, FALSE);
  if (game.game_window) SHFullScreen(game.game_window, kFullScreenHide);
}

void set_game_fullscreen(int32_t flag) {
  if (game.game_window) SHFullScreen(game.game_window, flag == 0 ? kFullScreenHide : kFullScreenShow);
}

display::Point rotate_screen_point(display::Point point) {
  switch (game_orientation()) {
    case 1: return {game.screen_width - 1 - point.y, point.x};
    case 2: return {game.screen_width - 1 - point.x, game.screen_height - 1 - point.y};
    case 3: return {point.y, game.screen_height - 1 - point.x};
    default: return point;
  }
}

uint32_t rotate_direction_key(uint32_t key) {
  const uint16_t* map = game.key_map;
  // The four directions in turning order: up, right, down, left.
  const uint32_t ring[4] = {map[display::key_up], map[display::key_right], map[display::key_down],
                            map[display::key_left]};
  int32_t turns = game_orientation() & 3;
  if (turns == 0 || key == 0) return key;
  // Each mode turns a quarter more: 1 takes up to right, 3 up to left.
  for (int32_t i = 0; i < 4; ++i) {
    if (ring[i] == key) return ring[(i + turns) & 3];
  }
  return key;
}

void register_game_procedure_builtins();

void register_game_display_builtins() {
  register_sprite_render_builtins();
  register_frame_builtins();
  register_game_procedure_builtins();
  register_glyph_font_loading_builtins();
  builtin_register("g_init", builtin_g_init);
  builtin_register("g_changeresolution", builtin_g_changeresolution);
  builtin_register("g_shut", builtin_g_shut);
  game_display_shutdown = close_game_display;
  particle_frame_renderer = render_particle_frame;
  sprite_renderer_hooks.light_pass = light_pass;
  sprite_renderer_hooks.render_sprite_at = render_sprite_at;
  runtime_error_services.game_display_open = display_is_open;
  runtime_error_services.shut_game_display = shut_game_display;
  program_end_hooks.owns_game_display = program_owns_game_display;
  program_end_hooks.clear_game_display_owner = forget_game_program;
}
