// Module sequencing against libxmp on real modules from a Debian package: per tick the
// order, row, speed, and each channel's sample, volume and period.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sound/sound.h"

#include "xmp_ticks.h"

using namespace sound;

namespace {

struct TickState {
    int order, row, tick, speed;
    std::vector<int> sample, volume, period, effect;
};

const char* const module_folder = "/usr/share/games/tecnoballz/musics/";
const char* const module_names[] = {"area1-game.mod", "area2-game.mod", "area3-game.mod", "area4-game.mod",
                                    "gardien-go.mod", "tecnoballz.mod", "over-theme.mod", "high-score.mod"};
constexpr size_t max_ticks = 6000;

std::vector<TickState> our_ticks(const std::vector<uint8_t>& bytes) {
    std::vector<TickState> ticks;
    SoundSystem system;
    system.prepare_tables(44100, true, true);
    system.create_voices(1, 8);
    system.initialised = 1;
    MusicModule module;
    if (module.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0) != 0) return ticks;
    if (system.play_module(&module, play_any_voice) != 0) return ticks;
    ModulePlayer& p = system.module_players[0];
    int order = 0, row = 0, tick = 0;
    while (ticks.size() < max_ticks) {
        bool reads = p.tick_counter == p.speed;
        bool effects = !reads && p.frame_counter >= p.samples_per_tick && p.tick_counter + 1 != p.speed;
        int order_before = static_cast<int>(p.order_position), row_before = static_cast<int>(p.current_row());
        bool playing = p.advance_frame();
        if (!reads && !effects) {
            if (!playing) break;
            continue;
        }
        if (reads) {
            // A pattern delay repeats the row's ticks without reading it again.
            if (p.pattern_delay == 0 || tick != 0) { order = order_before; row = row_before; }
            tick = 0;
        } else {
            ++tick;
        }
        TickState s{order, row, tick, static_cast<int>(p.speed), {}, {}, {}, {}};
        for (uint32_t c = 0; c < p.channels; ++c) {
            s.sample.push_back(static_cast<int>(p.channel[c].sample_number));
            s.volume.push_back(static_cast<int>(p.channel[c].volume));
            s.period.push_back(static_cast<int>(p.channel[c].period));
            s.effect.push_back(static_cast<int>(p.channel[c].effect));
        }
        ticks.push_back(s);
        if (!playing) break;
    }
    return ticks;
}

#ifdef ZRK_HAVE_LIBXMP
std::vector<TickState> xmp_ticks(const std::string& path, uint32_t channels) {
    std::vector<TickState> ticks;
    auto load = [&](xmp_context context) { return xmp_load_module(context, path.c_str()); };
    xmp_play_ticks(load, [&](const xmp_frame_info& info) {
        TickState s{info.pos, info.row, info.frame, info.speed, {}, {}, {}, {}};
        for (uint32_t c = 0; c < channels; ++c) {
            const xmp_channel_info& ch = info.channel_info[c];
            s.sample.push_back(ch.instrument == 0xFF ? 0 : ch.instrument + 1);
            s.volume.push_back(ch.volume);
            s.period.push_back(static_cast<int>((ch.period + 2048) / 4096));
        }
        ticks.push_back(s);
        return ticks.size() < max_ticks;
    });
    return ticks;
}
#endif

}  // namespace

