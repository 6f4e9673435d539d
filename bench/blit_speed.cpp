// Blit speed: megapixels per second of CPU time for the main blitter kernels on a
// 240 x 320 back buffer (the device's screen) from a 64 x 64 sprite, each beside memcpy
// or memset of the same rows, the yardstick the kernels are held to.
//   blit_speed [repetitions]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>

#include "display/display_layer.h"
#include "bench/bench_clock.h"

using namespace display;

namespace {

using bench::cpu_seconds;

void fill(PixelBuffer* buffer, uint32_t seed) {
    for (uint32_t y = 0; y < buffer->height; ++y)
        for (uint32_t x = 0; x < buffer->width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            *buffer->at(x, y) = uint16_t(seed >> 16);
        }
}

// Inverts every pixel: the cost of a filter call, not of a filter.
class InvertFilter final : public PixelFilter {
 public:
    uint16_t filter_pixel(uint16_t pixel, uint16_t) override { return uint16_t(~pixel); }
};

volatile uint16_t sink;

double rate(uint64_t pixels_per_run, int runs, const std::function<void()>& run, const PixelBuffer* screen) {
    run();  // warm the caches
    double start = cpu_seconds();
    for (int i = 0; i < runs; ++i) run();
    double spent = cpu_seconds() - start;
    sink = *screen->at(0, 0);
    return double(pixels_per_run) * runs / spent / 1e6;
}

// Prints the kernel's rate and its ratio to the yardstick's rate over the same rows.
void measure(const char* name, uint64_t pixels_per_run, int runs, const std::function<void()>& run,
             const PixelBuffer* screen, double yardstick) {
    double mpixels = rate(pixels_per_run, runs, run, screen);
    std::printf("%-32s %9.1f Mpixel/s %6.3fx\n", name, mpixels, mpixels / yardstick);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::unique_ptr<PixelBuffer> screen(pixel_buffer_create(240, 320));
    std::unique_ptr<PixelBuffer> sprite(pixel_buffer_create(64, 64));
    std::unique_ptr<PixelBuffer> alpha(pixel_buffer_create(64, 64));
    fill(screen.get(), 1);
    fill(sprite.get(), 2);
    fill(alpha.get(), 3);
    *sprite->at(5, 5) = 0xF81F;

    CopyBlitter& copy = *copy_blitter();
    BlendBlitter blend(128);
    InvertFilter invert;
    FilterBlitter filter(&invert);
    const Rect whole_sprite{0, 0, 64, 64};
    const uint64_t sprite_pixels = 64 * 64 * 12;  // twelve sprites per run
    auto sprites = [&](const std::function<void(Point)>& draw) {
        return [draw] {
            for (int i = 0; i < 12; ++i) draw(Point{(i % 3) * 64 + 8, (i / 3) * 64 + 16});
        };
    };

    // The yardsticks: memset of the rows a fill writes, memcpy of the rows a sprite blit copies.
    const double memset_whole = rate(240 * 320, runs, [&] {
        for (uint32_t y = 0; y < 320; ++y) std::memset(screen->row(int32_t(y)), 0x12, 240 * 2);
    }, screen.get());
    const double memset_rect = rate(200 * 300, runs, [&] {
        for (int32_t y = 10; y < 310; ++y) std::memset(screen->at(20, y), 0x43, 200 * 2);
    }, screen.get());
    const double memcpy_sprites = rate(sprite_pixels, runs, sprites([&](Point at) {
        for (int32_t y = 0; y < 64; ++y) std::memcpy(screen->at(at.x, at.y + y), sprite->at(0, y), 64 * 2);
    }), screen.get());
    std::printf("%-32s %9.1f Mpixel/s\n%-32s %9.1f Mpixel/s\n%-32s %9.1f Mpixel/s\n", "memset whole screen",
                memset_whole, "memset 200x300", memset_rect, "memcpy sprite rows", memcpy_sprites);

    measure("copy clear", 240 * 320, runs, [&] { copy.clear(screen.get(), 0x1234); }, screen.get(), memset_whole);
    measure("copy fill_rect", 200 * 300, runs, [&] { copy.fill_rect(screen.get(), Rect{20, 10, 220, 310}, 0x4321); },
            screen.get(), memset_rect);
    measure("copy blit", sprite_pixels, runs,
            sprites([&](Point at) { copy.blit(screen.get(), at, sprite.get(), whole_sprite); }), screen.get(), memcpy_sprites);
    measure("copy blit_keyed", sprite_pixels, runs,
            sprites([&](Point at) { copy.blit_keyed(screen.get(), at, sprite.get(), whole_sprite, 0xF81F); }),
            screen.get(), memcpy_sprites);
    measure("blend blit", sprite_pixels, runs,
            sprites([&](Point at) { blend.blit(screen.get(), at, sprite.get(), whole_sprite); }), screen.get(), memcpy_sprites);
    measure("blend blit_keyed", sprite_pixels, runs,
            sprites([&](Point at) { blend.blit_keyed(screen.get(), at, sprite.get(), whole_sprite, 0xF81F); }),
            screen.get(), memcpy_sprites);
    measure("filter blit, a filter class", sprite_pixels, runs,
            sprites([&](Point at) { filter.blit(screen.get(), at, sprite.get(), whole_sprite); }), screen.get(), memcpy_sprites);
    // The game's own filter with one tint (a light level), the common case.
    PixelFilter tint;
    pixel_filter_reset(&tint);
    tint.enabled = 1;
    tint.tint1_colour = 0;
    tint.tint1_level = 96;
    FilterBlitter tinted(&tint);
    measure("filter blit, one tint", sprite_pixels, runs,
            sprites([&](Point at) { tinted.blit(screen.get(), at, sprite.get(), whole_sprite); }), screen.get(),
            memcpy_sprites);
    measure("copy blit_alpha_map", sprite_pixels, runs,
            sprites([&](Point at) { copy.blit_alpha_map(screen.get(), at, sprite.get(), alpha.get(), whole_sprite); }),
            screen.get(), memcpy_sprites);
    measure("blend blit_alpha_map", sprite_pixels, runs,
            sprites([&](Point at) { blend.blit_alpha_map(screen.get(), at, sprite.get(), alpha.get(), whole_sprite); }),
            screen.get(), memcpy_sprites);
    measure("filter blit_alpha_map, one tint", sprite_pixels, runs,
            sprites([&](Point at) { tinted.blit_alpha_map(screen.get(), at, sprite.get(), alpha.get(), whole_sprite); }),
            screen.get(), memcpy_sprites);
    // A sprite stretched 3x over most of the screen.
    const TransformMatrix stretch{(64 << 10) / 192, 0, 0, (64 << 10) / 192, 0, 0};
    measure("copy blit_transformed", 192 * 192, runs,
            [&] { copy.blit_transformed(screen.get(), Rect{0, 0, 192, 192}, stretch, sprite.get()); }, screen.get(), memcpy_sprites);
    measure("blend blit_transformed", 192 * 192, runs,
            [&] { blend.blit_transformed(screen.get(), Rect{0, 0, 192, 192}, stretch, sprite.get()); }, screen.get(), memcpy_sprites);
    return 0;
}
