// Sound samples: RIFF WAVE (8/16-bit PCM, Microsoft ADPCM) and Ogg Vorbis, in memory or
// streamed.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"
#include "sound/streams.h"

namespace sound {

enum SampleKind : uint32_t { sample_empty = 0, sample_in_memory = 1, sample_ogg_stream = 2 };

// Load flags: copy the caller's block; decode an Ogg Vorbis sample whole into memory.
constexpr uint32_t load_copy = 1;
constexpr uint32_t load_decode_whole = 2;

struct AdpcmChannelState {
    uint8_t predictor;
    int32_t delta;
    int16_t sample1;
    int16_t sample2;
};

class SoundSample {
public:
    SoundSample() = default;
    virtual ~SoundSample();
    SoundSample(const SoundSample&) = delete;
    SoundSample& operator=(const SoundSample&) = delete;

    // Ogg Vorbis first, then WAV; the WAV loader's code when both fail. 0 on success;
    // -200 not found, -300 malformed, -100 unsupported, -10 memory.
    int32_t load_file(const WCHAR* path, uint32_t flags);
    int32_t load_memory(const void* block, uint32_t size, uint32_t flags);
    // Loads the "WAVE" resource numbered id of a module (null: the running program), as
    // load_memory does with its bytes. -200 when there is no such resource.
    int32_t load_resource(HMODULE module, uint32_t id, uint32_t flags);
    // Closes the stream, frees owned data; the sample becomes empty.
    void unload();

    void set_volume(uint32_t value) { volume = value > 64 ? 64 : value; }
    uint32_t get_volume() const { return volume; }
    void set_frequency(uint32_t hertz);
    uint32_t get_frequency() const { return frequency; }
    void set_loop(uint8_t value) { loop = value; }
    uint8_t get_loop() const { return loop; }
    void set_pan(uint32_t value) { pan = value > 255 ? 255 : value; }
    uint32_t get_pan() const { return pan; }
    void set_instance_limit(int32_t value) { instance_limit = value; }
    int32_t get_instance_limit() const { return instance_limit; }

    uint8_t* data = nullptr;
    uint8_t eight_bit = 1;
    uint8_t stereo = 0;
    uint32_t base_rate = 0;
    uint32_t length = 0;            // frames
    uint32_t volume = 64;
    uint8_t loop = 0;
    uint32_t pan = 128;
    int32_t instance_limit = -1;
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t average_bytes_per_second = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    uint16_t samples_per_block = 0;
    uint16_t coefficient_count = 0;
    int16_t coefficients[7][2] = {};
    AdpcmChannelState adpcm[2] = {};
    uint32_t frequency = 1;
    uint32_t pitch = 128;
    uint32_t kind = sample_empty;
    StreamSource* stream = nullptr;
    uint32_t owns_data = 0;

private:
    int32_t load_ogg_file(const WCHAR* path, uint32_t flags);
    int32_t load_ogg_memory(const void* block, uint32_t size, uint32_t flags);
    int32_t finish_ogg(uint32_t flags, uint8_t* owned_block);
    int32_t load_wav_file(const WCHAR* path);
    int32_t load_wav_memory(const void* block, uint32_t size, uint32_t flags);
    int32_t check_format(const uint8_t* format, uint32_t format_size);
    int32_t take_pcm(const uint8_t* bytes, uint32_t size, bool copy, uint8_t* owned);
    int32_t decode_adpcm(const uint8_t* bytes, uint32_t size);
    void finish_wav();
};

}  // namespace sound
