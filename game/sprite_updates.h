// The placement update of the sprite property built-ins (the screen rectangle and the
// draw list's flags), mask building, and the frame strip shared by every picture loader.
#pragma once

#include <cstdint>

struct Sprite;

// Recomputes the screen rectangle and marks the draw list when the sprite entered or left
// the view (always in isometric display).
void update_sprite_placement(Sprite* sprite);
// The view part of the placement update: marks the draw list and geometry when being in
// view and being listed differ.
void note_sprite_view_change(Sprite* sprite);
// Builds the frame masks when the sprite collides by them.
void build_masks_when_used(Sprite* sprite);

// A frame count as the loaders take it: 1..512.
int32_t clamp_frame_count(int32_t frames);
// Cuts the sprite's surface into count frames side by side (count already clamped) and
// sizes the sprite to one frame.
void cut_frame_strip(Sprite* sprite, int32_t count);
