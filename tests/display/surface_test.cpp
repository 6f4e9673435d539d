// Pixel buffers, DIB buffers and surfaces: layout, ownership, copies and the hand-over
// of a surface's pixels to GDI and back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/display_layer.h"
#include "platform/gdi/dib_section.h"

using namespace display;

namespace {

uint16_t pixel(const PixelBuffer* buffer, int x, int y) { return *buffer->at(x, y); }

// Fills every pixel with a value that differs from its neighbours and from 0.
void fill_pattern(PixelBuffer* buffer, uint16_t seed) {
    for (uint32_t y = 0; y < buffer->height; ++y)
        for (uint32_t x = 0; x < buffer->width; ++x) *buffer->at(x, y) = uint16_t(seed + 0x0101 * (y * 17 + x) + 1);
}

}  // namespace

TEST(PixelBuffer, PitchRoundsRowsUpToFourBytes) {
    struct Case {
        uint32_t width;
        uint32_t pitch;
    };
    const Case cases[] = {{0, 0}, {1, 4}, {2, 4}, {3, 8}, {4, 8}, {5, 12}, {8, 16}, {9, 20}, {240, 480}};
    for (const Case& c : cases) {
        PixelBuffer* buffer = pixel_buffer_create(c.width, 3);
        ASSERT_NE(buffer, nullptr) << "width " << c.width;
        EXPECT_EQ(buffer->pitch, c.pitch) << "width " << c.width;
        EXPECT_EQ(buffer->width, c.width);
        EXPECT_EQ(buffer->height, 3u);
        EXPECT_NE(buffer->pixels, nullptr);
        EXPECT_EQ(buffer->owns_pixels, 1);
        // Every byte of every row is writable (AddressSanitizer checks the block size).
        std::memset(buffer->pixels, 0x5A, size_t(buffer->pitch) * buffer->height);
        delete buffer;
    }
}

TEST(PixelBuffer, PixelAddressFollowsPitch) {
    PixelBuffer* buffer = pixel_buffer_create(5, 4);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(buffer->at(3, 2)), buffer->pixels + 12 * 2 + 2 * 3);
    delete buffer;
}

TEST(PixelBuffer, SizesBeyondTheAddressSpaceAreRefused) {
    // pitch * height would wrap to a small block in 32-bit arithmetic.
    const uint32_t sizes[][2] = {{0x80000000u, 2}, {0xFFFFFFFFu, 1}, {65536, 65536}, {1, 0xFFFFFFFFu}};
    for (const auto& size : sizes) {
        EXPECT_EQ(pixel_buffer_create(size[0], size[1]), nullptr) << size[0] << "x" << size[1];
        EXPECT_EQ(dib_buffer_create(size[0], size[1]), nullptr) << size[0] << "x" << size[1];
    }
}

TEST(PixelBuffer, WrappedPixelsAreNotFreed) {
    std::vector<uint16_t> memory(6 * 2, 0x1234);
    PixelBuffer* buffer = pixel_buffer_wrap(memory.data(), 5, 2, 12);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->owns_pixels, 0);
    EXPECT_EQ(buffer->pitch, 12u);
    EXPECT_EQ(buffer->at(1, 1), memory.data() + 7);
    delete buffer;  // a free of the vector's memory would be caught by the sanitizer build
    EXPECT_EQ(memory[7], 0x1234);
}

TEST(DibBuffer, LaysOutLikeAPlainBufferAndCleansUp) {
    size_t objects_before = platform::gdi_object_count();
    for (uint32_t width : {1u, 3u, 8u, 9u}) {
        DibBuffer* dib = dib_buffer_create(width, 5);
        ASSERT_NE(dib, nullptr) << width;
        EXPECT_EQ(dib->pitch, pixel_pitch(width));
        EXPECT_EQ(dib->owns_pixels, 0);
        EXPECT_NE(dib->bitmap, nullptr);
        EXPECT_NE(dib->memory_dc, nullptr);
        // The bitmap is the one selected into the memory DC.
        EXPECT_EQ(SelectObject(dib->memory_dc, dib->bitmap), dib->bitmap);
        std::memset(dib->pixels, 0xC3, size_t(dib->pitch) * dib->height);
        EXPECT_EQ(platform::gdi_object_count(), objects_before + 2);
        PixelBuffer* as_base = dib;
        delete as_base;  // the virtual destructor deletes the DC and the bitmap
        EXPECT_EQ(platform::gdi_object_count(), objects_before);
    }
}

