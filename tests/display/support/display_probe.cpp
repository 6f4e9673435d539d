// Writes what the display library does, for the independent checks in check_display.py:
//   frames DIR        for every device profile: DIR/PROFILE.ids (the drivers found, in
//                     order) and, for each orientation it offers, the picture drawn and
//                     the screen the panel then shows (PROFILE-oN-drawn.bin, -panel.bin);
//                     on a device only GDI serves, the screen it drew on
//   decode DIR FILE.. each image decoded to DIR/NAME.bin (a NAME.fail file when refused)
//   save DIR          surfaces saved as DIR/NAME.bmp with their pixels in DIR/NAME.bin
// A .bin file holds width and height (32-bit little-endian) then the RGB565 pixels.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "display/display_core.h"
#include "display/image_files.h"
#include "tests/display/support/device_session.h"

using namespace display;
using namespace display_test;

namespace {

void write_bin(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint16_t>& pixels) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&width), 4);
    out.write(reinterpret_cast<const char*>(&height), 4);
    out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size() * 2));
}

std::vector<uint16_t> buffer_pixels(const PixelBuffer* buffer) {
    std::vector<uint16_t> pixels;
    for (uint32_t y = 0; y < buffer->height; ++y)
        for (uint32_t x = 0; x < buffer->width; ++x) pixels.push_back(*buffer->at(int32_t(x), int32_t(y)));
    return pixels;
}

int frames(const std::string& dir) {
    use_platform_window_system();
    for (const std::string& profile : display_profiles()) {
        use_device(profile);
        platform::destroy_all_windows();
        HWND window = full_screen_window();
        const VideoDetect& found = video_detect();
        {
            std::ofstream ids(dir + "/" + profile + ".ids");
            for (int32_t i = 0; i < found.driver_count; ++i) ids << (i ? " " : "") << found.drivers[i];
            ids << "\n";
        }
        for (int32_t m = 0; m < found.mode_count; ++m) {
            int32_t orientation = found.modes[m].orientation;
            DisplayParameters parameters{0, 0, orientation, 1};
            Display* shown = Display::Create(window, &parameters);
            if (shown == nullptr) continue;
            if (!shown->BeginScene()) {
                delete shown;
                continue;
            }
            PixelBuffer* back = shown->GetBackBuffer();
            for (uint32_t y = 0; y < back->height; ++y)
                for (uint32_t x = 0; x < back->width; ++x) *back->at(int32_t(x), int32_t(y)) = pattern_pixel(x, y, 7);
            std::vector<uint16_t> drawn = buffer_pixels(back);
            shown->Update(nullptr);
            shown->Swap(0);
            int32_t width = 0, height = 0;
            // Only GDI found: the picture goes to the screen through the window.
            std::vector<uint16_t> panel =
                found.driver_count == 1 ? screen_pixels(&width, &height) : panel_pixels(&width, &height);
            std::string stem = dir + "/" + profile + "-o" + std::to_string(orientation);
            write_bin(stem + "-drawn.bin", back->width, back->height, drawn);
            write_bin(stem + "-panel.bin", uint32_t(width), uint32_t(height), panel);
            delete shown;
        }
    }
    return 0;
}

int decode(const std::string& dir, int count, char** files) {
    for (int i = 0; i < count; ++i) {
        std::string path = files[i];
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string name = path.substr(path.find_last_of('/') + 1);
        Surface* surface = image_decode_memory(bytes.data(), bytes.data() + bytes.size());
        if (surface == nullptr || surface->buffer == nullptr) {
            std::ofstream(dir + "/" + name + ".fail") << "refused\n";
            surface_delete(surface);
            continue;
        }
        write_bin(dir + "/" + name + ".bin", surface->buffer->width, surface->buffer->height,
                  buffer_pixels(surface->buffer));
        surface_delete(surface);
    }
    return 0;
}

int save(const std::string& dir) {
    setenv("ZRK_ROOT", dir.c_str(), 1);
    struct Shape {
        const char* name;
        uint32_t width;
        uint32_t height;
    };
    for (Shape shape : {Shape{"three_by_two", 3, 2}, Shape{"odd", 37, 21}, Shape{"even", 64, 8}}) {
        Surface* surface = surface_new(shape.width, shape.height);
        for (uint32_t y = 0; y < shape.height; ++y)
            for (uint32_t x = 0; x < shape.width; ++x)
                *surface->buffer->at(int32_t(x), int32_t(y)) = pattern_pixel(x, y, shape.width);
        std::string device_name = std::string("\\") + shape.name;
        std::u16string wide(device_name.begin(), device_name.end());
        if (!surface_save_bmp(surface, wide.c_str())) {
            std::fprintf(stderr, "save of %s failed\n", shape.name);
            return 1;
        }
        write_bin(dir + "/" + shape.name + ".bin", shape.width, shape.height, buffer_pixels(surface->buffer));
        surface_delete(surface);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "frames") == 0) return frames(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "decode") == 0) return decode(argv[2], argc - 3, argv + 3);
    if (argc >= 3 && std::strcmp(argv[1], "save") == 0) return save(argv[2]);
    std::fprintf(stderr, "usage: display_probe frames|decode|save DIR [FILE...]\n");
    return 2;
}
