// Where the sprite code meets parts of the runtime that are not wired in yet: the window
// system (pointer hover, event bindings), particles, paths and the sprite renderer. Each
// function is the one place its caller goes through, so wiring one in touches only it.
#pragma once

#include <cstdint>

struct Sprite;

// Forgets the sprite in the window system: the sprite under the pointer and the event
// bindings registered for the sprite's handle.
void forget_sprite_in_windows(Sprite* sprite);
// Frees the particles bound to the sprite.
void free_sprite_particles(Sprite* sprite);
// Deletes the paths that move the sprite.
void free_sprite_paths(Sprite* sprite);
// Draws frame `frame` of the sprite as the renderer would into pixels (width x height
// RGB565, already cleared to the key) from source; false when no renderer is present.
bool render_frame_for_mask(Sprite* sprite, const void* source, uint16_t* pixels, int32_t width, int32_t height,
                           int32_t frame);
