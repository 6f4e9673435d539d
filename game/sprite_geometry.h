// Sprite geometry: the drawn and collision rectangles in world coordinates, children
// following their parent, the sprite's grid cells, and the per-frame collision masks.
#pragma once

#include <cstdint>

#include "platform/kernel/system_info.h"

struct Sprite;

// The sprite's drawn rectangle at (x, y), or at its own position when both are 0. Sets
// drawn_width, drawn_height and screen_collide_rect, moves its children, and keeps its
// grid cells current. Callers store the result in screen_rect.
RECT compute_screen_rect(Sprite* sprite, int32_t x, int32_t y);
// Recomputes screen_rect of every sprite fixed to the screen or scrolled by parallax.
void refresh_view_bound_sprites();
// Rebuilds the collision mask and mask extents of every frame.
void build_frame_masks(Sprite* sprite);
// Frees every frame mask of the sprite.
void free_frame_masks(Sprite* sprite);
