// The links to parts that are not wired in yet: each does nothing (or reports that
// nothing was drawn) until its part fills it.
#include "game/pending_links.h"

#include "game/particles.h"
#include "game/paths.h"

void forget_sprite_in_windows(Sprite*) {}

void free_sprite_particles(Sprite* sprite) { particles_free_for_sprite(sprite); }

void free_sprite_paths(Sprite* sprite) { delete_paths_of_sprite(sprite); }
