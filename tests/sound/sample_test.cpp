// Samples against independent decoders (sox, Tremor used directly, oggdec), malformed
// files, and choosing and seeking sample voices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tremor/ivorbisfile.h>

#include "sound/sound.h"

using namespace sound;

namespace {

const std::string scratch = std::string(ZRK_TEST_BINARY_DIR) + "/sample_scratch";

bool have_tool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void put32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }
void put16(std::vector<uint8_t>& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); }

// A RIFF WAVE with a 16-byte PCM format chunk, optional chunks before "data".
std::vector<uint8_t> make_wav(uint32_t channels, uint32_t rate, uint32_t bits, const std::vector<uint8_t>& data,
                              const std::vector<uint8_t>& extra_chunk = {}, uint16_t tag = 1) {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    put32(b, 0);
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
    put32(b, 16);
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, channels * bits / 8);
    put16(b, bits);
    b.insert(b.end(), extra_chunk.begin(), extra_chunk.end());
    for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
    put32(b, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// A tone with some noise, as 16-bit little-endian bytes.
std::vector<uint8_t> tone(uint32_t frames, uint32_t channels) {
    std::vector<uint8_t> bytes;
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < frames * channels; ++i) {
        noise = noise * 1103515245 + 12345;
        int v = static_cast<int>(12000 * std::sin(i * 0.05 * (1 + i % channels))) + static_cast<int>((noise >> 16) % 2000) - 1000;
        put16(bytes, static_cast<uint32_t>(v));
    }
    return bytes;
}

std::vector<int16_t> as_samples(const uint8_t* bytes, size_t count) {
    std::vector<int16_t> out(count);
    std::memcpy(out.data(), bytes, count * 2);
    return out;
}

class SampleFiles : public ::testing::Test {
protected:
    void SetUp() override { run("mkdir -p " + scratch); }
};

}  // namespace

TEST_F(SampleFiles, PcmMatchesSox) {
    if (!have_tool("sox")) GTEST_SKIP() << "sox is not installed (scripts/install-deps.sh)";
    const struct { uint32_t channels, bits; } cases[] = {{1, 8}, {2, 8}, {1, 16}, {2, 16}};
    for (auto c : cases) {
        std::string name = scratch + "/pcm" + std::to_string(c.channels) + "_" + std::to_string(c.bits);
        ASSERT_TRUE(run("sox -n -r 22050 -c " + std::to_string(c.channels) + " -b " + std::to_string(c.bits) + " " + name +
                        ".wav synth 0.05 sine 440 sine 660"));
        ASSERT_TRUE(run("sox " + name + ".wav -t raw " + name + ".raw"));
        std::vector<uint8_t> expected = read_file(name + ".raw");
        SoundSample sample;
        ASSERT_EQ(sample.load_file(wide(name + ".wav").c_str(), 0), 0) << name;
        uint32_t frame_bytes = c.channels * c.bits / 8;
        EXPECT_EQ(sample.length, expected.size() / frame_bytes) << name;
        EXPECT_EQ(sample.eight_bit, c.bits == 8 ? 1 : 0) << name;
        EXPECT_EQ(sample.stereo, c.channels == 2 ? 1 : 0) << name;
        EXPECT_EQ(sample.base_rate, 22050u) << name;
        EXPECT_EQ(std::memcmp(sample.data, expected.data(), expected.size()), 0) << name;
        // The same file from memory, referenced and copied.
        std::vector<uint8_t> whole = read_file(name + ".wav");
        for (uint32_t flags : {0u, 1u}) {
            SoundSample from_memory;
            ASSERT_EQ(from_memory.load_memory(whole.data(), static_cast<uint32_t>(whole.size()), flags), 0) << name;
            EXPECT_EQ(std::memcmp(from_memory.data, expected.data(), expected.size()), 0) << name;
            EXPECT_EQ(from_memory.data >= whole.data() && from_memory.data < whole.data() + whole.size(), flags == 0) << name;
        }
    }
}

