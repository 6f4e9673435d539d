// Frames a script draws itself: the whole frame of g_draw, the frame counter behind fps
// and the frame-rate text, and the g_autodraw switch. The main loop draws with them too.
#pragma once

#include <cstdint>

// One frame: draw list and light brought up to date, clear, background, sprites and
// particles (auto draw), the paint event, the frame-rate text, present.
void draw_game_frame();
// Counts a frame at now (ms): fps from the span of the last 16 frames.
void count_game_frame(uint32_t now);
// Formats the frame-rate text and feeds the two sample rings.
void rebuild_fps_text(uint32_t now);
// Mode 0: neither drawing nor paint event; 2: paint event only; 3: drawing only; any
// other: both.
void set_autodraw_mode(int32_t mode);

void register_frame_builtins();