TEST(DibBuffer, ZeroWidthIsNotReturnedHalfMade) {
    size_t objects_before = platform::gdi_object_count();
    EXPECT_EQ(dib_buffer_create(0, 4), nullptr);
    EXPECT_EQ(dib_buffer_create(4, 0), nullptr);
    EXPECT_EQ(platform::gdi_object_count(), objects_before);
}

TEST(Surface, NewSurfaceHasNoKeyAndNoDc) {
    Surface* surface = surface_new(7, 3);
    ASSERT_NE(surface, nullptr);
    ASSERT_NE(surface->buffer, nullptr);
    EXPECT_EQ(surface->buffer->width, 7u);
    EXPECT_EQ(surface->buffer->height, 3u);
    EXPECT_EQ(surface->colour_key, -1);
    EXPECT_EQ(surface->saved_buffer, nullptr);
    EXPECT_EQ(surface->dc, nullptr);
    surface_delete(surface);
}

TEST(Surface, FailedPixelAllocationLeavesNoBuffer) {
    Surface surface;
    surface_init(&surface, 0x80000000u, 4);
    EXPECT_EQ(surface.buffer, nullptr);
    EXPECT_EQ(surface_get_dc(&surface, 0), nullptr);
    EXPECT_EQ(surface_copy(&surface), nullptr);
    SurfaceLock lock{12, &surface};
    EXPECT_EQ(surface_lock(&surface, &lock, 0, nullptr), 0);
    EXPECT_EQ(lock.address, nullptr);
    surface_release(&surface);
}

TEST(Surface, LockGivesPitchAndPointAddress) {
    Surface* surface = surface_new(5, 4);
    SurfaceLock lock{};
    EXPECT_EQ(surface_lock(surface, &lock, 0, nullptr), 1);
    EXPECT_EQ(lock.pitch, 12u);
    EXPECT_EQ(lock.address, surface->buffer->pixels);
    Point point{4, 3};
    EXPECT_EQ(surface_lock(surface, &lock, 0, &point), 1);
    EXPECT_EQ(lock.address, surface->buffer->pixels + 3 * 12 + 8);
    EXPECT_EQ(surface_unlock(surface, 0), 1);
    surface_delete(surface);
}

TEST(Surface, CopyEqualsTheSourceAndHasNoKey) {
    for (int32_t key : {-1, 0x0000, 0xF81F}) {
        Surface* source = surface_new(5, 3);
        fill_pattern(source->buffer, 0x0100);
        *source->buffer->at(0, 0) = uint16_t(key);
        *source->buffer->at(4, 2) = uint16_t(key);
        source->colour_key = key;
        Surface* copy = surface_copy(source);
        ASSERT_NE(copy, nullptr);
        ASSERT_NE(copy->buffer, source->buffer);
        EXPECT_EQ(copy->colour_key, -1);
        ASSERT_EQ(copy->buffer->width, 5u);
        ASSERT_EQ(copy->buffer->height, 3u);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(pixel(copy->buffer, x, y), pixel(source->buffer, x, y)) << "key " << key << " at " << x << "," << y;
        surface_delete(copy);
        surface_delete(source);
    }
}

TEST(Surface, SetBufferGoesToTheSavedBufferWhileADcIsOut) {
    Surface* surface = surface_new(4, 4);
    PixelBuffer* own = surface->buffer;
    PixelBuffer* other = pixel_buffer_create(4, 4);
    surface_set_buffer(surface, other);
    EXPECT_EQ(surface->buffer, other);
    surface_set_buffer(surface, own);

    HDC dc = surface_get_dc(surface, 1);
    ASSERT_NE(dc, nullptr);
    PixelBuffer* dib = surface->buffer;
    surface_set_buffer(surface, other);
    EXPECT_EQ(surface->buffer, dib);
    EXPECT_EQ(surface->saved_buffer, other);
    surface_set_buffer(surface, own);
    EXPECT_EQ(surface_release_dc(surface, dc), 1);
    EXPECT_EQ(surface->buffer, own);
    delete other;
    surface_delete(surface);
}

