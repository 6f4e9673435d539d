// The mixer without a device: sample voice volume, pan, clipping, 8/16-bit and mono/stereo
// output, module channels, silence, and the end of a sample.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/media/resources.h"
#include "sound/mixer.h"
#include "sound/sound.h"

using namespace sound;

namespace {

void add32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }
void add16(std::vector<uint8_t>& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); }

// A PCM RIFF WAVE holding frames copies of one frame (left, right for stereo); 8-bit
// values are the stored unsigned bytes.
std::vector<uint8_t> constant_wav(uint32_t bits, uint32_t channels, uint32_t rate, int32_t left, int32_t right,
                                  uint32_t frames) {
    std::vector<uint8_t> data;
    for (uint32_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < channels; ++c) {
            int32_t v = c == 0 ? left : right;
            if (bits == 8) data.push_back(static_cast<uint8_t>(v));
            else add16(data, static_cast<uint16_t>(v));
        }
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    add32(b, 36 + static_cast<uint32_t>(data.size()));
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
    add32(b, 16);
    add16(b, 1);
    add16(b, channels);
    add32(b, rate);
    add32(b, rate * channels * bits / 8);
    add16(b, channels * bits / 8);
    add16(b, bits);
    for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
    add32(b, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// A system with tables and voices but no device: mix() is called directly.
struct Bench {
    SoundSystem system;
    Bench(uint32_t rate, bool stereo, bool sixteen) {
        system.prepare_tables(rate, stereo, sixteen);
        system.create_voices(1, 8);
        system.initialised = 1;
    }
    ~Bench() { system.initialised = 0; }
    // The first output frame of a buffer of frames frames, as (left, right).
    std::vector<int32_t> mix_frames(uint32_t frames) {
        uint32_t per_sample = system.sixteen_bit ? 2 : 1, channels = system.stereo ? 2 : 1;
        std::vector<uint8_t> out(frames * per_sample * channels);
        mix(system, out.data(), static_cast<uint32_t>(out.size()));
        std::vector<int32_t> values;
        for (size_t i = 0; i < out.size() / per_sample; ++i) {
            if (per_sample == 2) {
                int16_t v;
                std::memcpy(&v, &out[2 * i], 2);
                values.push_back(v);
            } else {
                values.push_back(out[i]);
            }
        }
        return values;
    }
};

TEST(Mixer, SampleVoicesByVolumePanAndFormat) {
    struct Case {
        const char* name;
        bool stereo_out, sixteen_out;
        uint32_t bits, channels;
        int32_t left, right;        // the sample's frame
        uint32_t volume, pan, master, voices;
        int32_t out_left, out_right;  // the first output frame (right unused for mono)
    };
    const Case cases[] = {
        {"full scale, mono out", false, true, 16, 1, 32767, 0, 64, 128, 64, 1, 16383, 0},
        {"full scale, stereo out, centre", true, true, 16, 1, 32767, 0, 64, 128, 64, 1, 16383, 16383},
        {"pan 0 all left", true, true, 16, 1, 32767, 0, 64, 0, 64, 1, 32767, 0},
        {"pan 255 nearly all right", true, true, 16, 1, 32767, 0, 64, 255, 64, 1, 255, 32511},
        {"stereo voice centre keeps its sides", true, true, 16, 2, 1000, -3000, 64, 128, 64, 1, 500, -1500},
        {"stereo voice pan 127 sums its sides", true, true, 16, 2, 1000, -3000, 64, 127, 64, 1, -1016, -985},
        {"stereo voice into mono out", false, true, 16, 2, 1000, -3000, 64, 128, 64, 1, -1000, 0},
        {"8-bit voice", false, true, 8, 1, 255, 0, 64, 128, 64, 1, 16256, 0},
        {"8-bit stereo voice", true, true, 8, 2, 0, 192, 64, 128, 64, 1, -16384, 8192},
        {"8-bit output", false, false, 16, 1, 32767, 0, 64, 128, 64, 1, 191, 0},
        {"8-bit stereo output", true, false, 16, 1, -32768, 0, 64, 128, 64, 1, 64, 64},
        {"volume 32", false, true, 16, 1, 32767, 0, 32, 128, 64, 1, 8191, 0},
        {"volume 0", false, true, 16, 1, 32767, 0, 0, 128, 64, 1, 0, 0},
        {"master volume 32", false, true, 16, 1, 32767, 0, 64, 128, 32, 1, 8191, 0},
        {"three voices clip high", false, true, 16, 1, 32767, 0, 64, 128, 64, 3, 32767, 0},
        {"three voices clip low", true, true, 16, 1, -32768, 0, 64, 128, 64, 3, -32768, -32768},
        {"three voices clip 8-bit", false, false, 16, 1, 32767, 0, 64, 128, 64, 3, 255, 0},
        {"two voices sum before the shift", false, true, 16, 1, 32767, 0, 64, 128, 64, 2, 32767, 0},
        {"two voices below clipping", false, true, 16, 1, 20000, 0, 64, 128, 64, 2, 20000, 0},
    };
    for (const Case& c : cases) {
        Bench bench(22050, c.stereo_out, c.sixteen_out);
        SoundSample sample;
        std::vector<uint8_t> wav = constant_wav(c.bits, c.channels, 22050, c.left, c.right, 64);
        ASSERT_EQ(sample.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy), 0) << c.name;
        bench.system.set_sample_volume(c.master);
        for (uint32_t v = 0; v < c.voices; ++v) {
            int32_t id = bench.system.play_sample(&sample, play_any_voice);
            ASSERT_GE(id, 1) << c.name;
            Voice* voice = bench.system.voice_lookup(id);
            voice->set_volume(c.volume);
            voice->set_pan(c.pan);
        }
        std::vector<int32_t> out = bench.mix_frames(4);
        EXPECT_EQ(out[0], c.out_left) << c.name;
        if (c.stereo_out) EXPECT_EQ(out[1], c.out_right) << c.name;
        // The same frame repeats: one sample frame per output frame at the sample's rate.
        EXPECT_EQ(out[c.stereo_out ? 6 : 3], c.out_left) << c.name;
    }
}

TEST(Mixer, NothingPlayingIsSilence) {
    const struct { bool stereo, sixteen; uint32_t bytes; uint8_t value; } cases[] = {
        {false, false, 448, 0x80}, {true, false, 440, 0x80}, {false, true, 888, 0}, {true, true, 3528, 0}};
    for (const auto& c : cases) {
        Bench bench(22050, c.stereo, c.sixteen);
        std::vector<uint8_t> out(c.bytes, 0x5A);
        mix(bench.system, out.data(), c.bytes);
        for (uint32_t i = 0; i < c.bytes; ++i) ASSERT_EQ(out[i], c.value) << "byte " << i << " of " << c.bytes;
    }
    // A null user value mixes nothing.
    std::vector<uint8_t> out(16, 0x5A);
    mix_callback(nullptr, out.data(), 16);
    EXPECT_EQ(out[0], 0x5A);
}

TEST(Mixer, SampleEndsOrLoops) {
    Bench bench(22050, false, true);
    SoundSample sample;
    std::vector<uint8_t> wav = constant_wav(16, 1, 22050, 1000, 0, 3);
    ASSERT_EQ(sample.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy), 0);
    int32_t id = bench.system.play_sample(&sample, play_any_voice);
    std::vector<int32_t> out = bench.mix_frames(6);
    EXPECT_EQ(out, (std::vector<int32_t>{500, 500, 500, 0, 0, 0}));
    EXPECT_TRUE(bench.system.voice_lookup(id)->stopped);

    sample.set_loop(1);
    id = bench.system.play_sample(&sample, play_any_voice);
    out = bench.mix_frames(7);
    EXPECT_EQ(out, (std::vector<int32_t>(7, 500)));
    EXPECT_TRUE(bench.system.voice_lookup(id)->is_playing());

    // Twice the sample's rate reads every other frame.
    bench.system.voice_lookup(id)->set_frequency(44100);
    EXPECT_EQ(static_cast<SampleVoice*>(bench.system.voice_lookup(id))->position % 256, 0u);
    bench.mix_frames(1);
    EXPECT_EQ(static_cast<SampleVoice*>(bench.system.voice_lookup(id))->step, 512u);
}

