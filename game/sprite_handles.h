// Sprite handles as scripts pass them, and the shared steps that keep a sprite's derived
// state in line after a built-in changed one of its fields.
#pragma once

#include <cstdint>

struct Sprite;
struct Variable;

// The live sprite at that address, or null for 0 and for any number that is no sprite of
// the list (a destroyed sprite, another kind of handle): scripts hand in any number.
Sprite* live_sprite(uint32_t handle);
// Pops a sprite handle argument and gives live_sprite of it.
Sprite* pop_live_sprite();

// Chooses between the plain blit (full_render 0) and the transforming renderer (1).
void sprite_full_render_test(Sprite* sprite);
// Frees the per-frame collision masks and rebuilds them when an option asks for masks.
void sprite_refresh_masks(Sprite* sprite);
// Takes the sprite out of the collision grid and enters it again when it belongs there.
void sprite_grid_reregister(Sprite* sprite);
