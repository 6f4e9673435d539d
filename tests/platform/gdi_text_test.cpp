// GDI text and drawing against golden images made by this project (DejaVu glyphs through
// stb_truetype). Set ZRK_UPDATE_GOLDEN=1 to write the images again after a deliberate
// change, then look at them before committing.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_state.h"
#include "platform/gdi/screen.h"

namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A memory context over a white RGB565 DIB section of the given size.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  uint16_t* pixels = nullptr;
  int width, height;
  Canvas(int w, int h) : width(w), height(h) {
    struct {
      BITMAPINFOHEADER header;
      DWORD masks[3];
    } info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 16, BI_BITFIELDS, 0, 0, 0, 0, 0}, {0xF800, 0x07E0, 0x001F}};
    void* bits = nullptr;
    bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    pixels = static_cast<uint16_t*>(bits);
    dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, bitmap);
    RECT all{0, 0, w, h};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~Canvas() {
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  // Compares with the golden image of that name (or writes it when asked to).
  void expect_golden(const std::string& name) {
    fs::path golden = fs::path(ZRK_FIXTURES_DIR) / "gdi" / (name + ".bmp");
    fs::path made = fs::temp_directory_path() / ("zrk_" + std::to_string(getpid()) + "_" + name + ".bmp");
    std::string error;
    ASSERT_TRUE(platform::save_bmp_565(made.string(), pixels, width, height, &error)) << error;
    const char* update = getenv("ZRK_UPDATE_GOLDEN");
    if (update && *update && std::string(update) != "0") {
      fs::create_directories(golden.parent_path());
      fs::copy_file(made, golden, fs::copy_options::overwrite_existing);
    }
    EXPECT_EQ(read_all(made), read_all(golden)) << name << ": the drawing differs from " << golden << " (see " << made << ")";
    if (!::testing::Test::HasFailure()) fs::remove(made);
  }
};

HFONT font(const char16_t* face, LONG height, LONG weight = FW_NORMAL, BYTE italic = 0, BYTE underline = 0) {
  LOGFONTW record{};
  record.lfHeight = height;
  record.lfWeight = weight;
  record.lfItalic = italic;
  record.lfUnderline = underline;
  for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) record.lfFaceName[i] = face[i];
  return CreateFontIndirectW(&record);
}

TEST(GdiText, FacesSizesAndColours) {
  Canvas canvas(200, 120);
  struct Line {
    const char16_t* face;
    LONG height;
    LONG weight;
    BYTE italic, underline;
    COLORREF colour;
    const char16_t* text;
  };
  const Line lines[] = {
      {u"MS Sans Serif", -12, FW_NORMAL, 0, 0, RGB(0, 0, 0), u"Hello, ZRK! 0123"},
      {u"Tahoma", -14, FW_BOLD, 0, 0, RGB(0, 0, 160), u"Bold Tahoma gy"},
      {u"Courier New", -11, FW_NORMAL, 0, 1, RGB(160, 0, 0), u"mono_underline"},
      {u"Times New Roman", 18, FW_NORMAL, 1, 0, RGB(0, 128, 0), u"Serif italic"},
      {u"", -10, FW_NORMAL, 0, 0, RGB(0, 0, 0), u"\u00E9t\u00E9 \u20AC5 \u00D7"},
  };
  int y = 2;
  for (const Line& line : lines) {
    HFONT made = font(line.face, line.height, line.weight, line.italic, line.underline);
    ASSERT_NE(made, nullptr);
    HGDIOBJ previous = SelectObject(canvas.dc, made);
    SetTextColor(canvas.dc, line.colour);
    SetBkMode(canvas.dc, TRANSPARENT);
    ExtTextOutW(canvas.dc, 2, y, 0, nullptr, line.text, UINT(-1), nullptr);
    TEXTMETRICW metrics;
    ASSERT_TRUE(GetTextMetricsW(canvas.dc, &metrics));
    y += metrics.tmHeight + 2;
    SelectObject(canvas.dc, previous);
    DeleteObject(made);
  }
  canvas.expect_golden("text_faces");
}

