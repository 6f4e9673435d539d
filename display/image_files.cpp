// Image files: mapping, decoding through the imaging component, bitmap resources, and
// BMP files written from surfaces.
#include "display/image_files.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/dib_pixels.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/wide_string.h"
#include "platform/media/imaging.h"
#include "platform/media/resources.h"

namespace display {

namespace {

constexpr size_t longest_path = 260;

// name, or the program's folder followed by name, then suffix; false when the program's
// path has no folder or the whole would pass the path limit.
bool resolve_path(const char16_t* name, const char16_t* suffix, char16_t* out) {
    std::u16string path;
    if (!platform::path_in_program_folder(name, path)) return false;
    path += suffix;
    if (path.size() >= longest_path) return false;
    std::memcpy(out, path.c_str(), (path.size() + 1) * sizeof(char16_t));
    return true;
}

void put16(uint8_t* at, uint16_t value) { std::memcpy(at, &value, 2); }
void put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }

Surface* bitmap_resource(const char16_t* name, HMODULE module) {
    HBITMAP bitmap = LoadBitmapW(module, name);
    if (bitmap == nullptr) return nullptr;
    Surface* surface = surface_from_bitmap(bitmap);
    DeleteObject(bitmap);
    return surface;
}

}  // namespace

bool mapped_file_open(MappedFile* file, const char16_t* name) {
    mapped_file_close(file);
    char16_t path[longest_path + 1];
    if (name == nullptr || !resolve_path(name, u"", path)) return false;
    file->file = CreateFileForMappingW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file->file == INVALID_HANDLE_VALUE) return false;
    file->mapping = CreateFileMappingW(file->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (file->mapping != nullptr) {
        file->view = static_cast<const uint8_t*>(MapViewOfFile(file->mapping, FILE_MAP_READ, 0, 0, 0));
        if (file->view != nullptr) {
            file->end = file->view + GetFileSize(file->file, nullptr);
            return true;
        }
    }
    mapped_file_close(file);
    return false;
}

void mapped_file_close(MappedFile* file) {
    if (file->view != nullptr) UnmapViewOfFile(file->view);
    if (file->mapping != nullptr) CloseHandle(file->mapping);
    if (file->file != INVALID_HANDLE_VALUE && file->file != nullptr) CloseHandle(file->file);
    *file = MappedFile{INVALID_HANDLE_VALUE, nullptr, nullptr, nullptr};
}

Surface* image_load_file(const char16_t* name) {
    MappedFile file{INVALID_HANDLE_VALUE, nullptr, nullptr, nullptr};
    Surface* surface = nullptr;
    if (mapped_file_open(&file, name)) surface = image_decode_memory(file.view, file.end);
    mapped_file_close(&file);
    return surface;
}

Surface* image_decode_memory(const uint8_t* begin, const uint8_t* end) {
    if (begin == nullptr || end < begin) return nullptr;
    IImagingFactory* factory = nullptr;
    if (platform::imaging_factory_create(&factory) != S_OK) return nullptr;
    IImage* image = nullptr;
    Surface* surface = nullptr;
    ImageInfo info{};
    if (factory->CreateImageFromBuffer(begin, UINT(end - begin), BufferDisposalFlagNone, &image) == S_OK &&
        image->GetImageInfo(&info) == S_OK) {
        surface = surface_new(info.Width, info.Height);
        HDC dc = surface != nullptr ? surface_get_dc(surface, 1) : nullptr;
        RECT whole{0, 0, LONG(info.Width), LONG(info.Height)};
        if (dc != nullptr && image->Draw(dc, &whole, nullptr) == S_OK) {
            surface_release_dc(surface, dc);
        } else {
            if (dc != nullptr) surface_release_dc(surface, dc);
            surface_delete(surface);
            surface = nullptr;
        }
    }
    if (image != nullptr) image->Release();
    factory->Release();
    return surface;
}

Surface* image_load_resource(const char16_t* name, const char16_t* type, HMODULE module) {
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    if (IS_INTRESOURCE(type) && reinterpret_cast<uintptr_t>(type) == 2) return bitmap_resource(name, module);
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return bitmap_resource(name, module);
    auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
    if (bytes == nullptr) return nullptr;
    return image_decode_memory(bytes, bytes + SizeofResource(module, found));
}

Surface* surface_from_bitmap(HBITMAP bitmap) {
    platform::DibPixels source{};
    if (!platform::bitmap_pixels(bitmap, &source)) return nullptr;
    Surface* surface = surface_new(uint32_t(source.width), uint32_t(source.height));
    if (surface == nullptr || surface->buffer == nullptr) return surface;
    PixelBuffer* target = surface->buffer;
    for (LONG y = 0; y < source.height; ++y) {
        const uint8_t* line = source.bits + size_t(source.top_down ? y : source.height - 1 - y) * source.pitch;
        uint16_t* out = target->row(y);
        for (LONG x = 0; x < source.width; ++x) {
            if (source.bit_count == 16) {
                std::memcpy(&out[x], line + 2 * x, 2);
            } else {
                const uint8_t* p = line + size_t(x) * (source.bit_count / 8);
                out[x] = uint16_t(((p[2] & 0xF8) << 8) | ((p[1] & 0xFC) << 3) | (p[0] >> 3));
            }
        }
    }
    return surface;
}

int surface_save_bmp(Surface* surface, const char16_t* name) {
    if (surface == nullptr || name == nullptr) return 0;
    char16_t path[longest_path + 1];
    if (!resolve_path(name, u".bmp", path)) return 0;
    SurfaceLock lock{};
    if (!surface_lock(surface, &lock, 0, nullptr)) return 0;
    const PixelBuffer* pixels = surface->buffer;
    uint32_t w = pixels->width, h = pixels->height;
    uint32_t row = (2 * w + 3) & ~3u;
    uint64_t image_bytes = uint64_t(row) * h;
    int result = 0;
    if (image_bytes + 66 <= 0x7FFFFFFFu) {
        std::vector<uint8_t> header(66, 0);
        put16(&header[0], 0x4D42);
        put32(&header[2], uint32_t(66 + image_bytes));
        put32(&header[10], 66);
        put32(&header[14], 40);
        put32(&header[18], w);
        put32(&header[22], h);
        put16(&header[26], 1);
        put16(&header[28], 16);
        put32(&header[30], 3);
        put32(&header[34], uint32_t(image_bytes));
        put32(&header[54], 0xF800);
        put32(&header[58], 0x07E0);
        put32(&header[62], 0x001F);
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            bool ok = WriteFile(file, header.data(), 66, &written, nullptr) && written == 66;
            std::vector<uint8_t> line(row, 0);
            for (uint32_t y = h; ok && y-- > 0;) {
                std::memcpy(line.data(), pixels->row(int32_t(y)), 2 * size_t(w));
                ok = WriteFile(file, line.data(), row, &written, nullptr) && written == row;
            }
            CloseHandle(file);
            if (ok) result = 1;
            else DeleteFileW(path);
        }
    }
    surface_unlock(surface, 0);
    return result;
}

}  // namespace display
