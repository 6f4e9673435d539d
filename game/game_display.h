// The game display: opening it on a window (g_init), changing its resolution, bringing it
// back to the foreground and closing it, with the orientation's point and key mapping.
#pragma once

#include <cstdint>

#include "display/geometry.h"
#include "platform/platform.h"

struct InstructionNode;

// Opens the display on window: screen size (swapped for orientation 1 or 3), full screen,
// the window canvas and the draw canvas on its back buffer, the state reset for a new
// game. A display still open is shut first. 1 on success, 0 when no display or key map
// could be had.
int32_t open_game_display(HWND window, InstructionNode* game_procedure, int32_t width, int32_t height,
                          int32_t orientation);
// New canvases for another size or orientation (-1 keeps a value); sprites, lists and
// settings stay. 1 / 0 as above.
int32_t change_game_resolution(HWND window, int32_t width, int32_t height, int32_t orientation);
// Destroys the sprites and every game list, presents a last frame and closes the display.
// Safe on a closed display.
void close_game_display();
// Foreground, full-screen size and full-screen mode again.
void resume_game_display(HWND window);
// The shell's full-screen call on the game window: hidden bars for 0, shown otherwise.
void set_game_fullscreen(int32_t flag);

// The orientation in force (the window canvas's rotation), 0 while closed.
int32_t game_orientation();
// A window point in game coordinates for the orientation in force.
display::Point rotate_screen_point(display::Point point);
// A direction key turned with the orientation; other keys unchanged.
uint32_t rotate_direction_key(uint32_t key);

// Presents rect of the game screen (null: the whole screen) and opens the next frame, so
// that drawing between frames always lands in the back buffer.
void present_game_screen(const display::Rect* rect);

// Every built-in of the game display, its frames, its procedures, sprite rendering and
// g_loadfont; and the hooks through which HALT, an error stop and a program's end shut it.
void register_game_display_builtins();
