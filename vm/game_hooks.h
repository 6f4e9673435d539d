// The two pieces of the game engine that the machine needs before the engine exists:
// whether its display is open, and the routine that shuts it.
#pragma once

#include <cstdint>

// Non-zero while the game display is open; the game engine sets and clears it.
extern uint8_t game_display_open;

// Ends the game display (sprites, particles, draw list, canvas, full screen) and marks it
// closed. The game engine installs it; until then nothing is open and nothing is shut.
extern void (*game_display_shutdown)();

// Shuts the game display when it is open; does nothing otherwise.
void shut_game_display();
