// Script surfaces: creating, freeing, measuring, keying, saving, copying and resizing
// them, redirecting the game's drawing into one, and raw pixel and DC access.
#include <cstdint>
#include <cstring>
#include <new>

#include "display/canvas.h"
#include "display/image_files.h"
#include "display/surface.h"
#include "foundation/address_set.h"
#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "game/game_display.h"
#include "game/game_drawing.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

using display::Surface;

void push_result(double value) { stack_push_number(current_program, value); }

// A surface argument where 0 and a bad handle both mean no surface.
Surface* pop_surface() {
  bool bad = false;
  return pop_surface_handle(&bad);
}

// The records g_lock hands out, so that g_unlock frees only one of them.
AddressSet& live_lock_records() {
  static auto* records = new AddressSet();
  return *records;
}

// 0 stands for the surface the game is drawing into.
Surface* surface_or_target(Surface* surface) {
  if (surface == nullptr && game.draw_canvas) return game.draw_canvas->target;
  return surface;
}

// A new black surface, or null (nothing left behind) when it cannot be had.
Surface* new_black_surface(int32_t width, int32_t height) {
  if (width < 0 || height < 0) return nullptr;
  Surface* surface = display::surface_new(uint32_t(width), uint32_t(height));
  if (surface == nullptr) return nullptr;
  if (surface->buffer == nullptr) {
    display::surface_delete(surface);
    return nullptr;
  }
  // Cleared directly: a blend level in force must not mix with undefined pixels.
  display::PixelBuffer* buffer = surface->buffer;
  std::memset(buffer->pixels, 0, size_t(buffer->pitch) * buffer->height);
  return surface;
}

// Blits source's top-left part (as much as fits) to (0, 0) of target through the draw
// canvas, so its blend level and the source's colour key apply; the previous target
// comes back with its whole area as clip.
void blit_through_draw_canvas(Surface* target, const Surface* source) {
  display::Canvas* canvas = game.draw_canvas;
  if (canvas == nullptr || target->buffer == nullptr || source->buffer == nullptr) return;
  uint32_t width = source->buffer->width < target->buffer->width ? source->buffer->width : target->buffer->width;
  uint32_t height = source->buffer->height < target->buffer->height ? source->buffer->height : target->buffer->height;
  display::Rect part{0, 0, int32_t(width), int32_t(height)};
  Surface* previous = display::canvas_set_target(canvas, target);
  display::canvas_blit_surface(canvas, 0, 0, source, &part);
  display::canvas_set_target(canvas, previous);
}

// Points every sprite reference to old at replacement (null detaches it, and the sprite
// no longer owns it), and moves the draw canvas off a surface about to go.
void replace_surface_references(Surface* old, Surface* replacement) {
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    if (sprite->surface == old) {
      sprite->surface = replacement;
      if (replacement == nullptr) {
        sprite->owns_surface = 0;
        sprite->options &= ~kOptionOwnsSurface;
      }
    }
    if (sprite->alpha_surface == old) {
      sprite->alpha_surface = replacement;
      if (replacement == nullptr) {
        sprite->owns_alpha_surface = 0;
        sprite->options &= ~kOptionOwnsAlphaSurface;
      }
    }
  }
  if (game.draw_canvas && game.draw_canvas->target == old) {
    display::canvas_set_target(game.draw_canvas, replacement ? replacement : game_drawing.back_buffer);
  }
}

void builtin_newsurface() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  Surface* surface = new_black_surface(width, height);
  if (surface && game.draw_canvas) {
    if (game.window_canvas) display::canvas_begin_scene(game.window_canvas);
    // The drawing target stays; its clip goes back to its whole area.
    display::canvas_set_target(game.draw_canvas, game.draw_canvas->target);
  }
  push_result(platform::address_of(surface));
}

void builtin_freesurface() {
  ValueCell* mark;
  if (!stack_take_mark(current_program, &mark)) return;
  while (current_program->stack_top && current_program->stack_top != mark) {
    Surface* surface = pop_surface();
    if (surface == nullptr) continue;
    replace_surface_references(surface, nullptr);
    // The back buffer belongs to the game display.
    if (surface != game_drawing.back_buffer) display::surface_delete(surface);
  }
}

void builtin_surfacewidth() {
  Surface* surface = pop_surface();
  push_result(surface && surface->buffer ? surface->buffer->width : 0);
}

void builtin_surfaceheight() {
  Surface* surface = pop_surface();
  push_result(surface && surface->buffer ? surface->buffer->height : 0);
}

void builtin_colormask() {
  Surface* surface = pop_surface();
  push_result(surface ? surface->colour_key : display::no_colour_key);
}

void builtin_setcolormask() {
  int32_t key = pop_integer();
  Surface* surface = pop_surface();
  if (surface) surface->colour_key = key;
}

void builtin_savesurface() {
  const char* name = pop_narrow_text();
  Surface* surface = pop_surface();
  char16_t* wide = to_wide(name);
  display::surface_save_bmp(surface, wide);
  crt::free(wide);
}

void builtin_copysurface() {
  Surface* target = pop_surface();
  Surface* source = pop_surface();
  if (source && target && source != target) blit_through_draw_canvas(target, source);
}

void builtin_clonesurface() {
  Surface* source = pop_surface();
  Surface* copy = nullptr;
  if (source && source->buffer) {
    copy = new_black_surface(int32_t(source->buffer->width), int32_t(source->buffer->height));
    if (copy) blit_through_draw_canvas(copy, source);
  }
  push_result(platform::address_of(copy));
}

