// Present speed: 240 x 320 frames shown through each video driver of the simulated
// devices, in frames per second and as a multiple of one memcpy of the frame. The direct
// drivers should stay within 1.5x of memcpy, the rotation wrapper within 3x.
//   present_speed [frames]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "display/display_core.h"
#include "tests/display/support/device_session.h"
#include "bench/bench_clock.h"

using namespace display;
using namespace display_test;

namespace {

using bench::median;
const auto now_seconds = bench::wall_seconds;

volatile uint8_t sink;

// Seconds per frame copy of 240 x 320 x 2 bytes.
double memcpy_seconds(int frames) {
    std::vector<uint8_t> from(240 * 320 * 2, 1), to(240 * 320 * 2);
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        from[size_t(i) % from.size()] = uint8_t(i);
        double start = now_seconds();
        std::memcpy(to.data(), from.data(), from.size());
        times.push_back(now_seconds() - start);
        sink = to[size_t(i) % to.size()];
    }
    return median(times);
}

struct Subject {
    const char* device;
    int32_t orientation;
    const char* what;
};

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    if (frames < 3) frames = 3;
    install_fake_window_system();
    double copy = memcpy_seconds(frames);
    std::printf("%-12s %-3s %-34s %10s %8s\n", "device", "o", "driver", "frames/s", "x memcpy");
    std::printf("%-12s %-3s %-34s %10.0f %8.2f\n", "-", "-", "memcpy of the frame", 1.0 / copy, 1.0);
    const Subject subjects[] = {
        {"pocketpc", 0, "XScale LCD, back buffer copied"},
        {"pocketpc", 1, "XScale LCD, turned in tiles"},
        {"ipaq3800", 0, "StrongARM LCD, turned in tiles"},
        {"vga", 0, "raw frame buffer (480x640)"},
        {"raw-o2", 0, "raw frame buffer, half turn"},
        {"gapi-o2", 0, "GAPI, half turn"},
        {"gapi-dram", 0, "GAPI DRAM buffer"},
        {"gxinfo", 0, "GETGXINFO with DMA"},
        {"imageon", 0, "Imageon overlay"},
        {"mediaq", 0, "MediaQ in SlowFB, whole frame new"},
    };
    for (const Subject& subject : subjects) {
        use_device(subject.device);
        FakeWindow window;
        DisplayParameters parameters{0, 0, subject.orientation, 1};
        std::unique_ptr<Display> shown(Display::Create(handle_of(window), &parameters));
        if (!shown) {
            std::printf("%-12s %-3d %-34s %10s\n", subject.device, subject.orientation, subject.what, "no display");
            continue;
        }
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            double start = now_seconds();
            if (!shown->BeginScene()) break;
            double drawn = now_seconds();
            PixelBuffer* back = shown->GetBackBuffer();
            // A new picture each frame (not timed): every word differs from the last frame.
            for (uint32_t y = 0; y < back->height; ++y)
                std::memset(back->row(int32_t(y)), (i * 7 + int(y)) & 0xFF, size_t(back->width) * 2);
            double restart = now_seconds();
            shown->Update(nullptr);
            shown->Swap(0);
            times.push_back((drawn - start) + (now_seconds() - restart));
        }
        double scale = double(parameters.width) * parameters.height / (240.0 * 320.0);
        double per_frame = median(times);
        std::printf("%-12s %-3d %-34s %10.0f %8.2f\n", subject.device, subject.orientation, subject.what,
                    1.0 / per_frame, per_frame / (copy * scale));
    }
    return 0;
}
