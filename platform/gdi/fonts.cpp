// Fonts: the DejaVu faces mapped once, the mapping of requested faces onto them, metrics,
// and glyphs rasterised by stb_truetype and kept per font within a budget.
#include <cstddef>
#include <cstdlib>

namespace platform::gdi {
namespace {
void* take_scratch(size_t size);
void give_scratch(void* block);
}  // namespace
}  // namespace platform::gdi

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#define STBTT_malloc(size, user) ((void)(user), platform::gdi::take_scratch(size))
#define STBTT_free(block, user) ((void)(user), platform::gdi::give_scratch(block))
#include <stb/stb_truetype.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/gdi/gdi_state.h"
#include "platform/gdi/text.h"
#include "platform/kernel/config.h"
#include "platform/kernel/wide_string.h"

namespace platform::gdi {
namespace {

// stb_truetype takes scratch memory for each glyph it rasterises (56 KB of edge records
// at the least) and frees it when the glyph is done: a strip of every 16-bit code would
// pass gigabytes through the allocator. The blocks it gives back are kept for the next
// glyph instead, a few at a time; all rasterising runs under the GDI lock.
constexpr size_t kScratchHeader = alignof(std::max_align_t);
constexpr int kScratchKept = 8;
void* kept_scratch[kScratchKept];
int kept_scratch_count = 0;

size_t& scratch_size(void* block) {
  return *reinterpret_cast<size_t*>(static_cast<unsigned char*>(block) - kScratchHeader);
}

void* take_scratch(size_t size) {
  int best = -1;
  for (int i = 0; i < kept_scratch_count; ++i) {
    size_t kept = scratch_size(kept_scratch[i]);
    if (kept >= size && (best < 0 || kept < scratch_size(kept_scratch[best]))) best = i;
  }
  if (best >= 0) {
    void* block = kept_scratch[best];
    kept_scratch[best] = kept_scratch[--kept_scratch_count];
    return block;
  }
  auto* raw = static_cast<unsigned char*>(std::malloc(kScratchHeader + size));
  if (!raw) return nullptr;
  *reinterpret_cast<size_t*>(raw) = size;
  return raw + kScratchHeader;
}

void give_scratch(void* block) {
  if (!block) return;
  if (kept_scratch_count < kScratchKept) {
    kept_scratch[kept_scratch_count++] = block;
    return;
  }
  std::free(static_cast<unsigned char*>(block) - kScratchHeader);
}

struct Face {
  const char* file;
  const char16_t* family;
  const unsigned char* bytes;  // the file mapped read-only, kept for the run
  stbtt_fontinfo info{};
  bool loaded = false;
  bool tried = false;
};

// The largest font height in pixels, em or cell: one glyph at that height stays well
// inside the glyph cache's budget.
constexpr LONG kLargestHeight = 512;

enum FaceIndex { kSans, kSansBold, kMono, kMonoBold, kSerif, kSerifBold, kFaceCount };

Face* faces() {
  static Face* table = new Face[kFaceCount]{
      {"DejaVuSans.ttf", u"DejaVu Sans", nullptr, {}, false, false},
      {"DejaVuSans-Bold.ttf", u"DejaVu Sans", nullptr, {}, false, false},
      {"DejaVuSansMono.ttf", u"DejaVu Sans Mono", nullptr, {}, false, false},
      {"DejaVuSansMono-Bold.ttf", u"DejaVu Sans Mono", nullptr, {}, false, false},
      {"DejaVuSerif.ttf", u"DejaVu Serif", nullptr, {}, false, false},
      {"DejaVuSerif-Bold.ttf", u"DejaVu Serif", nullptr, {}, false, false},
  };
  return table;
}

// The folder of the DejaVu files: ZRK_FONTS, else where fonts-dejavu-core puts them.
std::string font_folder() { return setting("ZRK_FONTS", "/usr/share/fonts/truetype/dejavu"); }

// The file is mapped rather than read: a message box needs a few dozen glyphs of a
// face of 700 KB, and only the pages it touches are ever read.
const unsigned char* map_file(const std::string& path) {
  int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return nullptr;
  struct stat status;
  void* bytes = MAP_FAILED;
  if (::fstat(file, &status) == 0 && status.st_size > 0) {
    bytes = ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_PRIVATE, file, 0);
  }
  ::close(file);
  return bytes == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(bytes);
}

bool load(Face& face) {
  if (face.tried) return face.loaded;
  face.tried = true;
  face.bytes = map_file(font_folder() + "/" + face.file);
  if (!face.bytes) return false;
  int offset = stbtt_GetFontOffsetForIndex(face.bytes, 0);
  face.loaded = offset >= 0 && stbtt_InitFont(&face.info, face.bytes, offset) != 0;
  return face.loaded;
}

bool same_text(const WCHAR* name, const char16_t* wanted) { return crt::_wcsicmp(name, wanted) == 0; }

FaceIndex family_of(const LOGFONTW& request) {
  const WCHAR* name = request.lfFaceName;
  for (const char16_t* mono : {u"DejaVu Sans Mono", u"Courier New", u"Courier", u"Lucida Console"}) {
    if (same_text(name, mono)) return kMono;
  }
  for (const char16_t* serif : {u"DejaVu Serif", u"Times New Roman", u"Times", u"Georgia"}) {
    if (same_text(name, serif)) return kSerif;
  }
  if (name[0] == 0) {
    if ((request.lfPitchAndFamily & 0x3) == FIXED_PITCH || (request.lfPitchAndFamily & 0xF0) == FF_MODERN) return kMono;
    if ((request.lfPitchAndFamily & 0xF0) == FF_ROMAN) return kSerif;
  }
  return kSans;
}

// The face's glyph for a code: a printable code the face lacks shows as '?'.
int glyph_index(const stbtt_fontinfo* info, char16_t character) {
  int index = stbtt_FindGlyphIndex(info, character);
  if (index == 0 && character >= 0x20) index = stbtt_FindGlyphIndex(info, u'?');
  return index;
}

// Control codes take no room.
int advance_of(const Font& font, const stbtt_fontinfo* info, int index, char16_t character) {
  if (character < 0x20) return 0;
  int advance = 0, bearing = 0;
  stbtt_GetGlyphHMetrics(info, index, &advance, &bearing);
  return int(std::lround(advance * font.scale));
}

Glyph render(const Font& font, char16_t character) {
  Glyph glyph;
  const auto* info = static_cast<const stbtt_fontinfo*>(font.face);
  int index = glyph_index(info, character);
  glyph.advance = advance_of(font, info, index, character);
  if (character < 0x20) return glyph;
  int x0, y0, x1, y1;
  stbtt_GetGlyphBitmapBox(info, index, font.scale, font.scale, &x0, &y0, &x1, &y1);
  int width = x1 - x0, height = y1 - y0;
  if (width <= 0 || height <= 0) return glyph;
  std::vector<uint8_t> coverage(size_t(width) * height);
  stbtt_MakeGlyphBitmap(info, coverage.data(), width, height, width, font.scale, font.scale, index);
  // Oblique faces are the upright ones slanted: each row shifts by a fifth of its height.
  int slant = font.italic ? std::max(0, -y0) / 5 : 0;
  glyph.width = width + slant;
  glyph.height = height;
  glyph.left = x0;
  glyph.top = y0;
  glyph.coverage.assign(size_t(glyph.width) * height, 0);
  for (int row = 0; row < height; ++row) {
    int shift = font.italic ? std::max(0, -(y0 + row)) / 5 : 0;
    std::memcpy(&glyph.coverage[size_t(row) * glyph.width + shift], &coverage[size_t(row) * width], size_t(width));
  }
  if (font.solid_edges) {
    for (uint8_t& value : glyph.coverage) value = value >= 128 ? 255 : 0;
  }
  return glyph;
}

}  // namespace