// A 4-channel module whose sample 1 is a constant byte; row 0 plays it on one channel at
// period 428 with the sample's full volume.
std::vector<uint8_t> one_note_module(uint32_t channel, int8_t value) {
    std::vector<uint8_t> m(1084 + 4 * 64 * 4 + 64, 0);
    std::memcpy(&m[20 + 22], "\x00\x20\x00\x40\x00\x00\x00\x01", 8);   // 32 words, volume 64, no loop
    m[950] = 1;
    m[951] = 127;
    std::memcpy(&m[1080], "M.K.", 4);
    uint8_t* note = &m[1084 + channel * 4];
    note[0] = 0x01;   // period 428 = 0x1AC, sample 1
    note[1] = 0xAC;
    note[2] = 0x10;
    for (int i = 0; i < 64; ++i) m[1084 + 1024 + i] = static_cast<uint8_t>(value);
    return m;
}

TEST(Mixer, ModuleChannelsByPanAndFormat) {
    struct Case {
        const char* name;
        bool stereo_out, sixteen_out;
        uint32_t channel;
        int8_t value;
        int32_t out_left, out_right;
    };
    // Module pan 255 puts even channels at 64 and odd ones at 192.
    const Case cases[] = {
        {"even channel, stereo", true, true, 0, 100, 9600, 3200},
        {"odd channel, stereo", true, true, 1, 100, 3200, 9600},
        {"mono output", false, true, 0, 100, 6400, 0},
        {"negative sample", false, true, 2, -128, -8192, 0},
        {"8-bit stereo output", true, false, 0, 100, 165, 140},
    };
    for (const Case& c : cases) {
        Bench bench(44100, c.stereo_out, c.sixteen_out);
        MusicModule module;
        std::vector<uint8_t> bytes = one_note_module(c.channel, c.value);
        ASSERT_EQ(module.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), load_copy), 0) << c.name;
        ASSERT_EQ(bench.system.play_module(&module, play_any_voice), 0) << c.name;
        std::vector<int32_t> out = bench.mix_frames(2);
        EXPECT_EQ(out[0], c.out_left) << c.name;
        if (c.stereo_out) EXPECT_EQ(out[1], c.out_right) << c.name;
        bench.system.stop_voices_of(&module);
        EXPECT_FALSE(bench.system.module_players[0].is_playing()) << c.name;
    }
}