TEST_F(SampleFiles, MsAdpcmMatchesSox) {
    if (!have_tool("sox")) GTEST_SKIP() << "sox is not installed (scripts/install-deps.sh)";
    for (uint32_t channels : {1u, 2u}) {
        std::string name = scratch + "/adpcm" + std::to_string(channels);
        write_file(name + "_in.wav", make_wav(channels, 11025, 16, tone(5000, channels)));
        ASSERT_TRUE(run("sox " + name + "_in.wav -e ms-adpcm " + name + ".wav"));
        ASSERT_TRUE(run("sox " + name + ".wav -t raw -e signed-integer -b 16 " + name + ".raw"));
        std::vector<uint8_t> expected = read_file(name + ".raw");
        for (bool from_memory : {false, true}) {
            SoundSample sample;
            std::vector<uint8_t> whole = read_file(name + ".wav");
            int32_t result = from_memory ? sample.load_memory(whole.data(), static_cast<uint32_t>(whole.size()), 0)
                                         : sample.load_file(wide(name + ".wav").c_str(), 0);
            ASSERT_EQ(result, 0) << name;
            EXPECT_EQ(sample.eight_bit, 0);
            // sox stops at the samples the file declares; whole blocks may hold a few more.
            ASSERT_GE(sample.length * channels * 2, expected.size()) << name;
            ASSERT_LT(sample.length * channels * 2 - expected.size(), sample.samples_per_block * channels * 2u) << name;
            std::vector<int16_t> ours = as_samples(sample.data, expected.size() / 2);
            std::vector<int16_t> theirs = as_samples(expected.data(), expected.size() / 2);
            // Each block starts from the two samples stored in its header: those agree
            // exactly. Between them the prediction is rounded toward zero here and down by
            // sox (whose encoder made the file), so the rest may drift by a little.
            uint32_t block_samples = sample.samples_per_block * channels;
            double error = 0, signal = 0;
            int worst = 0;
            for (size_t i = 0; i < theirs.size(); ++i) {
                if (i % block_samples < 2 * channels) {
                    ASSERT_EQ(ours[i], theirs[i]) << name << " header sample " << i;
                }
                double d = double(ours[i]) - theirs[i];
                error += d * d;
                signal += double(theirs[i]) * theirs[i];
                worst = std::max(worst, std::abs(ours[i] - theirs[i]));
            }
            EXPECT_GT(10 * std::log10(signal / std::max(error, 1.0)), 40.0) << name << " (worst difference " << worst << ")";
        }
    }
}

TEST(SampleLoading, MalformedWavesGiveTheirCodes) {
    std::vector<uint8_t> pcm(4000, 0x10);
    std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'a', 'b', 'c', 'd'};
    struct Case { const char* name; std::vector<uint8_t> bytes; int32_t result; uint32_t length; };
    std::vector<Case> cases = {
        {"16-bit stereo of 4000 bytes", make_wav(2, 8000, 16, pcm), 0, 1000},
        {"8-bit mono after a LIST chunk", make_wav(1, 8000, 8, pcm, list), 0, 4000},
        {"4-bit with tag 1", make_wav(1, 8000, 4, pcm), -100, 0},
        {"12 bits", make_wav(1, 8000, 12, pcm), -100, 0},
        {"3 channels", make_wav(3, 8000, 16, pcm), -100, 0},
        {"rate 0", make_wav(1, 0, 16, pcm), -100, 0},
        {"empty data", make_wav(1, 8000, 16, {}), -300, 0},
        {"ten bytes", std::vector<uint8_t>(10, 'R'), -300, 0},
    };
    Case no_data = {"no data chunk", make_wav(1, 8000, 16, {}), -300, 0};
    no_data.bytes.resize(36);
    cases.push_back(no_data);
    Case data_cut = {"data cut short", make_wav(1, 8000, 8, pcm), 0, 1000};
    data_cut.bytes.resize(44 + 1000);
    cases.push_back(data_cut);
    Case wrong_id = {"no fmt chunk", make_wav(1, 8000, 8, pcm), -300, 0};
    wrong_id.bytes[12] = 'x';
    cases.push_back(wrong_id);
    // Every truncation of a good file fails cleanly or loads what is there.
    std::vector<uint8_t> good = make_wav(1, 8000, 16, pcm, list);
    run("mkdir -p " + scratch);
    for (const Case& c : cases) {
        SoundSample sample;
        EXPECT_EQ(sample.load_memory(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), 1), c.result) << c.name;
        EXPECT_EQ(sample.length, c.length) << c.name;
        EXPECT_EQ(sample.kind, c.result == 0 ? 1u : 0u) << c.name;
        std::string path = scratch + "/case.wav";
        write_file(path, c.bytes);
        SoundSample from_file;
        EXPECT_EQ(from_file.load_file(wide(path).c_str(), 0), c.result) << c.name << " (file)";
    }
    for (size_t size = 0; size < good.size(); size += 7) {
        SoundSample sample;
        std::vector<uint8_t> cut(good.begin(), good.begin() + size);
        int32_t result = sample.load_memory(cut.empty() ? nullptr : cut.data(), static_cast<uint32_t>(size), 1);
        EXPECT_TRUE(result == 0 || result == -300 || result == -10 || result == -100) << "size " << size;
    }
    SoundSample sample;
    EXPECT_EQ(sample.load_file(u"/nonexistent/zrk/missing.wav", 0), -200);
}

