// The game's geometric questions about sprites: hit tests by point and rectangle,
// collision queries through the grid, the published contact details, and the velocity
// response when sprites meet.
#pragma once

#include <cstdint>

#include "game/draw_list.h"

struct ListElement;
struct Sprite;
struct Variable;

// One result of a collision query. A sprite hit: a, b = contact point relative to the
// other sprite's collision rectangle, c = d = 0. A region: sprite null, a..d its rectangle.
using CollisionHit = DrawListNode;

// walk 0 walks the sprite list, any other value the draw list. The last sprite in walk
// order that passes, or null.
Sprite* find_sprite_at_point(int32_t x, int32_t y, int32_t walk);
Sprite* find_sprite_in_rect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t walk);
// One list element per passing sprite in walk order, its number the sprite handle; the
// element appended last (linked back to the first), or null.
ListElement* list_sprites_at_point(int32_t x, int32_t y, int32_t walk);
ListElement* list_sprites_in_rect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t walk);

// Each returns the caller's list of hits (free it with node_list_free), or null. With
// first_only the query stops at the first hit.
// Over the cells the sprite occupies, with its own collision rectangle.
CollisionHit* collect_grid_collisions(Sprite* sprite, uint8_t first_only);
// As if the sprite's collision rectangle stood at (x, y).
CollisionHit* collisions_at_position(Sprite* sprite, int32_t x, int32_t y, uint8_t first_only);
// With the given rectangle in place of the sprite's collision rectangle.
CollisionHit* collisions_in_rect(Sprite* sprite, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                 uint8_t first_only);

// Writes side, angle, x and y of a contact into T_COLLIDE% (first) and S_COLLIDE%
// (second, or the region (x, y, right, bottom) when second is null).
void publish_collision_details(Sprite* first, Sprite* second, int32_t x, int32_t y, int32_t right, int32_t bottom);
// Writes the four words into a variable holding a block of at least 16 bytes; a variable
// without such a block is left alone.
void write_collision_words(Variable* variable, int32_t side, int32_t angle, int32_t x, int32_t y);

// axes: 0 both, 1 x only, 2 y only; b may be null.
void damp_velocities(Sprite* a, Sprite* b, int32_t axes);
void bounce_sprites(Sprite* a, Sprite* b, int32_t axes);
// The elastic collision of two discs along the line of their centres, then damping.
void collide_with_mass(Sprite* a, Sprite* b);
