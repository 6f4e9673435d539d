// The game-display seam: the open flag and the shutdown routine the game engine fills.
#include "vm/game_hooks.h"

uint8_t game_display_open = 0;
void (*game_display_shutdown)() = nullptr;

void shut_game_display() {
  if (!game_display_open) return;
  if (game_display_shutdown) game_display_shutdown();
  game_display_open = 0;
}