TEST(SampleLoading, AdpcmHeadersAreChecked) {
    // 256-byte blocks of 500 samples, mono: 1000 bytes give 3 whole blocks.
    auto adpcm = [](uint16_t block_align, uint16_t per_block, uint16_t coefficient_count, uint32_t data_size) {
        std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
        put32(b, 50);
        put16(b, 2); put16(b, 1); put32(b, 8000); put32(b, 4000); put16(b, block_align); put16(b, 4);
        put16(b, 32); put16(b, per_block); put16(b, coefficient_count);
        const int16_t pairs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
        for (auto& p : pairs) { put16(b, static_cast<uint16_t>(p[0])); put16(b, static_cast<uint16_t>(p[1])); }
        for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
        put32(b, data_size);
        for (uint32_t i = 0; i < data_size; ++i) b.push_back(static_cast<uint8_t>(i % 251 == 0 ? 9 : i * 37));
        return b;
    };
    const struct { const char* name; uint16_t align, per_block, coefficients; int32_t result; uint32_t length; } cases[] = {
        {"three whole blocks", 256, 500, 7, 0, 1500},
        {"six coefficients", 256, 500, 6, -100, 0},
        {"block align 0", 0, 500, 7, -100, 0},
        {"block smaller than its header", 6, 2, 7, -100, 0},
        {"more samples than the block holds", 256, 501, 7, -100, 0},
        {"one sample per block", 256, 1, 7, -100, 0},
    };
    for (auto c : cases) {
        std::vector<uint8_t> bytes = adpcm(c.align, c.per_block, c.coefficients, 1000);
        SoundSample sample;
        EXPECT_EQ(sample.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0), c.result) << c.name;
        EXPECT_EQ(sample.length, c.length) << c.name;
    }
}

namespace {

std::vector<std::string> ogg_files() {
    std::vector<std::string> found;
    for (const char* name : {"bell.oga", "complete.oga", "message.oga"}) {
        std::string path = std::string("/usr/share/sounds/freedesktop/stereo/") + name;
        if (std::ifstream(path).good()) found.push_back(path);
    }
    return found;
}

// Tremor called directly on the file: the whole decoded PCM.
std::vector<uint8_t> tremor_decode(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    OggVorbis_File file;
    if (f == nullptr || ov_open(f, &file, nullptr, 0) < 0) return out;
    char buffer[4096];
    int bitstream = 0;
    for (;;) {
        long n = ov_read(&file, buffer, sizeof buffer, &bitstream);
        if (n == OV_HOLE) continue;
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    ov_clear(&file);
    return out;
}

}  // namespace

TEST(OggSamples, DecodedWholeMatchesTremorAndOggdec) {
    std::vector<std::string> files = ogg_files();
    if (files.empty()) GTEST_SKIP() << "no Ogg files: install sound-theme-freedesktop (scripts/install-deps.sh)";
    run("mkdir -p " + scratch);
    for (const std::string& path : files) {
        SoundSample sample;
        ASSERT_EQ(sample.load_file(wide(path).c_str(), load_decode_whole), 0) << path;
        EXPECT_EQ(sample.kind, 1u);
        std::vector<uint8_t> expected = tremor_decode(path);
        uint32_t frame_bytes = sample.stereo ? 4 : 2;
        ASSERT_EQ(uint64_t{sample.length} * frame_bytes, expected.size()) << path;
        EXPECT_EQ(std::memcmp(sample.data, expected.data(), expected.size()), 0) << path;
        if (!have_tool("oggdec")) continue;
        std::string raw = scratch + "/oggdec.raw";
        ASSERT_TRUE(run("oggdec -Q -R -o " + raw + " " + path));
        std::vector<uint8_t> floating = read_file(raw);
        ASSERT_EQ(floating.size(), expected.size()) << path;
        std::vector<int16_t> a = as_samples(sample.data, expected.size() / 2), b = as_samples(floating.data(), floating.size() / 2);
        int worst = 0;
        for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LE(worst, 64) << path << ": integer and floating decoders differ too much";
    }
}

TEST(OggSamples, RefusedAndCorruptStreams) {
    if (!have_tool("oggenc") || !have_tool("sox")) GTEST_SKIP() << "oggenc or sox missing (scripts/install-deps.sh)";
    run("mkdir -p " + scratch);
    std::string three = scratch + "/three.ogg";
    write_file(scratch + "/three.wav", make_wav(3, 8000, 16, tone(4000, 3)));
    ASSERT_TRUE(run("oggenc -Q -o " + three + " " + scratch + "/three.wav"));
    SoundSample sample;
    EXPECT_EQ(sample.load_file(wide(three).c_str(), 0), -300) << "three channels fall back to the WAV loader";
    std::vector<uint8_t> bytes = read_file(three);
    EXPECT_EQ(sample.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0), -300);
    EXPECT_EQ(sample.kind, 0u);
    // Truncated and damaged streams load or fail, never crash.
    std::string mono = scratch + "/mono.ogg";
    write_file(scratch + "/mono.wav", make_wav(1, 8000, 16, tone(8000, 1)));
    ASSERT_TRUE(run("oggenc -Q -o " + mono + " " + scratch + "/mono.wav"));
    std::vector<uint8_t> good = read_file(mono);
    for (size_t size = 1; size < good.size(); size += good.size() / 23 + 1) {
        for (uint32_t flags : {0u, 2u}) {
            std::vector<uint8_t> cut(good.begin(), good.begin() + size);
            if (size > 200) cut[size / 2] ^= 0x5A;
            SoundSample damaged;
            int32_t result = damaged.load_memory(cut.data(), static_cast<uint32_t>(cut.size()), flags | load_copy);
            EXPECT_TRUE(result == 0 || result == -300 || result == -100) << "size " << size << " result " << result;
        }
    }
}

