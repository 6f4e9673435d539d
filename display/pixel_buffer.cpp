// Pixel buffers: allocation, wrapping, and DIB-section buffers GDI can draw into.
#include "display/pixel_buffer.h"

#include <new>

#include "platform/kernel/memory.h"

namespace display {

namespace {

// Pixel blocks larger than this cannot exist in a 32-bit process; refusing them keeps
// pitch * height from wrapping into a small block that rows would then overrun.
constexpr uint64_t largest_pixel_block = 0x7FFFFFFFu;

bool size_fits(uint32_t width, uint32_t height) {
    uint64_t pitch = (2 * uint64_t(width) + 3) & ~uint64_t(3);
    return pitch * height <= largest_pixel_block;
}

}  // namespace

PixelBuffer::~PixelBuffer() {
    if (owns_pixels) crt::free(pixels);
}

DibBuffer::~DibBuffer() {
    if (memory_dc != nullptr) DeleteDC(memory_dc);
    if (bitmap != nullptr) DeleteObject(bitmap);
}

void pixel_buffer_init(PixelBuffer* buffer, uint32_t width, uint32_t height, uint32_t pitch, void* pixels,
                       bool owns) {
    buffer->width = width;
    buffer->height = height;
    buffer->pitch = pitch;
    buffer->pixels = static_cast<uint8_t*>(pixels);
    buffer->owns_pixels = owns ? 1 : 0;
}

PixelBuffer* pixel_buffer_create(uint32_t width, uint32_t height) {
    if (!size_fits(width, height)) return nullptr;
    uint32_t pitch = pixel_pitch(width);
    // A zero-sized buffer still gets a block, so that a null pixel address always means
    // a failed allocation.
    uint32_t bytes = pitch * height;
    void* pixels = crt::malloc(bytes != 0 ? bytes : 1);
    if (pixels == nullptr) return nullptr;
    auto* buffer = new (std::nothrow) PixelBuffer;
    if (buffer == nullptr) {
        crt::free(pixels);
        return nullptr;
    }
    pixel_buffer_init(buffer, width, height, pitch, pixels, true);
    return buffer;
}

PixelBuffer* pixel_buffer_wrap(void* pixels, uint32_t width, uint32_t height, uint32_t pitch) {
    auto* buffer = new (std::nothrow) PixelBuffer;
    if (buffer == nullptr) return nullptr;
    pixel_buffer_init(buffer, width, height, pitch, pixels, false);
    return buffer;
}

DibBuffer* dib_buffer_create(uint32_t width, uint32_t height) {
    if (!size_fits(width, height) || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return nullptr;
    auto* buffer = new (std::nothrow) DibBuffer;
    if (buffer == nullptr) return nullptr;

    // The header and the three RGB565 channel masks that follow it.
    struct {
        BITMAPINFOHEADER header;
        DWORD masks[3];
    } info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = LONG(width);
    info.header.biHeight = -LONG(height);  // top-down rows
    info.header.biPlanes = 1;
    info.header.biBitCount = 16;
    info.header.biCompression = BI_BITFIELDS;
    info.header.biSizeImage = width * height * 2;
    info.masks[0] = 0xF800;
    info.masks[1] = 0x07E0;
    info.masks[2] = 0x001F;

    void* pixels = nullptr;
    buffer->bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      &pixels, nullptr, 0);
    HDC screen = GetDC(nullptr);
    buffer->memory_dc = CreateCompatibleDC(screen);
    if (buffer->memory_dc != nullptr && buffer->bitmap != nullptr) SelectObject(buffer->memory_dc, buffer->bitmap);
    ReleaseDC(nullptr, screen);
    pixel_buffer_init(buffer, width, height, pixel_pitch(width), pixels, false);
    if (pixels == nullptr || buffer->bitmap == nullptr || buffer->memory_dc == nullptr) {
        delete buffer;
        return nullptr;
    }
    return buffer;
}

}  // namespace display
