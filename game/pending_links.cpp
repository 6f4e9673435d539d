// The links to parts that are not wired in yet: each does nothing (or reports that
// nothing was drawn) until its part fills it.
#include "game/pending_links.h"

void forget_sprite_in_windows(Sprite*) {}

void free_sprite_particles(Sprite*) {}

void free_sprite_paths(Sprite*) {}

bool render_frame_for_mask(Sprite*, const void*, uint16_t*, int32_t, int32_t, int32_t) { return false; }

bool draw_sprite_transformed(Sprite*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, double) { return false; }
