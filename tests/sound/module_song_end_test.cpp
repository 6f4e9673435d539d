// Small modules rendered through the mixer: the song's last row, patterns named only in
// unused order slots, damaged sample volumes and a song of length 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "sound/mixer.h"
#include "sound/sound.h"
#include "module_image.h"

#include "xmp_ticks.h"

using namespace sound;

namespace {

constexpr uint32_t sample_words = 256;
constexpr size_t row_frames = 6 * 883 + 1;    // read to read at speed 6, 50 ticks/s, 44.1 kHz
constexpr size_t song_frames = 64 * row_frames - 1;   // one pattern; the frame that would read on is not played

// Sample 1 as a looping square wave of full scale, stored after the given number of patterns.
void fill_square_sample(ModuleImage& image, uint32_t patterns, uint8_t volume = 64) {
    image.bytes[20 + 25] = volume;
    image.bytes[20 + 28] = static_cast<uint8_t>(sample_words >> 8);   // loop over the whole sample
    image.bytes[20 + 29] = static_cast<uint8_t>(sample_words);
    uint8_t* data = &image.bytes[1084 + patterns * image.channels * 256];
    for (uint32_t i = 0; i < sample_words * 2; ++i) data[i] = (i / 16) % 2 ? 0x81 : 0x7F;
}

struct Render {
    std::vector<int16_t> frames;   // 16-bit mono, one per frame the player played
    bool stopped;
};

// Plays the module through the mixer one frame at a time until it stops (or max_frames).
Render render(const std::vector<uint8_t>& bytes, uint8_t loop = 0, size_t max_frames = 4 * song_frames) {
    SoundSystem system;
    system.prepare_tables(44100, false, true);
    system.create_voices(1, 8);
    system.initialised = 1;
    MusicModule module;
    module.set_loop(loop);
    Render result{{}, false};
    if (module.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0) != 0) return result;
    if (system.play_module(&module, play_any_voice) != 0) return result;
    ModulePlayer& player = system.module_players[0];
    while (result.frames.size() < max_frames) {
        int16_t frame = 0;
        mix(system, &frame, 2);
        if (!player.is_playing()) break;
        result.frames.push_back(frame);
    }
    result.stopped = player.stopped != 0;
    return result;
}

bool silent(const std::vector<int16_t>& frames, size_t from, size_t to) {
    for (size_t i = from; i < to && i < frames.size(); ++i)
        if (frames[i] != 0) return false;
    return true;
}

#ifdef ZRK_HAVE_LIBXMP
// Ticks libxmp plays before the song ends or loops.
size_t xmp_tick_count(std::vector<uint8_t> bytes) {
    size_t ticks = 0;
    auto load = [&](xmp_context context) {
        return xmp_load_module_from_memory(context, bytes.data(), static_cast<long>(bytes.size()));
    };
    xmp_play_ticks(load, [&](const xmp_frame_info&) { return ++ticks < 100000; });
    return ticks;
}
#endif

}  // namespace

TEST(ModuleSongEnd, TheLastRowPlaysAllItsTicksAndDelays) {
    struct Case {
        const char* name;
        uint32_t speed;         // set on the last row (0: stays 6)
        uint32_t delay;         // EEx on the last row
        size_t ticks;           // ticks of the whole song
    };
    const Case cases[] = {
        {"plain last row", 0, 0, 64 * 6},
        {"pattern delay on the last row", 0, 2, 63 * 6 + 3 * 6},
        {"speed 3 and a pattern delay on the last row", 3, 2, 63 * 6 + 3 * 3},
        {"speed 15 and delay 15 (a long ending)", 15, 15, 63 * 6 + 16 * 15},
    };
    for (const Case& c : cases) {
        ModuleImage image("M.K.", 4, {0}, 1, sample_words);
        fill_square_sample(image, 1);
        image.note(0, 63, 0, 1, 428, 0, 0);
        if (c.delay) image.note(0, 63, 1, 0, 0, 14, 0xE0 | c.delay);
        if (c.speed) image.note(0, 63, 2, 0, 0, 15, c.speed);
        Render r = render(image.bytes);
        ASSERT_TRUE(r.stopped) << c.name;
        // Every tick takes 883 frames, and every read of a row one more.
        size_t row_passes = 63 + c.delay + 1;
        EXPECT_EQ(r.frames.size(), c.ticks * 883 + row_passes - 1) << c.name;
        size_t last_row = 63 * row_frames;
        EXPECT_TRUE(silent(r.frames, 0, last_row)) << c.name;
        EXPECT_FALSE(silent(r.frames, last_row, last_row + 100)) << c.name;
        EXPECT_FALSE(silent(r.frames, r.frames.size() - 100, r.frames.size())) << c.name << ": the note sounds to the end";
#ifdef ZRK_HAVE_LIBXMP
        EXPECT_EQ(xmp_tick_count(image.bytes), c.ticks) << c.name;
#endif
    }
}

