// Registration of every game built-in.
#include "game/game_builtins.h"

#include "game/collision_builtins.h"
#include "game/game_behaviour_builtins.h"
#include "game/game_math.h"
#include "game/geometry_builtins.h"
#include "game/sprite_builtins.h"

void register_game_builtins() {
  // Start-up registers the built-ins before any script runs: the tables are built then.
  build_cosine_table_256();
  build_cosine_table_degrees();
  register_geometry_builtins();
  register_collision_builtins();
  register_sprite_creation_builtins();
  register_sprite_placement_builtins();
  register_sprite_query_builtins();
  register_game_behaviour_builtins();
}