void builtin_resizesurface() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  bool bad = false;
  Surface* old = pop_surface_handle(&bad);
  if (bad) {
    push_result(0);
    return;
  }
  Surface* resized = new_black_surface(width, height);
  if (resized && old) {
    blit_through_draw_canvas(resized, old);
    if (old != game_drawing.back_buffer) {
      // Sprites and the draw canvas follow the picture to its new surface.
      replace_surface_references(old, resized);
      display::surface_delete(old);
    }
  }
  push_result(platform::address_of(resized));
}

void builtin_setrendertarget() {
  bool bad = false;
  Surface* surface = pop_surface_handle(&bad);
  display::Canvas* canvas = game.draw_canvas;
  if (canvas == nullptr || bad) {
    push_result(0);
    return;
  }
  bool screen = surface != nullptr && surface == game_drawing.back_buffer && game.window_canvas;
  if (screen) display::canvas_begin_scene(game.window_canvas);
  Surface* previous = display::canvas_set_target(canvas, surface);
  push_result(platform::address_of(previous));
  // Presenting opens the next frame: the back buffer stays drawable.
  if (screen) present_game_screen(nullptr);
}

// ---- Pixel and device-context access ----

void builtin_g_lock() {
  bool bad = false;
  Surface* surface = surface_or_target(pop_surface_handle(&bad));
  display::SurfaceLock* record = nullptr;
  if (surface && surface->buffer && !bad) {
    record = static_cast<display::SurfaceLock*>(crt::calloc(1, sizeof(display::SurfaceLock)));
    try {
      live_lock_records().insert(record);
    } catch (const std::bad_alloc&) {
      crt::free(record);
      record = nullptr;
    }
    if (record) {
      display::surface_lock(surface, record, 0, nullptr);
      if (memory_tracking) track_allocation(nullptr, 0, record, sizeof(display::SurfaceLock));
    }
  }
  push_result(platform::address_of(record));
}

void builtin_g_unlock() {
  int32_t flag = pop_integer();
  bool bad = false;
  Surface* surface = surface_or_target(pop_surface_handle(&bad));
  auto* record = platform::pointer_from<display::SurfaceLock>(pop_address());
  if (record && live_lock_records().contains(record)) {
    live_lock_records().erase(record);
    if (memory_tracking) untrack_allocation(record);
    crt::free(record);
  }
  if (surface && !bad) display::surface_unlock(surface, flag != 0);
}

void builtin_g_getdc() {
  Surface* surface = pop_surface();
  push_result(surface ? platform::address_of(display::surface_get_dc(surface, 0)) : 0);
}

void builtin_g_releasedc() {
  auto* dc = platform::pointer_from<HDC__>(pop_address());
  Surface* surface = pop_surface();
  if (surface && dc) display::surface_release_dc(surface, dc);
}

// ---- Loading ----

void builtin_loadsurface() {
  int32_t mask = pop_integer();
  const char* name = pop_narrow_text();
  Surface* surface = load_image_surface(name);
  if (surface == nullptr) {
    runtime_error_format(false, "Error loading image %s", name);
  } else if (mask != -1) {
    surface->colour_key = mask;
  }
  push_result(platform::address_of(surface));
}

void builtin_loadsurfacefrommem() {
  int32_t mask = pop_integer();
  uint32_t size = uint32_t(pop_integer());
  uint32_t address = pop_address();
  auto* begin = platform::pointer_from<const uint8_t>(address);
  // A block that would run past the end of the address space is no block at all, nor is
  // one of 2 GB or more: no pointer offset reaches that far.
  bool whole = size <= uint32_t(INT32_MAX) && uint64_t(address) + size <= UINT32_MAX;
  Surface* surface = begin && whole ? load_image_surface_from_memory(begin, begin + size) : nullptr;
  if (surface == nullptr) {
    runtime_error("Error loading image from memory", false);
  } else if (mask != -1) {
    surface->colour_key = mask;
  }
  push_result(platform::address_of(surface));
}

}  // namespace

Surface* pop_surface_handle(bool* bad) {
  auto* surface = platform::pointer_from<Surface>(pop_address());
  if (surface == nullptr || display::surface_is_live(surface)) return surface;
  *bad = true;
  return nullptr;
}

void register_surface_builtins() {
  builtin_register("newsurface", builtin_newsurface);
  builtin_register("freesurface", builtin_freesurface);
  builtin_register("surfacewidth", builtin_surfacewidth);
  builtin_register("surfaceheight", builtin_surfaceheight);
  builtin_register("colormask", builtin_colormask);
  builtin_register("setcolormask", builtin_setcolormask);
  builtin_register("savesurface", builtin_savesurface);
  builtin_register("copysurface", builtin_copysurface);
  builtin_register("clonesurface", builtin_clonesurface);
  builtin_register("resizesurface", builtin_resizesurface);
  builtin_register("setrendertarget", builtin_setrendertarget);
  builtin_register("g_lock", builtin_g_lock);
  builtin_register("g_unlock", builtin_g_unlock);
  builtin_register("g_getdc", builtin_g_getdc);
  builtin_register("g_releasedc", builtin_g_releasedc);
  builtin_register("loadsurface", builtin_loadsurface);
  builtin_register("loadsurfacefrommem", builtin_loadsurfacefrommem);
}