TEST(GdiText, DrawTextFormats) {
  Canvas canvas(160, 150);
  HFONT made = font(u"Tahoma", -12);
  SelectObject(canvas.dc, made);
  SetBkColor(canvas.dc, RGB(255, 255, 0));
  struct Box {
    RECT rect;
    UINT format;
    const char16_t* text;
  };
  const Box boxes[] = {
      {{2, 2, 158, 20}, DT_SINGLELINE | DT_CENTER | DT_VCENTER, u"&Centred"},
      {{2, 22, 158, 40}, DT_SINGLELINE | DT_RIGHT, u"Right && left"},
      {{2, 42, 80, 100}, DT_WORDBREAK, u"Words wrap inside a narrow box"},
      {{84, 42, 158, 100}, DT_NOPREFIX, u"Line one\r\nLine &two\nthree"},
      {{2, 104, 70, 120}, DT_SINGLELINE | DT_END_ELLIPSIS, u"Much too long to fit"},
  };
  for (const Box& box : boxes) {
    RECT rect = box.rect;
    FrameRect(canvas.dc, &rect, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    EXPECT_GT(DrawTextW(canvas.dc, box.text, -1, &rect, box.format), 0);
  }
  RECT measured{0, 0, 0, 0};
  int height = DrawTextW(canvas.dc, u"two\nlines", -1, &measured, DT_CALCRECT);
  EXPECT_EQ(measured.bottom, height);
  EXPECT_EQ(height % 2, 0);  // two lines of one height
  EXPECT_GT(measured.right, 0);
  SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(made);
  canvas.expect_golden("text_formats");
}

TEST(GdiText, MeasuringAgreesWithDrawing) {
  Canvas canvas(10, 10);
  HFONT made = font(u"Tahoma", -12);
  SelectObject(canvas.dc, made);
  const char16_t* text = u"Wide and thin";
  SIZE size;
  ASSERT_TRUE(GetTextExtentPoint32W(canvas.dc, text, 13, &size));
  int fit = 0;
  int ends[13];
  ASSERT_TRUE(GetTextExtentExPointW(canvas.dc, text, 13, size.cx / 2, &fit, ends, &size));
  EXPECT_EQ(ends[12], size.cx);
  EXPECT_GT(fit, 0);
  EXPECT_LT(fit, 13);
  EXPECT_LE(ends[fit - 1], size.cx / 2);
  EXPECT_GT(ends[fit], size.cx / 2);
  TEXTMETRICW metrics;
  GetTextMetricsW(canvas.dc, &metrics);
  EXPECT_EQ(size.cy, metrics.tmHeight);
  EXPECT_EQ(metrics.tmHeight, metrics.tmAscent + metrics.tmDescent);
  // A 12-pixel em: the cell is a little taller than the em.
  EXPECT_GE(metrics.tmHeight, 12);
  EXPECT_LE(metrics.tmHeight, 16);
  SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(made);
}

// Without antialiasing every pixel is either the text colour or untouched; with it the
// same text has edge pixels in between.
TEST(GdiText, NonAntialiasedQualityDrawsSolidPixels) {
  for (BYTE quality : {BYTE(NONANTIALIASED_QUALITY), BYTE(0)}) {
    Canvas canvas(60, 20);
    LOGFONTW record{};
    record.lfHeight = -13;
    record.lfQuality = quality;
    HFONT made = CreateFontIndirectW(&record);
    SelectObject(canvas.dc, made);
    SetTextColor(canvas.dc, RGB(0, 0, 255));
    SetBkMode(canvas.dc, TRANSPARENT);
    ExtTextOutW(canvas.dc, 1, 1, 0, nullptr, u"Sage", 4, nullptr);
    int text = 0, between = 0;
    for (int i = 0; i < 60 * 20; ++i) {
      if (canvas.pixels[i] == 0x001F) ++text;
      else if (canvas.pixels[i] != 0xFFFF) ++between;
    }
    EXPECT_GT(text + between, 20) << int(quality);
    if (quality == NONANTIALIASED_QUALITY) EXPECT_EQ(between, 0);
    else EXPECT_GT(between, 0);
    SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(made);
  }
}

// The font a handle made by CreateFontIndirectW stands for.
platform::gdi::Font& font_of(HFONT handle) { return *handle->font; }

// Measuring reads metrics only: a run over every code of the largest font keeps no
// coverage, and gives the advances that drawing the same glyphs uses.
TEST(GdiText, MeasuringRasterisesNothing) {
  Canvas canvas(10, 10);
  HFONT made = font(u"Tahoma", -512);
  ASSERT_NE(made, nullptr);
  SelectObject(canvas.dc, made);
  std::vector<char16_t> every(0x10000);
  for (size_t i = 0; i < every.size(); ++i) every[i] = char16_t(i);
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32W(canvas.dc, every.data(), int(every.size()), &size));
  EXPECT_GT(size.cx, 0);
  EXPECT_TRUE(font_of(made).glyphs.empty());
  EXPECT_EQ(font_of(made).glyph_bytes, 0u);
  SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(made);
}