TEST(ModuleOracle, TicksAgreeWithLibxmp) {
#ifndef ZRK_HAVE_LIBXMP
    GTEST_SKIP() << "libxmp-dev:i386 is not installed (scripts/install-deps.sh)";
#else
    int compared = 0;
    for (const char* name : module_names) {
        std::string path = std::string(module_folder) + name;
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<TickState> ours = our_ticks(bytes);
        ASSERT_FALSE(ours.empty()) << path;
        uint32_t channels = static_cast<uint32_t>(ours[0].sample.size());
        std::vector<TickState> theirs = xmp_ticks(path, channels);
        ASSERT_FALSE(theirs.empty()) << path;
        ++compared;
        size_t n = std::min(ours.size(), theirs.size());
        size_t volume_diff = 0, sample_diff = 0, period_diff = 0, checked = 0;
        for (size_t i = 0; i < n; ++i) {
            const TickState& a = ours[i];
            const TickState& b = theirs[i];
            ASSERT_EQ(a.order, b.order) << name << " tick " << i;
            ASSERT_EQ(a.row, b.row) << name << " tick " << i;
            ASSERT_EQ(a.tick, b.tick) << name << " tick " << i;
            ASSERT_EQ(a.speed, b.speed) << name << " tick " << i;
            for (uint32_t c = 0; c < channels; ++c) {
                ++checked;
                // libxmp names a channel's sample only once a note played on it.
                if (b.sample[c] != 0 && a.sample[c] != b.sample[c]) ++sample_diff;
                // libxmp shows 0 once a one-shot sample has played out or a note was cut;
                // here the channel keeps its volume (the mixer adds nothing past the
                // sample's end, and a cut clears only the effective volume).
                if (b.volume[c] != 0 && a.volume[c] != b.volume[c]) {
                    ++volume_diff;
                }
                // Vibrato changes only the step here; libxmp shows the vibrating period.
                bool vibrato = a.effect[c] == 4 || a.effect[c] == 6;
                if (!vibrato && b.period[c] != 0 && std::abs(a.period[c] - b.period[c]) > 1) {
                    ++period_diff;
                }
            }
        }
        std::printf("%s: %zu ticks (ours %zu, libxmp %zu); channel ticks differing: sample %zu, volume %zu, period %zu of %zu\n",
                    name, n, ours.size(), theirs.size(), sample_diff, volume_diff, period_diff, checked);
        EXPECT_EQ(sample_diff, 0u) << name;
        EXPECT_EQ(volume_diff, 0u) << name;
        EXPECT_EQ(period_diff, 0u) << name;
        // Both play the last row's ticks before the song ends.
        if (theirs.size() < max_ticks) EXPECT_EQ(ours.size(), theirs.size()) << name;
    }
    if (compared == 0) GTEST_SKIP() << "no modules in " << module_folder << ": install tecnoballz-data (scripts/install-deps.sh)";
#endif
}

TEST(ModuleFiles, RelativePathsTruncationsAndDamage) {
    std::string path = std::string(module_folder) + "tecnoballz.mod";
    std::ifstream in(path, std::ios::binary);
    if (!in) GTEST_SKIP() << "no " << path << ": install tecnoballz-data (scripts/install-deps.sh)";
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::string root = std::string(ZRK_TEST_BINARY_DIR) + "/module_root";
    std::system(("rm -rf " + root + " && mkdir -p " + root + "/Game").c_str());
    std::ofstream(root + "/Game/song.mod", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::ofstream(root + "/Game/empty.mod", std::ios::binary);
    setenv("ZRK_ROOT", root.c_str(), 1);
    setenv("ZRK_PROGRAM", "\\Game\\game.exe", 1);
    const struct { const char16_t* name; int32_t result; } cases[] = {
        {u"song.mod", 0}, {u"\\Game\\song.mod", 0}, {u"missing.mod", -200}, {u"empty.mod", -300},
    };
    for (auto c : cases) {
        MusicModule module;
        EXPECT_EQ(module.load_file(c.name), c.result) << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
    }
    unsetenv("ZRK_PROGRAM");
    unsetenv("ZRK_ROOT");

    // Cut and damaged copies load or are refused, and play without reading outside the data.
    SoundSystem system;
    system.prepare_tables(22050, false, false);
    system.create_voices(1, 8);
    system.initialised = 1;
    for (size_t size = 0; size <= bytes.size(); size += bytes.size() / 37 + 1) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + size);
        if (size > 1200) cut[1084 + size % 97] ^= 0xFF;      // a damaged note
        if (size > 960 && size % 2) {                         // no song, and an order naming a missing pattern
            cut[950] = 0;
            cut[952] = 0xFF;
        }
        MusicModule module;
        int32_t result = module.load_memory(cut.empty() ? nullptr : cut.data(), static_cast<uint32_t>(size), 0);
        ASSERT_TRUE(result == 0 || result == -100 || result == -10) << "size " << size;
        if (result != 0) continue;
        int id = system.play_module(&module, play_any_voice);
        ASSERT_EQ(id, 0);
        for (int frame = 0; frame < 200000 && system.module_players[0].advance_frame(); ++frame) {}
        system.module_players[0].stop();
    }
}
