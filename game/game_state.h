// The game library's one set of globals: the lists, the view, the collision grid and the
// change flags that the frame code acts on lazily. The game display fills the rest.
#pragma once

#include <cstdint>

#include "display/pixel_filter.h"
#include "platform/kernel/system_info.h"

namespace display {
struct Canvas;
struct Surface;
}
struct HWND__;
struct InstructionNode;
struct ProgramContext;
struct Sprite;
struct DrawListNode;
struct LayerRecord;
struct GridCellEntry;

constexpr int32_t kSampleRingSize = 100;

struct GameState {
  // Canvases of the open game display; null while it is closed.
  display::Canvas* window_canvas;
  display::Canvas* draw_canvas;
  int32_t screen_width, screen_height;

  // ---- The game display: set by g_init, cleared by its shutdown ----
  HWND__* game_window;
  // The program whose form list holds the game window; it receives the game events.
  ProgramContext* game_program;
  InstructionNode* game_proc;
  InstructionNode* paint_proc;
  // The tiled background, rendered once and copied each frame until it is dirty.
  display::Surface* back_surface;
  int32_t game_state, saved_game_state;
  uint8_t main_loop_mode;
  int32_t autodraw_mode;
  uint8_t auto_draw, paint_event;
  int32_t input_wait_ms;
  // The one filter of sprite effects.
  display::PixelFilter pixel_filter;
  int64_t perf_ticks_per_ms;
  int64_t step_period_ticks;
  int64_t frame_period_ticks;

  // ---- Frames and the frame rate ----
  uint8_t show_fps;
  int32_t fps;
  uint16_t fps_colour;
  char16_t fps_text[64];
  uint64_t fps_text_ms;
  uint64_t last_fps_frame_ms;
  int32_t frame_counter;
  uint32_t frame_times[16];
  // The result of the last event call; 1 at start-up.
  int32_t event_result;

  // ---- Main-loop timing the display opens with ----
  int32_t pps;
  int32_t loop_duration_ms;
  int64_t extra_frame_wait_ticks;
  uint32_t gravity_last_ms, move_last_ms;
  int64_t last_step_ticks, last_frame_ticks;
  int64_t step_elapsed_ms;
  double time_step;
  uint8_t loop_running;
  uint32_t loop_start_ms;
  // Velocity gravity added to the sprite in this logic step; below it a sprite is too
  // slow to bounce.
  double step_gravity;

  Sprite* sprite_list_head;
  Sprite* sprite_list_tail;
  DrawListNode* draw_list_head;
  LayerRecord* layer_list;

  Sprite* back_sprite;
  Sprite* current_render_sprite;

  double origin_x, origin_y;
  RECT view_rect;
  int32_t iso_display;

  uint8_t geometry_dirty;
  uint8_t draw_list_dirty;
  uint8_t draw_order_dirty;
  uint8_t sprite_list_dirty;

  // The collision grid: columns x rows chain heads, row-major.
  GridCellEntry** grid_cells;
  int32_t grid_columns, grid_rows;
  uint32_t grid_cell_size;
  int32_t grid_offset_x, grid_offset_y;
  int32_t grid_half_columns, grid_half_rows;

  // Set only while build_frame_masks draws a frame.
  Sprite* mask_build_sprite;
  // 1 except while a parent positions its children.
  uint8_t children_follow;
  // The axis of the game loop's current movement step: 1 horizontal, else vertical.
  int32_t move_axis;

  int32_t fps_samples[kSampleRingSize];
  int32_t fps_sample_count;
  int32_t step_samples[kSampleRingSize];
  int32_t step_sample_count;

  // World settings the scripts set and the frame code reads.
  uint16_t map_light;  // non-zero makes every sprite fully rendered
  int32_t map_color;   // the colour a frame clears the screen with
  int32_t back_sprite_dirty;
  double gravity, friction;
  // The world border; BORDER$ uses this rectangle as its data.
  RECT border;
  int32_t game_collide;
  // Periods of the main loop's game timer, gravity and velocity phases (ms; -1: every
  // logic step), and when the game timer last fired.
  int32_t game_timer_ms = -1;
  int64_t gravity_period_ms = 5;
  int64_t move_period_ms = 5;
  uint64_t game_timer_last_ms;
  // The hardware key map for the display's orientation.
  uint16_t key_map[16];
};

extern GameState game;

// (trunc origin_x, trunc origin_y) to that plus the screen size.
void update_view_rect();
