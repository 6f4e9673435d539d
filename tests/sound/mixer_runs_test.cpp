// The mixer sums a module's channels a tick at a time: on real modules, in every output
// format and at several rates and buffer sizes, its bytes must equal those of mixing one
// frame at a time (each frame: advance the player, then read each channel's sample).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sound/mixer.h"
#include "sound/sound.h"

using namespace sound;

namespace {

const char* const module_folder = "/usr/share/games/tecnoballz/musics/";
const char* const module_names[] = {"area1-game.mod", "area3-game.mod", "gardien-go.mod", "tecnoballz.mod",
                                    "high-score.mod"};

int32_t clip(int32_t value, int32_t low, int32_t high) { return value < low ? low : (value > high ? high : value); }

// One frame at a time, module players only.
void mix_frame_by_frame(SoundSystem& system, uint8_t* buffer, uint32_t byte_count) {
    const bool sixteen = system.sixteen_bit != 0, stereo = system.stereo != 0;
    uint32_t frames = (sixteen ? byte_count / 2 : byte_count) / (stereo ? 2 : 1);
    int16_t* out16 = reinterpret_cast<int16_t*>(buffer);
    for (uint32_t frame = 0; frame < frames; ++frame) {
        int32_t left = 0, right = 0;
        for (uint32_t p = 0; p < system.module_player_count; ++p) {
            ModulePlayer& player = system.module_players[p];
            if (!player.is_playing() || !player.advance_frame()) continue;
            for (uint32_t index = 0; index < player.channels; ++index) {
                ModuleChannel& c = player.channel[index];
                const ModuleSampleEntry& s = player.samples[c.sample_number];
                if (s.data == nullptr) continue;
                if (s.loop_length != 0 && c.position >= s.loop_start + s.loop_length)
                    c.position = s.loop_start + (c.position - s.loop_start) % s.loop_length;
                if (c.position >= s.length) continue;
                int32_t v = s.data[c.position >> 16];
                int32_t e = static_cast<int32_t>(c.effective_volume);
                int32_t right_share = (e * static_cast<int32_t>(c.pan)) >> 8;
                if (stereo) {
                    left += (e - right_share) * 2 * v;
                    right += right_share * 2 * v;
                } else {
                    left += e * v;
                }
                c.position += c.step;
            }
        }
        if (sixteen) {
            *out16++ = static_cast<int16_t>(clip(left, -32768, 32767));
            if (stereo) *out16++ = static_cast<int16_t>(clip(right, -32768, 32767));
        } else {
            *buffer++ = static_cast<uint8_t>(clip(left >> 8, -128, 127) + 128);
            if (stereo) *buffer++ = static_cast<uint8_t>(clip(right >> 8, -128, 127) + 128);
        }
    }
}

struct Player {
    SoundSystem system;
    MusicModule module;
    Player(const std::vector<uint8_t>& bytes, uint32_t rate, bool stereo, bool sixteen, bool loop) {
        system.prepare_tables(rate, stereo, sixteen);
        system.create_voices(2, 8);
        system.initialised = 1;
        EXPECT_EQ(module.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0), 0);
        module.set_loop(loop ? 1 : 0);
        EXPECT_EQ(system.play_module(&module, play_any_voice), 0);
    }
    ~Player() { system.initialised = 0; }
};

}  // namespace

TEST(MixerRuns, EqualFrameByFrameMixingOnRealModules) {
    struct Format {
        uint32_t rate;
        bool stereo, sixteen, loop;
        uint32_t buffer_bytes;  // odd sizes split ticks and frames anywhere
    };
    const Format formats[] = {
        {44100, true, true, true, 3528},  {22050, true, true, false, 1000}, {11025, false, true, true, 998},
        {44100, false, false, true, 301}, {8000, true, false, false, 4096}, {44100, true, true, false, 36},
        // Rates so low that steps are huge and wrap.
        {40, true, true, true, 64},
    };
    int compared = 0;
    for (const char* name : module_names) {
        std::ifstream in(std::string(module_folder) + name, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        if (bytes.empty()) continue;
        for (const Format& f : formats) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(f.rate) + (f.stereo ? " stereo " : " mono ") +
                         (f.sixteen ? "16" : "8") + "-bit, buffers of " + std::to_string(f.buffer_bytes));
            Player runs(bytes, f.rate, f.stereo, f.sixteen, f.loop);
            Player frames(bytes, f.rate, f.stereo, f.sixteen, f.loop);
            // Half a minute of music, or the whole song when it ends first.
            uint32_t frame_bytes = (f.stereo ? 2 : 1) * (f.sixteen ? 2 : 1);
            uint64_t buffers = uint64_t{f.rate} * 30 * frame_bytes / f.buffer_bytes;
            std::vector<uint8_t> got(f.buffer_bytes), want(f.buffer_bytes);
            for (uint64_t buffer = 0; buffer < buffers; ++buffer) {
                if (buffer == buffers / 2) {
                    // A jump in the song, as a script would make it between buffers.
                    runs.system.module_players[0].set_position(64 + 10);
                    frames.system.module_players[0].set_position(64 + 10);
                }
                mix(runs.system, got.data(), f.buffer_bytes);
                mix_frame_by_frame(frames.system, want.data(), f.buffer_bytes);
                ASSERT_EQ(std::memcmp(got.data(), want.data(), f.buffer_bytes), 0) << "in buffer " << buffer;
                if (!frames.system.module_players[0].is_playing()) break;
            }
            ++compared;
        }
    }
    if (compared == 0) GTEST_SKIP() << "no modules in " << module_folder << ": install tecnoballz-data (scripts/install-deps.sh)";
}
