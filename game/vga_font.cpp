// The VGA bitmap fonts of the text built-ins: loading from a file or a memory block and
// freeing, with allocation tracking for the memory report.
#include <cstring>
#include <new>

#include "foundation/address_set.h"
#include "foundation/file_helpers.h"
#include "foundation/runtime_memory.h"
#include "game/game_drawing.h"
#include "platform/kernel/memory.h"

GameDrawingTargets game_drawing{nullptr, nullptr};

namespace {

AddressSet& live_vga_fonts() {
  static auto* fonts = new AddressSet();
  return *fonts;
}

}  // namespace

bool vga_font_is_live(const VgaFont* font) { return live_vga_fonts().contains(font); }

VgaFont* vga_font_from_bytes(const uint8_t* data, uint32_t size, int32_t width, int32_t height) {
  auto* font = static_cast<VgaFont*>(crt::calloc(1, sizeof(VgaFont)));
  if (font == nullptr) return nullptr;
  try {
    live_vga_fonts().insert(font);
  } catch (const std::bad_alloc&) {
    crt::free(font);
    return nullptr;
  }
  font->width = width;
  font->height = height;
  if (data != nullptr && size > 0) {
    // The drawing picks glyphs by the low byte of each character: a short block is
    // padded with blank glyphs so that no code reads past it.
    uint32_t block = size < kVgaFontBytes ? kVgaFontBytes : size;
    font->data = static_cast<uint8_t*>(crt::calloc(block, 1));
    if (font->data != nullptr) std::memcpy(font->data, data, size);
  }
  if (memory_tracking) {
    track_allocation(nullptr, 0, font, sizeof(VgaFont));
    if (font->data != nullptr) track_allocation(nullptr, 0, font->data, 0);
  }
  return font;
}

void vga_font_free(VgaFont* font) {
  if (font == nullptr) return;
  live_vga_fonts().erase(font);
  if (memory_tracking) {
    if (font->data != nullptr) untrack_allocation(font->data);
    untrack_allocation(font);
  }
  crt::free(font->data);
  crt::free(font);
}
