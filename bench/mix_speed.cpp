// Mixing speed: seconds of 4-channel module audio mixed per second of CPU time, for our
// mixer and for libxmp rendering the same module at the same rate and format.
//   mix_speed [module.mod] [seconds of audio]
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

#include "sound/mixer.h"
#include "sound/sound.h"

#ifdef ZRK_HAVE_LIBXMP
#include <xmp.h>
#include "bench/bench_clock.h"
#endif

namespace {

using bench::cpu_seconds;

constexpr uint32_t rate = 44100;
constexpr uint32_t buffer_bytes = 3528;   // 20 ms of 16-bit stereo

// Our mixer, straight into one buffer over and over (no device, as the output thread would).
double our_speed(std::vector<uint8_t>& bytes, uint32_t buffers) {
    sound::SoundSystem system;
    system.prepare_tables(rate, true, true);
    system.create_voices(1, 8);
    system.initialised = 1;
    sound::MusicModule module;
    if (module.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0) != 0) return -1;
    module.set_loop(1);
    if (system.play_module(&module, sound::play_any_voice) != 0) return -1;
    std::vector<uint8_t> out(buffer_bytes);
    double start = cpu_seconds();
    for (uint32_t i = 0; i < buffers; ++i) sound::mix(system, out.data(), buffer_bytes);
    double spent = cpu_seconds() - start;
    system.initialised = 0;
    return buffers * 0.02 / spent;
}

#ifdef ZRK_HAVE_LIBXMP
double xmp_speed(std::vector<uint8_t>& bytes, uint32_t buffers) {
    xmp_context context = xmp_create_context();
    if (xmp_load_module_from_memory(context, bytes.data(), static_cast<long>(bytes.size())) != 0) return -1;
    xmp_start_player(context, rate, 0);
    // Ours takes the nearest sample, without interpolation.
    xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_NEAREST);
    std::vector<uint8_t> out(buffer_bytes);
    double start = cpu_seconds();
    // Loop count 0: the module repeats, as ours does.
    for (uint32_t i = 0; i < buffers; ++i) xmp_play_buffer(context, out.data(), buffer_bytes, 0);
    double spent = cpu_seconds() - start;
    xmp_end_player(context);
    xmp_release_module(context);
    xmp_free_context(context);
    return buffers * 0.02 / spent;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "/usr/share/games/tecnoballz/musics/area1-game.mod";
    double seconds = argc > 2 ? std::atof(argv[2]) : 600;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.empty()) {
        std::fprintf(stderr, "mix_speed: cannot read %s (tecnoballz-data installs the modules)\n", path);
        return 1;
    }
    uint32_t buffers = static_cast<uint32_t>(seconds / 0.02);
    std::printf("module %s, %.0f s of 44100 Hz 16-bit stereo\n", path, seconds);
    double ours = our_speed(bytes, buffers);
    if (ours < 0) {
        std::fprintf(stderr, "mix_speed: %s is not a module we play\n", path);
        return 1;
    }
    std::printf("zrk mixer: %10.1f s of audio per CPU second\n", ours);
#ifdef ZRK_HAVE_LIBXMP
    double theirs = xmp_speed(bytes, buffers);
    if (theirs > 0) std::printf("libxmp:    %10.1f s of audio per CPU second (ours is %.2fx)\n", theirs, ours / theirs);
#else
    std::printf("libxmp:    not installed\n");
#endif
    return 0;
}
