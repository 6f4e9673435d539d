// Image files: where names lead, refusals of bad data, resources, and the BMP files that
// surfaces are saved as (their bytes are also read back independently by check_display.py).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "display/image_files.h"
#include "platform/gdi/dib_section.h"
#include "platform/kernel/handles.h"
#include "platform/media/imaging.h"
#include "platform/media/resources.h"
#include "tests/platform/temporary_root.h"

using namespace display;

namespace {

std::vector<uint8_t> fixture(const char* name) {
    std::ifstream in(std::string(ZRK_FIXTURES_DIR) + "/images/" + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A device root with the program at \Program Files\Game\game.exe.
class ImageFiles : public TemporaryRoot {
 protected:
    void SetUp() override {
        TemporaryRoot::SetUp();
        setenv("ZRK_PROGRAM", "\\Program Files\\Game\\game.exe", 1);
        std::filesystem::create_directories(host("Program Files/Game"));
        std::filesystem::create_directories(host("tmp"));
    }
    void TearDown() override {
        unsetenv("ZRK_PROGRAM");
        TemporaryRoot::TearDown();
    }

    Surface* surface_with_pattern(uint32_t width, uint32_t height) {
        Surface* surface = surface_new(width, height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) *surface->buffer->at(int32_t(x), int32_t(y)) = uint16_t(x * 977 + y * 31);
        return surface;
    }

};

bool same_pixels(const Surface* a, const Surface* b) {
    if (a->buffer->width != b->buffer->width || a->buffer->height != b->buffer->height) return false;
    for (uint32_t y = 0; y < a->buffer->height; ++y)
        for (uint32_t x = 0; x < a->buffer->width; ++x)
            if (*a->buffer->at(int32_t(x), int32_t(y)) != *b->buffer->at(int32_t(x), int32_t(y))) return false;
    return true;
}

TEST_F(ImageFiles, SavedNamesGainBmpInTheProgramsFolderOrAtTheirDevicePath) {
    Surface* surface = surface_with_pattern(3, 2);
    EXPECT_EQ(surface_save_bmp(surface, u"pic"), 1);
    EXPECT_EQ(std::filesystem::file_size(root_ + "/Program Files/Game/pic.bmp"), 82u);
    EXPECT_EQ(surface_save_bmp(surface, u"\\tmp\\pic"), 1);
    EXPECT_TRUE(std::filesystem::exists(root_ + "/tmp/pic.bmp"));
    // What was saved loads back the same.
    Surface* loaded = image_load_file(u"pic.bmp");
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(same_pixels(surface, loaded));
    surface_delete(loaded);

    EXPECT_EQ(surface_save_bmp(nullptr, u"pic"), 0);
    EXPECT_EQ(surface_save_bmp(surface, nullptr), 0);
    EXPECT_EQ(surface_save_bmp(surface, u"\\no such folder\\pic"), 0);
    EXPECT_EQ(surface_save_bmp(surface, std::u16string(300, u'x').c_str()), 0);
    surface_delete(surface);
}

TEST_F(ImageFiles, ImageFilesDecodeThroughTheMappedFile) {
    std::vector<uint8_t> png = fixture("rgb.png");
    ASSERT_FALSE(png.empty());
    std::ofstream(root_ + "/Program Files/Game/rgb.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    Surface* from_file = image_load_file(u"rgb.png");
    Surface* from_memory = image_decode_memory(png.data(), png.data() + png.size());
    ASSERT_NE(from_file, nullptr);
    ASSERT_NE(from_memory, nullptr);
    EXPECT_EQ(from_file->buffer->width, 37u);
    EXPECT_EQ(from_file->buffer->height, 21u);
    EXPECT_EQ(from_file->colour_key, no_colour_key);
    EXPECT_TRUE(same_pixels(from_file, from_memory));
    surface_delete(from_file);
    surface_delete(from_memory);
    EXPECT_EQ(image_load_file(u"missing.png"), nullptr);
    EXPECT_EQ(image_load_file(u"\\Program Files\\Game\\missing.png"), nullptr);
}

TEST_F(ImageFiles, MalformedAndTruncatedImagesAreRefused) {
    for (const char* name : {"rgb.png", "alpha.png", "palette.gif", "rgb24.bmp", "palette8.bmp", "smooth.jpg"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = fixture(name);
        ASSERT_GT(bytes.size(), 40u);
        // Only the header: the sizes promise more than there is.
        std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 30);
        Surface* cut = image_decode_memory(header.data(), header.data() + header.size());
        EXPECT_EQ(cut, nullptr);
        surface_delete(cut);
    }
    const uint8_t nothing[] = {0};
    EXPECT_EQ(image_decode_memory(nothing, nothing), nullptr);
    const uint8_t text[] = "not an image at all";
    EXPECT_EQ(image_decode_memory(text, text + sizeof(text)), nullptr);
    EXPECT_EQ(image_decode_memory(nullptr, nullptr), nullptr);
    // A BMP header claiming a picture far beyond the largest the device decodes.
    std::vector<uint8_t> huge = fixture("rgb24.bmp");
    int32_t side = 100000;
    std::memcpy(&huge[18], &side, 4);
    std::memcpy(&huge[22], &side, 4);
    EXPECT_EQ(image_decode_memory(huge.data(), huge.data() + huge.size()), nullptr);
}

TEST_F(ImageFiles, ResourcesDecodeOrLoadAsBitmaps) {
    std::vector<uint8_t> png = fixture("rgb.png");
    std::vector<uint8_t> bmp = fixture("rgb24.bmp");
    // A bitmap resource is a BMP file without its 14-byte file header.
    std::vector<uint8_t> dib(bmp.begin() + 14, bmp.end());
    platform::register_resource(nullptr, u"PNG", u"TITLE", png.data(), uint32_t(png.size()));
    platform::register_resource(nullptr, MAKEINTRESOURCEW(2), u"TILES", dib.data(), uint32_t(dib.size()));

    Surface* title = image_load_resource(u"TITLE", u"PNG", nullptr);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->buffer->width, 37u);
    Surface* tiles = image_load_resource(u"TILES", MAKEINTRESOURCEW(2), nullptr);
    ASSERT_NE(tiles, nullptr);
    Surface* decoded = image_decode_memory(bmp.data(), bmp.data() + bmp.size());
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(same_pixels(tiles, decoded));
    // Asked as another type, a name that exists only as a bitmap is found as one.
    Surface* tiles_again = image_load_resource(u"TILES", u"PNG", nullptr);
    ASSERT_NE(tiles_again, nullptr);
    EXPECT_TRUE(same_pixels(tiles_again, decoded));
    EXPECT_EQ(image_load_resource(u"NOTHING", u"PNG", nullptr), nullptr);
    for (Surface* s : {title, tiles, decoded, tiles_again}) surface_delete(s);
    EXPECT_EQ(platform::gdi_object_count(), 0u) << "a bitmap or context was left";
}

TEST_F(ImageFiles, ShellLoadsBmpFilesOnly) {
    std::vector<uint8_t> bmp = fixture("palette8.bmp");
    std::vector<uint8_t> png = fixture("rgb.png");
    std::ofstream(root_ + "/tmp/p.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
    std::ofstream(root_ + "/tmp/q.bmp", std::ios::binary).write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    HBITMAP bitmap = SHLoadDIBitmap(u"\\tmp\\p.bmp");
    ASSERT_NE(bitmap, nullptr);
    Surface* from_bitmap = surface_from_bitmap(bitmap);
    Surface* decoded = image_decode_memory(bmp.data(), bmp.data() + bmp.size());
    ASSERT_NE(from_bitmap, nullptr);
    EXPECT_TRUE(same_pixels(from_bitmap, decoded));
    DeleteObject(bitmap);
    surface_delete(from_bitmap);
    surface_delete(decoded);
    EXPECT_EQ(SHLoadDIBitmap(u"\\tmp\\q.bmp"), nullptr) << "a PNG named .bmp is not a BMP";
    EXPECT_EQ(SHLoadDIBitmap(u"\\tmp\\none.bmp"), nullptr);
}

TEST_F(ImageFiles, AlphaDrawsOverBlack) {
    std::vector<uint8_t> png = fixture("alpha.png");
    Surface* surface = image_decode_memory(png.data(), png.data() + png.size());
    ASSERT_NE(surface, nullptr);
    // Pixel (0, 0) has alpha 0 in the fixture: black.
    EXPECT_EQ(*surface->buffer->at(0, 0), 0);
    surface_delete(surface);
}

}  // namespace

// A program outside the device root has a host path ("/.../game.exe"): relative names
// are still taken from its folder.
TEST_F(ImageFiles, RelativeNamesFollowAProgramWithAHostPath) {
    std::string folder = root_ + "/host program";
    std::filesystem::create_directories(folder);
    setenv("ZRK_PROGRAM", (folder + "/game.exe").c_str(), 1);
    Surface* surface = surface_with_pattern(3, 2);
    EXPECT_EQ(surface_save_bmp(surface, u"pic"), 1);
    EXPECT_TRUE(std::filesystem::exists(folder + "/pic.bmp"));
    Surface* loaded = image_load_file(u"pic.bmp");
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(same_pixels(surface, loaded));
    surface_delete(loaded);
    surface_delete(surface);
}