TEST(GdiText, AdvancesMatchTheDrawnGlyphs) {
  struct Case {
    const char16_t* face;
    LONG height;
    LONG weight;
    BYTE italic;
  };
  const Case fonts[] = {{u"Tahoma", -12, FW_NORMAL, 0}, {u"Courier New", 20, FW_BOLD, 0},
                        {u"Times New Roman", -30, FW_NORMAL, 1}, {u"", -512, FW_NORMAL, 0}};
  // Control codes, ASCII, Latin-1, a symbol the face has, and one it lacks (shown as '?').
  const char16_t codes[] = {0, 9, 31, u' ', u'W', u'i', 0xE9, 0xFF, 0x20AC, 0x4E00};
  for (const Case& wanted : fonts) {
    HFONT made = font(wanted.face, wanted.height, wanted.weight, wanted.italic);
    ASSERT_NE(made, nullptr);
    platform::gdi::Font& measured = font_of(made);
    for (char16_t code : codes) {
      EXPECT_EQ(measured.advance(code), measured.glyph(code).advance)
          << "height " << wanted.height << ", code " << int(code);
    }
    EXPECT_EQ(measured.advance(0x4E00), measured.advance(u'?')) << "height " << wanted.height;
    EXPECT_EQ(measured.advance(9), 0) << "height " << wanted.height;
    DeleteObject(made);
  }
}