TEST(ModuleSongEnd, PatternsNamedOnlyInUnusedOrderSlotsAreSkipped) {
    ModuleImage plain("M.K.", 4, {0}, 1, sample_words);
    fill_square_sample(plain, 1);
    plain.note(0, 0, 0, 1, 428, 0, 0);
    plain.note(0, 10, 1, 1, 214, 0, 0);

    // The same song with a second, stored pattern that only slot 5 names.
    ModuleImage extra("M.K.", 4, {0}, 2, sample_words);
    fill_square_sample(extra, 2);
    extra.bytes[952 + 5] = 1;
    std::copy(plain.bytes.begin() + 1084, plain.bytes.begin() + 1084 + 1024, extra.bytes.begin() + 1084);
    for (uint32_t row = 0; row < 64; ++row) extra.note(1, row, row % 4, 1, 856, 12, 0x40);

    EXPECT_EQ(module_stored_pattern_count(extra.bytes.data(), static_cast<uint32_t>(extra.bytes.size()), 4), 2u);
    Render expected = render(plain.bytes);
    Render got = render(extra.bytes);
    ASSERT_EQ(expected.frames.size(), song_frames);
    EXPECT_FALSE(silent(expected.frames, 0, 100));
    EXPECT_TRUE(got.frames == expected.frames);

    // A file too short to hold the extra pattern with its samples counts as it did before:
    // by the used order entries.
    std::vector<uint8_t> cut(extra.bytes.begin(), extra.bytes.end() - 1);
    EXPECT_EQ(module_stored_pattern_count(cut.data(), static_cast<uint32_t>(cut.size()), 4), 1u);
    MusicModule module;
    ASSERT_EQ(module.load_memory(cut.data(), static_cast<uint32_t>(cut.size()), 1), 0);
    EXPECT_EQ(module.data_size, 1084u + 1024 + sample_words * 2);
}

TEST(ModuleSongEnd, SampleVolumesAbove64AreTaken64) {
    std::vector<int16_t> reference;
    for (uint8_t volume : {uint8_t{64}, uint8_t{65}, uint8_t{0xFF}}) {
        ModuleImage image("M.K.", 4, {0}, 1, sample_words);
        fill_square_sample(image, 1, volume);
        for (uint32_t channel = 0; channel < 4; ++channel) image.note(0, 0, channel, 1, 428, 0, 0);
        Render r = render(image.bytes);
        ASSERT_EQ(r.frames.size(), song_frames) << int{volume};
        // Four channels at full volume sum to 4 x 64 x 127 at most: below the clipping level.
        int16_t peak = 0;
        for (int16_t v : r.frames) peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(v)));
        EXPECT_EQ(peak, 4 * 64 * 127) << int{volume};
        if (volume == 64) reference = r.frames;
        else EXPECT_TRUE(r.frames == reference) << int{volume};
    }
}

TEST(ModuleSongEnd, SongLengthZeroPlaysOneSilentPattern) {
    struct Case {
        const char* name;
        uint32_t patterns;      // stored, named by order slots 0 .. patterns - 1
        uint8_t loop;
    };
    const Case cases[] = {
        {"one stored pattern", 1, 0},
        {"three stored patterns", 3, 0},
        {"looping", 2, 1},
    };
    for (const Case& c : cases) {
        ModuleImage image("M.K.", 4, {}, c.patterns, sample_words);
        fill_square_sample(image, c.patterns);
        for (uint32_t p = 0; p < c.patterns; ++p) {
            image.bytes[952 + p] = static_cast<uint8_t>(p);
            for (uint32_t row = 0; row < 64; ++row) image.note(p, row, row % 4, 1, 428, 0, 0);
        }
        Render r = render(image.bytes, c.loop);
        EXPECT_TRUE(silent(r.frames, 0, r.frames.size())) << c.name;
        if (c.loop) {
            EXPECT_FALSE(r.stopped) << c.name;
            EXPECT_EQ(r.frames.size(), 4 * song_frames) << c.name;
        } else {
            EXPECT_TRUE(r.stopped) << c.name;
            EXPECT_EQ(r.frames.size(), song_frames) << c.name;
        }
    }
}
