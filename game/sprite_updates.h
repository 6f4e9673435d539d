// The steps every sprite property built-in runs after it changes a field, so the screen
// rectangle, collision masks, grid cells, full-render flag and the game's dirty flags
// stay in step; and the frame strip shared by every picture loader.
#pragma once

#include <cstdint>

struct Sprite;

// Picks the plain blit (full_render 0) when nothing about the sprite needs the
// transforming renderer, else the renderer (1).
void update_full_render(Sprite* sprite);
// Recomputes the screen rectangle and marks the draw list when the sprite entered or left
// the view (always in isometric display).
void update_sprite_placement(Sprite* sprite);
// The view part of the placement update: marks the draw list and geometry when being in
// view and being listed differ.
void note_sprite_view_change(Sprite* sprite);
// Frees the frame masks and builds them again when the sprite collides by its masks.
void refresh_sprite_masks(Sprite* sprite);
// Builds the frame masks when the sprite collides by them.
void build_masks_when_used(Sprite* sprite);
// Takes the sprite out of the collision grid and enters it again when it belongs there.
void reenter_sprite_in_grid(Sprite* sprite);

// A frame count as the loaders take it: 1..512.
int32_t clamp_frame_count(int32_t frames);
// Cuts the sprite's surface into count frames side by side (count already clamped) and
// sizes the sprite to one frame.
void cut_frame_strip(Sprite* sprite, int32_t count);