size_t glyph_cost(const Glyph& glyph) { return sizeof(Glyph) + glyph.coverage.size(); }

// A full cache is emptied rather than trimmed: text that cycles through more glyphs than
// fit misses as often under least-recently-used, and nothing needs tracking per use.
const Glyph& Font::glyph(char16_t character) {
  if (auto found = glyphs.find(character); found != glyphs.end()) return found->second;
  Glyph made = render(*this, character);
  size_t cost = glyph_cost(made);
  if (glyph_bytes + cost > kGlyphCacheBytes) {
    glyphs.clear();
    glyph_bytes = 0;
  }
  glyph_bytes += cost;
  return glyphs.emplace(character, std::move(made)).first->second;
}

int Font::advance(char16_t character) const {
  const auto* info = static_cast<const stbtt_fontinfo*>(face);
  return advance_of(*this, info, glyph_index(info, character), character);
}

std::shared_ptr<Font> make_font(const LOGFONTW& request) {
  std::lock_guard hold(gdi_lock());
  FaceIndex family = family_of(request);
  bool bold = request.lfWeight >= FW_SEMIBOLD;
  int index = family + (bold ? 1 : 0);
  Face* table = faces();
  if (!load(table[index])) index = family;
  if (!load(table[index])) index = kSans;
  if (!load(table[index])) return nullptr;
  Face& face = table[index];
  auto font = std::make_shared<Font>();
  font->face = &face.info;
  font->family = face.family;
  font->bold = bold;
  font->italic = request.lfItalic != 0;
  font->underline = request.lfUnderline != 0;
  font->strike_out = request.lfStrikeOut != 0;
  font->solid_edges = request.lfQuality == NONANTIALIASED_QUALITY;
  font->weight = request.lfWeight == 0 ? FW_NORMAL : request.lfWeight;
  font->pitch_and_family = BYTE((family == kMono ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH) |
                                (family == kSerif ? FF_ROMAN : family == kSans ? FF_SWISS : 0));
  // A height past the largest the rasteriser makes gets that largest one, as the
  // height's sign asks: a glyph of it is under a megabyte of coverage, where the 32-bit
  // range would ask for gigabytes, and its metrics stay far inside an int.
  LONG height = request.lfHeight == 0 ? -12 : std::clamp<LONG>(request.lfHeight, -kLargestHeight, kLargestHeight);
  // Negative: the em is that many pixels; positive: ascent plus descent is.
  font->scale = height < 0 ? stbtt_ScaleForMappingEmToPixels(&face.info, float(-height))
                           : stbtt_ScaleForPixelHeight(&face.info, float(height));
  int ascent, descent, gap;
  stbtt_GetFontVMetrics(&face.info, &ascent, &descent, &gap);
  font->ascent = int(std::ceil(ascent * font->scale));
  font->descent = int(std::ceil(-descent * font->scale));
  int em = int(std::lround(font->scale / stbtt_ScaleForMappingEmToPixels(&face.info, 1.0f)));
  font->internal_leading = std::max(0, font->ascent + font->descent - em);
  font->external_leading = int(std::lround(gap * font->scale));
  font->average_width = font->advance(u'x');
  font->maximum_width = std::max(font->advance(u'W'), font->advance(u'M'));
  return font;
}

Font& context_font(HDC dc) {
  HGDIOBJ selected = dc->state.font;
  if (selected && selected->font) return *selected->font;
  return *default_font()->font;
}

}  // namespace platform::gdi

using namespace platform::gdi;

HFONT CreateFontIndirectW(const LOGFONTW* request) {
  if (!request) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto font = make_font(*request);
  if (!font) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto* object = new (std::nothrow) HGDIOBJ__;
  if (!object) return nullptr;
  object->type = OBJ_FONT;
  object->logfont = *request;
  object->font = std::move(font);
  std::lock_guard hold(gdi_lock());
  return register_object(object);
}