// Round trips through GDI: what the DIB holds on the way back, under each colour key.
TEST(Surface, DcRoundTripKeepsPixelsUnderTheKey) {
    struct Case {
        const char* name;
        int32_t key;
        uint32_t no_copy;
        uint16_t drawn;  // written into the DIB at (1, 1) while the DC is out
    };
    const Case cases[] = {
        {"no key, copied in, drawn", -1, 0, 0x07E0},
        {"no key, not copied in", -1, 1, 0x07E0},
        {"key 0, copied in, drawn in key colour", 0x0000, 0, 0x0000},
        {"key 0, flag outside the low 8 bits still copies in", 0x0000, 0x100, 0x001F},
        {"key 0, not copied in, drawn", 0x0000, 1, 0x001F},
        {"key magenta, copied in, untouched", 0xF81F, 0, 0xF81F},
        {"key magenta, drawn", 0xF81F, 0, 0x1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Surface* surface = surface_new(6, 3);
        fill_pattern(surface->buffer, 0x2000);
        *surface->buffer->at(2, 0) = uint16_t(c.key);  // a key-coloured pixel of the surface
        surface->colour_key = c.key;
        std::vector<uint16_t> before;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x) before.push_back(pixel(surface->buffer, x, y));

        PixelBuffer* own = surface->buffer;
        HDC dc = surface_get_dc(surface, c.no_copy);
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(surface->dc, dc);
        EXPECT_EQ(surface->saved_buffer, own);
        ASSERT_NE(surface->buffer, own);
        EXPECT_EQ(static_cast<DibBuffer*>(surface->buffer)->memory_dc, dc);
        bool copied = (c.no_copy & 0xFF) == 0;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(pixel(surface->buffer, x, y), copied ? before[y * 6 + x] : 0) << x << "," << y;
        *surface->buffer->at(1, 1) = c.drawn;

        EXPECT_EQ(surface_release_dc(surface, dc), 1);
        EXPECT_EQ(surface->buffer, own);
        EXPECT_EQ(surface->saved_buffer, nullptr);
        EXPECT_EQ(surface->dc, nullptr);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 6; ++x) {
                // A DIB pixel equal to the key leaves the surface's pixel; any other replaces it.
                uint16_t dib_value = copied ? before[y * 6 + x] : 0;
                if (x == 1 && y == 1) dib_value = c.drawn;
                uint16_t expected = (c.key >= 0 && dib_value == uint16_t(c.key)) ? before[y * 6 + x] : dib_value;
                EXPECT_EQ(pixel(surface->buffer, x, y), expected) << x << "," << y;
            }
        }
        surface_delete(surface);
    }
}

TEST(Surface, OnlyTheOutstandingDcIsTakenBack) {
    size_t objects_before = platform::gdi_object_count();
    Surface* surface = surface_new(3, 3);
    fill_pattern(surface->buffer, 0);
    PixelBuffer* own = surface->buffer;
    HDC dc = surface_get_dc(surface, 0);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(surface_get_dc(surface, 0), nullptr);  // one at a time
    EXPECT_EQ(surface_release_dc(surface, nullptr), 0);
    HDC foreign = CreateCompatibleDC(nullptr);
    EXPECT_EQ(surface_release_dc(surface, foreign), 0);
    EXPECT_EQ(surface->dc, dc);
    EXPECT_EQ(surface->saved_buffer, own);
    DeleteDC(foreign);
    EXPECT_EQ(surface_release_dc(surface, dc), 1);
    EXPECT_EQ(surface_release_dc(surface, dc), 0);  // already back
    surface_delete(surface);
    EXPECT_EQ(platform::gdi_object_count(), objects_before);
}

TEST(Surface, ReleaseWithADcOutCopiesTheDibBackFirst) {
    size_t objects_before = platform::gdi_object_count();
    // The surface's own buffer borrows this memory, so its pixels can be read after release.
    std::vector<uint16_t> memory(4 * 2, 0x0421);
    Surface surface;
    surface_wrap(&surface, pixel_buffer_wrap(memory.data(), 4, 2, 8));
    HDC dc = surface_get_dc(&surface, 0);
    ASSERT_NE(dc, nullptr);
    *surface.buffer->at(3, 1) = 0xBEEF;
    surface_release(&surface);
    EXPECT_EQ(surface.buffer, nullptr);
    EXPECT_EQ(surface.dc, nullptr);
    EXPECT_EQ(memory[7], 0xBEEF);
    EXPECT_EQ(memory[0], 0x0421);
    EXPECT_EQ(platform::gdi_object_count(), objects_before);
}
