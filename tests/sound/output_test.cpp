// The sound system with its output device and thread: init limits and failures, buffer
// sizes per rate, bytes captured through the stepping sink, suspension, and play, stop and
// free from this thread while the output thread mixes.
#include <gtest/gtest.h>

#include "eventually.h"

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/backend/audio/stepping_sink.h"
#include "platform/media/wave_out.h"
#include "sound/sound.h"
#include "sound/wave_out_device.h"

using namespace sound;

namespace {

void put_le32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }
void put_le16(std::vector<uint8_t>& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); }

std::vector<uint8_t> wav16_mono(uint32_t rate, const std::vector<int16_t>& frames) {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    put_le32(b, 36 + static_cast<uint32_t>(frames.size() * 2));
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
    put_le32(b, 16);
    put_le16(b, 1);
    put_le16(b, 1);
    put_le32(b, rate);
    put_le32(b, rate * 2);
    put_le16(b, 2);
    put_le16(b, 16);
    for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
    put_le32(b, static_cast<uint32_t>(frames.size() * 2));
    for (int16_t f : frames) put_le16(b, static_cast<uint16_t>(f));
    return b;
}

// Full-range pseudo-random frames, so that every bit of the shift shows.
std::vector<int16_t> noise(size_t count) {
    std::vector<int16_t> frames(count);
    uint32_t state = 12345;
    for (int16_t& f : frames) {
        state = state * 1103515245u + 12345u;
        f = static_cast<int16_t>(state >> 16);
    }
    return frames;
}

size_t thread_count() {
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}


void use_sink(const char* name) {
    setenv("ZRK_AUDIO", name, 1);
    platform::audio_stepping_reset();
}

TEST(SoundOutput, BufferCountsAndSizesPerRate) {
    use_sink("null");
    struct Case { uint32_t length_ms, rate, bits, stereo, count, bytes; };
    const Case cases[] = {
        {160, 44100, 16, 1, 8, 3528},   // already a multiple of 8
        {160, 22050, 8, 0, 8, 448},     // 441 rounded up
        {60, 22050, 16, 0, 4, 888},
        {120, 11025, 8, 1, 6, 448},
        {100, 11025, 8, 1, 4, 448},     // 1,102 samples are 99 ms: 4 buffers
        {1000, 44100, 16, 0, 32, 1768},  // at most 32 buffers
        {5000, 8000, 12, 1, 32, 640},    // any depth but 8 is 16-bit
    };
    for (const Case& c : cases) {
        SoundSystem system;
        ASSERT_EQ(system.set_buffer_length(c.length_ms), 0);
        ASSERT_EQ(system.init(c.rate, c.bits, c.stereo, 1, 8), 0) << c.rate;
        auto* device = static_cast<WaveOutDevice*>(system.device);
        EXPECT_EQ(device->buffer_count_value(), c.count) << c.length_ms << " ms at " << c.rate;
        EXPECT_EQ(device->bytes_per_buffer_value(), c.bytes) << c.length_ms << " ms at " << c.rate;
        EXPECT_EQ(system.sixteen_bit, c.bits == 8 ? 0u : 1u);
        EXPECT_EQ(system.stereo, c.stereo);
        system.shutdown();
    }
}

TEST(SoundOutput, InitClampsVoicesAndRefusesRepeats) {
    use_sink("null");
    const struct { uint32_t modules, voices, players, samples; } cases[] = {
        {0, 4, 1, 8}, {7, 100, 3, 64}, {2, 20, 2, 20}};
    for (const auto& c : cases) {
        SoundSystem system;
        ASSERT_EQ(system.init(22050, 16, 0, c.modules, c.voices), 0);
        EXPECT_EQ(system.get_module_player_count(), c.players) << c.modules;
        EXPECT_EQ(system.get_sample_voice_count(), c.samples) << c.voices;
        EXPECT_EQ(system.get_music_volume(), 64u);
        EXPECT_NE(system.voice_lookup(static_cast<int32_t>(c.players + c.samples - 1)), nullptr);
        EXPECT_EQ(system.voice_lookup(static_cast<int32_t>(c.players + c.samples)), nullptr);
        EXPECT_EQ(system.voice_lookup(-1), nullptr);
        EXPECT_EQ(system.init(22050, 16, 0, 1, 8), sound_already_initialised);
        EXPECT_EQ(system.set_buffer_length(500), sound_already_initialised);
        EXPECT_EQ(system.get_buffer_length(), 160u);
    }
    SoundSystem system;
    EXPECT_EQ(system.set_buffer_length(59), sound_buffer_too_short);
    EXPECT_EQ(system.set_buffer_length(60), 0);
}

