// GDI's records: objects, device contexts, and the pixel target a drawing call resolves a
// context to. Shared by the GDI units only. Everything is guarded by the window system's
// one lock (platform::user::window_lock()), which drawing holds while it writes pixels,
// so that a window surface cannot move or go away under a drawing call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/gdi/gdi.h"

namespace platform::gdi {
struct Font;
}

struct HGDIOBJ__ {
  DWORD type = 0;  // OBJ_BITMAP, OBJ_BRUSH, OBJ_PEN, OBJ_FONT, OBJ_REGION
  bool stock = false;
  bool delete_pending = false;  // deleted while selected: goes when the last context lets go
  int selections = 0;           // contexts (and saved states) that hold it
  // Bitmaps.
  uint8_t* bits = nullptr;
  bool owns_bits = true;
  LONG width = 0;
  LONG height = 0;  // as given: negative for top-down rows
  WORD bit_count = 0;
  bool rgb555 = false;  // 16-bit BI_RGB: 5-5-5
  HDC selected_into = nullptr;
  // Brushes and pens.
  COLORREF colour = 0;
  bool hollow = false;  // NULL_BRUSH, PS_NULL
  int pen_style = PS_SOLID;
  int pen_width = 1;
  // Fonts.
  LOGFONTW logfont{};
  std::shared_ptr<platform::gdi::Font> font;
  // Regions (rectangles).
  RECT region{};
};

namespace platform::gdi {

// The drawing state of a context, saved whole by SaveDC.
struct ContextState {
  HGDIOBJ bitmap = nullptr;
  HGDIOBJ brush = nullptr;
  HGDIOBJ pen = nullptr;
  HGDIOBJ font = nullptr;
  COLORREF text_colour = 0;
  COLORREF background_colour = 0xFFFFFF;
  int background_mode = OPAQUE;
  UINT text_align = 0;
  POINT viewport{};
  POINT position{};  // of MoveToEx/LineTo, logical
  bool has_clip = false;
  RECT clip{};       // device coordinates of the context (client or bitmap)
};

enum class ContextKind { Screen, Window, Memory };

}  // namespace platform::gdi

struct HDC__ {
  platform::gdi::ContextKind kind = platform::gdi::ContextKind::Memory;
  uint32_t window = 0;        // Window contexts
  bool whole_window = false;  // GetWindowDC: origin at the window's corner
  bool from_paint = false;
  platform::gdi::ContextState state;
  std::vector<platform::gdi::ContextState> saved;
};

namespace platform::gdi {

std::recursive_mutex& gdi_lock();

// The pixels a context draws into, with the device origin of logical (0,0) and the clip
// in pixel coordinates of the target (always inside it).
struct Target {
  uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes; negative for bottom-up bitmaps
  int bit_count = 16;
  bool rgb555 = false;
  POINT origin{};
  RECT clip{};
};

// Whether a context is live (caller holds the lock).
bool live_context(HDC dc);
bool live_object(HGDIOBJ object);
// Makes a stock object known to live_object.
void register_stock_object(HGDIOBJ object);
// Resolves a live context to its target (caller holds the lock); false when the context
// is unknown or its window gone.
bool resolve_target(HDC dc, Target* target);

// Pixels in the target's format.
uint32_t encode(const Target& target, COLORREF colour);
uint8_t* row_of_target(const Target& target, int y);
COLORREF read_pixel(const Target& target, int x, int y);
void write_pixel(const Target& target, int x, int y, uint32_t pixel);
// Fills a rectangle of target pixels (clipped to the target's clip).
void fill_pixels(const Target& target, RECT area, COLORREF colour);
// Blends colour over a pixel with coverage 0..255.
void blend_pixel(const Target& target, int x, int y, COLORREF colour, int coverage);

// Changes the selection counts when a state takes or drops an object; an object deleted
// while selected is freed with its last selection.
void hold_object(HGDIOBJ object);
void release_object(HGDIOBJ object);

// Counts for leak checks.
size_t live_object_count();
size_t live_context_count();
// Makes a new object live (caller holds the lock).
HGDIOBJ register_object(HGDIOBJ object);
// A new bitmap (zeroed), registered as live.
HGDIOBJ new_bitmap(LONG width, LONG height, WORD bit_count, bool rgb555);
// Window contexts for GetDC, GetWindowDC and BeginPaint, and freeing one.
HDC window_context(HWND window, bool whole_window, bool from_paint);
void release_window_context(HDC dc);

// The default objects of a new context.
HGDIOBJ placeholder_bitmap();
HGDIOBJ default_font();

// The screen's own pixels (the composed frame).
Target screen_target();

// Fonts (fonts.cpp).
struct Glyph {
  std::vector<uint8_t> coverage;
  int width = 0;
  int height = 0;
  int left = 0;   // from the pen position
  int top = 0;    // from the baseline (negative: above)
  int advance = 0;
};
struct Font {
  const void* face = nullptr;  // the loaded DejaVu face
  float scale = 0;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike_out = false;
  // NONANTIALIASED_QUALITY: every glyph pixel is fully drawn or left alone.
  bool solid_edges = false;
  int ascent = 0;
  int descent = 0;
  int internal_leading = 0;
  int external_leading = 0;
  int average_width = 0;
  int maximum_width = 0;
  const char16_t* family = u"";
  BYTE pitch_and_family = 0;
  LONG weight = FW_NORMAL;
  // Glyphs rasterised for drawing, made on demand and held within kGlyphCacheBytes:
  // a run over every code of a large font would otherwise keep gigabytes of coverage.
  std::unordered_map<char16_t, Glyph> glyphs;
  size_t glyph_bytes = 0;  // what glyphs holds, as glyph_cost counts it
  // The glyph's bitmap and metrics; the reference holds until the next call, which may
  // drop the cache to stay within its budget.
  const Glyph& glyph(char16_t character);
  // The pen advance in pixels, from the face's metrics alone: measuring rasterises nothing.
  int advance(char16_t character) const;
};
// The most one font's glyph cache holds: some dozens of glyphs at the largest height,
// every glyph of the Latin range at any size a form uses.
constexpr size_t kGlyphCacheBytes = size_t(4) << 20;
// What one cached glyph costs against that budget: its coverage and its record.
size_t glyph_cost(const Glyph& glyph);
std::shared_ptr<Font> make_font(const LOGFONTW& request);
// The font of a context (its selection, or the default).
Font& context_font(HDC dc);

// Text (text.cpp): draws a run at a device point whose y is the top of the cell.
void draw_run(const Target& target, Font& font, int x, int y, const WCHAR* text, int count, COLORREF colour,
              const int* widths);

}  // namespace platform::gdi
