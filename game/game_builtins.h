// The game library's built-ins.
#pragma once

// Registers every game built-in by its script name.
void register_game_builtins();