TEST(SoundOutput, FailedInitLeavesNoThreadOrDevice) {
    use_sink("null");
    size_t threads = thread_count();
    SoundSystem system;
    // Rate 0 would divide by zero; above the device's range nothing could play.
    EXPECT_EQ(system.init(0, 16, 0, 1, 8), sound_bad_output);
    EXPECT_EQ(system.init(2000000, 16, 0, 1, 8), sound_bad_output);
    EXPECT_EQ(system.device, nullptr);
    EXPECT_TRUE(eventually([&] { return thread_count() <= threads; })) << thread_count();

    // The one waveOut device is taken: the half-opened device ends its thread.
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    HWAVEOUT taken = nullptr;
    ASSERT_EQ(waveOutOpen(&taken, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    threads = thread_count();
    EXPECT_EQ(system.init(22050, 16, 0, 1, 8), sound_bad_output);
    EXPECT_EQ(system.initialised, 0);
    EXPECT_TRUE(eventually([&] { return thread_count() <= threads; })) << thread_count();
    waveOutClose(taken);
    EXPECT_EQ(system.init(22050, 16, 0, 1, 8), 0);
    system.shutdown();

    SoundSystem::DeviceFactory saved = SoundSystem::device_factory;
    SoundSystem::device_factory = [] { return static_cast<OutputDevice*>(nullptr); };
    EXPECT_EQ(system.init(22050, 16, 0, 1, 8), sound_device_allocation_failed);
    SoundSystem::device_factory = saved;
}

// A 16-bit mono WAV at the mix rate, volume 64, pan 128, into 16-bit mono output: each
// output sample is the sample's value shifted right by one.
TEST(SoundOutput, CapturedBytesAreTheSampleHalved) {
    use_sink("stepping");
    SoundSystem system;
    ASSERT_EQ(system.init(22050, 16, 0, 1, 8), 0);
    const uint32_t buffer_bytes = 888, buffers = 8;
    std::vector<int16_t> frames = noise(5000);
    std::vector<uint8_t> wav = wav16_mono(22050, frames);
    SoundSample sample;
    ASSERT_EQ(sample.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy), 0);
    int32_t id = system.play_sample(&sample, play_any_voice);
    ASSERT_GE(id, 1);
    Voice* voice = system.voice_lookup(id);
    voice->set_volume(64);
    voice->set_pan(128);

    // The queued buffers were silence; each one the sink takes comes back mixed.
    const uint32_t taken = buffers + 12;   // past the end of the sample
    platform::audio_stepping_complete(taken);
    ASSERT_TRUE(eventually([&] { return platform::audio_stepping_played().size() == taken * buffer_bytes; }));
    std::vector<uint8_t> played = platform::audio_stepping_played();
    for (uint32_t i = 0; i < buffers * buffer_bytes; ++i) ASSERT_EQ(played[i], 0) << "silent byte " << i;
    const uint32_t mixed = (taken - buffers) * buffer_bytes / 2;
    for (uint32_t i = 0; i < mixed; ++i) {
        int16_t value;
        std::memcpy(&value, &played[buffers * buffer_bytes + 2 * i], 2);
        int16_t expected = i < frames.size() ? static_cast<int16_t>(frames[i] >> 1) : 0;
        ASSERT_EQ(value, expected) << "output sample " << i;
    }
    EXPECT_TRUE(voice->stopped);
    system.shutdown();
}

TEST(SoundOutput, SuspendedOutputMixesNothingMore) {
    use_sink("stepping");
    SoundSystem system;
    ASSERT_EQ(system.init(22050, 16, 0, 1, 8), 0);
    std::vector<uint8_t> wav = wav16_mono(22050, noise(20000));
    SoundSample sample;
    ASSERT_EQ(sample.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy), 0);
    auto* voice = static_cast<SampleVoice*>(system.voice_lookup(system.play_sample(&sample, play_any_voice)));
    ASSERT_NE(voice, nullptr);
    const uint64_t per_buffer = 444 * 256;

    platform::audio_stepping_complete(3);
    ASSERT_TRUE(eventually([&] { system.lock(); bool done = voice->position >= 3 * per_buffer; system.unlock(); return done; }));
    system.sound_suspend();
    system.sound_suspend();   // a second suspend does nothing
    system.lock();
    uint64_t held = voice->position;
    system.unlock();
    size_t played = platform::audio_stepping_played().size();
    platform::audio_stepping_complete(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    system.lock();
    EXPECT_EQ(voice->position, held);
    system.unlock();
    EXPECT_EQ(platform::audio_stepping_played().size(), played);

    system.sound_resume();
    system.sound_resume();
    ASSERT_TRUE(eventually([&] { system.lock(); bool done = voice->position >= held + 5 * per_buffer; system.unlock(); return done; }));
    EXPECT_EQ(system.suspended, 0);
    system.shutdown();
}

// A 4-channel module with a looping sample and a note on each channel, so that it plays
// for as long as it is left.
std::vector<uint8_t> looping_module() {
    std::vector<uint8_t> m(1084 + 1024 + 256, 0);
    std::memcpy(&m[20 + 22], "\x00\x80\x00\x40\x00\x00\x00\x80", 8);
    m[950] = 1;
    m[951] = 0;
    std::memcpy(&m[1080], "M.K.", 4);
    for (int c = 0; c < 4; ++c) {
        m[1084 + c * 4] = 0x01;
        m[1084 + c * 4 + 1] = 0xAC;
        m[1084 + c * 4 + 2] = 0x10;
    }
    for (int i = 0; i < 256; ++i) m[1084 + 1024 + i] = static_cast<uint8_t>(i * 7);
    return m;
}

// Twenty init/shutdown cycles; in each, modules and samples (an Ogg stream among them
// when one is installed) are played, stopped, paused, freed and loaded again while the
// output thread mixes as fast as the sink takes buffers.
TEST(SoundOutput, CyclesWithVoicesChangingWhileMixing) {
    use_sink("stepping");
    platform::audio_stepping_complete(1000000);
    // One cycle first, for the platform's own threads that start on first use.
    SoundSystem warm;
    ASSERT_EQ(warm.init(22050, 16, 0, 1, 8), 0);
    warm.shutdown();
    size_t threads = thread_count();
    std::vector<uint8_t> module_bytes = looping_module();
    std::vector<uint8_t> wav = wav16_mono(22050, noise(3000));
    const char16_t* ogg = u"/usr/share/sounds/freedesktop/stereo/bell.oga";
    SoundSystem system;
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(system.init(22050, cycle % 2 ? 8 : 16, cycle % 3 == 0 ? 1 : 0, 2, 8), 0) << cycle;
        MusicModule module;
        SoundSample samples[3];
        ASSERT_EQ(module.load_memory(module_bytes.data(), static_cast<uint32_t>(module_bytes.size()), load_copy), 0);
        module.set_loop(1);
        for (SoundSample& s : samples) {
            ASSERT_EQ(s.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy), 0);
            s.set_loop(1);
        }
        bool have_ogg = samples[2].load_file(ogg, 0) == 0;
        for (int round = 0; round < 30; ++round) {
            system.play_module(&module, play_any_voice);
            for (SoundSample& s : samples) system.play_sample(&s, play_any_voice);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            Voice* v = system.voice_lookup(2 + round % 8);
            if (v) { v->pause_voice(); v->set_volume(round); v->set_pan(round * 9); v->resume_voice(); }
            if (v) v->stop();
            if (v) v->stop();   // stopping twice is harmless
            // Freeing an asset: its voices stop first, then its data goes.
            SoundSample& freed = samples[round % 3];
            system.stop_voices_of(&freed);
            freed.unload();
            if (&freed == &samples[2] && have_ogg) freed.load_file(ogg, 0);
            else freed.load_memory(wav.data(), static_cast<uint32_t>(wav.size()), load_copy);
            if (round % 5 == 0) {
                system.stop_voices_of(&module);
                module.load_memory(module_bytes.data(), static_cast<uint32_t>(module_bytes.size()), load_copy);
            }
            if (round % 7 == 0) { system.sound_suspend(); system.sound_resume(); }
            if (round % 11 == 0) system.stop_all_samples();
        }
        // The assets go out of scope only after the voices that read them have stopped.
        system.shutdown();
    }
    // The device's own thread may take a moment to go after its close.
    EXPECT_TRUE(eventually([&] { return thread_count() <= threads; })) << thread_count() << " threads, " << threads << " before";
    EXPECT_FALSE(platform::audio_stepping_played().empty());
}

}  // namespace
