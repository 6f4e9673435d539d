// The sprite built-ins: creation, pictures and frames; placement and appearance; queries
// and tint.
#pragma once

// Each registers its built-ins by their script names.
void register_sprite_creation_builtins();
void register_sprite_placement_builtins();
void register_sprite_query_builtins();