TEST(SampleVoices, ChoosingLimitsAndStreamedVoices) {
    SoundSystem system;
    system.prepare_tables(44100, true, true);
    ASSERT_EQ(system.create_voices(2, 8), 0);
    system.initialised = 1;
    std::vector<uint8_t> bytes = make_wav(1, 8000, 16, tone(1000, 1));
    SoundSample sample;
    ASSERT_EQ(sample.load_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), 0), 0);
    sample.set_instance_limit(2);
    EXPECT_EQ(system.play_sample(&sample, play_any_voice), 9);   // limited: the last free voice
    EXPECT_EQ(system.play_sample(&sample, play_any_voice), 8);
    EXPECT_EQ(system.play_sample(&sample, play_any_voice), -1000);
    sample.set_instance_limit(-1);
    EXPECT_EQ(system.play_sample(&sample, play_any_voice), 2);   // 2 players, then voice 0
    EXPECT_EQ(system.play_sample(&sample, 0), -1000);            // voice 0 is busy
    EXPECT_EQ(system.play_sample(&sample, 100), -1000);
    EXPECT_EQ(system.voice_lookup(10), nullptr);
    EXPECT_EQ(system.voice_lookup(-1), nullptr);
    SampleVoice& voice = system.sample_voices[0];
    EXPECT_EQ(voice.get_length(), 1000 / 2);     // 16-bit mono positions count in pairs of frames
    voice.set_position(100);
    EXPECT_EQ(voice.read_index, uint64_t{100} << 9);
    voice.set_position(501);                      // past the end: ignored
    EXPECT_EQ(voice.get_position(), 100);
    voice.set_frequency(70000);                   // 64-bit pitch arithmetic
    EXPECT_EQ(voice.get_pitch(), ((uint64_t{70000} << 16) / 8000) >> 9);
    // A looping voice that stepped far past the end wraps modulo its length.
    voice.position = voice.end_position * 3 + 256 * 7;
    EXPECT_TRUE(voice.restart_loop());
    EXPECT_EQ(voice.position, 256u * 7);

    std::vector<std::string> files = ogg_files();
    if (files.empty()) GTEST_SKIP() << "no Ogg files: install sound-theme-freedesktop (scripts/install-deps.sh)";
    SoundSample streamed;
    ASSERT_EQ(streamed.load_file(wide(files[1]).c_str(), 0), 0);
    EXPECT_EQ(streamed.kind, 2u);
    std::vector<uint8_t> expected = tremor_decode(files[1]);
    int first = system.play_sample(&streamed, play_any_voice);
    int second = system.play_sample(&streamed, play_any_voice);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    auto* a = static_cast<SampleVoice*>(system.voice_lookup(first));
    auto* b = static_cast<SampleVoice*>(system.voice_lookup(second));
    // Alternate refills: each voice sees its own consecutive PCM.
    std::vector<uint8_t> got_a, got_b;
    for (int i = 0; i < 40; ++i) {
        for (auto [voice_of, out] : {std::pair{a, &got_a}, std::pair{b, &got_b}}) {
            if (voice_of->decode_stream(no_position) != 0) continue;
            uint64_t bytes_now = voice_of->decoded_length / 128 * (voice_of->stereo ? 2 : 1);
            out->insert(out->end(), voice_of->data, voice_of->data + bytes_now);
        }
    }
    ASSERT_GT(got_a.size(), 4096u);
    EXPECT_EQ(got_a, got_b);
    EXPECT_EQ(std::memcmp(got_a.data(), expected.data(), got_a.size()), 0);
    // Seeking a streamed voice lands on the frame asked for.
    ASSERT_EQ(a->decode_stream(uint64_t{1000} << 8), 0);
    EXPECT_EQ(a->position, uint64_t{1000} << 8);
    EXPECT_EQ(std::memcmp(a->data, expected.data() + 1000 * 4, 64), 0);
    a->stop();
    EXPECT_EQ(a->decoder, nullptr);
}
