// What the main loop does when a moved sprite runs into something: the collision event
// (1025) to the game and the sprites, and the automatic response (blocking, momentum,
// bouncing, sliding, the border, resting on what the sprite fell onto).
#pragma once

#include <cstdint>

struct Sprite;

// 1 when the sprite at (x, y) would touch exactly what it touched at its last test (it
// rests), or would reach below the border with option bit 29; else 0.
int32_t contacts_unchanged_at(Sprite* sprite, int32_t x, int32_t y);
// The collision pass and, when the result allows, the border pass for a sprite that moved
// from (px, py). Events may destroy the sprite: callers check before touching it again.
void collide_moved_sprite(Sprite* sprite, int32_t px, int32_t py);
// True while the sprite is in the sprite list and not marked deleted.
bool sprite_alive(const Sprite* sprite);