TEST(Mixer, MusicAndEffectsAddBeforeClipping) {
    Bench bench(44100, false, true);
    MusicModule module;
    std::vector<uint8_t> bytes = one_note_module(0, 100);
    ASSERT_EQ(module.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), load_copy), 0);
    SoundSample sample;
    std::vector<uint8_t> wav = constant_wav(16, 1, 44100, 32767, 0, 16);
    ASSERT_EQ(sample.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy), 0);
    bench.system.play_module(&module, play_any_voice);
    bench.system.play_sample(&sample, play_any_voice);
    EXPECT_EQ(bench.mix_frames(1)[0], 6400 + 16383);
    bench.system.play_sample(&sample, play_any_voice);
    EXPECT_EQ(bench.mix_frames(1)[0], 32767);
}

}  // namespace

namespace {

TEST(SoundResources, ModulesAndSamplesLoadFromProgramResources) {
    std::vector<uint8_t> module_bytes = one_note_module(0, 100);
    std::vector<uint8_t> wav = constant_wav(16, 1, 22050, 1000, 0, 10);
    platform::register_resource(nullptr, u"PTMOD", MAKEINTRESOURCEW(7), module_bytes.data(),
                                static_cast<uint32_t>(module_bytes.size()));
    platform::register_resource(nullptr, u"WAVE", MAKEINTRESOURCEW(3), wav.data(), static_cast<uint32_t>(wav.size()));
    const struct { const char* name; bool module; uint32_t id; int32_t result; } cases[] = {
        {"module 7", true, 7, 0}, {"module 3 is a sample's number", true, 3, sound_not_found},
        {"sample 3", false, 3, 0}, {"sample 7 is a module's number", false, 7, sound_not_found},
        {"beyond 16 bits", false, 0x10003, sound_not_found}};
    for (const auto& c : cases) {
        MusicModule module;
        SoundSample sample;
        int32_t result = c.module ? module.load_resource(nullptr, c.id, load_copy) : sample.load_resource(nullptr, c.id, 0);
        EXPECT_EQ(result, c.result) << c.name;
        if (result == 0 && c.module) EXPECT_EQ(module_channel_count(module.module_data, module.data_size), 4u) << c.name;
        if (result == 0 && !c.module) EXPECT_EQ(sample.length, 10u) << c.name;
    }
}

}  // namespace