// Drawing many large glyphs keeps the font's cache within its budget, counted truly, and
// a glyph made again after the cache is emptied draws the same pixels.
TEST(GdiText, GlyphCacheStaysWithinItsBudget) {
  constexpr int kSide = 640;
  Canvas canvas(kSide, kSide);
  HFONT made = font(u"", -512);
  ASSERT_NE(made, nullptr);
  SelectObject(canvas.dc, made);
  SetBkMode(canvas.dc, TRANSPARENT);
  platform::gdi::Font& cached = font_of(made);
  RECT all{0, 0, kSide, kSide};
  std::vector<uint16_t> first_w;
  for (char16_t code = u'A'; code <= u'z'; ++code) {
    ExtTextOutW(canvas.dc, 0, 0, 0, nullptr, &code, 1, nullptr);
    if (code == u'W') first_w.assign(canvas.pixels, canvas.pixels + kSide * kSide);
    size_t counted = 0;
    for (const auto& [character, glyph] : cached.glyphs) counted += platform::gdi::glyph_cost(glyph);
    ASSERT_EQ(cached.glyph_bytes, counted) << "after " << int(code);
    ASSERT_LE(cached.glyph_bytes, platform::gdi::kGlyphCacheBytes) << "after " << int(code);
    FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ASSERT_EQ(cached.glyphs.count(u'W'), 0u) << "the budget never emptied the cache";
  ASSERT_NE(std::count(first_w.begin(), first_w.end(), uint16_t(0xFFFF)), kSide * kSide);
  char16_t again = u'W';
  ExtTextOutW(canvas.dc, 0, 0, 0, nullptr, &again, 1, nullptr);
  EXPECT_EQ(std::vector<uint16_t>(canvas.pixels, canvas.pixels + kSide * kSide), first_w);
  SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(made);
}

TEST(GdiDrawing, ShapesAndCopies) {
  Canvas canvas(120, 80);
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
  HBRUSH brush = CreateSolidBrush(RGB(255, 128, 0));
  SelectObject(canvas.dc, pen);
  SelectObject(canvas.dc, brush);
  Rectangle(canvas.dc, 2, 2, 30, 20);
  Ellipse(canvas.dc, 34, 2, 70, 30);
  POINT triangle[] = {{80, 30}, {100, 2}, {118, 30}};
  Polygon(canvas.dc, triangle, 3);
  MoveToEx(canvas.dc, 2, 40, nullptr);
  LineTo(canvas.dc, 60, 60);
  // The top-left block copied, then stretched twice as large.
  BitBlt(canvas.dc, 2, 62, 28, 16, canvas.dc, 2, 2, SRCCOPY);
  StretchBlt(canvas.dc, 64, 36, 56, 40, canvas.dc, 2, 2, 28, 20, SRCCOPY);
  EXPECT_EQ(GetPixel(canvas.dc, 2, 2), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(canvas.dc, 10, 10), GetPixel(canvas.dc, 10, 70));
  EXPECT_EQ(GetPixel(canvas.dc, 500, 5), CLR_INVALID);
  SelectObject(canvas.dc, GetStockObject(BLACK_PEN));
  SelectObject(canvas.dc, GetStockObject(WHITE_BRUSH));
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_TRUE(DeleteObject(brush));
  canvas.expect_golden("shapes");
}

TEST(GdiObjects, SelectionAndDeletion) {
  size_t before = platform::gdi_object_count();
  {
    Canvas canvas(4, 4);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HGDIOBJ previous = SelectObject(canvas.dc, brush);
    EXPECT_EQ(previous, GetStockObject(WHITE_BRUSH));
    // Deleting a selected brush is accepted; it goes when it is deselected.
    EXPECT_TRUE(DeleteObject(brush));
    LOGBRUSH record;
    EXPECT_EQ(GetObjectW(brush, sizeof record, &record), 0);
    SelectObject(canvas.dc, previous);
    EXPECT_FALSE(DeleteObject(canvas.bitmap));  // still selected
    EXPECT_EQ(SelectObject(nullptr, brush), nullptr);
    EXPECT_EQ(GetDeviceCaps(canvas.dc, HORZRES), 4);
  }
  EXPECT_EQ(platform::gdi_object_count(), before);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 240);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE | SYS_COLOR_INDEX_FLAG), GetSysColor(COLOR_BTNFACE));
  EXPECT_NE(GetSysColorBrush(COLOR_WINDOW), nullptr);
  EXPECT_EQ(GetSysColorBrush(999), nullptr);
}

// A deleted object's handle names nothing, even when its memory is used again; stock
// objects and system brushes stay whatever is asked of them.
TEST(GdiObjects, DeletedHandlesNameNothing) {
  LOGFONTW description{};
  description.lfHeight = -10;
  std::vector<HGDIOBJ> gone;
  for (int i = 0; i < 50; ++i) {
    HGDIOBJ font = CreateFontIndirectW(&description);
    ASSERT_EQ(GetObjectType(font), OBJ_FONT);
    EXPECT_TRUE(DeleteObject(font));
    gone.push_back(font);
    std::vector<char> reuse(256, char(0x5A));  // memory the freed object may give up
  }
  for (HGDIOBJ font : gone) {
    EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_FALSE(DeleteObject(font));
  }
  for (HGDIOBJ stock : {GetStockObject(WHITE_BRUSH), GetStockObject(SYSTEM_FONT), static_cast<HGDIOBJ>(GetSysColorBrush(COLOR_HIGHLIGHT))}) {
    EXPECT_TRUE(DeleteObject(stock));
    EXPECT_NE(GetObjectType(stock), 0u);
  }
}

}  // namespace
