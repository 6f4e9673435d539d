// The screen the drawing tests draw on: a surface with a canvas over it, cleared to 0,
// made the game's screen size and drawing canvas.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "display/canvas.h"
#include "display/surface.h"
#include "game/game_state.h"

// Makes the width x height screen and its canvas; a fatal failure when either is missing
// (call through ASSERT_NO_FATAL_FAILURE).
inline void open_game_screen(int32_t width, int32_t height, display::Surface*& screen, display::Canvas*& canvas) {
  game.screen_width = width;
  game.screen_height = height;
  screen = display::surface_new(width, height);
  ASSERT_TRUE(screen && screen->buffer);
  canvas = display::canvas_create_for_surface(nullptr, screen);
  ASSERT_TRUE(canvas);
  display::canvas_clear(canvas, 0);
  game.draw_canvas = canvas;
}

// Frees the canvas and the screen (either may be missing).
inline void close_game_screen(display::Surface*& screen, display::Canvas*& canvas) {
  delete canvas;
  display::surface_delete(screen);
  canvas = nullptr;
  screen = nullptr;
}
